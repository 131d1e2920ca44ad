#include "removal.h"

#include <set>

#include "cabinet_paths.h"
#include "plan.h"
#include "strings.h"

namespace vellum::extract {

bool DecodeRemovalList(const std::string& bytes, std::vector<RemovalEntry>* entries, std::wstring* error) {
    std::vector<std::wstring> lines;
    if (!DecodePlanFile(bytes, &lines, error)) return false;
    std::vector<RemovalEntry> out;
    for (const std::wstring& line : lines) {
        RemovalEntry e;
        size_t tab = line.find(L'\t');
        const std::wstring kind = line.substr(0, tab);
        if (tab == std::wstring::npos || (kind != L"file" && kind != L"folder")) {
            *error = L"the removal list has a line of another form: " + line;
            return false;
        }
        e.folder = kind == L"folder";
        // The path as given: a name that the rule would change is refused,
        // not acted on under another name.
        const std::wstring given = line.substr(tab + 1);
        if (!SafeRelativePath(given, &e.path) || e.path != given) {
            *error = L"the removal list names a path outside the folder or not plain: " + given;
            return false;
        }
        out.push_back(e);
    }
    *entries = out;
    return true;
}

namespace {

// The first folder on the way to path (the root "" included, the entry
// itself not) that is a link; false when there is none.
bool LinkOnTheWay(const RemovalFileSystem& fs, const std::wstring& path, std::set<std::wstring>* plain,
                  std::wstring* link) {
    std::vector<std::wstring> way{std::wstring()};
    for (const std::wstring& f : ParentFolders(path)) way.push_back(f);
    for (const std::wstring& folder : way) {
        const std::wstring key = ToLowerInvariant(folder);
        if (plain && plain->count(key)) continue;
        if (fs.what(folder) == Found::kLink) {
            *link = folder;
            return true;
        }
        if (plain) plain->insert(key);
    }
    return false;
}

}  // namespace

RemovalResult RemoveListed(const std::vector<RemovalEntry>& entries, const RemovalFileSystem& fs,
                           std::wstring* report, const std::function<void(size_t, size_t)>& progress,
                           const std::function<void()>& halfway) {
    RemovalResult r;
    std::wstring link;
    // First the whole list: a link anywhere on the way and nothing is touched.
    std::set<std::wstring> plain, reported;
    for (const RemovalEntry& e : entries) {
        if (LinkOnTheWay(fs, e.path, &plain, &link)) {
            if (reported.insert(ToLowerInvariant(link)).second) *report += ListingLine(L"link", 0, link);
            if (r.code == kRemovalDone) {
                r.code = kRemovalLink;
                r.failure = (link.empty() ? std::wstring(L"the folder") : link) + L" is a link to another place";
            }
        }
    }
    if (r.code != kRemovalDone) return r;

    size_t files = 0, filesDone = 0;
    for (const RemovalEntry& e : entries) files += e.folder ? 0 : 1;
    const size_t half = files / 2 + 1;
    std::wstring checkedParent;
    bool checked = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const RemovalEntry& e = entries[i];
        // The way is checked again before the first entry of each folder:
        // it may have changed since.
        const std::vector<std::wstring> parents = ParentFolders(e.path);
        const std::wstring parent = ToLowerInvariant(parents.empty() ? std::wstring() : parents.back());
        if (!checked || parent != checkedParent) {
            if (LinkOnTheWay(fs, e.path, nullptr, &link)) {
                *report += ListingLine(L"link", 0, e.path);
                r.code = kRemovalLink;
                r.failure = (link.empty() ? std::wstring(L"the folder") : link) + L" is a link to another place";
                return r;
            }
            checkedParent = parent;
            checked = true;
        }
        const wchar_t* status = L"missing";
        std::wstring why;
        if (!e.folder) {
            // Deleted straight away (a link to a file: the link itself); what
            // stands there is looked at only when that fails.
            if (fs.deleteFile(e.path, &why)) {
                status = L"removed";
            } else {
                const Found found = fs.what(e.path);
                status = found == Found::kNothing ? L"missing" : found == Found::kFile ? L"failed"
                         : found == Found::kLink ? L"link" : L"other";
            }
        } else {
            const Found found = fs.what(e.path);
            if (found == Found::kLink) {
                status = L"link";  // a linked folder is never removed: it is not ours
            } else if (found == Found::kFile) {
                status = L"other";
            } else if (found == Found::kFolder) {
                bool notEmpty = false;
                status = fs.removeFolder(e.path, &notEmpty, &why) ? L"removed" : notEmpty ? L"notempty" : L"failed";
            }
        }
        *report += ListingLine(status, 0, e.path);
        if (std::wstring(status) == L"failed") {
            r.code = kRemovalFailed;
            r.failure = e.path + L": " + why;
            return r;
        }
        if (std::wstring(status) == L"removed") ++r.removed;
        if (!e.folder && ++filesDone == half && halfway) halfway();
        if (progress) progress(i + 1, entries.size());
    }
    return r;
}

namespace {

std::vector<std::wstring> SplitKey(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t cut = path.find(L'\\', start);
        parts.push_back(path.substr(start, cut == std::wstring::npos ? std::wstring::npos : cut - start));
        if (cut == std::wstring::npos) return parts;
        start = cut + 1;
    }
}

const wchar_t* const kUninstallKey[] = {L"software", L"microsoft", L"windows", L"currentversion", L"uninstall"};

