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

// A registry that keeps values per scope and can refuse a scope or single
// keys. Its type library call writes the keys the system's call writes.
class FakeRegistry : public RegistryBackend {
public:
    std::map<std::wstring, std::wstring> values[2];  // "key|name" -> data
    std::set<std::wstring> keys[2];
    bool denyMachine = false;
    std::set<std::wstring> deniedKeys[2];  // writes to these keys are refused
    HRESULT typeLibMachine = S_OK;

    static int S(Scope s) { return s == Scope::Machine ? 0 : 1; }
    bool refused(Scope s, const std::wstring& key) const {
        return (s == Scope::Machine && denyMachine) || deniedKeys[S(s)].count(key) != 0;
    }

    LONG setValue(Scope scope, const RegEntry& e) override {
        if (refused(scope, e.key)) return ERROR_ACCESS_DENIED;
        addKey(scope, e.key);
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
    // Like some systems, the per-user calls act machine-wide.
    HRESULT registerTypeLib(Scope scope, const std::wstring& exe) override {
        scope = Scope::Machine;
        if (FAILED(typeLibMachine)) return typeLibMachine;
        for (const RegEntry& e : TypeLibEntries(exe, false).entries)
            if (setValue(scope, e) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
        return S_OK;
    }
    HRESULT unregisterTypeLib(Scope) override {
        deleteTree(Scope::Machine, std::wstring(L"TypeLib\\") + kLibidString);
        return S_OK;
    }
    LONG getValue(Scope scope, const std::wstring& key, const std::wstring& name, std::wstring* data) override {
        auto it = values[S(scope)].find(key + L"|" + name);
        if (it == values[S(scope)].end()) return ERROR_FILE_NOT_FOUND;
        *data = it->second;
        return ERROR_SUCCESS;
    }
    LONG readTree(Scope scope, const std::wstring& key, SavedTree* out) override {
        if (!keys[S(scope)].count(key)) return ERROR_FILE_NOT_FOUND;
        for (const auto& k : keys[S(scope)]) {
            if (k != key && k.rfind(key + L"\\", 0) != 0) continue;
            SavedItem item;
            item.key = k;
            out->push_back(item);
            for (const auto& v : values[S(scope)]) {
                if (v.first.substr(0, v.first.find(L'|')) != k) continue;
                SavedItem value;
                value.key = k;
                value.isValue = true;
                value.name = v.first.substr(v.first.find(L'|') + 1);
                value.type = REG_SZ;
                const BYTE* p = reinterpret_cast<const BYTE*>(v.second.c_str());
                value.data.assign(p, p + (v.second.size() + 1) * sizeof(wchar_t));
                out->push_back(value);
            }
        }
        return ERROR_SUCCESS;
    }
    LONG restoreItem(Scope scope, const SavedItem& item) override {
        if (refused(scope, item.key)) return ERROR_ACCESS_DENIED;
        ++restored;
        addKey(scope, item.key);
        if (item.isValue)
            values[S(scope)][item.key + L"|" + item.name] = reinterpret_cast<const wchar_t*>(item.data.data());
        return ERROR_SUCCESS;
    }
    LONG deleteValue(Scope scope, const std::wstring& key, const std::wstring& name) override {
        if (refused(scope, key)) return ERROR_ACCESS_DENIED;
        values[S(scope)].erase(key + L"|" + name);
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
    int restored = 0;
    std::set<std::wstring> existing;

    // A key with all the keys above it, as the registry creates them.
    void addKey(Scope scope, const std::wstring& key) {
        for (size_t cut = key.find(L'\\'); cut != std::wstring::npos; cut = key.find(L'\\', cut + 1))
            keys[S(scope)].insert(key.substr(0, cut));
        keys[S(scope)].insert(key);
    }
    std::wstring get(Scope s, const std::wstring& key, const std::wstring& name = L"") {
        auto it = values[S(s)].find(key + L"|" + name);
        return it == values[S(s)].end() ? L"<missing>" : it->second;
    }
    std::wstring libPath(Scope s) { return get(s, std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0\\0\\win32"); }
    // The keys of registrations: the shared parents CLSID, TypeLib and Interface aside.
    std::set<std::wstring> ownKeys(Scope s) {
        std::set<std::wstring> out;
        for (const auto& k : keys[S(s)])
            if (k != L"CLSID" && k != L"TypeLib" && k != L"Interface") out.insert(k);
        return out;
    }
    bool empty(Scope s) { return ownKeys(s).empty() && values[S(s)].empty(); }
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
    EXPECT_EQ(reg.libPath(Scope::Machine), kExe);
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
    EXPECT_EQ(reg.libPath(Scope::User), kExe);
}

TEST(Registration, TypeLibraryRefusedMachineWideMovesEverythingToTheUser) {
    FakeRegistry reg;
    reg.typeLibMachine = TYPE_E_REGISTRYACCESS;
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
    EXPECT_EQ(reg.libPath(Scope::Machine), kOther);

    // Plain unregistration of this file does not touch the other copy.
    EXPECT_EQ(UnregisterServer(reg, kExe, false), kExitMachineWide);
    EXPECT_EQ(reg.values[0], machineBefore);
    EXPECT_EQ(reg.libPath(Scope::Machine), kOther);
}

// A failed attempt, lasting or for a run, in every way it can fail, leaves
// another copy's registration exactly as it was, without running that copy.
TEST(Registration, AFailedAttemptPutsAnotherCopysRegistrationBackExactly) {
    struct Case {
        const char* name;
        bool user;                      // the other copy is registered for the user
        const wchar_t* token;
        HRESULT typeLib;                // the machine-wide type library call's answer
        std::vector<std::wstring> denyMachine, denyUser;
        int expected;
    };
    const std::wstring version = kClsidKey + L"\\Version";
    const std::wstring lib = std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0";
    const std::wstring itf = std::wstring(L"Interface\\") + kIidString;
    const Case cases[] = {
        {"type library fails", false, L"", TYPE_E_CANTLOADLIBRARY, {}, {}, kExitFailed},
        {"type library fails, run", false, L"7", TYPE_E_CANTLOADLIBRARY, {}, {}, kExitFailed},
        {"class key half-way", false, L"", S_OK, {version}, {kClsidKey}, kExitFailed},
        {"class key half-way, run", false, L"7", S_OK, {version}, {kClsidKey}, kExitFailed},
        {"library key half-way", false, L"", S_OK, {itf + L"\\TypeLib"}, {lib}, kExitFailed},
        {"machine refused, user fine", false, L"7", S_OK, {version}, {}, kExitPerUser},
        {"the user's copy, machine refused", true, L"", S_OK, {kClsidKey}, {lib + L"\\HELPDIR"}, kExitFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRegistry reg;
        reg.existing.insert(kOther);
        reg.denyMachine = c.user;
        EXPECT_EQ(RegisterServer(reg, kOther, false), c.user ? kExitPerUser : kExitMachineWide);
        reg.denyMachine = false;
        reg.values[0][kClsidKey + L"|Note"] = L"kept";  // a value no build of ours writes
        const auto machineBefore = reg.values[0];
        const auto userBefore = reg.values[1];
        const auto machineKeys = reg.ownKeys(Scope::Machine);
        const auto userKeys = reg.ownKeys(Scope::User);
        reg.typeLibMachine = c.typeLib;
        for (const auto& k : c.denyMachine) reg.deniedKeys[0].insert(k);
        for (const auto& k : c.denyUser) reg.deniedKeys[1].insert(k);

        EXPECT_EQ(RegisterServer(reg, kExe, false, c.token), c.expected);
        EXPECT_EQ(reg.values[0], machineBefore);
        EXPECT_EQ(reg.ownKeys(Scope::Machine), machineKeys);
        EXPECT_TRUE(reg.reRegistered.empty());
        if (c.expected == kExitFailed) {
            EXPECT_EQ(reg.values[1], userBefore);
            EXPECT_EQ(reg.ownKeys(Scope::User), userKeys);
        } else {
            EXPECT_EQ(reg.get(Scope::User, kClsidKey + L"\\LocalServer32"), L"\"" + kExe + L"\"");
        }
    }
}

// Per user the system's type library calls are never used: where they act
// machine-wide they would take another copy's library over or remove it.
TEST(Registration, PerUserRegistrationLeavesTheMachineOneAlone) {
    for (const wchar_t* token : {L"", L"5"}) {
        FakeRegistry reg;
        reg.existing.insert(kOther);
        EXPECT_EQ(RegisterServer(reg, kOther, false), kExitMachineWide);
        const auto machineBefore = reg.values[0];
        reg.deniedKeys[0].insert(kClsidKey + L"\\LocalServer32");
        EXPECT_EQ(RegisterServer(reg, kExe, false, token), kExitPerUser);
        EXPECT_EQ(reg.libPath(Scope::User), kExe);
        reg.deniedKeys[0].clear();
        EXPECT_EQ(UnregisterServer(reg, kExe, false, token), kExitMachineWide);
        EXPECT_TRUE(reg.empty(Scope::User));
        EXPECT_EQ(reg.values[0], machineBefore);
    }
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
