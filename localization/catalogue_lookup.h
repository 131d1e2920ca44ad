// The UI text lookup shared by both programs: the per-window lookup state and
// its caching and retry rules, independent of the XML library underneath.
#pragma once
#include <memory>
#include <string>

namespace vellum {

// What the lookup needs from an XML document object. One backend instance
// models one "document" reference of the lookup state.
class XmlBackend {
public:
    virtual ~XmlBackend() = default;
    virtual bool hasDocument() const = 0;
    // Creates an empty document (the lookup's step 2).
    virtual void createDocument() = 0;
    // Parses the whole file into the document. False when the file is
    // missing, unreadable, not well-formed or refused as unsafe.
    virtual bool load(const std::wstring& path) = 0;
    virtual void dropDocument() = 0;
    // Applies the query to the document's root element and holds the first
    // element found as the language element. False (nothing held) if none.
    virtual bool selectLanguage(const std::wstring& query) = 0;
    // Applies the query to the held language element; on a match stores the
    // node's text content (escapes resolved) and returns true.
    virtual bool selectText(const std::wstring& query, std::wstring* text) = 0;
};

// The two queries, formed by plain concatenation.
std::wstring LanguageQuery(const std::wstring& locale);
std::wstring ResourceValueQuery(const std::wstring& resourceId);

// True when a file's markup declares a DTD ("<!DOCTYPE", or "<!ENTITY"
// outside one), which a catalogue never needs and which opens the door to
// entity expansion and external entities; also when the file is in a form
// this scan cannot read (a NUL character, or no "<" first: an encoding some
// parsers still accept), so nothing unscanned reaches the parser. Comments,
// processing instructions and CDATA sections hold no markup and are
// skipped, so a comment that mentions either word is harmless. Reads UTF-8
// (with or without byte-order mark), UTF-16 (with or without) and ASCII.
bool MayDeclareDtd(const std::string& fileBytes);

// Lookup state of one window: catalogue path, locale, document and language
// element. Never fails: every lookup gives the catalogue text or the fallback.
class CatalogueLookup {
public:
    explicit CatalogueLookup(std::unique_ptr<XmlBackend> backend);

    void setCataloguePath(const std::wstring& path) { path_ = path; }
    const std::wstring& cataloguePath() const { return path_; }
    void setLocale(const std::wstring& locale) { locale_ = locale; }
    const std::wstring& locale() const { return locale_; }
    bool holdsLanguage() const { return languageHeld_; }

    std::wstring getLocalizedMsg(const std::wstring& resourceId, const std::wstring& defaultString);

private:
    std::unique_ptr<XmlBackend> backend_;
    std::wstring path_;
    std::wstring locale_;
    bool languageHeld_ = false;
};

// A lookup backed by the platform's XML 3.0 DOM (COM must be initialised on
// the calling thread).
std::unique_ptr<XmlBackend> MakeMsxmlBackend();

}  // namespace vellum
