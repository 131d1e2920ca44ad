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
    // The host's folder objects cannot be enumerated everywhere: the
    // interpreter lists them, in Unicode, read whole.
    var listing = joinPath(temp, "VellumSetup." + makeToken() + ".copies"), names = [];
    try {
        runOnPath(temp, function (p) {
            return "/u /c \"dir /b /ad " + quote(p + "\\VellumMaintenance.*") + " > " + quote(listing) + "\"";
        });
        if (fso.FileExists(listing)) {
            names = splitLines(readText(listing, -1));
            fso.DeleteFile(listing, true);
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
        var dir = m.parents[p];
        try {
            if (fso.FolderExists(dir) && !isReparsePoint(dir) && isEmptyFolder(dir)) {
                fso.DeleteFolder(dir, true);
            }
        } catch (e) {
            log("cleanup", dir + " could not be removed (" + errorText(e) + ")");
        }
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
    var work = besideTarget(".VellumRepair");
    tx.staging = work; // removed again on a failure
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
        var installed = inside(targetFolder, f.name);
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
            var dst = inside(targetFolder, bad[b][1]);
            var link = reparseOnTheWay(targetFolder, dst);
            if (link != "") {
                untrustedLink(link);
            }
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
            if (b == 0) {
                stepReached("fixing");
            }
        }
        tx.createdFolders = []; // restored folders belong to the installation
    }
    deleteFolder(work);
    tx.staging = "";
    // The entry is written again: a repair restores it when it was lost.
    if (entryIsOurs()) {
        writeEntry(targetFolder, m.version, totalKB(m));
        tx.entryWritten = false;
    }
    journalClose(targetFolder);
    var outcome = bad.length == 0 ? "nothing needed fixing" : bad.length + " files restored";
    log("repair", outcome);
    tellDone(bad.length == 0 ?
             maintenanceText("loc_UI_Repair_Done_Nothing", "Quillfeather was repaired: nothing needed fixing.") :
             maintenanceText("loc_UI_Repair_Done_Fixed", "Quillfeather was repaired: %1 files restored.", bad.length));
    return EXIT_OK;
}

// The working folder's lock: one installation at a time from one folder.
// Returns an exit code when this run must end, else -1.
