// The launcher's decisions and system services, driven without its window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher_logic.h"
#include "launcher_system.h"
#include "handles.h"

namespace L = vellum::launcher;

TEST(ArgumentText, DropsTheProgramPathOnly) {
    EXPECT_EQ(L"", L::ArgumentText(L"VellumInstaller.exe"));
    EXPECT_EQ(L"", L::ArgumentText(L"\"C:\\My Files\\VellumInstaller.exe\""));
    EXPECT_EQ(L"/q", L::ArgumentText(L"\"C:\\My Files\\VellumInstaller.exe\" /q"));
    EXPECT_EQ(L"/Q  \"x y\" ", L::ArgumentText(L"C:\\a\\VellumInstaller.exe   /Q  \"x y\" "));
}

TEST(QuietSwitch, SubstringOfTheLowerCasedText) {
    for (const wchar_t* yes : {L"/q", L"/Q", L"-s", L"-S", L"/s", L"-q", L"x/qy", L"C:\\some-stuff\\file",
                               L"foo /S bar", L"D:/sources"})
        EXPECT_TRUE(L::HasQuietSwitch(yes)) << yes;
    for (const wchar_t* no : {L"", L"q", L"s", L"/x", L"\\q", L"- q", L"/ s", L"quiet", L"--"})
        EXPECT_FALSE(L::HasQuietSwitch(no)) << no;
}

TEST(Arguments, SplitLikeTheCRuntime) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ(V{}, L::SplitArguments(L""));
    EXPECT_EQ(V{}, L::SplitArguments(L" \t "));
    EXPECT_EQ((V{L"/q", L"two words", L"x"}), L::SplitArguments(L"  /q \"two words\"\tx "));
    EXPECT_EQ((V{L"C:\\a b\\"}), L::SplitArguments(L"\"C:\\a b\\\\\""));  // a pair before a quote is one
    EXPECT_EQ((V{L"say \"hi\""}), L::SplitArguments(L"\"say \\\"hi\\\"\""));   // an odd one keeps the quote
    EXPECT_EQ((V{L"a\\\\b"}), L::SplitArguments(L"a\\\\b"));                  // not before a quote: literal
    EXPECT_EQ((V{L"ab c", L""}), L::SplitArguments(L"a\"b c\" \"\""));
    EXPECT_EQ((V{L"a\"b"}), L::SplitArguments(L"\"a\"\"b\""));
}

TEST(WaitSwitch, AWholeArgumentInAnyCase) {
    for (const wchar_t* yes : {L"/wait", L"/WAIT", L"-Wait", L"/q /wait", L"/wait /q", L"\"/wait\"",
                               L"\"C:\\x y\" /Wait"})
        EXPECT_TRUE(L::HasWaitSwitch(yes)) << yes;
    for (const wchar_t* no : {L"", L"wait", L"/waiter", L"/wait:5", L"x/wait", L"C:\\tmp\\/wait",
                              L"\"/wait x\"", L"--wait", L"/ wait", L"\\wait"})
        EXPECT_FALSE(L::HasWaitSwitch(no)) << no;
    // It is no quiet switch, and a quiet switch stays a plain substring.
    EXPECT_FALSE(L::HasQuietSwitch(L"/wait"));
    EXPECT_TRUE(L::HasQuietSwitch(L"/wait /Q"));
}

TEST(WaitSwitch, ScriptCodesPassLauncherFailuresMoveUp) {
    // The script's own code, whatever it is, when its end was observed.
    EXPECT_EQ(0, L::ExitCodeUnderWait(L::kExitScriptStarted, true, 0));
    EXPECT_EQ(3, L::ExitCodeUnderWait(L::kExitScriptStarted, true, 3));
    EXPECT_EQ(42, L::ExitCodeUnderWait(L::kExitScriptStarted, true, 42));
    // A killed script: the code the system reports, all 32 bits of it.
    EXPECT_EQ(static_cast<int>(0xC000013Au), L::ExitCodeUnderWait(L::kExitScriptStarted, true, 0xC000013Au));
    // Started, but no process to wait for: never taken for success.
    EXPECT_EQ(L::kExitResultUnknown, L::ExitCodeUnderWait(L::kExitScriptStarted, false, 0));
    EXPECT_EQ(110, L::kExitResultUnknown);
    // The launcher's own failures 1-5 become 101-105, apart from every script code below 100.
    const int failures[] = {L::kExitLoadFailed, L::kExitFileListMissing, L::kExitScriptNotStarted, L::kExitStopped,
                            L::kExitAlreadyRunning};
    for (int f : failures) {
        EXPECT_EQ(100 + f, L::ExitCodeUnderWait(f, false, 0));
        EXPECT_EQ(100 + f, L::ExitCodeUnderWait(f, true, 0)) << "a failed run has no script result";
        EXPECT_NE(L::kExitResultUnknown, L::ExitCodeUnderWait(f, false, 0));
    }
}

