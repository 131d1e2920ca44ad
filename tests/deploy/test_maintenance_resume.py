"""Maintenance that can always go on, under Wine: an upgrade whose swap
cannot finish, a kept cabinet held open during the uninstall, runs killed
at the steps of an upgrade, in an uninstall's deletions and in a repair's
replacements, put right by the next run of each kind, and two uninstalls
at once. The helpers are those of test_maintenance_safety.py.
"""
import os
import shutil
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import test_maintenance_safety as tms  # noqa: E402
from test_maintenance_safety import KEY, MAINTENANCE, RUN_AGAIN, tis, wt  # noqa: E402,F401


@tms.td.ti.needs_payload
class MaintenanceResumeTest(tms.MaintenanceSafetyCase):
    def test_swap_that_cannot_finish_is_reported_and_does_not_block(self):
        self.install_quietly("3.0.5")
        self.add_user_files()
        # A killed upgrade left the earlier installation beside the folder;
        # meanwhile the user wrote a newer note of the same name.
        self.kill_at("swapped")
        previous = self.target + ".VellumPrevious"
        self.write(os.path.join(self.target, "notes", "mine.txt"), b"a newer note")

        code = self.install_into(self.target).wait(300)
        self.assertEqual(code, 10, self.read_text(self.log))
        self.assert_logged(self.log_lines(), "failed", "could not be moved into it", "Quillfeather.VellumPrevious.1")
        aside = previous + ".1"
        # Both notes are kept, each where the user is told; the rest moved over.
        self.assertEqual(self.read(os.path.join(aside, "notes", "mine.txt")), b"the user's own notes")
        self.assertEqual(self.read(os.path.join(self.target, "notes", "mine.txt")), b"a newer note")
        self.assertEqual(self.read(os.path.join(self.target, "README")), b"no extension, the user's")
        self.assertFalse(os.path.exists(os.path.join(aside, "locales")))
        self.assert_entry("3.0.6")

        # The next upgrade is not blocked by it.
        code = self.install_into(self.target).wait(300)
        self.assertEqual(code, 0, self.read_text(self.log))
        self.assertEqual(self.beside(), ["Quillfeather.VellumPrevious.1"])

    def test_held_cabinet_keeps_what_the_uninstall_needs(self):
        self.install_quietly("3.0.6")
        cabinets = os.path.join(self.target, MAINTENANCE, "cabinets")
        held = os.path.join(cabinets, sorted(os.listdir(cabinets))[0])
        holder = self.hold(held)
        answer = self.run_entry("QuietUninstallString", wait=300)
        self.assertEqual(answer["exit_code"], 1)
        self.assert_logged(self.log_lines(), "failed", "could not be removed completely", os.path.basename(held))
        for rel in RUN_AGAIN:
            self.assertTrue(os.path.isfile(os.path.join(self.target, rel)), rel)
        self.assertFalse(os.path.exists(os.path.join(self.target, "locales", "en-us", "index.htm")))
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assertTrue(wt.inspector("kill", "--pid", holder)["killed"])
        os.remove(held + ".held")
        # The entry's command runs again and finishes.
        answer = self.run_entry("QuietUninstallString", wait=300)
        self.assertEqual(answer["exit_code"], 0, self.read_text(self.log))
        self.assert_removed([])

    def test_killed_upgrade_is_put_right_by_the_next_run_of_another_kind(self):
        other = os.path.join(self.tmp, "Other", "Quillfeather")
        self.install_quietly("3.0.5")
        self.add_user_files()
        old = tis.snapshot(self.target)

        # Between the swap's two renames; the next run installs elsewhere.
        self.kill_at("swap")
        self.assertFalse(os.path.exists(self.target))
        self.assertEqual(self.install_into(other).wait(300), 0, self.read_text(self.log))
        self.assertEqual(tis.snapshot(self.target), old)
        self.assertEqual(self.beside(), [])
        # Its manifest is trusted again: its own uninstall removes it.
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
        self.assert_user_files()
        self.assertEqual(tis.reg_text(KEY, "InstallLocation"), wt.to_windows(other))
        self.assertEqual(self.uninstall_quietly(other), 0, self.explain(self.log))
        shutil.rmtree(self.target)

        # Before the swap, the entry already written and the earlier folder
        # set aside: a repair (the installer's, the kept script being aside
        # with it) puts it back.
        self.install_quietly("3.0.5")
        self.add_user_files()
        old = tis.snapshot(self.target)
        self.kill_at("entry")
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assertFalse(os.path.exists(self.target))
        if os.path.exists(self.log):
            os.remove(self.log)
        code, seen = self.quiet("/repair", "/q", "/target:" + self.wtarget, "/log:" + self.wlog)
        self.assertEqual((code, seen), (0, []), self.explain(self.log))
        self.assert_logged(self.log_lines(), "repair", "nothing needed fixing")
        self.assertEqual(tis.snapshot(self.target), old)
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.5")
        self.assertEqual(self.beside(), [])

        # After the swap: the uninstall finishes it, then removes ours only.
        self.kill_at("swapped")
        self.assertTrue(os.path.isdir(self.target + ".VellumPrevious"))
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assertEqual(self.beside(), [])
        self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
        self.assert_user_files()
        self.assertIsNone(tis.reg_text(KEY, "DisplayName"))

    # ---- kills during an uninstall or a repair -------------------------

    def stop_maintenance_at(self, step, *switches, log=None):
        """Starts the kept script unattended with switches; returns the run
        and its stop file once it waits at step."""
        return self.stopped_at(step, lambda env: self.start(
            "wscript.exe", [self.kept_script()] + list(switches) + ["/q", "/log:" + wt.to_windows(log or self.log)],
            env=env), log)

    def kill_maintenance_at(self, step, *switches):
        proc, _ = self.stop_maintenance_at(step, *switches)
        self.kill_script()
        proc.wait(30)

    def next_run(self, kind):
        """Runs an unattended repair, install (the same version) or
        uninstall of the installation; returns its exit code."""
        if os.path.exists(self.log):
            os.remove(self.log)
        if kind == "install":
            return self.install_into(self.target).wait(300)
        code, seen = self.quiet("/" + kind, "/q", "/log:" + self.wlog, script=self.kept_script())
        self.assertEqual(seen, [])
        return code

    def assert_put_right(self, kind, whole):
        """After the next run: the installation whole again, or (after an
        uninstall) only the user's files left; nothing beside the folder."""
        if kind == "uninstall":
            self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
            self.assert_user_files()
            self.assertIsNone(tis.reg_text(KEY, "DisplayName"))
        else:
            self.assertEqual(tis.snapshot(self.target), whole)
            self.assert_entry("3.0.6")
        self.assertEqual(self.beside(), [])

    def test_killed_uninstall_is_put_right_by_each_kind_of_next_run(self):
        self.install_quietly("3.0.6")
        self.add_user_files()
        whole = tis.snapshot(self.target)
        for kind in ("repair", "install", "uninstall"):
            with self.subTest(next_run=kind):
                self.kill_maintenance_at("deleting", "/uninstall")
                now = tis.snapshot(self.target)
                self.assertLess(len([v for v in now.values() if v]), len([v for v in whole.values() if v]))
                for rel in RUN_AGAIN:
                    self.assertEqual(now[os.path.normpath(rel)], whole[os.path.normpath(rel)], rel)
                self.assert_user_files()
                self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
                self.assertEqual(self.next_run(kind), 0, self.explain(self.log))
                self.assert_put_right(kind, whole)
        self.assertEqual(self.temp_copies(), [])

    def test_killed_repair_is_put_right_by_each_kind_of_next_run(self):
        self.install_quietly("3.0.6")
        self.add_user_files()
        whole = tis.snapshot(self.target)
        pages = sorted(k for k, v in whole.items() if v and k.startswith("locales"))[:2]
        for kind in ("repair", "install", "uninstall"):
            with self.subTest(next_run=kind):
                os.remove(os.path.join(self.target, pages[0]))
                self.write(os.path.join(self.target, pages[1]), b"changed")
                # Killed after EXTRACT wrote the files, before the run's end.
                self.kill_maintenance_at("fixing", "/repair")
                self.assert_user_files()
                self.assertEqual(self.next_run(kind), 0, self.explain(self.log))
                self.assert_put_right(kind, whole)
        self.assertEqual(self.temp_copies(), [])

    def test_two_uninstalls_at_once(self):
        self.install_quietly("3.0.6")
        self.add_user_files()
        whole = tis.snapshot(self.target)
        # The first holds the folder's lock, about to delete; the second,
        # the entry's own command, is refused and changes nothing.
        first_log = os.path.join(self.tmp, "first.log")
        first, stop = self.stop_maintenance_at("uninstall", "/uninstall", log=first_log)
        answer = self.run_entry("QuietUninstallString", wait=300)
        self.assertEqual(answer["exit_code"], 3, self.read_text(self.log))
        self.assert_logged(self.log_lines(), "failed", "is working in", self.wtarget)
        self.assertEqual(tis.snapshot(self.target), whole)
        self.assert_entry("3.0.6")
        self.assertEqual(len(self.temp_copies()), 1)  # the first run's own
        # The first goes on and removes the installation, the user's files kept.
        os.remove(stop)
        self.assertEqual(first.wait(300), 0, self.read_text(first_log))
        self.assert_put_right("uninstall", whole)
        self.assertEqual(self.temp_copies(), [])



