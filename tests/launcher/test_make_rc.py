"""The payload's resource-script generator: binding of list lines to
identifiers, and refusal of lists the launcher could not honour."""
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                    "payload", "make_rc.py")


class MakeRcTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="make_rc-")
        for name in ("a.xml", "b c.cab", "VellumSetup.jse"):
            with open(os.path.join(self.dir, name), "wb") as f:
                f.write(name.encode())

    def tearDown(self):
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))
        os.rmdir(self.dir)

    def gen(self, list_bytes, resources=None):
        lst = os.path.join(self.dir, "list.txt")
        with open(lst, "wb") as f:
            f.write(list_bytes)
        args = [sys.executable, TOOL, "--dir", self.dir, "--list", lst, "--out", os.path.join(self.dir, "p.rc")]
        if resources is not None:
            res = os.path.join(self.dir, "res.txt")
            with open(res, "wb") as f:
                f.write(resources)
            args += ["--resources", res]
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        rc = None
        if r.returncode == 0:
            with open(os.path.join(self.dir, "p.rc")) as f:
                rc = f.read()
            os.unlink(os.path.join(self.dir, "p.rc"))
        return r.returncode, rc, r.stderr

    def test_line_i_is_resource_100_plus_i(self):
        code, rc, _ = self.gen(b"a.xml\r\nb c.cab\r\nVellumSetup.jse\r\n")
        self.assertEqual(0, code)
        lines = rc.splitlines()
        self.assertIn("LANGUAGE 0, 1", lines)
        self.assertRegex(rc, r'\n100 10 ".*/list\.txt"\n')
        self.assertRegex(rc, r'\n101 10 ".*/a\.xml"\n102 10 ".*/b c\.cab"\n103 10 ".*/VellumSetup\.jse"\n')

    def test_rejects_lines_that_are_not_bare_names_naming_the_line(self):
        for bad, why in ((b"..\\x.txt", "contains"), (b"sub/a.xml", "contains"), (b"C:a.xml", "contains"),
                         (b"..", "not a file name"), (b"", "empty"), (b"a?.txt", "cannot hold")):
            code, _, err = self.gen(b"a.xml\r\n" + bad + b"\r\n")
            self.assertEqual(1, code, bad)
            self.assertIn("line 2", err, bad)
            self.assertIn(why, err, bad)

    def test_rejects_other_line_ends_missing_files_and_repeats(self):
        for lst, msg in ((b"a.xml\nb c.cab\r\n", "line 1"), (b"a.xml\r\nb c.cab", "not ended by CR LF"),
                         (b"a.xml\r\nmissing.txt\r\n", "has no file"), (b"a.xml\r\nA.XML\r\n", "repeats line 1"),
                         (b"\xe9.txt\r\n", "not ASCII")):
            code, _, err = self.gen(lst)
            self.assertEqual(1, code, lst)
            self.assertIn(msg, err, lst)

    def test_a_faulty_list_can_ride_on_a_sound_resource_list(self):
        code, rc, _ = self.gen(b"a.xml\r\n..\\evil.txt\r\nnores.txt\r\n", resources=b"a.xml\r\nb c.cab\r\n")
        self.assertEqual(0, code)
        self.assertRegex(rc, r'\n101 10 ".*/a\.xml"\n102 10 ".*/b c\.cab"\n$')


if __name__ == "__main__":
    unittest.main()
