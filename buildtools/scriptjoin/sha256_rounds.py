#!/usr/bin/env python3
"""Writes the SHA-256 compression of the installation script as one
straight-line JScript function (the script host interprets every loop
step, array access and assignment; written out, a block costs about half).

    sha256_rounds.py OUTPUT.js

sha256Text(text, tail) hashes the text's UTF-16LE bytes and returns the
eight state words: every whole block of 32 characters is read straight
from the text (no array in between), the rest comes as tail, the padded
end of the message in 32-bit big-endian words (digestWords). Inside a block the values
are left to grow as exact doubles (far below 2^53) and only the state is
reduced to 32 bits: every bitwise operator reduces its operands itself.
The message schedule rolls through 16 locals; the working variables change
roles from round to round instead of being shifted.
"""
import os
import sys

def _primes(count):
    found = []
    n = 2
    while len(found) < count:
        if all(n % q for q in found):
            found.append(n)
        n += 1
    return found


def _root_bits(n, k):
    """The first 32 bits of the fraction of n's k-th root, exactly (integer Newton)."""
    target = n << (32 * k)  # root(n * 2^(32k)) = root(n) * 2^32
    x = 1 << ((target.bit_length() + k - 1) // k)
    while True:
        y = ((k - 1) * x + target // x ** (k - 1)) // k
        if y >= x:
            return x & 0xFFFFFFFF
        x = y


# The constants are derived as the algorithm defines them (the fractions of
# the cube roots of the first 64 primes, of the square roots of the first 8),
# rather than copied once more as a table.
K = [_root_bits(p, 3) for p in _primes(64)]
H0 = [_root_bits(p, 2) for p in _primes(8)]


def rotations(v, counts):
    return " ^ ".join("(%s >>> %d | %s << %d)" % (v, n, v, 32 - n) for n in counts)


def schedule(i):
    """w[i] into the slot of w[i-16]."""
    x, y = "w%d" % ((i - 15) % 16), "w%d" % ((i - 2) % 16)
    return ("w{j} = (w{j} + ({r0} ^ {x} >>> 3) + w{k} + ({r1} ^ {y} >>> 10)) | 0;"
            .format(j=i % 16, k=(i - 7) % 16, x=x, y=y, r0=rotations(x, (7, 18)), r1=rotations(y, (17, 19))))


def round_(i):
    # Round i finds a..h in the locals shifted by i places. Maj(a, b, c) is
    # b ^ ((a ^ b) & (b ^ c)), and a ^ b is the next round's b ^ c: p and q
    # carry it over. Ch(e, f, g) is g ^ (e & (f ^ g)).
    names = "abcdefgh"
    a, b, c, d, e, f, g, h = [names[(j - i) % 8] for j in range(8)]
    p, q = ("p", "q") if i % 2 == 0 else ("q", "p")
    return ("t = {h} + ({s1}) + ({g} ^ {e} & ({f} ^ {g})) + 0x{k:08x} + w{w}; {d} += t; {p} = {a} ^ {b}; "
            "{h} = t + ({s0}) + ({b} ^ {p} & {q});"
            .format(a=a, b=b, d=d, e=e, f=f, g=g, h=h, p=p, q=q, k=K[i], w=i % 16,
                    s1=rotations(e, (6, 11, 25)), s0=rotations(a, (2, 13, 22))))


def script():
    lines = [
        "// ---- digest rounds (written by sha256_rounds.py at build time) ----",
        "",
        "function sha256Text(text, tail) {",
        "    var full = text.length >>> 5, blocks = full + (tail.length >>> 4), block, at = 0, k, u, v,",
        "        t, p, q, a, b, c, d, e, f, g, h;",
        "    var w0, w1, w2, w3, w4, w5, w6, w7, w8, w9, w10, w11, w12, w13, w14, w15;",
        "    var " + ", ".join("h%d = 0x%08x | 0" % (i, v) for i, v in enumerate(H0)) + ";",
        "    for (block = 0; block < blocks; block++) {",
        "        if (block < full) {",
        "            // A word is two characters' little-endian bytes, big-endian.",
    ]
    for i in range(16):
        lines.append("            u = text.charCodeAt(at + %d); v = text.charCodeAt(at + %d); "
                     "w%d = (u & 255) << 24 | (u >>> 8) << 16 | (v & 255) << 8 | v >>> 8;" % (2 * i, 2 * i + 1, i))
    lines += ["            at += 32;", "        } else {", "            k = (block - full) << 4;"]
    for i in range(16):
        lines.append("            w%d = tail[k + %d];" % (i, i))
    lines.append("        }")
    lines.append("        a = h0; b = h1; c = h2; d = h3; e = h4; f = h5; g = h6; h = h7; q = b ^ c;")
    for i in range(64):
        if i >= 16:
            lines.append("        " + schedule(i))
        lines.append("        " + round_(i))
    lines += [
        "        h0 = (h0 + a) | 0; h1 = (h1 + b) | 0; h2 = (h2 + c) | 0; h3 = (h3 + d) | 0;",
        "        h4 = (h4 + e) | 0; h5 = (h5 + f) | 0; h6 = (h6 + g) | 0; h7 = (h7 + h) | 0;",
        "    }",
        "    return [h0, h1, h2, h3, h4, h5, h6, h7];",
        "}",
        "",
    ]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 1
    tmp = argv[1] + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="") as f:
        f.write(script())
    os.replace(tmp, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
