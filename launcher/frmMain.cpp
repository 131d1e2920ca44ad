#include "frmMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include "dll_hardening.h"
#include "launcher_system.h"
#include "layout.h"
#include "messages.h"
#include "strings.h"

namespace vellum {
namespace launcher {
namespace {

// The shell is loaded from the system folder when the script is started,
// not imported: its own dependencies would otherwise be bound at start-up,
// where a DLL dropped next to the installer could stand in for them.
HINSTANCE StartWithShell(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder) {
    using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    HMODULE shell = LoadSystemLibrary(L"shell32.dll");
    auto run = shell ? reinterpret_cast<ShellExecuteFn>(::GetProcAddress(shell, "ShellExecuteW")) : nullptr;
    if (!run) return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_DLLNOTFOUND));
    return run(nullptr, nullptr, file.c_str(), parameters.c_str(), folder.c_str(), SW_SHOWNORMAL);
}

const wchar_t kWindowClass[] = L"VellumInstallerMain";
constexpr UINT WM_APP_ACTIVATE = WM_APP + 1;
constexpr int kIconId = 1;

enum ControlIndex { kLblProgress, kProgressBar1, kControlCount };
enum ControlId { kIdLblProgress = 1001, kIdProgressBar1 = 1002 };

// The window's client area and controls, in twips.
constexpr int kClientWidthTwips = 7485;
constexpr int kClientHeightTwips = 1095;
const ControlSpec kControls[kControlCount] = {
    {kIdLblProgress, L"lblProgress", L"STATIC", L"Starting Quillfeather setup...",
     SS_CENTER | SS_NOPREFIX, 0, {360, 240, 6735, 435}, -1, -1, true},
    {kIdProgressBar1, L"ProgressBar1", PROGRESS_CLASSW, L"", 0, 0, {240, 720, 6975, 255}, -1, -1, true},
};

// Fixed dialog: title bar with system menu and close box, no sizing, no
// minimize or maximize, and a taskbar button.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_APPWINDOW;

}  // namespace

FrmMain::FrmMain() : lookup_(MakeMsxmlBackend()) {}

int FrmMain::run(HINSTANCE instance, const std::wstring& argumentText) {
    argumentText_ = argumentText;
    try {
        createWindow(instance);
        Form_Load();
    } catch (const LoadFailure& f) {
        showMessage(f.text(), MB_ICONSTOP);
        if (hwnd_) {
            closingFromProgram_ = true;
            ::DestroyWindow(hwnd_);
        }
        return kExitLoadFailed;
    } catch (const std::exception& e) {
        showMessage(L"The setup could not start: " + BytesToWide(e.what(), CP_ACP), MB_ICONSTOP);
        return kExitLoadFailed;
    }
    if (!silentMode && hwnd_ && ::IsWindow(hwnd_)) {
        ::ShowWindow(hwnd_, SW_SHOWNORMAL);
        windowVisible_ = true;
        ::UpdateWindow(hwnd_);
        // The work starts on activation; should the system not activate the
        // window (another program holds the foreground), start it anyway.
        ::PostMessageW(hwnd_, WM_APP_ACTIVATE, 0, 0);
    }
    if (hwnd_ && ::IsWindow(hwnd_)) return RunMessageLoop();
    // Closed during the load step (silent mode): drain the quit message.
    PumpPendingMessages();
    return exitCode_;
}

void FrmMain::createWindow(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &FrmMain::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    if (!::RegisterClassExW(&wc))
        throw LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));

    hwnd_ = ::CreateWindowExW(kWindowExStyle, kWindowClass, L"Setup", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              100, 100, nullptr, nullptr, instance, this);
    if (!hwnd_)
        throw LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));

    // A fixed dialog's system menu offers only Move and Close.
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) ::DeleteMenu(menu, item, MF_BYCOMMAND);
    }

    const int dpi = ScreenDpi();
    HWND controls[kControlCount] = {};
    if (!CreateControls(hwnd_, kControls, kControlCount, dpi, nullptr, DefaultGuiFont(), controls))
        throw LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));
    lblProgress_ = controls[kLblProgress];
    progressBar1_ = controls[kProgressBar1];
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(progressBar1_, PBM_SETPOS, 0, 0);
    SizeClientAndCenter(hwnd_, kClientWidthTwips, kClientHeightTwips, dpi);
}

