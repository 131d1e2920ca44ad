#!/usr/bin/env python3
"""Draws the wizard's pictures and VellumSetup's program icon.

    python3 setupui/wizard/res/make_art.py

writes wizard_side.bmp (164 x 314, 16 colours), wizard_emblem.bmp (55 x 55,
16 colours) and VellumSetup.ico (16 x 16 and 32 x 32, each in 16 and 256
colours) next to this script. The output depends on nothing but this script
and artlib, so running it again gives the same bytes.
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "..", "scripts", "art"))

from artlib import (VGA16, Image, ico_bytes, nearest, web_palette_256, write_bmp,  # noqa: E402
                    BLACK, NAVY, TEAL, SILVER, GREY, BLUE, AQUA, WHITE, YELLOW, OLIVE)


def feather_outline(x0, y0, x1, y1, width, steps=24):
    """A feather (vane) along the shaft from (x0, y0) (tip) to (x1, y1)
    (base): widest a third of the way from the tip, pointed at both ends."""
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    nx, ny = -uy, ux
    left, right = [], []
    for i in range(steps + 1):
        t = i / steps
        w = width * math.sin(math.pi * min(1.0, t / 0.85)) ** 0.7 * (1.0 - 0.35 * t)
        cx, cy = x0 + dx * t * 0.85, y0 + dy * t * 0.85
        left.append((cx + nx * w, cy + ny * w))
        right.append((cx - nx * w * 0.8, cy - ny * w * 0.8))
    return left + right[::-1]


def draw_feather(img, x0, y0, x1, y1, width, vane, shade, shaft, barbs=True, outline=None):
    if outline is not None:
        img.polygon(feather_outline(x0, y0 - 1, x1, y1, width + 1.2), outline)
    img.polygon(feather_outline(x0, y0, x1, y1, width), vane)
    # darker barbs on one side give the vane some structure
    if barbs:
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        ux, uy = dx / length, dy / length
        nx, ny = -uy, ux
        n = max(3, int(length / 9))
        for i in range(1, n):
            t = i / n * 0.8
            cx, cy = x0 + dx * t, y0 + dy * t
            w = width * 0.55 * math.sin(math.pi * min(1.0, t / 0.85)) ** 0.7
            img.line(int(round(cx)), int(round(cy)),
                     int(round(cx + (nx + ux * 0.6) * w)), int(round(cy + (ny + uy * 0.6) * w)), shade)
    img.line(int(x0), int(y0), int(x1), int(y1), shaft)


def side_picture():
    img = Image(164, 314, VGA16, fill=NAVY)
    img.gradient(0, 0, 163, 313, (0, 0, 128), (0, 128, 128), vertical=True,
                 indices=[NAVY, TEAL, BLUE, BLACK])
    # pages of an open book at the bottom
    img.polygon([(14, 262), (80, 250), (80, 300), (14, 306)], WHITE)
    img.polygon([(80, 250), (150, 262), (150, 306), (80, 300)], SILVER)
    img.line(80, 250, 80, 300, GREY)
    for k in range(5):
        y = 264 + k * 7
        img.line(22, y, 72, y - 9 + k // 3, GREY)
        img.line(88, y - 9 + k // 3, 142, y + 1, GREY)
    # the quill, writing on the page
    draw_feather(img, 138, 34, 70, 246, 24, WHITE, SILVER, GREY)
    img.line(70, 246, 66, 256, BLACK)
    img.line(71, 246, 67, 256, BLACK)
    # a few stars in the sky
    for (x, y) in [(24, 30), (46, 70), (18, 118), (120, 150), (140, 200), (30, 190)]:
        img.set(x, y, YELLOW)
        img.set(x - 1, y, OLIVE)
        img.set(x + 1, y, OLIVE)
        img.set(x, y - 1, OLIVE)
        img.set(x, y + 1, OLIVE)
    return img


def emblem():
    img = Image(55, 55, VGA16, fill=WHITE)
    img.circle(27, 27, 25.5, TEAL)
    img.circle(27, 27, 23, NAVY)
    draw_feather(img, 41, 10, 15, 44, 9, WHITE, SILVER, AQUA)
    img.line(15, 44, 12, 48, WHITE)
    return img


def icon_image(size, palette, colours):
    """colours maps roles to palette indices."""
    img = Image(size, size, palette, fill=colours["clear"])
    img.transparent = colours["clear"]
    s = size / 32.0
    # a setup box: a dark square with a lighter lid
    img.rect(int(4 * s), int(14 * s), int(26 * s), int(29 * s), colours["box"])
    img.rect(int(4 * s), int(14 * s), int(26 * s), int(17 * s), colours["lid"])
    img.rect(int(4 * s), int(14 * s), int(26 * s), int(29 * s), colours["edge"], filled=False)
    # the quill rising out of it
    draw_feather(img, 28 * s, 1 * s, 12 * s, 24 * s, 5.5 * s, colours["vane"], colours["barb"],
                 colours["shaft"], barbs=size >= 32, outline=colours["edge"])
    return img


def icon_images():
    vga = {"clear": BLACK, "box": NAVY, "lid": TEAL, "edge": GREY,
           "vane": WHITE, "barb": SILVER, "shaft": GREY}
    pal = web_palette_256()
    # index 0 of the 256-colour palette is black, used as the clear colour
    rich = {"clear": 0, "box": nearest(pal, (20, 40, 120)), "lid": nearest(pal, (40, 130, 150)),
            "edge": nearest(pal, (60, 60, 90)), "vane": nearest(pal, (250, 248, 240)),
            "barb": nearest(pal, (190, 200, 215)), "shaft": nearest(pal, (120, 90, 60))}
    images = []
    for size in (32, 16):
        images.append((icon_image(size, VGA16, vga), 4))
        images.append((icon_image(size, pal, rich), 8))
    return images


def main():
    write_bmp(os.path.join(HERE, "wizard_side.bmp"), side_picture(), bpp=4, rle=True)
    write_bmp(os.path.join(HERE, "wizard_emblem.bmp"), emblem(), bpp=4)
    imgs = icon_images()
    # artlib writes one colour depth per call; combine the directories by hand
    parts = [ico_bytes([img], bpp) for img, bpp in imgs]
    entries, blobs = [], []
    offset = 6 + 16 * len(parts)
    for p in parts:
        entry = bytearray(p[6:22])
        size = struct.unpack_from("<I", entry, 8)[0]
        blob = p[struct.unpack_from("<I", entry, 12)[0]:][:size]
        struct.pack_into("<I", entry, 12, offset)
        offset += size
        entries.append(bytes(entry))
        blobs.append(blob)
    with open(os.path.join(HERE, "VellumSetup.ico"), "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(parts)) + b"".join(entries) + b"".join(blobs))


if __name__ == "__main__":
    main()
