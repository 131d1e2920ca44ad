"""EXTRACT.EXE under Wine: nested folders and blanks, damaged cabinets,
names that would leave the destination, the command line, whole plans of
cabinets with their listing and progress records, comparison and update."""
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
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
        self.assertEqual(self.extract("/C", "/U", winetest.to_windows(cab)).code, 1)
        res = self.extract("/?")
        self.assertEqual(res.code, 0)
        self.assertIn("EXTRACT [/Y] [/E] [/L folder] [/O listing] [/P progress] cabinet...", res.stdout)



def read_listing(path):
    """The listing file: [(status, number, path)]."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"\xff\xfe", data[:8]
    lines = data[2:].decode("utf-16-le").split("\r\n")
    assert lines[-1] == "", lines[-3:]
    return [tuple(l.split("\t")) for l in lines[:-1]]


def read_progress(path):
    with open(path, "rb") as f:
        return f.read().decode("ascii").split()


# Three cabinets as an installation has them: the shared one, a locale, and
# one whose file replaces the shared one's of the same name.
PLAN = [
    ("common.cab", {"package_description.xml": b"<contentPackage/>\r\n", "VellumSetup.jse": b"old script",
                    "styles/help.css": b"body {}"}),
    ("en-us.cab", {"locales/en-us/index.htm": b"<html>en</html>",
                   "locales/en-us/images/big.bmp": os.urandom(1500000)}),  # past one megabyte
    ("fix.cab", {"vellumsetup.JSE": b"new script"}),
]


@unittest.skipUnless(EXTRACT and os.path.isfile(EXTRACT) and shutil.which("gcab"),
                     "EXTRACT.EXE or gcab missing")
class PlanTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        winetest.setup()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="extract-plan-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.cabs = []
        for name, files in PLAN:
            path = os.path.join(self.tmp, "cabs", name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            make_cabinet(path, files)
            self.cabs.append(path)
        self.expected = {}
        for _, files in PLAN:
            for rel, data in files.items():
                for old in [k for k in self.expected if k.lower() == rel.lower()]:
                    del self.expected[old]
                self.expected[rel] = data
        self.listing = os.path.join(self.tmp, "listing.txt")
        self.progress = os.path.join(self.tmp, "progress.txt")

    def w(self, path):
        return winetest.to_windows(path)

    def extract(self, *args):
        return winetest.run(EXTRACT, list(args), timeout=120)

    def write_plan(self, cabs):
        plan = os.path.join(self.tmp, "plan.txt")
        with open(plan, "wb") as f:  # as the script host writes it: UTF-16 with its mark
            f.write(b"\xff\xfe" + "".join(self.w(c) + "\r\n" for c in cabs).encode("utf-16-le"))
        return "@" + self.w(plan)

    def test_a_plan_in_one_run_with_its_listing_and_progress(self):
        dest = os.path.join(self.tmp, "Quill feather.VellumStaging")
        res = self.extract("/E", "/L", self.w(dest), "/O", self.w(self.listing), "/P", self.w(self.progress),
                           self.w(self.cabs[0]), self.write_plan(self.cabs[1:]))
        self.assertEqual((res.code, res.stdout, res.stderr), (0, "", ""))
        # A later cabinet's file replaces the earlier one's; the name it lands
        # under is the later one's (the earlier one is never written).
        got = tree(dest)
        self.assertEqual({k.lower(): v for k, v in got.items()}, {k.lower(): v for k, v in self.expected.items()})
        self.assertIn("vellumsetup.JSE", got)
        listing = read_listing(self.listing)
        self.assertEqual(listing[0], ("cabinet", "0", self.w(self.cabs[0])))
        self.assertEqual(listing[-1], ("end", "0", ""))
        files = {p.replace("\\", "/"): int(n) for s, n, p in listing if s == "file"}
        self.assertEqual(files, {k: len(v) for k, v in got.items()})
        self.assertEqual([s for s, _, _ in listing].count("cabinet"), 3)
        total = sum(len(v) for v in self.expected.values())
        self.assertEqual(read_progress(self.progress), ["end", str(total), str(total), "3", "3", "0"])
        self.assertEqual([n for n in os.listdir(self.tmp) if n.startswith("~vx")], [])
        # The same plan listed: every member of every cabinet, into the file only.
        res = self.extract("/D", "/O", self.w(self.listing), self.write_plan(self.cabs))
        self.assertEqual((res.code, res.stdout), (0, ""))
        self.assertEqual(len([l for l in read_listing(self.listing) if l[0] == "file"]), 6)

    def test_copies_of_the_cabinets_beside_what_they_hold(self):
        dest = os.path.join(self.tmp, "staging")
        kept = "VellumMaintenance\\cabinets"
        res = self.extract("/Y", "/L", self.w(dest), "/A", kept, "/O", self.w(self.listing),
                           self.write_plan(self.cabs))
        self.assertEqual((res.code, res.stderr), (0, ""))
        got = tree(dest)
        for cab in self.cabs:
            with open(cab, "rb") as f:
                self.assertEqual(got.pop("VellumMaintenance/cabinets/" + os.path.basename(cab)), f.read())
        self.assertEqual({k.lower(): v for k, v in got.items()}, {k.lower(): v for k, v in self.expected.items()})
        copies = [l for l in read_listing(self.listing) if l[0] == "copy"]
        self.assertEqual(copies, [("copy", str(os.path.getsize(c)), kept + "\\" + os.path.basename(c))
                                  for c in self.cabs])
        # Without /Y an existing copy stops the run; a folder in a copy's place always does.
        other = os.path.join(self.tmp, "other", "VellumMaintenance", "cabinets", "common.cab")
        os.makedirs(os.path.dirname(other))
        with open(other, "wb") as f:
            f.write(b"the user's")
        res = self.extract("/L", self.w(os.path.join(self.tmp, "other")), "/A", kept, "/O", self.w(self.listing),
                           self.w(self.cabs[0]))
        self.assertEqual(res.code, 3)
        self.assertIn("exists already", read_listing(self.listing)[-1][2])
        with open(other, "rb") as f:
            self.assertEqual(f.read(), b"the user's")
        os.remove(os.path.join(dest, kept.replace("\\", "/"), "fix.cab"))
        os.makedirs(os.path.join(dest, kept.replace("\\", "/"), "fix.cab"))
        res = self.extract("/Y", "/L", self.w(dest), "/A", kept, "/O", self.w(self.listing),
                           self.write_plan(self.cabs))
        self.assertEqual(res.code, 23, res.stderr)  # written: 3, the third cabinet
        self.assertIn("is a folder", read_listing(self.listing)[-1][2])
        # Only with an extraction, and only inside the destination.
        for args in (["/A", "..\\outside"], ["/A", "C:\\kept"], ["/D", "/A", kept]):
            res = self.extract(*(args + ["/L", self.w(dest), self.w(self.cabs[0])]))
            self.assertEqual(res.code, 1, args)
            self.assertIn("/A", res.stdout + res.stderr)

    def test_a_file_copied_with_the_digest_of_the_bytes_copied(self):
        import hashlib
        dest = os.path.join(self.tmp, "staging")
        text = "version\t3.0.6\r\nfile\t5\t\u00e9t\u00e9.htm\r\n".encode("utf-16-le")
        manifest = os.path.join(self.tmp, "Earlier", "VellumMaintenance", "manifest.txt")
        os.makedirs(os.path.dirname(manifest))
        with open(manifest, "wb") as f:
            f.write(b"\xff\xfe" + text)
        copy = os.path.join(self.tmp, "setup.manifest")
        res = self.extract("/Y", "/L", self.w(dest), "/O", self.w(self.listing), "/M", self.w(manifest),
                           self.w(copy), self.write_plan(self.cabs))
        self.assertEqual((res.code, res.stderr), (0, ""))
        with open(copy, "rb") as f:
            self.assertEqual(f.read(), b"\xff\xfe" + text)
        listing = read_listing(self.listing)
        # The digest the script keeps: the text's bytes without the mark.
        self.assertIn(("digest", str(len(text) + 2), hashlib.sha256(text).hexdigest()), listing)
        self.assertEqual(listing[-1], ("end", "0", ""))
        # A file that cannot be read has no digest line and no copy; the extraction stands.
        os.remove(copy)
        res = self.extract("/Y", "/L", self.w(dest), "/O", self.w(self.listing), "/M",
                           self.w(manifest + ".missing"), self.w(copy), self.write_plan(self.cabs))
        self.assertEqual(res.code, 0, res.stderr)
        self.assertEqual([l for l in read_listing(self.listing) if l[0] == "digest"], [])
        self.assertFalse(os.path.exists(copy))
        # A copy that cannot be written fails the run (a folder in its place).
        os.makedirs(copy)
        res = self.extract("/Y", "/L", self.w(dest), "/O", self.w(self.listing), "/M", self.w(manifest),
                           self.w(copy), self.write_plan(self.cabs))
        self.assertEqual(res.code % 10, 3, res.stderr)
        self.assertIn("could not be written", read_listing(self.listing)[-1][2])
        # Only with an extraction and its listing, and never into the listing itself.
        for args in (["/O", self.w(self.listing), "/M", self.w(manifest), self.w(self.listing)],
                     ["/M", self.w(manifest), self.w(copy + "2")],
                     ["/D", "/O", self.w(self.listing), "/M", self.w(manifest), self.w(copy + "2")]):
            res = self.extract(*(args + [self.w(self.cabs[0])]))
            self.assertEqual(res.code, 1, args)
            self.assertIn("/M", res.stdout + res.stderr)

    def test_a_failing_cabinet_is_named_and_nothing_is_written(self):
        # Damaged data in the last cabinet; an unsafe name in the second.
        with open(self.cabs[2], "rb") as f:
            data = bytearray(f.read())
        data[-3] ^= 1
        with open(self.cabs[2], "wb") as f:
            f.write(data)
        dest = os.path.join(self.tmp, "dest")
        res = self.extract("/L", self.w(dest), "/O", self.w(self.listing), "/P", self.w(self.progress),
                           self.write_plan(self.cabs))
        self.assertEqual(res.code, 2 + 10 * 2, res.stderr)
        self.assertIn("cabinet 3 of 3, " + self.w(self.cabs[2]), res.stderr)
        self.assertFalse(os.path.exists(dest))  # checked before the first file, the folder included
        self.assertEqual(read_listing(self.listing)[-1][:2], ("end", "22"))
        self.assertIn("damaged", read_listing(self.listing)[-1][2])
        self.assertEqual(read_progress(self.progress)[0], "end")
        self.assertEqual(read_progress(self.progress)[-1], "22")

        evil = os.path.join(self.tmp, "evil.cab")
        make_cabinet(evil, {"zz/x.txt": b"x"})
        with open(evil, "rb") as f:
            data = f.read()
        with open(evil, "wb") as f:
            f.write(data.replace(b"zz\\x.txt", b"..\\x.txt"))
        res = self.extract("/L", self.w(dest), self.w(self.cabs[0]), self.w(evil), self.w(self.cabs[1]))
        self.assertEqual(res.code, 4 + 10, res.stderr)
        self.assertIn("outside the destination", res.stderr)
        self.assertFalse(os.path.exists(dest))

        # A file in the way without /Y, and a missing cabinet, are found before any write too.
        os.makedirs(dest)
        with open(os.path.join(dest, "VellumSetup.jse"), "wb") as f:
            f.write(b"mine")
        res = self.extract("/L", self.w(dest), self.w(self.cabs[0]), self.w(self.cabs[1]))
        self.assertEqual(res.code, 3, res.stderr)
        self.assertEqual(tree(dest), {"VellumSetup.jse": b"mine"})
        res = self.extract("/Y", "/L", self.w(dest), self.w(self.cabs[0]), self.w(self.tmp + "/none.cab"))
        self.assertEqual(res.code, 12, res.stderr)
        self.assertEqual(tree(dest), {"VellumSetup.jse": b"mine"})
        # A plan file that is missing, or names nothing: a usage error.
        self.assertEqual(self.extract("/L", self.w(dest), "@" + self.w(self.tmp + "/noplan.txt")).code, 1)
        self.assertEqual(self.extract("/L", self.w(dest), self.write_plan([])).code, 1)
        # The progress record cannot be written (a folder in its place): nothing is done.
        os.remove(self.progress)
        os.makedirs(self.progress)
        res = self.extract("/Y", "/L", self.w(dest), "/P", self.w(self.progress), self.w(self.cabs[0]))
        self.assertEqual(res.code, 3, res.stderr)
        self.assertEqual(tree(dest), {"VellumSetup.jse": b"mine"})

    def test_compare_reports_and_update_restores_only_what_differs(self):
        dest = os.path.join(self.tmp, "installed")
        plan = self.write_plan(self.cabs)
        self.assertEqual(self.extract("/L", self.w(dest), plan).code, 0)
        os.remove(os.path.join(dest, "styles", "help.css"))                  # missing
        with open(os.path.join(dest, "locales/en-us/index.htm"), "ab") as f:  # size
            f.write(b"!")
        big = os.path.join(dest, "locales/en-us/images/big.bmp")
        with open(big, "r+b") as f:                                           # same size, one byte
            f.seek(1400000)
            b = f.read(1)
            f.seek(1400000)
            f.write(bytes([b[0] ^ 0x80]))
        with open(os.path.join(dest, "mine.txt"), "wb") as f:               # the user's own
            f.write(b"mine")
        untouched = os.path.join(dest, "package_description.xml")
        os.utime(untouched, (1000000000, 1000000000))
        before = tree(dest)

        res = self.extract("/C", "/L", self.w(dest), "/O", self.w(self.listing), "/P", self.w(self.progress), plan)
        self.assertEqual(res.code, 0, res.stderr)
        self.assertEqual(tree(dest), before)  # a comparison writes nothing
        found = {p.replace("\\", "/"): s for s, _, p in read_listing(self.listing) if s not in ("cabinet", "end")}
        self.assertEqual(found, {"package_description.xml": "same", "styles/help.css": "missing",
                                 "locales/en-us/index.htm": "size", "locales/en-us/images/big.bmp": "changed",
                                 "vellumsetup.JSE": "same"})
        self.assertEqual(read_progress(self.progress)[0], "end")

        res = self.extract("/U", "/L", self.w(dest), "/O", self.w(self.listing), plan)
        self.assertEqual(res.code, 0, res.stderr)
        self.assertEqual(tree(dest), dict(self.expected, **{"mine.txt": b"mine"}))
        self.assertEqual(os.stat(untouched).st_mtime, 1000000000)  # same files are not rewritten
        self.assertEqual(read_listing(self.listing)[-1], ("end", "0", ""))
        res = self.extract("/C", "/L", self.w(dest), "/O", self.w(self.listing), plan)
        self.assertEqual({s for s, _, _ in read_listing(self.listing)}, {"cabinet", "same", "end"})

    def test_a_full_disk_names_the_cabinet_and_leaves_no_partial_file(self):
        with small_disk(self, "size=1m") as disk:
            dest = os.path.join(disk, "staging")
            res = self.extract("/L", self.w(dest), "/O", self.w(self.listing), self.write_plan(self.cabs))
            self.assertEqual(res.code, 3 + 10, res.stderr)
            self.assertIn("cabinet 2 of 3", res.stderr)
            # The first cabinet's files stay (its script is the last cabinet's
            # to write); the picture that did not fit left no partial file.
            self.assertEqual(tree(dest), {"package_description.xml": PLAN[0][1]["package_description.xml"],
                                          "styles/help.css": b"body {}"})
            listing = read_listing(self.listing)
            self.assertEqual(sorted(p for s, _, p in listing if s == "file"),
                             ["package_description.xml", "styles\\help.css"])
            self.assertEqual(listing[-1][:2], ("end", "13"))


@unittest.skipUnless(EXTRACT and os.path.isfile(EXTRACT), "EXTRACT.EXE missing")
class TreeTest(unittest.TestCase):
    """/T: the folder listing the installation script reads instead of the
    command interpreter's."""

    @classmethod
    def setUpClass(cls):
        winetest.setup()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="extract-tree-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_lists_the_tree_with_sizes_and_ends_it(self):
        root = os.path.join(self.tmp, "Quill 100% feather")
        files = {"b.txt": b"bb", "A.txt": b"a", "sub/\u00e9t\u00e9 \u65e5.htm": b"x" * 70000, "sub/deep/z.bin": b""}
        for rel, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
            with open(os.path.join(root, rel), "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(root, "empty"))
        outside = os.path.join(self.tmp, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "precious.txt"), "wb") as f:
            f.write(b"p")
        os.symlink(outside, os.path.join(root, "junction"))  # Wine shows it as a reparse point
        listing = os.path.join(self.tmp, "tree.txt")
        res = winetest.run(EXTRACT, ["/T", winetest.to_windows(root) + "\\", "/O", winetest.to_windows(listing)],
                           timeout=120)
        self.assertEqual((res.code, res.stderr), (0, ""))
        self.assertEqual(read_listing(listing), [
            ("file", "1", "A.txt"), ("file", "2", "b.txt"), ("folder", "0", "empty"), ("link", "0", "junction"),
            ("folder", "0", "sub"),
            ("folder", "0", "sub\\deep"), ("file", "70000", "sub\\\u00e9t\u00e9 \u65e5.htm"),
            ("file", "0", "sub\\deep\\z.bin"), ("end", "0", "")])

        # A folder that is missing, a file, or a link: exit 3 and an end line that says so.
        for bad, why in (("missing", "not a folder"), ("A.txt", "not a folder"), ("junction", "link")):
            res = winetest.run(EXTRACT, ["/T", winetest.to_windows(os.path.join(root, bad)),
                                         "/O", winetest.to_windows(listing)], timeout=120)
            self.assertEqual(res.code, 3, res.stderr)
            self.assertEqual(read_listing(listing)[-1][:2], ("end", "3"))
            self.assertIn(why, read_listing(listing)[-1][2])