// Within an uninstall entry: the key path has at least the entry's own name.
bool InUninstallEntry(const std::vector<std::wstring>& lower) {
    if (lower.size() < 6) return false;
    for (size_t i = 0; i < 5; ++i)
        if (lower[i] != kUninstallKey[i]) return false;
    return true;
}

// A vendor's own key: Software\<vendor>\<product>..., where the vendor is
// not one of the keys the system and every program share.
bool InVendorKey(const std::vector<std::wstring>& lower) {
    if (lower.size() < 3 || lower[0] != L"software") return false;
    for (const wchar_t* shared : {L"microsoft", L"classes", L"policies", L"wow6432node"})
        if (lower[1] == shared) return false;
    return true;
}

bool DecodeRegistryItem(const std::wstring& kind, const std::wstring& given, RegistryItem* item) {
    std::vector<std::wstring> parts = SplitKey(given);
    if (parts.size() < 2) return false;
    const std::wstring hive = ToLowerInvariant(parts[0]);
    if (hive == L"hklm" || hive == L"hkey_local_machine") {
        item->machine = true;
    } else if (hive == L"hkcu" || hive == L"hkey_current_user") {
        item->machine = false;
    } else {
        return false;
    }
    parts.erase(parts.begin());
    item->isValue = kind == L"value";
    if (item->isValue) {
        item->value = parts.back();
        parts.pop_back();
        if (item->value.empty()) return false;  // the default value is not one the product keeps
    }
    std::vector<std::wstring> lower;
    for (const std::wstring& part : parts) {
        if (part.empty() || part.find_first_not_of(L". ") == std::wstring::npos) return false;
        for (wchar_t c : part)
            if (c < 32) return false;
        lower.push_back(ToLowerInvariant(part));
    }
    for (wchar_t c : item->value)
        if (c < 32) return false;
    // A key goes whole only as an uninstall entry; a value also in a vendor's key.
    if (!item->isValue && !(lower.size() == 6 && InUninstallEntry(lower))) return false;
    if (item->isValue && !InUninstallEntry(lower) && !InVendorKey(lower)) return false;
    item->key.clear();
    for (const std::wstring& part : parts) item->key += (item->key.empty() ? L"" : L"\\") + part;
    item->given = given;
    return true;
}

}  // namespace

bool DecodeRegistryList(const std::string& bytes, RegistryList* list, std::wstring* error) {
    std::vector<std::wstring> lines;
    if (!DecodePlanFile(bytes, &lines, error)) return false;
    RegistryList out;
    bool viewGiven = false;
    for (const std::wstring& line : lines) {
        size_t tab = line.find(L'\t');
        const std::wstring kind = line.substr(0, tab);
        const std::wstring rest = tab == std::wstring::npos ? std::wstring() : line.substr(tab + 1);
        if (kind == L"view" && !viewGiven && (rest == L"32" || rest == L"64")) {
            out.view = rest == L"32" ? 32 : 64;
            viewGiven = true;
            continue;
        }
        RegistryItem item;
        if (tab == std::wstring::npos || (kind != L"key" && kind != L"value")) {
            *error = L"the registry list has a line of another form: " + line;
            return false;
        }
        if (!DecodeRegistryItem(kind, rest, &item)) {
            *error = L"the registry list names a " + kind + L" that is not the product's own: " + rest;
            return false;
        }
        out.items.push_back(item);
    }
    *list = out;
    return true;
}

RemovalResult RemoveRegistryItems(const std::vector<RegistryItem>& items,
                                  const std::function<RegistryOutcome(const RegistryItem&, std::wstring*)>& remove,
                                  std::wstring* report) {
    RemovalResult r;
    for (const RegistryItem& item : items) {
        std::wstring why;
        const RegistryOutcome outcome = remove(item, &why);
        *report += ListingLine(outcome == RegistryOutcome::kRemoved ? L"regremoved"
                               : outcome == RegistryOutcome::kMissing ? L"regmissing" : L"regfailed",
                               0, item.given);
        if (outcome == RegistryOutcome::kRemoved) ++r.removed;
        if (outcome == RegistryOutcome::kFailed && r.code == kRemovalDone) {
            r.code = kRemovalRegistry;
            r.failure = item.given + L": " + why;
        }
    }
    return r;
}

namespace {

const unsigned kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

unsigned Rotr(unsigned x, int n) { return (x >> n) | (x << (32 - n)); }

void Sha256Block(const unsigned char* p, unsigned h[8]) {
    unsigned w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (unsigned(p[4 * i]) << 24) | (unsigned(p[4 * i + 1]) << 16) | (unsigned(p[4 * i + 2]) << 8) |
               unsigned(p[4 * i + 3]);
    for (int i = 16; i < 64; ++i)
        w[i] = w[i - 16] + (Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3)) + w[i - 7] +
               (Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10));
    unsigned a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        const unsigned t1 = k + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256K[i] + w[i];
        const unsigned t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
}

}  // namespace

std::string TextDigest(const std::string& bytes) {
    std::string m = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                    static_cast<unsigned char>(bytes[1]) == 0xFE ? bytes.substr(2) : bytes;
    const unsigned long long bits = static_cast<unsigned long long>(m.size()) * 8;
    m.push_back(static_cast<char>(0x80));
    while (m.size() % 64 != 56) m.push_back('\0');
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
    unsigned h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    for (size_t off = 0; off < m.size(); off += 64)
        Sha256Block(reinterpret_cast<const unsigned char*>(m.data()) + off, h);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned v : h)
        for (int i = 28; i >= 0; i -= 4) out.push_back(kHex[(v >> i) & 15]);
    return out;
}

}  // namespace vellum::extract
