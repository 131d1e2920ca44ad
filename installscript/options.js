// The installation script of Quillfeather: this module opens it; the build
// joins the modules in the order installscript/CMakeLists.txt gives.
//
// Built into VellumSetup.jse (encoded) and carried in VellumInstaller's
// payload. VellumInstaller writes the payload into its working folder and
// starts this script there through the shell, with the arguments
// "VellumInstall" followed by the installer's own command line. common.cab
// carries a copy of it, so every installation keeps one at its root: the
// Add/Remove Programs entry starts that copy to uninstall or repair.
//
// What an installation does:
//   1. takes the working folder's lock (VellumSetup.lock, held open without
//      sharing until the script ends, so that the system lets it go even
//      when the script is killed); another run holding it ends this one;
//   2. chooses the locale as VellumInstaller does (the two registry values,
//      else en-us) and checks the install folder; a newer installed version
//      is left alone;
//   3. registers VellumSetup.exe from its own folder for this run only
//      (/RegServer /Run:<token>) and creates its VellumSetup.controller
//      (not when quiet: an unattended run shows nothing);
//   4. shows the wizard and waits until the user presses Install or leaves;
//   5. on Install, takes the install folder's lock (<folder>.VellumSetup.lock
//      beside it), extracts the shared cabinets and those of the locale in
//      one EXTRACT.EXE run into a staging folder beside the install folder
//      (the progress window following its progress record), checks every
//      file against the listing of what it extracted, adds the
//      maintenance folder (the manifest of what it installed, the cabinets
//      and EXTRACT.EXE for repairs), writes the uninstall entry, and only
//      then swaps the staging folder into place; files of an earlier
//      installation that the new content does not have are carried over,
//      except those the earlier installation itself installed;
//   6. shows the finish page, opens the installed start page if the user
//      asked for it, closes VellumSetup and unregisters what it registered.
//
// Arguments (after VellumInstall; others are ignored):
//   /target:<folder>   install folder; environment variables are expanded;
//                      it must then be an absolute path (C:\... or \\server\
//                      share\...). Default: where Quillfeather is installed,
//                      else %ProgramFiles%\Quillfeather
//   /q, /s, -q, -s     quiet (unattended): no wizard, no box, no question
//   /acceptlicense     accepts the license for an unattended installation
//   /log:<file>        appends one line per step; quiet runs without it log
//                      to %TEMP%\VellumSetup.log
//   /uninstall         removes the installation
//   /repair            verifies the installation and restores what is
//                      missing or changed
//   /maintenancecopy   (internal) this run is the copy that an uninstall or
//                      repair started outside the install folder
//
// Exit codes: see EXIT_* below and the README.
//
// The source must stay ASCII: the encoded form cannot carry other
// characters (write \uXXXX escapes in strings).

var EXIT_OK = 0;
var EXIT_FAILED = 1;
var EXIT_ABORTED = 2;
var EXIT_BUSY = 3;
var EXIT_LICENSE = 4;      // unattended installation without /acceptlicense
var EXIT_NEWER = 5;        // a newer version is installed; left alone
var EXIT_NOTHING = 6;      // uninstall or repair: nothing is installed
var EXIT_LOG = 7;          // the log file cannot be written; nothing was done
var EXIT_FOREIGN = 8;      // the install folder holds files that are not ours; nothing was installed
var EXIT_UNTRUSTED = 9;    // the manifest is not the one the installation wrote; nothing was changed
var EXIT_LEFT_BEHIND = 10; // installed, but files of the earlier installation stay beside it

var PRODUCT = "Quillfeather";
var PUBLISHER = "Vellum";
var UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather\\";
var MAINTENANCE = "VellumMaintenance";      // inside the install folder
var MANIFEST = MAINTENANCE + "\\manifest.txt";
var KEPT_CABINETS = MAINTENANCE + "\\cabinets";

var LOCALE_KEY_1 = "HKLM\\SOFTWARE\\Ostrander\\ZephD\\HardwareDescription\\localeId";
var LOCALE_KEY_2 = "HKLM\\SOFTWARE\\Ostrander\\ZephOOBE\\Lang_Country";
var POLL_MS = 250;
var LOCK_ATTEMPTS = 10;
var LOCK_RETRY_MS = 40;
var PROGRESS_MAX = 1000;

// Message box styles: the stop icon where a file cannot be created, the
// exclamation icon otherwise; always in front of the wizard.
var ICON_STOP = 16;
var ICON_EXCLAMATION = 48;
var BOX_IN_FRONT = 0x10000 | 0x40000; // MB_SETFOREGROUND | MB_TOPMOST

var shell = null;
var fso = null;
var here = "";           // the working folder, without a trailing backslash
var controller = null;
var quiet = false;
var registered = false;
var runToken = "";
var targetFolder = "";
var title = "Quillfeather Installation";
var lockStream = null;   // the working folder's lock, held until the end
var mode = "install";    // "install", "uninstall" or "repair"
var acceptLicense = false;
var maintenanceCopy = false;
var targetGiven = false; // /target: was on the command line
var logPath = "";        // "" when this run keeps no log
// The transaction on the install folder: everything a failure has to undo.
var tx = {
    createdFolders: [], // folders this run created, outermost first
    targetLock: null,   // the install folder's lock while this run works in it
    targetLockPath: "",
    staging: "",        // where the new content is extracted and checked
    previous: "",       // where the earlier installation waits during the swap
    earlier: null,      // the earlier installation's manifest, when it is trusted
    oldEntry: null,     // the uninstall entry as it was before this run wrote it
    entryWritten: false,
    digestWritten: "",  // the digest this run kept, until the installation stands
    oldDigest: "",      // the digest kept before this run
    leftBehind: []      // where files of an earlier installation were set aside
};

