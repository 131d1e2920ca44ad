// wizardhost: opens the installation wizard the way VellumSetup's controller
// does (COM apartment, create, set the locale, show, counter to -1, press
// Next) and lets the Wine tests read its flags and act as the program.
//
//   wizardhost.exe [--locale L] [--no-open]
//
// Every 50 ms it writes wizardhost.state next to itself when anything
// changed (UTF-8 key=value lines: currentStep, proceedInstall,
// installFinished, visible, loaded, chkLaunch, localeID, uiStringsFileName,
// licFile, hwnd, pid, keyups, done, result.N) and reads wizardhost.cmd next to itself: one
// command a line, "<number> <command> [argument]", each number run once:
//
//   open             the controller's opening sequence
//   press-next       a press of Next by program
//   unload           an unload by program (result: 1 proceeded, 0 refused)
//   show | hide | show-modal
//   caption          result: the window caption
//   msg KEY          result: getLocalizedMsg(KEY, "<fallback>")
//   end-session      Windows shutting down (result: 1 allowed, 0 refused)
//   license FILE     writes the license box text to FILE as UTF-8
//   sync             nothing: its completion means earlier posted input is handled
//   quit
//
// "done" is the number of the last command finished, "result.N" the answer
// of command N. "keyups" counts the key releases the thread has taken from
// its queue (any loop, message boxes included): a test that sends keys waits
// for it, so it knows every key before has reached the wizard.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "frmSetup.h"
#include "messages.h"
#include "strings.h"
#include "system.h"
#include "wizard_layout.h"

using vellum::wizard::frmSetup;

