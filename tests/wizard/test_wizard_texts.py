"""The wizard's texts and license box: catalogue texts and fallbacks, the
paths formed from the program's folder, and license files decoded with the
code page of their locale whatever the system's code page is. The sessions
run side by side, each host in a folder of its own."""

import time
import unittest

from harness import winetest
from wizard.wizardtest import (BACK, CANCEL, LBL_DESC, LBL_TITLE, NEXT, OPT_AGREE, OPT_DISAGREE, INSTALL_CAPTION,
                               TOP_TITLE, Host, catalogue, control)

WELCOME_DESC_FALLBACK = (
    "This will install Quillfeather on your computer.\r\n\r\n"
    "It is recommended that you close all other applications before continuing.\r\n\r\n"
    "Click Next to continue, or Cancel to exit the installation.")
REVIEW_FALLBACK = ("Click Install to continue with the installation. or click Back if you want to review the "
                   "license agreement again.")

DE_LICENSE = "Lizenzvertrag für Übungen\r\n\r\n  Preis: 5 €  \r\nZeile mit LF\nletzte Zeile ohne Zeilenende"
KO_LICENSE = "최종 사용자 사용권 계약\r\n본 계약은 귀하와 회사 간의 계약입니다."
TW_LICENSE = "使用者授權合約\r\n請仔細閱讀下列條款。"
JA_LICENSE = "使用許諾契約書\r\nよくお読みください。"


