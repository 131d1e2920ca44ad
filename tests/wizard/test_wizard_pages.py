"""The wizard's pages, buttons, close requests and keys on the real controls
under Wine, opened the way the controller opens it."""

import os
import struct
import subprocess
import time
import unittest

from harness import winetest
from harness.winetest import inspector
from wizard.wizardtest import (BACK, CANCEL, CHK_LAUNCH, FRAME1, FRAME2, INSTALL_CAPTION, LBL_DESC, LBL_TITLE,
                               NEXT, OPT_AGREE, OPT_DISAGREE, TITLE_FALLBACK, TOP_TITLE, TXT_LICENSE, Host,
                               control)

EXIT_TEXT = ("The installation is not complete. If you exit now, the program will not be installed.\r\n\r\n"
             "You may run this program again another time to complete the installation.\r\n\r\n"
             "Exit Installation?")


class WizardPagesTest(winetest.WineTestCase):
    def assert_exit_question(self, host):
        box = host.msgbox()
        self.assertEqual(box["title"], "Exit Installation")
        self.assertEqual(box["text"], EXIT_TEXT)
        self.assertEqual(box["icon"], "question")
        self.assertEqual([b["name"] for b in box["buttons"]], ["yes", "no"])
        self.assertEqual(box["default_id"], 6)  # Yes

    def assert_unchanged(self, host, step):
        s = host.state()
        self.assertEqual((s["currentStep"], s["visible"], s["loaded"], s["proceedInstall"], s["installFinished"]),
                         (str(step), "1", "1", "0", "0"))

    def license_page(self, d, next_enabled):
        self.assertTrue(control(d, FRAME2)["visible"])
        self.assertFalse(control(d, FRAME1)["visible"])
        self.assertTrue(control(d, BACK)["visible"])
        self.assertTrue(control(d, TXT_LICENSE)["visible"])
        self.assertEqual(control(d, OPT_AGREE)["checked"], 1 if next_enabled else 0)
        self.assertEqual(control(d, OPT_DISAGREE)["checked"], 0 if next_enabled else 1)
        self.assertEqual(control(d, NEXT)["enabled"], next_enabled)
        self.assertEqual(control(d, NEXT)["text"], "Next >")
        self.assertEqual(control(d, TOP_TITLE)["text"], "License Agreement")

    def welcome_page(self, d):
        self.assertTrue(control(d, FRAME1)["visible"])
        self.assertFalse(control(d, FRAME2)["visible"])
        self.assertFalse(control(d, BACK)["visible"])
        self.assertTrue(control(d, NEXT)["enabled"])
        self.assertEqual(d["focus_id"], NEXT)
        self.assertEqual(control(d, LBL_TITLE)["text"], "Welcome to Quillfeather Installation")

    def assert_layout(self, d):
        dpi = d["dpi"]

        def px(twips):
            return (twips * dpi + 720) // 1440

        def rect(left, top, width, height):
            return {"left": px(left), "top": px(top), "width": px(width), "height": px(height)}

        self.assertEqual(d["client"], {"width": px(7530), "height": px(5385)})
        self.assertEqual(control(d, NEXT)["rect"], rect(4230, 4888, 1420, 320))
        self.assertEqual(control(d, CANCEL)["rect"], rect(5940, 4888, 1420, 320))
        self.assertEqual(control(d, BACK)["rect"], rect(2720, 4888, 1420, 320))
        self.assertEqual(control(d, TXT_LICENSE)["rect"], rect(315, 1125, 6885, 2640))
        self.assertEqual(control(d, OPT_DISAGREE)["rect"], rect(315, 4265, 6885, 300))
        self.assertEqual(control(d, LBL_TITLE)["rect"], rect(2715, 255, 4545, 1200))
        self.assertEqual(control(d, INSTALL_CAPTION)["rect"]["top"], control(d, TXT_LICENSE)["rect"]["top"])
        self.assertEqual(control(d, 1004)["rect"], rect(0, 4710, 7515, 45))  # LineBottom, 3 pixels
        # Pictures unscaled: the controls take the pictures' sizes.
        self.assertEqual(control(d, 1011)["rect"], {"left": 0, "top": 0, "width": 164, "height": 314})
        self.assertEqual(control(d, 1024)["rect"], {"left": px(6560), "top": px(30), "width": 55, "height": 55})
        self.assertEqual(control(d, NEXT)["button_type"], "defpushbutton")
        self.assertTrue(control(d, TXT_LICENSE)["edit"]["readonly"])
        self.assertTrue(control(d, TXT_LICENSE)["edit"]["vscroll"])
        # Fixed dialog with a taskbar button: no sizing border, no min/max box.
        WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_SYSMENU = 0x40000, 0x20000, 0x10000, 0x80000
        self.assertEqual(d["style"] & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU), WS_SYSMENU)
        self.assertTrue(d["exstyle"] & 0x40000)  # WS_EX_APPWINDOW
        # Centred on the 1024 x 768 display (no taskbar under Xvfb).
        w = d["window_rect"]
        self.assertLessEqual(abs(w["left"] * 2 + w["width"] - 1024), 2)
        self.assertLessEqual(abs(w["top"] * 2 + w["height"] - 768), 2)

    def test_walk_questions_and_abort(self):
        host = Host(self, locale="en-us")
        d = host.dump()
        self.assert_layout(d)
        self.assertEqual(d["title"], TITLE_FALLBACK)
        self.welcome_page(d)
        # Design-time states the pages rely on.
        self.assertEqual(control(d, CHK_LAUNCH)["checked"], 1)
        self.assertFalse(control(d, CHK_LAUNCH)["own_visible"])
        self.assertEqual(control(d, BACK)["text"], "< Back")

        # Cancel and the close box ask; No changes nothing.
        host.click(CANCEL)
        self.assert_exit_question(host)
        host.answer("no")
        self.assert_unchanged(host, 0)
        host.close_box()
        self.assert_exit_question(host)
        host.answer("no")
        self.assert_unchanged(host, 0)

        # First license entry, then the two choices.
        host.click(NEXT)
        d = host.dump()
        self.license_page(d, next_enabled=False)
        self.assertEqual(d["focus_id"], OPT_DISAGREE)
        host.click(OPT_AGREE)
        self.assertTrue(control(host.dump(), NEXT)["enabled"])
        host.click(OPT_DISAGREE)
        self.assertFalse(control(host.dump(), NEXT)["enabled"])
        host.close_box()
        self.assert_exit_question(host)
        host.answer("no")
        self.assert_unchanged(host, 1)

        # Accept, on to the ready page, and back: acceptance is asked again.
        host.click(OPT_AGREE)
        host.click(NEXT)
        d = host.dump()
        self.assertEqual(host.state()["currentStep"], "2")
        self.assertEqual(control(d, NEXT)["text"], "Install")
        self.assertTrue(control(d, NEXT)["enabled"])
        self.assertFalse(control(d, TXT_LICENSE)["visible"])
        self.assertFalse(control(d, OPT_AGREE)["visible"])
        self.assertTrue(control(d, INSTALL_CAPTION)["visible"])
        host.click(CANCEL)
        self.assert_exit_question(host)
        host.answer("no")
        self.assert_unchanged(host, 2)
        host.click(BACK)
        d = host.dump()
        self.license_page(d, next_enabled=False)
        self.assertEqual(host.state()["currentStep"], "1")
        host.click(BACK)
        self.welcome_page(host.dump())
        self.assertEqual(host.state()["currentStep"], "0")

        # An unload by program before the end asks and is refused; Yes
        # ends the wizard as an abort, after which the unload proceeds.
        number = host.send("unload")
        self.assert_exit_question(host)
        host.answer("yes")
        self.assertEqual(host.finished(number), "0")
        s = host.state()
        self.assertEqual((s["loaded"], s["visible"], s["installFinished"], s["proceedInstall"]),
                         ("1", "0", "1", "0"))
        number = host.send("unload")
        self.assertEqual(host.finished(number), "1")
        host.no_msgbox()
        self.assertEqual(host.state()["loaded"], "0")

    def test_install_finish_and_close_requests(self):
        host = Host(self, locale="en-us")
        host.click(NEXT)
        host.click(OPT_AGREE)
        host.click(NEXT)
        host.click(NEXT)  # Install
        s = host.state()
        self.assertEqual((s["currentStep"], s["proceedInstall"], s["installFinished"]), ("3", "1", "0"))
        d = host.dump()
        for b in (BACK, NEXT, CANCEL):
            self.assertFalse(control(d, b)["enabled"], b)
        self.assertTrue(control(d, INSTALL_CAPTION)["visible"])

        # Installing: every close request is refused without a question.
        host.close_box()
        host.no_msgbox()
        self.assertEqual(host.command("unload"), "0")
        self.assertEqual(host.command("end-session"), "0")
        s = host.state()
        self.assertEqual((s["currentStep"], s["visible"], s["loaded"]), ("3", "1", "1"))

        # The controller's press runs although Next is disabled.
        host.command("press-next")
        d = host.dump()
        s = host.state()
        self.assertEqual((s["currentStep"], s["installFinished"], s["proceedInstall"]), ("4", "1", "1"))
        self.assertTrue(control(d, FRAME1)["visible"])
        self.assertTrue(control(d, CHK_LAUNCH)["visible"])
        self.assertEqual(control(d, CHK_LAUNCH)["checked"], 1)
        self.assertFalse(control(d, BACK)["visible"])
        self.assertFalse(control(d, CANCEL)["visible"])
        self.assertEqual(control(d, NEXT)["text"], "Finish")
        self.assertTrue(control(d, NEXT)["enabled"])
        self.assertEqual(control(d, LBL_TITLE)["text"], "Completing Quillfeather Installation")
        self.assertTrue(control(d, LBL_DESC)["text"].endswith("\r\n\r\nClick Finish to exit the installation"))

        # The close box acts as Finish but keeps the counter; the choice stays.
        host.click(CHK_LAUNCH)
        host.close_box()
        host.no_msgbox()
        s = host.state()
        self.assertEqual((s["visible"], s["loaded"], s["currentStep"], s["chkLaunch"]), ("0", "1", "4", "0"))

        # Shown modal again (as the developer test form does): the call
        # returns once Finish hides the window.
        number = host.send("show-modal")
        host.wait(lambda s: s["visible"] == "1", what="the modal wizard")
        self.assertLess(int(host.state()["done"]), number)
        inspector("click", "--hwnd", host.hwnd, "--id", CHK_LAUNCH)
        host.wait(lambda s: s["chkLaunch"] == "1", what="the check box")
        inspector("click", "--hwnd", host.hwnd, "--id", NEXT)  # Finish
        host.finished(number)
        s = host.state()
        self.assertEqual((s["visible"], s["loaded"], s["currentStep"], s["chkLaunch"]), ("0", "1", "5", "1"))
        host.command("press-next")  # beyond the last value: nothing happens
        s = host.state()
        self.assertEqual((s["visible"], s["loaded"], s["currentStep"], s["chkLaunch"]), ("0", "1", "6", "1"))

        # Ended: Windows shutting down may unload it, without a question.
        self.assertEqual(host.command("end-session"), "1")
        host.no_msgbox()
        self.assertEqual(host.state()["loaded"], "0")

    def test_enter_and_escape_are_real_keys(self):
        host = Host(self, locale="en-us")
        inspector("activate", "--hwnd", host.hwnd)
        e = winetest.setup()

        def key(name):
            subprocess.run(["xdotool", "key", name], env=e, timeout=30, check=True)

        key("Return")  # default button: Next
        host.wait(lambda s: s["currentStep"] == "1", what="Enter to press Next")
        key("Up")  # arrow keys move inside the option group and select
        deadline = time.time() + 30
        while control(host.dump(), OPT_AGREE)["checked"] != 1:
            self.assertLess(time.time(), deadline, "Up did not select optAgree")
        self.assertTrue(control(host.dump(), NEXT)["enabled"])
        key("Return")
        host.wait(lambda s: s["currentStep"] == "2", what="Enter on the license page")
        key("Escape")  # cancel button: Cancel
        self.assert_exit_question(host)
        host.answer("no")
        self.assert_unchanged(host, 2)
        d = host.dump()
        # Tab order over the visible controls: Next, Cancel, Back.
        self.assertEqual(d["focus_id"], NEXT)
        key("Tab")
        deadline = time.time() + 30
        while host.dump()["focus_id"] != CANCEL:
            self.assertLess(time.time(), deadline, "Tab did not reach Cancel")
        key("Tab")
        deadline = time.time() + 30
        while host.dump()["focus_id"] != BACK:
            self.assertLess(time.time(), deadline, "Tab did not reach Back")


class WizardArtTest(unittest.TestCase):
    """The committed pictures and icon have the sizes and colour depths the
    window and VellumSetup's program icon need."""

    RES = os.path.join(winetest.ROOT, "setupui", "wizard", "res")

    def bmp(self, name):
        with open(os.path.join(self.RES, name), "rb") as f:
            data = f.read()
        self.assertEqual(data[:2], b"BM")
        width, height, _, bpp = struct.unpack_from("<iiHH", data, 18)
        return width, height, bpp

    def test_pictures_and_icon(self):
        self.assertEqual(self.bmp("wizard_side.bmp"), (164, 314, 4))
        self.assertEqual(self.bmp("wizard_emblem.bmp"), (55, 55, 4))
        with open(os.path.join(self.RES, "VellumSetup.ico"), "rb") as f:
            data = f.read()
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind), (0, 1))
        images = set()
        for i in range(count):
            w, h, colours, _, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
            header_bpp = struct.unpack_from("<H", data, offset + 14)[0]
            self.assertEqual(bpp, header_bpp)
            images.add((w, h, bpp))
        self.assertEqual(images, {(16, 16, 4), (16, 16, 8), (32, 32, 4), (32, 32, 8)})


if __name__ == "__main__":
    unittest.main()
