// Decisions of EXTRACT.EXE that need no cabinet and no file system: the
// command line and the check of a member name before it becomes a path.
#pragma once

#include <string>
#include <vector>

namespace vellum::extract {

enum class Mode {
    kExtract,  // the default: write every member
    kList,     // /D: list the members, write nothing
    kCompare,  // /C: compare the members with the files in the folder, write nothing
    kUpdate,   // /U: compare, then write only the members that are missing or differ
    kTree,     // /T <folder>: list what a folder tree holds, no cabinet
    kRemove,   // /R <folder> <list>: delete the listed files and empty folders below it
};

struct Options {
    bool overwrite = false;   // /Y: replace existing files without asking
    Mode mode = Mode::kExtract;
    std::wstring destination; // /L <folder> (or /T, /R <folder>); empty = the current folder
    // The plan in order; an entry starting with '@' names a plan file whose
    // lines are cabinets (read by the caller, see DecodePlanFile). /R: the
    // removal list, the one entry.
    std::vector<std::wstring> cabinets;
    std::wstring listing;     // /O <file>: the listing or comparison report
    std::wstring progress;    // /P <file>: the progress record
    std::wstring registry;    // /K <file> with /R: the registry keys and values to delete after the files
    // /V <file> <digest> with /R: the text the list was made from, and its kept digest (TextDigest)
    std::wstring trustedText;
    std::wstring trustedDigest;
    bool shallow = false;     // /S with /T: the folder's own entries only
    // /W <folder> <file>: after a whole extraction, the folder listing of
    // another folder (as /T /O writes it) into this file.
    std::wstring treeFolder;
    std::wstring treeListing;
    // /M <file> <copy>: after a whole extraction, a copy of the file and the
    // digest of the very bytes copied (see TextDigest) in the listing.
    std::wstring digestFile;
    std::wstring digestCopy;
    // /A <folder below the destination>: a copy of every cabinet of the
    // plan, under its own name, as each is extracted.
    std::wstring copies;
    bool help = false;        // /? or no arguments
};

// Parses the arguments after the program name. On a usage error returns
// false and sets *error to a message for the user.
bool ParseCommandLine(const std::vector<std::wstring>& args, Options* options,
                      std::wstring* error);

// Turns a member name from a cabinet into a relative path below the
// destination (separators made backslashes). Returns false, and leaves *out
// unchanged, for a name that could reach outside the destination or is not
// a plain relative path: empty, absolute, with a drive or stream colon, or
// with a ".." component; also for a component that Windows would not take as
// the file it names: a device name (see IsDeviceName) or one ending in a dot
// or a blank. Empty components ("a\\\\b") and "." are dropped.
bool SafeRelativePath(const std::wstring& memberName, std::wstring* out);

// True for a path component that opens a device instead of a file: CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9 (also CONIN$ and CONOUT$), in any letter
// case, alone or followed by an extension ("nul.txt") or blanks.
bool IsDeviceName(const std::wstring& component);

// The folders to create, outermost first, for a relative file path
// ("a\\b\\c.txt" gives "a", "a\\b").
std::vector<std::wstring> ParentFolders(const std::wstring& relativePath);

// Checks the structure of a whole cabinet file held in memory, the checksum
// of every data block that carries one, and that every file the file table
// names lies within its folder's data (a cabinet may claim more bytes than it
// holds). The cabinet functions of
// some systems skip the checksums, so damaged stored data would otherwise be
// written out as if it were sound. Returns false with *error set.
bool VerifyCabinet(const unsigned char* data, size_t size, std::wstring* error);

// The cabinet checksum: XOR of the little-endian 32-bit words, the trailing
// one to three bytes taken big-endian, starting from seed.
unsigned long CabinetChecksum(const unsigned char* data, size_t size, unsigned long seed);

extern const wchar_t kUsage[];

}  // namespace vellum::extract
