#include "frmMain.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <cmath>
#include <vector>

#include "dll_hardening.h"
#include "layout.h"
#include "progress_resources.h"

namespace vellum {
namespace progress {

const wchar_t* const frmMain::kClassName = L"VellumProgressWindow";

namespace {

enum ControlIndex { kLblProgress, kProgressBar1, kLblTimer, kControlCount };

constexpr int kClientWidth = 7485;  // twips
constexpr int kClientHeight = 1200;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kTimer2Id = 2;
constexpr int kBarMax = 200;

// The window's controls in tab order. lblTimer begins below the client
// area, so its text is kept but not seen at the window's size.
const ControlSpec kLayout[kControlCount] = {
    {101, L"lblProgress", L"STATIC", L"Please  wait while Quillfeather is being uninstalled...",
     SS_CENTER | SS_NOPREFIX, 0, {405, 240, 6690, 435}, -1, -1, true},
    {102, L"ProgressBar1", PROGRESS_CLASSW, L"", PBS_SMOOTH, 0, {240, 720, 6975, 255}, -1, -1, false},
    {103, L"lblTimer", L"STATIC", L"", SS_CENTER | SS_NOPREFIX, 0, {330, 1260, 6735, 345}, -1, -1, true},
};

// Fixed dialog: no sizing border, no minimize or maximize box.
constexpr DWORD kWindowStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;

HINSTANCE ThisModule() { return ::GetModuleHandleW(nullptr); }

// The progress bar class lives in comctl32, which is not among the DLLs the
// system always takes from its own folder: importing it would let a copy in
// the program's folder (the working folder under TEMP) be loaded instead.
void RegisterProgressClass() {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = LoadSystemLibrary(L"comctl32.dll");
    auto init = comctl ? reinterpret_cast<InitFn>(::GetProcAddress(comctl, "InitCommonControlsEx")) : nullptr;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
    if (init) init(&icc);
}

void RegisterWindowClass(WNDPROC proc) {
    static bool done = false;
    if (done) return;
    RegisterProgressClass();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = ThisModule();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = frmMain::kClassName;
    done = ::RegisterClassExW(&wc) != 0;
}

DWORD ParentProcessId() {
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof pe;
    DWORD self = ::GetCurrentProcessId(), parent = 0;
    for (BOOL more = ::Process32FirstW(snap, &pe); more; more = ::Process32NextW(snap, &pe))
        if (pe.th32ProcessID == self) parent = pe.th32ParentProcessID;
    ::CloseHandle(snap);
    return parent;
}

// The topmost visible message box (dialog class) of these processes.
HWND OpenBox(HWND except, DWORD pid1, DWORD pid2) {
    for (HWND w = ::GetTopWindow(nullptr); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        if (w == except || !::IsWindowVisible(w)) continue;
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid != pid1 && (pid2 == 0 || pid != pid2)) continue;
        wchar_t cls[16] = {};
        if (::GetClassNameW(w, cls, 16) && ::lstrcmpW(cls, L"#32770") == 0) return w;
    }
    return nullptr;
}

}  // namespace

// ---- controls ----------------------------------------------------------

float ProgressBarControl::Value() const {
    return static_cast<float>(::SendMessageW(hwnd, PBM_GETPOS, 0, 0));
}

float ProgressBarControl::Max() const {
    return static_cast<float>(::SendMessageW(hwnd, PBM_GETRANGE, FALSE, 0));
}

bool ProgressBarControl::setValue(float v) {
    if (!(v >= Min() && v <= Max())) return false;
    ::SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(RoundHalfEven(v)), 0);
    return true;
}

bool ProgressBarControl::setMax(float v) {
    if (!(v > Min()) || v > 32767.0f) return false;
    ::SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(Min()), RoundHalfEven(v));
    return true;
}

bool ProgressBarControl::Visible() const { return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

void ProgressBarControl::setVisible(bool visible) { ::ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE); }

std::wstring LabelControl::Caption() const {
    int n = ::GetWindowTextLengthW(hwnd);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    ::GetWindowTextW(hwnd, buf.data(), n + 1);
    return std::wstring(buf.data());
}

void LabelControl::setCaption(const std::wstring& text) { ::SetWindowTextW(hwnd, text.c_str()); }

void TimerControl::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

bool TimerControl::setInterval(long ms) {
    if (ms < 0) return false;
    interval_ = ms;
    apply();
    return true;
}

void TimerControl::apply() {
    if (!hwnd) return;
    // Setting an existing timer again restarts its interval, as a timer
    // control does when it is switched on or given a new interval.
    if (enabled_ && interval_ > 0)
        ::SetTimer(hwnd, id, static_cast<UINT>(interval_), nullptr);
    else
        ::KillTimer(hwnd, id);
}

