// ---- the manifest --------------------------------------------------------

// What an installation created, kept in its maintenance folder (UTF-16):
//   version<TAB>3.0.6         cabinet<TAB><name>   (kept for repairs)
//   file<TAB><size><TAB><path inside the install folder>
//   folder<TAB><path inside the install folder>
//   parent<TAB><absolute path> (a folder above it that the installation created)
//
// The digest of the manifest an installation wrote is kept under HKLM, one
// value per install folder, which a limited user cannot write: a manifest
// is honoured only when it still has that digest and every path in it
// keeps the path rule. During an upgrade the earlier installation's digest
// is kept as well (name suffix PREVIOUS_DIGEST), until its folder is gone.
var DIGESTS_KEY = "HKLM\\Software\\" + PUBLISHER + "\\" + PRODUCT + "\\Manifests\\";
var PREVIOUS_DIGEST = "|previous";

// The lines of a manifest's text, parsed; problems lists what breaks the
// format (an unknown line, a size that is not a number).
function parseManifest(text) {
    var m = { version: "", cabinets: [], files: [], folders: [], parents: [], problems: [] };
    var lines = splitLines(text);
    for (var i = 0; i < lines.length; i++) {
        var parts = lines[i].split("\t");
        if (parts[0] == "version" && parts.length == 2) {
            m.version = parts[1];
        } else if (parts[0] == "cabinet" && parts.length == 2) {
            m.cabinets.push(parts[1]);
        } else if (parts[0] == "file" && parts.length == 3 && /^\d+$/.test(parts[1])) {
            m.files.push({ name: parts[2], size: parseInt(parts[1], 10) });
        } else if (parts[0] == "folder" && parts.length == 2) {
            m.folders.push(parts[1]);
        } else if (parts[0] == "parent" && parts.length == 2) {
            m.parents.push(parts[1]);
        } else if (lines[i] != "") {
            m.problems.push("line " + (i + 1) + " cannot be read");
        }
    }
    return m;
}

// The text writeManifest stores (each line ended by CR LF).
function manifestText(m) {
    var lines = ["version\t" + m.version], i;
    for (i = 0; i < m.cabinets.length; i++) {
        lines.push("cabinet\t" + m.cabinets[i]);
    }
    for (i = 0; i < m.files.length; i++) {
        lines.push("file\t" + m.files[i].size + "\t" + m.files[i].name);
    }
    for (i = 0; i < m.folders.length; i++) {
        lines.push("folder\t" + m.folders[i]);
    }
    for (i = 0; i < m.parents.length; i++) {
        lines.push("parent\t" + m.parents[i]);
    }
    return lines.join("\r\n") + "\r\n";
}

// "" when every path in m keeps the rule for an installation in folder,
// else what breaks it: files and folders inside it, cabinets plain names,
// parents real folders above it.
function checkManifest(m, folder) {
    if (m.problems.length > 0) {
        return m.problems[0];
    }
    if (!/^\d+(\.\d+)*$/.test(m.version)) {
        return "it names no version";
    }
    var i;
    for (i = 0; i < m.files.length; i++) {
        if (safeRelative(m.files[i].name) == null) {
            return "the file \"" + m.files[i].name + "\" is not inside the install folder";
        }
    }
    for (i = 0; i < m.folders.length; i++) {
        if (safeRelative(m.folders[i]) == null) {
            return "the folder \"" + m.folders[i] + "\" is not inside the install folder";
        }
    }
    for (i = 0; i < m.cabinets.length; i++) {
        if (safeRelative(m.cabinets[i]) != m.cabinets[i] || m.cabinets[i].indexOf("\\") >= 0) {
            return "the cabinet \"" + m.cabinets[i] + "\" is not a plain file name";
        }
    }
    for (i = 0; i < m.parents.length; i++) {
        if (!isAbsoluteFolder(m.parents[i]) || !isAncestor(m.parents[i], folder)) {
            return "the folder \"" + m.parents[i] + "\" is not a folder above " + folder;
        }
    }
    return "";
}

// An absolute path of plain names (C:\a\b or \\server\share\a).
function isAbsoluteFolder(path) {
    var m = /^([A-Za-z]:|\\\\[^\\]+\\[^\\]+)\\(.+)$/.exec(path);
    return m != null && safeRelative(m[2]) == m[2];
}

function digestValue(folder, suffix) {
    return DIGESTS_KEY + noTrailingSlash(folder).toLowerCase().replace(/\\/g, "/") + (suffix || "");
}

