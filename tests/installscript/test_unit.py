"""The installation script's pure parts under Wine's script host: the
modules (all but main.js) joined with unit_tests.js, run by cscript."""
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "harness"))

import winetest as wt  # noqa: E402

MODULES = [m for m in os.environ.get("VELLUM_SCRIPT_MODULES", "").split("|") if m]


@unittest.skipUnless(MODULES, "VELLUM_SCRIPT_MODULES is not set (run through ctest)")
class ScriptUnitTest(wt.WineTestCase):
    def test_pure_parts(self):
        parts = []
        for path in MODULES:
            if os.path.basename(path) != "main.js":
                with open(path, encoding="ascii") as f:
                    parts.append(f.read())
        with open(os.path.join(HERE, "unit_tests.js"), encoding="ascii") as f:
            parts.append(f.read())
        script = os.path.join(self.tmp, "unit.js")
        with open(script, "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(parts))
        result = wt.run("cscript.exe", ["//nologo", wt.to_windows(script)], timeout=300)
        out = result.stdout if isinstance(result.stdout, str) else result.stdout.decode("utf-8", "replace")
        self.assertIn(" passed, 0 failed", out, out + str(result.stderr))
        self.assertEqual(result.code, 0, out)


if __name__ == "__main__":
    unittest.main()
