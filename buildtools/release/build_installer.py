#!/usr/bin/env python3
"""Builds, signs and verifies a release of VellumInstaller.exe.

    build_installer.py --cabinets DIR --version X.Y.Z --out FILE
                       [--catalogues DIR] [--licenses DIR]
                       [--sign PKCS12 --password-file FILE]
    build_installer.py --verify FILE

Every input is checked before anything is written; each problem is printed
as "<file>: <problem>" and the command ends with 1, leaving FILE as it was.
The output is written under a temporary name beside FILE and renamed into
place only when it is complete (and signed, when asked).

The same inputs give the same bytes: the programs carry no link time, the
resource compiler no time stamps, and the payload is the inputs' bytes.
A signature carries the signing time: set SOURCE_DATE_EPOCH to fix it.
"""
import argparse
import fcntl
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [HERE, os.path.join(ROOT, "payload"), os.path.join(ROOT, "payload", "full")]

import cabinet_check  # noqa: E402
import locales  # noqa: E402
import make_licenses  # noqa: E402
import payload_digest  # noqa: E402
import payload_tool  # noqa: E402
import ui_texts  # noqa: E402

DEFAULT_CATALOGUES = os.path.join(ROOT, "payload", "full", "catalogues")
CATALOGUE_LIMIT = 1024 * 1024  # the catalogue lookup refuses larger files
# What ships is i686. Tests on a host whose kernel cannot run 32-bit code
# (see scripts/wine-env.sh) build the same release for x86_64 to run it.
ARCH = os.environ.get("VELLUM_RELEASE_ARCH") or "i686"


class Problems(Exception):
    def __init__(self, problems):
        super().__init__("\n".join(problems))
        self.problems = problems


def say(text):
    sys.stderr.write("build-installer: %s\n" % text)


# ---- checks of the inputs ----------------------------------------------------

def version_problem(version):
    m = re.fullmatch(r"(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})\.(0|[1-9][0-9]{0,4})", version)
    if not m:
        return "must be three numbers X.Y.Z (digits only, no leading zeros), e.g. 3.0.7"
    if any(int(part) > 65535 for part in m.groups()):
        return "each number must be at most 65535 (the version block holds 16 bits a part)"
    return None


def folder_entries(folder):
    try:
        return sorted(os.listdir(folder))
    except OSError as e:
        raise Problems(["%s: cannot be read as a folder (%s)" % (folder, e.strerror)])


def check_names(folder, wanted, what):
    """Missing, misnamed (letter case) and extra entries of a folder."""
    problems = []
    present = folder_entries(folder)
    by_key = {n.lower(): n for n in wanted}
    found = set()
    for name in present:
        path = os.path.join(folder, name)
        if name in wanted:
            if not os.path.isfile(path):
                problems.append("%s: is not a file" % path)
            found.add(name)
        elif name.lower() in by_key:
            problems.append("%s: misnamed, the %s must be named %r" % (path, what, by_key[name.lower()]))
            found.add(by_key[name.lower()])
        else:
            problems.append("%s: extra file, not a %s of the payload" % (path, what))
    for name in wanted:
        if name not in found:
            problems.append("%s: missing %s" % (os.path.join(folder, name), what))
    return problems


def check_cabinets(folder):
    wanted = locales.all_cabinets()
    problems = check_names(folder, wanted, "cabinet")
    members = {}
    for name in wanted:
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            data = f.read()
        try:
            members[name] = {m.replace("/", "\\").lower() for m in cabinet_check.check_cabinet(data)}
        except cabinet_check.CabinetError as e:
            problems.append("%s: %s" % (path, e))
    if problems:
        return problems
    # The installation refuses content without the locale's start page.
    for loc in locales.LOCALES:
        page = "locales\\%s\\index.htm" % loc
        cabs = list(locales.SHARED_CABINETS) + [n for _, n in locales.locale_cabinets(loc)]
        if not any(page in members[n] for n in cabs):
            problems.append("%s: no cabinet of locale %s holds its start page %s, without which its installation "
                            "fails" % (os.path.join(folder, "%s_*.cab" % loc), loc, page))
    return problems


