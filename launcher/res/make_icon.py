"""Draws the launcher's program icon: an open parcel with a quill rising out
of it, 32x32 and 16x16 in the 16-colour palette. Run to regenerate
VellumInstaller.ico (the output is byte-for-byte reproducible)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "art"))
from artlib import (BLACK, GREY, NAVY, OLIVE, SILVER, TEAL, WHITE, YELLOW, AQUA, MAROON,  # noqa: E402
                    Image, VGA16, write_ico)

CLEAR = 13  # fuchsia never appears in the art; it marks the transparent pixels


def draw32():
    img = Image(32, 32, VGA16, fill=CLEAR)
    img.transparent = CLEAR
    # quill: a slanted vane from lower left to upper right, drawn before the
    # parcel so the parcel's front hides its foot
    vane = [(12, 20), (21, 4), (29, 0), (28, 8), (18, 21)]
    img.polygon(vane, WHITE)
    for i in range(len(vane)):
        (ax, ay), (bx, by) = vane[i], vane[(i + 1) % len(vane)]
        img.line(int(ax), int(ay), int(bx), int(by), NAVY)
    img.line(15, 20, 28, 1, TEAL)      # shaft
    img.line(18, 13, 23, 10, SILVER)   # barbs
    img.line(20, 9, 25, 6, SILVER)
    # parcel: back flap, body with shading, front flaps
    img.polygon([(4, 17), (9, 13), (27, 13), (28, 17)], OLIVE)
    img.rect(4, 17, 27, 29, YELLOW)
    img.rect(16, 17, 27, 29, OLIVE)
    img.rect(4, 17, 27, 29, BLACK, filled=False)
    img.line(16, 17, 16, 29, BLACK)
    img.polygon([(4, 17), (1, 22), (12, 22), (16, 17)], YELLOW)
    img.line(4, 17, 1, 22, BLACK)
    img.line(1, 22, 12, 22, BLACK)
    img.line(12, 22, 16, 17, BLACK)
    # tape across the front
    img.rect(5, 24, 15, 25, MAROON)
    img.rect(17, 24, 26, 25, MAROON)
    # a small arrow on the side face: "unpacking"
    img.rect(21, 20, 22, 24, AQUA)
    img.polygon([(19, 21), (24.5, 21), (21.75, 17.5)], AQUA)
    img.line(20, 30, 27, 30, GREY)     # floor shadow
    return img


def draw16():
    img = Image(16, 16, VGA16, fill=CLEAR)
    img.transparent = CLEAR
    img.polygon([(6, 10), (12, 1), (15, 0), (14, 3), (9, 11)], WHITE)
    img.line(6, 10, 12, 1, NAVY)
    img.line(12, 1, 15, 0, NAVY)
    img.line(15, 0, 14, 3, NAVY)
    img.line(14, 3, 9, 11, NAVY)
    img.line(8, 10, 14, 1, TEAL)
    img.rect(2, 8, 13, 14, YELLOW)
    img.rect(8, 8, 13, 14, OLIVE)
    img.rect(2, 8, 13, 14, BLACK, filled=False)
    img.line(8, 8, 8, 14, BLACK)
    img.rect(3, 12, 12, 12, MAROON)
    img.line(3, 15, 13, 15, GREY)
    return img


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                             "VellumInstaller.ico")
    write_ico(out, [draw32(), draw16()], bpp=4)


if __name__ == "__main__":
    main()
