#include "registration.h"

#include <oleauto.h>

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

int RegisterServer(RegistryBackend& reg, const std::wstring& exePath, bool win64) {
    const RegistrationData cls = ClassEntries(exePath);
    const RegistrationData lib = TypeLibEntries(exePath, win64);

    // Machine-wide first: every user of the computer runs the installation.
    LONG rc = WriteAll(reg, Scope::Machine, cls);
    if (rc == ERROR_SUCCESS) {
        HRESULT hr = reg.registerTypeLib(Scope::Machine, exePath);
        if (SUCCEEDED(hr)) return kExitMachineWide;
        RemoveAll(reg, Scope::Machine, cls);
        RemoveAll(reg, Scope::Machine, lib);
        if (!IsAccessDenied(hr)) return kExitFailed;
    } else if (rc != ERROR_ACCESS_DENIED) {
        return kExitFailed;
    }

    // Refused machine-wide (a limited account): register for this user.
    if (WriteAll(reg, Scope::User, cls) != ERROR_SUCCESS) return kExitFailed;
    HRESULT hr = reg.registerTypeLib(Scope::User, exePath);
    if (hr == E_NOTIMPL) hr = HRESULT_FROM_WIN32(WriteAll(reg, Scope::User, lib));
    if (FAILED(hr)) {
        RemoveAll(reg, Scope::User, cls);
        RemoveAll(reg, Scope::User, lib);
        return kExitFailed;
    }
    return kExitPerUser;
}

int UnregisterServer(RegistryBackend& reg, const std::wstring& exePath, bool win64) {
    const RegistrationData cls = ClassEntries(exePath);
    const RegistrationData lib = TypeLibEntries(exePath, win64);
    bool ok = true;
    for (Scope scope : {Scope::Machine, Scope::User}) {
        reg.unregisterTypeLib(scope);  // then the trees, whatever it left
        for (const RegistrationData* d : {&cls, &lib})
            for (const std::wstring& k : d->ownedKeys) {
                LONG rc = reg.deleteTree(scope, k);
                if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) ok = false;
            }
    }
    return ok ? kExitMachineWide : kExitFailed;
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
