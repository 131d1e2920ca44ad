#include "frmMain.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "dll_hardening.h"
#include "launcher_system.h"
#include "layout.h"
#include "messages.h"
#include "payload_digest.h"
#include "payload_integrity.h"
#include "strings.h"

namespace vellum {
namespace launcher {
namespace {

struct ShellStart {
    long long result;  // above 32 when started, else the shell's error code
    DWORD error;       // the system's error when not started
    HANDLE process;    // the started process, when the shell knows it
};

// The shell is loaded from the system folder when the script is started,
// not imported: its own dependencies would otherwise be bound at start-up,
// where a DLL dropped next to the installer could stand in for them. The
// process handle lets the launcher wait for the script to take its lock.
ShellStart StartWithShell(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder) {
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
    HMODULE shell = LoadSystemLibrary(L"shell32.dll");
    auto run = shell ? reinterpret_cast<ShellExecuteExFn>(::GetProcAddress(shell, "ShellExecuteExW")) : nullptr;
    if (!run) return {SE_ERR_DLLNOTFOUND, ERROR_PROC_NOT_FOUND, nullptr};
    SHELLEXECUTEINFOW sei = {};
    sei.cbSize = sizeof sei;
    // No shell dialog of its own: a failure is reported in the launcher's box.
    sei.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    sei.lpFile = file.c_str();
    sei.lpParameters = parameters.c_str();
    sei.lpDirectory = folder.c_str();
    sei.nShow = SW_SHOWNORMAL;
    const BOOL ok = run(&sei);
    const DWORD error = ok ? 0 : ::GetLastError();
    long long result = static_cast<long long>(reinterpret_cast<INT_PTR>(sei.hInstApp));
    if (!ok && result > 32) result = 0;  // failed without a shell code: never taken for a start
    if (!ok && sei.hProcess) {
        ::CloseHandle(sei.hProcess);
        sei.hProcess = nullptr;
    }
    return {result, error, sei.hProcess};
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

ComApartment::~ComApartment() {
    if (entered_) ::CoUninitialize();
}

void ComApartment::enter() {
    if (tried_) return;
    tried_ = true;
    entered_ = SUCCEEDED(::CoInitialize(nullptr));
}

// Common Controls are loaded here rather than imported: an imported comctl32
// starts up before the program's first line and loads the theme library by
// name from the program's folder first. The theme library is taken from the
// system folder before that, so the later load by name finds it; the
// controls library itself is loaded by name so that the manifest's
// redirection to version 6.0 applies. Only a window that is shown needs them.
static void StartCommonControls() {
    LoadSystemLibrary(L"uxtheme.dll");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    auto init = comctl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControlsEx")))
                       : nullptr;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    if (init) init(&icc);
}

FrmMain::FrmMain() : lookup_(MakeMsxmlBackend()) {}

int FrmMain::run(HINSTANCE instance, const std::wstring& argumentText) {
    argumentText_ = argumentText;
    const bool wait = HasWaitSwitch(argumentText);
    // Two launchers would write into one working folder and start two
    // installations: the second refuses before anything is written.
    if (!AcquireRunMutex(&runMutex_)) {
        ::MessageBoxW(nullptr, kMsgAlreadyRunning, L"Setup", MB_OK | MB_ICONEXCLAMATION);
        return wait ? ExitCodeUnderWait(kExitAlreadyRunning, false, 0) : kExitAlreadyRunning;
    }
    // A damaged download is refused before the working folder is touched.
    if (!OwnPayloadIsIntact(instance)) {
        ::MessageBoxW(nullptr, kMsgInstallerDamaged, L"Setup", MB_OK | MB_ICONSTOP);
        return wait ? ExitCodeUnderWait(kExitDamaged, false, 0) : kExitDamaged;
    }
    int code = runWindow(instance);
    if (scriptStarted_) {
        // The mutex is released only once the started script holds its own lock.
        waitForScriptLock();
        if (judgeStart() == StartVerdict::NotStarted) code = kExitScriptNotStarted;
    }
    if (!wait || code != kExitScriptStarted) return wait ? ExitCodeUnderWait(code, false, 0) : code;
    DWORD scriptCode = 0;
    const bool known = waitForScriptEnd(&scriptCode);
    // A script host that ended with 0 without ever taking the lock installed nothing.
    if (known && judgeStart() == StartVerdict::NotStarted) return ExitCodeUnderWait(kExitScriptNotStarted, false, 0);
    return ExitCodeUnderWait(code, known, scriptCode);
}

int FrmMain::runWindow(HINSTANCE instance) {
    // A silent run shows no window: it has none, so nothing of the window's
    // (Common Controls, the class, its icons) is loaded for it.
    silentMode = HasQuietSwitch(argumentText_);
    RunStop stop = silentMode ? RunStop{} : createWindow(instance);
    if (!stop) stop = Form_Load();
    if (stop) {
        showMessage(stop.text, stop.icon);
        if (hwnd_) {
            closingFromProgram_ = true;
            ::DestroyWindow(hwnd_);
        }
        PumpPendingMessages();
        return stop.code;
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

RunStop FrmMain::createWindow(HINSTANCE instance) {
    StartCommonControls();
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
        return LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));

    hwnd_ = ::CreateWindowExW(kWindowExStyle, kWindowClass, L"Setup", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              100, 100, nullptr, nullptr, instance, this);
    if (!hwnd_)
        return LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));

