"""The installation script under a hostile world, end to end under Wine:
a damaged cabinet during a reinstall, a full disk, relative and undefined
targets, a second script while one runs, the script killed at each stage,
and another copy's registration.

Each case checks the exit code, the boxes the user was shown (how many,
which icon), the files on disk byte for byte and the registry afterwards.
The wizard is walked with the helpers of test_install.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import test_install as ti  # noqa: E402
from test_install import locales, product, text, wt  # noqa: E402

CLSID = product.CLSID
TITLE = product.TITLE


def snapshot(folder):
    """relative path -> sha256 of every file under folder (folders as None)."""
    out = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        rel = os.path.relpath(dirpath, folder)
        for d in dirnames:
            out[os.path.normpath(os.path.join(rel, d))] = None
        for f in filenames:
            with open(os.path.join(dirpath, f), "rb") as fh:
                out[os.path.normpath(os.path.join(rel, f))] = hashlib.sha256(fh.read()).hexdigest()
    return out


RECORDS = product.RECORDS_KEY


def vouch_for_manifest(folder):
    """Keeps the digest of the folder's manifest as it is now under HKLM, as
    the installation that wrote it does; returns the value's name."""
    with open(os.path.join(folder, "VellumMaintenance", "manifest.txt"), "rb") as f:
        data = f.read()
    assert data[:2] == b"\xff\xfe", "a manifest is UTF-16 with its byte order mark"
    name = wt.to_windows(folder).lower().replace("\\", "/")
    wt.reg_set(product.MANIFESTS_KEY, name, "sz", hashlib.sha256(data[2:]).hexdigest())
    return name


def read_log(path):
    """A log's text for a failure message, or why there is none."""
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            return f.read()
    except OSError as e:
        return "no log: %s" % e


def reg_text(key, name=None):
    """A string value of the registry, or None when it is missing."""
    args = ["regget", "--key", key] + (["--name", name] if name else [])
    try:
        answer = wt.inspector(*args)
    except wt.InspectorError as e:
        if e.code == 2:
            return None
        raise
    raw = bytes.fromhex(answer["hex"].replace(" ", ""))
    return raw.decode("utf-16-le").rstrip("\0")


