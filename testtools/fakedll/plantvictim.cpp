// The control case of the DLL-planting test: an unhardened program that loads
// "version.dll" by bare name, as any program might. Planted next to it, the
// fake DLL must be found and leave its marker; if it does not, the test setup
// cannot detect planting at all. Exit code: 0 if LoadLibrary succeeded.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
    // "harden" as the argument applies the program's own defence first, so
    // the test can also show that the helper itself stops the planting.
    if (cmd && lstrcmpW(cmd, L"harden") == 0) {
        extern bool HardenForTest();
        HardenForTest();
    }
    HMODULE m = ::LoadLibraryW(L"version.dll");
    return m ? 0 : 1;
}
