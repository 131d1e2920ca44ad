// The progress window as a window: design settings, the bar's range, the
// currentMax property, and the two timers' handlers on real controls.
#include <gtest/gtest.h>

#include <commctrl.h>

#include "frmMain.h"
#include "layout.h"

using vellum::progress::frmMain;

namespace {

void PumpFor(DWORD ms) {
    DWORD end = ::GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        DWORD now = ::GetTickCount();
        if (static_cast<LONG>(end - now) <= 0) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    }
}

// True when a lies above b in the z-order of top-level windows.
bool IsAbove(HWND a, HWND b) {
    for (HWND w = ::GetWindow(a, GW_HWNDNEXT); w; w = ::GetWindow(w, GW_HWNDNEXT))
        if (w == b) return true;
    return false;
}

RECT ChildRect(HWND parent, HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A work area smaller than the screen, as a taskbar leaves it, for the
// length of one test.
class ShrunkWorkArea {
public:
    ShrunkWorkArea() {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved_, 0);
        RECT r = {0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN) - 120};
        set_ = ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &r, 0) != FALSE;
    }
    ~ShrunkWorkArea() {
        if (set_) ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved_, 0);
    }
    bool set() const { return set_; }

private:
    RECT saved_ = {};
    bool set_ = false;
};

TEST(ProgressWindow, DesignSettingsAtLoad) {
    ShrunkWorkArea taskbar;
    ASSERT_TRUE(taskbar.set());
    frmMain f;
    ASSERT_TRUE(f.hwnd());
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.caption(), L"Uninstall");
    EXPECT_EQ(f.lblProgress.Caption(), L"Please  wait while Quillfeather is being uninstalled...");
    EXPECT_EQ(f.lblTimer.Caption(), L"");
    EXPECT_FALSE(f.ProgressBar1.Visible());
    EXPECT_EQ(f.ProgressBar1.Min(), 0);
    EXPECT_EQ(f.ProgressBar1.Max(), 200);
    EXPECT_EQ(f.ProgressBar1.Value(), 0);
    EXPECT_TRUE(::GetWindowLongPtrW(f.ProgressBar1.hwnd, GWL_STYLE) & PBS_SMOOTH);
    EXPECT_EQ(f.progressValue, 0);
    EXPECT_EQ(f.currentMaxValue(), 0);
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_EQ(f.Timer1.Interval(), 1000);
    EXPECT_TRUE(f.Timer2.Enabled());
    EXPECT_EQ(f.Timer2.Interval(), 500);

    LONG_PTR style = ::GetWindowLongPtrW(f.hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << "fixed dialog";
    EXPECT_TRUE(style & WS_CAPTION);

    int dpi = vellum::ScreenDpi();
    RECT client;
    ::GetClientRect(f.hwnd(), &client);
    EXPECT_EQ(client.right, vellum::TwipsToPixels(7485, dpi));
    EXPECT_EQ(client.bottom, vellum::TwipsToPixels(1200, dpi));
    RECT label = ChildRect(f.hwnd(), f.lblProgress.hwnd);
    EXPECT_EQ(label.left, vellum::TwipsToPixels(405, dpi));
    EXPECT_EQ(label.top, vellum::TwipsToPixels(240, dpi));
    RECT bar = ChildRect(f.hwnd(), f.ProgressBar1.hwnd);
    EXPECT_EQ(bar.left, vellum::TwipsToPixels(240, dpi));
    EXPECT_EQ(bar.right - bar.left, vellum::TwipsToPixels(6975, dpi));
    RECT timer = ChildRect(f.hwnd(), f.lblTimer.hwnd);
    EXPECT_GE(timer.top, client.bottom) << "lblTimer lies below the client area";
    EXPECT_TRUE(::GetWindowLongPtrW(f.lblProgress.hwnd, GWL_STYLE) & SS_CENTER);

    // Centred on the screen, not on the work area above the taskbar.
    RECT win;
    ::GetWindowRect(f.hwnd(), &win);
    EXPECT_NEAR(win.left + win.right, ::GetSystemMetrics(SM_CXSCREEN), 2);
    EXPECT_NEAR(win.top + win.bottom, ::GetSystemMetrics(SM_CYSCREEN), 2);
}

