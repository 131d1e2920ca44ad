// The catalogue lookup: caching and retry rules against a scripted backend,
// then the real XML 3.0 DOM on real files (this program runs under Wine).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "catalogue_lookup.h"
#include "maintenance_texts.h"

using vellum::CatalogueLookup;
using vellum::XmlBackend;

namespace {

struct FakeState {
    bool fileReadable = true;
    std::wstring languageHit;  // the language query that matches
    std::map<std::wstring, std::wstring> values;  // value query -> text
    int creates = 0, loads = 0, drops = 0, languageQueries = 0, valueQueries = 0;
};

class FakeBackend : public XmlBackend {
public:
    explicit FakeBackend(FakeState* s) : s_(s) {}
    bool hasDocument() const override { return doc_; }
    void createDocument() override { doc_ = true; ++s_->creates; }
    bool load(const std::wstring&) override { ++s_->loads; return s_->fileReadable; }
    void dropDocument() override { doc_ = false; ++s_->drops; }
    bool selectLanguage(const std::wstring& q) override {
        ++s_->languageQueries;
        return q == s_->languageHit;
    }
    bool selectText(const std::wstring& q, std::wstring* t) override {
        ++s_->valueQueries;
        auto it = s_->values.find(q);
        if (it == s_->values.end()) return false;
        *t = it->second;
        return true;
    }
private:
    FakeState* s_;
    bool doc_ = false;
};

CatalogueLookup MakeLookup(FakeState* s, const std::wstring& locale) {
    CatalogueLookup l(std::make_unique<FakeBackend>(s));
    l.setCataloguePath(L"C:\\x\\InstallerUIText_" + locale + L".xml");
    l.setLocale(locale);
    return l;
}

}  // namespace

TEST(CatalogueQueries, AreFormedByPlainConcatenation) {
    EXPECT_EQ(vellum::LanguageQuery(L"en-us"), L"language[@localeId='en-us']");
    EXPECT_EQ(vellum::ResourceValueQuery(L"loc_UI_Setup"), L"resource[name = 'loc_UI_Setup']/value");
}

TEST(CatalogueLookupRules, GoodFileIsParsedOnceAndEveryLookupQueriesAnew) {
    FakeState s;
    s.languageHit = L"language[@localeId='de-de']";
    s.values[L"resource[name = 'loc_UI_NextButton']/value"] = L"Weiter";
    auto l = MakeLookup(&s, L"de-de");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_NextButton", L"Next"), L"Weiter");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_NextButton", L"Next"), L"Weiter");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_BackButton", L"Back"), L"Back");
    EXPECT_EQ(s.loads, 1);
    EXPECT_EQ(s.creates, 1);
    EXPECT_EQ(s.valueQueries, 3);
    // Once held, the file is not needed any more.
    s.fileReadable = false;
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_NextButton", L"Next"), L"Weiter");
    EXPECT_EQ(s.loads, 1);
}

TEST(CatalogueLookupRules, UnreadableFileIsRetriedWithAFreshDocumentEachTime) {
    FakeState s;
    s.fileReadable = false;
    s.languageHit = L"language[@localeId='en-us']";
    s.values[L"resource[name = 'loc_UI_Setup']/value"] = L"Setup!";
    auto l = MakeLookup(&s, L"en-us");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_EQ(s.loads, 2);
    EXPECT_EQ(s.drops, 2);
    EXPECT_EQ(s.creates, 2);
    EXPECT_EQ(s.valueQueries, 0);
    s.fileReadable = true;  // the file appears
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup!");
    EXPECT_EQ(s.loads, 3);
    EXPECT_TRUE(l.holdsLanguage());
}

TEST(CatalogueLookupRules, MissingLanguageReparsesOnEveryLookupButKeepsTheDocument) {
    FakeState s;
    s.languageHit = L"language[@localeId='en-us']";
    auto l = MakeLookup(&s, L"EN-US");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Title", L"T"), L"T");
    EXPECT_EQ(s.loads, 2);
    EXPECT_EQ(s.languageQueries, 2);
    EXPECT_EQ(s.creates, 1);
    EXPECT_EQ(s.drops, 0);
}

