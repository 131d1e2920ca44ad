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

}  // namespace vellum::extract
