"""VellumSetup.controller driven by JScript under Wine's cscript, with the
inspector as the user: every operation, the wizard's decisions, the blocking
calls, the errors a script gets, and the end of the server process."""

import time
import unittest

from harness import product, winetest
from harness.winetest import inspector

from controller.controllertest import (
    CANCEL, CHK_LAUNCH, DISP_E_OVERFLOW, DISP_E_TYPEMISMATCH, ERR_NO_PROGRESS, ERR_NO_WIZARD, ERR_RANGE,
    LBL_PROGRESS, LBL_TIMER, NEXT, OPT_AGREE, PROGRESS_BAR, PROGRESS_CLASS, WIZARD_TITLE, Session, answer,
    click, control, dump, message_box, process_ended, register, wait_control, window)

MODE_TEXTS = {
    0: "Verifying integrity of the installed components. Please wait...",
    1: "Please wait while Quillfeather is being installed...",
    2: "Fixing errors in the installed components. Please wait...",
    3: "Please wait while Quillfeather is being uninstalled...",
}
DESIGN_TEXT = "Please  wait while Quillfeather is being uninstalled..."
CONSTANTS = ("var ERR_NO_WIZARD = %d, ERR_NO_PROGRESS = %d, ERR_RANGE = %d, DISP_E_TYPEMISMATCH = %d, "
             "DISP_E_OVERFLOW = %d, WIZARD_TITLE = \"%s\";\n" % (
                 ERR_NO_WIZARD, ERR_NO_PROGRESS, ERR_RANGE, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, WIZARD_TITLE))


def bar(hwnd):
    return control(dump(hwnd), PROGRESS_BAR)


