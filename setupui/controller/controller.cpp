#include "controller.h"

#include <new>
#include <vector>

#include "identity.h"
#include "maintenance_texts.h"
#include "messages.h"
#include "system.h"

namespace vellum {
namespace controller {

namespace {

constexpr UINT kStyleInformation = 64;  // OK, information icon
constexpr UINT kStyleQuestion = 36;     // Yes and No, question icon
constexpr const wchar_t* kAppTitle = L"Vellum Setup";

std::wstring FromBstr(BSTR b) { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }

VARIANT_BOOL Bool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

// Decimal text of a number, without pulling the C library's formatter in.
std::wstring Num(int v) {
    wchar_t buf[16];
    wchar_t* p = buf + 16;
    unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    *--p = 0;
    do { *--p = static_cast<wchar_t>(L'0' + u % 10); u /= 10; } while (u);
    if (v < 0) *--p = L'-';
    return p;
}

// The maintenance catalogue names the uninstall text as its other keys are
// named; the wizard's catalogues keep the key they have always had.
struct ProgressText {
    short mode;
    const wchar_t* key;
    const wchar_t* maintenanceKey;
    const wchar_t* fallback;
};
const ProgressText kProgressTexts[] = {
    {0, L"loc_UI_Info_Checking", L"loc_UI_Info_Checking",
     L"Verifying integrity of the installed components. Please wait..."},
    {1, L"loc_UI_Install_Progress", L"loc_UI_Install_Progress",
     L"Please wait while Quillfeather is being installed..."},
    {2, L"loc_UI_Info_Fixing", L"loc_UI_Info_Fixing", L"Fixing errors in the installed components. Please wait..."},
    {3, L"loc_uninstall_progress", L"loc_UI_Uninstall_Progress",
     L"Please wait while Quillfeather is being uninstalled..."},
};

// Lets window messages in while waiting for a window to close, without
// spinning the processor. Returns false once the server is ending.
bool WaitAndPump() {
    if (!PumpPendingMessages()) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    return true;
}

}  // namespace

HRESULT LoadControllerTypeInfo(ComPtr<ITypeInfo>& out) {
    const std::wstring path = vellum::ModulePath();
    if (path.empty()) {
        DWORD error = ::GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    ComPtr<ITypeLib> lib;
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(IID__controller, out.put());
}

HRESULT Controller::Create(const ServerHooks& hooks, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<ITypeInfo> info;
    HRESULT hr = LoadControllerTypeInfo(info);
    if (FAILED(hr)) return hr;
    Controller* c = new (std::nothrow) Controller(hooks, info);
    if (!c) return E_OUTOFMEMORY;
    hr = c->QueryInterface(riid, out);
    c->Release();
    return hr;
}

Controller::Controller(const ServerHooks& hooks, ComPtr<ITypeInfo> typeInfo)
    : hooks_(hooks), typeInfo_(std::move(typeInfo)) {
    if (hooks_.objectCreated) hooks_.objectCreated();
}

Controller::~Controller() {
    // The windows go with the object: nobody is left to drive them.
    progressForm.reset();
    wizardForm.reset();
    if (hooks_.objectReleased) hooks_.objectReleased();
}

// ---- IUnknown / IDispatch ----------------------------------------------

HRESULT Controller::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID__controller) {
        *out = static_cast<_controller*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG Controller::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG Controller::Release() {
    LONG n = ::InterlockedDecrement(&refs_);
    if (n == 0) Reentrant::Release(this);
    return static_cast<ULONG>(n);
}

HRESULT Controller::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT Controller::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    typeInfo_->AddRef();
    *info = typeInfo_.get();
    return S_OK;
}

HRESULT Controller::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return ::DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
}

HRESULT Controller::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* excep, UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    Reentrant::Call call(this);
    lastError_.clear();
    ::SetErrorInfo(0, nullptr);
    // The process ends once the reply to closeAll or closeProgress is out;
    // a call arriving meanwhile fails as it would a moment later.
    if (serverEnded_)
        return Fail(RPC_E_DISCONNECTED, L"VellumSetup has ended: closeAll or closeProgress was called.");
    HRESULT hr = ::DispInvoke(static_cast<_controller*>(this), typeInfo_.get(), id, flags, params, result,
                              excep, argErr);
    // The type library fills the exception from the error information; make
    // sure the script gets the description even where it does not.
    if (hr == DISP_E_EXCEPTION && excep && !excep->bstrDescription && !lastError_.empty()) {
        excep->bstrDescription = ::SysAllocString(lastError_.c_str());
        if (!excep->bstrSource) excep->bstrSource = ::SysAllocString(kProgId);
    }
    return hr;
}

