// maintenance_texts.js: the texts that uninstall and repair show, in the
// user's language.
//
// They come from MaintenanceUIText_<locale>.xml, which common.cab installs
// in uninstallUI beside the maintenance VellumSetup (and which the copy of
// an uninstall or repair takes along), for the locale the installation
// chooses. The file is checked as VellumSetup checks its catalogues before
// a parser sees it (at most 1 MiB, no DTD, a form the check can read), and
// the queries are never built from a text with a quote. Anything missing
// gives the English text. Unattended runs always use English: their log
// stays ASCII English.
//
// Included before VellumSetup.js; uses its globals (here, quiet, fso) and
// chooseLocale() once the run has started.

var MAINTENANCE_TEXTS_MAX = 1024 * 1024;
var maintenanceLanguage = null; // the language element, once found

// MaintenanceUIText_<locale>.xml, or "" for a locale that could name
// another file (only letters, digits, "-" and "_" are taken).
function maintenanceCatalogueName() {
    var locale = chooseLocale();
    return /^[A-Za-z0-9_-]+$/.test(locale) ? "MaintenanceUIText_" + locale + ".xml" : "";
}

function readAllText(path, format) {
    var stream = fso.OpenTextFile(path, 1, false, format);
    var text = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    return text;
}

// The file's bytes as character codes 0-255, or [] when they cannot be
// told. The host has no binary read: read as UTF-16, each character
// carries two bytes of the file; the last byte of an odd size is read as
// single-byte text, where it is itself when it is ASCII (as the end of
// every well-formed document is).
function readFileBytes(path) {
    var size = fso.GetFile(path).Size;
    var text = readAllText(path, -1);
    var bytes = [];
    for (var i = 0; i < text.length; i++) {
        var c = text.charCodeAt(i);
        bytes.push(c & 0xff, c >> 8);
    }
    if (size % 2 == 1) {
        var single = readAllText(path, 0);
        var last = single.length > 0 ? single.charCodeAt(single.length - 1) : 0x80;
        if (last >= 0x80) {
            return [];
        }
        bytes.push(last);
    }
    if (bytes.length == size - 2) {
        // A reader that takes a UTF-16 byte-order mark away.
        bytes = [0xff, 0xfe].concat(bytes);
    }
    return bytes.length == size ? bytes : [];
}

// The markup's characters: UTF-16 by its byte-order mark or by the zero
// byte beside the first "<"; else byte by byte after a UTF-8 mark.
function markupCodes(b) {
    var utf16 = false, little = false, start = 0, out = [];
    if (b.length >= 3 && b[0] == 0xef && b[1] == 0xbb && b[2] == 0xbf) {
        start = 3;
    } else if (b.length >= 2 && b[0] == 0xff && b[1] == 0xfe) {
        utf16 = little = true;
        start = 2;
    } else if (b.length >= 2 && b[0] == 0xfe && b[1] == 0xff) {
        utf16 = true;
        start = 2;
    } else if (b.length >= 2 && b[0] == 0x3c && b[1] == 0) {
        utf16 = little = true;
    } else if (b.length >= 2 && b[0] == 0 && b[1] == 0x3c) {
        utf16 = true;
    }
    if (!utf16) {
        return b.slice(start);
    }
    for (var i = start; i + 1 < b.length; i += 2) {
        out.push(little ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]));
    }
    return out;
}

// True when the markup may declare a DTD or cannot be read by this check
// (a NUL, or something other than "<" first). Comments, processing
// instructions and CDATA sections are skipped.
function mayDeclareDtd(codes) {
    var s = [];
    for (var i = 0; i < codes.length; i++) {
        if (codes[i] == 0) {
            return true;
        }
        s.push(String.fromCharCode(codes[i]));
    }
    var text = s.join("");
    if (/^[ \t\r\n]*[^ \t\r\n<]/.test(text)) {
        return true;
    }
    var skips = [["<!--", "-->"], ["<?", "?>"], ["<![CDATA[", "]]>"]];
    var at = 0;
    while ((at = text.indexOf("<", at)) >= 0) {
        var skipped = false;
        for (var k = 0; k < skips.length && !skipped; k++) {
            if (text.substr(at, skips[k][0].length) == skips[k][0]) {
                var end = text.indexOf(skips[k][1], at + skips[k][0].length);
                at = end < 0 ? text.length : end + skips[k][1].length;
                skipped = true;
            }
        }
        if (skipped) {
            continue;
        }
        var word = text.substr(at, 9).toUpperCase();
        if (word == "<!DOCTYPE" || word.substring(0, 8) == "<!ENTITY") {
            return true;
        }
        at++;
    }
    return false;
}