TEST(CatalogueLookupRules, QuotesNeverReachTheQueries) {
    FakeState s;
    s.languageHit = L"language[@localeId='en-us']";
    auto quotedLocale = MakeLookup(&s, L"en-us'");
    EXPECT_EQ(quotedLocale.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_EQ(s.languageQueries, 0);
    EXPECT_EQ(s.loads, 1);  // the file is still read, as for any missing language

    auto good = MakeLookup(&s, L"en-us");
    EXPECT_EQ(good.getLocalizedMsg(L"it's", L"fallback"), L"fallback");
    EXPECT_EQ(s.valueQueries, 0);
    EXPECT_TRUE(good.holdsLanguage());
}

TEST(CatalogueLookupRules, NoBackendGivesTheFallback) {
    CatalogueLookup l(nullptr);
    EXPECT_EQ(l.getLocalizedMsg(L"k", L"fallback"), L"fallback");
}

// ---- The real DOM on real files -------------------------------------------

namespace {

class RealCatalogue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
        wchar_t tmp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, tmp);
        dir_ = std::wstring(tmp) + L"vellum_loc_test\\";
        ::CreateDirectoryW(dir_.c_str(), nullptr);
    }
    void TearDown() override { ::CoUninitialize(); }

    std::wstring Write(const std::wstring& name, const std::string& bytes) {
        std::wstring path = dir_ + name;
        std::ofstream f(path.c_str(), std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    CatalogueLookup Lookup(const std::wstring& path, const std::wstring& locale) {
        CatalogueLookup l(vellum::MakeMsxmlBackend());
        l.setCataloguePath(path);
        l.setLocale(locale);
        return l;
    }
    static std::string Catalogue(const std::string& locale, const std::string& resources,
                                 bool bom = false) {
        std::string s = bom ? "\xEF\xBB\xBF" : "";
        s += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
             "<!-- Translate only the text inside the value elements. -->\r\n"
             "<uiStrings>\r\n  <language localeId=\"" + locale + "\">\r\n" + resources +
             "  </language>\r\n</uiStrings>\r\n";
        return s;
    }
    static std::string Resource(const std::string& name, const std::string& value) {
        return "    <resource>\r\n      <name>" + name + "</name>\r\n      <value>" + value +
               "</value>\r\n    </resource>\r\n";
    }
    std::wstring dir_;
};

}  // namespace

TEST_F(RealCatalogue, ReadsUtf8WithAndWithoutBomAndResolvesEscapes) {
    std::string res = Resource("loc_UI_NextButton", "Weiter") +
                      Resource("loc_UI_Option_Agree", "J&apos;accepte les conditions du contrat de licence") +
                      Resource("loc_UI_Title", "Installation von Quillfeather f\xC3\xBCr &quot;Sie&quot;");
    for (bool bom : {false, true}) {
        auto path = Write(L"InstallerUIText_de-de.xml", Catalogue("de-de", res, bom));
        auto l = Lookup(path, L"de-de");
        EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_NextButton", L"Next"), L"Weiter") << "bom=" << bom;
        EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Option_Agree", L"x"),
                  L"J'accepte les conditions du contrat de licence");
        EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Title", L"x"), L"Installation von Quillfeather f\u00fcr \"Sie\"");
        EXPECT_EQ(l.getLocalizedMsg(L"loc_uninstall_progress", L"fallback"), L"fallback");
        // Matching is exact: another letter case of the key is another key.
        EXPECT_EQ(l.getLocalizedMsg(L"LOC_UI_NEXTBUTTON", L"Next"), L"Next");
    }
}

