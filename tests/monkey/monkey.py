"""A robot user that does what no script planned: seeded random sequences of
real input (keys and mouse clicks through the X test extension, the close
box) mixed with what a script may do at any moment (closeAll,
closeProgress, releasing the controller, setProgress, Confirm, dying),
against the real VellumSetup server under Wine with heap checking on.
After every step it checks:

- no VellumSetup process crashed (a non-zero exit, or a crash or heap
  corruption report on the stderr its client shares with it);
- the visible wizard page has all its controls and is one of the pages the
  wizard has, with the buttons that page gives;
- at most one exit question is on screen;
- every server has its client, and a server whose client is gone, or that
  was told to end, ends;
- what the script is told (readyToInstall, userAborted, showWizardComplete,
  Confirm) agrees with the last decision the user made.

The action list depends on the seed alone, never on what the programs did,
so a seed or the printed list replays the same actions. An action that
does not apply (a click on a window that is not there, a script call while
the script waits in a blocking call) is a no-op.
"""

import json
import os
import random
import subprocess
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from harness import product, winetest

from controller.controllertest import PROGRESS_CLASS

HERE = os.path.dirname(os.path.abspath(__file__))
CLIENT_JS = os.path.join(HERE, "client.js")
SERVER_EXE = "VellumSetup.exe"
WIZARD_CLASS = product.WIZARD_CLASS
BOX_CLASS = "#32770"
EXIT_TITLE = "Exit Installation"
HEAP_CHECK = "warn+heap"
# Signs on stderr that a process crashed or that Wine's heap checking found
# a damaged heap.
CRASH_MARKERS = ("Unhandled page fault", "Unhandled exception", "Unhandled stack overflow", "err:heap",
                 "warn:heap", "Backtrace:", "assertion failed")

# Wizard and progress window controls (ids).
from harness.product import (BACK, CANCEL, CHK_LAUNCH, FRAME1, FRAME2, INSTALL_CAPTION, LBL_DESC,  # noqa: E402,F401
                             LBL_TITLE, NEXT, OPT_AGREE, OPT_DISAGREE, PROGRESS_CONTROLS, TOP_DESC, TOP_TITLE,
                             TXT_LICENSE, WIZARD_CONTROLS)

WAIT = 20          # seconds any one observable state may take to come
SETTLE = 3         # seconds the windows may take to come to rest after input
QUIET = 0.05       # seconds without a change that count as rest

# ---- the action list ---------------------------------------------------------

KEYS = ("Tab", "shift+Tab", "Escape", "Return", "space", "Up", "Down", "Left", "Right", "alt+F4")
# Clicks: the wizard's controls the user aims at most, then every other one
# (hidden, disabled and covered ones included) and the progress window's.
CLICK_WEIGHTS = [(NEXT, 8), (OPT_AGREE, 5), (OPT_DISAGREE, 2), (CANCEL, 3), (BACK, 2), (CHK_LAUNCH, 2),
                 (TXT_LICENSE, 2)] + [(i, 1) for i in WIZARD_CONTROLS
                                      if i not in (NEXT, OPT_AGREE, OPT_DISAGREE, CANCEL, BACK, CHK_LAUNCH,
                                                   TXT_LICENSE)] + [(i, 1) for i in PROGRESS_CONTROLS]


def _pick(rng, weighted):
    total = sum(w for _, w in weighted)
    r = rng.uniform(0, total)
    for item, w in weighted:
        r -= w
        if r <= 0:
            return item
    return weighted[-1][0]


