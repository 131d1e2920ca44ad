#include "registration.h"

#include <oleauto.h>

#include <cwctype>

#include <vector>

#include "handles.h"
#include "identity.h"

namespace vellum {
namespace controller {

namespace {

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Writes every entry; on the first failure removes what it wrote and
// returns that failure.
LONG WriteAll(RegistryBackend& reg, Scope scope, const RegistrationData& data) {
    for (const RegEntry& e : data.entries) {
        LONG rc = reg.setValue(scope, e);
        if (rc != ERROR_SUCCESS) {
            for (const std::wstring& k : data.ownedKeys) reg.deleteTree(scope, k);
            return rc;
        }
    }
    return ERROR_SUCCESS;
}

void RemoveAll(RegistryBackend& reg, Scope scope, const RegistrationData& data) {
    for (const std::wstring& k : data.ownedKeys) reg.deleteTree(scope, k);
}

bool IsAccessDenied(HRESULT hr) {
    return hr == E_ACCESSDENIED || hr == TYPE_E_REGISTRYACCESS || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

}  // namespace

RegistrationData ClassEntries(const std::wstring& exePath) {
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsidString;
    RegistrationData d;
    d.entries = {
        {clsidKey, L"", kProgId},
        {clsidKey + L"\\LocalServer32", L"", L"\"" + exePath + L"\""},
        {clsidKey + L"\\ProgID", L"", kProgId},
        {clsidKey + L"\\VersionIndependentProgID", L"", kProgId},
        {clsidKey + L"\\TypeLib", L"", kLibidString},
        {clsidKey + L"\\Version", L"", L"1.0"},
        {clsidKey + L"\\Programmable", L"", L"", true},
        {kProgId, L"", kProgId},
        {std::wstring(kProgId) + L"\\CLSID", L"", kClsidString},
    };
    d.ownedKeys = {clsidKey, kProgId};
    return d;
}

RegistrationData TypeLibEntries(const std::wstring& exePath, bool win64) {
    const std::wstring lib = std::wstring(L"TypeLib\\") + kLibidString;
    const std::wstring ver = lib + L"\\1.0";
    const std::wstring itf = std::wstring(L"Interface\\") + kIidString;
    RegistrationData d;
    d.entries = {
        {ver, L"", kLibraryName},
        {ver + L"\\0\\" + (win64 ? L"win64" : L"win32"), L"", exePath},
        {ver + L"\\FLAGS", L"", L"0"},
        {ver + L"\\HELPDIR", L"", FolderOf(exePath)},
        {itf, L"", kInterfaceName},
        {itf + L"\\ProxyStubClsid", L"", kOleAutomationProxy},
        {itf + L"\\ProxyStubClsid32", L"", kOleAutomationProxy},
        {itf + L"\\TypeLib", L"", kLibidString},
        {itf + L"\\TypeLib", L"Version", L"1.0"},
    };
    d.ownedKeys = {lib, itf};
    return d;
}

namespace {

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

// The program path of a LocalServer32 value: quoted, or the whole value.
std::wstring ServerPath(const std::wstring& value) {
    size_t start = value.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return std::wstring();
    if (value[start] == L'"') {
        size_t end = value.find(L'"', start + 1);
        return value.substr(start + 1, end == std::wstring::npos ? std::wstring::npos : end - start - 1);
    }
    size_t end = value.find_last_not_of(L" \t");
    return value.substr(start, end - start + 1);
}

std::wstring ClsidKey() { return std::wstring(L"CLSID\\") + kClsidString; }

std::wstring LibPathKey(bool win64) {
    return std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0\\0\\" + (win64 ? L"win64" : L"win32");
}

enum class Holder { None, Self, Other, Gone };

struct ScopeState {
    Holder holder = Holder::None;
    std::wstring path;      // the registered server
    std::wstring token;     // of a registration of this file for one run
    std::wstring replaced;  // the copy that registration replaced
};

// Whose registration a scope holds: this file's, another copy's that still
// exists, one whose file is gone, or none.
ScopeState StateOf(RegistryBackend& reg, Scope scope, const std::wstring& exePath, bool win64) {
    ScopeState st;
    std::wstring value;
    if (reg.getValue(scope, ClsidKey() + L"\\LocalServer32", L"", &value) == ERROR_SUCCESS &&
        !ServerPath(value).empty()) {
        st.path = ServerPath(value);
        if (SamePath(st.path, exePath)) {
            st.holder = Holder::Self;
            if (reg.getValue(scope, ClsidKey(), kRunValueName, &st.token) != ERROR_SUCCESS) st.token.clear();
            if (reg.getValue(scope, ClsidKey(), kReplacedValueName, &st.replaced) != ERROR_SUCCESS)
                st.replaced.clear();
        } else {
            st.holder = reg.fileExists(st.path) ? Holder::Other : Holder::Gone;
        }
        return st;
    }
    // No class: a type library left by a partial registration of this file is still its own.
    if (reg.getValue(scope, LibPathKey(win64), L"", &value) == ERROR_SUCCESS && SamePath(value, exePath))
        st.holder = Holder::Self;
    return st;
}

// A failed machine-wide attempt may have overwritten another copy's
// registration before it was rolled back: that copy registers itself again.
void RestoreReplaced(RegistryBackend& reg, const RegistrationData& machineCls) {
    for (const RegEntry& e : machineCls.entries)
        if (e.name == kReplacedValueName && reg.fileExists(e.data)) reg.reRegister(e.data);
}

}  // namespace

int RegisterServer(RegistryBackend& reg, const std::wstring& exePath, bool win64, const std::wstring& runToken) {
    RegistrationData cls = ClassEntries(exePath);
    const RegistrationData lib = TypeLibEntries(exePath, win64);

    RegistrationData machineCls = cls;
    if (!runToken.empty()) {
        cls.entries.push_back({ClsidKey(), kRunValueName, runToken});
        const ScopeState machine = StateOf(reg, Scope::Machine, exePath, win64);
        const ScopeState user = StateOf(reg, Scope::User, exePath, win64);
        // The user's classes win over the machine's: with another copy
        // registered there, no registration of ours would ever be used.
        if (user.holder == Holder::Other) return kExitFailed;
        if (user.holder == Holder::Self) {
            // A leftover of this file for the user would shadow the new one.
            RemoveAll(reg, Scope::User, cls);
            RemoveAll(reg, Scope::User, lib);
        }
        machineCls = cls;
        // Another copy registered machine-wide gets its registration back
        // when this run's goes; a killed run's note of it is carried on.
        const std::wstring replaced = machine.holder == Holder::Other ? machine.path
                                      : machine.holder == Holder::Self ? machine.replaced
                                                                       : std::wstring();
        if (!replaced.empty()) machineCls.entries.push_back({ClsidKey(), kReplacedValueName, replaced});
    }

    // Machine-wide first: every user of the computer runs the installation.
    LONG rc = WriteAll(reg, Scope::Machine, machineCls);
    if (rc == ERROR_SUCCESS) {
        HRESULT hr = reg.registerTypeLib(Scope::Machine, exePath);
        if (SUCCEEDED(hr)) return kExitMachineWide;
        RemoveAll(reg, Scope::Machine, cls);
        RemoveAll(reg, Scope::Machine, lib);
        if (!IsAccessDenied(hr)) {
            RestoreReplaced(reg, machineCls);
            return kExitFailed;
        }
    } else if (rc != ERROR_ACCESS_DENIED) {
        RestoreReplaced(reg, machineCls);
        return kExitFailed;
    }
    RestoreReplaced(reg, machineCls);

    // Refused machine-wide (a limited account): register for this user.
    if (WriteAll(reg, Scope::User, cls) != ERROR_SUCCESS) return kExitFailed;
    // A run writes the per-user type library entries itself: some systems'
    // per-user call writes machine-wide, over another copy's registration.
    HRESULT hr = runToken.empty() ? reg.registerTypeLib(Scope::User, exePath) : E_NOTIMPL;
    if (hr == E_NOTIMPL) hr = HRESULT_FROM_WIN32(WriteAll(reg, Scope::User, lib));
    if (FAILED(hr)) {
        RemoveAll(reg, Scope::User, cls);
        RemoveAll(reg, Scope::User, lib);
        return kExitFailed;
    }
    return kExitPerUser;
}

int UnregisterServer(RegistryBackend& reg, const std::wstring& exePath, bool win64, const std::wstring& runToken) {
    const RegistrationData cls = ClassEntries(exePath);
    const RegistrationData lib = TypeLibEntries(exePath, win64);
    const ScopeState states[2] = {StateOf(reg, Scope::Machine, exePath, win64),
                                  StateOf(reg, Scope::User, exePath, win64)};
    bool ok = true;
    for (Scope scope : {Scope::Machine, Scope::User}) {
        const ScopeState& st = states[scope == Scope::Machine ? 0 : 1];
        if (st.holder != Holder::Self) continue;             // another copy's, or nothing
        if (!runToken.empty() && st.token != runToken) continue;  // a later run's
        // The system's call removes the library by its identifier, whoever
        // registered it: only where the library names this file, and never
        // for the user where another copy holds the machine (the per-user
        // call may act machine-wide).
        std::wstring libPath;
        const bool libOwn = reg.getValue(scope, LibPathKey(win64), L"", &libPath) != ERROR_SUCCESS ||
                            SamePath(libPath, exePath);
        if (libOwn && (scope == Scope::Machine || states[0].holder != Holder::Other))
            reg.unregisterTypeLib(scope);  // then the trees, whatever it left
        bool removed = true;
        for (const RegistrationData* d : {&cls, &lib}) {
            if (d == &lib && !libOwn) continue;
            for (const std::wstring& k : d->ownedKeys) {
                LONG rc = reg.deleteTree(scope, k);
                if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) removed = false;
            }
        }
        ok = ok && removed;
        // The copy this run's registration replaced registers itself again.
        if (removed && scope == Scope::Machine && !st.replaced.empty() && reg.fileExists(st.replaced) &&
            !reg.reRegister(st.replaced))
            ok = false;
    }
    return ok ? kExitMachineWide : kExitFailed;
}

std::wstring RunTokenOf(RegistryBackend& reg, const std::wstring& exePath) {
    // The user's registration is the one COM uses when both exist.
    for (Scope scope : {Scope::User, Scope::Machine}) {
        ScopeState st = StateOf(reg, scope, exePath, false);
        if (st.holder == Holder::Self) return st.token;
        if (st.holder == Holder::Other) return std::wstring();
    }
    return std::wstring();
}

// ---- the real registry -------------------------------------------------

namespace {
HKEY RootOf(Scope scope) { return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
std::wstring ClassesPath(const std::wstring& key) { return L"Software\\Classes\\" + key; }

using RegisterForUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnregisterForUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

FARPROC OleAutProc(const char* name) {
    HMODULE oleaut = ::GetModuleHandleW(L"oleaut32.dll");
    return oleaut ? ::GetProcAddress(oleaut, name) : nullptr;
}
}  // namespace

LONG Win32Registry::setValue(Scope scope, const RegEntry& e) {
    UniqueHKey key;
    LONG rc = ::RegCreateKeyExW(RootOf(scope), ClassesPath(e.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS || e.keyOnly) return rc;
    return ::RegSetValueExW(key.get(), e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(e.data.c_str()),
                            static_cast<DWORD>((e.data.size() + 1) * sizeof(wchar_t)));
}

namespace {
// Deletes a key and everything below it (RegDeleteTree is not on Windows XP;
// the shell's helper would import shlwapi, which is not always taken from
// the system folder).
LONG DeleteKeyTree(HKEY parent, const std::wstring& path) {
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(parent, path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE,
                              key.put());
    if (rc != ERROR_SUCCESS) return rc;
    for (;;) {
        wchar_t name[256];
        DWORD len = 256;
        // Always the first: each pass removes the one found before.
        rc = ::RegEnumKeyExW(key.get(), 0, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return rc;
        rc = DeleteKeyTree(key.get(), name);
        if (rc != ERROR_SUCCESS) return rc;
    }
    key.reset();
    return ::RegDeleteKeyW(parent, path.c_str());
}
}  // namespace

LONG Win32Registry::deleteTree(Scope scope, const std::wstring& key) {
    LONG rc = DeleteKeyTree(RootOf(scope), ClassesPath(key));
    return rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc;
}

LONG Win32Registry::getValue(Scope scope, const std::wstring& keyPath, const std::wstring& name,
                              std::wstring* data) {
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(RootOf(scope), ClassesPath(keyPath).c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (rc != ERROR_SUCCESS) return rc;
    const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
    DWORD type = 0, size = 0;
    rc = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    rc = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (rc != ERROR_SUCCESS) return rc;
    buffer.back() = L'\0';  // stored without its terminator
    data->assign(buffer.data());
    return ERROR_SUCCESS;
}

bool Win32Registry::reRegister(const std::wstring& exePath) {
    std::wstring commandLine = L"\"" + exePath + L"\" /RegServer";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    ::CloseHandle(pi.hThread);
    DWORD code = 2;
    // Registration is a few registry writes; a copy that hangs is not waited for.
    if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0 || !::GetExitCodeProcess(pi.hProcess, &code))
        code = 2;
    ::CloseHandle(pi.hProcess);
    return code == 0 || code == 1;
}

bool Win32Registry::fileExists(const std::wstring& path) {
    DWORD attrs = ::GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

HRESULT Win32Registry::registerTypeLib(Scope scope, const std::wstring& exePath) {
    ComPtr<ITypeLib> tl;
    HRESULT hr = ::LoadTypeLibEx(exePath.c_str(), REGKIND_NONE, tl.put());
    if (FAILED(hr)) return hr;
    std::wstring path = exePath, dir = FolderOf(exePath);
    if (scope == Scope::Machine) return ::RegisterTypeLib(tl.get(), &path[0], &dir[0]);
    // Per-user registration exists only on newer systems.
    auto forUser = reinterpret_cast<RegisterForUserFn>(OleAutProc("RegisterTypeLibForUser"));
    if (!forUser) return E_NOTIMPL;
    return forUser(tl.get(), &path[0], &dir[0]);
}

HRESULT Win32Registry::unregisterTypeLib(Scope scope) {
    GUID libid;
    if (FAILED(::CLSIDFromString(const_cast<LPOLESTR>(kLibidString), &libid))) return E_FAIL;
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    if (scope == Scope::Machine) return ::UnRegisterTypeLib(libid, 1, 0, LOCALE_NEUTRAL, kind);
    auto forUser = reinterpret_cast<UnregisterForUserFn>(OleAutProc("UnRegisterTypeLibForUser"));
    if (!forUser) return E_NOTIMPL;
    return forUser(libid, 1, 0, LOCALE_NEUTRAL, kind);
}

}  // namespace controller
}  // namespace vellum