class WizardTextsTest(winetest.WineTestCase):
    def test_texts_paths_and_licenses(self):
        hosts = {
            "de-de": Host(self, wait=False, locale="de-de", files={
                "InstallerUIText_de-de.xml": catalogue("de-de", {
                    "loc_UI_Title": "Quillfeather-Installation", "loc_UI_NextButton": "Weiter",
                    "loc_UI_CancelButton": "Abbrechen", "loc_UI_BackButton": "Zurück",
                    "loc_UI_welcomeText": "Willkommen", "loc_UI_InstallButton": "Installieren"}),
                "EULA_de-de.txt": DE_LICENSE.encode("cp1252")}),
            # Apostrophe escape; an empty license file.
            "fr-fr": Host(self, wait=False, locale="fr-fr", files={
                "InstallerUIText_fr-fr.xml": catalogue("fr-fr", {
                    "loc_UI_Option_Agree": "J&apos;accepte les conditions du contrat de licence"}),
                "EULA_fr-fr.txt": b""}),
            # No files at all.
            "ja-jp": Host(self, wait=False, locale="ja-jp"),
            # Empty locale: the en-us files.
            "": Host(self, wait=False, locale="", files={
                "InstallerUIText_en-us.xml": catalogue("en-us", {"loc_UI_Title": "Quillfeather Setup (en-us file)"}),
                "EULA_en-us.txt": b"English license\r\n"}),
            # Korean and Chinese licenses on systems of the other code page.
            "ko-kr": Host(self, wait=False, locale="ko-kr", env={"LC_ALL": "zh_TW.UTF-8"},
                          files={"EULA_ko-kr.txt": KO_LICENSE.encode("cp949")}),
            "zh-tw": Host(self, wait=False, locale="zh-tw", env={"LC_ALL": "ko_KR.UTF-8"},
                          files={"EULA_zh-tw.txt": TW_LICENSE.encode("cp950")}),
            # A locale outside the shipped ones: the system's code page.
            "ja-sys": Host(self, wait=False, locale="ja-jp", env={"LC_ALL": "ja_JP.UTF-8"},
                           files={"EULA_ja-jp.txt": JA_LICENSE.encode("cp932")}),
            # A license that cannot be read (a folder in its place), and one of
            # 10 MB, of which the box shows the first 256 KB.
            "en-gb": Host(self, wait=False, locale="en-gb", files={"EULA_en-gb.txt": None}),
            "en-au": Host(self, wait=False, locale="en-au", files={
                "EULA_en-au.txt": (b"A long license line of text that goes on and on. " * 2 + b"\r\n") * 100000}),
        }
        for h in hosts.values():
            h.ready()

        with self.subTest("de-de"):
            h = hosts["de-de"]
            d = h.dump()
            self.assertEqual(d["title"], "Quillfeather-Installation")
            self.assertEqual(h.command("caption"), "Quillfeather-Installation")
            self.assertEqual(control(d, NEXT)["text"], "Weiter >")
            self.assertEqual(control(d, CANCEL)["text"], "Abbrechen")
            self.assertEqual(control(d, BACK)["text"], "< Zurück")
            self.assertEqual(control(d, LBL_TITLE)["text"], "Willkommen")
            self.assertEqual(control(d, LBL_DESC)["text"], WELCOME_DESC_FALLBACK)  # keys not in the file
            self.assertEqual(control(d, INSTALL_CAPTION)["text"], REVIEW_FALLBACK)
            self.assertEqual(h.license_text(), DE_LICENSE)
            self.assertEqual(h.command("msg", "loc_UI_CancelButton"), "Abbrechen")
            self.assertEqual(h.command("msg", "loc_uninstall_progress"), "<fallback>")
            h.click(NEXT)
            h.click(OPT_AGREE)
            self.assertEqual(control(h.dump(), NEXT)["text"], "Weiter >")
            h.click(NEXT)
            d = h.dump()
            self.assertEqual(control(d, NEXT)["text"], "Installieren")
            self.assertEqual(control(d, TOP_TITLE)["text"], "Ready to Install")

        with self.subTest("fr-fr"):
            h = hosts["fr-fr"]
            d = h.dump()
            self.assertEqual(control(d, OPT_AGREE)["text"], "J'accepte les conditions du contrat de licence")
            self.assertEqual(control(d, OPT_DISAGREE)["text"], "I do not accept the terms in the license agreement")
            self.assertEqual(h.license_text(), "")

        with self.subTest("ja-jp without files"):
            h = hosts["ja-jp"]
            s = h.state()
            folder = winetest.to_windows(h.folder)
            self.assertEqual(s["localeID"], "ja-jp")
            self.assertEqual(s["uiStringsFileName"].lower(), (folder + "\\InstallerUIText_ja-jp.xml").lower())
            self.assertEqual(s["licFile"].lower(), (folder + "\\EULA_ja-jp.txt").lower())
            d = h.dump()
            self.assertEqual(d["title"], "Quillfeather Installation")
            self.assertEqual(control(d, NEXT)["text"], "Next >")
            self.assertEqual(control(d, BACK)["text"], "< Back")
            self.assertEqual(control(d, LBL_DESC)["text"], WELCOME_DESC_FALLBACK)
            self.assertEqual(h.license_text(), "")
            h.no_msgbox()

        with self.subTest("empty locale"):
            h = hosts[""]
            s = h.state()
            folder = winetest.to_windows(h.folder)
            self.assertEqual(s["localeID"], "en-us")
            self.assertEqual(s["uiStringsFileName"].lower(), (folder + "\\InstallerUIText_en-us.xml").lower())
            self.assertEqual(s["licFile"].lower(), (folder + "\\EULA_en-us.txt").lower())
            self.assertEqual(h.dump()["title"], "Quillfeather Setup (en-us file)")
            self.assertEqual(h.license_text(), "English license\r\n")

        with self.subTest("license code pages"):
            self.assertEqual(hosts["ko-kr"].license_text(), KO_LICENSE)
            self.assertEqual(hosts["zh-tw"].license_text(), TW_LICENSE)
            self.assertEqual(hosts["ja-sys"].license_text(), JA_LICENSE)

        with self.subTest("unreadable and large license files"):
            self.assertEqual(hosts["en-gb"].license_text(), "")
            hosts["en-gb"].no_msgbox()
            h = hosts["en-au"]
            shown = h.license_text()
            self.assertEqual(len(shown), 256 * 1024)
            self.assertTrue(shown.startswith("A long license line of text"))
            # Still responsive: the page changes on a click.
            h.click(NEXT)
            self.assertEqual(h.state()["currentStep"], "1")


if __name__ == "__main__":
    unittest.main()
