// EXTRACT.EXE: extracts every file of a Microsoft Cabinet into a folder,
// creating the cabinet's subfolders. The installation script runs it once per
// cabinet; the command line is described in kUsage (cabinet_paths.cpp).
//
// The cabinet functions of cabinet.dll (FDI) take ANSI names, but they only
// hand them back to our own open callback. The program therefore passes the
// cabinet path as UTF-8 and opens every file with the wide Win32 calls, so
// that cabinets and destinations with any Unicode name work. cabinet.dll is
// loaded from the system folder by full path: this program runs from the
// user's temporary folder, where a planted DLL must not stand in for it.
#include <windows.h>

#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cabinet_paths.h"
#include "dll_hardening.h"
#include "strings.h"

namespace {

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

std::wstring SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : vellum::Format(L"error %lu", code);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

// ---- extraction state shared with the callbacks ----

struct Session {
    Options options;
    std::wstring destination;  // with a trailing backslash
    bool checkNamesOnly = false;  // the first pass: names are checked, nothing is written
    int exitCode = kOk;
    std::wstring failure;
    HANDLE openFile = INVALID_HANDLE_VALUE;  // file being written, for clean-up
    std::wstring openPath;     // its temporary name
    std::wstring finalPath;    // the name it takes once complete
    unsigned long long expected = 0;  // the size the cabinet gives for it
    unsigned long long written = 0;
    DWORD writeError = 0;
    unsigned files = 0;
};

Session* g_session = nullptr;

void Fail(int code, const std::wstring& message) {
    if (g_session->exitCode == kOk) {
        g_session->exitCode = code;
        g_session->failure = message;
    }
}

// ---- FDI file callbacks: handles are Win32 file handles ----

FNALLOC(FdiAlloc) { return std::malloc(cb); }
FNFREE(FdiFree) { std::free(pv); }

FNOPEN(FdiOpen) {
    std::wstring path = vellum::Utf8ToWide(pszFile);
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (oflag & (_O_WRONLY | _O_RDWR)) access |= GENERIC_WRITE;
    if (oflag & _O_CREAT) disposition = (oflag & _O_TRUNC) ? CREATE_ALWAYS : OPEN_ALWAYS;
    HANDLE h = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(h);
}

FNREAD(FdiRead) {
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &got, nullptr)) return static_cast<UINT>(-1);
    return got;
}

FNWRITE(FdiWrite) {
    DWORD put = 0;
    const BOOL ok = ::WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &put, nullptr);
    const DWORD error = ok ? 0 : ::GetLastError();
    if (g_session && reinterpret_cast<HANDLE>(hf) == g_session->openFile) {
        g_session->written += put;
        if (!ok || put != cb) {
            g_session->writeError = error ? error : ERROR_DISK_FULL;
            Fail(kWriteFailed, L"cannot write " + g_session->finalPath + L": " + SystemMessage(g_session->writeError));
        }
    }
    if (!ok || put != cb) return static_cast<UINT>(-1);
    return put;
}

FNCLOSE(FdiClose) { return ::CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1; }

FNSEEK(FdiSeek) {
    DWORD method = seektype == SEEK_CUR ? FILE_CURRENT : seektype == SEEK_END ? FILE_END : FILE_BEGIN;
    DWORD pos = ::SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, method);
    return pos == INVALID_SET_FILE_POINTER ? -1 : static_cast<long>(pos);
}

std::wstring MemberName(const FDINOTIFICATION* n) {
    std::string raw = n->psz1 ? n->psz1 : "";
    return (n->attribs & _A_NAME_IS_UTF) ? vellum::Utf8ToWide(raw)
                                         : vellum::BytesToWide(raw, CP_ACP);
}

bool CreateFolders(const std::wstring& relative) {
    for (const std::wstring& folder : vellum::extract::ParentFolders(relative)) {
        std::wstring full = g_session->destination + folder;
        if (!::CreateDirectoryW(full.c_str(), nullptr)) {
            DWORD err = ::GetLastError();
            DWORD attrs = ::GetFileAttributesW(full.c_str());
            if (err != ERROR_ALREADY_EXISTS || attrs == INVALID_FILE_ATTRIBUTES ||
                !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                Fail(kWriteFailed, L"cannot create the folder " + full + L": " + SystemMessage(err));
                return false;
            }
        }
    }
    return true;
}

