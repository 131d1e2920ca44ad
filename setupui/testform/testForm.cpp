#include "testForm.h"

#include "layout.h"
#include "messages.h"

namespace vellum {
namespace testform {

namespace {

constexpr const wchar_t* kClassName = L"VellumTestForm";
constexpr int kCommand1Id = 1;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT kTimer1Interval = 500;

const ControlSpec kLayout[] = {
    {kCommand1Id, L"Command1", L"BUTTON", L"Command1", BS_PUSHBUTTON | WS_TABSTOP, 0, {1215, 960, 2025, 765}, -1, -1,
     true},
};

// Development copies of a catalogue and a license text; the wizard's load
// step replaces both with the files of its locale beside the program.
constexpr const wchar_t* kDevCatalogue = L"C:\\VellumDev\\UIText.xml";
constexpr const wchar_t* kDevLicense = L"C:\\VellumDev\\EULA.txt";

// An uncaught run-time error of the form: reported, and the program ends.
[[noreturn]] void RunTimeError(HWND owner, const wchar_t* text) {
    ::MessageBoxW(owner, text, L"VellumSetupDev", MB_OK | MB_ICONSTOP);
    ::ExitProcess(1);
}

}  // namespace

testForm::testForm() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &testForm::WndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);  // the default window icon
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);
    hwnd_ = ::CreateWindowExW(0, kClassName, L"Form1", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                              CW_USEDEFAULT, 100, 100, nullptr, nullptr, wc.hInstance, this);
    if (!hwnd_) return;
    int dpi = ScreenDpi();
    CreateControls(hwnd_, kLayout, 1, dpi, nullptr, DefaultGuiFont(), &command1_);
    // Tab reaches Command1, and Enter or Space presses it, as in a dialog.
    RegisterDialogWindow(hwnd_);
    // Client area 4680 x 3090 twips; the position stays where Windows put it.
    RECT r = {0, 0, TwipsToPixels(4680, dpi), TwipsToPixels(3090, dpi)};
    ::AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
}

testForm::~testForm() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
}

void testForm::show() { ::ShowWindow(hwnd_, SW_SHOW); }

progress::frmMain& testForm::progressForm() {
    if (!progressForm_) progressForm_ = std::make_unique<progress::frmMain>();
    return *progressForm_;
}

void testForm::setTimer1(bool enabled) {
    timer1Enabled_ = enabled;
    if (enabled) ::SetTimer(hwnd_, kTimer1Id, kTimer1Interval, nullptr);
    else ::KillTimer(hwnd_, kTimer1Id);
}

void testForm::Command1_Click() {
    wizardForm = std::make_unique<wizard::frmSetup>();
    wizardForm->uiStringsFileName = kDevCatalogue;
    wizardForm->licFile = kDevLicense;
    wizardForm->localeID = L"en-us";
    wizardForm->show();
    wizardForm->currentStep = -1;
    wizardForm->pressNext();
    // No time-out: the user walks through the wizard meanwhile.
    wizard::frmSetup* wizard = wizardForm.get();
    while (!wizard->proceedInstall) {
        if (!PumpPendingMessages()) return;  // the program is ending
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        if (wizardForm.get() != wizard) return;  // a later press replaced the wizard
    }
    tickCount = 1;
    setTimer1(true);
    progressForm().setCaption(wizardForm->caption());
    progressForm().lblProgress.setCaption(wizardForm->getLocalizedMsg(
        L"loc_UI_Install_Progress", L"Please wait while Quillfeather is being installed..."));
    progressForm().show();
}

void testForm::Timer1_Timer() {
    // The tick lets messages in (and at its end waits for the modal wizard):
    // a tick arriving meanwhile is skipped rather than run inside it, so the
    // finishing sequence runs once and tickCount counts whole ticks.
    if (inTick_) return;
    inTick_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{inTick_};
    progress::frmMain& progress = progressForm();
    if (!progress.isVisible()) return;
    progress.ProgressBar1.setVisible(true);
    progress.setToTop();
    progress.ProgressBar1.setValue(static_cast<float>(progress.currentMaxValue()));
    PumpPendingMessages();
    progress.ProgressBar1.setValue(static_cast<float>(progress.currentMaxValue()));
    progress.Timer1.setEnabled(true);
    VARIANT cap;
    ::VariantInit(&cap);
    cap.vt = VT_R4;
    cap.fltVal = progress.ProgressBar1.Max() * static_cast<float>(tickCount) / 20.0f;
    if (FAILED(progress.setCurrentMax(cap))) RunTimeError(hwnd_, L"Overflow");
    if (tickCount == 20) {
        progress.Timer1.setEnabled(false);
        progress.hide();
        wizardForm->pressNext();
        wizardForm->hide();
        wizardForm->showModal();  // the rest of this tick waits for the user
    }
    if (tickCount == 32767) RunTimeError(hwnd_, L"Overflow");
    ++tickCount;
}

LRESULT CALLBACK testForm::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<testForm*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_COMMAND:
        if (self && LOWORD(wp) == kCommand1Id && HIWORD(wp) == BN_CLICKED) {
            self->Command1_Click();
            return 0;
        }
        break;
    case WM_TIMER:
        if (self && wp == kTimer1Id) {
            self->Timer1_Timer();
            return 0;
        }
        break;
    case WM_DESTROY:
        UnregisterDialogWindow(hwnd);
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace testform
}  // namespace vellum
