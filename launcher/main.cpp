// VellumInstaller: writes its payload into the working folder and starts the
// installation script.
#include <windows.h>

#include "dll_hardening.h"
#include "frmMain.h"
#include "launcher_logic.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Started from download folders: no DLL there may stand in for a system one.
    vellum::HardenDllSearchPath();
    // Common Controls and COM are started by the window when a run needs
    // them: a silent run writes its files without either.
    vellum::launcher::FrmMain frmMain;
    return frmMain.run(instance, vellum::launcher::ArgumentText(::GetCommandLineW()));
}
