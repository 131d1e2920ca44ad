"""VellumSetup's maintenance build (uninstallUI/VellumSetup.exe) under Wine:
it registers for one run in place of the full build and puts that one back
when it ends; a JScript client drives its progress window in every mode
without a wizard, asks Confirm questions, shows messages and closes it;
every wizard operation fails with "this build has no wizard". On the host:
it is a file of its own, smaller, without the wizard's pictures and
license handling."""

import os
import time
import unittest

from harness import product, winetest
from harness.winetest import inspector

from controller.controllertest import (ERR_NO_PROGRESS, ERR_NO_WIZARD, ERR_RANGE, LBL_PROGRESS, LBL_TIMER,
                                       PROGRESS_BAR, PROGRESS_CLASS, Session, answer, control, dump,
                                       message_box, process_ended, register, window)

CLSID_KEY = product.CLSID_KEY + "\\LocalServer32"
WIZARD_CLASS = product.WIZARD_CLASS
MODE_TEXTS = {
    0: "Verifying integrity of the installed components. Please wait...",
    1: "Please wait while Quillfeather is being installed...",
    2: "Fixing errors in the installed components. Please wait...",
    3: "Please wait while Quillfeather is being uninstalled...",
}
CONSTANTS = "var ERR_NO_WIZARD = %d, ERR_NO_PROGRESS = %d, ERR_RANGE = %d;\n" % (
    ERR_NO_WIZARD, ERR_NO_PROGRESS, ERR_RANGE)
NO_WIZARD = "this build has no wizard."


def uninstallui_exe():
    """The maintenance build: named by ctest, or found beside the full build."""
    path = os.environ.get("VELLUM_UNINSTALLUI_EXE")
    if path:
        return path
    return os.path.join(os.path.dirname(winetest.program("VellumSetup")), "uninstallUI", "VellumSetup.exe")


def registered_server():
    value = inspector("regget", "--key", CLSID_KEY, check=False)
    if value is None:
        return None
    return bytes.fromhex(value["hex"].replace(" ", "")).decode("utf-16-le").rstrip("\0")


class FileTest(unittest.TestCase):
    """What the build leaves out, read from the two files."""

    def test_a_smaller_file_without_wizard_pictures_or_license_handling(self):
        with open(uninstallui_exe(), "rb") as f:
            small = f.read()
        with open(winetest.program("VellumSetup"), "rb") as f:
            full = f.read()
        print("sizes: uninstallUI %d bytes, full build %d bytes" % (len(small), len(full)))
        self.assertLess(len(small), len(full))
        # A picture is stored as its bitmap without the file header; each
        # check is made against the full build too, so that it can fail.
        for name in ("wizard_side.bmp", "wizard_emblem.bmp"):
            with open(os.path.join(winetest.ROOT, "setupui", "wizard", "res", name), "rb") as f:
                picture = f.read()[14:]
            self.assertIn(picture, full, name)
            self.assertNotIn(picture, small, name)
        license_name = "EULA_".encode("utf-16-le")
        self.assertIn(license_name, full)
        self.assertNotIn(license_name, small)
        self.assertIn(NO_WIZARD.encode("utf-16-le"), small)