TEST(ScriptStart, OnlyTheScriptHostTakingTheLockOrEndingWithItsOwnCodeCounts) {
    using L::StartedProgram;
    using L::StartVerdict;
    EXPECT_EQ(StartedProgram::ScriptHost, L::ProgramOfImage(L"\\Device\\HarddiskVolume1\\Windows\\System32\\WScript.EXE"));
    EXPECT_EQ(StartedProgram::ScriptHost, L::ProgramOfImage(L"C:\\windows\\system32\\cscript.exe"));
    EXPECT_EQ(StartedProgram::Other, L::ProgramOfImage(L"C:\\windows\\notepad.exe"));
    EXPECT_EQ(StartedProgram::Other, L::ProgramOfImage(L"C:\\tools\\wscript.exe.bak"));
    EXPECT_EQ(StartedProgram::Unknown, L::ProgramOfImage(L""));

    const StartedProgram host = StartedProgram::ScriptHost;
    // The lock decides whoever took it.
    for (StartedProgram p : {host, StartedProgram::Other, StartedProgram::Unknown})
        EXPECT_EQ(StartVerdict::Started, L::JudgeScriptStart(true, p, true, 0));
    // An editor never starts the installation, whether it stays open or ends, with any code.
    for (DWORD code : {0ul, 1ul, 7ul})
        for (bool ended : {false, true}) {
            EXPECT_EQ(StartVerdict::NotStarted, L::JudgeScriptStart(false, StartedProgram::Other, ended, code));
            EXPECT_EQ(StartVerdict::NotStarted, L::JudgeScriptStart(false, StartedProgram::Unknown, ended, code));
        }
    // The script host still at work is given the benefit; its own early code is its result.
    EXPECT_EQ(StartVerdict::Started, L::JudgeScriptStart(false, host, false, 0));
    EXPECT_EQ(StartVerdict::EndedEarly, L::JudgeScriptStart(false, host, true, 7));
    EXPECT_EQ(StartVerdict::EndedEarly, L::JudgeScriptStart(false, host, true, 0xC000013Aul));
    // Ending with 0 without the lock is never success.
    EXPECT_EQ(StartVerdict::NotStarted, L::JudgeScriptStart(false, host, true, 0));
}

TEST(Locale, SourceOneWinsUnchangedThenNormalizedSourceTwoThenEnUs) {
    EXPECT_EQ(L"en-gb", L::ChooseLocale(L"en-gb", L"FR_CA"));
    EXPECT_EQ(L"FR-CA", L::ChooseLocale(L"FR-CA", L""));
    EXPECT_EQ(L"Fr_Ca", L::ChooseLocale(L"Fr_Ca", L""));
    EXPECT_EQ(L"fr-ca", L::ChooseLocale(L"", L"FR_CA"));
    EXPECT_EQ(L"zh-tw", L::ChooseLocale(L"", L"ZH_tw"));
    EXPECT_EQ(L"a-b-c", L::ChooseLocale(L"", L"A_B_C"));
    EXPECT_EQ(L"en-us", L::ChooseLocale(L"", L""));
}

namespace {
std::wstring RegText(DWORD type, const std::wstring& chars, DWORD sizeBytes) {
    unsigned char buf[L::kRegistryBufferBytes] = {};
    memcpy(buf, chars.data(), chars.size() * sizeof(wchar_t));
    return L::RegistryDataToText(type, buf, sizeof buf, sizeBytes);
}
}  // namespace

