// Decisions of EXTRACT.EXE about a whole plan (several cabinets in one run)
// that need no cabinet and no file system: the plan file, which member of a
// name is the one that ends up in the folder, the listing and progress
// records, and the exit code that names the failed cabinet.
#pragma once

#include <string>
#include <vector>

namespace vellum::extract {

// The lines of a plan file ("@file" on the command line): one cabinet a line,
// blank lines skipped, surrounding blanks and quotes removed. A byte-order
// mark chooses UTF-16LE or UTF-8; without one the bytes are in the ANSI code
// page (as the script host writes them). Returns false with *error set for a
// file that cannot be a plan (odd UTF-16 length, a line naming another plan).
bool DecodePlanFile(const std::string& bytes, std::vector<std::wstring>* cabinets, std::wstring* error);

// names[c] holds the member paths of cabinet c in file-table order. The
// result marks, in the same shape, the members that end up in the folder:
// the last one of each name (letters compared without case, as the file
// system does), since a later one would replace it.
std::vector<std::vector<bool>> LastOfTheirName(const std::vector<std::vector<std::wstring>>& names);

// What a comparison found for one member.
enum class Finding { kSame, kMissing, kSize, kChanged };
const wchar_t* FindingWord(Finding finding);  // same, missing, size, changed

// One line of the listing file: "<status>\t<size>\t<path>\r\n" (the path
// relative to the folder). Cabinet lines are ListingLine(L"cabinet", index, path).
std::wstring ListingLine(const wchar_t* status, unsigned long long number, const std::wstring& path);

// The exit code of a plan: the reason (0-4, as for one cabinet) plus ten
// times the failed cabinet's position in the plan counted from 0, so that a
// one-cabinet run keeps the codes it always had. 0 stays 0.
int PlanExitCode(int reason, size_t cabinetIndex);

// The progress record: one ASCII line,
// "<phase> <done> <total> <cabinets done> <cabinets> <exit code>\r\n",
// the exit code -1 until the phase is "end".
struct ProgressState {
    const char* phase = "check";
    unsigned long long done = 0;
    unsigned long long total = 0;
    size_t cabinetsDone = 0;
    size_t cabinets = 0;
    int exitCode = -1;
};
std::string ProgressRecord(const ProgressState& state);

// Says when the progress record is due again: at every cabinet and whenever
// another `step` bytes are done since the last record.
class ProgressClock {
public:
    explicit ProgressClock(unsigned long long step) : step_(step), next_(step) {}
    // True when `done` has reached the next mark; the mark then moves on.
    bool Due(unsigned long long done);
    void Reset(unsigned long long done) { next_ = done + step_; }

private:
    unsigned long long step_;
    unsigned long long next_;
};

// A 64-bit FNV-1a hash of a cabinet image: the image read again for writing
// must be the one that was checked.
unsigned long long Fingerprint(const unsigned char* data, size_t size);

// The SHA-256 of bytes, as 64 lower-case hex digits.
std::string Sha256Hex(const unsigned char* data, size_t size);

// The digest the installation keeps for its list of installed files: the
// SHA-256 of the file's UTF-16LE text, a leading byte-order mark left out
// (the script host writes one and hashes the text after it).
std::string TextFileDigest(const std::string& bytes);

}  // namespace vellum::extract
