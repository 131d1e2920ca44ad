// The wizard window: creates the controls from the layout tables, runs the
// load step, and carries out the effects that the decisions in
// wizard_logic.cpp return. Nothing here decides a page on its own.
#include "frmSetup.h"

#include <objbase.h>

#include <map>
#include <vector>

#include "catalogue_lookup.h"
#include "handles.h"
#include "layout.h"
#include "maintenance_texts.h"
#include "messages.h"
#include "reentrant.h"
#include "strings.h"
#include "system.h"
#include "wizard_layout.h"
#include "wizard_logic.h"
#include "wizard_resources.h"

namespace vellum {
namespace wizard {

namespace {

const wchar_t kWindowClass[] = L"VellumSetupWizard";
const wchar_t kPanelClass[] = L"VellumSetupWizardPanel";

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

// Panels are borderless containers. Their controls' notifications and colour
// requests go to the wizard window, which owns every handler. So does what a
// control asks of its container as navigation (a multi-line edit in dialog
// mode turns Esc into WM_CLOSE, Tab into WM_NEXTDLGCTL and Enter into
// DM_GETDEFID): none of it may reach the default handler, which answers
// WM_CLOSE by destroying the panel and the page on it.
LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return ::SendMessageW(::GetParent(hwnd), msg, wp, lp);
    case WM_CLOSE: {
        // Esc: a press of Cancel, which the window refuses while Cancel is not usable.
        HWND dialog = ::GetParent(hwnd);
        ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDCANCEL)));
        return 0;
    }
    case WM_NEXTDLGCTL:
        return ::SendMessageW(::GetParent(hwnd), msg, wp, lp);
    case DM_GETDEFID:
        // The default button is not the panel's child: the asking control
        // could only move the focus away and press nothing.
        return 0;
    default:
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }
}

// The license box keeps the arrow keys (scrolling) and characters, and
// leaves Tab, Enter and Esc to the dialog manager like every other control
// of the page; a multi-line edit would otherwise keep Tab and Enter to
// itself and turn Esc into a close request to its container.
WNDPROC g_editProc = nullptr;

LRESULT CALLBACK LicenseBoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_GETDLGCODE) return DLGC_WANTARROWS | DLGC_WANTCHARS;
    return ::CallWindowProcW(g_editProc, hwnd, msg, wp, lp);
}

LRESULT CALLBACK WizardProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

void RegisterClasses() {
    static bool done = false;
    if (done) return;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = ModuleInstance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPanelClass;
    ::RegisterClassExW(&wc);

    // A private dialog class: the window runs on the dialog manager's default
    // procedure, so Tab, Enter (default button), Esc (IDCANCEL), the default
    // button's frame and the focus kept across activation behave as in any
    // dialog box.
    wc.lpfnWndProc = WizardProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hIcon = ::LoadIconW(ModuleInstance(), MAKEINTRESOURCEW(IDI_VELLUMSETUP));
    if (!wc.hIcon) wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hIconSm = static_cast<HICON>(::LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDI_VELLUMSETUP), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON),
                                                 ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.lpszClassName = kWindowClass;
    ::RegisterClassExW(&wc);
    done = true;
}

const wchar_t* ClassOf(Kind kind) {
    switch (kind) {
    case Kind::Button:
    case Kind::CheckBox:
    case Kind::Option:
        return L"BUTTON";
    case Kind::TextBox:
        return L"EDIT";
    case Kind::Panel:
        return kPanelClass;
    default:
        return L"STATIC";
    }
}

