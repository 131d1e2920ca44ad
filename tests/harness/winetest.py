"""Wine test harness: runs the project's Windows programs under Wine from
Python unittest modules (standard library only).

Environment
    env()                 the variables scripts/wine-env.sh exports (WINELOADER,
                          WINEPREFIX, VELLUM_BIN, ...), honouring VELLUM_BUILD
                          and VELLUM_ARCH as ctest sets them, plus DISPLAY.
    setup()               once per process: environment, prefix
                          (scripts/wine-prefix.sh) and a display (a private
                          Xvfb when DISPLAY is not usable, stopped at exit).
                          WineTestCase calls it; scripts call it first.
    ROOT, program(name)   the source tree; the built program NAME.exe found
                          under VELLUM_BIN (e.g. program("inspector")).

Paths
    to_windows(p)         unix path -> "Z:\\..." (absolute)
    to_unix(w)            Windows path (C:\\..., Z:\\..., other drive letters)
                          -> unix path inside the prefix or the host
    c_drive()             the prefix's C: drive as a unix path
    windows_temp()        the prefix's %TEMP% folder as a unix path

Running programs (output always goes to files, never pipes)
    run(exe, args, timeout=60, env=None, cwd=None) -> Result(code, stdout, stderr)
                          runs a Windows program from the host and waits;
                          raises TimeoutError (after killing it) on time-out
    start(exe, args, env=None, cwd=None) -> Process(pid, kill(), wait(t), poll())
                          host-side start; pid is the unix pid
    inspector(*args, timeout=60, check=True) -> parsed JSON
                          one testtools/inspector command (see its main.cpp
                          for the commands), answered by the process's
                          resident inspector (one "inspector serve" process,
                          started on first use and again if it has ended);
                          a failure raises InspectorError with .code (1
                          failure, 2 time-out/not found, 3 refused; -1 the
                          resident ended or did not answer), .stderr and
                          .output (JSON written before failing)
    Resident(folder=None) an inspector process of one's own in serve mode:
                          r(*args) as inspector(), r.ask(*args) ->
                          {code, out, err}, r.close()
    resident_stderr_mark(), resident_stderr(since)
                          what the residents and the programs they started
                          wrote on their error output after a mark (Wine's
                          own messages: a crash, a failed start)
    host_scratch()        this process's folder for output files, removed
                          when it ends
    inspector_background(*args) -> Background; .result(timeout) -> parsed JSON
                          an inspector command running while the test acts
                          (e.g. "watch" recording a progress bar)
    run_windows(cmdline_or_args, env=None, unset=(), cwd=None, wait=None,
                clear_env=False, stdout=None, stderr=None)
                          starts a program from inside the prefix through
                          "inspector run" with an exact Windows environment;
                          returns {"pid": Windows pid[, "exited", "exit_code"]}
                          (wait in seconds; a list is quoted argument by
                          argument, a string is the command line verbatim)
    wait_window(title, timeout=10, **filters) -> {"hwnd","pid","title",...}
    keys(*names, hwnd=None)   real key presses through XInput ("Return",
                          "Escape", "Tab", "space", "alt+n"), after bringing
                          the window hwnd to the foreground when given
                          (no names: only that)
    XInput()              .key(sequence), .click(x, y): real key and mouse
                          events without a process start each (many of them)
    processes()           the prefix's Windows processes [{pid,parent,exe}]
    pids_of(exe)          Windows pids of the running processes of that
                          program name ("wscript.exe"), in pid order
    wait_exit(pid, timeout=30) -> exit code (None if unknown) of a Windows
                          pid; raises InspectorError (code 2) on time-out
    screenshot(path, hwnd=None)  the display, or one window's rectangle of
                          it, with ImageMagick's import
    reg_set(key, name, type, data=None, hexdata=None), reg_delete(key, name=None)
                          registry values with exact bytes (inspector regset)
    registry_trees(keys) -> state, restore_registry_trees(state)
                          whole keys as they stand, and put back exactly
    wineserver_wait(timeout=60), wineserver_kill()

Heap checking
    HEAPCHECK             True when VELLUM_HEAPCHECK=1 (the ctest label
                          heapcheck sets it): every Windows program then runs
                          with Wine's heap checking (WINEDEBUG warn+heap:
                          freed memory is filled and blocks are validated,
                          so a use after free faults instead of passing by
                          luck)
    heap_faults(text)     the lines of Wine output that tell of heap
                          corruption or a crash (an unhandled exception)

Test base class
    WineTestCase          unittest.TestCase with setup() done, a private
                          scratch folder self.tmp (unix path; self.wtmp as
                          Windows path; with same_scratch = True one path for
                          every case of the process, emptied before each),
                          and cleanup of every process it
                          started: self.start(...) / self.run_windows(...)
                          register their pids; cleanup ends the ones still
                          running, then (by pid) every other Windows process
                          that appeared during the test, such as programs
                          those started, Wine's own services excepted.
                          Under HEAPCHECK the test fails when the output of
                          a process it started (programs those started, a
                          COM server included, write to the same place)
                          tells of heap corruption or a crash.

Running one module by hand (from tests/, with a built tree):
    VELLUM_BUILD=/work/build-me python3 -m unittest -v tooling/test_window_tool.py
ctest runs them the same way (vellum_wine_test) through scripts/in-slot.sh,
one at a time per Wine slot: the slot's prefix comes in WINEPREFIX_OVERRIDE,
its display in DISPLAY, both honoured here. A module run by hand takes the
slot of its prefix too (setup()), waiting while a test holds it.

How Wine forms a program's Windows environment (tested in
tests/tooling/test_window_tool.py): a program started from the host gets the
unix environment (FOO=bar reaches it), EXCEPT TEMP and TMP: Wine sets those
from the prefix's registry (HKCU\\Environment, C:\\users\\<user>\\Temp), so a
unix TEMP never reaches it, and an empty or unset TEMP cannot be had that way
either. Wine also adds WINE* variables, SystemRoot and SystemDrive. A process
started by another Windows process gets the block it is given (Wine adds
only those same variables of its own: no TEMP or TMP), so
run_windows(..., env={"TEMP": ...}, unset=["TMP"]) is the way to give a
program a chosen, empty ("TEMP": "") or missing TEMP, or non-ASCII values.
"""