def wait_finish_page(test, wizard, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        if control(dump(wizard), CHK_LAUNCH)["visible"]:
            return
        time.sleep(0.3)
    test.fail("the finish page did not appear")


def creep(test, hwnd, timeout=60):
    """Samples the bar until it has moved, then a few times more. The bar
    moves only on a show tick (one tick in five, drawn at random), so a
    fixed sampling time would miss every show tick now and then; the time
    limit is far beyond any real wait."""
    seen = [bar(hwnd)["progress"]["pos"]]
    end = time.time() + timeout
    while seen[-1] == seen[0]:
        test.assertLess(time.time(), end, "the bar never moved: %r" % seen)
        time.sleep(0.2)
        seen.append(bar(hwnd)["progress"]["pos"])
    for _ in range(3):
        time.sleep(0.2)
        seen.append(bar(hwnd)["progress"]["pos"])
    return seen


def walk_to_install(wizard):
    """Welcome, the license agreed, the ready page, Install: each click waits
    for the page or state the one before it brings."""
    click(wizard, NEXT)
    wait_control(wizard, OPT_AGREE, visible=True, enabled=True)
    click(wizard, OPT_AGREE)
    wait_control(wizard, NEXT, enabled=True)
    click(wizard, NEXT)
    wait_control(wizard, product.INSTALL_CAPTION, visible=True)
    click(wizard, NEXT)  # Install


def visible_progress_windows():
    return [w for w in inspector("list") if w["class"] == PROGRESS_CLASS]


class ControllerSessions(winetest.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        register(cls)

    def test_calls_errors_and_the_progress_window(self):
        s = Session(self, CONSTANTS + r"""
  check("Caption before anything", c.Caption, "");
  expectError("showComplete needs the progress window", function () { c.showComplete("x"); }, ERR_NO_PROGRESS, "progress window");
  expectError("setProgress needs the progress window", function () { c.setProgress(5, false); }, ERR_NO_PROGRESS, "setProgress");
  expectError("setTimerString needs the progress window", function () { c.setTimerString("t"); }, ERR_NO_PROGRESS);
  check("setInterval without a window is ignored", c.setInterval(100), false);
  expectError("showProgress needs the wizard", function () { c.showProgress(1); }, ERR_NO_WIZARD, "showWizard");
  expectError("setMaxValue needs the wizard", function () { c.setMaxValue(10); }, ERR_NO_WIZARD);
  expectError("userAborted needs the wizard", function () { c.userAborted(); }, ERR_NO_WIZARD);
  expectError("showWizardComplete needs the wizard", function () { c.showWizardComplete(); }, ERR_NO_WIZARD);
  expectError("showUptodate needs the wizard", function () { c.showUptodate(); }, ERR_NO_WIZARD);
  check("readyToInstall without a wizard", c.readyToInstall(), true);
  c.closeProgress();
  check("closeProgress without a window: the server goes on", c.Caption, "");
  var t1 = now();
  check("showWizard", c.showWizard("en-us"), true);
  out("FIGURE showWizard_ms " + (now() - t1));
  check("showWizard a second time", c.showWizard("de-de"), false);
  check("readyToInstall on the welcome page", c.readyToInstall(), false);
  expectError("setMaxValue 0", function () { c.setMaxValue(0); }, ERR_RANGE, "at least 1");
  expectError("setMaxValue negative", function () { c.setMaxValue(-3); }, ERR_RANGE);
  expectError("setMaxValue beyond Integer", function () { c.setMaxValue(40000); }, DISP_E_OVERFLOW);
  expectError("setMaxValue with a word", function () { c.setMaxValue("many"); }, DISP_E_TYPEMISMATCH);
  check("failed calls created no progress window", c.Caption, "");
  check("setMaxValue", c.setMaxValue(100), false);
  check("setMaxValue gives the progress window the wizard's caption", c.Caption, WIZARD_TITLE);
  check("showProgress 1", c.showProgress(1), true);
  expectError("setProgress above the maximum", function () { c.setProgress(101, false); }, ERR_RANGE, "0 to 100");
  expectError("setProgress below zero", function () { c.setProgress(-1, true); }, ERR_RANGE);
  expectError("setProgress with an object", function () { c.setProgress(c, false); }, DISP_E_TYPEMISMATCH);
  checkpoint("bar hidden");
  check("setProgress fast", c.setProgress(30, false), false);
  check("setTimerString", c.setTimerString("2 minutes remaining"), true);
  check("setInterval negative is ignored", c.setInterval(-5), false);
  check("showProgress 4", c.showProgress(4), true);
  check("showProgress -1", c.showProgress(-1), true);
  var t2 = now();
  for (var i = 0; i < 50; i++) c.readyToInstall();
  out("FIGURE call_ms " + (now() - t2) / 50);
  checkpoint("fast");
  check("setInterval 150", c.setInterval(150), false);
  check("setProgress slow", c.setProgress(60, true), false);
  checkpoint("creep");
  check("setProgress fast after slow", c.setProgress(10, false), false);
  check("setProgress slow to a lower target", c.setProgress(5, true), false);
  checkpoint("lower target");
  c.showProgress(0); checkpoint("mode 0");
  c.showProgress(2); checkpoint("mode 2");
  c.showProgress(3); checkpoint("mode 3");
  c.closeAll();
  out("OK closeAll returned");
""")
        s.checkpoint("bar hidden")
        progress = window(cls=PROGRESS_CLASS)
        server = progress["pid"]
        hwnd = progress["hwnd"]
        self.assertEqual(progress["title"], WIZARD_TITLE)
        self.assertFalse(bar(hwnd)["visible"], "the bar stays hidden until the first setProgress")
        s.resume()

        s.checkpoint("fast")
        d = dump(hwnd)
        b = control(d, PROGRESS_BAR)
        self.assertTrue(b["visible"])
        self.assertEqual((b["progress"]["pos"], b["progress"]["max"]), (30, 100))
        self.assertEqual(control(d, LBL_PROGRESS)["text"], MODE_TEXTS[1], "modes 4 and -1 leave the text")
        self.assertEqual(control(d, LBL_TIMER)["text"], "2 minutes remaining")
        s.resume()

        s.checkpoint("creep")
        seen = creep(self, hwnd)
        self.assertEqual(seen, sorted(seen), "the creep only moves forward: %r" % seen)
        self.assertGreaterEqual(seen[0], 30)
        self.assertGreater(seen[-1], seen[0], "the bar creeps toward 60: %r" % seen)
        self.assertLessEqual(seen[-1], 65)
        s.resume()

        s.checkpoint("lower target")
        first = bar(hwnd)["progress"]["pos"]
        time.sleep(1.0)
        self.assertEqual((first, bar(hwnd)["progress"]["pos"]), (10, 10),
                         "a slow update below the bar puts it at the previous target and does not creep")
        s.resume()

        for mode in (0, 2, 3):
            s.checkpoint("mode %d" % mode)
            self.assertEqual(control(dump(hwnd), LBL_PROGRESS)["text"], MODE_TEXTS[mode])
            s.resume()

        # closeAll unloads the wizard, which asks before the user has decided.
        box = message_box("Exit Installation", pid=server)
        self.assertEqual(box["icon"], "question")
        answer("Exit Installation", "no", pid=server)
        s.finish()
        self.assertTrue(process_ended(server, 15), "closeAll ends the server")
        self.record(s)

    def test_wizard_decisions_questions_and_finish(self):
        s = Session(self, CONSTANTS + r"""
  check("showWizard", c.showWizard("en-us"), true);
  checkpoint("welcome");
  check("readyToInstall on the license page", c.readyToInstall(), false);
  checkpoint("license");
  check("readyToInstall on the ready page", c.readyToInstall(), false);
  checkpoint("ready");
  check("readyToInstall after Cancel answered No", c.readyToInstall(), false);
  check("userAborted while the wizard runs", c.userAborted(), false);
  checkpoint("install");
  check("readyToInstall after Install", c.readyToInstall(), true);
  check("userAborted after Install", c.userAborted(), false);
  check("Confirm answered Yes", c.Confirm("Question time", "Go on?"), true);
  check("Caption after Confirm", c.Caption, "Question time");
  check("Confirm answered No", c.Confirm("Second question", "Really?"), false);
  check("Caption after the second Confirm", c.Caption, "Second question");
  check("setMaxValue", c.setMaxValue(200), false);
  check("showProgress", c.showProgress(1), true);
  check("setProgress", c.setProgress(50, false), false);
  check("showComplete", c.showComplete("All files are in place."), true);
  check("showWizardComplete with the box cleared", c.showWizardComplete(), false);
  c.closeProgress();
  out("OK closeProgress returned");
""")
        s.checkpoint("welcome")
        wizard = window(title=WIZARD_TITLE)
        server, w = wizard["pid"], wizard["hwnd"]
        click(w, NEXT)
        s.resume()
        s.checkpoint("license")
        click(w, OPT_AGREE)
        wait_control(w, NEXT, enabled=True)
        click(w, NEXT)
        s.resume()
        s.checkpoint("ready")
        click(w, CANCEL)
        answer("Exit Installation", "no", pid=server)
        s.resume()
        s.checkpoint("install")
        click(w, NEXT)
        s.resume()

        box = message_box("Question time", pid=server)
        self.assertEqual((box["text"], box["icon"]), ("Go on?", "question"))
        self.assertEqual(sorted(b["text"].replace("&", "") for b in box["buttons"]), ["No", "Yes"])
        answer("Question time", "yes", pid=server)
        message_box("Second question", pid=server)
        answer("Second question", "no", pid=server)

        box = message_box(WIZARD_TITLE, pid=server)
        self.assertEqual((box["text"], box["icon"]), ("All files are in place.", "information"))
        progress = [p for p in inspector("list") if p["class"] == PROGRESS_CLASS][0]
        self.assertEqual(bar(progress["hwnd"])["progress"]["pos"], 200, "showComplete fills the bar")
        time.sleep(0.5)
        self.assertFalse(s.has("OK showComplete"), "showComplete waits for its box")
        answer(WIZARD_TITLE, "ok", pid=server)

        wait_finish_page(self, w)
        self.assertEqual(visible_progress_windows(), [], "the progress window is made invisible")
        time.sleep(0.5)
        self.assertFalse(s.has("OK showWizardComplete with the box cleared"), "it waits for Finish")
        click(w, CHK_LAUNCH)
        click(w, NEXT)  # Finish
        s.finish()
        self.assertTrue(process_ended(server, 15), "closeProgress with a progress window ends the server")

    def test_abort_fresh_wizard_uptodate_and_close_all(self):
        s = Session(self, CONSTANTS + r"""
  check("showWizard", c.showWizard("en-us"), true);
  out("FIGURE welcome_ms " + (now() - t0));
  checkpoint("abort");
  check("readyToInstall after leaving", c.readyToInstall(), true);
  check("userAborted after leaving", c.userAborted(), true);
  check("readyToInstall with the wizard gone", c.readyToInstall(), true);
  check("showWizard after an abort", c.showWizard("en-us"), true);
  checkpoint("fresh");
  check("Install pressed", waitReady(30), true);
  check("userAborted after Install", c.userAborted(), false);
  c.Caption = "Checking";
  check("Caption put", c.Caption, "Checking");
  check("showProgress 4 on a new window", c.showProgress(4), true);
  checkpoint("design text");
  check("setMaxValue", c.setMaxValue(100), false);
  check("setProgress fast", c.setProgress(10, false), false);
  check("setInterval", c.setInterval(100), false);
  check("setProgress slow", c.setProgress(50, true), false);
  checkpoint("creeping");
  check("showUptodate", c.showUptodate(), false);
  check("showWizardComplete with the box checked", c.showWizardComplete(), true);
  c.closeAll();
  out("OK closeAll returned");
""")
        s.checkpoint("abort")
        first = window(title=WIZARD_TITLE)
        server = first["pid"]
        click(first["hwnd"], CANCEL)
        answer("Exit Installation", "yes", pid=server)
        s.resume()

        s.checkpoint("fresh")
        fresh = window(title=WIZARD_TITLE)
        self.assertNotEqual(fresh["hwnd"], first["hwnd"])
        wizards = [x for x in inspector("list", "--all") if x["title"] == WIZARD_TITLE and x["pid"] == server]
        self.assertEqual(len(wizards), 1, "the aborted wizard is gone: %r" % wizards)
        s.resume()
        walk_to_install(fresh["hwnd"])

        s.checkpoint("design text")
        progress = window(cls=PROGRESS_CLASS)
        self.assertEqual(progress["title"], WIZARD_TITLE)
        self.assertEqual(control(dump(progress["hwnd"]), LBL_PROGRESS)["text"], DESIGN_TEXT)
        s.resume()

        s.checkpoint("creeping")
        seen = creep(self, progress["hwnd"])
        self.assertGreater(seen[-1], seen[0], "the bar creeps after Install: %r" % seen)
        s.resume()

        box = message_box("Vellum Setup", pid=server)
        self.assertEqual((box["text"], box["icon"]), ("Your Quillfeather is up to date.", "information"))
        self.assertEqual(visible_progress_windows(), [], "showUptodate hides the progress window")
        answer("Vellum Setup", "ok", pid=server)

        wait_finish_page(self, fresh["hwnd"])
        click(fresh["hwnd"], NEXT)  # Finish, the launch box left checked
        s.finish()
        self.assertTrue(process_ended(server, 15), "closeAll ends the server")
        self.record(s)

    def test_killed_client_ends_the_server(self):
        s = Session(self, r"""
  c.showWizard("en-us");
  c.Caption = "progress";
  checkpoint("kill me");
""")
        s.checkpoint("kill me")
        server = window(title=WIZARD_TITLE)["pid"]
        s.process.kill()
        self.assertTrue(process_ended(server, 20), "the server of a dead client ends")
        self.assertEqual([w for w in inspector("list", "--all") if w["pid"] == server], [])

    def test_each_controller_has_a_process_of_its_own(self):
        s = Session(self, r"""
  var d = new ActiveXObject("VellumSetup.controller");
  c.Caption = "first";
  d.Caption = "second";
  checkpoint("two");
  c = null;
  CollectGarbage();
  checkpoint("one released");
  check("the other controller still answers", d.Caption, "second");
  d.closeAll();
""")
        s.checkpoint("two")
        windows = {w["title"]: w["pid"] for w in inspector("list", "--all") if w["class"] == PROGRESS_CLASS}
        self.assertEqual(sorted(windows), ["first", "second"])
        self.assertNotEqual(windows["first"], windows["second"], "one server process per controller")
        s.resume()
        s.checkpoint("one released")
        self.assertTrue(process_ended(windows["first"], 15), "a released controller's process ends")
        s.resume()
        s.finish()
        self.assertTrue(process_ended(windows["second"], 15))

    def record(self, s):
        figures = {k: s.figure(k) for k in ("create_ms", "welcome_ms", "showWizard_ms", "call_ms")}
        print("figures: %r" % {k: v for k, v in figures.items() if v is not None})


class Registration(winetest.WineTestCase):
    CLSID_KEY = product.CLSID_KEY + "\\LocalServer32"
    PROGID_KEY = "HKLM\\Software\\Classes\\%s\\CLSID" % product.PROGID
    TYPELIB_KEY = "HKLM\\Software\\Classes\\TypeLib\\%s\\1.0" % product.LIBID
    INTERFACE_KEY = "HKLM\\Software\\Classes\\Interface\\%s\\ProxyStubClsid32" % product.IID

    def regget(self, key):
        return inspector("regget", "--key", key, check=False)

    def test_register_unregister_and_started_by_hand(self):
        exe = winetest.program("VellumSetup")
        self.assertEqual(winetest.run(exe, ["-REGSERVER"]).code, 0)
        value = self.regget(self.CLSID_KEY)
        self.assertIsNotNone(value)
        text = bytes.fromhex(value["hex"].replace(" ", "")).decode("utf-16-le").rstrip("\0")
        self.assertEqual(text, '"%s"' % winetest.to_windows(exe))
        self.assertIsNotNone(self.regget(self.TYPELIB_KEY))
        self.assertIsNotNone(self.regget(self.INTERFACE_KEY))

        self.assertEqual(winetest.run(exe, ["/unregserver"]).code, 0)
        for key in (self.CLSID_KEY, self.PROGID_KEY, self.TYPELIB_KEY, self.INTERFACE_KEY):
            self.assertIsNone(self.regget(key), key)

        # Started by hand: no window, ends at once.
        started = time.time()
        self.assertEqual(winetest.run(exe, [], timeout=30).code, 0)
        self.assertLess(time.time() - started, 20)

        self.assertEqual(winetest.run(exe, ["/RegServer"]).code, 0)
        self.addCleanup(winetest.run, exe, ["/UnregServer"])


if __name__ == "__main__":
    unittest.main()
