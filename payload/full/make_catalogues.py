#!/usr/bin/env python3
"""Writes the 19 UI text catalogues from the table in ui_texts.py.

    make_catalogues.py OUTDIR                write InstallerUIText_<locale>.xml
    make_catalogues.py --check DIR           fail if DIR differs from the table
    make_catalogues.py --maintenance OUTDIR  write MaintenanceUIText_<locale>.xml
                                             (uninstall and repair texts, from
                                             maintenance_texts.py)

The output is byte-for-byte deterministic: UTF-8, CR LF line ends, a byte-order
mark only where ui_texts.WITH_BOM says so.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import locales  # noqa: E402
import maintenance_texts  # noqa: E402
import ui_texts  # noqa: E402

_ESCAPES = [("&", "&amp;"), ("<", "&lt;"), (">", "&gt;"),
            ('"', "&quot;"), ("'", "&apos;")]


def escape(text):
    for raw, esc in _ESCAPES:
        text = text.replace(raw, esc)
    return text


def catalogue_bytes(locale, table=ui_texts, what="installation"):
    texts = table.TEXTS[locale]
    if len(texts) != len(table.KEYS):
        raise ValueError("%s: %d texts for %d keys"
                         % (locale, len(texts), len(table.KEYS)))
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        "<!-- Quillfeather %s: user interface texts (%s). -->" % (what, locale),
        "<!-- Translators: translate only the text inside the value elements."
        " Leave the names, the tags and the localeId unchanged.%s -->"
        % (" Keep %1 and %2: the program fills them in." if table is maintenance_texts else ""),
        "<uiStrings>",
        '  <language localeId="%s">' % locale,
    ]
    for key, text in zip(table.KEYS, texts):
        lines.append("    <resource><name>%s</name><value>%s</value></resource>"
                     % (key, escape(text)))
    lines += ["  </language>", "</uiStrings>", ""]
    data = "\r\n".join(lines).encode("utf-8")
    if table is ui_texts and locale in ui_texts.WITH_BOM:
        data = b"\xef\xbb\xbf" + data
    return data


def maintenance_name(locale):
    return "MaintenanceUIText_%s.xml" % locale


def write_maintenance(outdir):
    os.makedirs(outdir, exist_ok=True)
    for loc in locales.LOCALES:
        data = catalogue_bytes(loc, maintenance_texts, "uninstall and repair")
        path = os.path.join(outdir, maintenance_name(loc))
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    return 0


def main(argv):
    check = argv[:1] == ["--check"]
    if argv[:1] == ["--maintenance"] and len(argv) == 2:
        return write_maintenance(argv[1])
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
