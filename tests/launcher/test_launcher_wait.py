"""VellumInstaller /wait under Wine: the launcher waits for the script it
started and returns the script's exit code (also a killed script's, all 32
bits), shows no window in silent mode, closes its window as usual in visible
mode and goes on waiting; its own failures move to 101-105; without the
switch it ends while the script still runs."""
import os
import subprocess
import time
import unittest

from harness import winetest as wt
from launcher.launcher_e2e import MAIN_CLASS, LauncherCase, headline, read_record


class MappedWindows:
    """Every top-level X window mapped on the test's display from now on,
    from the X server's own events: a window shown only for a moment is seen
    however loaded the machine is (polling for it could miss it)."""

    def __init__(self, case):
        env = wt.setup()
        self.path = os.path.join(case.tmp, "mapped-%d.txt" % len(os.listdir(case.tmp)))
        with open(self.path, "wb") as out:
            self.proc = subprocess.Popen(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"], env=env,
                                         stdout=out, stderr=subprocess.DEVNULL)
        case.addCleanup(self.stop)
        # Listening once a window of our own shows up in the record.
        deadline = time.time() + 60
        while not self.maps():
            case.assertLess(time.time(), deadline, "xev recorded no window")
            subprocess.run(["xmessage", "-timeout", "1", "probe"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        self.before = len(self.maps())

    def maps(self):
        with open(self.path, errors="replace") as f:
            return [line for line in f if line.startswith("MapNotify event")]

    def since(self):
        """The windows mapped since the recorder was ready."""
        return self.maps()[self.before:]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)


class LauncherWaitTest(LauncherCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.holdfile = wt.program("holdfile")

    def held_script(self, code=None):
        """The development script's environment: after recording its start
        it waits for the file `signal` (a host path), then ends with code."""
        signal = os.path.join(self.tmp, "go")
        env = {"VELLUM_DEV_WAIT_FOR": wt.to_windows(signal)}
        if code is not None:
            env["VELLUM_DEV_EXIT_CODE"] = str(code)
        return signal, env

    def watch(self, until, timeout=60):
        deadline = time.time() + timeout
        while not until():
            self.assertLess(time.time(), deadline, "timed out")
            time.sleep(0.05)

    def record_when_started(self):
        record = read_record(self.work("launched.txt"), timeout=60)
        self.assertIsNotNone(record, "the script did not run")
        return record

    def test_silent_wait_returns_the_script_code_and_shows_no_window(self):
        signal, env = self.held_script(42)
        mapped = MappedWindows(self)
        proc = self.start(self.dev, ["/q", "/WAIT"], env=env)
        self.watch(lambda: os.path.exists(self.work("launched.txt")))
        record = self.record_when_started()
        self.assertEqual(["VellumInstall", "/q", "/WAIT"], record["args"], "the switch is passed on unchanged")
        # The script waits for the signal: the launcher must still be waiting for it.
        self.assertIsNone(proc.poll(), "the launcher ended before the script")
        with open(signal, "w"):
            pass
        self.watch(lambda: proc.poll() is not None)
        self.assertEqual(42, proc.wait(5))
        self.assertEqual(mapped.since(), [], "a window showed in silent mode")

    def test_visible_wait_closes_the_window_and_goes_on_waiting(self):
        signal, env = self.held_script(3)
        mapped = MappedWindows(self)
        proc = self.start(self.dev, ["/wait"], env=env)
        self.watch(lambda: os.path.exists(self.work("launched.txt")))
        self.assertTrue(mapped.since(), "the window never showed")
        self.record_when_started()

        def launcher_windows():
            return [w for w in wt.inspector("list", "--all") if w["class"] == MAIN_CLASS]
        self.watch(lambda: not launcher_windows())
        self.assertIsNone(proc.poll(), "the launcher ended before the script")
        with open(signal, "w"):
            pass
        self.assertEqual(3, proc.wait(60), "the script's code, not the launcher's 0")

    def test_killed_script_gives_the_code_the_system_reports(self):
        signal, env = self.held_script(0)
        # Started from inside the prefix, whose exit codes keep all 32 bits
        # (the host sees only the low 8); the inspector waits for it.
        args = ["run", "--wait", "120000"]
        for k, v in env.items():
            args += ["--env", "%s=%s" % (k, v)]
        launcher = wt.inspector_background(*(args + ["--", wt.to_windows(self.dev), "/s", "/wait"]))
        self._host_processes.append(launcher.process)
        self.record_when_started()
        scripts = wt.pids_of("wscript.exe")
        self.assertEqual(1, len(scripts), scripts)
        wt.inspector("kill", "--pid", scripts[0], "--code", 0xC000013A)
        answer = launcher.result(120)
        self.assertTrue(answer["exited"])
        self.assertEqual(0xC000013A, answer["exit_code"])

    def test_launcher_failure_moves_to_its_own_range(self):
        os.makedirs(self.workdir)
        holder = self.run_windows([wt.to_windows(self.holdfile), self.wtemp + "\\_hsc_Vellum\\VellumSetup.lock",
                                   "120"])
        deadline = time.time() + 20
        while not os.path.exists(self.work("VellumSetup.lock.held")):
            self.assertLess(time.time(), deadline, "the holder did not open the lock")
            time.sleep(0.1)
        proc = self.start(self.dev, ["/q", "/wait"])
        box = self.next_box()
        self.assertEqual("Another Quillfeather installation is running.", headline(box["text"]))
        self.answer()
        self.assertEqual(105, proc.wait(60), "5 (another installation runs) under /wait")
        self.assertFalse(os.path.exists(self.work("launched.txt")))
        wt.inspector("kill", "--pid", holder["pid"], check=False)

    def test_without_wait_the_launcher_ends_while_the_script_runs(self):
        signal, env = self.held_script(42)
        proc = self.start(self.dev, ["/q"], env=env)
        # It waits for the script's lock at most 15 s (this script takes none).
        self.assertEqual(0, proc.wait(90))
        self.record_when_started()
        scripts = wt.pids_of("wscript.exe")
        self.assertEqual(1, len(scripts), "the script still runs: %r" % scripts)
        with open(signal, "w"):
            pass
        deadline = time.time() + 60
        while wt.pids_of("wscript.exe"):
            self.assertLess(time.time(), deadline, "the script did not end after its signal")
            time.sleep(0.5)


if __name__ == "__main__":
    unittest.main()
