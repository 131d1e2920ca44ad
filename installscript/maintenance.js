// ---- uninstall and repair ------------------------------------------------------

// Run from the install folder, an uninstall or repair works from a copy
// outside it, so that it can remove or replace every file in it. A run with
// a person at the screen copies the script and the VellumSetup it shows its
// windows with, and runs that copy. An unattended run shows nothing: nothing
// of the install folder runs but this script, which the host has read whole
// and does not hold, so it goes on itself; only EXTRACT.EXE, which cannot
// delete or replace its own running file, runs from the copy.
var ownCopy = null; // this run's own copy {temp, token, path} while it stands

// Records and makes a copy folder in %TEMP% holding sources (pairs of
// [from, name]); returns {temp, token, path}. A failure fails the run and
// leaves nothing.
function makeCopy(sources) {
    var temp = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "");
    var token = makeToken();
    var copy = temp + "\\VellumMaintenance." + token;
    // Recorded before it exists: a run killed from here on leaves its token.
    writeCopies(temp, removeStaleCopies(temp).concat([token]));
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
        if (!quiet) {
            copyMaintenanceTexts(copy);
        }
    } catch (e) {
        try {
            deleteFolder(copy);
            forgetCopy(temp, token);
        } catch (e2) {
            log("cleanup", copy + " could not be removed (" + (e2.vellumMessage || errorText(e2)) + ")");
        }
        if (e.vellumMessage) {
            throw e;
        }
        fail(mode == "uninstall" ?
             maintenanceText("loc_UI_Uninstall_Error_Copy", "The uninstall cannot start: %1 could not be " +
                             "written (%2).", copy, errorText(e)) :
             maintenanceText("loc_UI_Repair_Error_Copy", "The repair cannot start: %1 could not be " +
                             "written (%2).", copy, errorText(e)));
    }
    return { temp: temp, token: token, path: copy };
}

// Removes a copy folder in short steps (up to attempts times 50 ms) and
// forgets its token; one that stays is logged and stays recorded for the
// next run. Where this host's Sleep does nothing, each pause keeps a
// processor busy, so the steps are few.
function removeCopy(copy, attempts) {
    for (var attempt = 0; attempt < attempts && fso.FolderExists(copy.path); attempt++) {
        try {
            fso.DeleteFolder(copy.path, true);
        } catch (e) {
            pause(50);
        }
    }
    if (fso.FolderExists(copy.path)) {
        log("cleanup", copy.path + " could not be removed");
    } else {
        forgetCopy(copy.temp, copy.token);
    }
}

// With a person at the screen: runs the copy of the script and returns its
// exit code.
function runFromCopy() {
    var copy = makeCopy([[WScript.ScriptFullName, "VellumSetup.jse"],
                         [here + "\\" + MAINTENANCE + "\\EXTRACT.EXE", "EXTRACT.EXE"],
                         [here + "\\uninstallUI\\VellumSetup.exe", "VellumSetup.exe"]]);
    var command = quote(WScript.FullName) + " //nologo " + quote(copy.path + "\\VellumSetup.jse") + " /" + mode +
        " /maintenancecopy " + quote("/target:" + here) +
        (logPath != "" ? " " + quote("/log:" + logPath) : "");
    log(mode, "continues from " + copy.path);
    var rc = shell.Run(command, 1, true);
    // The copy's VellumSetup ends a moment after its script (up to 10 s).
    removeCopy(copy, 200);
    return rc;
}

