"""The script's lookup of the uninstall and repair texts under Wine's script
host: the locale's catalogue read whole and checked as VellumSetup checks
its catalogues (a DTD is refused, a comment that mentions one is not), in
UTF-8 with and without a byte-order mark and of odd size, and in UTF-16;
placeholders filled in one pass; English for a locale that could name
another file and for unattended runs."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, os.path.join(ROOT, "payload", "full"))

import maintenance_texts as mt  # noqa: E402
import make_catalogues  # noqa: E402
from harness import winetest  # noqa: E402

DRIVER = r"""
var fso = new ActiveXObject("Scripting.FileSystemObject");
var here = fso.GetParentFolderName(WScript.ScriptFullName);
var quiet = false, mode = "uninstall", theLocale = "";
function chooseLocale() { return theLocale; }
function log(a, b) { }
var out = fso.CreateTextFile(here + "\\out.txt", true, true);
var locs = WScript.Arguments(0).split(",");
for (var i = 0; i <= locs.length; i++) {
    quiet = i == locs.length;
    theLocale = quiet ? "de-de" : locs[i];
    maintenanceLanguage = null;
    out.WriteLine((quiet ? "quiet" : theLocale) + "|" + maintenanceText("loc_UI_Uninstall_Done", "English") + "|" +
                  maintenanceText("loc_UI_Uninstall_Confirm", "E %1 %2", "3.0.6", "C:\\a%2b"));
}
// The check itself, apart from what the parser would make of the file.
var checked = ["xx-dt", "xx-cm"];
for (var k = 0; k < checked.length; k++) {
    var bytes = readFileBytes(here + "\\MaintenanceUIText_" + checked[k] + ".xml");
    out.WriteLine("check " + checked[k] + "|" + mayDeclareDtd(markupCodes(bytes)) + "|" + bytes.length);
}
out.Close();
"""
ROOT_TEMPLATE = ('<uiStrings><language localeId="%s"><resource><name>loc_UI_Uninstall_Done</name>'
                 '<value>%s</value></resource></language></uiStrings>')


class ScriptLookupTest(winetest.WineTestCase):
    def test_catalogues_checked_decoded_and_filled_in(self):
        folder = os.path.join(self.tmp, "copy")
        uninstall_ui = os.path.join(folder, "uninstallUI")
        make_catalogues.write_maintenance(uninstall_ui)  # where the kept script finds them
        # An odd size that ends in the root's ">": the last byte is read apart.
        b8 = "b\u00f6m \u5378 &apos;q&apos;"
        odd = '<?xml version="1.0" encoding="utf-8"?>' + ROOT_TEMPLATE % ("xx-b8", b8)
        if (3 + len(odd.encode("utf-8"))) % 2 == 0:  # after the byte-order mark
            b8 += "!"
            odd = '<?xml version="1.0" encoding="utf-8"?>' + ROOT_TEMPLATE % ("xx-b8", b8)
        files = {
            "xx-cm": b'<?xml version="1.0"?>\r\n<!-- not a <!DOCTYPE x> -->\r\n' +
                     (ROOT_TEMPLATE % ("xx-cm", "comment")).encode(),
            "xx-dt": b'<?xml version="1.0"?>\r\n<!doctype u [<!ENTITY e "entity">]>\r\n' +
                     (ROOT_TEMPLATE % ("xx-dt", "&e;")).encode(),
            "xx-16": b"\xff\xfe" + (ROOT_TEMPLATE % ("xx-16", "sechzehn \u00fc \u5378")).encode("utf-16-le"),
            "xx-b8": b"\xef\xbb\xbf" + odd.encode("utf-8"),
        }
        self.assertEqual(len(files["xx-b8"]) % 2, 1)
        for loc, data in files.items():
            with open(os.path.join(folder, "MaintenanceUIText_%s.xml" % loc), "wb") as f:
                f.write(data)
        with open(os.path.join(uninstall_ui, "MaintenanceUIText_..x.xml"), "wb") as f:
            f.write((ROOT_TEMPLATE % ("..x", "outside")).encode())
        with open(os.path.join(ROOT, "installscript", "maintenance_texts.js"), encoding="ascii") as f:
            script = f.read() + DRIVER
        path = os.path.join(folder, "driver.js")
        with open(path, "w", newline="\r\n") as f:
            f.write(script)
        locs = ["de-de", "zh-cn", "xx-cm", "xx-dt", "xx-16", "xx-b8", "..x", "de\\..\\x", "no-ne"]
        proc = self.start("cscript.exe", ["//nologo", winetest.to_windows(path), ",".join(locs)])
        self.assertEqual(proc.wait(120), 0, proc.output())
        with open(os.path.join(folder, "out.txt"), "rb") as f:
            lines = f.read().decode("utf-16").splitlines()
        got = {l.split("|")[0]: l.split("|")[1:] for l in lines}

        def text(loc, key):
            return mt.TEXTS[loc][mt.KEYS.index(key)]
        for loc in ("de-de", "zh-cn"):
            self.assertEqual(got[loc], [text(loc, "loc_UI_Uninstall_Done"),
                                        text(loc, "loc_UI_Uninstall_Confirm").replace("%1", "3.0.6")
                                        .replace("%2", "C:\\a%2b")])
        english = ["English", "E 3.0.6 C:\\a%2b"]
        self.assertEqual(got["xx-cm"], ["comment", english[1]])
        self.assertEqual(got["xx-16"], ["sechzehn \u00fc \u5378", english[1]])
        self.assertEqual(got["xx-b8"], [b8.replace("&apos;", "'"), english[1]])
        for refused in ("xx-dt", "..x", "de\\..\\x", "no-ne"):
            self.assertEqual(got[refused], english, refused)
        self.assertEqual(len(lines), len(locs) + 3)
        self.assertEqual(got["quiet"], english)  # unattended, de-de: English
        self.assertEqual(got["check xx-dt"], ["true", str(len(files["xx-dt"]))])
        self.assertEqual(got["check xx-cm"], ["false", str(len(files["xx-cm"]))])


if __name__ == "__main__":
    unittest.main()
