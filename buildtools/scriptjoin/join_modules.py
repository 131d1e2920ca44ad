#!/usr/bin/env python3
"""Joins the installation script's modules, in the order given, into the one
plain script that the encoder turns into VellumSetup.jse.

    join_modules.py OUTPUT.js MODULE.js...

Every module only declares (functions, constants, state); main.js, last,
is the only one that runs anything. A module that does not end with a line
break gets one, so that no line of one module runs into the next.
"""
import os
import sys


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 1
    out, modules = argv[1], argv[2:]
    parts = []
    for path in modules:
        with open(path, "r", encoding="ascii", newline="") as f:
            text = f.read()
        if not text.endswith("\n"):
            text += "\n"
        parts.append("// ==== %s ====\n%s" % (os.path.basename(path), text))
    tmp = out + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="") as f:
        f.write("\n".join(parts))
    os.replace(tmp, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
