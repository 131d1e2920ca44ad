// ---- digest --------------------------------------------------------------
//
// SHA-256 of a text taken as UTF-16LE bytes (how the manifest is stored,
// without its byte order mark), as 64 lower-case hex digits. The uninstall
// entry keeps the digest of the manifest an installation wrote: a manifest
// that another program or a limited user changed no longer matches it.
//
// The script host interprets every call and array growth slowly: the
// message words come straight from two characters each, rotations are
// written out and the rounds call nothing.

var SHA256_K = [
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2
];

// The padded message as big-endian words: each word is two characters'
// little-endian bytes.
function digestWords(text) {
    var n = text.length, words = new Array(((n * 2 + 8) >>> 6) * 16 + 16), count = 0, i;
    for (i = 0; i + 1 < n; i += 2) {
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
    var words = digestWords(text), K = SHA256_K, w = new Array(64), i;
    var h0 = 0x6a09e667, h1 = 0xbb67ae85 | 0, h2 = 0x3c6ef372, h3 = 0xa54ff53a | 0,
        h4 = 0x510e527f, h5 = 0x9b05688c | 0, h6 = 0x1f83d9ab, h7 = 0x5be0cd19;
    for (var off = 0; off < words.length; off += 16) {
        for (i = 0; i < 16; i++) {
            w[i] = words[off + i];
        }
        for (i = 16; i < 64; i++) {
            var x = w[i - 15], y = w[i - 2];
            w[i] = (w[i - 16] + (((x >>> 7) | (x << 25)) ^ ((x >>> 18) | (x << 14)) ^ (x >>> 3)) + w[i - 7] +
                    (((y >>> 17) | (y << 15)) ^ ((y >>> 19) | (y << 13)) ^ (y >>> 10))) | 0;
        }
        var a = h0, b = h1, c = h2, d = h3, e = h4, f = h5, g = h6, k = h7;
        for (i = 0; i < 64; i++) {
            var t1 = (k + (((e >>> 6) | (e << 26)) ^ ((e >>> 11) | (e << 21)) ^ ((e >>> 25) | (e << 7))) +
                      ((e & f) ^ (~e & g)) + K[i] + w[i]) | 0;
            var t2 = ((((a >>> 2) | (a << 30)) ^ ((a >>> 13) | (a << 19)) ^ ((a >>> 22) | (a << 10))) +
                      ((a & b) ^ (a & c) ^ (b & c))) | 0;
            k = g;
            g = f;
            f = e;
            e = (d + t1) | 0;
            d = c;
            c = b;
            b = a;
            a = (t1 + t2) | 0;
        }
        h0 = (h0 + a) | 0;
        h1 = (h1 + b) | 0;
        h2 = (h2 + c) | 0;
        h3 = (h3 + d) | 0;
        h4 = (h4 + e) | 0;
        h5 = (h5 + f) | 0;
        h6 = (h6 + g) | 0;
        h7 = (h7 + k) | 0;
    }
    var hs = [h0, h1, h2, h3, h4, h5, h6, h7], out = "";
    for (i = 0; i < 8; i++) {
        var hex = (hs[i] >>> 0).toString(16);
        while (hex.length < 8) {
            hex = "0" + hex;
        }
        out += hex;
    }
    return out;
}
