#include "text_digest.h"

namespace vellum::extract {

namespace {

const unsigned long kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline unsigned long Rotr(unsigned long x, int n) {
    return ((x >> n) | (x << (32 - n))) & 0xFFFFFFFFul;
}

void Sha256Block(unsigned long h[8], const unsigned char* p) {
    unsigned long w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (static_cast<unsigned long>(p[4 * i]) << 24) | (static_cast<unsigned long>(p[4 * i + 1]) << 16) |
               (static_cast<unsigned long>(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const unsigned long s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const unsigned long s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = (w[i - 16] + s0 + w[i - 7] + s1) & 0xFFFFFFFFul;
    }
    unsigned long a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        const unsigned long t1 =
            (k + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256K[i] + w[i]) & 0xFFFFFFFFul;
        const unsigned long t2 = ((Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) & 0xFFFFFFFFul;
        k = g;
        g = f;
        f = e;
        e = (d + t1) & 0xFFFFFFFFul;
        d = c;
        c = b;
        b = a;
        a = (t1 + t2) & 0xFFFFFFFFul;
    }
    const unsigned long add[8] = {a, b, c, d, e, f, g, k};
    for (int i = 0; i < 8; ++i) h[i] = (h[i] + add[i]) & 0xFFFFFFFFul;
}

}  // namespace

std::string Sha256Hex(const unsigned char* data, size_t size) {
    unsigned long h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t whole = size / 64 * 64;
    for (size_t off = 0; off < whole; off += 64) Sha256Block(h, data + off);
    // The tail, the end mark and the length in bits, in one or two blocks.
    unsigned char tail[128] = {};
    const size_t rest = size - whole;
    for (size_t i = 0; i < rest; ++i) tail[i] = data[whole + i];
    tail[rest] = 0x80;
    const size_t blocks = rest + 1 + 8 <= 64 ? 1 : 2;
    const unsigned long long bits = static_cast<unsigned long long>(size) * 8;
    for (int i = 0; i < 8; ++i) tail[blocks * 64 - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    for (size_t b = 0; b < blocks; ++b) Sha256Block(h, tail + 64 * b);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 8; ++i)
        for (int shift = 28; shift >= 0; shift -= 4) out.push_back(hex[(h[i] >> shift) & 15]);
    return out;
}

std::string TextDigest(const std::string& bytes) {
    const size_t skip = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE' ? 2 : 0;
    return Sha256Hex(reinterpret_cast<const unsigned char*>(bytes.data()) + skip, bytes.size() - skip);
}

}  // namespace vellum::extract
