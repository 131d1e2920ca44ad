"""The uninstall and repair texts: every locale's catalogue in common.cab's
uninstallUI folder holds every text, decoded as the table says; the English
texts the script and VellumSetup fall back to are the table's."""
import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "payload", "full"))

import locales  # noqa: E402
import maintenance_texts as mt  # noqa: E402
import make_catalogues  # noqa: E402

FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")
LITERAL = r'"(?:[^"\\]|\\.)*"'


def script_source():
    """The installation script's modules, as the build joins them."""
    source = ""
    for path in sorted(glob.glob(os.path.join(ROOT, "installscript", "*.js"))):
        with open(path, encoding="ascii") as f:
            source += f.read()
    return source


def script_fallbacks():
    """key -> the English text of each maintenanceText call in the script."""
    source = script_source()
    calls = re.findall(r'maintenanceText\("(\w+)",\s*((?:%s\s*\+?\s*)+)' % LITERAL, source)
    out = {}
    for key, literals in calls:
        text = "".join(eval(lit) for lit in re.findall(LITERAL, literals))  # plain string literals
        out.setdefault(key, set()).add(text)
    return out


class MaintenanceTextsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        if FILES:
            # The catalogues as common.cab carries them.
            subprocess.run(["gcab", "-x", "-C", cls.dir.name, os.path.join(FILES, "common.cab")], check=True,
                           stdout=subprocess.DEVNULL)
            cls.folder = os.path.join(cls.dir.name, "uninstallUI")
        else:
            make_catalogues.write_maintenance(cls.dir.name)
            cls.folder = cls.dir.name

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_every_locale_holds_every_text_decoded(self):
        english = mt.TEXTS["en-us"]
        for loc in locales.LOCALES:
            with self.subTest(locale=loc):
                with open(os.path.join(self.folder, "MaintenanceUIText_%s.xml" % loc), "rb") as f:
                    data = f.read()
                self.assertTrue(data.startswith(b"<?xml"), "a declaration first, no byte-order mark")
                self.assertNotIn(b"<!DOCTYPE", data)
                data.decode("utf-8")  # strict: the file is UTF-8
                root = ET.fromstring(data)
                languages = root.findall("language")
                self.assertEqual([l.get("localeId") for l in languages], [loc])
                names = [r.findtext("name") for r in languages[0].findall("resource")]
                values = [r.findtext("value") for r in languages[0].findall("resource")]
                self.assertEqual(names, mt.KEYS)
                self.assertEqual(values, mt.TEXTS[loc])
                for key, value in zip(names, values):
                    self.assertTrue(value.strip(), key)
                    self.assertNotIn("\ufffd", value, key)
                    self.assertEqual(sorted(set(re.findall(r"%[0-9]", value))), mt.PLACEHOLDERS[key], key)
                if not loc.startswith("en-"):
                    untranslated = [k for k, v, e in zip(names, values, english) if v == e]
                    self.assertEqual(untranslated, [], "left in English")
        # Characters that need escapes and non-Latin scripts come through.
        self.assertIn("n'était", mt.TEXTS["fr-fr"][mt.KEYS.index("loc_UI_Repair_Done_Nothing")])
        self.assertIn("卸载", mt.TEXTS["zh-cn"][mt.KEYS.index("loc_UI_Uninstall_Progress")])

    def test_fallbacks_are_the_english_table(self):
        english = dict(zip(mt.KEYS, mt.TEXTS["en-us"]))
        used = script_fallbacks()
        # Every text is shown by someone: the script, or VellumSetup's
        # progress window (the verifying, fixing and uninstall texts).
        with open(os.path.join(ROOT, "setupui", "controller", "controller.cpp"), encoding="utf-8") as f:
            controller = f.read()
        program = {k: set([t]) for k, t in re.findall(r'L"\w+",\s*L"(loc_UI_\w+)",\s*L"([^"]*)"\}', controller)
                   if k != "loc_UI_Install_Progress"}  # the installation's own
        for key, texts in list(used.items()) + list(program.items()):
            self.assertIn(key, english)
            self.assertEqual(texts, {english[key]}, key)
        # The caption: the title the script starts with.
        script = script_source()
        self.assertIn('var title = "%s";' % english["loc_UI_Title"], script)
        self.assertIn('maintenanceText("loc_UI_Title", title)', script)
        self.assertEqual(set(used) | set(program) | {"loc_UI_Title"}, set(mt.KEYS))

    def test_uninstall_and_repair_show_no_literal_english(self):
        # What uninstall and repair tell a user goes through the table: a
        # literal message in their code would stay English in every locale.
        with open(os.path.join(ROOT, "installscript", "maintenance.js"), encoding="ascii") as f:
            code = f.read()
        with open(os.path.join(ROOT, "installscript", "main.js"), encoding="ascii") as f:
            main = f.read()
        start = main.index("function maintenanceMain(")
        code += main[start:main.index("\nfunction ", start + 1)]
        shown = re.findall(r"\b(?:fail|showBox|tellDone|tellFailure)\(\s*([^\n]*)", code)
        self.assertTrue(shown)
        for first in shown:
            # A choice between texts: each branch is then a line of its own.
            self.assertRegex(first, r'^[\w.]+ == ("\w*"|\d+) \?$|^([\w.]+ == ("\w*"|\d+) \? )?maintenanceText\(', first)


if __name__ == "__main__":
    unittest.main()