import atexit
import ctypes
import json
import os
import re
import shutil
import signal
import sys
import subprocess
import tempfile
import time
import unittest

from harness import product

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(__file__))))
HEAPCHECK = os.environ.get("VELLUM_HEAPCHECK") == "1"
HEAPCHECK_DEBUG = "-all,err+heap,warn+heap"

_env = None
_xvfb = None
_programs = {}


class InspectorError(Exception):
    def __init__(self, args, code, stderr, output):
        super().__init__("inspector %s failed (exit %d): %s" % (" ".join(args), code, stderr.strip()))
        self.code = code
        self.stderr = stderr
        self.output = output


class Result:
    def __init__(self, code, stdout, stderr):
        self.code = code
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return "Result(code=%r, stdout=%r, stderr=%r)" % (self.code, self.stdout[-500:], self.stderr[-500:])


# ---- environment -----------------------------------------------------------

# Linux personality flag: no address randomization for programs started
# from here on (scripts/fixed-layout.sh says why Wine needs it).
_ADDR_NO_RANDOMIZE = 0x0040000


def _fixed_layout():
    """Address randomization off for every program this process starts, as
    scripts/fixed-layout.sh does for the scripts (a module run by hand or
    by ctest directly has not passed through them). Left as it is where the
    kernel refuses."""
    libc = ctypes.CDLL(None, use_errno=True)
    current = libc.personality(0xffffffff)
    if current != -1 and not current & _ADDR_NO_RANDOMIZE:
        libc.personality(current | _ADDR_NO_RANDOMIZE)


def env():
    """The environment every Wine call uses (computed once)."""
    global _env
    if _env is None:
        _fixed_layout()
        base = dict(os.environ)
        base.setdefault("VELLUM_BUILD", os.path.join(ROOT, "build"))
        base["VELLUM_BUILD"] = os.path.abspath(base["VELLUM_BUILD"])
        out = subprocess.run(["bash", "-c", '. "$0/scripts/wine-env.sh"; env -0', ROOT],
                             env=base, stdout=subprocess.PIPE, check=True).stdout
        _env = dict(item.split("=", 1) for item in out.decode("utf-8", "replace").split("\0") if "=" in item)
        if HEAPCHECK:
            _env["WINEDEBUG"] = HEAPCHECK_DEBUG
    return _env


# Wine's report of heap corruption (err:heap, warn:heap), of a fault that
# no handler caught, and winedbg's crash report.
_FAULT = re.compile(r"(^|:)(err|warn):heap:|Unhandled (page fault|exception|illegal|privileged|stack overflow)"
                    r"|^Unhandled exception|wine: Unhandled|^Backtrace:", re.M)


def heap_faults(text):
    return [line for line in text.splitlines() if _FAULT.search(line)]


# ---- trace -----------------------------------------------------------------
# One line for every program started from the host, its end, and every kill
# and session end the harness asks for, with the slot and the prefix's
# wineserver at that moment: what ended a program that should not have ended
# can then be read off one file. scripts/in-slot.sh names the file
# (VELLUM_WINE_TRACE); without it nothing is written.

_server_dirs = {}


def _server_pid(prefix):
    """The pid of the wineserver that serves prefix (it holds the lock of
    its server folder), or 0 when none runs."""
    import glob
    try:
        st = os.stat(prefix)
    except OSError:
        return 0
    name = "server-%x-%x" % (st.st_dev, st.st_ino)
    known = _server_dirs.get(prefix)
    if known and known[0] == name:
        pid = _lock_holder(os.path.join(known[1], "lock"))
        if pid:
            return pid
    # Wine keeps it under /run/user/<uid>/wine or in a folder of its own
    # under $TMPDIR (wine-XXXXXX), or upstream's /tmp/.wine-<uid>. Folders
    # of servers that have ended stay, and a prefix made later in the place
    # of a removed one can get its inode and so its folder's name: the
    # server is the one whose lock is held.
    tmp = os.environ.get("TMPDIR") or "/tmp"
    for folder in glob.glob("/run/user/%d/wine/%s" % (os.getuid(), name)) + \
            glob.glob(os.path.join(tmp, "wine-*", name)) + glob.glob("/tmp/.wine-%d/%s" % (os.getuid(), name)):
        pid = _lock_holder(os.path.join(folder, "lock"))
        if pid:
            _server_dirs[prefix] = (name, folder)
            return pid
    return 0