// Unattended: this run goes on with EXTRACT.EXE from its copy, which holds
// the copy's lock as a copy of the script would (the next run removes it
// once it is no longer held), and with its current folder out of the
// install folder (a process's current folder cannot be removed). The copy
// goes when the run ends (removeOwnCopy).
function maintainFromHere(setupExe) {
    if (logPath != "" && logPath != "?") {
        logPath = fso.GetAbsolutePathName(logPath); // before the current folder moves
    }
    ownCopy = makeCopy([[here + "\\" + MAINTENANCE + "\\EXTRACT.EXE", "EXTRACT.EXE"]]);
    lockStream = takeLock(ownCopy.path + "\\VellumSetup.lock");
    if (lockStream == null) {
        fail(maintenanceText("loc_UI_Error_Lock", "The lock file %1 cannot be created (%2).",
                             ownCopy.path + "\\VellumSetup.lock", "another program holds it"), ICON_STOP);
    }
    try {
        shell.CurrentDirectory = ownCopy.temp;
    } catch (e) {
        log("cleanup", "the current folder could not be moved to " + ownCopy.temp + " (" + errorText(e) +
            "); the install folder may stay");
    }
    extractTool = ownCopy.path + "\\EXTRACT.EXE";
    log(mode, "EXTRACT.EXE runs from " + ownCopy.path);
    recoverJournal();
    return mode == "uninstall" ? uninstall(setupExe) : repair(setupExe, extractTool);
}

// At the end of a run that made its own copy: the copy's lock is let go
// and the copy removed (EXTRACT has ended: each of its runs is waited for).
function removeOwnCopy() {
    if (ownCopy == null) {
        return;
    }
    try {
        lockStream.Close();
    } catch (e) {
        // Closed when this process ends; the next run removes the copy then.
    }
    lockStream = null;
    removeCopy(ownCopy, 20);
    ownCopy = null;
}

// The copies this user's runs made are recorded by their tokens in a small
// file in the temporary folder until they are removed: a run that was killed,
// or whose copy could not be removed, leaves its token there for the next
// run. (Listing the temporary folder instead would cost a process each time.)
function copiesRecord(temp) {
    return temp + "\\VellumMaintenanceCopies.txt";
}

function readCopies(temp) {
    var path = copiesRecord(temp), out = [];
    try {
        if (fso.FileExists(path)) {
            var lines = splitLines(readText(path, 0));
            for (var i = 0; i < lines.length; i++) {
                if (/^[0-9a-z]+(-[0-9a-z]+)?$/.test(lines[i])) {
                    out.push(lines[i]);
                }
            }
        }
    } catch (e) {
        log("cleanup", path + " could not be read (" + errorText(e) + ")");
    }
    return out;
}

function writeCopies(temp, tokens) {
    var path = copiesRecord(temp);
    try {
        if (tokens.length == 0) {
            deleteScratch(path);
            return;
        }
        var f = fso.CreateTextFile(path, true, false);
        try {
            f.Write(tokens.join("\r\n") + "\r\n");
        } finally {
            f.Close();
        }
    } catch (e) {
        log("cleanup", path + " could not be written (" + errorText(e) + ")");
    }
}

function forgetCopy(temp, token) {
    var tokens = readCopies(temp), kept = [];
    for (var i = 0; i < tokens.length; i++) {
        if (tokens[i] != token) {
            kept.push(tokens[i]);
        }
    }
    writeCopies(temp, kept);
}

// Removes the recorded copies whose script has ended, that is whose lock is
// there and no longer held; returns the tokens that stay recorded. A copy
// still being made has no lock yet and one at work holds it; both stay.
function removeStaleCopies(temp) {
    var tokens = readCopies(temp), kept = [];
    for (var i = 0; i < tokens.length; i++) {
        var path = temp + "\\VellumMaintenance." + tokens[i];
        var lock = joinPath(path, "VellumSetup.lock");
        if (!fso.FolderExists(path)) {
            continue;
        }
        if (!fso.FileExists(lock)) {
            kept.push(tokens[i]);
            continue;
        }
        try {
            fso.OpenTextFile(lock, 8, false).Close();
        } catch (e) {
            kept.push(tokens[i]); // held: that run is at work
            continue;
        }
        try {
            deleteFolder(path);
            log("cleanup", "the copy " + path + " that an ended run left was removed");
        } catch (e2) {
            log("cleanup", path + " could not be removed (" + (e2.vellumMessage || errorText(e2)) + ")");
            kept.push(tokens[i]);
        }
    }
    return kept;
}

// What an uninstall needs to run again, deleted last in this order: while
// any of them stays, the entry's commands still work.
var RUN_AGAIN = ["VellumSetup.jse", "uninstallUI\\VellumSetup.exe", MAINTENANCE + "\\EXTRACT.EXE",
                 MAINTENANCE + "\\vellumVersion.txt", MANIFEST];