// Closes and removes the file being written: a file that failed never
// stays behind, and never takes the place of the one it was to replace.
void DiscardOpenFile() {
    if (g_session->openFile != INVALID_HANDLE_VALUE) {
        ::CloseHandle(g_session->openFile);
        g_session->openFile = INVALID_HANDLE_VALUE;
    }
    if (!g_session->openPath.empty()) {
        ::SetFileAttributesW(g_session->openPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(g_session->openPath.c_str());
        g_session->openPath.clear();
    }
}

INT_PTR CopyFileNotification(FDINOTIFICATION* n) {
    // After a failure no further file is begun (the cabinet functions may
    // go on to the next one).
    if (g_session->exitCode != kOk) return -1;
    std::wstring member = MemberName(n);
    std::wstring relative;
    if (!vellum::extract::SafeRelativePath(member, &relative)) {
        Fail(kUnsafeName, L"the cabinet names a file outside the destination folder, a device, or a name "
                          L"ending in a dot or a blank: " + member);
        return -1;
    }
    if (g_session->checkNamesOnly) return 0;
    if (g_session->options.listOnly) {
        if (!Print(STD_OUTPUT_HANDLE, vellum::Format(L"%10ld  ", n->cb) + relative + L"\r\n")) {
            Fail(kWriteFailed, L"the listing could not be written: " + SystemMessage(::GetLastError()));
            return -1;
        }
        ++g_session->files;
        return 0;  // skip the file
    }
    if (!CreateFolders(relative)) return -1;
    std::wstring path = g_session->destination + relative;
    DWORD attrs = ::GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        if ((attrs & FILE_ATTRIBUTE_DIRECTORY) || !g_session->options.overwrite) {
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
        g_session->openPath = folder + vellum::Format(L"~vx%lx%x.tmp", ::GetCurrentProcessId(), ++counter);
        h = ::CreateFileW(g_session->openPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    }
    if (h == INVALID_HANDLE_VALUE) {
        g_session->openPath.clear();  // not ours: never removed
        Fail(kWriteFailed, L"cannot create " + path + L": " + SystemMessage(error));
        return -1;
    }
    g_session->openFile = h;
    g_session->finalPath = path;
    g_session->expected = static_cast<unsigned long>(n->cb);
    g_session->written = 0;
    g_session->writeError = 0;
    return reinterpret_cast<INT_PTR>(h);
}

INT_PTR CloseFileNotification(FDINOTIFICATION* n) {
    Session& s = *g_session;
    HANDLE h = reinterpret_cast<HANDLE>(n->hf);
    if (s.written != s.expected) {
        // Fewer (or more) bytes than the cabinet declares: a lying or damaged cabinet.
        Fail(kBadCabinet, vellum::Format(L"%I64u of %I64u", s.written, s.expected) +
                              L" bytes could be extracted for " + s.finalPath);
        DiscardOpenFile();
        return FALSE;
    }
    FILETIME local, utc;
    if (::DosDateTimeToFileTime(n->date, n->time, &local) && ::LocalFileTimeToFileTime(&local, &utc))
        ::SetFileTime(h, nullptr, nullptr, &utc);
    s.openFile = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(h)) {
        Fail(kWriteFailed, L"cannot complete " + s.finalPath + L": " + SystemMessage(::GetLastError()));
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
        Fail(kWriteFailed, L"cannot put " + s.finalPath + L" in place: " + SystemMessage(err));
        DiscardOpenFile();
        return FALSE;
    }
    s.openPath.clear();
    DWORD keep = n->attribs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (keep) ::SetFileAttributesW(s.finalPath.c_str(), keep);
    s.finalPath.clear();
    ++s.files;
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

// Reads the cabinet once and checks its structure and block checksums, so
// that a damaged cabinet writes no file at all.
bool CheckWholeCabinet(const std::wstring& path, std::wstring* error) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = L"the cabinet cannot be opened: " + SystemMessage(::GetLastError());
        return false;
    }
    DWORD high = 0;
    DWORD size = ::GetFileSize(h, &high);
    std::vector<unsigned char> data;
    bool ok = high == 0 && size != INVALID_FILE_SIZE && size < (1u << 30);
    if (ok) {
        data.resize(size);
        DWORD got = 0;
        ok = size == 0 || (::ReadFile(h, &data[0], size, &got, nullptr) && got == size);
    }
    ::CloseHandle(h);
    if (!ok) {
        *error = L"the cabinet cannot be read";
        return false;
    }
    return vellum::extract::VerifyCabinet(data.data(), data.size(), error);
}

