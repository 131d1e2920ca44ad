// ---- locks ---------------------------------------------------------------

// Opens a lock file for writing without sharing and keeps it open; the
// system closes it when this process ends, however it ends. Returns the
// stream, or null when another process holds it; other failures are thrown.
function takeLock(path) {
    if (fso.FolderExists(path)) {
        fail(maintenanceText("loc_UI_Error_LockInTheWay", "The lock file %1 cannot be created: a folder of " +
                             "that name is in the way.", path), ICON_STOP);
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
                fail(maintenanceText("loc_UI_Error_Lock", "The lock file %1 cannot be created (%2).", path,
                                     errorText(e)), ICON_STOP);
            }
        }
        pause(LOCK_RETRY_MS);
    }
    return null; // it exists and stays held: another run holds it
}

function releaseTargetLock() {
    if (tx.targetLock == null) {
        return;
    }
    try {
        tx.targetLock.Close();
    } catch (e) {
        log("lock", tx.targetLockPath + " could not be closed (" + errorText(e) + "); it goes when this run ends");
    }
    tx.targetLock = null;
    try {
        fso.DeleteFile(tx.targetLockPath, true);
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
    tx.createdFolders.push(path);
}

function isEmptyFolder(path) {
    var f = fso.GetFolder(path);
    return f.Files.Count == 0 && f.SubFolders.Count == 0;
}

// Removes a folder that is empty and no link; a failure is logged only:
// leaving an empty folder harms nothing.
function removeIfEmpty(dir) {
    try {
        if (fso.FolderExists(dir) && !isReparsePoint(dir) && isEmptyFolder(dir)) {
            fso.DeleteFolder(dir, true);
        }
    } catch (e) {
        log("cleanup", dir + " could not be removed (" + errorText(e) + ")");
    }
}

// Takes away the folders this run created, innermost first, as long as they
// are empty: whatever another program put there meanwhile stays.
function removeCreated() {
    for (var i = tx.createdFolders.length - 1; i >= 0; i--) {
        removeIfEmpty(tx.createdFolders[i]);
    }
    tx.createdFolders = [];
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

// Deletes a folder of this system's own (staging, repair work) with all it
// holds; one that is, or holds, a reparse point is refused: deleting
// through it would delete what it points to.
function deleteFolder(path) {
    if (!fso.FolderExists(path)) {
        return;
    }
    var found = isReparsePoint(path) ? path : "";
    if (found == "") {
        var all = treeList(path, false);
        for (var i = 0; i < all.length && found == ""; i++) {
            if (isReparsePoint(all[i])) {
                found = all[i];
            }
        }
    }
    if (found != "") {
        fail(maintenanceText("loc_UI_Error_FolderLink", "The folder %1 was not removed: %2 is a link to " +
                             "another place. Remove it yourself.", path, found), ICON_STOP, EXIT_UNTRUSTED);
    }
    fso.DeleteFolder(path, true);
}

// Moves what the earlier installation has and the new one lacks (the
// user's own files, among others) into the new one; paths: what is to move
// from the folder from (parents before their contents), links: the
// lower-case paths the listing showed as links. Returns what could not be
// moved ("" when everything was).
function carryOver(from, to, paths, links) {
    for (var i = 0; i < paths.length; i++) {
        var rel = paths[i].substring(from.length + 1);
        var src = joinPath(from, rel), dst = joinPath(to, rel);
        var isFolder = fso.FolderExists(src);
        if (!isFolder && !fso.FileExists(src)) {
            continue; // moved with its folder
        }
        if (fso.FileExists(dst) || fso.FolderExists(dst)) {
            if (isFolder && !links.hasOwnProperty(src.toLowerCase()) && !isReparsePoint(src)) {
                continue; // its contents move one by one
            }
            return rel + ": the new installation has one of that name";
        }
        try {
            if (isFolder) {
                moveFolder(src, dst);
            } else {
                fso.MoveFile(src, dst);
            }
        } catch (e) {
            return rel + ": " + (e.vellumMessage || errorText(e));
        }
    }
    return "";
}

// The folders a run keeps beside an install folder, on its volume so that
// the swap is a rename.
function beside(folder, suffix) {
    return fso.GetParentFolderName(folder) + "\\" + fso.GetFileName(folder) + suffix;
}

function besideTarget(suffix) {
    return beside(targetFolder, suffix);
}

// Completes a swap: the earlier installation's own files go, what the user
// added moves over, the emptied folder goes. Returns "" when done, else
// why not: then the earlier folder stays where it is, with what is left.
// One listing decides (listed: the one taken since the folder was renamed,
// else one taken now); it never enters a link, so nothing it lists lies
// behind one. Without a trusted manifest nothing is deleted. trusted: the
// earlier manifest as this run checked it, when it did (not read again).
function finishSwap(listed, trusted) {
    var problem = "";
    try {
        var r = trusted ? { m: trusted } :
            loadManifest(tx.previous, targetFolder, keptDigest(targetFolder, PREVIOUS_DIGEST));
        if (r.m == null && r.problem != "") {
            log("upgrade", "the earlier list of installed files is not used: " + r.problem);
        }
        var sorted = sortEarlier(tx.previous, r.m, listed || treeEntries(tx.previous));
        // With a link in the tree its own files go one by one, first.
        var whole = r.m != null && !sorted.linked;
        if (r.m != null && sorted.linked) {
            dropOwn(sorted);
        }
        problem = carryOver(tx.previous, targetFolder, sorted.users, sorted.links);
        if (problem == "" && whole) {
            // Only the installation's own files and folders are left, and
            // no link: they go in one deletion.
            fso.DeleteFolder(tx.previous, true);
        } else if (problem == "") {
            removeEmptyTree(tx.previous, sorted.folders);
        } else if (whole) {
            // What is set aside is then only what the user may need.
            try {
                dropOwn(sorted);
            } catch (e1) {
                log("upgrade", "files of the earlier installation stay (" + (e1.vellumMessage || errorText(e1)) + ")");
            }
        }
    } catch (e) {
        problem = e.vellumMessage || errorText(e);
    }
    if (problem == "" && fso.FolderExists(tx.previous)) {
        problem = "it is not empty";
    }
    if (problem == "") {
        forgetDigest(targetFolder, PREVIOUS_DIGEST);
        log("upgrade", "the earlier installation is gone; what was added to it was moved over");
    } else {
        log("upgrade", tx.previous + " stays: " + problem);
    }
    return problem;
}

// Deletes an earlier installation's own files that its listing showed
// (sortEarlier), then its own folders left empty, innermost first.
function dropOwn(sorted) {
    var i;
    for (i = 0; i < sorted.ownFiles.length; i++) {
        if (fso.FileExists(sorted.ownFiles[i])) {
            fso.DeleteFile(sorted.ownFiles[i], true);
        }
    }
    for (i = sorted.ownFolders.length - 1; i >= 0; i--) {
        var dir = sorted.ownFolders[i];
        if (fso.FolderExists(dir) && !sorted.links.hasOwnProperty(dir.toLowerCase()) && isEmptyFolder(dir)) {
            fso.DeleteFolder(dir, true);
        }
    }
}

// Removes a folder whose tree holds folders only; all: its listing, when
// the caller has one that is still true of its folders.
function removeEmptyTree(path, all) {
    all = all || treeList(path, false);
    for (var i = all.length - 1; i >= 0; i--) {
        if (fso.FolderExists(all[i]) && !isReparsePoint(all[i]) && isEmptyFolder(all[i])) {
            fso.DeleteFolder(all[i], true);
        }
    }
    if (isEmptyFolder(path)) {
        fso.DeleteFolder(path, true);
    }
}

// A leftover earlier installation that cannot be finished is set aside
// under a name of its own, so that it blocks no later run; the run reports
// where it is.
function setAside(folder, problem) {
    var n = 1, to;
    do {
        to = folder + "." + n++;
    } while (fso.FolderExists(to) || fso.FileExists(to));
    moveFolder(folder, to);
    tx.leftBehind.push(to + " (" + problem + ")");
    log("upgrade", "files of an earlier installation were set aside in " + to + ": " + problem);
    return to;
}

// The uninstall entry as the installation in folder says it should be,
// when the entry names that folder: after a swap was undone, or removed
// when no installation is left there.
function entryFromManifest(folder) {
    var loc = noTrailingSlash(regString(UNINSTALL_KEY + "InstallLocation"));
    if (loc == "" || !samePath(loc, folder)) {
        return;
    }
    var r = loadManifest(folder, folder, keptDigest(folder));
    if (r.m != null) {
        writeEntry(folder, r.m.version, totalKB(r.m));
        tx.entryWritten = false;
    } else if (r.problem == "") {
        deleteEntry();
        log("registry", "the entry of " + folder + ", where nothing is installed any more, was removed");
    }
}

// While the earlier installation is set aside, an empty folder in its
// place is none of ours (a swapped-in installation holds its files):
// another program made it meanwhile. It goes. True when the place is free.
function placeIsFree() {
    if (fso.FolderExists(targetFolder) && !isReparsePoint(targetFolder) && isEmptyFolder(targetFolder)) {
        fso.DeleteFolder(targetFolder, true);
    }
    return !fso.FolderExists(targetFolder);
}

// Puts right what a run that was killed left beside the install folder,
// from what it left: an interrupted swap is undone (the earlier folder is
// back, with its digest and entry) or completed; staging and repair work
// go. journaled: the journal names the folder, so a digest without its
// manifest means an installation that is gone (never swapped in, or an
// uninstall killed after its list went): what is left of it goes.
// Runs under the install folder's lock.
function recoverLeftovers(journaled) {
    var hadPrevious = keptDigest(targetFolder, PREVIOUS_DIGEST) != "";
    if (fso.FolderExists(tx.previous)) {
        if (!placeIsFree()) {
            var problem = finishSwap();
            if (problem != "") {
                setAside(tx.previous, problem);
                forgetDigest(targetFolder, PREVIOUS_DIGEST);
            }
        } else {
            moveFolder(tx.previous, targetFolder);
            log("recovery", "the earlier installation is back in " + targetFolder);
            restorePreviousDigest();
        }
    } else if (hadPrevious) {
        // Killed before the swap: the earlier installation never moved.
        restorePreviousDigest();
    } else if (journaled && keptDigest(targetFolder) != "" && !fso.FileExists(joinPath(targetFolder, MANIFEST))) {
        var maintenance = joinPath(targetFolder, MAINTENANCE);
        if (fso.FolderExists(maintenance) && !isReparsePoint(maintenance)) {
            removeEmptyTree(maintenance);
        }
        if (fso.FolderExists(targetFolder) && !isReparsePoint(targetFolder) &&
            treeList(targetFolder, true).length == 0) {
            removeEmptyTree(targetFolder);
        }
        forgetDigest(targetFolder);
        entryFromManifest(targetFolder);
        log("recovery", "what was left of the installation in " + targetFolder + " is gone");
    }
    deleteFolder(tx.staging);
    deleteFolder(besideTarget(".VellumRepair"));
}

function restorePreviousDigest() {
    var old = keptDigest(targetFolder, PREVIOUS_DIGEST);
    if (old != "") {
        keepDigest(targetFolder, old);
        forgetDigest(targetFolder, PREVIOUS_DIGEST);
    }
    entryFromManifest(targetFolder);
}

// ---- the journal ---------------------------------------------------------
//
// The install folders a transaction is open on, in the registry (HKLM),
// separated by "|": every run, whatever its folder, puts right first what
// a killed run left in any of them.
var JOURNAL_VALUE = "HKLM\\Software\\" + PUBLISHER + "\\" + PRODUCT + "\\OpenTransactions";

function journalFolders() {
    var text = regString(JOURNAL_VALUE), out = [];
    var parts = text == "" ? [] : text.split("|");
    for (var i = 0; i < parts.length; i++) {
        if (parts[i] != "") {
            out.push(parts[i]);
        }
    }
    return out;
}

function writeJournal(folders) {
    try {
        shell.RegWrite(JOURNAL_VALUE, folders.join("|"), "REG_SZ");
    } catch (e) {
        fail(maintenanceText("loc_UI_Error_Journal", "The record of this run's work could not be written to " +
                             "the registry (%1).", errorText(e)));
    }
}

function journalOpen(folder) {
    var folders = journalFolders();
    for (var i = 0; i < folders.length; i++) {
        if (samePath(folders[i], folder)) {
            return;
        }
    }
    folders.push(folder);
    writeJournal(folders);
}

function journalClose(folder) {
    var folders = journalFolders(), kept = [];
    for (var i = 0; i < folders.length; i++) {
        if (!samePath(folders[i], folder)) {
            kept.push(folders[i]);
        }
    }
    if (kept.length != folders.length) {
        try {
            writeJournal(kept);
        } catch (e) {
            log("journal", e.vellumMessage || errorText(e));
        }
    }
}

// Takes the install folder's lock; null when another run holds it.
function lockFolder(folder) {
    tx.targetLockPath = beside(folder, ".VellumSetup.lock");
    tx.targetLock = takeLock(tx.targetLockPath);
    return tx.targetLock;
}

// Puts right every folder the journal names (the current one included),
// each under its own lock; a folder another run is busy in is left to it.
// What cannot be put right is logged and stays in the journal.
function recoverJournal() {
    var folders = journalFolders();
    var own = targetFolder;
    for (var i = 0; i < folders.length; i++) {
        var folder = folders[i];
        if (!isAbsoluteFolder(folder)) {
            log("recovery", "the journal names \"" + folder + "\", which is not a usable folder; it is dropped");
            journalClose(folder);
            continue;
        }
        targetFolder = folder;
        try {
            if (fso.FolderExists(fso.GetParentFolderName(folder)) && lockFolder(folder) != null) {
                tx.staging = besideTarget(".VellumStaging");
                tx.previous = besideTarget(".VellumPrevious");
                recoverLeftovers(true);
                journalClose(folder);
                log("recovery", folder + ": put right");
            } else if (!fso.FolderExists(fso.GetParentFolderName(folder))) {
                journalClose(folder);
            }
        } catch (e) {
            log("recovery", folder + ": " + (e.vellumMessage || errorText(e)));
        }
        tx.staging = "";
        tx.previous = "";
        releaseTargetLock();
    }
    targetFolder = own;
}

// At every start: the journal's folders, and leftovers beside this run's
// own folder (a run of an earlier build kept no journal).
function recoverAtStart() {
    recoverJournal();
    if (targetFolder == "" ||
        (!fso.FolderExists(besideTarget(".VellumStaging")) && !fso.FolderExists(besideTarget(".VellumPrevious")))) {
        return;
    }
    try {
        if (lockFolder(targetFolder) != null) {
            tx.staging = besideTarget(".VellumStaging");
            tx.previous = besideTarget(".VellumPrevious");
            recoverLeftovers();
        }
    } catch (e) {
        // The run itself meets what stays wrong, and reports it.
        log("recovery", targetFolder + ": " + (e.vellumMessage || errorText(e)));
    }
    tx.staging = "";
    tx.previous = "";
    releaseTargetLock();
}

// ---- installation --------------------------------------------------------

// The files EXTRACT's listing names (status "file"), entered into files
// (lower-case name -> {name, size}); a name twice keeps the later one, as
// extraction does.
function listedFiles(entries, files, what) {
    for (var i = 0; i < entries.length; i++) {
        if (entries[i].status != "file") {
            continue;
        }
        var name = safeRelative(entries[i].path);
        if (name == null) {
            fail("The help content could not be installed: the listing of " + what +
                 " names a file that cannot be used: " + entries[i].path);
        }
        files[name.toLowerCase()] = { name: name, size: entries[i].size };
    }
    return files;
}

// The progress window follows EXTRACT: checking the cabinets is the first
// tenth, writing the files the rest of the extraction's share (share of
// PROGRESS_MAX); the time left is estimated from the writing so far.
function followExtraction(locale, share) {
    var writingSince = 0;
    return function (r) {
        if (controller == null || r.total <= 0) {
            return;
        }
        var part = r.phase == "check" ? 0.1 * r.done / r.total :
                   r.phase == "extract" || r.phase == "compare" ? 0.1 + 0.9 * r.done / r.total : 1;
        controller.setProgress(Math.round(Math.min(part, 1) * share), true);
        if (r.phase == "extract") {
            var now = new Date().getTime();
            if (writingSince == 0) {
                writingSince = now;
            } else if (r.done > 0) {
                controller.setTimerString(timerText(locale, (now - writingSince) / 1000 * (r.total - r.done) / r.done));
            }
        }
    };
}

// The longest name of files, which must fit below the staging and the
// earlier installation's folder now, and below the install folder later.
function checkLengths(files) {
    var longest = "";
    for (var key in files) {
        if (files.hasOwnProperty(key) && files[key].name.length > longest.length) {
            longest = files[key].name;
        }
    }
    var room = MAX_PATH_CHARS - besideTarget(".VellumPrevious").length - 1;
    if (longest.length > room) {
        fail("The install folder " + targetFolder + " cannot be used: its path is too long for the files " +
             "of the help content (such as " + longest + "). Choose a folder with a path at least " +
             (longest.length - room) + " characters shorter.", ICON_EXCLAMATION);
    }
}

// The earlier installation in the install folder, when there is one: an
// empty or missing folder has none; a folder with files that no trusted
// manifest of ours describes is refused (they may be the user's).
function earlierInstallation() {
    if (!fso.FolderExists(targetFolder)) {
        return null;
    }
    if (isReparsePoint(targetFolder)) {
        fail("The install folder " + targetFolder + " is a link to another place; " + PRODUCT +
             " was not installed. Choose another folder.", ICON_EXCLAMATION, EXIT_FOREIGN);
    }
    // A manifest means something is in it: the folder's contents need no
    // counting then (the host enumerates them for it).
    var listed = fso.FileExists(joinPath(targetFolder, MANIFEST));
    if (!listed && isEmptyFolder(targetFolder)) {
        return null;
    }
    var digest = keptDigest(targetFolder);
    if (listed && digest != "") {
        // Checked against its digest once the folder is set aside, by the
        // extraction (earlierChecked): a refusal then puts the folder back.
        return { m: null, digest: digest };
    }
    var r = loadManifest(targetFolder, targetFolder, digest);
    if (r.m == null) {
        notAnInstallation(r.problem);
    }
    return r;
}

// The earlier installation's manifest as the extraction copied and hashed
// it; a refusal leaves the folder as it was (the run rolls back).
function earlierChecked(earlier, entries, copy) {
    var r = copiedManifest(entries, copy, earlier.digest, targetFolder);
    if (r.m == null) {
        notAnInstallation(r.problem);
    }
    return r.m;
}

function notAnInstallation(problem) {
    fail("The folder " + targetFolder + " already holds files that are not part of an installation of " +
         PRODUCT + (problem != "" ? " (its list of installed files cannot be trusted: " + problem + ")" : "") +
         ". Nothing was installed and nothing in it was changed. Choose an empty or new folder.",
         ICON_EXCLAMATION, EXIT_FOREIGN);
}

// Extracts into the staging folder, checks it, and swaps it into place.
// Returns the start page's path.
function install(locale, content, extractExe, version) {
    var cabinets = content.cabinets;
    for (var i = 0; i < cabinets.length; i++) {
        if (!fso.FileExists(joinPath(here, cabinets[i]))) {
            fail("The installation files are incomplete: " + cabinets[i] + " is missing from " + here + ".");
        }
    }
    if (fso.FileExists(targetFolder)) {
        fail("The folder " + targetFolder + " cannot be created: a file of that name is in the way.", ICON_STOP);
    }

    var parent = fso.GetParentFolderName(targetFolder);
    try {
        makeFolders(parent);
    } catch (e) {
        fail("The folder " + parent + " cannot be created (" + errorText(e) + ").", ICON_STOP);
    }
    // Two runs from different working folders never write one install folder at once.
    if (lockFolder(targetFolder) == null) {
        fail("Another Quillfeather installation is writing into " + targetFolder +
             ". Wait until it has ended, then start the installation again.", ICON_EXCLAMATION, EXIT_BUSY);
    }
    // Only now are these folders this run's to clean up.
    tx.staging = besideTarget(".VellumStaging");
    tx.previous = besideTarget(".VellumPrevious");
    recoverLeftovers();
    // Its manifest, once trusted; until then (see earlierChecked) none.
    var earlier = earlierInstallation();
    tx.earlier = earlier != null ? earlier.m : null;
    journalOpen(targetFolder);
    // The earlier folder steps aside before the extraction, so that the run
    // that extracts can list it once it is done: under that name no program
    // adds a file to it unseen, and what the listing shows as the
    // installation's own can go at the end in one deletion. A failure or a
    // kill from here on puts it back.
    var earlierTree = "";
    if (fso.FolderExists(targetFolder)) {
        try {
            moveFolder(targetFolder, tx.previous);
        } catch (e3) {
            fail("The earlier installation in " + targetFolder + " cannot be replaced; is a file in it open? (" +
                 (e3.vellumMessage || errorText(e3)) + "). It was left as it was.");
        }
        earlierTree = scratchFile(".tree");
        deleteScratch(earlierTree);
    }
    var earlierCopy = earlier != null && earlier.m == null ? scratchFile(".manifest") : "";
    if (earlierCopy != "") {
        deleteScratch(earlierCopy);
    }
    stepReached("staging");
    try {
        fso.CreateFolder(tx.staging);
    } catch (e2) {
        fail("The folder " + tx.staging + " cannot be created (" + errorText(e2) + ").", ICON_STOP);
    }

    if (controller != null) {
        controller.setMaxValue(PROGRESS_MAX);
        controller.showProgress(1);
    }

    // One EXTRACT run for the whole plan: every cabinet is checked before
    // the first file is written, and its listing is what it wrote.
    var plan = scratchFile(".plan"), paths = [];
    for (var p = 0; p < cabinets.length; p++) {
        paths.push(joinPath(here, cabinets[p]));
    }
    writePlan(plan, paths);
    // The maintenance folder's copies are made while EXTRACT works.
    var kept = keptFiles(cabinets, extractExe);
    var r = runExtract("/Y /E /L " + quote(tx.staging) + " /A " + quote(KEPT_CABINETS) +
                       (earlierTree != "" ? " /W " + quote(tx.previous) + " " + quote(earlierTree) : "") +
                       (earlierCopy != "" ? " /M " + quote(joinPath(tx.previous, MANIFEST)) + " " +
                        quote(earlierCopy) : "") +
                       " " + quote("@" + plan),
                       followExtraction(locale, Math.round(PROGRESS_MAX * 0.9)), kept.next);
    if (r.code != 0) {
        var why = planFailure(r.code);
        log("extract", "exit code " + r.code + ": " + r.failure);
        if (why.reason == 3) {
            // A name too long for the folder fails as a file that cannot be
            // written: that is what the user can do something about.
            var named = runExtract("/D " + quote("@" + plan));
            if (named.code == 0) {
                checkLengths(listedFiles(named.entries, {}, "the cabinets"));
            }
        }
        var cabinet = why.cabinet < cabinets.length ? cabinets[why.cabinet] : cabinets[0];
        fail("The help content could not be installed: " + cabinet + " could not be extracted into " +
             tx.staging + ": " + extractReason(why.reason) + " (EXTRACT.EXE exit code " + r.code + ").",
             why.reason == 3 ? ICON_STOP : ICON_EXCLAMATION);
    }
    if (earlierCopy != "") {
        tx.earlier = earlierChecked(earlier, r.entries, earlierCopy);
    }
    var earlierEntries = earlierTree != "" ? listingOf(earlierTree, tx.previous) : null;
    var files = listedFiles(r.entries, {}, "the cabinets");
    checkLengths(files);
    var extracted = [];
    for (var c = 0; c < r.entries.length; c++) {
        if (r.entries[c].status == "cabinet" && r.entries[c].size < cabinets.length) {
            extracted.push(cabinets[r.entries[c].size] + ": extracted");
        }
    }
    logEach("cabinet", extracted);
    // EXTRACT lists a file only once it is whole and in place (every byte
    // written and counted against the cabinet, closed without error, then
    // renamed), and a listing that lacks its end line fails above: the
    // listing is the check, and no file is looked at again.
    log("verification", "every listed file was written whole and put in place by EXTRACT.EXE");
    var startPage = "\\locales\\" + content.locale + "\\index.htm";
    if (!fso.FileExists(tx.staging + startPage)) {
        fail("The help content is incomplete: " + targetFolder + startPage + " is not in the cabinets.");
    }

    var manifest = addMaintenance(files, kept, cabinets, version, r.entries);
    // The digests first: a run killed from here on is put right from them.
    tx.oldDigest = keptDigest(targetFolder);
    if (tx.earlier != null) {
        keepDigest(targetFolder, tx.oldDigest, PREVIOUS_DIGEST);
    }
    keepDigest(targetFolder, manifest.digest);
    tx.digestWritten = manifest.digest;
    tx.oldEntry = saveEntry();
    writeEntry(targetFolder, version, totalKB(manifest));
    stepReached("entry");

    // The swap: until the rename the earlier installation is whole beside
    // the install folder.
    stepReached("swap");
    if (!placeIsFree()) {
        // Another program made it anew, and put something in it: set aside and reported.
        setAside(targetFolder, "made anew while the installation was being replaced");
    }
    try {
        moveFolder(tx.staging, targetFolder);
    } catch (e4) {
        fail("The folder " + targetFolder + " cannot be created (" + (e4.vellumMessage || errorText(e4)) + ").",
             ICON_STOP);
    }
    // The new installation stands: its entry and digest stay.
    tx.staging = "";
    tx.entryWritten = false;
    tx.digestWritten = "";
    stepReached("swapped");
    if (fso.FolderExists(tx.previous)) {
        var problem = finishSwap(earlierEntries, tx.earlier);
        if (problem != "") {
            var to = setAside(tx.previous, problem);
            forgetDigest(targetFolder, PREVIOUS_DIGEST);
            tx.previous = "";
            log("install", targetFolder + ": in place; files of the earlier installation remain in " + to);
        }
    }
    tx.previous = "";
    journalClose(targetFolder);
    log("install", targetFolder + ": in place");
    releaseTargetLock();
    if (controller != null) {
        controller.setProgress(PROGRESS_MAX, false);
        controller.setTimerString("");
    }
    return targetFolder + startPage;
}

// The message and exit code when earlier files had to be set aside.
function leftBehindFailure() {
    if (tx.leftBehind.length == 0) {
        return;
    }
    fail(PRODUCT + " is installed in " + targetFolder + ", but files of an earlier installation, among them " +
         "any you had added to it, could not be moved into it and are now in " + tx.leftBehind.join("; ") +
         ". Move what you need from there.", ICON_EXCLAMATION, EXIT_LEFT_BEHIND);
}

// After a failure: nothing of this run stays, the earlier installation is
// where it was, with its digest and entry. What cannot be undone is logged
// and reported, and the journal keeps the folder for the next run.
function rollBack() {
    var problems = [];
    var entryProblem = restoreEntry(tx.oldEntry);
    if (entryProblem != "") {
        problems.push(entryProblem);
    }
    tx.oldEntry = null;
    try {
        if (tx.previous != "" && fso.FolderExists(tx.previous) && placeIsFree()) {
            moveFolder(tx.previous, targetFolder);
        }
    } catch (e) {
        problems.push("the earlier installation is still in " + tx.previous + " (" +
                      (e.vellumMessage || errorText(e)) + ")");
    }
    try {
        if (tx.digestWritten != "") {
            if (tx.earlier != null) {
                keepDigest(targetFolder, tx.oldDigest);
                forgetDigest(targetFolder, PREVIOUS_DIGEST);
            } else {
                forgetDigest(targetFolder);
            }
            tx.digestWritten = "";
        }
    } catch (e1) {
        problems.push(e1.vellumMessage || errorText(e1));
    }
    try {
        if (tx.staging != "") {
            deleteFolder(tx.staging);
        }
    } catch (e2) {
        problems.push(tx.staging + " could not be removed (" + (e2.vellumMessage || errorText(e2)) + ")");
    }
    if (problems.length == 0 && tx.targetLock != null) {
        journalClose(targetFolder);
    }
    for (var i = 0; i < problems.length; i++) {
        log("roll back", problems[i]);
    }
    tx.staging = "";
    tx.previous = "";
    releaseTargetLock();
    removeCreated();
    return problems;
}
