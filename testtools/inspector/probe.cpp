// inspector_probe.dll: the part of the inspector that runs inside the
// inspected process. The inspector installs ProbeHook as a WH_CALLWNDPROC
// hook on the window's thread and sends it the probe message; the hook
// records every control's font and icon into the inspector's shared block.
// No C++ runtime is used: the DLL is loaded into programs under test.
#include <windows.h>

#include "probe_protocol.h"

using namespace inspector;

namespace {

LONG IconKind(HWND w) {
    wchar_t cls[16] = {};
    ::GetClassNameW(w, cls, 16);
    if (lstrcmpiW(cls, L"Static") != 0 || (::GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return kIconNotAnIconStatic;
    HICON shown = reinterpret_cast<HICON>(::SendMessageW(w, STM_GETICON, 0, 0));
    if (!shown) return kIconNone;
    // Shared system icons have one handle per process: the one a message box
    // loaded is the one LoadIcon gives here.
    if (shown == ::LoadIconW(nullptr, IDI_EXCLAMATION)) return kIconExclamation;
    if (shown == ::LoadIconW(nullptr, IDI_HAND)) return kIconHand;
    if (shown == ::LoadIconW(nullptr, IDI_ASTERISK)) return kIconAsterisk;
    if (shown == ::LoadIconW(nullptr, IDI_QUESTION)) return kIconQuestion;
    return kIconOther;
}

void IconSize(HICON icon, LONG* width, LONG* height) {
    *width = *height = 0;
    ICONINFO info = {};
    if (!icon || !::GetIconInfo(icon, &info)) return;
    BITMAP bm = {};
    if (info.hbmColor && ::GetObjectW(info.hbmColor, sizeof(bm), &bm)) {
        *width = bm.bmWidth;
        *height = bm.bmHeight;
    } else if (info.hbmMask && ::GetObjectW(info.hbmMask, sizeof(bm), &bm)) {
        *width = bm.bmWidth;
        *height = bm.bmHeight / 2;  // a monochrome icon's mask holds both halves
    }
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
}

void WindowIcons(HWND w, ProbeRecord* r) {
    HICON big = reinterpret_cast<HICON>(::SendMessageW(w, WM_GETICON, ICON_BIG, 0));
    if (!big) big = reinterpret_cast<HICON>(::GetClassLongPtrW(w, GCLP_HICON));
    HICON small = reinterpret_cast<HICON>(::SendMessageW(w, WM_GETICON, ICON_SMALL, 0));
    if (!small) small = reinterpret_cast<HICON>(::GetClassLongPtrW(w, GCLP_HICONSM));
    IconSize(big, &r->bigIconWidth, &r->bigIconHeight);
    IconSize(small, &r->smallIconWidth, &r->smallIconHeight);
}

void Record(ProbeBlock* block, HWND w) {
    if (block->count >= kProbeMaxRecords) return;
    ProbeRecord* r = &block->records[block->count++];
    r->hwnd = static_cast<ULONGLONG>(reinterpret_cast<UINT_PTR>(w));
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(w, WM_GETFONT, 0, 0));
    // Controls without a font of their own draw with the system font.
    if (!font) font = static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
    r->hasFont = ::GetObjectW(font, sizeof(r->font), &r->font) == sizeof(r->font);
    r->icon = IconKind(w);
    r->bigIconWidth = r->bigIconHeight = r->smallIconWidth = r->smallIconHeight = 0;
    if (!(::GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) WindowIcons(w, r);
}

BOOL CALLBACK RecordChild(HWND w, LPARAM block) {
    Record(reinterpret_cast<ProbeBlock*>(block), w);
    return TRUE;
}

void Answer(HWND top, DWORD inspectorPid) {
    wchar_t name[64];
    wsprintfW(name, L"%s%lu", kProbeMappingPrefix, inspectorPid);
    HANDLE mapping = ::OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (!mapping) return;
    auto* block = static_cast<ProbeBlock*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ProbeBlock)));
    if (block) {
        block->count = 0;
        Record(block, top);
        ::EnumChildWindows(top, RecordChild, reinterpret_cast<LPARAM>(block));
        block->done = kProbeDone;
        ::UnmapViewOfFile(block);
    }
    ::CloseHandle(mapping);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* cwp = reinterpret_cast<const CWPSTRUCT*>(lp);
        if (cwp->message == ::RegisterWindowMessageW(kProbeMessage))
            Answer(cwp->hwnd, static_cast<DWORD>(cwp->wParam));
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
