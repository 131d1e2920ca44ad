#include "system.h"

#include <vector>

namespace vellum {

std::wstring ModulePath(HMODULE module) {
    // Longer than any path the system can give: past it, give up.
    const size_t kLimit = 64 * 1024;
    std::vector<wchar_t> path(MAX_PATH);
    while (path.size() <= kLimit) {
        DWORD n = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        // A full buffer means the path was cut (XP does not even terminate it).
        if (n < path.size()) return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
    return std::wstring();
}

std::wstring ModuleFolder(HMODULE module) {
    std::wstring path = ModulePath(module);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring SystemMessage(DWORD error) {
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n && buffer) text.assign(buffer, n);
    if (buffer) ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace vellum
