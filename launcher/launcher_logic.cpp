#include "launcher_logic.h"

#include <cmath>
#include <cstring>

#include "strings.h"

namespace vellum {
namespace launcher {

const wchar_t kMsgNoResource[] = L"hres is 0";
const wchar_t kMsgCouldNotLoad[] = L"Could not load resource.";
const wchar_t kMsgCannotOpen[] = L"Couldn't open file for writing.";
const wchar_t kMsgErrorLoadingList[] = L"Error loading listfile";

const wchar_t kLocaleKeyPath1[] = L"SOFTWARE\\Ostrander\\ZephD\\HardwareDescription";
const wchar_t kLocaleValue1[] = L"localeId";
const wchar_t kLocaleKeyPath2[] = L"SOFTWARE\\Ostrander\\ZephOOBE";
const wchar_t kLocaleValue2[] = L"Lang_Country";

std::wstring ArgumentText(const std::wstring& commandLine) {
    size_t i = 0;
    const size_t n = commandLine.size();
    while (i < n && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
    if (i < n && commandLine[i] == L'"') {
        ++i;
        while (i < n && commandLine[i] != L'"') ++i;
        if (i < n) ++i;  // the closing quote
    }
    // The program path runs on to the first blank (a quoted part may be
    // followed by more characters of the same token).
    while (i < n && commandLine[i] != L' ' && commandLine[i] != L'\t') ++i;
    while (i < n && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
    return commandLine.substr(i);
}

bool HasQuietSwitch(const std::wstring& argumentText) {
    const std::wstring lower = ToLowerInvariant(argumentText);
    for (const wchar_t* s : {L"-q", L"-s", L"/s", L"/q"})
        if (lower.find(s) != std::wstring::npos) return true;
    return false;
}

std::vector<std::wstring> SplitArguments(const std::wstring& text) {
    std::vector<std::wstring> args;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && (text[i] == L' ' || text[i] == L'\t')) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n && (quoted || (text[i] != L' ' && text[i] != L'\t'))) {
            if (text[i] == L'\\') {
                size_t slashes = 0;
                while (i < n && text[i] == L'\\') ++slashes, ++i;
                if (i < n && text[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2) arg += text[i++];  // an escaped quote
                } else {
                    arg.append(slashes, L'\\');
                }
                continue;
            }
            if (text[i] == L'"') {
                // Two quotes inside a quoted part stand for one.
                if (quoted && i + 1 < n && text[i + 1] == L'"') {
                    arg += L'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += text[i++];
        }
        args.push_back(arg);
    }
    return args;
}

bool HasWaitSwitch(const std::wstring& argumentText) {
    for (const std::wstring& arg : SplitArguments(argumentText)) {
        const std::wstring lower = ToLowerInvariant(arg);
        if (lower == L"/wait" || lower == L"-wait") return true;
    }
    return false;
}

int ExitCodeUnderWait(int launcherCode, bool scriptResultKnown, DWORD scriptExitCode) {
    if (launcherCode != kExitScriptStarted) return kWaitFailureOffset + launcherCode;
    if (!scriptResultKnown) return kExitResultUnknown;
    return static_cast<int>(scriptExitCode);
}

StartedProgram ProgramOfImage(const std::wstring& imagePath) {
    if (imagePath.empty()) return StartedProgram::Unknown;
    const size_t cut = imagePath.find_last_of(L"\\/");
    const std::wstring name = ToLowerInvariant(cut == std::wstring::npos ? imagePath : imagePath.substr(cut + 1));
    return name == L"wscript.exe" || name == L"cscript.exe" ? StartedProgram::ScriptHost : StartedProgram::Other;
}

StartVerdict JudgeScriptStart(bool lockTaken, StartedProgram program, bool ended, DWORD exitCode) {
    if (lockTaken) return StartVerdict::Started;
    // An editor, a viewer or an unknown program never runs the script,
    // whatever it ends with.
    if (program != StartedProgram::ScriptHost) return StartVerdict::NotStarted;
    if (!ended) return StartVerdict::Started;
    // The script takes its lock before anything it could end with 0 for:
    // the host ran something else, or ran nothing (scripts switched off).
    return exitCode == 0 ? StartVerdict::NotStarted : StartVerdict::EndedEarly;
}

std::wstring NotStartedText(const std::wstring& scriptPath, const std::wstring& program) {
    return L"The installation could not be started: " +
           (program.empty() ? std::wstring(L"the program that opens .jse files on this computer")
                            : L"the program that opens .jse files on this computer (" + program + L")") +
           L" did not run the installation script " + scriptPath +
           L".\r\n\r\nNothing was installed. Have .jse files opened by Windows Script Host (wscript.exe), or "
           L"ask your administrator.";
}

std::wstring NormalizeSource2(const std::wstring& value) {
    std::wstring out = ToLowerInvariant(value);
    for (wchar_t& c : out)
        if (c == L'_') c = L'-';
    return out;
}

std::wstring ChooseLocale(const std::wstring& source1, const std::wstring& source2) {
    if (!source1.empty()) return source1;
    std::wstring second = NormalizeSource2(source2);
    if (!second.empty()) return second;
    return L"en-us";
}

std::wstring RegistryDataToText(DWORD type, const unsigned char* buffer, size_t bufferBytes, DWORD dataSize) {
    if (dataSize > bufferBytes) return std::wstring();  // cannot happen after a successful query
    if (type == REG_DWORD) {
        if (dataSize != sizeof(DWORD)) return std::wstring();
        DWORD v;
        std::memcpy(&v, buffer, sizeof v);
        return Format(L"%lu", static_cast<unsigned long>(v));
    }
    if (type != REG_SZ || dataSize == 0) return std::wstring();
    // The size is taken as a count of characters (an odd trailing byte still
    // occupies a character); the buffer was NUL-filled before the query.
    const size_t capacity = bufferBytes / sizeof(wchar_t);
    size_t chars = (dataSize + sizeof(wchar_t) - 1) / sizeof(wchar_t);
    if (chars > capacity) chars = capacity;
    std::wstring text(chars, L'\0');
    std::memcpy(&text[0], buffer, dataSize < chars * sizeof(wchar_t) ? dataSize : chars * sizeof(wchar_t));
    if (text[chars - 1] == L'\0') text.resize(chars - 1);
    return text;
}

std::wstring WorkingFolder(const std::wstring& tempValue) { return tempValue + L"\\_hsc_Vellum\\"; }

std::wstring CatalogueName(const std::wstring& locale) { return L"InstallerUIText_" + locale + L".xml"; }

std::vector<std::wstring> SplitListLines(const std::string& bytes, unsigned codePage) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        size_t stop = end;
        if (lf != std::string::npos && stop > start && bytes[stop - 1] == '\r') --stop;
        lines.push_back(BytesToWide(bytes.substr(start, stop - start), codePage));
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return lines;
}

int CatalogueSearch(const std::vector<std::wstring>& lines, const std::wstring& catalogueName) {
    if (lines.empty()) return 0;
    int counter = kFileListResource;
    for (const std::wstring& line : lines) {
        ++counter;
        if (line == catalogueName) break;
    }
    return counter;
}

int ProgressValue(int i, int n) {
    if (n <= 0) return 0;
    const double v = static_cast<double>(i) / static_cast<double>(n) * 100.0;
    const double f = std::floor(v);
    const double frac = v - f;
    double r;
    if (frac > 0.5) r = f + 1;
    else if (frac < 0.5) r = f;
    else r = std::fmod(f, 2.0) == 0.0 ? f : f + 1;
    return static_cast<int>(r);
}

bool IsBareFileName(const std::wstring& line) {
    if (line.empty()) return false;
    if (line.find_first_of(L"\\/:") != std::wstring::npos) return false;
    if (line.find_first_not_of(L". ") == std::wstring::npos) return false;
    // A NUL would cut the name short where the system reads it.
    if (line.find(L'\0') != std::wstring::npos) return false;
    return true;
}

std::wstring ScriptFileArgument(const std::wstring& extractDir) {
    return L"\"" + extractDir + L"Vellumsetup.jse " + L"\"";
}

std::wstring ScriptParameters(const std::wstring& argumentText) { return L"VellumInstall " + argumentText; }

std::wstring ShellErrorText(const std::wstring& fileArgument, long long result) {
    return L"error executing " + fileArgument + L"\r\n" + L"errorcode=" + Format(L"%I64d", result);
}

bool ShellResultIsFailure(long long result) { return result <= 32; }

std::wstring ShortWriteText(unsigned long written) {
    return L"only " + Format(L"%lu", written) + L" are written to the file";
}

const wchar_t kRunMutexName[] = L"VellumInstaller.Run";
const wchar_t kScriptLockName[] = L"VellumSetup.lock";
const wchar_t kMsgAlreadyRunning[] =
    L"Another Quillfeather installation is running.\r\n\r\nWait until it has finished, then start Setup again.";
const wchar_t kMsgStopped[] = L"Setup has stopped: no further file is written and the installation is not started.";
const wchar_t kMsgNotAFile[] = L"It is not a file.";

namespace {
// Not in every SDK's headers for the systems this program targets.
constexpr DWORD kErrorDiskQuotaExceeded = 1295;
}  // namespace

bool FailureRepeats(const WriteFailure& f) {
    // Without its folder no file can be written.
    if (!f.folderExists) return true;
    switch (f.error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_WRITE_PROTECT:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_TOO_MANY_OPEN_FILES:
        return true;
    // Another program holds this one file.
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return false;
    default:
        break;
    }
    if (f.step == WriteStep::Create) {
        // Refused for a name that is not there: the folder takes no new
        // file. A folder or a read-only file in the way concerns this name.
        return f.error == ERROR_ACCESS_DENIED && !f.targetExists;
    }
    // The file was created but its bytes did not all reach the disk: that is
    // the disk's doing and will happen again.
    return true;
}

bool IsScriptName(const std::wstring& line) { return ToLowerInvariant(line) == L"vellumsetup.jse"; }

std::wstring ErrorReason(const std::wstring& description, DWORD error) {
    return description + L" (error " + Format(L"%lu", static_cast<unsigned long>(error)) + L")";
}

std::wstring FailureText(const std::wstring& what, const std::wstring& path, const std::wstring& reason) {
    std::wstring text = what;
    if (!path.empty()) text += L"\r\n\r\n" + path;
    if (!reason.empty()) text += L"\r\n\r\n" + reason;
    return text;
}

}  // namespace launcher
}  // namespace vellum
