// ---- versions and the uninstall entry ----------------------------------------

// "version=3.0.6" -> "3.0.6"; "" when the text holds no version line first.
function parseVersionText(text) {
    var m = /^version=(\d+(\.\d+)*)[ \t]*$/.exec(splitLines(text)[0] || "");
    return m ? m[1] : "";
}

// The version in a version file; "" when it is missing or unreadable.
function readVersionFile(path) {
    try {
        return fso.FileExists(path) ? parseVersionText(readText(path, 0)) : "";
    } catch (e) {
        log("version", path + " cannot be read (" + errorText(e) + ")");
        return "";
    }
}

// Negative, zero or positive as version a is older than, the same as or
// newer than b (dotted numbers; a missing part counts as 0).
function compareVersions(a, b) {
    var pa = a.split("."), pb = b.split(".");
    for (var i = 0; i < Math.max(pa.length, pb.length); i++) {
        var x = i < pa.length ? parseInt(pa[i], 10) : 0;
        var y = i < pb.length ? parseInt(pb[i], 10) : 0;
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

// Where the uninstall entry says Quillfeather is, if that folder is still
// there; an entry whose folder has gone no longer stands for an installation.
function installedLocation() {
    var loc = regString(UNINSTALL_KEY + "InstallLocation");
    return (loc != "" && fso.FolderExists(loc)) ? noTrailingSlash(loc) : "";
}

var ENTRY_STRINGS = ["DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "UninstallString",
                     "QuietUninstallString", "ModifyPath", "DisplayIcon"];
var ENTRY_NUMBERS = ["EstimatedSize", "NoModify", "NoRepair"];

function regValue(name) {
    try {
        return { value: shell.RegRead(name) };
    } catch (e) {
        return null;
    }
}

function entryExists() {
    return regValue(UNINSTALL_KEY) != null || regValue(UNINSTALL_KEY + "DisplayName") != null;
}

function saveEntry() {
    var saved = { exists: entryExists(), values: {} };
    var names = ENTRY_STRINGS.concat(ENTRY_NUMBERS);
    for (var i = 0; i < names.length; i++) {
        saved.values[names[i]] = regValue(UNINSTALL_KEY + names[i]);
    }
    return saved;
}

function regWrite(name, value, type) {
    try {
        shell.RegWrite(UNINSTALL_KEY + name, value, type);
    } catch (e) {
        fail(maintenanceText("loc_UI_Error_EntryWrite", "The uninstall entry could not be written (%1: %2).",
                             name, errorText(e)));
    }
    var back = regValue(UNINSTALL_KEY + name);
    if (back == null || String(back.value) != String(value)) {
        fail(maintenanceText("loc_UI_Error_EntryReadBack", "The uninstall entry could not be written (%1 does " +
                             "not read back).", name));
    }
}

// The command that starts the kept script with the given switches.
function maintenanceCommand(folder, switches) {
    var host = shell.ExpandEnvironmentStrings("%SystemRoot%").replace(/\u0000/g, "") + "\\System32\\wscript.exe";
    return quote(host) + " " + quote(folder + "\\VellumSetup.jse") + " " + switches;
}

// The Add/Remove Programs entry of the installation in folder.
function writeEntry(folder, version, sizeKB) {
    regWrite("DisplayName", PRODUCT, "REG_SZ");
    regWrite("DisplayVersion", version, "REG_SZ");
    regWrite("Publisher", PUBLISHER, "REG_SZ");
    regWrite("InstallLocation", folder, "REG_SZ");
    regWrite("UninstallString", maintenanceCommand(folder, "/uninstall"), "REG_SZ");
    regWrite("QuietUninstallString", maintenanceCommand(folder, "/uninstall /q"), "REG_SZ");
    // Change runs the repair; the system's own Repair button serves only
    // packages of its installer service.
    regWrite("ModifyPath", maintenanceCommand(folder, "/repair"), "REG_SZ");
    regWrite("DisplayIcon", folder + "\\uninstallUI\\VellumSetup.exe", "REG_SZ");
    regWrite("EstimatedSize", sizeKB, "REG_DWORD");
    regWrite("NoModify", 0, "REG_DWORD");
    regWrite("NoRepair", 1, "REG_DWORD");
    tx.entryWritten = true;
    log("registry", UNINSTALL_KEY + " written (version " + version + ")");
}

// Deletes a registry key or value: through the script host, else through
// reg.exe (some hosts do not implement RegDelete).
function regDelete(name) {
    try {
        shell.RegDelete(name);
        return;
    } catch (e) {
        // reg.exe below does it; the caller checks the outcome.
    }
    var isKey = name.charAt(name.length - 1) == "\\";
    var key = isKey ? name.substring(0, name.length - 1) : name.substring(0, name.lastIndexOf("\\"));
    var command = "reg.exe delete " + quote(key) + (isKey ? "" : " /v " + quote(name.substring(key.length + 1))) + " /f";
    try {
        shell.Run(command, 0, true);
    } catch (e2) {
        log("registry", name + " could not be deleted (" + errorText(e2) + ")");
    }
}

// The entry is this installation's: it names the folder, or no existing one.
function entryIsOurs() {
    var loc = noTrailingSlash(regString(UNINSTALL_KEY + "InstallLocation"));
    return loc == "" || loc.toLowerCase() == targetFolder.toLowerCase() || !fso.FolderExists(loc);
}

function deleteEntry() {
    if (!entryExists()) {
        return;
    }
    regDelete(UNINSTALL_KEY);
    if (entryExists()) {
        fail(maintenanceText("loc_UI_Uninstall_Error_Entry", "The uninstall entry %1 could not be removed.",
                             UNINSTALL_KEY));
    }
}

// Puts the entry back as saveEntry found it (after a failed run). Returns
// "" when done, else why not.
function restoreEntry(saved) {
    if (saved == null || !tx.entryWritten) {
        return "";
    }
    var problem = "";
    try {
        if (!saved.exists) {
            deleteEntry();
        } else {
            for (var name in saved.values) {
                if (!saved.values.hasOwnProperty(name)) {
                    continue;
                }
                var v = saved.values[name];
                if (v == null) {
                    if (regValue(UNINSTALL_KEY + name) != null) {
                        regDelete(UNINSTALL_KEY + name);
                    }
                } else {
                    shell.RegWrite(UNINSTALL_KEY + name, v.value,
                                   typeof v.value == "number" ? "REG_DWORD" : "REG_SZ");
                }
            }
        }
        log("registry", "uninstall entry restored");
    } catch (e2) {
        problem = "the uninstall entry could not be put back as it was (" + (e2.vellumMessage || errorText(e2)) + ")";
    }
    tx.entryWritten = false;
    return problem;
}
