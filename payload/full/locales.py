"""The locales of the payload and the cabinet naming scheme.

One place for the order that the file list, the resource identifiers and
every generator follow, so that they cannot drift apart.
"""
import os
import re

# Catalogues stand at identifiers 101..119 and license texts at 120..138 in
# exactly this order.
LOCALES = [
    "da-dk", "de-de", "en-au", "en-gb", "en-us", "es-es", "es-mx", "fi-fi",
    "fr-ca", "fr-fr", "it-it", "ko-kr", "nb-no", "nl-nl", "pt-pt", "sv-se",
    "zh-cn", "zh-hk", "zh-tw",
]

# Windows ANSI code page of each locale's license text.
CODE_PAGES = {loc: "cp1252" for loc in LOCALES}
CODE_PAGES.update({"ko-kr": "cp949", "zh-cn": "cp936",
                   "zh-hk": "cp950", "zh-tw": "cp950"})

# Cabinets that every locale shares, in file-list order.
SHARED_CABINETS = [
    "azephregw.cab", "all_hsc.cab", "all_modem.cab", "all_HERON_hsc.cab",
    "all_OSPREY_hsc.cab", "common.cab", "Zeph.CAB", "systemCommon.cab",
]

# Categories present for every locale, in file-list order.
LOCALE_CATEGORIES = [
    "all_all_all", "hsc", "misc", "modem", "system", "techSupport",
    "HERON_hsc", "OSPREY_hsc",
]

OPTIONAL_CATEGORIES = {
    "CiscoChat": ("en-us", "es-mx"),
    "Tutorial_online": ("en-us",),
}

FAMILIES = ["Heron", "Osprey", "Plover"]
EDITIONS = ["all", "Windows XP Home", "Windows XP Media Center",
            "Windows XP Professional"]
_ALL = tuple(EDITIONS)
_HMP = ("Windows XP Home", "Windows XP Media Center", "Windows XP Professional")
_MP = ("Windows XP Media Center", "Windows XP Professional")
_P = ("Windows XP Professional",)

# Desktop cabinets per locale: family -> editions present.
_DESKTOPS_BY_GROUP = [
    (("en-au", "en-gb", "en-us", "fr-ca", "fr-fr"),
     {"Heron": _ALL, "Osprey": _ALL, "Plover": _ALL}),
    (("it-it", "ko-kr"), {"Heron": _ALL, "Osprey": _ALL, "Plover": _HMP}),
    (("es-mx",), {"Heron": _ALL, "Osprey": _ALL, "Plover": _MP}),
    (("de-de",), {"Heron": _ALL, "Osprey": _HMP, "Plover": _P}),
    (("da-dk", "es-es", "fi-fi", "nb-no", "nl-nl", "sv-se", "zh-hk", "zh-tw"),
     {"Heron": _ALL, "Osprey": _ALL}),
    (("pt-pt", "zh-cn"), {"Heron": _ALL}),
]
DESKTOPS = {}
for _locales, _table in _DESKTOPS_BY_GROUP:
    for _loc in _locales:
        DESKTOPS[_loc] = _table


def locale_cabinets(locale):
    """(category, file name) of the locale's own cabinets, in list order:
    the eight common categories, the optional ones, then the desktops by
    family and edition."""
    out = [(cat, "%s_%s.cab" % (locale, cat)) for cat in LOCALE_CATEGORIES]
    for cat, where in OPTIONAL_CATEGORIES.items():
        if locale in where:
            out.append((cat, "%s_%s.cab" % (locale, cat)))
    for family in FAMILIES:
        for edition in EDITIONS:
            if edition in DESKTOPS[locale].get(family, ()):
                cat = "desktops_%s_%s" % (family, edition)
                out.append((cat, "%s_%s.cab" % (locale, cat)))
    return out


def all_cabinets():
    """Every cabinet name in file-list order (lines 39..373): the shared
    ones first, then each locale's in locale order."""
    names = list(SHARED_CABINETS)
    for loc in LOCALES:
        names.extend(name for _, name in locale_cabinets(loc))
    return names


def catalogue_name(locale):
    return "InstallerUIText_%s.xml" % locale


def license_name(locale):
    return "EULA_%s.txt" % locale


SCRIPT_NAME = "VellumSetup.jse"
SETUP_NAME = "VellumSetup.exe"
VERSION_NAME = "vellumVersion.txt"
EXTRACT_NAME = "EXTRACT.EXE"

def _product_version():
    """The product's version: VERSION at the top of the tree, X.Y.Z."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "VERSION")
    with open(path, encoding="ascii") as f:
        version = f.read().strip()
    if not re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", version):
        raise ValueError("%s: %r is not a version X.Y.Z" % (path, version))
    return version


VERSION = _product_version()
VERSION_TEXT = b"version=%s\r\n" % VERSION.encode("ascii")


def file_list():
    """The 377 lines of filesList.txt, line i naming resource 100 + i."""
    return ([catalogue_name(l) for l in LOCALES]
            + [license_name(l) for l in LOCALES]
            + all_cabinets()
            + [SCRIPT_NAME, SETUP_NAME, VERSION_NAME, EXTRACT_NAME])