HRESULT Controller::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID__controller || riid == IID_IDispatch ? S_OK : S_FALSE;
}

HRESULT Controller::Fail(HRESULT code, const std::wstring& description) {
    lastError_ = description;
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
        create->SetGUID(IID__controller);
        create->SetSource(const_cast<LPOLESTR>(kProgId));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.putVoid()))) ::SetErrorInfo(0, info.get());
    }
    return code;
}

HRESULT Controller::NeedWizardBuild(const wchar_t* operation) {
    const wchar_t* missing = wizard::WizardMissing();
    if (!missing) return S_OK;
    return Fail(kErrNoWizard, std::wstring(operation) + L": " + missing);
}

HRESULT Controller::NeedWizard(const wchar_t* operation) {
    if (HRESULT hr = NeedWizardBuild(operation); FAILED(hr)) return hr;
    if (wizardForm) return S_OK;
    return Fail(kErrNoWizard, std::wstring(operation) +
                                  L": the installation wizard is not open; call showWizard first.");
}

// A build without a wizard goes on without one where the wizard only lends
// the progress window its caption and texts: uninstalling and repairing
// show the progress window alone.
HRESULT Controller::NeedCaptionSource(const wchar_t* operation) {
    if (wizard::WizardMissing()) return S_OK;
    return NeedWizard(operation);
}

void Controller::TakeWizardCaption() {
    if (wizardForm) {
        PutCaption(wizardForm->caption());
    } else if (!progressForm) {
        // No wizard to take a caption from: the window keeps its own.
        progressForm = std::make_unique<progress::frmMain>();
        ++progressSerial_;
    }
}

std::wstring Controller::Text(const wchar_t* key, const wchar_t* maintenanceKey, const wchar_t* fallback) {
    if (wizardForm) return wizardForm->getLocalizedMsg(key, fallback);
    // Without a wizard (the maintenance build) the program's own catalogue.
    if (wizard::WizardMissing()) return wizard::MaintenanceText(maintenanceKey, fallback);
    return fallback;
}

HRESULT Controller::NeedProgress(const wchar_t* operation) {
    if (progressForm && progressForm->hwnd()) return S_OK;
    return Fail(kErrNoProgressWindow,
                std::wstring(operation) +
                    L": there is no progress window; set Caption, or call setMaxValue or showProgress first.");
}

void Controller::PutCaption(const std::wstring& value) {
    if (!progressForm) {
        progressForm = std::make_unique<progress::frmMain>();
        ++progressSerial_;
    }
    progressForm->setCaption(value);
}

HWND Controller::MessageOwner() const {
    // Modal to whichever window of ours the user is looking at, above any
    // box already open over it (the wizard's exit question).
    if (progressForm && progressForm->isVisible()) return ModalOwner(progressForm->hwnd());
    if (wizardForm && wizardForm->isVisible()) return ModalOwner(wizardForm->hwnd());
    return nullptr;
}

// ---- _controller -------------------------------------------------------

HRESULT Controller::showComplete(BSTR completeString, VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    if (HRESULT hr = NeedProgress(L"showComplete"); FAILED(hr)) return hr;
    auto& bar = progressForm->ProgressBar1;
    bar.setValue(bar.Max());
    std::wstring title = progressForm->caption();
    ::MessageBoxW(MessageOwner(), FromBstr(completeString).c_str(), title.c_str(), kStyleInformation);
    *result = VARIANT_TRUE;
    return S_OK;
}

