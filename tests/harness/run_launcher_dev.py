#!/usr/bin/env python3
"""Runs VellumInstaller.exe (the test-architecture build) under Wine on the
current display: waits for its window, saves a screenshot of it, waits for
the program to end, then checks the working folder against the development
payload and the record the payload's script writes when the shell starts it.
Prints a short summary; exits 0 when everything checks out, 1 otherwise.

    run_launcher_dev.py [--locale xx-yy] [--silent] [--shots DIR] [--timeout S] [--keep-folder]

--locale sets the first registry source of the locale in the prefix for the
run and removes it afterwards; --silent passes /q (no window, no screenshot).
The working folder is emptied first unless --keep-folder. A message box the
launcher shows (a failure it reports) is read, answered and listed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import product  # noqa: E402
from harness import winetest as wt  # noqa: E402

LOCALE_KEY = product.LOCALE_KEY
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


def visible_windows(pid, env):
    """Visible X windows of a unix pid, as (id, transient) pairs: a message
    box owned by the launcher's window is transient for it."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
    wins = []
    for wid in out:
        props = subprocess.run(["xprop", "-id", wid, "WM_TRANSIENT_FOR"], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True).stdout
        wins.append((wid, "window id" in props))
    return wins


def answer_box(problems):
    """Reads the newest message box, lists it as a problem and presses OK.
    False if there was none."""
    try:
        box = wt.inspector("msgbox", "--timeout", "1000")
    except wt.InspectorError:
        return False
    problems.append("message box %r (%s icon): %r" % (box.get("title"), box.get("icon"), box.get("text")))
    wt.inspector("answer", "--button", "ok", "--timeout", "2000", check=False)
    return True


def watch(proc, env, silent, shot, timeout, problems):
    """Follows the run until the program ends: screenshots the launcher's
    window while it shows (it often lives well under a second, so it is
    polled from the host and the richest capture is kept), and reads and
    answers every message box, so a reported failure never stalls the run.
    Returns (exit code or None, whether a screenshot was taken)."""
    deadline = time.time() + timeout
    best = None
    first_seen = {}
    tmp = shot + ".part.png" if shot else None
    while time.time() < deadline:
        code = proc.poll()
        if code is not None:
            break
        wins = visible_windows(proc.pid, env)
        boxes = [w for w, transient in wins if transient]
        others = [w for w, transient in wins if not transient]
        now = time.time()
        for w in others:
            first_seen.setdefault(w, now)
        # An unowned window that stays is a message box too (silent mode, or
        # the load step before the window shows).
        lingering = [w for w in others if now - first_seen[w] > 1.5]
        if boxes or (others and silent) or lingering:
            answer_box(problems)
            first_seen.clear()
            continue
        if others and shot:
            r = subprocess.run(["import", "-window", sorted(others)[0], tmp], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if r.returncode == 0 and os.path.exists(tmp):
                colours = subprocess.run(["identify", "-format", "%k", tmp], env=env, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, text=True).stdout.strip()
                n = int(colours) if colours.isdigit() else 0
                if best is None or n >= best:
                    best = n
                    os.replace(tmp, shot)
            continue
        time.sleep(0.005)
    else:
        problems.append("VellumInstaller did not end within %s s" % timeout)
        code = None
    if tmp and os.path.exists(tmp):
        os.unlink(tmp)
    return code, best is not None


def main(argv=None):
    ap = argparse.ArgumentParser(description="Run VellumInstaller under Wine and check its work.")
    ap.add_argument("--locale", help="locale identifier for the first registry source, e.g. de-de")
    ap.add_argument("--silent", action="store_true", help="pass /q: no window")
    ap.add_argument("--shots", help="folder for the screenshot (default: <build>/screenshots)")
    ap.add_argument("--timeout", type=float, default=60.0)
    ap.add_argument("--keep-folder", action="store_true",
                    help="run on the working folder as it is (default: emptied first)")
    a = ap.parse_args(argv)
    if a.locale and not re.fullmatch(r"[A-Za-z]{2,3}[-_][A-Za-z]{2,4}", a.locale):
        ap.error("--locale wants a tag such as de-de")

    env = wt.setup()
    exe = wt.program("VellumInstallerDev")
    shots = os.path.abspath(a.shots or os.path.join(env["VELLUM_BUILD"], "screenshots"))
    os.makedirs(shots, exist_ok=True)
    workdir = os.path.join(wt.windows_temp(), "_hsc_Vellum")
    record_path = os.path.join(workdir, "launched.txt")
    # Start from an empty working folder, so that what is checked is this
    # run's work (the launcher itself reuses the folder and deletes nothing).
    if not a.keep_folder:
        shutil.rmtree(workdir, ignore_errors=True)
    elif os.path.exists(record_path):
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
            code, captured = watch(proc, env, a.silent, shot, a.timeout, problems)
            elapsed = time.time() - started
            if shot and not captured:
                problems.append("the launcher window was not seen")
                shot = None
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
