#!/usr/bin/env python3
"""Writes the hostile payloads: one folder per launcher variant, each with its
file list (LIST, possibly faulty) and a sound list binding the resources
(NAMES). Run at configure time:  make_payloads.py <dev payload folder> <out>
"""
import os
import shutil
import sys

SECRET_NAME = "hostile-secret.txt"
CANARY = "SECRET-CANARY-7f3a91"

# Takes the script's lock as the installation script does (waiting out the
# launcher's brief looks at it), then ends.
SCRIPT = (b"// Harmless stand-in for the installation script.\r\n"
          b"var fso = new ActiveXObject(\"Scripting.FileSystemObject\");\r\n"
          b"var lock = fso.GetParentFolderName(WScript.ScriptFullName) + \"\\\\VellumSetup.lock\";\r\n"
          b"for (var i = 0; i < 400; i++) {\r\n"
          b"    try { fso.OpenTextFile(lock, 8, true); break; } catch (e) {}\r\n"
          b"    var t = new Date().getTime() + 25; while (new Date().getTime() < t) {}\r\n"
          b"}\r\n"
          b"WScript.Quit(0);\r\n")


def crlf(lines, final=True):
    return ("\r\n".join(lines) + ("\r\n" if final else "")).encode("ascii")


def billion_laughs():
    out = ['<?xml version="1.0" encoding="UTF-8"?>', '<!DOCTYPE uiStrings [', '<!ENTITY l0 "ha">']
    for i in range(1, 11):
        out.append('<!ENTITY l%d "%s">' % (i, "&l%d;" % (i - 1) * 10))
    out.append(']>')
    out.append('<uiStrings><language localeId="en-us">')
    out.append('<resource><name>loc_UI_Setup</name><value>&l10;</value></resource>')
    out.append('<resource><name>loc_UI_Starting_Setup</name><value>&l10;</value></resource>')
    out.append('</language></uiStrings>')
    return "\r\n".join(out).encode("utf-8")


def external_entity(secret_path):
    return ('<?xml version="1.0" encoding="UTF-8"?>\r\n'
            '<!DOCTYPE uiStrings [ <!ENTITY secret SYSTEM "file:///%s"> ]>\r\n'
            '<uiStrings><language localeId="en-us">\r\n'
            '<resource><name>loc_UI_Setup</name><value>&secret;</value></resource>\r\n'
            '<resource><name>loc_UI_Starting_Setup</name><value>x&secret;x</value></resource>\r\n'
            '</language></uiStrings>\r\n' % secret_path.replace("\\", "/")).encode("utf-8")


def source_file(dev, name):
    """A file of the development payload, or its counterpart in the full one."""
    p = os.path.join(dev, name)
    if os.path.exists(p):
        return p
    full = os.path.join(os.path.dirname(os.path.abspath(dev)), "full")
    if name.startswith("EULA_"):
        return os.path.join(full, "licenses", name[5:])
    return os.path.join(full, "catalogues", name)


def main():
    dev, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    base_files = {
        "a.txt": b"first file\r\n",
        "b.bin": bytes(range(256)) * 256,
        "c.txt": b"third file\r\n" * 100,
        "VellumSetup.jse": SCRIPT,
    }
    cats = ["InstallerUIText_de-de.xml", "InstallerUIText_en-us.xml", "InstallerUIText_fr-fr.xml"]
    base = cats + ["a.txt", "b.bin", "c.txt", "VellumSetup.jse"]

    def variant(name, lines, names=None, files=None, final=True):
        d = os.path.join(out, name)
        os.makedirs(d, exist_ok=True)
        for c in cats:
            shutil.copyfile(source_file(dev, c), os.path.join(d, c))
        for fn, data in dict(base_files, **(files or {})).items():
            with open(os.path.join(d, fn), "wb") as f:
                f.write(data)
        with open(os.path.join(d, "list.txt"), "wb") as f:
            f.write(crlf(lines, final))
        with open(os.path.join(d, "names.txt"), "wb") as f:
            f.write(crlf(names or lines))

    variant("base", base)
    # A blank line in the middle: its resource holds a file all the same.
    variant("blankline", base[:4] + [""] + base[4:], base[:4] + ["blank.txt"] + base[4:],
            files={"blank.txt": b"bound to the blank line\r\n"})
    variant("nofinalcrlf", base, final=False)
    # Lines that would leave the working folder or name no plain file.
    bad = ["sub\\x.txt", "sub/y.txt", "..\\escape.txt", "..", "C:\\abs.txt", "a.txt:ads", " "]
    variant("separators", cats + ["a.txt"] + bad + ["c.txt", "VellumSetup.jse"],
            cats + ["a.txt"] + ["bad%d.txt" % i for i in range(len(bad))] + ["c.txt", "VellumSetup.jse"],
            files={"bad%d.txt" % i: b"must not be written\r\n" for i in range(len(bad))})
    # Three lines more than there are resources.
    variant("morelines", base + ["extra1.txt", "extra2.txt", "extra3.txt"], base)
    # Catalogues that attack the parser; a refused line makes the launcher
    # show a box whose title is the looked-up caption.
    refused = ["..\\refused.txt"]
    forced = {"refused.txt": b"never written\r\n"}
    secret = "C:\\" + SECRET_NAME
    variant("xxe", base[:1] + base[2:] + refused + ["InstallerUIText_en-us.xml"],
            base[:1] + base[2:] + ["refused.txt", "InstallerUIText_en-us.xml"], files=dict(forced))
    with open(os.path.join(out, "xxe", "InstallerUIText_en-us.xml"), "wb") as f:
        f.write(external_entity(secret))
    variant("laughs", base[:1] + base[2:] + refused + ["InstallerUIText_en-us.xml"],
            base[:1] + base[2:] + ["refused.txt", "InstallerUIText_en-us.xml"], files=dict(forced))
    with open(os.path.join(out, "laughs", "InstallerUIText_en-us.xml"), "wb") as f:
        f.write(billion_laughs())
    # Sound catalogues and a refused line: the control for reading the caption.
    variant("caption", base + refused, base + ["refused.txt"], files=dict(forced))


if __name__ == "__main__":
    main()
