"""Maintenance that never harms, under Wine: a manifest edited to reach
outside the install folder, a folder that holds the user's files, install
folders of every shape, and the boxes that tell a person of exits 8, 9
and 10 (test_maintenance_resume.py: the steps).

Judged by outcomes: files byte for byte, the entry, exit codes, and where
the user's files are. A smaller installation (without the desktop
cabinets) keeps the cases short.
"""
import os
import shutil
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "install"))

import test_deploy as td  # noqa: E402
import test_integrity_script as tis  # noqa: E402
from test_install import product, wt  # noqa: E402

KEY = td.KEY
MAINTENANCE = td.MAINTENANCE
RUN_AGAIN = ("VellumSetup.jse", "uninstallUI/VellumSetup.exe", MAINTENANCE + "/EXTRACT.EXE",
             MAINTENANCE + "/manifest.txt")


class MaintenanceSafetyCase(td.DeployCase):
    """Installations into chosen folders, runs killed at a step and the user's files; no tests of its own."""

    def setUp(self):
        super().setUp()
        self.skip_desktops()

    # ---- helpers -------------------------------------------------------

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def kept_script(self, folder=None):
        return wt.to_windows(os.path.join(folder or self.target, "VellumSetup.jse"))

    def uninstall_quietly(self, folder=None):
        if os.path.exists(self.log):
            os.remove(self.log)
        code, seen = self.quiet("/uninstall", "/q", "/log:" + self.wlog, script=self.kept_script(folder))
        self.assertEqual(seen, [])
        return code

    def install_into(self, folder, version="3.0.6", env=None):
        self.set_version(version)
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        return self.start("wscript.exe", [script, "VellumInstall", "/q", "/acceptlicense",
                                          "/target:" + wt.to_windows(folder), "/log:" + self.wlog], env=env)

    def kill_at(self, step, folder=None):
        """Starts an upgrade to 3.0.6 that stops at step, and kills it there."""
        proc, _ = self.stopped_at(step, lambda env: self.install_into(folder or self.target, env=env))
        self.kill_script()
        proc.wait(30)

    def stopped_at(self, step, start, log=None):
        """Starts a run (start(env)) that stops at step; returns it and its
        stop file once it waits there."""
        stop = os.path.join(self.tmp, "stopped-" + step)
        if os.path.exists(stop):
            os.remove(stop)
        proc = start({"VELLUM_TEST_STOP_AT": step, "VELLUM_TEST_STOP_FILE": wt.to_windows(stop)})
        deadline = time.time() + 300
        while not os.path.exists(stop):
            self.assertIsNone(proc.poll(), "the run ended before %s: %s" % (step, self.read_text(log or self.log)))
            self.assertLess(time.time(), deadline, "the run never reached " + step)
            time.sleep(0.2)
        return proc, stop

    def user_files(self):
        return {"notes/mine.txt": b"the user's own notes", "README": b"no extension, the user's"}

    def add_user_files(self, folder=None):
        for rel, data in self.user_files().items():
            self.write(os.path.join(folder or self.target, rel), data)

    def assert_user_files(self, folder=None):
        for rel, data in self.user_files().items():
            self.assertEqual(self.read(os.path.join(folder or self.target, rel)), data, rel)


