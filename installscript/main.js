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
        showBox(mode == "install" ? "Another Quillfeather installation is running. Wait until it has ended, " +
                "then start the installation again if it is still needed." :
                maintenanceText("loc_UI_Maintenance_Running", "Another Quillfeather installation, uninstall or " +
                                "repair is running. Wait until it has ended, then try again."), ICON_EXCLAMATION);
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
    // What a killed run left is put right before anything is decided.
    recoverAtStart();
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
    // What the installation keeps must fit below the folder now: the
    // content's own names are checked as the cabinets are listed.
    var kept = { a: { name: "uninstallUI\\VellumSetup.exe" } };
    for (var c = 0; c < content.cabinets.length; c++) {
        kept[c] = { name: KEPT_CABINETS + "\\" + content.cabinets[c] };
    }
    checkLengths(kept);

    if (!quiet) {
        register(setupExe);
        try {
            controller = newController();
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
    leftBehindFailure();
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
            log("start page", "could not be opened (" + errorText(e2) + ")");
        }
    }
    return EXIT_OK;
}

// Uninstall and repair work on the installation the entry names (or the
// /target: folder). Run from inside the install folder, they go on from a
// copy elsewhere (unattended: only EXTRACT.EXE runs from it).
function maintenanceMain(setupExe, extractExe) {
    if (!targetGiven && fso.FileExists(here + "\\" + MANIFEST)) {
        targetFolder = here; // the copy kept in the installation
    } else if (!targetGiven) {
        var loc = regString(UNINSTALL_KEY + "InstallLocation");
        if (loc != "" && !isAbsoluteFolder(noTrailingSlash(loc))) {
            fail(maintenanceText("loc_UI_Maintenance_EntryFolder", "The uninstall entry names \"%1\", which is " +
                                 "not a folder Quillfeather can be installed in. Nothing was changed.", loc),
                 ICON_STOP, EXIT_UNTRUSTED);
        }
        if (loc == "") {
            fail(mode == "uninstall" ?
                 maintenanceText("loc_UI_Uninstall_NotInstalled",
                                 "Quillfeather is not installed: there is nothing to remove.") :
                 maintenanceText("loc_UI_Repair_NotInstalled",
                                 "Quillfeather is not installed: there is nothing to repair."),
                 ICON_EXCLAMATION, EXIT_NOTHING);
        }
        targetFolder = noTrailingSlash(loc);
    }
    log("target", targetFolder);
    var inFolder = (here + "\\").toLowerCase().indexOf(targetFolder.toLowerCase() + "\\") == 0;
    if (inFolder && !maintenanceCopy) {
        return quiet ? maintainFromHere(setupExe) : runFromCopy();
    }
    recoverJournal();
    // EXTRACT does the removal and the repair.
    if (!fso.FileExists(extractExe)) {
        fail(mode == "uninstall" ?
             maintenanceText("loc_UI_Uninstall_Error_Missing", "The uninstall cannot start: %1 is missing. Run " +
                             "the Quillfeather installer again to repair the installation.", extractExe) :
             maintenanceText("loc_UI_Repair_Error_Missing", "The repair cannot start: %1 is missing. Run the " +
                             "Quillfeather installer again to repair the installation.", extractExe));
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
        showBox(maintenanceText("loc_UI_Error_Log", "The log file %1 cannot be written. Nothing was done.", logPath),
                ICON_STOP);
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
    // Scratch files of EXTRACT runs: in the locked working folder, or, for
    // the kept script, under a name of this run's own in the temporary folder.
    scratchBase = inInstallation ? shell.ExpandEnvironmentStrings("%TEMP%").replace(/\u0000/g, "") +
        "\\VellumSetup." + makeToken() : here + "\\VellumSetup";
    extractTool = extractExe;
    var locale = chooseLocale();
    title = localized(locale, "loc_UI_Title", title);
    if (mode != "install") {
        title = maintenanceText("loc_UI_Title", title);
    }
    log("locale", locale);

    try {
        if (mode == "install" && inInstallation) {
            fail(maintenanceText("loc_UI_Error_KeptCopy", "This is the copy of the installation script that " +
                                 "Quillfeather keeps for uninstall and repair; start the Quillfeather installer " +
                                 "to install."));
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
        var problems = rollBack();
        if (problems.length > 0) {
            message += " Undoing it failed as well: " + problems.join("; ") + ".";
        }
        log("failed", message);
        tellFailure(message, e.vellumIcon);
        return e.vellumExit ? e.vellumExit : EXIT_FAILED;
    } finally {
        closeController();
        unregister(setupExe);
        rollBack();
        var scratch = [".list", ".progress", ".plan", ".tree", ".manifest"];
        for (var i = 0; i < scratch.length; i++) {
            try {
                deleteScratch(scratchFile(scratch[i]));
            } catch (e2) {
                log("cleanup", scratchFile(scratch[i]) + " could not be removed (" + errorText(e2) + ")");
            }
        }
        removeOwnCopy();
    }
}

WScript.Quit(main());
