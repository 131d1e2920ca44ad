// ---- paths ---------------------------------------------------------------
//
// One rule for every path that install, upgrade, uninstall and repair act
// on inside the install folder, whatever names it (a cabinet's listing, the
// manifest, a kept cabinet's name): a relative path of plain names, as
// EXTRACT.EXE requires of the names in a cabinet. No "..", no absolute
// path, no drive or stream (":"), no device name, no name ending in a dot
// or a blank (the system would drop them and act on another name), no
// wildcard (the file system object would act on every match).

var DEVICE_NAME = /^(con|prn|aux|nul|conin\$|conout\$|com[1-9]|lpt[1-9])$/i;

function isDeviceName(part) {
    // The system looks at the name before its first dot, blanks at its end ignored.
    var base = part.split(".")[0].replace(/ +$/, "");
    return DEVICE_NAME.test(base);
}

// The path made of plain names joined with "\", or null when name breaks the rule.
// A reinstall asks about the same few hundred names three times (the new
// listing, the earlier manifest, its sorting): each is worked out once.
var safeRelativeSeen = {};

function safeRelative(name) {
    if (typeof name != "string") {
        return null;
    }
    var key = "|" + name;
    if (safeRelativeSeen.hasOwnProperty(key)) {
        return safeRelativeSeen[key];
    }
    return (safeRelativeSeen[key] = plainRelative(name));
}

function plainRelative(name) {
    if (name == "" || /^[\\\/]/.test(name)) {
        return null;
    }
    if (/[\u0000-\u001f:*?"<>|]/.test(name)) {
        return null;
    }
    var parts = name.split(/[\\\/]/), out = [];
    for (var i = 0; i < parts.length; i++) {
        var part = parts[i];
        if (part == "" || part == ".") {
            continue;
        }
        if (/^[. ]+$/.test(part) || /[. ]$/.test(part) || isDeviceName(part)) {
            return null;
        }
        out.push(part);
    }
    return out.length == 0 ? null : out.join("\\");
}

// A path inside folder: folder and the parts of a name that keeps the rule.
// Throws (with the name) when it does not: nothing outside folder is ever built.
function inside(folder, name) {
    var rel = safeRelative(name);
    if (rel == null) {
        fail("The name \"" + name + "\" cannot be used inside " + folder + ": it leaves the folder or names " +
             "a device.", ICON_STOP, EXIT_UNTRUSTED);
    }
    return joinPath(folder, rel);
}

// Joins a folder and a relative path with exactly one backslash.
function joinPath(folder, rel) {
    return noTrailingSlash(folder).replace(/\\+$/, "") + "\\" + rel;
}

// Same path, whatever the case of its letters (the file systems here ignore it).
function samePath(a, b) {
    return noTrailingSlash(a).toLowerCase() == noTrailingSlash(b).toLowerCase();
}

// True when ancestor is a folder above path (not path itself).
function isAncestor(ancestor, path) {
    var a = noTrailingSlash(ancestor).toLowerCase(), p = noTrailingSlash(path).toLowerCase();
    if (a == "" || p.length <= a.length) {
        return false;
    }
    return p.indexOf(a.charAt(a.length - 1) == "\\" ? a : a + "\\") == 0;
}

// The longest path the system handles here, without its terminating NUL.
var MAX_PATH_CHARS = 259;

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
    if (fso.GetFileName(target).indexOf("%") >= 0) {
        fail("The install folder " + given + " cannot be used: its own name holds a \"%\" (the folders above " +
             "it may).");
    }
    if (!isAbsoluteFolder(target)) {
        fail("The install folder " + given + " cannot be used: a part of it is not a plain folder name " +
             "(a name ending in a dot or a blank, a device name such as NUL, or a \":\").");
    }
    return target;
}

// A file's whole text (format: 0 ANSI, -1 UTF-16, -2 as the system decides),
// split into lines by the caller: the host's line-by-line reading fails at
// the end of some UTF-16 files.
function readText(path, format) {
    if (fso.GetFile(path).Size == 0) {
        return "";
    }
    var stream = fso.OpenTextFile(path, 1, false, format || 0);
    try {
        return stream.AtEndOfStream ? "" : stream.ReadAll();
    } finally {
        stream.Close();
    }
}

// The lines of a text, without their line breaks; no empty last line.
function splitLines(text) {
    var lines = String(text).split(/\r\n|\r|\n/);
    if (lines.length > 0 && lines[lines.length - 1] == "") {
        lines.pop();
    }
    return lines;
}

// True when the file or folder at path is a reparse point (a junction or a
// link): maintenance never descends into one nor deletes through it. A
// host whose folder objects have no Attributes (it answers "not
// implemented") cannot tell; its folders are taken as plain ones, and the
// log says so once.
var folderAttributesWork = true;
function isReparsePoint(path) {
    if (fso.FileExists(path)) {
        return (fso.GetFile(path).Attributes & 1024) != 0;
    }
    if (!fso.FolderExists(path) || !folderAttributesWork) {
        return false;
    }
    try {
        return (fso.GetFolder(path).Attributes & 1024) != 0;
    } catch (e) {
        if ((e.number >>> 0) != 0x80004001) {
            throw e;
        }
        folderAttributesWork = false;
        log("links", "this script host cannot tell links among folders (" + errorText(e) + ")");
        return false;
    }
}

// The first folder from root down to (and including) the folder of path
// that is a reparse point, or "" when there is none. root itself counts.
function reparseOnTheWay(root, path) {
    var rel = path.substring(noTrailingSlash(root).length + 1).split("\\");
    var dir = noTrailingSlash(root);
    if (isReparsePoint(dir)) {
        return dir;
    }
    for (var i = 0; i < rel.length - 1; i++) {
        dir = dir + "\\" + rel[i];
        if (isReparsePoint(dir)) {
            return dir;
        }
    }
    return "";
}
