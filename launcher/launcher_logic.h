// The launcher's decisions, free of windows and system state, so that a unit
// test can drive every one of them: switches, locale choice, registry text,
// list reading, catalogue search, progress arithmetic, names and messages.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace vellum {
namespace launcher {

// Exit codes of VellumInstaller. A deployment tool reads anything but 0 as
// "the installation was not started".
enum ExitCode : int {
    kExitScriptStarted = 0,      // the script was handed to the shell
    kExitLoadFailed = 1,         // the load step failed (working folder, list not opened or read, window)
    kExitFileListMissing = 2,    // "Error loading listfile": the list vanished after the load step
    kExitScriptNotStarted = 3,   // the script could not be started, or what the shell started never took its lock
    kExitStopped = 4,            // a write failed in a way that makes the rest pointless: stopped, no script
    kExitAlreadyRunning = 5,     // another launcher or installation is running: nothing written
    kExitDamaged = 6,            // the payload does not match its digest: nothing written
};

// Texts shown by the launcher; the system's own words, used exactly.
extern const wchar_t kMsgNoResource[];        // "hres is 0"
extern const wchar_t kMsgCouldNotLoad[];      // "Could not load resource."
extern const wchar_t kMsgCannotOpen[];        // "Couldn't open file for writing."
extern const wchar_t kMsgErrorLoadingList[];  // "Error loading listfile"

extern const wchar_t kLocaleKeyPath1[];
extern const wchar_t kLocaleValue1[];
extern const wchar_t kLocaleKeyPath2[];
extern const wchar_t kLocaleValue2[];
constexpr int kFileListResource = 100;
// The registry read's limit: 1024 characters, terminator included, so values
// of up to 1023 characters are read (1024 without a stored terminator). The
// wide calls need two bytes a character for the same limit.
constexpr DWORD kRegistryBufferChars = 1024;
constexpr DWORD kRegistryBufferBytes = kRegistryBufferChars * sizeof(wchar_t);

// The argument text: the command line without the program's own path (quoted
// or not) and the blanks that separate it; the rest is kept unchanged.
std::wstring ArgumentText(const std::wstring& commandLine);

// True when the lower-cased argument text holds "-q", "-s", "/s" or "/q"
// anywhere, also inside a longer word or path.
bool HasQuietSwitch(const std::wstring& argumentText);

// The arguments of the argument text as a C runtime splits them: blanks and
// tabs separate, double quotes group (a quote preceded by backslashes: each
// pair is one backslash, an odd one makes the quote literal).
std::vector<std::wstring> SplitArguments(const std::wstring& argumentText);

// True when one whole argument is "/wait" or "-wait" in any letter case. A
// switch of its own, unlike the quiet ones: a path or word that merely holds
// it must not keep a deployment tool waiting.
bool HasWaitSwitch(const std::wstring& argumentText);

// Exit codes under /wait: the script's own code passes through unchanged
// (its codes stay below 100), the launcher's own failures move up by 100,
// and a started script whose end cannot be observed gives 110.
constexpr int kWaitFailureOffset = 100;
constexpr int kExitResultUnknown = 110;

// The exit code under /wait for a run whose own code was launcherCode: the
// script's exit code when the script was started and its end observed.
int ExitCodeUnderWait(int launcherCode, bool scriptResultKnown, DWORD scriptExitCode);

// Source 2 of the locale: lower-cased, every "_" made "-".
std::wstring NormalizeSource2(const std::wstring& value);
// Source 1 unchanged if not empty, else normalized source 2, else "en-us".
std::wstring ChooseLocale(const std::wstring& source1, const std::wstring& source2);

// The text a registry value gives, from the buffer the query filled
// (bufferBytes long, NUL-filled beforehand) and the data size it returned.
// REG_SZ: the data size counted in characters, one trailing NUL dropped;
// zero bytes give the empty text. REG_DWORD: the number in decimal, unsigned
// (e.g. 1033 gives "1033"). Every other type gives the empty text.
std::wstring RegistryDataToText(DWORD type, const unsigned char* buffer, size_t bufferBytes, DWORD dataSize);

// The working folder for a value of "temp": value + "\_hsc_Vellum\". With an
// unset or empty value that is "\_hsc_Vellum\", the root of the current drive.
std::wstring WorkingFolder(const std::wstring& tempValue);

std::wstring CatalogueName(const std::wstring& locale);

// Lines of the file list as a text stream reads them: single-byte text in the
// given code page, each line ended by CR LF (a bare LF also ends a line and
// a CR before it is dropped); text after the last line end is a last line.
std::vector<std::wstring> SplitListLines(const std::string& bytes, unsigned codePage);

// The catalogue search: 100 + the position of the first line equal to the
// catalogue's name (exact, case-sensitive). Without such a line the counter
// runs through the whole list and names the last line's resource. 0 for an
// empty list (nothing to write).
int CatalogueSearch(const std::vector<std::wstring>& lines, const std::wstring& catalogueName);

// The progress bar value before file i of n (1-based): (i / n) * 100 in
// double precision, rounded to the nearest integer, halves to even.
int ProgressValue(int i, int n);

// A list line may only name a file directly inside the working folder: not
// empty, no "\", "/" or ":", and not made of dots and blanks alone (".",
// "..", "..." resolve to the folder itself or its parent).
bool IsBareFileName(const std::wstring& line);

// The script start: the quoted file argument and the parameters.
std::wstring ScriptFileArgument(const std::wstring& extractDir);
std::wstring ScriptParameters(const std::wstring& argumentText);
std::wstring ShellErrorText(const std::wstring& fileArgument, long long result);
bool ShellResultIsFailure(long long result);
std::wstring ShortWriteText(unsigned long written);

// The name under which the one-run-at-a-time mutex is created (session namespace).
extern const wchar_t kRunMutexName[];
// The file the running installation script holds open without sharing.
extern const wchar_t kScriptLockName[];
// How long the launcher waits, after starting the script, for it to take its lock.
constexpr unsigned long kLockWaitMs = 15000;

// What the shell started for the script, as far as its file name tells.
enum class StartedProgram { ScriptHost, Other, Unknown };

// The system's script host (wscript.exe, cscript.exe, any letter case) by
// the last part of its image path, in any path form; empty: Unknown.
StartedProgram ProgramOfImage(const std::wstring& imagePath);

// Whether the installation began, from what the launcher saw after starting
// the script: the script's lock taken (held, or created since the start),
// what was started, and whether it has ended and with which code.
enum class StartVerdict {
    Started,     // the lock was taken, or the script host is still at work on the script
    EndedEarly,  // the script host ended with a code of its own before the lock: the
                 // script refused (and said why); that code is the result
    NotStarted,  // another program opened the script, or the script host ended
                 // with 0 without taking the lock: nothing was installed
};
StartVerdict JudgeScriptStart(bool lockTaken, StartedProgram program, bool ended, DWORD exitCode);

// The box of a start that did not begin the installation; program is the
// started program's path, empty when the shell did not say.
std::wstring NotStartedText(const std::wstring& scriptPath, const std::wstring& program);

// Where a write of one payload file failed.
enum class WriteStep { Create, Write, Close };

// What is known about one failed write of a payload file.
struct WriteFailure {
    WriteStep step;
    DWORD error;          // GetLastError() of the failing call; 0 for a short count without an error
    bool targetExists;    // something of that name is there (a folder, a file held or read-only)
    bool folderExists;    // the working folder is still there
};

// True when the failure will come back for every further file (the disk or
// the working folder is the cause, not this one file), so that going on
// would only repeat the same message.
bool FailureRepeats(const WriteFailure& failure);

// True for the list line that names the installation script, in any letter
// case: the file system takes "Vellumsetup.jse" for it too.
bool IsScriptName(const std::wstring& line);

// The system's description of an error followed by its number, as failure
// boxes name a reason: "There is not enough space on the disk. (error 112)".
std::wstring ErrorReason(const std::wstring& description, DWORD error);

// Paragraphs of a failure box: what failed, the path, and the reason.
std::wstring FailureText(const std::wstring& what, const std::wstring& path, const std::wstring& reason);

// The text of a refusal because another installation runs, and of the
// closing paragraph when the run stops early.
extern const wchar_t kMsgAlreadyRunning[];
extern const wchar_t kMsgStopped[];
extern const wchar_t kMsgNotAFile[];

}  // namespace launcher
}  // namespace vellum
