// What every program asks the system about itself: its own file, and the
// system's words for an error code.
#pragma once
#include <windows.h>

#include <string>

namespace vellum {

// The full path of a loaded module's file (null: the program's own), however
// long; empty when the system cannot give it.
std::wstring ModulePath(HMODULE module = nullptr);

// The folder of ModulePath, without the final separator; empty when unknown.
std::wstring ModuleFolder(HMODULE module = nullptr);

// The system's text for a Win32 error code, without the line end the system
// puts after it; empty when the system has no text for the code.
std::wstring SystemMessage(DWORD error);

}  // namespace vellum
