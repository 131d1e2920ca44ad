#!/usr/bin/env python3
"""Encodes a plain JScript file into the encoded form that the JScript.Encode
engine of the Windows Script Host runs (a ".jse" file).

    encode_script.py INPUT.js OUTPUT.jse
    encode_script.py --decode INPUT.jse OUTPUT.js     (for tests and review)

Form of an encoded block:

    #@~^ LLLLLL== <encoded characters> CCCCCC== ^#~@

LLLLLL is the number of encoded characters and CCCCCC the sum of the
decoded character codes, each a 32-bit little-endian value written as six
base-64 digits followed by "==". Every character of the script is
substituted through one of three tables; which table applies is fixed by the
character's position in the decoded text, modulo 64. Line breaks and the
characters < > @ are written as two-character escapes (@# @& @! @* @$) that
take one position, as every decoded character does.

Only printable ASCII, tab, CR and LF are accepted: the engine skips an
encoded script with other characters, so the encoder refuses them and names
their line (write \\uXXXX escapes in the source instead).
"""
import base64
import struct
import sys

# Which of the three substitution tables applies at decoded position p % 64.
TABLE_PATTERN = [
    1, 2, 0, 1, 2, 0, 2, 0, 0, 2, 0, 2, 1, 0, 2, 0,
    1, 0, 2, 0, 1, 1, 2, 0, 0, 2, 1, 0, 2, 0, 0, 2,
    1, 1, 0, 2, 0, 2, 0, 1, 0, 1, 1, 2, 0, 1, 0, 2,
    1, 0, 2, 0, 1, 1, 2, 0, 0, 1, 1, 2, 0, 1, 0, 2,
]

# For each encoded character code: the plain character it stands for under
# table 0, 1 and 2. Codes not listed (control characters other than tab,
# and < > @, which never appear encoded) are not used by the encoder.
_ENCODED = {
    0x09: (0x7b, 0x57, 0x6e),
    0x20: (0x32, 0x2e, 0x2d), 0x21: (0x30, 0x47, 0x75), 0x22: (0x21, 0x7a, 0x52),
    0x23: (0x29, 0x56, 0x60), 0x24: (0x5b, 0x42, 0x71), 0x25: (0x38, 0x6a, 0x5e),
    0x26: (0x33, 0x2f, 0x49), 0x27: (0x3d, 0x26, 0x5c), 0x28: (0x58, 0x49, 0x62),
    0x29: (0x3a, 0x41, 0x7d), 0x2a: (0x35, 0x34, 0x29), 0x2b: (0x65, 0x32, 0x36),
    0x2c: (0x39, 0x5b, 0x20), 0x2d: (0x5c, 0x76, 0x7c), 0x2e: (0x56, 0x72, 0x7a),
    0x2f: (0x73, 0x43, 0x7f), 0x30: (0x66, 0x38, 0x6b), 0x31: (0x4e, 0x39, 0x63),
    0x32: (0x45, 0x70, 0x33), 0x33: (0x6b, 0x45, 0x2b), 0x34: (0x62, 0x68, 0x68),
    0x35: (0x59, 0x71, 0x51), 0x36: (0x78, 0x4f, 0x66), 0x37: (0x5e, 0x09, 0x76),
    0x38: (0x7d, 0x62, 0x31), 0x39: (0x4a, 0x44, 0x64), 0x3a: (0x6d, 0x23, 0x54),
    0x3b: (0x71, 0x75, 0x43), 0x3d: (0x60, 0x7e, 0x3a), 0x3f: (0x53, 0x5e, 0x7e),
    0x41: (0x42, 0x77, 0x45), 0x42: (0x27, 0x4a, 0x2c), 0x43: (0x48, 0x61, 0x2a),
    0x44: (0x72, 0x5d, 0x74), 0x45: (0x75, 0x22, 0x27), 0x46: (0x31, 0x4b, 0x37),
    0x47: (0x37, 0x6f, 0x44), 0x48: (0x4d, 0x4e, 0x79), 0x49: (0x52, 0x3b, 0x59),
    0x4a: (0x22, 0x4c, 0x2f), 0x4b: (0x54, 0x50, 0x6f), 0x4c: (0x6a, 0x67, 0x26),
    0x4d: (0x47, 0x2a, 0x72), 0x4e: (0x64, 0x7d, 0x6a), 0x4f: (0x2d, 0x74, 0x39),
    0x50: (0x20, 0x54, 0x7b), 0x51: (0x7f, 0x2b, 0x3f), 0x52: (0x2e, 0x2d, 0x38),
    0x53: (0x4c, 0x2c, 0x77), 0x54: (0x5d, 0x30, 0x67), 0x55: (0x7e, 0x6e, 0x53),
    0x56: (0x6c, 0x6b, 0x47), 0x57: (0x6f, 0x66, 0x34), 0x58: (0x79, 0x35, 0x78),
    0x59: (0x74, 0x25, 0x5d), 0x5a: (0x43, 0x21, 0x30), 0x5b: (0x26, 0x64, 0x23),
    0x5c: (0x76, 0x4d, 0x5a), 0x5d: (0x25, 0x52, 0x5b), 0x5e: (0x24, 0x63, 0x6c),
    0x5f: (0x2b, 0x3f, 0x48), 0x60: (0x28, 0x7b, 0x55), 0x61: (0x23, 0x78, 0x70),
    0x62: (0x41, 0x29, 0x69), 0x63: (0x34, 0x28, 0x2e), 0x64: (0x09, 0x73, 0x4c),
    0x65: (0x2a, 0x59, 0x21), 0x66: (0x44, 0x33, 0x24), 0x67: (0x3f, 0x7f, 0x4e),
    0x68: (0x77, 0x6d, 0x50), 0x69: (0x3b, 0x55, 0x09), 0x6a: (0x55, 0x53, 0x56),
    0x6b: (0x69, 0x7c, 0x73), 0x6c: (0x61, 0x3a, 0x35), 0x6d: (0x63, 0x5f, 0x61),
    0x6e: (0x50, 0x65, 0x4b), 0x6f: (0x67, 0x46, 0x58), 0x70: (0x51, 0x58, 0x3b),
    0x71: (0x49, 0x31, 0x57), 0x72: (0x4f, 0x69, 0x22), 0x73: (0x46, 0x6c, 0x6d),
    0x74: (0x68, 0x5a, 0x4d), 0x75: (0x7c, 0x48, 0x25), 0x76: (0x36, 0x27, 0x28),
    0x77: (0x70, 0x5c, 0x46), 0x78: (0x6e, 0x3d, 0x4a), 0x79: (0x7a, 0x24, 0x32),
    0x7a: (0x2f, 0x79, 0x41), 0x7b: (0x5f, 0x37, 0x3d), 0x7c: (0x4b, 0x60, 0x5f),
    0x7d: (0x5a, 0x51, 0x4f), 0x7e: (0x2c, 0x20, 0x42), 0x7f: (0x57, 0x36, 0x65),
}