TEST(RegistryText, TrimsOneTerminatorCountingCharacters) {
    // stored with its terminator: the terminator goes
    EXPECT_EQ(L"en-us", RegText(REG_SZ, std::wstring(L"en-us\0", 6), 12));
    // stored without it: every character stays
    EXPECT_EQ(L"en-us", RegText(REG_SZ, L"en-us", 10));
    // two NULs stored: only the last one is dropped
    EXPECT_EQ(std::wstring(L"en-us\0", 6), RegText(REG_SZ, std::wstring(L"en-us\0\0", 7), 14));
    // zero bytes: the empty text (moves the choice to the next source)
    EXPECT_EQ(L"", RegText(REG_SZ, L"", 0));
    // an odd byte count still covers the last character
    EXPECT_EQ(L"ab", RegText(REG_SZ, L"ab", 3));
    // other types read as empty
    EXPECT_EQ(L"", RegText(REG_EXPAND_SZ, std::wstring(L"en-us\0", 6), 12));
    EXPECT_EQ(L"", RegText(REG_MULTI_SZ, std::wstring(L"en-us\0\0", 7), 14));
    EXPECT_EQ(L"", RegText(REG_BINARY, L"en", 4));
    // a full buffer without a terminator keeps all 1024 characters
    EXPECT_EQ(std::wstring(1024, L'x'), RegText(REG_SZ, std::wstring(1024, L'x'), 2048));
}

TEST(RegistryText, DwordIsItsUnsignedDecimal) {
    unsigned char buf[1024] = {};
    DWORD v = 1033;
    memcpy(buf, &v, 4);
    EXPECT_EQ(L"1033", L::RegistryDataToText(REG_DWORD, buf, sizeof buf, 4));
    v = 0xFFFFFFFFu;
    memcpy(buf, &v, 4);
    EXPECT_EQ(L"4294967295", L::RegistryDataToText(REG_DWORD, buf, sizeof buf, 4));
    EXPECT_EQ(L"", L::RegistryDataToText(REG_DWORD, buf, sizeof buf, 2));
}

TEST(ListLines, SplitLikeATextStream) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ((V{L"a.xml", L"b c.cab"}), L::SplitListLines("a.xml\r\nb c.cab\r\n", CP_ACP));
    EXPECT_EQ((V{L"a", L"b"}), L::SplitListLines("a\r\nb", CP_ACP));       // last line unended
    EXPECT_EQ((V{L"a", L"", L"b"}), L::SplitListLines("a\r\n\r\nb\r\n", CP_ACP));
    EXPECT_EQ((V{L"a", L"b"}), L::SplitListLines("a\nb\n", CP_ACP));       // bare LF ends a line
    EXPECT_EQ((V{L"a\rb"}), L::SplitListLines("a\rb\r\n", CP_ACP));        // a lone CR does not
    EXPECT_EQ((V{}), L::SplitListLines("", CP_ACP));
    EXPECT_EQ((V{L"\u00e9t\u00e9.txt"}), L::SplitListLines("\xe9t\xe9.txt\r\n", 1252));
}

TEST(CatalogueSearch, CountsToTheFirstExactLine) {
    std::vector<std::wstring> lines = {L"InstallerUIText_da-dk.xml", L"InstallerUIText_de-de.xml",
                                       L"InstallerUIText_en-au.xml", L"InstallerUIText_en-gb.xml",
                                       L"InstallerUIText_en-us.xml", L"EULA_en-us.txt", L"InstallerUIText_en-us.xml"};
    EXPECT_EQ(105, L::CatalogueSearch(lines, L::CatalogueName(L"en-us")));
    EXPECT_EQ(102, L::CatalogueSearch(lines, L::CatalogueName(L"de-de")));
    // no line equal (case counts): the last line's identifier
    EXPECT_EQ(107, L::CatalogueSearch(lines, L::CatalogueName(L"EN-US")));
    EXPECT_EQ(107, L::CatalogueSearch(lines, L::CatalogueName(L"fr-ca")));
    EXPECT_EQ(0, L::CatalogueSearch({}, L::CatalogueName(L"en-us")));
    EXPECT_EQ(L"InstallerUIText_FR-CA.xml", L::CatalogueName(L"FR-CA"));
}

