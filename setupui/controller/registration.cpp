#include "registration.h"

#include <oleauto.h>

#include <cwctype>

#include <map>
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

// Writes every entry; stops at the first failure and returns it (the caller
// puts the scope back as it was).
LONG WriteAll(RegistryBackend& reg, Scope scope, const RegistrationData& data) {
    for (const RegEntry& e : data.entries) {
        LONG rc = reg.setValue(scope, e);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
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

std::wstring ItemId(const SavedItem& item) {
    return Lower(item.key) + (item.isValue ? L"|" + Lower(item.name) : std::wstring());
}

bool IsUnder(const std::wstring& key, const std::wstring& ancestor) {
    return Lower(key).rfind(Lower(ancestor) + L"\\", 0) == 0;
}

// Every key a registration of the server may write in a scope, saved with
// all it holds before an attempt; false when the registry cannot be read
// there (rc: why).
bool SaveScope(RegistryBackend& reg, Scope scope, const std::vector<std::wstring>& roots, SavedTree* saved,
               LONG* rc) {
    saved->clear();
    for (const std::wstring& root : roots) {
        *rc = reg.readTree(scope, root, saved);
        if (*rc != ERROR_SUCCESS && *rc != ERROR_FILE_NOT_FOUND) return false;
    }
    *rc = ERROR_SUCCESS;
    return true;
}

// Puts the saved keys back as they were: what changed is set back, what is
// new goes, what went is created again. Only what differs is touched, so a
// key that refused the attempt is not written either.
bool RestoreScope(RegistryBackend& reg, Scope scope, const std::vector<std::wstring>& roots,
                  const SavedTree& saved) {
    SavedTree now;
    for (const std::wstring& root : roots) {
        LONG rc = reg.readTree(scope, root, &now);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
    }
    std::map<std::wstring, const SavedItem*> before, after;
    for (const SavedItem& i : saved) before[ItemId(i)] = &i;
    for (const SavedItem& i : now) after[ItemId(i)] = &i;
    bool ok = true;
    for (const auto& b : before) {
        auto a = after.find(b.first);
        const bool same = a != after.end() &&
                          (!b.second->isValue || (a->second->type == b.second->type && a->second->data == b.second->data));
        if (!same && reg.restoreItem(scope, *b.second) != ERROR_SUCCESS) ok = false;
    }
    std::vector<std::wstring> goneKeys;  // in key order: a key comes before those below it
    for (const auto& a : after) {
        if (before.count(a.first)) continue;
        const SavedItem& item = *a.second;
        bool underGone = false;
        for (const std::wstring& g : goneKeys) underGone = underGone || Lower(item.key) == Lower(g) || IsUnder(item.key, g);
        if (underGone) continue;
        if (!item.isValue) {
            LONG rc = reg.deleteTree(scope, item.key);
            if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) ok = false;
            goneKeys.push_back(item.key);
        } else if (reg.deleteValue(scope, item.key, item.name) != ERROR_SUCCESS) {
            ok = false;
        }
    }
    return ok;
}

// Removes this file's registration from a scope where its class is
// registered: the class, and the type library only where it names this file.
bool RemoveOwn(RegistryBackend& reg, Scope scope, const std::wstring& exePath, bool win64) {
    std::wstring libPath;
    const bool libOwn =
        reg.getValue(scope, LibPathKey(win64), L"", &libPath) != ERROR_SUCCESS || SamePath(libPath, exePath);
    // The system's call removes the library by its identifier, whoever
    // registered it; per user it may act machine-wide, so the user's keys
    // are only ever removed directly.
    if (libOwn && scope == Scope::Machine) reg.unregisterTypeLib(scope);  // then the trees, whatever it left
    bool removed = true;
    std::vector<std::wstring> keys = ClassEntries(exePath).ownedKeys;
    if (libOwn) {
        for (const std::wstring& k : TypeLibEntries(exePath, win64).ownedKeys) keys.push_back(k);
    }
    for (const std::wstring& k : keys) {
        LONG rc = reg.deleteTree(scope, k);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) removed = false;
    }
    return removed;
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
        // A leftover of this file for the user would shadow the new one.
        if (user.holder == Holder::Self && !RemoveOwn(reg, Scope::User, exePath, win64)) return kExitFailed;
        machineCls = cls;
        // Another copy registered machine-wide gets its registration back
        // when this run's goes; a killed run's note of it is carried on.
        const std::wstring replaced = machine.holder == Holder::Other ? machine.path
                                      : machine.holder == Holder::Self ? machine.replaced
                                                                       : std::wstring();
        if (!replaced.empty()) machineCls.entries.push_back({ClsidKey(), kReplacedValueName, replaced});
    }

    std::vector<std::wstring> roots = cls.ownedKeys;
    roots.insert(roots.end(), lib.ownedKeys.begin(), lib.ownedKeys.end());

    // Machine-wide first: every user of the computer runs the installation.
    SavedTree saved;
    LONG rc = ERROR_SUCCESS;
    if (SaveScope(reg, Scope::Machine, roots, &saved, &rc)) {
        rc = WriteAll(reg, Scope::Machine, machineCls);
        HRESULT hr = rc == ERROR_SUCCESS ? reg.registerTypeLib(Scope::Machine, exePath) : HRESULT_FROM_WIN32(rc);
        if (SUCCEEDED(hr)) return kExitMachineWide;
        if (!RestoreScope(reg, Scope::Machine, roots, saved)) return kExitFailed;
        if (rc == ERROR_SUCCESS) rc = IsAccessDenied(hr) ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE;
    }
    if (rc != ERROR_ACCESS_DENIED) return kExitFailed;

    // Refused machine-wide (a limited account): register for this user.
    if (!SaveScope(reg, Scope::User, roots, &saved, &rc)) return kExitFailed;
    rc = WriteAll(reg, Scope::User, cls);
    if (rc == ERROR_SUCCESS) rc = WriteAll(reg, Scope::User, lib);
    if (rc != ERROR_SUCCESS) {
        RestoreScope(reg, Scope::User, roots, saved);
        return kExitFailed;
    }
    return kExitPerUser;
}

