// Self-registration of VellumSetup. Which keys and values are written is
// plain data (ClassEntries, TypeLibEntries); where they go and what happens
// when the machine-wide registry is refused is decided by RegisterServer and
// UnregisterServer over a thin RegistryBackend, so both can be checked
// without touching a real registry.
//
// Exit codes of /RegServer and /UnregServer:
//   0  done machine-wide (HKLM\Software\Classes); for /UnregServer: every
//      registration, machine-wide and per user, is gone
//   1  /RegServer only: the machine-wide registry was refused (a limited
//      account), so the server is registered for the current user
//      (HKCU\Software\Classes) instead
//   2  failed: nothing is left registered by this attempt (/RegServer), or
//      some registration could not be removed (/UnregServer)
//
// A registration for one installation run (/RegServer /Run:<token>) carries
// the token in the class key. Where another copy of the server whose file
// still exists is registered machine-wide, the run's registration replaces
// it and keeps its path; removing the run's registration has that copy
// register itself again (/RegServer), so it is as it was. With another copy
// registered for the user the run's registration fails (the user's would
// win over it). The server started from a run's registration removes it
// when it ends, if it still names this file and this token. Unregistration,
// with or without a token, removes only registrations that name this file
// (and that token).
//
// Another copy's registration is never lost: before registration writes in
// a scope it saves every key it may touch there, and an attempt that fails
// puts each of them back exactly as it was (values, types, keys), instead of
// removing what it wrote. Per user, the type library entries are written
// directly, never through the system's per-user call, which some systems
// carry out machine-wide.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace vellum {
namespace controller {

enum RegistrationExit { kExitMachineWide = 0, kExitPerUser = 1, kExitFailed = 2 };

enum class Scope { Machine, User };

// One registry value, relative to <root>\Software\Classes. An entry with
// keyOnly creates its key and sets no value.
struct RegEntry {
    std::wstring key;
    std::wstring name;  // empty: the key's default value
    std::wstring data;
    bool keyOnly = false;
};

struct RegistrationData {
    std::vector<RegEntry> entries;
    std::vector<std::wstring> ownedKeys;  // whole trees removed at unregistration
};

// The class and its programmatic identifier.
RegistrationData ClassEntries(const std::wstring& exePath);
// The type library and the interface, as RegisterTypeLib writes them; used
// per user where the system offers no per-user type library registration.
RegistrationData TypeLibEntries(const std::wstring& exePath, bool win64);

// One key, or one value with its exact type and bytes, of a saved registry
// tree; the key is relative to <root>\Software\Classes.
struct SavedItem {
    std::wstring key;
    bool isValue = false;
    std::wstring name;  // the value's name; empty: the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
using SavedTree = std::vector<SavedItem>;

// The registry as registration uses it. Errors are Win32 codes / HRESULTs.
class RegistryBackend {
public:
    virtual ~RegistryBackend() = default;
    virtual LONG setValue(Scope scope, const RegEntry& entry) = 0;
    // Removes a key with everything below it; a missing key is no error.
    virtual LONG deleteTree(Scope scope, const std::wstring& key) = 0;
    // E_NOTIMPL: this system has no way to register a type library in that scope.
    virtual HRESULT registerTypeLib(Scope scope, const std::wstring& exePath) = 0;
    virtual HRESULT unregisterTypeLib(Scope scope) = 0;
    // Appends the key, its values and everything below it to *out; a missing
    // key appends nothing and gives ERROR_FILE_NOT_FOUND.
    virtual LONG readTree(Scope scope, const std::wstring& key, SavedTree* out) = 0;
    // Creates the item's key and, for a value, sets it to the saved type and bytes.
    virtual LONG restoreItem(Scope scope, const SavedItem& item) = 0;
    // A missing value is no error.
    virtual LONG deleteValue(Scope scope, const std::wstring& key, const std::wstring& name) = 0;
    // A string value; ERROR_FILE_NOT_FOUND when the key or value is missing.
    virtual LONG getValue(Scope scope, const std::wstring& key, const std::wstring& name, std::wstring* data) = 0;
    // Whether a registered server file is still there (a copy that is gone
    // has nothing left to protect).
    virtual bool fileExists(const std::wstring& path) = 0;
    // Has another copy of the server register itself (/RegServer); true
    // when it did.
    virtual bool reRegister(const std::wstring& exePath) = 0;
};

// The class key's value that marks a registration made for one run.
constexpr const wchar_t* kRunValueName = L"InstallationRun";
// The class key's value that names the copy a run's registration replaced.
constexpr const wchar_t* kReplacedValueName = L"InstallationRunReplaced";

// runToken empty: a lasting registration, as made by hand.
int RegisterServer(RegistryBackend& registry, const std::wstring& exePath, bool win64,
                   const std::wstring& runToken = std::wstring());
// runToken empty: every registration naming exePath; otherwise only the one
// made with that token.
int UnregisterServer(RegistryBackend& registry, const std::wstring& exePath, bool win64,
                     const std::wstring& runToken = std::wstring());
// The token of the run registration that names exePath; empty when there is
// none (a lasting registration, or none at all).
std::wstring RunTokenOf(RegistryBackend& registry, const std::wstring& exePath);

// The real registry and the system's type library registration.
class Win32Registry : public RegistryBackend {
public:
    LONG setValue(Scope scope, const RegEntry& entry) override;
    LONG deleteTree(Scope scope, const std::wstring& key) override;
    HRESULT registerTypeLib(Scope scope, const std::wstring& exePath) override;
    HRESULT unregisterTypeLib(Scope scope) override;
    LONG getValue(Scope scope, const std::wstring& key, const std::wstring& name, std::wstring* data) override;
    LONG readTree(Scope scope, const std::wstring& key, SavedTree* out) override;
    LONG restoreItem(Scope scope, const SavedItem& item) override;
    LONG deleteValue(Scope scope, const std::wstring& key, const std::wstring& name) override;
    bool fileExists(const std::wstring& path) override;
    bool reRegister(const std::wstring& exePath) override;
};

}  // namespace controller
}  // namespace vellum
