"""Facts about the product that tests check against, in one place."""
import os
import sys

_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(_ROOT, "payload", "full"))
import locales  # noqa: E402
import ui_texts  # noqa: E402

# The version this build's payload carries (VERSION at the top of the tree).
VERSION = locales.VERSION

CLSID = "{6DF5EC40-6B6B-49E0-B5D9-8AE466B02026}"
IID = "{BC6D203F-91E0-45B3-82AB-BA7F5E90E554}"
LIBID = "{90479F93-E136-42D0-92D7-9261CFE1719D}"
PROGID = "VellumSetup.controller"

# Every key the server's registration owns, below Software\Classes of
# HKLM (machine-wide) or HKCU (per user).
COM_KEYS = ("CLSID\\" + CLSID, PROGID, "TypeLib\\" + LIBID, "Interface\\" + IID)
COM_ROOTS = ("HKLM", "HKCU")
CLSID_KEY = "HKLM\\Software\\Classes\\CLSID\\" + CLSID
PROGID_KEY = "HKCR\\" + PROGID

# What an installation records: its uninstall entry, and the product's own
# key with the digests of the kept file lists below it.
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather"
RECORDS_KEY = "HKLM\\Software\\Vellum\\Quillfeather"
MANIFESTS_KEY = RECORDS_KEY + "\\Manifests"
# Where the product reads the machine's locale from.
LOCALE_KEY = "HKLM\\SOFTWARE\\Ostrander\\ZephD\\HardwareDescription"
OOBE_KEY = "HKLM\\SOFTWARE\\Ostrander\\ZephOOBE"

# Window classes and captions.
LAUNCHER_CLASS = "VellumInstallerMain"
WIZARD_CLASS = "VellumSetupWizard"
PROGRESS_CLASS = "VellumProgressWindow"
WIZARD = ("--class", WIZARD_CLASS, "--visible")  # the inspector's words for the shown wizard
MAINTENANCE_FOLDER = "VellumMaintenance"

# Control identifiers of the wizard, as its layout tables create them, and
# of the progress window.
NEXT, CANCEL, BACK, LINE_BOTTOM, FRAME1, FRAME2 = 1001, 2, 1003, 1004, 1010, 1020
IMAGE1, LEFT_FILLER, TOP_FILLER, RIGHT_FILLER, LBL_TITLE, LBL_DESC, CHK_LAUNCH = range(1011, 1018)
TOP_BACKGROUND, TOP_TITLE, TOP_DESC, IMAGE2, LINE_TOP, TXT_LICENSE, OPT_AGREE, OPT_DISAGREE, INSTALL_CAPTION = \
    range(1021, 1030)
WIZARD_CONTROLS = (NEXT, CANCEL, BACK, LINE_BOTTOM, FRAME1, FRAME2) + tuple(range(1011, 1018)) + \
    tuple(range(1021, 1030))
LBL_PROGRESS, PROGRESS_BAR, LBL_TIMER = 101, 102, 103
PROGRESS_CONTROLS = (LBL_PROGRESS, PROGRESS_BAR, LBL_TIMER)


def text(locale, key):
    """The installation's UI text of a locale the payload has."""
    return ui_texts.TEXTS[locale][ui_texts.KEYS.index(key)]


TITLE = text("en-us", "loc_UI_Title")
