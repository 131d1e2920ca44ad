#include "plan.h"

#include <unordered_map>

#include "strings.h"

namespace vellum::extract {

namespace {

std::wstring Trim(const std::wstring& s) {
    size_t a = s.find_first_not_of(L" \t\r\n");
    if (a == std::wstring::npos) return std::wstring();
    size_t b = s.find_last_not_of(L" \t\r\n");
    return s.substr(a, b - a + 1);
}

}  // namespace

bool DecodePlanFile(const std::string& bytes, std::vector<std::wstring>* cabinets, std::wstring* error) {
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            *error = L"the plan file is cut off (UTF-16 with an odd number of bytes)";
            return false;
        }
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Utf8ToWide(bytes.substr(3));
    } else {
        text = BytesToWide(bytes, 0);
    }
    std::vector<std::wstring> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.size() >= 2 && line.front() == L'"' && line.back() == L'"') line = Trim(line.substr(1, line.size() - 2));
        if (line.empty()) continue;
        if (line[0] == L'@') {
            *error = L"a plan file cannot name another plan file: " + line;
            return false;
        }
        if (line.find(L'\0') != std::wstring::npos) {
            *error = L"the plan file holds a character no path may hold";
            return false;
        }
        out.push_back(line);
    }
    *cabinets = out;
    return true;
}

std::vector<std::vector<bool>> LastOfTheirName(const std::vector<std::vector<std::wstring>>& names) {
    std::vector<std::vector<bool>> last(names.size());
    std::unordered_map<std::wstring, std::pair<size_t, size_t>> winner;
    for (size_t c = 0; c < names.size(); ++c) {
        last[c].assign(names[c].size(), false);
        for (size_t m = 0; m < names[c].size(); ++m) {
            auto key = ToLowerInvariant(names[c][m]);
            auto it = winner.find(key);
            if (it != winner.end()) last[it->second.first][it->second.second] = false;
            winner[key] = {c, m};
            last[c][m] = true;
        }
    }
    return last;
}

const wchar_t* FindingWord(Finding finding) {
    switch (finding) {
    case Finding::kSame: return L"same";
    case Finding::kMissing: return L"missing";
    case Finding::kSize: return L"size";
    case Finding::kChanged: return L"changed";
    }
    return L"changed";
}

std::wstring ListingLine(const wchar_t* status, unsigned long long number, const std::wstring& path) {
    return std::wstring(status) + Format(L"\t%I64u\t", number) + path + L"\r\n";
}

int PlanExitCode(int reason, size_t cabinetIndex) {
    return reason == 0 ? 0 : reason + 10 * static_cast<int>(cabinetIndex);
}

std::string ProgressRecord(const ProgressState& s) {
    auto number = [](unsigned long long v) {
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
            v /= 10;
        } while (v != 0);
        return digits;
    };
    std::string code = s.exitCode < 0 ? "-" + number(static_cast<unsigned long long>(-static_cast<long long>(s.exitCode)))
                                       : number(static_cast<unsigned long long>(s.exitCode));
    return std::string(s.phase) + " " + number(s.done) + " " + number(s.total) + " " + number(s.cabinetsDone) +
           " " + number(s.cabinets) + " " + code + "\r\n";
}

bool ProgressClock::Due(unsigned long long done) {
    if (done < next_) return false;
    next_ = done + step_;
    return true;
}

unsigned long long Fingerprint(const unsigned char* data, size_t size) {
    unsigned long long h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

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

std::string TextFileDigest(const std::string& bytes) {
    const size_t skip = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE' ? 2 : 0;
    return Sha256Hex(reinterpret_cast<const unsigned char*>(bytes.data()) + skip, bytes.size() - skip);
}

}  // namespace vellum::extract
