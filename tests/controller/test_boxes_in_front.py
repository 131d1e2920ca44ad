"""No box of an installation is covered by its own progress window, which
raises itself every 500 ms: a Confirm question and a message of VellumSetup
(owned by the progress window), and a message the script shows itself
(WScript.Shell Popup, another process), asked while the progress window
shows. Judged by what is on top at the box's place, over several of the
window's raises, not by the box existing."""

import time
import unittest

from harness import winetest
from harness.winetest import inspector

from controller.controllertest import PROGRESS_CLASS, Session, answer, message_box, process_ended, window
from controller.test_uninstallui import registered_server, uninstallui_exe

TITLE = "Remove Quillfeather"
RAISE_MS = 500


def rect(hwnd):
    r = inspector("dump", "--hwnd", hwnd)["window_rect"]
    return r["left"], r["top"], r["left"] + r["width"], r["top"] + r["height"]


class BoxesInFront(winetest.WineTestCase):

    def assert_on_top(self, box, progress):
        """The box is what shows at the middle of where it overlaps the
        progress window, through four of the window's raises."""
        bl, bt, br, bb = rect(box["hwnd"])
        pl, pt, pr, pb = rect(progress["hwnd"])
        left, top, right, bottom = max(bl, pl), max(bt, pt), min(br, pr), min(bb, pb)
        self.assertTrue(left < right and top < bottom, "the box does not overlap the progress window")
        x, y = (left + right) // 2, (top + bottom) // 2
        until = time.time() + 4 * RAISE_MS / 1000.0
        while True:
            at = inspector("at", "--x", x, "--y", y)
            self.assertEqual((at["hwnd"], at["title"]), (box["hwnd"], box["title"]),
                             "%r covers the box %r" % (at, box["text"]))
            if time.time() > until:
                break
            time.sleep(0.1)

    def test_questions_and_messages_stay_above_the_progress_window(self):
        # The maintenance build, as an uninstall uses it; its run's registration goes with the server.
        before = registered_server()
        self.assertEqual(winetest.run(uninstallui_exe(), ["/RegServer", "/Run:boxes-test"], timeout=60).code, 0)
        s = Session(self, r"""
  c.Caption = "Quillfeather Maintenance";
  check("setMaxValue", c.setMaxValue(40), false);
  check("showProgress", c.showProgress(3), true);
  check("Confirm", c.Confirm("%(t)s", "Do you want to remove Quillfeather?"), true);
  check("showComplete", c.showComplete("Quillfeather was removed."), true);
  shell.Popup("Quillfeather could not be removed completely.", 0, "%(t)s", 48 | 0x10000 | 0x40000);
  c.closeAll();
  out("OK closed");
""" % {"t": TITLE})
        progress = window(cls=PROGRESS_CLASS)
        for text, button in (("Do you want to remove Quillfeather?", "yes"),
                             ("Quillfeather was removed.", "ok"),
                             ("Quillfeather could not be removed completely.", "ok")):
            box = message_box(TITLE)
            self.assertEqual(box["text"], text)
            self.assertTrue(inspector("dump", "--hwnd", progress["hwnd"])["visible"])
            self.assert_on_top(box, progress)
            answer(TITLE, button)
        s.finish()
        self.assertTrue(process_ended(progress["pid"], 15), "closeAll ends the server")
        self.assertEqual(registered_server(), before, "the run's registration goes with its server")


if __name__ == "__main__":
    unittest.main()
