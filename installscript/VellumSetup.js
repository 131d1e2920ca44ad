// VellumSetup.js: the installation script of Quillfeather.
//
// Built into VellumSetup.jse (encoded) and carried in VellumInstaller's
// payload. VellumInstaller writes the payload into its working folder and
// starts this script there through the shell, with the arguments
// "VellumInstall" followed by the installer's own command line.
//
// What it does:
//   1. takes the working folder's lock (VellumSetup.lock, held open without
//      sharing until the script ends, so that the system lets it go even
//      when the script is killed); another run holding it ends this one;
//   2. chooses the locale as VellumInstaller does (the two registry values,
//      else en-us) and checks the install folder;
//   3. registers VellumSetup.exe from its own folder for this run only
//      (/RegServer /Run:<token>) and creates its VellumSetup.controller;
//   4. shows the wizard and waits until the user presses Install or leaves;
//   5. on Install, takes the install folder's lock (<folder>.VellumSetup.lock
//      beside it), extracts the shared cabinets and those of the locale with
//      EXTRACT.EXE into a staging folder beside the install folder, checks
//      every file against the cabinets' listings (EXTRACT /D), and only then
//      swaps the staging folder into place; files of an earlier installation
//      that the new content does not have are carried over;
//   6. shows the finish page, opens the installed start page if the user
//      asked for it, closes VellumSetup and unregisters what it registered.
//
// Arguments (after VellumInstall; others are ignored):
//   /target:<folder>   install folder; environment variables are expanded;
//                      it must then be an absolute path (C:\... or \\server\
//                      share\...). Default: %ProgramFiles%\Quillfeather
//   /q, /s, -q, -s     quiet: no box when another installation is running
//
// Exit codes: 0 installed, 1 failed (the user was told why; an earlier
// installation is as it was, and what this run created is removed again),
// 2 the user left the wizard (nothing was installed), 3 another installation
// is running (nothing was touched).
//
// The source must stay ASCII: the encoded form cannot carry other
// characters (write \uXXXX escapes in strings).

var EXIT_OK = 0;
var EXIT_FAILED = 1;
var EXIT_ABORTED = 2;
var EXIT_BUSY = 3;

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

function isQuietSwitch(a) {
    return /^[\/\-][qs]$/i.test(a);
}

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
        target = "%ProgramFiles%\\Quillfeather";
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
function listCabinet(extractExe, cabinet, files) {
    var comspec = shell.ExpandEnvironmentStrings("%ComSpec%").replace(/\u0000/g, "");
    if (fso.FileExists(listingPath)) {
        fso.DeleteFile(listingPath, true);
    }
    var rc = shell.Run(quote(comspec) + " /c \"" + quote(extractExe) + " /D " + quote(here + "\\" + cabinet) +
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
function install(locale, content, extractExe) {
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

    controller.setMaxValue(PROGRESS_MAX);
    controller.showProgress(1);

    var files = {};
    var started = new Date().getTime();
    var done = 0;
    for (var k = 0; k < cabinets.length; k++) {
        var next = Math.round((done + sizes[k]) / total * PROGRESS_MAX);
        if (done > 0) {
            var elapsed = (new Date().getTime() - started) / 1000;
            controller.setTimerString(timerText(locale, elapsed * (total - done) / done));
        }
        controller.setProgress(next, true);
        listCabinet(extractExe, cabinets[k], files);
        var command = quote(extractExe) + " /Y /E /L " + quote(staging) + " " + quote(here + "\\" + cabinets[k]);
        var rc = shell.Run(command, 0, true);
        if (rc != 0) {
            fail("The help content could not be installed: " + cabinets[k] + " could not be extracted into " +
                 staging + ": " + extractReason(rc) + " (EXTRACT.EXE exit code " + rc + ").",
                 rc == 3 ? ICON_STOP : ICON_EXCLAMATION);
        }
        done += sizes[k];
    }
    verify(files);
    var startPage = "\\locales\\" + content.locale + "\\index.htm";
    if (!fso.FileExists(staging + startPage)) {
        fail("The help content is incomplete: " + targetFolder + startPage + " is not in the cabinets.");
    }

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
    if (fso.FolderExists(previous)) {
        finishSwap();
    }
    releaseTargetLock();
    controller.setProgress(PROGRESS_MAX, false);
    controller.setTimerString("");
    return targetFolder + startPage;
}

// After a failure: nothing of this run stays, the earlier installation is
// where it was.
function rollBack() {
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

function main() {
    try {
        shell = new ActiveXObject("WScript.Shell");
        fso = new ActiveXObject("Scripting.FileSystemObject");
    } catch (e) {
        WScript.Echo("The Windows Script components needed for the installation are missing.");
        return EXIT_FAILED;
    }
    here = noTrailingSlash(fso.GetParentFolderName(WScript.ScriptFullName));
    for (var i = 0; i < WScript.Arguments.length; i++) {
        quiet = quiet || isQuietSwitch(WScript.Arguments(i));
    }
    try {
        lockStream = takeLock(here + "\\VellumSetup.lock");
    } catch (e) {
        showBox(e.vellumMessage, e.vellumIcon);
        return EXIT_FAILED;
    }
    if (lockStream == null) {
        if (!quiet) {
            showBox("Another Quillfeather installation is running. Wait until it has ended, " +
                    "then start the installation again if it is still needed.", ICON_EXCLAMATION);
        }
        return EXIT_BUSY;
    }

    var setupExe = here + "\\VellumSetup.exe";
    var extractExe = here + "\\EXTRACT.EXE";
    listingPath = here + "\\VellumSetup.list";
    var locale = chooseLocale();
    title = localized(locale, "loc_UI_Title", title);

    try {
        targetFolder = parseTarget();
        if (!fso.FileExists(setupExe) || !fso.FileExists(extractExe) ||
            !fso.FileExists(here + "\\filesList.txt")) {
            fail("The installation files in " + here + " are incomplete.");
        }
        var content = selectCabinets(readList(), locale);
        recoverAtStart();

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
            closeController();
            unregister(setupExe);
            return EXIT_ABORTED;
        }

        var startPage = install(locale, content, extractExe);

        var launch = controller.showWizardComplete();
        closeController();
        unregister(setupExe);
        if (launch) {
            try {
                shell.Run(quote(startPage), 1, false);
            } catch (e) {
                // Opening the pages is a convenience; the installation stands.
            }
        }
        return EXIT_OK;
    } catch (e) {
        var message = e.vellumMessage ? e.vellumMessage : "The installation failed (" + errorText(e) + ").";
        tellFailure(message, e.vellumIcon);
        closeController();
        unregister(setupExe);
        rollBack();
        return e.vellumExit ? e.vellumExit : EXIT_FAILED;
    } finally {
        var scratch = [listingPath, here + "\\VellumSetup.tree"];
        for (var j = 0; j < scratch.length; j++) {
            try {
                if (fso.FileExists(scratch[j])) {
                    fso.DeleteFile(scratch[j], true);
                }
            } catch (e) {
            }
        }
    }
}

WScript.Quit(main());