    // A fixed dialog's system menu offers only Move and Close.
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) ::DeleteMenu(menu, item, MF_BYCOMMAND);
    }

    const int dpi = ScreenDpi();
    HWND controls[kControlCount] = {};
    if (!CreateControls(hwnd_, kControls, kControlCount, dpi, nullptr, DefaultGuiFont(), controls))
        return LoadFailure(L"The setup window could not be created.\r\n\r\n" + SystemErrorText(::GetLastError()));
    lblProgress_ = controls[kLblProgress];
    progressBar1_ = controls[kProgressBar1];
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, 0, 100);
    ::SendMessageW(progressBar1_, PBM_SETPOS, 0, 0);
    SizeClientAndCenter(hwnd_, kClientWidthTwips, kClientHeightTwips, dpi);
    return RunStop{};
}

RunStop FrmMain::Form_Load() {
    runPending = true;

    silentMode = HasQuietSwitch(argumentText_);
    // The window is still hidden here; in silent mode it is never shown.

    extractDir = WorkingFolder(EnvironmentValue(L"temp"));
    // An installation started from this folder is still running: writing
    // now would change its files under it.
    if (ScriptLockHeld(extractDir + kScriptLockName))
        return RunStop{kExitAlreadyRunning, kMsgAlreadyRunning, MB_ICONEXCLAMATION};
    if (!FolderExists(extractDir) && !::CreateDirectoryW(extractDir.c_str(), nullptr)) {
        DWORD error = ::GetLastError();
        return LoadFailure(L"The working folder " + extractDir + L" could not be created.\r\n\r\n" +
                               SystemErrorText(error),
                           MB_ICONSTOP);
    }

    localeID = ChooseLocale(ReadRegistryValue(HKEY_LOCAL_MACHINE, kLocaleKeyPath1, kLocaleValue1),
                            ReadRegistryValue(HKEY_LOCAL_MACHINE, kLocaleKeyPath2, kLocaleValue2));

    const std::wstring catalogueName = CatalogueName(localeID);
    uiStringsFileName = catalogueName;
    filesListPath = extractDir + L"filesList.txt";

    // Without the whole list nothing can be written, and an older list left
    // in the folder must not be followed.
    const ExtractOutcome list = ExtractResource(
        nullptr, kFileListResource, filesListPath, [this](const std::wstring& t, UINT icon) { showMessage(t, icon); },
        true);
    if (list.stop) return RunStop{kExitStopped, stoppedText(list.message), MB_ICONSTOP};

    // The list is the run's plan: without it nothing else can be written,
    // so a list that cannot be opened (its extraction has already said why
    // when that failed) ends the load step before the window is shown.
    std::string bytes;
    if (!ReadWholeFile(filesListPath, &bytes)) {
        DWORD error = ::GetLastError();
        // The system's word for a folder in the list's place is only "access denied".
        std::wstring reason = FolderExists(filesListPath) ? std::wstring(L"A folder of that name is in its place.")
                                                          : SystemErrorText(error);
        return LoadFailure(L"The file list " + filesListPath + L" could not be read.\r\n\r\n" + reason);
    }
    fileNames = SplitListLines(bytes, CP_ACP);

    // Without a line of that name the search ends on the list's last line,
    // whose resource is then written under the catalogue's name; the lookups
    // find no language element in it and give their defaults.
    const int catalogueResource = CatalogueSearch(fileNames, catalogueName);
    uiStringsFileName = extractDir + catalogueName;
    bool catalogueWritten = false;
    if (catalogueResource != 0) {
        const ExtractOutcome catalogue = extractPayloadFile(catalogueResource, catalogueName);
        if (catalogue.stop) return RunStop{kExitStopped, stoppedText(catalogue.message), MB_ICONSTOP};
        catalogueWritten = catalogue.written;
    }

    // A catalogue this run did not write is not read: the one in the folder
    // may be an earlier run's. The lookups then give their defaults.
    lookup_.setCataloguePath(catalogueWritten ? uiStringsFileName : std::wstring());
    lookup_.setLocale(localeID);
    catalogueSet_ = true;
    // A silent run reads the catalogue (COM, the XML parser) only for a box.
    if (silentMode) {
        Form_Activate();
        return RunStop{};
    }
    ::SetWindowTextW(hwnd_, caption().c_str());
    ::SetWindowTextW(lblProgress_,
                     getLocalizedMsg(L"loc_UI_Starting_Setup", L"Starting Quillfeather Installation...").c_str());
    return RunStop{};
}

