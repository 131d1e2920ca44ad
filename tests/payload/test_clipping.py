"""Every translation fits its control: the wizard's four pages and the
progress window (its three texts) in all 19 locales, with the catalogues and
license texts of the full payload, and the maintenance VellumSetup's
progress window (verifying, fixing, uninstalling) with its own catalogues as
common.cab carries them, and the boxes uninstall and repair show; each
control's text measured in its own font against its rectangle."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, os.path.join(ROOT, "payload", "full"))

import locales  # noqa: E402
import maintenance_texts  # noqa: E402
import shutil  # noqa: E402
import subprocess  # noqa: E402
import time  # noqa: E402
import ui_texts  # noqa: E402
from harness import product, winetest  # noqa: E402
from wizard.wizardtest import LBL_DESC, NEXT, OPT_AGREE, Host, control  # noqa: E402

FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")

# Shows the progress window in each mode for each locale, one server after
# another from one script host: at each mode it waits for the test to measure
# it ("shown<mode>-<locale>" written, "ack<mode>-<locale>" read), then ends
# that server and waits for the test to see it gone ("done-<locale>"
# written, "gone-<locale>" read). The maintenance build has no wizard: its locale comes from the
# registry, read at its first text, so the driver sets it before each server.
PROGRESS_DRIVER = r"""
var code = 3;
try {
    var fso = new ActiveXObject("Scripting.FileSystemObject");
    var shell = new ActiveXObject("WScript.Shell");
    var dir = WScript.Arguments(0), locales = WScript.Arguments(1).split(",");
    var registryLocale = WScript.Arguments(2) == "-" ? "" : WScript.Arguments(2);
    var modes = WScript.Arguments(3).split(",");
    var awaitFile = function (name) {
        var end = new Date().getTime() + 60000;
        while (!fso.FileExists(dir + "\\" + name)) {
            if (new Date().getTime() > end) { throw new Error("no " + name); }
            // This host's WScript.Sleep is not implemented: a short spin.
            var pause = new Date().getTime() + 20;
            while (new Date().getTime() < pause) { }
        }
    };
    var signal = function (name) { fso.CreateTextFile(dir + "\\" + name, true).Close(); };
    for (var i = 0; i < locales.length; i++) {
        if (registryLocale) { shell.RegWrite(registryLocale, locales[i], "REG_SZ"); }
        var c = new ActiveXObject("VellumSetup.controller");
        if (!registryLocale) { c.showWizard(locales[i]); }
        c.setMaxValue(100);
        for (var m = 0; m < modes.length; m++) {
            c.showProgress(+modes[m]);
            c.setProgress(50, false);
            signal("shown" + modes[m] + "-" + locales[i]);
            awaitFile("ack" + modes[m] + "-" + locales[i]);
        }
        // closeProgress ends the server without a question (closeAll would
        // ask the exit one with the wizard open), and the release lets it go
        // at once. Not a kill: a server killed in a session can leave the
        // next activation a dead class object.
        c.closeProgress();
        c = null;
        CollectGarbage();
        signal("done-" + locales[i]);
        awaitFile("gone-" + locales[i]);
    }
    code = 0;
} catch (e) { WScript.Echo("driver: " + e.message + " (" + (e.number >>> 0).toString(16) + ")"); code = 2; }
WScript.Quit(code);
"""
PROGRESS_KEYS = {1: "loc_UI_Install_Progress", 0: "loc_UI_Info_Checking", 2: "loc_UI_Info_Fixing"}

MAINTENANCE_KEYS = {0: "loc_UI_Info_Checking", 2: "loc_UI_Info_Fixing", 3: "loc_UI_Uninstall_Progress"}
# The texts of the progress window; every other maintenance text is shown
# in a box: each line of the driver's file is a title, a tab, a text.
BOXLESS_KEYS = ("loc_UI_Title", "loc_UI_Info_Checking", "loc_UI_Info_Fixing", "loc_UI_Uninstall_Progress")
BOX_DRIVER = r"""
var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var stream = fso.OpenTextFile(WScript.Arguments(0), 1, false, -1);
var lines = stream.ReadAll().split("\n");
stream.Close();
for (var i = 0; i < lines.length; i++) {
    var tab = lines[i].indexOf("\t");
    shell.Popup(lines[i].substring(tab + 1), 0, lines[i].substring(0, tab), 48 | 0x50000);
}
WScript.Quit(0);
"""
LOCALE_KEY = product.LOCALE_KEY


@unittest.skipUnless(FILES and os.path.isdir(FILES), "no built full payload")
class ClippingTest(winetest.WineTestCase):
    def measure(self, host, page, loc):
        answer = winetest.inspector("measure", "--hwnd", host.hwnd)
        clipped = [(c["text"], c["need_width"], c["room_width"], c["need_height"], c["room_height"])
                   for c in answer["controls"] if not c["fits"] and not c.get("scrollable")]
        self.assertEqual(clipped, [], "%s, %s page" % (loc, page))
        return answer

    def test_all_locales_fit(self):
        # The next locale's host starts while this one is measured.
        def start_host(loc):
            files = {}
            for name in (locales.catalogue_name(loc), locales.license_name(loc)):
                with open(os.path.join(FILES, name), "rb") as f:
                    files[name] = f.read()
            return Host(self, files=files, locale=loc, wait=False)

        following = start_host(locales.LOCALES[0])
        for n, loc in enumerate(locales.LOCALES):
            with self.subTest(locale=loc):
                host = following
                following = start_host(locales.LOCALES[n + 1]) if n + 1 < len(locales.LOCALES) else None
                try:
                    host.ready()
                    welcome = self.measure(host, "welcome", loc)
                    # The catalogue really was read: no English fallback caption.
                    if not loc.startswith("en-"):
                        self.assertNotIn("Next >", [c["text"] for c in welcome["controls"]])
                    host.click(NEXT)
                    self.measure(host, "license", loc)
                    host.click(OPT_AGREE)
                    host.click(NEXT)
                    self.measure(host, "ready", loc)
                    host.command("press-next")  # Install: the installing state
                    host.command("press-next")  # the finish page
                    self.measure(host, "finish", loc)
                    # The catalogue's texts reach the screen as written,
                    # it-it's trailing blank included.
                    texts = ui_texts.TEXTS[loc]
                    shown = control(host.dump(), LBL_DESC)["text"]
                    self.assertEqual(texts[ui_texts.KEYS.index("loc_UI_Finish_Desc")] + "\r\n\r\n" +
                                     texts[ui_texts.KEYS.index("loc_UI_Finish_Prompt")], shown)
                    if loc == "it-it":
                        self.assertTrue(shown.endswith("dall'installazione "), repr(shown[-30:]))
                finally:
                    host.quit()

    def test_progress_window_fits_in_all_locales(self):
        folder = os.path.join(self.tmp, "setup")
        os.makedirs(folder)
        shutil.copy(os.path.join(FILES, "VellumSetup.exe"), folder)
        for loc in locales.LOCALES:
            shutil.copy(os.path.join(FILES, locales.catalogue_name(loc)), folder)
        self.check_progress_window(folder, PROGRESS_KEYS, ui_texts)

    def test_maintenance_progress_window_fits_in_all_locales(self):
        cab = os.path.join(self.tmp, "common")
        os.makedirs(cab)
        subprocess.run(["gcab", "-x", "-C", cab, os.path.join(FILES, "common.cab")], check=True,
                       stdout=subprocess.DEVNULL)
        self.addCleanup(winetest.inspector, "regdel", "--key", LOCALE_KEY, "--name", "localeId", check=False)
        self.check_progress_window(os.path.join(cab, "uninstallUI"), MAINTENANCE_KEYS, maintenance_texts,
                                   registry_locale=LOCALE_KEY + "\\localeId")

    def test_maintenance_boxes_fit_in_all_locales(self):
        # The boxes of uninstall and repair size themselves; a text they cannot
        # wrap (a long run without blanks, CJK) would still be cut off. The
        # three longest of each locale, filled in as a run fills them.
        lines = []
        for loc in locales.LOCALES:
            texts = dict(zip(maintenance_texts.KEYS, maintenance_texts.TEXTS[loc]))
            boxed = [t.replace("%1", "C:\\Program Files\\Quillfeather\\VellumMaintenance\\manifest.txt")
                     .replace("%2", "Permission denied") for k, t in texts.items() if k not in BOXLESS_KEYS]
            for n, text in enumerate(sorted(boxed, key=len)[-3:]):
                lines.append(("%s %s %d" % (texts["loc_UI_Title"], loc, n), text))
        listing = os.path.join(self.tmp, "boxes.txt")
        with open(listing, "wb") as f:
            f.write("\n".join(t + "\t" + x for t, x in lines).encode("utf-16"))
        driver = os.path.join(self.tmp, "boxes.js")
        with open(driver, "w", newline="\r\n") as f:
            f.write(BOX_DRIVER)
        proc = self.start("cscript.exe", ["//nologo", winetest.to_windows(driver), winetest.to_windows(listing)])
        for title, text in lines:
            with self.subTest(box=title):
                box = winetest.inspector("msgbox", "--title", title, "--timeout", "60000")
                self.assertEqual(box["text"], text)
                answer = winetest.inspector("measure", "--hwnd", box["hwnd"])
                self.assertEqual([c["text"] for c in answer["controls"] if not c["fits"]], [])
                winetest.inspector("answer", "--button", "ok", "--title", title, "--timeout", "10000")
        self.assertEqual(proc.wait(60), 0, proc.output())

    def check_progress_window(self, folder, keys, table, registry_locale="-"):
        driver = os.path.join(folder, "driver.js")
        with open(driver, "w", newline="\r\n") as f:
            f.write(PROGRESS_DRIVER)
        setup = os.path.join(folder, "VellumSetup.exe")
        self.assertIn(winetest.run(setup, ["/RegServer"]).code, (0, 1))
        self.addCleanup(winetest.run, setup, ["/UnregServer"])
        signals = os.path.join(self.tmp, "signals-" + table.__name__)
        os.makedirs(signals)
        proc = self.start("cscript.exe", ["//nologo", winetest.to_windows(driver), winetest.to_windows(signals),
                                          ",".join(locales.LOCALES), registry_locale,
                                          ",".join(str(m) for m in keys)])

        def await_signal(name):
            deadline = time.monotonic() + 60
            while not os.path.exists(os.path.join(signals, name)):
                self.assertIsNone(proc.poll(), proc.output())
                self.assertLess(time.monotonic(), deadline, "%s never came" % name)
                time.sleep(0.02)

        def signal(name):
            open(os.path.join(signals, name), "w").close()

        for loc in locales.LOCALES:
            with self.subTest(locale=loc):
                server = None
                for mode, key in keys.items():
                    await_signal("shown%d-%s" % (mode, loc))
                    if server is None:
                        new = [p["pid"] for p in winetest.processes() if p["exe"].lower() == "vellumsetup.exe"
                               and p["pid"] not in self._baseline]
                        self.assertEqual(len(new), 1, "%s: one server expected, found %r" % (loc, new))
                        server = new[0]
                    answer = winetest.inspector("measure", "--class", product.PROGRESS_CLASS, "--pid", server,
                                                "--visible")
                    want = table.TEXTS[loc][table.KEYS.index(key)]
                    self.assertIn(want, [c["text"] for c in answer["controls"]], (loc, mode))
                    clipped = [c for c in answer["controls"] if not c["fits"]]
                    self.assertEqual(clipped, [], (loc, mode))
                    signal("ack%d-%s" % (mode, loc))
                await_signal("done-" + loc)
                self.assertEqual(winetest.wait_exit(server, 30), 0, "%s: the server's end" % loc)
                signal("gone-" + loc)
        self.assertEqual(proc.wait(60), 0, proc.output())

if __name__ == "__main__":
    unittest.main()