// The order an uninstall deletes the files of m in: the content, then the
// rest of the maintenance folder, then what it needs to run again.
function removalOrder(m) {
    var content = [], maintenance = [], again = [], ranks = {}, prefix = MAINTENANCE.toLowerCase() + "\\", i, k;
    for (k = 0; k < RUN_AGAIN.length; k++) {
        ranks["|" + RUN_AGAIN[k].toLowerCase()] = k;
    }
    for (i = 0; i < m.files.length; i++) {
        var name = safeRelative(m.files[i].name);
        var lower = name.toLowerCase();
        var rank = ranks["|" + lower];
        if (rank !== undefined) {
            again[rank] = name;
        } else if (lower.indexOf(prefix) == 0) {
            maintenance.push(name);
        } else {
            content.push(name);
        }
    }
    var out = content.concat(maintenance);
    for (k = 0; k < again.length; k++) {
        if (again[k]) {
            out.push(again[k]);
        }
    }
    return out;
}

// The removal list EXTRACT works through: the files in removal order, then
// the folders, innermost first.
function removalList(m) {
    var names = removalOrder(m), lines = [], i;
    for (i = 0; i < names.length; i++) {
        lines.push("file\t" + names[i]);
    }
    for (i = m.folders.length - 1; i >= 0; i--) {
        lines.push("folder\t" + safeRelative(m.folders[i]));
    }
    return lines;
}

// Deletes the files of an installation in removal order, then its folders
// each only when empty, in one EXTRACT run that stops at the first file that
// cannot go: what the entry needs to run again is still there. Nothing goes
// when a link is on the way to any of them (its target is not ours), nor
// through one that appears meanwhile. The registry items named (keys end
// in a backslash) go in the same run once every file has gone. With
// trusted.digest, the run first checks that trusted.text, the manifest m
// was read from, has that digest (nothing goes otherwise). Returns ""
// when every file is gone, else the failure.
function removeInstalled(m, registry, trusted) {
    var list = scratchFile(".plan"), keys = scratchFile(".keys"), text = scratchFile(".text");
    writePlan(list, removalList(m));
    if (registry.length > 0) {
        writePlan(keys, registryList(registry));
    }
    if (trusted.digest != "") {
        try {
            var f = fso.CreateTextFile(text, true, true);
            try {
                f.Write(trusted.text);
            } finally {
                f.Close();
            }
        } catch (e5) {
            fail(maintenanceText("loc_UI_Uninstall_Error_Copy", "The uninstall cannot start: %1 could not be " +
                                 "written (%2).", text, errorText(e5)), ICON_STOP);
        }
    }
    // Its progress record is followed only where a progress window shows it.
    var r = runExtract("/R " + quote(targetFolder) + (registry.length > 0 ? " /K " + quote(keys) : "") +
                       (trusted.digest != "" ? " /V " + quote(text) + " " + trusted.digest : "") + " " +
                       quote("@" + list), controller == null ? null :
        function (rec) {
            if (rec.phase == "remove") {
                setMaintenanceProgress(rec.done, rec.total);
            }
        });
    var scratch = [keys, text];
    for (var s = 0; s < scratch.length; s++) {
        try {
            deleteScratch(scratch[s]);
        } catch (e4) {
            log("cleanup", scratch[s] + " could not be removed (" + errorText(e4) + ")");
        }
    }
    if (r.code == 7) {
        untrustedManifest(targetFolder, "it was changed after the installation wrote it");
    }
    var removed = 0, link = null, failed = null, i;
    for (i = 0; i < r.entries.length; i++) {
        var e = r.entries[i];
        if (e.status == "removed") {
            removed++;
        } else if (e.status == "link" && link == null) {
            link = e;
        } else if (e.status == "failed") {
            failed = e;
        }
    }
    if (r.code == 5 && removed == 0 && link != null) {
        untrustedLink(link.path == "" ? targetFolder : inside(targetFolder, link.path));
    }
    if (r.code == 6) {
        // Every file went; what stayed in the registry is tried again the script's own way.
        log("registry", r.failure);
    } else if (r.code != 0) {
        var what = failed || link;
        var path = what ? inside(targetFolder, what.path) : targetFolder;
        var why = what && r.failure.indexOf(what.path + ": ") == 0 ? r.failure.substring(what.path.length + 2) :
            r.failure + " (EXTRACT.EXE exit code " + r.code + ")";
        log("remove", path + ": " + why);
        return path + " (" + why + ")";
    }
    if (fso.FolderExists(targetFolder) && isEmptyFolder(targetFolder)) {
        fso.DeleteFolder(targetFolder, true);
    }
    return "";
}