@unittest.skipUnless(EXTRACT and os.path.isfile(EXTRACT), "EXTRACT.EXE missing")
def holding(test, path):
    """Another program that holds path open (for at most 60 s), once it does."""
    holder = winetest.start(winetest.program("holdfile"), [winetest.to_windows(path), "60"])
    test.addCleanup(holder.kill)
    for _ in range(600):
        if os.path.exists(path + ".held"):
            return holder
        test.assertIsNone(holder.poll(), "holdfile ended before it held the file")
        time.sleep(0.05)
    test.fail("holdfile did not hold " + path + " within 30 s")


class RemovalTest(unittest.TestCase):
    """/R: the uninstall's deletion of an installation's files and empty
    folders in one run, never through a link, the user's files kept."""

    FILES = ["VellumSetup.jse", "locales/en-us/index.htm", "locales/en-us/images/a.bmp", "VellumMaintenance/manifest.txt"]
    FOLDERS = ["locales/en-us/images", "locales/en-us", "locales", "VellumMaintenance"]

    @classmethod
    def setUpClass(cls):
        winetest.setup()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="extract-remove-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.root = os.path.join(self.tmp, "Quill feather")
        for rel in self.FILES:
            os.makedirs(os.path.dirname(os.path.join(self.root, rel)), exist_ok=True)
            with open(os.path.join(self.root, rel), "wb") as f:
                f.write(b"ours")
        self.report = os.path.join(self.tmp, "report.txt")
        self.progress = os.path.join(self.tmp, "progress.txt")

    def remove(self, lines, *extra):
        listfile = os.path.join(self.tmp, "list.txt")
        with open(listfile, "wb") as f:  # as the script host writes it
            f.write(b"\xff\xfe" + "".join(l + "\r\n" for l in lines).encode("utf-16-le"))
        return winetest.run(EXTRACT, ["/R", winetest.to_windows(self.root), "/O", winetest.to_windows(self.report)] +
                            list(extra) + ["@" + winetest.to_windows(listfile)], timeout=120)

    def entries(self, files=None):
        return (["file\t" + f.replace("/", "\\") for f in (files or self.FILES)] +
                ["folder\t" + d.replace("/", "\\") for d in self.FOLDERS])

    def left(self):
        out = []
        for base, dirs, names in os.walk(self.root):
            out += [os.path.relpath(os.path.join(base, n), self.root).replace(os.sep, "/") for n in dirs + names]
        return sorted(out)

    def test_removes_in_order_keeps_the_users_files_and_reports_each(self):
        with open(os.path.join(self.root, "locales", "en-us", "mine.txt"), "wb") as f:
            f.write(b"the user's")
        os.chmod(os.path.join(self.root, "locales", "en-us", "index.htm"), 0o444)  # read-only goes as well
        os.makedirs(os.path.join(self.root, "was a file"))
        res = self.remove(self.entries(self.FILES + ["gone.htm", "was a file"]), "/P", winetest.to_windows(self.progress))
        self.assertEqual((res.code, res.stderr), (0, ""))
        self.assertEqual(self.left(), ["locales", "locales/en-us", "locales/en-us/mine.txt", "was a file"])
        self.assertEqual(read_listing(self.report), [
            ("removed", "0", "VellumSetup.jse"), ("removed", "0", "locales\\en-us\\index.htm"),
            ("removed", "0", "locales\\en-us\\images\\a.bmp"), ("removed", "0", "VellumMaintenance\\manifest.txt"),
            ("missing", "0", "gone.htm"), ("other", "0", "was a file"),
            ("removed", "0", "locales\\en-us\\images"), ("notempty", "0", "locales\\en-us"),
            ("notempty", "0", "locales"), ("removed", "0", "VellumMaintenance"), ("end", "0", "")])
        self.assertEqual(read_progress(self.progress)[:3], ["end", "10", "10"])

    def test_a_link_on_the_way_or_a_path_outside_means_nothing_is_removed(self):
        outside = os.path.join(self.tmp, "outside")
        os.makedirs(os.path.join(outside, "images"))
        with open(os.path.join(outside, "images", "a.bmp"), "wb") as f:
            f.write(b"precious")
        shutil.rmtree(os.path.join(self.root, "locales", "en-us"))
        os.symlink(outside, os.path.join(self.root, "locales", "en-us"))  # Wine shows it as a reparse point
        before = self.left()
        res = self.remove(self.entries())
        self.assertEqual(res.code, 5, res.stderr)
        self.assertEqual(read_listing(self.report), [("link", "0", "locales\\en-us"),
                                                     ("end", "5", "locales\\en-us is a link to another place")])
        self.assertEqual(self.left(), before)
        with open(os.path.join(outside, "images", "a.bmp"), "rb") as f:
            self.assertEqual(f.read(), b"precious")

        for bad in ("..\\outside\\images\\a.bmp", "Z:\\etc\\hostname", "nul.txt"):
            res = self.remove(["file\tVellumSetup.jse", "file\t" + bad])
            self.assertEqual(res.code, 4, res.stderr)
            self.assertEqual(read_listing(self.report)[-1][:2], ("end", "4"))
            self.assertEqual(self.left(), before)

    def test_stops_at_the_first_file_that_cannot_be_deleted(self):
        held = os.path.join(self.root, "locales", "en-us", "index.htm")
        holder = holding(self, held)
        res = self.remove(self.entries())
        holder.kill()
        self.assertEqual(res.code, 3, res.stderr)
        report = read_listing(self.report)
        self.assertEqual(report[:2], [("removed", "0", "VellumSetup.jse"), ("failed", "0", "locales\\en-us\\index.htm")])
        self.assertEqual(report[-1][:2], ("end", "3"))
        self.assertTrue(report[-1][2].startswith("locales\\en-us\\index.htm: "), report[-1])
        self.assertEqual(len(report), 3)
        self.assertTrue(os.path.exists(os.path.join(self.root, "VellumMaintenance", "manifest.txt")))