HRESULT Controller::get_Caption(BSTR* result) {
    *result = ::SysAllocString(progressForm ? progressForm->caption().c_str() : L"");
    return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT Controller::put_Caption(BSTR* value) {
    PutCaption(value ? FromBstr(*value) : std::wstring());
    if (!progressForm->hwnd()) return Fail(kErrWindow, L"Caption: the progress window could not be created.");
    return S_OK;
}

HRESULT Controller::closeProgress() {
    if (!progressForm) return S_OK;
    progressForm->hide();
    progressForm.reset();
    serverEnded_ = true;
    if (hooks_.endAfterCall) hooks_.endAfterCall();
    return S_OK;
}

HRESULT Controller::setMaxValue(short maxValue, VARIANT_BOOL* result) {
    if (HRESULT hr = NeedCaptionSource(L"setMaxValue"); FAILED(hr)) return hr;
    if (maxValue <= 0)
        return Fail(kErrOutOfRange, L"setMaxValue: the maximum must be at least 1; " + Num(maxValue) +
                                        L" was given.");
    TakeWizardCaption();
    progressForm->ProgressBar1.setMax(maxValue);
    progressForm->Timer1.setEnabled(false);
    *result = VARIANT_FALSE;
    return S_OK;
}

HRESULT Controller::setInterval(short interval, VARIANT_BOOL* result) {
    // Every failure here is ignored: no window, or an interval the timer refuses.
    if (progressForm) progressForm->Timer1.setInterval(interval);
    *result = VARIANT_FALSE;
    return S_OK;
}

HRESULT Controller::setProgress(short progressValue, VARIANT_BOOL progressSlow, VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    if (HRESULT hr = NeedProgress(L"setProgress"); FAILED(hr)) return hr;
    auto& form = *progressForm;
    auto& bar = form.ProgressBar1;
    if (progressValue < bar.Min() || progressValue > bar.Max())
        return Fail(kErrOutOfRange, L"setProgress: the value " + Num(progressValue) +
                                        L" lies outside the progress bar's range 0 to " +
                                        Num(static_cast<int>(bar.Max())) + L".");
    bar.setVisible(true);
    if (progressSlow != VARIANT_FALSE) {
        form.Timer1.setEnabled(false);
        // The previous target may lie above a maximum lowered since; the bar
        // shows it at its end then.
        float previous = form.currentMaxValue();
        if (previous > bar.Max()) previous = bar.Max();
        if (previous < bar.Min()) previous = bar.Min();
        bar.setValue(previous);
        unsigned serial = progressSerial_;
        PumpPendingMessages();
        // A call served while messages were processed may have closed the
        // window (and another may have opened a new one at the same address).
        if (!progressForm || progressSerial_ != serial)
            return Fail(kErrNoProgressWindow, L"setProgress: the progress window was closed.");
        bar.setValue(previous);
        form.Timer1.setEnabled(true);
        form.setCurrentMaxValue(progressValue);
    } else {
        form.Timer1.setEnabled(false);
        bar.setValue(progressValue);
        form.progressValue = progressValue;
        form.setCurrentMaxValue(progressValue);
        PumpPendingMessages();
    }
    *result = VARIANT_FALSE;
    return S_OK;
}

HRESULT Controller::setTimerString(BSTR timerString, VARIANT_BOOL* result) {
    if (HRESULT hr = NeedProgress(L"setTimerString"); FAILED(hr)) return hr;
    progressForm->lblTimer.setCaption(FromBstr(timerString));
    *result = VARIANT_TRUE;
    return S_OK;
}

HRESULT Controller::showProgress(short* showMode, VARIANT_BOOL* result) {
    if (HRESULT hr = NeedCaptionSource(L"showProgress"); FAILED(hr)) return hr;
    TakeWizardCaption();
    for (const ProgressText& t : kProgressTexts) {
        if (t.mode == *showMode) progressForm->lblProgress.setCaption(Text(t.key, t.maintenanceKey, t.fallback));
    }
    progressForm->show();
    *result = VARIANT_TRUE;
    return S_OK;
}

HRESULT Controller::Confirm(BSTR captionString, BSTR questionString, VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    PutCaption(FromBstr(captionString));
    std::wstring title = progressForm->caption();
    int answer = ::MessageBoxW(MessageOwner(), FromBstr(questionString).c_str(), title.c_str(), kStyleQuestion);
    *result = Bool(answer != IDNO);
    return S_OK;
}

HRESULT Controller::showWizard(BSTR localeID, VARIANT_BOOL* result) {
    if (HRESULT hr = NeedWizardBuild(L"showWizard"); FAILED(hr)) return hr;
    if (wizardForm) {
        *result = VARIANT_FALSE;
        return S_OK;
    }
    wizardForm = std::make_unique<wizard::frmSetup>();
    wizardForm->localeID = FromBstr(localeID);
    wizardForm->show();
    wizardForm->currentStep = -1;
    wizardForm->pressNext();
    *result = VARIANT_TRUE;
    return S_OK;
}

HRESULT Controller::readyToInstall(VARIANT_BOOL* result) {
    if (HRESULT hr = NeedWizardBuild(L"readyToInstall"); FAILED(hr)) return hr;
    if (!wizardForm) *result = VARIANT_TRUE;
    else *result = Bool(wizardForm->installFinished || wizardForm->proceedInstall);
    return S_OK;
}

HRESULT Controller::userAborted(VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    if (HRESULT hr = NeedWizard(L"userAborted"); FAILED(hr)) return hr;
    bool ended = wizardForm->installFinished;
    if (ended) {
        wizardForm->unload();
        wizardForm.reset();
    }
    *result = Bool(ended);
    return S_OK;
}

HRESULT Controller::showWizardComplete(VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    if (HRESULT hr = NeedWizard(L"showWizardComplete"); FAILED(hr)) return hr;
    if (HRESULT hr = NeedProgress(L"showWizardComplete"); FAILED(hr)) return hr;
    progressForm->Timer1.setEnabled(false);
    progressForm->setVisible(false);
    wizardForm->pressNext();
    // No time limit: the user ends this with Finish or the close box. The
    // wait also ends when the server is ending (its last client is gone).
    while (wizardForm && wizardForm->isVisible()) {
        if (!WaitAndPump()) break;
    }
    *result = Bool(wizardForm && wizardForm->chkLaunchValue() == 1);
    return S_OK;
}

HRESULT Controller::showUptodate(VARIANT_BOOL* result) {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    if (HRESULT hr = NeedCaptionSource(L"showUptodate"); FAILED(hr)) return hr;
    if (HRESULT hr = NeedProgress(L"showUptodate"); FAILED(hr)) return hr;
    progressForm->Timer1.setEnabled(false);
    progressForm->hide();
    std::wstring text = Text(L"loc_UI_Error_Uptodate", L"loc_UI_Error_Uptodate", L"Your Quillfeather is up to date.");
    ::MessageBoxW(MessageOwner(), text.c_str(), kAppTitle, kStyleInformation);
    *result = VARIANT_FALSE;
    return S_OK;
}

HRESULT Controller::closeAll() {
    Reentrant::Call call(this);  // waits in a nested loop (see Reentrant)
    // Every failure is ignored; the server ends whatever happened.
    progressForm.reset();
    if (wizardForm) {
        wizardForm->unload();  // before the wizard has ended this may ask the exit question
        wizardForm.reset();
    }
    serverEnded_ = true;
    if (hooks_.endAfterCall) hooks_.endAfterCall();
    return S_OK;
}

}  // namespace controller
}  // namespace vellum
