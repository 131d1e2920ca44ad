#!/usr/bin/env python3
"""Writes the 19 UI text catalogues from the table in ui_texts.py.

    make_catalogues.py OUTDIR          write InstallerUIText_<locale>.xml
    make_catalogues.py --check DIR     fail if DIR differs from the table

The output is byte-for-byte deterministic: UTF-8, CR LF line ends, a byte-order
mark only where ui_texts.WITH_BOM says so.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import locales  # noqa: E402
import ui_texts  # noqa: E402

_ESCAPES = [("&", "&amp;"), ("<", "&lt;"), (">", "&gt;"),
            ('"', "&quot;"), ("'", "&apos;")]


def escape(text):
    for raw, esc in _ESCAPES:
        text = text.replace(raw, esc)
    return text


def catalogue_bytes(locale):
    texts = ui_texts.TEXTS[locale]
    if len(texts) != len(ui_texts.KEYS):
        raise ValueError("%s: %d texts for %d keys"
                         % (locale, len(texts), len(ui_texts.KEYS)))
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        "<!-- Quillfeather installation: user interface texts (%s). -->" % locale,
        "<!-- Translators: translate only the text inside the value elements."
        " Leave the names, the tags and the localeId unchanged. -->",
        "<uiStrings>",
        '  <language localeId="%s">' % locale,
    ]
    for key, text in zip(ui_texts.KEYS, texts):
        lines.append("    <resource><name>%s</name><value>%s</value></resource>"
                     % (key, escape(text)))
    lines += ["  </language>", "</uiStrings>", ""]
    data = "\r\n".join(lines).encode("utf-8")
    if locale in ui_texts.WITH_BOM:
        data = b"\xef\xbb\xbf" + data
    return data


def main(argv):
    check = argv[:1] == ["--check"]
    args = argv[1:] if check else argv
    if len(args) != 1:
        sys.stderr.write(__doc__)
        return 2
    outdir = args[0]
    bad = []
    if not check:
        os.makedirs(outdir, exist_ok=True)
    for loc in locales.LOCALES:
        path = os.path.join(outdir, locales.catalogue_name(loc))
        data = catalogue_bytes(loc)
        if check:
            try:
                with open(path, "rb") as f:
                    if f.read() != data:
                        bad.append(path)
            except OSError:
                bad.append(path)
        else:
            with open(path, "wb") as f:
                f.write(data)
    if bad:
        sys.stderr.write("catalogues out of date (run make_catalogues.py): %s\n"
                         % ", ".join(bad))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
