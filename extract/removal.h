// The removal mode of EXTRACT.EXE (/R): deletes the files and empty folders
// of a list below one folder in a single run, never through a link. Plain
// logic over a small file-system interface, so that a unit test can drive
// it without a file system.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vellum::extract {

struct RemovalEntry {
    bool folder = false;
    std::wstring path;  // relative to the root, checked
};

// The lines of a removal list: "file<TAB><path>" or "folder<TAB><path>",
// acted on in their order (blank lines skipped), in a file as DecodePlanFile
// reads it. Returns false with *error set for a line of another form or a
// path that is not a plain relative path inside the root (SafeRelativePath):
// nothing of such a list is acted on.
bool DecodeRemovalList(const std::string& bytes, std::vector<RemovalEntry>* entries, std::wstring* error);

// What stands at a path below the root ("" is the root itself).
enum class Found { kNothing, kFile, kFolder, kLink };

struct RemovalFileSystem {
    std::function<Found(const std::wstring& relative)> what;
    // Delete one file (a link to a file: the link itself); false with *error
    // set, also when there is none or it is a folder.
    std::function<bool(const std::wstring& relative, std::wstring* error)> deleteFile;
    // Remove one folder; *notEmpty set when it holds something.
    std::function<bool(const std::wstring& relative, bool* notEmpty, std::wstring* error)> removeFolder;
};

enum RemovalCode : int {
    kRemovalDone = 0,       // every entry removed, missing, or a folder kept (it holds something or is a link)
    kRemovalFailed = 3,     // an entry could not be deleted: the run stopped there
    kRemovalLink = 5,       // a link on the way: nothing was removed (or, met later, the run stopped there)
};

struct RemovalResult {
    int code = kRemovalDone;
    std::wstring failure;   // for the end line
    size_t removed = 0;
};

// Removes the entries in order and reports each into *report (ListingLine):
//   removed  / missing    what it did
//   notempty              a folder kept: it holds files (the user's)
//   link                  kept: it is a link, or a link is on its way
//   other                 kept: a folder where a file is listed, or the reverse
//   failed                it could not be deleted; the run stops there
// Before anything is deleted, the way to every entry (the root and each
// folder above it) is checked: a link there means no entry is touched. The
// way is checked again before the first entry of each folder goes. progress(done, total)
// follows the entries; halfway() is called once half the files are gone.
RemovalResult RemoveListed(const std::vector<RemovalEntry>& entries, const RemovalFileSystem& fs,
                           std::wstring* report, const std::function<void(size_t, size_t)>& progress,
                           const std::function<void()>& halfway);

}  // namespace vellum::extract