def actions(seed, count=200):
    """The action list of a seed: tokens such as "key:Tab", "click:1001",
    "answer:yes", "script:step:3", "script:setProgress:40:slow".
    "click:forward" is a click on what a user who wants to install clicks
    next on the page shown: "I accept" while it is clear, else Next."""
    rng = random.Random(seed)
    # Each seed has a temperament: how often the script side interrupts.
    rude = rng.choice((0.3, 1.0, 2.0))
    kinds = [("step", 26), ("forward", 12), ("key", 24), ("click", 20), ("answer", 9), ("close", 3),
             ("closeAll", 1.5 * rude), ("closeProgress", 0.8 * rude), ("release", 0.8 * rude),
             ("setProgress", 3), ("Confirm", 1.5), ("kill", 0.8 * rude)]
    out = []
    for _ in range(count):
        kind = _pick(rng, kinds)
        if kind == "step":
            out.append("script:step:%d" % rng.randrange(6))
        elif kind == "key":
            out.append("key:" + rng.choice(KEYS))
        elif kind == "click":
            out.append("click:%d" % _pick(rng, CLICK_WEIGHTS))
        elif kind == "answer":
            out.append("answer:" + _pick(rng, [("yes", 2), ("no", 5), ("ok", 3)]))
        elif kind == "forward":
            out.append("click:forward")
        elif kind == "close":
            out.append("close:" + rng.choice(("wizard", "wizard", "progress")))
        elif kind == "setProgress":
            out.append("script:setProgress:%d:%s" % (rng.randrange(0, 101), rng.choice(("slow", "fast"))))
        else:
            out.append("script:" + kind)
    return out


class MonkeyFailure(AssertionError):
    pass


# ---- the steered client --------------------------------------------------------

class _Endpoint:
    """The HTTP endpoint the clients ask for their commands."""

    def __init__(self):
        self.lock = threading.Condition()
        self.commands = {}   # (session, n) -> line
        self.results = {}    # (session, n) -> text
        self.taken = set()   # (session, n) the client has begun
        endpoint = self

        class Handler(BaseHTTPRequestHandler):
            def _parts(self):
                _, sid, what, n = self.path.split("/")
                return int(sid), what, int(n)

            def do_GET(self):
                sid, _, n = self._parts()
                with endpoint.lock:
                    endpoint.lock.wait_for(lambda: (sid, n) in endpoint.commands, timeout=5)
                    line = endpoint.commands.get((sid, n), "")
                    if line:
                        endpoint.taken.add((sid, n))
                        endpoint.lock.notify_all()
                self._answer(line)

            def do_POST(self):
                sid, _, n = self._parts()
                body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode("utf-8", "replace")
                with endpoint.lock:
                    endpoint.results[(sid, n)] = body
                    endpoint.lock.notify_all()
                self._answer("")

            def _answer(self, text):
                data = text.encode("utf-8")
                try:
                    self.send_response(200)
                    self.send_header("Content-Length", str(len(data)))
                    self.end_headers()
                    self.wfile.write(data)
                except OSError:
                    pass  # the client was killed meanwhile

            def log_message(self, *args):
                pass

        self.server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.port = self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Session:
    """One installation script: a client process and the server it starts."""

    BLOCKING = {"Confirm", "showComplete", "showUptodate", "showWizardComplete", "closeAll"}

    def __init__(self, monkey, sid):
        self.monkey = monkey
        self.sid = sid
        self.n = 0
        self.client = monkey.test.start("cscript", ["//nologo", winetest.to_windows(CLIENT_JS),
                                                     "http://127.0.0.1:%d/%d" % (monkey.endpoint.port, sid)],
                                        env={"WINEDEBUG": HEAP_CHECK})
        self.server = None       # Windows pid of its VellumSetup
        self.phase = "new"       # what the script has done: new, created, wizard, aborted, installing, done, ended
        self.install_steps = 0
        self.inflight = None     # (n, op, args) of a call that has not returned
        self.ending = None       # why the server is expected to end, once it is
        self.client_gone = False
        self.released = False
        self.wizard_gone_ok = False  # the script was entitled to lose its wizard
        self.confirm_answer = None   # what the user answered to a Confirm in flight
        self.may_end = None          # a call in flight that ends the server
        self.has_progress = False    # the server has made its progress window (and not closed it)
        self.progress_before = False # it had one when closeProgress was sent

    # ---- calls ----
    def send(self, op, *args):
        self.n += 1
        ep = self.monkey.endpoint
        with ep.lock:
            ep.commands[(self.sid, self.n)] = "\t".join([op] + [str(a) for a in args])
            ep.lock.notify_all()
        return self.n

    def result(self, n):
        with self.monkey.endpoint.lock:
            return self.monkey.endpoint.results.get((self.sid, n))

    def wait_result(self, n, timeout=WAIT):
        ep = self.monkey.endpoint
        with ep.lock:
            ep.lock.wait_for(lambda: (self.sid, n) in ep.results or self.client.poll() is not None,
                             timeout=timeout)
            return ep.results.get((self.sid, n))

    def stderr(self):
        return self.client.output()[1]


