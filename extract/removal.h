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
    kRemovalRegistry = 6,   // every file went, but a registry key or value could not be deleted
    kRemovalUntrusted = 7,  // the text the list was made from is not the one its digest names: nothing was removed
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

// ---- the registry part of a removal (/K) ----
//
// The uninstall entry and the values kept for an installation go in the same
// run, after every file has gone (while a file stays, the entry must still
// work to uninstall again). The list's lines (a file as DecodePlanFile reads
// it):
//   view<TAB>32 or view<TAB>64  the registry view of the program that wrote
//                               them (optional; default: this program's own)
//   key<TAB><hive>\<path>       a key to delete: only an uninstall entry
//                               (Software\Microsoft\Windows\CurrentVersion\Uninstall\<name>)
//   value<TAB><hive>\<path>\<name>  a value to delete, in a vendor's key
//                               (Software\<vendor>\<product>..., not the
//                               system's own) or in an uninstall entry
// The hive is HKLM or HKCU (or their long names). Anything else refuses
// the whole list: nothing of it is acted on.
struct RegistryItem {
    bool machine = true;   // HKLM, else HKCU
    std::wstring key;      // below the hive, no empty component
    bool isValue = false;
    std::wstring value;    // the value's name when isValue
    std::wstring given;    // as the list names it, for the report
};

struct RegistryList {
    int view = 0;  // 0: this program's own; 32 or 64
    std::vector<RegistryItem> items;
};

bool DecodeRegistryList(const std::string& bytes, RegistryList* list, std::wstring* error);

enum class RegistryOutcome { kRemoved, kMissing, kFailed };

// Deletes the items in order, each whatever became of the others, and
// reports each into *report: regremoved, regmissing or regfailed with the
// item as given. remove(item, &why) does one. The code is kRemovalRegistry
// when one failed (failure: the first), else kRemovalDone.
RemovalResult RemoveRegistryItems(const std::vector<RegistryItem>& items,
                                  const std::function<RegistryOutcome(const RegistryItem&, std::wstring*)>& remove,
                                  std::wstring* report);

}  // namespace vellum::extract
