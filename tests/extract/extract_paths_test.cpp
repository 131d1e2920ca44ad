// EXTRACT.EXE's decisions without a cabinet: member names, command line,
// and the structure and checksum check of a cabinet image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cabinet_paths.h"

using namespace vellum::extract;

TEST(SafeRelativePath, KeepsPlainNamesAndNormalisesSeparators) {
    std::wstring out;
    ASSERT_TRUE(SafeRelativePath(L"locales/en-us/Windows XP Home/index.htm", &out));
    EXPECT_EQ(out, L"locales\\en-us\\Windows XP Home\\index.htm");
    ASSERT_TRUE(SafeRelativePath(L"a\\\\.\\b", &out));
    EXPECT_EQ(out, L"a\\b");
    ASSERT_TRUE(SafeRelativePath(L"..name.txt", &out));  // dots inside a name are fine
    EXPECT_EQ(out, L"..name.txt");
}

TEST(SafeRelativePath, RefusesEverythingThatLeavesTheFolder) {
    const wchar_t* bad[] = {L"",          L"..\\x",      L"a\\..\\..\\x", L"a/../b",
                            L"\\abs.txt", L"/abs.txt",   L"C:x.txt",      L"C:\\x.txt",
                            L"file:ads",  L"...\\x",     L".. \\x",       L".",
                            L"a\\.."};
    for (const wchar_t* name : bad) {
        std::wstring out = L"unchanged";
        EXPECT_FALSE(SafeRelativePath(name, &out)) << name;
        EXPECT_EQ(out, L"unchanged");
    }
}

TEST(ParentFolders, OutermostFirst) {
    EXPECT_EQ(ParentFolders(L"a\\b\\c.txt"), (std::vector<std::wstring>{L"a", L"a\\b"}));
    EXPECT_TRUE(ParentFolders(L"c.txt").empty());
}

TEST(ParseCommandLine, InstallScriptForm) {
    Options o;
    std::wstring error;
    ASSERT_TRUE(ParseCommandLine({L"/Y", L"/E", L"/L", L"C:\\Program Files\\Q", L"C:\\t\\a b.cab"}, &o, &error));
    EXPECT_TRUE(o.overwrite);
    EXPECT_FALSE(o.listOnly);
    EXPECT_EQ(o.destination, L"C:\\Program Files\\Q");
    EXPECT_EQ(o.cabinet, L"C:\\t\\a b.cab");
    ASSERT_TRUE(ParseCommandLine({L"-d", L"x.cab"}, &o, &error));
    EXPECT_TRUE(o.listOnly);
    EXPECT_FALSE(ParseCommandLine({L"/L"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/Y"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"a.cab", L"b.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/X", L"a.cab"}, &o, &error));
}

namespace {

void Put(std::vector<unsigned char>& v, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// One folder of one stored block holding `payload`, with its checksum.
std::vector<unsigned char> Cabinet(const std::string& payload, bool withChecksum) {
    std::vector<unsigned char> v = {'M', 'S', 'C', 'F'};
    const unsigned long dataStart = 36 + 8;
    const unsigned long total = dataStart + 8 + payload.size();
    Put(v, 0, 4); Put(v, total, 4); Put(v, 0, 4); Put(v, dataStart + 8 + payload.size(), 4);
    Put(v, 0, 4); Put(v, 3, 1); Put(v, 1, 1); Put(v, 1, 2); Put(v, 0, 2); Put(v, 0, 2);
    Put(v, 0, 4);
    Put(v, dataStart, 4); Put(v, 1, 2); Put(v, 0, 2);  // folder: one block, stored
    unsigned char sizes[4] = {static_cast<unsigned char>(payload.size()),
                              static_cast<unsigned char>(payload.size() >> 8),
                              static_cast<unsigned char>(payload.size()),
                              static_cast<unsigned char>(payload.size() >> 8)};
    unsigned long sum = CabinetChecksum(reinterpret_cast<const unsigned char*>(payload.data()),
                                        payload.size(), 0);
    sum = CabinetChecksum(sizes, 4, sum);
    Put(v, withChecksum ? sum : 0, 4);
    v.insert(v.end(), sizes, sizes + 4);
    v.insert(v.end(), payload.begin(), payload.end());
    return v;
}

}  // namespace

TEST(VerifyCabinet, AcceptsSoundAndRejectsDamagedData) {
    std::wstring error;
    auto cab = Cabinet("hello, cabinet data!", true);
    EXPECT_TRUE(VerifyCabinet(cab.data(), cab.size(), &error)) << error;
    cab[cab.size() - 3] ^= 1;
    EXPECT_FALSE(VerifyCabinet(cab.data(), cab.size(), &error));
    EXPECT_NE(error.find(L"checksum"), std::wstring::npos);
    auto unchecked = Cabinet("no checksum stored", false);
    EXPECT_TRUE(VerifyCabinet(unchecked.data(), unchecked.size(), &error));
    auto sound = Cabinet("truncate me", true);
    EXPECT_FALSE(VerifyCabinet(sound.data(), sound.size() - 4, &error));
    const unsigned char notCab[40] = {'M', 'Z'};
    EXPECT_FALSE(VerifyCabinet(notCab, sizeof notCab, &error));
}

TEST(CabinetChecksum, TailBytesAreBigEndian) {
    const unsigned char four[4] = {1, 2, 3, 4};
    EXPECT_EQ(CabinetChecksum(four, 4, 0), 0x04030201ul);
    const unsigned char three[3] = {1, 2, 3};
    EXPECT_EQ(CabinetChecksum(three, 3, 0), 0x010203ul);
    EXPECT_EQ(CabinetChecksum(four, 4, 0x04030201ul), 0ul);
}
