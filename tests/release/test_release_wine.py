"""Releases built by the release command, run under Wine: a release whose
cabinet was replaced installs that content byte for byte; a 3.0.7 installs
over a 3.0.6 of the same kind; a damaged copy (a cabinet's bytes, the
script, the list) ends with one box and exit 6 (106 with /wait) before
anything is written; a cut-off file is refused by the system's loader."""
import os
import shutil
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import release_common as rc  # noqa: E402
from harness import product  # noqa: E402
from harness import winetest as wt  # noqa: E402
from launcher.launcher_e2e import LauncherCase, headline  # noqa: E402
from release_common import locales  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(HERE), "install"))
import test_integrity_script as tis  # noqa: E402

KEY = product.UNINSTALL_KEY
DAMAGED = ("This installer is damaged: its data does not match what it was built with, "
           "so nothing was installed.")
REPLACED = locales.locale_cabinets("en-us")[0][1]


def expected_content(cabs):
    """An en-us installation's files: the shared and en-us cabinets unpacked
    on the host, later cabinets over earlier ones."""
    out = tempfile.mkdtemp(prefix="release-expected-")
    try:
        for name in locales.all_cabinets():
            if "_" in name[:6] and not name.startswith("en-us_") and name[2] == "-":
                continue
            rc.subprocess.run(["gcab", "-x", "-C", out, os.path.join(cabs, name)], check=True, timeout=120,
                              stdout=rc.subprocess.DEVNULL, stderr=rc.subprocess.DEVNULL)
        return tis.snapshot(out)
    finally:
        shutil.rmtree(out)


@unittest.skipUnless(rc.FILES and os.path.isdir(rc.FILES), "no built full payload")
class ReleaseUnderWineTest(LauncherCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.build_dir = tempfile.mkdtemp(prefix="release-wine-")
        old = rc.project_cabinets(os.path.join(cls.build_dir, "cabs-306"))
        new = rc.project_cabinets(os.path.join(cls.build_dir, "cabs-307"))
        cls.other = rc.other_content()
        rc.gcab_cabinet(os.path.join(new, REPLACED), cls.other, cls.build_dir)
        cls.cabs307 = new
        cls.i306 = os.path.join(cls.build_dir, "VellumInstaller-3.0.6.exe")
        cls.i307 = os.path.join(cls.build_dir, "VellumInstaller-3.0.7.exe")
        for cabs, version, out in ((old, "3.0.6", cls.i306), (new, "3.0.7", cls.i307)):
            # Built for the architecture this host's Wine runs.
            code, text = rc.run("--cabinets", cabs, "--version", version, "--out", out,
                                env={"VELLUM_RELEASE_ARCH": os.environ.get("VELLUM_ARCH", "i686")})
            assert code == 0, text

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.build_dir, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        wt.inspector("regdel", "--key", KEY, check=False)
        self.addCleanup(wt.inspector, "regdel", "--key", KEY, check=False)

    def install(self, installer, target, log):
        """Runs a release unattended and waits for the installation's result."""
        proc = self.start(installer, ["/q", "/wait", "/acceptlicense", "/target:" + wt.to_windows(target),
                                      "/log:" + wt.to_windows(log)])
        return proc.wait(600)

    read = staticmethod(tis.read_log)

    def test_release_installs_its_own_content_and_upgrades_the_earlier_one(self):
        target = os.path.join(self.tmp, "Program Files", "Quillfeather")
        log = os.path.join(self.tmp, "setup.log")
        self.assertEqual(0, self.install(self.i306, target, log), self.read(log))
        self.assertEqual("3.0.6", tis.reg_text(KEY, "DisplayVersion"))
        self.assertNotIn("other/readme.txt", tis.snapshot(target))
        code = self.install(self.i307, target, log)
        text = self.read(log)
        self.assertEqual(0, code, text)
        self.assertEqual("3.0.7", tis.reg_text(KEY, "DisplayVersion"))
        self.assertRegex(text, r"\tupgrade\t.*3\.0\.6.*3\.0\.7")
        installed = {k: v for k, v in tis.snapshot(target).items() if not k.startswith("VellumMaintenance")}
        self.assertEqual(expected_content(self.cabs307), installed)
        for rel, data in self.other.items():
            with open(os.path.join(target, rel), "rb") as f:
                self.assertEqual(data, f.read(), rel)
        with open(os.path.join(target, "VellumMaintenance", "vellumVersion.txt"), "rb") as f:
            self.assertEqual(b"version=3.0.7\r\n", f.read())

    def test_damaged_copy_is_refused_before_anything_is_written(self):
        names = locales.file_list()
        cabinet = 100 + names.index(REPLACED) + 1
        script = 100 + names.index("VellumSetup.jse") + 1
        # A file cut off inside its payload: the system refuses to start it at all.
        bad = rc.damaged_copy(self.i307, os.path.join(self.tmp, "damaged.exe"), cabinet, "cut")
        self.assertNotEqual(0, self.start(bad).wait(60))
        self.assertFalse(os.path.exists(self.workdir), "the working folder was created")
        for rid, args, code in ((cabinet, [], 6), (script, ["/wait"], 106), (100, ["/q"], 6)):
            with self.subTest(resource=rid, args=args):
                bad = rc.damaged_copy(self.i307, os.path.join(self.tmp, "damaged.exe"), rid)
                proc = self.start(bad, args)
                box = self.next_box(60)
                self.assertEqual(("Setup", DAMAGED, "stop"), (box["title"], headline(box["text"]), box["icon"]))
                self.assertIn("download the installer again", box["text"])
                self.answer()
                self.assertEqual(code, proc.wait(30))
                self.assertFalse(os.path.exists(self.workdir), "the working folder was created")
                with self.assertRaises(wt.InspectorError):
                    wt.inspector("msgbox", "--timeout", "500")  # one box only


if __name__ == "__main__":
    unittest.main()