DWORD StyleOf(const LayoutRow& r) {
    DWORD style = WS_CLIPSIBLINGS;
    switch (r.kind) {
    case Kind::Button:
        style |= WS_TABSTOP | WS_GROUP | ((r.settings & DefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        break;
    case Kind::CheckBox:
        style |= WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX;
        break;
    case Kind::Option:
        // The option buttons form one group; the button control keeps the
        // tab stop on the selected one.
        style |= BS_AUTORADIOBUTTON | ((r.settings & GroupStart) ? WS_GROUP : 0);
        break;
    case Kind::TextBox:
        style |= WS_TABSTOP | WS_GROUP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_LEFT;
        break;
    case Kind::Panel:
        style |= WS_GROUP | WS_CLIPCHILDREN;
        break;
    case Kind::Image:
        style |= WS_GROUP | SS_BITMAP;
        break;
    case Kind::Rule:
        // Drawn by the window: a sunken 3D border filling the three pixels.
        style |= WS_GROUP | SS_OWNERDRAW;
        break;
    case Kind::Label:
        style |= WS_GROUP | SS_LEFT;
        break;
    }
    return style;
}

DWORD ExStyleOf(const LayoutRow& r) {
    switch (r.kind) {
    case Kind::Panel:
        return WS_EX_CONTROLPARENT;
    case Kind::TextBox:
        return WS_EX_CLIENTEDGE;
    default:
        return 0;
    }
}

// The file's bytes (the start of a very large one, *cut set); empty when it
// cannot be opened or read.
std::string ReadLicenseBytes(const std::wstring& path, bool* cut) {
    *cut = false;
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return std::string();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart <= 0) return std::string();
    *cut = static_cast<unsigned long long>(size.QuadPart) > kMaxLicenseBytes;
    std::string bytes(*cut ? kMaxLicenseBytes : static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!::ReadFile(f.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr)) return std::string();
    bytes.resize(got);
    return bytes;
}

}  // namespace

// The window's state and handlers. It outlives its frmSetup while one of its
// handlers waits in a nested loop (the exit question, a modal show), so that
// the handler resumes on live memory, finds its window gone and returns.
struct frmSetup::Impl : Reentrant {
    explicit Impl(frmSetup* owner) : self(owner), lookup(MakeMsxmlBackend()) {}
    ~Impl() override {
        destroyWindow();
        lookupReleased();
    }

    // The frmSetup is being destroyed: the window goes now, the rest when
    // no handler is left on the stack.
    void ownerGone() {
        destroyWindow();
        self = nullptr;
    }

    // Nothing to act on: the window was closed or its owner dropped it
    // while a handler waited.
    bool gone() const { return !window || !self; }

    frmSetup* self;
    CatalogueLookup lookup;
    bool comInitialised = false;
    bool comTried = false;

    HWND window = nullptr;
    int dpi = 96;
    std::map<int, HWND> controls;  // by control id
    std::vector<UniqueGdiObject> fonts;
    std::vector<UniqueGdiObject> pictures;
    bool asking = false;        // the exit question is on screen
    bool sessionEnding = false; // Windows shutting down allowed the unload

    void lookupReleased() {
        if (comInitialised) {
            // The lookup's document must go before COM does.
            lookup = CatalogueLookup(MakeMsxmlBackend());
            ::CoUninitialize();
            comInitialised = false;
        }
    }

    HWND ctl(int id) const {
        auto it = controls.find(id);
        return it == controls.end() ? nullptr : it->second;
    }

    HWND ctl(Ctl c) const {
        switch (c) {
        case Ctl::Window: return window;
        case Ctl::Frame1: return ctl(ID_Frame1);
        case Ctl::Frame2: return ctl(ID_Frame2);
        case Ctl::BackButton: return ctl(ID_BackButton);
        case Ctl::nextButton: return ctl(ID_nextButton);
        case Ctl::CancelButton: return ctl(ID_CancelButton);
        case Ctl::txtLicense: return ctl(ID_txtLicense);
        case Ctl::optAgree: return ctl(ID_optAgree);
        case Ctl::optDisagree: return ctl(ID_optDisagree);
        case Ctl::InstallCaption: return ctl(ID_InstallCaption);
        case Ctl::chkLaunch: return ctl(ID_chkLaunch);
        case Ctl::lblTitle: return ctl(ID_lblTitle);
        case Ctl::lblDesc: return ctl(ID_lblDesc);
        case Ctl::topTitle: return ctl(ID_topTitle);
        case Ctl::topDesc: return ctl(ID_topDesc);
        }
        return nullptr;
    }

    // The control's own Visible setting, whatever its container shows.
    static bool ownVisible(HWND h) {
        return h && (::GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE) != 0;
    }

