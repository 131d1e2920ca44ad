// The controller object: the whole user interface of the installation as
// the installation script sees it. It owns the two windows of VellumSetup,
// creates each on first need and forwards the script's values to them.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <string>

#include "VellumSetup_h.h"
#include "frmMain.h"
#include "frmSetup.h"
#include "handles.h"
#include "reentrant.h"

namespace vellum {
namespace controller {

// Failures returned to the script, each with a description in the call's
// error information.
constexpr HRESULT kErrNoWizard = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
constexpr HRESULT kErrNoProgressWindow = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0202);
constexpr HRESULT kErrOutOfRange = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0203);
constexpr HRESULT kErrWindow = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0204);

// What the object asks of the process that serves it.
struct ServerHooks {
    void (*objectCreated)() = nullptr;
    void (*objectReleased)() = nullptr;
    // Ends the server once the current call has returned to its caller.
    void (*endAfterCall)() = nullptr;
};

// A call can wait in a nested loop (a message box, the finish page) while
// another apartment of the client releases the object: it is then deleted
// once that call has returned (Reentrant).
class Controller final : public _controller, public ISupportErrorInfo, public Reentrant {
public:
    // Creates an object and returns the interface asked for.
    static HRESULT Create(const ServerHooks& hooks, REFIID riid, void** out);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, through the type library
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // _controller
    HRESULT STDMETHODCALLTYPE showComplete(BSTR completeString, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE get_Caption(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Caption(BSTR* value) override;
    HRESULT STDMETHODCALLTYPE closeProgress() override;
    HRESULT STDMETHODCALLTYPE setMaxValue(short maxValue, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE setInterval(short interval, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE setProgress(short progressValue, VARIANT_BOOL progressSlow,
                                          VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE setTimerString(BSTR timerString, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE showProgress(short* showMode, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Confirm(BSTR captionString, BSTR questionString, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE showWizard(BSTR localeID, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE readyToInstall(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE userAborted(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE showWizardComplete(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE showUptodate(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE closeAll() override;

private:
    Controller(const ServerHooks& hooks, ComPtr<ITypeInfo> typeInfo);
    ~Controller();

    HRESULT Fail(HRESULT code, const std::wstring& description);
    HRESULT NeedWizardBuild(const wchar_t* operation);
    HRESULT NeedWizard(const wchar_t* operation);
    HRESULT NeedCaptionSource(const wchar_t* operation);
    void TakeWizardCaption();
    // The text of key from the wizard's catalogue, or in the maintenance
    // build that of maintenanceKey from the program's own catalogue.
    std::wstring Text(const wchar_t* key, const wchar_t* maintenanceKey, const wchar_t* fallback);
    HRESULT NeedProgress(const wchar_t* operation);
    void PutCaption(const std::wstring& value);
    HWND MessageOwner() const;

    LONG refs_ = 1;
    ServerHooks hooks_;
    ComPtr<ITypeInfo> typeInfo_;
    std::wstring lastError_;
    std::unique_ptr<progress::frmMain> progressForm;
    unsigned progressSerial_ = 0;  // counts the progress windows created
    bool serverEnded_ = false;     // closeAll or closeProgress ended the server
    std::unique_ptr<wizard::frmSetup> wizardForm;
};

// The type information of _controller, read from this program's own type
// library resource.
HRESULT LoadControllerTypeInfo(ComPtr<ITypeInfo>& out);

}  // namespace controller
}  // namespace vellum
