// EXTRACT.EXE: extracts every file of one cabinet or of a whole plan of
// cabinets into a folder, creating the cabinets' subfolders; lists them, or
// compares them with the files of a folder and writes only what is missing or
// differs. The command line is described in kUsage (cabinet_paths.cpp).
//
// Every cabinet of a plan is read whole and checked (structure, data-block
// checksums, names, files already in the way) before the first file is
// written; when its turn comes it is read again and must be the same bytes,
// and the cabinet functions decompress from that checked image in memory.
//
// The cabinet functions of cabinet.dll (FDI) take ANSI names, but they only
// hand them back to our own open callback: they are given a fixed name that
// the callback answers with the image in memory, and every file is opened
// with the wide Win32 calls, so that cabinets and destinations with any
// Unicode name work. cabinet.dll is
// loaded from the system folder by full path: this program runs from the
// user's temporary folder, where a planted DLL must not stand in for it.
#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cabinet_paths.h"
#include "plan.h"
#include "removal.h"
#include "text_digest.h"
#include "tree_listing.h"
#include "dll_hardening.h"
#include "strings.h"
#include "system.h"

namespace {

using vellum::extract::Finding;
using vellum::extract::Mode;
using vellum::extract::Options;

enum ExitCode : int {
    kOk = 0,
    kUsage = 1,
    kBadCabinet = 2,
    kWriteFailed = 3,
    kUnsafeName = 4,
};

// False when the text did not all get out (a listing read by the
// installation script must never be cut short silently).
bool Print(DWORD stdHandle, const std::wstring& text) {
    HANDLE h = ::GetStdHandle(stdHandle);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0, written = 0;
    if (::GetConsoleMode(h, &mode)) {
        return ::WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
               written == text.size();
    }
    std::string bytes = vellum::WideToBytes(text, CP_ACP);
    return ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void Error(const std::wstring& text) { Print(STD_ERROR_HANDLE, L"EXTRACT: " + text + L"\r\n"); }

std::wstring ErrorText(DWORD code) {
    std::wstring text = vellum::SystemMessage(code);
    return text.empty() ? vellum::Format(L"error %lu", code) : text;
}

// ---- what an FDI handle stands for ----

struct Stream {
    enum Kind { kImage, kOutput, kCompare } kind;
    size_t pos = 0;                      // kImage: read position in the session's image
    HANDLE file = INVALID_HANDLE_VALUE;  // kOutput: the temporary file; kCompare: the installed one
};

// The name the cabinet functions are given for the image in memory.
char kImageName[] = "vellum-cabinet-image";
char kImageFolder[] = "";

struct Member {
    std::wstring path;  // relative to the folder, checked
    unsigned long long size = 0;
};

struct Cabinet {
    std::wstring path;  // full path
    unsigned long long bytes = 0;
    unsigned long long fingerprint = 0;
    std::vector<Member> members;
    std::vector<bool> final;         // the member that ends up in the folder under its name
    std::vector<Finding> findings;   // /C and /U
};

enum class Pass { kNames, kCompare, kWrite };

struct Session {
    Options options;
    std::wstring destination;  // with a trailing backslash
    Pass pass = Pass::kNames;
    std::vector<Cabinet> cabinets;
    size_t current = 0;        // the cabinet being worked on
    size_t nextMember = 0;     // file-table index of the next member the cabinet functions offer
    std::vector<unsigned char> image;
    size_t loaded = SIZE_MAX;  // the cabinet whose checked image is in memory
    int exitCode = kOk;
    std::wstring failure;
    Stream* output = nullptr;  // file being written or compared
    size_t outputMember = 0;
    std::wstring openPath;     // its temporary name
    std::wstring finalPath;    // the name it takes once complete
    unsigned long long expected = 0;  // the size the cabinet gives for it
    unsigned long long written = 0;
    bool differs = false;      // /C and /U: the installed file differs
    std::vector<unsigned char> compareBuffer;
    vellum::extract::ProgressState progress;
    vellum::extract::ProgressClock clock{1u << 20};
    std::wstring progressPath, progressTemp;
    std::wstring listing;
    HANDLE listingFile = INVALID_HANDLE_VALUE;
    // Folders below the destination known to exist (lower case): each is
    // made or checked once a run, not once for every file it holds.
    std::set<std::wstring> folders;
};

Session* g_session = nullptr;

void Fail(int code, const std::wstring& message) {
    if (g_session->exitCode == kOk) {
        g_session->exitCode = code;
        g_session->failure = message;
    }
}

// ---- the progress record: a small file replaced whole, so that a reader
// never sees half of it ----

bool WriteProgress(bool mustLand) {
    Session& s = *g_session;
    if (s.progressPath.empty()) return true;
    const std::string record = vellum::extract::ProgressRecord(s.progress);
    // A reader that holds the file open may refuse the replacement for a
    // moment: the final record waits for it, the others are simply skipped.
    for (int attempt = 0; attempt < (mustLand ? 250 : 1); ++attempt) {
        if (attempt > 0) ::Sleep(20);
        HANDLE h = ::CreateFileW(s.progressTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        DWORD put = 0;
        bool ok = ::WriteFile(h, record.data(), static_cast<DWORD>(record.size()), &put, nullptr) &&
                  put == record.size();
        ok = ::CloseHandle(h) && ok;
        if (ok && ::MoveFileExW(s.progressTemp.c_str(), s.progressPath.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        ::DeleteFileW(s.progressTemp.c_str());
    }
    return false;
}

void AddDone(unsigned long long bytes) {
    Session& s = *g_session;
    s.progress.done += bytes;
    if (s.clock.Due(s.progress.done)) WriteProgress(false);
}

void StartPhase(const char* phase, unsigned long long total) {
    Session& s = *g_session;
    s.progress.phase = phase;
    s.progress.done = 0;
    s.progress.total = total;
    s.progress.cabinetsDone = 0;
    s.clock.Reset(0);
    WriteProgress(false);
}

void CabinetDone() {
    Session& s = *g_session;
    ++s.progress.cabinetsDone;
    s.clock.Reset(s.progress.done);
    WriteProgress(false);
}

// For tests of what follows the progress record: while the file that
// VELLUM_TEST_EXTRACT_HOLD names exists (at most five minutes), the writing
// waits after each cabinet, so a reader sees the records between cabinets
// however fast the machine is.
void HoldForTest() {
    wchar_t hold[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"VELLUM_TEST_EXTRACT_HOLD", hold, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    for (int i = 0; i < 6000 && ::GetFileAttributesW(hold) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(50);
}

// For tests of a removal or an extraction killed half-way: with
// VELLUM_TEST_STOP_AT=deleting (once half the files are gone) or =extracting
// (once the first cabinet is written) this run creates the file
// VELLUM_TEST_STOP_FILE names and waits while it exists (at most five
// minutes). When the script that started it is killed meanwhile, this run
// ends there as well, as it would have with the script.
void StopForTest(const wchar_t* step) {
    wchar_t at[64], file[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableW(L"VELLUM_TEST_STOP_AT", at, 64);
    if (n == 0 || n >= 64 || std::wstring(at) != step) return;
    n = ::GetEnvironmentVariableW(L"VELLUM_TEST_STOP_FILE", file, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE parent = nullptr;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W pe;
        pe.dwSize = sizeof(pe);
        for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe))
            if (pe.th32ProcessID == ::GetCurrentProcessId()) parent = ::OpenProcess(SYNCHRONIZE, FALSE, pe.th32ParentProcessID);
        ::CloseHandle(snap);
    }
    HANDLE h = ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    for (int i = 0; i < 6000 && ::GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES; ++i) {
        if (parent && ::WaitForSingleObject(parent, 50) == WAIT_OBJECT_0) ::TerminateProcess(::GetCurrentProcess(), 255);
        if (!parent) ::Sleep(50);
    }
    if (parent) ::CloseHandle(parent);
}

// ---- FDI file callbacks ----

FNALLOC(FdiAlloc) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }

FNOPEN(FdiOpen) {
    (void)oflag;
    (void)pmode;
    // Only the checked image is ever opened: the cabinet functions get no
    // file of their own (a cabinet continued in another one is refused).
    if (std::strcmp(pszFile, kImageName) != 0) return -1;
    return reinterpret_cast<INT_PTR>(new Stream{Stream::kImage});
}

FNREAD(FdiRead) {
    Stream* s = reinterpret_cast<Stream*>(hf);
    if (s->kind != Stream::kImage) return static_cast<UINT>(-1);
    const std::vector<unsigned char>& image = g_session->image;
    size_t n = s->pos < image.size() ? image.size() - s->pos : 0;
    if (n > cb) n = cb;
    if (n) std::memcpy(pv, image.data() + s->pos, n);
    s->pos += n;
    return static_cast<UINT>(n);
}

FNWRITE(FdiWrite) {
    Stream* s = reinterpret_cast<Stream*>(hf);
    Session& session = *g_session;
    if (s->kind == Stream::kImage) return static_cast<UINT>(-1);
    if (s != session.output) return static_cast<UINT>(-1);
    session.written += cb;
    AddDone(cb);
    if (s->kind == Stream::kCompare) {
        if (session.differs || cb == 0) return cb;
        if (session.compareBuffer.size() < cb) session.compareBuffer.resize(cb);
        DWORD got = 0;
        if (!::ReadFile(s->file, session.compareBuffer.data(), cb, &got, nullptr)) {
            Fail(kWriteFailed, L"cannot read " + session.finalPath + L": " + ErrorText(::GetLastError()));
            return static_cast<UINT>(-1);
        }
        if (got != cb || std::memcmp(session.compareBuffer.data(), pv, cb) != 0) session.differs = true;
        return cb;
    }
    DWORD put = 0;
    const BOOL ok = ::WriteFile(s->file, pv, cb, &put, nullptr);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (!ok || put != cb) {
        session.written -= cb - put;
        Fail(kWriteFailed, L"cannot write " + session.finalPath + L": " +
                               ErrorText(error ? error : ERROR_DISK_FULL));
        return static_cast<UINT>(-1);
    }
    return put;
}

FNCLOSE(FdiClose) {
    Stream* s = reinterpret_cast<Stream*>(hf);
    if (s->kind == Stream::kImage) {
        delete s;
        return 0;
    }
    // An output stream stays the session's until it is completed or discarded.
    BOOL ok = TRUE;
    if (s->file != INVALID_HANDLE_VALUE) ok = ::CloseHandle(s->file);
    s->file = INVALID_HANDLE_VALUE;
    if (s != g_session->output) delete s;
    return ok ? 0 : -1;
}

FNSEEK(FdiSeek) {
    Stream* s = reinterpret_cast<Stream*>(hf);
    if (s->kind != Stream::kImage) return -1;
    long long base = seektype == SEEK_CUR ? static_cast<long long>(s->pos)
                     : seektype == SEEK_END ? static_cast<long long>(g_session->image.size())
                                            : 0;
    long long to = base + dist;
    if (to < 0) return -1;
    s->pos = static_cast<size_t>(to);
    return static_cast<long>(to);
}

std::wstring MemberName(const FDINOTIFICATION* n) {
    std::string raw = n->psz1 ? n->psz1 : "";
    return (n->attribs & _A_NAME_IS_UTF) ? vellum::Utf8ToWide(raw)
                                         : vellum::BytesToWide(raw, CP_ACP);
}

bool CreateFolders(const std::wstring& relative) {
    for (const std::wstring& folder : vellum::extract::ParentFolders(relative)) {
        std::wstring key = folder;
        for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
        if (!g_session->folders.insert(key).second) continue;
        std::wstring full = g_session->destination + folder;
        if (!::CreateDirectoryW(full.c_str(), nullptr)) {
            DWORD err = ::GetLastError();
            DWORD attrs = ::GetFileAttributesW(full.c_str());
            if (err != ERROR_ALREADY_EXISTS || attrs == INVALID_FILE_ATTRIBUTES ||
                !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                Fail(kWriteFailed, L"cannot create the folder " + full + L": " + ErrorText(err));
                return false;
            }
        }
    }
    return true;
}

// Closes and removes the file being written: a file that failed never
// stays behind, and never takes the place of the one it was to replace.
// A file being compared is only closed.
void DiscardOpenFile() {
    Session& s = *g_session;
    if (s.output) {
        if (s.output->file != INVALID_HANDLE_VALUE) ::CloseHandle(s.output->file);
        delete s.output;
        s.output = nullptr;
    }
    if (!s.openPath.empty()) {
        ::SetFileAttributesW(s.openPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(s.openPath.c_str());
        s.openPath.clear();
    }
}

const wchar_t kUnsafeText[] =
    L"the cabinet names a file outside the destination folder, a device, or a name ending in a dot or a blank: ";

INT_PTR NamesNotification(FDINOTIFICATION* n) {
    std::wstring member = MemberName(n);
    std::wstring relative;
    if (!vellum::extract::SafeRelativePath(member, &relative)) {
        Fail(kUnsafeName, kUnsafeText + member);
        return -1;
    }
    g_session->cabinets[g_session->current].members.push_back(Member{relative, static_cast<unsigned long>(n->cb)});
    return 0;  // nothing is written in this pass
}

INT_PTR CompareNotification(const Member& member) {
    Session& s = *g_session;
    Cabinet& cab = s.cabinets[s.current];
    const std::wstring path = s.destination + member.path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        cab.findings[s.nextMember - 1] = Finding::kMissing;
        AddDone(member.size);
        return 0;
    }
    const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size != member.size) {
        cab.findings[s.nextMember - 1] = Finding::kSize;
        AddDone(member.size);
        return 0;
    }
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail(kWriteFailed, L"cannot read " + path + L": " + ErrorText(::GetLastError()));
        return -1;
    }
    s.output = new Stream{Stream::kCompare, 0, h};
    s.outputMember = s.nextMember - 1;
    s.finalPath = path;
    s.expected = member.size;
    s.written = 0;
    s.differs = false;
    return reinterpret_cast<INT_PTR>(s.output);
}

INT_PTR WriteNotification(const Member& member) {
    Session& s = *g_session;
    if (!CreateFolders(member.path)) return -1;
    std::wstring path = s.destination + member.path;
    DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        const bool replace = s.options.overwrite || s.options.mode == Mode::kUpdate;
        if ((attrs & FILE_ATTRIBUTE_DIRECTORY) || !replace) {
            Fail(kWriteFailed, path + ((attrs & FILE_ATTRIBUTE_DIRECTORY)
                                           ? L" is a folder"
                                           : L" exists already (use /Y to replace it)"));
            return -1;
        }
    }
    // Written under a temporary name in the same folder (so that the rename
    // stays on one volume) and put in place only when complete.
    size_t cut = path.find_last_of(L'\\');
    std::wstring folder = path.substr(0, cut + 1);
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE && error == ERROR_FILE_EXISTS; ++attempt) {
        s.openPath = folder + vellum::Format(L"~vx%lx%x.tmp", ::GetCurrentProcessId(), ++counter);
        h = ::CreateFileW(s.openPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    }
    if (h == INVALID_HANDLE_VALUE) {
        s.openPath.clear();  // not ours: never removed
        Fail(kWriteFailed, L"cannot create " + path + L": " + ErrorText(error));
        return -1;
    }
    s.output = new Stream{Stream::kOutput, 0, h};
    s.outputMember = s.nextMember - 1;
    s.finalPath = path;
    s.expected = member.size;
    s.written = 0;
    return reinterpret_cast<INT_PTR>(s.output);
}

// /A: a copy of the current cabinet's checked image, under the cabinet's
// own name in the folder below the destination, written under a temporary
// name and put in place only when every byte is written and the file
// closed; listed as "copy".
bool KeepCopy(size_t index) {
    Session& s = *g_session;
    const Cabinet& cab = s.cabinets[index];
    const std::wstring name = cab.path.substr(cab.path.find_last_of(L"\\/") + 1);
    std::wstring relative;
    if (!vellum::extract::SafeRelativePath(s.options.copies + L"\\" + name, &relative)) {
        Fail(kUnsafeName, L"the cabinet's name cannot be used for its copy: " + name);
        return false;
    }
    if (!CreateFolders(relative)) return false;
    const std::wstring path = s.destination + relative;
    const DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && ((attrs & FILE_ATTRIBUTE_DIRECTORY) || !s.options.overwrite)) {
        Fail(kWriteFailed, path + ((attrs & FILE_ATTRIBUTE_DIRECTORY) ? L" is a folder"
                                                                      : L" exists already (use /Y to replace it)"));
        return false;
    }
    static unsigned counter = 0;
    const std::wstring temp = path.substr(0, path.find_last_of(L'\\') + 1) +
                              vellum::Format(L"~vx%lxc%x.tmp", ::GetCurrentProcessId(), ++counter);
    HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Fail(kWriteFailed, L"cannot create " + path + L": " + ErrorText(::GetLastError()));
        return false;
    }
    DWORD put = 0;
    bool ok = s.image.empty() ||
              (::WriteFile(h, s.image.data(), static_cast<DWORD>(s.image.size()), &put, nullptr) &&
               put == s.image.size());
    DWORD err = ok ? 0 : ::GetLastError();
    if (!::CloseHandle(h) && ok) {
        ok = false;
        err = ::GetLastError();
    }
    if (ok && !::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        err = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temp.c_str());
        Fail(kWriteFailed, L"cannot write the copy " + path + L": " + ErrorText(err));
        return false;
    }
    s.listing += vellum::extract::ListingLine(L"copy", s.image.size(), relative);
    return true;
}

