// VellumSetup: the installation's user interface, served by automation to
// the installation script. It has no window of its own at start-up.
#include <windows.h>

#include <string>

#include "command_line.h"
#include "dll_hardening.h"
#include "registration.h"
#include "server.h"
#include "system.h"

namespace {
using vellum::ModulePath;

#ifdef _WIN64
constexpr bool kWin64 = true;
#else
constexpr bool kWin64 = false;
#endif
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    // Runs from the working folder under TEMP: no DLL there may stand in for a system one.
    vellum::HardenDllSearchPath();
    using namespace vellum::controller;
    Win32Registry registry;
    const std::wstring line = commandLine ? commandLine : L"";
    std::wstring token;
    if (ParseRunToken(line, &token) == RunTokenKind::Invalid) return kExitFailed;
    switch (ParseServerSwitch(line)) {
    case ServerSwitch::RegServer:
        return RegisterServer(registry, ModulePath(), kWin64, token);
    case ServerSwitch::UnregServer:
        return UnregisterServer(registry, ModulePath(), kWin64, token);
    case ServerSwitch::Embedding: {
        // A registration made for one installation run goes with the server
        // that served it, however its client ended (even killed); a later
        // run's registration of this file carries another token and stays.
        const std::wstring exe = ModulePath();
        const std::wstring runToken = RunTokenOf(registry, exe);
        int rc = RunServer();
        if (!runToken.empty()) UnregisterServer(registry, exe, kWin64, runToken);
        return rc;
    }
    case ServerSwitch::None:
        break;
    }
    return 0;  // started by hand: there is nothing to show
}
