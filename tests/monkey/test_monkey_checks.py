"""The robot user's own judgement, without Wine: the action lists it
replays, and the page check it applies to what it sees (a check that
passed a broken page would let every run pass)."""

import copy
import unittest

from monkey import monkey
from monkey.monkey import (BACK, CANCEL, CHK_LAUNCH, FRAME1, FRAME2, INSTALL_CAPTION, NEXT, OPT_AGREE,
                           OPT_DISAGREE, TXT_LICENSE, WIZARD_CONTROLS, Monkey, MonkeyFailure, actions)

FRAME1_PARTS = set(range(1011, 1018))


def wizard(page):
    """A snapshot of the wizard window showing a page as the wizard shows it."""
    visible = {NEXT, CANCEL, 1004}
    enabled = set(WIZARD_CONTROLS)
    checked = {OPT_DISAGREE: 1, OPT_AGREE: 0, CHK_LAUNCH: 1}
    if page in ("welcome", "finish"):
        visible |= {FRAME1} | (FRAME1_PARTS - {CHK_LAUNCH})
        if page == "finish":
            visible = (visible | {CHK_LAUNCH}) - {CANCEL}
    else:
        visible |= {FRAME2, BACK} | set(range(1021, 1026))
        if page == "license":
            visible |= {TXT_LICENSE, OPT_AGREE, OPT_DISAGREE}
            enabled.discard(NEXT)
        else:
            visible |= {INSTALL_CAPTION}
            if page == "installing":
                enabled -= {NEXT, BACK, CANCEL}
    controls = []
    for cid in WIZARD_CONTROLS:
        c = {"id": cid, "visible": cid in visible, "enabled": cid in enabled, "text": ""}
        if cid in checked:
            c["checked"] = checked[cid]
        controls.append(c)
    return {"visible": True, "controls": controls}


def control(w, cid):
    return next(c for c in w["controls"] if c["id"] == cid)


class ActionLists(unittest.TestCase):
    def test_a_seed_gives_the_same_list_and_each_seed_its_own(self):
        self.assertEqual(actions(7), actions(7))
        self.assertNotEqual(actions(7), actions(8))
        self.assertEqual(len(actions(7)), 200)

    def test_every_kind_of_action_occurs(self):
        seen = {a.split(":")[0] + ":" + a.split(":")[1] for s in range(20) for a in actions(s)}
        for a in ["key:" + k for k in monkey.KEYS] + ["script:" + o for o in (
                "step", "closeAll", "closeProgress", "release", "setProgress", "Confirm", "kill")] + [
                "answer:yes", "answer:no", "answer:ok", "close:wizard", "close:progress", "click:forward",
                "click:%d" % BACK, "click:101"]:
            self.assertIn(a, seen)


class PageCheck(unittest.TestCase):
    def judge(self, w, decision=None):
        m = Monkey(test=None, action_list=[])
        m.decision = decision
        m.check_wizard(None, w)
        return m

    def test_each_page_as_the_wizard_shows_it_passes(self):
        for page in ("welcome", "license", "ready", "installing", "finish"):
            with self.subTest(page=page):
                self.assertEqual(self.judge(wizard(page)).page, page)

    def test_broken_pages_fail(self):
        def lost_panel(w):  # the license panel destroyed with everything on it
            w["controls"] = [c for c in w["controls"] if not 1020 <= c["id"] <= 1029]

        def next_without_accept(w):
            control(w, NEXT)["enabled"] = True

        def both_choices(w):
            control(w, OPT_AGREE)["checked"] = 1

        def no_panel(w):
            control(w, FRAME2)["visible"] = False

        def half_installing(w):
            control(w, CANCEL)["enabled"] = True

        def cancel_on_finish(w):
            control(w, CANCEL)["visible"] = True

        cases = [("license", lost_panel), ("license", next_without_accept), ("license", both_choices),
                 ("ready", no_panel), ("installing", half_installing), ("finish", cancel_on_finish)]
        for page, damage in cases:
            with self.subTest(damage=damage.__name__):
                w = copy.deepcopy(wizard(page))
                damage(w)
                with self.assertRaises(MonkeyFailure):
                    self.judge(w)

    def test_the_users_decision_is_read_from_the_pages(self):
        self.assertEqual(self.judge(wizard("installing")).decision, "install")
        m = self.judge(wizard("license"))
        hidden = wizard("license")
        hidden["visible"] = False
        m.check_wizard(None, hidden)
        self.assertEqual(m.decision, "abort", "the wizard hidden before Install: the user left")
        m = self.judge(wizard("finish"), decision="install")
        control_box = wizard("finish")
        control(control_box, CHK_LAUNCH)["checked"] = 0
        m.check_wizard(None, control_box)
        self.assertFalse(m.launch_checked)


if __name__ == "__main__":
    unittest.main()
