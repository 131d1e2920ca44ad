"""The release command on the host: every refusal (nothing written), the
same bytes from the same inputs, the version block, the payload digest that
--verify and the launcher check, signing with a certificate made here, and
the manifest the launcher carries."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

import release_common as rc
from release_common import locales


@unittest.skipUnless(rc.FILES and os.path.isdir(rc.FILES), "no built full payload")
class BuildInstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="release-")
        cls.cabs = rc.project_cabinets(os.path.join(cls.tmp, "cabs"))
        cls.out = os.path.join(cls.tmp, "VellumInstaller.exe")
        code, text = rc.run("--cabinets", cls.cabs, "--version", "3.0.7", "--out", cls.out)
        assert code == 0, text

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def folder_copy(self, src, name):
        dst = os.path.join(self.tmp, name)
        shutil.rmtree(dst, ignore_errors=True)
        shutil.copytree(src, dst)
        self.addCleanup(shutil.rmtree, dst, True)
        return dst

    def assert_refused(self, args, path_fragment, problem):
        out = os.path.join(self.tmp, "refused.exe")
        code, text = rc.run(*(args + ["--out", out]))
        self.assertEqual(1, code, text)
        self.assertRegex(text, re.escape(path_fragment) + r".*: .*" + problem)
        self.assertFalse(os.path.exists(out), "an output file was written")
        self.assertEqual([], [n for n in os.listdir(self.tmp) if n.startswith(".refused")], "a temporary was left")

    def test_refusals_name_the_file_and_write_nothing(self):
        en = locales.locale_cabinets("en-us")[0][1]

        def cabs_with(change):
            def made():
                d = self.folder_copy(self.cabs, "cabs-bad")
                change(d)
                return ["--cabinets", d, "--version", "3.0.7"]
            return made

        def unlink(name):
            return lambda d: os.unlink(os.path.join(d, name))

        def write(name, data):
            def w(d):
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
            return w

        def mutate(name, fn):
            def m(d):
                p = os.path.join(d, name)
                with open(p, "rb") as f:
                    data = bytearray(f.read())
                with open(p, "wb") as f:
                    f.write(fn(data))
            return m

        def flip_last_block(data):
            data[-10] ^= 0x01  # inside the last data block: its checksum no longer fits
            return data

        cases = [
            (cabs_with(unlink(en)), en, "missing cabinet"),
            (cabs_with(write("stray.cab", b"MSCF")), "stray.cab", "extra file"),
            (cabs_with(lambda d: os.rename(os.path.join(d, en), os.path.join(d, en.upper()))), en.upper(),
             "misnamed, the cabinet must be named %r" % en),
            (cabs_with(write(en, b"PK\x03\x04 not a cabinet at all, really not")), en, "not a cabinet file"),
            (cabs_with(mutate(en, flip_last_block)), en, r"damaged \(checksum mismatch\)"),
            (cabs_with(mutate(en, lambda d: d[:-100])), en, "truncated"),
            (cabs_with(write(en, rc.stored_cabinet({"ok.txt": b"a", "..\\evil.txt": b"b"}))), en,
             "outside the folder"),
            (cabs_with(write(en, rc.stored_cabinet({"help/NUL.txt": b"a"}))), en, "device name"),
            (cabs_with(write(en, rc.stored_cabinet({"help/notes.": b"a"}))), en, "ending in a dot or a blank"),
            (cabs_with(write(en, rc.stored_cabinet({"help /a.txt": b"a"}))), en, "ending in a dot or a blank"),
            (cabs_with(write(en, rc.stored_cabinet({"locales/en-us/other.htm": b"a"}))), "en-us_*.cab",
             r"no cabinet of locale en-us holds its start page locales\\en-us\\index.htm"),
        ]
        for made, fragment, problem in cases:
            with self.subTest(problem=problem):
                self.assert_refused(made(), fragment, problem)

        catalogues = os.path.join(rc.ROOT, "payload", "full", "catalogues")
        de = "InstallerUIText_de-de.xml"
        with open(os.path.join(catalogues, de), "rb") as f:
            good = f.read()
        for data, problem in ((good.replace(b"</uiStrings>", b""), "does not parse"),
                              (re.sub(rb"<resource><name>loc_UI_NextButton</name>.*?</resource>", b"", good),
                               r"lacks 1 key\(s\): loc_UI_NextButton"),
                              (b'<!DOCTYPE x [<!ENTITY a "b">]>' + good.split(b"?>", 1)[1], "declares a DTD")):
            with self.subTest(problem=problem):
                d = self.folder_copy(catalogues, "cats")
                with open(os.path.join(d, de), "wb") as f:
                    f.write(data)
                self.assert_refused(["--cabinets", self.cabs, "--version", "3.0.7", "--catalogues", d], de, problem)

        licenses = os.path.join(self.tmp, "licenses")
        os.makedirs(licenses, exist_ok=True)
        for loc in locales.LOCALES:
            with open(os.path.join(licenses, locales.license_name(loc)), "wb") as f:
                f.write(rc.build_installer.make_licenses.license_bytes(loc))
        for name, data, problem in (("EULA_fr-fr.txt", b"Licence\r\n\x81\r\n", "does not decode in .* cp1252"),
                                    ("EULA_ko-kr.txt", b"\xff\xff\r\n", "does not decode in .* cp949"),
                                    ("EULA_de-de.txt", b"Lizenz\nText\r\n", "CR LF")):
            with self.subTest(problem=problem):
                d = self.folder_copy(licenses, "lics")
                with open(os.path.join(d, name), "wb") as f:
                    f.write(data)
                self.assert_refused(["--cabinets", self.cabs, "--version", "3.0.7", "--licenses", d], name, problem)

        for version in ("3.0", "3.0.7.1", "3.0.x", "03.0.7", "3.0.70000", " 3.0.7"):
            with self.subTest(version=version):
                self.assert_refused(["--cabinets", self.cabs, "--version", version], "--version", "must be")

        # An existing file of the output's name is left as it was.
        out = os.path.join(self.tmp, "existing.exe")
        with open(out, "wb") as f:
            f.write(b"earlier")
        code, _ = rc.run("--cabinets", self.cabs, "--version", "3.0", "--out", out)
        self.assertEqual(1, code)
        with open(out, "rb") as f:
            self.assertEqual(b"earlier", f.read())

    def test_same_inputs_same_bytes_with_version_and_digest(self):
        # Other file times and another folder for the same inputs.
        cabs2 = self.folder_copy(self.cabs, "cabs-again")
        for n in os.listdir(cabs2):
            os.utime(os.path.join(cabs2, n), (2000000000, 2000000000))
        out2 = os.path.join(self.tmp, "again.exe")
        code, text = rc.run("--cabinets", cabs2, "--version", "3.0.7", "--out", out2)
        self.assertEqual(0, code, text)
        with open(self.out, "rb") as a, open(out2, "rb") as b:
            first, second = a.read(), b.read()
        self.assertEqual(first, second, "two builds of the same inputs differ")
        pe = struct.unpack_from("<I", first, 0x3C)[0]
        self.assertEqual(0, struct.unpack_from("<I", first, pe + 8)[0], "a link time stamp in the header")
        self.assertIn("3.0.7".encode("utf-16-le"), first)  # the version block's texts
        self.assertIn(struct.pack("<HHHH", 0, 3, 0, 7), first)  # FILEVERSION 3,0,7,0 as stored
        res = rc.rcdata(self.out)
        self.assertEqual(b"version=3.0.7\r\n", res[100 + locales.file_list().index("vellumVersion.txt") + 1])

        code, text = rc.run("--verify", self.out)
        self.assertEqual(0, code, text)
        self.assertIn("not signed", text)
        script = 100 + locales.file_list().index("VellumSetup.jse") + 1
        for rid, how, what in ((140, "flip", "resource 140"), (script, "flip", "VellumSetup.jse"),
                               (100, "flip", "the file list"), (300, "cut", "truncated")):
            with self.subTest(what=what):
                bad = rc.damaged_copy(self.out, os.path.join(self.tmp, "bad.exe"), rid, how)
                code, text = rc.run("--verify", bad)
                self.assertEqual(1, code, text)
                self.assertIn(what, text)

    def test_signing_and_verification(self):
        d = os.path.join(self.tmp, "cert")
        os.makedirs(d, exist_ok=True)
        key, cert, p12, pw = (os.path.join(d, n) for n in ("key.pem", "cert.pem", "test.p12", "password.txt"))
        with open(pw, "w") as f:
            f.write("test-secret\n")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "30", "-subj", "/CN=Vellum Test Signing", "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                        "-passout", "file:" + pw], check=True, capture_output=True)
        ca = {"VELLUM_VERIFY_CAFILE": cert}

        with open(os.path.join(d, "wrong.txt"), "w") as f:
            f.write("not the password\n")
        self.assert_refused(["--cabinets", self.cabs, "--version", "3.0.7", "--sign", p12,
                             "--password-file", os.path.join(d, "wrong.txt")], "test.p12", "cannot be opened")

        signed = os.path.join(self.tmp, "signed.exe")
        code, text = rc.run("--cabinets", self.cabs, "--version", "3.0.7", "--out", signed, "--sign", p12,
                            "--password-file", pw)
        self.assertEqual(0, code, text)
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed], capture_output=True)
        self.assertEqual(0, r.returncode, r.stdout.decode(errors="replace"))
        code, text = rc.run("--verify", signed, env=ca)
        self.assertEqual(0, code, text)
        self.assertIn("signature verified", text)
        # Untrusted by this machine's authorities: refused without the test CA.
        code, text = rc.run("--verify", signed, env={"VELLUM_VERIFY_CAFILE": ""})
        self.assertEqual(1, code, text)
        # One changed byte anywhere breaks the signature, also outside the payload.
        with open(signed, "rb") as f:
            data = bytearray(f.read())
        data[0x200] ^= 0x01
        bad = os.path.join(self.tmp, "signed-bad.exe")
        with open(bad, "wb") as f:
            f.write(data)
        code, text = rc.run("--verify", bad, env=ca)
        self.assertEqual(1, code, text)
        self.assertIn("signature does not verify", text)

    def test_manifest_asks_for_administrators_and_names_the_systems(self):
        with open(self.out, "rb") as f:
            manifests, _ = rc.build_installer.rcdata_resources(f.read(), 24)  # RT_MANIFEST
        manifest = manifests[1].decode("utf-8")
        with open(os.path.join(rc.ROOT, "launcher", "VellumInstaller.manifest"), encoding="utf-8") as f:
            self.assertEqual(f.read().strip(), manifest.strip())
        levels = re.findall(r'<requestedExecutionLevel level="(\w+)" uiAccess="(\w+)"/>', manifest)
        self.assertEqual([("requireAdministrator", "false")], levels)
        self.assertEqual(5, len(re.findall(r"<supportedOS Id=", manifest)))
        self.assertIn('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifest)


if __name__ == "__main__":
    unittest.main()
