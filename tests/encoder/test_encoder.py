"""The Script Encoder: its form round-trips, and Wine's JScript.Encode engine
runs what it writes."""
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "buildtools", "scriptencoder"))
sys.path.insert(0, os.path.join(ROOT, "tests", "harness"))

import encode_script  # noqa: E402

TRICKY = ('var s = "double \\" single \' <tag attr=\\"1\\"> a@b.c @# @& \\\\ end";\r\n'
          "\tif (1 < 2 && 3 > 2) { s += '@'; }\r\n"
          "// comment with <, >, @ and \"quotes\"\n"
          "var t = '~^#@~^ not a marker';\r\n")


class FormTest(unittest.TestCase):
    def test_round_trip_of_tricky_text(self):
        for text in (TRICKY, TRICKY * 7, "x", ""):
            enc = encode_script.encode(text)
            self.assertTrue(enc.startswith("#@~^") and enc.endswith("^#~@"))
            body = enc[12:-12]
            self.assertEqual(encode_script._undword(enc[4:12]), len(body))
            self.assertEqual(encode_script.decode(enc), text)
            # Nothing that the engine treats specially leaks through unescaped.
            for ch in "<>\r\n":
                self.assertNotIn(ch, body)

    def test_every_position_uses_its_table(self):
        # The same character encodes differently depending on its position;
        # a wrong table order would still round-trip with our own decoder,
        # so pin the encoding of a known text to the three tables.
        enc = encode_script.encode("aaa")
        self.assertEqual(enc[12:15], "".join(chr(encode_script._ENCODE[t][ord("a")]) for t in (1, 2, 0)))

    def test_tampering_is_detected(self):
        enc = encode_script.encode("var a = 1;")
        broken = enc[:14] + ("A" if enc[14] != "A" else "B") + enc[15:]
        with self.assertRaises(encode_script.EncodeError):
            encode_script.decode(broken)

    def test_non_ascii_is_refused_with_its_line(self):
        with self.assertRaises(encode_script.EncodeError) as cm:
            encode_script.encode("var a;\r\nvar b = '\u00e9';\r\n")
        self.assertIn("line 2", str(cm.exception))


class WineEngineTest(unittest.TestCase):
    """Runs encoded scripts with Wine's cscript (JScript.Encode for .jse)."""

    @classmethod
    def setUpClass(cls):
        import winetest
        cls.wt = winetest
        winetest.setup()

    def run_encoded(self, source, tmp):
        path = os.path.join(tmp, "script.jse")
        with open(path, "wb") as f:
            f.write(encode_script.encode(source).encode("ascii"))
        return self.wt.run("cscript.exe", ["//nologo", self.wt.to_windows(path)], timeout=120)

    def test_engine_runs_encoded_script(self):
        import tempfile
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out.txt")
            # The script reports through a file and its exit code: cscript
            # ends with 0 even on an uncaught script error.
            source = (
                "try {\r\n"
                "  var fso = new ActiveXObject('Scripting.FileSystemObject');\r\n"
                "  var f = fso.CreateTextFile('%s', true);\r\n"
                "  var s = 'q\"uote \\'single\\' <tag> a@b';\r\n"
                "  f.Write(s + '|' + (6 * 7) + '|' + (1 < 2) + (2 > 1));\r\n"
                "  f.Close();\r\n"
                "  WScript.Quit(42);\r\n"
                "} catch (e) { WScript.Quit(99); }\r\n"
                % self.wt.to_windows(out).replace("\\", "\\\\"))
            res = self.run_encoded(source, tmp)
            self.assertEqual(res.code, 42, res.stderr)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), b"q\"uote 'single' <tag> a@b|42|truetrue")

    def test_engine_round_trips_text_through_the_encoding(self):
        import tempfile
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out.txt")
            # The script writes its own tricky lines back: they must reach
            # the engine exactly as written, CR LF included.
            lines = ['var a = "x<y>z@w";', "var b = '\"' + \"'\";", "// <>@ \"'", "var c = a + b;"]
            body = "\r\n".join(lines)
            source = (
                "var fso = new ActiveXObject('Scripting.FileSystemObject');\r\n"
                "var f = fso.CreateTextFile('%s', true);\r\n"
                "%s\r\n"
                "f.Write(%s);\r\n"
                "f.Close();\r\n"
                "WScript.Quit(c == 'x<y>z@w\"\\'' ? 0 : 3);\r\n"
                % (self.wt.to_windows(out).replace("\\", "\\\\"), body,
                   " + '\\r\\n' + ".join(repr(l) for l in lines)))
            res = self.run_encoded(source, tmp)
            self.assertEqual(res.code, 0, res.stderr)
            with open(out, "rb") as f:
                self.assertEqual(f.read().decode("ascii"), body)


if __name__ == "__main__":
    unittest.main()