TEST(ProgressWindow, BarRefusesValuesOutsideItsRange) {
    frmMain f;
    EXPECT_TRUE(f.ProgressBar1.setValue(200));
    EXPECT_FALSE(f.ProgressBar1.setValue(201));
    EXPECT_FALSE(f.ProgressBar1.setValue(-1));
    EXPECT_EQ(f.ProgressBar1.Value(), 200);
    EXPECT_FALSE(f.ProgressBar1.setMax(0));
    EXPECT_FALSE(f.ProgressBar1.setMax(-3));
    EXPECT_EQ(f.ProgressBar1.Max(), 200);
    EXPECT_TRUE(f.ProgressBar1.setMax(50));
    EXPECT_EQ(f.ProgressBar1.Max(), 50);
    EXPECT_LE(f.ProgressBar1.Value(), 50) << "a lowered maximum keeps the value inside";
    EXPECT_TRUE(f.ProgressBar1.setValue(12.5f));
    EXPECT_EQ(f.ProgressBar1.Value(), 12) << "rounded half to even";
}

TEST(ProgressWindow, CurrentMaxIsAVariantStoredAsInteger) {
    frmMain f;
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_R4;
    v.fltVal = 12.5f;
    EXPECT_EQ(f.setCurrentMax(v), S_OK);
    EXPECT_EQ(f.currentMaxValue(), 12);
    v.fltVal = 40000.0f;
    EXPECT_TRUE(FAILED(f.setCurrentMax(v)));
    EXPECT_EQ(f.currentMaxValue(), 12);
    VARIANT got = f.currentMax();
    EXPECT_EQ(got.vt, VT_I2);
    EXPECT_EQ(got.iVal, 12);
}

TEST(ProgressWindow, CreepTickMovesTheRealBar) {
    int draw = 0;
    frmMain f([&draw]() { return draw; });
    f.Timer1.setEnabled(false);
    f.ProgressBar1.setValue(10);
    f.progressValue = 10;
    f.setCurrentMaxValue(20);
    draw = 0;
    f.Timer1_Timer();
    f.Timer1_Timer();
    EXPECT_EQ(f.progressValue, 12);
    EXPECT_EQ(f.ProgressBar1.Value(), 10);
    draw = 3;
    f.Timer1_Timer();
    EXPECT_EQ(f.ProgressBar1.Value(), 12);
    f.ProgressBar1.setMax(11);  // lowered below the position
    f.Timer1_Timer();
    EXPECT_EQ(f.ProgressBar1.Value(), 11);
}

TEST(ProgressWindow, IntervalRefusesNegativeAndZeroStopsTicks) {
    frmMain f;
    EXPECT_FALSE(f.Timer1.setInterval(-5));
    EXPECT_EQ(f.Timer1.Interval(), 1000);
    EXPECT_TRUE(f.Timer1.setInterval(0));
    EXPECT_EQ(f.Timer1.Interval(), 0);
    EXPECT_TRUE(f.Timer1.Enabled());
}

TEST(ProgressWindow, TopTimerRaisesOnlyWhileVisible) {
    frmMain f;
    f.Timer1.setEnabled(false);
    HWND other = ::CreateWindowExW(0, L"STATIC", L"other window", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 200,
                                   100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(other);

    f.show();
    ::SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    ASSERT_TRUE(IsAbove(other, f.hwnd()));
    PumpFor(1200);
    EXPECT_TRUE(IsAbove(f.hwnd(), other)) << "a visible window is raised by the top tick";

    f.hide();
    ::SetWindowPos(other, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    PumpFor(1200);
    EXPECT_TRUE(IsAbove(other, f.hwnd())) << "a hidden window is left alone";
    EXPECT_FALSE(f.isVisible());
    ::DestroyWindow(other);
}

}  // namespace
