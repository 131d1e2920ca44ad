// The wizard's decisions without a window: which page a press of Next or
// Back leads to, what each page entry changes on screen, what the option
// buttons, Cancel and a close request do, which texts go where, and how the
// license file is decoded. The window (frmSetup.cpp) only carries out the
// effects these functions return, in their order.
#pragma once
#include <string>
#include <vector>

namespace vellum {
namespace wizard {

// The controls and areas an effect can address.
enum class Ctl {
    Window,
    Frame1,
    Frame2,
    BackButton,
    nextButton,
    CancelButton,
    txtLicense,
    optAgree,
    optDisagree,
    InstallCaption,
    chkLaunch,
    lblTitle,
    lblDesc,
    topTitle,
    topDesc,
};

// One catalogue text: key and compiled-in fallback.
struct TextRef {
    const wchar_t* key;
    const wchar_t* fallback;
};

// A caption built from looked-up texts: prefix, the texts joined with
// CR LF CR LF (one paragraph each), suffix.
struct CaptionSpec {
    std::wstring prefix;
    std::vector<TextRef> paragraphs;
    std::wstring suffix;
};

extern const wchar_t kParagraphBreak[];  // L"\r\n\r\n"

struct Effect {
    enum Kind {
        Show,
        Hide,
        Enable,
        Disable,
        Focus,
        Select,              // selects an option button (clears the other one)
        SetCaption,          // caption from the catalogue (see caption)
        SetProceedInstall,   // proceedInstall = True
        SetInstallFinished,  // installFinished = True
        HideWindow,
    };
    Kind kind;
    Ctl control;
    CaptionSpec caption;
};
using Effects = std::vector<Effect>;

// What the handlers need to know of the window.
struct WizardInputs {
    short currentStep = 0;
    bool optAgreeSelected = false;
    bool optAgreeVisible = false;
};

struct StepResult {
    short currentStep = 0;
    Effects effects;
};

// nextButton_Click: add 1 to the counter and enter the page of the new value.
StepResult NextClick(const WizardInputs& in);
// BackButton_Click: subtract 2, then the Next handler.
StepResult BackClick(const WizardInputs& in);
// optAgree_Click / optDisagree_Click.
Effects OptAgreeClick();
Effects OptDisagreeClick(bool optAgreeVisible);

// What Cancel does once the exit question has been answered.
Effects CancelAnswered(bool confirmed);

// Reasons of a close request, numbered as the window framework numbers them.
enum class CloseReason : int {
    ControlMenu = 0,      // close box, system menu, Alt+F4
    Code = 1,             // unload by program
    WindowsShutdown = 2,  // the session is ending
    TaskManager = 3,
};

// Form_QueryUnload. When askExitQuestion is set the window runs confirmExit
// and, on True, applies onConfirmed; then it applies effects and refuses or
// lets the unload proceed as refuseUnload says.
struct CloseDecision {
    bool askExitQuestion = false;
    Effects onConfirmed;
    Effects effects;
    bool refuseUnload = true;
};
CloseDecision QueryUnload(CloseReason reason, bool proceedInstall, bool installFinished);

// confirmExit: the message, its title and style, and the reading of the answer.
struct ExitQuestion {
    CaptionSpec message;
    TextRef title;
    unsigned style;  // MB_YESNO | MB_ICONQUESTION, Yes the default button
};
ExitQuestion ExitQuestionSpec();
bool ConfirmExitResult(int messageBoxAnswer);  // True unless the answer is No (or the box was dismissed)

// loadTexts: the load-time captions, in the order they are set.
struct LoadText {
    Ctl control;
    CaptionSpec caption;
};
std::vector<LoadText> LoadTimeTexts();

// Form_Load's paths. programFolder has no trailing backslash.
struct LoadPaths {
    std::wstring localeID;
    std::wstring uiStringsFileName;
    std::wstring licFile;
};
LoadPaths FormLoadPaths(const std::wstring& programFolder, const std::wstring& localeID);

// The code page a license file of this locale is written in; 0 (the
// system's ANSI code page) for locales outside the shipped ones.
unsigned LicenseCodePage(const std::wstring& localeID);
// Whether the system can convert from a code page (asks the system by default).
using CodePageAvailable = bool (*)(unsigned codePage);
bool SystemHasCodePage(unsigned codePage);
// The code page a license of this locale is decoded with: the locale's own,
// or the system's ANSI code page when the system lacks the locale's (an
// approximate text rather than an empty box).
unsigned LicenseDecodingCodePage(const std::wstring& localeID, CodePageAvailable available = SystemHasCodePage);
// The license bytes as text, neither trimmed nor reflowed. cut says that
// the bytes are only the start of a longer file, so they may end in half of
// a double-byte character, which is then left out.
std::wstring DecodeLicense(const std::string& bytes, const std::wstring& localeID, bool cut = false,
                           CodePageAvailable available = SystemHasCodePage);

// How much of a license file is shown. License files are 3 to 13 KB; a
// multi-line box lays out all its text at once, which for megabytes takes
// long enough to look like a hang, so only the start of a larger file is
// read.
constexpr unsigned long kMaxLicenseBytes = 256ul * 1024;

}  // namespace wizard
}  // namespace vellum
