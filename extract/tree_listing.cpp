#include "tree_listing.h"

#include <algorithm>
#include <cwctype>

#include "plan.h"

namespace vellum::extract {

namespace {

bool NameBefore(const TreeEntry& a, const TreeEntry& b) {
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [](wchar_t x, wchar_t y) { return std::towlower(x) < std::towlower(y); });
}

bool Walk(const EnumerateFolder& enumerate, const std::wstring& relative, int depth, int maxDepth,
          std::wstring* listing, std::wstring* error) {
    // Deeper than any path the system takes can only be a loop the walk was
    // not told about.
    if (depth > 200) {
        *error = relative + L": the tree is deeper than any path can be";
        return false;
    }
    std::vector<TreeEntry> entries;
    std::wstring why;
    if (!enumerate(relative, &entries, &why)) {
        *error = relative.empty() ? why : relative + L": " + why;
        return false;
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const TreeEntry& e) { return e.name.empty() || e.name == L"." || e.name == L".."; }),
                  entries.end());
    std::sort(entries.begin(), entries.end(), NameBefore);
    // A folder's own entries first, then what its subfolders hold.
    std::vector<std::wstring> folders;
    for (const TreeEntry& e : entries) {
        const std::wstring path = relative.empty() ? e.name : relative + L"\\" + e.name;
        if (e.link) {
            *listing += ListingLine(L"link", 0, path);
        } else if (e.folder) {
            *listing += ListingLine(L"folder", 0, path);
            folders.push_back(path);
        } else {
            *listing += ListingLine(L"file", e.size, path);
        }
    }
    if (depth >= maxDepth) return true;
    for (const std::wstring& folder : folders)
        if (!Walk(enumerate, folder, depth + 1, maxDepth, listing, error)) return false;
    return true;
}

}  // namespace

bool ListTree(const EnumerateFolder& enumerate, std::wstring* listing, std::wstring* error, bool shallow) {
    std::wstring out;
    // Past the deepest path the system takes, so Walk's own limit is met first.
    if (!Walk(enumerate, std::wstring(), 0, shallow ? 0 : 1000, &out, error)) return false;
    *listing += out;
    return true;
}

}  // namespace vellum::extract