function untrustedLink(link) {
    fail(maintenanceText("loc_UI_Maintenance_Link", "%1 is a link to another place: Quillfeather acts on nothing " +
                         "through it. Nothing was changed. Remove the link, then try again.", link),
         ICON_STOP, EXIT_UNTRUSTED);
}

// What of the installation is in the registry: the uninstall entry (when
// it is this installation's) and the kept digests; the earlier
// installation's too, which a reinstall empties where it cannot delete it.
// Keys end in a backslash.
function registryItems(entryToo) {
    var items = entryToo && entryExists() ? [UNINSTALL_KEY] : [];
    var digests = [digestValue(targetFolder), digestValue(targetFolder, PREVIOUS_DIGEST)];
    for (var i = 0; i < digests.length; i++) {
        if (regValue(digests[i]) != null) {
            items.push(digests[i]);
        }
    }
    return items;
}

// Whether this script host deletes registry keys and values itself: a
// value that cannot exist is deleted, and only "not implemented" says no.
function regDeleteWorks() {
    try {
        shell.RegDelete(DIGESTS_KEY + "VellumProbe." + makeToken());
    } catch (e) {
        return e.number != -2147467263; // E_NOTIMPL
    }
    return true;
}

// The lines of EXTRACT's registry list for items: in the view of this
// script host (a 32-bit one on 64-bit Windows writes to the 32-bit view).
function registryList(items) {
    var arch = shell.ExpandEnvironmentStrings("%PROCESSOR_ARCHITECTURE%").replace(/\u0000/g, "").toLowerCase();
    var lines = arch == "x86" ? ["view\t32"] : /^(amd64|ia64|arm64)$/.test(arch) ? ["view\t64"] : [];
    for (var i = 0; i < items.length; i++) {
        var key = items[i].charAt(items[i].length - 1) == "\\";
        lines.push((key ? "key\t" + items[i].substring(0, items[i].length - 1) : "value\t" + items[i]));
    }
    return lines;
}

// The uninstall entry (when it is this installation's) and the kept digest
// go together, after the files. Where the script host cannot delete
// registry values or keys, the removal run deleted them already; what is
// left goes here, and where RegDelete does not work one reg.exe import
// deletes it all. deleteEntry and forgetDigest then check that both are
// gone (and try once more their own way).
function removeEntryAndDigest(entryToo) {
    var left = [], i;
    var items = registryItems(entryToo);
    for (i = 0; i < items.length; i++) {
        try {
            shell.RegDelete(items[i]);
        } catch (e) {
            left.push(items[i]);
        }
    }
    if (left.length > 0) {
        importDeletions(left);
    }
    if (entryToo) {
        deleteEntry();
        log("registry", "uninstall entry removed");
    } else {
        log("registry", "the uninstall entry names another installation; it stays");
    }
    forgetDigest(targetFolder);
}

