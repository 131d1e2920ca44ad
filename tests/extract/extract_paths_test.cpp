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

TEST(SafeRelativePath, RefusesDevicesAndNamesWindowsWouldChange) {
    // A device in any component, with or without an extension, any case;
    // a component ending in a dot or a blank.
    for (const wchar_t* name : {L"NUL", L"nul.txt", L"aux.txt", L"COM1", L"a\\con\\b", L"a/Lpt9.log/b",
                                L"prn", L"CON .txt", L"com3.tar.gz", L"conout$", L"name.", L"name ",
                                L"dir.\\x.txt", L"dir \\x.txt"}) {
        std::wstring out = L"unchanged";
        EXPECT_FALSE(SafeRelativePath(name, &out)) << name;
        EXPECT_EQ(out, L"unchanged");
    }
    // Names that only start like a device, or carry a number outside 1-9.
    std::wstring out;
    for (const wchar_t* name : {L"console.txt", L"nul_x.txt", L"com10", L"COM0", L"lpt", L"auxiliary\\a",
                                L"a\\connect.htm", L".nul", L"my con.txt"}) {
        EXPECT_TRUE(SafeRelativePath(name, &out)) << name;
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
    EXPECT_EQ(o.mode, Mode::kExtract);
    EXPECT_EQ(o.destination, L"C:\\Program Files\\Q");
    EXPECT_EQ(o.cabinets, std::vector<std::wstring>{L"C:\\t\\a b.cab"});
    ASSERT_TRUE(ParseCommandLine({L"-d", L"x.cab"}, &o, &error));
    EXPECT_EQ(o.mode, Mode::kList);
    EXPECT_FALSE(ParseCommandLine({L"/L"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/Y"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/X", L"a.cab"}, &o, &error));
}

TEST(ParseCommandLine, PlanForms) {
    Options o;
    std::wstring error;
    ASSERT_TRUE(ParseCommandLine({L"/l", L"dest", L"/o", L"list.txt", L"/p", L"progress.txt", L"a.cab", L"@plan.txt",
                                  L"b.cab"}, &o, &error)) << error;
    EXPECT_EQ(o.cabinets, (std::vector<std::wstring>{L"a.cab", L"@plan.txt", L"b.cab"}));
    EXPECT_EQ(o.listing, L"list.txt");
    EXPECT_EQ(o.progress, L"progress.txt");
    ASSERT_TRUE(ParseCommandLine({L"/C", L"/L", L"C:\\Q", L"@p"}, &o, &error));
    EXPECT_EQ(o.mode, Mode::kCompare);
    ASSERT_TRUE(ParseCommandLine({L"-u", L"@p"}, &o, &error));
    EXPECT_EQ(o.mode, Mode::kUpdate);
    // Two modes, one file for both records, options without their value, a bare @.
    EXPECT_FALSE(ParseCommandLine({L"/C", L"/U", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/D", L"/C", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/O", L"X.txt", L"/P", L"x.TXT", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"a.cab", L"/O"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/P", L"", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"@"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/O", L"list.txt"}, &o, &error));
    // The folder listing takes a folder and no cabinet.
    ASSERT_TRUE(ParseCommandLine({L"/t", L"C:\\Q R", L"/O", L"tree.txt"}, &o, &error)) << error;
    EXPECT_EQ(o.mode, Mode::kTree);
    EXPECT_EQ(o.destination, L"C:\\Q R");
    EXPECT_FALSE(ParseCommandLine({L"/T"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/T", L"C:\\Q", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/T", L"C:\\Q", L"/U", L"a.cab"}, &o, &error));
    EXPECT_FALSE(o.shallow);
    ASSERT_TRUE(ParseCommandLine({L"/T", L"C:\\Q", L"/s"}, &o, &error)) << error;
    EXPECT_TRUE(o.shallow);
    EXPECT_FALSE(ParseCommandLine({L"/S", L"a.cab"}, &o, &error));  // only with /T
    // An extraction may list another folder once it is done, into a file of its own.
    ASSERT_TRUE(ParseCommandLine({L"/L", L"C:\\S", L"/O", L"l.txt", L"/w", L"C:\\Q P", L"t.txt", L"@p"}, &o, &error))
        << error;
    EXPECT_EQ(o.treeFolder, L"C:\\Q P");
    EXPECT_EQ(o.treeListing, L"t.txt");
    EXPECT_EQ(o.cabinets, std::vector<std::wstring>{L"@p"});
    EXPECT_FALSE(ParseCommandLine({L"/W", L"C:\\Q", L"a.cab"}, &o, &error));                     // no file
    EXPECT_FALSE(ParseCommandLine({L"/O", L"T.txt", L"/W", L"C:\\Q", L"t.TXT", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/P", L"t.txt", L"/W", L"C:\\Q", L"t.txt", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/D", L"/W", L"C:\\Q", L"t.txt", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/U", L"/W", L"C:\\Q", L"t.txt", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/T", L"C:\\Q", L"/W", L"C:\\R", L"t.txt"}, &o, &error));
    // The removal takes a folder and exactly one list.
    ASSERT_TRUE(ParseCommandLine({L"/r", L"C:\\Q", L"/O", L"r.txt", L"/P", L"p.txt", L"@gone.txt"}, &o, &error))
        << error;
    EXPECT_EQ(o.mode, Mode::kRemove);
    EXPECT_EQ(o.destination, L"C:\\Q");
    EXPECT_EQ(o.cabinets, std::vector<std::wstring>{L"@gone.txt"});
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q", L"a.txt", L"b.txt"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q", L"/Y", L"a.txt"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q", L"/U", L"a.txt"}, &o, &error));
    // Its registry list goes with /R only.
    ASSERT_TRUE(ParseCommandLine({L"/R", L"C:\\Q", L"/k", L"keys.txt", L"@gone.txt"}, &o, &error)) << error;
    EXPECT_EQ(o.registry, L"keys.txt");
    EXPECT_FALSE(ParseCommandLine({L"/K", L"keys.txt", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/T", L"C:\\Q", L"/K", L"keys.txt"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q", L"@gone.txt", L"/K"}, &o, &error));
    // So does the text it was made from, with its digest.
    ASSERT_TRUE(ParseCommandLine({L"/R", L"C:\\Q", L"/v", L"m.txt", L"ab12", L"@gone.txt"}, &o, &error)) << error;
    EXPECT_EQ(o.trustedText, L"m.txt");
    EXPECT_EQ(o.trustedDigest, L"ab12");
    EXPECT_EQ(o.cabinets, std::vector<std::wstring>{L"@gone.txt"});
    EXPECT_FALSE(ParseCommandLine({L"/V", L"m.txt", L"ab12", L"a.cab"}, &o, &error));
    EXPECT_FALSE(ParseCommandLine({L"/R", L"C:\\Q", L"@gone.txt", L"/V", L"m.txt"}, &o, &error));
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

// Adds one file-table entry (the cabinet's file table starts where the data ends).
std::vector<unsigned char> WithFile(std::vector<unsigned char> v, unsigned long length, unsigned long offset,
                                    unsigned folder) {
    v[28] = 1;  // one file
    Put(v, length, 4); Put(v, offset, 4); Put(v, folder, 2); Put(v, 0, 6);
    for (char c : std::string("member.txt")) v.push_back(static_cast<unsigned char>(c));
    v.push_back(0);
    const unsigned long total = static_cast<unsigned long>(v.size());
    for (int i = 0; i < 4; ++i) v[8 + i] = static_cast<unsigned char>(total >> (8 * i));
    return v;
}

}  // namespace

TEST(VerifyCabinet, RejectsFilesLongerThanTheDataHeld) {
    std::wstring error;
    const std::string data = "twenty bytes of data";
    auto exact = WithFile(Cabinet(data, true), 20, 0, 0);
    EXPECT_TRUE(VerifyCabinet(exact.data(), exact.size(), &error)) << error;
    auto tail = WithFile(Cabinet(data, true), 5, 15, 0);
    EXPECT_TRUE(VerifyCabinet(tail.data(), tail.size(), &error)) << error;
    auto longer = WithFile(Cabinet(data, true), 21, 0, 0);
    EXPECT_FALSE(VerifyCabinet(longer.data(), longer.size(), &error));
    EXPECT_NE(error.find(L"longer than the data"), std::wstring::npos);
    auto beyond = WithFile(Cabinet(data, true), 5, 16, 0);
    EXPECT_FALSE(VerifyCabinet(beyond.data(), beyond.size(), &error));
    auto noFolder = WithFile(Cabinet(data, true), 1, 0, 1);
    EXPECT_FALSE(VerifyCabinet(noFolder.data(), noFolder.size(), &error));
    auto cut = WithFile(Cabinet(data, true), 1, 0, 0);
    cut.resize(cut.size() - 4);  // the name's end is missing
    for (int i = 0; i < 4; ++i) cut[8 + i] = static_cast<unsigned char>(cut.size() >> (8 * i));
    EXPECT_FALSE(VerifyCabinet(cut.data(), cut.size(), &error));
}

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