def _lock_holder(path):
    """The pid holding a write lock on the file, or 0."""
    import fcntl
    import struct
    try:
        fd = os.open(path, os.O_RDONLY)
    except OSError:
        return 0
    try:
        query = struct.pack("hhqqi", fcntl.F_WRLCK, 0, 0, 0, 0)
        kind, _, _, _, pid = struct.unpack("hhqqi", fcntl.fcntl(fd, fcntl.F_GETLK, query))
        return pid if kind != fcntl.F_UNLCK else 0
    except OSError:
        return 0
    finally:
        os.close(fd)


def trace(event, *details, prefix=None):
    path = os.environ.get("VELLUM_WINE_TRACE")
    if not path:
        return
    prefix = prefix or (_env or {}).get("WINEPREFIX") or os.environ.get("WINEPREFIX", "")
    line = "%.3f slot=%s py=%d server=%d %s %s\n" % (
        time.time(), os.environ.get("VELLUM_SLOT", "-"), os.getpid(), _server_pid(prefix), event,
        " ".join(str(d) for d in details)[:300])
    try:
        fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, line.encode("utf-8", "replace"))
        finally:
            os.close(fd)
    except OSError:
        pass  # a diagnostic never fails a test


def _display_usable(display):
    if not display:
        return False
    num = display.split(":", 1)[-1].split(".")[0]
    return num.isdigit() and os.path.exists("/tmp/.X11-unix/X" + num)


def _lock_pid(n):
    try:
        with open("/tmp/.X%d-lock" % n) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def _start_xvfb():
    global _xvfb
    for n in range(91, 141):
        if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
            continue
        proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(50):
            # Ours only when the display's lock names our server (another
            # run may have chosen the same number at the same moment).
            if os.path.exists("/tmp/.X11-unix/X%d" % n) and _lock_pid(n) == proc.pid:
                _xvfb = proc
                atexit.register(_stop_xvfb)
                return ":%d" % n
            if proc.poll() is not None:
                break
            time.sleep(0.1)
        proc.kill()
        proc.wait()
    raise RuntimeError("no free display for Xvfb")


def _stop_xvfb():
    global _xvfb
    if _xvfb is not None:
        # Wine processes of this display end with their wineserver first.
        wineserver_kill()
        _xvfb.terminate()
        try:
            _xvfb.wait(10)
        except subprocess.TimeoutExpired:
            _xvfb.kill()
        _xvfb = None


_ready = False
_slot_lock = None


def _hold_slot(e):
    """A process not started through scripts/in-slot.sh (a module or script
    run by hand) takes the Wine slot of the prefix it uses, as ctest's tests
    do: it ends that prefix's processes and its whole session, so beside a
    running test it would end that test's programs, which then exit 1 (or 0)
    without a word. It waits while a test holds the slot."""
    global _slot_lock
    if os.environ.get("VELLUM_SLOT") is not None or _slot_lock is not None:
        return
    import fcntl
    base = os.path.join(e["VELLUM_BUILD"], "wineprefix-" + e["VELLUM_ARCH"])
    prefix = os.path.abspath(e["WINEPREFIX"])
    suffix = prefix[len(base):]
    if not prefix.startswith(base) or not (suffix == "" or re.fullmatch(r"-slot[1-9]", suffix)):
        return  # a prefix of its own (the benchmark's): no test uses it
    lock = open(os.path.join(e["VELLUM_BUILD"], "wineslot-%s.lock" % (suffix[5:] or "0")), "a")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        sys.stderr.write("waiting for the Wine slot of %s: a test is using it\n" % prefix)
        fcntl.flock(lock, fcntl.LOCK_EX)
    _slot_lock = lock  # held until the process ends


def setup():
    """Environment, prefix and display; safe to call many times."""
    global _ready
    if _ready:
        return env()
    e = env()
    _hold_slot(e)
    if not _display_usable(e.get("DISPLAY")):
        e["DISPLAY"] = _start_xvfb()
        # A Wine session left from an earlier display would keep its desktop
        # there; tests of one prefix run one at a time, so end it.
        wineserver_kill()
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh")], env=e, check=True,
                   stdout=subprocess.DEVNULL, timeout=600)
    _ready = True
    return e


def program(name):
    """Unix path of the built NAME.exe under VELLUM_BIN."""
    if name not in _programs:
        target = name if name.lower().endswith(".exe") else name + ".exe"
        found = None
        for dirpath, dirnames, filenames in os.walk(env()["VELLUM_BIN"]):
            dirnames[:] = [d for d in dirnames if d not in ("CMakeFiles", "googletest")]
            for f in filenames:
                if f.lower() == target.lower():
                    found = os.path.join(dirpath, f)
                    break
            if found:
                break
        if not found:
            raise FileNotFoundError("%s is not built under %s" % (target, env()["VELLUM_BIN"]))
        _programs[name] = found
    return _programs[name]


