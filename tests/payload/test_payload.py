"""The full payload: the validator's verdicts, and the files the build made.

Host tests (no Wine). The built files are looked for in the folder named by
VELLUM_FULL_PAYLOAD_DIR (set by ctest); without it those tests are skipped.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
FULL = os.path.join(ROOT, "payload", "full")
sys.path.insert(0, FULL)

import locales  # noqa: E402
import make_catalogues  # noqa: E402
import payload_tool  # noqa: E402
import ui_texts  # noqa: E402

FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")
SETUP_EXE = os.environ.get("VELLUM_SETUP_EXE", "")
UNINSTALLUI_EXE = os.environ.get("VELLUM_UNINSTALLUI_EXE", "")
INSTALLER_EXE = os.environ.get("VELLUM_INSTALLER_EXE", "")
LIST = os.environ.get("VELLUM_FULL_PAYLOAD_LIST", "")
RC = os.environ.get("VELLUM_FULL_PAYLOAD_RC", "")
built = unittest.skipUnless(FILES and os.path.isdir(FILES), "no built payload")


def fake_payload(folder, lines):
    """Files that pass the content checks, one per line."""
    for name in lines:
        kind = payload_tool.kind_of(name)
        if kind == "catalogue":
            loc = name[len("InstallerUIText_"):-4]
            data = ('<?xml version="1.0" encoding="utf-8"?><uiStrings>'
                    '<language localeId="%s"/></uiStrings>' % loc).encode()
        elif kind == "license text":
            data = b"text\r\n"
        elif kind == "cabinet":
            data = b"MSCF" + b"\0" * 32
        elif kind == "installation script":
            data = b"#@~^AAAAAA==AAAAAA==^#~@"
        elif kind == "version file":
            data = b"version=3.0.6\r\n"
        else:
            data = b"MZ" + b"\0" * 62
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


class ValidatorTest(unittest.TestCase):
    def setUp(self):
        self.lines = locales.file_list()

    def assertRejected(self, lines, line_no, fragment):
        with self.assertRaises(payload_tool.PayloadError) as cm:
            payload_tool.validate_lines(lines)
        msg = str(cm.exception)
        self.assertIn("line %d " % line_no, msg)
        self.assertIn(fragment, msg)

    def test_the_tables_give_the_documented_list(self):
        payload_tool.validate_lines(self.lines)
        self.assertEqual(len(self.lines), 377)
        self.assertEqual(self.lines[4], "InstallerUIText_en-us.xml")   # resource 105
        self.assertEqual(self.lines[23], "EULA_en-us.txt")             # resource 124
        self.assertEqual(self.lines[373], "VellumSetup.jse")           # resource 474
        self.assertEqual(self.lines[374:], ["VellumSetup.exe", "vellumVersion.txt", "EXTRACT.EXE"])
        cabs = self.lines[38:373]
        self.assertEqual(len(set(cabs)), 335)
        self.assertIn("de-de_desktops_Heron_Windows XP Media Center.cab", cabs)
        self.assertIn("Zeph.CAB", cabs)
        self.assertNotIn("de-de_desktops_Osprey_all.cab", cabs)
        self.assertEqual(sum(1 for c in cabs if c.startswith("pt-pt_desktops_")), 4)

    def test_separator_is_rejected(self):
        for bad in ("sub\\common.cab", "sub/common.cab", "C:common.cab"):
            lines = list(self.lines)
            lines[44] = bad
            self.assertRejected(lines, 45, "not a bare file name")

    def test_duplicate_is_rejected_whatever_the_case(self):
        lines = list(self.lines)
        lines[60] = lines[59].upper()
        self.assertRejected(lines, 61, "duplicate of line 60")

    def test_wrong_order_is_rejected(self):
        lines = list(self.lines)
        lines[0], lines[1] = lines[1], lines[0]
        self.assertRejected(lines, 1, "expected 'InstallerUIText_da-dk.xml'")
        lines = list(self.lines)
        lines[18], lines[19] = lines[19], lines[18]   # catalogue and license swap ranges
        self.assertRejected(lines, 19, "catalogue range (101-119)")
        lines = list(self.lines)
        lines[373], lines[374] = lines[374], lines[373]
        self.assertRejected(lines, 374, "installation script")

    def test_cabinet_outside_the_scheme_is_rejected(self):
        lines = list(self.lines)
        lines[100] = "ja-jp_hsc.cab"
        self.assertRejected(lines, 101, "not a cabinet name of the naming scheme")

    def test_wrong_line_count_is_rejected(self):
        with self.assertRaises(payload_tool.PayloadError) as cm:
            payload_tool.validate_lines(self.lines[:-1])
        self.assertIn("376 lines", str(cm.exception))
        self.assertRejected(self.lines + ["extra.txt"], 378, "more than 377")

    def test_missing_and_malformed_files_are_rejected(self):
        with tempfile.TemporaryDirectory() as d:
            fake_payload(d, self.lines)
            payload_tool.validate(self.lines, d)
            os.remove(os.path.join(d, "en-us_hsc.cab"))
            line = self.lines.index("en-us_hsc.cab") + 1
            with self.assertRaises(payload_tool.PayloadError) as cm:
                payload_tool.validate(self.lines, d)
            self.assertIn("line %d " % line, str(cm.exception))
            self.assertIn("file missing", str(cm.exception))
            fake_payload(d, ["en-us_hsc.cab"])
            with open(os.path.join(d, "vellumVersion.txt"), "wb") as f:
                f.write(b"version=3.0.6\n")
            with self.assertRaises(payload_tool.PayloadError) as cm:
                payload_tool.validate(self.lines, d)
            self.assertIn("line 376 ", str(cm.exception))

    def test_command_stops_and_writes_nothing_on_a_violation(self):
        with tempfile.TemporaryDirectory() as d:
            fake_payload(d, self.lines)
            bad = list(self.lines)
            bad[200] = bad[201]
            listfile = os.path.join(d, "lines.txt")
            with open(listfile, "wb") as f:
                f.write("".join(l + "\r\n" for l in bad).encode())
            out_list, out_rc = os.path.join(d, "out.txt"), os.path.join(d, "out.rc")
            res = subprocess.run([sys.executable, os.path.join(FULL, "payload_tool.py"),
                                  "--files", d, "--list", out_list, "--rc", out_rc,
                                  "--lines", listfile],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(res.returncode, 1)
            self.assertIn(b"line 202 ", res.stderr)
            self.assertFalse(os.path.exists(out_list) or os.path.exists(out_rc))
            # The sound list goes through and binds 378 resources.
            res = subprocess.run([sys.executable, os.path.join(FULL, "payload_tool.py"),
                                  "--files", d, "--list", out_list, "--rc", out_rc],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.assertEqual(res.returncode, 0, res.stderr)
            with open(out_list, "rb") as f:
                self.assertEqual(f.read().count(b"\r\n"), 377)


class SourcesTest(unittest.TestCase):
    def test_committed_catalogues_match_the_table(self):
        self.assertEqual(make_catalogues.main(["--check", os.path.join(FULL, "catalogues")]), 0)


def catalogue_values(data):
    root = ET.fromstring(data)
    lang = root.find("language")
    return lang.get("localeId"), [(r.findtext("name"), r.findtext("value"))
                                  for r in lang.findall("resource")]


@built
class BuiltPayloadTest(unittest.TestCase):
    def read(self, name):
        with open(os.path.join(FILES, name), "rb") as f:
            return f.read()

    def test_catalogues(self):
        keys = ui_texts.KEYS
        self.assertEqual(34, len(set(keys)))
        for loc in locales.LOCALES:
            data = self.read(locales.catalogue_name(loc))
            self.assertEqual(data.startswith(b"\xef\xbb\xbf"), loc == "es-mx", loc)
            body = data[3:] if loc == "es-mx" else data
            self.assertTrue(body.startswith(b'<?xml version="1.0" encoding="utf-8"?>\r\n'), loc)
            self.assertIn(b"translate only the text inside the value elements", body)
            self.assertIsNone(re.search(rb"(?<!\r)\n", data), loc)
            self.assertLess(len(data), 6 * 1024, loc)
            locale_id, pairs = catalogue_values(body)
            self.assertEqual(locale_id, loc)
            names = [n for n, _ in pairs]
            self.assertEqual(names, keys, loc)  # the same 34 keys in the same order
            self.assertTrue(all(v for _, v in pairs), loc)

        def values(loc):
            return dict(catalogue_values(self.read(locales.catalogue_name(loc)).lstrip(b"\xef\xbb\xbf"))[1])
        de, us = values("de-de"), values("en-us")
        self.assertEqual((de["loc_UI_NextButton"], de["loc_UI_CancelButton"]), ("Weiter", "Abbrechen"))
        # Every locale holds its texts of the table, the one source of them.
        for loc in locales.LOCALES:
            with self.subTest(locale=loc):
                self.assertEqual(values(loc), dict(zip(ui_texts.KEYS, ui_texts.TEXTS[loc])))
        # One translation ends with a blank, which the file keeps.
        self.assertEqual("Fare clic su Fine per uscire dall'installazione ", values("it-it")["loc_UI_Finish_Prompt"])
        self.assertIn(b"dall&apos;installazione </value>", self.read("InstallerUIText_it-it.xml"))
        self.assertEqual(values("en-au"), us)
        self.assertEqual(values("zh-hk"), values("zh-tw"))
        self.assertIn(b"<value>J&apos;accepte les conditions du contrat de licence</value>",
                      self.read("InstallerUIText_fr-fr.xml"))
        self.assertEqual(values("fr-fr")["loc_UI_Option_Agree"],
                         "J'accepte les conditions du contrat de licence")
        # Every language is really translated: no text shared with English
        # beyond the few that stay the same (product-only or loan words).
        for loc in locales.LOCALES:
            if loc.startswith("en-"):
                continue
            same = [k for k, v in values(loc).items() if v == us[k]]
            self.assertLessEqual(len(same), 2, (loc, same))

    def test_licenses(self):
        for loc in locales.LOCALES:
            data = self.read(locales.license_name(loc))
            self.assertTrue(3 * 1024 <= len(data) <= 13 * 1024, (loc, len(data)))
            text = data.decode(locales.CODE_PAGES[loc])  # strict: raises on a bad byte
            self.assertIn("Quillfeather", text)
            self.assertIsNone(re.search(rb"(?<!\r)\n", data), loc)
            self.assertEqual(data.endswith(b"\r\n"), loc != "es-es", loc)
            self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        self.assertIn("\uc0ac\uc6a9\uad8c", self.read("EULA_ko-kr.txt").decode("cp949"))   # Korean
        self.assertIn("\u8bb8\u53ef\u534f\u8bae", self.read("EULA_zh-cn.txt").decode("cp936"))
        self.assertIn("\u6388\u6b0a\u5408\u7d04", self.read("EULA_zh-tw.txt").decode("cp950"))
        self.assertEqual(self.read("EULA_zh-hk.txt"), self.read("EULA_zh-tw.txt"))

    def test_programs_script_and_version(self):
        self.assertEqual(self.read("vellumVersion.txt"), locales.VERSION_TEXT)
        if INSTALLER_EXE:
            # The launcher's version block carries the same version.
            with open(INSTALLER_EXE, "rb") as f:
                exe = f.read()
            self.assertIn(locales.VERSION.encode("utf-16-le") + b"\0\0", exe)
            self.assertIn((locales.VERSION + ".0").encode("utf-16-le"), exe)
            x, y, z = (int(n) for n in locales.VERSION.split("."))
            self.assertIn(struct.pack("<HHHH", y, x, 0, z), exe)  # FILEVERSION x,y,z,0 as stored
        self.assertTrue(self.read("VellumSetup.jse").startswith(b"#@~^"))
        self.assertTrue(self.read("EXTRACT.EXE").startswith(b"MZ"))
        if SETUP_EXE:
            with open(SETUP_EXE, "rb") as f:
                self.assertEqual(self.read("VellumSetup.exe"), f.read())

    def test_list_and_resource_script(self):
        if not (LIST and RC):
            self.skipTest("list and resource script not given")
        with open(LIST, "rb") as f:
            self.assertEqual(f.read(), payload_tool.list_bytes(locales.file_list()))
        with open(RC, encoding="utf-8") as f:
            rc = f.read()
        self.assertIn("\nLANGUAGE 0, 1\n", rc)
        ids = [int(m) for m in re.findall(r"^(\d+) RCDATA ", rc, re.M)]
        self.assertEqual(ids, list(range(100, 478)))
        self.assertRegex(rc, r'\n105 RCDATA "[^"]*/InstallerUIText_en-us\.xml"\n')
        self.assertRegex(rc, r'\n124 RCDATA "[^"]*/EULA_en-us\.txt"\n')
        self.assertRegex(rc, r'\n475 RCDATA "[^"]*/VellumSetup\.exe"\n')

    @unittest.skipUnless(shutil.which("gcab"), "gcab missing")
    def test_cabinets(self):
        cabs = locales.all_cabinets()
        sizes = {}
        for name in cabs:
            path = os.path.join(FILES, name)
            sizes[name] = os.path.getsize(path)
            res = subprocess.run(["gcab", "-t", path], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            self.assertEqual(res.returncode, 0, (name, res.stderr))
            members = res.stdout.decode("utf-8").splitlines()
            self.assertIn("package_description.xml", members, name)
            loc = name[:5] if re.match(r"[a-z]{2}-[a-z]{2}_", name) else "all"
            self.assertTrue(any(m.startswith("locales\\%s\\" % loc) and m.endswith(".htm")
                                for m in members), name)
            self.assertTrue(any(m.endswith(".bmp") for m in members), name)
            self.assertTrue(any(m.endswith(".css") for m in members), name)
            self.assertTrue(any(m.endswith(".js") for m in members), name)
            if name.startswith(loc + "_all_all_all"):
                self.assertIn("locales\\%s\\index.htm" % loc, members)
            if name == "common.cab":
                self.assertIn("VellumSetup.jse", members)
                self.assertIn("uninstallUI\\VellumSetup.exe", members)
        total = sum(sizes.values())
        self.assertTrue(7.6e6 < total < 9.2e6, total)
        largest = max(sizes.values())
        self.assertTrue(620e3 < largest < 740e3, largest)
        # common.cab holds this build's script and VellumSetup's maintenance
        # build (a program of its own, not the payload's VellumSetup).
        with tempfile.TemporaryDirectory() as d:
            subprocess.run(["gcab", "-x", "-C", d, os.path.join(FILES, "common.cab")], check=True,
                           stdout=subprocess.DEVNULL)
            with open(os.path.join(d, "VellumSetup.jse"), "rb") as f:
                self.assertEqual(f.read(), self.read("VellumSetup.jse"))
            with open(os.path.join(d, "uninstallUI", "VellumSetup.exe"), "rb") as f:
                kept = f.read()
            self.assertNotEqual(kept, self.read("VellumSetup.exe"))
            self.assertLess(len(kept), len(self.read("VellumSetup.exe")))
            if UNINSTALLUI_EXE:
                with open(UNINSTALLUI_EXE, "rb") as f:
                    self.assertEqual(kept, f.read())


if __name__ == "__main__":
    unittest.main()
