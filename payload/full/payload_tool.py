#!/usr/bin/env python3
"""Builds and checks the file list and the resource script of the full payload.

    payload_tool.py --files DIR --list OUT/filesList.txt --rc OUT/full_payload.rc
                    [--lines LISTFILE]

Line i of the list names the file held in resource 100 + i; resource 100 is
the list itself. The lines come from the naming tables in locales.py, or
from LISTFILE (one name a line) when given. Before anything is written the
list is validated, and the first violation stops the build with a message
that names the line:

- 377 lines of bare file names: printable ASCII, no folder separators, no
  drive, no blank names, no duplicates (compared without letter case, as
  the Windows file system does);
- the kinds in their identifier ranges: 101-119 the catalogues in locale
  order, 120-138 the license texts in the same order, 139-473 the 335
  cabinets of the naming scheme, 474 VellumSetup.jse, 475 VellumSetup.exe,
  476 vellumVersion.txt, 477 EXTRACT.EXE;
- every file present in DIR and looking like its kind (catalogue parses and
  names its locale, license without byte-order mark and with CR LF line
  ends, cabinet signature, encoded script, program headers, version line).

The resource script uses LANGUAGE 0, 1 (0x0400) and RCDATA for all 378
resources, and resource 99 for the payload digest the launcher checks
(payload/payload_digest.py, written beside the script as <rc>.digest). It
carries a digest of every file, so that it changes, and is compiled again,
whenever any payload file changes.
"""
import argparse
import hashlib
import os
import re
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import locales  # noqa: E402

sys.path.insert(0, os.path.dirname(HERE))
import payload_digest  # noqa: E402

FIRST_ID = 100
LINE_COUNT = 377
N = len(locales.LOCALES)


class PayloadError(Exception):
    """A violation of the payload rules; str() names the line."""


def _fail(line, name, why):
    raise PayloadError("filesList.txt line %d (resource %d, %r): %s"
                       % (line, FIRST_ID + line, name, why))


def expected_kind(line):
    """The kind that belongs on a line, and the exact name where fixed."""
    if 1 <= line <= N:
        return "catalogue", locales.catalogue_name(locales.LOCALES[line - 1])
    if N < line <= 2 * N:
        return "license text", locales.license_name(locales.LOCALES[line - N - 1])
    if 2 * N < line <= 2 * N + 335:
        return "cabinet", None
    fixed = {374: locales.SCRIPT_NAME, 375: locales.SETUP_NAME,
             376: locales.VERSION_NAME, 377: locales.EXTRACT_NAME}
    return {374: "installation script", 375: "setup program",
            376: "version file", 377: "extraction tool"}[line], fixed[line]


def kind_of(name):
    if name.startswith("InstallerUIText_") and name.endswith(".xml"):
        return "catalogue"
    if name.startswith("EULA_") and name.endswith(".txt"):
        return "license text"
    if name.lower().endswith(".cab"):
        return "cabinet"
    return {locales.SCRIPT_NAME: "installation script",
            locales.SETUP_NAME: "setup program",
            locales.VERSION_NAME: "version file",
            locales.EXTRACT_NAME: "extraction tool"}.get(name, "unknown")


def validate_lines(lines):
    """Checks names, order and kinds (no file access)."""
    seen = {}
    for i, name in enumerate(lines, 1):
        if i > LINE_COUNT:
            _fail(i, name, "the list has more than %d lines" % LINE_COUNT)
        if name == "" or name.strip() != name:
            _fail(i, name, "blank name or leading/trailing blanks")
        if not all(32 <= ord(c) < 127 for c in name):
            _fail(i, name, "only printable ASCII is allowed in a file name")
        if any(c in name for c in '\\/:*?"<>|'):
            _fail(i, name, "not a bare file name (folder, drive or reserved character)")
        if name in (".", "..") or name.endswith("."):
            _fail(i, name, "not a usable file name")
        key = name.lower()
        if key in seen:
            _fail(i, name, "duplicate of line %d" % seen[key])
        seen[key] = i
        want_kind, want_name = expected_kind(i)
        got = kind_of(name)
        if got != want_kind:
            _fail(i, name, "a %s stands where the %s range (%s) needs a %s"
                  % (got, want_kind, _range_text(want_kind), want_kind))
        if want_name is not None and name != want_name:
            _fail(i, name, "expected %r here" % want_name)
    if len(lines) != LINE_COUNT:
        raise PayloadError("filesList.txt has %d lines, expected %d"
                           % (len(lines), LINE_COUNT))
    wanted = set(locales.all_cabinets())
    for i in range(2 * N + 1, 2 * N + 336):
        if lines[i - 1] not in wanted:
            _fail(i, lines[i - 1], "not a cabinet name of the naming scheme")


