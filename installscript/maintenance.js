// ---- uninstall and repair ------------------------------------------------------

// Both run from a copy outside the install folder, so that they can remove
// or replace every file in it (the script and the VellumSetup they run
// included). Returns the copy's exit code.
function runFromCopy() {
    var temp = shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "");
    removeStaleCopies(temp);
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

// The copies that killed runs left in temp: a copy whose script took its
// lock and no longer holds it has ended. One still being made has no lock
// yet and one at work holds it; both stay.
function removeStaleCopies(temp) {
    // The host's folder objects cannot be enumerated everywhere: EXTRACT
    // lists the folder's own entries.
    var names = [];
    try {
        var r = runExtract("/T " + quote(noTrailingSlash(temp)) + " /S");
        if (r.code != 0) {
            throw new Error(r.failure);
        }
        for (var n = 0; n < r.entries.length; n++) {
            if (r.entries[n].status == "folder") {
                names.push(r.entries[n].path);
            }
        }
    } catch (e) {
        log("cleanup", "the copies in " + temp + " could not be listed (" + (e.vellumMessage || errorText(e)) + ")");
    }
    for (var i = 0; i < names.length; i++) {
        var path = joinPath(temp, names[i]);
        var lock = joinPath(path, "VellumSetup.lock");
        if (names[i].indexOf("VellumMaintenance.") != 0 || !fso.FileExists(lock)) {
            continue;
        }
        try {
            fso.OpenTextFile(lock, 8, false).Close();
        } catch (e2) {
            continue; // held: that run is at work
        }
        try {
            deleteFolder(path);
            log("cleanup", "the copy " + path + " that an ended run left was removed");
        } catch (e3) {
            log("cleanup", path + " could not be removed (" + (e3.vellumMessage || errorText(e3)) + ")");
        }
    }
}

// What an uninstall needs to run again, deleted last in this order: while
// any of them stays, the entry's commands still work.
var RUN_AGAIN = ["VellumSetup.jse", "uninstallUI\\VellumSetup.exe", MAINTENANCE + "\\EXTRACT.EXE",
                 MAINTENANCE + "\\vellumVersion.txt", MANIFEST];

// The order an uninstall deletes the files of m in: the content, then the
// rest of the maintenance folder, then what it needs to run again.
function removalOrder(m) {
    var content = [], maintenance = [], again = [], i, k;
    for (i = 0; i < m.files.length; i++) {
        var name = safeRelative(m.files[i].name);
        var lower = name.toLowerCase();
        var rank = -1;
        for (k = 0; k < RUN_AGAIN.length; k++) {
            if (lower == RUN_AGAIN[k].toLowerCase()) {
                rank = k;
            }
        }
        if (rank >= 0) {
            again[rank] = name;
        } else if (lower.indexOf(MAINTENANCE.toLowerCase() + "\\") == 0) {
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

// Deletes the files of an installation in removal order and stops at the
// first that cannot go: what it needs to run again is still there. Before
// deleting anything, no path may pass through a link (its target is not
// ours). Returns "" when every file is gone, else the failure.
function removeInstalled(m) {
    var names = removalOrder(m), i;
    for (i = 0; i < names.length; i++) {
        var link = reparseOnTheWay(targetFolder, inside(targetFolder, names[i]));
        if (link != "") {
            untrustedLink(link);
        }
    }
    for (i = 0; i < names.length; i++) {
        var path = inside(targetFolder, names[i]);
        try {
            if (fso.FileExists(path)) {
                fso.DeleteFile(path, true);
            }
        } catch (e) {
            log("remove", path + ": " + errorText(e));
            return path + " (" + errorText(e) + ")";
        }
        if (i % 20 == 19) {
            setMaintenanceProgress(i + 1, names.length);
        }
        if (i == Math.floor(names.length / 2)) {
            stepReached("deleting");
        }
    }
    for (i = m.folders.length - 1; i >= 0; i--) {
        var dir = inside(targetFolder, m.folders[i]);
        if (fso.FolderExists(dir) && !isReparsePoint(dir) && isEmptyFolder(dir)) {
            fso.DeleteFolder(dir, true);
        }
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
        controller = new ActiveXObject("VellumSetup.controller");
    } catch (e) {
        fail(maintenanceText("loc_UI_Error_SetupStart", "The setup program could not be started (%1).", errorText(e)));
    }
    controller.Caption = title;
}

function uninstall(setupExe) {
    lockTargetForMaintenance();
    var m = readManifest(targetFolder);
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
    var failed = removeInstalled(m);
    if (failed != "") {
        fail(maintenanceText("loc_UI_Uninstall_Error_Files", "Quillfeather could not be removed completely: %1 " +
                             "could not be deleted. Close the programs that use it and uninstall again; the entry " +
                             "in Add or Remove Programs still works.", failed));
    }
    setMaintenanceProgress(1, 1);
    if (entryIsOurs()) {
        deleteEntry();
        log("registry", "uninstall entry removed");
    } else {
        log("registry", "the uninstall entry names another installation; it stays");
    }
    forgetDigest(targetFolder);
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
    if (!maintenanceCopy) {
        list.push(here + "\\" + name);
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
