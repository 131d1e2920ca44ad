// A stand-in for a system DLL, planted next to a program to find out whether
// the program loads DLLs from its own folder. On load it leaves a marker file
// named after itself ("<name>.dll.loaded") in the folder named by the
// environment variable VELLUM_PLANT_MARKERS, or next to itself when that is
// unset. The marker holds the loading program's path and whether the DLL was
// bound at start-up (an import of the program or of a DLL it imports) or
// loaded later by name. With VELLUM_PLANT_REFUSE set it then refuses to load.
// The version.dll build forwards its functions to the genuine DLL, as a real
// planted DLL would, so that programs keep running and are seen whole.
#include <windows.h>

namespace {

void WriteMarker(HINSTANCE self, bool atStartup) {
    wchar_t module[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(self, module, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const wchar_t* base = module;
    for (const wchar_t* p = module; *p; ++p)
        if (*p == L'\\' || *p == L'/') base = p + 1;

    wchar_t marker[MAX_PATH * 2];
    DWORD d = ::GetEnvironmentVariableW(L"VELLUM_PLANT_MARKERS", marker, MAX_PATH);
    if (d == 0 || d >= MAX_PATH) {
        // Next to the DLL itself.
        lstrcpynW(marker, module, static_cast<int>(base - module) + 1);
    } else if (marker[d - 1] != L'\\') {
        lstrcatW(marker, L"\\");
    }
    lstrcatW(marker, base);
    lstrcatW(marker, L".loaded");

    HANDLE f = ::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    // Which process loaded it, for the test's failure message.
    wchar_t exe[MAX_PATH];
    DWORD e = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    DWORD written = 0;
    const wchar_t* how = atStartup ? L"static|" : L"dynamic|";
    ::WriteFile(f, how, lstrlenW(how) * sizeof(wchar_t), &written, nullptr);
    ::WriteFile(f, exe, e * sizeof(wchar_t), &written, nullptr);
    ::CloseHandle(f);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    // The loader passes a non-null reserved pointer for DLLs bound at start-up.
    WriteMarker(self, reserved != nullptr);
    wchar_t refuse[4];
    return ::GetEnvironmentVariableW(L"VELLUM_PLANT_REFUSE", refuse, 4) == 0;
}

// A few exports under the names the genuine DLLs carry, so that a program
// importing them statically still finds something to bind to.
extern "C" __declspec(dllexport) int VellumPlanted() { return 1; }

#ifdef FAKEDLL_VERSION_PROXY
// The functions other system DLLs import from version.dll, passed on to the
// genuine one in the system folder.
namespace {
FARPROC Genuine(const char* name) {
    static HMODULE real = nullptr;
    if (!real) {
        wchar_t path[MAX_PATH];
        UINT n = ::GetSystemDirectoryW(path, MAX_PATH - 16);
        if (n == 0 || n >= MAX_PATH - 16) return nullptr;
        lstrcatW(path, L"\\version.dll");
        real = ::LoadLibraryW(path);
        if (!real) return nullptr;
    }
    return ::GetProcAddress(real, name);
}
}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
    auto f = reinterpret_cast<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(
        reinterpret_cast<void*>(Genuine("GetFileVersionInfoSizeW")));
    return f ? f(file, handle) : 0;
}
extern "C" __declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD len, LPVOID data) {
    auto f = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(
        reinterpret_cast<void*>(Genuine("GetFileVersionInfoW")));
    return f ? f(file, handle, len, data) : FALSE;
}
extern "C" __declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub, LPVOID* buf, PUINT len) {
    auto f = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(
        reinterpret_cast<void*>(Genuine("VerQueryValueW")));
    return f ? f(block, sub, buf, len) : FALSE;
}
#endif
