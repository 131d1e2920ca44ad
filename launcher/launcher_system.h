// The launcher's system services: payload extraction from the program's own
// resources, the registry read of the locale choice, and the small file
// services of the load step. All use the wide (W) calls, so a working folder
// or a value outside the ANSI code page works the same.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace vellum {
namespace launcher {

// Shows one message (text, MB_ICON* flag) to the user and returns when it is
// dismissed. The launcher's window passes its message box; tests record.
using Reporter = std::function<void(const std::wstring& text, UINT icon)>;

// Writes data resource `id` (type 10, any language) of `module` (null: the
// program itself) byte for byte to `target`, in one write straight from the
// locked resource. Reports its own failures and returns normally.
void ExtractResource(HMODULE module, int id, const std::wstring& target, const Reporter& report);

// The text of a registry value: the key opened with full access (0xF003F),
// a buffer of 1024 characters, REG_SZ (trimmed) and REG_DWORD (decimal) only; the
// empty text whenever anything fails.
std::wstring ReadRegistryValue(HKEY root, const std::wstring& keyPath, const std::wstring& valueName);

// The value of an environment variable; empty when unset.
std::wstring EnvironmentValue(const wchar_t* name);

bool FolderExists(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Reads a whole file; false with GetLastError() set on failure.
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// The system's description of an error code, without the trailing line end.
std::wstring SystemErrorText(DWORD error);

}  // namespace launcher
}  // namespace vellum
