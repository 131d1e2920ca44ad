"""EXTRACT.EXE under Wine: nested folders and blanks, damaged cabinets,
names that would leave the destination, and the command line."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

import winetest  # noqa: E402

EXTRACT = os.environ.get("VELLUM_EXTRACT_EXE", "")


def make_cabinet(path, files):
    """A cabinet (MSZIP) of {relative path: bytes}, made with gcab."""
    stage = tempfile.mkdtemp(prefix="cabsrc-")
    try:
        for rel, data in files.items():
            p = os.path.join(stage, *rel.split("/"))
            os.makedirs(os.path.dirname(p), exist_ok=True)
            with open(p, "wb") as f:
                f.write(data)
        subprocess.run(["gcab", "-c", "-z", path] + sorted(files), cwd=stage, check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
    finally:
        shutil.rmtree(stage)


def tree(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(base, n)
            with open(p, "rb") as f:
                out[os.path.relpath(p, folder).replace(os.sep, "/")] = f.read()
    return out


CONTENT = {
    "package_description.xml": b"<contentPackage/>\r\n",
    "locales/en-us/desktops/Heron/Windows XP Home/index.htm": b"<html>home</html>",
    "locales/en-us/desktops/Heron/Windows XP Home/images/picture 01.bmp": os.urandom(70000),
    "locales/en-us/styles/help.css": b"body {}",
    "a/b/c/d/e/deep.txt": b"deep",
}


@unittest.skipUnless(EXTRACT and os.path.isfile(EXTRACT) and shutil.which("gcab"),
                     "EXTRACT.EXE or gcab missing")
class ExtractTest(unittest.TestCase):
    # Each run ends by itself or is killed at its time-out; no window, no
    # inspector needed.
    @classmethod
    def setUpClass(cls):
        winetest.setup()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="extract-")
        self.wtmp = winetest.to_windows(self.tmp)
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def extract(self, *args):
        return winetest.run(EXTRACT, list(args), timeout=120)

    def test_extracts_nested_folders_and_names_with_blanks(self):
        cab = os.path.join(self.tmp, "en-us_desktops_Heron_Windows XP Home.cab")
        make_cabinet(cab, CONTENT)
        dest = os.path.join(self.tmp, "Program Files", "Quill feather")  # created, two levels
        res = self.extract("/Y", "/E", "/L", winetest.to_windows(dest), winetest.to_windows(cab))
        self.assertEqual(res.code, 0, res.stderr)
        self.assertEqual(tree(dest), CONTENT)
        # Again without /Y: existing files are not silently replaced.
        res = self.extract("/L", winetest.to_windows(dest), winetest.to_windows(cab))
        self.assertEqual(res.code, 3)
        self.assertIn("exists already", res.stderr)
        res = self.extract("/Y", "/L", winetest.to_windows(dest), winetest.to_windows(cab))
        self.assertEqual(res.code, 0, res.stderr)
        # /D lists the members and writes nothing.
        res = self.extract("/D", winetest.to_windows(cab))
        self.assertEqual(res.code, 0, res.stderr)
        self.assertIn("Windows XP Home\\images\\picture 01.bmp", res.stdout)

    def test_damaged_or_missing_cabinet_fails(self):
        cab = os.path.join(self.tmp, "good.cab")
        make_cabinet(cab, CONTENT)
        with open(cab, "rb") as f:
            data = f.read()
        cases = {
            "truncated.cab": data[:len(data) // 2],
            "not-a-cab.cab": b"MZ this is not a cabinet" * 100,
            # One changed byte in the stored data of the last block: the
            # cabinet functions of Wine do not check block checksums.
            "garbled.cab": data[:-1500] + bytes([data[-1500] ^ 0x01]) + data[-1499:],
        }
        for name, content in cases.items():
            path = os.path.join(self.tmp, name)
            with open(path, "wb") as f:
                f.write(content)
            res = self.extract("/Y", "/L", winetest.to_windows(os.path.join(self.tmp, "out-" + name)),
                               winetest.to_windows(path))
            self.assertEqual(res.code, 2, (name, res.stderr))
            self.assertIn("EXTRACT:", res.stderr)
        res = self.extract("/Y", "/L", self.wtmp, winetest.to_windows(os.path.join(self.tmp, "none.cab")))
        self.assertEqual(res.code, 2)
        self.assertIn("does not exist", res.stderr)

    def test_names_outside_the_destination_are_refused(self):
        # Member names are stored as plain text in the cabinet's file table:
        # rename "zz" to ".." after the fact to get a cabinet that climbs.
        cab = os.path.join(self.tmp, "evil.cab")
        make_cabinet(cab, {"zz/escape.txt": b"x", "aa.txt": b"y"})
        with open(cab, "rb") as f:
            data = f.read()
        self.assertEqual(data.count(b"zz\\escape.txt"), 1)
        with open(cab, "wb") as f:
            f.write(data.replace(b"zz\\escape.txt", b"..\\escape.txt"))
        dest = os.path.join(self.tmp, "inside")
        res = self.extract("/Y", "/L", winetest.to_windows(dest), winetest.to_windows(cab))
        self.assertEqual(res.code, 4, res.stderr)
        self.assertIn("outside the destination", res.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "escape.txt")))

    def test_unwritable_destination_and_usage_errors(self):
        cab = os.path.join(self.tmp, "c.cab")
        make_cabinet(cab, {"sub/file.txt": b"data"})
        dest = os.path.join(self.tmp, "dest")
        # A folder where a file must go (Wine lets root write read-only files).
        os.makedirs(os.path.join(dest, "sub", "file.txt"))
        res = self.extract("/Y", "/L", winetest.to_windows(dest), winetest.to_windows(cab))
        self.assertEqual(res.code, 3, res.stderr)
        self.assertEqual(self.extract("/L").code, 1)
        self.assertEqual(self.extract("/Q", winetest.to_windows(cab)).code, 1)
        self.assertEqual(self.extract(winetest.to_windows(cab), winetest.to_windows(cab)).code, 1)
        res = self.extract("/?")
        self.assertEqual(res.code, 0)
        self.assertIn("EXTRACT [/Y] [/E] [/L folder] cabinet", res.stdout)


if __name__ == "__main__":
    unittest.main()
