"""Runs the robot user over many seeds, or replays one run exactly.

    python3 tests/monkey/soak.py --runs N [--seed S]   seeds S, S+1, ... S+N-1
                                                       (S defaults to a seed from the clock)
    python3 tests/monkey/soak.py --replay-seed S       one seed again
    python3 tests/monkey/soak.py --replay "key:Tab click:1001 ..."
                                                       an action list as printed
    --count K      actions per seed (default 200)
    --verbose      print each action as it runs

A failure prints the seed, what broke and the action list up to the step
that broke it, in the form --replay takes. Exit code: 0 all passed, 1 a run
failed, 2 bad usage."""

import argparse
import os
import sys
import time
import unittest

# Run as a script, its own folder would shadow the package of the same name.
sys.path[0] = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

from harness import winetest  # noqa: E402
from controller.controllertest import register  # noqa: E402
from monkey.monkey import Monkey, MonkeyFailure, actions  # noqa: E402


class _Run(winetest.WineTestCase):
    def runTest(self):
        pass


def run_one(seed=None, action_list=None, verbose=False):
    case = _Run()
    case.setUp()
    log = print if verbose else None
    m = Monkey(case, seed=seed, action_list=action_list, log=log)
    if verbose:
        original = m.do

        def do(action):
            print("%7.2f %4d %s" % (time.time() - started, m.step, action), flush=True)
            return original(action)
        m.do = do
    started = time.time()
    try:
        m.run()
        return None, m, time.time() - started
    except MonkeyFailure as e:
        return e, m, time.time() - started
    finally:
        case.doCleanups()


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--runs", type=int)
    p.add_argument("--seed", type=int)
    p.add_argument("--replay-seed", type=int)
    p.add_argument("--replay")
    p.add_argument("--count", type=int, default=200)
    p.add_argument("--verbose", action="store_true")
    a = p.parse_args()
    winetest.setup()
    register()
    if a.replay is not None:
        jobs = [(None, a.replay.split())]
    elif a.replay_seed is not None:
        jobs = [(a.replay_seed, actions(a.replay_seed, a.count))]
    elif a.runs:
        first = a.seed if a.seed is not None else int(time.time()) % 1000000
        jobs = [(s, actions(s, a.count)) for s in range(first, first + a.runs)]
    else:
        p.print_usage()
        return 2
    failed = 0
    for seed, action_list in jobs:
        error, m, took = run_one(seed, action_list, a.verbose)
        if error is None:
            print("PASS seed %s: %d actions, %d sessions, %.0f s; covered %s" % (
                seed, len(action_list), len(m.sessions), took, " ".join(sorted(m.seen))), flush=True)
            continue
        failed += 1
        print("FAIL seed %s after %.0f s: %s" % (seed, took, error), flush=True)
        print("replay: python3 tests/monkey/soak.py --replay \"%s\"" % " ".join(m.history), flush=True)
    print("%d of %d runs failed" % (failed, len(jobs)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
