"""A keyboard walk through every page of the wizard with real keys (xdotool
under Xvfb): Tab and Shift+Tab once around the page in the layout table's
tab order, then Esc, Enter and Space on every control that can take the
focus, Alt+F4 and the close box, each with the result the page gives it,
and after each key every control of the page still there as it was."""

import hashlib
import os
import re
import unittest

from harness import winetest
from harness.winetest import inspector
from wizard.wizardtest import (BACK, CANCEL, CHK_LAUNCH, NEXT, OPT_AGREE, OPT_DISAGREE, TXT_LICENSE, Host,
                               control)

IDS = {"nextButton": NEXT, "CancelButton": CANCEL, "BackButton": BACK, "txtLicense": TXT_LICENSE,
       "optAgree": OPT_AGREE, "optDisagree": OPT_DISAGREE, "chkLaunch": CHK_LAUNCH}
BUTTONS = (NEXT, CANCEL, BACK)


def layout_tab_order():
    """The focusable controls of the layout tables, by tab index."""
    with open(os.path.join(winetest.ROOT, "setupui", "wizard", "wizard_layout.cpp"), encoding="utf-8") as f:
        src = f.read()
    rows = re.findall(r'\{ID_\w+,\s*L"(\w+)",\s*Kind::(\w+),.*?Font::\w+,\s*(-?\d+),', src, re.S)
    focusable = sorted((int(tab), name) for name, kind, tab in rows
                       if kind in ("Button", "CheckBox", "Option", "TextBox"))
    return [IDS[name] for _, name in focusable]


TAB_ORDER = layout_tab_order()


def page_state(d):
    """Every control of the window and what a key could change of it."""
    return {c["id"]: (c["visible"], c["enabled"], c.get("checked"),
                      hashlib.md5(c["text"].encode("utf-8")).hexdigest()) for c in d["controls"]}


class Keys:
    """Real keys into the wizard, each waited for: the host counts the key
    releases its thread has taken from the queue."""

    def __init__(self, host):
        self.host = host
        self.activate = True  # bring the wizard to the front before the next key

    def press(self, *names, hwnd=None):
        before = int(self.host.state()["keyups"])
        target = hwnd or (self.host.hwnd if self.activate else None)
        winetest.keys(*names, hwnd=target)
        self.activate = hwnd is not None
        count = sum(len(n.split("+")) for n in names)
        self.host.wait(lambda s: int(s["keyups"]) >= before + count, what="the keys %s" % (names,))