# ---- paths -----------------------------------------------------------------

def to_windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def c_drive():
    return os.path.join(env()["WINEPREFIX"], "drive_c")


def to_unix(wpath):
    if len(wpath) < 2 or wpath[1] != ":":
        raise ValueError("not an absolute Windows path: %r" % wpath)
    drive = wpath[0].lower()
    rest = wpath[2:].replace("\\", "/").lstrip("/")
    if drive == "z":
        return "/" + rest
    if drive == "c":
        return os.path.join(c_drive(), rest)
    base = os.path.realpath(os.path.join(env()["WINEPREFIX"], "dosdevices", drive + ":"))
    return os.path.join(base, rest)


def windows_temp():
    """The prefix's %TEMP% (what a program started from the host sees)."""
    return to_unix(inspector("env")["TEMP"])


# ---- running ---------------------------------------------------------------

def _merged_env(extra):
    e = dict(setup())
    if extra:
        e.update(extra)
    return e


class Process:
    """A program started from the host; pid is the unix pid."""

    def __init__(self, popen, out_path, err_path):
        self.popen = popen
        self.pid = popen.pid
        self.out_path = out_path
        self.err_path = err_path
        self.started = time.time()

    def _ended(self, code):
        if code is not None and not getattr(self, "_traced", False):
            self._traced = True
            trace("end", self.pid, "code=%s" % code, "secs=%.2f" % (time.time() - self.started))
        return code

    def poll(self):
        return self._ended(self.popen.poll())

    def wait(self, timeout):
        return self._ended(self.popen.wait(timeout))

    def kill(self):
        if self.popen.poll() is None:
            trace("killpg", self.pid)
            try:
                os.killpg(self.popen.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                self.popen.wait(10)
            except subprocess.TimeoutExpired:
                pass

    def output(self):
        return _read(self.out_path), _read(self.err_path)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


_scratch = None


def host_scratch():
    """This process's folder for the output files of the programs it starts
    and of its resident inspector; removed when the process ends, so a
    test that forgot a file, or failed half-way, leaves nothing behind."""
    global _scratch
    if _scratch is None:
        _scratch = tempfile.mkdtemp(prefix="winetest-host-")
        atexit.register(_scratch_remove)
    return _scratch


def _scratch_remove():
    _resident_close()
    # What Wine said on the resident's error output (a program it started
    # that crashed before its first line, say) outlives the folder in the
    # trace.
    said = resident_stderr(0).strip()
    if said:
        trace("inspector-stderr", said.replace("\n", " | ")[-4000:])
    shutil.rmtree(_scratch, ignore_errors=True)


def start(exe, args=(), env=None, cwd=None):
    """Starts a Windows program from the host, output to files."""
    e = _merged_env(env)
    fd_out, out_path = tempfile.mkstemp(prefix="wine-out-", dir=host_scratch())
    fd_err, err_path = tempfile.mkstemp(prefix="wine-err-", dir=host_scratch())
    try:
        popen = subprocess.Popen([e["WINELOADER"], exe] + list(args), env=e, cwd=cwd or tempfile.gettempdir(),
                                 stdin=subprocess.DEVNULL, stdout=fd_out, stderr=fd_err, start_new_session=True)
    finally:
        os.close(fd_out)
        os.close(fd_err)
    trace("start", popen.pid, os.path.basename(exe), *args)
    return Process(popen, out_path, err_path)


def run(exe, args=(), timeout=60, env=None, cwd=None):
    """Runs a Windows program from the host and waits for it."""
    p = start(exe, args, env=env, cwd=cwd)
    try:
        code = p.wait(timeout)
    except subprocess.TimeoutExpired:
        p.kill()
        raise TimeoutError("%s %s did not end within %s s" % (exe, " ".join(args), timeout))
    out, err = p.output()
    for path in (p.out_path, p.err_path):
        os.unlink(path)
    return Result(code, out, err)


class Resident:
    """One inspector process answering many commands (its serve mode): a
    command costs a line on a pipe instead of a Wine process start. Output
    goes to a file (never a pipe read by the host). Without a folder of its
    own it writes into host_scratch(), its error output appended to the one
    file every resident of the process shares: the programs it starts write
    Wine's own messages there too, and a test reads what came during it."""

    def __init__(self, folder=None):
        e = setup()
        self.folder = folder or host_scratch()
        fd, self.out_path = tempfile.mkstemp(prefix="inspector-", suffix=".out", dir=self.folder)
        self.out = os.fdopen(fd, "wb")
        self.err_path = os.path.join(self.folder, "inspector.err")
        self.err = open(self.err_path, "ab")
        self.proc = subprocess.Popen([e["WINELOADER"], program("inspector"), "serve"], env=e,
                                     stdin=subprocess.PIPE, stdout=self.out, stderr=self.err,
                                     start_new_session=True, cwd=self.folder)
        trace("start", self.proc.pid, "inspector serve")
        self.reader = open(self.out_path, "rb")
        self.buffer = b""

    def alive(self):
        return self.proc.poll() is None

    def ask(self, *args, timeout=60):
        """The answer {code, out, err} of one command; raises
        InspectorError (code -1) when the process ended or did not answer
        in time (it is then ended: the next command needs a new one)."""
        line = "\t".join(str(a) for a in args) + "\n"
        if args and args[0] == "kill":
            trace("inspector-kill", *args[1:])
        try:
            self.proc.stdin.write(line.encode("utf-8"))
            self.proc.stdin.flush()
        except OSError:
            raise InspectorError([str(a) for a in args], -1, "the resident inspector has ended", None)
        asked = time.time()
        deadline = asked + timeout
        while b"\n" not in self.buffer:
            chunk = self.reader.read()
            if chunk:
                self.buffer += chunk
                continue
            if self.proc.poll() is not None:
                raise InspectorError([str(a) for a in args], -1,
                                     "the resident inspector ended (exit %s)" % self.proc.poll(), None)
            if time.time() > deadline:
                self.close(force=True)
                raise InspectorError([str(a) for a in args], -1, "no answer within %s s" % timeout, None)
            # Most answers take a few milliseconds: a coarse poll would add
            # as much again to each; a long wait (waitpid) is polled gently.
            time.sleep(0.0005 if time.time() - asked < 1 else 0.02)
        text, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(text.decode("utf-8"))

    def __call__(self, *args, timeout=60):
        answer = self.ask(*args, timeout=timeout)
        if answer["code"] != 0:
            raise InspectorError(list(map(str, args)), answer["code"], answer["err"], answer["out"])
        return answer["out"]

    def close(self, force=False):
        trace("inspector-close", self.proc.pid, "force" if force else "")
        try:
            if force:
                raise OSError
            self.proc.stdin.close()
            self.proc.wait(20)
        except (OSError, subprocess.TimeoutExpired):
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(10)
        for f in (self.proc.stdin, self.out, self.err, self.reader):
            try:
                f.close()
            except OSError:
                pass  # a pipe whose reader has gone
        try:
            os.unlink(self.out_path)
        except OSError:
            pass


_resident = None


def resident():
    """The process's resident inspector, started again when it has ended
    (a wineserver -k, a time-out)."""
    global _resident
    if _resident is None or not _resident.alive():
        if _resident is not None:
            _resident.close(force=True)
        else:
            atexit.register(_resident_close)
        _resident = Resident()
    return _resident


def _resident_close():
    global _resident
    if _resident is not None:
        _resident.close()
        _resident = None


def resident_stderr_mark():
    """Where the residents' shared error output stands now."""
    try:
        return os.path.getsize(os.path.join(host_scratch(), "inspector.err"))
    except OSError:
        return 0


def resident_stderr(since):
    """What the residents (and the programs they started) wrote on their
    error output after the mark since."""
    if _scratch is None:
        return ""
    try:
        with open(os.path.join(_scratch, "inspector.err"), "rb") as f:
            f.seek(since)
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def inspector_answer(args, timeout=60):
    """The resident inspector's {code, out, err} for one command."""
    for attempt in range(2):
        try:
            return resident().ask(*args, timeout=timeout)
        except InspectorError:
            # An inspector that ended before the command reached it (a
            # wineserver -k between tests) is started again once; one that
            # took the command and did not answer is a failure.
            if attempt or (_resident is not None and _resident.alive()):
                raise


def inspector(*args, timeout=60, check=True):
    """Runs one inspector command in the resident inspector and returns its
    JSON answer.

    A command that waits (--timeout in ms) is given that long and a margin
    on the host, so a slow machine meets the inspector's own limit first."""
    args = [str(a) for a in args]
    if "--timeout" in args[:-1]:
        waits = int(args[args.index("--timeout") + 1]) / 1000.0
        timeout = max(timeout, waits + 60)
    answer = inspector_answer(args, timeout)
    code, output = answer["code"], answer["out"]
    if code != 0 and check:
        raise InspectorError(args, code, answer["err"], output)
    if output is None and code == 0:
        raise InspectorError(args, code, "no JSON answer: " + answer["err"], None)
    return output


class Background:
    """An inspector command running in the background."""

    def __init__(self, args, process):
        self.args = args
        self.process = process

    def result(self, timeout=120):
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise TimeoutError("inspector %s did not end within %s s" % (" ".join(self.args), timeout))
        out, err = self.process.output()
        for path in (self.process.out_path, self.process.err_path):
            os.unlink(path)
        output = json.loads(out) if out.strip() else None
        if code != 0:
            raise InspectorError(self.args, code, err, output)
        return output


def inspector_background(*args):
    args = [str(a) for a in args]
    return Background(args, start(program("inspector"), args))


def run_windows(command, env=None, unset=(), cwd=None, wait=None, clear_env=False, stdout=None, stderr=None):
    """Starts a program from inside the prefix with an exact environment.

    command is a list (quoted by the inspector) or a string (the command line
    verbatim). env maps names to values ("" gives an empty value); unset
    names are removed; cwd, stdout and stderr are unix paths. With wait (in
    seconds) it waits and the answer carries "exited" and "exit_code"."""
    args = ["run"]
    for name, value in (env or {}).items():
        args += ["--env", "%s=%s" % (name, value)]
    for name in unset:
        args += ["--unset", name]
    if clear_env:
        args.append("--clear-env")
    if cwd:
        args += ["--cwd", to_windows(cwd)]
    if stdout:
        args += ["--stdout", to_windows(stdout)]
    if stderr:
        args += ["--stderr", to_windows(stderr)]
    if wait is not None:
        args += ["--wait", str(int(wait * 1000))]
    if isinstance(command, str):
        args += ["--cmdline", command]
    else:
        args += ["--"] + [str(c) for c in command]
    return inspector(*args, timeout=(wait or 0) + 60)


def wait_window(title, timeout=10, contains=False, visible=True, pid=None, cls=None):
    args = ["wait", "--title", title, "--timeout", str(int(timeout * 1000))]
    if contains:
        args.append("--contains")
    if visible:
        args.append("--visible")
    if pid:
        args += ["--pid", str(pid)]
    if cls:
        args += ["--class", cls]
    return awaited(*args, timeout=timeout + 60)


def awaited(*args, timeout=60):
    """An inspector command that waits for something a program should show.
    A wait that fails says whether the running case's programs are still
    starting, showed something else or have already ended (and how)."""
    try:
        return inspector(*args, timeout=timeout)
    except InspectorError as e:
        if _current_case is None or e.code == -1:
            raise
        raise AssertionError("%s\n%s" % (e, _current_case.describe_state())) from None


def screenshot(path, hwnd=None):
    e = setup()
    args = ["import", "-window", "root"]
    if hwnd is not None:
        r = inspector("dump", "--hwnd", hwnd)["window_rect"]
        args += ["-crop", "%dx%d+%d+%d" % (r["width"], r["height"], max(r["left"], 0), max(r["top"], 0))]
    subprocess.run(args + [path], env=e, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=60, check=True)
    return path


def keys(*names, hwnd=None):
    """Real key events, typed into the focused window as xdotool key would
    (50 ms between events) without a process start each."""
    e = setup()
    if hwnd is not None:
        # Keys typed before the window has the focus go to whichever window
        # had it (on a busy machine the focus can take more than the
        # inspector's own wait): try again, and never type blind.
        # The X server delivers a key to the X window that has its input
        # focus, and Wine hands it to that window's process: the X focus must
        # have followed the activation too (a message box of another process
        # that kept it would take the key).
        deadline = time.monotonic() + 20
        while True:
            answer = inspector("activate", "--hwnd", hwnd)
            if answer.get("foreground") and _x_focus_on(e, answer.get("x11_window")):
                break
            if time.monotonic() > deadline:
                raise InspectorError(["activate", "--hwnd", str(hwnd)], 2,
                                     "the window never came to the foreground", None)
            time.sleep(0.2)
    for name in names:
        x_input().key(name, clear_modifiers=False, delay_ms=50)


def _x_focus_on(e, xid):
    """Gives the X input focus to the X window xid and waits until it has it
    (True at once when there is no X window to go by)."""
    if not xid:
        return True
    return x_input().focus(int(xid))


class XInput:
    """Real key and mouse events on the harness's display through the X test
    extension, sent from this process by the library xdotool is built on:
    for a test that sends hundreds, a process start each would cost more
    than the rest of its step. Each call returns once the X server has
    handled the events."""

    def __init__(self):
        display = setup()["DISPLAY"]
        self._xdo = ctypes.CDLL("libxdo.so.3")
        self._x11 = ctypes.CDLL("libX11.so.6")
        x = self._xdo
        x.xdo_new.restype = ctypes.c_void_p
        x.xdo_new.argtypes = [ctypes.c_char_p]
        x.xdo_free.argtypes = [ctypes.c_void_p]
        x.xdo_send_keysequence_window.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p, ctypes.c_uint]
        x.xdo_move_mouse.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int]
        x.xdo_click_window.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
        x.xdo_focus_window.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.xdo_get_focused_window.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_ulong)]
        for f in (x.xdo_get_active_modifiers, x.xdo_clear_active_modifiers, x.xdo_set_active_modifiers):
            f.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p, ctypes.c_int]
        x.xdo_get_active_modifiers.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p),
                                               ctypes.POINTER(ctypes.c_int)]
        self._x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self._handle = x.xdo_new(display.encode())
        if not self._handle:
            raise RuntimeError("cannot open the X display %s" % display)
        # xdo_t begins with its Display pointer.
        self._display = ctypes.c_void_p.from_address(self._handle).value

    def _done(self, what, code):
        if code != 0:
            raise RuntimeError("X input failed: %s" % what)
        self._x11.XSync(self._display, 0)

    def key(self, sequence, clear_modifiers=True, delay_ms=12):
        """A key sequence as xdotool key takes it ("shift+Tab"), with the
        modifiers held meanwhile let go first (xdotool's --clearmodifiers),
        delay_ms per keystroke as xdotool's --delay (half of it after each
        press and each release)."""
        x = self._xdo
        held, count = ctypes.c_void_p(), ctypes.c_int(0)
        if clear_modifiers:
            x.xdo_get_active_modifiers(self._handle, ctypes.byref(held), ctypes.byref(count))
            x.xdo_clear_active_modifiers(self._handle, 0, held, count)
        try:
            self._done("key " + sequence, x.xdo_send_keysequence_window(self._handle, 0, sequence.encode(),
                                                                        int(delay_ms * 500)))
        finally:
            if clear_modifiers:
                x.xdo_set_active_modifiers(self._handle, 0, held, count)
                ctypes.CDLL(None).free(held)

    def focus(self, xid, timeout=5):
        """Gives the X input focus to the X window xid and waits until it has
        it (xdotool windowfocus --sync); False when it does not within the
        time-out."""
        x = self._xdo
        if x.xdo_focus_window(self._handle, xid) != 0:
            return False
        deadline = time.monotonic() + timeout
        focused = ctypes.c_ulong(0)
        while True:
            self._x11.XSync(self._display, 0)
            if x.xdo_get_focused_window(self._handle, ctypes.byref(focused)) == 0 and focused.value == xid:
                return True
            if time.monotonic() > deadline:
                return False
            time.sleep(0.005)

    def click(self, x_pos, y_pos, button=1):
        x = self._xdo
        self._done("mouse move", x.xdo_move_mouse(self._handle, int(x_pos), int(y_pos), 0))
        self._done("click", x.xdo_click_window(self._handle, 0, button))

    def close(self):
        if self._handle:
            self._xdo.xdo_free(self._handle)
            self._handle = None


