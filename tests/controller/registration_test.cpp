// Self-registration decisions over an in-memory registry, and the switches.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include <objbase.h>

#include "VellumSetup_h.h"
#include "command_line.h"
#include "identity.h"
#include "registration.h"

using namespace vellum::controller;

namespace {

const std::wstring kExe = L"C:\\Temp\\_hsc_Vellum\\VellumSetup.exe";

// A registry that keeps values per scope and can refuse a scope.
class FakeRegistry : public RegistryBackend {
public:
    std::map<std::wstring, std::wstring> values[2];  // "key|name" -> data
    std::set<std::wstring> keys[2];
    bool denyMachine = false;
    HRESULT typeLibMachine = S_OK;
    HRESULT typeLibUser = S_OK;
    bool typeLibRegistered[2] = {false, false};

    static int S(Scope s) { return s == Scope::Machine ? 0 : 1; }

    LONG setValue(Scope scope, const RegEntry& e) override {
        if (scope == Scope::Machine && denyMachine) return ERROR_ACCESS_DENIED;
        keys[S(scope)].insert(e.key);
        if (!e.keyOnly) values[S(scope)][e.key + L"|" + e.name] = e.data;
        return ERROR_SUCCESS;
    }
    LONG deleteTree(Scope scope, const std::wstring& key) override {
        bool found = false;
        auto under = [&](const std::wstring& k) { return k == key || k.rfind(key + L"\\", 0) == 0; };
        for (const auto& k : keys[S(scope)]) found = found || under(k);
        if (scope == Scope::Machine && denyMachine && found) return ERROR_ACCESS_DENIED;
        for (auto it = keys[S(scope)].begin(); it != keys[S(scope)].end();)
            if (under(*it)) it = keys[S(scope)].erase(it); else ++it;
        for (auto it = values[S(scope)].begin(); it != values[S(scope)].end();)
            if (under(it->first.substr(0, it->first.find(L'|')))) it = values[S(scope)].erase(it); else ++it;
        return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }
    HRESULT registerTypeLib(Scope scope, const std::wstring& exe) override {
        HRESULT hr = scope == Scope::Machine ? typeLibMachine : typeLibUser;
        if (SUCCEEDED(hr)) {
            typeLibRegistered[S(scope)] = true;
            libPath[S(scope)] = exe;
        }
        return hr;
    }
    HRESULT unregisterTypeLib(Scope scope) override {
        typeLibRegistered[S(scope)] = false;
        libPath[S(scope)].clear();
        return S_OK;
    }
    LONG getValue(Scope scope, const std::wstring& key, const std::wstring& name, std::wstring* data) override {
        if (key.rfind(L"TypeLib\\", 0) == 0 && name.empty() && !libPath[S(scope)].empty()) {
            *data = libPath[S(scope)];
            return ERROR_SUCCESS;
        }
        auto it = values[S(scope)].find(key + L"|" + name);
        if (it == values[S(scope)].end()) return ERROR_FILE_NOT_FOUND;
        *data = it->second;
        return ERROR_SUCCESS;
    }
    bool fileExists(const std::wstring& path) override { return existing.count(path) != 0; }
    // The other copy registers itself as this build does.
    bool reRegister(const std::wstring& exe) override {
        reRegistered.push_back(exe);
        int rc = RegisterServer(*this, exe, false);
        return rc == kExitMachineWide || rc == kExitPerUser;
    }
    std::vector<std::wstring> reRegistered;

    std::wstring libPath[2];  // where the system's call registered the library
    std::set<std::wstring> existing;
    std::wstring get(Scope s, const std::wstring& key, const std::wstring& name = L"") {
        auto it = values[S(s)].find(key + L"|" + name);
        return it == values[S(s)].end() ? L"<missing>" : it->second;
    }
    bool empty(Scope s) { return keys[S(s)].empty() && values[S(s)].empty() && !typeLibRegistered[S(s)]; }
};

const std::wstring kClsidKey = std::wstring(L"CLSID\\") + kClsidString;

TEST(Registration, MachineWideWhenAllowed) {
    FakeRegistry reg;
    EXPECT_EQ(RegisterServer(reg, kExe, false), kExitMachineWide);
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey + L"\\LocalServer32"), L"\"" + kExe + L"\"");
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey + L"\\ProgID"), L"VellumSetup.controller");
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey + L"\\TypeLib"), kLibidString);
    EXPECT_TRUE(reg.keys[0].count(kClsidKey + L"\\Programmable"));
    EXPECT_EQ(reg.get(Scope::Machine, L"VellumSetup.controller\\CLSID"), kClsidString);
    EXPECT_TRUE(reg.typeLibRegistered[0]);
    EXPECT_TRUE(reg.empty(Scope::User));

    EXPECT_EQ(UnregisterServer(reg, kExe, false), kExitMachineWide);
    EXPECT_TRUE(reg.empty(Scope::Machine));
}

