"""Deployment and maintenance, end to end under Wine: an unattended
installation with its log, the Add/Remove Programs entry as Wine's own
uninstaller sees it, a repair after deleted and changed files, an upgrade
over an older version, the refusal over a newer one, and uninstalls, quiet
and through the entry with its question, asked in the user's language.

The installed files are compared byte for byte with the cabinets unpacked
on the host (gcab). One installation serves several checks.
"""
import atexit
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "install"))

import test_install as ti  # noqa: E402
import test_integrity_script as tis  # noqa: E402
from test_install import locales, product, wt  # noqa: E402

import maintenance_texts  # noqa: E402  (payload/full, on the path test_install sets)

KEY = product.UNINSTALL_KEY
TITLE = product.TITLE
MAINTENANCE = product.MAINTENANCE_FOLDER
RECORDS = product.RECORDS_KEY


def reg_dword(key, name):
    answer = wt.inspector("regget", "--key", key, "--name", name)
    return int.from_bytes(bytes.fromhex(answer["hex"].replace(" ", "")), "little")


def expected_content(work):
    """What an en-us installation holds: the shared and the en-us cabinets
    unpacked on the host, later cabinets over earlier ones."""
    out = tempfile.mkdtemp(prefix="deploy-cabs-")
    names = [n for n in locales.all_cabinets()
             if not re.match(r"^[a-z][a-z]-[a-z][a-z]_", n) or n.startswith("en-us_")]
    for name in names:
        subprocess.run(["gcab", "-x", "-C", out, os.path.join(work, name)], check=True, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    snap = tis.snapshot(out)
    shutil.rmtree(out)
    return snap, names


# What an installation writes besides its files.
INSTALLED_KEYS = (KEY, RECORDS)
# Installations made in this process, kept to be copied into later cases:
# (version, the working folder's state) -> (folder of copies, registry trees).
_installed = {}


def _copy(source, dest):
    if os.path.isdir(source):
        shutil.copytree(source, dest, symlinks=True)
    else:
        shutil.copy2(source, dest)


def working_folder_state(work):
    """What an installation depends on in the working folder: every file's
    size and time, and the bytes of the small ones a case may rewrite (the
    file list); the version comes separately."""
    state = []
    for name in sorted(os.listdir(work)):
        if name == "vellumVersion.txt":
            continue
        st = os.stat(os.path.join(work, name))
        if not os.path.isfile(os.path.join(work, name)):
            state.append((name, None))
        elif st.st_size < 65536:
            with open(os.path.join(work, name), "rb") as f:
                state.append((name, hashlib.sha256(f.read()).hexdigest()))
        else:
            state.append((name, st.st_size, st.st_mtime_ns))
    return tuple(state)


class DeployCase(tis.ScriptIntegrityCase):
    """Quiet runs with their logs, the uninstall entry and removal; no tests of its own."""

    # Installations are copied from case to case: their folders, entry and
    # kept digests name the same paths in every case.
    same_scratch = True

    def setUp(self):
        super().setUp()
        self.log = os.path.join(self.tmp, "setup.log")
        self.wlog = wt.to_windows(self.log)
        self.default_log = os.path.join(wt.windows_temp(), "VellumSetup.log")
        self.last_run = None
        self.forget_entry()
        self.addCleanup(self.forget_entry)

    def forget_entry(self):
        # Whatever a failed case left, the next test starts without an entry,
        # kept digests or open transactions.
        wt.inspector("regdel", "--key", KEY, check=False)
        wt.inspector("regdel", "--key", product.MANIFESTS_KEY, check=False)
        wt.inspector("regdel", "--key", RECORDS, check=False)

    def vouch_for_manifest(self, folder=None):
        tis.vouch_for_manifest(folder or self.target)

    # ---- helpers -------------------------------------------------------

    def set_version(self, version):
        with open(os.path.join(self.work, "vellumVersion.txt"), "wb") as f:
            f.write(b"version=" + version.encode() + b"\r\n")

    def quiet(self, *args, script=None, timeout=300):
        """Runs the script unattended; returns (exit code, windows seen).
        Every visible top-level window that appears meanwhile is recorded,
        and so is a VellumSetup process (an unattended run starts none)."""
        script = script or wt.to_windows(os.path.join(self.work, "Vellumsetup.jse "))
        before = {w["hwnd"] for w in wt.inspector("list")}
        proc = self.start("wscript.exe", [script] + list(args))
        self.last_run = proc
        seen = []
        deadline = time.time() + timeout
        while proc.poll() is None:
            self.assertLess(time.time(), deadline, "the script did not end")
            seen += [w for w in wt.inspector("list") if w["hwnd"] not in before]
            seen += [p for p in wt.processes() if p["exe"].lower() == "vellumsetup.exe"]
            time.sleep(0.3)  # leave the machine to the script
        return proc.wait(10), seen

    read_text = staticmethod(tis.read_log)

    def explain(self, log):
        """The log and the script host's own output, for a failure message."""
        out, err = self.last_run.output() if self.last_run else ("", "")
        return "%s\nstdout: %s\nstderr: %s" % (self.read_text(log), out, err)

    def log_lines(self, path=None):
        with open(path or self.log, encoding="ascii") as f:
            return [line.rstrip("\n").split("\t") for line in f if line.strip()]

    def assert_logged(self, lines, what, *words):
        matches = [line for line in lines if line[1] == what and all(w in line[2] for w in words)]
        self.assertTrue(matches, "no log line %r %r in:\n%s" % (what, words,
                                                                  "\n".join("\t".join(x) for x in lines)))
        for line in lines:
            self.assertRegex(line[0], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$")

    def content(self):
        """The install folder without its maintenance folder and the user's file."""
        snap = tis.snapshot(self.target)
        return {k: v for k, v in snap.items()
                if not k.startswith(MAINTENANCE) and k not in ("mine.txt", "notes", "notes/mine.txt")}

    def install_quietly(self, version):
        """An unattended installation into self.target. Where nothing is
        installed yet, the same installation made earlier in this process
        (same version, same working folder) is copied in instead: its
        folders, the working folder, its log and its registry keys, exactly."""
        self.set_version(version)
        # Only where everything the installation writes lies in the scratch
        # folder that every case shares, and nothing is installed yet.
        shared = all(os.path.dirname(p) == self.tmp for p in (self.parent, self.work, self.log))
        fresh = shared and not os.path.exists(self.parent) and \
            not any(wt.registry_trees(INSTALLED_KEYS).values())
        key = (version, self.target, working_folder_state(self.work)) if fresh else None
        if key in _installed:
            self.copy_installation_in(*_installed[key])
            return 0
        code, seen = self.quiet("VellumInstall", "/q", "/acceptlicense", "/target:" + self.wtarget,
                                "/log:" + self.wlog)
        self.assertEqual((code, seen), (0, []), self.explain(self.log))
        if key is not None:
            _installed[key] = self.copy_installation_out()
        return code

    def copy_installation_out(self):
        kept = tempfile.mkdtemp(prefix="deploy-installed-")
        atexit.register(shutil.rmtree, kept, True)
        for name in (self.parent, self.work, self.log):
            _copy(name, os.path.join(kept, os.path.basename(name)))
        return kept, wt.registry_trees(INSTALLED_KEYS)

    def copy_installation_in(self, kept, trees):
        shutil.rmtree(self.work)
        for name in os.listdir(kept):
            _copy(os.path.join(kept, name), os.path.join(self.tmp, name))
        wt.restore_registry_trees(trees)
        self.last_run = None

    def assert_entry(self, version):
        self.assertEqual(tis.reg_text(KEY, "DisplayName"), "Quillfeather")
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), version)
        self.assertEqual(tis.reg_text(KEY, "InstallLocation"), self.wtarget)
        kept = '"%s\\VellumSetup.jse"' % self.wtarget
        for name, switches in (("UninstallString", " /uninstall"), ("QuietUninstallString", " /uninstall /q"),
                               ("ModifyPath", " /repair")):
            command = tis.reg_text(KEY, name)
            self.assertTrue(command.endswith(kept + switches), command)
            self.assertTrue(command.lower().startswith('"c:\\windows\\system32\\wscript.exe"'), command)
        self.assertEqual(tis.reg_text(KEY, "DisplayIcon"), self.wtarget + "\\uninstallUI\\VellumSetup.exe")
        # Everything installed but the manifest, which lists the sizes.
        size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(self.target) for f in fs
                   if f not in ("mine.txt", "manifest.txt"))
        self.assertAlmostEqual(reg_dword(KEY, "EstimatedSize"), size / 1024, delta=1)

    def wine_uninstaller(self, *args):
        out = os.path.join(self.tmp, "uninstaller.out")
        e = wt.setup()
        with open(out, "wb") as f:
            proc = subprocess.Popen([e["WINELOADER"], "uninstaller"] + list(args), env=e, stdout=f,
                                    stderr=subprocess.STDOUT, start_new_session=True)
        return proc, out

    def listed(self):
        proc, out = self.wine_uninstaller("--list")
        self.assertEqual(proc.wait(60), 0)
        with open(out, encoding="utf-8", errors="replace") as f:
            return [line.strip() for line in f if "|||" in line]

    def temp_copies(self):
        return [n for n in os.listdir(wt.windows_temp()) if n.startswith("VellumMaintenance.")]

    def skip_desktops(self):
        """A smaller installation will do: without the desktop cabinets."""
        with open(os.path.join(self.work, "filesList.txt"), "rb") as f:
            names = f.read().split(b"\r\n")
        with open(os.path.join(self.work, "filesList.txt"), "wb") as f:
            f.write(b"\r\n".join(n for n in names if b"_desktops_" not in n))

    def run_entry(self, name, wait=None, cwd=None):
        """Runs the uninstall entry's command name with this case's log."""
        return self.run_windows(tis.reg_text(KEY, name) + ' "/log:%s"' % self.wlog, wait=wait, cwd=cwd)

    def hold(self, path):
        """Has another program hold path open; returns its Windows pid."""
        holder = self.run_windows([wt.to_windows(wt.program("holdfile")), wt.to_windows(path), "120"])["pid"]
        deadline = time.time() + 20
        while not os.path.exists(path + ".held"):
            self.assertLess(time.time(), deadline, "the holder did not open " + path)
            time.sleep(0.1)
        return holder

    def next_box(self, title, other_than=None, timeout=240):
        """The newest message box with that title whose text is not
        other_than (a box just answered may linger a moment)."""
        deadline = time.time() + timeout
        while True:
            box = wt.inspector("msgbox", "--title", title, "--timeout", "2000", check=False)
            if box and box.get("hwnd") and box["text"] != other_than:
                return box
            self.assertLess(time.time(), deadline, "no box %r" % title)

    def assert_removed(self, user_files):
        """Nothing of ours is left: files, folders, entry, registrations."""
        if user_files:
            self.assertEqual(sorted(os.listdir(self.target)), user_files)
            self.assertEqual(sorted(os.listdir(self.parent)), ["Quillfeather"])
        else:
            # The folder above, which the installation created, goes too.
            self.assertFalse(os.path.exists(self.parent))
        self.assertIsNone(tis.reg_text(KEY, "DisplayName"))
        with self.assertRaises(wt.InspectorError):
            wt.inspector("regget", "--key", KEY)
        self.assertNotIn("Quillfeather|||Quillfeather", self.listed())
        self.assert_no_registration()
        self.assertEqual(self.temp_copies(), [])


