"""Small pure-Python writer for palette pictures: BMP (4-bit, 8-bit) and ICO
files with several images, plus a few drawing primitives. No dependencies, so
every picture of the project is generated reproducibly from a script.

API (all coordinates in pixels, origin top left, end points inclusive):

    from artlib import Image, VGA16, write_bmp, write_ico, nearest

    img = Image(32, 32, VGA16, fill=0)      # palette: list of (r, g, b)
    img.transparent = 0                     # palette index drawn as transparent
                                            #   in ICO files (AND mask); None = opaque
    img.set(x, y, index); img.get(x, y)
    img.fill(index)
    img.rect(x0, y0, x1, y1, index, filled=True)
    img.circle(cx, cy, r, index, filled=True)   # r may be fractional
    img.ellipse(cx, cy, rx, ry, index, filled=True)
    img.line(x0, y0, x1, y1, index)
    img.polygon([(x, y), ...], index)           # filled, even-odd rule
    img.gradient(x0, y0, x1, y1, rgb_from, rgb_to, vertical=True,
                 dither=True, indices=None)     # quantized to the palette
                                                # (optionally only to `indices`)
    img.blit(other, x, y, skip=None)            # copy pixels, skipping index `skip`

    nearest(palette, (r, g, b), indices=None) -> palette index
    bmp_bytes(img, bpp=None) / write_bmp(path, img, bpp=None)
        bpp 4 or 8; None picks 4 for palettes of up to 16 colours, else 8.
    ico_bytes([img, ...], bpp=None) / write_ico(path, [img, ...], bpp=None)
        one directory entry per image, each with its XOR bitmap and AND mask.

Palettes: VGA16 (the standard 16-colour Windows palette) and
web_palette_256() (a 6x6x6 cube plus greys, padded to 256 entries).
"""

import struct

VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
# Names of the VGA16 indices, for readable drawing code.
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# 4x4 ordered-dither thresholds (Bayer), in sixteenths.
_BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def web_palette_256():
    pal = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(v, v, v) for v in range(8, 248, 6)][: 256 - len(pal)]
    while len(pal) < 256:
        pal.append((0, 0, 0))
    return pal


def nearest(palette, rgb, indices=None):
    """Index of the palette colour closest to rgb (squared distance)."""
    cands = range(len(palette)) if indices is None else indices
    best, best_d = None, None
    for i in cands:
        p = palette[i]
        d = (p[0] - rgb[0]) ** 2 + (p[1] - rgb[1]) ** 2 + (p[2] - rgb[2]) ** 2
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


