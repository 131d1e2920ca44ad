#!/usr/bin/env python3
"""Generates the 335 help-content cabinets of the payload.

    make_cabinets.py --out DIR [--script VellumSetup.jse] [--setup-exe VellumSetup.exe]
                     [--only NAME ...] [--jobs N]

Every cabinet is a Microsoft Cabinet file with MSZIP compression made by
gcab. It holds package_description.xml at its root and a content package
under locales/<locale>/ (locales/all/ for the eight shared cabinets): HTML
pages, a style sheet, a script and images. common.cab also carries the
installation script at its root, uninstallUI/VellumSetup.exe and beside it
the uninstall and repair texts (uninstallUI/MaintenanceUIText_<locale>.xml).

The content is generated, not stored: text from the locale's UI texts and
images of pseudo-random pixels (seeded by the cabinet's name), so that every
run produces the same bytes and the cabinets have the sizes of a real help
package (about 8.4 MB in all, the largest about 680 KB) although they
compress poorly. File times are fixed for the same reason.

A cabinet is rebuilt only when its signature (generator and product version, name and
the bytes of any file copied in) differs from the one recorded beside it in
DIR/.signatures, so a rebuild after a change of VellumSetup.exe redoes
common.cab only.
"""
import argparse
import concurrent.futures
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import locales  # noqa: E402
import ui_texts  # noqa: E402

# Bump when the generated content changes, so that cached cabinets are redone.
GENERATOR_VERSION = "4"

# 2006-08-01 12:00:00 UTC: the time stamp of every file in every cabinet.
FIXED_TIME = 1154433600

# Target size in KB of the images of each cabinet; the pages add a few KB.
SHARED_SIZES = {
    "azephregw.cab": 8, "all_hsc.cab": 662, "all_modem.cab": 30,
    "all_HERON_hsc.cab": 250, "all_OSPREY_hsc.cab": 210, "common.cab": 30,
    "Zeph.CAB": 130, "systemCommon.cab": 180,
}
CATEGORY_SIZES = {
    "all_all_all": 15, "hsc": 86, "misc": 10, "modem": 7, "system": 48,
    "techSupport": 34, "HERON_hsc": 26, "OSPREY_hsc": 24,
    "CiscoChat": 20, "Tutorial_online": 110,
}
DESKTOP_ALL_SIZE = 8
DESKTOP_EDITION_SIZE = 3


def cabinet_specs():
    """(cabinet name, locale folder, area, image KB) for all 335 cabinets,
    in file-list order."""
    specs = []
    for name in locales.SHARED_CABINETS:
        area = name.rsplit(".", 1)[0]
        specs.append((name, "all", area, SHARED_SIZES[name]))
    for loc in locales.LOCALES:
        # Locales differ a little, as real content does.
        factor = 0.9 + (zlib.crc32(loc.encode()) % 21) / 100.0
        for cat, name in locales.locale_cabinets(loc):
            if cat.startswith("desktops_"):
                _, family, edition = cat.split("_", 2)
                area = "desktops/%s/%s" % (family, edition)
                kb = DESKTOP_ALL_SIZE if edition == "all" else DESKTOP_EDITION_SIZE
            else:
                area = cat
                kb = CATEGORY_SIZES[cat]
            specs.append((name, loc, area, max(1, int(round(kb * factor)))))
    return specs


def _texts(loc):
    table = ui_texts.TEXTS.get(loc, ui_texts.EN_US)
    return dict(zip(ui_texts.KEYS, table))