// A registry file that deletes the keys (ending in a backslash) and values
// named, imported by reg.exe; the caller checks the outcome.
function importDeletions(names) {
    var lines = ["Windows Registry Editor Version 5.00", ""], i;
    var full = function (key) {
        return key.replace(/^HKLM\\/, "HKEY_LOCAL_MACHINE\\").replace(/^HKCU\\/, "HKEY_CURRENT_USER\\");
    };
    for (i = 0; i < names.length; i++) {
        var cut = names[i].lastIndexOf("\\");
        if (cut == names[i].length - 1) {
            lines.push("[-" + full(names[i].substring(0, cut)) + "]", "");
        } else {
            lines.push("[" + full(names[i].substring(0, cut)) + "]",
                       "\"" + names[i].substring(cut + 1).replace(/\\/g, "\\\\").replace(/"/g, "\\\"") + "\"=-", "");
        }
    }
    var file = scratchFile(".reg");
    try {
        var f = fso.CreateTextFile(file, true, true);
        try {
            f.Write(lines.join("\r\n"));
        } finally {
            f.Close();
        }
        shell.Run("reg.exe import " + quote(file), 0, true);
    } catch (e) {
        log("registry", "the registry file " + file + " could not be imported (" + errorText(e) + ")");
    }
    try {
        deleteScratch(file);
    } catch (e2) {
        log("cleanup", file + " could not be removed (" + errorText(e2) + ")");
    }
}

// The folders above the install folder that the installation created, when
// empty; after the install folder's lock beside it has gone.
function removeParents(m) {
    for (var p = m.parents.length - 1; p >= 0; p--) {
        removeIfEmpty(m.parents[p]);
    }
}

// Every maintenance run holds the install folder's lock before it reads
// anything it acts on, and first puts right what a killed run left.
function lockTargetForMaintenance() {
    var parent = fso.GetParentFolderName(targetFolder);
    if (!fso.FolderExists(parent)) {
        return; // nothing of an installation can be there
    }
    if (lockFolder(targetFolder) == null) {
        fail(maintenanceText("loc_UI_Maintenance_Busy", "Another Quillfeather installation, uninstall or repair " +
                             "is working in %1. Wait until it has ended, then try again.", targetFolder),
             ICON_EXCLAMATION, EXIT_BUSY);
    }
    tx.staging = besideTarget(".VellumStaging");
    tx.previous = besideTarget(".VellumPrevious");
    recoverLeftovers();
    tx.staging = "";
    tx.previous = "";
}

function startMaintenanceUI(setupExe) {
    if (quiet) {
        return;
    }
    register(setupExe);
    try {
        controller = newController();
    } catch (e) {
        fail(maintenanceText("loc_UI_Error_SetupStart", "The setup program could not be started (%1).", errorText(e)));
    }
    controller.Caption = title;
}

// The manifest of the installation an unattended uninstall removes:
// {m, text, digest}. It asks nothing before it removes, so the kept digest
// is checked by the removal run itself, on the very text read here (the
// script host takes longer over it than the whole removal). digest is ""
// where readManifest checked it, or where there is none to check.
function manifestForRemoval(folder) {
    var digest = quiet ? keptDigest(folder) : "";
    var path = folder + "\\" + MANIFEST;
    if (digest == "" || !fso.FileExists(path)) {
        return { m: readManifest(folder), text: "", digest: "" };
    }
    var read = readManifestText(path);
    if (read.problem) {
        untrustedManifest(folder, read.problem);
    }
    var text = read.text;
    var m = parseManifest(text);
    var problem = checkManifest(m, folder);
    if (problem != "") {
        untrustedManifest(folder, problem);
    }
    return { m: m, text: text, digest: /^[0-9a-f]{64}$/.test(digest) ? digest : "0" };
}