_x_input = None


def x_input():
    """The process's XInput (one X connection to the harness's display)."""
    global _x_input
    if _x_input is None:
        _x_input = XInput()
    return _x_input


# Processes Wine runs for itself in every prefix; cleanup leaves them alone.
WINE_SERVICES = {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe",
                 "explorer.exe", "winemenubuilder.exe", "conhost.exe", "wineboot.exe", "start.exe",
                 "tabtip.exe", "rundll32.exe", "mscorsvw.exe", "iexplore.exe"}


def processes():
    return inspector("ps")


def pids_of(exe):
    return sorted(p["pid"] for p in processes() if p["exe"].lower() == exe.lower())


def wait_exit(pid, timeout=30):
    return inspector("waitpid", "--pid", pid, "--timeout", int(timeout * 1000),
                     timeout=timeout + 60)["exit_code"]


def reg_set(key, name, type="sz", data=None, hexdata=None):
    """Sets a value with exact bytes: data as text (or a list for multi_sz, a
    number for dword), or hexdata as raw bytes ("41 00 42 00")."""
    args = ["regset", "--key", key, "--type", str(type)]
    if name is not None:
        args += ["--name", name]
    if hexdata is not None:
        args += ["--hex", hexdata]
    elif isinstance(data, (list, tuple)):
        for d in data:
            args += ["--data", d]
    elif data is not None:
        args += ["--data", str(data)]
    return inspector(*args)