TEST(Registration, PerUserWhenMachineWideIsRefused) {
    FakeRegistry reg;
    reg.denyMachine = true;
    EXPECT_EQ(RegisterServer(reg, kExe, false), kExitPerUser);
    EXPECT_TRUE(reg.empty(Scope::Machine));
    EXPECT_EQ(reg.get(Scope::User, kClsidKey + L"\\LocalServer32"), L"\"" + kExe + L"\"");
    EXPECT_TRUE(reg.typeLibRegistered[1]);
}

TEST(Registration, TypeLibraryRefusedMachineWideMovesEverythingToTheUser) {
    FakeRegistry reg;
    reg.typeLibMachine = TYPE_E_REGISTRYACCESS;
    reg.typeLibUser = E_NOTIMPL;  // a system without per-user type library registration
    EXPECT_EQ(RegisterServer(reg, kExe, true), kExitPerUser);
    EXPECT_TRUE(reg.empty(Scope::Machine)) << "the class keys written machine-wide are rolled back";
    const std::wstring lib = std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0";
    EXPECT_EQ(reg.get(Scope::User, lib + L"\\0\\win64"), kExe);
    EXPECT_EQ(reg.get(Scope::User, std::wstring(L"Interface\\") + kIidString + L"\\ProxyStubClsid32"),
              kOleAutomationProxy);
    EXPECT_EQ(reg.get(Scope::User, std::wstring(L"Interface\\") + kIidString + L"\\TypeLib", L"Version"), L"1.0");

    reg.denyMachine = false;
    EXPECT_EQ(UnregisterServer(reg, kExe, true), kExitMachineWide);
    EXPECT_TRUE(reg.empty(Scope::User)) << "unregistration removes what registration wrote";
}

TEST(Registration, OtherFailureLeavesNothingBehind) {
    FakeRegistry reg;
    reg.typeLibMachine = TYPE_E_CANTLOADLIBRARY;
    EXPECT_EQ(RegisterServer(reg, kExe, false), kExitFailed);
    EXPECT_TRUE(reg.empty(Scope::Machine));
    EXPECT_TRUE(reg.empty(Scope::User));
}

TEST(Registration, UnregisterReportsMachineKeysItCannotRemove) {
    FakeRegistry reg;
    EXPECT_EQ(RegisterServer(reg, kExe, false), kExitMachineWide);
    reg.denyMachine = true;
    EXPECT_EQ(UnregisterServer(reg, kExe, false), kExitFailed);
}

const std::wstring kOther = L"C:\\Program Files\\Quillfeather\\uninstallUI\\VellumSetup.exe";

TEST(RunRegistration, CarriesItsTokenAndGoesOnlyWithThatToken) {
    FakeRegistry reg;
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"111"), kExitMachineWide);
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey, kRunValueName), L"111");
    EXPECT_EQ(RunTokenOf(reg, kExe), L"111");
    EXPECT_EQ(RunTokenOf(reg, kOther), L"") << "another file has no run registration here";

    // A later run of the same file registered again: the first run's end leaves it.
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"222"), kExitMachineWide);
    EXPECT_EQ(UnregisterServer(reg, kExe, false, L"111"), kExitMachineWide);
    EXPECT_EQ(RunTokenOf(reg, kExe), L"222");
    EXPECT_EQ(UnregisterServer(reg, kExe, false, L"222"), kExitMachineWide);
    EXPECT_TRUE(reg.empty(Scope::Machine));
    EXPECT_EQ(RunTokenOf(reg, kExe), L"");

    // A lasting registration has no token and is not removed by a run's end.
    EXPECT_EQ(RegisterServer(reg, kExe, false), kExitMachineWide);
    EXPECT_EQ(RunTokenOf(reg, kExe), L"");
    EXPECT_EQ(UnregisterServer(reg, kExe, false, L"111"), kExitMachineWide);
    EXPECT_FALSE(reg.empty(Scope::Machine));
}

TEST(RunRegistration, GivesAnotherCopysRegistrationBack) {
    FakeRegistry reg;
    reg.existing.insert(kOther);
    EXPECT_EQ(RegisterServer(reg, kOther, false), kExitMachineWide);
    const auto machineBefore = reg.values[0];

    // The run takes the class over and notes whose it was.
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"7"), kExitMachineWide);
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey + L"\\LocalServer32"), L"\"" + kExe + L"\"");
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey, kReplacedValueName), kOther);
    EXPECT_TRUE(reg.empty(Scope::User));

    // A killed run's registration, taken over by the next run of this file,
    // still knows whose it was.
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"8"), kExitMachineWide);
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey, kReplacedValueName), kOther);

    // Another token's end leaves it; this token's end gives it back.
    EXPECT_EQ(UnregisterServer(reg, kExe, false, L"7"), kExitMachineWide);
    EXPECT_TRUE(reg.reRegistered.empty());
    EXPECT_EQ(UnregisterServer(reg, kExe, false, L"8"), kExitMachineWide);
    EXPECT_EQ(reg.reRegistered, std::vector<std::wstring>{kOther});
    EXPECT_EQ(reg.values[0], machineBefore);
    EXPECT_EQ(reg.libPath[0], kOther);

    // Plain unregistration of this file does not touch the other copy.
    EXPECT_EQ(UnregisterServer(reg, kExe, false), kExitMachineWide);
    EXPECT_EQ(reg.values[0], machineBefore);
    EXPECT_TRUE(reg.typeLibRegistered[0]);
}

