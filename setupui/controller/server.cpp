#include "server.h"

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include "VellumSetup_h.h"
#include "controller.h"
#include "messages.h"

namespace vellum {
namespace controller {

namespace {

// Objects alive plus LockServer locks. All on the one UI thread.
long g_locks = 0;
bool g_everUsed = false;

void EndServer() { ::PostQuitMessage(0); }

void Lock() {
    ++g_locks;
    g_everUsed = true;
}

void Unlock() {
    if (--g_locks <= 0) {
        g_locks = 0;
        EndServer();  // the last client is gone: nothing is left to wait for
    }
}

// closeAll / closeProgress: the call returns, and COM sends the caller its
// answer, before the message loop gets to WM_QUIT and the process ends.
void EndAfterCall() { EndServer(); }

const ServerHooks kHooks = {&Lock, &Unlock, &EndAfterCall};

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Static object: lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (out) *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return Controller::Create(kHooks, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) Lock(); else Unlock();
        return S_OK;
    }
};

ClassFactory g_factory;

void CALLBACK ConnectTimeout(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (!g_everUsed) EndServer();
}

// The process that launched this one. Where the COM runtime starts a local
// server from the activating client's own process (as Wine does), that is
// the client; on Windows it is the COM launch service, which never ends.
HANDLE g_launcher = nullptr;

HANDLE OpenLauncherProcess() {
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return nullptr;
    DWORD self = ::GetCurrentProcessId(), parent = 0;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe))
        if (pe.th32ProcessID == self) parent = pe.th32ParentProcessID;
    ::CloseHandle(snap);
    return parent ? ::OpenProcess(SYNCHRONIZE, FALSE, parent) : nullptr;
}

// A client that dies does not always release its controller: COM on Windows
// runs its references down after a few minutes, Wine not at all. A server
// whose launching client has ended has nobody left to serve. The timer is a
// thread timer, so it also ticks inside message boxes and waits.
void CALLBACK WatchLauncher(HWND, UINT, UINT_PTR id, DWORD) {
    if (g_launcher && ::WaitForSingleObject(g_launcher, 0) == WAIT_OBJECT_0) {
        ::KillTimer(nullptr, id);
        EndServer();
    }
}

BOOL CALLBACK HideWindow(HWND h, LPARAM) {
    ::ShowWindow(h, SW_HIDE);
    return TRUE;
}

// The server is ending, but COM still owes the client the reply to the call
// that ended it (closeAll, closeProgress, the last Release): its own thread
// sends it once the call has returned. A client that has its reply releases
// what it holds. CoUninitialize waits for such calls without limit and was
// seen to wait for good on one still coming in, so instead the process
// serves what comes in until the client has let go, has ended, or
// kLastCallsMs have passed, and then ends without tearing COM down.
void ServeLastCalls() {
    // Whatever window is left closes now, as far as the user can tell.
    ::EnumThreadWindows(::GetCurrentThreadId(), HideWindow, 0);
    const DWORD start = ::GetTickCount();
    DWORD releasedAt = 0;
    bool released = false;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // ending already
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        DWORD now = ::GetTickCount();
        if (!released && g_locks <= 0) {
            released = true;
            releasedAt = now;
        }
        if (g_launcher && ::WaitForSingleObject(g_launcher, 0) == WAIT_OBJECT_0) break;  // nobody to answer
        // The reply to the last release is on its way; give it a moment to leave.
        if (released && now - releasedAt >= kReleaseReplyMs) break;
        if (now - start >= kLastCallsMs) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

}  // namespace

int RunServer() {
    if (FAILED(::CoInitialize(nullptr))) return 1;
    DWORD cookie = 0;
    HRESULT hr = ::CoRegisterClassObject(CLSID_controller, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                         &cookie);
    if (FAILED(hr)) {
        ::CoUninitialize();
        return 1;
    }
    ::SetTimer(nullptr, 0, kConnectTimeoutMs, &ConnectTimeout);
    g_launcher = OpenLauncherProcess();
    if (g_launcher) ::SetTimer(nullptr, 0, kLauncherPollMs, &WatchLauncher);
    RunMessageLoop();
    ::CoRevokeClassObject(cookie);
    ServeLastCalls();
    if (g_launcher) ::CloseHandle(g_launcher);
    // No CoUninitialize (see ServeLastCalls): the process ends, and what
    // clients still hold is disconnected with it.
    return 0;
}

}  // namespace controller
}  // namespace vellum