INT_PTR CopyFileNotification(FDINOTIFICATION* n) {
    Session& s = *g_session;
    // After a failure no further file is begun (the cabinet functions may
    // go on to the next one).
    if (s.exitCode != kOk) return -1;
    if (s.pass == Pass::kNames) return NamesNotification(n);
    Cabinet& cab = s.cabinets[s.current];
    const size_t index = s.nextMember++;
    // The image is the one checked, so its members come in the same order.
    if (index >= cab.members.size()) {
        Fail(kBadCabinet, L"the cabinet offers more files than its table holds");
        return -1;
    }
    const Member& member = cab.members[index];
    if (!cab.final[index]) return 0;  // a later cabinet's file of this name replaces it
    if (s.pass == Pass::kCompare) return CompareNotification(member);
    if (s.options.mode == Mode::kUpdate && cab.findings[index] == Finding::kSame) return 0;
    return WriteNotification(member);
}

INT_PTR CloseFileNotification(FDINOTIFICATION* n) {
    Session& s = *g_session;
    Stream* stream = reinterpret_cast<Stream*>(n->hf);
    if (stream != s.output) return FALSE;
    Cabinet& cab = s.cabinets[s.current];
    if (s.written != s.expected) {
        // Fewer (or more) bytes than the cabinet declares: a lying or damaged cabinet.
        Fail(kBadCabinet, vellum::Format(L"%I64u of %I64u", s.written, s.expected) +
                              L" bytes could be extracted for " + s.finalPath);
        DiscardOpenFile();
        return FALSE;
    }
    if (stream->kind == Stream::kCompare) {
        cab.findings[s.outputMember] = s.differs ? Finding::kChanged : Finding::kSame;
        DiscardOpenFile();
        return TRUE;
    }
    HANDLE h = stream->file;
    FILETIME local, utc;
    if (::DosDateTimeToFileTime(n->date, n->time, &local) && ::LocalFileTimeToFileTime(&local, &utc))
        ::SetFileTime(h, nullptr, nullptr, &utc);
    stream->file = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) {
        Fail(kWriteFailed, L"cannot complete " + s.finalPath + L": " + ErrorText(::GetLastError()));
        DiscardOpenFile();
        return FALSE;
    }
    DWORD old = ::GetFileAttributesW(s.finalPath.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        ::SetFileAttributesW(s.finalPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::MoveFileExW(s.openPath.c_str(), s.finalPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DWORD err = ::GetLastError();
        if (old != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(s.finalPath.c_str(), old);
        Fail(kWriteFailed, L"cannot put " + s.finalPath + L" in place: " + ErrorText(err));
        DiscardOpenFile();
        return FALSE;
    }
    s.openPath.clear();
    DiscardOpenFile();
    DWORD keep = n->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    // A new file has the archive attribute already: setting it alone would
    // only open the file once more (under Wine a costly server call).
    if (keep & ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE)) ::SetFileAttributesW(s.finalPath.c_str(), keep);
    const Member& member = cab.members[s.outputMember];
    if (s.options.mode == Mode::kExtract) s.listing += vellum::extract::ListingLine(L"file", member.size, member.path);
    s.finalPath.clear();
    return TRUE;
}

FNFDINOTIFY(Notify) {
    switch (fdint) {
    case fdintCOPY_FILE:
        return CopyFileNotification(pfdin);
    case fdintCLOSE_FILE_INFO:
        return CloseFileNotification(pfdin);
    case fdintNEXT_CABINET:
        Fail(kBadCabinet, L"the cabinet continues in another cabinet, which this tool does not read");
        return -1;
    default:
        return 0;
    }
}

std::wstring FdiErrorText(int oper) {
    switch (oper) {
    case FDIERROR_CABINET_NOT_FOUND: return L"the cabinet cannot be opened";
    case FDIERROR_NOT_A_CABINET: return L"the file is not a cabinet";
    case FDIERROR_UNKNOWN_CABINET_VERSION: return L"unknown cabinet version";
    case FDIERROR_CORRUPT_CABINET: return L"the cabinet is damaged";
    case FDIERROR_ALLOC_FAIL: return L"out of memory";
    case FDIERROR_BAD_COMPR_TYPE: return L"unknown compression type";
    case FDIERROR_MDI_FAIL: return L"the cabinet's data is damaged (decompression failed)";
    case FDIERROR_TARGET_FILE: return L"a file cannot be written";
    case FDIERROR_RESERVE_MISMATCH: return L"the cabinet's reserve sizes are inconsistent";
    case FDIERROR_WRONG_CABINET: return L"the cabinet is not the expected one of its set";
    default: return vellum::Format(L"cabinet error %d", oper);
    }
}

using FdiCreateFn = decltype(&FDICreate);
using FdiIsCabinetFn = decltype(&FDIIsCabinet);
using FdiCopyFn = decltype(&FDICopy);
using FdiDestroyFn = decltype(&FDIDestroy);

std::wstring FullPath(const std::wstring& path) {
    DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    n = ::GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    full.resize(n);
    return full;
}

bool EnsureFolder(const std::wstring& folder) {
    // Create each missing level, so that /L may name a new folder tree.
    std::wstring path = FullPath(folder);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':' &&
        !EnsureFolder(path.substr(0, cut)))
        return false;
    return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

// Reads a whole file (a cabinet or a plan) into memory.
bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>* data, std::wstring* error) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = L"cannot be opened: " + ErrorText(::GetLastError());
        return false;
    }
    DWORD high = 0;
    DWORD size = ::GetFileSize(h, &high);
    bool ok = high == 0 && size != INVALID_FILE_SIZE && size < (1u << 30);
    if (ok) {
        data->resize(size);
        DWORD got = 0;
        ok = size == 0 || (::ReadFile(h, data->data(), size, &got, nullptr) && got == size);
    }
    ::CloseHandle(h);
    if (!ok) *error = L"cannot be read";
    return ok;
}