namespace {

frmSetup* g_wizard = nullptr;
std::wstring g_folder;
std::string g_lastState;
std::string g_result;
std::map<long, std::string> g_results;  // by command number
long g_done = 0;
bool g_busy = false;
long g_keyUps = 0;

LRESULT CALLBACK CountKeys(int code, WPARAM wp, LPARAM lp) {
    // Bit 31: the key is being released; HC_ACTION: the message leaves the queue.
    if (code == HC_ACTION && (lp & 0x80000000)) ++g_keyUps;
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

std::wstring Here(const wchar_t* name) { return g_folder + L"\\" + name; }

std::string Utf8(const std::wstring& s) { return vellum::WideToUtf8(s); }

// One line per value; line breaks inside a value are escaped.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

void WriteState() {
    std::ostringstream o;
    bool loaded = g_wizard->isLoaded();
    o << "currentStep=" << g_wizard->currentStep << "\n"
      << "proceedInstall=" << (g_wizard->proceedInstall ? 1 : 0) << "\n"
      << "installFinished=" << (g_wizard->installFinished ? 1 : 0) << "\n"
      << "visible=" << (g_wizard->isVisible() ? 1 : 0) << "\n"
      << "loaded=" << (loaded ? 1 : 0) << "\n"
      // Reading the check box of an unloaded window would load it again.
      << "chkLaunch=" << (loaded ? g_wizard->chkLaunchValue() : -1) << "\n"
      << "localeID=" << Escape(Utf8(g_wizard->localeID)) << "\n"
      << "uiStringsFileName=" << Escape(Utf8(g_wizard->uiStringsFileName)) << "\n"
      << "licFile=" << Escape(Utf8(g_wizard->licFile)) << "\n"
      << "hwnd=" << reinterpret_cast<UINT_PTR>(g_wizard->hwnd()) << "\n"
      << "pid=" << ::GetCurrentProcessId() << "\n"
      << "busy=" << (g_busy ? 1 : 0) << "\n"
      << "keyups=" << g_keyUps << "\n"
      << "done=" << g_done << "\n";
    for (const auto& r : g_results) o << "result." << r.first << "=" << Escape(r.second) << "\n";
    std::string state = o.str();
    if (state == g_lastState) return;
    std::wstring tmp = Here(L"wizardhost.state.tmp");
    {
        std::ofstream f(tmp.c_str(), std::ios::binary | std::ios::trunc);
        f << state;
        if (!f) return;
    }
    if (::MoveFileExW(tmp.c_str(), Here(L"wizardhost.state").c_str(), MOVEFILE_REPLACE_EXISTING))
        g_lastState = state;
}

void Open(const std::wstring& locale) {
    g_wizard->localeID = locale;
    g_wizard->show();
    g_wizard->currentStep = -1;
    g_wizard->pressNext();
}

void Run(const std::string& command, const std::string& arg) {
    g_result.clear();
    if (command == "open") {
        Open(vellum::Utf8ToWide(arg));
    } else if (command == "press-next") {
        g_wizard->pressNext();
    } else if (command == "unload") {
        g_result = g_wizard->unload() ? "1" : "0";
    } else if (command == "show") {
        g_wizard->show();
    } else if (command == "hide") {
        g_wizard->hide();
    } else if (command == "show-modal") {
        g_wizard->showModal();
    } else if (command == "caption") {
        g_result = Utf8(g_wizard->caption());
    } else if (command == "msg") {
        g_result = Utf8(g_wizard->getLocalizedMsg(vellum::Utf8ToWide(arg), L"<fallback>"));
    } else if (command == "end-session") {
        HWND w = g_wizard->hwnd();
        LRESULT ok = w ? ::SendMessageW(w, WM_QUERYENDSESSION, 0, 0) : TRUE;
        if (w) ::SendMessageW(w, WM_ENDSESSION, ok ? TRUE : FALSE, 0);
        g_result = ok ? "1" : "0";
    } else if (command == "license") {
        HWND frame = ::GetDlgItem(g_wizard->hwnd(), vellum::wizard::ID_Frame2);
        HWND box = ::GetDlgItem(frame, vellum::wizard::ID_txtLicense);
        int n = ::GetWindowTextLengthW(box);
        std::wstring text(static_cast<size_t>(n) + 1, L'\0');
        n = ::GetWindowTextW(box, &text[0], n + 1);
        text.resize(static_cast<size_t>(n > 0 ? n : 0));
        std::ofstream f(vellum::Utf8ToWide(arg).c_str(), std::ios::binary | std::ios::trunc);
        f << Utf8(text);
        g_result = std::to_string(text.size());
    } else if (command == "sync") {
        // Runs from a timer tick, which comes only once the queue is empty:
        // every message posted before it (clicks) has been handled.
    } else if (command == "quit") {
        ::PostQuitMessage(0);
    } else {
        g_result = "unknown command";
    }
}

void PollCommands() {
    std::ifstream f(Here(L"wizardhost.cmd").c_str(), std::ios::binary);
    std::string line;
    while (f && std::getline(f, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream in(line);
        long number = 0;
        std::string command, arg;
        if (!(in >> number >> command) || number <= g_done) continue;
        std::getline(in >> std::ws, arg);
        g_busy = true;
        WriteState();
        // A command may open a modal box or loop; the timer keeps writing
        // the state meanwhile but starts no other command.
        Run(command, arg);
        g_results[number] = g_result;
        g_done = number;
        g_busy = false;
        WriteState();
    }
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    WriteState();
    if (!g_busy) PollCommands();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    g_folder = vellum::ModuleFolder();

    std::wstring locale;
    bool open = true;
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    for (int i = 1; argv && i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--locale" && i + 1 < argc) locale = argv[++i];
        else if (a == L"--no-open") open = false;
    }
    if (argv) ::LocalFree(argv);

    int code;
    {
        ::SetWindowsHookExW(WH_KEYBOARD, CountKeys, nullptr, ::GetCurrentThreadId());
        frmSetup wizard;
        g_wizard = &wizard;
        if (open) Open(locale);
        WriteState();
        ::SetTimer(nullptr, 0, 50, Tick);
        code = vellum::RunMessageLoop();
        WriteState();
        g_wizard = nullptr;
    }
    ::CoUninitialize();
    return code;
}
