"""Draws the progress window's icon: a sheet of paper above a filling
progress bar, at 16, 32 and 48 pixels, each in the 16-colour and in the
256-colour palette (six images). Run to regenerate frmMain.ico; the output
is byte-for-byte reproducible."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "art"))
from artlib import Image, VGA16, nearest, web_palette_256, write_ico  # noqa: E402


def draw(size, palette, rich):
    s = size / 32.0  # drawing is laid out on a 32-pixel grid and scaled

    def c(rgb):
        return nearest(palette, rgb)

    clear = c((255, 0, 255))  # fuchsia never appears in the art
    img = Image(size, size, palette, fill=clear)
    img.transparent = clear

    def p(v):
        return int(round(v * s))

    # the sheet, with a folded corner
    sheet = [(p(7), p(2)), (p(21), p(2)), (p(26), p(7)), (p(26), p(20)), (p(7), p(20))]
    if rich:
        img.gradient(p(7), p(2), p(26), p(20), (255, 255, 255), (200, 214, 235), vertical=True)
        # cut the gradient back to the sheet's outline at the folded corner
        for y in range(p(2), p(7) + 1):
            for x in range(p(21) + (y - p(2)) + 1, p(26) + 1):
                img.set(x, y, clear)
    else:
        img.polygon(sheet, c((255, 255, 255)))
    outline = c((0, 0, 128))
    for i in range(len(sheet)):
        (ax, ay), (bx, by) = sheet[i], sheet[(i + 1) % len(sheet)]
        img.line(ax, ay, bx, by, outline)
    img.line(p(21), p(2), p(21), p(7), outline)
    img.line(p(21), p(7), p(26), p(7), outline)
    # lines of text on the sheet
    ink = c((128, 128, 128))
    step = max(2, p(3))
    for y in range(p(9), p(18), step):
        img.line(p(10), y, p(23), y, ink)
    # the progress bar: frame, filled part, empty part
    img.rect(p(2), p(23), p(29), p(29), c((0, 0, 0)), filled=False)
    if rich:
        img.gradient(p(3), p(24), p(19), p(28), (0, 160, 60), (120, 230, 140), vertical=True)
        img.rect(p(20), p(24), p(28), p(28), c((230, 230, 230)))
    else:
        img.rect(p(3), p(24), p(19), p(28), c((0, 255, 0)))
        img.rect(p(20), p(24), p(28), p(28), c((192, 192, 192)))
    return img


def main():
    pal256 = web_palette_256()
    # the 16-colour images come out at 4 bits, the 256-colour ones at 8
    images = [draw(size, VGA16, False) for size in (16, 32, 48)]
    images += [draw(size, pal256, True) for size in (16, 32, 48)]
    write_ico(os.path.join(os.path.dirname(os.path.abspath(__file__)), "frmMain.ico"), images)


if __name__ == "__main__":
    main()
