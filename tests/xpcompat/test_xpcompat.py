"""The shipped programs load on Windows XP SP3.

Reads the import tables of the i686 (shipping) builds of VellumInstaller.exe,
VellumSetup.exe and EXTRACT.EXE with objdump and fails on a DLL that Windows
XP SP3 does not ship, on a function its DLLs do not export (the allow-list
xp_sp3_exports.json names where each entry is documented), and on a
subsystem version above 5.01. Functions newer than XP must be reached
through GetProcAddress with a fallback, never imported.
"""
import json
import os
import re
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
BUILD = os.path.abspath(os.environ.get("VELLUM_BUILD") or os.path.join(ROOT, "build"))
I686 = os.path.join(BUILD, "i686")
OBJDUMP = "i686-w64-mingw32-objdump"

# Where each program lands in the i686 build tree (the first that exists).
PROGRAMS = {
    "VellumInstaller.exe": ["launcher/VellumInstaller.exe"],
    "VellumSetup.exe": ["setupui/controller/VellumSetup.exe"],
    # VellumSetup's maintenance build, shipped inside common.cab
    "uninstallUI/VellumSetup.exe": ["setupui/controller/uninstallUI/VellumSetup.exe"],
    "EXTRACT.EXE": ["extract/EXTRACT.EXE", "extract/extract.exe", "extract/EXTRACT.exe"],
}


def load_allow_list():
    with open(os.path.join(HERE, "xp_sp3_exports.json"), encoding="utf-8") as f:
        data = json.load(f)
    return {dll.lower(): set(funcs) for dll, funcs in data["dlls"].items()}, set(data["never"])


def find_program(name):
    for rel in PROGRAMS[name]:
        p = os.path.join(I686, rel)
        if os.path.exists(p):
            return p
    return None


def read_pe(path):
    """(machine line, {field: value}, {dll: [imported names]}) from objdump -p."""
    out = subprocess.run([OBJDUMP, "-p", path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         check=True).stdout.decode("utf-8", "replace")
    fields = {}
    for key in ("MajorSubsystemVersion", "MinorSubsystemVersion", "MajorOperatingSystemVersion",
                "MinorOperatingSystemVersion", "Magic"):
        m = re.search(r"^%s\s+(\S+)" % key, out, re.M)
        if m:
            fields[key] = m.group(1)
    fmt = re.search(r"file format (\S+)", out)
    imports = {}
    current = None
    for line in out.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = m.group(1).lower()
            imports.setdefault(current, [])
            continue
        if current is None:
            continue
        if not line.strip():
            current = None if imports[current] else current
            continue
        m = re.match(r"\s+[0-9a-fA-F]+\s+(\d+)\s+(\S+)\s*$", line)
        if m:
            imports[current].append(m.group(2))
            continue
        m = re.match(r"\s+[0-9a-fA-F]+\s+<none>\s*$|\s+(?:[0-9a-fA-F]+)\s+(\d+)\s*$", line)
        if m:
            imports[current].append("#ordinal")
    return (fmt.group(1) if fmt else ""), fields, imports


def audit(path, allowed, never):
    """Problems found in one program, as readable lines."""
    return audit_image(*read_pe(path), allowed, never)


def audit_image(fmt, fields, imports, allowed, never):
    problems = []
    if fmt != "pei-i386":
        problems.append("not an i686 image (%s): the audit must read the shipping build" % fmt)
    sub = (int(fields.get("MajorSubsystemVersion", "99")), int(fields.get("MinorSubsystemVersion", "99")))
    if sub > (5, 1):
        problems.append("subsystem version %d.%02d is above 5.01" % sub)
    if not imports:
        problems.append("no import table found")
    for dll, names in sorted(imports.items()):
        if dll not in allowed:
            problems.append("%s: DLL not shipped with Windows XP SP3 (or not on the list)" % dll)
            continue
        for n in names:
            if n in never:
                problems.append("%s!%s: newer than Windows XP; look it up with GetProcAddress" % (dll, n))
            elif n not in allowed[dll]:
                problems.append("%s!%s: not known to be exported by Windows XP SP3" % (dll, n))
    return problems


class AllowList(unittest.TestCase):
    def test_list_holds_nothing_newer_than_xp(self):
        allowed, never = load_allow_list()
        self.assertTrue(never)
        for dll, names in allowed.items():
            self.assertFalse(names & never, dll)

    def test_checker_flags_what_xp_lacks(self):
        allowed, never = load_allow_list()
        good = {"MajorSubsystemVersion": "5", "MinorSubsystemVersion": "01"}
        ok = audit_image("pei-i386", good, {"kernel32.dll": ["CloseHandle"]}, allowed, never)
        self.assertEqual(ok, [])
        cases = [
            ("pei-i386", good, {"kernel32.dll": ["GetTickCount64"]}, "newer than Windows XP"),
            ("pei-i386", good, {"kernel32.dll": ["CreateFile2"]}, "not known to be exported"),
            ("pei-i386", good, {"api-ms-win-core-synch-l1-2-0.dll": ["Sleep"]}, "DLL not shipped"),
            ("pei-i386", {"MajorSubsystemVersion": "6", "MinorSubsystemVersion": "00"},
             {"kernel32.dll": ["CloseHandle"]}, "subsystem version 6.00"),
            ("pei-x86-64", good, {"kernel32.dll": ["CloseHandle"]}, "not an i686 image"),
        ]
        for fmt, fields, imports, expected in cases:
            problems = audit_image(fmt, fields, imports, allowed, never)
            self.assertTrue(any(expected in p for p in problems), (imports, problems))

    def test_reads_the_i686_build(self):
        # The x86_64 build only exists for running under Wine here.
        self.assertTrue(I686.endswith(os.sep + "i686"))
        path = find_program("VellumInstaller.exe")
        if path:
            self.assertEqual(read_pe(path)[0], "pei-i386")


class ShippedPrograms(unittest.TestCase):
    maxDiff = None

    def check(self, name):
        path = find_program(name)
        self.assertIsNotNone(path, "%s is not built in %s (the i686 shipping build)" % (name, I686))
        allowed, never = load_allow_list()
        problems = audit(path, allowed, never)
        self.assertEqual(problems, [], "%s does not load on Windows XP SP3:\n  %s" % (path, "\n  ".join(problems)))

    def test_launcher(self):
        self.check("VellumInstaller.exe")

    def test_server(self):
        self.check("VellumSetup.exe")

    def test_server_maintenance_build(self):
        self.check("uninstallUI/VellumSetup.exe")

    def test_extract(self):
        self.check("EXTRACT.EXE")


if __name__ == "__main__":
    unittest.main()