TEST_F(RealCatalogue, LocaleInAnotherCaseFindsNothing) {
    auto path = Write(L"InstallerUIText_en-us.xml", Catalogue("en-us", Resource("loc_UI_Setup", "Setup X")));
    EXPECT_EQ(Lookup(path, L"EN-US").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_EQ(Lookup(path, L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup X");
}

TEST_F(RealCatalogue, DeletedAfterFoundStillAnswersCreatedAfterFailureIsLoaded) {
    auto path = Write(L"cat_a.xml", Catalogue("fr-fr", Resource("loc_UI_Setup", "Installation")));
    auto held = Lookup(path, L"fr-fr");
    EXPECT_EQ(held.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Installation");
    ASSERT_TRUE(::DeleteFileW(path.c_str()));
    EXPECT_EQ(held.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Installation");

    auto later = Lookup(path, L"fr-fr");
    EXPECT_EQ(later.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    Write(L"cat_a.xml", Catalogue("fr-fr", Resource("loc_UI_Setup", "Installation 2")));
    EXPECT_EQ(later.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Installation 2");
}

TEST_F(RealCatalogue, BrokenOrHostileFilesGiveTheFallback) {
    const std::string cases[] = {
        "",                                                     // empty
        "<?xml version=\"1.0\"?><uiStrings><language localeId=\"en-us\">",  // malformed
        // entity expansion
        "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><uiStrings><language localeId=\"en-us\"><resource>"
        "<name>loc_UI_Setup</name><value>&c;</value></resource></language></uiStrings>",
        // external entity naming a local file
        "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY x SYSTEM \"file:///C:/windows/win.ini\">]><uiStrings>"
        "<language localeId=\"en-us\"><resource><name>loc_UI_Setup</name><value>&x;</value></resource>"
        "</language></uiStrings>",
    };
    int i = 0;
    for (const auto& c : cases) {
        auto path = Write(L"hostile" + std::to_wstring(i++) + L".xml", c);
        EXPECT_EQ(Lookup(path, L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup") << i;
    }
    EXPECT_EQ(Lookup(dir_ + L"missing.xml", L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
}

TEST_F(RealCatalogue, ApostrophesInLocaleOrKeyGiveTheFallbackWithoutHarm) {
    auto path = Write(L"quotes.xml", Catalogue("en-us", Resource("loc_UI_Setup", "Setup X")));
    EXPECT_EQ(Lookup(path, L"en-us'").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    auto l = Lookup(path, L"en-us");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup' or '1'='1", L"Setup"), L"Setup");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup X");
}

// ---- Catalogues of awkward shape on the real parser ------------------------

namespace {
std::string Doc(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + body;
}
std::string Res(const std::string& name, const std::string& value) {
    return "<resource><name>" + name + "</name><value>" + value + "</value></resource>";
}
}  // namespace

TEST_F(RealCatalogue, LanguageIsTheFirstMatchingChildOfTheRootOnly) {
    // Two language elements: each locale finds its own; of two with the same
    // locale the first wins. The root's name is not checked.
    auto two = Write(L"two.xml", Doc("<anyRoot><language localeId=\"en-us\">" + Res("loc_UI_Setup", "first") +
                                     "</language><language localeId=\"de-de\">" + Res("loc_UI_Setup", "zweite") +
                                     "</language><language localeId=\"en-us\">" + Res("loc_UI_Setup", "third") +
                                     "</language></anyRoot>"));
    EXPECT_EQ(Lookup(two, L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"first");
    EXPECT_EQ(Lookup(two, L"de-de").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"zweite");

    // A language element one level further down is not a child of the root.
    auto deep = Write(L"deep.xml", Doc("<uiStrings><group><language localeId=\"en-us\">" +
                                       Res("loc_UI_Setup", "deep") + "</language></group></uiStrings>"));
    auto l = Lookup(deep, L"en-us");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
    EXPECT_FALSE(l.holdsLanguage());
}

TEST_F(RealCatalogue, ResourcesDuplicatedOrWithoutValueOrWithBlanks) {
    auto path = Write(L"odd.xml", Doc(
        "<uiStrings><language localeId=\"en-us\">" +
        Res("loc_UI_Setup", "first") + Res("loc_UI_Setup", "second") +
        "<resource><name>loc_UI_Title</name></resource>" +
        "<resource><name>loc_UI_BackButton</name><value></value></resource>" +
        Res("loc_UI_NextButton", "  Next  ") + Res("loc_UI_CancelButton", " Cancel") +
        Res("loc_UI_Launch_box", "Launch\t") +
        // A resource whose children come in the other order still has its value.
        "<resource><value>Finish!</value><name>loc_UI_Finish_Button</name></resource>" +
        "</language></uiStrings>"));
    auto l = Lookup(path, L"en-us");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"first");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Title", L"Title fallback"), L"Title fallback");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_BackButton", L"Back"), L"") << "an empty value is a text";
    // Leading and trailing blanks are the translator's and survive.
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_NextButton", L"x"), L"  Next  ");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_CancelButton", L"x"), L" Cancel");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Launch_box", L"x"), L"Launch\t");
    EXPECT_EQ(l.getLocalizedMsg(L"loc_UI_Finish_Button", L"x"), L"Finish!");
}

TEST(DtdGuard, RefusesDeclarationsInMarkupOnly) {
    using vellum::MayDeclareDtd;
    const std::string body = "<uiStrings><language localeId=\"en-us\"/></uiStrings>";
    // Harmless: the words in a comment, a processing instruction, a CDATA
    // section or escaped in a text.
    EXPECT_FALSE(MayDeclareDtd(Doc("<!-- no <!DOCTYPE or <!ENTITY here, translators -->\r\n" + body)));
    EXPECT_FALSE(MayDeclareDtd(Doc("<?note <!DOCTYPE x> ?>" + body)));
    EXPECT_FALSE(MayDeclareDtd(Doc("<uiStrings><![CDATA[<!ENTITY a \"b\">]]>&lt;!DOCTYPE</uiStrings>")));
    EXPECT_FALSE(MayDeclareDtd("\xEF\xBB\xBF" + Doc(body)));
    EXPECT_FALSE(MayDeclareDtd("\r\n  " + body));
    // Hostile: a declaration after a comment or in a comment's shadow, in any
    // letter case, in UTF-16 with or without a byte-order mark.
    EXPECT_TRUE(MayDeclareDtd(Doc("<!-- c --><!DOCTYPE r [<!ENTITY a \"b\">]>" + body)));
    EXPECT_TRUE(MayDeclareDtd(Doc("<!-- <!DOCTYPE --><!doctype r>" + body)));
    EXPECT_TRUE(MayDeclareDtd(Doc("<?pi?><!ENTITY a \"b\">" + body)));
    const std::string doctype = Doc("<!DOCTYPE r [<!ENTITY a \"b\">]>" + body);
    std::string le, be;
    for (char c : doctype) {
        le += c, le += '\0';
        be += '\0', be += c;
    }
    EXPECT_TRUE(MayDeclareDtd("\xFF\xFE" + le));
    EXPECT_TRUE(MayDeclareDtd("\xFE\xFF" + be));
    EXPECT_TRUE(MayDeclareDtd(le));
    EXPECT_TRUE(MayDeclareDtd(be));
    // UTF-16 of a harmless document is read, not refused.
    std::string harmless;
    for (char c : Doc("<!-- <!DOCTYPE -->" + body)) harmless += c, harmless += '\0';
    EXPECT_FALSE(MayDeclareDtd("\xFF\xFE" + harmless));
    // Forms the scan cannot read are refused: four-byte characters, text first.
    std::string utf32;
    for (char c : doctype) utf32 += c, utf32 += std::string(3, '\0');
    EXPECT_TRUE(MayDeclareDtd(utf32));
    EXPECT_TRUE(MayDeclareDtd("\x4C\x6F\xA7\x94"));  // "<?xm" in an EBCDIC code page
}

TEST_F(RealCatalogue, CommentMentioningADtdIsReadAndADeclarationIsNot) {
    const std::string res = Res("loc_UI_Setup", "Setup X");
    auto harmless = Write(L"comment.xml", Doc("<!-- Do not add a <!DOCTYPE> or <!ENTITY> declaration. -->\r\n"
                                              "<uiStrings><language localeId=\"en-us\">" + res +
                                              "</language></uiStrings>"));
    EXPECT_EQ(Lookup(harmless, L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup X");
    auto hostile = Write(L"declared.xml", Doc("<!-- harmless --><!DOCTYPE uiStrings [<!ENTITY x \"Setup X\">]>"
                                              "<uiStrings><language localeId=\"en-us\">" + res +
                                              "</language></uiStrings>"));
    EXPECT_EQ(Lookup(hostile, L"en-us").getLocalizedMsg(L"loc_UI_Setup", L"Setup"), L"Setup");
}

// The maintenance build's catalogue: beside the program, and only for a
// locale that cannot lead the path elsewhere.
TEST(MaintenanceCatalogue, BesideTheProgramOnlyForPlainLocales) {
    const std::wstring program = L"C:\\Temp\\VellumMaintenance.1a\\VellumSetup.exe";
    EXPECT_EQ(vellum::wizard::MaintenanceCataloguePath(program, L"de-de"),
              L"C:\\Temp\\VellumMaintenance.1a\\MaintenanceUIText_de-de.xml");
    EXPECT_EQ(vellum::wizard::MaintenanceCataloguePath(program, L"ZH_cn"),
              L"C:\\Temp\\VellumMaintenance.1a\\MaintenanceUIText_ZH_cn.xml");
    for (const wchar_t* bad : {L"", L"..\\..\\x", L"de/de", L"de-de.xml:s", L"de de", L"de-d\u00e9"})
        EXPECT_EQ(vellum::wizard::MaintenanceCataloguePath(program, bad), L"") << bad;
    EXPECT_EQ(vellum::wizard::MaintenanceCataloguePath(L"VellumSetup.exe", L"de-de"), L"");
}