class ScriptIntegrityCase(ti.InstallationCase):
    """Installations from before, damage, boxes and the script's end; no tests of its own."""

    def setUp(self):
        super().setUp()
        self.parent = os.path.dirname(self.target)
        self.payload_names = os.listdir(self.work)

    # ---- helpers -------------------------------------------------------

    def start_script(self, *extra, target=None):
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        t = self.wtarget if target is None else target
        return self.start("wscript.exe", [script, "VellumInstall", "/target:" + t] + list(extra))

    def make_old_installation(self):
        """An earlier installation, with its manifest and the digest it keeps,
        and a file of the user's own in it."""
        ours = (("locales/en-us/index.htm", b"old start page"), ("package_description.xml", b"<old/>"))
        for rel, data in ours + (("notes/mine.txt", b"the user's own notes"),):
            path = os.path.join(self.target, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        lines = ["version\t3.0.5"] + ["file\t%d\t%s" % (len(d), r.replace("/", "\\")) for r, d in ours]
        lines += ["file\t0\tVellumMaintenance\\manifest.txt", "folder\tlocales", "folder\tlocales\\en-us",
                  "folder\tVellumMaintenance"]
        os.makedirs(os.path.join(self.target, "VellumMaintenance"))
        with open(os.path.join(self.target, "VellumMaintenance", "manifest.txt"), "wb") as f:
            f.write(b"\xff\xfe" + "".join(l + "\r\n" for l in lines).encode("utf-16-le"))
        name = vouch_for_manifest(self.target)
        self.addCleanup(wt.inspector, "regdel", "--key", product.MANIFESTS_KEY, "--name", name, check=False)
        return snapshot(self.target)

    def boxes_until_exit(self, proc, timeout=240):
        """Answers every message box with OK until proc ends; returns
        (exit code, [boxes])."""
        boxes = []
        deadline = time.time() + timeout
        while proc.poll() is None:
            self.assertLess(time.time(), deadline, "the script did not end")
            try:
                box = wt.inspector("msgbox", "--timeout", "500")
            except wt.InspectorError:
                continue
            if box and box.get("hwnd"):
                boxes.append(box)
                wt.inspector("answer", "--button", "ok", "--pid", box["pid"], "--timeout", "5000", check=False)
        return proc.wait(10), boxes

    def assert_one_box(self, boxes, icon, *words):
        self.assertEqual(len(boxes), 1, [b.get("text") for b in boxes])
        self.assertEqual(boxes[0]["icon"], icon, boxes[0]["text"])
        for w in words:
            self.assertIn(w, boxes[0]["text"])
        self.assertNotIn("[object Error]", boxes[0]["text"])
        self.assertNotIn("()", boxes[0]["text"])

    def assert_no_registration(self):
        for root in ("HKLM", "HKCU"):
            self.assertIsNone(reg_text(root + "\\Software\\Classes\\CLSID\\" + CLSID + "\\LocalServer32"), root)
        self.assert_unregistered()

    def wait_servers_gone(self, timeout=60):
        deadline = time.time() + timeout
        while wt.pids_of("VellumSetup.exe"):
            self.assertLess(time.time(), deadline, "VellumSetup did not end")
            time.sleep(0.5)

    def kill_script(self):
        for pid in wt.pids_of("wscript.exe"):
            wt.inspector("kill", "--pid", pid, timeout=30)
        self.wait_servers_gone()
        # An extraction under way finishes its cabinet on its own. A child the
        # script was creating at the moment it died never starts: its first
        # thread stays suspended, since only its creator would resume it, and
        # Wine will not terminate it. Let it run its command to the end.
        deadline = time.time() + 60
        while True:
            left = [p for p in wt.processes() if p["exe"].upper() in ("EXTRACT.EXE", "CMD.EXE")]
            if not left:
                break
            for p in left:
                threads = wt.inspector("threads", "--pid", p["pid"], check=False)
                if threads and threads["threads"] and threads["suspended"] == threads["threads"]:
                    print("resuming %s %s: its creator died before it started" % (p["exe"], p["pid"]), flush=True)
                    wt.inspector("threads", "--pid", p["pid"], "--resume", check=False)
            self.assertLess(time.time(), deadline, "EXTRACT did not end: %r" % left)
            time.sleep(0.5)

    def beside(self):
        """What stands beside the install folder (staging, locks, ...)."""
        return sorted(n for n in os.listdir(self.parent) if n != "Quillfeather")

    def wait_for_finish_page(self, seconds=240):
        """Waits for the finish page; a message box instead fails with its text."""
        deadline = time.time() + seconds
        label = text("en-us", "loc_UI_Finish_Button")
        while time.time() < deadline:
            try:
                box = wt.inspector("msgbox", "--timeout", "300")
                if box and box.get("hwnd"):
                    self.fail("a box instead of the finish page: %s" % box.get("text"))
            except wt.InspectorError:
                pass
            try:
                return self.wait_for_button(label, 1)
            except AssertionError:
                pass
        self.fail("the wizard never showed %r" % label)

    def finish(self, proc):
        self.wait_for_finish_page()
        self.click(text("en-us", "loc_UI_Launch_box"))
        self.click(text("en-us", "loc_UI_Finish_Button"))
        return proc.wait(60)

    def assert_installed(self, old_user_file=True):
        start_page = os.path.join(self.target, "locales", "en-us", "index.htm")
        with open(start_page, encoding="utf-8") as f:
            self.assertIn(text("en-us", "loc_UI_welcomeText"), f.read())
        self.assertEqual(sorted(os.listdir(os.path.join(self.target, "locales"))), ["all", "en-us"])
        if old_user_file:
            with open(os.path.join(self.target, "notes", "mine.txt"), "rb") as f:
                self.assertEqual(f.read(), b"the user's own notes")
        self.assertEqual(self.beside(), [])


@ti.needs_payload
class ScriptIntegrityTest(ScriptIntegrityCase):
    def test_reinstall_over_damage_and_beside_a_second_script(self):
        old = self.make_old_installation()
        # The last en-us cabinet is damaged: most content is extracted when it fails.
        name = [n for n in locales.all_cabinets() if n.startswith("en-us_")][-1]
        restore = self.damage(name)
        proc = self.start_script()
        self.walk_to_install("en-us")
        code, boxes = self.boxes_until_exit(proc)
        self.assertEqual(code, 1)
        self.assert_one_box(boxes, "exclamation", name, "damaged", "exit code 2")
        self.assertEqual(snapshot(self.target), old, "the earlier installation is byte for byte intact")
        self.assertEqual(self.beside(), [], "nothing of the failed run is left")
        self.assert_no_registration()

        # Repaired, run again; a second script meanwhile is refused, once
        # with a box and once quietly, and touches nothing.
        restore()
        proc = self.start_script()
        wt.wait_window(TITLE, timeout=60)
        second = self.start_script()
        code, boxes = self.boxes_until_exit(second, timeout=60)
        self.assertEqual(code, 3)
        self.assert_one_box(boxes, "exclamation", "Another Quillfeather installation is running")
        code, boxes = self.boxes_until_exit(self.start_script("/q"), timeout=60)
        self.assertEqual((code, boxes), (3, []))
        self.assertEqual(snapshot(self.target), old)
        self.walk_to_install("en-us")
        self.assertEqual(self.finish(proc), 0, proc.output())
        self.assert_installed()
        self.assert_no_registration()

    def test_targets_that_are_refused(self):
        cases = (("relQuill", "not an absolute path"),
                 ("%NOSUCHVAR%\\Quill", "NOSUCHVAR is not defined"),
                 ("C:\\", "root of a drive"))
        for target, why in cases:
            with self.subTest(target=target):
                code, boxes = self.boxes_until_exit(self.start_script(target=target), timeout=60)
                self.assertEqual(code, 1)
                self.assert_one_box(boxes, "exclamation", target, why)
                self.assertEqual(sorted(os.listdir(self.work)), sorted(self.payload_names + ["VellumSetup.lock"]))
                self.assertFalse(os.path.exists(os.path.join(self.work, "%NOSUCHVAR%")))
                self.assert_no_registration()

    def test_killed_at_each_stage_with_another_copy_registered(self):
        # Another copy of VellumSetup, registered for good: no run may touch it.
        other = os.path.join(self.tmp, "other")
        os.makedirs(other)
        shutil.copy2(os.path.join(self.work, "VellumSetup.exe"), other)
        other_exe = wt.to_windows(os.path.join(other, "VellumSetup.exe"))
        self.assertEqual(wt.run(os.path.join(other, "VellumSetup.exe"), ["/RegServer"]).code, 0)
        self.addCleanup(wt.run, os.path.join(other, "VellumSetup.exe"), ["/UnregServer"])
        server_key = "HKLM\\Software\\Classes\\CLSID\\" + CLSID + "\\LocalServer32"

        def assert_other_copy_only():
            self.assertEqual(reg_text(server_key), '"%s"' % other_exe)
            self.assertIsNone(reg_text("HKCU\\Software\\Classes\\CLSID\\" + CLSID + "\\LocalServer32"))
            self.assertEqual(reg_text("HKLM\\Software\\Classes\\VellumSetup.controller\\CLSID"), CLSID)

        old = self.make_old_installation()

        # During extraction: the staging folder is filling.
        proc = self.start_script()
        self.walk_to_install("en-us")
        staging = self.target + ".VellumStaging"
        deadline = time.time() + 120
        while not (os.path.isdir(staging) and os.listdir(staging)):
            self.assertLess(time.time(), deadline, "extraction never began")
            time.sleep(0.2)
        self.kill_script()
        assert_other_copy_only()
        # The earlier installation was set aside, whole, before EXTRACT started.
        self.assertFalse(os.path.exists(self.target))
        self.assertEqual(snapshot(self.target + ".VellumPrevious"), old)

        # At the welcome page: the earlier installation is back and the killed
        # run's staging gone, at this start.
        proc = self.start_script()
        wt.wait_window(TITLE, timeout=60)
        self.wait_for_button(text("en-us", "loc_UI_NextButton") + " >", 30)
        self.assertFalse(os.path.exists(staging))
        self.kill_script()
        assert_other_copy_only()
        self.assertEqual(snapshot(self.target), old)
        self.assertEqual(self.beside(), [])

        # At the finish page: the installation is complete by then.
        proc = self.start_script()
        self.walk_to_install("en-us")
        self.wait_for_finish_page()
        self.kill_script()
        self.assertIsNotNone(proc.wait(30))
        assert_other_copy_only()
        self.assert_installed()

    def test_extract_killed_midway_fails_and_rolls_back(self):
        # EXTRACT waits after its first cabinet while the hold file exists:
        # killed there, it leaves a listing without its end line.
        hold = os.path.join(self.tmp, "hold")
        open(hold, "wb").close()
        logfile = os.path.join(self.tmp, "setup.log")
        script = wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        proc = self.start("wscript.exe", [script, "VellumInstall", "/target:" + self.wtarget, "/q", "/acceptlicense",
                                          "/log:" + wt.to_windows(logfile)],
                          env={"VELLUM_TEST_EXTRACT_HOLD": wt.to_windows(hold)})
        staging = self.target + ".VellumStaging"
        deadline = time.time() + 120
        while not (os.path.isdir(staging) and os.listdir(staging) and wt.pids_of("EXTRACT.EXE")):
            self.assertLess(time.time(), deadline, "extraction never began")
            time.sleep(0.2)
        for pid in wt.pids_of("EXTRACT.EXE"):
            wt.inspector("kill", "--pid", pid, timeout=30)
        self.assertEqual(proc.wait(120), 1)
        with open(logfile, encoding="ascii") as f:
            log = f.read()
        self.assertIn("The extraction tool ended before it had finished", log)
        self.assertFalse(os.path.exists(self.parent))  # created by the run, and gone with it
        self.assertEqual(sorted(os.listdir(self.work)), sorted(self.payload_names + ["VellumSetup.lock"]))


@ti.needs_payload
class FullDiskTest(ScriptIntegrityCase):
    """The install folder on a small tmpfs that the content cannot fit."""

    SIZE = "1m"

    def setUp(self):
        super().setUp()
        self.disk = os.path.join(self.tmp, "smalldisk")
        os.makedirs(self.disk)
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + self.SIZE, "tmpfs", self.disk],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        if r.returncode != 0:
            print("full-disk case skipped: mount refused: %s" % r.stdout.decode(errors="replace").strip())
            raise unittest.SkipTest("cannot mount a tmpfs here")
        self.addCleanup(self.unmount)
        self.target = os.path.join(self.disk, "Quillfeather")
        self.wtarget = wt.to_windows(self.target)
        self.parent = self.disk

    def unmount(self):
        self.kill_leftovers()
        for args in (["umount", self.disk], ["umount", "-l", self.disk]):
            try:
                if subprocess.run(args, timeout=30, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0:
                    return
            except subprocess.TimeoutExpired:
                pass

    def test_full_disk_during_a_reinstall(self):
        old = self.make_old_installation()
        proc = self.start_script()
        self.walk_to_install("en-us")
        code, boxes = self.boxes_until_exit(proc)
        print("\nfull disk: exit %s, boxes %s" % (code, [(b["icon"], b["text"]) for b in boxes]))
        self.assertEqual(code, 1)
        self.assert_one_box(boxes, "stop", "could not be")
        self.assertEqual(snapshot(self.target), old)
        self.assertEqual(self.beside(), [])
        self.assert_no_registration()

if __name__ == "__main__":
    unittest.main()