@td.ti.needs_payload
class MaintenanceSafetyTest(MaintenanceSafetyCase):
    def test_untrusted_manifest_touches_nothing_outside(self):
        victim = os.path.join(self.tmp, "victim")
        self.write(os.path.join(victim, "precious.txt"), b"precious")
        self.install_quietly("3.0.6")
        manifest = os.path.join(self.target, MAINTENANCE, "manifest.txt")
        original = self.read(manifest)
        before = tis.snapshot(self.target)

        # Edited behind the installation's back: refused whatever it says.
        # With its digest renewed (as if written so): the path rule refuses.
        hostile = ["file\t8\t..\\..\\victim\\precious.txt", "folder\t..\\..\\victim",
                   "parent\t" + wt.to_windows(victim), "file\t8\t" + wt.to_windows(victim) + "\\precious.txt"]
        for line in hostile:
            for vouched in (False, True):
                with self.subTest(line=line, vouched=vouched):
                    self.write(manifest, original + (line + "\r\n").encode("utf-16-le"))
                    if vouched:
                        self.vouch_for_manifest()
                    self.assertEqual(self.uninstall_quietly(), 9, self.explain(self.log))
                    self.assert_logged(self.log_lines(), "failed", "cannot be trusted")
                    self.assertEqual(self.read(os.path.join(victim, "precious.txt")), b"precious")
                    now = tis.snapshot(self.target)
                    now.pop(MAINTENANCE + "/manifest.txt")
                    self.assertEqual(now, {k: v for k, v in before.items() if k != MAINTENANCE + "/manifest.txt"})
                    self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
                    # A reinstall does not take the folder for ours either;
                    # it is where it was, as it was.
                    held = tis.snapshot(self.target)
                    code, _ = self.quiet("VellumInstall", "/q", "/acceptlicense", "/target:" + self.wtarget,
                                         "/log:" + self.wlog)
                    self.assertEqual(code, 8)
                    self.assert_logged(self.log_lines(), "failed", "already holds files", "cannot be trusted")
                    self.assertEqual(tis.snapshot(self.target), held)
                    self.assertEqual(self.read(os.path.join(victim, "precious.txt")), b"precious")
                    self.assertEqual(self.beside(), [])
                    scratch = {"vellumsetup." + s for s in ("manifest", "tree", "plan", "list", "progress")}
                    self.assertEqual([n for n in os.listdir(self.work) if n.lower() in scratch], [])

        # The manifest the installation wrote, with its digest: removed.
        self.write(manifest, original)
        self.vouch_for_manifest()
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assertFalse(os.path.exists(self.target))
        self.assertEqual(self.read(os.path.join(victim, "precious.txt")), b"precious")

    def test_installation_from_before_kept_digests(self):
        # An installation whose digest was never kept (an earlier build):
        # upgradable and removable when the entry names its folder, and
        # then only inside the folder.
        above = os.path.dirname(self.target)
        self.install_quietly("3.0.6")
        manifest = os.path.join(self.target, MAINTENANCE, "manifest.txt")
        self.add_user_files()
        name = tis.vouch_for_manifest(self.target)
        wt.reg_delete(product.MANIFESTS_KEY, name)
        # The folder is taken for ours, the user's files carried over.
        self.install_quietly("3.0.7")
        self.assert_user_files()
        original = self.read(manifest)
        wt.reg_delete(product.MANIFESTS_KEY, name)
        # Reaching out of the folder is refused all the same.
        self.write(manifest, original + ("file\t8\t..\\victim.txt\r\n").encode("utf-16-le"))
        self.assertEqual(self.uninstall_quietly(), 9, self.explain(self.log))
        self.assertTrue(os.path.exists(os.path.join(self.target, "VellumSetup.jse")))
        # A parent line is not taken on trust: the (then empty) folder above stays.
        for rel in self.user_files():
            os.remove(os.path.join(self.target, rel))
        os.rmdir(os.path.join(self.target, "notes"))
        self.write(manifest, original + ("parent\t" + wt.to_windows(above) + "\r\n").encode("utf-16-le"))
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assert_logged(self.log_lines(), "manifest", "honoured inside the folder only")
        self.assertFalse(os.path.exists(self.target))
        self.assertTrue(os.path.isdir(above))
        self.assertIsNone(tis.reg_text(KEY, "DisplayVersion"))

    def test_folder_with_user_files_is_refused(self):
        documents = os.path.join(self.tmp, "My Documents")
        self.write(os.path.join(documents, "package_description.xml"), b"<mine/>")
        self.write(os.path.join(documents, "letter.txt"), b"Dear ...")
        before = tis.snapshot(documents)
        code, seen = self.quiet("VellumInstall", "/q", "/acceptlicense", "/target:" + wt.to_windows(documents),
                                "/log:" + self.wlog)
        self.assertEqual((code, seen), (8, []))
        self.assert_logged(self.log_lines(), "failed", "already holds files", "Nothing was installed")
        self.assertEqual(tis.snapshot(documents), before)
        self.assertEqual(sorted(os.listdir(self.tmp)), sorted(["My Documents", "_hsc_Vellum", "setup.log"]))
        self.assertIsNone(tis.reg_text(KEY, "DisplayName"))
        # An empty folder is fine.
        empty = os.path.join(self.tmp, "Empty")
        os.makedirs(empty)
        self.assertEqual(self.install_into(empty).wait(300), 0, self.read_text(self.log))
        self.assertTrue(os.path.isfile(os.path.join(empty, "VellumSetup.jse")))

    def test_folders_of_every_shape(self):
        shaped = os.path.join(self.tmp, "100% & ^ 'sure'", "\u00e9t\u00e9 \u65e5\u672c", "a", "b", "Quillfeather")
        self.assertEqual(self.install_into(shaped).wait(300), 0, self.read_text(self.log))
        self.assertTrue(os.path.isfile(os.path.join(shaped, "locales", "en-us", "index.htm")))
        self.assertEqual(tis.reg_text(KEY, "InstallLocation"), wt.to_windows(shaped))
        self.add_user_files(shaped)
        self.assertEqual(self.uninstall_quietly(shaped), 0, self.explain(self.log))
        self.assertEqual(sorted(os.listdir(shaped)), ["README", "notes"])
        self.assert_user_files(shaped)

        # Too long to hold the content (and to be removed later): refused up front.
        deep = os.path.join(self.tmp, *(["d" * 40] * 5), "Quillfeather")
        self.assertEqual(self.install_into(deep).wait(300), 1)
        self.assert_logged(self.log_lines(), "failed", "too long")
        self.assertFalse(os.path.exists(os.path.join(self.tmp, "d" * 40)))

    def test_refusals_are_told_in_a_box(self):
        # 10: an upgrade whose swap cannot finish (a killed upgrade left the
        # earlier folder, and the user wrote a newer note of the same name).
        self.install_quietly("3.0.5")
        self.add_user_files()
        self.kill_at("swapped")
        self.write(os.path.join(self.target, "notes", "mine.txt"), b"a newer note")
        self.set_version("3.0.6")
        proc = self.start_script()
        self.walk_to_install("en-us")
        code, boxes = self.boxes_until_exit(proc)
        self.assertEqual(code, 10)
        aside = self.target + ".VellumPrevious.1"
        self.assert_one_box(boxes, "exclamation", "could not be moved into it", wt.to_windows(aside))
        self.assertEqual(self.read(os.path.join(aside, "notes", "mine.txt")), b"the user's own notes")
        self.assertEqual(self.read(os.path.join(self.target, "notes", "mine.txt")), b"a newer note")
        self.assert_entry("3.0.6")
        self.assert_no_registration()
        shutil.rmtree(aside)

        # 9: the entry's uninstall, the manifest edited to reach outside.
        victim = os.path.join(self.tmp, "victim.txt")
        self.write(victim, b"precious")
        manifest = os.path.join(self.target, MAINTENANCE, "manifest.txt")
        self.write(manifest, self.read(manifest) + "file\t8\t..\\..\\victim.txt\r\n".encode("utf-16-le"))
        before = tis.snapshot(self.target)
        proc = self.start("wscript.exe", [self.kept_script(), "/uninstall"])
        code, boxes = self.boxes_until_exit(proc)
        self.assertEqual(code, 9)
        self.assert_one_box(boxes, "stop", "cannot be trusted", "Nothing was changed")
        self.assertEqual(tis.snapshot(self.target), before)
        self.assertEqual(self.read(victim), b"precious")
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assert_no_registration()
        self.assertEqual(self.temp_copies(), [])

        # 8: an installation into a folder that holds the user's files.
        documents = os.path.join(self.tmp, "My Documents")
        self.write(os.path.join(documents, "package_description.xml"), b"<mine/>")
        before = tis.snapshot(documents)
        proc = self.start_script(target=wt.to_windows(documents))
        self.walk_to_install("en-us")
        code, boxes = self.boxes_until_exit(proc)
        self.assertEqual(code, 8)
        self.assert_one_box(boxes, "exclamation", "already holds files", "Nothing was installed")
        self.assertEqual(tis.snapshot(documents), before)
        self.assertEqual(tis.reg_text(KEY, "InstallLocation"), self.wtarget)
        self.assert_no_registration()