struct Fdi {
    FdiIsCabinetFn isCabinet;
    FdiCopyFn copy;
    HFDI context;
    ERF* erf;
};

// Loads the cabinet's image into the session. In the first pass it is
// checked whole; later it must be the very image that was checked.
bool LoadCabinet(size_t index, bool first) {
    Session& s = *g_session;
    Cabinet& cab = s.cabinets[index];
    if (!first && s.loaded == index) return true;  // still in memory
    s.loaded = SIZE_MAX;
    std::wstring error;
    DWORD attrs = ::GetFileAttributesW(cab.path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        Fail(kBadCabinet, L"the cabinet does not exist");
        return false;
    }
    if (!ReadWholeFile(cab.path, &s.image, &error)) {
        Fail(kBadCabinet, L"the cabinet " + error);
        return false;
    }
    const unsigned long long print = vellum::extract::Fingerprint(s.image.data(), s.image.size());
    if (!first) {
        if (print != cab.fingerprint) {
            Fail(kBadCabinet, L"the cabinet changed while the plan was being carried out");
            return false;
        }
        s.loaded = index;
        return true;
    }
    if (!vellum::extract::VerifyCabinet(s.image.data(), s.image.size(), &error)) {
        Fail(kBadCabinet, error);
        return false;
    }
    cab.fingerprint = print;
    s.loaded = index;
    return true;
}