// ---- window ------------------------------------------------------------

frmMain::frmMain(RandomDraw draw) : draw_(std::move(draw)) {
    RegisterWindowClass(&frmMain::WndProc);
    hwnd_ = ::CreateWindowExW(kWindowExStyle, kClassName, L"Uninstall", kWindowStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, 100, 100, nullptr, nullptr, ThisModule(), nullptr);
    if (!hwnd_) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // The progress of an installation cannot be cancelled from here.
    ::EnableMenuItem(::GetSystemMenu(hwnd_, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);

    int dpi = ScreenDpi();
    HWND controls[kControlCount] = {};
    CreateControls(hwnd_, kLayout, kControlCount, dpi, nullptr, DefaultGuiFont(), controls);
    lblProgress.hwnd = controls[kLblProgress];
    ProgressBar1.hwnd = controls[kProgressBar1];
    lblTimer.hwnd = controls[kLblTimer];
    ::SendMessageW(ProgressBar1.hwnd, PBM_SETRANGE32, 0, kBarMax);
    ::SendMessageW(ProgressBar1.hwnd, PBM_SETPOS, 0, 0);
    SizeClientAndCenter(hwnd_, kClientWidth, kClientHeight, dpi);

    bigIcon_ = static_cast<HICON>(::LoadImageW(ThisModule(), MAKEINTRESOURCEW(IDI_PROGRESS_WINDOW), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(::LoadImageW(ThisModule(), MAKEINTRESOURCEW(IDI_PROGRESS_WINDOW),
                                                 IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    if (bigIcon_) ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    if (smallIcon_) ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    starterPid_ = ParentProcessId();
    Timer1.hwnd = hwnd_;
    Timer1.id = kTimer1Id;
    Timer2.hwnd = hwnd_;
    Timer2.id = kTimer2Id;
    Timer1.setInterval(1000);
    Timer2.setInterval(500);
    Form_Load();
    // Both timers are enabled in the design: they tick from load on, hidden or not.
    Timer1.setEnabled(true);
    Timer2.setEnabled(true);
}

frmMain::~frmMain() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    if (bigIcon_) ::DestroyIcon(bigIcon_);
    if (smallIcon_) ::DestroyIcon(smallIcon_);
}

void frmMain::Form_Load() {
    if (!draw_) draw_ = ClockSeededDraw();
}

VARIANT frmMain::currentMax() const {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I2;
    v.iVal = currentMax_;
    return v;
}

HRESULT frmMain::setCurrentMax(const VARIANT& vNewValue) {
    VARIANT converted;
    ::VariantInit(&converted);
    HRESULT hr = ::VariantChangeType(&converted, const_cast<VARIANT*>(&vNewValue), 0, VT_I2);
    if (FAILED(hr)) return hr;
    currentMax_ = converted.iVal;
    return S_OK;
}

void frmMain::setToTop() {
    // HWND_TOP, not the topmost band; without SWP_NOACTIVATE the window is activated too.
    ::SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

std::wstring frmMain::caption() const {
    int n = ::GetWindowTextLengthW(hwnd_);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    ::GetWindowTextW(hwnd_, buf.data(), n + 1);
    return std::wstring(buf.data());
}

void frmMain::setCaption(const std::wstring& text) { ::SetWindowTextW(hwnd_, text.c_str()); }

void frmMain::show() { ::ShowWindow(hwnd_, SW_SHOW); }

void frmMain::hide() { ::ShowWindow(hwnd_, SW_HIDE); }

void frmMain::setVisible(bool visible) {
    if (visible) show(); else hide();
}

bool frmMain::isVisible() const { return hwnd_ && ::IsWindowVisible(hwnd_); }

void frmMain::Timer1_Timer() {
    BarState bar;
    bar.value = ProgressBar1.Value();
    bar.min = ProgressBar1.Min();
    bar.max = ProgressBar1.Max();
    float before = bar.value;
    CreepTick(progressValue, currentMax_, bar, draw_);
    if (bar.value != before) ProgressBar1.setValue(bar.value);
}

void frmMain::Timer2_Timer() {
    if (!isVisible()) return;
    if (HWND box = OpenBox(hwnd_, ::GetCurrentProcessId(), starterPid_)) {
        ::SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
        return;
    }
    setToTop();
}

LRESULT CALLBACK frmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<frmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_TIMER:
        if (self) {
            if (wp == kTimer1Id) self->Timer1_Timer();
            else if (wp == kTimer2Id) self->Timer2_Timer();
        }
        return 0;
    case WM_CLOSE:
        return 0;  // no reaction to a close request: the script owns this window
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_CLOSE) return 0;
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace progress
}  // namespace vellum