// The document's text: UTF-16 as it stands, else UTF-8 (an invalid
// sequence becomes U+FFFD).
function decodeCatalogue(b) {
    var codes = markupCodes(b);
    var utf16 = b.length >= 2 && (b[1] == 0 || b[0] == 0 || (b[0] == 0xff && b[1] == 0xfe) ||
                                  (b[0] == 0xfe && b[1] == 0xff));
    var out = [];
    if (utf16) {
        for (var u = 0; u < codes.length; u++) {
            out.push(String.fromCharCode(codes[u]));
        }
        return out.join("");
    }
    for (var i = 0; i < codes.length;) {
        var c = codes[i], n = 0, v = 0;
        if (c < 0x80) {
            n = 0; v = c;
        } else if (c >= 0xc2 && c < 0xe0) {
            n = 1; v = c & 0x1f;
        } else if (c >= 0xe0 && c < 0xf0) {
            n = 2; v = c & 0x0f;
        } else if (c >= 0xf0 && c < 0xf5) {
            n = 3; v = c & 0x07;
        } else {
            out.push("\ufffd");
            i++;
            continue;
        }
        var ok = i + n < codes.length || n == 0;
        for (var k = 1; k <= n && ok; k++) {
            ok = (codes[i + k] & 0xc0) == 0x80;
            v = (v << 6) | (codes[i + k] & 0x3f);
        }
        if (!ok || (n == 2 && v < 0x800) || (n == 3 && (v < 0x10000 || v > 0x10ffff)) ||
            (v >= 0xd800 && v < 0xe000)) {
            out.push("\ufffd");
            i++;
            continue;
        }
        if (v >= 0x10000) {
            v -= 0x10000;
            out.push(String.fromCharCode(0xd800 + (v >> 10), 0xdc00 + (v & 0x3ff)));
        } else {
            out.push(String.fromCharCode(v));
        }
        i += n + 1;
    }
    return out.join("");
}

// The language element of the locale's catalogue, or null. Tried again at
// each text until it is found, as VellumSetup's own lookup does.
function maintenanceLanguageNode() {
    if (maintenanceLanguage != null) {
        return maintenanceLanguage;
    }
    var name = maintenanceCatalogueName();
    if (name == "") {
        return null;
    }
    var places = [here + "\\" + name, here + "\\uninstallUI\\" + name];
    for (var p = 0; p < places.length; p++) {
        if (!fso.FileExists(places[p]) || fso.GetFile(places[p]).Size > MAINTENANCE_TEXTS_MAX) {
            continue;
        }
        var bytes = readFileBytes(places[p]);
        if (bytes.length == 0 || mayDeclareDtd(markupCodes(bytes))) {
            continue;
        }
        // The text is parsed as checked, not the file again; its declaration
        // would name the file's encoding, which the text no longer has.
        var text = decodeCatalogue(bytes).replace(/^\ufeff?\s*<\?xml[^>]*\?>/, "");
        var doc = new ActiveXObject("Msxml2.DOMDocument.3.0");
        doc.async = false;
        doc.validateOnParse = false;
        doc.resolveExternals = false;
        doc.preserveWhiteSpace = true;
        try {
            doc.setProperty("ProhibitDTD", true);
        } catch (e) {
            // Older parsers lack it; the check above holds.
        }
        if (!doc.loadXML(text) || doc.documentElement == null) {
            continue;
        }
        var locale = chooseLocale();
        maintenanceLanguage = doc.documentElement.selectSingleNode("language[@localeId='" + locale + "']");
        if (maintenanceLanguage != null) {
            return maintenanceLanguage;
        }
    }
    return null;
}

// The text of key in the user's language, else english; %1 and %2 are
// replaced by the further arguments in one pass (an argument that holds
// "%2" stays as it is).
function maintenanceText(key, english) {
    var args = arguments;
    var text = english;
    if (!quiet && key.indexOf("'") < 0) {
        try {
            var language = maintenanceLanguageNode();
            var node = language == null ? null : language.selectSingleNode("resource[name = '" + key + "']/value");
            if (node != null) {
                text = node.text;
            }
        } catch (e) {
            text = english;
        }
    }
    return String(text).replace(/%([12])/g, function (all, n) {
        var i = Number(n) + 1;
        return i < args.length ? String(args[i]) : all;
    });
}

// The locale's catalogue goes along with the copy that an uninstall or
// repair starts outside the install folder, beside the copied VellumSetup.
function copyMaintenanceTexts(copy) {
    var name = maintenanceCatalogueName();
    var from = here + "\\uninstallUI\\" + name;
    if (name == "" || !fso.FileExists(from)) {
        return;
    }
    try {
        copyChecked(from, copy + "\\" + name);
    } catch (e) {
        // Without it the copy speaks English; the work is the same.
        log(mode, "the texts " + from + " were not copied (" + (e.vellumMessage || errorText(e)) + ")");
    }
}
