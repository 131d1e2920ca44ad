// ---- EXTRACT.EXE runs ----------------------------------------------------
//
// One EXTRACT.EXE process does a whole job: a plan of cabinets, a
// comparison, a folder listing. It is started hidden and without the
// command interpreter, and followed through the files it writes itself:
// its progress record (replaced whole, ends with phase "end") and its
// listing, which it holds open without write sharing until it ends and
// completes with an "end" line. Starting processes is what an installation
// under this system pays most for; nothing here starts one per cabinet.

var EXTRACT_POLL_MS = 25;
var EXTRACT_START_MS = 60000;  // until EXTRACT has created its listing
var EXTRACT_STALL_MS = 600000; // without a new progress record, while it still runs
var extractTool = "";          // EXTRACT.EXE of this run (set by run())
var scratchBase = "";          // its scratch files: <scratchBase>.list, .progress, .plan, .tree, .manifest

function scratchFile(suffix) {
    return scratchBase + suffix;
}

function deleteScratch(path) {
    if (fso.FileExists(path)) {
        fso.DeleteFile(path, true);
    }
}

// A plan file: one path a line, UTF-16 as EXTRACT reads it.
function writePlan(path, lines) {
    try {
        var f = fso.CreateTextFile(path, true, true);
        try {
            for (var i = 0; i < lines.length; i++) {
                f.WriteLine(lines[i]);
            }
        } finally {
            f.Close();
        }
    } catch (e) {
        fail("The plan of the extraction could not be written to " + path + " (" + errorText(e) + "). " +
             "Is the disk full?", ICON_STOP);
    }
}

// The progress record "phase done total cabinetsDone cabinets code", or
// null while there is none (or it is being replaced).
function readProgress(path) {
    try {
        if (!fso.FileExists(path)) {
            return null;
        }
        var m = /^(\w+) (\d+) (\d+) (\d+) (\d+) (-?\d+)/.exec(readText(path, 0));
        if (!m) {
            return null;
        }
        return { phase: m[1], done: parseFloat(m[2]), total: parseFloat(m[3]), cabinetsDone: parseInt(m[4], 10),
                 cabinets: parseInt(m[5], 10), code: parseInt(m[6], 10), text: m[0] };
    } catch (e) {
        return null;
    }
}

// True once no process holds the file open for writing.
function closedByWriter(path) {
    try {
        fso.OpenTextFile(path, 8, false).Close();
        return true;
    } catch (e) {
        return false;
    }
}

// The lines of an EXTRACT listing: {status, size, path}; the "end" line
// gives code and failure. ended: false when the listing has no end line.
function parseListing(text) {
    var lines = splitLines(text), out = { entries: [], ended: false, code: -1, failure: "" };
    for (var i = 0; i < lines.length; i++) {
        if (lines[i] == "") {
            continue;
        }
        var parts = lines[i].split("\t");
        if (parts.length < 3 || !/^\d+$/.test(parts[1])) {
            return null;
        }
        if (parts[0] == "end") {
            out.ended = i == lines.length - 1;
            out.code = parseInt(parts[1], 10);
            out.failure = parts.slice(2).join("\t");
        } else {
            out.entries.push({ status: parts[0], size: parseFloat(parts[1]), path: parts.slice(2).join("\t") });
        }
    }
    return out;
}

