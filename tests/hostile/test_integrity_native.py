"""Never a success over a failure, end to end under Wine: the launcher on full
and tiny disks, with folders or held files in place of the list and the
script, two launchers at once; EXTRACT with device names, lying and damaged
cabinets, and a full disk over an existing file.

Each case asserts the exit code, the boxes the user saw (count and icon) and
the files on disk byte for byte. Full disks are small tmpfs mounts made by
the test (CI runs as root); where mounting is refused the case is skipped
with the reason printed.
"""
import contextlib
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winerun  # noqa: E402
from extract.test_extract import make_cabinet as make_gcab_cabinet  # noqa: E402

BIN = winerun.bin_dir()
DEV = os.path.join(BIN, "launcher", "VellumInstallerDev.exe")
EXTRACT = os.path.join(BIN, "extract", "EXTRACT.EXE")
HOLD = os.path.join(BIN, "testtools", "holdfile", "holdfile.exe")
DEV_PAYLOAD = os.path.join(winerun.ROOT, "payload", "dev")
CANNOT_OPEN = "Couldn't open file for writing."
RUNNING = "Another Quillfeather installation is running."
DISK_FULL = "(error 112)"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def dev_names():
    return read(os.path.join(DEV_PAYLOAD, "filesList.txt")).decode("ascii").split("\r\n")[:-1]


def head(box):
    return box["text"].replace("\r\n", "\n").split("\n\n")[0]


@contextlib.contextmanager
def small_disk(test, options):
    """A tmpfs of its own for one case; unmounted whatever happens."""
    mnt = winerun.fresh_dir("integrity-disk")
    test.addCleanup(shutil.rmtree, mnt, True)
    try:
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", mnt],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as e:
        r = None
        why = str(e)
    if r is None or r.returncode != 0:
        why = why if r is None else r.stdout.decode(errors="replace").strip()
        print("skipped: mounting a tmpfs was refused here: %s" % why)
        test.skipTest("mounting a tmpfs was refused: %s" % why)
    try:
        yield mnt
    finally:
        winerun.end_prefix_processes()
        for args in (["umount", mnt], ["umount", "-l", mnt]):
            try:
                if subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  timeout=30).returncode == 0:
                    break
            except subprocess.TimeoutExpired:
                pass


def make_cabinet(path, files):
    """A cabinet of {relative path: bytes}; returns its bytes."""
    make_gcab_cabinet(path, files)
    return read(path)


def file_table(data):
    """[(offset of the entry, size, name)] of a cabinet's file table."""
    at = struct.unpack_from("<I", data, 16)[0]
    count = struct.unpack_from("<H", data, 28)[0]
    out = []
    for _ in range(count):
        size = struct.unpack_from("<I", data, at)[0]
        end = data.index(b"\0", at + 16)
        out.append((at, size, data[at + 16:end].decode("latin-1")))
        at = end + 1
    return out