void FrmMain::Form_Load() {
    runPending = true;

    silentMode = HasQuietSwitch(argumentText_);
    // The window is still hidden here; in silent mode it is never shown.

    extractDir = WorkingFolder(EnvironmentValue(L"temp"));
    if (!FolderExists(extractDir) && !::CreateDirectoryW(extractDir.c_str(), nullptr)) {
        DWORD error = ::GetLastError();
        throw LoadFailure(L"The working folder " + extractDir + L" could not be created.\r\n\r\n" +
                          SystemErrorText(error));
    }

    localeID = ChooseLocale(ReadRegistryValue(HKEY_LOCAL_MACHINE, kLocaleKeyPath1, kLocaleValue1),
                            ReadRegistryValue(HKEY_LOCAL_MACHINE, kLocaleKeyPath2, kLocaleValue2));

    const std::wstring catalogueName = CatalogueName(localeID);
    uiStringsFileName = catalogueName;
    filesListPath = extractDir + L"filesList.txt";

    ExtractResource(nullptr, kFileListResource, filesListPath,
                    [this](const std::wstring& t, UINT icon) { showMessage(t, icon); });

    // The list is the run's plan: without it nothing else can be written,
    // so a list that cannot be opened (its extraction has already said why
    // when that failed) ends the load step before the window is shown.
    std::string bytes;
    if (!ReadWholeFile(filesListPath, &bytes)) {
        DWORD error = ::GetLastError();
        // The system's word for a folder in the list's place is only "access denied".
        std::wstring reason = FolderExists(filesListPath) ? std::wstring(L"A folder of that name is in its place.")
                                                          : SystemErrorText(error);
        throw LoadFailure(L"The file list " + filesListPath + L" could not be read.\r\n\r\n" + reason);
    }
    fileNames = SplitListLines(bytes, CP_ACP);

    // Without a line of that name the search ends on the list's last line,
    // whose resource is then written under the catalogue's name; the lookups
    // find no language element in it and give their defaults.
    const int catalogueResource = CatalogueSearch(fileNames, catalogueName);
    uiStringsFileName = extractDir + catalogueName;
    if (catalogueResource != 0) extractPayloadFile(catalogueResource, catalogueName);

    lookup_.setCataloguePath(uiStringsFileName);
    lookup_.setLocale(localeID);
    setupCaption = getLocalizedMsg(L"loc_UI_Setup", L"Setup");
    ::SetWindowTextW(hwnd_, setupCaption.c_str());
    ::SetWindowTextW(lblProgress_,
                     getLocalizedMsg(L"loc_UI_Starting_Setup", L"Starting Quillfeather Installation...").c_str());

    if (silentMode) Form_Activate();
}

void FrmMain::Form_Activate() {
    if (!runPending) return;
    // Activation comes again after each of the launcher's message boxes and
    // whenever the user returns to the window; the work runs once.
    runPending = false;

    // Every unexpected failure is shown and the work goes on with the next step.
    auto step = [this](auto&& body) {
        try {
            body();
        } catch (const std::exception& e) {
            showMessage(BytesToWide(e.what(), CP_ACP), MB_ICONEXCLAMATION);
        }
    };

    step([&] { setProgress(5); });
    step([&] { PumpPendingMessages(); });

    bool listThere = true;
    step([&] { listThere = FileExists(filesListPath); });
    if (!listThere) {
        showMessage(kMsgErrorLoadingList, MB_ICONEXCLAMATION);
        exitCode_ = kExitFileListMissing;
        closeFromProgram();
        return;
    }

    step([&] {
        for (int i = 1; i <= static_cast<int>(fileNames.size()); ++i) {
            const std::wstring& name = fileNames[static_cast<size_t>(i - 1)];
            setProgress(ProgressValue(i, static_cast<int>(fileNames.size())));
            extractPayloadFile(kFileListResource + i, name);
            PumpPendingMessages();
        }
    });

    std::wstring file;
    step([&] { file = ScriptFileArgument(extractDir); });
    long result = 0;
    step([&] {
        HINSTANCE h = StartWithShell(file, ScriptParameters(argumentText_), extractDir);
        result = static_cast<long>(reinterpret_cast<INT_PTR>(h));
    });
    if (ShellResultIsFailure(result)) {
        showMessage(ShellErrorText(file, result), MB_ICONSTOP);
        exitCode_ = kExitScriptNotStarted;
    } else {
        exitCode_ = kExitScriptStarted;
    }
    closeFromProgram();
}

bool FrmMain::Form_QueryUnload() { return !closingFromProgram_; }

void FrmMain::closeFromProgram() {
    closingFromProgram_ = true;
    if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

void FrmMain::extractPayloadFile(int id, const std::wstring& name) {
    auto report = [this](const std::wstring& t, UINT icon) { showMessage(t, icon); };
    // Only a bare name stays inside the working folder.
    if (!IsBareFileName(name)) {
        report(kMsgCannotOpen, MB_ICONSTOP);
        return;
    }
    ExtractResource(nullptr, id, extractDir + name, report);
}

void FrmMain::showMessage(const std::wstring& text, UINT icon) {
    HWND owner = windowVisible_ && hwnd_ && ::IsWindow(hwnd_) ? hwnd_ : nullptr;
    ::MessageBoxW(owner, text.c_str(), setupCaption.c_str(), MB_OK | icon);
}

std::wstring FrmMain::getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString) {
    return lookup_.getLocalizedMsg(resourceId, defaultString);
}

void FrmMain::setProgress(int value) { ::SendMessageW(progressBar1_, PBM_SETPOS, static_cast<WPARAM>(value), 0); }

LRESULT CALLBACK FrmMain::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    FrmMain* self = reinterpret_cast<FrmMain*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<FrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = hwnd;
    }
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->handle(msg, wParam, lParam);
}

LRESULT FrmMain::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) ::PostMessageW(hwnd_, WM_APP_ACTIVATE, 0, 0);
        break;
    case WM_APP_ACTIVATE:
        Form_Activate();
        return 0;
    case WM_CLOSE:
        if (Form_QueryUnload()) return 0;
        closeFromProgram();
        return 0;
    case WM_QUERYENDSESSION:
        return Form_QueryUnload() ? FALSE : TRUE;
    case WM_ENDSESSION:
        return 0;  // the window stays; the system ends the process if it must
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DESTROY:
        ::PostQuitMessage(exitCode_);
        return 0;
    }
    return ::DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace launcher
}  // namespace vellum
