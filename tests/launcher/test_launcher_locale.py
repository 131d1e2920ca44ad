"""The locale chosen from the prefix's registry decides the launcher's
caption, its starting text and the title of its message boxes, read from
the running window through the inspector. A folder in place of one payload
file holds the run at a message box, so the window can be read."""
import os
import shutil
import unittest

from launcher.launcher_e2e import DEV_PAYLOAD, SOURCE1, SOURCE2, CANNOT_OPEN, LauncherCase, headline, payload_bytes

EN = ("Setup", "Starting Quillfeather Installation...")
DE = ("Installation", "Die Installation von Quillfeather wird gestartet...")
FR = ("Programme d'installation", "D\u00e9marrage de l'installation de Quillfeather...")


class LauncherLocaleTest(LauncherCase):
    def held_run(self):
        """A visible run held at "readme first.txt" (line 5 of 8): returns
        (message box, window dump) read while it is held, after the run."""
        self.obstacle("readme first.txt")
        proc = self.start(self.dev)
        box = self.next_box()
        dump = self.main_window()
        self.answer()
        self.assertEqual(0, self.wait_exit(proc))
        return box, dump

    def check(self, expected, catalogue):
        box, dump = self.held_run()
        caption, label = expected
        self.assertEqual((caption, CANNOT_OPEN, "stop"), (box["title"], headline(box["text"]), box["icon"]))
        self.assertEqual(caption, dump["title"])
        self.assertEqual(label, self.control(dump, 1001)["text"])
        bar = self.control(dump, 1002)["progress"]
        self.assertEqual((0, 100, 62), (bar["min"], bar["max"], bar["pos"]))  # 5 of 8: 62.5 rounds to 62
        self.assertIn(catalogue, os.listdir(self.workdir))

    def reset(self):
        shutil.rmtree(self.workdir, ignore_errors=True)
        self.reset_locale()

    def test_caption_and_text_follow_the_registry(self):
        with self.subTest("no values: en-us"):
            self.check(EN, "InstallerUIText_en-us.xml")
        with self.subTest("source 1 wins over source 2"):
            self.reset()
            self.set_locale(SOURCE1, "de-de")
            self.set_locale(SOURCE2, "FR_FR")
            self.check(DE, "InstallerUIText_de-de.xml")
        with self.subTest("source 1 as REG_EXPAND_SZ is ignored; source 2 is normalized"):
            self.reset()
            self.set_locale(SOURCE1, "de-de", type="expand_sz")
            self.set_locale(SOURCE2, "Fr_FR")
            self.check(FR, "InstallerUIText_fr-fr.xml")

    def test_locale_without_a_catalogue_gives_the_defaults(self):
        # FR_CA -> fr-ca: no line of the list names its catalogue, so the
        # list's last file is written under the catalogue's name.
        self.set_locale(SOURCE2, "FR_CA")
        self.check(EN, "InstallerUIText_fr-ca.xml")
        with open(self.work("InstallerUIText_fr-ca.xml"), "rb") as f:
            self.assertEqual(payload_bytes(DEV_PAYLOAD, "vellumVersion.txt"), f.read())


if __name__ == "__main__":
    unittest.main()