// The digest kept for the installation in folder ("" when none is).
function keptDigest(folder, suffix) {
    return regString(digestValue(folder, suffix));
}

function keepDigest(folder, digest, suffix) {
    var name = digestValue(folder, suffix);
    try {
        shell.RegWrite(name, digest, "REG_SZ");
    } catch (e) {
        fail("The record of the installed files could not be written to the registry (" + errorText(e) + ").");
    }
    if (regString(name) != digest) {
        fail("The record of the installed files could not be written to the registry (it does not read back).");
    }
}

function forgetDigest(folder, suffix) {
    var name = digestValue(folder, suffix);
    if (suffix == PREVIOUS_DIGEST) {
        forgetPreviousDigest(name);
        return;
    }
    if (regValue(name) != null) {
        regDelete(name);
        if (regValue(name) != null) {
            log("registry", name + " could not be removed");
        }
    }
}

// The earlier installation's digest goes after every upgrade. Where the
// script host cannot delete a value itself it is emptied instead (an empty
// digest is none, as keptDigest reads it): reg.exe would cost a process
// on every reinstall.
function forgetPreviousDigest(name) {
    var v = regValue(name);
    if (v == null || v.value === "") {
        return;
    }
    try {
        shell.RegDelete(name);
    } catch (e) {
        try {
            shell.RegWrite(name, "", "REG_SZ");
        } catch (e2) {
            // checked below
        }
    }
    if (regString(name) != "") {
        log("registry", name + " could not be removed");
    }
}

// A manifest file's text: { text }, or { problem } when it cannot be read.
function readManifestText(path) {
    try {
        return { text: readText(path, -1) };
    } catch (e) {
        return { problem: "it cannot be read (" + errorText(e) + ")" };
    }
}

// The manifest in manifestFolder, for the installation in installFolder,
// checked against digest: { m } when it is the one written, { m: null,
// problem } when there is none (problem "") or it cannot be trusted.
function loadManifest(manifestFolder, installFolder, digest) {
    var path = manifestFolder + "\\" + MANIFEST;
    if (!fso.FileExists(path)) {
        return { m: null, problem: "" };
    }
    var read = readManifestText(path);
    if (read.problem) {
        return { m: null, problem: read.problem };
    }
    var text = read.text;
    if (digest == "") {
        return legacyManifest(text, installFolder);
    }
    // A reinstall reads the earlier manifest twice (before the swap and
    // after it): the same text, digest and folder need no second check.
    var last = trustedManifest;
    if (last != null && last.text === text && last.digest === digest && last.folder === installFolder) {
        return { m: last.m };
    }
    if (textDigest(text) != digest) {
        return { m: null, problem: "it was changed after the installation wrote it" };
    }
    return trustText(text, digest, installFolder);
}

// A manifest's text whose digest is known to be the kept one: parsed,
// checked against the path rule, and remembered.
function trustText(text, digest, installFolder) {
    var m = parseManifest(text);
    var problem = checkManifest(m, installFolder);
    if (problem != "") {
        return { m: null, problem: problem };
    }
    trustedManifest = { text: text, digest: digest, folder: installFolder, m: m };
    return { m: m };
}

// The manifest an extraction copied (EXTRACT /M) into copy, with the digest
// it listed of the very bytes it copied: the same check as loadManifest's,
// without hashing the text here (the script host takes a noticeable part
// of a second for it; EXTRACT, which runs anyway, a moment).
function copiedManifest(entries, copy, digest, installFolder) {
    var listed = null;
    for (var i = 0; i < entries.length; i++) {
        if (entries[i].status == "digest") {
            listed = entries[i].path;
        }
    }
    if (listed == null || !fso.FileExists(copy)) {
        return { m: null, problem: "it cannot be read" };
    }
    if (listed != digest) {
        return { m: null, problem: "it was changed after the installation wrote it" };
    }
    var read = readManifestText(copy);
    return read.problem ? { m: null, problem: read.problem } : trustText(read.text, digest, installFolder);
}

// The last manifest loadManifest found trustworthy, with what it checked.
// Its m is shared: callers copy what they change.
var trustedManifest = null;

