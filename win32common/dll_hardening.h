// Restricts where the process loads DLLs from. The installer is started from
// download folders, where anyone may have dropped a DLL named like a system
// one; call this first thing in wWinMain, before anything loads a DLL.
#pragma once

#include <windows.h>

namespace vellum {

// Where the system offers SetDefaultDllDirectories (Windows 7 with KB2533623
// and later), DLLs loaded by name come from system32 only; otherwise
// SetDllDirectoryW(L"") (Windows XP SP1 and later) takes the current folder
// out of the search order (the application folder stays first there). Both
// are looked up at run time so that the program still loads on Windows XP.
// Returns true if one of the two took effect.
bool HardenDllSearchPath();

// Loads a system DLL by its full path in the system folder, so that no copy
// in the application folder can stand in for it. Use it for DLLs that are not
// imported statically (for example version.dll): on Windows XP the fallback
// above keeps the application folder first in the search order. Not for
// comctl32.dll: a full path bypasses the manifest's redirection to Common
// Controls 6.0; load that one by name (after HardenDllSearchPath).
HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace vellum
