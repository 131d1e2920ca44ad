// VellumSetup.js: the installation script of Quillfeather.
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
//      beside it), extracts the shared cabinets and those of the locale with
//      EXTRACT.EXE into a staging folder beside the install folder, checks
//      every file against the cabinets' listings (EXTRACT /D), adds the
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
var createdFolders = []; // folders this run created, outermost first
var title = "Quillfeather Installation";
var lockStream = null;   // the working folder's lock, held until the end
var targetLock = null;   // the install folder's lock while it is written
var targetLockPath = "";
var staging = "";        // where the new content is extracted and checked
var previous = "";       // where the earlier installation waits during the swap
var listingPath = "";
var mode = "install";    // "install", "uninstall" or "repair"
var acceptLicense = false;
var maintenanceCopy = false;
var targetGiven = false; // /target: was on the command line
var logPath = "";        // "" when this run keeps no log
var oldEntry = null;     // the uninstall entry as it was before this run wrote it
var entryWritten = false;
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
            catalogue = new ActiveXObject("Microsoft.XMLDOM");
            catalogue.async = false;
            if (!catalogue.load(here + "\\InstallerUIText_" + locale + ".xml")) {
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

function readList() {
    var names = [];
    var stream = fso.OpenTextFile(here + "\\filesList.txt", 1);
    while (!stream.AtEndOfStream) {
        var line = stream.ReadLine();
        if (line != "") {
            names.push(line);
        }
    }
    stream.Close();
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

// ---- log -----------------------------------------------------------------

function two(n) {
    return (n < 10 ? "0" : "") + n;
}

function timestamp() {
    var d = new Date();
    return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
        two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
}

// The log is ASCII: characters outside it are written as \uXXXX, and line
// breaks inside a text would split its line.
function logSafe(text) {
    return String(text).replace(/[\r\n\t]+/g, " ").replace(/[^\x20-\x7e]/g, function (c) {
        var h = c.charCodeAt(0).toString(16);
        while (h.length < 4) {
            h = "0" + h;
        }
        return "\\u" + h;
    });
}

// One line per step: time, what, result. The file is opened for each line,
// so that the copy an uninstall starts can write into the same log.
// Returns false when the line could not be written.
function log(what, result) {
    if (logPath == "") {
        return true;
    }
    try {
        var stream = fso.OpenTextFile(logPath, 8, true, 0);
        stream.WriteLine(timestamp() + "\t" + logSafe(what) + "\t" + logSafe(result));
        stream.Close();
        return true;
    } catch (e) {
        return false;
    }
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

// ---- failures ------------------------------------------------------------

function fail(message, icon, exitCode) {
    var e = new Error(message);
    e.vellumMessage = message;
    e.vellumIcon = icon || ICON_EXCLAMATION;
    e.vellumExit = exitCode || EXIT_FAILED;
    throw e;
}

function hex8(n) {
    var h = (n >>> 0).toString(16).toUpperCase();
    while (h.length < 8) {
        h = "0" + h;
    }
    return "0x" + h;
}

// Descriptions for errors that some hosts raise without one.
var KNOWN_ERRORS = {
    "800A0035": "File not found",
    "800A003A": "File already exists",
    "800A003D": "Disk full",
    "800A0044": "Device unavailable",
    "800A0046": "Permission denied",
    "800A004C": "Path not found",
    "80004001": "Not implemented",
    "80004005": "Unspecified error",
    "80070005": "Access is denied",
    "80070020": "The file is in use by another process",
    "80070070": "There is not enough space on the disk"
};

// "description, error 0x........": the error's own words and number.
function errorText(e) {
    var number = (e && typeof e.number == "number") ? e.number : 0;
    var text = "";
    if (e && e.description) {
        text = String(e.description);
    } else if (e && e.message) {
        text = String(e.message);
    }
    text = text.replace(/[\s.]+$/, "");
    if (text == "") {
        text = KNOWN_ERRORS[hex8(number).substring(2)] || "Unknown error";
    }
    return text + ", error " + hex8(number);
}

function showBox(message, icon) {
    if (quiet) {
        return; // unattended: the log and the exit code tell it
    }
    try {
        shell.Popup(message, 0, title, icon | BOX_IN_FRONT);
    } catch (e) {
    }
}

// Tells the user about a failure in front of the wizard, which closes after.
function tellFailure(message, icon) {
    showBox(message, icon || ICON_EXCLAMATION);
}

// What EXTRACT.EXE's exit code says.
function extractReason(rc) {
    switch (rc) {
    case 1: return "the extraction tool was called wrongly";
    case 2: return "the cabinet is unreadable or damaged";
    case 3: return "a file could not be written (is the disk full?)";
    case 4: return "the cabinet names a file outside the install folder";
    }
    return "the extraction tool failed";
}

// ---- locks ---------------------------------------------------------------

// Opens a lock file for writing without sharing and keeps it open; the
// system closes it when this process ends, however it ends. Returns the
// stream, or null when another process holds it; other failures are thrown.
function takeLock(path) {
    if (fso.FolderExists(path)) {
        fail("The lock file " + path + " cannot be created: a folder of that name is in the way.", ICON_STOP);
    }
    // The launcher that started this script looks at the lock now and then
    // (opening it for a moment without sharing) until the script holds it:
    // an open that meets such a look is tried again before it counts as
    // another run's lock.
    for (var attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        try {
            return fso.OpenTextFile(path, 8, true);
        } catch (e) {
            if (!fso.FileExists(path)) {
                fail("The lock file " + path + " cannot be created (" + errorText(e) + ").", ICON_STOP);
            }
        }
        pause(LOCK_RETRY_MS);
    }
    return null; // it exists and stays held: another run holds it
}

function releaseTargetLock() {
    if (targetLock == null) {
        return;
    }
    try {
        targetLock.Close();
    } catch (e) {
    }
    targetLock = null;
    try {
        fso.DeleteFile(targetLockPath, true);
    } catch (e2) {
        // Another run took it meanwhile; it is that run's now.
    }
}

// ---- folders -------------------------------------------------------------

// Creates the folder and any missing parent, remembering what it created.
function makeFolders(path) {
    path = noTrailingSlash(path);
    if (fso.FolderExists(path)) {
        return;
    }
    var parent = fso.GetParentFolderName(path);
    if (parent != "" && parent != path) {
        makeFolders(parent);
    }
    try {
        fso.CreateFolder(path);
    } catch (e) {
        if (fso.FolderExists(path)) {
            return; // created by someone else meanwhile
        }
        throw e;
    }
    createdFolders.push(path);
}

function isEmptyFolder(path) {
    var f = fso.GetFolder(path);
    return f.Files.Count == 0 && f.SubFolders.Count == 0;
}

// Takes away the folders this run created, innermost first, as long as they
// are empty: whatever another program put there meanwhile stays.
function removeCreated() {
    for (var i = createdFolders.length - 1; i >= 0; i--) {
        try {
            if (fso.FolderExists(createdFolders[i]) && isEmptyFolder(createdFolders[i])) {
                fso.DeleteFolder(createdFolders[i], true);
            }
        } catch (e) {
        }
    }
    createdFolders = [];
}

// Renames a folder on its volume. Some hosts lack MoveFolder; their
// MoveFile renames folders as well.
function moveFolder(from, to) {
    try {
        fso.MoveFolder(from, to);
    } catch (e) {
        if ((e.number >>> 0) != 0x80004001) {
            throw e;
        }
        fso.MoveFile(from, to);
    }
    if (!fso.FolderExists(to) || fso.FolderExists(from)) {
        fail("The folder " + from + " could not be moved to " + to + ".");
    }
}

function deleteFolder(path) {
    if (fso.FolderExists(path)) {
        fso.DeleteFolder(path, true);
    }
}

// Every path under a folder (files only, or files and folders), parents
// before their contents, from the command interpreter's listing in Unicode
// (this script host cannot enumerate folders everywhere).
function treeList(folder, filesOnly) {
    var out = here + "\\VellumSetup.tree";
    if (fso.FileExists(out)) {
        fso.DeleteFile(out, true);
    }
    var comspec = shell.ExpandEnvironmentStrings("%ComSpec%").replace(/\u0000/g, "");
    // dir answers 1 for a folder without files: an empty listing.
    shell.Run(quote(comspec) + " /u /c \"dir /s /b " + (filesOnly ? "/a-d " : "/a ") + quote(folder) + " > " +
              quote(out) + "\"", 0, true);
    if (!fso.FileExists(out)) {
        fail("The contents of " + folder + " could not be listed.");
    }
    var paths = [];
    if (fso.GetFile(out).Size > 0) {
        var stream = fso.OpenTextFile(out, 1, false, -1);
        while (!stream.AtEndOfStream) {
            var line = stream.ReadLine();
            if (line.toLowerCase().indexOf(folder.toLowerCase() + "\\") == 0) {
                paths.push(line);
            }
        }
        stream.Close();
    }
    fso.DeleteFile(out, true);
    return paths;
}

// Moves what the earlier installation has and the new one lacks (the
// user's own files, among others) into the new one.
function carryOver(from, to) {
    var paths = treeList(from, false);
    for (var i = 0; i < paths.length; i++) {
        var rel = paths[i].substring(from.length + 1);
        var src = from + "\\" + rel, dst = to + "\\" + rel;
        var isFolder = fso.FolderExists(src);
        if (!isFolder && !fso.FileExists(src)) {
            continue; // moved with its folder
        }
        if (fso.FileExists(dst) || fso.FolderExists(dst) || !fso.FolderExists(fso.GetParentFolderName(dst))) {
            continue;
        }
        if (isFolder) {
            moveFolder(src, dst);
        } else {
            fso.MoveFile(src, dst);
        }
    }
}

// Completes a swap: the earlier installation's extras move over, the rest
// of it goes. A failure leaves it for the next run to finish; the
// installation itself stands.
function finishSwap() {
    try {
        dropEarlierContent(previous);
        carryOver(previous, targetFolder);
        deleteFolder(previous);
    } catch (e) {
    }
}

// Puts right what a run that was killed left beside the install folder:
// an interrupted swap is undone or completed; a staging folder goes.
function recoverLeftovers() {
    if (fso.FolderExists(previous)) {
        if (fso.FolderExists(targetFolder)) {
            finishSwap();
        } else {
            moveFolder(previous, targetFolder);
        }
    }
    deleteFolder(staging);
}

// A name in the install folder's parent: on its volume, so that the
// swap is a rename.
function besideTarget(suffix) {
    return fso.GetParentFolderName(targetFolder) + "\\" + fso.GetFileName(targetFolder) + suffix;
}

// A killed run's leftovers go at the next start, whether or not that run
// gets as far as installing; a run busy in the folder is left alone.
function recoverAtStart() {
    if (!fso.FolderExists(besideTarget(".VellumStaging")) && !fso.FolderExists(besideTarget(".VellumPrevious"))) {
        return;
    }
    targetLockPath = besideTarget(".VellumSetup.lock");
    try {
        targetLock = takeLock(targetLockPath);
    } catch (e) {
        return;
    }
    if (targetLock == null) {
        return;
    }
    staging = besideTarget(".VellumStaging");
    previous = besideTarget(".VellumPrevious");
    try {
        recoverLeftovers();
    } catch (e2) {
        // The installation tries again, and reports what stays wrong.
    }
    staging = "";
    previous = "";
    releaseTargetLock();
}

// ---- arguments -----------------------------------------------------------

// The install folder: expanded, and refused unless it is an absolute path
// whose every variable was defined.
function parseTarget() {
    var args = WScript.Arguments;
    var target = null;
    for (var i = 0; i < args.length; i++) {
        var m = /^[\/\-]target:(.*)$/i.exec(args(i));
        if (m) {
            target = m[1];
        }
    }
    if (target == null) {
        // An installation that stands is upgraded where it is.
        var installed = installedLocation();
        target = installed != "" ? installed : "%ProgramFiles%\\Quillfeather";
    }
    var given = target;
    var names = target.match(/%[^%]+%/g) || [];
    for (var k = 0; k < names.length; k++) {
        // Some hosts return the expansion with its terminating NUL.
        if (shell.ExpandEnvironmentStrings(names[k]).replace(/\u0000/g, "") == names[k]) {
            fail("The install folder " + given + " cannot be used: the environment variable " +
                 names[k].substring(1, names[k].length - 1) + " is not defined.");
        }
    }
    target = shell.ExpandEnvironmentStrings(target).replace(/\u0000/g, "").replace(/\//g, "\\");
    target = noTrailingSlash(target);
    if (/^[A-Za-z]:\\?$/.test(target)) {
        fail("The install folder " + given + " cannot be used: it is the root of a drive.");
    }
    if (target == "") {
        fail("No install folder was given (/target: is empty).");
    }
    // Not GetAbsolutePathName: some hosts drop the last part of a path that
    // does not exist yet; and a relative path would land wherever the
    // script happens to run.
    if (!/^([A-Za-z]:\\[^\\]|\\\\[^\\]+\\[^\\]+\\[^\\])/.test(target + "\\")) {
        fail("The install folder " + given + " cannot be used: it is not an absolute path " +
             "with a drive or server (such as C:\\Program Files\\Quillfeather).");
    }
    if (/\\\.\.?(\\|$)/.test(target)) {
        fail("The install folder " + given + " cannot be used: it contains a \".\" or \"..\" part.");
    }
    return target;
}

// ---- registration --------------------------------------------------------

function makeToken() {
    return new Date().getTime().toString(36) + "-" + Math.floor(Math.random() * 2147483647).toString(36);
}

function register(setupExe) {
    runToken = makeToken();
    var rc = shell.Run(quote(setupExe) + " /RegServer /Run:" + runToken, 0, true);
    // 0: registered for the machine, 1: for this user only.
    if (rc != 0 && rc != 1) {
        fail("The setup program could not be registered: the registry refused it, or another copy of it " +
             "is registered for this user (VellumSetup.exe exit code " + rc + ").");
    }
    registered = true;
}

// Removes this run's registration only: the server also removes it when it
// ends; a later run's registration stays, and a copy it replaced registers again.
function unregister(setupExe) {
    if (!registered) {
        return;
    }
    try {
        shell.Run(quote(setupExe) + " /UnregServer /Run:" + runToken, 0, true);
    } catch (e) {
    }
    registered = false;
}

function closeController() {
    if (controller == null) {
        return;
    }
    try {
        controller.closeAll();
    } catch (e) {
        // closeAll ends the server during the call.
    }
    controller = null;
}

function timerText(locale, seconds) {
    if (seconds >= 60) {
        return Math.ceil(seconds / 60) + " " +
            localized(locale, "loc_UI_Info_MinsRemaining", "Minutes Remaining");
    }
    return Math.max(1, Math.ceil(seconds)) + " " +
        localized(locale, "loc_UI_Info_SecsRemaining", "Seconds Remaining");
}

// ---- installation --------------------------------------------------------

// The files a cabinet holds, from EXTRACT's listing ("%10ld  name" lines),
// entered into files (lower-case name -> {name, size}); a later cabinet's
// file replaces an earlier one's of the same name, as extraction does.
function listCabinetAt(extractExe, path, cabinet, files) {
    var comspec = shell.ExpandEnvironmentStrings("%ComSpec%").replace(/\u0000/g, "");
    if (fso.FileExists(listingPath)) {
        fso.DeleteFile(listingPath, true);
    }
    var rc = shell.Run(quote(comspec) + " /c \"" + quote(extractExe) + " /D " + quote(path) +
                       " > " + quote(listingPath) + "\"", 0, true);
    if (rc != 0 || !fso.FileExists(listingPath)) {
        fail("The help content could not be installed: " + cabinet + " could not be extracted, " +
             "its contents cannot be listed: " + extractReason(rc) + " (EXTRACT.EXE exit code " + rc + ").");
    }
    var stream = fso.OpenTextFile(listingPath, 1);
    try {
        while (!stream.AtEndOfStream) {
            var line = stream.ReadLine();
            if (line == "") {
                continue;
            }
            var m = /^ *(\d+)  (.+)$/.exec(line);
            if (!m) {
                fail("The help content could not be installed: the listing of " + cabinet +
                     " has a line that cannot be read: " + line);
            }
            files[m[2].toLowerCase()] = { name: m[2], size: parseInt(m[1], 10) };
        }
    } finally {
        stream.Close();
    }
}

function listCabinet(extractExe, cabinet, files) {
    listCabinetAt(extractExe, here + "\\" + cabinet, cabinet, files);
}

// Every file the cabinets list is in the staging folder with its full size,
// and nothing else is: a short, empty or missing file is a failure.
function verify(files) {
    var bad = [], count = 0;
    for (var key in files) {
        if (!files.hasOwnProperty(key)) {
            continue;
        }
        count++;
        var f = files[key];
        var path = staging + "\\" + f.name;
        if (!fso.FileExists(path)) {
            bad.push(f.name + " is missing");
        } else {
            var size = fso.GetFile(path).Size;
            if (size != f.size) {
                bad.push(f.name + " has " + size + " of " + f.size + " bytes");
            }
        }
    }
    if (bad.length > 0) {
        fail("The help content could not be installed: " + bad.length + " of " + count +
             " files were not written whole (" + bad[0] + "). Is the disk full?", ICON_STOP);
    }
    var found = treeList(staging, true).length;
    if (found != count) {
        fail("The help content could not be installed: the cabinets list " + count + " files, but " +
             found + " were extracted.");
    }
}

// Extracts into the staging folder, checks it, and swaps it into place.
function install(locale, content, extractExe, version) {
    var cabinets = content.cabinets;
    var sizes = [], total = 0;
    for (var i = 0; i < cabinets.length; i++) {
        var path = here + "\\" + cabinets[i];
        if (!fso.FileExists(path)) {
            fail("The installation files are incomplete: " + cabinets[i] + " is missing from " + here + ".");
        }
        sizes.push(fso.GetFile(path).Size);
        total += sizes[i];
    }
    if (fso.FileExists(targetFolder)) {
        fail("The folder " + targetFolder + " cannot be created: a file of that name is in the way.", ICON_STOP);
    }

    var parent = fso.GetParentFolderName(targetFolder);
    targetLockPath = besideTarget(".VellumSetup.lock");
    try {
        makeFolders(parent);
    } catch (e) {
        fail("The folder " + parent + " cannot be created (" + errorText(e) + ").", ICON_STOP);
    }
    // Two runs from different working folders never write one install folder at once.
    targetLock = takeLock(targetLockPath);
    if (targetLock == null) {
        fail("Another Quillfeather installation is writing into " + targetFolder +
             ". Wait until it has ended, then start the installation again.", ICON_EXCLAMATION, EXIT_BUSY);
    }
    // Only now are these folders this run's to clean up.
    staging = besideTarget(".VellumStaging");
    previous = besideTarget(".VellumPrevious");
    try {
        recoverLeftovers();
        fso.CreateFolder(staging);
    } catch (e2) {
        fail("The folder " + staging + " cannot be created (" + errorText(e2) + ").", ICON_STOP);
    }

    if (controller != null) {
        controller.setMaxValue(PROGRESS_MAX);
        controller.showProgress(1);
    }

    var files = {};
    var started = new Date().getTime();
    var done = 0;
    for (var k = 0; k < cabinets.length; k++) {
        var next = Math.round((done + sizes[k]) / total * PROGRESS_MAX);
        if (done > 0 && controller != null) {
            var elapsed = (new Date().getTime() - started) / 1000;
            controller.setTimerString(timerText(locale, elapsed * (total - done) / done));
        }
        if (controller != null) {
            controller.setProgress(next, true);
        }
        listCabinet(extractExe, cabinets[k], files);
        var command = quote(extractExe) + " /Y /E /L " + quote(staging) + " " + quote(here + "\\" + cabinets[k]);
        var rc = shell.Run(command, 0, true);
        if (rc != 0) {
            fail("The help content could not be installed: " + cabinets[k] + " could not be extracted into " +
                 staging + ": " + extractReason(rc) + " (EXTRACT.EXE exit code " + rc + ").",
                 rc == 3 ? ICON_STOP : ICON_EXCLAMATION);
        }
        log("cabinet", cabinets[k] + ": extracted");
        done += sizes[k];
    }
    verify(files);
    log("verification", "every listed file is in place with its size");
    var startPage = "\\locales\\" + content.locale + "\\index.htm";
    if (!fso.FileExists(staging + startPage)) {
        fail("The help content is incomplete: " + targetFolder + startPage + " is not in the cabinets.");
    }

    var manifest = addMaintenance(files, cabinets, extractExe, version);
    oldEntry = saveEntry();
    writeEntry(targetFolder, version, totalKB(manifest));

    // The swap: until the second rename the earlier installation is whole.
    if (fso.FolderExists(targetFolder)) {
        try {
            moveFolder(targetFolder, previous);
        } catch (e3) {
            fail("The earlier installation in " + targetFolder + " cannot be replaced; is a file in it open? (" +
                 errorText(e3) + ").");
        }
    }
    try {
        moveFolder(staging, targetFolder);
    } catch (e4) {
        if (fso.FolderExists(previous) && !fso.FolderExists(targetFolder)) {
            moveFolder(previous, targetFolder);
        }
        fail("The folder " + targetFolder + " cannot be created (" + errorText(e4) + ").", ICON_STOP);
    }
    staging = "";
    entryWritten = false; // the new installation stands: its entry stays
    if (fso.FolderExists(previous)) {
        finishSwap();
    }
    log("install", targetFolder + ": in place");
    releaseTargetLock();
    if (controller != null) {
        controller.setProgress(PROGRESS_MAX, false);
        controller.setTimerString("");
    }
    return targetFolder + startPage;
}

// After a failure: nothing of this run stays, the earlier installation is
// where it was.
function rollBack() {
    restoreEntry(oldEntry);
    try {
        if (staging != "") {
            deleteFolder(staging);
        }
        if (previous != "" && fso.FolderExists(previous) && !fso.FolderExists(targetFolder)) {
            moveFolder(previous, targetFolder);
        }
    } catch (e) {
    }
    releaseTargetLock();
    removeCreated();
}

// ---- versions and the uninstall entry ----------------------------------------

// "version=3.0.6" -> "3.0.6"; "" when the file is missing or unreadable.
function readVersionFile(path) {
    try {
        if (!fso.FileExists(path)) {
            return "";
        }
        var stream = fso.OpenTextFile(path, 1);
        var line = stream.AtEndOfStream ? "" : stream.ReadLine();
        stream.Close();
        var m = /^version=(\d+(\.\d+)*)\s*$/.exec(line);
        return m ? m[1] : "";
    } catch (e) {
        return "";
    }
}

// Negative, zero or positive as version a is older than, the same as or
// newer than b (dotted numbers; a missing part counts as 0).
function compareVersions(a, b) {
    var pa = a.split("."), pb = b.split(".");
    for (var i = 0; i < Math.max(pa.length, pb.length); i++) {
        var x = i < pa.length ? parseInt(pa[i], 10) : 0;
        var y = i < pb.length ? parseInt(pb[i], 10) : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

// Where the uninstall entry says Quillfeather is, if that folder is still
// there; an entry whose folder has gone no longer stands for an installation.
function installedLocation() {
    var loc = regString(UNINSTALL_KEY + "InstallLocation");
    return (loc != "" && fso.FolderExists(loc)) ? noTrailingSlash(loc) : "";
}

var ENTRY_STRINGS = ["DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "UninstallString",
                     "QuietUninstallString", "ModifyPath", "DisplayIcon"];
var ENTRY_NUMBERS = ["EstimatedSize", "NoModify", "NoRepair"];

function regValue(name) {
    try {
        return { value: shell.RegRead(name) };
    } catch (e) {
        return null;
    }
}

function entryExists() {
    return regValue(UNINSTALL_KEY) != null || regValue(UNINSTALL_KEY + "DisplayName") != null;
}

function saveEntry() {
    var saved = { exists: entryExists(), values: {} };
    var names = ENTRY_STRINGS.concat(ENTRY_NUMBERS);
    for (var i = 0; i < names.length; i++) {
        saved.values[names[i]] = regValue(UNINSTALL_KEY + names[i]);
    }
    return saved;
}

function regWrite(name, value, type) {
    try {
        shell.RegWrite(UNINSTALL_KEY + name, value, type);
    } catch (e) {
        fail("The uninstall entry could not be written (" + name + ": " + errorText(e) + ").");
    }
    var back = regValue(UNINSTALL_KEY + name);
    if (back == null || String(back.value) != String(value)) {
        fail("The uninstall entry could not be written (" + name + " does not read back).");
    }
}

// The command that starts the kept script with the given switches.
function maintenanceCommand(folder, switches) {
    var host = shell.ExpandEnvironmentStrings("%SystemRoot%").replace(/\u0000/g, "") + "\\System32\\wscript.exe";
    return quote(host) + " " + quote(folder + "\\VellumSetup.jse") + " " + switches;
}

// The Add/Remove Programs entry of the installation in folder.
function writeEntry(folder, version, sizeKB) {
    regWrite("DisplayName", PRODUCT, "REG_SZ");
    regWrite("DisplayVersion", version, "REG_SZ");
    regWrite("Publisher", PUBLISHER, "REG_SZ");
    regWrite("InstallLocation", folder, "REG_SZ");
    regWrite("UninstallString", maintenanceCommand(folder, "/uninstall"), "REG_SZ");
    regWrite("QuietUninstallString", maintenanceCommand(folder, "/uninstall /q"), "REG_SZ");
    // Change runs the repair; the system's own Repair button serves only
    // packages of its installer service.
    regWrite("ModifyPath", maintenanceCommand(folder, "/repair"), "REG_SZ");
    regWrite("DisplayIcon", folder + "\\uninstallUI\\VellumSetup.exe", "REG_SZ");
    regWrite("EstimatedSize", sizeKB, "REG_DWORD");
    regWrite("NoModify", 0, "REG_DWORD");
    regWrite("NoRepair", 1, "REG_DWORD");
    entryWritten = true;
    log("registry", UNINSTALL_KEY + " written (version " + version + ")");
}

// Deletes a registry key or value: through the script host, else through
// reg.exe (some hosts do not implement RegDelete).
function regDelete(name) {
    try {
        shell.RegDelete(name);
        return;
    } catch (e) {
    }
    var isKey = name.charAt(name.length - 1) == "\\";
    var key = isKey ? name.substring(0, name.length - 1) : name.substring(0, name.lastIndexOf("\\"));
    var command = "reg.exe delete " + quote(key) + (isKey ? "" : " /v " + quote(name.substring(key.length + 1))) + " /f";
    try {
        shell.Run(command, 0, true);
    } catch (e2) {
    }
}

// The entry is this installation's: it names the folder, or no existing one.
function entryIsOurs() {
    var loc = noTrailingSlash(regString(UNINSTALL_KEY + "InstallLocation"));
    return loc == "" || loc.toLowerCase() == targetFolder.toLowerCase() || !fso.FolderExists(loc);
}

function deleteEntry() {
    if (!entryExists()) {
        return;
    }
    regDelete(UNINSTALL_KEY);
    if (entryExists()) {
        fail("The uninstall entry " + UNINSTALL_KEY + " could not be removed.");
    }
}

// Puts the entry back as saveEntry found it (after a failed run).
function restoreEntry(saved) {
    if (saved == null || !entryWritten) {
        return;
    }
    try {
        if (!saved.exists) {
            deleteEntry();
        } else {
            for (var name in saved.values) {
                if (!saved.values.hasOwnProperty(name)) {
                    continue;
                }
                var v = saved.values[name];
                if (v == null) {
                    if (regValue(UNINSTALL_KEY + name) != null) {
                        regDelete(UNINSTALL_KEY + name);
                    }
                } else {
                    shell.RegWrite(UNINSTALL_KEY + name, v.value,
                                   typeof v.value == "number" ? "REG_DWORD" : "REG_SZ");
                }
            }
        }
        log("registry", "uninstall entry restored");
    } catch (e2) {
        log("registry", "uninstall entry could not be restored: " + errorText(e2));
    }
    entryWritten = false;
}

// ---- the manifest ------------------------------------------------------------

// What an installation created, kept in its maintenance folder:
//   version<TAB>3.0.6         cabinet<TAB><name>   (kept for repairs)
//   file<TAB><size><TAB><path inside the install folder>
//   folder<TAB><path inside the install folder>
//   parent<TAB><absolute path> (a folder above it that the installation created)
function readManifest(folder) {
    var path = folder + "\\" + MANIFEST;
    if (!fso.FileExists(path)) {
        return null;
    }
    var m = { version: "", cabinets: [], files: [], folders: [], parents: [] };
    var stream = fso.OpenTextFile(path, 1, false, -1);
    try {
        while (!stream.AtEndOfStream) {
            var parts = stream.ReadLine().split("\t");
            if (parts[0] == "version") {
                m.version = parts[1];
            } else if (parts[0] == "cabinet") {
                m.cabinets.push(parts[1]);
            } else if (parts[0] == "file" && parts.length == 3) {
                m.files.push({ name: parts[2], size: parseInt(parts[1], 10) });
            } else if (parts[0] == "folder") {
                m.folders.push(parts[1]);
            } else if (parts[0] == "parent") {
                m.parents.push(parts[1]);
            }
        }
    } finally {
        stream.Close();
    }
    return m;
}

function writeManifest(folder, m) {
    var path = folder + "\\" + MANIFEST;
    var stream = fso.CreateTextFile(path, true, true);
    stream.WriteLine("version\t" + m.version);
    var i;
    for (i = 0; i < m.cabinets.length; i++) {
        stream.WriteLine("cabinet\t" + m.cabinets[i]);
    }
    for (i = 0; i < m.files.length; i++) {
        stream.WriteLine("file\t" + m.files[i].size + "\t" + m.files[i].name);
    }
    for (i = 0; i < m.folders.length; i++) {
        stream.WriteLine("folder\t" + m.folders[i]);
    }
    for (i = 0; i < m.parents.length; i++) {
        stream.WriteLine("parent\t" + m.parents[i]);
    }
    stream.Close();
    var back = readManifest(folder);
    if (back == null || back.files.length != m.files.length || back.parents.length != m.parents.length) {
        fail("The list of installed files could not be written to " + path + ".", ICON_STOP);
    }
}

// Every folder that holds one of the files, parents before children.
function foldersOf(files) {
    var seen = {}, out = [];
    for (var i = 0; i < files.length; i++) {
        var parts = files[i].name.split("\\");
        var rel = "";
        for (var k = 0; k < parts.length - 1; k++) {
            rel = rel == "" ? parts[k] : rel + "\\" + parts[k];
            if (!seen[rel.toLowerCase()]) {
                seen[rel.toLowerCase()] = true;
                out.push(rel);
            }
        }
    }
    return out;
}

function copyChecked(from, to) {
    fso.CopyFile(from, to, true);
    if (!fso.FileExists(to) || fso.GetFile(to).Size != fso.GetFile(from).Size) {
        fail("The file " + to + " could not be written whole. Is the disk full?", ICON_STOP);
    }
}

// Adds the maintenance folder to the staged content: EXTRACT.EXE, the
// version file and the cabinets (so that a repair needs no installer),
// and the manifest of everything the installation creates.
function addMaintenance(files, cabinets, extractExe, version) {
    var m = { version: version, cabinets: [], files: [], folders: [], parents: [] };
    for (var key in files) {
        if (files.hasOwnProperty(key)) {
            m.files.push({ name: files[key].name, size: files[key].size });
        }
    }
    try {
        // Inside the staging folder: not among the folders this run created above it.
        fso.CreateFolder(staging + "\\" + MAINTENANCE);
        fso.CreateFolder(staging + "\\" + KEPT_CABINETS);
        var kept = [[extractExe, MAINTENANCE + "\\EXTRACT.EXE"],
                    [here + "\\vellumVersion.txt", MAINTENANCE + "\\vellumVersion.txt"]];
        for (var i = 0; i < cabinets.length; i++) {
            kept.push([here + "\\" + cabinets[i], KEPT_CABINETS + "\\" + cabinets[i]]);
            m.cabinets.push(cabinets[i]);
        }
        for (var k = 0; k < kept.length; k++) {
            copyChecked(kept[k][0], staging + "\\" + kept[k][1]);
            m.files.push({ name: kept[k][1], size: fso.GetFile(kept[k][0]).Size });
        }
    } catch (e) {
        if (e.vellumMessage) {
            throw e;
        }
        fail("The maintenance folder " + targetFolder + "\\" + MAINTENANCE + " could not be written (" +
             errorText(e) + ").", ICON_STOP);
    }
    m.files.push({ name: MANIFEST, size: 0 });
    m.folders = foldersOf(m.files);
    // Folders above the install folder that an earlier installation created
    // stay that installation's to remove.
    var earlier = fso.FolderExists(targetFolder) ? readManifest(targetFolder) : null;
    var parents = earlier ? earlier.parents : [];
    for (var c = 0; c < createdFolders.length; c++) {
        parents.push(createdFolders[c]);
    }
    m.parents = parents;
    writeManifest(staging, m);
    return m;
}

function totalKB(m) {
    var bytes = 0;
    for (var i = 0; i < m.files.length; i++) {
        bytes += m.files[i].size;
    }
    return Math.ceil(bytes / 1024);
}

// Takes away from an earlier installation what it installed itself, so
// that only what the user added there is carried over.
function dropEarlierContent(folder) {
    var m = readManifest(folder);
    if (m == null) {
        return;
    }
    for (var i = 0; i < m.files.length; i++) {
        var path = folder + "\\" + m.files[i].name;
        if (fso.FileExists(path)) {
            fso.DeleteFile(path, true);
        }
    }
    for (var k = m.folders.length - 1; k >= 0; k--) {
        var dir = folder + "\\" + m.folders[k];
        if (fso.FolderExists(dir) && isEmptyFolder(dir)) {
            fso.DeleteFolder(dir, true);
        }
    }
}

// ---- progress for uninstall and repair ------------------------------------------

// The progress window of the kept VellumSetup. A build that cannot show it
// without the wizard leaves the run without one; the work goes on.
function progressCall(what, f) {
    if (controller == null || !progressWorks) {
        return;
    }
    try {
        f();
    } catch (e) {
        progressWorks = false;
        log("progress window", "not available (" + what + ": " + errorText(e) + ")");
    }
}

function showMaintenanceProgress(showMode) {
    progressCall("setMaxValue", function () { controller.setMaxValue(PROGRESS_MAX); });
    progressCall("showProgress", function () { controller.showProgress(showMode); });
    if (controller != null && progressWorks) {
        log("progress window", "mode " + showMode);
    }
}

function setMaintenanceProgress(done, total) {
    var v = total > 0 ? Math.round(done / total * PROGRESS_MAX) : PROGRESS_MAX;
    progressCall("setProgress", function () { controller.setProgress(Math.min(v, PROGRESS_MAX), false); });
}

// Tells the user the outcome of an uninstall or repair (not when quiet).
function tellDone(message) {
    if (quiet) {
        return;
    }
    if (controller != null) {
        try {
            controller.showComplete(message);
            return;
        } catch (e) {
        }
    }
    showBox(message, 64);
}

// ---- uninstall and repair ------------------------------------------------------

// Both run from a copy outside the install folder, so that they can remove
// or replace every file in it (the script and the VellumSetup they run
// included). Returns the copy's exit code.
function runFromCopy() {
    var temp = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "");
    var copy = temp + "\\VellumMaintenance." + makeToken();
    var sources = [[WScript.ScriptFullName, "VellumSetup.jse"],
                   [here + "\\uninstallUI\\VellumSetup.exe", "VellumSetup.exe"],
                   [here + "\\" + MAINTENANCE + "\\EXTRACT.EXE", "EXTRACT.EXE"]];
    try {
        fso.CreateFolder(copy);
        for (var i = 0; i < sources.length; i++) {
            if (!fso.FileExists(sources[i][0])) {
                fail(mode == "uninstall" ?
                     maintenanceText("loc_UI_Uninstall_Error_Missing", "The uninstall cannot start: %1 is " +
                                     "missing. Run the Quillfeather installer again to repair the installation.",
                                     sources[i][0]) :
                     maintenanceText("loc_UI_Repair_Error_Missing", "The repair cannot start: %1 is " +
                                     "missing. Run the Quillfeather installer again to repair the installation.",
                                     sources[i][0]));
            }
            copyChecked(sources[i][0], copy + "\\" + sources[i][1]);
        }
        copyMaintenanceTexts(copy);
    } catch (e) {
        try {
            deleteFolder(copy);
        } catch (e2) {
        }
        if (e.vellumMessage) {
            throw e;
        }
        fail("The " + mode + " cannot start: " + copy + " could not be written (" + errorText(e) + ").");
    }
    var command = quote(WScript.FullName) + " //nologo " + quote(copy + "\\VellumSetup.jse") + " /" + mode +
        " /maintenancecopy " + quote("/target:" + here) + (quiet ? " /q" : "") +
        (logPath != "" ? " " + quote("/log:" + logPath) : "");
    log(mode, "continues from " + copy);
    var rc = shell.Run(command, 1, true);
    // The copy's VellumSetup ends a moment after its script; then the copy goes.
    for (var attempt = 0; attempt < 40 && fso.FolderExists(copy); attempt++) {
        try {
            fso.DeleteFolder(copy, true);
        } catch (e3) {
            pause(250);
        }
    }
    if (fso.FolderExists(copy)) {
        log("cleanup", copy + " could not be removed");
    }
    return rc;
}

// The files of an installation, innermost folders last; missing ones are
// already gone. Returns the paths that could not be removed.
function removeInstalled(m) {
    var failed = [];
    // What the entry's commands need goes last (the maintenance folder, the
    // kept script and VellumSetup): while anything else stays, the entry
    // still works to try again.
    var ordered = [], last = [];
    for (var i = 0; i < m.files.length; i++) {
        var name = m.files[i].name.toLowerCase();
        var maint = name.indexOf(MAINTENANCE.toLowerCase() + "\\") == 0 || name == "vellumsetup.jse" ||
            name == "uninstallui\\vellumsetup.exe";
        (maint ? last : ordered).push(m.files[i]);
    }
    var steps = ordered.length + last.length;
    var done = 0;
    var lists = [ordered, last];
    for (var l = 0; l < lists.length; l++) {
        if (l == 1 && failed.length > 0) {
            break;
        }
        for (var k = 0; k < lists[l].length; k++) {
            var path = targetFolder + "\\" + lists[l][k].name;
            try {
                if (fso.FileExists(path)) {
                    fso.DeleteFile(path, true);
                }
            } catch (e) {
                failed.push(path + " (" + errorText(e) + ")");
                log("remove", path + ": " + errorText(e));
            }
            done++;
            if (done % 20 == 0) {
                setMaintenanceProgress(done, steps);
            }
        }
    }
    if (failed.length > 0) {
        return failed;
    }
    var folders = m.folders.slice(0);
    for (var f = folders.length - 1; f >= 0; f--) {
        var dir = targetFolder + "\\" + folders[f];
        if (fso.FolderExists(dir) && isEmptyFolder(dir)) {
            fso.DeleteFolder(dir, true);
        }
    }
    if (fso.FolderExists(targetFolder) && isEmptyFolder(targetFolder)) {
        fso.DeleteFolder(targetFolder, true);
    }
    return failed;
}

// The folders above the install folder that the installation created, when
// empty; after the install folder's lock beside it has gone.
function removeParents(m) {
    for (var p = m.parents.length - 1; p >= 0; p--) {
        if (fso.FolderExists(m.parents[p]) && isEmptyFolder(m.parents[p])) {
            try {
                fso.DeleteFolder(m.parents[p], true);
            } catch (e2) {
            }
        }
    }
}

function lockTargetForMaintenance() {
    targetLockPath = besideTarget(".VellumSetup.lock");
    targetLock = takeLock(targetLockPath);
    if (targetLock == null) {
        fail(maintenanceText("loc_UI_Maintenance_Busy", "Another Quillfeather installation, uninstall or repair " +
                             "is working in %1. Wait until it has ended, then try again.", targetFolder),
             ICON_EXCLAMATION, EXIT_BUSY);
    }
    staging = besideTarget(".VellumStaging");
    previous = besideTarget(".VellumPrevious");
    recoverLeftovers();
    staging = "";
    previous = "";
}

function startMaintenanceUI(setupExe) {
    if (quiet) {
        return;
    }
    register(setupExe);
    try {
        controller = new ActiveXObject("VellumSetup.controller");
    } catch (e) {
        fail(maintenanceText("loc_UI_Error_SetupStart", "The setup program could not be started (%1).", errorText(e)));
    }
    controller.Caption = title;
}

function uninstall(setupExe) {
    var m = readManifest(targetFolder);
    if (m == null) {
        if (regString(UNINSTALL_KEY + "DisplayName") != "" && !fso.FolderExists(targetFolder)) {
            // The folder is gone already: only its entry is left to remove.
            deleteEntry();
            log("registry", "entry of the removed installation in " + targetFolder + " deleted");
            return EXIT_OK;
        }
        fail(maintenanceText("loc_UI_Uninstall_Nothing",
                             "Quillfeather is not installed in %1: there is nothing to remove.", targetFolder),
             ICON_EXCLAMATION, EXIT_NOTHING);
    }
    lockTargetForMaintenance();
    startMaintenanceUI(setupExe);
    if (controller != null) {
        var yes = controller.Confirm(title, maintenanceText("loc_UI_Uninstall_Confirm", "Do you want to remove " +
            "Quillfeather (version %1) from %2? Files you added to the folder are kept.", m.version, targetFolder));
        if (!yes) {
            log("confirm", "the user answered No");
            return EXIT_ABORTED;
        }
    }
    showMaintenanceProgress(3);
    log("uninstall", targetFolder + ": " + m.files.length + " files");
    var failed = removeInstalled(m);
    if (failed.length > 0) {
        fail(maintenanceText("loc_UI_Uninstall_Error_Files", "Quillfeather could not be removed completely: %1 files " +
                             "could not be deleted (%2). Close the programs that use them and uninstall again.",
                             failed.length, failed[0]));
    }
    setMaintenanceProgress(1, 1);
    if (entryIsOurs()) {
        deleteEntry();
        log("registry", "uninstall entry removed");
    } else {
        log("registry", "the uninstall entry names another installation; it stays");
    }
    releaseTargetLock();
    removeParents(m);
    var kept = fso.FolderExists(targetFolder) ? " (" + targetFolder + " kept: it holds files added to it)" : "";
    log("uninstall", "removed" + kept);
    tellDone(kept == "" ? maintenanceText("loc_UI_Uninstall_Done", "Quillfeather was removed from your computer.") :
             maintenanceText("loc_UI_Uninstall_Done_Kept", "Quillfeather was removed from your computer. " +
                             "(%1 kept: it holds files added to it)", targetFolder));
    return EXIT_OK;
}

// Same bytes: the sizes are compared first. The file is read twice, as
// single-byte text and as UTF-16 text, which together tell every byte
// apart; the host offers no binary read.
function sameContent(a, b, size) {
    if (size == 0) {
        return true;
    }
    for (var format = 0; format >= -1; format--) {
        var sa = fso.OpenTextFile(a, 1, false, format);
        var ta = sa.ReadAll();
        sa.Close();
        var sb = fso.OpenTextFile(b, 1, false, format);
        var tb = sb.ReadAll();
        sb.Close();
        if (ta != tb) {
            return false;
        }
    }
    return true;
}

// Where a cabinet for the repair comes from: the maintenance folder, else
// the installer's working folder when it is still there.
function repairSources(name) {
    var temp = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "");
    var list = [targetFolder + "\\" + KEPT_CABINETS + "\\" + name, temp + "\\_hsc_Vellum\\" + name];
    if (!maintenanceCopy) {
        list.push(here + "\\" + name);
    }
    return list;
}

function repair(setupExe, extractExe) {
    var m = readManifest(targetFolder);
    if (m == null) {
        fail(maintenanceText("loc_UI_Repair_Nothing",
                             "Quillfeather is not installed in %1: there is nothing to repair.", targetFolder),
             ICON_EXCLAMATION, EXIT_NOTHING);
    }
    lockTargetForMaintenance();
    startMaintenanceUI(setupExe);
    showMaintenanceProgress(0);
    var work = besideTarget(".VellumRepair");
    staging = work; // removed again on a failure
    deleteFolder(work);
    fso.CreateFolder(work);

    // Verifying: every cabinet extracted beside the folder, every file
    // compared by name, size and content.
    var files = {}, cabinetFixes = [];
    for (var i = 0; i < m.cabinets.length; i++) {
        var sources = repairSources(m.cabinets[i]);
        var ok = false, why = "it is missing";
        for (var s = 0; s < sources.length && !ok; s++) {
            if (!fso.FileExists(sources[s])) {
                continue;
            }
            var listed = {};
            try {
                listCabinetAt(extractExe, sources[s], m.cabinets[i], listed);
            } catch (e) {
                why = e.vellumMessage || errorText(e);
                continue;
            }
            var rc = shell.Run(quote(extractExe) + " /Y /E /L " + quote(work) + " " + quote(sources[s]), 0, true);
            if (rc != 0) {
                why = extractReason(rc) + " (EXTRACT.EXE exit code " + rc + ")";
                log("verify", sources[s] + ": " + why);
                continue;
            }
            for (var key in listed) {
                if (listed.hasOwnProperty(key)) {
                    files[key] = listed[key];
                }
            }
            if (s > 0) {
                cabinetFixes.push([sources[s], KEPT_CABINETS + "\\" + m.cabinets[i]]);
            }
            ok = true;
        }
        if (!ok) {
            fail(maintenanceText("loc_UI_Repair_Error_Cabinet", "Quillfeather cannot be repaired: the cabinet " +
                                 "%1 kept for repairs cannot be used (%2). Run the Quillfeather installer again.",
                                 m.cabinets[i], why));
        }
        setMaintenanceProgress(i + 1, m.cabinets.length * 2);
    }
    var bad = [], n = 0, total = 0;
    for (var k in files) {
        if (files.hasOwnProperty(k)) {
            total++;
        }
    }
    for (var key2 in files) {
        if (!files.hasOwnProperty(key2)) {
            continue;
        }
        var f = files[key2];
        var installed = targetFolder + "\\" + f.name;
        var why2 = "";
        if (!fso.FileExists(installed)) {
            why2 = "missing";
        } else if (fso.GetFile(installed).Size != f.size) {
            why2 = "size " + fso.GetFile(installed).Size + " instead of " + f.size;
        } else if (!sameContent(installed, work + "\\" + f.name, f.size)) {
            why2 = "content changed";
        }
        if (why2 != "") {
            bad.push([work + "\\" + f.name, f.name, why2]);
        }
        n++;
        if (n % 20 == 0) {
            setMaintenanceProgress(m.cabinets.length + n / total * m.cabinets.length, m.cabinets.length * 2);
        }
    }
    for (var c = 0; c < cabinetFixes.length; c++) {
        bad.push([cabinetFixes[c][0], cabinetFixes[c][1], "kept cabinet missing or damaged"]);
    }
    log("verify", total + " files checked, " + bad.length + " to fix");

    // Fixing: what is missing or changed comes from the extracted cabinets.
    if (bad.length > 0) {
        showMaintenanceProgress(2);
        for (var b = 0; b < bad.length; b++) {
            var dst = targetFolder + "\\" + bad[b][1];
            try {
                makeFolders(fso.GetParentFolderName(dst));
                if (fso.FileExists(dst)) {
                    fso.GetFile(dst).Attributes = 0;
                    fso.DeleteFile(dst, true);
                }
                copyChecked(bad[b][0], dst);
            } catch (e2) {
                fail(maintenanceText("loc_UI_Repair_Error_Restore", "Quillfeather could not be repaired: %1 " +
                                     "could not be restored (%2).", dst, e2.vellumMessage || errorText(e2)),
                     ICON_STOP);
            }
            log("fixed", bad[b][1] + " (" + bad[b][2] + ")");
            setMaintenanceProgress(b + 1, bad.length);
        }
        createdFolders = []; // restored folders belong to the installation
    }
    deleteFolder(work);
    staging = "";
    // The entry is written again: a repair restores it when it was lost.
    if (entryIsOurs()) {
        writeEntry(targetFolder, m.version, totalKB(m));
        entryWritten = false;
    }
    var outcome = bad.length == 0 ? "nothing needed fixing" : bad.length + " files restored";
    log("repair", outcome);
    tellDone(bad.length == 0 ?
             maintenanceText("loc_UI_Repair_Done_Nothing", "Quillfeather was repaired: nothing needed fixing.") :
             maintenanceText("loc_UI_Repair_Done_Fixed", "Quillfeather was repaired: %1 files restored.", bad.length));
    return EXIT_OK;
}

// The working folder's lock: one installation at a time from one folder.
// Returns an exit code when this run must end, else -1.
function lockWorkingFolder() {
    try {
        lockStream = takeLock(here + "\\VellumSetup.lock");
    } catch (e) {
        log("lock", e.vellumMessage);
        showBox(e.vellumMessage, e.vellumIcon);
        return EXIT_FAILED;
    }
    if (lockStream == null) {
        log("lock", "another installation is running");
        showBox("Another Quillfeather installation is running. Wait until it has ended, " +
                "then start the installation again if it is still needed.", ICON_EXCLAMATION);
        return EXIT_BUSY;
    }
    return -1;
}

function installMain(locale, setupExe, extractExe) {
    if (!fso.FileExists(setupExe) || !fso.FileExists(extractExe) ||
        !fso.FileExists(here + "\\filesList.txt")) {
        fail("The installation files in " + here + " are incomplete.");
    }
    var version = readVersionFile(here + "\\vellumVersion.txt");
    if (version == "") {
        fail("The installation files in " + here + " are incomplete: vellumVersion.txt is missing or unreadable.");
    }
    log("version", version);
    var installed = installedLocation() != "" ? regString(UNINSTALL_KEY + "DisplayVersion") : "";
    if (installed != "" && /^\d+(\.\d+)*$/.test(installed) && compareVersions(installed, version) > 0) {
        fail("A newer version of Quillfeather (" + installed + ") is installed in " + installedLocation() +
             ". Version " + version + " was not installed; the newer one is left as it is.",
             ICON_EXCLAMATION, EXIT_NEWER);
    }
    var registeredAt = installedLocation();
    if (registeredAt != "" && registeredAt.toLowerCase() != targetFolder.toLowerCase()) {
        // Another folder is an installation of its own; the earlier one keeps
        // its manifest and its copy of this script, which can still remove it.
        log("entry", "the installation in " + registeredAt + " stays; the entry will name " + targetFolder);
    } else if (installed != "") {
        log("upgrade", "version " + installed + " in " + registeredAt + " is upgraded to " + version);
    }
    var content = selectCabinets(readList(), locale);
    recoverAtStart();

    if (!quiet) {
        register(setupExe);
        try {
            controller = new ActiveXObject("VellumSetup.controller");
        } catch (e) {
            fail("The setup program could not be started (" + errorText(e) + ").");
        }
        controller.showWizard(locale);
        while (!controller.readyToInstall()) {
            pause(POLL_MS);
        }
        if (controller.userAborted()) {
            log("wizard", "the user left the wizard");
            closeController();
            unregister(setupExe);
            return EXIT_ABORTED;
        }
        log("wizard", "Install");
    }

    var startPage = install(locale, content, extractExe, version);
    if (quiet) {
        return EXIT_OK;
    }
    var launch = controller.showWizardComplete();
    closeController();
    unregister(setupExe);
    if (launch) {
        try {
            shell.Run(quote(startPage), 1, false);
        } catch (e2) {
            // Opening the pages is a convenience; the installation stands.
        }
    }
    return EXIT_OK;
}

// Uninstall and repair work on the installation the entry names (or the
// /target: folder). Run from inside the install folder, they go on from a
// copy elsewhere.
function maintenanceMain(setupExe, extractExe) {
    if (!targetGiven && fso.FileExists(here + "\\" + MANIFEST)) {
        targetFolder = here; // the copy kept in the installation
    } else if (!targetGiven) {
        var loc = regString(UNINSTALL_KEY + "InstallLocation");
        if (loc == "") {
            fail("Quillfeather is not installed: there is nothing to " + (mode == "uninstall" ? "remove." : "repair."),
                 ICON_EXCLAMATION, EXIT_NOTHING);
        }
        targetFolder = noTrailingSlash(loc);
    }
    log("target", targetFolder);
    var inside = (here + "\\").toLowerCase().indexOf(targetFolder.toLowerCase() + "\\") == 0;
    if (inside && !maintenanceCopy) {
        return runFromCopy();
    }
    if (!fso.FileExists(extractExe) && mode == "repair") {
        fail("The repair cannot start: " + extractExe + " is missing.");
    }
    return mode == "uninstall" ? uninstall(setupExe) : repair(setupExe, extractExe);
}

function main() {
    try {
        shell = new ActiveXObject("WScript.Shell");
        fso = new ActiveXObject("Scripting.FileSystemObject");
    } catch (e) {
        WScript.Echo("The Windows Script components needed for the installation are missing.");
        return EXIT_FAILED;
    }
    here = noTrailingSlash(fso.GetParentFolderName(WScript.ScriptFullName));
    parseOptions();
    var args = [];
    for (var i = 0; i < WScript.Arguments.length; i++) {
        args.push(WScript.Arguments(i));
    }
    if (!log("start", mode + (quiet ? ", quiet" : "") + " from " + here + "; arguments: " + args.join(" "))) {
        showBox("The log file " + logPath + " cannot be written. Nothing was done.", ICON_STOP);
        return EXIT_LOG;
    }
    var code = run();
    log("outcome", "exit code " + code);
    return code;
}

function run() {
    // The install folder holds no lock of ours: an uninstall must be able
    // to remove it (the copy it starts locks the install folder instead).
    var inInstallation = fso.FileExists(here + "\\" + MANIFEST);
    if (!inInstallation) {
        var busy = lockWorkingFolder();
        if (busy >= 0) {
            return busy;
        }
    }

    var setupExe = here + "\\VellumSetup.exe";
    var extractExe = here + "\\EXTRACT.EXE";
    if (inInstallation) {
        setupExe = here + "\\uninstallUI\\VellumSetup.exe";
        extractExe = here + "\\" + MAINTENANCE + "\\EXTRACT.EXE";
    }
    listingPath = (inInstallation ? shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "") : here) +
        "\\VellumSetup.list";
    var locale = chooseLocale();
    title = localized(locale, "loc_UI_Title", title);
    if (mode != "install") {
        title = maintenanceText("loc_UI_Title", title);
    }
    log("locale", locale);

    try {
        if (mode == "install" && inInstallation) {
            fail("This is the copy of the installation script that Quillfeather keeps for uninstall and " +
                 "repair; start the Quillfeather installer to install.");
        }
        if (mode == "install" && quiet && !acceptLicense) {
            fail("An unattended installation needs /acceptlicense: the license was not accepted, " +
                 "nothing was installed.", ICON_EXCLAMATION, EXIT_LICENSE);
        }
        targetFolder = parseTarget();
        if (mode == "install") {
            log("target", targetFolder);
        }
        return mode == "install" ? installMain(locale, setupExe, extractExe) : maintenanceMain(setupExe, extractExe);
    } catch (e) {
        var message = e.vellumMessage ? e.vellumMessage : mode == "install" ?
            "The " + mode + " failed (" + errorText(e) + ")." : mode == "uninstall" ?
            maintenanceText("loc_UI_Uninstall_Error", "The uninstall failed (%1).", errorText(e)) :
            maintenanceText("loc_UI_Repair_Error", "The repair failed (%1).", errorText(e));
        log("failed", message);
        tellFailure(message, e.vellumIcon);
        return e.vellumExit ? e.vellumExit : EXIT_FAILED;
    } finally {
        closeController();
        unregister(setupExe);
        rollBack();
        var scratch = [listingPath, here + "\\VellumSetup.tree"];
        for (var j = 0; j < scratch.length; j++) {
            try {
                if (fso.FileExists(scratch[j])) {
                    fso.DeleteFile(scratch[j], true);
                }
            } catch (e2) {
            }
        }
    }
}

WScript.Quit(main());