// A hook for the tests: with VELLUM_TEST_STOP_AT naming a step, the run
// creates the file VELLUM_TEST_STOP_FILE names on reaching it and waits
// there while the file stays (at most five minutes): to be killed at a
// known point, or to go on once the file is removed.
function stepReached(step) {
    var env = shell.Environment("PROCESS");
    var file = env("VELLUM_TEST_STOP_FILE");
    if (env("VELLUM_TEST_STOP_AT") != step || file == "") {
        return;
    }
    log("test", "stopped at " + step);
    fso.CreateTextFile(file, true).Close();
    for (var waited = 0; waited < 300000 && fso.FileExists(file); waited += 200) {
        pause(200);
    }
}
var progressWorks = true; // the kept VellumSetup may lack what the progress window needs

// WScript.Sleep where the host has it; a bounded busy wait where it does not.
var sleepWorks = true;
function pause(ms) {
    if (sleepWorks) {
        try {
            WScript.Sleep(ms);
            return;
        } catch (e) {
            sleepWorks = false;
        }
    }
    var end = new Date().getTime() + ms;
    while (new Date().getTime() < end) {
    }
}

function quote(path) {
    return "\"" + path + "\"";
}

// A path for a quoted argument: a trailing backslash would escape the quote.
function noTrailingSlash(path) {
    while (path.length > 3 && path.charAt(path.length - 1) == "\\") {
        path = path.substring(0, path.length - 1);
    }
    return path;
}

function regString(name) {
    try {
        var v = shell.RegRead(name);
        return (typeof v == "string") ? v : "";
    } catch (e) {
        return "";
    }
}

// Same choice as VellumInstaller: source 1 as it stands, source 2 lower-cased
// with "_" turned into "-", else en-us.
function chooseLocale() {
    var id = regString(LOCALE_KEY_1);
    if (id == "") {
        id = regString(LOCALE_KEY_2).toLowerCase().replace(/_/g, "-");
    }
    return id == "" ? "en-us" : id;
}

// A text of the locale's catalogue, for the script's own use (titles and
// the remaining-time text); the fallback when anything is missing.
var catalogue = null;
function localized(locale, key, fallback) {
    try {
        if (catalogue == null) {
            // Only the installer's working folder has it: a maintenance run
            // does not load the parser (a module load that costs more than
            // the lookup) for nothing.
            var path = here + "\\InstallerUIText_" + locale + ".xml";
            if (!fso.FileExists(path)) {
                return fallback;
            }
            catalogue = new ActiveXObject("Microsoft.XMLDOM");
            catalogue.async = false;
            if (!catalogue.load(path)) {
                return fallback;
            }
        }
        var node = catalogue.documentElement.selectSingleNode(
            "language[@localeId='" + locale + "']/resource[name='" + key + "']/value");
        return node == null ? fallback : node.text;
    } catch (e) {
        return fallback;
    }
}

// The payload's list of files: plain names only (a cabinet's name becomes a
// path in the maintenance folder).
function readList() {
    var lines = splitLines(readText(here + "\\filesList.txt", 0)), names = [];
    for (var i = 0; i < lines.length; i++) {
        if (lines[i] == "") {
            continue;
        }
        if (safeRelative(lines[i]) != lines[i] || lines[i].indexOf("\\") >= 0) {
            fail("The installation files in " + here + " are damaged: filesList.txt names \"" + lines[i] +
                 "\", which is not a plain file name.");
        }
        names.push(lines[i]);
    }
    return names;
}

// The cabinets to install: the shared ones (no locale prefix) and the
// locale's own, in list order. A locale without content gets en-us content.
function selectCabinets(names, locale) {
    var shared = [], own = [], english = [];
    var localePrefix = /^[a-z][a-z]-[a-z][a-z]_/;
    for (var i = 0; i < names.length; i++) {
        var n = names[i];
        if (!/\.cab$/i.test(n)) {
            continue;
        }
        if (!localePrefix.test(n)) {
            shared.push(n);
        } else if (n.indexOf(locale + "_") == 0) {
            own.push(n);
        } else if (n.indexOf("en-us_") == 0) {
            english.push(n);
        }
    }
    if (own.length > 0) {
        return { locale: locale, cabinets: shared.concat(own) };
    }
    return { locale: "en-us", cabinets: shared.concat(english) };
}

// ---- options -------------------------------------------------------------

function isQuietSwitch(a) {
    return /^[\/\-][qs]$/i.test(a);
}

function parseOptions() {
    var args = WScript.Arguments;
    var logArg = null;
    for (var i = 0; i < args.length; i++) {
        var a = args(i);
        var m;
        if (isQuietSwitch(a)) {
            quiet = true;
        } else if (/^[\/\-]acceptlicense$/i.test(a)) {
            acceptLicense = true;
        } else if (/^[\/\-]uninstall$/i.test(a)) {
            mode = "uninstall";
        } else if (/^[\/\-]repair$/i.test(a)) {
            mode = "repair";
        } else if (/^[\/\-]maintenancecopy$/i.test(a)) {
            maintenanceCopy = true;
        } else if ((m = /^[\/\-]log:(.*)$/i.exec(a)) != null) {
            logArg = m[1];
        } else if (/^[\/\-]target:/i.test(a)) {
            targetGiven = true;
        }
    }
    if (logArg != null) {
        logPath = shell.ExpandEnvironmentStrings(logArg).replace(/\u0000/g, "").replace(/\//g, "\\");
        if (logPath == "") {
            logPath = "?"; // an empty /log: is refused as unwritable
        }
    } else if (quiet) {
        logPath = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "") + "\\VellumSetup.log";
    }
}