// Runs EXTRACT with args (its listing, and its progress record when it is
// followed, are added) and waits for it to end, handing each new progress
// record to onProgress; meanwhile (optional), once EXTRACT has created its
// listing, does a small piece of other work instead of a pause, while it
// returns true. Returns the parsed listing: code, failure,
// entries. A run that ends without its end line (killed, crashed) fails.
function runExtract(args, onProgress, meanwhile) {
    var listing = scratchFile(".list"), progress = scratchFile(".progress");
    deleteScratch(listing);
    deleteScratch(progress);
    // Followed only where a progress window shows it. Otherwise the system
    // waits for EXTRACT's end (Run's own wait): where this host has no Sleep
    // (Wine's does nothing), waiting by polling keeps a processor busy beside
    // EXTRACT and slows it down. The work meant for meanwhile is then the
    // caller's to finish afterwards.
    if (!onProgress || controller == null) {
        var code = startExtract(quote(extractTool) + " " + args + " /O " + quote(listing), true);
        return endedListing(listing, code, "exit code " + code);
    }
    startExtract(quote(extractTool) + " " + args + " /O " + quote(listing) + " /P " + quote(progress), false);
    var started = new Date().getTime(), changed = started, last = "", record = null;
    for (;;) {
        var now = new Date().getTime();
        record = readProgress(progress);
        if (record != null && record.text != last) {
            last = record.text;
            changed = now;
            onProgress(record);
        }
        if (record != null && record.phase == "end") {
            break;
        }
        if (!fso.FileExists(listing)) {
            if (now - started > EXTRACT_START_MS) {
                fail("The extraction tool " + extractTool + " did not start within " + EXTRACT_START_MS / 1000 +
                     " seconds.");
            }
        } else if (closedByWriter(listing)) {
            // Its final record follows the listing: waited for (EXTRACT
            // tries for 5 s), so that no late write meets the next run.
            var tries = 10000 / EXTRACT_POLL_MS;
            for (var wait = 0; wait < tries && (record == null || record.phase != "end"); wait++) {
                pause(EXTRACT_POLL_MS);
                record = readProgress(progress);
            }
            break;
        } else if (now - changed > EXTRACT_STALL_MS) {
            fail("The extraction tool stopped making progress (" + (last || "no progress record") + ").");
        }
        // Other work only once EXTRACT has begun: what a run killed before
        // that leaves is then EXTRACT's alone to explain.
        if (!meanwhile || !fso.FileExists(listing) || !meanwhile()) {
            pause(EXTRACT_POLL_MS);
        }
    }
    return endedListing(listing, record != null && record.phase == "end" ? record.code : 0,
                        "the last progress: " + (last || "none"));
}

// Starts EXTRACT hidden, never through the command interpreter; with wait,
// returns its exit code once it has ended.
function startExtract(command, wait) {
    try {
        return shell.Run(command, 0, wait);
    } catch (e) {
        // A scanner may hold a program just written for a moment: once more after a pause.
        log("extract", "EXTRACT.EXE could not be started (" + errorText(e) + "); trying again");
        pause(2000);
        try {
            return shell.Run(command, 0, wait);
        } catch (e2) {
            fail("The extraction tool " + extractTool + " could not be started (" + errorText(e2) + ").");
        }
    }
}

// The listing of an EXTRACT run that has ended. One without its end line
// fails the run, unless EXTRACT said why it could not write it (code: its
// exit code, where known).
function endedListing(listing, code, last) {
    var result = parseListing(fso.FileExists(listing) ? readText(listing, -1) : "");
    if (result != null && result.ended) {
        return result;
    }
    if (code > 0 && !fso.FileExists(listing)) {
        return { entries: [], ended: true, code: code, failure: "" };
    }
    fail("The extraction tool ended before it had finished (it was stopped, or it failed; " + last + ").");
}

// What EXTRACT's exit code for a plan says: the reason, and the position
// of the cabinet it concerns.
function planFailure(code) {
    return { reason: code % 10, cabinet: Math.floor(code / 10) };
}

// EXTRACT's folder listing of folder: {status (file, folder, link), size,
// path below folder}, parents before their contents.
function treeEntries(folder) {
    var r = runExtract("/T " + quote(folder));
    if (r.code != 0) {
        fail("The contents of " + folder + " could not be listed (" + r.failure + ").");
    }
    return r.entries;
}

// The same, from the file an extraction wrote it into (/W) once it ended.
function listingOf(path, folder) {
    var r = parseListing(fso.FileExists(path) ? readText(path, -1) : "");
    if (r == null || !r.ended || r.code != 0) {
        fail("The contents of " + folder + " could not be listed (" +
             (r != null && r.ended ? r.failure : "the extraction tool left no whole listing") + ").");
    }
    return r.entries;
}

// Every path under a folder (files only, or files and folders), parents
// before their contents, from EXTRACT's folder listing: links (reparse
// points) are listed, as files would be, but never entered.
function treeList(folder, filesOnly) {
    folder = noTrailingSlash(folder);
    var entries = treeEntries(folder), paths = [];
    for (var i = 0; i < entries.length; i++) {
        var e = entries[i];
        if (e.status == "file" || e.status == "link" || (e.status == "folder" && !filesOnly)) {
            paths.push(folder + "\\" + e.path);
        }
    }
    return paths;
}
