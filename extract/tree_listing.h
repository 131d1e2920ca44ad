// The folder listing of EXTRACT.EXE (/T): what a folder tree holds, for the
// installation script, whose own folder objects cannot be enumerated
// everywhere. Plain logic over an enumeration callback, so that a unit test
// can drive it without a file system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellum::extract {

struct TreeEntry {
    std::wstring name;            // its own name, no path
    bool folder = false;
    bool link = false;            // a reparse point (junction, symbolic link): never entered
    unsigned long long size = 0;  // files only
};

// Fills *entries with what the folder (relative to the listed root, "" for
// the root itself) holds, "." and ".." included or not; false with *error
// set when it cannot be read.
using EnumerateFolder =
    std::function<bool(const std::wstring& relative, std::vector<TreeEntry>* entries, std::wstring* error)>;

// The listing lines of the whole tree below the root, each folder's own
// entries in name order (letters compared without case) before what its
// subfolders hold, so parents come before their contents: "folder\t0\t<path>", "file\t<size>\t<path>", "link\t0\t<path>", the
// path relative to the root. A link is reported, never followed. Returns
// false with *error set (naming the folder) when a folder cannot be read.
// Shallow: the root's own entries only, its subfolders not entered.
bool ListTree(const EnumerateFolder& enumerate, std::wstring* listing, std::wstring* error, bool shallow = false);

}  // namespace vellum::extract
