"""Drives the installation wizard through testtools/wizardhost: a copy of the
host in a folder of its own (the wizard reads its catalogue and license from
its program's folder), its state file for the flags, its command file for
what the controller does by program, and the inspector for what a user does."""

import os
import shutil
import tempfile
import time

from harness import product, winetest
from harness.winetest import inspector

TITLE_FALLBACK = product.TITLE

# Control identifiers of the wizard window, for the wizard's tests.
from harness.product import (BACK, CANCEL, CHK_LAUNCH, FRAME1, FRAME2, INSTALL_CAPTION, LBL_DESC,  # noqa: E402,F401
                             LBL_TITLE, NEXT, OPT_AGREE, OPT_DISAGREE, TOP_DESC, TOP_TITLE, TXT_LICENSE)


def catalogue(locale, texts):
    """A UTF-8 catalogue of the given texts (values already XML-escaped)."""
    rows = "".join("    <resource><name>%s</name><value>%s</value></resource>\r\n" % kv for kv in texts.items())
    return ('<?xml version="1.0" encoding="utf-8"?>\r\n<!-- test catalogue -->\r\n<uiStrings>\r\n'
            '  <language localeId="%s">\r\n%s  </language>\r\n</uiStrings>\r\n' % (locale, rows)).encode("utf-8")


class Host:
    """One wizard host process in a private folder."""

    def __init__(self, test, files=None, locale=None, env=None, open_wizard=True, wait=True):
        self.test = test
        self.folder = tempfile.mkdtemp(dir=test.tmp)
        self.exe = os.path.join(self.folder, "wizardhost.exe")
        shutil.copy(winetest.program("wizardhost"), self.exe)
        for name, data in (files or {}).items():
            path = os.path.join(self.folder, name)
            if data is None:  # a folder in the file's place: it cannot be read
                os.mkdir(path)
            else:
                with open(path, "wb") as f:
                    f.write(data)
        args = [] if locale is None else ["--locale", locale]
        if not open_wizard:
            args.append("--no-open")
        self.commands = 0
        self.open_wizard = open_wizard
        self.process = test.start(self.exe, args, env=env, cwd=self.folder)
        if wait:
            self.ready()

    def ready(self):
        """Waits until the host has opened the wizard (or started, with no_open)."""
        return self.wait(lambda s: s.get("loaded") == "1" or not self.open_wizard, what="the wizard to load")

    # ---- flags ----
    def state(self):
        try:
            with open(os.path.join(self.folder, "wizardhost.state"), "rb") as f:
                text = f.read().decode("utf-8")
        except OSError:
            return {}
        out = {}
        for line in text.split("\n"):
            if "=" in line:
                k, v = line.split("=", 1)
                out[k] = v.replace("\\r", "\r").replace("\\n", "\n").replace("\\\\", "\\")
        return out

    def wait(self, predicate, timeout=20, what="the wizard"):
        deadline = time.time() + timeout
        while True:
            s = self.state()
            if s and predicate(s):
                return s
            if self.process.poll() is not None:
                self.test.fail("wizardhost ended (exit %s) while waiting for %s; %s"
                               % (self.process.poll(), what, self.stderr_tail()))
            if time.time() > deadline:
                self.test.fail("timed out waiting for %s; state %r; %s" % (what, s, self.stderr_tail()))
            time.sleep(0.05)

    def stderr_tail(self):
        # Wine's own messages (a loader or session failure) end up here:
        # without them an early exit says nothing of its cause.
        err = self.process.output()[1].strip()
        return "stderr: " + (err[-800:] if err else "(empty)")

    # ---- the program's side ----
    def send(self, command, arg=""):
        """Queues a command; returns its number."""
        self.commands += 1
        with open(os.path.join(self.folder, "wizardhost.cmd"), "ab") as f:
            f.write(("%d %s %s\n" % (self.commands, command, arg)).encode("utf-8"))
        return self.commands

    def finished(self, number, timeout=20):
        return self.wait(lambda s: int(s.get("done", "0")) >= number, timeout,
                         "command %d" % number)["result.%d" % number]

    def command(self, command, arg=""):
        return self.finished(self.send(command, arg))

    def sync(self):
        self.command("sync")

    def quit(self):
        self.send("quit")
        self.process.wait(20)

    # ---- the user's side ----
    @property
    def hwnd(self):
        return int(self.state()["hwnd"])

    def dump(self):
        return inspector("dump", "--hwnd", self.hwnd)

    def click(self, control_id):
        inspector("click", "--hwnd", self.hwnd, "--id", control_id)
        self.sync()

    def close_box(self):
        inspector("close", "--hwnd", self.hwnd)
        self.sync()

    def msgbox(self, timeout_ms=5000):
        return winetest.awaited("msgbox", "--pid", self.windows_pid, "--timeout", timeout_ms)

    def answer(self, button):
        inspector("answer", "--button", button, "--pid", self.windows_pid)
        self.sync()

    def no_msgbox(self):
        try:
            box = inspector("msgbox", "--pid", self.windows_pid, "--timeout", 700)
        except winetest.InspectorError as e:
            if e.code == 2:
                return
            raise
        self.test.fail("unexpected message box %r" % box)

    @property
    def windows_pid(self):
        return int(self.state()["pid"])

    def license_text(self):
        path = os.path.join(self.folder, "license-dump.txt")
        self.command("license", winetest.to_windows(path))
        with open(path, "rb") as f:
            return f.read().decode("utf-8")


def control(dump, control_id):
    found = [c for c in dump["controls"] if c["id"] == control_id]
    assert len(found) == 1, "control %d not found once" % control_id
    return found[0]