void FrmMain::Form_Activate() {
    if (!runPending) return;
    // Activation comes again after each of the launcher's message boxes and
    // whenever the user returns to the window; the work runs once.
    runPending = false;

    setProgress(5);
    // Without a window there is nothing to serve: a silent run does not
    // start the thread's user interface (the display driver) for it.
    if (!silentMode) PumpPendingMessages();

    if (!FileExists(filesListPath)) {
        showMessage(kMsgErrorLoadingList, MB_ICONEXCLAMATION);
        exitCode_ = kExitFileListMissing;
        closeFromProgram();
        return;
    }

    // A failure that will repeat for every file, or one of the script, ends
    // the run with one message: no further file, no script.
    std::wstring stop;
    for (int i = 1; i <= static_cast<int>(fileNames.size()); ++i) {
        const std::wstring& name = fileNames[static_cast<size_t>(i - 1)];
        setProgress(ProgressValue(i, static_cast<int>(fileNames.size())));
        const ExtractOutcome o = extractPayloadFile(kFileListResource + i, name);
        if (o.stop) {
            stop = o.message;
            break;
        }
        if (!silentMode && MessagesPending()) PumpPendingMessages();
    }
    if (!stop.empty()) {
        showMessage(stoppedText(stop), MB_ICONSTOP);
        exitCode_ = kExitStopped;
        closeFromProgram();
        return;
    }

    const std::wstring file = ScriptFileArgument(extractDir);
    // The shell opens a folder of that name in a file window: only a file is started.
    const DWORD scriptAttributes = ::GetFileAttributesW((extractDir + L"VellumSetup.jse").c_str());
    if (scriptAttributes != INVALID_FILE_ATTRIBUTES && (scriptAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        showMessage(FailureText(L"error executing " + file, L"", kMsgNotAFile), MB_ICONSTOP);
        exitCode_ = kExitScriptNotStarted;
        closeFromProgram();
        return;
    }
    // The lock file tells afterwards that the script took it, also when the
    // script ended before the launcher looked: one left by an earlier run
    // (not held: checked at load) goes first.
    const std::wstring lock = extractDir + kScriptLockName;
    lockFileLeftOver_ = !::DeleteFileW(lock.c_str()) && FileExists(lock);
    com_.enter();  // the shell wants a single-threaded apartment
    const ShellStart started = StartWithShell(file, ScriptParameters(argumentText_), extractDir);
    if (ShellResultIsFailure(started.result)) {
        std::wstring text = ShellErrorText(file, started.result);
        if (started.error) text += L"\r\n\r\n" + SystemErrorText(started.error);
        showMessage(text, MB_ICONSTOP);
        exitCode_ = kExitScriptNotStarted;
    } else {
        scriptProcess_.reset(started.process);
        scriptImage_ = ProcessImagePath(started.process);
        scriptStarted_ = true;
        exitCode_ = kExitScriptStarted;
    }
    closeFromProgram();
}

bool FrmMain::Form_QueryUnload() { return !closingFromProgram_; }

void FrmMain::closeFromProgram() {
    closingFromProgram_ = true;
    if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

ExtractOutcome FrmMain::extractPayloadFile(int id, const std::wstring& name) {
    auto report = [this](const std::wstring& t, UINT icon) { showMessage(t, icon); };
    // Only a bare name stays inside the working folder.
    if (!IsBareFileName(name)) {
        report(FailureText(kMsgCannotOpen, name, L"The name does not name a file inside the working folder."),
               MB_ICONSTOP);
        return ExtractOutcome();
    }
    return ExtractResource(nullptr, id, extractDir + name, report, IsScriptName(name));
}

std::wstring FrmMain::stoppedText(const std::wstring& failure) {
    return failure + L"\r\n\r\n" + getLocalizedMsg(L"loc_UI_Setup_Stopped", kMsgStopped);
}

void FrmMain::waitForScriptLock() {
    // Bounded: a script that never takes its lock (or a shell that ran
    // something else) must not keep the launcher alive.
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (lockTaken()) return;
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= kLockWaitMs) return;
        const DWORD slice = kLockWaitMs - elapsed < 100 ? kLockWaitMs - elapsed : 100;
        HANDLE process = scriptProcess_.get();
        const DWORD r = ::MsgWaitForMultipleObjects(process ? 1 : 0, process ? &process : nullptr, FALSE, slice,
                                                    QS_ALLINPUT);
        if (process && r == WAIT_OBJECT_0) return;  // the script has ended
        PumpPendingMessages();
    }
}

