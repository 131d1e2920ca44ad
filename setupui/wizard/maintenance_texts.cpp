#include "maintenance_texts.h"

#include <windows.h>

#include <vector>

#include "catalogue_lookup.h"
#include "handles.h"
#include "launcher_logic.h"
#include "system.h"

namespace vellum {
namespace wizard {

std::wstring MaintenanceCataloguePath(const std::wstring& programPath, const std::wstring& locale) {
    if (locale.empty()) return std::wstring();
    for (wchar_t c : locale) {
        bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' ||
                  c == L'_';
        if (!ok) return std::wstring();
    }
    size_t slash = programPath.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return programPath.substr(0, slash + 1) + L"MaintenanceUIText_" + locale + L".xml";
}

namespace {

// A text value as the installation script reads it: REG_SZ only.
std::wstring RegistryText(const wchar_t* keyPath, const wchar_t* valueName) {
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::wstring();
    std::vector<unsigned char> buffer(launcher::kRegistryBufferBytes, 0);
    DWORD size = launcher::kRegistryBufferBytes;
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    return launcher::RegistryDataToText(type, buffer.data(), buffer.size(), size);
}

}  // namespace

std::wstring MaintenanceText(const wchar_t* key, const wchar_t* fallback) {
    // One lookup state for the process, made at the first text: the locale
    // and the catalogue path do not change while it runs. It is never freed:
    // its document must not be released after COM has gone at exit.
    static CatalogueLookup* lookup = nullptr;
    if (!lookup) {
        lookup = new CatalogueLookup(MakeMsxmlBackend());
        std::wstring locale = launcher::ChooseLocale(RegistryText(launcher::kLocaleKeyPath1, launcher::kLocaleValue1),
                                                     RegistryText(launcher::kLocaleKeyPath2, launcher::kLocaleValue2));
        lookup->setLocale(locale);
        lookup->setCataloguePath(MaintenanceCataloguePath(vellum::ModulePath(), locale));
    }
    if (lookup->cataloguePath().empty()) return fallback;
    return lookup->getLocalizedMsg(key, fallback);
}

}  // namespace wizard
}  // namespace vellum
