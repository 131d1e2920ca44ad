// The launcher's system services: payload extraction from the program's own
// resources, the registry read of the locale choice, and the small file
// services of the load step. All use the wide (W) calls, so a working folder
// or a value outside the ANSI code page works the same.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "handles.h"

namespace vellum {
namespace launcher {

// Shows one message (text, MB_ICON* flag) to the user and returns when it is
// dismissed. The launcher's window passes its message box; tests record.
using Reporter = std::function<void(const std::wstring& text, UINT icon)>;

// What became of one payload file.
struct ExtractOutcome {
    bool written = false;   // the whole resource is in the file and the file was closed without error
    bool stop = false;      // a failure that was not reported: the run must stop with `message`
    std::wstring message;   // with stop: what failed, where and why
};

// Writes data resource `id` (type 10, any language) of `module` (null: the
// program itself) byte for byte to `target`, in one write straight from the
// locked resource. Reports failures of this one file itself and returns
// normally. A failure that will repeat for every file, and any failure of an
// `essential` file (one the run cannot do without), is not reported but
// handed back with stop set, so that the caller shows one message and stops.
// A file that could not be written whole is removed.
ExtractOutcome ExtractResource(HMODULE module, int id, const std::wstring& target, const Reporter& report,
                               bool essential = false);

// True when the installation script holds its lock file: it exists and
// cannot be opened without sharing because another process has it open.
bool ScriptLockHeld(const std::wstring& lockPath);

// The image path of a process (in the system's device form, e.g.
// \Device\HarddiskVolume1\Windows\System32\wscript.exe); empty when the
// system does not tell.
std::wstring ProcessImagePath(HANDLE process);

// Takes the launcher's run mutex into *mutex. False when another launcher
// holds it; true otherwise (also when the system could not create it, so
// that a failure there never blocks an installation).
bool AcquireRunMutex(UniqueHandle* mutex);

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

// The system's description of an error code, without the trailing line end,
// followed by the code's number.
std::wstring SystemErrorText(DWORD error);

}  // namespace launcher
}  // namespace vellum