def reg_delete(key, name=None):
    args = ["regdel", "--key", key]
    if name is not None:
        args += ["--name", name]
    return inspector(*args)


def registry_trees(keys):
    """Each key's whole tree as it stands (None where it is missing)."""
    return {key: inspector("regtree", "--key", key, check=False) for key in keys}


def restore_registry_trees(state):
    """Puts keys back exactly as registry_trees found them: what was added
    goes, values come back with their types and bytes. The tree names its
    keys in lower case; the keys given keep their own spelling."""
    spelled = sorted((k.split("\\", 1)[1] for k in state), key=len, reverse=True)
    for full, tree in state.items():
        inspector("regdel", "--key", full)
        base = full.split("\\", 1)[0]
        for path, values in sorted((tree or {}).items()):
            for known in spelled:
                if path == known.lower() or path.startswith(known.lower() + "\\"):
                    path = known + path[len(known):]
                    break
            key = base + "\\" + path
            if not values:
                inspector("regset", "--key", key, "--keyonly")
            for v in values:
                name, typed = v.split("=", 1)
                kind, hexdata = typed.split(":", 1)
                args = ["regset", "--key", key, "--type", kind, "--hex", hexdata]
                inspector(*(args + (["--name", name] if name else [])))


def com_registration():
    """The server's registration as it stands: every owned key's tree, per root."""
    return registry_trees(root + "\\Software\\Classes\\" + key for root in product.COM_ROOTS
                          for key in product.COM_KEYS)


