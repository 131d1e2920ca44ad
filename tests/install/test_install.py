"""The whole installation under Wine: the installation script drives
VellumSetup's wizard and progress window while EXTRACT.EXE really unpacks
the help content; a robot user (the inspector) clicks through.

The payload files of this build (VELLUM_FULL_PAYLOAD_DIR) are put into the
working folder as VellumInstaller leaves them, and the script is started the
way the shell starts it: wscript "<folder>\\Vellumsetup.jse " VellumInstall ...
"""
import os
import re
import shutil
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))
sys.path.insert(0, os.path.join(ROOT, "payload", "full"))

import locales  # noqa: E402
import product  # noqa: E402
import ui_texts  # noqa: E402,F401
import winetest as wt  # noqa: E402

FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")
LIST = os.environ.get("VELLUM_FULL_PAYLOAD_LIST", "")
KEY1 = product.LOCALE_KEY
KEY2 = product.OOBE_KEY
WIZARD = product.WIZARD
PROGID_KEY = product.PROGID_KEY
# Wine's own services, started for the prefix rather than by the installation
# (consoles and start.exe count: they are started for it).
WINE_SERVICES = {"wineboot.exe", "winemenubuilder.exe", "services.exe", "explorer.exe", "winedevice.exe",
                 "plugplay.exe", "svchost.exe", "rpcss.exe", "tabtip.exe"}
# The cases that install this build's full payload.
needs_payload = unittest.skipUnless(FILES and os.path.isdir(FILES) and LIST, "no built full payload")


text = product.text


class InstallationCase(wt.WineTestCase):
    """The working folder of this build's payload and the robot's walk through the wizard; no tests of its own."""

    def setUp(self):
        super().setUp()
        for key, name in ((KEY1, "localeId"), (KEY2, "Lang_Country")):
            wt.inspector("regdel", "--key", key, "--name", name, check=False)
        # The working folder as the launcher leaves it.
        self.work = os.path.join(self.tmp, "_hsc_Vellum")
        shutil.copytree(FILES, self.work, ignore=shutil.ignore_patterns(".*"))
        shutil.copy(LIST, self.work)
        self.target = os.path.join(self.tmp, "Program Files", "Quillfeather")
        self.wtarget = wt.to_windows(self.target)

    def start_script(self):
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        return self.start("wscript.exe", [script, "VellumInstall", "/target:" + self.wtarget])

    def click(self, label, timeout=20000):
        return wt.inspector("click", *WIZARD, "--text", label, "--timeout", str(timeout))

    def wait_for_button(self, label, seconds):
        end = time.time() + seconds
        while time.time() < end:
            try:
                dump = wt.inspector("dump", *WIZARD, "--timeout", "1000")
                if any(c.get("visible") and c.get("text") == label and c.get("class") == "Button"
                       for c in dump["controls"]):
                    return dump
            except wt.InspectorError:
                pass
            time.sleep(0.5)
        self.fail("the wizard never showed %r" % label)

    def assert_texts_fit(self, page):
        answer = wt.inspector("measure", *WIZARD)
        clipped = [c for c in answer["controls"] if not c["fits"] and not c.get("scrollable")]
        self.assertEqual(clipped, [], page)

    def walk_to_install(self, loc):
        wt.wait_window(text(loc, "loc_UI_Title"), timeout=60)
        self.wait_for_button(text(loc, "loc_UI_NextButton") + " >", 30)
        self.assert_texts_fit("welcome")
        self.click(text(loc, "loc_UI_NextButton") + " >")
        self.wait_for_button(text(loc, "loc_UI_NextButton") + " >", 10)
        self.click(text(loc, "loc_UI_Option_Agree"))
        self.assert_texts_fit("license")
        self.click(text(loc, "loc_UI_NextButton") + " >")
        self.wait_for_button(text(loc, "loc_UI_InstallButton"), 10)
        self.assert_texts_fit("ready")
        self.click(text(loc, "loc_UI_InstallButton"))

    def damage(self, name):
        """Flips a bit near the end of a payload cabinet; returns what puts it back."""
        path = os.path.join(self.work, name)
        with open(path, "rb") as f:
            original = f.read()
        with open(path, "r+b") as f:
            f.seek(-100, os.SEEK_END)
            byte = f.read(1)
            f.seek(-100, os.SEEK_END)
            f.write(bytes([byte[0] ^ 0x01]))

        def restore():
            with open(path, "wb") as f:
                f.write(original)
        return restore

    def installed_locales(self):
        return sorted(os.listdir(os.path.join(self.target, "locales")))

    def assert_unregistered(self):
        with self.assertRaises(wt.InspectorError) as cm:
            wt.inspector("regget", "--key", PROGID_KEY)
        self.assertEqual(cm.exception.code, 2)

    def open_pages_with_a_recorder(self):
        """Makes opening an .htm file copy it to a marker file, so that the
        launch choice can be seen without a browser. Returns the marker, or
        None where the prefix has an .htm association of its own (left as is)."""
        try:
            wt.inspector("regget", "--key", "HKCR\\.htm")
            return None
        except wt.InspectorError as e:
            if e.code != 2:
                raise
        marker = os.path.join(self.tmp, "opened.htm")
        command = 'C:\\windows\\system32\\cmd.exe /c copy "%%1" "%s"' % wt.to_windows(marker)
        wt.reg_set("HKCR\\VellumTestPage\\shell\\open\\command", None, "sz", command)
        wt.reg_set("HKCR\\.htm", None, "sz", "VellumTestPage")
        self.addCleanup(wt.reg_delete, "HKCR\\.htm")
        self.addCleanup(wt.reg_delete, "HKCR\\VellumTestPage")
        return marker

    def install(self, loc, launch=False):
        proc = self.start_script()
        self.walk_to_install(loc)
        # The progress window shows the locale's text, and it fits.
        answer = wt.inspector("measure", "--class", product.PROGRESS_CLASS, "--visible",
                              "--timeout", "30000")
        texts = [c["text"] for c in answer["controls"]]
        self.assertIn(text(loc, "loc_UI_Install_Progress"), texts)
        self.assertEqual([c for c in answer["controls"] if not c["fits"]], [])
        self.wait_for_button(text(loc, "loc_UI_Finish_Button"), 240)
        self.assert_texts_fit("finish")
        if not launch:
            self.click(text(loc, "loc_UI_Launch_box"))
        self.click(text(loc, "loc_UI_Finish_Button"))
        self.assertEqual(proc.wait(60), 0, proc.output())
        return proc


