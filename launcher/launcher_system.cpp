#include "launcher_system.h"

#include "handles.h"
#include "launcher_logic.h"

namespace vellum {
namespace launcher {

void ExtractResource(HMODULE module, int id, const std::wstring& target, const Reporter& report) {
    HRSRC hres = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    HGLOBAL data = nullptr;
    DWORD size = 0;
    if (!hres) {
        report(kMsgNoResource, MB_ICONEXCLAMATION);
    } else {
        data = ::LoadResource(module, hres);
        size = ::SizeofResource(module, hres);
    }
    if (!data) {
        report(kMsgCouldNotLoad, MB_ICONEXCLAMATION);
        return;
    }
    const void* bytes = ::LockResource(data);
    UniqueFile file(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        report(kMsgCannotOpen, MB_ICONSTOP);
        return;
    }
    DWORD written = 0;
    // Only the count is consulted: a failed write shows as a short one.
    ::WriteFile(file.get(), bytes, size, &written, nullptr);
    if (written != size) report(ShortWriteText(written), MB_ICONEXCLAMATION);
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
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring out;
    if (n && text) {
        out.assign(text, n);
        ::LocalFree(text);
        while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    }
    if (out.empty()) out = L"Error " + std::to_wstring(error) + L".";
    return out;
}

}  // namespace launcher
}  // namespace vellum
