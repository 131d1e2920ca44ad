// fixturewin: a small window with one control of each kind the inspector
// reports on, so the tooling's own tests check it against known values.
//
//   fixturewin [--title T]          shows the window ("Inspector Fixture")
//   fixturewin --env-out FILE       writes its environment (UTF-8, one
//                                   NAME=VALUE a line) to FILE and exits 0
//   fixturewin --exit N             exits at once with code N
//   fixturewin --count              once shown, the progress bar counts 0,
//                                   10, ..., 100 (a step each 200 ms), the
//                                   "Result" label then reads "done" and the
//                                   window closes itself
//   fixturewin --args-out FILE ...  writes its arguments after FILE (UTF-8,
//                                   one a line) to FILE and exits 0
//
// The buttons open message boxes (warning: OK with the exclamation icon;
// question: Yes/No with the question icon; error: OK with the stop icon;
// note: OK with the information icon) and show the answer's id in the
// "Result" label as "answer=<id>".
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

#include "layout.h"
#include "messages.h"
#include "strings.h"

namespace {

enum Id {
    kWarning = 101, kQuestion, kError, kNote, kDisabled, kHidden,
    kRemember = 201, kProgress = 301, kLog = 401, kResult = 501, kLongLabel, kShortLabel, kHeading, kCramped,
};

const wchar_t kFaceName[] = L"Tahoma";

std::wstring LongText() {
    std::wstring text;
    for (int i = 1; i <= 300; ++i)
        text += vellum::Format(L"Line %03d of the fixture's long text, to exceed ten kilobytes.\r\n", i);
    return text + L"END";
}

const vellum::ControlSpec kControls[] = {
    {kHeading, L"lblHeading", L"STATIC", L"Fixture heading", SS_LEFT, 0, {120, 90, 4500, 300}, -1, 1, true},
    {kWarning, L"cmdWarning", L"BUTTON", L"&Warning", BS_PUSHBUTTON | WS_TABSTOP, 0, {120, 480, 1500, 375}, -1, 0, true},
    {kQuestion, L"cmdQuestion", L"BUTTON", L"Question", BS_PUSHBUTTON | WS_TABSTOP, 0, {1740, 480, 1500, 375}, -1, 0, true},
    {kError, L"cmdError", L"BUTTON", L"Error", BS_PUSHBUTTON | WS_TABSTOP, 0, {3360, 480, 1500, 375}, -1, 0, true},
    {kNote, L"cmdNote", L"BUTTON", L"Note", BS_PUSHBUTTON | WS_TABSTOP, 0, {4980, 480, 1500, 375}, -1, 0, true},
    {kDisabled, L"cmdDisabled", L"BUTTON", L"Disabled", BS_PUSHBUTTON | WS_TABSTOP | WS_DISABLED, 0, {120, 960, 1500, 375}, -1, 0, true},
    {kHidden, L"cmdHidden", L"BUTTON", L"Hidden", BS_PUSHBUTTON | WS_TABSTOP, 0, {1740, 960, 1500, 375}, -1, 0, false},
    {kRemember, L"chkRemember", L"BUTTON", L"Remember me", BS_AUTOCHECKBOX | WS_TABSTOP, 0, {3360, 960, 3000, 300}, -1, 0, true},
    {kProgress, L"ProgressBar1", PROGRESS_CLASSW, L"", 0, 0, {120, 1440, 6360, 255}, -1, -1, true},
    {kLog, L"txtLog", L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER, 0, {120, 1800, 6360, 1500}, -1, 0, true},
    {kResult, L"lblResult", L"STATIC", L"answer=none", SS_LEFT, 0, {120, 3400, 3000, 255}, -1, 0, true},
    {kLongLabel, L"lblLong", L"STATIC", L"This label's text is far too long to fit into the small box it was given",
     SS_LEFT, 0, {120, 3700, 1500, 255}, -1, 0, true},
    {kShortLabel, L"lblShort", L"STATIC", L"Fits", SS_LEFT, 0, {3360, 3700, 1500, 255}, -1, 0, true},
    {kCramped, L"cmdCramped", L"BUTTON", L"A caption too long for its button", BS_PUSHBUTTON, 0, {4980, 3400, 1500, 375}, -1, 0, true},
};
const int kCount = sizeof(kControls) / sizeof(kControls[0]);
HWND g_controls[kCount];
bool g_done = false;

void Ask(HWND window, const wchar_t* text, const wchar_t* title, UINT type) {
    int answer = ::MessageBoxW(window, text, title, type);
    ::SetDlgItemTextW(window, kResult, vellum::Format(L"answer=%d", answer).c_str());
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case kWarning: Ask(window, L"Something went wrong.", L"Fixture warning", MB_OK | MB_ICONEXCLAMATION); return 0;
        case kQuestion: Ask(window, L"Do you want to go on?", L"Fixture question", MB_YESNO | MB_ICONQUESTION); return 0;
        case kError: Ask(window, L"The file cannot be created.", L"Fixture error", MB_OK | MB_ICONSTOP); return 0;
        case kNote: Ask(window, L"All done.", L"Fixture note", MB_OK | MB_ICONINFORMATION); return 0;
        case kDisabled: Ask(window, L"A disabled button was pressed.", L"Fixture forced", MB_OK); return 0;
        }
        break;
    case WM_TIMER: {
        HWND bar = ::GetDlgItem(window, kProgress);
        LRESULT pos = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
        if (pos < 100) {
            ::SendMessageW(bar, PBM_SETPOS, pos + 10, 0);
        } else if (!g_done) {
            g_done = true;
            ::SetDlgItemTextW(window, kResult, L"done");
        } else {
            ::KillTimer(window, wp);
            ::DestroyWindow(window);
        }
        return 0;
    }
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, msg, wp, lp);
}