TEST(Progress, RoundsHalfToEven) {
    EXPECT_EQ(12, L::ProgressValue(1, 8));   // 12.5
    EXPECT_EQ(38, L::ProgressValue(3, 8));   // 37.5
    EXPECT_EQ(62, L::ProgressValue(5, 8));   // 62.5
    EXPECT_EQ(50, L::ProgressValue(1, 2));
    EXPECT_EQ(33, L::ProgressValue(1, 3));
    EXPECT_EQ(67, L::ProgressValue(2, 3));
    EXPECT_EQ(100, L::ProgressValue(1, 1));
}

TEST(Progress, FullPayloadShowsEveryValueFromZeroToHundred) {
    const int n = 377;
    std::vector<int> seen;
    for (int i = 1; i <= n; ++i) seen.push_back(L::ProgressValue(i, n));
    EXPECT_EQ(0, seen.front());
    EXPECT_EQ(1, seen[1]);
    EXPECT_EQ(100, seen.back());
    std::vector<bool> hit(101, false);
    for (size_t k = 0; k < seen.size(); ++k) {
        ASSERT_GE(seen[k], 0);
        ASSERT_LE(seen[k], 100);
        if (k) {
            EXPECT_GE(seen[k], seen[k - 1]) << "at " << k;
        }
        hit[static_cast<size_t>(seen[k])] = true;
    }
    for (int v = 0; v <= 100; ++v) EXPECT_TRUE(hit[static_cast<size_t>(v)]) << v;
}

TEST(FileNames, OnlyBareNamesStayInTheWorkingFolder) {
    for (const wchar_t* ok : {L"InstallerUIText_en-us.xml", L"en-us_desktops_Heron_Windows XP Home.cab",
                              L"EXTRACT.EXE", L".hidden", L"a..b", L"x."})
        EXPECT_TRUE(L::IsBareFileName(ok)) << ok;
    for (const wchar_t* bad : {L"", L".", L"..", L"...", L". .", L"..\\evil.txt", L"../evil.txt", L"sub\\a.txt",
                               L"C:evil.txt", L"C:\\evil.txt", L"\\\\server\\share\\x", L"a/b", L"file.txt:stream"})
        EXPECT_FALSE(L::IsBareFileName(bad)) << bad;
    EXPECT_FALSE(L::IsBareFileName(std::wstring(L"a\0b", 3)));
}

TEST(Script, FileParametersAndErrorText) {
    EXPECT_EQ(L"\"C:\\T\\_hsc_Vellum\\Vellumsetup.jse \"", L::ScriptFileArgument(L"C:\\T\\_hsc_Vellum\\"));
    EXPECT_EQ(L"VellumInstall ", L::ScriptParameters(L""));
    EXPECT_EQ(L"VellumInstall /q", L::ScriptParameters(L"/q"));
    EXPECT_EQ(L"VellumInstall /Q \"x\" ", L::ScriptParameters(L"/Q \"x\" "));
    EXPECT_EQ(L"error executing \"C:\\T\\Vellumsetup.jse \"\r\nerrorcode=31",
              L::ShellErrorText(L"\"C:\\T\\Vellumsetup.jse \"", 31));
    EXPECT_TRUE(L::ShellResultIsFailure(32));
    EXPECT_TRUE(L::ShellResultIsFailure(0));
    EXPECT_FALSE(L::ShellResultIsFailure(33));
    EXPECT_EQ(L"only 7 are written to the file", L::ShortWriteText(7));
}

TEST(WorkingFolder, TempOrTheDriveRoot) {
    EXPECT_EQ(L"C:\\Users\\\u0141ukasz\\Temp\\_hsc_Vellum\\", L::WorkingFolder(L"C:\\Users\\\u0141ukasz\\Temp"));
    EXPECT_EQ(L"\\_hsc_Vellum\\", L::WorkingFolder(L""));
}