@ti.needs_payload
class DeployTest(DeployCase):
    def test_unattended_install_repair_upgrade_and_uninstall(self):
        expected, cabinets = expected_content(self.work)

        # Without /acceptlicense nothing happens; the default log says why.
        if os.path.exists(self.default_log):
            os.remove(self.default_log)
        code, seen = self.quiet("VellumInstall", "/q", "/target:" + self.wtarget)
        self.assertEqual((code, seen), (4, []))
        self.assert_logged(self.log_lines(self.default_log), "failed", "/acceptlicense")
        self.assert_logged(self.log_lines(self.default_log), "outcome", "exit code 4")
        self.assertFalse(os.path.exists(self.parent))

        # An older version, unattended: every step logged, no window.
        started = time.time()
        self.install_quietly("3.0.5")
        print("\nunattended install: %.1f s" % (time.time() - started))
        lines = self.log_lines()
        self.assert_logged(lines, "start", "install, quiet")
        self.assert_logged(lines, "locale", "en-us")
        self.assert_logged(lines, "target", self.wtarget)
        for name in cabinets:
            self.assert_logged(lines, "cabinet", name + ": extracted")
        self.assert_logged(lines, "verification", "every listed file")
        self.assert_logged(lines, "registry", "written (version 3.0.5)")
        self.assertEqual(lines[-1][1:], ["outcome", "exit code 0"])
        self.assertEqual(self.content(), expected)
        kept = sorted(os.listdir(os.path.join(self.target, MAINTENANCE, "cabinets")))
        self.assertEqual(kept, sorted(cabinets))
        self.assert_entry("3.0.5")
        self.assertIn("Quillfeather|||Quillfeather", self.listed())
        self.assertEqual(self.beside(), [])
        self.assert_no_registration()

        # Repair: one file deleted, one changed at the same size; the
        # user's own file stays.
        with open(os.path.join(self.target, "mine.txt"), "wb") as f:
            f.write(b"the user's own notes")
        page = os.path.join(self.target, "locales", "en-us", "index.htm")
        os.remove(page)
        css = os.path.join(self.target, "locales", "en-us", "styles", "help.css")
        with open(css, "r+b") as f:
            f.seek(5)
            byte = f.read(1)
            f.seek(5)
            f.write(bytes([byte[0] ^ 0x20]))
        script = wt.to_windows(os.path.join(self.target, "VellumSetup.jse"))
        os.remove(self.log)
        started = time.time()
        code, seen = self.quiet("/repair", "/q", "/log:" + self.wlog, script=script)
        print("unattended repair: %.1f s" % (time.time() - started))
        self.assertEqual((code, seen), (0, []))
        lines = self.log_lines()
        self.assert_logged(lines, "fixed", "locales\\en-us\\index.htm (missing)")
        self.assert_logged(lines, "fixed", "locales\\en-us\\styles\\help.css (content changed)")
        self.assertEqual(len([x for x in lines if x[1] == "fixed"]), 2)
        self.assert_logged(lines, "repair", "2 files restored")
        self.assertEqual(self.content(), expected)
        with open(os.path.join(self.target, "mine.txt"), "rb") as f:
            self.assertEqual(f.read(), b"the user's own notes")
        self.assertEqual(self.temp_copies(), [])
        self.assertEqual(self.beside(), [])

        # Upgrade in place: a file only the old version installed goes,
        # the user's file stays, the entry and the manifest are updated.
        manifest = os.path.join(self.target, MAINTENANCE, "manifest.txt")
        with open(manifest, "ab") as f:
            f.write("file\t3\tlocales\\old-only.txt\r\n".encode("utf-16-le"))
        self.vouch_for_manifest()
        with open(os.path.join(self.target, "locales", "old-only.txt"), "wb") as f:
            f.write(b"old")
        os.remove(self.log)
        self.install_quietly("3.0.6")
        self.assert_logged(self.log_lines(), "upgrade", "3.0.5", "3.0.6")
        self.assertEqual(self.content(), expected)
        with open(os.path.join(self.target, "mine.txt"), "rb") as f:
            self.assertEqual(f.read(), b"the user's own notes")
        with open(manifest, "rb") as f:
            self.assertTrue(f.read().decode("utf-16").startswith("version\t3.0.6"))
        self.assert_entry("3.0.6")
        self.assertEqual(self.beside(), [])

        # A newer installed version is left alone.
        wt.reg_set(KEY, "DisplayVersion", "sz", "9.1")
        before = tis.snapshot(self.target)
        code, seen = self.quiet("VellumInstall", "/q", "/acceptlicense", "/log:" + self.wlog)
        self.assertEqual((code, seen), (5, []))
        self.assert_logged(self.log_lines(), "failed", "newer version", "9.1")
        self.assertEqual(tis.snapshot(self.target), before)
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "9.1")
        wt.reg_set(KEY, "DisplayVersion", "sz", "3.0.6")

        # The quiet uninstall command of the entry, as a deployment tool runs
        # it, started in the install folder (which it must leave to remove
        # it); without files of the user's, every folder it created goes.
        os.remove(self.log)
        os.remove(os.path.join(self.target, "mine.txt"))
        started = time.time()
        answer = self.run_entry("QuietUninstallString", wait=300, cwd=self.target)
        print("unattended uninstall: %.1f s" % (time.time() - started))
        self.assertEqual(answer["exit_code"], 0)
        self.assert_logged(self.log_lines(), "registry", "uninstall entry removed")
        self.assert_removed([])
        # No kept digest of the installation stays, the upgrade's earlier one included.
        name = self.wtarget.lower().replace("\\", "/")
        for value in (name, name + "|previous"):
            self.assertIsNone(tis.reg_text(product.MANIFESTS_KEY, value), value)
        # Again, from the installer's folder: nothing is installed any more.
        code, seen = self.quiet("VellumInstall", "/uninstall", "/q", "/log:" + self.wlog)
        self.assertEqual((code, seen), (6, []))
        self.assert_logged(self.log_lines(), "failed", "not installed")

    def test_uninstall_asked_and_answered_in_chinese_and_german(self):
        self.skip_desktops()
        self.install_quietly("3.0.6")
        before = tis.snapshot(self.target)
        texts = {loc: dict(zip(maintenance_texts.KEYS, maintenance_texts.TEXTS[loc])) for loc in ("zh-cn", "de-de")}

        for key, name in ((ti.KEY1, "localeId"), (ti.KEY2, "Lang_Country")):
            self.addCleanup(wt.inspector, "regdel", "--key", key, "--name", name, check=False)
        # Chinese, chosen through the second registry value: the question in
        # Chinese, answered No; nothing is removed.
        wt.reg_set(ti.KEY2, "Lang_Country", "sz", "ZH_CN")
        zh = texts["zh-cn"]
        pid = self.run_windows(tis.reg_text(KEY, "UninstallString"))["pid"]
        box = self.next_box(zh["loc_UI_Title"])
        self.assertEqual(box["text"], zh["loc_UI_Uninstall_Confirm"].replace("%1", "3.0.6").replace("%2", self.wtarget))
        wt.inspector("answer", "--button", "no", "--title", zh["loc_UI_Title"], "--timeout", "10000")
        self.assertEqual(wt.wait_exit(pid, timeout=120), 2)
        self.assertEqual(tis.snapshot(self.target), before)
        self.assert_entry("3.0.6")

        # German, from the first value: Yes; the progress window and the
        # end message speak German too (the maintenance VellumSetup reads
        # its catalogue beside itself in the copy).
        wt.inspector("regdel", "--key", ti.KEY2, "--name", "Lang_Country", check=False)
        wt.reg_set(ti.KEY1, "localeId", "sz", "de-de")
        de = texts["de-de"]
        pid = self.run_windows(tis.reg_text(KEY, "UninstallString"))["pid"]
        question = de["loc_UI_Uninstall_Confirm"].replace("%1", "3.0.6").replace("%2", self.wtarget)
        box = self.next_box(de["loc_UI_Title"])
        self.assertEqual(box["text"], question)
        wt.inspector("answer", "--button", "yes", "--title", de["loc_UI_Title"], "--timeout", "10000")
        box = self.next_box(de["loc_UI_Title"], other_than=question)
        self.assertEqual(box["text"], de["loc_UI_Uninstall_Done"])
        progress = wt.inspector("dump", "--class", product.PROGRESS_CLASS, "--visible")
        self.assertEqual(progress["title"], de["loc_UI_Title"])
        self.assertIn(de["loc_UI_Uninstall_Progress"], [c["text"] for c in progress["controls"]])
        wt.inspector("answer", "--button", "ok", "--title", de["loc_UI_Title"], "--timeout", "10000")
        self.assertEqual(wt.wait_exit(pid, timeout=120), 0)
        self.assert_removed([])

    def test_remove_through_add_remove_programs(self):
        self.skip_desktops()

        # An installation in another folder first: the second one takes the
        # entry over, and removing the first leaves the entry alone.
        other = os.path.join(self.tmp, "Other", "Quillfeather")
        code, seen = self.quiet("VellumInstall", "/q", "/acceptlicense", "/target:" + wt.to_windows(other))
        self.assertEqual((code, seen), (0, []), self.explain(self.default_log))
        self.install_quietly("3.0.6")
        self.assertEqual(tis.reg_text(KEY, "InstallLocation"), self.wtarget)
        code, seen = self.quiet("/uninstall", "/q", "/log:" + self.wlog,
                                script=wt.to_windows(os.path.join(other, "VellumSetup.jse")))
        self.assertEqual((code, seen), (0, []))
        self.assert_logged(self.log_lines(), "registry", "names another installation")
        self.assertFalse(os.path.exists(os.path.dirname(other)))
        self.assert_entry("3.0.6")
        os.makedirs(os.path.join(self.target, "notes"))
        with open(os.path.join(self.target, "notes", "mine.txt"), "wb") as f:
            f.write(b"the user's own notes")

        # The entry's Change, with a person at the screen: the kept VellumSetup
        # shows its progress window verifying, then fixing, and the outcome.
        gone = os.path.join(self.target, "locales", "en-us", "index.htm")
        with open(gone, "rb") as f:
            original = f.read()
        os.remove(gone)
        if os.path.exists(self.log):
            os.remove(self.log)
        pid = self.run_entry("ModifyPath")["pid"]
        box = wt.awaited("msgbox", "--title", TITLE, "--timeout", "240000")
        self.assertIn("was repaired", box["text"])
        wt.inspector("answer", "--button", "ok", "--title", TITLE)
        self.assertEqual(wt.wait_exit(pid, timeout=120), 0)
        lines = self.log_lines()
        self.assert_logged(lines, "progress window", "mode 0")
        self.assert_logged(lines, "progress window", "mode 2")
        self.assertFalse([l for l in lines if l[1] == "progress window" and "not available" in l[2]])
        with open(gone, "rb") as f:
            self.assertEqual(f.read(), original)

        # A file held open by another program: the quiet uninstall fails,
        # and the entry and what it runs stay to try again.
        page = os.path.join(self.target, "locales", "en-us", "index.htm")
        holder = self.hold(page)
        answer = self.run_entry("QuietUninstallString", wait=300)
        self.assertEqual(answer["exit_code"], 1)
        self.assert_logged(self.log_lines(), "failed", "could not be removed completely", "index.htm")
        self.assertTrue(os.path.isfile(page))
        for kept in ("VellumSetup.jse", "uninstallUI/VellumSetup.exe", MAINTENANCE + "/manifest.txt"):
            self.assertTrue(os.path.isfile(os.path.join(self.target, kept)), kept)
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assertEqual(self.temp_copies(), [])
        self.assertTrue(wt.inspector("kill", "--pid", holder)["killed"])  # waits for its end
        os.remove(page + ".held")
        before = tis.snapshot(self.target)

        # Wine's uninstaller runs the entry's command: the question comes
        # first, and No leaves everything as it was.
        proc, _ = self.wine_uninstaller("--remove", "Quillfeather")
        box = wt.awaited("msgbox", "--title", TITLE, "--timeout", "60000")
        self.assertIn("remove Quillfeather", box["text"])
        self.assertEqual(box["icon"], "question")
        wt.inspector("answer", "--button", "no", "--title", TITLE)
        proc.wait(120)
        self.assertEqual(tis.snapshot(self.target), before)
        self.assertEqual(tis.reg_text(KEY, "DisplayVersion"), "3.0.6")
        self.assertEqual(self.temp_copies(), [])

        # Yes removes it; the user is told, and nothing of ours is left.
        proc, _ = self.wine_uninstaller("--remove", "Quillfeather")
        wt.awaited("msgbox", "--title", TITLE, "--timeout", "60000")
        wt.inspector("answer", "--button", "yes", "--title", TITLE)
        box = wt.awaited("msgbox", "--title", TITLE, "--timeout", "120000")
        self.assertIn("Quillfeather was removed", box["text"])
        self.assertIn("kept", box["text"])
        wt.inspector("answer", "--button", "ok", "--title", TITLE)
        proc.wait(120)
        self.assert_removed(["notes"])
        self.assertEqual(os.listdir(os.path.join(self.target, "notes")), ["mine.txt"])
        with open(os.path.join(self.target, "notes", "mine.txt"), "rb") as f:
            self.assertEqual(f.read(), b"the user's own notes")

if __name__ == "__main__":
    unittest.main()