restore_com_registration = restore_registry_trees


def wineserver_wait(timeout=60):
    # The resident inspector is a process of the session: it would keep the
    # session from ending, so the wait would only ever run into its limit.
    _resident_close()
    e = env()
    trace("wineserver-w")
    try:
        subprocess.run(["wineserver", "-w"], env=e, timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        pass


def wineserver_kill():
    e = env()
    trace("wineserver-k")
    try:
        subprocess.run(["wineserver", "-k"], env=e, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        pass


# ---- test base class -------------------------------------------------------

_shared_scratch = None
_current_case = None  # the WineTestCase running now, for failure descriptions


def shared_scratch():
    """One scratch folder path for the whole process (removed at exit)."""
    global _shared_scratch
    if _shared_scratch is None:
        _shared_scratch = tempfile.mkdtemp(prefix="winetest-shared-")
        atexit.register(shutil.rmtree, _shared_scratch, True)
    return _shared_scratch


class WineTestCase(unittest.TestCase):
    """Base class: Wine set up, a scratch folder, and cleanup by pid of every
    process the test started."""

    # True: every case gets the same scratch path (emptied before it), so
    # that state which names its folders (an installation, its registry
    # entries) can be made once and copied into each case.
    same_scratch = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        setup()
        cls._com_registration = com_registration()

    @classmethod
    def tearDownClass(cls):
        # A test that leaves the server registered (a server still ending
        # when its test ended, a run killed on purpose) would change what
        # every later test in this prefix finds: put back what was there.
        if com_registration() != cls._com_registration:
            sys.stderr.write("%s: the server's registration changed; restored as found\n" % cls.__name__)
            restore_com_registration(cls._com_registration)
        super().tearDownClass()

    def setUp(self):
        global _current_case
        super().setUp()
        _current_case = self
        self._host_processes = []
        self._windows_pids = []
        self._baseline = {p["pid"] for p in processes()}
        self._resident_err_mark = resident_stderr_mark()
        if self.same_scratch:
            self.tmp = shared_scratch()
            shutil.rmtree(self.tmp, ignore_errors=True)
            os.makedirs(self.tmp)
        else:
            self.tmp = tempfile.mkdtemp(prefix="winetest-")
        self.wtmp = to_windows(self.tmp)
        self.addCleanup(self._cleanup)

    def start(self, exe, args=(), env=None, cwd=None):
        p = start(exe, args, env=env, cwd=cwd)
        self._host_processes.append(p)
        return p

    def run_windows(self, command, **kwargs):
        try:
            answer = run_windows(command, **kwargs)
        except InspectorError as e:
            if isinstance(e.output, dict) and "pid" in e.output:  # still running after --wait
                self._windows_pids.append(e.output["pid"])
            raise
        self._windows_pids.append(answer["pid"])
        return answer

    def kill_leftovers(self):
        """Ends (by pid) the Windows processes that appeared since setUp.

        A COM server killed before a client took its class object leaves
        that registration in Wine's COM service, and the next activation
        would get the dead server's reference: when a VellumSetup had to be
        killed, the Wine session ends too, which clears them all."""
        killed = []
        for p in processes():
            if p["pid"] not in self._baseline and p["exe"].lower() not in WINE_SERVICES:
                inspector("kill", "--pid", p["pid"], timeout=30, check=False)
                killed.append(p)
        if any(p["exe"].lower() == "vellumsetup.exe" for p in killed):
            wineserver_kill()
            wineserver_wait(30)
        return killed

    def describe_state(self):
        """What was running and on screen: for a failure message when an
        awaited window or box never came (a program stuck before it, or one
        that showed something else)."""
        lines = []
        for p in self._host_processes:
            code = p.poll()
            tasks = ""
            if code is None:
                try:
                    tasks = " ".join(
                        "%s:%s" % (t, _read("/proc/%d/task/%s/wchan" % (p.pid, t)) or "?")
                        for t in sorted(os.listdir("/proc/%d/task" % p.pid)))
                except OSError:
                    pass
            out, err = p.output()
            # A script host reports its own failures on its output.
            lines.append("host %d %s: %s %s; stdout: %s; stderr: %s" % (
                p.pid, " ".join(map(str, p.popen.args[1:]))[:200],
                "running" if code is None else "exit %s" % code, tasks,
                out.strip()[-300:], err.strip()[-500:]))
        said = resident_stderr(self._resident_err_mark).strip()
        if said:
            lines.append("Wine, for the programs the inspector started: %s" % said[-1500:])
        for what, cmd in (("windows", ("list",)), ("processes", ("ps",))):
            try:
                lines.append("%s: %s" % (what, inspector(*cmd, timeout=60)))
            except Exception as e:  # the description never hides the failure
                lines.append("%s: not read (%s)" % (what, e))
        return "\n".join(lines)

    def heap_report(self):
        """Fault lines in the output of the processes this test started."""
        faults = []
        for p in self._host_processes:
            out, err = p.output()
            faults += heap_faults(out + "\n" + err)
        return faults

    def _cleanup(self):
        global _current_case
        if _current_case is self:
            _current_case = None  # a class set-up after it is not this case's to describe
        for pid in self._windows_pids:
            try:
                inspector("kill", "--pid", pid, timeout=30, check=False)
            except Exception:
                pass
        try:
            self.kill_leftovers()
        except Exception:
            pass
        for p in self._host_processes:
            p.kill()
        faults = self.heap_report() if HEAPCHECK else []
        for p in self._host_processes:
            for path in (p.out_path, p.err_path):
                try:
                    os.unlink(path)
                except OSError:
                    pass
        shutil.rmtree(self.tmp, ignore_errors=True)
        if faults:
            raise AssertionError("heap corruption or a crash under heap checking:\n" + "\n".join(faults[:40]))
