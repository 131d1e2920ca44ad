// Stand-in for the wizard library in VellumSetup's maintenance build (the
// copy kept with an installation to uninstall and repair it): no wizard
// window, pictures or license code. Its texts come from a catalogue of its
// own (maintenance_texts.cpp). The controller asks
// WizardMissing() before it would open a wizard, so none of the members
// below is reached; they exist so that the controller links unchanged, and
// each does nothing a caller could mistake for a wizard.
#include "frmSetup.h"

namespace vellum {
namespace wizard {

const wchar_t* WizardMissing() { return L"this build has no wizard."; }

struct frmSetup::Impl {};

frmSetup::frmSetup() {}
frmSetup::~frmSetup() {}

std::wstring frmSetup::getLocalizedMsg(const std::wstring&, const std::wstring& defaultString) {
    return defaultString;
}

void frmSetup::show() {}
void frmSetup::showModal() {}
void frmSetup::hide() {}
bool frmSetup::isVisible() const { return false; }
bool frmSetup::isLoaded() const { return false; }
std::wstring frmSetup::caption() { return std::wstring(); }
void frmSetup::pressNext() {}
bool frmSetup::unload() { return true; }
int frmSetup::chkLaunchValue() const { return 0; }
HWND frmSetup::hwnd() const { return nullptr; }

}  // namespace wizard
}  // namespace vellum