function uninstall(setupExe) {
    lockTargetForMaintenance();
    var trusted = manifestForRemoval(targetFolder);
    var m = trusted.m;
    if (m == null) {
        var loc = regString(UNINSTALL_KEY + "InstallLocation");
        if (loc != "" && samePath(loc, targetFolder) && !fso.FolderExists(targetFolder)) {
            // The folder is gone already: only its entry is left to remove.
            deleteEntry();
            forgetDigest(targetFolder);
            log("registry", "entry of the removed installation in " + targetFolder + " deleted");
            return EXIT_OK;
        }
        fail(maintenanceText("loc_UI_Uninstall_Nothing",
                             "Quillfeather is not installed in %1: there is nothing to remove.", targetFolder),
             ICON_EXCLAMATION, EXIT_NOTHING);
    }
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
    journalOpen(targetFolder);
    stepReached("uninstall");
    // Where this host cannot delete them, the removal run deletes the
    // entry and the digests once every file has gone (reg.exe would be a
    // process of its own).
    var entryToo = entryIsOurs();
    var failed = removeInstalled(m, regDeleteWorks() ? [] : registryItems(entryToo), trusted);
    if (failed != "") {
        fail(maintenanceText("loc_UI_Uninstall_Error_Files", "Quillfeather could not be removed completely: %1 " +
                             "could not be deleted. Close the programs that use it and uninstall again; the entry " +
                             "in Add or Remove Programs still works.", failed));
    }
    setMaintenanceProgress(1, 1);
    removeEntryAndDigest(entryToo);
    journalClose(targetFolder);
    releaseTargetLock();
    removeParents(m);
    var kept = fso.FolderExists(targetFolder) ? " (" + targetFolder + " kept: it holds files added to it)" : "";
    log("uninstall", "removed" + kept);
    tellDone(kept == "" ? maintenanceText("loc_UI_Uninstall_Done", "Quillfeather was removed from your computer.") :
             maintenanceText("loc_UI_Uninstall_Done_Kept", "Quillfeather was removed from your computer. " +
                             "(%1 kept: it holds files added to it)", targetFolder));
    return EXIT_OK;
}

// Where a cabinet for the repair comes from: the maintenance folder, else
// the installer's working folder when it is still there.
function repairSources(name) {
    var temp = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "");
    var list = [inside(targetFolder, KEPT_CABINETS + "\\" + name), temp + "\\_hsc_Vellum\\" + name];
    if (!maintenanceCopy && ownCopy == null) {
        list.push(here + "\\" + name); // the installer's working folder
    }
    return list;
}

