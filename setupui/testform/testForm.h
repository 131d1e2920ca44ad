// A developer's harness: runs the wizard and a simulated installation on the
// two windows directly, without the installation script. Only the developer
// build (VellumSetupDev) contains it.
#pragma once
#include <windows.h>

#include <memory>

#include "frmMain.h"
#include "frmSetup.h"

namespace vellum {
namespace testform {

class testForm {
public:
    testForm();
    ~testForm();
    testForm(const testForm&) = delete;
    testForm& operator=(const testForm&) = delete;

    void show();
    HWND hwnd() const { return hwnd_; }

    void Command1_Click();
    void Timer1_Timer();

private:
    // The progress window creates itself on first use.
    progress::frmMain& progressForm();
    void setTimer1(bool enabled);
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);

    HWND hwnd_ = nullptr;
    HWND command1_ = nullptr;
    bool timer1Enabled_ = false;
    bool inTick_ = false;  // a tick is running (it processes messages itself)
    std::unique_ptr<wizard::frmSetup> wizardForm;
    std::unique_ptr<progress::frmMain> progressForm_;
    short tickCount = 0;
};

}  // namespace testform
}  // namespace vellum