@td.ti.needs_payload
class UninstallThroughLinkTest(MaintenanceSafetyCase):
    def test_a_linked_folder_stops_the_uninstall_before_anything_goes(self):
        self.install_quietly("3.0.6")
        self.add_user_files()
        # A folder of the content replaced by a link to a copy elsewhere.
        page = sorted(k for k, v in tis.snapshot(self.target).items() if v and k.startswith("locales"))[0]
        folder = os.path.join(self.target, os.path.dirname(page))
        outside = os.path.join(self.tmp, "outside")
        shutil.copytree(folder, outside)
        shutil.rmtree(folder)
        os.symlink(outside, folder)  # Wine shows it as a reparse point
        before, elsewhere = tis.snapshot(self.target), tis.snapshot(outside)
        self.assertEqual(self.uninstall_quietly(), 9, self.explain(self.log))
        self.assertIn("is a link to another place", self.read_text(self.log))
        self.assertEqual((tis.snapshot(self.target), tis.snapshot(outside)), (before, elsewhere))
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assertEqual(self.temp_copies(), [])

        # The folder back in place: everything goes but the user's files,
        # the entry and the kept digest with it.
        os.remove(folder)
        shutil.copytree(outside, folder)
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
        self.assert_user_files()
        self.assertIsNone(tis.reg_text(KEY, "DisplayName"))
        self.assertIsNone(tis.reg_text(product.MANIFESTS_KEY, self.wtarget.lower().replace("\\", "/")))
        self.assertEqual(self.temp_copies(), [])