def _esc(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def _bmp(rng, width, height):
    """A 24-bit bitmap of noise: valid image, poorly compressible."""
    row = (width * 3 + 3) & ~3
    pixels = rng.randbytes(row * height)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def _page(loc, title, body, css, js):
    return ("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\r\n"
            "<html>\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
            "<title>%s</title>\r\n"
            "<link rel=\"stylesheet\" type=\"text/css\" href=\"%s\">\r\n"
            "<script type=\"text/javascript\" src=\"%s\"></script>\r\n"
            "</head>\r\n<body lang=\"%s\">\r\n%s\r\n</body>\r\n</html>\r\n"
            % (_esc(title), css, js, loc, body)).encode("utf-8")


def cabinet_files(name, loc, area, image_kb):
    """{path inside the cabinet: bytes}: the content of one cabinet."""
    rng = random.Random(zlib.crc32(name.encode("utf-8")))
    texts = _texts(loc if loc != "all" else "en-us")
    product = texts["loc_UI_Title"]
    base = "locales/%s/%s" % (loc, area)
    depth = "../" * (area.count("/") + 1)
    css = depth + "styles/help.css"
    js = depth + "scripts/nav.js"
    files = {}

    topics = []
    n_pages = 2 + rng.randrange(4)
    for i in range(n_pages):
        page = "%s/topic%02d.htm" % (base, i + 1)
        para = " ".join(texts[k] for k in
                        ("loc_UI_Install_prompt", "loc_UI_Ready_Desc",
                         "loc_UI_Finish_Desc"))
        body = ("<h1>%s</h1>\r\n<p>%s</p>\r\n<p><img src=\"images/picture%02d.bmp\" alt=\"\"></p>"
                % (_esc(product), _esc(para), i + 1))
        files[page] = _page(loc, "%s - %s %d" % (product, area, i + 1), body, css, js)
        topics.append("topic%02d.htm" % (i + 1))
    links = "\r\n".join("<li><a href=\"%s\">%s %d</a></li>" % (t, _esc(area), i + 1)
                        for i, t in enumerate(topics))
    files["%s/index.htm" % base] = _page(
        loc, product, "<h1>%s</h1>\r\n<ul>\r\n%s\r\n</ul>" % (_esc(product), links),
        css, js)
    # The locale's start page lives in its all_all_all package.
    if area == "all_all_all":
        files["locales/%s/index.htm" % loc] = _page(
            loc, product,
            "<h1>%s</h1>\r\n<p>%s</p>\r\n<p><a href=\"all_all_all/index.htm\">%s</a></p>"
            % (_esc(texts["loc_UI_welcomeText"]), _esc(texts["loc_UI_Finish_Desc"]),
               _esc(product)),
            "styles/help.css", "scripts/nav.js")
    files["locales/%s/styles/help.css" % loc] = (
        "body { font-family: Tahoma, Verdana, sans-serif; font-size: 8.5pt; margin: 12px; }\r\n"
        "h1 { font-size: 14pt; color: #1f3f7f; }\r\n"
        "a { color: #0033cc; }\r\n").encode("ascii")
    files["locales/%s/scripts/nav.js" % loc] = (
        "// Opens a help topic in the same window.\r\n"
        "function openTopic(name) {\r\n"
        "    window.location.href = name;\r\n"
        "}\r\n").encode("ascii")

    remaining = image_kb * 1024
    i = 1
    while remaining > 0:
        chunk = min(remaining, 96 * 1024)
        width = 128
        height = max(1, chunk // (width * 3))
        files["%s/images/picture%02d.bmp" % (base, i)] = _bmp(rng, width, height)
        remaining -= width * 3 * height + 54
        i += 1

    listing = "\r\n".join("    <file name=\"%s\" />" % _esc(p.replace("/", "\\"))
                          for p in sorted(files))
    files["package_description.xml"] = (
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<contentPackage product=\"Quillfeather\" version=\"%s\">\r\n"
        "  <package name=\"%s\" locale=\"%s\" area=\"%s\" />\r\n"
        "  <files>\r\n%s\r\n  </files>\r\n"
        "</contentPackage>\r\n" % (locales.VERSION, _esc(name), loc, _esc(area), listing)).encode("utf-8")
    return files


def _digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 16), b""):
            h.update(block)
    return h.hexdigest()


def build_cabinet(entry, outdir, extra):
    """Writes one cabinet unless its recorded signature is current.
    extra: {path inside the cabinet: source file} copied in as they are."""
    name, loc, area, kb = entry
    sig = "%s|%s|%s|%s|%s|%d|%s" % (GENERATOR_VERSION, locales.VERSION, name, loc, area, kb,
                                 ",".join("%s=%s" % (p, _digest(s))
                                          for p, s in sorted(extra.items())))
    sigdir = os.path.join(outdir, ".signatures")
    sigpath = os.path.join(sigdir, name + ".sig")
    target = os.path.join(outdir, name)
    try:
        with open(sigpath) as f:
            if f.read() == sig and os.path.exists(target):
                return False
    except OSError:
        pass
    files = cabinet_files(name, loc, area, kb)
    stage = tempfile.mkdtemp(prefix="cab-", dir=outdir)
    try:
        for rel, data in files.items():
            path = os.path.join(stage, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        for rel, src in extra.items():
            path = os.path.join(stage, *rel.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            shutil.copyfile(src, path)
        members = sorted(list(files) + list(extra))
        for rel in members:
            os.utime(os.path.join(stage, *rel.split("/")), (FIXED_TIME, FIXED_TIME))
        tmp = os.path.join(outdir, ".%s.tmp" % name)
        res = subprocess.run(["gcab", "-c", "-z", tmp] + members, cwd=stage,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if res.returncode != 0:
            raise RuntimeError("gcab failed for %s: %s"
                               % (name, res.stdout.decode(errors="replace")))
        os.replace(tmp, target)
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(sigdir, exist_ok=True)
    with open(sigpath, "w") as f:
        f.write(sig)
    return True


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--script", help="installation script copied into common.cab")
    ap.add_argument("--setup-exe", help="program copied to common.cab as uninstallUI/VellumSetup.exe")
    ap.add_argument("--maintenance-texts",
                    help="folder of MaintenanceUIText_*.xml copied to common.cab's uninstallUI folder")
    ap.add_argument("--only", nargs="*", help="build only these cabinets")
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    specs = cabinet_specs()
    if len(specs) != 335 or len({s[0] for s in specs}) != 335:
        sys.stderr.write("make_cabinets: the naming scheme gives %d cabinets, not 335\n"
                         % len(specs))
        return 1
    if args.only:
        specs = [s for s in specs if s[0] in set(args.only)]
    common_extra = {}
    if args.script:
        common_extra[locales.SCRIPT_NAME] = args.script
    if args.setup_exe:
        common_extra["uninstallUI/" + locales.SETUP_NAME] = args.setup_exe
    if args.maintenance_texts:
        for name in sorted(os.listdir(args.maintenance_texts)):
            if name.startswith("MaintenanceUIText_") and name.endswith(".xml"):
                common_extra["uninstallUI/" + name] = os.path.join(args.maintenance_texts, name)
    built = 0
    with concurrent.futures.ThreadPoolExecutor(max(1, args.jobs)) as pool:
        futures = [pool.submit(build_cabinet, s, args.out,
                               common_extra if s[0] == "common.cab" else {})
                   for s in specs]
        for fut in futures:
            try:
                built += bool(fut.result())
            except Exception as e:  # report and stop: a missing cabinet breaks the payload
                sys.stderr.write("make_cabinets: %s\n" % e)
                return 1
    print("make_cabinets: %d of %d cabinets rebuilt" % (built, len(specs)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
