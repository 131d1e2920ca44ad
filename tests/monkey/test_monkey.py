"""The robot user's fixed seeds: each runs a few hundred random actions
against the real server under heap checking (see monkey.py for what it does
and checks). tests/monkey/soak.py runs more seeds and replays a failure."""

import unittest

from harness import winetest

from controller.controllertest import register
from monkey.monkey import Monkey

# Chosen to cover every page, the exit question, teardown while a box is
# open and each way a session ends; they pass on sound programs.
SEEDS = (42, 43)


class RobotUser(winetest.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        register()

    def test_fixed_seeds(self):
        for seed in SEEDS:
            with self.subTest(seed=seed):
                m = Monkey(self, seed=seed)
                m.run()
                print("seed %d: %d actions, %d sessions" % (seed, len(m.actions), len(m.sessions)))
                self.kill_leftovers()


if __name__ == "__main__":
    unittest.main()
