"""Failure paths of VellumInstaller under Wine: every failure shows its exact
text, title and icon and the run goes on; list lines that are not bare names
never leave the working folder; the close box is refused during extraction;
the exit code tells a failed start from a started script."""
import os
import shutil
import time
import unittest

from harness import winetest as wt
from launcher.launcher_e2e import (CANNOT_OPEN, DEV_PAYLOAD, FAULTS_PAYLOAD, MAIN_CLASS, LauncherCase, headline,
                                   payload_bytes, read_record)

TITLE = "Faulty Setup"  # the faulty payload's catalogue caption


class LauncherFaultsTest(LauncherCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.faults = wt.program("VellumInstallerFaults")
        cls.holdfile = wt.program("holdfile")

    def hold(self, name):
        """Another process holds the working-folder file open without sharing."""
        answer = self.run_windows([wt.to_windows(self.holdfile), self.wtemp + "\\_hsc_Vellum\\" + name, "120"])
        marker = self.work(name + ".held")
        deadline = time.time() + 20
        while not os.path.exists(marker) and time.time() < deadline:
            time.sleep(0.1)
        self.assertTrue(os.path.exists(marker), "the holder did not open " + name)
        return answer["pid"]

    def test_faulty_list_reports_each_file_and_goes_on(self):
        self.obstacle("blocked.txt")
        self.hold("held.txt")
        proc = self.start(self.faults)

        # Line 2, "..\escape.txt": held at its message box, the window refuses
        # to close by the close box, by WM_CLOSE and at the end of the session.
        box = self.next_box()
        self.assertEqual((TITLE, CANNOT_OPEN, "stop"), (box["title"], headline(box["text"]), box["icon"]))
        window = self.main_window()
        self.assertEqual(TITLE, window["title"])
        self.assertEqual(25, self.control(window, 1002)["progress"]["pos"])  # 2 of 8
        wt.inspector("close", "--class", MAIN_CLASS)
        wt.inspector("close", "--class", MAIN_CLASS, "--wmclose")
        ended = wt.run(wt.program("launcher_endsession"), [MAIN_CLASS], timeout=30)
        self.assertEqual(0, ended.code, "the session end was not refused")
        time.sleep(0.5)
        self.assertEqual(window["hwnd"], self.main_window()["hwnd"])
        self.assertEqual(box["hwnd"], self.next_box(2)["hwnd"])
        self.answer()

        self.expect_boxes([
            (TITLE, CANNOT_OPEN, "stop"),                         # sub/sub.txt
            (TITLE, CANNOT_OPEN, "stop"),                         # blocked.txt is a folder
            (TITLE, CANNOT_OPEN, "stop"),                         # held.txt is in use
            (TITLE, "hres is 0", "exclamation"),                  # nores.txt: no resource 108
            (TITLE, "Could not load resource.", "exclamation"),
        ])
        self.assertEqual(0, self.wait_exit(proc))

        self.assertFalse(os.path.exists(os.path.join(self.temp, "escape.txt")))
        self.assertFalse(os.path.exists(self.work("sub")))
        self.assertFalse(os.path.exists(self.work("nores.txt")))
        self.assertTrue(os.path.isdir(self.work("blocked.txt")))
        self.assertEqual(0, os.path.getsize(self.work("held.txt")))
        for name in ("InstallerUIText_en-us.xml", "plain.txt", "VellumSetup.jse"):
            with open(self.work(name), "rb") as f:
                self.assertEqual(payload_bytes(FAULTS_PAYLOAD, name), f.read(), name)
        record = read_record(self.work("launched.txt"))
        self.assertIsNotNone(record, "the script did not run")
        self.assertEqual(["VellumInstall"], record["args"])

    def test_file_list_that_cannot_be_written_stops_the_run(self):
        # A folder in its place, or the file held by another program: an
        # older list must not be followed. One box, exit 4, nothing written.
        self.obstacle("filesList.txt")
        proc = self.start(self.dev)
        box = self.next_box()
        # The run ended in the load step: its window was never shown.
        windows = wt.inspector("list", "--all")
        self.assertFalse([w for w in windows if w["class"] == MAIN_CLASS and w["visible"]])
        self.answer()
        self.assertEqual(("", CANNOT_OPEN, "stop"), (box["title"], headline(box["text"]), box["icon"]))
        self.assertIn("filesList.txt", box["text"])
        self.assertRegex(box["text"], r"\(error \d+\)")
        self.assertIn("Setup has stopped", box["text"])
        self.assertEqual(4, self.wait_exit(proc))
        self.assertEqual(["filesList.txt"], os.listdir(self.workdir))

        shutil.rmtree(self.workdir)
        os.makedirs(self.workdir)
        with open(self.work("filesList.txt"), "wb") as f:
            f.write(b"left by an earlier run\r\n")
        self.hold("filesList.txt")
        proc = self.start(self.dev, ["/q"])
        box = self.next_box()
        self.answer()
        self.assertEqual(("", CANNOT_OPEN, "stop"), (box["title"], headline(box["text"]), box["icon"]))
        self.assertIn("(error 32)", box["text"])  # the sharing violation, named
        self.assertEqual(4, self.wait_exit(proc))
        self.assertEqual(["filesList.txt", "filesList.txt.held"], sorted(os.listdir(self.workdir)))

    def test_script_that_cannot_be_started(self):
        # Without the .jse association the shell cannot start the script.
        wt.reg_delete(r"HKCR\.jse")
        self.addCleanup(wt.reg_set, r"HKCR\.jse", None, "sz", "JSEFile")
        proc = self.start(self.dev, ["-s"])
        box = self.next_box()
        self.answer()
        expected = 'error executing "%s\\_hsc_Vellum\\Vellumsetup.jse "\r\nerrorcode=31' % self.wtemp
        self.assertEqual(("Setup", expected.replace("\r\n", "\n"), "stop"),
                         (box["title"], headline(box["text"]), box["icon"]))
        self.assertRegex(box["text"], r"\r?\n\r?\n.+ \(error \d+\)$")  # the system's reason
        self.assertEqual(3, self.wait_exit(proc))
        self.assert_payload_written(DEV_PAYLOAD)

    def test_working_folder_that_cannot_be_created(self):
        # Started from inside the prefix with a TEMP whose parent is missing;
        # the starter waits in the background for the exit code.
        run = wt.inspector_background("run", "--env", "TEMP=C:\\no\\such\\folder", "--wait", "60000",
                                      "--", wt.to_windows(self.dev), "/q")
        box = self.next_box()
        self.answer()
        self.assertEqual(("", "stop"), (box["title"], box["icon"]))
        self.assertTrue(box["text"].startswith(
            "The working folder C:\\no\\such\\folder\\_hsc_Vellum\\ could not be created."), box["text"])
        self.assertGreater(len(box["text"].split("created.", 1)[1].strip()), 5, "no system error text")
        done = run.result(90)
        self.assertTrue(done["exited"])
        self.assertEqual(1, done["exit_code"])


if __name__ == "__main__":
    unittest.main()
