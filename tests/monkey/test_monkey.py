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

# Short action lists that broke the programs once, replayed exactly.
FOUND = {
    "Esc in the license box": "script:step:0 script:step:0 click:1001 click:1026 key:Escape",
    "closeAll while the exit question is open": "script:step:0 script:step:0 click:2 script:closeAll",
    "release while the exit question is open": "script:step:0 script:step:0 click:2 script:release",
    "Confirm over the exit question, then Cancel": "script:step:0 script:step:0 key:Escape script:Confirm "
                                                   "answer:yes click:2",
}


class RobotUser(winetest.WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        register(cls)

    def test_fixed_seeds(self):
        for seed in SEEDS:
            with self.subTest(seed=seed):
                m = Monkey(self, seed=seed)
                m.run()
                print("seed %d: %d actions, %d sessions" % (seed, len(m.actions), len(m.sessions)))
                self.kill_leftovers()

    def test_action_lists_that_found_faults(self):
        for name, action_list in FOUND.items():
            with self.subTest(name):
                Monkey(self, action_list=action_list.split()).run()
                self.kill_leftovers()


if __name__ == "__main__":
    unittest.main()