# plain character -> encoded character, per table.
_ENCODE = [{}, {}, {}]
for _code, _plain in _ENCODED.items():
    for _t in range(3):
        _ENCODE[_t][_plain[_t]] = _code
# decoded character -> escape, for the characters that are never substituted.
_ESCAPES = {"\r": "@#", "\n": "@&", "<": "@!", ">": "@*", "@": "@$"}
_UNESCAPE = {v[1]: k for k, v in _ESCAPES.items()}

BEGIN = "#@~^"
END = "^#~@"


class EncodeError(Exception):
    pass


def _dword(value):
    return base64.b64encode(struct.pack("<I", value & 0xFFFFFFFF)).decode("ascii")


def _undword(text):
    if len(text) != 8 or not text.endswith("=="):
        raise EncodeError("bad length or checksum field %r" % text)
    return struct.unpack("<I", base64.b64decode(text))[0]


def encode(plain):
    """Encodes a whole script (str) into one encoded block (str)."""
    out = []
    for pos, ch in enumerate(plain):
        if ch in _ESCAPES:
            out.append(_ESCAPES[ch])
            continue
        code = ord(ch)
        enc = _ENCODE[TABLE_PATTERN[pos % 64]].get(code)
        if enc is None:
            line = plain.count("\n", 0, pos) + 1
            raise EncodeError("line %d: character U+%04X cannot be encoded;"
                              " use a \\u escape in the source" % (line, code))
        out.append(chr(enc))
    body = "".join(out)
    checksum = sum(ord(c) for c in plain)
    return BEGIN + _dword(len(body)) + body + _dword(checksum) + END


def decode(text):
    """Decodes every encoded block in text; plain text around them stays."""
    result = []
    i = 0
    while True:
        start = text.find(BEGIN, i)
        if start < 0:
            result.append(text[i:])
            return "".join(result)
        result.append(text[i:start])
        p = start + len(BEGIN)
        length = _undword(text[p:p + 8])
        p += 8
        body = text[p:p + length]
        if len(body) != length:
            raise EncodeError("encoded block is shorter than its length field")
        plain = []
        k = 0
        while k < length:
            c = body[k]
            if c == "@":
                k += 1
                if k >= length or body[k] not in _UNESCAPE:
                    raise EncodeError("bad escape at encoded position %d" % k)
                plain.append(_UNESCAPE[body[k]])
            else:
                code = ord(c)
                if code == 9 or 0x20 <= code < 0x80:
                    pos = len(plain)
                    plain.append(chr(_ENCODED[code][TABLE_PATTERN[pos % 64]]))
                else:
                    plain.append(c)
            k += 1
        plain = "".join(plain)
        p += length
        if _undword(text[p:p + 8]) != sum(ord(c) for c in plain) & 0xFFFFFFFF:
            raise EncodeError("checksum mismatch")
        p += 8
        if text[p:p + 4] != END:
            raise EncodeError("missing end marker")
        result.append(plain)
        i = p + 4


def main(argv):
    mode_decode = argv[:1] == ["--decode"]
    args = argv[1:] if mode_decode else argv
    if len(args) != 2:
        sys.stderr.write(__doc__)
        return 2
    src, dst = args
    with open(src, "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("ascii")
    except UnicodeDecodeError as e:
        line = raw.count(b"\n", 0, e.start) + 1
        sys.stderr.write("encode_script: %s: line %d: non-ASCII byte 0x%02X;"
                         " use a \\u escape\n" % (src, line, raw[e.start]))
        return 1
    try:
        out = decode(text) if mode_decode else encode(text)
    except EncodeError as e:
        sys.stderr.write("encode_script: %s: %s\n" % (src, e))
        return 1
    tmp = dst + ".tmp"
    with open(tmp, "wb") as f:
        f.write(out.encode("ascii"))
    import os
    os.replace(tmp, dst)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