class KeyboardWalk(winetest.WineTestCase):
    def setUp(self):
        super().setUp()
        self.host = Host(self, locale="en-us")
        self.keys = Keys(self.host)

    # ---- checks ----
    def step(self):
        return self.host.state()["currentStep"]

    def cycle(self, d):
        """The page's tab cycle: the layout's order over what is usable now;
        of the option group only the selected button is a tab stop."""
        usable = {c["id"] for c in d["controls"] if c["visible"] and c["enabled"]}
        return [i for i in TAB_ORDER
                if i in usable and (i not in (OPT_AGREE, OPT_DISAGREE) or control(d, i)["checked"] == 1)]

    def assert_tab_cycles(self):
        d = self.host.dump()
        cycle = self.cycle(d)
        start = d["focus_id"]
        if start not in cycle:  # no control of the page had the focus: Tab enters the cycle
            self.keys.press("Tab")
            d = self.host.dump()
            start = d["focus_id"]
        self.assertIn(start, cycle, "the focus is on a control of the cycle %r" % cycle)
        for key, direction in (("Tab", 1), ("shift+Tab", -1)):
            seen = []
            for _ in cycle:
                self.keys.press(key)
                seen.append(self.host.dump()["focus_id"])
            i = cycle.index(start)
            want = [cycle[(i + direction * (k + 1)) % len(cycle)] for k in range(len(cycle))]
            self.assertEqual(seen, want, "%s around the page" % key)
        self.assertEqual(page_state(self.host.dump()), page_state(d), "tabbing changes nothing")

    def focus(self, control_id):
        for _ in range(len(TAB_ORDER) + 1):
            if self.host.dump()["focus_id"] == control_id:
                return
            self.keys.press("Tab")
        self.fail("Tab never reached control %d" % control_id)

    def boxes(self):
        return [w for w in inspector("list") if w["pid"] == self.host.windows_pid and w["class"] == "#32770"]

    def assert_unchanged(self, before, step, what):
        self.assertEqual(self.boxes(), [], what + ": no message box")
        self.assertEqual(self.step(), step, what)
        d = self.host.dump()
        self.assertTrue(d["visible"], what)
        self.assertEqual(page_state(d), before, what + ": every control is there as it was")

    def assert_question(self, before, step, what):
        box = self.host.msgbox(timeout_ms=15000)
        self.assertEqual(box["title"], "Exit Installation", what)
        self.assertEqual(len(self.boxes()), 1, what + ": one exit question")
        self.host.answer("no")
        self.keys.activate = True
        self.assert_unchanged(before, step, what + ", answered No")

    def key_on(self, control_id, key):
        self.focus(control_id)
        before = page_state(self.host.dump())
        self.keys.press(key)
        return before

    # ---- the walk ----
    def test_keyboard_walk_through_every_page(self):
        host = self.host
        # Welcome: Next, Cancel.
        self.assertEqual(self.cycle(host.dump()), [NEXT, CANCEL])
        self.assert_tab_cycles()
        for key in ("Escape", "Return", "space"):
            before = self.key_on(CANCEL, key)
            self.assert_question(before, "0", "%s on Cancel" % key)
            before = self.key_on(NEXT, key)
            if key == "Escape":
                self.assert_question(before, "0", "Esc on Next")
            else:
                host.wait(lambda s: s["currentStep"] == "1", what="%s on Next" % key)
                host.click(BACK)
                self.keys.activate = True
                self.assertEqual(self.step(), "0")
        self.close_requests("0")

        # License, "I do not accept" selected: Next is out of the cycle.
        host.click(NEXT)
        self.assertEqual(self.cycle(host.dump()), [CANCEL, BACK, TXT_LICENSE, OPT_DISAGREE])
        self.assert_tab_cycles()
        for control_id in (TXT_LICENSE, OPT_DISAGREE, CANCEL, BACK):
            for key in ("Escape", "Return", "space"):
                before = self.key_on(control_id, key)
                what = "%s on control %d of the license page" % (key, control_id)
                if key == "Escape" or control_id == CANCEL:
                    self.assert_question(before, "1", what)
                elif control_id == BACK:
                    host.wait(lambda s: s["currentStep"] == "0", what=what)
                    host.click(NEXT)
                else:  # Next is disabled; the box is read-only; the choice stays
                    self.assert_unchanged(before, "1", what)
        self.close_requests("1")

        # Arrows move within the option group and select; Next follows.
        self.key_on(OPT_DISAGREE, "Up")
        d = host.dump()
        self.assertEqual((control(d, OPT_AGREE)["checked"], control(d, NEXT)["enabled"]), (1, True))
        self.keys.press("Down")
        d = host.dump()
        self.assertEqual((control(d, OPT_DISAGREE)["checked"], control(d, NEXT)["enabled"]), (1, False))
        self.keys.press("Up")
        self.assertEqual(self.cycle(host.dump()), [NEXT, CANCEL, BACK, TXT_LICENSE, OPT_AGREE])
        self.assert_tab_cycles()
        # Enter in the license box is the default button: Next.
        self.key_on(TXT_LICENSE, "Return")
        host.wait(lambda s: s["currentStep"] == "2", what="Enter in the license box")

        # Ready: Install, Cancel, Back.
        self.assertEqual(self.cycle(host.dump()), [NEXT, CANCEL, BACK])
        self.assert_tab_cycles()
        for key in ("Escape", "Return", "space"):
            before = self.key_on(CANCEL, key)
            self.assert_question(before, "2", "%s on Cancel" % key)
            before = self.key_on(BACK, key)
            if key == "Escape":
                self.assert_question(before, "2", "Esc on Back")
            else:
                host.wait(lambda s: s["currentStep"] == "1", what="%s on Back" % key)
                host.click(OPT_AGREE)
                host.click(NEXT)
        before = self.key_on(NEXT, "Escape")
        self.assert_question(before, "2", "Esc on Install")
        self.close_requests("2")
        self.key_on(NEXT, "Return")
        host.wait(lambda s: s["currentStep"] == "3", what="Enter on Install")

        # Installing: nothing takes the focus and no key does anything.
        d = host.dump()
        self.assertEqual(self.cycle(d), [])
        before = page_state(d)
        for key in ("Tab", "shift+Tab", "Escape", "Return", "space", "alt+F4"):
            self.keys.press(key)
            self.assert_unchanged(before, "3", "%s while installing" % key)
        host.close_box()
        self.assert_unchanged(before, "3", "the close box while installing")
        # Clicks forced onto disabled and hidden controls change nothing either.
        for control_id in (NEXT, BACK, CANCEL, OPT_AGREE, OPT_DISAGREE, CHK_LAUNCH, TXT_LICENSE):
            inspector("click", "--hwnd", host.hwnd, "--id", control_id, "--force")
            host.sync()
            self.assert_unchanged(before, "3", "a forced click on control %d while installing" % control_id)

        # Finish: Finish and the launch box; Esc has no Cancel to press.
        host.command("press-next")
        self.assertEqual(self.cycle(host.dump()), [NEXT, CHK_LAUNCH])
        self.assert_tab_cycles()
        for control_id in (NEXT, CHK_LAUNCH):
            before = self.key_on(control_id, "Escape")
            self.assert_unchanged(before, "4", "Esc on the finish page")
        self.keys.press("space")  # on the launch box: toggles it
        self.assertEqual(control(host.dump(), CHK_LAUNCH)["checked"], 0)
        self.keys.press("space")
        self.assertEqual(control(host.dump(), CHK_LAUNCH)["checked"], 1)
        # Alt+F4 acts as Finish, the counter stays (the window is gone before
        # the key is released: wait for the window, not the key).
        winetest.keys("alt+F4")
        host.wait(lambda s: s["visible"] == "0", what="Alt+F4 on the finish page")
        self.assertEqual((self.step(), host.state()["loaded"]), ("4", "1"))
        host.command("show")
        host.close_box()
        host.wait(lambda s: s["visible"] == "0", what="the close box on the finish page")
        host.command("show")
        self.keys.activate = True
        self.focus(CHK_LAUNCH)
        winetest.keys("Return")  # the default button, Finish: the window goes before the key is up
        host.wait(lambda s: s["visible"] == "0" and s["currentStep"] == "5", what="Enter on the finish page")
        self.assertEqual(host.state()["chkLaunch"], "1")
        self.assertEqual(host.state()["loaded"], "1")

    def close_requests(self, step):
        """Alt+F4 and the close box ask. While the question is open a close
        request asks nothing more; Esc or Alt+F4 on the question turns it
        away, which is No: the user stays."""
        host = self.host
        before = page_state(host.dump())
        self.keys.press("alt+F4")
        self.assert_question(before, step, "Alt+F4")
        host.close_box()
        self.assert_question(before, step, "the close box")
        for key in ("Escape", "alt+F4"):
            self.keys.press("alt+F4")
            box = host.msgbox(timeout_ms=15000)
            inspector("close", "--hwnd", host.hwnd)
            host.sync()
            self.assertEqual(len(self.boxes()), 1, "the close box while the question is open asks nothing more")
            self.keys.press(key, hwnd=box["hwnd"])
            self.assert_unchanged(before, step, "%s on the exit question" % key)

if __name__ == "__main__":
    unittest.main()
