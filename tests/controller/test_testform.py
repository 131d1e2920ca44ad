"""The developer build: its test form runs the wizard and a simulated
installation on the two windows, without a script."""

import time
import unittest

from harness import winetest
from harness.winetest import inspector

from controller.controllertest import (CHK_LAUNCH, LBL_PROGRESS, NEXT, OPT_AGREE, PROGRESS_BAR, PROGRESS_CLASS,
                                       WIZARD_TITLE, click, control, dump, wait_control, window)


class DeveloperTestForm(winetest.WineTestCase):
    def test_simulated_installation(self):
        self.start(winetest.program("VellumSetupDev"))
        form = window(title="Form1")
        command1 = control(dump(form["hwnd"]), 1)
        self.assertEqual(command1["text"], "Command1")

        click(form["hwnd"], 1)
        wizard = window(title=WIZARD_TITLE)["hwnd"]

        def next_page():
            # Clicks are posted: Next is taken only once the page before has
            # enabled it (the window may show before it does).
            wait_control(wizard, NEXT, enabled=True)
            click(wizard, NEXT)

        next_page()
        wait_control(wizard, OPT_AGREE, visible=True, enabled=True)
        click(wizard, OPT_AGREE)
        next_page()
        time.sleep(1.0)
        self.assertEqual([w for w in inspector("list") if w["class"] == PROGRESS_CLASS], [],
                         "no progress before Install")
        next_page()  # Install

        progress = window(cls=PROGRESS_CLASS, timeout=10)
        self.assertEqual(progress["title"], WIZARD_TITLE)
        d = dump(progress["hwnd"])
        self.assertEqual(control(d, LBL_PROGRESS)["text"], "Please wait while Quillfeather is being installed...")

        # Twenty ticks of 500 ms, then the finish page, shown modal (the
        # limit leaves room for a loaded machine).
        end = time.time() + 90
        while time.time() < end and not control(dump(wizard), CHK_LAUNCH)["visible"]:
            time.sleep(0.5)
        self.assertTrue(control(dump(wizard), CHK_LAUNCH)["visible"], "the finish page appears")
        d = dump(progress["hwnd"])
        self.assertFalse(d["visible"], "the progress window is hidden at the twentieth tick")
        self.assertEqual(control(d, PROGRESS_BAR)["progress"]["pos"], 190, "the cap of the nineteenth tick")

        click(wizard, NEXT)  # Finish
        end = time.time() + 30
        while time.time() < end and dump(wizard)["visible"]:
            time.sleep(0.3)
        self.assertFalse(dump(wizard)["visible"], "Finish hides the wizard")
        self.assertTrue(window(title="Form1")["visible"], "the test form lives on")


if __name__ == "__main__":
    unittest.main()