def catalogue_problem(data, locale):
    if len(data) > CATALOGUE_LIMIT:
        return "larger than 1 MiB, which the catalogue lookup refuses"
    if re.search(rb"<!DOCTYPE", re.sub(rb"<!--.*?-->", b"", data, flags=re.S), re.I):
        return "declares a DTD, which the catalogue lookup refuses"
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return "does not parse: %s" % e
    langs = root.findall("language")
    if len(langs) != 1 or langs[0].get("localeId") != locale:
        return "needs one language element with localeId %r" % locale
    names = {r.findtext("name") for r in langs[0].findall("resource") if r.find("value") is not None}
    missing = [k for k in ui_texts.KEYS if k not in names]
    if missing:
        return "lacks %d key(s): %s" % (len(missing), ", ".join(missing))
    return None


def check_each(folder, wanted, what, problem):
    """The names in folder against wanted, then each file present, judged by
    problem(data, locale) in locale order."""
    problems = check_names(folder, wanted, what)
    for loc, name in zip(locales.LOCALES, wanted):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            with open(path, "rb") as f:
                why = problem(f.read(), loc)
            if why:
                problems.append("%s: %s" % (path, why))
    return problems


def check_catalogues(folder):
    return check_each(folder, [locales.catalogue_name(loc) for loc in locales.LOCALES], "catalogue",
                      catalogue_problem)


def license_problem(data, locale):
    codec = locales.CODE_PAGES[locale]
    if not data:
        return "is empty"
    if data.startswith(b"\xef\xbb\xbf"):
        return "starts with a byte-order mark; the text must be in code page %s" % codec
    try:
        data.decode(codec, errors="strict")
    except UnicodeDecodeError as e:
        line = data.count(b"\n", 0, e.start) + 1
        return "does not decode in its locale's code page %s (line %d, byte %#04x)" % (codec, line, data[e.start])
    if re.search(rb"(?<!\r)\n", data) or re.search(rb"\r(?!\n)", data):
        return "line ends must be CR LF"
    return None


def check_licenses(folder):
    return check_each(folder, [locales.license_name(loc) for loc in locales.LOCALES], "license text",
                      license_problem)


