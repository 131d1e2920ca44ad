#include "catalogue_lookup.h"

namespace vellum {

std::wstring LanguageQuery(const std::wstring& locale) {
    return L"language[@localeId='" + locale + L"']";
}

std::wstring ResourceValueQuery(const std::wstring& resourceId) {
    return L"resource[name = '" + resourceId + L"']/value";
}

namespace {

// The file's characters as far as markup is concerned: UTF-16 decoded by its
// byte-order mark or by the zero byte beside the first "<"; anything else
// byte by byte after a UTF-8 byte-order mark (markup is ASCII in UTF-8).
std::u16string MarkupText(const std::string& b) {
    const auto u = [&b](size_t i) { return static_cast<unsigned char>(b[i]); };
    bool utf16 = false, littleEndian = false;
    size_t start = 0;
    if (b.size() >= 3 && u(0) == 0xEF && u(1) == 0xBB && u(2) == 0xBF) {
        start = 3;
    } else if (b.size() >= 2 && u(0) == 0xFF && u(1) == 0xFE) {
        utf16 = littleEndian = true;
        start = 2;
    } else if (b.size() >= 2 && u(0) == 0xFE && u(1) == 0xFF) {
        utf16 = true;
        start = 2;
    } else if (b.size() >= 2 && u(0) == '<' && u(1) == 0) {
        utf16 = littleEndian = true;
    } else if (b.size() >= 2 && u(0) == 0 && u(1) == '<') {
        utf16 = true;
    }
    std::u16string out;
    if (!utf16) {
        out.reserve(b.size());
        for (size_t i = start; i < b.size(); ++i) out.push_back(u(i));
        return out;
    }
    out.reserve(b.size() / 2);
    for (size_t i = start; i + 1 < b.size(); i += 2)
        out.push_back(static_cast<char16_t>(littleEndian ? (u(i) | (u(i + 1) << 8)) : ((u(i) << 8) | u(i + 1))));
    return out;
}

bool StartsWithAt(const std::u16string& s, size_t at, const char* word, bool ignoreCase) {
    for (size_t k = 0; word[k]; ++k) {
        if (at + k >= s.size()) return false;
        char16_t c = s[at + k];
        if (ignoreCase && c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != static_cast<char16_t>(word[k])) return false;
    }
    return true;
}

}  // namespace

bool MayDeclareDtd(const std::string& fileBytes) {
    const std::u16string s = MarkupText(fileBytes);
    // XML has no NUL character, and a document begins with markup after at
    // most some white space; anything else is read differently by the parser.
    if (s.find(u'\0') != std::u16string::npos) return true;
    const size_t first = s.find_first_not_of(u" \t\r\n");
    if (first != std::u16string::npos && s[first] != u'<') return true;
    // Skips to just past `end`; an unterminated construct runs to the end of
    // the file (the parser refuses such a file anyway).
    const auto skipPast = [&s](size_t from, const std::u16string& end) {
        size_t p = s.find(end, from);
        return p == std::u16string::npos ? s.size() : p + end.size();
    };
    size_t i = 0;
    while ((i = s.find(u'<', i)) != std::u16string::npos) {
        if (StartsWithAt(s, i, "<!--", false)) {
            i = skipPast(i + 4, u"-->");
        } else if (StartsWithAt(s, i, "<?", false)) {
            i = skipPast(i + 2, u"?>");
        } else if (StartsWithAt(s, i, "<![CDATA[", false)) {
            i = skipPast(i + 9, u"]]>");
        } else if (StartsWithAt(s, i, "<!DOCTYPE", true) || StartsWithAt(s, i, "<!ENTITY", true)) {
            // Letter case too: a parser that is lenient about it must not
            // be the one to decide.
            return true;
        } else {
            ++i;
        }
    }
    return false;
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
