"""The Wine slots' own guards, on the host: a private display is never one
that another run started at the same moment, and a harness process run by
hand waits for the slot of the prefix it uses instead of ending a running
test's programs."""
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests"))
from harness import winetest  # noqa: E402

SHELL_START = '. "%s/scripts/xvfb.sh"; unset DISPLAY; start_xvfb || exit 1; echo "$DISPLAY $VELLUM_XVFB_PID"; ' \
              'read _; stop_xvfb' % ROOT
PYTHON_START = ("import sys; sys.path.insert(0, %r); from harness import winetest as w; "
                "w.wineserver_kill = lambda: None; print(w._start_xvfb(), w._xvfb.pid, flush=True); input()"
                % os.path.join(ROOT, "tests"))


def lock_pid(display):
    with open("/tmp/.X%s-lock" % display.lstrip(":")) as f:
        return int(f.read().strip())


@unittest.skipUnless(shutil.which("Xvfb"), "no Xvfb")
class DisplayTest(unittest.TestCase):
    def test_starts_at_the_same_moment_get_displays_of_their_own(self):
        # Both used to take the first free number: the one refused saw the
        # other's socket and used that display, which went with the other run.
        for command in (["bash", "-c", SHELL_START], [sys.executable, "-c", PYTHON_START]):
            for _ in range(3):
                procs = [subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                         for _ in range(2)]
                try:
                    pair = [tuple(p.stdout.readline().split()) for p in procs]
                    self.assertEqual(len({d for d, _ in pair}), 2, pair)
                    for display, pid in pair:
                        self.assertEqual(lock_pid(display), int(pid), (command[0], pair))
                finally:
                    for p in procs:
                        p.communicate("\n", timeout=30)


class HandRunSlotTest(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="slots-")
        self.addCleanup(shutil.rmtree, self.build, True)

    def hand_run(self, prefix, slot=None):
        """A harness process run by hand (or by ctest with slot) taking the
        slot of prefix; returns it once started."""
        e = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        e.pop("VELLUM_SLOT", None)
        if slot is not None:
            e["VELLUM_SLOT"] = slot
        code = ("import sys; sys.path.insert(0, %r); from harness import winetest as w; "
                "w._hold_slot({'VELLUM_BUILD': %r, 'VELLUM_ARCH': 'x86_64', 'WINEPREFIX': %r}); print('holds')"
                % (os.path.join(ROOT, "tests"), self.build, prefix))
        self.err = os.path.join(self.build, "err-%d" % len(os.listdir(self.build)))
        with open(self.err, "w") as err:
            return subprocess.Popen([sys.executable, "-c", code], env=e, stdout=subprocess.PIPE, stderr=err, text=True)

    def test_waits_for_the_slot_of_its_prefix_only(self):
        prefix = os.path.join(self.build, "wineprefix-x86_64")
        with open(os.path.join(self.build, "wineslot-1.lock"), "a") as held:
            fcntl.flock(held, fcntl.LOCK_EX)  # a test runs in slot 1
            waiting = self.hand_run(prefix + "-slot1")
            said = self.err
            # It says so, and goes on only once the test has ended.
            deadline = time.time() + 30
            while "waiting" not in open(said).read():
                self.assertIsNone(waiting.poll(), "it went on beside the test")
                self.assertLess(time.time(), deadline, "no word of the wait")
                time.sleep(0.05)
            self.assertIsNone(waiting.poll(), "it went on beside the test")
            # Slot 0, a prefix of its own, and ctest's own tests: no wait.
            for other in (self.hand_run(prefix), self.hand_run(os.path.join(self.build, "wineprefix-bench-x86_64")),
                          self.hand_run(prefix + "-slot1", slot="1")):
                self.assertEqual(other.communicate(timeout=30)[0].strip(), "holds")
        self.assertEqual(waiting.communicate(timeout=30)[0].strip(), "holds")


if __name__ == "__main__":
    unittest.main()