TEST(ExitCodes, DistinctAndZeroOnlyForAStartedScript) {
    const int codes[] = {L::kExitScriptStarted, L::kExitLoadFailed, L::kExitFileListMissing,
                         L::kExitScriptNotStarted, L::kExitStopped, L::kExitAlreadyRunning};
    EXPECT_EQ(0, codes[0]);
    for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b) EXPECT_NE(codes[a], codes[b]);
    EXPECT_EQ(1, L::kExitLoadFailed);
    EXPECT_EQ(2, L::kExitFileListMissing);
    EXPECT_EQ(3, L::kExitScriptNotStarted);
    EXPECT_EQ(4, L::kExitStopped);
    EXPECT_EQ(5, L::kExitAlreadyRunning);
}

TEST(RepeatingFailure, TheDiskOrTheFolderRepeatsOneFileDoesNot) {
    using S = L::WriteStep;
    // The disk or the working folder: every further file would fail alike.
    for (DWORD e : std::vector<DWORD>{ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_WRITE_PROTECT, ERROR_NOT_READY,
                                      ERROR_NETNAME_DELETED, ERROR_IO_DEVICE, 1295})
        for (S step : {S::Create, S::Write, S::Close})
            EXPECT_TRUE(L::FailureRepeats({step, e, true, true})) << e;
    EXPECT_TRUE(L::FailureRepeats({S::Create, ERROR_PATH_NOT_FOUND, false, false}));   // the folder is gone
    EXPECT_TRUE(L::FailureRepeats({S::Create, ERROR_ACCESS_DENIED, false, true}));     // folder takes no new file
    EXPECT_TRUE(L::FailureRepeats({S::Write, 0, true, true}));                         // short count, no error
    EXPECT_TRUE(L::FailureRepeats({S::Close, ERROR_INVALID_PARAMETER, true, true}));  // bytes lost on the way
    // This one file: held by another program, a folder or read-only file in
    // its place, a name too long or not valid here.
    EXPECT_FALSE(L::FailureRepeats({S::Create, ERROR_SHARING_VIOLATION, true, true}));
    EXPECT_FALSE(L::FailureRepeats({S::Write, ERROR_LOCK_VIOLATION, true, true}));
    EXPECT_FALSE(L::FailureRepeats({S::Create, ERROR_ACCESS_DENIED, true, true}));
    EXPECT_FALSE(L::FailureRepeats({S::Create, ERROR_FILENAME_EXCED_RANGE, false, true}));
    EXPECT_FALSE(L::FailureRepeats({S::Create, ERROR_INVALID_NAME, false, true}));
    EXPECT_FALSE(L::FailureRepeats({S::Create, ERROR_PATH_NOT_FOUND, false, true}));
}

TEST(FailureBoxes, NameTheScriptAndTheReason) {
    EXPECT_TRUE(L::IsScriptName(L"VellumSetup.jse"));
    EXPECT_TRUE(L::IsScriptName(L"vellumsetup.JSE"));
    EXPECT_FALSE(L::IsScriptName(L"VellumSetup.jse.bak"));
    EXPECT_FALSE(L::IsScriptName(L"VellumSetup.exe"));
    EXPECT_EQ(L"There is not enough space on the disk. (error 112)",
              L::ErrorReason(L"There is not enough space on the disk.", 112));
    EXPECT_EQ(L"Couldn't open file for writing.\r\n\r\nC:\\T\\a.txt\r\n\r\nwhy (error 5)",
              L::FailureText(L"Couldn't open file for writing.", L"C:\\T\\a.txt", L"why (error 5)"));
    EXPECT_EQ(L"only 0 are written to the file\r\n\r\nC:\\T\\a.txt",
              L::FailureText(L::ShortWriteText(0), L"C:\\T\\a.txt", L""));
}

// ---- System services against the real registry and this program's resources.

namespace {
const wchar_t kTestKey[] = L"Software\\VellumLauncherTest";

struct Message {
    std::wstring text;
    UINT icon;
    bool operator==(const Message& o) const { return text == o.text && icon == o.icon; }
};

struct Recorder {
    std::vector<Message> messages;
    L::Reporter reporter() {
        return [this](const std::wstring& t, UINT icon) { messages.push_back({t, icon}); };
    }
};

std::wstring TempDir() {
    wchar_t buf[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, buf);
    std::wstring dir(buf, n);
    dir += L"vellum_launcher_test_\u0141\u00f3d\u017a\\";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    EXPECT_TRUE(L::ReadWholeFile(path, &bytes));
    return bytes;
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
    vellum::UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(static_cast<bool>(f));
    DWORD w;
    ::WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &w, nullptr);
}

