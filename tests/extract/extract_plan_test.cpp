// EXTRACT.EXE's decisions about a plan of several cabinets: the plan file,
// which member of a name lands, the records it writes and its exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan.h"
#include "text_digest.h"

using namespace vellum::extract;

TEST(DecodePlanFile, ReadsTheEncodingsTheScriptHostWrites) {
    std::vector<std::wstring> cabs;
    std::wstring error;
    // UTF-16LE with its mark (CreateTextFile(..., true)), a name outside ASCII.
    std::string utf16("\xFF\xFE", 2);
    for (wchar_t c : std::wstring(L"C:\\t\\a.cab\r\n\r\n  \"C:\\t\\\x00E9t\x00E9.cab\"  \r\n")) {
        utf16.push_back(static_cast<char>(c & 0xFF));
        utf16.push_back(static_cast<char>(c >> 8));
    }
    ASSERT_TRUE(DecodePlanFile(utf16, &cabs, &error)) << error;
    EXPECT_EQ(cabs, (std::vector<std::wstring>{L"C:\\t\\a.cab", L"C:\\t\\\x00E9t\x00E9.cab"}));
    ASSERT_TRUE(DecodePlanFile("\xEF\xBB\xBF" "a.cab\n\xC3\xA9.cab", &cabs, &error));
    EXPECT_EQ(cabs, (std::vector<std::wstring>{L"a.cab", L"\x00E9.cab"}));
    ASSERT_TRUE(DecodePlanFile("one.cab\r\ntwo.cab", &cabs, &error));  // ANSI, no mark, no final line end
    EXPECT_EQ(cabs.size(), 2u);
    ASSERT_TRUE(DecodePlanFile("", &cabs, &error));
    EXPECT_TRUE(cabs.empty());

    std::vector<std::wstring> kept = {L"unchanged"};
    EXPECT_FALSE(DecodePlanFile(std::string("\xFF\xFE" "a\0b", 5), &kept, &error));  // cut off
    EXPECT_FALSE(DecodePlanFile("a.cab\r\n@other.txt\r\n", &kept, &error));
    EXPECT_NE(error.find(L"@other.txt"), std::wstring::npos);
    EXPECT_EQ(kept, std::vector<std::wstring>{L"unchanged"});
}

TEST(LastOfTheirName, ALaterCabinetReplacesAnEarlierFileOfTheSameName) {
    auto last = LastOfTheirName({{L"a.txt", L"Sub\\B.txt", L"c.txt"},
                                 {L"sub\\b.TXT", L"d.txt"},
                                 {},
                                 {L"A.txt", L"a.txt"}});
    EXPECT_EQ(last[0], (std::vector<bool>{false, false, true}));
    EXPECT_EQ(last[1], (std::vector<bool>{true, true}));
    EXPECT_TRUE(last[2].empty());
    // Within one cabinet too, the later entry is what extraction leaves.
    EXPECT_EQ(last[3], (std::vector<bool>{false, true}));
}

TEST(PlanRecords, ListingProgressAndExitCodes) {
    EXPECT_EQ(ListingLine(FindingWord(Finding::kChanged), 4400000, L"locales\\en-us\\index.htm"),
              L"changed\t4400000\tlocales\\en-us\\index.htm\r\n");
    EXPECT_EQ(ListingLine(L"cabinet", 12, L"C:\\t\\a b.cab"), L"cabinet\t12\tC:\\t\\a b.cab\r\n");

    ProgressState state;
    state.phase = "extract";
    state.done = 5000000000ull;  // past 32 bits
    state.total = 6000000000ull;
    state.cabinetsDone = 3;
    state.cabinets = 30;
    EXPECT_EQ(ProgressRecord(state), "extract 5000000000 6000000000 3 30 -1\r\n");
    state.phase = "end";
    state.exitCode = 23;
    EXPECT_EQ(ProgressRecord(state), "end 5000000000 6000000000 3 30 23\r\n");

    // One cabinet keeps the codes it always had; later ones carry their position.
    EXPECT_EQ(PlanExitCode(0, 7), 0);
    EXPECT_EQ(PlanExitCode(3, 0), 3);
    EXPECT_EQ(PlanExitCode(2, 4), 42);
}

TEST(ProgressClock, DueAtEveryStepNotAtEveryWrite) {
    ProgressClock clock(1000);
    EXPECT_FALSE(clock.Due(999));
    EXPECT_TRUE(clock.Due(1000));
    EXPECT_FALSE(clock.Due(1999));  // the mark moved on from 1000
    EXPECT_TRUE(clock.Due(5000));   // a large write is one record, not four
    EXPECT_FALSE(clock.Due(5999));
    clock.Reset(5500);               // a cabinet's record restarts the step
    EXPECT_FALSE(clock.Due(6499));
    EXPECT_TRUE(clock.Due(6500));
}

TEST(Sha256Hex, KnownDigestsAcrossTheBlockEdges) {
    auto of = [](const std::string& s) {
        return Sha256Hex(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    };
    EXPECT_EQ(of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // 55 bytes end in one block, 56 need a second, 64 are a whole one.
    EXPECT_EQ(of(std::string(55, 'a')), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(of(std::string(56, 'a')), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
    EXPECT_EQ(of(std::string(64, 'a')), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

TEST(TextDigest, IsTheDigestOfTheTextAfterItsByteOrderMark) {
    // What the installation script computes for the same text (UTF-16LE, no mark).
    const std::wstring text = L"version\t3.0.6\r\nfile\t12\tlocales\\en-us\\index.htm\r\n\x00E9";
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    const std::string want = "828d4ce15acbf358a6d40e814186828d0e7b82ca8a6b1c54c588cd3a793f2aef";
    EXPECT_EQ(TextDigest("\xFF\xFE" + bytes), want);
    EXPECT_EQ(TextDigest(bytes), want);
    // A mark inside the text, or a changed byte, is part of what is hashed.
    EXPECT_NE(TextDigest("\xFF\xFE\xFF\xFE" + bytes), want);
    bytes[3] ^= 1;
    EXPECT_NE(TextDigest(bytes), want);
}