@needs_payload
class InstallationTest(InstallationCase):
    def test_install_en_us(self):
        marker = self.open_pages_with_a_recorder()
        self.install("en-us", launch=marker is not None)
        self.assertEqual(self.installed_locales(), ["all", "en-us"])
        base = os.path.join(self.target, "locales", "en-us")
        for rel in ("index.htm", "all_all_all/index.htm", "Tutorial_online/index.htm",
                    "desktops/Plover/Windows XP Media Center/index.htm", "styles/help.css"):
            self.assertTrue(os.path.isfile(os.path.join(base, rel)), rel)
        self.assertTrue(os.path.isfile(os.path.join(self.target, "package_description.xml")))
        self.assertTrue(os.path.isfile(os.path.join(self.target, "uninstallUI", "VellumSetup.exe")))
        with open(os.path.join(base, "index.htm"), encoding="utf-8") as f:
            page = f.read()
        self.assertIn(text("en-us", "loc_UI_welcomeText"), page)
        self.assert_unregistered()
        if marker is None:
            return
        # The launch box was left checked: the installed start page was opened.
        deadline = time.time() + 30
        while not os.path.exists(marker) and time.time() < deadline:
            time.sleep(0.5)
        with open(marker, encoding="utf-8") as f:
            self.assertEqual(f.read(), page)

    def test_install_korean_from_second_registry_value(self):
        # Source 2 is lower-cased with "_" made "-", as the launcher does.
        wt.reg_set(KEY2, "Lang_Country", "sz", "KO_KR")
        self.install("ko-kr")
        self.assertEqual(self.installed_locales(), ["all", "ko-kr"])
        base = os.path.join(self.target, "locales", "ko-kr")
        self.assertTrue(os.path.isfile(os.path.join(base, "index.htm")))
        self.assertTrue(os.path.isdir(os.path.join(base, "desktops", "Plover", "Windows XP Home")))
        self.assertFalse(os.path.isdir(os.path.join(base, "desktops", "Plover", "all")))
        with open(os.path.join(base, "index.htm"), encoding="utf-8") as f:
            self.assertIn(text("ko-kr", "loc_UI_welcomeText"), f.read())
        self.assert_unregistered()

    def test_abort_leaves_nothing_installed(self):
        wt.reg_set(KEY1, "localeId", "sz", "de-de")
        # A server killed after it offered its class and before a client
        # took it: COM hands that dead offer to the next activation once.
        log = os.path.join(self.tmp, "abort.log")
        self.leave_dead_offer(log)
        proc = self.start("wscript.exe", [wt.to_windows(os.path.join(self.work, "Vellumsetup.jse ")), "VellumInstall",
                                          "/target:" + self.wtarget, "/log:" + wt.to_windows(log)])
        wt.wait_window(text("de-de", "loc_UI_Title"), timeout=60)
        self.wait_for_button(text("de-de", "loc_UI_NextButton") + " >", 30)
        self.click(text("de-de", "loc_UI_CancelButton"))
        box = wt.inspector("msgbox", "--title", text("de-de", "loc_UI_Exit_Title"), "--timeout", "10000")
        self.assertIn(text("de-de", "loc_UI_Exit_prompt3"), box["text"])
        wt.inspector("answer", "--button", "yes", "--title", text("de-de", "loc_UI_Exit_Title"))
        self.assertEqual(proc.wait(60), 2, proc.output())
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "Program Files")))
        self.assert_unregistered()
        with open(log, encoding="ascii") as f:
            self.assertIn("not created", f.read(), "the dead offer was not met: the case proves nothing")

    def leave_dead_offer(self, log):
        """Leaves the offer of a killed server for the controller's class.
        The helper says when its offer is registered; a starting server
        looks idle before that, and a kill then would leave no offer."""
        marker = os.path.join(self.tmp, "offered")
        helper = wt.inspector("run", "--", wt.to_windows(wt.program("deadoffer")), product.CLSID,
                              wt.to_windows(marker), "60")
        deadline = time.time() + 30
        while not os.path.exists(marker):
            self.assertLess(time.time(), deadline, "the helper never made its offer")
            time.sleep(0.05)
        wt.inspector("kill", "--pid", str(helper["pid"]))

        def drop_unused_offer():
            # An offer no activation met would fail the next test's first one.
            met = False
            if os.path.exists(log):
                with open(log, encoding="ascii") as f:
                    met = "not created" in f.read()
            if not met:
                wt.wineserver_kill()
                wt.wineserver_wait(30)
        self.addCleanup(drop_unused_offer)

    def test_missing_cabinet_is_reported_before_anything_is_written(self):
        os.remove(os.path.join(self.work, "Zeph.CAB"))
        proc = self.start_script()
        self.walk_to_install("en-us")
        # No progress window yet: the message comes through the controller's
        # own message box all the same, titled with the wizard's caption.
        box = wt.inspector("msgbox", "--title", text("en-us", "loc_UI_Title"), "--timeout", "30000")
        self.assertIn("Zeph.CAB is missing", box["text"])
        wt.inspector("answer", "--button", "ok", "--title", text("en-us", "loc_UI_Title"))
        self.assertEqual(proc.wait(60), 1, proc.output())
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "Program Files")))
        self.assert_unregistered()

    def test_damaged_cabinet_is_reported_and_rolled_back(self):
        # The last cabinet of en-us is damaged: most content is already
        # extracted when it fails, and all of it must go again.
        name = [n for n in locales.all_cabinets() if n.startswith("en-us_")][-1]
        self.damage(name)
        proc = self.start_script()
        self.walk_to_install("en-us")
        box = wt.inspector("msgbox", "--title", text("en-us", "loc_UI_Title"), "--timeout", "240000")
        self.assertIn(name, box["text"])
        self.assertIn("could not be extracted", box["text"])
        wt.inspector("answer", "--button", "ok", "--title", text("en-us", "loc_UI_Title"))
        self.assertEqual(proc.wait(60), 1, proc.output())
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "Program Files")))
        self.assert_unregistered()

    def test_progress_follows_the_extraction(self):
        # EXTRACT waits after each cabinet while the hold file exists, so the
        # bar can be read between cabinets however fast the machine is.
        hold = os.path.join(self.tmp, "hold")
        open(hold, "wb").close()
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        proc = self.start("wscript.exe", [script, "VellumInstall", "/target:" + self.wtarget],
                          env={"VELLUM_TEST_EXTRACT_HOLD": wt.to_windows(hold), "WINEDEBUG": "warn+heap"})
        self.walk_to_install("en-us")
        seen, deadline = [], time.time() + 120
        while time.time() < deadline:
            try:
                dump = wt.inspector("dump", "--class", "VellumProgressWindow", "--visible", "--timeout", "2000")
            except wt.InspectorError:
                continue
            bars = [c["progress"] for c in dump["controls"] if "progress" in c]
            if bars and (not seen or bars[0]["pos"] != seen[-1]):
                seen.append(bars[0]["pos"])
                if 0 < bars[0]["pos"] < bars[0]["max"]:
                    break
            time.sleep(0.2)
        self.assertTrue(seen and 0 < seen[-1] < 1000, "the bar showed only %s while EXTRACT was held" % seen)
        os.remove(hold)
        self.wait_for_button(text("en-us", "loc_UI_Finish_Button"), 240)
        self.click(text("en-us", "loc_UI_Launch_box"))
        self.click(text("en-us", "loc_UI_Finish_Button"))
        self.assertEqual(proc.wait(60), 0, proc.output())
        self.assertEqual(self.installed_locales(), ["all", "en-us"])
        self.assertEqual(wt.heap_faults(proc.output()[1]), [])

    def programs_started(self, args, cwd=None):
        """Runs the script unattended with Wine's DLL-load trace and returns
        (exit code, the programs of the processes it started, itself
        included): each process loads kernel32 once, just after its .exe."""
        proc = self.start("wscript.exe", args, env={"WINEDEBUG": "-all,+loaddll"}, cwd=cwd)
        code = proc.wait(300)
        programs, last = [], "?"
        for m in re.finditer(r'Loaded L"([^"]+)"', proc.output()[1]):
            base = m.group(1).replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
            if base.endswith(".exe"):
                last = base
            elif base == "kernel32.dll" and last not in WINE_SERVICES:
                programs.append(last)
        return code, programs

    def test_unattended_install_and_repair_start_a_handful_of_processes(self):
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        code, programs = self.programs_started([script, "VellumInstall", "/target:" + self.wtarget, "/q",
                                                "/acceptlicense"])
        self.assertEqual(code, 0, programs)
        self.assertEqual(self.installed_locales(), ["all", "en-us"])
        self.assertEqual(programs.count("extract.exe"), 1, programs)
        self.assertNotIn("cmd.exe", programs)
        # The script host, EXTRACT and its console (and Wine's start.exe,
        # which starts a program from the host): with the launcher, at most six.
        self.assertLessEqual(len(programs), 5, programs)

        # A repair with the kept script: one comparison that writes only
        # what is missing or changed.
        page = os.path.join(self.target, "locales", "en-us", "index.htm")
        with open(page, "rb") as f:
            original = f.read()
        os.remove(page)
        css = os.path.join(self.target, "locales", "en-us", "styles", "help.css")
        with open(css, "rb") as f:
            css_bytes = f.read()
        with open(css, "wb") as f:
            f.write(bytes([css_bytes[0] ^ 1]) + css_bytes[1:])
        kept = wt.to_windows(os.path.join(self.target, "VellumSetup.jse"))
        code, programs = self.programs_started([kept, "/repair", "/q"])
        self.assertEqual(code, 0, programs)
        with open(page, "rb") as f:
            self.assertEqual(f.read(), original)
        with open(css, "rb") as f:
            self.assertEqual(f.read(), css_bytes)
        # One comparison that writes; the copies killed runs left are known
        # from their record, without listing the temporary folder.
        self.assertEqual(programs.count("extract.exe"), 1, programs)
        self.assertLessEqual(len(programs), 6, programs)
        self.assertNotIn("cmd.exe", programs)


