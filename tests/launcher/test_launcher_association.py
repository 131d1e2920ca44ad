"""What the shell starts for the installation script may not be the script
host: .jse files set to open in an editor, or in a program that ends at
once. The launcher then says the installation could not be started and
ends with 3 (103 under /wait), never 0. The script host that ends with a
code of its own before taking the script's lock is the script refusing:
that code is the result, without a box of the launcher's."""

import os
import time
import unittest

from harness import winetest as wt
from launcher.launcher_e2e import LauncherCase, read_record

OPEN = r"HKCR\JSEFile\shell\open\command"
HOST = '"C:\\windows\\system32\\wscript.exe" "%1" %*'
NOT_STARTED = "The installation could not be started: "


class AssociationTest(LauncherCase):
    def associate(self, command):
        wt.reg_set(OPEN, None, "sz", command)
        self.addCleanup(wt.reg_set, OPEN, None, "sz", HOST)

    def not_started_box(self, program, timeout=60):
        box = self.next_box(timeout)
        self.answer()
        self.assertEqual("stop", box["icon"])
        self.assertTrue(box["text"].startswith(NOT_STARTED), box["text"])
        self.assertIn(program, box["text"].lower())
        self.assertIn("\\_hsc_Vellum\\VellumSetup.jse", box["text"])
        return box

    def test_an_editor_opening_the_script_is_no_installation(self):
        self.associate('notepad.exe "%1"')
        before = set(wt.pids_of("notepad.exe"))
        self.addCleanup(self.kill_new_editors, before)
        started = time.time()
        proc = self.start(self.dev, ["/q", "/wait", "/acceptlicense"])
        self.not_started_box("notepad.exe", timeout=90)
        self.assertEqual(103, proc.wait(30))
        self.assertGreaterEqual(time.time() - started, 15, "decided before the script's time to take its lock")
        self.assertFalse(os.path.exists(self.work("launched.txt")))
        self.assertTrue(set(wt.pids_of("notepad.exe")) - before, "the editor was closed or never opened")

    def kill_new_editors(self, before):
        for pid in set(wt.pids_of("notepad.exe")) - before:
            wt.inspector("kill", "--pid", pid, check=False)

    def test_a_program_that_ends_at_once_is_no_installation(self):
        # Whatever its code; without /wait the launcher's own 3.
        self.associate('cmd.exe /c exit 5')
        for args, code in ((["/q"], 3), (["/q", "/wait"], 103)):
            with self.subTest(args=args):
                proc = self.start(self.dev, args)
                self.not_started_box("cmd.exe")
                self.assertEqual(code, proc.wait(30))

    def test_the_script_host_ending_before_the_lock(self):
        # Its own code is the script's refusal; 0 without the lock is not an installation.
        for script_code, args, code, box in ((7, ["/q", "/wait"], 7, False), (7, ["/q"], 0, False),
                                             (0, ["/q", "/wait"], 103, True), (0, ["/q"], 3, True)):
            with self.subTest(script_code=script_code, args=args):
                env = {"VELLUM_DEV_NO_LOCK": "1", "VELLUM_DEV_EXIT_CODE": str(script_code)}
                proc = self.start(self.dev, args, env=env)
                if box:
                    self.not_started_box("wscript.exe")
                self.assertEqual(code, proc.wait(60))
                self.assertIsNotNone(read_record(self.work("launched.txt")), "the script host ran the script")
                os.remove(self.work("launched.txt"))


if __name__ == "__main__":
    unittest.main()