@tms.td.ti.needs_payload
class KilledWhileExtractingTest(tms.MaintenanceSafetyCase):
    """A reinstall sets the earlier folder aside before its one EXTRACT run,
    which lists it there once every file is written: killed meanwhile, the
    next run puts it back whole."""

    def test_killed_during_the_extraction_is_put_back(self):
        self.install_quietly("3.0.5")
        self.add_user_files()
        for step, kind, version in (("extracting", "install", "3.0.5"), ("staging", "uninstall", "3.0.6")):
            with self.subTest(step=step):
                old = tis.snapshot(self.target)
                self.kill_at(step)
                previous = self.target + ".VellumPrevious"
                self.assertFalse(os.path.exists(self.target))
                self.assertEqual(tis.snapshot(previous), old)
                self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), version)
                # Stopped after its first cabinet, or before it started.
                staging = self.target + ".VellumStaging"
                if step == "extracting":
                    self.assertTrue(os.listdir(staging))
                else:
                    self.assertFalse(os.path.exists(staging))
                if os.path.exists(self.log):
                    os.remove(self.log)
                if kind == "install":
                    # Put back first, then upgraded: the user's files move over.
                    self.assertEqual(self.install_into(self.target).wait(300), 0, self.explain(self.log))
                    self.assert_logged(self.log_lines(), "recovery", "is back in")
                    self.assert_user_files()
                    self.assert_entry("3.0.6")
                else:
                    # The installer's uninstall finds the folder by the entry.
                    code, seen = self.quiet("/uninstall", "/q", "/log:" + self.wlog)
                    self.assertEqual((code, seen), (0, []), self.explain(self.log))
                    self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
                    self.assert_user_files()
                    self.assertIsNone(tis.reg_text(KEY, "DisplayName"))
                self.assertEqual(self.beside(), [])

    def test_folder_made_anew_while_extracting(self):
        """Another program makes the install folder while it is set aside:
        an empty one gives way to the new installation; one with a file in
        it is set aside and reported (exit 10), its file kept."""
        self.install_quietly("3.0.5")
        self.add_user_files()
        for made, expected in ((None, 0), (b"made meanwhile", 10)):
            with self.subTest(made=made):
                proc, stop = self.stopped_at("extracting", lambda env: self.install_into(self.target, env=env))
                os.makedirs(self.target)
                if made:
                    self.write(os.path.join(self.target, "new.txt"), made)
                os.remove(stop)
                self.assertEqual(proc.wait(300), expected, self.explain(self.log))
                self.assert_user_files()
                self.assert_entry("3.0.6")
                self.assertTrue(os.path.isfile(os.path.join(self.target, "locales", "en-us", "index.htm")))
                if made:
                    self.assertEqual(self.beside(), ["Quillfeather.1"])
                    self.assertEqual(self.read(os.path.join(self.target + ".1", "new.txt")), made)
                    self.assert_logged(self.log_lines(), "failed", "Quillfeather.1")
                else:
                    self.assertEqual(self.beside(), [])


if __name__ == "__main__":
    unittest.main()
