// Asks inspector_probe.dll, inside the window's process, for the fonts and
// icons of a window and its descendants. Empty (and *error set) when the
// probe cannot be loaded there or does not answer in time.
#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "probe_protocol.h"

namespace inspector {

std::map<HWND, ProbeRecord> ProbeWindow(HWND top, std::wstring* error);

}  // namespace inspector