class UninstallUISession(winetest.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.exe = uninstallui_exe()
        cls.full = winetest.program("VellumSetup")
        # The full build, machine-wide: the run's registration replaces it.
        # Where nothing was registered before, nothing is left afterwards
        # (later tests expect the prefix as they found it).
        cls.was_registered = registered_server() is not None
        register()

    @classmethod
    def tearDownClass(cls):
        if not cls.was_registered:
            winetest.run(cls.full, ["/UnregServer"], timeout=60)
        super().tearDownClass()

    def test_progress_questions_messages_and_no_wizard(self):
        r = winetest.run(self.exe, ["/RegServer", "/Run:uninstallui-test"], timeout=60)
        self.assertEqual(r.code, 0, r)
        self.assertEqual(registered_server(), '"%s"' % winetest.to_windows(self.exe))

        s = Session(self, CONSTANTS + r"""
  expectError("showWizard", function () { c.showWizard("en-us"); }, ERR_NO_WIZARD, "showWizard: this build has no wizard.");
  expectError("readyToInstall", function () { c.readyToInstall(); }, ERR_NO_WIZARD, "readyToInstall: this build has no wizard.");
  expectError("userAborted", function () { c.userAborted(); }, ERR_NO_WIZARD, "this build has no wizard");
  expectError("showWizardComplete", function () { c.showWizardComplete(); }, ERR_NO_WIZARD, "this build has no wizard");
  check("Caption before anything", c.Caption, "");
  expectError("setProgress needs the progress window", function () { c.setProgress(5, false); }, ERR_NO_PROGRESS);
  expectError("setMaxValue 0", function () { c.setMaxValue(0); }, ERR_RANGE, "at least 1");
  check("a failed call created no progress window", c.Caption, "");
  c.Caption = "Quillfeather Maintenance";
  check("setMaxValue without a wizard", c.setMaxValue(40), false);
  check("the window keeps the script's caption", c.Caption, "Quillfeather Maintenance");
  check("showProgress 3", c.showProgress(3), true);
  check("setProgress 10", c.setProgress(10, false), false);
  checkpoint("mode 3");
  check("showProgress 0", c.showProgress(0), true);
  check("setProgress 20", c.setProgress(20, false), false);
  checkpoint("mode 0");
  check("showProgress 2", c.showProgress(2), true);
  check("setProgress 30", c.setProgress(30, false), false);
  checkpoint("mode 2");
  check("showProgress 1", c.showProgress(1), true);
  check("showProgress 4 keeps the text", c.showProgress(4), true);
  check("setTimerString", c.setTimerString("1 minute remaining"), true);
  check("setInterval", c.setInterval(200), false);
  check("setProgress slow", c.setProgress(40, true), false);
  checkpoint("mode 1");
  check("Confirm answered Yes", c.Confirm("Remove Quillfeather", "Remove Quillfeather from this computer?"), true);
  check("Confirm answered No", c.Confirm("Remove Quillfeather", "Remove the files you added too?"), false);
  check("Confirm gives the window its caption", c.Caption, "Remove Quillfeather");
  check("showComplete", c.showComplete("Quillfeather has been removed."), true);
  check("showUptodate", c.showUptodate(), false);
  c.closeAll();
  out("OK closeAll returned");
""")
        s.checkpoint("mode 3")
        progress = window(cls=PROGRESS_CLASS)
        server = progress["pid"]
        hwnd = progress["hwnd"]
        self.assertEqual(progress["title"], "Quillfeather Maintenance")
        self.assertEqual(registered_server(), '"%s"' % winetest.to_windows(self.exe),
                         "the run's registration serves this session")
        d = dump(hwnd)
        self.assertEqual(control(d, LBL_PROGRESS)["text"], MODE_TEXTS[3])
        self.assertEqual((control(d, PROGRESS_BAR)["progress"]["pos"], control(d, PROGRESS_BAR)["progress"]["max"]),
                         (10, 40))
        s.resume()
        for mode, pos in ((0, 20), (2, 30)):
            s.checkpoint("mode %d" % mode)
            d = dump(hwnd)
            self.assertEqual(control(d, LBL_PROGRESS)["text"], MODE_TEXTS[mode])
            self.assertEqual(control(d, PROGRESS_BAR)["progress"]["pos"], pos)
            s.resume()
        s.checkpoint("mode 1")
        d = dump(hwnd)
        self.assertEqual(control(d, LBL_PROGRESS)["text"], MODE_TEXTS[1], "mode 4 leaves the text")
        self.assertEqual(control(d, LBL_TIMER)["text"], "1 minute remaining")
        self.assertEqual([w for w in inspector("list", "--all") if w["class"] == WIZARD_CLASS], [],
                         "no wizard window, ever")
        s.resume()

        box = message_box("Remove Quillfeather", pid=server)
        self.assertEqual((box["text"], box["icon"]), ("Remove Quillfeather from this computer?", "question"))
        answer("Remove Quillfeather", "yes", pid=server)
        box = message_box("Remove Quillfeather", pid=server)
        self.assertEqual(box["text"], "Remove the files you added too?")
        answer("Remove Quillfeather", "no", pid=server)
        box = message_box("Remove Quillfeather", pid=server)
        self.assertEqual((box["text"], box["icon"]), ("Quillfeather has been removed.", "information"))
        self.assertEqual(control(dump(hwnd), PROGRESS_BAR)["progress"]["pos"], 40, "showComplete fills the bar")
        answer("Remove Quillfeather", "ok", pid=server)
        box = message_box("Vellum Setup", pid=server)
        self.assertEqual(box["text"], "Your Quillfeather is up to date.")
        answer("Vellum Setup", "ok", pid=server)

        s.finish()
        self.assertTrue(process_ended(server, 15), "closeAll ends the server")
        # The server removed its run's registration and the full build's came back.
        deadline = time.time() + 60
        while registered_server() != '"%s"' % winetest.to_windows(self.full):
            self.assertLess(time.time(), deadline, "registration now: %r" % registered_server())
            time.sleep(0.5)


if __name__ == "__main__":
    unittest.main()
