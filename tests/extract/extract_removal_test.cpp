// EXTRACT.EXE's removal list and its decisions over a file system held in a map.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "removal.h"
#include "text_digest.h"

using namespace vellum::extract;

namespace {

std::string Utf16(const std::wstring& text) {
    std::string out = "\xFF\xFE";
    for (wchar_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>((c >> 8) & 0xFF));
    }
    return out;
}

// Paths (lower case, relative, "" the root) -> what stands there. A folder
// that still has something below it is not empty.
struct Disk {
    std::map<std::wstring, Found> at;
    std::vector<std::wstring> deleted;
    std::wstring failOn;  // this one cannot be deleted

    RemovalFileSystem Fs() {
        RemovalFileSystem fs;
        fs.what = [this](const std::wstring& p) {
            auto it = at.find(p);
            return it == at.end() ? Found::kNothing : it->second;
        };
        fs.deleteFile = [this](const std::wstring& p, std::wstring* why) {
            auto it = at.find(p);
            if (p == failOn || it == at.end() || it->second == Found::kFolder) {
                *why = L"in use";
                return false;
            }
            at.erase(p);
            deleted.push_back(p);
            return true;
        };
        fs.removeFolder = [this](const std::wstring& p, bool* notEmpty, std::wstring* why) {
            for (const auto& kv : at) {
                if (kv.first.size() > p.size() && kv.first.compare(0, p.size() + 1, p + L"\\") == 0) {
                    *notEmpty = true;
                    *why = L"not empty";
                    return false;
                }
            }
            at.erase(p);
            deleted.push_back(p);
            return true;
        };
        return fs;
    }
};

std::vector<RemovalEntry> List(const std::wstring& text) {
    std::vector<RemovalEntry> entries;
    std::wstring error;
    EXPECT_TRUE(DecodeRemovalList(Utf16(text), &entries, &error)) << std::string(error.begin(), error.end());
    return entries;
}

Disk Installed() {
    Disk d;
    d.at = {{L"", Found::kFolder},        {L"a", Found::kFolder},          {L"a\\1.htm", Found::kFile},
            {L"a\\2.htm", Found::kFile},  {L"a\\b", Found::kFolder},       {L"a\\b\\3.htm", Found::kFile},
            {L"m", Found::kFolder},       {L"m\\manifest.txt", Found::kFile}};
    return d;
}

const wchar_t kList[] =
    L"file\ta\\1.htm\r\nfile\ta\\2.htm\r\nfile\ta\\b\\3.htm\r\nfile\tm\\manifest.txt\r\n"
    L"folder\ta\\b\r\nfolder\ta\r\nfolder\tm\r\n";

}  // namespace