int Run(const Options& options) {
    HMODULE cabinetDll = vellum::LoadSystemLibrary(L"cabinet.dll");
    if (!cabinetDll) {
        Error(L"cabinet.dll cannot be loaded from the system folder");
        return kBadCabinet;
    }
    auto fdiCreate = reinterpret_cast<FdiCreateFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDICreate")));
    auto fdiIsCabinet = reinterpret_cast<FdiIsCabinetFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDIIsCabinet")));
    auto fdiCopy = reinterpret_cast<FdiCopyFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDICopy")));
    auto fdiDestroy = reinterpret_cast<FdiDestroyFn>(reinterpret_cast<void*>(::GetProcAddress(cabinetDll, "FDIDestroy")));
    if (!fdiCreate || !fdiIsCabinet || !fdiCopy || !fdiDestroy) {
        Error(L"cabinet.dll lacks the cabinet extraction functions");
        return kBadCabinet;
    }

    Session session;
    session.options = options;
    g_session = &session;

    std::wstring cabinet = FullPath(options.cabinet);
    DWORD cabAttrs = ::GetFileAttributesW(cabinet.c_str());
    if (cabAttrs == INVALID_FILE_ATTRIBUTES || (cabAttrs & FILE_ATTRIBUTE_DIRECTORY)) {
        Error(L"the cabinet does not exist: " + cabinet);
        return kBadCabinet;
    }
    if (!options.listOnly) {
        std::wstring dest = options.destination.empty() ? L"." : options.destination;
        if (!EnsureFolder(dest)) {
            Error(L"the destination folder cannot be created: " + dest);
            return kWriteFailed;
        }
        session.destination = FullPath(dest);
        if (session.destination.empty() || session.destination.back() != L'\\')
            session.destination += L'\\';
    }

    ERF erf = {};
    HFDI fdi = fdiCreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                         cpuUNKNOWN, &erf);
    if (!fdi) {
        Error(L"the cabinet functions cannot start: " + FdiErrorText(erf.erfOper));
        return kBadCabinet;
    }
    // FDI splits nothing and checks nothing in the names: it joins the two
    // parts and passes them to FdiOpen, which decodes the UTF-8.
    size_t cut = cabinet.find_last_of(L"\\/");
    std::string cabName = vellum::WideToUtf8(cabinet.substr(cut + 1));
    std::string cabFolder = vellum::WideToUtf8(cabinet.substr(0, cut + 1));

    int code = kOk;
    INT_PTR probe = FdiOpen(const_cast<char*>((cabFolder + cabName).c_str()), _O_RDONLY, 0);
    FDICABINETINFO info = {};
    if (probe == -1) {
        Error(L"the cabinet cannot be opened: " + cabinet);
        code = kBadCabinet;
    } else {
        BOOL isCab = fdiIsCabinet(fdi, probe, &info);
        FdiClose(probe);
        if (!isCab) {
            Error(L"not a cabinet file: " + cabinet);
            code = kBadCabinet;
        }
    }
    if (code == kOk) {
        std::wstring damage;
        if (!CheckWholeCabinet(cabinet, &damage)) {
            Error(cabinet + L": " + damage);
            code = kBadCabinet;
        }
    }
    if (code == kOk) {
        // First every name is checked, so that a cabinet with one unsafe name
        // writes nothing at all.
        session.checkNamesOnly = true;
        BOOL ok = fdiCopy(fdi, &cabName[0], &cabFolder[0], 0, Notify, nullptr, nullptr);
        session.checkNamesOnly = false;
        if (ok && session.exitCode == kOk)
            ok = fdiCopy(fdi, &cabName[0], &cabFolder[0], 0, Notify, nullptr, nullptr);
        // A file left half written is removed: nothing partial stays.
        DiscardOpenFile();
        if (session.exitCode != kOk) {
            Error(session.failure);
            code = session.exitCode;
        } else if (!ok) {
            Error(cabinet + L": " + FdiErrorText(erf.erfOper));
            code = erf.erfOper == FDIERROR_TARGET_FILE ? kWriteFailed : kBadCabinet;
        } else if (info.cFiles > 0 && session.files != static_cast<unsigned>(info.cFiles)) {
            Error(vellum::Format(L"%u of %d files of the cabinet were processed", session.files,
                                 static_cast<int>(info.cFiles)));
            code = kBadCabinet;
        }
    }
    fdiDestroy(fdi);
    g_session = nullptr;
    return code;
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