// Runs the cabinet functions over the current image in the session's pass.
bool CopyCabinet(const Fdi& fdi, FDICABINETINFO* info) {
    Session& s = *g_session;
    s.nextMember = 0;
    if (info) {
        INT_PTR probe = FdiOpen(kImageName, _O_RDONLY, 0);
        BOOL isCab = fdi.isCabinet(fdi.context, probe, info);
        FdiClose(probe);
        if (!isCab) {
            Fail(kBadCabinet, L"not a cabinet file");
            return false;
        }
    }
    BOOL ok = fdi.copy(fdi.context, kImageName, kImageFolder, 0, Notify, nullptr, nullptr);
    // A file left half written is removed: nothing partial stays.
    DiscardOpenFile();
    if (s.exitCode != kOk) return false;
    if (!ok) {
        Fail(fdi.erf->erfOper == FDIERROR_TARGET_FILE ? kWriteFailed : kBadCabinet, FdiErrorText(fdi.erf->erfOper));
        return false;
    }
    return true;
}

// Before anything is written: a file of a member's name that is a folder, or
// that exists without /Y, stops the extraction.
bool CheckWhatIsInTheWay() {
    Session& s = *g_session;
    for (size_t c = 0; c < s.cabinets.size(); ++c) {
        s.current = c;
        const Cabinet& cab = s.cabinets[c];
        for (size_t m = 0; m < cab.members.size(); ++m) {
            if (!cab.final[m]) continue;
            std::wstring path = s.destination + cab.members[m].path;
            DWORD attrs = ::GetFileAttributesW(path.c_str());
            if (attrs == INVALID_FILE_ATTRIBUTES) continue;
            if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
                Fail(kWriteFailed, path + L" is a folder");
                return false;
            }
            if (!s.options.overwrite) {
                Fail(kWriteFailed, path + L" exists already (use /Y to replace it)");
                return false;
            }
        }
    }
    return true;
}

