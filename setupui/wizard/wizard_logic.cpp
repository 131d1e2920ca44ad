#include "wizard_logic.h"

#include <windows.h>

#include "strings.h"

namespace vellum {
namespace wizard {

const wchar_t kParagraphBreak[] = L"\r\n\r\n";

namespace {

// Every text of the wizard: key and compiled-in fallback. Two fallbacks
// (Next prompt, review text) differ in punctuation from the English
// catalogue on purpose; they are shown as they stand when no catalogue text
// is found.
const TextRef kTitle = {L"loc_UI_Title", L"Quillfeather Installation"};
const TextRef kBack = {L"loc_UI_BackButton", L"Back"};
const TextRef kCancel = {L"loc_UI_CancelButton", L"Cancel"};
const TextRef kLaunch = {L"loc_UI_Launch_box", L"Launch Help and Support"};
const TextRef kAgree = {L"loc_UI_Option_Agree", L"I accept the terms in the license agreement"};
const TextRef kDisagree = {L"loc_UI_Option_DisAgree", L"I do not accept the terms in the license agreement"};
const TextRef kReview = {L"loc_UI_Review_Install",
                         L"Click Install to continue with the installation. or click Back if you want to "
                         L"review the license agreement again."};
const TextRef kWelcome = {L"loc_UI_welcomeText", L"Welcome to Quillfeather Installation"};
const TextRef kInstallPrompt = {L"loc_UI_Install_prompt", L"This will install Quillfeather on your computer."};
const TextRef kCloseAll = {L"loc_UI_CloseAllProgs_prompt",
                           L"It is recommended that you close all other applications before continuing."};
const TextRef kNextPrompt = {L"loc_UI_Next_prompt", L"Click Next to continue, or Cancel to exit the installation."};
const TextRef kNext = {L"loc_UI_NextButton", L"Next"};
const TextRef kLicenseTitle = {L"loc_UI_License_Title", L"License Agreement"};
const TextRef kLicenseDesc = {L"loc_UI_License_Desc", L"Please read the following license agreement carefully."};
const TextRef kInstall = {L"loc_UI_InstallButton", L"Install"};
const TextRef kReadyTitle = {L"loc_UI_Ready_Title", L"Ready to Install"};
const TextRef kReadyDesc = {L"loc_UI_Ready_Desc",
                            L"Now it is ready to begin installing Quillfeather on your computer."};
const TextRef kFinish = {L"loc_UI_Finish_Button", L"Finish"};
const TextRef kFinishTitle = {L"loc_UI_Finish_Title", L"Completing Quillfeather Installation"};
const TextRef kFinishDesc = {L"loc_UI_Finish_Desc",
                             L"Quillfeather installation is complete now. The application may be launched by "
                             L"clicking on the 'Help and Support' icon from the Start menu."};
const TextRef kFinishPrompt = {L"loc_UI_Finish_Prompt", L"Click Finish to exit the installation"};
const TextRef kExit1 = {L"loc_UI_Exit_prompt1",
                        L"The installation is not complete. If you exit now, the program will not be installed."};
const TextRef kExit2 = {L"loc_UI_Exit_prompt2",
                        L"You may run this program again another time to complete the installation."};
const TextRef kExit3 = {L"loc_UI_Exit_prompt3", L"Exit Installation?"};
const TextRef kExitTitle = {L"loc_UI_Exit_Title", L"Exit Installation"};

Effect Do(Effect::Kind kind, Ctl control = Ctl::Window) { return Effect{kind, control, {}}; }

Effect Caption(Ctl control, std::vector<TextRef> paragraphs, const wchar_t* prefix = L"",
               const wchar_t* suffix = L"") {
    return Effect{Effect::SetCaption, control, CaptionSpec{prefix, std::move(paragraphs), suffix}};
}

void Append(Effects& to, const Effects& more) { to.insert(to.end(), more.begin(), more.end()); }

// Entering the license page always ends with "I do not accept" selected and
// Next disabled, also when the user had accepted before going on and coming
// back: the choice is selected explicitly and its click handler runs.
Effects EnterLicensePage(bool optAgreeSelected) {
    Effects e;
    e.push_back(Do(Effect::Show, Ctl::Frame2));
    e.push_back(Do(Effect::Hide, Ctl::Frame1));
    e.push_back(Do(optAgreeSelected ? Effect::Enable : Effect::Disable, Ctl::nextButton));
    e.push_back(Do(Effect::Show, Ctl::BackButton));
    e.push_back(Do(Effect::Show, Ctl::txtLicense));
    e.push_back(Do(Effect::Show, Ctl::optAgree));
    e.push_back(Do(Effect::Show, Ctl::optDisagree));
    e.push_back(Do(Effect::Focus, Ctl::optDisagree));
    e.push_back(Do(Effect::Select, Ctl::optDisagree));
    Append(e, OptDisagreeClick(/*optAgreeVisible=*/true));
    e.push_back(Caption(Ctl::nextButton, {kNext}, L"", L" >"));
    e.push_back(Caption(Ctl::topTitle, {kLicenseTitle}));
    e.push_back(Caption(Ctl::topDesc, {kLicenseDesc}));
    return e;
}

Effects EnterPage(short step, const WizardInputs& in) {
    Effects e;
    switch (step) {
    case 0:  // welcome
        e.push_back(Do(Effect::Show, Ctl::Frame1));
        e.push_back(Do(Effect::Hide, Ctl::Frame2));
        e.push_back(Do(Effect::Hide, Ctl::BackButton));
        e.push_back(Do(Effect::Enable, Ctl::nextButton));
        e.push_back(Do(Effect::Focus, Ctl::nextButton));
        e.push_back(Caption(Ctl::lblTitle, {kWelcome}));
        e.push_back(Caption(Ctl::lblDesc, {kInstallPrompt, kCloseAll, kNextPrompt}));
        e.push_back(Caption(Ctl::nextButton, {kNext}, L"", L" >"));
        break;
    case 1:
        return EnterLicensePage(in.optAgreeSelected);
    case 2:  // ready
        e.push_back(Do(Effect::Hide, Ctl::txtLicense));
        e.push_back(Do(Effect::Hide, Ctl::optAgree));
        e.push_back(Do(Effect::Hide, Ctl::optDisagree));
        e.push_back(Caption(Ctl::nextButton, {kInstall}));
        e.push_back(Do(Effect::Enable, Ctl::nextButton));
        e.push_back(Caption(Ctl::topTitle, {kReadyTitle}));
        e.push_back(Caption(Ctl::topDesc, {kReadyDesc}));
        break;
    case 3:  // installing: the ready page stays, every button disabled
        e.push_back(Do(Effect::SetProceedInstall));
        e.push_back(Do(Effect::Disable, Ctl::BackButton));
        e.push_back(Do(Effect::Disable, Ctl::nextButton));
        e.push_back(Do(Effect::Disable, Ctl::CancelButton));
        break;
    case 4:  // finish
        e.push_back(Do(Effect::Show, Ctl::Frame1));
        e.push_back(Do(Effect::Hide, Ctl::Frame2));
        e.push_back(Do(Effect::Show, Ctl::chkLaunch));
        e.push_back(Do(Effect::Enable, Ctl::nextButton));
        e.push_back(Caption(Ctl::nextButton, {kFinish}));
        e.push_back(Do(Effect::Hide, Ctl::BackButton));
        e.push_back(Do(Effect::Hide, Ctl::CancelButton));
        e.push_back(Caption(Ctl::lblTitle, {kFinishTitle}));
        e.push_back(Caption(Ctl::lblDesc, {kFinishDesc, kFinishPrompt}));
        e.push_back(Do(Effect::SetInstallFinished));
        break;
    case 5:  // Finish pressed: hidden, still loaded, chkLaunch kept
        e.push_back(Do(Effect::HideWindow));
        break;
    default:
        break;
    }
    return e;
}

}  // namespace

StepResult NextClick(const WizardInputs& in) {
    StepResult r;
    // 16-bit counter as the public member holds it; it wraps rather than
    // faulting, and every value outside 0..5 does nothing.
    r.currentStep = static_cast<short>(in.currentStep + 1);
    r.effects = EnterPage(r.currentStep, in);
    return r;
}

StepResult BackClick(const WizardInputs& in) {
    WizardInputs back = in;
    back.currentStep = static_cast<short>(in.currentStep - 2);
    return NextClick(back);
}

Effects OptAgreeClick() { return {Do(Effect::Enable, Ctl::nextButton)}; }

Effects OptDisagreeClick(bool optAgreeVisible) {
    if (!optAgreeVisible) return {};
    return {Do(Effect::Disable, Ctl::nextButton)};
}

Effects CancelAnswered(bool confirmed) {
    if (!confirmed) return {};
    return {Do(Effect::SetInstallFinished), Do(Effect::HideWindow)};
}

CloseDecision QueryUnload(CloseReason reason, bool proceedInstall, bool installFinished) {
    CloseDecision d;
    if (!installFinished) {
        d.askExitQuestion = !proceedInstall;
        d.onConfirmed = CancelAnswered(true);
        d.refuseUnload = true;
    } else if (reason == CloseReason::ControlMenu) {
        d.effects = {Do(Effect::HideWindow)};
        d.refuseUnload = true;
    } else {
        d.refuseUnload = false;
    }
    return d;
}

ExitQuestion ExitQuestionSpec() {
    return ExitQuestion{CaptionSpec{L"", {kExit1, kExit2, kExit3}, L""}, kExitTitle,
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1};
}

// A Yes/No box has no Cancel button, yet Wine lets Esc, Alt+F4 and the close
// box end it with IDCANCEL: the user turned the question away, which must
// not leave the installation.
bool ConfirmExitResult(int messageBoxAnswer) { return messageBoxAnswer != IDNO && messageBoxAnswer != IDCANCEL; }

std::vector<LoadText> LoadTimeTexts() {
    return {
        {Ctl::Window, CaptionSpec{L"", {kTitle}, L""}},
        {Ctl::BackButton, CaptionSpec{L"< ", {kBack}, L""}},
        {Ctl::CancelButton, CaptionSpec{L"", {kCancel}, L""}},
        {Ctl::chkLaunch, CaptionSpec{L"", {kLaunch}, L""}},
        {Ctl::optAgree, CaptionSpec{L"", {kAgree}, L""}},
        {Ctl::optDisagree, CaptionSpec{L"", {kDisagree}, L""}},
        {Ctl::InstallCaption, CaptionSpec{L"", {kReview}, L""}},
    };
}

LoadPaths FormLoadPaths(const std::wstring& programFolder, const std::wstring& localeID) {
    LoadPaths p;
    p.localeID = localeID.empty() ? L"en-us" : localeID;
    p.uiStringsFileName = programFolder + L"\\InstallerUIText_" + p.localeID + L".xml";
    p.licFile = programFolder + L"\\EULA_" + p.localeID + L".txt";
    return p;
}

unsigned LicenseCodePage(const std::wstring& localeID) {
    static const struct {
        const wchar_t* locale;
        unsigned codePage;
    } kPages[] = {
        {L"da-dk", 1252}, {L"de-de", 1252}, {L"en-au", 1252}, {L"en-gb", 1252}, {L"en-us", 1252},
        {L"es-es", 1252}, {L"es-mx", 1252}, {L"fi-fi", 1252}, {L"fr-ca", 1252}, {L"fr-fr", 1252},
        {L"it-it", 1252}, {L"nb-no", 1252}, {L"nl-nl", 1252}, {L"pt-pt", 1252}, {L"sv-se", 1252},
        {L"ko-kr", 949},  {L"zh-cn", 936},  {L"zh-hk", 950},  {L"zh-tw", 950},
    };
    // File names are case-blind on Windows, so the locale's case does not
    // change which file is read nor how it is decoded.
    const std::wstring locale = ToLowerInvariant(localeID);
    for (const auto& p : kPages)
        if (locale == p.locale) return p.codePage;
    return CP_ACP;
}

bool SystemHasCodePage(unsigned codePage) {
    CPINFO info;
    return ::GetCPInfo(codePage, &info) != FALSE;
}

unsigned LicenseDecodingCodePage(const std::wstring& localeID, CodePageAvailable available) {
    const unsigned codePage = LicenseCodePage(localeID);
    const CodePageAvailable check = available ? available : SystemHasCodePage;
    return codePage == CP_ACP || check(codePage) ? codePage : CP_ACP;
}

std::wstring DecodeLicense(const std::string& bytes, const std::wstring& localeID, bool cut,
                           CodePageAvailable available) {
    const unsigned codePage = LicenseDecodingCodePage(localeID, available);
    if (!cut) return BytesToWide(bytes, codePage);
    // Only the start of the file: end at the last whole character.
    size_t end = 0;
    for (size_t i = 0; i < bytes.size();) {
        size_t width = ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) ? 2 : 1;
        if (i + width > bytes.size()) break;
        i += width;
        end = i;
    }
    return BytesToWide(bytes.substr(0, end), codePage);
}

}  // namespace wizard
}  // namespace vellum
