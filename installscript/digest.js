// ---- digest --------------------------------------------------------------
//
// SHA-256 of a text taken as UTF-16LE bytes (how the manifest is stored,
// without its byte order mark), as 64 lower-case hex digits. The uninstall
// entry keeps the digest of the manifest an installation wrote: a manifest
// that another program or a limited user changed no longer matches it.
//
// The compression (sha256Text) is written out at build time by
// sha256_rounds.py: the script host interprets every loop step and array
// access, and the straight-line rounds take about half the time.

// The end of the padded message from character from on (a multiple of 32:
// the whole blocks before it are read from the text itself), as big-endian
// words: each word is two characters' little-endian bytes.
function digestWords(text, from) {
    var n = text.length, words = new Array((((n - from) * 2 + 8) >>> 6) * 16 + 16), count = 0, i;
    for (i = from; i + 1 < n; i += 2) {
        var c0 = text.charCodeAt(i), c1 = text.charCodeAt(i + 1);
        words[count++] = ((c0 & 255) << 24) | ((c0 >>> 8) << 16) | ((c1 & 255) << 8) | (c1 >>> 8);
    }
    if (n % 2) {
        var c = text.charCodeAt(n - 1);
        words[count++] = ((c & 255) << 24) | ((c >>> 8) << 16) | 0x8000;
    } else {
        words[count++] = 0x80000000 | 0;
    }
    while (count % 16 != 14) {
        words[count++] = 0;
    }
    // The length in bits, 64-bit big-endian (texts here stay far below 2^32 bits).
    var bits = n * 16;
    words[count++] = Math.floor(bits / 4294967296);
    words[count++] = bits | 0;
    words.length = count;
    return words;
}

// The digest of a text's UTF-16LE bytes.
function textDigest(text) {
    var hs = sha256Text(text, digestWords(text, (text.length >>> 5) * 32)), out = "";
    for (var i = 0; i < 8; i++) {
        var hex = (hs[i] >>> 0).toString(16);
        while (hex.length < 8) {
            hex = "0" + hex;
        }
        out += hex;
    }
    return out;
}