bool WriteListing() {
    Session& s = *g_session;
    if (s.listingFile == INVALID_HANDLE_VALUE) return true;
    std::wstring text = L"\xFEFF" + s.listing;
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    DWORD put = 0;
    bool ok = ::SetFilePointer(s.listingFile, 0, nullptr, FILE_BEGIN) == 0 &&
              ::WriteFile(s.listingFile, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size() && ::SetEndOfFile(s.listingFile);
    ok = ::CloseHandle(s.listingFile) && ok;
    s.listingFile = INVALID_HANDLE_VALUE;
    return ok;
}

std::wstring OneLine(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
    return text;
}

// Ends the run: the failure (if any) is printed with the cabinet it concerns,
// the listing gets its end line and the progress record its exit code.
int Finish(int reason, size_t cabinet, const std::wstring& message) {
    Session& s = *g_session;
    // A failure that concerns no one cabinet (the destination, the listing)
    // counts as the first's.
    int code = vellum::extract::PlanExitCode(reason, cabinet < s.cabinets.size() ? cabinet : 0);
    std::wstring text = message;
    if (reason != kOk && cabinet < s.cabinets.size()) {
        text = (s.cabinets.size() > 1 ? vellum::Format(L"cabinet %u of %u, ", static_cast<unsigned>(cabinet + 1),
                                                       static_cast<unsigned>(s.cabinets.size()))
                                      : std::wstring()) +
               s.cabinets[cabinet].path + L": " + message;
    }
    s.listing += vellum::extract::ListingLine(L"end", static_cast<unsigned>(code), OneLine(text));
    if (!WriteListing() && code == kOk) {
        reason = kWriteFailed;
        code = kWriteFailed;
        text = L"the listing " + s.options.listing + L" could not be written: " + ErrorText(::GetLastError());
    }
    if (reason != kOk) Error(text);
    s.progress.phase = "end";
    s.progress.exitCode = code;
    if (!WriteProgress(true) && code == kOk) {
        Error(L"the progress record " + s.options.progress + L" could not be written");
        code = kWriteFailed;
    }
    return code;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

// The plan: the cabinets in order, plan files read in their place.
bool ExpandPlan(const std::vector<std::wstring>& given, std::vector<std::wstring>* cabinets, std::wstring* error) {
    for (const std::wstring& entry : given) {
        if (entry[0] != L'@') {
            cabinets->push_back(entry);
            continue;
        }
        std::vector<unsigned char> bytes;
        std::wstring why;
        if (!ReadWholeFile(entry.substr(1), &bytes, &why)) {
            *error = L"the plan file " + entry.substr(1) + L" " + why;
            return false;
        }
        std::vector<std::wstring> lines;
        if (!vellum::extract::DecodePlanFile(std::string(bytes.begin(), bytes.end()), &lines, &why)) {
            *error = entry.substr(1) + L": " + why;
            return false;
        }
        cabinets->insert(cabinets->end(), lines.begin(), lines.end());
    }
    if (cabinets->empty()) {
        *error = L"the plan names no cabinet";
        return false;
    }
    return true;
}

// The listing file is held open without write sharing until the run ends,
// so a caller can tell a run that is still going from one that ended
// without its end line (killed).
bool OpenListing(const Options& options, Session* session) {
    if (options.listing.empty()) return true;
    session->listingFile = ::CreateFileW(options.listing.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (session->listingFile != INVALID_HANDLE_VALUE) return true;
    Error(L"the listing " + options.listing + L" cannot be created: " + ErrorText(::GetLastError()));
    return false;
}

// The listing lines of what the folder tree holds (see ListTree); false
// with *error set when the folder is none, is a link, or cannot be read.
bool ListFolder(const std::wstring& folder, bool shallow, std::wstring* lines, std::wstring* error) {
    std::wstring root = FullPath(folder);
    while (root.size() > 3 && root.back() == L'\\') root.pop_back();
    const DWORD attrs = ::GetFileAttributesW(root.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = root + L" is not a folder";
        return false;
    }
    // A link given as the folder itself is not entered either.
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) {
        *error = root + L" is a link to another place";
        return false;
    }
    const std::wstring base = root.back() == L'\\' ? root : root + L"\\";
    auto enumerate = [&](const std::wstring& relative, std::vector<vellum::extract::TreeEntry>* entries,
                         std::wstring* why) {
        WIN32_FIND_DATAW found;
        HANDLE h = ::FindFirstFileW((base + relative + (relative.empty() ? L"*" : L"\\*")).c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD err = ::GetLastError();
            if (err == ERROR_FILE_NOT_FOUND || err == ERROR_NO_MORE_FILES) return true;  // nothing in it
            *why = ErrorText(err);
            return false;
        }
        do {
            vellum::extract::TreeEntry e;
            e.name = found.cFileName;
            e.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            e.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            e.size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            entries->push_back(e);
        } while (::FindNextFileW(h, &found));
        DWORD err = ::GetLastError();
        ::FindClose(h);
        if (err != ERROR_NO_MORE_FILES) {
            *why = ErrorText(err);
            return false;
        }
        return true;
    };
    std::wstring why;
    if (!vellum::extract::ListTree(enumerate, lines, &why, shallow)) {
        *error = L"cannot list " + root + L": " + why;
        return false;
    }
    return true;
}

// /T: what a folder tree holds, into the listing (or onto the output).
int RunTree(const Options& options) {
    Session session;
    session.options = options;
    g_session = &session;
    if (!OpenListing(options, &session)) return kWriteFailed;
    std::wstring lines, error;
    if (!ListFolder(options.destination, options.shallow, &lines, &error)) return Finish(kWriteFailed, 0, error);
    if (options.listing.empty()) {
        if (!Print(STD_OUTPUT_HANDLE, lines))
            return Finish(kWriteFailed, 0, L"the listing could not be written: " + ErrorText(::GetLastError()));
    } else {
        session.listing = lines;
    }
    return Finish(kOk, 0, std::wstring());
}

// The access flag that reaches the registry view the list names: only a
// program of the other width needs one (a 32-bit one only on 64-bit Windows).
REGSAM RegistryView(int wanted) {
    const bool wide = sizeof(void*) == 8;
    if (wanted == 32 && wide) return KEY_WOW64_32KEY;
    if (wanted != 64 || wide) return 0;
    typedef BOOL(WINAPI * IsWow64Fn)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow) && wow ? KEY_WOW64_64KEY : 0;
}

// Deletes one registry value, or one key (an uninstall entry: values only;
// a key with subkeys stays and is reported).
vellum::extract::RegistryOutcome RemoveRegistryItem(const vellum::extract::RegistryItem& item, REGSAM view,
                                                    std::wstring* why) {
    using vellum::extract::RegistryOutcome;
    HKEY hive = item.machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const size_t cut = item.key.rfind(L'\\');
    const std::wstring parentPath = item.isValue ? item.key : item.key.substr(0, cut);
    HKEY parent = nullptr;
    LONG rc = ::RegOpenKeyExW(hive, parentPath.c_str(), 0, (item.isValue ? KEY_SET_VALUE : KEY_READ) | view, &parent);
    if (rc == ERROR_SUCCESS) {
        if (item.isValue) {
            rc = ::RegDeleteValueW(parent, item.value.c_str());
        } else {
            // RegDeleteKeyEx reaches the other view; systems without it have one view.
            typedef LONG(WINAPI * DeleteKeyExFn)(HKEY, LPCWSTR, REGSAM, DWORD);
            auto deleteKeyEx = reinterpret_cast<DeleteKeyExFn>(
                reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
            const std::wstring name = item.key.substr(cut + 1);
            rc = view && deleteKeyEx ? deleteKeyEx(parent, name.c_str(), view, 0) : ::RegDeleteKeyW(parent, name.c_str());
        }
        ::RegCloseKey(parent);
    }
    if (rc == ERROR_SUCCESS) return RegistryOutcome::kRemoved;
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return RegistryOutcome::kMissing;
    *why = ErrorText(static_cast<DWORD>(rc));
    return RegistryOutcome::kFailed;
}

// /W: the listing of another folder once the extraction is done, in the
// form /T /O gives it, its own end line saying whether it could be listed.
// Written before the run's own listing ends, so it is whole by then. False
// when the file could not be written.
bool WriteTreeListing(const Options& options, std::wstring* error) {
    std::wstring lines, why;
    const bool listed = ListFolder(options.treeFolder, false, &lines, &why);
    if (!listed) lines.clear();
    lines += vellum::extract::ListingLine(L"end", listed ? kOk : kWriteFailed, OneLine(why));
    const std::wstring text = L"\xFEFF" + lines;
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    HANDLE h = ::CreateFileW(options.treeListing.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    bool ok = h != INVALID_HANDLE_VALUE &&
              ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
    const DWORD err = ::GetLastError();
    if (h != INVALID_HANDLE_VALUE) ok = ::CloseHandle(h) && ok;
    if (!ok) *error = L"the listing " + options.treeListing + L" could not be written: " + ErrorText(err);
    return ok;
}

// /M: a copy of the file and, in the listing, the digest of the very bytes
// copied, so that the caller trusts what it reads from the copy, never a file
// that may have changed since it was hashed. A file that cannot be read gets
// no digest line (the caller then has nothing to trust); false when the copy
// could not be written whole.
bool WriteDigestCopy(const Options& options, std::wstring* error) {
    std::vector<unsigned char> bytes;
    std::wstring why;
    if (!ReadWholeFile(options.digestFile, &bytes, &why)) return true;
    HANDLE h = ::CreateFileW(options.digestCopy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD put = 0;
    bool ok = h != INVALID_HANDLE_VALUE &&
              (bytes.empty() || ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr)) &&
              put == bytes.size();
    const DWORD err = ::GetLastError();
    if (h != INVALID_HANDLE_VALUE) ok = ::CloseHandle(h) && ok;
    if (!ok) {
        *error = L"the copy " + options.digestCopy + L" could not be written: " + ErrorText(err);
        return false;
    }
    const std::string digest = vellum::extract::TextDigest(std::string(bytes.begin(), bytes.end()));
    g_session->listing += vellum::extract::ListingLine(L"digest", bytes.size(), std::wstring(digest.begin(), digest.end()));
    return true;
}

// /R: deletes the listed files and empty folders below the folder, never
// through a link (see RemoveListed).
int RunRemove(const Options& options) {
    using vellum::extract::Found;
    Session session;
    session.options = options;
    g_session = &session;
    if (!OpenListing(options, &session)) return kWriteFailed;
    std::wstring root = FullPath(options.destination);
    while (root.size() > 3 && root.back() == L'\\') root.pop_back();
    const std::wstring base = root.back() == L'\\' ? root : root + L"\\";
    const DWORD attrs = ::GetFileAttributesW(root.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY))
        return Finish(kWriteFailed, 0, root + L" is not a folder");
    std::wstring listPath = options.cabinets[0], error;
    if (!listPath.empty() && listPath[0] == L'@') listPath.erase(0, 1);
    std::vector<unsigned char> bytes;
    std::vector<vellum::extract::RemovalEntry> entries;
    if (!ReadWholeFile(listPath, &bytes, &error))
        return Finish(kUsage, 0, L"the removal list " + listPath + L" " + error);
    if (!vellum::extract::DecodeRemovalList(std::string(bytes.begin(), bytes.end()), &entries, &error))
        return Finish(kUnsafeName, 0, listPath + L": " + error);
    // The text the list was made from must be the one its kept digest names.
    if (!options.trustedText.empty()) {
        if (!ReadWholeFile(options.trustedText, &bytes, &error))
            return Finish(kUsage, 0, L"the text " + options.trustedText + L" " + error);
        std::wstring digest = options.trustedDigest;
        for (wchar_t& c : digest) c = static_cast<wchar_t>(std::towlower(c));
        const std::string actual = vellum::extract::TextDigest(std::string(bytes.begin(), bytes.end()));
        if (digest != std::wstring(actual.begin(), actual.end()))
            return Finish(vellum::extract::kRemovalUntrusted, 0,
                          options.trustedText + L": it is not the text its digest names");
    }
    // The registry list is read whole before anything goes: one it refuses stops the run.
    vellum::extract::RegistryList registry;
    if (!options.registry.empty()) {
        if (!ReadWholeFile(options.registry, &bytes, &error))
            return Finish(kUsage, 0, L"the registry list " + options.registry + L" " + error);
        if (!vellum::extract::DecodeRegistryList(std::string(bytes.begin(), bytes.end()), &registry, &error))
            return Finish(kUnsafeName, 0, options.registry + L": " + error);
    }
    if (!options.progress.empty()) {
        session.progressPath = FullPath(options.progress);
        session.progressTemp = FolderOf(session.progressPath) + vellum::Format(L"~vx%lxp.tmp", ::GetCurrentProcessId());
        session.progress.phase = "remove";
        session.progress.total = entries.size();
        if (!WriteProgress(false)) {
            DWORD err = ::GetLastError();
            session.progressPath.clear();
            return Finish(kWriteFailed, 0, L"the progress record " + options.progress + L" cannot be written: " +
                                               ErrorText(err));
        }
    }
    auto full = [&](const std::wstring& relative) { return relative.empty() ? root : base + relative; };
    vellum::extract::RemovalFileSystem fs;
    fs.what = [&](const std::wstring& relative) {
        const DWORD a = ::GetFileAttributesW(full(relative).c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return Found::kNothing;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) return Found::kLink;
        return (a & FILE_ATTRIBUTE_DIRECTORY) ? Found::kFolder : Found::kFile;
    };
    // Removes path with remove (DeleteFileW or RemoveDirectoryW); a read-only
    // file or folder goes as well, as the installation's own. Sets *err when not.
    auto removeWritable = [](const std::wstring& path, BOOL(WINAPI* remove)(LPCWSTR), DWORD* err) {
        if (remove(path.c_str())) return true;
        *err = ::GetLastError();
        const DWORD a = ::GetFileAttributesW(path.c_str());
        if (*err == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
            ::SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY)) {
            if (remove(path.c_str())) return true;
            *err = ::GetLastError();
        }
        return false;
    };
    fs.deleteFile = [&](const std::wstring& relative, std::wstring* why) {
        DWORD err = 0;
        if (removeWritable(full(relative), ::DeleteFileW, &err)) return true;
        *why = ErrorText(err);
        return false;
    };
    fs.removeFolder = [&](const std::wstring& relative, bool* notEmpty, std::wstring* why) {
        DWORD err = 0;
        if (removeWritable(full(relative), ::RemoveDirectoryW, &err)) return true;
        *notEmpty = err == ERROR_DIR_NOT_EMPTY;
        *why = ErrorText(err);
        return false;
    };
    auto progress = [&](size_t done, size_t total) {
        session.progress.done = done;
        session.progress.total = total;
        if (done % 32 == 0) WriteProgress(false);
    };
    const vellum::extract::RemovalResult r =
        vellum::extract::RemoveListed(entries, fs, &session.listing, progress, [] { StopForTest(L"deleting"); });
    session.progress.done = entries.size();
    if (r.code != vellum::extract::kRemovalDone) return Finish(r.code, 0, r.failure);
    const REGSAM view = RegistryView(registry.view);
    const vellum::extract::RemovalResult k = vellum::extract::RemoveRegistryItems(
        registry.items, [&](const vellum::extract::RegistryItem& item, std::wstring* why) {
            return RemoveRegistryItem(item, view, why);
        }, &session.listing);
    return Finish(k.code == vellum::extract::kRemovalDone ? kOk : k.code, 0, k.failure);
}

int Run(const Options& options) {
    if (options.mode == Mode::kTree) return RunTree(options);
    if (options.mode == Mode::kRemove) return RunRemove(options);
    std::vector<std::wstring> plan;
    std::wstring planError;
    if (!ExpandPlan(options.cabinets, &plan, &planError)) {
        Error(planError);
        return kUsage;
    }

    Session session;
    session.options = options;
    g_session = &session;
    for (const std::wstring& path : plan) {
        Cabinet cab;
        cab.path = FullPath(path);
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExW(cab.path.c_str(), GetFileExInfoStandard, &data)) cab.bytes = data.nFileSizeLow;
        session.cabinets.push_back(cab);
    }
    session.progress.cabinets = session.cabinets.size();
    std::wstring dest = options.destination.empty() ? L"." : options.destination;
    session.destination = FullPath(dest);
    if (session.destination.empty() || session.destination.back() != L'\\') session.destination += L'\\';

    if (!OpenListing(options, &session)) return kWriteFailed;
    if (!options.progress.empty()) {
        session.progressPath = FullPath(options.progress);
        session.progressTemp = FolderOf(session.progressPath) + vellum::Format(L"~vx%lxp.tmp", ::GetCurrentProcessId());
        if (!WriteProgress(false)) {
            DWORD err = ::GetLastError();
            session.progressPath.clear();
            return Finish(kWriteFailed, session.cabinets.size(),
                          L"the progress record " + options.progress + L" cannot be written: " + ErrorText(err));
        }
    }

    HMODULE cabinetDll = vellum::LoadSystemLibrary(L"cabinet.dll");
    auto fdiCreate = cabinetDll ? reinterpret_cast<FdiCreateFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDICreate"))) : nullptr;
    auto fdiIsCabinet = cabinetDll ? reinterpret_cast<FdiIsCabinetFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDIIsCabinet"))) : nullptr;
    auto fdiCopy = cabinetDll ? reinterpret_cast<FdiCopyFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDICopy"))) : nullptr;
    auto fdiDestroy = cabinetDll ? reinterpret_cast<FdiDestroyFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDIDestroy"))) : nullptr;
    if (!fdiCreate || !fdiIsCabinet || !fdiCopy || !fdiDestroy)
        return Finish(kBadCabinet, session.cabinets.size(), L"cabinet.dll cannot be loaded from the system folder");
    ERF erf = {};
    HFDI context = fdiCreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpuUNKNOWN, &erf);
    if (!context)
        return Finish(kBadCabinet, session.cabinets.size(),
                      L"the cabinet functions cannot start: " + FdiErrorText(erf.erfOper));
    const Fdi fdi{fdiIsCabinet, fdiCopy, context, &erf};
    auto stop = [&](size_t cabinet) {
        fdiDestroy(context);
        int code = Finish(session.exitCode, cabinet, session.failure);
        g_session = nullptr;
        return code;
    };

    // Every cabinet is checked, and its names collected, before anything is written.
    unsigned long long cabinetBytes = 0;
    for (const Cabinet& cab : session.cabinets) cabinetBytes += cab.bytes;
    StartPhase("check", cabinetBytes);
    for (size_t c = 0; c < session.cabinets.size(); ++c) {
        session.current = c;
        session.pass = Pass::kNames;
        Cabinet& cab = session.cabinets[c];
        FDICABINETINFO info = {};
        if (!LoadCabinet(c, true) || !CopyCabinet(fdi, &info)) return stop(c);
        if (info.cFiles > 0 && cab.members.size() != static_cast<size_t>(info.cFiles)) {
            Fail(kBadCabinet, vellum::Format(L"%u of %d files of the cabinet could be read",
                                             static_cast<unsigned>(cab.members.size()), static_cast<int>(info.cFiles)));
            return stop(c);
        }
        AddDone(cab.bytes);
        CabinetDone();
    }
    std::vector<std::vector<std::wstring>> names;
    for (const Cabinet& cab : session.cabinets) {
        names.emplace_back();
        for (const Member& m : cab.members) names.back().push_back(m.path);
    }
    const auto last = vellum::extract::LastOfTheirName(names);
    for (size_t c = 0; c < session.cabinets.size(); ++c) {
        session.cabinets[c].final = last[c];
        session.cabinets[c].findings.assign(session.cabinets[c].members.size(), Finding::kMissing);
    }
    auto header = [&](size_t c) {
        session.listing += vellum::extract::ListingLine(L"cabinet", c, session.cabinets[c].path);
    };

    if (options.mode == Mode::kList) {
        for (size_t c = 0; c < session.cabinets.size(); ++c) {
            header(c);
            for (const Member& m : session.cabinets[c].members) {
                session.listing += vellum::extract::ListingLine(L"file", m.size, m.path);
                if (options.listing.empty() &&
                    !Print(STD_OUTPUT_HANDLE, vellum::Format(L"%10I64u  ", m.size) + m.path + L"\r\n")) {
                    session.current = c;
                    Fail(kWriteFailed, L"the listing could not be written: " + ErrorText(::GetLastError()));
                    return stop(c);
                }
            }
        }
        return stop(0);
    }

    if (options.mode == Mode::kCompare || options.mode == Mode::kUpdate) {
        unsigned long long total = 0;
        for (const Cabinet& cab : session.cabinets)
            for (size_t m = 0; m < cab.members.size(); ++m)
                if (cab.final[m]) total += cab.members[m].size;
        StartPhase("compare", total);
        for (size_t c = 0; c < session.cabinets.size(); ++c) {
            session.current = c;
            session.pass = Pass::kCompare;
            if (!LoadCabinet(c, false) || !CopyCabinet(fdi, nullptr)) return stop(c);
            CabinetDone();
        }
        for (size_t c = 0; c < session.cabinets.size(); ++c) {
            const Cabinet& cab = session.cabinets[c];
            header(c);
            for (size_t m = 0; m < cab.members.size(); ++m)
                if (cab.final[m])
                    session.listing += vellum::extract::ListingLine(vellum::extract::FindingWord(cab.findings[m]),
                                                                    cab.members[m].size, cab.members[m].path);
        }
        if (options.mode == Mode::kCompare) return stop(0);
    } else if (!CheckWhatIsInTheWay()) {  // sets session.current to the cabinet concerned
        return stop(session.current);
    }

    // Writing: only now is the destination created.
    if (!EnsureFolder(dest)) {
        session.current = 0;
        Fail(kWriteFailed, L"the destination folder cannot be created: " + dest);
        return stop(session.cabinets.size());
    }
    unsigned long long total = 0;
    for (const Cabinet& cab : session.cabinets)
        for (size_t m = 0; m < cab.members.size(); ++m)
            if (cab.final[m] && (options.mode != Mode::kUpdate || cab.findings[m] != Finding::kSame))
                total += cab.members[m].size;
    StartPhase("extract", total);
    for (size_t c = 0; c < session.cabinets.size(); ++c) {
        session.current = c;
        session.pass = Pass::kWrite;
        Cabinet& cab = session.cabinets[c];
        bool any = false;
        for (size_t m = 0; m < cab.members.size(); ++m)
            any = any || (cab.final[m] && (options.mode != Mode::kUpdate || cab.findings[m] != Finding::kSame));
        if (options.mode == Mode::kExtract) header(c);
        if (any && (!LoadCabinet(c, false) || !CopyCabinet(fdi, nullptr))) return stop(c);
        if (!options.copies.empty() && (!LoadCabinet(c, false) || !KeepCopy(c))) return stop(c);
        CabinetDone();
        HoldForTest();
        if (c == 0) StopForTest(L"extracting");
    }
    // What is written once every cabinet is done: a failure there counts
    // as after the last cabinet.
    using Step = bool (*)(const Options&, std::wstring*);
    const std::pair<bool, Step> after[] = {{!options.digestCopy.empty(), WriteDigestCopy},
                                           {!options.treeListing.empty(), WriteTreeListing}};
    for (const auto& step : after) {
        std::wstring error;
        if (step.first && !step.second(options, &error)) {
            session.current = 0;
            Fail(kWriteFailed, error);
            return stop(session.cabinets.size());
        }
    }
    return stop(0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    vellum::HardenDllSearchPath();
    std::vector<std::wstring> args(argv + 1, argv + argc);
    Options options;
    std::wstring error;
    if (!vellum::extract::ParseCommandLine(args, &options, &error)) {
        Error(error);
        Print(STD_ERROR_HANDLE, vellum::extract::kUsage);
        return kUsage;
    }
    if (options.help) {
        Print(STD_OUTPUT_HANDLE, vellum::extract::kUsage);
        return args.empty() ? kUsage : kOk;
    }
    return Run(options);
}