std::string ResourceBytes(int id) {
    HRSRC r = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!r) return std::string();
    HGLOBAL g = ::LoadResource(nullptr, r);
    return std::string(static_cast<const char*>(::LockResource(g)), ::SizeofResource(nullptr, r));
}
}  // namespace

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { ::RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey); }
    void Set(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        vellum::UniqueHKey k;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, k.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(k.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
};

TEST_F(RegistryTest, ReadsStringsAndNumbersAndNothingElse) {
    EXPECT_EQ(L"", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"localeId"));  // no key
    Set(L"withNul", REG_SZ, L"en-gb", 12);
    // Without a terminator: the system adds one the count left out when it
    // follows in memory, so something else must follow.
    Set(L"noNul", REG_SZ, L"fr-ca!", 10);
    Set(L"wide", REG_SZ, L"\u0142\u00f3-pl", 12);
    Set(L"expand", REG_EXPAND_SZ, L"de-de", 12);
    Set(L"empty", REG_SZ, L"", 0);
    DWORD n = 1031;
    Set(L"number", REG_DWORD, &n, 4);
    // The limit is 1024 characters with the terminator, whatever a character's size.
    std::wstring big(1024, L'x');  // 1025 characters with the terminator: too large
    Set(L"big", REG_SZ, big.c_str(), static_cast<DWORD>((big.size() + 1) * 2));
    std::wstring fits(1023, L'y');  // 1024 characters with the terminator: fits exactly
    Set(L"fits", REG_SZ, fits.c_str(), static_cast<DWORD>((fits.size() + 1) * 2));
    std::wstring mid(600, L'm');  // read as empty while the buffer held only 511 wide characters
    Set(L"mid", REG_SZ, mid.c_str(), static_cast<DWORD>((mid.size() + 1) * 2));
    // Stored without a terminator, it fills the buffer exactly.
    std::wstring full(1024, L'z');
    std::wstring fullAndMore = full + L"!";
    Set(L"full", REG_SZ, fullAndMore.c_str(), static_cast<DWORD>(full.size() * 2));

    EXPECT_EQ(L"en-gb", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"withNul"));
    EXPECT_EQ(L"fr-ca", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"noNul"));
    EXPECT_EQ(L"\u0142\u00f3-pl", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"wide"));
    EXPECT_EQ(L"", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"expand"));
    EXPECT_EQ(L"", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"empty"));
    EXPECT_EQ(L"1031", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"number"));
    EXPECT_EQ(L"", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"big"));
    EXPECT_EQ(fits, L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"fits"));
    EXPECT_EQ(mid, L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"mid"));
    EXPECT_EQ(full, L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"full"));
    EXPECT_EQ(L"", L::ReadRegistryValue(HKEY_CURRENT_USER, kTestKey, L"missing"));
}

