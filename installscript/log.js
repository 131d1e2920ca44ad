// ---- log -----------------------------------------------------------------

function two(n) {
    return (n < 10 ? "0" : "") + n;
}

function timestamp() {
    var d = new Date();
    return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
        two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
}

// The log is ASCII: characters outside it are written as \uXXXX, and line
// breaks inside a text would split its line.
function logSafe(text) {
    return String(text).replace(/[\r\n\t]+/g, " ").replace(/[^\x20-\x7e]/g, function (c) {
        var h = c.charCodeAt(0).toString(16);
        while (h.length < 4) {
            h = "0" + h;
        }
        return "\\u" + h;
    });
}

// One line per step: time, what, result. The file is opened for each line,
// so that the copy an uninstall starts can write into the same log.
// Returns false when the line could not be written.
function log(what, result) {
    if (logPath == "") {
        return true;
    }
    try {
        var stream = fso.OpenTextFile(logPath, 8, true, 0);
        stream.WriteLine(timestamp() + "\t" + logSafe(what) + "\t" + logSafe(result));
        stream.Close();
        return true;
    } catch (e) {
        return false;
    }
}

// Several lines of one step with one opening of the file (each opening
// costs the host a few milliseconds); false when they could not be written.
function logEach(what, results) {
    if (logPath == "" || results.length == 0) {
        return true;
    }
    var lines = [], stamp = timestamp();
    for (var i = 0; i < results.length; i++) {
        lines.push(stamp + "\t" + logSafe(what) + "\t" + logSafe(results[i]));
    }
    try {
        var stream = fso.OpenTextFile(logPath, 8, true, 0);
        stream.WriteLine(lines.join("\r\n"));
        stream.Close();
        return true;
    } catch (e) {
        return false;
    }
}

// ---- failures ------------------------------------------------------------

function fail(message, icon, exitCode) {
    var e = new Error(message);
    e.vellumMessage = message;
    e.vellumIcon = icon || ICON_EXCLAMATION;
    e.vellumExit = exitCode || EXIT_FAILED;
    throw e;
}

function hex8(n) {
    var h = (n >>> 0).toString(16).toUpperCase();
    while (h.length < 8) {
        h = "0" + h;
    }
    return "0x" + h;
}

// Descriptions for errors that some hosts raise without one.
var KNOWN_ERRORS = {
    "800A0035": "File not found",
    "800A003A": "File already exists",
    "800A003D": "Disk full",
    "800A0044": "Device unavailable",
    "800A0046": "Permission denied",
    "800A004C": "Path not found",
    "80004001": "Not implemented",
    "80004005": "Unspecified error",
    "80070005": "Access is denied",
    "80070020": "The file is in use by another process",
    "80070070": "There is not enough space on the disk"
};

// "description, error 0x........": the error's own words and number.
function errorText(e) {
    var number = (e && typeof e.number == "number") ? e.number : 0;
    var text = "";
    if (e && e.description) {
        text = String(e.description);
    } else if (e && e.message) {
        text = String(e.message);
    }
    text = text.replace(/[\s.]+$/, "");
    if (text == "") {
        text = KNOWN_ERRORS[hex8(number).substring(2)] || "Unknown error";
    }
    return text + ", error " + hex8(number);
}

function extractReason(rc) {
    switch (rc) {
    case 1: return "the extraction tool was called wrongly";
    case 2: return "the cabinet is unreadable or damaged";
    case 3: return "a file could not be written (is the disk full?)";
    case 4: return "the cabinet names a file outside the install folder";
    case 9009: return "the extraction tool could not be started";
    }
    return "the extraction tool failed";
}