def _range_text(kind):
    return {"catalogue": "101-119", "license text": "120-138",
            "cabinet": "139-473", "installation script": "474",
            "setup program": "475", "version file": "476",
            "extraction tool": "477"}.get(kind, "?")


def check_file(line, name, path):
    """Checks that the file exists and looks like its kind."""
    if not os.path.isfile(path):
        _fail(line, name, "file missing: %s" % path)
    with open(path, "rb") as f:
        data = f.read()
    kind = kind_of(name)
    if not data:
        _fail(line, name, "file is empty")
    if kind == "catalogue":
        loc = name[len("InstallerUIText_"):-len(".xml")]
        try:
            root = ET.fromstring(data)
        except ET.ParseError as e:
            _fail(line, name, "catalogue does not parse: %s" % e)
        langs = root.findall("language")
        if len(langs) != 1 or langs[0].get("localeId") != loc:
            _fail(line, name, "catalogue needs one language element with localeId %r" % loc)
    elif kind == "license text":
        if data.startswith(b"\xef\xbb\xbf"):
            _fail(line, name, "license text starts with a byte-order mark")
        if re.search(rb"(?<!\r)\n", data):
            _fail(line, name, "license text has a line end without CR")
    elif kind == "cabinet":
        if data[:4] != b"MSCF":
            _fail(line, name, "not a cabinet file")
    elif kind == "installation script":
        if not data.startswith(b"#@~^"):
            _fail(line, name, "installation script is not in encoded form")
    elif kind in ("setup program", "extraction tool"):
        if data[:2] != b"MZ":
            _fail(line, name, "not a Windows program")
    elif kind == "version file":
        if not re.fullmatch(rb"version=\d+(\.\d+)*\r\n", data):
            _fail(line, name, "version file must be one line 'version=<n.n.n>' with CR LF")


def validate(lines, files_dir):
    validate_lines(lines)
    for i, name in enumerate(lines, 1):
        check_file(i, name, os.path.join(files_dir, name))


def list_bytes(lines):
    return "".join(l + "\r\n" for l in lines).encode("ascii")


def rc_text(list_path, lines, files_dir, rc_path):
    def q(path):
        return '"%s"' % os.path.abspath(path).replace("\\", "/")
    digest = hashlib.sha256()
    out = ["// Generated by payload_tool.py: the full payload, resources 100-%d."
           % (FIRST_ID + len(lines)),
           "LANGUAGE 0, 1", "",
           "%d RCDATA %s" % (FIRST_ID, q(list_path))]
    for i, name in enumerate(lines, 1):
        path = os.path.join(files_dir, name)
        with open(path, "rb") as f:
            digest.update(f.read())
        out.append("%d RCDATA %s" % (FIRST_ID + i, q(path)))
    out.insert(1, "// content digest %s" % digest.hexdigest())
    # Resource 99: the table the launcher checks before it writes anything.
    table_path = os.path.splitext(rc_path)[0] + ".digest"
    payload_digest.write_for_files([list_path] + [os.path.join(files_dir, n) for n in lines], table_path)
    out.insert(4, payload_digest.rc_line(table_path))
    return "\n".join(out) + "\n"


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--files", required=True, help="folder holding every payload file")
    ap.add_argument("--list", required=True, help="filesList.txt to write")
    ap.add_argument("--rc", required=True, help="resource script to write")
    ap.add_argument("--lines", help="take the list from this file instead of the tables")
    args = ap.parse_args(argv)
    if args.lines:
        with open(args.lines, "rb") as f:
            raw = f.read().decode("latin-1")
        lines = raw.replace("\r\n", "\n").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
    else:
        lines = locales.file_list()
    try:
        validate(lines, args.files)
    except PayloadError as e:
        sys.stderr.write("payload_tool: %s\n" % e)
        return 1
    os.makedirs(os.path.dirname(os.path.abspath(args.list)), exist_ok=True)
    payload_digest.write_if_changed(args.list, list_bytes(lines))
    payload_digest.write_if_changed(args.rc, rc_text(args.list, lines, args.files, args.rc).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