    std::wstring lookupText(const std::wstring& key, const std::wstring& fallback) {
        if (!self) return fallback;
        if (!comTried) {
            // The host initialises COM on this thread; if it has not, the
            // lookup still needs an apartment.
            comTried = true;
            HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            comInitialised = SUCCEEDED(hr);
        }
        lookup.setCataloguePath(self->uiStringsFileName);
        lookup.setLocale(self->localeID);
        return lookup.getLocalizedMsg(key, fallback);
    }

    std::wstring compose(const CaptionSpec& c) {
        std::wstring text = c.prefix;
        for (size_t i = 0; i < c.paragraphs.size(); ++i) {
            if (i) text += kParagraphBreak;
            text += lookupText(c.paragraphs[i].key, c.paragraphs[i].fallback);
        }
        return text + c.suffix;
    }

    // ---- creation and load ----

    void ensureLoaded() {
        if (!window) load();
    }

    HFONT fontFor(Font f) const {
        int i = f == Font::Default ? 0 : static_cast<int>(f);
        return static_cast<HFONT>(fonts[static_cast<size_t>(i)].get());
    }

    void createTable(HWND container, const std::vector<LayoutRow>& rows) {
        // Created in stacking order, top first: child windows are added at
        // the bottom, so creation order is the order the dialog manager tabs
        // through and the order they overlap in.
        for (int index : StackingOrder(rows)) {
            const LayoutRow& r = rows[static_cast<size_t>(index)];
            ControlSpec control = {r.id,        r.name,         ClassOf(r.kind), r.text, StyleOf(r), ExStyleOf(r),
                                r.rect,      -1,             static_cast<int>(r.font),
                                !(r.settings & Hidden)};
            HFONT table[] = {fontFor(Font::Tahoma8), fontFor(Font::Tahoma10Bold), fontFor(Font::Trebuchet14)};
            HWND h = nullptr;
            CreateControls(container, &control, 1, dpi, table, fontFor(Font::Default), &h);
            if (!h) continue;
            controls[r.id] = h;
            if (r.settings & Checked) ::SendMessageW(h, BM_SETCHECK, BST_CHECKED, 0);
            if (r.kind == Kind::TextBox) {
                WNDPROC previous = reinterpret_cast<WNDPROC>(
                    ::SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LicenseBoxProc)));
                if (!g_editProc) g_editProc = previous;
                // The default limit (32 K characters) would refuse a long
                // license; the text shown is bounded by kMaxLicenseBytes.
                ::SendMessageW(h, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
            }
            if (r.kind == Kind::Image) {
                int res = (r.settings & Picture1) ? IDB_WIZARD_SIDE : IDB_WIZARD_EMBLEM;
                HANDLE bmp = ::LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(res), IMAGE_BITMAP, 0, 0, 0);
                if (bmp) {
                    pictures.emplace_back(bmp);
                    // Shown unscaled: the control takes the picture's size.
                    ::SendMessageW(h, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bmp));
                }
            }
            if (r.kind == Kind::Panel) createTable(h, r.id == ID_Frame1 ? Frame1Controls() : Frame2Controls());
        }
    }

    void load() {
        RegisterClasses();
        dpi = ScreenDpi();
        fonts.clear();
        fonts.emplace_back(CreatePointFont(L"Tahoma", 8.25, false, dpi));
        fonts.emplace_back(CreatePointFont(L"Tahoma", 9.75, true, dpi));
        fonts.emplace_back(CreatePointFont(L"Trebuchet MS", 14.25, false, dpi));

        window = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kWindowClass,
                                   L"Quillfeather Installation",
                                   WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                   CW_USEDEFAULT, 100, 100, nullptr, nullptr, ModuleInstance(), this);
        if (!window) return;
        ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(Font::Default)), FALSE);
        HICON big = static_cast<HICON>(::LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDI_VELLUMSETUP),
                                                    IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                                    ::GetSystemMetrics(SM_CYICON), LR_SHARED));
        HICON small = static_cast<HICON>(::LoadImageW(ModuleInstance(), MAKEINTRESOURCEW(IDI_VELLUMSETUP),
                                                      IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                      ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (big) ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        if (small) ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

        createTable(window, WindowControls());
        SizeClientAndCenter(window, kClientWidthTwips, kClientHeightTwips, dpi);
        ::SendMessageW(window, DM_SETDEFID, ID_nextButton, 0);
        RegisterDialogWindow(window);
        formLoad();
    }

    void formLoad() {
        LoadPaths p = FormLoadPaths(ModuleFolder(), self->localeID);
        self->localeID = p.localeID;
        self->uiStringsFileName = p.uiStringsFileName;
        self->licFile = p.licFile;
        loadTexts();
        self->proceedInstall = false;
        self->installFinished = false;
    }

    void loadTexts() {
        for (const LoadText& t : LoadTimeTexts()) {
            std::wstring text = compose(t.caption);
            if (HWND h = ctl(t.control)) ::SetWindowTextW(h, text.c_str());
        }
        bool cut = false;
        std::string bytes = ReadLicenseBytes(self->licFile, &cut);
        std::wstring license = DecodeLicense(bytes, self->localeID, cut);
        ::SetWindowTextW(ctl(ID_txtLicense), license.c_str());
    }

    void destroyWindow() {
        if (!window) return;
        HWND w = window;
        ::SetWindowLongPtrW(w, GWLP_USERDATA, 0);
        ::DestroyWindow(w);
        forgetWindow(w);
    }

    void forgetWindow(HWND w = nullptr) {
        UnregisterDialogWindow(w ? w : window);
        window = nullptr;
        controls.clear();
        pictures.clear();
        fonts.clear();
    }

    // ---- effects ----

    WizardInputs inputs() const {
        WizardInputs in;
        in.currentStep = self->currentStep;
        in.optAgreeSelected = ::SendMessageW(ctl(ID_optAgree), BM_GETCHECK, 0, 0) == BST_CHECKED;
        in.optAgreeVisible = ownVisible(ctl(ID_optAgree));
        return in;
    }

    void focus(HWND h) {
        if (!h) return;
        // Through the dialog manager, so the default button's frame follows.
        ::SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
    }

    // A control that is hidden or disabled while it has the focus passes the
    // focus on to the next control in tab order.
    void keepFocusUsable() {
        if (!window || !::IsWindowVisible(window) || ::GetActiveWindow() != window) return;
        HWND f = ::GetFocus();
        bool onControl = f && ::IsChild(window, f) &&
                         !(::GetWindowLongPtrW(f, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);  // not a panel
        if (onControl && ::IsWindowVisible(f) && ::IsWindowEnabled(f)) return;
        HWND next = ::GetNextDlgTabItem(window, nullptr, FALSE);
        if (next && ::IsWindowVisible(next) && ::IsWindowEnabled(next)) focus(next);
    }

    void apply(const Effects& effects) {
        for (const Effect& e : effects) {
            if (gone()) return;  // an effect's side effect unloaded the window
            HWND h = ctl(e.control);
            switch (e.kind) {
            case Effect::Show:
                if (h) ::ShowWindow(h, SW_SHOWNA);
                break;
            case Effect::Hide:
                if (h) ::ShowWindow(h, SW_HIDE);
                break;
            case Effect::Enable:
                if (h) ::EnableWindow(h, TRUE);
                break;
            case Effect::Disable:
                if (h) ::EnableWindow(h, FALSE);
                break;
            case Effect::Focus:
                focus(h);
                break;
            case Effect::Select: {
                bool agree = e.control == Ctl::optAgree;
                ::SendMessageW(ctl(ID_optAgree), BM_SETCHECK, agree ? BST_CHECKED : BST_UNCHECKED, 0);
                ::SendMessageW(ctl(ID_optDisagree), BM_SETCHECK, agree ? BST_UNCHECKED : BST_CHECKED, 0);
                break;
            }
            case Effect::SetCaption:
                if (h) ::SetWindowTextW(h, compose(e.caption).c_str());
                break;
            case Effect::SetProceedInstall:
                self->proceedInstall = true;
                break;
            case Effect::SetInstallFinished:
                self->installFinished = true;
                break;
            case Effect::HideWindow:
                if (window) ::ShowWindow(window, SW_HIDE);
                break;
            }
        }
        if (!gone()) keepFocusUsable();
    }

    // ---- handlers ----

    void nextButton_Click() {
        StepResult r = NextClick(inputs());
        self->currentStep = r.currentStep;
        apply(r.effects);
    }

    void BackButton_Click() {
        StepResult r = BackClick(inputs());
        self->currentStep = r.currentStep;
        apply(r.effects);
    }

    bool confirmExit() {
        ExitQuestion q = ExitQuestionSpec();
        std::wstring message = compose(q.message);
        std::wstring title = lookupText(q.title.key, q.title.fallback);
        HWND owner = ModalOwner(window && ::IsWindowVisible(window) ? window : nullptr);
        asking = true;
        int answer = ::MessageBoxW(owner, message.c_str(), title.c_str(), q.style);
        asking = false;
        return ConfirmExitResult(answer);
    }

    void CancelButton_Click() {
        // One exit question at a time: the page can take a Cancel again
        // while the question is open when another box over it closed.
        if (asking) return;
        bool yes = confirmExit();
        if (gone()) return;  // closed while the question was open
        apply(CancelAnswered(yes));
    }

    // Form_QueryUnload. Returns true when the unload may proceed.
    bool queryUnload(CloseReason reason) {
        CloseDecision d = QueryUnload(reason, self->proceedInstall, self->installFinished);
        if (d.askExitQuestion) {
            // One exit question at a time: a second request while it is on
            // screen is refused without asking again.
            if (asking) return false;
            bool yes = confirmExit();
            if (gone()) return true;  // closed while the question was open: nothing left to unload
            if (yes) apply(d.onConfirmed);
        }
        apply(d.effects);
        return !d.refuseUnload;
    }

    // A click that the user made (mouse, Enter, Esc) on a button that is not
    // usable does nothing; only a press by program bypasses this.
    static bool usable(HWND h) { return h && ::IsWindowVisible(h) && ::IsWindowEnabled(h); }

    void onCommand(int id, int code, HWND from) {
        if (code != BN_CLICKED) return;
        switch (id) {
        case ID_nextButton:
            if (usable(ctl(ID_nextButton))) nextButton_Click();
            break;
        case ID_BackButton:
            if (usable(ctl(ID_BackButton))) BackButton_Click();
            break;
        case ID_CancelButton:
            if (usable(ctl(ID_CancelButton))) CancelButton_Click();
            break;
        // A click forced onto a hidden choice (the ready page, the installing
        // state) must not enable Next behind the user's back.
        case ID_optAgree:
            if (usable(ctl(ID_optAgree))) apply(OptAgreeClick());
            break;
        case ID_optDisagree:
            if (usable(ctl(ID_optDisagree))) apply(OptDisagreeClick(ownVisible(ctl(ID_optAgree))));
            break;
        default:
            break;
        }
    }

    HBRUSH colour(HDC dc, HWND control) {
        int id = ::GetDlgCtrlID(control);
        for (const auto* table : {&Frame1Controls(), &Frame2Controls(), &WindowControls()}) {
            for (const LayoutRow& r : *table) {
                if (r.id == id && (r.settings & White)) {
                    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
                    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
                    return ::GetSysColorBrush(COLOR_WINDOW);
                }
            }
        }
        return nullptr;
    }
};

namespace {

LRESULT CALLBACK WizardProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* impl = reinterpret_cast<frmSetup::Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return ::DefDlgProcW(hwnd, msg, wp, lp);
    }
    if (!impl) return ::DefDlgProcW(hwnd, msg, wp, lp);
    // A handler may wait in a nested loop (the exit question) while the
    // window's owner drops it; the state stays until the handler is back.
    Reentrant::Call call(impl);
    switch (msg) {
    case WM_COMMAND:
        impl->onCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return 0;
    case DM_GETDEFID:
        return MAKELONG(ID_nextButton, DC_HASDEFID);
    case WM_DRAWITEM: {
        // The two rules: a bordered label three pixels high, of which only
        // the sunken border is seen.
        auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (di->CtlType == ODT_STATIC) {
            RECT r = di->rcItem;
            ::FillRect(di->hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
            ::DrawEdge(di->hDC, &r, EDGE_SUNKEN, BF_RECT);
            return TRUE;
        }
        break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HBRUSH b = impl->colour(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        if (b) return reinterpret_cast<LRESULT>(b);
        break;
    }
    case WM_CLOSE:  // close box, system menu, Alt+F4
        if (impl->queryUnload(CloseReason::ControlMenu)) impl->destroyWindow();
        return 0;
    case WM_QUERYENDSESSION:
        impl->sessionEnding = impl->queryUnload(CloseReason::WindowsShutdown);
        return impl->sessionEnding ? TRUE : FALSE;
    case WM_ENDSESSION:
        if (wp && impl->sessionEnding) impl->destroyWindow();
        impl->sessionEnding = false;
        return 0;
    case WM_NCDESTROY:
        // Destroyed by someone else than unload: the window is simply gone.
        ::DefDlgProcW(hwnd, msg, wp, lp);
        impl->forgetWindow();
        return 0;
    default:
        break;
    }
    return ::DefDlgProcW(hwnd, msg, wp, lp);
}

struct ModalDisable {
    HWND modal;
    std::vector<HWND> disabled;
};

BOOL CALLBACK DisableOthers(HWND h, LPARAM lp) {
    auto* guard = reinterpret_cast<ModalDisable*>(lp);
    if (h != guard->modal && ::IsWindowVisible(h) && ::IsWindowEnabled(h)) {
        ::EnableWindow(h, FALSE);
        guard->disabled.push_back(h);
    }
    return TRUE;
}

}  // namespace

// ---- public interface ----

frmSetup::frmSetup() : impl_(new Impl(this)) {}

frmSetup::~frmSetup() {
    Impl* impl = impl_.release();
    impl->ownerGone();
    Reentrant::Release(impl);
}

std::wstring frmSetup::getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString) {
    return impl_->lookupText(resourceId, defaultString);
}

