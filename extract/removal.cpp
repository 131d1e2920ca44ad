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

}  // namespace vellum::extract
