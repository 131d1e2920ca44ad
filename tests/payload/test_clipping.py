"""Every translation fits its control: the wizard's four pages in all 19
locales, with the catalogues and license texts of the full payload, each
control's text measured in its own font against its rectangle."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, os.path.join(ROOT, "payload", "full"))

import locales  # noqa: E402
from harness import winetest  # noqa: E402
from wizard.wizardtest import NEXT, OPT_AGREE, Host  # noqa: E402

FILES = os.environ.get("VELLUM_FULL_PAYLOAD_DIR", "")


@unittest.skipUnless(FILES and os.path.isdir(FILES), "no built full payload")
class ClippingTest(winetest.WineTestCase):
    def measure(self, host, page, loc):
        answer = winetest.inspector("measure", "--hwnd", host.hwnd)
        clipped = [(c["text"], c["need_width"], c["room_width"], c["need_height"], c["room_height"])
                   for c in answer["controls"] if not c["fits"] and not c.get("scrollable")]
        self.assertEqual(clipped, [], "%s, %s page" % (loc, page))
        return answer

    def test_all_locales_fit(self):
        for loc in locales.LOCALES:
            with self.subTest(locale=loc):
                files = {}
                for name in (locales.catalogue_name(loc), locales.license_name(loc)):
                    with open(os.path.join(FILES, name), "rb") as f:
                        files[name] = f.read()
                host = Host(self, files=files, locale=loc)
                try:
                    welcome = self.measure(host, "welcome", loc)
                    # The catalogue really was read: no English fallback caption.
                    if not loc.startswith("en-"):
                        self.assertNotIn("Next >", [c["text"] for c in welcome["controls"]])
                    host.click(NEXT)
                    self.measure(host, "license", loc)
                    host.click(OPT_AGREE)
                    host.click(NEXT)
                    self.measure(host, "ready", loc)
                    host.command("press-next")  # Install: the installing state
                    host.command("press-next")  # the finish page
                    self.measure(host, "finish", loc)
                finally:
                    host.quit()


if __name__ == "__main__":
    unittest.main()