def check_signing(pkcs12, password_file):
    problems = []
    for path, what in ((pkcs12, "certificate"), (password_file, "password file")):
        if not os.path.isfile(path):
            problems.append("%s: the %s is missing" % (path, what))
    if problems:
        return problems
    r = subprocess.run(["openssl", "pkcs12", "-in", pkcs12, "-passin", "file:" + password_file, "-noout"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        # OpenSSL 3 refuses the old RC2 bags without the legacy provider.
        r = subprocess.run(["openssl", "pkcs12", "-legacy", "-in", pkcs12, "-passin", "file:" + password_file,
                            "-noout"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if r.returncode != 0:
        problems.append("%s: cannot be opened with the password in %s (%s)"
                        % (pkcs12, password_file, r.stderr.decode(errors="replace").strip().splitlines()[0:1]))
    return problems


def check_inputs(a):
    problems = []
    why = version_problem(a.version)
    if why:
        problems.append("--version %s: %s" % (a.version, why))
    problems += check_cabinets(a.cabinets)
    problems += check_catalogues(a.catalogues or DEFAULT_CATALOGUES)
    if a.licenses:
        problems += check_licenses(a.licenses)
    if a.sign:
        problems += check_signing(a.sign, a.password_file)
    out_dir = os.path.dirname(os.path.abspath(a.out))
    if not os.path.isdir(out_dir):
        problems.append("%s: the folder of the output does not exist" % out_dir)
    elif os.path.isdir(a.out):
        problems.append("%s: is a folder" % a.out)
    if problems:
        raise Problems(problems)


# ---- the build --------------------------------------------------------------

def build_tree():
    return os.path.join(os.environ.get("VELLUM_BUILD") or os.path.join(ROOT, "build"), ARCH)


def run_logged(args, log, what):
    with open(log, "ab") as f:
        r = subprocess.run(args, stdout=f, stderr=subprocess.STDOUT)
    if r.returncode != 0:
        raise Problems(["%s failed (log: %s)" % (what, log)])


def ensure_programs(tree):
    """Configures the build tree when this machine has none, and builds the
    programs the payload carries (nothing else)."""
    log = os.path.join(os.path.dirname(tree), "build-installer.log")
    os.makedirs(os.path.dirname(tree), exist_ok=True)
    if not os.path.isfile(os.path.join(tree, "CMakeCache.txt")):
        say("configuring %s" % tree)
        run_logged(["cmake", "-S", ROOT, "-B", tree, "-G", "Unix Makefiles",
                    "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/toolchain-%s.cmake" % (ROOT, ARCH)], log, "configuring")
    run_logged(["cmake", "--build", tree, "--target", "VellumSetup", "VellumSetupUninstallUI", "EXTRACT",
                "vellum_setup_script", "--", "-j%d" % (os.cpu_count() or 1), "--no-print-directory"],
               log, "building the programs")
    return {"jse": os.path.join(tree, "installscript", "VellumSetup.jse"),
            "setup": os.path.join(tree, "setupui", "controller", "VellumSetup.exe"),
            "extract": os.path.join(tree, "extract", "EXTRACT.EXE")}, log


def stage(a, programs, release):
    """The payload files under their payload names, the list, the resource
    script with its digest, and the version block."""
    files = os.path.join(release, "files")
    if os.path.isdir(files):
        shutil.rmtree(files)
    os.makedirs(files)
    for loc in locales.LOCALES:
        name = locales.catalogue_name(loc)
        shutil.copyfile(os.path.join(a.catalogues or DEFAULT_CATALOGUES, name), os.path.join(files, name))
        lic = locales.license_name(loc)
        if a.licenses:
            shutil.copyfile(os.path.join(a.licenses, lic), os.path.join(files, lic))
        else:
            with open(os.path.join(files, lic), "wb") as f:
                f.write(make_licenses.license_bytes(loc))
    for name in locales.all_cabinets():
        shutil.copyfile(os.path.join(a.cabinets, name), os.path.join(files, name))
    shutil.copyfile(programs["jse"], os.path.join(files, locales.SCRIPT_NAME))
    shutil.copyfile(programs["setup"], os.path.join(files, locales.SETUP_NAME))
    shutil.copyfile(programs["extract"], os.path.join(files, locales.EXTRACT_NAME))
    with open(os.path.join(files, locales.VERSION_NAME), "wb") as f:
        f.write(b"version=%s\r\n" % a.version.encode("ascii"))
    lines = locales.file_list()
    try:
        payload_tool.validate(lines, files)
    except payload_tool.PayloadError as e:
        raise Problems([str(e)])
    list_path = os.path.join(release, "filesList.txt")
    rc_path = os.path.join(release, "payload.rc")
    payload_digest.write_if_changed(list_path, payload_tool.list_bytes(lines))
    rc_text = payload_tool.rc_text(list_path, lines, files, rc_path)
    payload_digest.write_if_changed(rc_path, rc_text.encode("utf-8"))
    x, y, z = a.version.split(".")
    rc = ("// Generated by build_installer.py: the release's version block.\n"
          "#define VELLUM_FILEVERSION %s,%s,%s,0\n"
          "#define VELLUM_FILEVERSION_TEXT \"%s.0\"\n"
          "#define VELLUM_PRODUCTVERSION_TEXT \"%s\"\n"
          "#include \"%s\"\n" % (x, y, z, a.version, a.version,
                                 os.path.join(ROOT, "launcher", "VellumInstaller.rc")))
    payload_digest.write_if_changed(os.path.join(release, "version.rc"), rc.encode("ascii"))


def sign(a, unsigned, signed):
    args = ["osslsigncode", "sign", "-pkcs12", a.sign, "-readpass", a.password_file, "-h", "sha256",
            "-n", "Quillfeather", "-in", unsigned, "-out", signed]
    if os.environ.get("SOURCE_DATE_EPOCH"):
        args[2:2] = ["-time", os.environ["SOURCE_DATE_EPOCH"]]
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0 or not os.path.isfile(signed):
        raise Problems(["%s: signing failed: %s" % (a.sign, r.stdout.decode(errors="replace").strip())])


def build(a):
    check_inputs(a)
    tree = build_tree()
    programs, log = ensure_programs(tree)
    release = os.path.join(tree, "release")
    os.makedirs(release, exist_ok=True)
    with open(os.path.join(release, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one release build at a time in this tree
        stage(a, programs, release)
        run_logged(["cmake", "--build", tree, "--target", "VellumInstallerRelease", "--", "--no-print-directory"],
                   log, "building the installer")
        built = os.path.join(tree, "launcher", "VellumInstallerRelease.exe")
        out_dir = os.path.dirname(os.path.abspath(a.out))
        fd, tmp = tempfile.mkstemp(prefix=".%s." % os.path.basename(a.out), dir=out_dir)
        os.close(fd)
        try:
            if a.sign:
                os.unlink(tmp)
                sign(a, built, tmp)
            else:
                shutil.copyfile(built, tmp)
            problems = verify_payload(tmp)
            if problems:
                raise Problems(["%s: the built file does not verify: %s" % (built, p) for p in problems])
            os.chmod(tmp, 0o755)
            os.replace(tmp, a.out)
        finally:
            if os.path.exists(tmp):
                os.unlink(tmp)
    say("wrote %s (version %s%s)" % (a.out, a.version, ", signed" if a.sign else ""))


# ---- verification -----------------------------------------------------------

class PeError(Exception):
    pass


def pe_layout(data):
    """(sections [(rva, vsize, raw offset, raw size)], data directories)."""
    if data[:2] != b"MZ" or len(data) < 64:
        raise PeError("not a Windows program")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("not a Windows program (no PE header)")
    n_sections, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    dirs_at = opt + (96 if magic == 0x10B else 112)
    n_dirs, = struct.unpack_from("<I", data, dirs_at - 4)
    dirs = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(min(n_dirs, 16))]
    sections = []
    at = opt + opt_size
    for i in range(n_sections):
        vsize, rva, raw_size, raw_ptr = struct.unpack_from("<IIII", data, at + 40 * i + 8)
        sections.append((rva, vsize, raw_ptr, raw_size))
    return sections, dirs


def rva_to_offset(sections, rva, size):
    for s_rva, vsize, raw, raw_size in sections:
        if s_rva <= rva < s_rva + max(vsize, raw_size):
            off = raw + (rva - s_rva)
            if rva - s_rva + size > raw_size:
                raise PeError("data at %#x lies beyond its section's bytes in the file" % rva)
            return off
    raise PeError("data at %#x lies in no section" % rva)


def rcdata_resources(data, resource_type=10):
    """{id: bytes} of the program's resources of a type (RT_RCDATA unless
    told), the first language of each."""
    sections, dirs = pe_layout(data)
    if len(dirs) < 3 or dirs[2][0] == 0:
        raise PeError("the program has no resources")
    base = rva_to_offset(sections, dirs[2][0], 16)

    def entries(offset):
        if offset + 16 > len(data):
            raise PeError("the resource directory is cut off")
        named, ids = struct.unpack_from("<HH", data, offset + 12)
        out = []
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
            out.append((name, target))
        return out

    result = {}
    for type_id, type_target in entries(base):
        if type_id != resource_type or not type_target & 0x80000000:
            continue
        for rid, id_target in entries(base + (type_target & 0x7FFFFFFF)):
            if rid & 0x80000000 or not id_target & 0x80000000:
                continue
            langs = entries(base + (id_target & 0x7FFFFFFF))
            if not langs:
                continue
            entry_at = base + (langs[0][1] & 0x7FFFFFFF)
            if entry_at + 16 > len(data):
                raise PeError("the resource directory is cut off")
            rva, size = struct.unpack_from("<II", data, entry_at)
            try:
                off = rva_to_offset(sections, rva, size)
            except PeError:
                raise PeError("resource %d lies beyond the end of the file (the file is truncated)" % rid)
            if off + size > len(data):
                raise PeError("resource %d lies beyond the end of the file (the file is truncated)" % rid)
            result[rid] = data[off:off + size]
    return result, dirs


def verify_payload(path):
    """Problems of a built installer's payload against its digest ([] when sound)."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        resources, _ = rcdata_resources(data)
    except (PeError, struct.error) as e:
        return [str(e)]
    table = resources.get(payload_digest.DIGEST_ID)
    if table is None:
        return ["the payload digest (resource %d) is missing" % payload_digest.DIGEST_ID]
    parsed = payload_digest.parse(table)
    if parsed is None:
        return ["the payload digest (resource %d) is damaged" % payload_digest.DIGEST_ID]
    first, rows = parsed
    problems = []
    names = None
    if first in resources:
        names = resources[first].decode("latin-1").split("\r\n")
    for i, (size, crc) in enumerate(rows):
        rid = first + i
        label = "resource %d" % rid
        if names and 0 < i <= len(names):
            label += " (%s)" % names[i - 1]
        elif i == 0:
            label += " (the file list)"
        got = resources.get(rid)
        if got is None:
            problems.append("%s is missing" % label)
        elif len(got) != size:
            problems.append("%s has %d bytes, the digest says %d" % (label, len(got), size))
        elif payload_digest.zlib.crc32(got) & 0xFFFFFFFF != crc:
            problems.append("%s does not match the digest (changed bytes)" % label)
    return problems


def verify(path):
    if not os.path.isfile(path):
        say("%s: no such file" % path)
        return 1
    problems = verify_payload(path)
    for p in problems:
        say("%s: %s" % (path, p))
    with open(path, "rb") as f:
        data = f.read()
    try:
        _, dirs = pe_layout(data)
        signed = len(dirs) > 4 and dirs[4][1] != 0
    except (PeError, struct.error):
        signed = False
    sig_ok = True
    if signed:
        args = ["osslsigncode", "verify", "-in", path]
        if os.environ.get("VELLUM_VERIFY_CAFILE"):
            args += ["-CAfile", os.environ["VELLUM_VERIFY_CAFILE"]]
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        sig_ok = r.returncode == 0
        if not sig_ok:
            text = r.stdout.decode(errors="replace").strip()
            say("%s: the signature does not verify:\n%s" % (path, text))
    if problems or not sig_ok:
        return 1
    say("%s: payload sound; %s" % (path, "signature verified" if signed else "not signed"))
    return 0


def main(argv):
    p = argparse.ArgumentParser(prog="build-installer.sh", description=__doc__.splitlines()[0])
    p.add_argument("--verify", metavar="FILE")
    p.add_argument("--cabinets", metavar="DIR")
    p.add_argument("--version")
    p.add_argument("--out", metavar="FILE")
    p.add_argument("--catalogues", metavar="DIR")
    p.add_argument("--licenses", metavar="DIR")
    p.add_argument("--sign", metavar="PKCS12")
    p.add_argument("--password-file", metavar="FILE")
    a = p.parse_args(argv)
    if a.verify:
        if any([a.cabinets, a.version, a.out, a.catalogues, a.licenses, a.sign, a.password_file]):
            p.error("--verify takes no other option")
        return verify(a.verify)
    if not (a.cabinets and a.version and a.out):
        p.error("--cabinets, --version and --out are required (or --verify FILE)")
    if bool(a.sign) != bool(a.password_file):
        p.error("--sign and --password-file go together")
    try:
        build(a)
    except Problems as e:
        for problem in e.problems:
            say(problem)
        say("nothing was written")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
