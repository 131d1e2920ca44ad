"""VellumInstaller end to end under Wine: silent and visible runs write the
payload byte for byte into the working folder (reused, nothing deleted) and
start the script with the right parameters and folder; the working folder
follows TEMP, also when it is unset, empty or outside the ANSI code page."""
import os
import re
import shutil
import subprocess
import time
import unittest

from harness import winetest as wt
from launcher.launcher_e2e import DEV_PAYLOAD, LauncherCase, list_names, payload_bytes, read_record


def visible_windows(pid, env):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return out.split()


class LauncherRunTest(LauncherCase):
    def run_watching_windows(self, args):
        """Runs the development launcher; returns (exit code, whether any
        window of it was seen on the display)."""
        env = wt.setup()
        proc = self.start(self.dev, args)
        seen = False
        deadline = time.time() + 60
        while proc.poll() is None and time.time() < deadline:
            seen = seen or bool(visible_windows(proc.pid, env))
            time.sleep(0.005)
        return proc.wait(5), seen

    def test_silent_run_reuses_the_folder_and_passes_the_arguments_on(self):
        os.makedirs(self.workdir)
        with open(self.work("sample.bin"), "wb") as f:
            f.write(b"z" * 5000)  # longer than the payload's: must be truncated
        with open(self.work("keep.txt"), "wb") as f:
            f.write(b"left from an earlier run")
        code, seen = self.run_watching_windows(["/Q", "two words", "\u0141\u00f3d\u017a"])
        self.assertEqual(0, code)
        self.assertFalse(seen, "a window showed in silent mode")
        self.assert_payload_written(DEV_PAYLOAD)
        with open(self.work("filesList.txt"), "rb") as f:
            self.assertEqual(payload_bytes(DEV_PAYLOAD, "filesList.txt"), f.read())
        with open(self.work("keep.txt"), "rb") as f:
            self.assertEqual(b"left from an earlier run", f.read())
        record = read_record(self.work("launched.txt"))
        self.assertIsNotNone(record, "the script did not run")
        self.assertEqual(["VellumInstall", "/Q", "two words", "\u0141\u00f3d\u017a"], record["args"])
        self.assertEqual(self.wtemp + "\\_hsc_Vellum", record["cwd"])
        self.assertEqual((self.wtemp + "\\_hsc_Vellum\\Vellumsetup.jse").lower(), record["script"].lower())

    def test_silent_run_loads_only_what_writing_needs_until_the_shell(self):
        # Common Controls and the XML parser serve a window or a box; a silent
        # run that needs neither loads neither before the shell starts the
        # script. (The display driver and the theme library come with the COM
        # apartment the shell wants, entered after the last file.)
        proc = self.start(self.dev, ["/q"], env={"WINEDEBUG": "-all,+loaddll"})
        self.assertEqual(0, proc.wait(60))
        self.assert_payload_written(DEV_PAYLOAD)
        self.assertIsNotNone(read_record(self.work("launched.txt")), "the script did not run")
        loads = [m.split("\\")[-1].lower() for m in re.findall(r'Loaded L"([^"]+)"', proc.output()[1])]
        self.assertIn("shell32.dll", loads)
        before_shell = loads[:loads.index("shell32.dll")]
        self.assertIn("velluminstallerdev.exe", before_shell)
        for name in ("comctl32.dll", "msxml3.dll"):
            self.assertNotIn(name, before_shell)

    def test_visible_run_with_empty_arguments(self):
        code, seen = self.run_watching_windows([])
        self.assertEqual(0, code)
        self.assertTrue(seen, "the window never showed")
        self.assert_payload_written(DEV_PAYLOAD)
        self.assertEqual(len(list_names(DEV_PAYLOAD)) + 1,
                         len([n for n in os.listdir(self.workdir) if n not in ("launched.txt", "VellumSetup.lock")]))
        record = read_record(self.work("launched.txt"))
        self.assertIsNotNone(record, "the script did not run")
        self.assertEqual(["VellumInstall"], record["args"])
        self.assertEqual(self.wtemp + "\\_hsc_Vellum", record["cwd"])

    def run_in_prefix(self, env=None, unset=(), cwd="C:\\users"):
        args = ["run", "--cwd", cwd, "--wait", "60000"]
        for k, v in (env or {}).items():
            args += ["--env", "%s=%s" % (k, v)]
        for k in unset:
            args += ["--unset", k]
        answer = wt.inspector(*(args + ["--", wt.to_windows(self.dev), "/q"]), timeout=120)
        self._windows_pids.append(answer["pid"])
        return answer

    def check_run_in(self, wfolder, answer):
        folder = wt.to_unix(wfolder)
        self.addCleanup(shutil.rmtree, folder, True)
        self.assertTrue(answer["exited"], wfolder)
        self.assertEqual(0, answer["exit_code"], wfolder)
        for name in list_names(DEV_PAYLOAD):
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(payload_bytes(DEV_PAYLOAD, name), f.read(), name)
        record = read_record(os.path.join(folder, "launched.txt"))
        self.assertIsNotNone(record, "the script did not run from " + wfolder)
        self.assertEqual(wfolder.rstrip("\\"), record["cwd"])
        self.assertEqual(["VellumInstall", "/q"], record["args"])

    def test_temp_outside_the_ansi_code_page(self):
        for leaf in ("\u0141ukasz", "\u4e34\u65f6\u6587\u4ef6"):
            wtemp = self.wtemp + "\\" + leaf
            os.makedirs(wt.to_unix(wtemp), exist_ok=True)
            self.addCleanup(shutil.rmtree, wt.to_unix(wtemp), True)
            answer = self.run_in_prefix(env={"TEMP": wtemp})
            self.check_run_in(wtemp + "\\_hsc_Vellum\\", answer)

    def test_temp_unset_or_empty_uses_the_root_of_the_current_drive(self):
        answer = self.run_in_prefix(unset=["TEMP"])
        self.check_run_in("C:\\_hsc_Vellum\\", answer)
        shutil.rmtree(wt.to_unix("C:\\_hsc_Vellum"), ignore_errors=True)
        answer = self.run_in_prefix(env={"TEMP": ""})
        self.check_run_in("C:\\_hsc_Vellum\\", answer)


if __name__ == "__main__":
    unittest.main()