// A manifest without a kept digest: an installation made before digests
// were kept. Refusing it would leave such an installation impossible to
// upgrade or remove, so it is honoured when the uninstall entry (under HKLM,
// which a limited user cannot write) names this very folder, and then only
// inside the folder: every path must keep the rule, and its parent folders
// are not removed, since nothing vouches that the installation made them.
function legacyManifest(text, installFolder) {
    var named = regString(UNINSTALL_KEY + "InstallLocation");
    if (named == "" || noTrailingSlash(named).toLowerCase() != noTrailingSlash(installFolder).toLowerCase()) {
        return { m: null, problem: "no record of it is kept in the registry" };
    }
    var m = parseManifest(text);
    var problem = checkManifest(m, installFolder);
    if (problem != "") {
        return { m: null, problem: problem };
    }
    m.parents = [];
    log("manifest", "kept without a record by an earlier installation in " + installFolder +
        ": honoured inside the folder only, its parent folders are kept");
    return { m: m };
}

// The manifest of the installation in folder; null when there is none.
// One that cannot be trusted stops the run: nothing is acted on.
function readManifest(folder) {
    var r = loadManifest(folder, folder, keptDigest(folder));
    if (r.m == null && r.problem != "") {
        untrustedManifest(folder, r.problem);
    }
    return r.m;
}

function untrustedManifest(folder, problem) {
    fail(maintenanceText("loc_UI_Maintenance_Untrusted", "The list of installed files in %1 cannot be trusted: " +
                         "%2. Nothing was changed. Run the Quillfeather installer to install again into an empty " +
                         "folder, or remove the folder yourself.", joinPath(folder, MANIFEST), problem),
         ICON_STOP, EXIT_UNTRUSTED);
}