function repair(setupExe, extractExe) {
    lockTargetForMaintenance();
    var m = readManifest(targetFolder);
    if (m == null) {
        fail(maintenanceText("loc_UI_Repair_Nothing",
                             "Quillfeather is not installed in %1: there is nothing to repair.", targetFolder),
             ICON_EXCLAMATION, EXIT_NOTHING);
    }
    startMaintenanceUI(setupExe);
    showMaintenanceProgress(0);
    journalOpen(targetFolder);
    // EXTRACT writes into the installation: no path of it may pass through a link.
    var seen = {};
    for (var f = 0; f < m.files.length; f++) {
        var dir = fso.GetParentFolderName(inside(targetFolder, m.files[f].name)).toLowerCase();
        if (!seen[dir]) {
            seen[dir] = true;
            var link = reparseOnTheWay(targetFolder, inside(targetFolder, m.files[f].name));
            if (link != "") {
                untrustedLink(link);
            }
        }
    }

    // One EXTRACT run compares every file the cabinets hold with the
    // installed one (size, then every byte) and writes only those missing
    // or changed. A kept cabinet that is missing, or damaged (it fails
    // before anything is written), is taken from the next source.
    var sources = [], from = [], cabinetFixes = [], i;
    for (i = 0; i < m.cabinets.length; i++) {
        sources.push(repairSources(m.cabinets[i]));
        from.push(0);
        while (from[i] < sources[i].length && !fso.FileExists(sources[i][from[i]])) {
            from[i]++;
        }
    }
    var plan = scratchFile(".plan"), r = null, why = "it is missing";
    var fixing = false;
    var follow = function (rec) {
        if (rec.phase == "extract" && rec.total > 0 && !fixing) {
            fixing = true;
            showMaintenanceProgress(2);
        }
        if (rec.phase == "extract" && fixing) {
            setMaintenanceProgress(rec.done, rec.total);
        } else if (rec.phase == "check" || rec.phase == "compare") {
            setMaintenanceProgress((rec.phase == "compare" ? 0.2 : 0) + (rec.phase == "compare" ? 0.8 : 0.2) *
                                   (rec.total > 0 ? rec.done / rec.total : 1), 1);
        }
    };
    for (;;) {
        var paths = [];
        for (i = 0; i < m.cabinets.length; i++) {
            if (from[i] >= sources[i].length) {
                fail(maintenanceText("loc_UI_Repair_Error_Cabinet", "Quillfeather cannot be repaired: the cabinet " +
                                     "%1 kept for repairs cannot be used (%2). Run the Quillfeather installer again.",
                                     m.cabinets[i], why));
            }
            paths.push(sources[i][from[i]]);
        }
        writePlan(plan, paths);
        r = runExtract("/U /L " + quote(targetFolder) + " " + quote("@" + plan), follow);
        if (r.code == 0) {
            break;
        }
        var failed = planFailure(r.code);
        log("verify", "EXTRACT.EXE exit code " + r.code + ": " + r.failure);
        if (failed.reason != 2 || failed.cabinet >= m.cabinets.length) {
            fail(maintenanceText("loc_UI_Repair_Error_Restore", "Quillfeather could not be repaired: %1 " +
                                 "could not be restored (%2).", targetFolder,
                                 extractReason(failed.reason) + " (EXTRACT.EXE exit code " + r.code + ")"),
                 ICON_STOP);
        }
        // That cabinet is damaged: the next source of it, if any.
        var k = failed.cabinet;
        why = extractReason(failed.reason) + " (EXTRACT.EXE exit code " + r.code + ")";
        do {
            from[k]++;
        } while (from[k] < sources[k].length && !fso.FileExists(sources[k][from[k]]));
    }
    // The files are written; the kept cabinets, the entry and the run's end are still to come.
    stepReached("fixing");
    for (i = 0; i < m.cabinets.length; i++) {
        if (from[i] > 0) {
            cabinetFixes.push([sources[i][from[i]], KEPT_CABINETS + "\\" + m.cabinets[i]]);
        }
    }
    var restored = 0, total = 0;
    for (i = 0; i < r.entries.length; i++) {
        var e = r.entries[i];
        if (e.status == "cabinet") {
            continue;
        }
        total++;
        if (e.status != "same") {
            restored++;
            log("fixed", e.path + " (" + (e.status == "size" ? "size differed" : e.status == "changed" ?
                                          "content changed" : "missing") + ")");
        }
    }
    // A run too quick for its writing to be seen still ends in the fixing mode.
    if ((restored > 0 || cabinetFixes.length > 0) && !fixing) {
        fixing = true;
        showMaintenanceProgress(2);
    }
    // The kept cabinets taken from elsewhere are put back too.
    for (var c = 0; c < cabinetFixes.length; c++) {
        var dst = inside(targetFolder, cabinetFixes[c][1]);
        try {
            makeFolders(fso.GetParentFolderName(dst));
            if (fso.FileExists(dst)) {
                fso.GetFile(dst).Attributes = 0;
                fso.DeleteFile(dst, true);
            }
            copyChecked(cabinetFixes[c][0], dst);
        } catch (e2) {
            fail(maintenanceText("loc_UI_Repair_Error_Restore", "Quillfeather could not be repaired: %1 " +
                                 "could not be restored (%2).", dst, e2.vellumMessage || errorText(e2)),
                 ICON_STOP);
        }
        log("fixed", cabinetFixes[c][1] + " (kept cabinet missing or damaged)");
        restored++;
    }
    tx.createdFolders = []; // restored folders belong to the installation
    log("verify", total + " files checked, " + restored + " fixed");
    setMaintenanceProgress(1, 1);
    // The entry is written again: a repair restores it when it was lost.
    if (entryIsOurs()) {
        writeEntry(targetFolder, m.version, totalKB(m));
        tx.entryWritten = false;
    }
    journalClose(targetFolder);
    var outcome = restored == 0 ? "nothing needed fixing" : restored + " files restored";
    log("repair", outcome);
    tellDone(restored == 0 ?
             maintenanceText("loc_UI_Repair_Done_Nothing", "Quillfeather was repaired: nothing needed fixing.") :
             maintenanceText("loc_UI_Repair_Done_Fixed", "Quillfeather was repaired: %1 files restored.", restored));
    return EXIT_OK;
}

// The working folder's lock: one installation at a time from one folder.
// Returns an exit code when this run must end, else -1.
