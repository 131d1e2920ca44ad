"""Hostile input, end to end under Wine.

Every case checks: no crash, no hang, the message or fallback that the
program documents, and nothing already written lost. Cases are grouped so
that one program run serves several of them; each group is one test method
and adds rows (case, expected, seen) to the table printed at the end.
"""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winerun  # noqa: E402
import make_payloads  # noqa: E402
from harness import product, winetest  # noqa: E402

BIN = winerun.bin_dir()
HERE_BIN = os.path.join(BIN, "tests", "hostile")
PAYLOADS = os.path.join(HERE_BIN, "payloads")
LOOKUP = os.path.join(HERE_BIN, "lookupdump.exe")
HOLD = os.path.join(BIN, "testtools", "holdfile", "holdfile.exe")

MSG_CANNOT_OPEN = "Couldn't open file for writing."
MSG_HRES = "hres is 0"
MSG_NO_RESOURCE = "Could not load resource."
KEY1 = product.LOCALE_KEY
KEY2 = product.OOBE_KEY
TITLE = product.TITLE

ROWS = []


def dev_file(name):
    return make_payloads.source_file(os.path.join(winerun.ROOT, "payload", "dev"), name)


def launcher(variant):
    return os.path.join(HERE_BIN, "hostile_%s.exe" % variant)


def payload_file(variant, name):
    with open(os.path.join(PAYLOADS, variant, name), "rb") as f:
        return f.read()


def list_lines(variant):
    with open(os.path.join(PAYLOADS, variant, "list.txt"), "rb") as f:
        data = f.read().decode("ascii")
    lines = data.split("\r\n")
    if data.endswith("\r\n"):
        lines.pop()
    return lines


def read(path):
    with open(path, "rb") as f:
        return f.read()


def head(box):
    """A box's first paragraph: what failed (the path and the system's reason follow)."""
    return box["text"].replace("\r\n", "\n").split("\n\n")[0]


def boxes_text(boxes):
    # Whole texts: the table cuts its column, a failure report should not.
    return "; ".join("%s[%s]" % (" / ".join(b["text"].replace("\r\n", "\n").split("\n")), b["icon"])
                     for b in boxes) or "no box"