int WriteUtf8(const wchar_t* path, const std::string& out) {
    HANDLE f = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    ::WriteFile(f, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    ::CloseHandle(f);
    return written == out.size() ? 0 : 3;
}

int WriteEnvironment(const wchar_t* path) {
    std::string out;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; p && *p; p += wcslen(p) + 1) out += vellum::WideToUtf8(p) + "\n";
    if (block) ::FreeEnvironmentStringsW(block);
    return WriteUtf8(path, out);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::wstring title = L"Inspector Fixture";
    bool count = false;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (wcscmp(argv[i], L"--count") == 0) {
            count = true;
        } else if (!hasValue) {
            break;
        } else if (wcscmp(argv[i], L"--env-out") == 0) {
            return WriteEnvironment(argv[i + 1]);
        } else if (wcscmp(argv[i], L"--exit") == 0) {
            return _wtoi(argv[i + 1]);
        } else if (wcscmp(argv[i], L"--title") == 0) {
            title = argv[++i];
        } else if (wcscmp(argv[i], L"--args-out") == 0) {
            std::string out;
            for (int k = i + 2; k < argc; ++k) out += vellum::WideToUtf8(argv[k]) + "\n";
            return WriteUtf8(argv[i + 1], out);
        }
    }

    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = inst;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"VellumFixtureWindow";
    ::RegisterClassExW(&wc);

    // The caption comes last, so a test that finds the window by it finds it ready.
    HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"Starting",
                                    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, inst, nullptr);
    int dpi = vellum::ScreenDpi();
    HFONT fonts[] = {vellum::CreatePointFont(kFaceName, 8, false, dpi), vellum::CreatePointFont(kFaceName, 12, true, dpi)};
    vellum::CreateControls(window, kControls, kCount, dpi, fonts, fonts[0], g_controls);
    ::SendDlgItemMessageW(window, kRemember, BM_SETCHECK, BST_CHECKED, 0);
    ::SendDlgItemMessageW(window, kProgress, PBM_SETRANGE32, 0, 100);
    ::SendDlgItemMessageW(window, kProgress, PBM_SETPOS, 42, 0);
    ::SetDlgItemTextW(window, kLog, LongText().c_str());
    vellum::SizeClientAndCenter(window, 6600, 4200, dpi);
    ::ShowWindow(window, show);
    ::SetFocus(::GetDlgItem(window, kQuestion));
    ::SetWindowTextW(window, title.c_str());
    if (count) {
        ::SendDlgItemMessageW(window, kProgress, PBM_SETPOS, 0, 0);
        ::SetTimer(window, 1, 200, nullptr);
    }
    return vellum::RunMessageLoop();
}
