// VellumSetupDev: the developer build of VellumSetup, whose start-up window
// is the test form.
#include <windows.h>
#include <objbase.h>

#include "dll_hardening.h"
#include "messages.h"
#include "testForm.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    vellum::HardenDllSearchPath();
    // The wizard's catalogue lookup uses the XML document object.
    if (FAILED(::CoInitialize(nullptr))) return 1;
    int code = 0;
    {
        vellum::testform::testForm form;
        if (!form.hwnd()) return 1;
        form.show();
        code = vellum::RunMessageLoop();
    }
    ::CoUninitialize();
    return code;
}