TEST(ExtractResource, WritesTheBytesAndReportsEachFailure) {
    const std::wstring dir = TempDir();
    const std::string payload = ResourceBytes(201);
    ASSERT_EQ(300u, payload.size());

    // a longer old file is replaced completely
    const std::wstring target = dir + L"payload file.bin";
    WriteAll(target, std::string(5000, 'z'));
    Recorder r;
    L::ExtractResource(nullptr, 201, target, r.reporter());
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(payload, ReadAll(target));

    // a zero-byte resource gives an empty file and no message
    L::ExtractResource(nullptr, 202, dir + L"empty.bin", r.reporter());
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(std::string(), ReadAll(dir + L"empty.bin"));

    // no such resource: two messages, no file
    L::ExtractResource(nullptr, 477, dir + L"missing.bin", r.reporter());
    EXPECT_EQ((std::vector<Message>{{L"hres is 0", MB_ICONEXCLAMATION},
                                    {L"Could not load resource.", MB_ICONEXCLAMATION}}),
              r.messages);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((dir + L"missing.bin").c_str()));
    r.messages.clear();

    // this one target cannot be created: a folder in its place, a file held
    // open without sharing; each is reported with its reason and the call
    // asks for no stop
    ::CreateDirectoryW((dir + L"taken").c_str(), nullptr);
    L::ExtractOutcome taken = L::ExtractResource(nullptr, 201, dir + L"taken", r.reporter());
    EXPECT_FALSE(taken.written || taken.stop);
    {
        vellum::UniqueFile held(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(static_cast<bool>(held));
        L::ExtractOutcome h = L::ExtractResource(nullptr, 201, target, r.reporter());
        EXPECT_FALSE(h.written || h.stop);
    }
    ASSERT_EQ(2u, r.messages.size());
    for (const Message& m : r.messages) {
        EXPECT_EQ(0u, m.text.find(L"Couldn't open file for writing.\r\n\r\n" + dir)) << m.text;
        EXPECT_NE(std::wstring::npos, m.text.find(L"(error ")) << m.text;
        EXPECT_EQ(static_cast<UINT>(MB_ICONSTOP), m.icon);
    }
    EXPECT_NE(std::wstring::npos, r.messages[1].text.find(L"(error 32)"));  // sharing violation
    EXPECT_EQ(payload, ReadAll(target));
    r.messages.clear();

    // a missing folder fails for every file: handed back for one message
    L::ExtractOutcome gone = L::ExtractResource(nullptr, 201, dir + L"no such folder\\x.bin", r.reporter());
    EXPECT_TRUE(gone.stop);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(0u, gone.message.find(L"Couldn't open file for writing."));

    // an essential file (list, script) hands back even a failure of its own
    {
        vellum::UniqueFile held(::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        L::ExtractOutcome h = L::ExtractResource(nullptr, 201, target, r.reporter(), true);
        EXPECT_TRUE(h.stop);
        EXPECT_NE(std::wstring::npos, h.message.find(L"(error 32)"));
    }
    L::ExtractOutcome none = L::ExtractResource(nullptr, 477, dir + L"none.bin", r.reporter(), true);
    EXPECT_TRUE(none.stop);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((dir + L"none.bin").c_str()));
    EXPECT_TRUE(L::ExtractResource(nullptr, 201, target, r.reporter(), true).written);
}

TEST(ScriptLock, HeldOnlyWhileAnotherHandleHasItWithoutSharing) {
    const std::wstring lock = TempDir() + L"VellumSetup.lock";
    ::DeleteFileW(lock.c_str());
    EXPECT_FALSE(L::ScriptLockHeld(lock));  // no file
    WriteAll(lock, "");
    EXPECT_FALSE(L::ScriptLockHeld(lock));  // left by an ended run
    {
        vellum::UniqueFile held(::CreateFileW(lock.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(static_cast<bool>(held));
        EXPECT_TRUE(L::ScriptLockHeld(lock));
    }
    EXPECT_FALSE(L::ScriptLockHeld(lock));
    ::DeleteFileW(lock.c_str());
}

TEST(FileServices, ExistenceAndEnvironment) {
    const std::wstring dir = TempDir();
    EXPECT_TRUE(L::FolderExists(dir));
    EXPECT_FALSE(L::FileExists(dir));
    WriteAll(dir + L"f.txt", "x");
    EXPECT_TRUE(L::FileExists(dir + L"f.txt"));
    EXPECT_FALSE(L::FolderExists(dir + L"f.txt"));
    ::SetEnvironmentVariableW(L"VELLUM_TEST_VAR", L"\u0141ukasz \u4e2d\u6587");
    EXPECT_EQ(L"\u0141ukasz \u4e2d\u6587", L::EnvironmentValue(L"vellum_test_var"));
    ::SetEnvironmentVariableW(L"VELLUM_TEST_VAR", nullptr);
    EXPECT_EQ(L"", L::EnvironmentValue(L"VELLUM_TEST_VAR"));
    EXPECT_NE(std::wstring::npos, L::SystemErrorText(ERROR_ACCESS_DENIED).find(L"ccess"));
}