void frmSetup::show() {
    impl_->ensureLoaded();
    if (!impl_->window) return;
    ::ShowWindow(impl_->window, SW_SHOW);
    ::SetForegroundWindow(impl_->window);
}

void frmSetup::showModal() {
    // The wait may outlive this object (its owner drops it meanwhile): only
    // the state kept alive here is used after it.
    Impl* impl = impl_.get();
    Reentrant::Call call(impl);
    impl->ensureLoaded();
    HWND w = impl->window;
    if (!w) return;
    // Like a modal form: the thread's other windows take no input meanwhile.
    ModalDisable guard{w, {}};
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableOthers, reinterpret_cast<LPARAM>(&guard));
    ::ShowWindow(w, SW_SHOW);
    ::SetForegroundWindow(w);
    while (impl->window == w && ::IsWindowVisible(w)) {
        if (!PumpPendingMessages()) break;
        if (impl->window == w && ::IsWindowVisible(w)) ::WaitMessage();
    }
    for (HWND h : guard.disabled)
        if (::IsWindow(h)) ::EnableWindow(h, TRUE);
}

void frmSetup::hide() {
    impl_->ensureLoaded();
    if (impl_->window) ::ShowWindow(impl_->window, SW_HIDE);
}

bool frmSetup::isVisible() const { return impl_->window && ::IsWindowVisible(impl_->window); }