class RemovalRegistryTest(unittest.TestCase):
    """/R with /K: the uninstall entry and the product's values go in the
    same run, only once every file has gone; a list naming anything else is
    refused whole."""

    ENTRY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VellumKTest"
    VENDOR = "HKCU\\Software\\VellumKTest\\Quillfeather\\Manifests"

    FILES, FOLDERS = RemovalTest.FILES, RemovalTest.FOLDERS
    setUpClass = RemovalTest.setUpClass
    remove, entries, left = RemovalTest.remove, RemovalTest.entries, RemovalTest.left

    def setUp(self):
        RemovalTest.setUp(self)
        for key in (self.ENTRY, "HKCU\\Software\\VellumKTest"):
            self.addCleanup(winetest.inspector, "regdel", "--key", key, check=False)
        winetest.reg_set(self.ENTRY, "DisplayName", data="Quillfeather")
        winetest.reg_set(self.VENDOR, "c:/q", data="digest")
        winetest.reg_set(self.VENDOR, "c:/q|previous", data="")
        winetest.reg_set(self.VENDOR, "c:/other", data="another installation's")
        self.keys = os.path.join(self.tmp, "keys.txt")

    def registry(self):
        return {name: winetest.inspector_answer(["regget", "--key", key, "--name", name] if name else
                                                ["regtree", "--key", key], 60)["code"] == 0
                for key, name in ((self.ENTRY, None), (self.VENDOR, "c:/q"), (self.VENDOR, "c:/q|previous"),
                                  (self.VENDOR, "c:/other"))}

    def remove_with_keys(self, lines, keys):
        with open(self.keys, "wb") as f:
            f.write(b"\xff\xfe" + "".join(l + "\r\n" for l in keys).encode("utf-16-le"))
        return self.remove(lines, "/K", winetest.to_windows(self.keys))

    KEYS = ["view\t64", "key\t" + ENTRY, "value\t" + VENDOR + "\\c:/q", "value\t" + VENDOR + "\\c:/q|previous"]

    def test_the_entry_and_values_go_after_the_files_and_are_reported(self):
        res = self.remove_with_keys(self.entries(), self.KEYS[1:] + ["value\t" + self.VENDOR + "\\c:/gone"])
        self.assertEqual((res.code, res.stderr), (0, ""))
        self.assertEqual(self.left(), [])
        self.assertEqual(read_listing(self.report)[-5:], [
            ("regremoved", "0", self.ENTRY), ("regremoved", "0", self.VENDOR + "\\c:/q"),
            ("regremoved", "0", self.VENDOR + "\\c:/q|previous"), ("regmissing", "0", self.VENDOR + "\\c:/gone"),
            ("end", "0", "")])
        self.assertEqual(self.registry(), {None: False, "c:/q": False, "c:/q|previous": False, "c:/other": True})

    def test_nothing_goes_from_the_registry_while_a_file_stays_or_for_a_list_it_refuses(self):
        # A file that cannot be deleted: the run stops there and the registry stays.
        held = os.path.join(self.root, self.FILES[1])
        holder = holding(self, held)
        res = self.remove_with_keys(self.entries(), self.KEYS)
        holder.kill()
        self.assertEqual(res.code, 3, res.stderr)
        self.assertFalse([e for e in read_listing(self.report) if e[0].startswith("reg")])
        self.assertEqual(self.registry(), {None: True, "c:/q": True, "c:/q|previous": True, "c:/other": True})

        # Keys that are not the product's own: nothing at all is removed.
        before = self.left()
        for bad in ("key\tHKLM\\Software\\VellumKTest",
                    "key\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                    "value\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x", "key\tHKLM"):
            res = self.remove_with_keys(self.entries(), self.KEYS[:2] + [bad])
            self.assertEqual(res.code, 4, res.stderr)
            self.assertEqual(read_listing(self.report)[-1][:2], ("end", "4"))
            self.assertEqual(self.left(), before)
            self.assertEqual(self.registry()[None], True)


@contextlib.contextmanager
def small_disk(test, options):
    """A tmpfs of its own for one case; unmounted whatever happens."""
    mnt = tempfile.mkdtemp(prefix="extract-disk-")
    test.addCleanup(shutil.rmtree, mnt, True)
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", mnt],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    if r.returncode != 0:
        test.skipTest("mounting a tmpfs was refused: %s" % r.stdout.decode(errors="replace").strip())
    try:
        yield mnt
    finally:
        for args in (["umount", mnt], ["umount", "-l", mnt]):
            if subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30).returncode == 0:
                break


if __name__ == "__main__":
    unittest.main()