bool FrmMain::lockTaken() {
    const std::wstring lock = extractDir + kScriptLockName;
    lockSeen_ = lockSeen_ || ScriptLockHeld(lock) || (!lockFileLeftOver_ && FileExists(lock));
    return lockSeen_;
}

StartVerdict FrmMain::judgeStart() {
    HANDLE process = scriptProcess_.get();
    DWORD code = 0;
    const bool ended = process && ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(process, &code);
    if (scriptImage_.empty()) scriptImage_ = ProcessImagePath(process);
    const StartedProgram program = ProgramOfImage(scriptImage_);
    const StartVerdict verdict = JudgeScriptStart(lockTaken(), program, ended, code);
    if (verdict == StartVerdict::NotStarted) {
        // The window's loop has ended: its quit message would end the box at once.
        MSG quit;
        while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        // The device form of the path is of no use to a reader: its file name is.
        const size_t cut = scriptImage_.find_last_of(L"\\");
        showMessage(NotStartedText(extractDir + L"VellumSetup.jse",
                                   cut == std::wstring::npos ? scriptImage_ : scriptImage_.substr(cut + 1)),
                    MB_ICONSTOP);
    }
    return verdict;
}

bool FrmMain::waitForScriptEnd(DWORD* exitCode) {
    // Started through DDE or an already running program, the shell hands
    // back no process: its end and result cannot be known.
    HANDLE process = scriptProcess_.get();
    if (!process) return false;
    // No time limit: the installation takes as long as its user does. The
    // window has closed by now, but the thread's messages are still served
    // (broadcasts, the shell's conversations) so that nobody waits on us.
    for (;;) {
        const DWORD r = ::MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) break;
        if (r != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // the window's own loop has already ended
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return ::GetExitCodeProcess(process, exitCode) != FALSE;
}

void FrmMain::showMessage(const std::wstring& text, UINT icon) {
    HWND owner = windowVisible_ && hwnd_ && ::IsWindow(hwnd_) ? hwnd_ : nullptr;
    ::MessageBoxW(owner, text.c_str(), caption().c_str(), MB_OK | icon);
}

// The boxes' caption: the catalogue's, once the lookup knows which
// catalogue to read; until then none (the system's default).
const std::wstring& FrmMain::caption() {
    if (!captionKnown_ && catalogueSet_) {
        captionKnown_ = true;
        setupCaption = getLocalizedMsg(L"loc_UI_Setup", L"Setup");
    }
    return setupCaption;
}

std::wstring FrmMain::getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString) {
    com_.enter();  // the XML parser is a COM object
    return lookup_.getLocalizedMsg(resourceId, defaultString);
}

void FrmMain::setProgress(int value) {
    if (progressBar1_) ::SendMessageW(progressBar1_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

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
