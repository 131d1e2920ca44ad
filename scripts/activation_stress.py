"""Stress loop for controller activation after a client killed in a blocking
call: each round a client creates the controller and waits in Confirm (or on
the finish page), is killed with its process group, and at once a new client
creates a controller and calls it. Prints every round whose new client got no
controller, with COM's own warnings from that client.

    python3 scripts/activation_stress.py [--rounds N] [--case confirm|finish]
                                         [--pause S] [--how group|client]
                                         [--fresh] [--via-inspector]
Exit code: 0 every new client was served, 1 some were refused."""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))

from harness import winetest  # noqa: E402
from controller.controllertest import register  # noqa: E402

VICTIM = {
    "confirm": 'var c = new ActiveXObject("VellumSetup.controller");\nc.Confirm("cap", "question?");\n',
    "finish": 'var c = new ActiveXObject("VellumSetup.controller");\nc.showWizard("en-us");\n'
              'c.showWizardComplete();\n',
}
TITLE = {"confirm": "cap", "finish": "Quillfeather Installation"}
AFTER = r"""
var r;
try { var c = new ActiveXObject("VellumSetup.controller"); r = "made " + c.readyToInstall(); }
catch (e) { r = "refused " + (e.number >>> 0).toString(16) + " " + e.description; }
WScript.Echo(r);
try { c.closeAll(); } catch (e) {}
"""


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--rounds", type=int, default=20)
    p.add_argument("--case", choices=sorted(VICTIM), default="confirm")
    p.add_argument("--pause", type=float, default=1.0)
    p.add_argument("--how", choices=("group", "client"), default="group")
    p.add_argument("--via-inspector", action="store_true", help="start the new client from inside the "
                   "prefix (inspector run), as the hostile tests do")
    p.add_argument("--fresh", action="store_true", help="end the Wine session before each round, so that "
                   "the killed client is the session's first process")
    a = p.parse_args()
    winetest.setup()
    register()
    folder = tempfile.mkdtemp(prefix="stress-")
    victim, after = os.path.join(folder, "victim.js"), os.path.join(folder, "after.js")
    with open(victim, "w") as f:
        f.write(VICTIM[a.case] + "WScript.Quit(0);\n")
    with open(after, "w") as f:
        f.write(AFTER)
    refused = 0
    for n in range(a.rounds):
        if a.fresh:
            winetest.wineserver_kill()
            winetest.wineserver_wait(30)
        v = winetest.start("cscript", ["//nologo", winetest.to_windows(victim)])
        winetest.wait_window(TITLE[a.case], timeout=30)
        group = []
        if a.how == "group":
            ps = subprocess.run(["ps", "-eo", "pgid=,args="], stdout=subprocess.PIPE,
                                universal_newlines=True).stdout.split("\n")
            group = [" ".join(l.split()[1:3]) for l in ps if l.split() and l.split()[0] == str(v.pid)]
            v.kill()
        else:
            cscript = [p for p in winetest.processes() if p["exe"].lower() == "cscript.exe"]
            for c in cscript:
                winetest.inspector("kill", "--pid", c["pid"], check=False)
            v.wait(30)
        time.sleep(a.pause)
        before = [(q["pid"], q["exe"]) for q in winetest.processes() if q["exe"].lower() == "vellumsetup.exe"]
        if a.via_inspector:
            out = os.path.join(folder, "after.out")
            winetest.run_windows(["C:\\windows\\system32\\cscript.exe", "//nologo", winetest.to_windows(after)],
                                 wait=90, stdout=out, stderr=out + ".err", env={"WINEDEBUG": "warn+ole,err+ole"})
            with open(out, "rb") as f, open(out + ".err", "rb") as g:
                r = winetest.Result(0, f.read().decode("utf-8", "replace"), g.read().decode("utf-8", "replace"))
        else:
            r = winetest.run("cscript", ["//nologo", winetest.to_windows(after)], timeout=90,
                             env={"WINEDEBUG": "warn+ole,err+ole"})
        answer = r.stdout.strip()
        ok = answer.startswith("made ")
        print("round %d: %s (servers before: %s)" % (n, answer, before), flush=True)
        if group:
            print("  killed with the client's process group: %s" % group, flush=True)
        if not ok:
            refused += 1
            print("  COM said: %s" % "\n    ".join(
                l for l in r.stderr.splitlines() if ":ole:" in l or "err:" in l)[-3000:], flush=True)
        for q in winetest.processes():
            if q["exe"].lower() in ("vellumsetup.exe", "cscript.exe"):
                winetest.inspector("kill", "--pid", q["pid"], check=False)
    print("%d of %d new clients refused" % (refused, a.rounds))
    return 1 if refused else 0


if __name__ == "__main__":
    sys.exit(main())
