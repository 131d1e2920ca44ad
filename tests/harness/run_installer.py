#!/usr/bin/env python3
"""Runs VellumInstaller.exe (the test-architecture build) under Wine on the
current display: waits for its window, saves a screenshot of it, waits for
the program to end, then checks the working folder against the development
payload and the record the payload's script writes when the shell starts it.
Prints a short summary; exits 0 when everything checks out, 1 otherwise.

    run_installer.py [--locale xx-yy] [--silent] [--shots DIR] [--timeout S]

--locale sets the first registry source of the locale in the prefix for the
run and removes it afterwards; --silent passes /q (no window, no screenshot).
"""
import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import winetest as wt  # noqa: E402

LOCALE_KEY = r"HKLM\SOFTWARE\Ostrander\ZephD\HardwareDescription"
PAYLOAD = os.path.join(wt.ROOT, "payload", "dev")


def payload_names():
    with open(os.path.join(PAYLOAD, "filesList.txt"), "rb") as f:
        return [line.decode("ascii") for line in f.read().split(b"\r\n") if line]


def read_record(path):
    """launched.txt as written by the development script (UTF-16), as a dict."""
    with open(path, "rb") as f:
        text = f.read().decode("utf-16")
    record = {}
    for line in text.splitlines():
        if "=" in line:
            k, v = line.split("=", 1)
            record[k] = v
        elif line:
            record[line] = ""
    return record


def x_windows_of(pid, env):
    """Visible X windows of a unix pid that are not transient (no message boxes)."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
    mains = []
    for wid in out:
        props = subprocess.run(["xprop", "-id", wid, "WM_TRANSIENT_FOR"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True).stdout
        if "window id" not in props:
            mains.append(wid)
    return mains


def capture_window(proc, path, env, timeout):
    """Screenshots the launcher's window while it shows. The window often
    lives well under a second, so it is polled from the host; the last
    capture that shows more than a blank surface is kept."""
    deadline = time.time() + timeout
    best = None
    tmp = path + ".part.png"
    while time.time() < deadline and proc.poll() is None:
        wins = x_windows_of(proc.pid, env)
        if not wins:
            time.sleep(0.005)
            continue
        r = subprocess.run(["import", "-window", wins[0], tmp], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        if r.returncode == 0 and os.path.exists(tmp):
            colours = subprocess.run(["identify", "-format", "%k", tmp], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True).stdout.strip()
            n = int(colours) if colours.isdigit() else 0
            if best is None or n >= best:
                best = n
                os.replace(tmp, path)
    if os.path.exists(tmp):
        os.unlink(tmp)
    return best is not None


def wait_answering_boxes(proc, env, timeout, problems):
    """Waits for the program to end. A message box it shows (a failure it
    reports) is read, listed as a problem and answered, so the run goes on."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        code = proc.poll()
        if code is not None:
            return code
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(proc.pid)], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
        if len(out) > len(x_windows_of(proc.pid, env)):
            try:
                box = wt.inspector("msgbox", "--timeout", "2000")
                problems.append("message box %r (%s icon): %r" % (box.get("title"), box.get("icon"),
                                                                  box.get("text")))
                wt.inspector("answer", "--button", "ok", "--timeout", "2000", check=False)
            except wt.InspectorError:
                pass
        time.sleep(0.1)
    problems.append("VellumInstaller did not end within %s s" % timeout)
    return None


def main(argv=None):
    ap = argparse.ArgumentParser(description="Run VellumInstaller under Wine and check its work.")
    ap.add_argument("--locale", help="locale identifier for the first registry source, e.g. de-de")
    ap.add_argument("--silent", action="store_true", help="pass /q: no window")
    ap.add_argument("--shots", help="folder for the screenshot (default: <build>/screenshots)")
    ap.add_argument("--timeout", type=float, default=60.0)
    a = ap.parse_args(argv)
    if a.locale and not re.fullmatch(r"[A-Za-z]{2,3}[-_][A-Za-z]{2,4}", a.locale):
        ap.error("--locale wants a tag such as de-de")

    env = wt.setup()
    exe = wt.program("VellumInstaller")
    shots = os.path.abspath(a.shots or os.path.join(env["VELLUM_BUILD"], "screenshots"))
    os.makedirs(shots, exist_ok=True)
    workdir = os.path.join(wt.windows_temp(), "_hsc_Vellum")
    record_path = os.path.join(workdir, "launched.txt")
    if os.path.exists(record_path):
        os.unlink(record_path)

    problems = []
    shot = None
    if a.locale:
        wt.reg_set(LOCALE_KEY, "localeId", "sz", a.locale)
    try:
        started = time.time()
        proc = wt.start(exe, ["/q"] if a.silent else [])
        try:
            if not a.silent:
                shot = os.path.join(shots, "launcher-%s.png" % (a.locale or "default"))
                if not capture_window(proc, shot, env, a.timeout):
                    problems.append("the launcher window never showed")
                    shot = None
            code = wait_answering_boxes(proc, env, a.timeout, problems)
            elapsed = time.time() - started
        finally:
            proc.kill()
    finally:
        if a.locale:
            wt.reg_delete(LOCALE_KEY, "localeId")

    if code not in (None, 0):
        problems.append("exit code %s" % code)
    names = payload_names()
    same = 0
    for name in names:
        target = os.path.join(workdir, name)
        with open(os.path.join(PAYLOAD, name), "rb") as f:
            want = f.read()
        try:
            with open(target, "rb") as f:
                got = f.read()
        except OSError:
            problems.append("missing in the working folder: %s" % name)
            continue
        if got != want:
            problems.append("differs from the payload: %s" % name)
        else:
            same += 1
    # The shell starts the script asynchronously; give it time to write.
    deadline = time.time() + 30
    while not os.path.exists(record_path) and time.time() < deadline:
        time.sleep(0.2)
    record = {}
    if os.path.exists(record_path):
        time.sleep(0.3)
        record = read_record(record_path)
        want_args = ["VellumInstall"] + (["/q"] if a.silent else [])
        got_args = [record.get("arg%d" % i) for i in range(int(record.get("argc", "0")))]
        if got_args != want_args:
            problems.append("script arguments %r, expected %r" % (got_args, want_args))
        if "end" not in record:
            problems.append("the script's record is incomplete")
    else:
        problems.append("the installation script did not run (no launched.txt)")

    print("VellumInstaller: %s" % exe)
    print("  mode:            %s, locale %s" % ("silent (/q)" if a.silent else "visible",
                                                a.locale or "from the prefix (none set: en-us)"))
    print("  exit code:       %s after %.1f s (Wine start included)" % (code, elapsed))
    print("  working folder:  %s" % workdir)
    print("  files written:   %d of %d identical to payload/dev" % (same, len(names)))
    if record:
        print("  script started:  %s" % record.get("script", "?"))
        print("    arguments:     %s" % " ".join(record.get("arg%d" % i, "") for i in range(int(record.get("argc", "0")))))
        print("    directory:     %s" % record.get("cwd", "?"))
    if shot:
        print("  screenshot:      %s" % shot)
    elif not a.silent:
        print("  screenshot:      none")
    print("  screenshots in:  %s" % shots)
    for p in problems:
        print("  PROBLEM: %s" % p)
    print("OK" if not problems else "FAILED")
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