class Hostile(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(launcher("base")):
            raise unittest.SkipTest("hostile launcher variants are not built (launcher missing?)")
        winerun.ensure_prefix()
        winerun.ensure_display()
        cls.prefix_c = os.path.join(winerun.wine_env()["WINEPREFIX"], "drive_c")
        winerun.inspector(["regdel", "--key", KEY1])
        winerun.inspector(["regdel", "--key", KEY2])

    @classmethod
    def tearDownClass(cls):
        winerun.inspector(["regdel", "--key", KEY1])
        winerun.inspector(["regdel", "--key", KEY2])
        winerun.end_prefix_processes()
        winerun.stop_display()
        width = max([len(r[0]) for r in ROWS] + [4])
        print("\n%-*s | %-4s | %-60s | %s" % (width, "case", "ok", "expected", "seen"))
        for case, expected, seen, ok in ROWS:
            print("%-*s | %-4s | %-60s | %s" % (width, case, "ok" if ok else "FAIL", expected[:60], seen[:100]))
        print("%d cases, %d failed" % (len(ROWS), sum(1 for r in ROWS if not r[3])))

    def setUp(self):
        self.failures = []
        self.stderr_mark = winetest.resident_stderr_mark()

    def tearDown(self):
        if self.failures:  # each in full: a list comparison would shorten them
            said = winetest.resident_stderr(self.stderr_mark).strip()
            self.fail("cases failed:\n" + "\n".join(self.failures) +
                      ("\nWine, for the programs the inspector started: " + said[-1500:] if said else ""))

    def row(self, case, expected, seen, ok):
        ROWS.append((case, expected, seen, bool(ok)))
        if not ok:
            self.failures.append("%s: expected %s, seen %s" % (case, expected, seen))

    # ---- helpers -------------------------------------------------------

    def temp(self, tag):
        d = winerun.fresh_dir("hostile-" + tag)
        self.addCleanup(shutil.rmtree, d, True)
        return d

    def run_launcher(self, variant, temp_win=None, unset_temp=False, cwd=None, args=("/q",), timeout=60):
        env = {}
        unset = ()
        if unset_temp:
            unset = ("TEMP", "TMP")
        elif temp_win is not None:
            env = {"TEMP": temp_win, "TMP": temp_win}
        return winerun.drive([winerun.winpath(launcher(variant))] + list(args), env, unset=unset, cwd=cwd,
                             timeout=timeout)

    def intact(self, variant, folder, names):
        """Names whose file in folder is missing or differs from the payload."""
        bad = []
        for n in names:
            p = os.path.join(folder, n)
            if not os.path.isfile(p) or read(p) != payload_file(variant, n):
                bad.append(n)
        return bad

    def sound_run(self, case, variant, code, boxes, folder, expected="exit 0, every file intact, no box"):
        bad = self.intact(variant, folder, list_lines(variant))
        seen = "exit %s, %s, not intact: %s" % (code, boxes_text(boxes), bad or "none")
        self.row(case, expected, seen, code == 0 and not boxes and not bad)

    # ---- the working folder and its environment --------------------------

    def test_a_temp_variants(self):
        root_wf = os.path.join(self.prefix_c, "_hsc_Vellum")
        for case, unset, value in (("TEMP unset", True, None), ("TEMP empty", False, "")):
            shutil.rmtree(root_wf, ignore_errors=True)
            code, boxes = self.run_launcher("base", value, unset_temp=unset, cwd="C:\\")
            self.sound_run(case + " (root of the current drive)", "base", code, boxes, root_wf)
        shutil.rmtree(root_wf, ignore_errors=True)

        t = self.temp("missing")
        code, boxes = self.run_launcher("base", winerun.winpath(os.path.join(t, "no", "such")))
        ok = code == 1 and len(boxes) == 1 and "could not be created" in boxes[0]["text"] and \
            boxes[0]["icon"] == "stop" and not os.path.exists(os.path.join(t, "no"))
        self.row("TEMP names a missing folder", "stop box 'could not be created', exit 1, nothing written",
                 "exit %s, %s" % (code, boxes_text(boxes)), ok)

        for case, name in (("TEMP Cyrillic", "Временные файлы"), ("TEMP CJK", "临时文件夹 テンプ"),
                           ("TEMP with trailing backslash", "trail")):
            t = self.temp("nonascii")
            folder = os.path.join(t, name)
            os.mkdir(folder)
            tw = winerun.winpath(folder) + ("\\" if "trailing" in case else "")
            code, boxes = self.run_launcher("base", tw)
            self.sound_run(case, "base", code, boxes, os.path.join(folder, "_hsc_Vellum"))

        # Longer than MAX_PATH together with the file names: each file is
        # either written whole or reported; the run ends normally.
        t = self.temp("long")
        deep = t
        while len(winerun.winpath(deep)) < 235:
            deep = os.path.join(deep, "d" * 20)
        os.makedirs(deep)
        code, boxes = self.run_launcher("base", winerun.winpath(deep))
        wf = os.path.join(deep, "_hsc_Vellum")
        names = list_lines("base")
        missing = [n for n in names if not os.path.exists(os.path.join(wf, n))]
        written_bad = [n for n in names if os.path.exists(os.path.join(wf, n)) and
                       read(os.path.join(wf, n)) != payload_file("base", n)]
        reported = sum(1 for b in boxes if head(b) == MSG_CANNOT_OPEN)
        # The script's path is too long for the shell: its documented message.
        shell = [b for b in boxes if b["text"].startswith("error executing ") and b["icon"] == "stop"]
        other = [b for b in boxes if head(b) != MSG_CANNOT_OPEN and b not in shell and
                 "could not be created" not in b["text"]]
        ok = code is not None and not written_bad and not other and (
            reported >= len(missing) or (code == 1 and not os.path.exists(wf))) and (code != 3 or shell)
        self.row("TEMP longer than MAX_PATH with the names",
                 "each file written whole or reported; script start reported", "exit %s, %d missing, %d reported,"
                 " damaged %s, %s" % (code, len(missing), reported, written_bad, boxes_text(shell + other)), ok)

        t = self.temp("tempfile")
        f = os.path.join(t, "afile")
        with open(f, "wb") as fh:
            fh.write(b"keep me")
        code, boxes = self.run_launcher("base", winerun.winpath(f))
        ok = code == 1 and len(boxes) == 1 and boxes[0]["icon"] == "stop" and read(f) == b"keep me"
        self.row("TEMP names a file", "stop box, exit 1, the file unchanged", "exit %s, %s" % (code, boxes_text(boxes)), ok)

        t = self.temp("wfisfile")
        wf = os.path.join(t, "_hsc_Vellum")
        with open(wf, "wb") as fh:
            fh.write(b"not a folder")
        code, boxes = self.run_launcher("base", winerun.winpath(t))
        ok = code == 1 and len(boxes) == 1 and "could not be created" in boxes[0]["text"] and \
            read(wf) == b"not a folder"
        self.row("working folder is a file", "stop box 'could not be created', exit 1, file unchanged",
                 "exit %s, %s" % (code, boxes_text(boxes)), ok)

        t = self.temp("reuse")
        wf = os.path.join(t, "_hsc_Vellum")
        os.mkdir(wf)
        with open(os.path.join(wf, "keep.txt"), "wb") as fh:
            fh.write(b"from an earlier run")
        with open(os.path.join(wf, "a.txt"), "wb") as fh:
            fh.write(b"an older and much longer a.txt " * 100)
        code, boxes = self.run_launcher("base", winerun.winpath(t))
        ok = read(os.path.join(wf, "keep.txt")) == b"from an earlier run"
        self.sound_run("working folder reused: list files replaced", "base", code, boxes, wf)
        self.row("working folder reused: other files kept", "keep.txt unchanged",
                 "kept" if ok else "changed or lost", ok)

        t = self.temp("args")
        long_args = ["/q"] + ["arg%04d" % i for i in range(900)]
        code, boxes = self.run_launcher("base", winerun.winpath(t), args=long_args)
        self.sound_run("command line of 8000 characters", "base", code, boxes, os.path.join(t, "_hsc_Vellum"))
        t = self.temp("args2")
        code, boxes = self.run_launcher("base", winerun.winpath(t), args=("/q", 'say "hi"', "Ω≈ç√", "%TEMP%"))
        self.sound_run("command line with quotes, Unicode, %VAR%", "base", code, boxes,
                       os.path.join(t, "_hsc_Vellum"))

    def test_b_targets(self):
        # A folder stands in for a file that cannot be created: Wine, as root,
        # opens read-only files for writing all the same.
        t = self.temp("rofolder")
        wf = os.path.join(t, "_hsc_Vellum")
        os.makedirs(os.path.join(wf, "c.txt"))
        code, boxes = self.run_launcher("base", winerun.winpath(t))
        others = [n for n in list_lines("base") if n != "c.txt"]
        bad = self.intact("base", wf, others)
        ok = code == 0 and [head(b) for b in boxes] == [MSG_CANNOT_OPEN] and boxes[0]["icon"] == "stop" \
            and not bad and os.path.isdir(os.path.join(wf, "c.txt"))
        self.row("target cannot be created (read-only)", "one stop box, others written, run goes on",
                 "exit %s, %s, bad %s" % (code, boxes_text(boxes), bad), ok)

        t = self.temp("held")
        wf = os.path.join(t, "_hsc_Vellum")
        os.makedirs(wf)
        held = os.path.join(wf, "a.txt")
        with open(held, "wb") as fh:
            fh.write(b"held by another program")
        holder = winerun.start([HOLD, winerun.winpath(held), "60"])
        try:
            for _ in range(100):
                if os.path.exists(held + ".held"):
                    break
                time.sleep(0.1)
            code, boxes = self.run_launcher("base", winerun.winpath(t))
        finally:
            winerun.stop(holder)
        others = [n for n in list_lines("base") if n != "a.txt"]
        bad = self.intact("base", wf, others)
        ok = code == 0 and [head(b) for b in boxes] == [MSG_CANNOT_OPEN] and not bad and \
            read(held) == b"held by another program"
        self.row("target held open without sharing", "one stop box, held file unchanged, others written",
                 "exit %s, %s, bad %s" % (code, boxes_text(boxes), bad), ok)

        # Disk full: TEMP on a small tmpfs. Every further file would fail
        # alike, so the run stops at the first with one box and exit 4.
        t = self.temp("full")
        mnt = os.path.join(t, "mnt")
        os.mkdir(mnt)
        cats = sum(len(payload_file("base", n)) for n in list_lines("base")[:3])
        size_kb = (cats + len(payload_file("base", "a.txt"))) // 1024 + 24
        r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % size_kb, "tmpfs", mnt],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        if r.returncode != 0:
            print("disk full while writing: skipped, mounting a tmpfs was refused here")
            return
        try:
            code, boxes = self.run_launcher("base", winerun.winpath(mnt))
            wf = os.path.join(mnt, "_hsc_Vellum")
            before = self.intact("base", wf, list_lines("base")[:4])
            after = [n for n in list_lines("base")[4:] if os.path.exists(os.path.join(wf, n))]
            ok = code == 4 and len(boxes) == 1 and boxes[0]["icon"] == "stop" and \
                "(error 112)" in boxes[0]["text"] and not before and not after
            self.row("disk full while writing", "one stop box naming error 112, exit 4, earlier files intact, "
                     "no short or later file", "exit %s, %s, damaged before: %s, after: %s" % (
                         code, boxes_text(boxes), before, after), ok)
        finally:
            winerun.end_prefix_processes()
            subprocess.run(["umount", "-l", mnt], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    # ---- the file list -------------------------------------------------------

    def test_c_file_lists(self):
        t = self.temp("blank")
        code, boxes = self.run_launcher("blankline", winerun.winpath(t))
        wf = os.path.join(t, "_hsc_Vellum")
        good = [n for n in list_lines("blankline") if n]
        bad = self.intact("blankline", wf, good)
        ok = code == 0 and not bad and not os.path.exists(os.path.join(wf, "blank.txt")) and \
            all(head(b) == MSG_CANNOT_OPEN for b in boxes) and len(boxes) <= 1
        self.row("file list with a blank line", "blank line skipped or reported, others written",
                 "exit %s, %s, bad %s" % (code, boxes_text(boxes), bad), ok)

        t = self.temp("nocrlf")
        code, boxes = self.run_launcher("nofinalcrlf", winerun.winpath(t))
        self.sound_run("file list without a final CR LF", "nofinalcrlf", code, boxes, os.path.join(t, "_hsc_Vellum"))

        t = self.temp("sep")
        inner = os.path.join(t, "inner")
        os.mkdir(inner)
        code, boxes = self.run_launcher("separators", winerun.winpath(inner))
        wf = os.path.join(inner, "_hsc_Vellum")
        good = ["InstallerUIText_de-de.xml", "InstallerUIText_en-us.xml", "InstallerUIText_fr-fr.xml",
                "a.txt", "c.txt", "VellumSetup.jse"]
        bad = self.intact("separators", wf, good)
        refused = sum(1 for b in boxes if head(b) == MSG_CANNOT_OPEN)
        leaks = {
            "sub\\x.txt": [os.path.join(wf, "sub")],
            "sub/y.txt": [os.path.join(wf, "sub")],
            "..\\escape.txt": [os.path.join(inner, "escape.txt")],
            "..": [],
            "C:\\abs.txt": [os.path.join(self.prefix_c, "abs.txt")],
            "a.txt:ads": [os.path.join(wf, "a.txt:ads")],
            " ": [os.path.join(wf, " ")],
        }
        for line, paths in leaks.items():
            leaked = [p for p in paths if os.path.exists(p)]
            self.row("list line %r" % line, "refused with a stop box, nothing written outside",
                     "exit %s, leaked %s" % (code, leaked or "nothing"), code == 0 and not leaked)
        self.row("file list with 7 hostile lines: the others", "7 refusals, the sound files intact",
                 "%d refusals, bad %s, others: %s" % (refused, bad, boxes_text(
                     [b for b in boxes if head(b) != MSG_CANNOT_OPEN])),
                 refused == 7 and not bad and len(boxes) == 7)

        t = self.temp("more")
        code, boxes = self.run_launcher("morelines", winerun.winpath(t))
        wf = os.path.join(t, "_hsc_Vellum")
        texts = [b["text"] for b in boxes]
        bad = self.intact("morelines", wf, list_lines("base"))
        extra = [n for n in ("extra1.txt", "extra2.txt", "extra3.txt") if os.path.exists(os.path.join(wf, n))]
        ok = code == 0 and texts == [MSG_HRES, MSG_NO_RESOURCE] * 3 and not bad and not extra
        self.row("file list with more lines than resources", "'hres is 0' + 'Could not load resource.' x3, no file",
                 "exit %s, %s, created %s" % (code, boxes_text(boxes), extra), ok)

    # ---- the catalogue lookup --------------------------------------------------

    def test_d_catalogues(self):
        t = self.temp("cat")
        secret = os.path.join(self.prefix_c, make_payloads.SECRET_NAME)
        with open(secret, "w") as fh:
            fh.write(make_payloads.CANARY)
        self.addCleanup(os.remove, secret)
        secret_url = "file:///C:/" + make_payloads.SECRET_NAME
        good = read(dev_file("InstallerUIText_de-de.xml"))
        fr = read(dev_file("InstallerUIText_fr-fr.xml"))
        head = '<?xml version="1.0" encoding="UTF-8"?>\r\n'
        body = ('<uiStrings><language localeId="en-us"><resource><name>loc_UI_Setup</name>'
                '<value>%s</value></resource></language></uiStrings>\r\n')
        files = {
            "malformed": (head + '<uiStrings><language localeId="en-us"><resource>').encode(),
            "empty": b"",
            "binary": bytes(range(256)) * 64,
            "laughs": make_payloads.billion_laughs(),
            "xxe": make_payloads.external_entity("C:/" + make_payloads.SECRET_NAME),
            "xxe-param": (head + '<!DOCTYPE uiStrings [<!ENTITY %% p SYSTEM "%s"> %%p;]>\r\n' % secret_url +
                          body % "x").encode(),
            "doctype-only": (head + '<!DOCTYPE uiStrings>\r\n' + body % "doctype").encode(),
            "utf16-xxe": ('<?xml version="1.0" encoding="UTF-16"?>\r\n<!DOCTYPE uiStrings [<!ENTITY s SYSTEM "%s">]>'
                          % secret_url + body % "&s;").encode("utf-16"),
            "undefined-entity": (head + body % "&nosuch;").encode(),
            "xinclude": (head + '<uiStrings xmlns:xi="http://www.w3.org/2001/XInclude"><language localeId="en-us">'
                         '<resource><name>loc_UI_Setup</name><value><xi:include href="%s" parse="text"/>'
                         '</value></resource></language></uiStrings>' % secret_url).encode(),
            "stylesheet-pi": (head + '<?xml-stylesheet type="text/xsl" href="%s"?>\r\n' % secret_url +
                              body % "styled").encode(),
            "many-resources": (head + '<uiStrings><language localeId="en-us">' +
                               "".join('<resource><name>k%d</name><value>v%d</value></resource>' % (i, i)
                                       for i in range(9000)) +
                               '<resource><name>loc_UI_Setup</name><value>found</value></resource>'
                               '</language></uiStrings>').encode(),
            "de-de": good,
            "fr-fr": fr,
            "bom": b"\xef\xbb\xbf" + (head + body % "with BOM").encode(),
            "second-language": (head + '<uiStrings><language localeId="xx-yy"/><language localeId="en-us">'
                                '<resource><name>loc_UI_Setup</name><value>second</value></resource>'
                                '</language></uiStrings>').encode(),
            "cdata-markup": (head + body % "<![CDATA[<b>&amp;</b>]]>").encode(),
        }
        for name, data in files.items():
            with open(os.path.join(t, name + ".xml"), "wb") as fh:
                fh.write(data)
        # 50 MB: a valid catalogue behind a huge comment.
        with open(os.path.join(t, "huge.xml"), "wb") as fh:
            fh.write(head.encode() + b"<!-- ")
            chunk = b"x" * (1 << 20)
            for _ in range(50):
                fh.write(chunk)
            fh.write(b" -->" + (body % "huge").encode())
        os.mkdir(os.path.join(t, "folder.xml"))
        w = lambda n: winerun.winpath(os.path.join(t, n))  # noqa: E731
        F = "FALLBACK"
        cases = [
            # case, path, locale, key, expected result
            ("catalogue malformed", w("malformed.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue empty", w("empty.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue binary", w("binary.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue 50 MB", w("huge.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue billion laughs", w("laughs.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue external entity (local file)", w("xxe.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue external parameter entity", w("xxe-param.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue with a DOCTYPE only", w("doctype-only.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue UTF-16 with external entity", w("utf16-xxe.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue with an undefined entity", w("undefined-entity.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue with XInclude", w("xinclude.xml"), "en-us", "loc_UI_Setup", "NO-CANARY"),
            ("catalogue with a stylesheet PI", w("stylesheet-pi.xml"), "en-us", "loc_UI_Setup", "styled"),
            ("catalogue with 9000 resources", w("many-resources.xml"), "en-us", "loc_UI_Setup", "found"),
            ("catalogue missing", w("nosuch.xml"), "en-us", "loc_UI_Setup", F),
            ("catalogue path is a folder", w("folder.xml"), "en-us", "loc_UI_Setup", F),
            ("control: de-de catalogue", w("de-de.xml"), "de-de", "loc_UI_NextButton", "Weiter"),
            ("catalogue with BOM", w("bom.xml"), "en-us", "loc_UI_Setup", "with BOM"),
            ("&apos; in a value", w("fr-fr.xml"), "fr-fr", "loc_UI_Option_Agree", "J'accepte"),
            ("locale with an apostrophe", w("de-de.xml"), "de'-de", "loc_UI_NextButton", F),
            ("key with an apostrophe", w("de-de.xml"), "de-de", "loc_UI_Next'Button", F),
            ("locale in upper case", w("de-de.xml"), "DE-DE", "loc_UI_NextButton", F),
            ("locale XPath injection", w("de-de.xml"), "x' or '1'='1", "loc_UI_NextButton", "ANY"),
            ("key XPath injection", w("de-de.xml"), "de-de", "x' or name()!='", "ANY"),
            ("language element without resources first", w("second-language.xml"), "en-us", "loc_UI_Setup",
             "second"),
            ("CDATA with markup in a value", w("cdata-markup.xml"), "en-us", "loc_UI_Setup", "<b>&amp;</b>"),
        ]
        def lookups(batch, tag):
            case_file = os.path.join(t, tag + "-cases.txt")
            with open(case_file, "w", encoding="utf-8") as fh:
                for c in batch:
                    fh.write("%s|%s|%s|%s\n" % (c[1], c[2], c[3], F))
            out = os.path.join(t, tag + "-results.txt")
            code, secs = winerun.run([LOOKUP, winerun.winpath(case_file), winerun.winpath(out)], timeout=120)
            if code != 0 or not os.path.exists(out):
                return None, "lookup driver ended with %s after %.0f s" % (code, secs)
            with open(out, encoding="utf-8") as fh:
                return [line.rstrip("\n").split("\t") for line in fh], ""

        results, why = lookups(cases, "all")
        if results is None:
            # One process per case, so that the case that brings it down shows.
            results = []
            for i, c in enumerate(cases):
                r, why = lookups([c], "case%d" % i)
                results.append(r[0] if r else why)
        for i, (case, _, _, _, expected) in enumerate(cases):
            if isinstance(results[i], str):
                self.row(case, expected, results[i], False)
                continue
            first, second, ms = results[i]
            leak = make_payloads.CANARY in first or make_payloads.CANARY in second
            if expected == "ANY":
                ok = not leak
            elif expected == "NO-CANARY":
                ok = not leak
            elif expected == "J'accepte":
                ok = first.startswith("J'accepte") and first == second
            else:
                ok = first == expected and second == expected
            ok = ok and not leak and int(ms) < 20000
            self.row(case, "%s, twice, no file content shown" % expected, "%r / %r in %s ms" % (
                first[:40], second[:40], ms), ok)

    # ---- registry values that choose the locale ------------------------------------

    def reg(self, key, name, kind, data=None, hexdata=None):
        a = ["regset", "--key", key, "--name", name, "--type", kind]
        a += ["--hex", hexdata] if hexdata is not None else ["--data", data]
        code, _ = winerun.inspector(a)
        self.assertEqual(code, 0, "regset %r failed" % (a,))

    def test_e_registry(self):
        def utf16(text, terminator=True):
            b = text.encode("utf-16-le") + (b"\0\0" if terminator else b"")
            return b.hex()

        cases = [
            # case, source 1 (type, data/hex), source 2 REG_SZ or None, expected catalogue name
            ("localeId REG_SZ", ("sz", "xa-aa", None), "XB_BB", "xa-aa"),
            ("localeId over 1023 characters", ("sz", "q" * 1024, None), "XB_BB", "xb-bb"),
            ("localeId of 1023 characters", ("sz", "v" * 1023, None), "XB_BB", "v" * 1023),
            ("localeId REG_EXPAND_SZ", ("expand_sz", "xa-aa", None), "XB_BB", "xb-bb"),
            ("localeId REG_MULTI_SZ", ("multi_sz", None, utf16("xa-aa") + "0000"), "XB_BB", "xb-bb"),
            ("localeId REG_BINARY", ("binary", None, utf16("xa-aa")), "XB_BB", "xb-bb"),
            ("localeId REG_DWORD", ("dword", None, "09040000"), "XB_BB", "1033"),
            ("localeId zero bytes", ("sz", None, ""), "XB_BB", "xb-bb"),
            ("localeId without terminator", ("sz", None, utf16("xc-cc", False)), None, "xc-cc"),
            ("localeId upper case", ("sz", "XD-DD", None), None, "XD-DD"),
            ("localeId with an apostrophe", ("sz", "x'e-ee", None), None, "x'e-ee"),
            ("Lang_Country with an apostrophe", None, "X'F_FF", "x'f-ff"),
            ("Lang_Country upper case and _", None, "ZH_tw", "zh-tw"),
            ("both values absent", None, None, "en-us"),
            ("localeId with a path", ("sz", "..\\..\\pwn", None), None, None),
            ("localeId of 400 characters", ("sz", "w" * 400, None), None, "w" * 400),
        ]
        for case, src1, src2, expected in cases:
            winerun.inspector(["regdel", "--key", KEY1])
            winerun.inspector(["regdel", "--key", KEY2])
            if src1:
                self.reg(KEY1, "localeId", src1[0], src1[1], src1[2])
            if src2 is not None:
                self.reg(KEY2, "Lang_Country", "sz", src2)
            t = self.temp("reg")
            inner = os.path.join(t, "in")
            os.mkdir(inner)
            code, boxes = self.run_launcher("base", winerun.winpath(inner))
            wf = os.path.join(inner, "_hsc_Vellum")
            bad = self.intact("base", wf, list_lines("base"))
            found = sorted(n for n in os.listdir(wf) if n.startswith("InstallerUIText_")) if os.path.isdir(wf) else []
            outside = [n for n in os.listdir(t) if n != "in"] + [n for n in os.listdir(inner) if n != "_hsc_Vellum"]
            if expected is None:
                ok = code == 0 and not bad and not outside and all(head(b) == MSG_CANNOT_OPEN for b in boxes)
                exp = "catalogue name refused, nothing outside the folder"
            elif len(expected) > 200:
                ok = code == 0 and not bad and all(head(b) == MSG_CANNOT_OPEN for b in boxes) and len(boxes) <= 1
                ok = ok and "InstallerUIText_xb-bb.xml" not in found  # read, not passed over for source 2
                exp = "name too long: reported or written, run goes on"
            else:
                name = "InstallerUIText_%s.xml" % expected
                ok = code == 0 and not bad and not boxes and (
                    name in found or expected in ("en-us",) and "InstallerUIText_en-us.xml" in found)
                exp = "locale %r, run clean" % expected
            self.row(case, exp, "exit %s, %s, catalogues %s, outside %s" % (
                code, boxes_text(boxes), [f[16:-4] for f in found if f[16:-4] not in ("de-de", "en-us", "fr-fr")],
                outside), ok)
        winerun.inspector(["regdel", "--key", KEY1])
        winerun.inspector(["regdel", "--key", KEY2])

    # ---- what the catalogue may put on screen ------------------------------------------

    def test_f_catalogue_on_screen(self):
        secret = os.path.join(self.prefix_c, make_payloads.SECRET_NAME)
        with open(secret, "w") as fh:
            fh.write(make_payloads.CANARY)
        self.addCleanup(os.remove, secret)
        for case, variant, locale, expected in (
                ("control: caption from the de-de catalogue", "caption", "de-de", "Installation"),
                ("external entity in the launcher's catalogue", "xxe", None, "Setup"),
                ("billion laughs in the launcher's catalogue", "laughs", None, "Setup")):
            winerun.inspector(["regdel", "--key", KEY1])
            if locale:
                self.reg(KEY1, "localeId", "sz", locale)
            t = self.temp("screen")
            # Visible run: the refused line raises a box over the window.
            code, boxes = self.run_launcher(variant, winerun.winpath(t), args=(), timeout=90)
            titles = [b["title"] for b in boxes]
            leak = any(make_payloads.CANARY in b["title"] + b["text"] for b in boxes)
            ok = code == 0 and titles == [expected] and not leak
            self.row(case, "box title %r, no file content on screen" % expected,
                     "exit %s, titles %s, leak %s" % (code, titles, leak), ok)
        winerun.inspector(["regdel", "--key", KEY1])

    # ---- the automation server -------------------------------------------------------

    SERVER = os.path.join(BIN, "setupui", "controller", "VellumSetup.exe")
    CLIENT_HEAD = """var results = [];
function note(name, f) {
  try { var v = f(); results.push(name + "\\tok:" + v); }
  catch (e) { results.push(name + "\\terr:" + (e.number & 0xFFFFFFFF).toString(16) + ":" + e.message); }
}
function save(path) {
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var out = fso.CreateTextFile(path, true, true);
  for (var i = 0; i < results.length; i++) out.WriteLine(results[i]);
  out.Close();
}
"""

    def server_folder(self, license_bytes=None):
        folder = self.temp("server")
        shutil.copy2(self.SERVER, folder)
        for n in ("InstallerUIText_en-us.xml", "EULA_en-us.txt"):
            shutil.copy2(dev_file(n), os.path.join(folder, n))
        if license_bytes is not None:
            with open(os.path.join(folder, "EULA_en-us.txt"), "wb") as fh:
                fh.write(license_bytes)
        exe = os.path.join(folder, "VellumSetup.exe")
        code, _ = winerun.run([exe, "/RegServer"], timeout=60)
        self.assertEqual(code, 0, "VellumSetup /RegServer failed")

        def unregister():
            winerun.end_leftovers()
            winerun.run([exe, "/UnregServer"], timeout=60)
        self.addCleanup(unregister)
        return folder

    def client(self, folder, name, body, timeout=60, answer_with=None):
        """Runs one JScript client; returns (exit code, {case: result}, boxes)."""
        script = os.path.join(folder, name + ".js")
        result = os.path.join(folder, name + ".txt")
        with open(script, "w", encoding="utf-8") as fh:
            fh.write(self.CLIENT_HEAD + "try {\n" + body + "\n} finally { save(%r); }\nWScript.Quit(0);\n"
                     % winerun.winpath(result))
        code, boxes = winerun.drive(["C:\\windows\\system32\\cscript.exe", "//nologo", winerun.winpath(script)],
                                    timeout=timeout, answer_with=answer_with)
        got = {}
        if os.path.exists(result):
            with open(result, encoding="utf-16") as fh:
                for line in fh:
                    k, _, v = line.rstrip("\r\n").partition("\t")
                    got[k] = v
        return code, got, boxes

    def finish(self, proc, timeout=40):
        """Waits for a client started in the background, answering the boxes
        the server raises meanwhile (the exit question with Yes)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                proc.wait(timeout=0.05)
                break
            except subprocess.TimeoutExpired:
                pass
            _, box = winerun.inspector(["msgbox", "--timeout", "0"])
            if box and box.get("hwnd"):
                names = [b.get("name") for b in box.get("buttons", [])]
                winerun.inspector(["answer", "--button", "yes" if "yes" in names else "ok",
                                   "--pid", str(box.get("pid"))])
        if proc.poll() is None:
            winerun.stop(proc)
        return proc.returncode

    def expect(self, got, case, predicate, expected):
        seen = got.get(case, "no result (client ended early)")
        self.row("COM: " + case, expected, seen, case in got and predicate(seen))

    def test_g_com(self):
        if not os.path.exists(self.SERVER):
            self.row("COM cases", "VellumSetup.exe built", "missing: " + self.SERVER, False)
            return
        folder = self.server_folder()
        err = lambda v: v.startswith("err:")  # noqa: E731
        is_ = lambda x: (lambda v: v == "ok:" + x)  # noqa: E731
        code, got, boxes = self.client(folder, "before", """
var c = new ActiveXObject("VellumSetup.controller");
note("Caption before anything", function () { return "[" + c.Caption + "]"; });
note("showProgress before the wizard", function () { return c.showProgress(1); });
note("setMaxValue before the wizard", function () { return c.setMaxValue(10); });
note("userAborted before the wizard", function () { return c.userAborted(); });
note("showUptodate before the wizard", function () { return c.showUptodate(); });
note("showWizardComplete before the wizard", function () { return c.showWizardComplete(); });
note("showComplete before the progress window", function () { return c.showComplete("x"); });
note("setProgress before the progress window", function () { return c.setProgress(1, false); });
note("setTimerString before the progress window", function () { return c.setTimerString("x"); });
note("setInterval before the progress window", function () { return c.setInterval(100); });
note("readyToInstall without a wizard", function () { return c.readyToInstall(); });
note("closeProgress without a progress window", function () { c.closeProgress(); return "alive"; });
note("unknown member", function () { return c.noSuchMember(); });
note("readyToInstall with surplus arguments", function () { return c.readyToInstall(1, 2, 3); });
note("showWizard with a number as locale", function () { return c.showWizard(12345); });
note("showWizard a second time", function () { return c.showWizard("en-us"); });
note("setMaxValue with a text", function () { return c.setMaxValue("abc"); });
note("setMaxValue above 32767", function () { return c.setMaxValue(70000); });
note("setMaxValue 0 (not above the minimum)", function () { return c.setMaxValue(0); });
note("setMaxValue 100", function () { return c.setMaxValue(100); });
note("setProgress above the maximum", function () { return c.setProgress(500, false); });
note("setProgress below the minimum", function () { return c.setProgress(-1, false); });
note("setProgress with a text as Boolean", function () { return c.setProgress(5, "maybe"); });
note("setInterval negative", function () { return c.setInterval(-5); });
note("showProgress mode 99", function () { return c.showProgress(99); });
note("Caption put of an object", function () { c.Caption = {}; return c.Caption.length; });
note("Caption put of 100000 characters", function () { c.Caption = new Array(100001).join("x"); return c.Caption.length; });
note("setTimerString null", function () { return c.setTimerString(null); });
note("Confirm with 20000-character texts", function () {
  var t = new Array(20001).join("y"); return c.Confirm(t, t); });
note("still serving after all that", function () { return c.readyToInstall(); });
try { c.closeAll(); } catch (e) {}
note("call after closeAll", function () { return c.readyToInstall(); });
var d = new ActiveXObject("VellumSetup.controller");
note("new object after closeAll", function () { return c === d ? "same" : d.readyToInstall(); });
try { d.closeAll(); } catch (e) {}
""", timeout=120)
        self.row("COM: client session ends", "exit 0, no hang", "exit %s" % code, code == 0)
        for case in ("showProgress before the wizard", "setMaxValue before the wizard",
                     "userAborted before the wizard", "showUptodate before the wizard",
                     "showWizardComplete before the wizard", "showComplete before the progress window",
                     "setProgress before the progress window", "setTimerString before the progress window",
                     "unknown member", "setMaxValue with a text", "setMaxValue above 32767",
                     "setMaxValue 0 (not above the minimum)", "setProgress above the maximum",
                     "setProgress below the minimum", "call after closeAll"):
            self.expect(got, case, err, "failed call, nothing done")
        self.expect(got, "Caption before anything", is_("[]"), "empty text")
        self.expect(got, "setInterval before the progress window", lambda v: not v.startswith("err:"),
                    "failures ignored")
        self.expect(got, "readyToInstall without a wizard", is_("true"), "true")
        self.expect(got, "closeProgress without a progress window", is_("alive"), "nothing happens")
        self.expect(got, "readyToInstall with surplus arguments", lambda v: True, "answer or failed call, no crash")
        self.expect(got, "showWizard with a number as locale", is_("true"), "coerced to text, wizard created")
        self.expect(got, "showWizard a second time", is_("false"), "false, nothing changes")
        self.expect(got, "setMaxValue 100", is_("false"), "false")
        self.expect(got, "setProgress with a text as Boolean", lambda v: True, "answer or failed call, no crash")
        self.expect(got, "setInterval negative", is_("false"), "false, interval unchanged")
        self.expect(got, "showProgress mode 99", is_("true"), "true, text unchanged")
        self.expect(got, "Caption put of an object", lambda v: True, "coerced or refused, no crash")
        self.expect(got, "Caption put of 100000 characters", is_("100000"), "kept whole")
        self.expect(got, "setTimerString null", lambda v: True, "answer or failed call, no crash")
        self.expect(got, "Confirm with 20000-character texts", is_("true"), "box answered Yes: true")
        self.expect(got, "still serving after all that", lambda v: v in ("ok:true", "ok:false"), "answers")
        self.expect(got, "new object after closeAll", lambda v: v == "ok:true", "a fresh server answers")

        # Two clients at the same time: the first keeps calling until the
        # second has ended (the flag file; 60 s at most).
        first = os.path.join(folder, "first.js")
        second_done = os.path.join(folder, "second.done")
        with open(first, "w") as fh:
            fh.write('var c = new ActiveXObject("VellumSetup.controller"); c.showWizard("en-us");\n'
                     'var fso = new ActiveXObject("Scripting.FileSystemObject");\n'
                     'var t = new Date().getTime() + 60000;\n'
                     'while (new Date().getTime() < t && !fso.FileExists("%s")) c.readyToInstall();\n'
                     'try { c.closeAll(); } catch (e) {}\nWScript.Quit(0);\n'
                     % winerun.winpath(second_done).replace("\\", "\\\\"))
        a = winerun.start(["cscript", "//nologo", winerun.winpath(first)])
        try:
            winerun.inspector(["wait", "--title", TITLE, "--visible", "--timeout", "15000"])
            code, got, _ = self.client(folder, "second", """
var c = new ActiveXObject("VellumSetup.controller");
note("second client at the same time", function () { return c.readyToInstall(); });
note("second client: showWizard while the first has one", function () { return c.showWizard("en-us"); });
""", timeout=60)
        finally:
            open(second_done, "w").close()
            # The first client's closeAll may ask the wizard's exit question.
            self.finish(a)
        self.expect(got, "second client at the same time", lambda v: v in ("ok:true", "ok:false"), "answers")
        self.expect(got, "second client: showWizard while the first has one", lambda v: v in ("ok:true", "ok:false"),
                    "answers")
        self.row("COM: first client unharmed by the second", "first client ends normally",
                 "exit %s" % a.returncode, a.returncode == 0)
        winerun.end_leftovers()

        # The client killed inside blocking calls.
        for case, call in (("client killed inside Confirm", 'c.Confirm("cap", "question?");'),
                           ("client killed inside showWizardComplete", 'c.showWizard("en-us"); c.showWizardComplete();')):
            victim = os.path.join(folder, "victim.js")
            with open(victim, "w") as fh:
                fh.write('var c = new ActiveXObject("VellumSetup.controller");\n' + call + '\nWScript.Quit(0);\n')
            v = winerun.start(["cscript", "//nologo", winerun.winpath(victim)])
            title = "cap" if "Confirm" in case else TITLE
            winerun.inspector(["wait", "--title", title, "--visible", "--timeout", "20000"])
            winerun.stop(v)
            time.sleep(1)
            _, servers = winerun.inspector(["list", "--all"])
            alive = [w for w in (servers or []) if w.get("title") == title]
            # The object is made inside note() so that a refused creation
            # says why (its error number) instead of leaving no result.
            code, got, boxes = self.client(folder, "after", """
var c = null;
note("create", function () { c = new ActiveXObject("VellumSetup.controller"); return "made"; });
note("after", function () { return c.readyToInstall(); });
try { c.closeAll(); } catch (e) {}
""", timeout=60)
            self.row("COM: " + case, "server survives; a new client is served",
                     "window left: %s, creation: %s, new client: %s, exit %s, boxes %s"
                     % (bool(alive), got.get("create"), got.get("after"), code,
                        [(b.get("title"), b.get("pid")) for b in boxes]),
                     code == 0 and got.get("after", "").startswith("ok:"))
            winerun.end_prefix_processes()

    def test_h_license_files(self):
        if not os.path.exists(self.SERVER):
            self.row("license cases", "VellumSetup.exe built", "missing: " + self.SERVER, False)
            return
        folder = None
        for case, data in (("license file of 10 MB", (b"License line of text. " * 40 + b"\r\n") * 11400),
                           ("license file binary", bytes(range(256)) * 4096),
                           ("license file empty", b"")):
            if folder is None:
                folder = self.server_folder()
            with open(os.path.join(folder, "EULA_en-us.txt"), "wb") as fh:
                fh.write(data)
            flag = os.path.join(folder, "done.flag")
            if os.path.exists(flag):
                os.remove(flag)
            script = os.path.join(folder, "lic.js")
            result = os.path.join(folder, "lic.txt")
            with open(script, "w") as fh:
                fh.write('var c = new ActiveXObject("VellumSetup.controller");\n'
                         'var r = c.showWizard("en-us");\n'
                         'var fso = new ActiveXObject("Scripting.FileSystemObject");\n'
                         'var o = fso.CreateTextFile("%s", true); o.WriteLine(r); o.Close();\n'
                         'var t = new Date().getTime() + 30000;\n'
                         'while (new Date().getTime() < t && !fso.FileExists("%s")) {}\n'
                         'try { c.closeAll(); } catch (e) {}\nWScript.Quit(0);\n'
                         % (winerun.winpath(result).replace("\\", "\\\\"),
                            winerun.winpath(flag).replace("\\", "\\\\")))
            proc = winerun.start(["cscript", "//nologo", winerun.winpath(script)])
            winerun.inspector(["wait", "--title", TITLE, "--visible", "--timeout", "20000"])
            for label in ("Next >", "Next"):
                clicked, _ = winerun.inspector(["click", "--title", TITLE, "--text", label,
                                                "--timeout", "3000"])
                if clicked == 0:
                    break

            def walk(n):
                if isinstance(n, dict):
                    texts.append(str(n.get("text", ""))[:80])
                    for ch in n.get("children", []) + n.get("controls", []):
                        walk(ch)
                elif isinstance(n, list):
                    for ch in n:
                        walk(ch)

            # The license page, once it shows (10 s at most).
            deadline = time.monotonic() + 10
            while True:
                dumped, tree = winerun.inspector(["dump", "--title", TITLE, "--timeout", "10000"],
                                                 timeout=60)
                texts = []
                walk(tree)
                on_license = any("License Agreement" in t for t in texts)
                if on_license or time.monotonic() > deadline:
                    break
                time.sleep(0.05)
            open(flag, "w").close()
            code = self.finish(proc, timeout=40)
            shown = open(result).read().strip() if os.path.exists(result) else "no answer"
            self.row("wizard: " + case, "license page shows, no crash or hang",
                     "showWizard %s, Next clicked %s, license page %s, client exit %s" % (
                         shown, clicked == 0, on_license, code),
                     shown == "-1" and clicked == 0 and on_license and code == 0)
            winerun.end_leftovers()


if __name__ == "__main__":
    unittest.main()
