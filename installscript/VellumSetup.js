// VellumSetup.js: the installation script of Quillfeather.
//
// Built into VellumSetup.jse (encoded) and carried in VellumInstaller's
// payload. VellumInstaller writes the payload into its working folder and
// starts this script there through the shell, with the arguments
// "VellumInstall" followed by the installer's own command line.
//
// What it does:
//   1. chooses the locale as VellumInstaller does (the two registry values,
//      else en-us);
//   2. registers VellumSetup.exe from its own folder (/RegServer) and
//      creates its VellumSetup.controller object;
//   3. shows the wizard and waits until the user presses Install or leaves;
//   4. on Install, extracts the shared cabinets and those of the locale with
//      EXTRACT.EXE into the install folder, driving the progress window;
//   5. shows the finish page, opens the installed start page if the user
//      asked for it, closes VellumSetup and unregisters it.
//
// Arguments (after VellumInstall; others, such as the quiet switches, are
// ignored):
//   /target:<folder>   install folder; environment variables are expanded.
//                      Default: %ProgramFiles%\Quillfeather
//
// Exit codes: 0 installed, 1 failed (the user was told why; a folder that
// this run created is removed again), 2 the user left the wizard (nothing
// was installed).
//
// The source must stay ASCII: the encoded form cannot carry other
// characters (write \uXXXX escapes in strings).

var EXIT_OK = 0;
var EXIT_FAILED = 1;
var EXIT_ABORTED = 2;

var LOCALE_KEY_1 = "HKLM\\SOFTWARE\\Ostrander\\ZephD\\HardwareDescription\\localeId";
var LOCALE_KEY_2 = "HKLM\\SOFTWARE\\Ostrander\\ZephOOBE\\Lang_Country";
var POLL_MS = 250;
var PROGRESS_MAX = 1000;

var shell = null;
var fso = null;
var here = "";           // the working folder, without a trailing backslash
var controller = null;
var registered = false;
var progressShown = false;
var targetFolder = "";
var createdFolders = []; // folders this run created, outermost first
var title = "Quillfeather Installation";

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
    fso.CreateFolder(path);
    createdFolders.push(path);
}

// Takes away what this run created; an install folder that existed before
// is left as it was found, apart from files that were replaced.
function removeCreated() {
    for (var i = 0; i < createdFolders.length; i++) {
        try {
            if (fso.FolderExists(createdFolders[i])) {
                fso.DeleteFolder(createdFolders[i], true);
                return;
            }
        } catch (e) {
        }
    }
}

function timerText(locale, seconds) {
    if (seconds >= 60) {
        return Math.ceil(seconds / 60) + " " +
            localized(locale, "loc_UI_Info_MinsRemaining", "Minutes Remaining");
    }
    return Math.max(1, Math.ceil(seconds)) + " " +
        localized(locale, "loc_UI_Info_SecsRemaining", "Seconds Remaining");
}

function fail(message) {
    var e = new Error(message);
    e.vellumMessage = message;
    throw e;
}

// Tells the user about a failure: through the controller when it runs
// (its progress window's message box), else with a plain message box.
function tellFailure(message) {
    if (controller != null) {
        try {
            if (!progressShown) {
                controller.Caption = title;
            }
            controller.showComplete(message);
            return;
        } catch (e) {
        }
    }
    try {
        shell.Popup(message, 0, title, 16);
    } catch (e2) {
    }
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

function unregister(setupExe) {
    if (!registered) {
        return;
    }
    try {
        shell.Run(quote(setupExe) + " /UnregServer", 0, true);
    } catch (e) {
    }
    registered = false;
}

function parseArguments() {
    var args = WScript.Arguments;
    var target = "";
    for (var i = 0; i < args.length; i++) {
        var a = args(i);
        var m = /^[\/\-]target:(.+)$/i.exec(a);
        if (m) {
            target = m[1];
        }
    }
    if (target == "") {
        target = "%ProgramFiles%\\Quillfeather";
    }
    // Some hosts return the expansion with its terminating NUL.
    target = noTrailingSlash(shell.ExpandEnvironmentStrings(target).replace(/\u0000/g, ""));
    // Not GetAbsolutePathName: some hosts drop the last part of a path that
    // does not exist yet.
    if (!/^([A-Za-z]:\\|\\\\)/.test(target)) {
        target = noTrailingSlash(shell.CurrentDirectory) + "\\" + target;
    }
    return { target: target };
}

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

    try {
        makeFolders(targetFolder);
    } catch (e) {
        fail("The folder " + targetFolder + " cannot be created (" + e.message + ").");
    }

    controller.setMaxValue(PROGRESS_MAX);
    controller.showProgress(1);
    progressShown = true;

    var started = new Date().getTime();
    var done = 0;
    for (var k = 0; k < cabinets.length; k++) {
        var next = Math.round((done + sizes[k]) / total * PROGRESS_MAX);
        if (done > 0) {
            var elapsed = (new Date().getTime() - started) / 1000;
            controller.setTimerString(timerText(locale, elapsed * (total - done) / done));
        }
        controller.setProgress(next, true);
        var command = quote(extractExe) + " /Y /E /L " + quote(targetFolder) + " " +
            quote(here + "\\" + cabinets[k]);
        var rc = shell.Run(command, 0, true);
        if (rc != 0) {
            fail("The help content could not be installed: " + cabinets[k] +
                 " could not be extracted into " + targetFolder + " (EXTRACT.EXE exit code " + rc + ").");
        }
        done += sizes[k];
    }
    controller.setProgress(PROGRESS_MAX, false);
    controller.setTimerString("");

    var startPage = targetFolder + "\\locales\\" + content.locale + "\\index.htm";
    if (!fso.FileExists(startPage)) {
        fail("The help content is incomplete: " + startPage + " was not installed.");
    }
    return startPage;
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
    var setupExe = here + "\\VellumSetup.exe";
    var extractExe = here + "\\EXTRACT.EXE";
    var locale = chooseLocale();
    title = localized(locale, "loc_UI_Title", title);

    try {
        var options = parseArguments();
        targetFolder = options.target;
        if (!fso.FileExists(setupExe) || !fso.FileExists(extractExe) ||
            !fso.FileExists(here + "\\filesList.txt")) {
            fail("The installation files in " + here + " are incomplete.");
        }
        var content = selectCabinets(readList(), locale);

        var rc = shell.Run(quote(setupExe) + " /RegServer", 0, true);
        // 0: registered for the machine, 1: for this user only.
        if (rc != 0 && rc != 1) {
            fail("The setup program could not be registered (exit code " + rc + ").");
        }
        registered = true;
        try {
            controller = new ActiveXObject("VellumSetup.controller");
        } catch (e) {
            fail("The setup program could not be started (" + e.message + ").");
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
        var message = e.vellumMessage ? e.vellumMessage
            : "The installation failed: " + (e.message ? e.message : String(e));
        tellFailure(message);
        closeController();
        unregister(setupExe);
        removeCreated();
        return EXIT_FAILED;
    }
}

WScript.Quit(main());
