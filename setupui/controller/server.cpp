#include "server.h"

#include <windows.h>
#include <objbase.h>

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

// closeAll / closeProgress: WM_QUIT is retrieved only once no other message
// is queued, so the call's reply leaves before the loop ends.
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
    RunMessageLoop();
    ::CoRevokeClassObject(cookie);
    // Disconnects what clients still hold; the controller's windows close with it.
    ::CoUninitialize();
    return 0;
}

}  // namespace controller
}  // namespace vellum
