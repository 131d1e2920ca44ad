#include "launcher_system.h"

#include "dll_hardening.h"
#include "handles.h"
#include "launcher_logic.h"
#include "system.h"

namespace vellum {
namespace launcher {

namespace {

std::wstring ParentFolder(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring(L".") : path.substr(0, cut + 1);
}

}  // namespace

ExtractOutcome ExtractResource(HMODULE module, int id, const std::wstring& target, const Reporter& report,
                               bool essential) {
    ExtractOutcome out;
    auto fail = [&](const std::wstring& text, UINT icon, bool repeats) {
        if (essential || repeats) {
            out.stop = true;
            out.message = text;
        } else {
            report(text, icon);
        }
    };
    HRSRC hres = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    HGLOBAL data = nullptr;
    DWORD size = 0;
    if (!hres) {
        if (essential) {
            fail(FailureText(kMsgCouldNotLoad, target, SystemErrorText(::GetLastError())), MB_ICONEXCLAMATION, true);
            return out;
        }
        report(kMsgNoResource, MB_ICONEXCLAMATION);
    } else {
        data = ::LoadResource(module, hres);
        size = ::SizeofResource(module, hres);
    }
    if (!data) {
        fail(kMsgCouldNotLoad, MB_ICONEXCLAMATION, false);
        return out;
    }
    const void* bytes = ::LockResource(data);
    UniqueFile file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        const WriteFailure f{WriteStep::Create, error,
                             ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES,
                             FolderExists(ParentFolder(target))};
        fail(FailureText(kMsgCannotOpen, target, SystemErrorText(error)), MB_ICONSTOP, FailureRepeats(f));
        return out;
    }
    // One write call; only when the system takes part of it is the rest
    // offered again, which either completes the file or names the reason.
    DWORD written = 0;
    BOOL wrote = TRUE;
    DWORD error = 0;
    while (written < size || size == 0) {
        DWORD put = 0;
        wrote = ::WriteFile(file.get(), static_cast<const char*>(bytes) + written, size - written, &put, nullptr);
        written += put;
        if (!wrote) error = ::GetLastError();
        if (!wrote || put == 0 || size == 0) break;
    }
    WriteStep step = WriteStep::Write;
    std::wstring what = ShortWriteText(written);
    if (wrote && written == size) {
        // Data the system could not put on the disk may show only here.
        if (::CloseHandle(file.release())) {
            out.written = true;
            return out;
        }
        error = ::GetLastError();
        step = WriteStep::Close;
        what = L"The file could not be completed.";
    }
    // Part of a file is of no use to the installation and must not pass for
    // the whole one.
    file.reset();
    ::DeleteFileW(target.c_str());
    const WriteFailure f{step, error, true, FolderExists(ParentFolder(target))};
    fail(FailureText(what, target, error ? SystemErrorText(error) : std::wstring()), MB_ICONSTOP, FailureRepeats(f));
    return out;
}

bool ScriptLockHeld(const std::wstring& lockPath) {
    HANDLE h = ::CreateFileW(lockPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(h);
    return false;
}

std::wstring ProcessImagePath(HANDLE process) {
    if (!process) return std::wstring();
    // Looked up at run time from the system folder, like the shell.
    using ImageNameFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD);
    HMODULE psapi = LoadSystemLibrary(L"psapi.dll");
    auto imageName = psapi ? reinterpret_cast<ImageNameFn>(::GetProcAddress(psapi, "GetProcessImageFileNameW"))
                           : nullptr;
    if (!imageName) return std::wstring();
    std::wstring path(1024, L'\0');
    const DWORD n = imageName(process, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    return path;
}

bool AcquireRunMutex(UniqueHandle* mutex) {
    mutex->reset(::CreateMutexW(nullptr, TRUE, kRunMutexName));
    const DWORD error = ::GetLastError();
    if (*mutex && error == ERROR_ALREADY_EXISTS) {
        mutex->reset();
        return false;
    }
    // A mutex of that name that this account may not open is another run's too.
    return *mutex || error != ERROR_ACCESS_DENIED;
}

std::wstring ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName) {
    UniqueHKey key;
    if (::RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    unsigned char buffer[kRegistryBufferBytes] = {};
    DWORD size = kRegistryBufferBytes;
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS)
        return std::wstring();
    return RegistryDataToText(type, buffer, sizeof buffer, size);
}

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD n = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::wstring();
    std::wstring value(n, L'\0');
    DWORD got = ::GetEnvironmentVariableW(name, &value[0], n);
    value.resize(got < n ? got : 0);
    return value;
}

bool FolderExists(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(f.get(), &size)) return false;
    if (size.QuadPart > 64 * 1024 * 1024) {  // a list of names is never this large
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes->empty() && !::ReadFile(f.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr))
        return false;
    bytes->resize(got);
    return true;
}

std::wstring SystemErrorText(DWORD error) {
    std::wstring out = SystemMessage(error);
    if (out.empty()) out = L"Unknown error.";
    return ErrorReason(out, error);
}

}  // namespace launcher
}  // namespace vellum
