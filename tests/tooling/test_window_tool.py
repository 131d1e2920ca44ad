"""The inspector and the harness against the fixture window, whose controls
and message boxes have known values: what every other Wine test relies on."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from harness import winetest
from harness.winetest import InspectorError, inspector



def twips(value, dpi):
    return value * dpi // 1440


class FixtureWindowTest(winetest.WineTestCase):
    def setUp(self):
        super().setUp()
        # A title of its own, so a window left by anything else never answers.
        self.title = "Inspector Fixture %s" % os.path.basename(self.tmp)
        self.fixture = self.start(winetest.program("fixturewin"), ["--title", self.title])
        self.window = winetest.wait_window(self.title, timeout=30)
        self.hwnd = self.window["hwnd"]

    def dump(self):
        return inspector("dump", "--hwnd", self.hwnd)

    def control(self, dump, cid):
        matches = [c for c in dump["controls"] if c["id"] == cid]
        self.assertEqual(len(matches), 1, "control %d" % cid)
        return matches[0]

    def result_label(self):
        return self.control(self.dump(), 501)["text"]

    def test_dump_reports_state_geometry_and_texts(self):
        d = self.dump()
        self.assertEqual(d["title"], self.title)
        self.assertEqual(d["class"], "VellumFixtureWindow")
        self.assertTrue(d["visible"])
        dpi = d["dpi"]
        self.assertEqual(d["client"], {"width": twips(6600, dpi), "height": twips(4200, dpi)})
        self.assertEqual([c["id"] for c in d["controls"]],
                         [504, 101, 102, 103, 104, 105, 106, 201, 301, 401, 501, 502, 503, 505])
        self.assertEqual(d["icon_big"], {"width": 32, "height": 32})
        self.assertEqual(d["icon_small"], {"width": 16, "height": 16})
        self.assertEqual(d["focus_id"], 102)
        self.assertTrue(self.control(d, 102)["focused"])

        warning = self.control(d, 101)
        self.assertEqual(warning["text"], "&Warning")
        self.assertEqual(warning["rect"], {"left": twips(120, dpi), "top": twips(480, dpi),
                                           "width": twips(1500, dpi), "height": twips(375, dpi)})
        self.assertEqual(warning["button_type"], "pushbutton")
        # Fonts are read inside the fixture's process: 8 and 12 points Tahoma.
        self.assertEqual(d["probe_error"], "")
        self.assertEqual((warning["font"]["face"], warning["font"]["height"], warning["font"]["weight"]),
                         ("Tahoma", -round(8 * dpi / 72), 400))
        heading = self.control(d, 504)["font"]
        self.assertEqual((heading["face"], heading["height"], heading["weight"]),
                         ("Tahoma", -round(12 * dpi / 72), 700))

        disabled, hidden = self.control(d, 105), self.control(d, 106)
        self.assertFalse(disabled["enabled"])
        self.assertTrue(disabled["visible"])
        self.assertFalse(hidden["visible"])
        self.assertFalse(hidden["own_visible"])

        self.assertEqual(self.control(d, 201)["checked"], 1)
        self.assertEqual(self.control(d, 301)["progress"],
                         {"pos": 42, "min": 0, "max": 100, "smooth": False, "vertical": False})

        log = self.control(d, 401)
        self.assertGreater(len(log["text"]), 10000)
        self.assertTrue(log["text"].startswith("Line 001 of"))
        self.assertTrue(log["text"].endswith("\r\nEND"))
        self.assertEqual(log["edit"], {"readonly": True, "multiline": True, "vscroll": True})

    def test_snapshot_agrees_with_dump_and_tells_ended_processes(self):
        pid = self.window["pid"]
        inspector("hold", "--pid", pid)
        d = self.dump()
        by_pid = inspector("snapshot", "--pid", pid)
        self.assertEqual(by_pid["processes"], [{"pid": pid}])
        self.assertEqual([w for w in by_pid["windows"] if w["hwnd"] == self.hwnd],
                         [w for w in inspector("snapshot", "--exe", "fixturewin.exe")["windows"]
                          if w["hwnd"] == self.hwnd])
        window = [w for w in by_pid["windows"] if w["hwnd"] == self.hwnd][0]
        seen = {c["id"]: c for c in window["controls"]}
        self.assertEqual(sorted(seen), sorted(c["id"] for c in d["controls"]))
        for c in d["controls"]:
            s = seen[c["id"]]
            self.assertEqual((s["visible"], s["own_visible"], s["enabled"], s["focused"], s.get("checked")),
                             (c["visible"], c["own_visible"], c["enabled"], c["focused"], c.get("checked")), c["id"])
            self.assertEqual(s["text"], "" if c["class"].lower() == "edit" else c["text"], c["id"])
        # A process that ended at once still tells its code when started held.
        fixture = winetest.to_windows(winetest.program("fixturewin"))
        ended = inspector("run", "--hold", "--", fixture, "--exit", "7")["pid"]
        self.assertEqual(inspector("waitpid", "--pid", ended, "--timeout", 30000)["exit_code"], 7)
        self.assertEqual(inspector("snapshot", "--pid", ended, "--pid", pid)["processes"], [{"pid": pid}])

    def test_x_input_clicks_at_a_snapshot_position(self):
        x = winetest.XInput()
        self.addCleanup(x.close)
        winetest.keys(hwnd=self.hwnd)  # in front, with the X focus
        window = [w for w in inspector("snapshot", "--pid", self.window["pid"])["windows"]
                  if w["hwnd"] == self.hwnd][0]
        r = [c for c in window["controls"] if c["id"] == 103][0]["rect"]  # "Error"
        x.click(r["left"] + r["width"] // 2, r["top"] + r["height"] // 2)
        box = inspector("msgbox", "--pid", self.window["pid"], "--timeout", 10000)
        self.assertEqual(box["title"], "Fixture error")
        x.key("Return")
        inspector("wait", "--hwnd", box["hwnd"], "--gone", "--timeout", 10000)
        self.assertEqual(self.result_label(), "answer=1")

    def test_message_boxes_are_read_and_answered(self):
        cases = [
            ("Warning", "Fixture warning", "Something went wrong.", "exclamation", [1], "ok", 1),
            ("Question", "Fixture question", "Do you want to go on?", "question", [6, 7], "no", 7),
            ("Error", "Fixture error", "The file cannot be created.", "stop", [1], "ok", 1),
            ("Note", "Fixture note", "All done.", "information", [1], "ok", 1),
        ]
        for button, title, text, icon, ids, answer, answer_id in cases:
            with self.subTest(button=button):
                inspector("click", "--hwnd", self.hwnd, "--text", button)
                box = inspector("msgbox", "--pid", self.window["pid"], "--timeout", 10000)
                self.assertEqual(box["title"], title)
                self.assertEqual(box["text"], text)
                self.assertEqual(box["icon"], icon)
                self.assertEqual([b["id"] for b in box["buttons"]], ids)
                self.assertEqual(box["default_id"], ids[0])
                self.assertEqual(box["owner"], self.hwnd)
                self.assertTrue(inspector("answer", "--button", answer, "--pid", self.window["pid"])["closed"])
                self.assertEqual(self.result_label(), "answer=%d" % answer_id)

    def test_click_refuses_disabled_and_hidden_controls_unless_forced(self):
        for text in ("Disabled", "Hidden"):
            with self.assertRaises(InspectorError) as caught:
                inspector("click", "--hwnd", self.hwnd, "--text", text)
            self.assertEqual(caught.exception.code, 3)
        with self.assertRaises(InspectorError) as caught:
            inspector("answer", "--button", "ok", "--pid", self.window["pid"], "--timeout", 500)
        self.assertEqual(caught.exception.code, 2)

        inspector("click", "--hwnd", self.hwnd, "--id", 105, "--force")
        box = inspector("msgbox", "--title", "Fixture forced", "--timeout", 10000)
        self.assertEqual(box["icon"], "none")
        inspector("answer", "--button", "ok", "--title", "Fixture forced")
        self.assertEqual(self.result_label(), "answer=1")

    def test_keys_reach_the_focused_control(self):
        winetest.keys("space", hwnd=self.hwnd)  # the focus is on "Question"
        box = inspector("msgbox", "--pid", self.window["pid"], "--timeout", 10000)
        self.assertEqual(box["title"], "Fixture question")
        inspector("answer", "--button", "yes", "--pid", self.window["pid"])
        self.assertEqual(self.result_label(), "answer=6")

    def test_measure_tells_clipped_text_from_fitting_text(self):
        m = inspector("measure", "--hwnd", self.hwnd)
        by_id = {c["id"]: c for c in m["controls"]}
        self.assertFalse(by_id[502]["fits"])
        self.assertTrue(by_id[503]["fits"])
        self.assertTrue(by_id[101]["fits"])
        self.assertTrue(by_id[201]["fits"])
        self.assertFalse(by_id[505]["fits"])
        self.assertEqual(by_id[505]["kind"], "push")
        self.assertFalse(m["all_fit"])
        self.assertNotIn(106, by_id)  # hidden controls are not measured

    def test_close_box_ends_the_window(self):
        inspector("close", "--hwnd", self.hwnd)
        inspector("wait", "--hwnd", self.hwnd, "--gone", "--timeout", 10000)
        self.assertEqual(self.fixture.wait(30), 0)


class WatchTest(winetest.WineTestCase):
    def test_watch_records_every_step_until_the_window_goes(self):
        title = "Counting %s" % os.path.basename(self.tmp)
        watch = winetest.inspector_background("watch", "--title", title, "--id", 301, "--id", 501,
                                              "--timeout", 30000, "--for", 30000)
        fixture = self.start(winetest.program("fixturewin"), ["--title", title, "--count"])
        result = watch.result(timeout=90)
        self.assertTrue(result["gone"])
        self.assertEqual([c["pos"] for c in result["changes"] if c["id"] == 301], list(range(0, 101, 10)))
        self.assertEqual([c["text"] for c in result["changes"] if c["id"] == 501], ["answer=none", "done"])
        times = [c["t"] for c in result["changes"]]
        self.assertEqual(times, sorted(times))
        self.assertEqual(fixture.wait(30), 0)


class ProcessAndEnvironmentTest(winetest.WineTestCase):
    def env_of(self, path):
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        return dict(line.split("=", 1) for line in lines if "=" in line[1:])

    def test_run_gives_exact_environment(self):
        out = os.path.join(self.tmp, "env.txt")
        answer = self.run_windows([winetest.to_windows(winetest.program("fixturewin")),
                                   "--env-out", winetest.to_windows(out)],
                                  env={"TEMP": "", "VELLUM_PROBE": "ünï €"}, unset=["TMP"], wait=30)
        self.assertEqual(answer["exit_code"], 0)
        seen = self.env_of(out)
        self.assertEqual(seen["TEMP"], "")
        self.assertNotIn("TMP", {k.upper() for k in seen})
        self.assertEqual(seen["VELLUM_PROBE"], "ünï €")

    def test_run_passes_arguments_unchanged(self):
        out = os.path.join(self.tmp, "args.txt")
        odd = ["two words", 'a "quoted" word', "trailing\\", "back\\slash \\\"", "", "ünï"]
        answer = self.run_windows([winetest.to_windows(winetest.program("fixturewin")),
                                   "--args-out", winetest.to_windows(out)] + odd, wait=30)
        self.assertEqual(answer["exit_code"], 0)
        with open(out, encoding="utf-8") as f:
            self.assertEqual(f.read().split("\n")[:-1], odd)

    def test_unix_temp_does_not_reach_a_program_started_from_the_host(self):
        out = os.path.join(self.tmp, "env.txt")
        r = winetest.run(winetest.program("fixturewin"), ["--env-out", winetest.to_windows(out)],
                         env={"TEMP": "/tmp/elsewhere", "VELLUM_PROBE": "host"})
        self.assertEqual(r.code, 0)
        seen = self.env_of(out)
        self.assertEqual(seen["VELLUM_PROBE"], "host")
        self.assertNotEqual(seen["TEMP"], "/tmp/elsewhere")
        self.assertTrue(os.path.isdir(winetest.to_unix(seen["TEMP"])))
        self.assertEqual(winetest.windows_temp(), winetest.to_unix(seen["TEMP"]))

    def test_exit_codes_waits_and_kill(self):
        fixture = winetest.to_windows(winetest.program("fixturewin"))
        self.assertEqual(self.run_windows([fixture, "--exit", "7"], wait=30)["exit_code"], 7)
        started = self.run_windows('"%s" --title "Kill me"' % fixture)
        winetest.wait_window("Kill me", timeout=30, pid=started["pid"])
        with self.assertRaises(InspectorError) as caught:
            inspector("waitpid", "--pid", started["pid"], "--timeout", 200)
        self.assertEqual(caught.exception.code, 2)
        self.assertFalse(caught.exception.output["exited"])
        self.assertTrue(inspector("kill", "--pid", started["pid"], "--code", 9)["killed"])
        self.assertTrue(inspector("waitpid", "--pid", started["pid"])["exited"])

        # A window that never comes: the failure says that its program ended, and how.
        ended = self.start(winetest.program("fixturewin"), ["--exit", "5"])
        self.assertEqual(ended.wait(30), 5)
        with self.assertRaises(AssertionError) as caught:
            winetest.wait_window("Never shown", timeout=0.5)
        self.assertIn("no window with title", str(caught.exception))
        self.assertRegex(str(caught.exception), r"host %d .*--exit 5: exit 5" % ended.pid)


    def test_threads_tells_a_process_that_never_started(self):
        # A process whose creator died half-way keeps its first thread
        # suspended; threads must tell it from a running one and let it run.
        fixture = winetest.to_windows(winetest.program("fixturewin"))
        asleep = inspector("run", "--suspended", "--", fixture, "--title", "Asleep")
        self._windows_pids.append(asleep["pid"])
        running = self.run_windows([fixture, "--title", "Awake"])
        winetest.wait_window("Awake", timeout=30, pid=running["pid"])
        self.assertEqual(inspector("threads", "--pid", asleep["pid"])["suspended"], 1)
        self.assertEqual(inspector("threads", "--pid", running["pid"])["suspended"], 0)
        self.assertNotIn("Asleep", [w["title"] for w in inspector("list", "--all")])
        self.assertEqual(inspector("threads", "--pid", asleep["pid"], "--resume")["suspended"], 1)
        winetest.wait_window("Asleep", timeout=30, pid=asleep["pid"])
        self.assertEqual(inspector("threads", "--pid", asleep["pid"])["suspended"], 0)

    def test_wine_runs_without_address_randomization(self):
        # Without it Debian's 64-bit loader now and then fails a start with
        # exit 1 and no word (scripts/fixed-layout.sh).
        def fixed(pid):
            with open("/proc/%d/personality" % pid) as f:
                return bool(int(f.read(), 16) & winetest._ADDR_NO_RANDOMIZE)

        if subprocess.run(["setarch", os.uname().machine, "-R", "true"], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("this kernel refuses to turn address randomization off")
        fixture = winetest.program("fixturewin")
        host = self.start(fixture, ["--title", "Host started"])
        winetest.wait_window("Host started", timeout=30)
        inner = self.run_windows([winetest.to_windows(fixture), "--title", "Started inside"])
        winetest.wait_window("Started inside", timeout=30, pid=inner["pid"])
        inner_unix = [int(p) for p in os.listdir("/proc") if p.isdigit() and
                      "Started inside" in winetest._read("/proc/%s/cmdline" % p)]
        self.assertEqual(1, len(inner_unix))
        server = winetest._server_pid(winetest.env()["WINEPREFIX"])
        self.assertTrue(server)
        for what, pid in (("the test", os.getpid()), ("host-started program", host.pid),
                          ("resident inspector", winetest.resident().proc.pid),
                          ("program a Windows program started", inner_unix[0]), ("wineserver", server)):
            self.assertTrue(fixed(pid), what)

        # The scripts run themselves again with it, from a shell without it.
        probe = os.path.join(self.tmp, "probe.sh")
        with open(probe, "w") as f:
            f.write('. "%s"\ncat /proc/self/personality\n' % os.path.join(winetest.ROOT, "scripts", "fixed-layout.sh"))
        out = subprocess.run(["setarch", os.uname().machine, "bash", probe], stdout=subprocess.PIPE, check=True,
                             timeout=30).stdout
        self.assertTrue(int(out, 16) & winetest._ADDR_NO_RANDOMIZE, out)

    def test_cleanup_ends_processes_the_test_did_not_track(self):
        fixture = winetest.to_windows(winetest.program("fixturewin"))
        started = winetest.run_windows([fixture, "--title", "Untracked"])  # not registered with the test
        winetest.wait_window("Untracked", timeout=30, pid=started["pid"])
        killed = self.kill_leftovers()
        self.assertIn(started["pid"], [p["pid"] for p in killed])
        self.assertTrue(inspector("waitpid", "--pid", started["pid"], "--timeout", 10000)["exited"])
        self.assertTrue(all(p["exe"].lower() not in winetest.WINE_SERVICES for p in killed))


class RegistryTest(winetest.WineTestCase):
    KEY = r"HKLM\SOFTWARE\VellumToolingTest"

    def tearDown(self):
        winetest.reg_delete(self.KEY)
        super().tearDown()

    def test_values_keep_exact_bytes(self):
        winetest.reg_set(self.KEY, "text", "sz", data="en-us")
        self.assertEqual(inspector("regget", "--key", self.KEY, "--name", "text"),
                         {"type": 1, "hex": "65006e002d00750073000000"})
        # A string stored without its terminator, as some writers leave it.
        winetest.reg_set(self.KEY, "bare", "sz", hexdata="41 00 42 00")
        self.assertEqual(inspector("regget", "--key", self.KEY, "--name", "bare")["hex"], "41004200")
        winetest.reg_set(self.KEY, "number", "dword", data=0x1234)
        self.assertEqual(inspector("regget", "--key", self.KEY, "--name", "number"),
                         {"type": 4, "hex": "34120000"})
        self.assertTrue(winetest.reg_delete(self.KEY, "number")["existed"])
        with self.assertRaises(InspectorError) as caught:
            inspector("regget", "--key", self.KEY, "--name", "number")
        self.assertEqual(caught.exception.code, 2)


class ServerLookupTest(unittest.TestCase):
    def test_the_server_is_the_one_whose_lock_is_held(self):
        # Folders of ended servers stay, and a prefix made where a removed
        # one was can get its inode, so several folders bear its name.
        root = tempfile.mkdtemp(prefix="serverlookup-")
        self.addCleanup(shutil.rmtree, root, True)
        prefix = os.path.join(root, "prefix")
        os.mkdir(prefix)
        st = os.stat(prefix)
        name = "server-%x-%x" % (st.st_dev, st.st_ino)
        locks = []
        for tag in "abcdefgh":
            os.makedirs(os.path.join(root, "wine-" + tag, name))
            locks.append(os.path.join(root, "wine-" + tag, name, "lock"))
            open(locks[-1], "wb").close()
        held = locks[5]
        holder = subprocess.Popen([sys.executable, "-c", "import fcntl, sys, time\n"
                                   "f = open(sys.argv[1], 'r+b'); fcntl.lockf(f, fcntl.LOCK_EX)\n"
                                   "print('held', flush=True); time.sleep(60)", held], stdout=subprocess.PIPE)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(b"held\n", holder.stdout.readline())
        old = os.environ.get("TMPDIR")
        os.environ["TMPDIR"] = root
        try:
            self.assertEqual(holder.pid, winetest._server_pid(prefix))
            self.assertEqual(holder.pid, winetest._server_pid(prefix))  # from what it found
            holder.kill()
            holder.wait()
            self.assertEqual(0, winetest._server_pid(prefix))
        finally:
            if old is None:
                del os.environ["TMPDIR"]
            else:
                os.environ["TMPDIR"] = old
            winetest._server_dirs.pop(prefix, None)


class PathTest(unittest.TestCase):
    def test_paths_convert_both_ways(self):
        self.assertEqual(winetest.to_windows("/tmp/a b/c.txt"), "Z:\\tmp\\a b\\c.txt")
        self.assertEqual(winetest.to_unix("Z:\\tmp\\a b\\c.txt"), "/tmp/a b/c.txt")
        self.assertEqual(winetest.to_unix("C:\\users\\x"), os.path.join(winetest.c_drive(), "users/x"))


if __name__ == "__main__":
    unittest.main()
