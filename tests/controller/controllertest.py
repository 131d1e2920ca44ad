"""Runs JScript sessions against VellumSetup.controller under Wine's cscript,
the way the installation script uses it, while the inspector plays the user.

A session script is a body of JScript between a prologue (helpers, creation
of the controller) and an epilogue (uncaught errors, exit code). Its checks
print "OK name" or "FAIL name: ..."; "FIGURE name value" lines carry
measurements. checkpoint(name) stops the script in a message box of its own
(title "checkpoint") until the Python side has looked at or done what it
needs and answers it: the way to act between two calls of the script."""

import os
import re
import time

from harness import product, winetest
from harness.winetest import inspector

PROGID = product.PROGID
WIZARD_TITLE = product.TITLE
PROGRESS_CLASS = product.PROGRESS_CLASS

# Control identifiers: progress window, wizard.
from harness.product import CANCEL, CHK_LAUNCH, LBL_PROGRESS, LBL_TIMER, NEXT, OPT_AGREE, PROGRESS_BAR  # noqa: E402,F401

ERR_NO_WIZARD = 0x80040201
ERR_NO_PROGRESS = 0x80040202
ERR_RANGE = 0x80040203
DISP_E_TYPEMISMATCH = 0x80020005
DISP_E_OVERFLOW = 0x8002000A

PROLOGUE = r"""
var failures = 0;
function out(s) { WScript.Echo(s); }
function hex(n) { return "0x" + (n >>> 0).toString(16).toUpperCase(); }
function check(name, got, want) {
  if (got === want) out("OK " + name);
  else { failures++; out("FAIL " + name + ": got [" + got + "], want [" + want + "]"); }
}
function expectError(name, fn, number, text) {
  try { fn(); failures++; out("FAIL " + name + ": no error"); return; }
  catch (e) {
    var ok = (e.number >>> 0) === (number >>> 0) &&
             (text === undefined || String(e.description).indexOf(text) >= 0);
    if (ok) out("OK " + name);
    else { failures++; out("FAIL " + name + ": " + hex(e.number) + " " + e.description); }
  }
}
var shell = new ActiveXObject("WScript.Shell");
function checkpoint(name) { out("CHECKPOINT " + name); shell.Popup(name, 0, "checkpoint", 0); }
function now() { return new Date().getTime(); }
function busy(ms) { var t = now(); while (now() - t < ms) {} }
function waitReady(seconds) {
  var t = now();
  while (!c.readyToInstall()) { if (now() - t > seconds * 1000) return false; busy(100); }
  return true;
}
var c;
try {
  var t0 = now();
  c = new ActiveXObject("%s");
  out("FIGURE create_ms " + (now() - t0));
""" % PROGID

EPILOGUE = r"""
} catch (e) {
  failures++;
  out("FAIL uncaught: " + hex(e.number) + " " + e.description);
}
out("END failures=" + failures);
WScript.Quit(failures ? 1 : 0);
"""


def register(case=None):
    """Registers the built server machine-wide (once per test class). With
    the test class given, its registration is removed again when the class
    ends: later tests expect the prefix without one."""
    exe = winetest.program("VellumSetup")
    # The registry lives in the wineserver: the next program sees the keys
    # at once, with no need to end the session (a session end and a cold
    # start cost three seconds).
    r = winetest.run(exe, ["/RegServer"], timeout=60)
    if r.code != 0:
        raise AssertionError("VellumSetup /RegServer: %r" % r)
    if case is not None:
        case.addClassCleanup(winetest.run, exe, ["/UnregServer"], timeout=60)


class Session:
    def __init__(self, test, body, name="session"):
        self.test = test
        path = os.path.join(test.tmp, name + ".js")
        with open(path, "w", newline="\r\n") as f:
            f.write(PROLOGUE + body + EPILOGUE)
        # Every check of the body runs once: each must report.
        self.expected_oks = len(re.findall(r"\b(check|expectError)\(|out\(\"OK ", body))
        self.process = test.start("cscript", ["//nologo", winetest.to_windows(path)])

    def output(self):
        return self.process.output()[0].replace("\r", "")

    def lines(self, prefix):
        return [l[len(prefix):] for l in self.output().split("\n") if l.startswith(prefix)]

    def figure(self, name):
        for l in self.lines("FIGURE "):
            key, value = l.split(" ", 1)
            if key == name:
                return float(value)
        return None

    def checkpoint(self, name, timeout=60):
        box = winetest.awaited("msgbox", "--title", "checkpoint", "--timeout", int(timeout * 1000))
        self.test.assertEqual(box["text"], name, "session at another checkpoint:\n" + self.output())
        # A box is found as soon as it is visible, before its thread has
        # activated it; that activation would come later and take the
        # foreground from a window the test then types into (Escape and
        # Return would answer the box, and the session would go on).
        deadline = time.time() + timeout
        while not inspector("activate", "--hwnd", box["hwnd"]).get("foreground"):
            self.test.assertLess(time.time(), deadline, "the checkpoint box never took the focus")
            time.sleep(0.1)
        return box

    def resume(self):
        inspector("answer", "--button", "ok", "--title", "checkpoint", "--timeout", 10000)

    def has(self, line):
        return line in self.output().split("\n")

    def finish(self, timeout=60):
        try:
            code = self.process.wait(timeout)
        except Exception:
            self.process.kill()
            self.test.fail("the session did not end:\n" + self.output())
        text = self.output()
        failed = [l for l in text.split("\n") if l.startswith("FAIL")]
        self.test.assertEqual(failed, [], text)
        self.test.assertIn("END failures=0", text)
        self.test.assertEqual(len(self.lines("OK ")), self.expected_oks, text)
        self.test.assertEqual(code, 0, text)
        return text


def message_box(title, timeout=30, pid=None):
    args = ["msgbox", "--title", title, "--timeout", int(timeout * 1000)]
    if pid:
        args += ["--pid", pid]
    return winetest.awaited(*args)


def answer(title, button, pid=None):
    args = ["answer", "--button", button, "--title", title, "--timeout", 10000]
    if pid:
        args += ["--pid", pid]
    return inspector(*args)


def window(title=None, cls=None, timeout=20, visible=True):
    args = ["wait", "--timeout", int(timeout * 1000)]
    if title:
        args += ["--title", title]
    if cls:
        args += ["--class", cls]
    if visible:
        args.append("--visible")
    return winetest.awaited(*args, timeout=timeout + 30)


def dump(hwnd):
    return inspector("dump", "--hwnd", hwnd)


def control(d, cid):
    for c in d["controls"]:
        if c["id"] == cid:
            return c
    raise KeyError(cid)


def click(hwnd, cid):
    inspector("click", "--hwnd", hwnd, "--id", cid)


def wait_control(hwnd, cid, timeout=20, **state):
    """The control once it shows the state asked (visible=, enabled=). A
    click is posted: what it changes shows only once its window has taken it."""
    end = time.time() + timeout
    while True:
        c = control(dump(hwnd), cid)
        if all(bool(c.get(k)) == v for k, v in state.items()):
            return c
        if time.time() > end:
            raise AssertionError("control %d never became %r: %r" % (cid, state, c))
        time.sleep(0.05)


def process_ended(pid, timeout):
    r = inspector("waitpid", "--pid", pid, "--timeout", int(timeout * 1000), check=False)
    return bool(r and r.get("exited"))