INSTALLER = os.environ.get("VELLUM_INSTALLER_FULL", "")


@unittest.skipUnless(INSTALLER and os.path.isfile(INSTALLER), "no VellumInstaller with the full payload")
class LauncherToFinishTest(InstallationCase):
    """VellumInstaller itself writes the working folder and starts the
    script through the shell; the rest is the same walk."""

    def start_script(self):
        self.launcher_work = os.path.join(wt.windows_temp(), "_hsc_Vellum")
        shutil.rmtree(self.launcher_work, ignore_errors=True)
        return self.start(INSTALLER, ["/target:" + self.wtarget])

    def test_install_en_us(self):
        launcher = self.start_script()
        self.walk_to_install("en-us")
        self.assertEqual(launcher.wait(30), 0)  # the launcher ended after starting the script
        # The running script's lock and scratch listings are not the launcher's.
        names = [n for n in os.listdir(self.launcher_work)
                 if n not in ("VellumSetup.lock", "VellumSetup.list", "VellumSetup.progress", "VellumSetup.plan")
                 and not n.startswith("~vx")]
        self.assertEqual(len(names), 378)  # 377 payload files and the list
        self.assertIn("de-de_desktops_Heron_Windows XP Media Center.cab", names)
        self.wait_for_button(text("en-us", "loc_UI_Finish_Button"), 240)
        self.click(text("en-us", "loc_UI_Launch_box"))
        self.click(text("en-us", "loc_UI_Finish_Button"))
        start_page = os.path.join(self.target, "locales", "en-us", "index.htm")
        deadline = time.time() + 60
        while any(p["exe"].lower() == "wscript.exe" for p in wt.processes()):
            self.assertLess(time.time(), deadline, "the installation script did not end")
            time.sleep(0.5)
        self.assertTrue(os.path.isfile(start_page))
        self.assertEqual(self.installed_locales(), ["all", "en-us"])
        self.assert_unregistered()


