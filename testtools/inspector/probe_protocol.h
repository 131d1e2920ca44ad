// What inspector_probe.dll, loaded into the inspected process by a window
// hook, hands back through shared memory: facts only that process can read
// (a control's font object, which shared icon a static shows), since Wine
// keeps GDI objects and icons per process and answers WM_GETFONT sent from
// another process with no font.
#pragma once
#include <windows.h>

namespace inspector {

const wchar_t kProbeMessage[] = L"VellumInspectorProbe";
// The mapping's name is this prefix and the inspector's process id, which
// the probe message carries in wParam.
const wchar_t kProbeMappingPrefix[] = L"VellumInspectorProbe_";
const DWORD kProbeDone = 0x50524F42;  // written last, so a half-written block is never read
const DWORD kProbeMaxRecords = 1024;

enum ProbeIcon : LONG {
    kIconNotAnIconStatic = 0,
    kIconNone,         // an icon static without an icon
    kIconExclamation,  // IDI_EXCLAMATION (= IDI_WARNING)
    kIconHand,         // IDI_HAND (= IDI_ERROR, the stop sign)
    kIconAsterisk,     // IDI_ASTERISK (= IDI_INFORMATION)
    kIconQuestion,     // IDI_QUESTION
    kIconOther,        // some other icon
};

struct ProbeRecord {
    ULONGLONG hwnd;
    LONG hasFont;
    LONG icon;  // ProbeIcon
    LOGFONTW font;
    // The window's own icons (WM_GETICON, else its class's): pixel sizes,
    // 0 x 0 when it has none.
    LONG bigIconWidth, bigIconHeight;
    LONG smallIconWidth, smallIconHeight;
};

struct ProbeBlock {
    DWORD done;
    DWORD count;
    ProbeRecord records[kProbeMaxRecords];
};

}  // namespace inspector
