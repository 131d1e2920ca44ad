// EXTRACT.EXE's decisions about a plan of several cabinets: the plan file,
// which member of a name lands, the records it writes and its exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plan.h"

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