@td.ti.needs_payload
class ReinstallOverLinksTest(MaintenanceSafetyCase):
    """A reinstall decides from one listing of the earlier folder what is
    the user's; it never deletes through a link (reparse point)."""

    def test_users_files_move_over_and_nothing_behind_a_link_is_touched(self):
        outside = os.path.join(self.tmp, "outside")
        behind = {"VellumSetup.exe": b"not the installation's", "precious.txt": b"precious"}
        for name, data in behind.items():
            self.write(os.path.join(outside, name), data)
        self.install_quietly("3.0.6")
        self.add_user_files()
        self.write(os.path.join(self.target, "locales", "mine.txt"), b"in a folder of the installation")

        # No link: the user's files move over, the rest goes at once.
        self.assertEqual(self.install_into(self.target).wait(300), 0, self.explain(self.log))
        self.assert_user_files()
        self.assertEqual(self.read(os.path.join(self.target, "locales", "mine.txt")),
                         b"in a folder of the installation")
        self.assertTrue(os.path.isfile(os.path.join(self.target, "locales", "en-us", "index.htm")))
        self.assertEqual(self.beside(), [])
        self.assert_entry("3.0.6")

        # A link (Wine shows a symbolic link as one) in place of a folder of
        # the installation: nothing is deleted through it, and the earlier
        # folder is set aside.
        shutil.rmtree(os.path.join(self.target, "uninstallUI"))
        os.symlink(outside, os.path.join(self.target, "uninstallUI"))
        self.assertEqual(self.install_into(self.target).wait(300), 10, self.explain(self.log))
        self.assertEqual(self.beside(), ["Quillfeather.VellumPrevious.1"])
        self.assertTrue(os.path.isfile(os.path.join(self.target, "uninstallUI", "VellumSetup.exe")))
        self.assert_entry("3.0.6")
        for name, data in behind.items():
            self.assertEqual(self.read(os.path.join(outside, name)), data, name)
        self.assertEqual(sorted(os.listdir(outside)), sorted(behind))


@td.ti.needs_payload
class ChangedManifestTest(MaintenanceSafetyCase):
    """The removal run checks the kept digest itself on the text the
    unattended uninstall read: a manifest changed within the path rule
    (naming the user's own file in the folder) removes nothing."""

    def test_the_users_file_named_in_a_changed_manifest_stays(self):
        self.install_quietly("3.0.6")
        self.add_user_files()
        manifest = os.path.join(self.target, MAINTENANCE, "manifest.txt")
        original = self.read(manifest)
        before = tis.snapshot(self.target)
        self.write(manifest, original + "file\t20\tnotes\\mine.txt\r\n".encode("utf-16-le"))
        self.assertEqual(self.uninstall_quietly(), 9, self.explain(self.log))
        self.assert_logged(self.log_lines(), "failed", "cannot be trusted", "changed after the installation")
        now = tis.snapshot(self.target)
        now.pop(MAINTENANCE + "/manifest.txt")
        self.assertEqual(now, {k: v for k, v in before.items() if k != MAINTENANCE + "/manifest.txt"})
        self.assert_entry("3.0.6")
        self.assertEqual(self.temp_copies(), [])
        # The one the installation wrote: removed, the user's files kept.
        self.write(manifest, original)
        self.assertEqual(self.uninstall_quietly(), 0, self.explain(self.log))
        self.assertEqual(sorted(os.listdir(self.target)), ["README", "notes"])
        self.assert_user_files()


if __name__ == "__main__":
    unittest.main()
