#!/usr/bin/env python3
"""Converts the license texts (UTF-8 sources in licenses/) into the files
that the wizard reads: EULA_<locale>.txt in the locale's Windows code page
with CR LF line ends.

    make_licenses.py OUTDIR

A character that the code page cannot hold, or a text outside 3 to 13 KB,
stops the build: the wizard would show it garbled or the layout's text box
was not made for it.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import locales  # noqa: E402

# Locales that share another locale's text: en-au shows the en-us interface
# texts, so its license quotes the same option captions.
SOURCE_OF = {"en-au": "en-us", "zh-hk": "zh-tw"}

# The es-es text ends without a final line break.
NO_FINAL_NEWLINE = {"es-es"}

MIN_BYTES = 3 * 1024
MAX_BYTES = 13 * 1024


class LicenseError(Exception):
    pass


def license_bytes(locale, srcdir=os.path.join(HERE, "licenses")):
    src = os.path.join(srcdir, SOURCE_OF.get(locale, locale) + ".txt")
    with open(src, encoding="utf-8") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        raise LicenseError("%s: the source must not start with a byte-order mark" % src)
    text = text.replace("\r\n", "\n").rstrip("\n") + "\n"
    if locale in NO_FINAL_NEWLINE:
        text = text.rstrip("\n")
    codec = locales.CODE_PAGES[locale]
    try:
        data = text.replace("\n", "\r\n").encode(codec, errors="strict")
    except UnicodeEncodeError as e:
        line = text.count("\n", 0, e.start) + 1
        raise LicenseError("%s: line %d: %r cannot be stored in %s"
                           % (src, line, text[e.start:e.end], codec))
    if not MIN_BYTES <= len(data) <= MAX_BYTES:
        raise LicenseError("%s: %d bytes in %s, outside %d..%d"
                           % (src, len(data), codec, MIN_BYTES, MAX_BYTES))
    return data


def main(argv):
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    outdir = argv[0]
    os.makedirs(outdir, exist_ok=True)
    try:
        for loc in locales.LOCALES:
            data = license_bytes(loc)
            path = os.path.join(outdir, locales.license_name(loc))
            with open(path, "wb") as f:
                f.write(data)
    except LicenseError as e:
        sys.stderr.write("make_licenses: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