TEST(RemovalList, ReadsFilesAndFoldersInOrderAndRefusesAnythingElse) {
    auto entries = List(L"file\ta\\x.htm\r\n\r\nfolder\ta\r\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[0].folder);
    EXPECT_EQ(entries[0].path, L"a\\x.htm");
    EXPECT_TRUE(entries[1].folder);
    for (const wchar_t* bad : {L"file\t..\\x", L"file\tC:\\x", L"folder\t\\\\server\\share", L"file\ta\\nul.txt",
                               L"file\ta\\x.", L"remove\tx", L"file\ta/x", L"file\ta\\\\x", L"folder\t.",
                               L"file"}) {
        std::vector<RemovalEntry> out;
        std::wstring error;
        EXPECT_FALSE(DecodeRemovalList(Utf16(std::wstring(L"file\tok\r\n") + bad + L"\r\n"), &out, &error))
            << std::string(bad, bad + wcslen(bad));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(out.empty());
    }
}

TEST(RemoveListed, RemovesInOrderKeepsFoldersWithTheUsersFilesAndReportsEach) {
    Disk d = Installed();
    d.at[L"a\\mine.txt"] = Found::kFile;  // the user's
    std::wstring report;
    std::vector<size_t> seen;
    int halfway = 0;
    auto r = RemoveListed(List(std::wstring(kList) + L"file\ta\\gone.htm\r\n"), d.Fs(), &report,
                          [&](size_t done, size_t total) { seen.push_back(done * 100 + total); },
                          [&]() { EXPECT_EQ(d.deleted.size(), 3u); ++halfway; });
    EXPECT_EQ(r.code, kRemovalDone);
    EXPECT_EQ(r.removed, 6u);
    EXPECT_EQ(halfway, 1);
    EXPECT_EQ(d.deleted, (std::vector<std::wstring>{L"a\\1.htm", L"a\\2.htm", L"a\\b\\3.htm", L"m\\manifest.txt",
                                                     L"a\\b", L"m"}));
    EXPECT_EQ(report,
              L"removed\t0\ta\\1.htm\r\nremoved\t0\ta\\2.htm\r\nremoved\t0\ta\\b\\3.htm\r\n"
              L"removed\t0\tm\\manifest.txt\r\nremoved\t0\ta\\b\r\nnotempty\t0\ta\r\nremoved\t0\tm\r\n"
              L"missing\t0\ta\\gone.htm\r\n");
    EXPECT_TRUE(d.at.count(L"a\\mine.txt"));
    EXPECT_EQ(seen.back(), 808u);
}

TEST(RemoveListed, ALinkOnAnyEntrysWayMeansNothingIsRemoved) {
    for (const wchar_t* link : {L"", L"a\\b"}) {
        Disk d = Installed();
        d.at[link] = Found::kLink;
        std::wstring report;
        auto r = RemoveListed(List(kList), d.Fs(), &report, nullptr, nullptr);
        EXPECT_EQ(r.code, kRemovalLink);
        EXPECT_TRUE(d.deleted.empty());
        EXPECT_EQ(report, std::wstring(L"link\t0\t") + link + L"\r\n");
        EXPECT_NE(r.failure.find(L"is a link"), std::wstring::npos);
    }
}

TEST(RemoveListed, KeepsLinkedFoldersAndWhatIsNotOfItsKind) {
    Disk d = Installed();
    d.at[L"a\\b"] = Found::kLink;  // the listed folder itself: kept, nothing below it is listed
    d.at[L"m\\manifest.txt"] = Found::kFolder;
    d.at[L"a\\2.htm"] = Found::kFile;
    d.at.erase(L"a\\b\\3.htm");
    std::wstring report;
    auto r = RemoveListed(List(L"file\ta\\1.htm\r\nfile\tm\\manifest.txt\r\nfolder\ta\\2.htm\r\nfolder\ta\\b\r\n"),
                          d.Fs(), &report, nullptr, nullptr);
    EXPECT_EQ(r.code, kRemovalDone);
    EXPECT_EQ(report, L"removed\t0\ta\\1.htm\r\nother\t0\tm\\manifest.txt\r\nother\t0\ta\\2.htm\r\n"
                      L"link\t0\ta\\b\r\n");
    EXPECT_EQ(d.deleted, std::vector<std::wstring>{L"a\\1.htm"});
}

TEST(RemoveListed, StopsAtTheFirstEntryThatCannotGoOrAtALinkMadeMeanwhile) {
    Disk d = Installed();
    d.failOn = L"a\\2.htm";
    std::wstring report;
    auto r = RemoveListed(List(kList), d.Fs(), &report, nullptr, nullptr);
    EXPECT_EQ(r.code, kRemovalFailed);
    EXPECT_EQ(r.failure, L"a\\2.htm: in use");
    EXPECT_EQ(report, L"removed\t0\ta\\1.htm\r\nfailed\t0\ta\\2.htm\r\n");
    EXPECT_TRUE(d.at.count(L"m\\manifest.txt"));

    // A folder on the way became a link after the first check.
    Disk e = Installed();
    RemovalFileSystem fs = e.Fs();
    auto plain = fs.deleteFile;
    fs.deleteFile = [&](const std::wstring& p, std::wstring* why) {
        e.at[L"a\\b"] = Found::kLink;
        return plain(p, why);
    };
    report.clear();
    r = RemoveListed(List(kList), fs, &report, nullptr, nullptr);
    EXPECT_EQ(r.code, kRemovalLink);
    EXPECT_EQ(report, L"removed\t0\ta\\1.htm\r\nremoved\t0\ta\\2.htm\r\nlink\t0\ta\\b\\3.htm\r\n");
    EXPECT_TRUE(e.at.count(L"m\\manifest.txt"));
}

namespace {

const wchar_t kEntry[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather";

bool Decodes(const std::wstring& text, RegistryList* list) {
    std::wstring error;
    const bool ok = DecodeRegistryList(Utf16(text), list, &error);
    EXPECT_EQ(ok, error.empty());
    return ok;
}

}  // namespace

TEST(RegistryList, TakesTheUninstallEntryAndVendorValuesOnly) {
    RegistryList list;
    ASSERT_TRUE(Decodes(L"view\t32\r\nkey\t" + std::wstring(kEntry) + L"\r\n"
                        L"value\tHKEY_CURRENT_USER\\Software\\Vellum\\Quillfeather\\Manifests\\c:/q|previous\r\n"
                        L"value\thklm\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q\\DisplayName\r\n",
                        &list));
    EXPECT_EQ(list.view, 32);
    ASSERT_EQ(list.items.size(), 3u);
    EXPECT_TRUE(list.items[0].machine);
    EXPECT_FALSE(list.items[0].isValue);
    EXPECT_EQ(list.items[0].key, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quillfeather");
    EXPECT_EQ(list.items[0].given, kEntry);
    EXPECT_FALSE(list.items[1].machine);
    EXPECT_EQ(list.items[1].key, L"Software\\Vellum\\Quillfeather\\Manifests");
    EXPECT_EQ(list.items[1].value, L"c:/q|previous");
    EXPECT_TRUE(list.items[2].isValue);
    ASSERT_TRUE(Decodes(L"key\t" + std::wstring(kEntry) + L"\r\n", &list));
    EXPECT_EQ(list.view, 0);

    // Roots, other hives, shared keys, whole vendor keys, empty parts: the whole list is refused.
    for (const wchar_t* bad :
         {L"key\tHKLM", L"key\tHKLM\\Software", L"key\tHKLM\\Software\\Vellum\\Quillfeather",
          L"key\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          L"key\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q\\Sub",
          L"key\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\\\",
          L"key\tHKCR\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q",
          L"key\tHKU\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Q",
          L"value\tHKLM\\Software\\Vellum\\x", L"value\tHKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x",
          L"value\tHKLM\\Software\\Classes\\.htm\\x", L"value\tHKLM\\System\\CurrentControlSet\\Services\\x",
          L"value\tHKLM\\Software\\Vellum\\Quillfeather\\", L"value\tHKLM\\Software\\Vellum\\..\\x\\y",
          L"view\t48", L"delete\tHKLM\\Software\\Vellum\\Quillfeather\\x", L"key"}) {
        RegistryList out;
        out.view = 7;
        EXPECT_FALSE(Decodes(L"key\t" + std::wstring(kEntry) + L"\r\n" + bad + L"\r\n", &out))
            << std::string(bad, bad + wcslen(bad));
        EXPECT_EQ(out.view, 7);
    }
}

TEST(RemoveRegistryItems, DeletesEachAndReportsWhatStayed) {
    RegistryList list;
    ASSERT_TRUE(Decodes(L"key\t" + std::wstring(kEntry) + L"\r\nvalue\tHKLM\\Software\\V\\Q\\a\r\n"
                        L"value\tHKLM\\Software\\V\\Q\\b\r\n", &list));
    std::vector<std::wstring> asked;
    auto remove = [&](const RegistryItem& item, std::wstring* why) {
        asked.push_back(item.isValue ? item.value : item.key);
        if (item.isValue && item.value == L"a") {
            *why = L"access denied";
            return RegistryOutcome::kFailed;
        }
        return item.isValue ? RegistryOutcome::kMissing : RegistryOutcome::kRemoved;
    };
    std::wstring report;
    auto r = RemoveRegistryItems(list.items, remove, &report);
    EXPECT_EQ(r.code, kRemovalRegistry);
    EXPECT_EQ(r.removed, 1u);
    EXPECT_EQ(r.failure, L"HKLM\\Software\\V\\Q\\a: access denied");
    EXPECT_EQ(asked.size(), 3u);  // a failure does not stop the others
    EXPECT_EQ(report, L"regremoved\t0\t" + std::wstring(kEntry) + L"\r\nregfailed\t0\tHKLM\\Software\\V\\Q\\a\r\n"
                      L"regmissing\t0\tHKLM\\Software\\V\\Q\\b\r\n");
}

TEST(TextDigest, IsTheSha256OfTheUtf16TextWithoutItsByteOrderMark) {
    EXPECT_EQ(TextDigest("\xFF\xFE"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(TextDigest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // A list of installed files as the installation writes it (two blocks).
    const std::string text = Utf16(L"version\t3.0.6\r\nfile\t12\tlocales\\en-us\\index.htm\r\n");
    EXPECT_EQ(TextDigest(text), "ef57d43f16601f3ad13184fb188f875e1707bb7fe96af8f78702803e02602b8c");
    EXPECT_EQ(TextDigest(text.substr(2)), TextDigest(text));
    EXPECT_NE(TextDigest(text + std::string(2, '\0')), TextDigest(text));
}