int UnregisterServer(RegistryBackend& reg, const std::wstring& exePath, bool win64, const std::wstring& runToken) {
    const ScopeState states[2] = {StateOf(reg, Scope::Machine, exePath, win64),
                                  StateOf(reg, Scope::User, exePath, win64)};
    bool ok = true;
    for (Scope scope : {Scope::Machine, Scope::User}) {
        const ScopeState& st = states[scope == Scope::Machine ? 0 : 1];
        if (st.holder != Holder::Self) continue;             // another copy's, or nothing
        if (!runToken.empty() && st.token != runToken) continue;  // a later run's
        const bool removed = RemoveOwn(reg, scope, exePath, win64);
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

namespace {
// Appends the key (path relative to Software\Classes), its values and its
// subkeys, depth first.
LONG ReadKeyTree(HKEY root, const std::wstring& path, SavedTree* out) {
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(root, ClassesPath(path).c_str(), 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                              key.put());
    if (rc != ERROR_SUCCESS) return rc == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : rc;
    DWORD maxName = 0, maxData = 0;
    rc = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                            &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    SavedItem self;
    self.key = path;
    out->push_back(self);
    for (DWORD i = 0;; ++i) {
        std::vector<wchar_t> name(maxName + 2);
        std::vector<BYTE> data(maxData + 2);
        DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size()), type = 0;
        rc = ::RegEnumValueW(key.get(), i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return rc;
        SavedItem v;
        v.key = path;
        v.isValue = true;
        v.name.assign(name.data(), nameLen);
        v.type = type;
        v.data.assign(data.begin(), data.begin() + dataLen);
        out->push_back(v);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        rc = ::RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return rc;
        subkeys.emplace_back(name, len);
    }
    key.reset();
    for (const std::wstring& sub : subkeys) {
        rc = ReadKeyTree(root, path + L"\\" + sub, out);
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    }
    return ERROR_SUCCESS;
}
}  // namespace

LONG Win32Registry::readTree(Scope scope, const std::wstring& key, SavedTree* out) {
    return ReadKeyTree(RootOf(scope), key, out);
}

LONG Win32Registry::restoreItem(Scope scope, const SavedItem& item) {
    UniqueHKey key;
    LONG rc = ::RegCreateKeyExW(RootOf(scope), ClassesPath(item.key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS || !item.isValue) return rc;
    return ::RegSetValueExW(key.get(), item.name.empty() ? nullptr : item.name.c_str(), 0, item.type,
                            item.data.empty() ? nullptr : item.data.data(), static_cast<DWORD>(item.data.size()));
}

LONG Win32Registry::deleteValue(Scope scope, const std::wstring& keyPath, const std::wstring& name) {
    UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(RootOf(scope), ClassesPath(keyPath).c_str(), 0, KEY_SET_VALUE, key.put());
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegDeleteValueW(key.get(), name.empty() ? nullptr : name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
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
    // Per user the entries are written directly (see RegisterServer).
    if (scope != Scope::Machine) return E_NOTIMPL;
    std::wstring path = exePath, dir = FolderOf(exePath);
    return ::RegisterTypeLib(tl.get(), &path[0], &dir[0]);
}

HRESULT Win32Registry::unregisterTypeLib(Scope scope) {
    GUID libid;
    if (FAILED(::CLSIDFromString(const_cast<LPOLESTR>(kLibidString), &libid))) return E_FAIL;
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    if (scope != Scope::Machine) return E_NOTIMPL;
    return ::UnRegisterTypeLib(libid, 1, 0, LOCALE_NEUTRAL, kind);
}

}  // namespace controller
}  // namespace vellum