// Writes the manifest into folder and returns the digest of what reads back.
function writeManifest(folder, m) {
    var path = folder + "\\" + MANIFEST;
    var text = manifestText(m);
    var stream = fso.CreateTextFile(path, true, true);
    try {
        stream.Write(text);
    } finally {
        stream.Close();
    }
    var back = readText(path, -1);
    if (back != text) {
        fail("The list of installed files could not be written to " + path + ".", ICON_STOP);
    }
    // A reinstall of the same content writes the very text it checked.
    var known = trustedManifest;
    return known != null && known.text === back ? known.digest : textDigest(back);
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

// Copies a file and returns its size; a copy that is not whole fails.
function copyChecked(from, to) {
    var size = fso.GetFile(from).Size;
    fso.CopyFile(from, to, true);
    var copied = -1;
    try {
        copied = fso.GetFile(to).Size;
    } catch (e) {
        // missing: reported below
    }
    if (copied != size) {
        fail("The file " + to + " could not be written whole. Is the disk full?", ICON_STOP);
    }
    return size;
}

// The files the maintenance folder keeps (EXTRACT.EXE, the version file
// and the cabinets, so that a repair needs no installer) in the staging
// folder. The cabinets' copies are EXTRACT's (/A KEPT_CABINETS: written from
// the image it checked, as it extracts); the two others are copied here:
// next() copies one (while EXTRACT runs: the script host would only wait)
// and says whether there is more; finish(files, entries) copies the rest and
// returns the manifest's entries for all of them, from EXTRACT's listing
// (entries) for the cabinets. A failure in next() waits for finish(), since
// EXTRACT may still be writing.
function keptFiles(cabinets, extractExe) {
    var list = [[extractExe, MAINTENANCE + "\\EXTRACT.EXE"],
                [here + "\\vellumVersion.txt", MAINTENANCE + "\\vellumVersion.txt"]];
    var done = [], error = null;
    function copyNext() {
        var folder = tx.staging + "\\" + MAINTENANCE;
        if (done.length == 0 && !fso.FolderExists(folder)) {
            // Inside the staging folder: not among the folders this run
            // created above it. EXTRACT may make it at the same moment.
            try {
                fso.CreateFolder(folder);
            } catch (e) {
                if (!fso.FolderExists(folder)) {
                    throw e;
                }
            }
        }
        var k = done.length;
        done.push({ name: list[k][1], size: copyChecked(list[k][0], tx.staging + "\\" + list[k][1]) });
    }
    // The cabinets' copies as EXTRACT listed them, in the cabinets' order;
    // one whose name a cabinet's own file took afterwards is made again
    // here, as the last word.
    function cabinetCopies(files, entries) {
        var copies = {}, out = [], i;
        for (i = 0; i < entries.length; i++) {
            var name = entries[i].status == "copy" ? safeRelative(entries[i].path) : null;
            if (name != null) {
                copies[name.toLowerCase()] = { name: name, size: entries[i].size };
            }
        }
        for (i = 0; i < cabinets.length; i++) {
            var key = (KEPT_CABINETS + "\\" + cabinets[i]).toLowerCase();
            if (!copies.hasOwnProperty(key)) {
                fail("The maintenance folder " + targetFolder + "\\" + MAINTENANCE + " could not be written (" +
                     "EXTRACT.EXE made no copy of " + cabinets[i] + ").", ICON_STOP);
            }
            if (files.hasOwnProperty(key)) {
                copies[key].size = copyChecked(here + "\\" + cabinets[i], tx.staging + "\\" + copies[key].name);
            }
            out.push(copies[key]);
        }
        return out;
    }
    return {
        next: function () {
            if (error != null || done.length == list.length) {
                return false;
            }
            try {
                copyNext();
            } catch (e) {
                error = e;
            }
            return error == null && done.length < list.length;
        },
        finish: function (files, entries) {
            // A cabinet's own file of a kept name may have been written over a
            // copy: the copies are made again, as the last word.
            for (var k = 0; k < done.length; k++) {
                if (files.hasOwnProperty(done[k].name.toLowerCase())) {
                    done = [];
                }
            }
            try {
                while (error == null && done.length < list.length) {
                    copyNext();
                }
                if (error == null) {
                    return done.concat(cabinetCopies(files, entries));
                }
            } catch (e) {
                error = e;
            }
            if (error.vellumMessage) {
                throw error;
            }
            fail("The maintenance folder " + targetFolder + "\\" + MAINTENANCE + " could not be written (" +
                 errorText(error) + ").", ICON_STOP);
        }
    };
}

// Completes the staged content with the kept files (keptFiles) and the
// manifest of everything the installation creates.
function addMaintenance(files, kept, cabinets, version, entries) {
    var m = { version: version, cabinets: cabinets.slice(0), files: [], folders: [], parents: [] };
    for (var key in files) {
        if (files.hasOwnProperty(key)) {
            m.files.push({ name: files[key].name, size: files[key].size });
        }
    }
    m.files = m.files.concat(kept.finish(files, entries));
    m.files.push({ name: MANIFEST, size: 0 });
    m.folders = foldersOf(m.files);
    // Folders above the install folder that an earlier installation created
    // stay that installation's to remove.
    var parents = tx.earlier ? tx.earlier.parents.slice(0) : [];
    for (var c = 0; c < tx.createdFolders.length; c++) {
        parents.push(tx.createdFolders[c]);
    }
    m.parents = parents;
    m.digest = writeManifest(tx.staging, m);
    return m;
}

function totalKB(m) {
    var bytes = 0;
    for (var i = 0; i < m.files.length; i++) {
        bytes += m.files[i].size;
    }
    return Math.ceil(bytes / 1024);
}

// Sorts an earlier installation's folder listing (EXTRACT /T entries of
// folder) by its manifest m: own files are those it names, own folders
// those it names or that hold one of its files; everything else is the
// user's (with all a user's folder holds), links included, whatever their
// name. Paths are below folder, parents before their contents; links maps
// the lower-case paths of the links; folders: every folder listed,
// ownFolders: those of the installation. Without
// m everything is the user's. (Keys start with "|", which no name holds,
// so that no name meets a property every object has.)
function sortEarlier(folder, m, entries) {
    var files = {}, folders = {}, i, k;
    var out = { ownFiles: [], ownFolders: [], users: [], folders: [], links: {}, linked: false };
    for (i = 0; m != null && i < m.files.length; i++) {
        var name = safeRelative(m.files[i].name).toLowerCase();
        files["|" + name] = true;
        for (k = name.lastIndexOf("\\"); k > 0; k = name.lastIndexOf("\\", k - 1)) {
            folders["|" + name.substring(0, k)] = true;
        }
    }
    for (i = 0; m != null && i < m.folders.length; i++) {
        folders["|" + safeRelative(m.folders[i]).toLowerCase()] = true;
    }
    for (i = 0; i < entries.length; i++) {
        var e = entries[i], key = "|" + e.path.toLowerCase(), path = folder + "\\" + e.path;
        if (e.status == "folder") {
            out.folders.push(path);
        }
        if (e.status == "file" && files.hasOwnProperty(key)) {
            out.ownFiles.push(path);
        } else if (e.status == "folder" && folders.hasOwnProperty(key)) {
            out.ownFolders.push(path);
        } else {
            if (e.status == "link") {
                out.links[path.toLowerCase()] = true;
                out.linked = true;
            }
            out.users.push(path);
        }
    }
    return out;
}
