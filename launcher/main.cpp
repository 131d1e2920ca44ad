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
    // Common Controls are loaded here rather than imported: an imported
    // comctl32 starts up before this line and loads the theme library by
    // name from the program's folder first. The theme library is taken from
    // the system folder before that, so the later load by name finds it; the
    // controls library itself is loaded by name so that the manifest's
    // redirection to version 6.0 applies.
    vellum::LoadSystemLibrary(L"uxtheme.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    auto init = comctl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControlsEx")))
                       : nullptr;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    if (init) init(&icc);
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
