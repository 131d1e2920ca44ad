// The progress window of VellumSetup: a status text over a progress bar that
// creeps toward the script's last target, raised to the top twice a second
// while it is visible. Creating the object loads the window (hidden).
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "creep.h"

namespace vellum {
namespace progress {

class frmMain;

// The controls, reached by their names as the controller and the developer
// test form use them.
class ProgressBarControl {
public:
    float Value() const;
    float Max() const;
    float Min() const { return 0; }
    // The bar holds integer positions; a fractional value is rounded half to
    // even. Both refuse a value outside the bar's range and change nothing.
    bool setValue(float v);
    bool setMax(float v);  // must lie above the minimum
    bool Visible() const;
    void setVisible(bool visible);
    HWND hwnd = nullptr;
};

class LabelControl {
public:
    std::wstring Caption() const;
    void setCaption(const std::wstring& text);
    HWND hwnd = nullptr;
};

class TimerControl {
public:
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    long Interval() const { return interval_; }
    // Refuses a negative interval and keeps the old one; 0 means no ticks.
    bool setInterval(long ms);
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
private:
    friend class frmMain;
    void apply();
    bool enabled_ = false;
    long interval_ = 0;
};

class frmMain {
public:
    // draw: the creep's random source; empty means one seeded from the clock
    // at load.
    explicit frmMain(RandomDraw draw = RandomDraw());
    ~frmMain();
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Creep position: what the bar shows at the next show tick.
    short progressValue = 0;

    // Creep target, as the automation Variant the callers exchange.
    VARIANT currentMax() const;                 // VT_I2
    HRESULT setCurrentMax(const VARIANT& vNewValue);  // converted to a 16-bit integer
    short currentMaxValue() const { return currentMax_; }
    void setCurrentMaxValue(short v) { currentMax_ = v; }

    // Raises the window to the top of the non-topmost windows and activates it.
    void setToTop();

    std::wstring caption() const;
    void setCaption(const std::wstring& text);
    void show();  // modeless, no owner
    void hide();
    void setVisible(bool visible);
    bool isVisible() const;
    HWND hwnd() const { return hwnd_; }

    ProgressBarControl ProgressBar1;
    LabelControl lblProgress;
    LabelControl lblTimer;
    TimerControl Timer1;  // the creep timer
    TimerControl Timer2;  // the top timer

    // Handlers, public so that a test can drive a tick directly.
    void Timer1_Timer();
    // Raises the window, or, while a message box of this program or of the
    // process that started it is open, that box: the window never covers a
    // question or message of its own installation.
    void Timer2_Timer();

    // Window class name, for tools that look the window up.
    static const wchar_t* const kClassName;

private:
    void Form_Load();
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);

    HWND hwnd_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    short currentMax_ = 0;
    RandomDraw draw_;
    DWORD starterPid_ = 0;  // the process that started this one (the script host, where COM starts it directly)
};

}  // namespace progress
}  // namespace vellum