bool frmSetup::isLoaded() const { return impl_->window != nullptr; }

std::wstring frmSetup::caption() {
    impl_->ensureLoaded();
    if (!impl_->window) return std::wstring();
    int length = ::GetWindowTextLengthW(impl_->window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    int n = ::GetWindowTextW(impl_->window, &text[0], static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(n > 0 ? n : 0));
    return text;
}

void frmSetup::pressNext() {
    impl_->ensureLoaded();
    if (impl_->window) impl_->nextButton_Click();
}

bool frmSetup::unload() {
    // The exit question may be asked; see showModal.
    Impl* impl = impl_.get();
    Reentrant::Call call(impl);
    if (!impl->window) return true;
    if (!impl->queryUnload(CloseReason::Code)) return false;
    impl->destroyWindow();
    return true;
}

int frmSetup::chkLaunchValue() const {
    impl_->ensureLoaded();
    HWND h = impl_->ctl(ID_chkLaunch);
    return h && ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

HWND frmSetup::hwnd() const { return impl_->window; }

const wchar_t* WizardMissing() { return nullptr; }

// The full build takes its texts from the wizard's catalogue.
std::wstring MaintenanceText(const wchar_t*, const wchar_t* fallback) { return fallback; }

}  // namespace wizard
}  // namespace vellum
