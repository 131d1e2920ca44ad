function showBox(message, icon) {
    if (quiet) {
        return; // unattended: the log and the exit code tell it
    }
    try {
        shell.Popup(message, 0, title, icon | BOX_IN_FRONT);
    } catch (e) {
        log("message box", "could not be shown (" + errorText(e) + ")");
    }
}

// Tells the user about a failure in front of the wizard, which closes after.
function tellFailure(message, icon) {
    showBox(message, icon || ICON_EXCLAMATION);
}

// What EXTRACT.EXE's exit code says.

// ---- registration --------------------------------------------------------

function makeToken() {
    return new Date().getTime().toString(36) + "-" + Math.floor(Math.random() * 2147483647).toString(36);
}

function register(setupExe) {
    runToken = makeToken();
    var rc = shell.Run(quote(setupExe) + " /RegServer /Run:" + runToken, 0, true);
    // 0: registered for the machine, 1: for this user only.
    if (rc != 0 && rc != 1) {
        fail(maintenanceText("loc_UI_Error_Register", "The setup program could not be registered: the " +
                             "registry refused it, or another copy of it is registered for this user " +
                             "(VellumSetup.exe exit code %1).", rc));
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
        // The server removes this run's registration itself when it ends.
        log("registration", "could not be removed (" + errorText(e) + ")");
    }
    registered = false;
}

// The controller of a new server. A VellumSetup killed after it offered its
// class and before a client took it leaves that offer with the system's COM
// service, which hands it to the next activation: that one fails, since its
// server is gone, and takes the stale offer with it. A second activation
// then starts a server of its own.
function newController() {
    try {
        return new ActiveXObject("VellumSetup.controller");
    } catch (e) {
        log("controller", "not created (" + errorText(e) + "); trying again");
    }
    return new ActiveXObject("VellumSetup.controller");
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
            log("progress window", "no end message (" + errorText(e) + "); a box tells it");
        }
    }
    showBox(message, 64);
}