class UnattendedUninstallTest(InstallationCase):
    """An unattended uninstall under this host, whose script host cannot
    delete registry values: the one removal run deletes the entry and the
    kept digest after the files, and no reg.exe is started."""

    programs_started = InstallationTest.programs_started

    def registered(self, key, name=None):
        args = ["regget", "--key", key, "--name", name] if name else ["regtree", "--key", key]
        return wt.inspector_answer(args, 60)["code"] == 0

    def test_the_removal_run_deletes_the_entry_and_digest(self):
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        code, _ = self.programs_started([script, "VellumInstall", "/target:" + self.wtarget, "/q", "/acceptlicense"])
        self.assertEqual(code, 0)
        digest = self.wtarget.lower().replace("\\", "/")
        self.assertTrue(self.registered(product.UNINSTALL_KEY))
        self.assertTrue(self.registered(product.MANIFESTS_KEY, digest))
        with open(os.path.join(self.target, "mine.txt"), "wb") as f:
            f.write(b"the user's")
        kept = wt.to_windows(os.path.join(self.target, "VellumSetup.jse"))
        # A log named relative to the current folder stays that file although
        # the run moves its current folder out of the install folder.
        code, programs = self.programs_started([kept, "/uninstall", "/q", "/log:uninstall.log"], cwd=self.tmp)
        self.assertEqual(code, 0, programs)
        with open(os.path.join(self.tmp, "uninstall.log"), encoding="ascii") as f:
            lines = f.read().splitlines()
        self.assertIn("\tstart\tuninstall, quiet", lines[0])
        self.assertTrue(lines[-1].endswith("\toutcome\texit code 0"), lines)
        self.assertEqual(os.listdir(self.target), ["mine.txt"])
        self.assertFalse(self.registered(product.UNINSTALL_KEY))
        self.assertFalse(self.registered(product.MANIFESTS_KEY, digest))
        # The kept script goes on itself: one script host, one EXTRACT (run
        # from its copy in %TEMP%, which goes too) and its console, besides
        # the start.exe that Wine starts a program from this side with.
        self.assertNotIn("reg.exe", programs)
        self.assertEqual(programs.count("extract.exe"), 1, programs)
        self.assertEqual(programs.count("wscript.exe"), 1, programs)
        self.assertLessEqual(len([p for p in programs if p != "start.exe"]), 3, programs)
        self.assertEqual([n for n in os.listdir(wt.windows_temp()) if n.startswith("VellumMaintenance")], [])


if __name__ == "__main__":
    unittest.main()
