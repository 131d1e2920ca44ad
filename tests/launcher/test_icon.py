"""The launcher's program icon: the committed file is what its generator
draws, with a 32x32 and a 16x16 image of 16 colours each."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RES = os.path.join(ROOT, "launcher", "res")


class LauncherIconTest(unittest.TestCase):
    def test_committed_icon_is_reproducible_and_has_both_images(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "icon.ico")
            subprocess.run([sys.executable, os.path.join(RES, "make_icon.py"), out], check=True)
            with open(out, "rb") as f:
                fresh = f.read()
        with open(os.path.join(RES, "VellumInstaller.ico"), "rb") as f:
            committed = f.read()
        self.assertEqual(fresh, committed, "run launcher/res/make_icon.py and commit the result")
        reserved, kind, count = struct.unpack_from("<HHH", committed)
        self.assertEqual((0, 1, 2), (reserved, kind, count))
        images = []
        for i in range(count):
            w, h, colours, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", committed, 6 + 16 * i)
            header_bpp = struct.unpack_from("<H", committed, offset + 14)[0]
            images.append((w, h, colours, bpp, header_bpp))
            self.assertLessEqual(offset + size, len(committed))
        self.assertEqual([(32, 32, 16, 4, 4), (16, 16, 16, 4, 4)], images)


if __name__ == "__main__":
    unittest.main()
