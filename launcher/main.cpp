// VellumInstaller: writes its payload into the working folder and starts the
// installation script.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "dll_hardening.h"
#include "frmMain.h"
#include "launcher_logic.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Started from download folders: no DLL there may stand in for a system one.
    vellum::HardenDllSearchPath();
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    // The catalogue lookup and the shell both want a single-threaded apartment.
    HRESULT hr = ::CoInitialize(nullptr);
    int code;
    {
        vellum::launcher::FrmMain frmMain;
        code = frmMain.run(instance, vellum::launcher::ArgumentText(::GetCommandLineW()));
    }
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return code;
}
