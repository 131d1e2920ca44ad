"""The launcher window as the user sees it, read from a run held at a
message box: client size and control rectangles in twips at the display's
real DPI, a fixed dialog with system menu and taskbar button, its icons,
centred on the screen; and the program icon's images in the executable."""
import struct
import unittest

from harness import winetest as wt
from launcher.launcher_e2e import CANNOT_OPEN, LauncherCase, headline

WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x40000, 0x20000, 0x10000
WS_SYSMENU, WS_CAPTION = 0x80000, 0xC00000
WS_EX_TOOLWINDOW, WS_EX_APPWINDOW = 0x80, 0x40000
SS_TYPEMASK, SS_CENTER = 0x1F, 1
LBL_PROGRESS, PROGRESS_BAR1 = 1001, 1002
SCREEN = (1024, 768)  # the harness's display; no taskbar under Xvfb


def group_icon_images(path):
    """(width, height, bits per pixel) of each image of the executable's first
    icon group, read from its resource section and each image's own header."""
    with open(path, "rb") as f:
        pe = f.read()
    at = struct.unpack_from("<I", pe, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", pe, at + 6)
    optional = at + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", pe, directories + 2 * 8)[0]
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            vsize, vaddr, _, raw = struct.unpack_from("<IIII", pe, table + 40 * i + 8)
            if vaddr <= rva < vaddr + max(vsize, 1):
                return rva - vaddr + raw
        raise ValueError("RVA %#x in no section" % rva)

    base = offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", pe, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", pe, base + directory + 16 + 8 * i)
            yield name, target

    def data(type_id, name_id=None):
        for name, target in entries(0):
            if name != type_id:
                continue
            for res_name, res_target in entries(target & 0x7FFFFFFF):
                if name_id is not None and res_name != name_id:
                    continue
                _, leaf = next(entries(res_target & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", pe, base + leaf)
                return pe[offset(rva):offset(rva) + size]
        raise KeyError((type_id, name_id))

    group = data(14)  # RT_GROUP_ICON
    count = struct.unpack_from("<H", group, 4)[0]
    images = []
    for i in range(count):
        w, h, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        header_bits = struct.unpack_from("<H", data(3, icon_id), 14)[0]  # RT_ICON's BITMAPINFOHEADER
        images.append((w or 256, h or 256, bits, header_bits))
    return images


class LauncherWindowTest(LauncherCase):
    def test_layout_style_icons_and_position(self):
        self.obstacle("readme first.txt")  # holds the visible run at line 5
        proc = self.start(self.dev)
        box = self.next_box()
        d = self.main_window()
        self.answer()
        self.assertEqual(0, self.wait_exit(proc))
        self.assertEqual(CANNOT_OPEN, headline(box["text"]))

        dpi = d["dpi"]

        def px(twips):
            return (twips * dpi + 720) // 1440

        def rect(left, top, width, height):
            return {"left": px(left), "top": px(top), "width": px(width), "height": px(height)}

        self.assertTrue(d["visible"])
        self.assertEqual({"width": px(7485), "height": px(1095)}, d["client"])
        label, bar = self.control(d, LBL_PROGRESS), self.control(d, PROGRESS_BAR1)
        self.assertEqual(rect(360, 240, 6735, 435), label["rect"])
        self.assertEqual(rect(240, 720, 6975, 255), bar["rect"])
        self.assertEqual(SS_CENTER, label["static_type"] & SS_TYPEMASK)  # centred, words wrap
        self.assertEqual((0, 100, False, False),
                         (bar["progress"]["min"], bar["progress"]["max"], bar["progress"]["smooth"],
                          bar["progress"]["vertical"]))
        self.assertEqual([LBL_PROGRESS, PROGRESS_BAR1], [c["id"] for c in d["controls"]], "tab order, no others")

        # Fixed dialog: title bar with system menu and close box, no sizing,
        # no minimize or maximize; an unowned application window has a
        # taskbar button.
        style, exstyle = d["style"], d["exstyle"]
        self.assertEqual(WS_CAPTION | WS_SYSMENU,
                         style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
        self.assertEqual(WS_EX_APPWINDOW, exstyle & (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW))
        self.assertFalse(d["owner"])

        self.assertEqual({"width": 32, "height": 32}, d["icon_big"])
        self.assertEqual({"width": 16, "height": 16}, d["icon_small"])

        # Centred on the screen.
        w = d["window_rect"]
        self.assertLessEqual(abs(w["left"] * 2 + w["width"] - SCREEN[0]), 2, w)
        self.assertLessEqual(abs(w["top"] * 2 + w["height"] - SCREEN[1]), 2, w)

    def test_program_icon_has_two_sixteen_colour_images(self):
        for name in ("VellumInstaller", "VellumInstallerDev"):
            self.assertEqual([(32, 32, 4, 4), (16, 16, 4, 4)], group_icon_images(wt.program(name)), name)


if __name__ == "__main__":
    unittest.main()
