#include "dll_hardening.h"

#include <windows.h>

namespace vellum {
namespace {

// Not declared for _WIN32_WINNT 0x0501.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);

}  // namespace

bool HardenDllSearchPath() {
    // kernel32 is always mapped; GetModuleHandle loads nothing.
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return false;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(kLoadLibrarySearchSystem32)) return true;
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryWFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDllDirectoryW")));
    return setDllDirectory && setDllDirectory(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    UINT n = ::GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    size_t len = n;
    if (path[len - 1] != L'\\') path[len++] = L'\\';
    for (const wchar_t* p = name; *p; ++p) {
        if (len + 1 >= MAX_PATH) return nullptr;
        path[len++] = *p;
    }
    path[len] = L'\0';
    return ::LoadLibraryW(path);
}

}  // namespace vellum