class Image:
    def __init__(self, width, height, palette, fill=0):
        if not 1 <= len(palette) <= 256:
            raise ValueError("a palette holds 1 to 256 colours")
        self.width, self.height = width, height
        self.palette = [tuple(int(c) for c in p) for p in palette]
        self.pixels = [fill] * (width * height)
        self.transparent = None

    def set(self, x, y, index):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y * self.width + x] = index

    def get(self, x, y):
        return self.pixels[y * self.width + x]

    def fill(self, index):
        self.pixels = [index] * (self.width * self.height)

    def rect(self, x0, y0, x1, y1, index, filled=True):
        x0, x1 = sorted((x0, x1))
        y0, y1 = sorted((y0, y1))
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                if filled or x in (x0, x1) or y in (y0, y1):
                    self.set(x, y, index)

    def ellipse(self, cx, cy, rx, ry, index, filled=True):
        """Pixel centres inside the ellipse (filled) or on its one-pixel rim."""
        for y in range(int(cy - ry) - 1, int(cy + ry) + 2):
            for x in range(int(cx - rx) - 1, int(cx + rx) + 2):
                d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 if rx and ry else 2
                if d <= 1.0:
                    if filled:
                        self.set(x, y, index)
                    else:
                        # on the rim when a 4-neighbour lies outside
                        for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                            if ((nx - cx) / rx) ** 2 + ((ny - cy) / ry) ** 2 > 1.0:
                                self.set(x, y, index)
                                break

    def circle(self, cx, cy, r, index, filled=True):
        self.ellipse(cx, cy, r, r, index, filled)

    def line(self, x0, y0, x1, y1, index):
        """Bresenham line, both end points drawn."""
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
        err = dx + dy
        while True:
            self.set(x0, y0, index)
            if x0 == x1 and y0 == y1:
                break
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def polygon(self, points, index):
        """Filled polygon: pixel centres inside by the even-odd rule."""
        ys = [p[1] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            yc = y + 0.5
            xs = []
            n = len(points)
            for i in range(n):
                (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
                if (ay <= yc < by) or (by <= yc < ay):
                    xs.append(ax + (yc - ay) * (bx - ax) / (by - ay))
            xs.sort()
            for a, b in zip(xs[0::2], xs[1::2]):
                for x in range(int(round(a)), int(round(b))):
                    self.set(x, y, index)

    def gradient(self, x0, y0, x1, y1, rgb_from, rgb_to, vertical=True, dither=True, indices=None):
        """Linear blend over the rectangle, each pixel mapped to the nearest
        palette colour (ordered dither between the two nearest when dither)."""
        x0, x1 = sorted((x0, x1))
        y0, y1 = sorted((y0, y1))
        span = (y1 - y0) if vertical else (x1 - x0)
        cache = {}
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                t = ((y - y0) if vertical else (x - x0)) / span if span else 0.0
                rgb = tuple(rgb_from[c] + (rgb_to[c] - rgb_from[c]) * t for c in range(3))
                if dither:
                    # spread by +-1/2 of a typical palette step
                    off = (_BAYER4[y % 4][x % 4] / 16.0 - 0.5) * 48
                    rgb = tuple(min(255, max(0, v + off)) for v in rgb)
                key = tuple(int(v) for v in rgb)
                if key not in cache:
                    cache[key] = nearest(self.palette, key, indices)
                self.set(x, y, cache[key])

    def blit(self, other, x, y, skip=None):
        for yy in range(other.height):
            for xx in range(other.width):
                v = other.get(xx, yy)
                if v != skip:
                    self.set(x + xx, y + yy, v)


def _pick_bpp(img, bpp):
    if bpp is None:
        bpp = 4 if len(img.palette) <= 16 else 8
    if bpp not in (4, 8):
        raise ValueError("bpp must be 4 or 8")
    if len(img.palette) > (1 << bpp):
        raise ValueError("palette too large for %d bits" % bpp)
    if max(img.pixels) >= len(img.palette):
        raise ValueError("pixel index outside the palette")
    return bpp


def _row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def _xor_rows(img, bpp):
    """Bottom-up rows of palette indices, padded to 32 bits."""
    stride = _row_bytes(img.width * bpp)
    out = bytearray()
    for y in range(img.height - 1, -1, -1):
        row = img.pixels[y * img.width:(y + 1) * img.width]
        if bpp == 8:
            b = bytearray(row)
        else:
            b = bytearray()
            for i in range(0, len(row), 2):
                hi = row[i]
                lo = row[i + 1] if i + 1 < len(row) else 0
                b.append((hi << 4) | lo)
        b.extend(b"\0" * (stride - len(b)))
        out += b
    return bytes(out)


def _and_rows(img):
    stride = _row_bytes(img.width)
    out = bytearray()
    for y in range(img.height - 1, -1, -1):
        b = bytearray(stride)
        for x in range(img.width):
            if img.transparent is not None and img.get(x, y) == img.transparent:
                b[x // 8] |= 0x80 >> (x % 8)
        out += b
    return bytes(out)


def _palette_bytes(img, bpp):
    pal = list(img.palette) + [(0, 0, 0)] * ((1 << bpp) - len(img.palette))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)


def _info_header(width, height, bpp, image_size, colours):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, image_size, 2835, 2835, colours, 0)


def _rle4_rows(img):
    """Bottom-up rows compressed as BI_RLE4. A stretch where two colours
    alternate (one colour repeated is the simplest case) of 4 pixels or more
    is a count and the two colours; what lies between such stretches is
    written as it is (absolute mode, 3 to 255 pixels). Rows end with 0 0,
    the picture with 0 1."""
    def alternating(row, i):
        n = 1
        while i + n < len(row) and n < 255 and row[i + n] == row[i + (n % 2)]:
            n += 1
        return n

    def encoded(row, i, n):
        second = row[i + 1] if n > 1 else row[i]
        return bytes((n, (row[i] << 4) | second))

    out = bytearray()
    for y in range(img.height - 1, -1, -1):
        row = img.pixels[y * img.width:(y + 1) * img.width]
        i = 0
        while i < len(row):
            n = alternating(row, i)
            if n >= 4:
                out += encoded(row, i, n)
                i += n
                continue
            j = i  # a literal stretch up to the next long alternating one
            while j < len(row) and j - i < 255 and alternating(row, j) < 4:
                j += 1
            if j - i < 3:
                out += encoded(row, i, j - i)
            else:
                lit = row[i:j] + [0] * ((j - i) % 2)
                data = bytes((lit[k] << 4) | lit[k + 1] for k in range(0, len(lit), 2))
                out += bytes((0, j - i)) + data + b"\0" * (len(data) % 2)
            i = j
        out += b"\0\1" if y == 0 else b"\0\0"
    return bytes(out)


def bmp_bytes(img, bpp=None, rle=False):
    """A bitmap file; rle=True compresses a 16-colour picture (BI_RLE4),
    which loads the same as an ordinary bitmap, not as a DIB section."""
    bpp = _pick_bpp(img, bpp)
    if rle and bpp != 4:
        raise ValueError("run-length compression is written for 16-colour pictures only")
    pixels = _rle4_rows(img) if rle else _xor_rows(img, bpp)
    pal = _palette_bytes(img, bpp)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = _info_header(img.width, img.height, bpp, len(pixels), 1 << bpp)
    if rle:
        info = info[:16] + struct.pack("<I", 2) + info[20:]  # biCompression = BI_RLE4
    return header + info + pal + pixels


def write_bmp(path, img, bpp=None, rle=False):
    with open(path, "wb") as f:
        f.write(bmp_bytes(img, bpp, rle))


def ico_bytes(images, bpp=None):
    if not images:
        raise ValueError("an icon needs at least one image")
    blobs = []
    for img in images:
        if img.width > 256 or img.height > 256:
            raise ValueError("icon images are at most 256 pixels square")
        b = _pick_bpp(img, bpp)
        xor = _xor_rows(img, b)
        mask = _and_rows(img)
        # In an icon the header's height covers the XOR and AND bitmaps together.
        blob = _info_header(img.width, img.height * 2, b, len(xor) + len(mask), 0) + _palette_bytes(img, b) + xor + mask
        blobs.append((img, b, blob))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for img, b, blob in blobs:
        colours = (1 << b) if b < 8 else 0
        out += struct.pack("<BBBBHHII", img.width % 256, img.height % 256, colours, 0, 1, b, len(blob), offset)
        offset += len(blob)
    for _, _, blob in blobs:
        out += blob
    return bytes(out)


def write_ico(path, images, bpp=None):
    with open(path, "wb") as f:
        f.write(ico_bytes(images, bpp))
