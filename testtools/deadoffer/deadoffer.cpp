// Test helper: offers a class object for a class, as a local server does
// once COM has started it, and then waits to be killed: killed there, it
// leaves the offer of a server that no longer exists.
//   deadoffer <clsid> <marker path> <seconds>
// Creates the marker file once the offer is registered. A server's own
// start gives no such moment: it looks idle while its offer is still on its
// way (the call that registers it pumps messages), so a kill then could
// come before there is any offer to leave.
#include <windows.h>
#include <objbase.h>

namespace {

class Factory final : public IClassFactory {
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
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
        if (out) *out = nullptr;
        return E_FAIL;  // never reached: the helper is killed before any client comes
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) return 2;
    CLSID clsid;
    if (FAILED(::CLSIDFromString(argv[1], &clsid))) return 2;
    if (FAILED(::CoInitialize(nullptr))) return 1;
    DWORD cookie = 0;
    if (FAILED(::CoRegisterClassObject(clsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie)))
        return 1;
    HANDLE m = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (m == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(m);
    // Serve messages meanwhile, as a server waiting for its client does.
    const DWORD end = ::GetTickCount() + static_cast<DWORD>(_wtoi(argv[3])) * 1000;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        DWORD now = ::GetTickCount();
        if (static_cast<LONG>(end - now) <= 0) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    }
    ::CoRevokeClassObject(cookie);
    return 0;
}