def tree(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(base, n)
            out[os.path.relpath(p, folder).replace(os.sep, "/")] = read(p)
    return out


class Launcher(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(DEV):
            raise unittest.SkipTest("the development launcher is not built")
        winerun.ensure_prefix()
        winerun.ensure_display()

    @classmethod
    def tearDownClass(cls):
        winerun.end_prefix_processes()
        winerun.stop_display()

    def temp(self):
        d = winerun.fresh_dir("integrity")
        self.addCleanup(shutil.rmtree, d, True)
        return d

    def run_dev(self, temp, args=("/q",)):
        t = winerun.winpath(temp)
        return winerun.drive([winerun.winpath(DEV)] + list(args), {"TEMP": t, "TMP": t}, timeout=90)

    def assert_intact(self, folder, names):
        for n in names:
            self.assertEqual(read(os.path.join(DEV_PAYLOAD, n)), read(os.path.join(folder, n)), n)

    def assert_one_stop(self, code, boxes, *parts):
        self.assertEqual(4, code, boxes)
        self.assertEqual(1, len(boxes), boxes)
        self.assertEqual("stop", boxes[0]["icon"])
        for p in parts:
            self.assertIn(p, boxes[0]["text"])
        self.assertIn("Setup has stopped", boxes[0]["text"])

    # ---- full and tiny disks --------------------------------------------

    def test_tiny_disk_stops_at_the_file_list(self):
        # Room for the working folder and nothing else: the list cannot be
        # written, so nothing can; one box, exit 4, the folder left empty.
        with small_disk(self, "size=64k,nr_inodes=2") as mnt:
            code, boxes = self.run_dev(mnt)
            wf = os.path.join(mnt, "_hsc_Vellum")
            self.assert_one_stop(code, boxes, "filesList.txt", DISK_FULL)
            self.assertEqual([], os.listdir(wf))

    def test_disk_full_midway_stops_with_one_box_and_no_part_file(self):
        # Room for the list, the catalogue and a few files (tmpfs counts in
        # pages): the first file that does not fit ends the run.
        with small_disk(self, "size=24k") as mnt:
            code, boxes = self.run_dev(mnt)
            wf = os.path.join(mnt, "_hsc_Vellum")
            self.assert_one_stop(code, boxes, DISK_FULL)
            names = dev_names()
            there = [n for n in names if os.path.exists(os.path.join(wf, n))]
            # The files written form the list's beginning, each whole; the
            # one that failed is gone; nothing after it; no script ran.
            self.assertGreater(len(there), 0)
            self.assertLess(len(there), len(names))
            self.assertEqual(names[:len(there)], there)
            self.assert_intact(wf, there)
            self.assertIn(names[len(there)], boxes[0]["text"])
            self.assertEqual(sorted(there + ["filesList.txt"]), sorted(os.listdir(wf)))

    # ---- what is read and started is what this run wrote ------------------

    def test_folder_in_place_of_the_script_is_never_started(self):
        t = self.temp()
        wf = os.path.join(t, "_hsc_Vellum")
        os.makedirs(os.path.join(wf, "VellumSetup.jse"))
        code, boxes = self.run_dev(t)
        self.assert_one_stop(code, boxes, "VellumSetup.jse")
        self.assertEqual(CANNOT_OPEN, head(boxes[0]))
        names = dev_names()
        before = names[:names.index("VellumSetup.jse")]
        self.assert_intact(wf, before)
        self.assertTrue(os.path.isdir(os.path.join(wf, "VellumSetup.jse")))
        self.assertEqual(sorted(before + ["filesList.txt", "VellumSetup.jse"]), sorted(os.listdir(wf)))

    def test_held_script_of_an_earlier_run_is_never_started(self):
        t = self.temp()
        wf = os.path.join(t, "_hsc_Vellum")
        os.makedirs(wf)
        old = b"// an earlier run's script\r\nWScript.Quit(7);\r\n"
        script = os.path.join(wf, "VellumSetup.jse")
        with open(script, "wb") as f:
            f.write(old)
        with self.held(script):
            code, boxes = self.run_dev(t)
        self.assert_one_stop(code, boxes, "VellumSetup.jse", "(error 32)")
        self.assertEqual(old, read(script))
        self.assertFalse(os.path.exists(os.path.join(wf, "launched.txt")), "a script was started")
        self.assertFalse(os.path.exists(os.path.join(wf, "vellumVersion.txt")), "files after the script")

    # ---- one installation at a time --------------------------------------

    def test_running_installation_refuses_a_launcher(self):
        # The script holds its lock in the working folder: nothing is written.
        t = self.temp()
        wf = os.path.join(t, "_hsc_Vellum")
        os.makedirs(wf)
        lock = os.path.join(wf, "VellumSetup.lock")
        with open(os.path.join(wf, "sample.bin"), "wb") as f:
            f.write(b"the running installation's file")
        with self.held(lock):
            code, boxes = self.run_dev(t)
        self.assertEqual(5, code)
        self.assertEqual([("exclamation", RUNNING)], [(b["icon"], head(b)) for b in boxes])
        self.assertEqual(["VellumSetup.lock", "VellumSetup.lock.held", "sample.bin"], sorted(os.listdir(wf)))
        self.assertEqual(b"the running installation's file", read(os.path.join(wf, "sample.bin")))

    @contextlib.contextmanager
    def held(self, path):
        """Another program holds the file open (no sharing) meanwhile."""
        holder = winerun.start([HOLD, winerun.winpath(path), "60"])
        try:
            deadline = time.monotonic() + 30
            while not os.path.exists(path + ".held") and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(os.path.exists(path + ".held"), "the holder did not start")
            yield
        finally:
            winerun.stop(holder)

    def start_dev(self, temp):
        """Starts the development launcher through the inspector, which
        waits for it and reports its exit code when it ends."""
        t = winerun.winpath(temp)
        argv = [winerun.inspector_exe(), "run", "--wait", "120000", "--env", "TEMP=" + t,
                "--env", "TMP=" + t, "--", winerun.winpath(DEV), "/q"]
        return self.start_runner(argv)

    def start_runner(self, argv):
        out = os.path.join(self.temp(), "run")
        proc = winerun.start(argv, out=out)
        self.addCleanup(winerun.stop, proc)
        return [proc, out, argv]

    def settle(self, runs, skip=lambda box: False, timeout=150):
        """Answers every box (but those skip() names) until the runs have
        ended; returns ([(pid, exit code)], [boxes])."""
        boxes = []
        deadline = time.monotonic() + timeout
        restarts = 0
        while time.monotonic() < deadline:
            # Whatever the timing, what the launcher does is under test, so
            # a runner Wine never started is started again (a few times).
            for run in runs:
                if restarts < 3 and winerun.never_started(run[0], run[1]):
                    restarts += 1
                    print("runner never started; starting it again", flush=True)
                    run[:] = self.start_runner(run[2])
            if all(p.poll() is not None for p, _, _ in runs):
                break
            _, box = winerun.inspector(["msgbox", "--timeout", "400"], timeout=30)
            if box and box.get("hwnd") and not skip(box):
                if not any(b["hwnd"] == box["hwnd"] for b in boxes):
                    boxes.append(box)
                winerun.inspector(["answer", "--button", "ok", "--pid", str(box["pid"]), "--timeout", "2000"],
                                  timeout=30)
        results = []
        for proc, out, _ in runs:
            if proc.poll() is None:
                winerun.stop(proc)
            try:
                with open(out + ".out", "rb") as f:
                    state = json.loads(f.read().decode("utf-8", "replace") or "{}")
            except (OSError, ValueError):
                state = {}
            if not state.get("exited"):
                # Say why there is no exit code: what the inspector wrote and what Wine said.
                for name in (out + ".out", out + ".err"):
                    try:
                        with open(name, "rb") as f:
                            print("no exit code; %s: %r" % (name, f.read()[-2000:]), flush=True)
                    except OSError as e:
                        print("no exit code; %s: %s" % (name, e), flush=True)
            results.append((state.get("pid"), state.get("exit_code") if state.get("exited") else None))
        return results, boxes

    def test_launcher_waits_for_its_script(self):
        # The script pauses, then leaves a file and ends. The launcher holds
        # the run until then (or until the script takes its lock): when it
        # has ended, the file is there.
        slow = os.path.join(BIN, "tests", "hostile", "hostile_slowscript.exe")
        t = self.temp()
        tw = winerun.winpath(t)
        code, boxes = winerun.drive([winerun.winpath(slow), "/q"], {"TEMP": tw, "TMP": tw}, timeout=90)
        self.assertEqual((0, []), (code, boxes))
        self.assertEqual(b"ended\r\n", read(os.path.join(t, "_hsc_Vellum", "ended.txt")))

    def test_second_launcher_while_one_runs(self):
        # The first is held at a box (a folder stands in for one file) and
        # so holds the run: the second refuses at once and writes nothing.
        first, second = self.temp(), self.temp()
        os.makedirs(os.path.join(first, "_hsc_Vellum", "sample.bin"))
        run1 = self.start_dev(first)
        _, held = winerun.inspector(["msgbox", "--timeout", "30000"], timeout=60)
        self.assertEqual(CANNOT_OPEN, head(held))
        run2 = self.start_dev(second)
        [(pid2, code2)], boxes = self.settle([run2], skip=lambda box: box["pid"] == held["pid"])
        self.assertEqual(5, code2)
        self.assertEqual([(pid2, "exclamation", RUNNING)], [(b["pid"], b["icon"], head(b)) for b in boxes])
        self.assertEqual([], os.listdir(second))
        [(pid1, code1)], boxes = self.settle([run1])
        self.assertEqual((held["pid"], 0), (pid1, code1))
        self.assertEqual([held["hwnd"]], [b["hwnd"] for b in boxes])
        self.assertTrue(os.path.exists(os.path.join(first, "_hsc_Vellum", "launched.txt")))

    def test_two_launchers_started_together(self):
        # Whatever the timing: a launcher either proceeds (exit 0, its whole
        # payload, its script started) or refuses (exit 5, one exclamation
        # box, nothing written); never both refuse.
        for attempt in range(4):
            a, b = self.temp(), self.temp()
            results, boxes = self.settle([self.start_dev(a), self.start_dev(b)])
            seen = [code for _, code in results]
            self.assertIn(0, seen, "attempt %d: %s" % (attempt, seen))
            for (pid, code), folder in zip(results, (a, b)):
                mine = [x for x in boxes if x["pid"] == pid]
                if code == 0:
                    self.assertEqual([], mine)
                    wf = os.path.join(folder, "_hsc_Vellum")
                    self.assert_intact(wf, dev_names())
                    self.assertTrue(os.path.exists(os.path.join(wf, "launched.txt")))
                else:
                    self.assertEqual(5, code, "attempt %d" % attempt)
                    self.assertEqual([("exclamation", RUNNING)], [(x["icon"], head(x)) for x in mine])
                    self.assertEqual([], os.listdir(folder))


@unittest.skipUnless(os.path.isfile(EXTRACT) and shutil.which("gcab"), "EXTRACT.EXE or gcab missing")
class Extract(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        winerun.ensure_prefix()

    def setUp(self):
        self.tmp = winerun.fresh_dir("integrity-extract")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def extract(self, *args):
        out = os.path.join(self.tmp, "run")
        code, _ = winerun.run([EXTRACT] + list(args), timeout=120, out=out)
        with open(out + ".err", "rb") as f:
            err = f.read().decode("utf-8", "replace")
        with open(out + ".out", "rb") as f:
            listing = f.read().decode("utf-8", "replace")
        return code, err, listing

    def cabinet(self, name, files, renames=()):
        """A cabinet whose stored names are then changed in place (same
        length): gcab will not store the names that are under test."""
        path = os.path.join(self.tmp, name)
        data = make_cabinet(path, files)
        for old, new in renames:
            self.assertEqual(1, data.count(old), old)
            data = data.replace(old, new)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_device_names_and_names_windows_would_change(self):
        for stored in ("NUL", "nul.txt", "aux.txt", "COM1", "a\\con\\b", "name.", "name ", "LPT9.log"):
            placeholder = "".join("q" if c not in "\\." else c for c in stored)
            cab = self.cabinet("dev.cab", {"fine.txt": b"fine", placeholder.replace("\\", "/"): b"device bytes"},
                               [(placeholder.encode() + b"\0", stored.encode() + b"\0")])
            dest = os.path.join(self.tmp, "out")
            code, err, _ = self.extract("/Y", "/L", winerun.winpath(dest), winerun.winpath(cab))
            self.assertEqual(4, code, (stored, err))
            self.assertIn(stored, err)
            # Names are checked first: not even the sound member is written.
            self.assertEqual({}, tree(dest), stored)
            code, err, listing = self.extract("/D", winerun.winpath(cab))
            self.assertEqual(4, code, (stored, err))
            shutil.rmtree(dest, ignore_errors=True)

    def test_lying_and_damaged_cabinets_leave_the_old_files(self):
        content = {"a.txt": b"new a " * 50, "b.bin": os.urandom(50000), "c.txt": b"new c"}
        dest = os.path.join(self.tmp, "installed")
        os.makedirs(dest)
        old = {"a.txt": b"old a", "b.bin": b"old b" * 1000, "c.txt": b"old c"}
        for n, d in old.items():
            with open(os.path.join(dest, n), "wb") as f:
                f.write(d)
        good = self.cabinet("good.cab", content)
        data = read(good)
        # A member whose data is shorter than the file table says.
        entry = [e for e in file_table(data) if e[2] == "c.txt"][0]
        lying = bytearray(data)
        struct.pack_into("<I", lying, entry[0], entry[1] + 5000)
        # A damaged data block (its checksum no longer fits).
        damaged = bytearray(data)
        damaged[-200] ^= 0x40
        for name, cab in (("lying.cab", lying), ("damaged.cab", damaged)):
            path = os.path.join(self.tmp, name)
            with open(path, "wb") as f:
                f.write(bytes(cab))
            code, err, _ = self.extract("/Y", "/L", winerun.winpath(dest), winerun.winpath(path))
            self.assertEqual(2, code, (name, err))
            self.assertEqual(old, tree(dest), name)
            code, err, _ = self.extract("/D", winerun.winpath(path))
            self.assertEqual(2, code, (name, err))
        code, err, listing = self.extract("/D", winerun.winpath(good))
        self.assertEqual(0, code, err)
        self.assertIn("%10d  c.txt" % len(content["c.txt"]), listing)
        code, err, _ = self.extract("/Y", "/L", winerun.winpath(dest), winerun.winpath(good))
        self.assertEqual(0, code, err)
        self.assertEqual(content, tree(dest))

    def test_full_disk_never_replaces_an_existing_file(self):
        content = {"a-small.txt": b"small", "big.bin": os.urandom(100000), "z.txt": b"last"}
        cab = self.cabinet("full.cab", content)
        with small_disk(self, "size=64k") as mnt:
            old = os.urandom(20000)
            with open(os.path.join(mnt, "big.bin"), "wb") as f:
                f.write(old)
            code, err, _ = self.extract("/Y", "/L", winerun.winpath(mnt), winerun.winpath(cab))
            self.assertEqual(3, code, err)
            self.assertIn("big.bin", err)
            # The old file byte for byte, the one before it whole, no
            # temporary file and nothing after it.
            self.assertEqual({"a-small.txt": b"small", "big.bin": old}, tree(mnt))


if __name__ == "__main__":
    unittest.main()