class Monkey:
    def __init__(self, test, seed=None, action_list=None, log=None):
        self.test = test
        self.seed = seed
        self.actions = list(action_list) if action_list is not None else actions(seed)
        self.log = log or (lambda s: None)
        self.sessions = []
        self.step = 0
        self.history = []
        self.decision = None        # the user's last decision for the current wizard
        self.launch_checked = None  # chkLaunch as last seen on the finish page
        self.page = None
        self.ended_servers = {}     # pid -> exit code
        self.seen = set()           # pages and returned calls: what a run covered
        self.rest = None            # the windows as the last check left them, nothing done since

    # ---- running ----
    def run(self):
        folder = self.test.tmp
        self.endpoint = _Endpoint()
        self.inspect = winetest.Resident(folder)
        self.x = winetest.XInput()
        try:
            for i, action in enumerate(self.actions):
                self.step = i
                self.history.append(action)
                self.do(action)
                snap = self.check()
                self.log("       %s" % self.state_line(snap))
            self.finish()
        except (MonkeyFailure, winetest.InspectorError) as e:
            raise MonkeyFailure("step %d (%s): %s\n%s" % (self.step, self.actions[self.step], e,
                                                          self.describe())) from None
        finally:
            self.x.close()
            self.inspect.close()
            self.endpoint.close()

    def describe(self):
        lines = ["seed: %r" % (self.seed,), "actions so far: %s" % " ".join(self.history)]
        for s in self.sessions:
            err = [l for l in s.stderr().split("\n") if any(m in l for m in CRASH_MARKERS)]
            if err:
                lines.append("session %d stderr: %s" % (s.sid, "\n  ".join(err[:20])))
        return "\n".join(lines)

    def fail(self, message):
        raise MonkeyFailure(message)

    @property
    def session(self):
        return self.sessions[-1] if self.sessions else None

    # ---- observation ----
    def snapshot(self):
        """The servers' windows and which of them still run. Asked by their
        ids (every server is held from its start, so an id cannot stand for
        a later process): listing the system's processes would double the
        cost of a look, which the robot takes several times per action."""
        pids = [s.server for s in self.sessions if s.server is not None]
        if not pids:
            return {"processes": [], "windows": []}
        args = ["snapshot"]
        for pid in pids:
            args += ["--pid", pid]
        return self.inspect(*args)

    def server_pids(self):
        return {p["pid"]: p for p in self.inspect("ps") if p["exe"].lower() == SERVER_EXE.lower()}

    def windows(self, snap, pid):
        return [w for w in snap["windows"] if w["pid"] == pid]

    @staticmethod
    def fingerprint(snap):
        return json.dumps([[w["hwnd"], w["visible"], w["enabled"], w["title"],
                            [(c["id"], c["visible"], c["enabled"], c.get("checked"), c["text"]) for c in w["controls"]]]
                           for w in snap["windows"]] + [sorted(p["pid"] for p in snap["processes"])])

    def settle(self):
        """Waits until the windows have stayed the same for QUIET seconds,
        over two looks at least: a rest is a span of time, however quick a
        look is."""
        snap = self.snapshot()
        seen = self.fingerprint(snap)
        since = time.time()
        deadline = since + SETTLE
        while True:
            time.sleep(0.01)
            again = self.snapshot()
            now = time.time()
            again_seen = self.fingerprint(again)
            if again_seen != seen:
                snap, seen, since = again, again_seen, now
            elif now - since >= QUIET:
                return again
            if now > deadline:
                return again

    def alive(self, snap, pid):
        return any(p["pid"] == pid for p in snap["processes"])

    def boxes(self, snap, pid):
        return [w for w in self.windows(snap, pid) if w["class"] == BOX_CLASS and w["visible"]]

    def wizard(self, snap, pid):
        found = [w for w in self.windows(snap, pid) if w["class"] == WIZARD_CLASS]
        return found[0] if found else None

    def progress(self, snap, pid):
        found = [w for w in self.windows(snap, pid) if w["class"] == PROGRESS_CLASS]
        return found[0] if found else None

    # ---- actions ----
    def do(self, action):
        kind, _, rest = action.partition(":")
        s = self.session
        # The user acts on the windows as the last check saw them at rest.
        seen, self.rest = self.rest, None
        if kind == "script":
            op, _, arg = rest.partition(":")
            if op == "step":
                return self.script_step(int(arg or 0))
            if op == "kill":
                return self.kill_client()
            if s is None or s.phase in ("new", "ended") or s.inflight or s.released or s.client_gone:
                return  # the script is not there, or waits in a call
            if op == "setProgress":
                value, slow = arg.split(":")
                return self.call(s, "setProgress", int(value), "true" if slow == "slow" else "false")
            if op == "Confirm":
                return self.call(s, "Confirm", "Robot question", "Go on?")
            return self.call(s, op)
        snap = seen or self.snapshot()
        pid = s.server if s else None
        if pid is None or not self.alive(snap, pid):
            return
        if kind == "key":
            self.press(snap, pid, rest)
        elif kind == "click":
            self.click(snap, pid, self.forward(snap, pid) if rest == "forward" else int(rest))
        elif kind == "close":
            w = self.wizard(snap, pid) if rest == "wizard" else self.progress(snap, pid)
            if w and w["visible"]:
                self.inspect("close", "--hwnd", w["hwnd"])
        elif kind == "answer":
            boxes = self.boxes(snap, pid)
            if boxes:
                box = boxes[0]
                r = self.inspect.ask("answer", "--button", rest, "--hwnd", box["hwnd"], "--timeout", 5000)
                if r["code"] == 0 and box["title"] == "Robot question" and s.inflight:
                    s.confirm_answer = rest
        self.after_input()

    def press(self, snap, pid, key):
        target = None
        boxes = self.boxes(snap, pid)
        wiz, prog = self.wizard(snap, pid), self.progress(snap, pid)
        if boxes:
            target = boxes[0]
        elif wiz and wiz["visible"]:
            target = wiz
        elif prog and prog["visible"]:
            target = prog
        if not target:
            return
        self.inspect.ask("activate", "--hwnd", target["hwnd"])
        self.x.key(key)

    def forward(self, snap, pid):
        wiz = self.wizard(snap, pid)
        agree = wiz and self.control(wiz, OPT_AGREE)
        if agree and agree["visible"] and agree.get("checked") != 1:
            return OPT_AGREE
        return NEXT

    def click(self, snap, pid, cid):
        holder = self.progress(snap, pid) if cid in PROGRESS_CONTROLS else self.wizard(snap, pid)
        if not holder or not holder["visible"]:
            return
        for c in holder["controls"]:
            if c["id"] == cid:
                r = c["rect"]
                x, y = r["left"] + r["width"] // 2, r["top"] + r["height"] // 2
                self.x.click(x, y)
                return

    def after_input(self):
        # The user's input may end a call in flight (a box answered, Finish).
        s = self.session
        if s and s.inflight:
            self.await_call(s)

    # ---- the script's side ----
    def new_session(self):
        if self.session and not self.session.client_gone:
            self.end_client(self.session, "quit")
        s = Session(self, len(self.sessions) + 1)
        self.sessions.append(s)
        self.decision = None
        self.launch_checked = None
        self.page = None
        before = self.server_pids()
        n = s.send("create")
        r = s.wait_result(n, timeout=60)
        if r != "ok created":
            self.fail("creating the controller: %r\n%s" % (r, s.stderr()[-2000:]))
        servers = [p for pid, p in self.server_pids().items() if pid not in before]
        if len(servers) != 1:
            self.fail("expected one new VellumSetup process, found %r" % servers)
        s.server = servers[0]["pid"]
        s.client_wpid = servers[0]["parent"]
        self.inspect("hold", "--pid", s.server)
        s.phase = "created"

    def end_client(self, s, how):
        if s.client_gone:
            return
        if how == "quit" and not s.inflight and s.client.poll() is None:
            n = s.send("quit")
            s.wait_result(n, timeout=WAIT)
            try:
                s.client.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.fail("the client did not end after quit")
        else:
            # TerminateProcess of the client alone: its server is its child
            # and shares its unix process group.
            self.inspect.ask("kill", "--pid", s.client_wpid)
            try:
                s.client.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.fail("the killed client did not end")
        s.client_gone = True
        s.ending = s.ending or "its client is gone"
        s.inflight = None
        s.phase = "ended"
        self.await_server_end(s)

    def kill_client(self):
        s = self.session
        if s and not s.client_gone:
            self.end_client(s, "kill")

    def script_step(self, variant):
        s = self.session
        if s is None or s.phase == "ended" or s.released or s.client_gone:
            return self.new_session()
        if s.inflight:
            return
        if s.phase == "created":
            return self.call(s, "showWizard", "en-us")
        if s.phase == "wizard":
            return self.call(s, "readyToInstall")
        if s.phase == "aborted":
            return self.call(s, "showWizard", "en-us") if variant < 3 else self.call(s, "closeAll")
        if s.phase == "installing":
            plan = ["setMaxValue", "showProgress"] + ["setProgress"] * (variant % 3)
            if s.install_steps < len(plan):
                op = plan[s.install_steps]
                s.install_steps += 1
                if op == "setMaxValue":
                    return self.call(s, op, 100)
                if op == "showProgress":
                    return self.call(s, op, 1)
                return self.call(s, op, min(100, 20 * s.install_steps), "true")
            final = ("showWizardComplete", "showWizardComplete", "showWizardComplete", "showUptodate",
                     "showComplete", "Confirm")[variant]
            if final == "showComplete":
                return self.call(s, final, "All files are in place.")
            if final == "Confirm":
                return self.call(s, final, "Robot question", "Go on?")
            return self.call(s, final)
        if s.phase == "done":
            return self.call(s, "closeAll" if variant < 4 else "closeProgress")

    def call(self, s, op, *args):
        before = self.decision
        n = s.send(op, *args)
        s.inflight = (n, op, args, before)
        s.confirm_answer = None
        if op in ("closeAll", "closeProgress", "release"):
            s.may_end = op
        if op == "Confirm":
            s.has_progress = True  # its box takes the progress window's caption, making that window
        if op == "closeProgress":
            # It ends the server when the server has a progress window (even
            # one the user closed): decided now, since once the call has
            # returned an ending server has dropped its windows already.
            s.progress_before = s.has_progress or self.progress(self.snapshot(), s.server) is not None
        self.await_call(s)

    def await_call(self, s):
        """Waits until the call in flight returns or, for one that waits for
        the user, as long as it shows the user something to answer (a box,
        or the finish page)."""
        n, op, args, _ = s.inflight
        deadline = time.time() + WAIT
        while True:
            r = s.result(n)
            if r is not None:
                return self.returned(s, r)
            snap = self.snapshot()
            if not self.alive(snap, s.server):
                r = s.wait_result(n, timeout=WAIT)
                if r is None:
                    self.fail("%s did not return to the script after the server ended" % op)
                return self.returned(s, r)
            if op in Session.BLOCKING:
                wiz = self.wizard(snap, s.server)
                if self.boxes(snap, s.server) or (
                        op == "showWizardComplete" and wiz and wiz["visible"] and self.control(wiz, CHK_LAUNCH)["visible"]):
                    return
            if time.time() > deadline:
                self.fail("%s neither returned nor asked the user within %d s" % (op, WAIT))
            time.sleep(0.02)

    def returned(self, s, r):
        n, op, args, before = s.inflight
        s.inflight = None
        ok = r.startswith("ok ")
        value = r[3:] if ok else r[4:]
        self.log("  %s -> %s" % (op, r))
        self.seen.add(op)
        if not ok:
            code = value.split(" ", 1)[0]
            # The controller's own refusals (no window yet, out of range) are
            # answers; anything else means the server was lost under the script.
            if not code.startswith("0x800402") and not (s.ending or op in ("closeAll", "closeProgress")):
                self.fail("%s failed: %s" % (op, value))
            if op in ("closeAll", "closeProgress", "release"):
                self.fail("%s failed: %s" % (op, value))
            return
        truth = value == "true" or value == "-1" or value == "True"
        if op in ("setMaxValue", "showProgress"):
            s.has_progress = True
        if op == "readyToInstall":
            allowed = {self.ready_for(before), self.ready_for(self.decision)}
            if truth not in allowed:
                self.fail("readyToInstall answered %s but the user's decision was %s" % (value, self.decision))
            if truth:
                s.inflight = None
                return self.call(s, "userAborted")
        elif op == "userAborted":
            allowed = {before == "abort", self.decision == "abort"}
            if truth not in allowed:
                self.fail("userAborted answered %s but the user's decision was %s" % (value, self.decision))
            if truth:
                s.phase = "aborted"
                s.wizard_gone_ok = True
                self.decision = None
                self.launch_checked = None
            else:
                s.phase = "installing"
        elif op == "showWizard":
            if s.phase in ("created", "aborted"):
                s.phase = "wizard"
                s.wizard_gone_ok = False
        elif op == "showWizardComplete":
            if self.launch_checked is not None and truth != self.launch_checked:
                self.fail("showWizardComplete answered %s but the user left the launch box %s" %
                          (value, "checked" if self.launch_checked else "clear"))
            s.phase = "done"
        elif op == "Confirm":
            if s.confirm_answer in ("yes", "no") and truth != (s.confirm_answer == "yes"):
                self.fail("Confirm answered %s but the user clicked %s" % (value, s.confirm_answer))
            if s.phase == "installing" and s.install_steps >= 2:
                s.phase = "done"
        elif op in ("showUptodate", "showComplete"):
            if s.phase == "installing":
                s.phase = "done"
        elif op in ("closeAll", "closeProgress", "release"):
            if op == "closeProgress" and not s.progress_before:
                return  # there was no progress window: the server goes on
            s.ending = op
            s.wizard_gone_ok = True
            if op == "release":
                s.released = True
            self.await_server_end(s)
            s.phase = "ended"

    def await_server_end(self, s):
        r = self.inspect.ask("waitpid", "--pid", s.server, "--timeout", WAIT * 1000, timeout=WAIT + 30)
        if r["code"] != 0:
            self.fail("the server did not end within %d s after %s" % (WAIT, s.ending))
        self.server_ended(s, r["out"]["exit_code"])

    def server_ended(self, s, code):
        if s.server in self.ended_servers:
            return
        self.ended_servers[s.server] = code
        self.log("       server %d ended, exit code %s (%s)" % (s.server, code, s.ending or s.may_end))
        if code not in (0, None):
            self.fail("VellumSetup (pid %d) crashed: exit code 0x%08X" % (s.server, code & 0xFFFFFFFF))
        if not (s.ending or s.may_end):
            self.fail("VellumSetup (pid %d) ended by itself (exit %s) while its script still used it" %
                      (s.server, code))

    def finish(self):
        s = self.session
        if s and not s.client_gone:
            self.end_client(s, "kill" if s.inflight else "quit")
        self.check()

    # ---- the invariants ----
    @staticmethod
    def control(window, cid):
        for c in window["controls"]:
            if c["id"] == cid:
                return c
        return None

    def state_line(self, snap):
        s = self.session
        if not s:
            return "no session"
        wins = ["%s%s" % (w["title"] or w["class"], "" if w["visible"] else "(hidden)")
                for w in self.windows(snap, s.server)] if s.server else []
        return "session %d %s%s page=%s decision=%s windows=%s" % (
            s.sid, s.phase, " waiting in %s" % s.inflight[1] if s.inflight else "", self.page, self.decision, wins)

    def check(self):
        snap = self.settle()
        s = self.session
        if s and s.inflight:
            # A call that waits for nobody must return.
            self.await_call(s)
            snap = self.settle()
        waited = False
        for s in self.sessions:
            self.check_stderr(s)
            if s.server is None:
                continue
            alive = self.alive(snap, s.server)
            if not alive and s.server not in self.ended_servers:
                r = self.inspect("waitpid", "--pid", s.server, "--timeout", 1000)
                self.server_ended(s, r["exit_code"])
            if alive and (s.client_gone or s.client.poll() is not None):
                s.client_gone = True
                s.ending = s.ending or "its client is gone"
                self.await_server_end(s)
                waited = True
                alive = False
            if not alive:
                leftovers = self.windows(snap, s.server)
                if leftovers:
                    self.fail("windows left without their server: %r" % [w["title"] for w in leftovers])
                continue
            exits = [b for b in self.boxes(snap, s.server) if b["title"] == EXIT_TITLE]
            if len(exits) > 1:
                self.fail("%d exit questions on screen" % len(exits))
            wiz = self.wizard(snap, s.server)
            if wiz is None and s is self.session and s.phase in ("wizard", "installing") and not s.wizard_gone_ok \
                    and not s.inflight:
                self.fail("the wizard window is gone while the script still uses it")
            if wiz is not None:
                self.check_wizard(s, wiz)
        self.rest = None if waited else snap
        return snap

    def check_stderr(self, s):
        for line in s.stderr().split("\n"):
            if any(m in line for m in CRASH_MARKERS):
                self.fail("crash or heap report on stderr: %s" % line.strip())

    def check_wizard(self, s, wiz):
        ids = {c["id"] for c in wiz["controls"]}
        missing = [i for i in WIZARD_CONTROLS if i not in ids]
        if missing:
            self.fail("the wizard lost controls %r (page was %s)" % (missing, self.page))
        if not wiz["visible"]:
            if self.page in ("welcome", "license", "ready"):
                self.decision = "abort"
            elif self.page == "finish":
                self.decision = "finished"
            self.page = "hidden"
            return
        v = lambda i: self.control(wiz, i)["visible"]
        e = lambda i: self.control(wiz, i)["enabled"]
        if v(FRAME1) == v(FRAME2):
            self.fail("%s panels visible" % ("both" if v(FRAME1) else "no"))
        problems = []
        if v(FRAME1):
            for i in (LBL_TITLE, LBL_DESC):
                if not v(i):
                    problems.append("%d hidden" % i)
            if v(BACK):
                problems.append("Back shown")
            if not (v(NEXT) and e(NEXT)):
                problems.append("Next not usable")
            if v(CHK_LAUNCH):
                page = "finish"
                if v(CANCEL):
                    problems.append("Cancel shown on the finish page")
                self.launch_checked = self.control(wiz, CHK_LAUNCH).get("checked") == 1
                if self.decision is None:
                    self.decision = "install"
            else:
                page = "welcome"
                if not (v(CANCEL) and e(CANCEL)):
                    problems.append("Cancel not usable")
        else:
            for i in (TOP_TITLE, TOP_DESC):
                if not v(i):
                    problems.append("%d hidden" % i)
            if v(TXT_LICENSE):
                page = "license"
                for i in (OPT_AGREE, OPT_DISAGREE, BACK, CANCEL):
                    if not v(i):
                        problems.append("%d hidden" % i)
                agree = self.control(wiz, OPT_AGREE).get("checked") == 1
                disagree = self.control(wiz, OPT_DISAGREE).get("checked") == 1
                if agree == disagree:
                    problems.append("license choice agree=%s disagree=%s" % (agree, disagree))
                if e(NEXT) != agree:
                    problems.append("Next %s while 'I accept' is %s" % (
                        "enabled" if e(NEXT) else "disabled", "selected" if agree else "clear"))
            else:
                if not v(INSTALL_CAPTION) or v(OPT_AGREE) or v(OPT_DISAGREE):
                    problems.append("neither the license nor the review text")
                states = {e(NEXT), e(BACK), e(CANCEL)}
                if len(states) != 1:
                    problems.append("ready page buttons half enabled")
                page = "ready" if e(NEXT) else "installing"
                if page == "installing":
                    self.decision = self.decision or "install"
        if problems:
            self.fail("the %s page is broken: %s" % (page, "; ".join(problems)))
        self.page = page
        self.seen.add(page)

    @staticmethod
    def ready_for(decision):
        return decision is not None
