// The installation wizard window of VellumSetup, as the controller and the
// developer test form use it. The window is created lazily: constructing the
// object and setting localeID do not load it; show(), caption() or any use
// of a control loads it (Form_Load).
#pragma once
#include <windows.h>

#include <memory>
#include <string>

namespace vellum {
namespace wizard {

// Why this build of VellumSetup cannot open a wizard, or null where it can.
// The small maintenance build links a stand-in for this library
// (no_wizard.cpp) whose wizard never opens.
const wchar_t* WizardMissing();

class frmSetup {
public:
    frmSetup();
    ~frmSetup();  // destroys the window if loaded, without asking anything
    frmSetup(const frmSetup&) = delete;
    frmSetup& operator=(const frmSetup&) = delete;

    // Public members, read and written directly by the controller.
    short currentStep = 0;
    std::wstring localeID;
    std::wstring uiStringsFileName;
    std::wstring licFile;
    bool proceedInstall = false;
    bool installFinished = false;

    // Catalogue lookup of this window (falls back to defaultString).
    std::wstring getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString);

    void show();       // modeless, no owner; loads the window first if needed
    void showModal();  // shows and returns once the window is hidden or unloaded
    void hide();
    bool isVisible() const;
    bool isLoaded() const;
    std::wstring caption();  // loads the window if needed

    // A press of nextButton by program: runs nextButton_Click even while the
    // button is disabled.
    void pressNext();

    // Unload by program: runs the close request with the "unload by program"
    // reason. Returns true when the unload proceeded (the window is gone).
    bool unload();

    // chkLaunch: 1 when checked, 0 when not.
    int chkLaunchValue() const;

    HWND hwnd() const;

    struct Impl;
private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace wizard
}  // namespace vellum
