"""Running Windows programs of this build under Wine from host-side tests.

The hostile-input, DLL-planting and benchmark scripts' interface to the
one Wine harness (tests/harness/winetest.py): its display, prefix, path
conversion and resident inspector, with the calling conventions these
scripts use (argument lists, (exit code, answer) pairs).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
if os.path.join(ROOT, "tests") not in sys.path:
    sys.path.insert(0, os.path.join(ROOT, "tests"))
from harness import winetest  # noqa: E402


def build_root():
    return winetest.env()["VELLUM_BUILD"]


def arch():
    return winetest.env()["VELLUM_ARCH"]


def bin_dir():
    """The build whose programs run here (x86_64 where the host cannot run 32-bit code)."""
    return winetest.env()["VELLUM_BIN"]


def wine_env(extra=None):
    """The harness's one environment, with extra's changes (None removes a
    name). The benchmark points WINEPREFIX_OVERRIDE at prefixes of its own
    between calls, so the prefix is read at each call."""
    env = dict(winetest.env())
    override = os.environ.get("WINEPREFIX_OVERRIDE")
    if override:
        # Passed on too: scripts/wine-prefix.sh chooses its prefix by it.
        env["WINEPREFIX"] = env["WINEPREFIX_OVERRIDE"] = override
    if extra:
        for k, v in extra.items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = v
    return env


def ensure_prefix():
    """The prefix (and the harness's display): winetest.setup()."""
    winetest.setup()


def ensure_display():
    """A display for windows and message boxes: the caller's, or the
    harness's private Xvfb (one per process, stopped at exit)."""
    os.environ["DISPLAY"] = winetest.setup()["DISPLAY"]


def stop_display():
    """Nothing to do: the harness stops its display when the process ends."""


winpath = winetest.to_windows


def start(args, env=None, cwd=None, out=None):
    """Starts a Windows program; output goes to files, never to a pipe."""
    e = wine_env(env)
    stdout = open(out + ".out", "wb") if out else subprocess.DEVNULL
    stderr = open(out + ".err", "wb") if out else subprocess.DEVNULL
    try:
        proc = subprocess.Popen([e["WINELOADER"]] + list(args), env=e, cwd=cwd, stdout=stdout,
                                stderr=stderr, start_new_session=True)
        winetest.trace("start", proc.pid, os.path.basename(args[0]), *args[1:], prefix=e["WINEPREFIX"])
        return proc
    finally:
        if out:
            stdout.close()
            stderr.close()


def stop(proc):
    """Ends a process started by start() and its process group."""
    if proc.poll() is None:
        winetest.trace("killpg", proc.pid)
        try:
            os.killpg(proc.pid, 9)
        except ProcessLookupError:
            pass
    proc.wait()


def run(args, timeout=60, env=None, cwd=None, out=None):
    """Runs to completion; returns (exit code or None on time-out, seconds)."""
    t0 = time.monotonic()
    proc = start(args, env=env, cwd=cwd, out=out)
    try:
        code = proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        stop(proc)
        return None, time.monotonic() - t0
    winetest.trace("end", proc.pid, "code=%s" % code, "secs=%.2f" % (time.monotonic() - t0))
    return code, time.monotonic() - t0


def wineserver(*args, timeout=60):
    if "-w" in args:
        # The resident inspector would keep the session from ending.
        winetest._resident_close()
    e = wine_env()
    winetest.trace("wineserver" + "".join(args), prefix=e["WINEPREFIX"])
    try:
        subprocess.run(["wineserver"] + list(args), env=e, timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        return False
    return True


def end_prefix_processes():
    """Ends every Windows process of this build's private prefix (the tests'
    own: the prefix belongs to this build tree) and waits for the server."""
    wineserver("-k")
    wineserver("-w", timeout=20)


def end_leftovers(wait=6):
    """Ends what a case left running, ending the Wine session only where it
    must: a VellumSetup still ending by itself (it serves its client's last
    calls for up to 5 s) is waited for, and when anything is left then, the
    session ends as end_prefix_processes() ends it (a server killed before
    its client took its class object would refuse the next client). A
    session start costs seconds; a case that ended cleanly leaves nothing."""
    code, ps = inspector(["ps"], timeout=60)
    left = [p for p in ps or [] if p.get("exe", "").lower() not in winetest.WINE_SERVICES]
    deadline = time.monotonic() + wait
    for p in left:
        ms = max(0, int((deadline - time.monotonic()) * 1000))
        inspector(["waitpid", "--pid", p["pid"], "--timeout", ms])
    if left or code != 0:
        code, ps = inspector(["ps"], timeout=60)
    if code != 0 or any(p.get("exe", "").lower() not in winetest.WINE_SERVICES for p in ps or []):
        end_prefix_processes()


def fresh_dir(tag):
    base = os.path.join(build_root(), "test-scratch")
    os.makedirs(base, exist_ok=True)
    return tempfile.mkdtemp(prefix=tag + "-", dir=base)


def copy_into(folder, *files):
    for f in files:
        shutil.copy2(f, folder)


def _wrote_nothing(code, out):
    """The inspector reports every failure of its own on stderr. Exit 1 with
    nothing written at all means Wine did not get it started (seen rarely
    under load): what it was to run never ran, so it may be run again."""
    return code == 1 and all(not os.path.exists(out + x) or os.path.getsize(out + x) == 0 for x in (".out", ".err"))


def never_started(proc, out):
    return _wrote_nothing(proc.poll(), out)


def inspector_exe():
    return os.path.join(bin_dir(), "testtools", "inspector", "inspector.exe")


def inspector(args, timeout=120, env=None):
    """Runs an inspector command; returns (exit code, parsed JSON answer or
    None). Without env it is answered by the harness's resident inspector;
    with env (extra Wine environment) a process of its own runs it. A
    command that waits (--timeout in ms) gets that long and a margin."""
    import json
    args = [str(a) for a in args]
    if "--timeout" in args[:-1]:
        timeout = max(timeout, int(args[args.index("--timeout") + 1]) / 1000.0 + 60)
    if env is None:
        try:
            answer = winetest.inspector_answer(args, timeout)
        except winetest.InspectorError as e:
            return e.code, None
        return answer["code"], answer["out"]
    folder = os.path.join(build_root(), "test-scratch")
    os.makedirs(folder, exist_ok=True)
    fd, out = tempfile.mkstemp(prefix="insp-", dir=folder)
    os.close(fd)
    try:
        for _ in range(3):
            code, _ = run([inspector_exe()] + list(args), timeout=timeout, env=env, out=out)
            if not _wrote_nothing(code, out):
                break
            time.sleep(0.5)
        with open(out + ".out", "rb") as f:
            text = f.read().decode("utf-8", "replace").strip()
        try:
            answer = json.loads(text) if text else None
        except ValueError:
            answer = None
        return code, answer
    finally:
        for p in (out, out + ".out", out + ".err"):
            if os.path.exists(p):
                os.remove(p)


def run_with_env(args, env_changes, timeout=120, unset=(), wine_env_extra=None, cwd=None):
    """Runs a Windows program with a Windows environment changed as given
    (Wine sets TEMP and TMP from the prefix, so they cannot be passed from
    the host). Returns the inspector's {pid, exited, exit_code} answer."""
    a = ["run", "--wait", str(int(timeout * 1000))]
    for k, v in env_changes.items():
        a += ["--env", "%s=%s" % (k, v)]
    for k in unset:
        a += ["--unset", k]
    if cwd:
        a += ["--cwd", cwd]
    a += ["--"] + list(args)
    code, answer = inspector(a, timeout=timeout + 30, env=wine_env_extra)
    return answer


def _explain(what, out):
    """Why a run gave no exit code, with what ran and what was on screen
    then: printed, so that a failing test's output carries it."""
    err = ""
    if out and os.path.exists(out + ".err"):
        with open(out + ".err", "rb") as f:
            err = f.read().decode("utf-8", "replace")[-2000:]
    _, ps = inspector(["ps"], timeout=60)
    _, windows = inspector(["list"], timeout=60)
    print("no exit code: %s\n  runner stderr: %s\n  processes: %s\n  windows: %s" % (
        what, err.strip(), [p.get("exe") for p in ps or []],
        [(w.get("title"), w.get("class"), w.get("pid")) for w in windows or []]), flush=True)


def drive(args, env_changes=None, unset=(), cwd=None, timeout=60, wine_env_extra=None, answer_with=None):
    """Starts a program (through the inspector, so its Windows environment can
    be set), answers every message box that appears with OK, and waits for it
    to end (answer_with(box) may choose another button). Tests run one at a
    time in the private prefix, so every box is
    the program's (or its children's). Returns (exit code or None if it had
    to be killed, [boxes]), each box a dict with title, text and icon."""
    a = ["run"]
    for k, v in (env_changes or {}).items():
        a += ["--env", "%s=%s" % (k, v)]
    for k in unset:
        a += ["--unset", k]
    if cwd:
        a += ["--cwd", cwd]
    if wine_env_extra is not None:
        return _drive_apart(a, args, timeout, wine_env_extra, answer_with)
    # The resident inspector starts it and holds it, so that it costs no Wine
    # process start of its own and its end is seen at once.
    boxes = []
    code, started = inspector(a + ["--hold", "--"] + list(args), timeout=60)
    if code != 0 or not started:
        _explain("the inspector could not start %s (exit %s)" % (args[0], code), None)
        return None, boxes
    pid = started["pid"]
    deadline = time.monotonic() + timeout
    while True:
        code, state = inspector(["waitpid", "--pid", pid, "--timeout", 50], timeout=30)
        if code == 0:
            return state.get("exit_code"), boxes
        if code != 2:
            _explain("waitpid answered %s" % code, None)
            return None, boxes
        if time.monotonic() > deadline:
            _explain("%s still ran after %d s" % (args[0], timeout), None)
            inspector(["kill", "--pid", pid], timeout=30)
            return None, boxes
        _answer_box(boxes, answer_with, "0")


def _answer_box(boxes, answer_with, wait_ms):
    """Answers the message box on screen, if any (waiting up to wait_ms for
    one), and records it."""
    _, box = inspector(["msgbox", "--timeout", wait_ms], timeout=30)
    if box and box.get("hwnd"):
        boxes.append({"title": box.get("title", ""), "text": box.get("text", ""),
                      "icon": box.get("icon", ""), "pid": box.get("pid")})
        names = [b.get("name") for b in box.get("buttons", [])]
        button = answer_with(box) if answer_with else ("ok" if "ok" in names or not names else names[0])
        inspector(["answer", "--button", button, "--pid", str(box.get("pid")), "--timeout", "2000"], timeout=30)


def _drive_apart(a, args, timeout, wine_env_extra, answer_with):
    """drive() for a program that needs a Wine environment of its own: an
    inspector process of that environment starts it and waits for it."""
    import json
    a = a + ["--wait", str(int(timeout * 1000))]
    folder = os.path.join(build_root(), "test-scratch")
    os.makedirs(folder, exist_ok=True)
    fd, out = tempfile.mkstemp(prefix="drive-", dir=folder)
    os.close(fd)
    boxes = []
    try:
        for _ in range(3):
            runner = start([inspector_exe()] + a + ["--"] + list(args), env=wine_env_extra, out=out)
            deadline = time.monotonic() + timeout + 20
            while time.monotonic() < deadline:
                try:
                    runner.wait(timeout=0.2)
                except subprocess.TimeoutExpired:
                    pass
                if runner.poll() is not None:
                    break
                _answer_box(boxes, answer_with, "400")
            if not never_started(runner, out):
                break
            print("drive: Wine did not start the runner; starting it again", flush=True)
            time.sleep(0.5)
        if runner.poll() is None:
            _explain("the runner did not end within %d s" % (timeout + 20), out)
            stop(runner)
            return None, boxes
        with open(out + ".out", "rb") as f:
            text = f.read().decode("utf-8", "replace").strip()
        try:
            state = json.loads(text)
        except ValueError:
            _explain("the runner (exit %s) answered %r" % (runner.returncode, text[:500]), out)
            return None, boxes
        if not state.get("exited"):
            _explain("%s still ran after %d s" % (args[0], timeout), out)
            if state.get("pid"):
                inspector(["kill", "--pid", str(state["pid"])], timeout=30)
            return None, boxes
        return state.get("exit_code"), boxes
    finally:
        for p in (out, out + ".out", out + ".err"):
            if os.path.exists(p):
                os.remove(p)