TEST(RunRegistration, AFailedAttemptHasAnotherCopyRegisterItselfAgain) {
    FakeRegistry reg;
    reg.existing.insert(kOther);
    EXPECT_EQ(RegisterServer(reg, kOther, false), kExitMachineWide);
    reg.typeLibMachine = TYPE_E_CANTLOADLIBRARY;
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"7"), kExitFailed);
    EXPECT_EQ(reg.reRegistered, std::vector<std::wstring>{kOther});
}

TEST(RunRegistration, RefusedWhereAnotherCopyIsRegisteredForTheUser) {
    FakeRegistry reg;
    reg.existing.insert(kOther);
    reg.denyMachine = true;
    EXPECT_EQ(RegisterServer(reg, kOther, false), kExitPerUser);
    reg.denyMachine = false;
    const auto userBefore = reg.values[1];
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"7"), kExitFailed);
    EXPECT_EQ(reg.values[1], userBefore);
    EXPECT_TRUE(reg.empty(Scope::Machine));
}

TEST(RunRegistration, TakesOverARegistrationWhoseFileIsGone) {
    FakeRegistry reg;
    reg.existing.insert(kOther);
    EXPECT_EQ(RegisterServer(reg, kOther, false), kExitMachineWide);
    reg.existing.clear();
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"9"), kExitMachineWide);
    EXPECT_EQ(reg.get(Scope::Machine, kClsidKey + L"\\LocalServer32"), L"\"" + kExe + L"\"");
    EXPECT_TRUE(reg.empty(Scope::User));
}

TEST(RunRegistration, ALeftoverOfThisFileForTheUserDoesNotShadowTheNewOne) {
    FakeRegistry reg;
    reg.denyMachine = true;
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"1"), kExitPerUser);
    reg.denyMachine = false;
    EXPECT_EQ(RegisterServer(reg, kExe, false, L"2"), kExitMachineWide);
    EXPECT_TRUE(reg.empty(Scope::User));
    EXPECT_EQ(RunTokenOf(reg, kExe), L"2");
}

TEST(Registration, IdentifiersMatchTheTypeLibrary) {
    wchar_t text[64];
    ::StringFromGUID2(CLSID_controller, text, 64);
    EXPECT_STREQ(text, kClsidString);
    ::StringFromGUID2(IID__controller, text, 64);
    EXPECT_STREQ(text, kIidString);
    ::StringFromGUID2(LIBID_VellumSetup, text, 64);
    EXPECT_STREQ(text, kLibidString);
}

TEST(CommandLine, Switches) {
    EXPECT_EQ(ParseServerSwitch(L""), ServerSwitch::None);
    EXPECT_EQ(ParseServerSwitch(L"/RegServer"), ServerSwitch::RegServer);
    EXPECT_EQ(ParseServerSwitch(L"-REGSERVER"), ServerSwitch::RegServer);
    EXPECT_EQ(ParseServerSwitch(L"  /unregserver"), ServerSwitch::UnregServer);
    EXPECT_EQ(ParseServerSwitch(L"-Embedding"), ServerSwitch::Embedding);
    EXPECT_EQ(ParseServerSwitch(L"/Automation -Embedding"), ServerSwitch::Embedding);
    EXPECT_EQ(ParseServerSwitch(L"RegServer"), ServerSwitch::None) << "a switch needs - or /";
    EXPECT_EQ(ParseServerSwitch(L"/RegServerX"), ServerSwitch::None);
    EXPECT_EQ(ParseServerSwitch(L"foo /q -unregSERVER"), ServerSwitch::UnregServer);
    EXPECT_EQ(ParseServerSwitch(L"/RegServer /Run:12-ab"), ServerSwitch::RegServer);
}

TEST(CommandLine, RunToken) {
    std::wstring t = L"stale";
    EXPECT_EQ(ParseRunToken(L"/RegServer", &t), RunTokenKind::None);
    EXPECT_EQ(t, L"");
    EXPECT_EQ(ParseRunToken(L"/RegServer /Run:1733-42.x_Y", &t), RunTokenKind::Valid);
    EXPECT_EQ(t, L"1733-42.x_Y");
    EXPECT_EQ(ParseRunToken(L"-RUN:abc /UnregServer", &t), RunTokenKind::Valid);
    EXPECT_EQ(t, L"abc");
    EXPECT_EQ(ParseRunToken(L"/RegServer /Run:", &t), RunTokenKind::Invalid);
    EXPECT_EQ(ParseRunToken(L"/Run:a\\b", &t), RunTokenKind::Invalid);
    EXPECT_EQ(ParseRunToken(L"/Run:" + std::wstring(65, L'a'), &t), RunTokenKind::Invalid);
    EXPECT_EQ(ParseRunToken(L"/Run:\u00e9", &t), RunTokenKind::Invalid);
}

}  // namespace
