#include "catalogue_lookup.h"

namespace vellum {

std::wstring LanguageQuery(const std::wstring& locale) {
    return L"language[@localeId='" + locale + L"']";
}

std::wstring ResourceValueQuery(const std::wstring& resourceId) {
    return L"resource[name = '" + resourceId + L"']/value";
}

namespace {
// A quote ends the query's string literal early: the query is malformed and
// can only fail. Some XML libraries crash on such a query instead, so it is
// never handed to them; the result is the fallback either way.
bool BreaksQuery(const std::wstring& s) { return s.find(L'\'') != std::wstring::npos; }
}  // namespace

CatalogueLookup::CatalogueLookup(std::unique_ptr<XmlBackend> backend) : backend_(std::move(backend)) {}

std::wstring CatalogueLookup::getLocalizedMsg(const std::wstring& resourceId,
                                              const std::wstring& defaultString) {
    std::wstring result = defaultString;
    if (!backend_) return result;
    if (!backend_->hasDocument()) backend_->createDocument();
    if (!languageHeld_) {
        if (backend_->load(path_)) {
            languageHeld_ = !BreaksQuery(locale_) && backend_->selectLanguage(LanguageQuery(locale_));
        } else {
            // A failed load drops the document so the next lookup tries the file anew.
            backend_->dropDocument();
        }
    }
    if (languageHeld_ && !BreaksQuery(resourceId)) {
        std::wstring text;
        if (backend_->selectText(ResourceValueQuery(resourceId), &text)) result = text;
    }
    return result;
}

}  // namespace vellum
