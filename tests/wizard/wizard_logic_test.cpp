// The wizard's decisions without a window: a small model of the screen
// carries out the effects the way the window does, so whole walks through
// the pages can be checked, including the order in which effects land.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "strings.h"
#include "wizard_layout.h"
#include "wizard_logic.h"

using namespace vellum::wizard;

namespace {

// The screen as the effects leave it; texts composed from the fallbacks
// (no catalogue).
struct Screen {
    std::map<Ctl, bool> shown;
    std::map<Ctl, bool> enabled;
    std::map<Ctl, std::wstring> text;
    Ctl focus = Ctl::Window;
    bool agreeSelected = false;  // design time: "I do not accept" selected
    bool proceedInstall = false;
    bool installFinished = false;
    bool windowVisible = true;
    short step = 0;
    int nextDisableCount = 0;

    Screen() {
        for (Ctl c : {Ctl::Frame1, Ctl::Frame2, Ctl::nextButton, Ctl::CancelButton, Ctl::txtLicense,
                      Ctl::optAgree, Ctl::optDisagree, Ctl::InstallCaption, Ctl::lblTitle, Ctl::lblDesc,
                      Ctl::topTitle, Ctl::topDesc})
            shown[c] = true;
        shown[Ctl::BackButton] = false;
        shown[Ctl::chkLaunch] = false;
        for (auto& kv : shown) enabled[kv.first] = true;
    }

    static std::wstring Compose(const CaptionSpec& c) {
        std::wstring t = c.prefix;
        for (size_t i = 0; i < c.paragraphs.size(); ++i) {
            if (i) t += kParagraphBreak;
            t += c.paragraphs[i].fallback;
        }
        return t + c.suffix;
    }

    void apply(const Effects& effects) {
        for (const Effect& e : effects) {
            switch (e.kind) {
            case Effect::Show: shown[e.control] = true; break;
            case Effect::Hide: shown[e.control] = false; break;
            case Effect::Enable: enabled[e.control] = true; break;
            case Effect::Disable:
                enabled[e.control] = false;
                if (e.control == Ctl::nextButton) ++nextDisableCount;
                break;
            case Effect::Focus: focus = e.control; break;
            case Effect::Select: agreeSelected = e.control == Ctl::optAgree; break;
            case Effect::SetCaption: text[e.control] = Compose(e.caption); break;
            case Effect::SetProceedInstall: proceedInstall = true; break;
            case Effect::SetInstallFinished: installFinished = true; break;
            case Effect::HideWindow: windowVisible = false; break;
            }
        }
    }

    WizardInputs inputs() const {
        WizardInputs in;
        in.currentStep = step;
        in.optAgreeSelected = agreeSelected;
        in.optAgreeVisible = shown.at(Ctl::optAgree);
        return in;
    }

    void next() {
        StepResult r = NextClick(inputs());
        step = r.currentStep;
        apply(r.effects);
    }
    void back() {
        StepResult r = BackClick(inputs());
        step = r.currentStep;
        apply(r.effects);
    }
    void clickAgree() {
        agreeSelected = true;
        apply(OptAgreeClick());
    }
    void clickDisagree() {
        agreeSelected = false;
        apply(OptDisagreeClick(shown.at(Ctl::optAgree)));
    }
    // The controller's opening: counter to -1, press Next.
    void open() {
        step = -1;
        next();
    }
};

const std::wstring kWelcomeDesc =
    L"This will install Quillfeather on your computer.\r\n\r\n"
    L"It is recommended that you close all other applications before continuing.\r\n\r\n"
    L"Click Next to continue, or Cancel to exit the installation.";

TEST(WizardPages, WelcomeThenFirstLicenseEntry) {
    Screen s;
    s.open();
    EXPECT_EQ(0, s.step);
    EXPECT_TRUE(s.shown[Ctl::Frame1]);
    EXPECT_FALSE(s.shown[Ctl::Frame2]);
    EXPECT_FALSE(s.shown[Ctl::BackButton]);
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    EXPECT_EQ(Ctl::nextButton, s.focus);
    EXPECT_EQ(L"Welcome to Quillfeather Installation", s.text[Ctl::lblTitle]);
    EXPECT_EQ(kWelcomeDesc, s.text[Ctl::lblDesc]);
    EXPECT_EQ(L"Next >", s.text[Ctl::nextButton]);

    s.next();
    EXPECT_EQ(1, s.step);
    EXPECT_TRUE(s.shown[Ctl::Frame2]);
    EXPECT_FALSE(s.shown[Ctl::Frame1]);
    EXPECT_TRUE(s.shown[Ctl::BackButton]);
    EXPECT_TRUE(s.shown[Ctl::txtLicense] && s.shown[Ctl::optAgree] && s.shown[Ctl::optDisagree]);
    EXPECT_FALSE(s.agreeSelected);
    EXPECT_FALSE(s.enabled[Ctl::nextButton]);
    EXPECT_EQ(Ctl::optDisagree, s.focus);
    EXPECT_EQ(L"Next >", s.text[Ctl::nextButton]);
    EXPECT_EQ(L"License Agreement", s.text[Ctl::topTitle]);
    EXPECT_EQ(L"Please read the following license agreement carefully.", s.text[Ctl::topDesc]);

    s.clickAgree();
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    s.clickDisagree();
    EXPECT_FALSE(s.enabled[Ctl::nextButton]);
}

TEST(WizardPages, ReturnFromReadyPageAsksForAcceptanceAgain) {
    Screen s;
    s.open();
    s.next();
    s.clickAgree();
    s.next();
    EXPECT_EQ(2, s.step);
    EXPECT_FALSE(s.shown[Ctl::txtLicense] || s.shown[Ctl::optAgree] || s.shown[Ctl::optDisagree]);
    EXPECT_TRUE(s.shown[Ctl::InstallCaption]);
    EXPECT_EQ(L"Install", s.text[Ctl::nextButton]);
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    EXPECT_EQ(L"Ready to Install", s.text[Ctl::topTitle]);
    EXPECT_EQ(L"Now it is ready to begin installing Quillfeather on your computer.", s.text[Ctl::topDesc]);

    // On the ready page the options are hidden: declining changes nothing.
    s.clickDisagree();
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    s.clickAgree();

    int disablesBefore = s.nextDisableCount;
    s.back();
    EXPECT_EQ(1, s.step);
    EXPECT_FALSE(s.agreeSelected);
    EXPECT_FALSE(s.enabled[Ctl::nextButton]);
    // Disabled by the explicit selection's click, not by the acceptance test.
    EXPECT_EQ(disablesBefore + 1, s.nextDisableCount);
    EXPECT_EQ(Ctl::optDisagree, s.focus);
    EXPECT_EQ(L"Next >", s.text[Ctl::nextButton]);
    EXPECT_EQ(L"License Agreement", s.text[Ctl::topTitle]);

    s.back();
    EXPECT_EQ(0, s.step);
    EXPECT_FALSE(s.shown[Ctl::BackButton]);
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    EXPECT_EQ(Ctl::nextButton, s.focus);
    EXPECT_TRUE(s.shown[Ctl::Frame1]);
    EXPECT_FALSE(s.shown[Ctl::Frame2]);
}

TEST(WizardPages, InstallFinishAndBeyond) {
    Screen s;
    s.open();
    s.next();
    s.clickAgree();
    s.next();
    s.next();  // Install
    EXPECT_EQ(3, s.step);
    EXPECT_TRUE(s.proceedInstall);
    EXPECT_FALSE(s.installFinished);
    EXPECT_FALSE(s.enabled[Ctl::BackButton] || s.enabled[Ctl::nextButton] || s.enabled[Ctl::CancelButton]);
    EXPECT_TRUE(s.shown[Ctl::Frame2]);
    EXPECT_EQ(L"Install", s.text[Ctl::nextButton]);

    s.next();  // the controller's press after the installation
    EXPECT_EQ(4, s.step);
    EXPECT_TRUE(s.shown[Ctl::Frame1]);
    EXPECT_FALSE(s.shown[Ctl::Frame2]);
    EXPECT_TRUE(s.shown[Ctl::chkLaunch]);
    EXPECT_TRUE(s.enabled[Ctl::nextButton]);
    EXPECT_FALSE(s.shown[Ctl::BackButton]);
    EXPECT_FALSE(s.shown[Ctl::CancelButton]);
    EXPECT_EQ(L"Finish", s.text[Ctl::nextButton]);
    EXPECT_EQ(L"Completing Quillfeather Installation", s.text[Ctl::lblTitle]);
    EXPECT_EQ(L"Quillfeather installation is complete now. The application may be launched by clicking on the "
              L"'Help and Support' icon from the Start menu.\r\n\r\nClick Finish to exit the installation",
              s.text[Ctl::lblDesc]);
    EXPECT_TRUE(s.installFinished);
    EXPECT_TRUE(s.proceedInstall);

    s.next();  // Finish
    EXPECT_EQ(5, s.step);
    EXPECT_FALSE(s.windowVisible);
    EXPECT_TRUE(s.shown[Ctl::chkLaunch]);

    for (short from : {5, 6, 100, 32767, -2, -5, -32768}) {
        WizardInputs in;
        in.currentStep = from;
        StepResult r = NextClick(in);
        EXPECT_EQ(static_cast<short>(from + 1), r.currentStep) << from;
        EXPECT_TRUE(r.effects.empty()) << from;
    }
    WizardInputs in;
    in.currentStep = 6;
    EXPECT_EQ(5, BackClick(in).currentStep);
    EXPECT_EQ(1u, BackClick(in).effects.size());  // value 5 only hides the window
}

TEST(WizardClose, RequestByReasonAndFlags) {
    const CloseReason reasons[] = {CloseReason::ControlMenu, CloseReason::Code, CloseReason::WindowsShutdown,
                                   CloseReason::TaskManager};
    for (CloseReason r : reasons) {
        // Before Install: the exit question, refused whatever the answer.
        CloseDecision d = QueryUnload(r, false, false);
        EXPECT_TRUE(d.askExitQuestion);
        EXPECT_TRUE(d.refuseUnload);
        EXPECT_TRUE(d.effects.empty());
        ASSERT_EQ(2u, d.onConfirmed.size());
        EXPECT_EQ(Effect::SetInstallFinished, d.onConfirmed[0].kind);
        EXPECT_EQ(Effect::HideWindow, d.onConfirmed[1].kind);

        // Installing: refused without a question.
        d = QueryUnload(r, true, false);
        EXPECT_FALSE(d.askExitQuestion);
        EXPECT_TRUE(d.refuseUnload);
        EXPECT_TRUE(d.effects.empty());

        // Ended: the close box hides; everything else unloads.
        for (bool proceed : {false, true}) {
            d = QueryUnload(r, proceed, true);
            EXPECT_FALSE(d.askExitQuestion);
            if (r == CloseReason::ControlMenu) {
                EXPECT_TRUE(d.refuseUnload);
                ASSERT_EQ(1u, d.effects.size());
                EXPECT_EQ(Effect::HideWindow, d.effects[0].kind);
            } else {
                EXPECT_FALSE(d.refuseUnload);
                EXPECT_TRUE(d.effects.empty());
            }
        }
    }
    EXPECT_EQ(0, static_cast<int>(CloseReason::ControlMenu));
    EXPECT_EQ(1, static_cast<int>(CloseReason::Code));
}

TEST(WizardClose, CancelAndExitQuestion) {
    EXPECT_TRUE(CancelAnswered(false).empty());
    Effects yes = CancelAnswered(true);
    ASSERT_EQ(2u, yes.size());
    EXPECT_EQ(Effect::SetInstallFinished, yes[0].kind);
    EXPECT_EQ(Effect::HideWindow, yes[1].kind);

    ExitQuestion q = ExitQuestionSpec();
    EXPECT_EQ(36u, q.style);
    EXPECT_EQ(0u, q.style & MB_DEFMASK);  // Yes, the first button, is the default
    EXPECT_EQ(std::wstring(L"loc_UI_Exit_Title"), q.title.key);
    EXPECT_EQ(std::wstring(L"Exit Installation"), q.title.fallback);
    EXPECT_EQ(L"The installation is not complete. If you exit now, the program will not be installed.\r\n\r\n"
              L"You may run this program again another time to complete the installation.\r\n\r\n"
              L"Exit Installation?",
              Screen::Compose(q.message));
    EXPECT_TRUE(ConfirmExitResult(IDYES));
    EXPECT_FALSE(ConfirmExitResult(IDNO));
    EXPECT_FALSE(ConfirmExitResult(IDCANCEL));  // dismissed with Esc or Alt+F4: the user stays
    EXPECT_TRUE(ConfirmExitResult(0));  // a box that could not be shown does not keep the user in
}

// Every text of the wizard with its key and fallback, gathered from what the
// decisions actually ask for.
TEST(WizardTexts, EveryKeyAndFallback) {
    std::map<std::wstring, std::wstring> seen;
    auto collect = [&](const CaptionSpec& c) {
        for (const TextRef& t : c.paragraphs) {
            auto it = seen.find(t.key);
            if (it != seen.end()) {
                EXPECT_EQ(it->second, t.fallback) << t.key;
            }
            seen[t.key] = t.fallback;
        }
    };
    for (const LoadText& t : LoadTimeTexts()) collect(t.caption);
    for (short step = -1; step <= 5; ++step) {
        WizardInputs in;
        in.currentStep = step;
        for (const Effect& e : NextClick(in).effects)
            if (e.kind == Effect::SetCaption) collect(e.caption);
    }
    ExitQuestion q = ExitQuestionSpec();
    collect(q.message);
    collect(CaptionSpec{L"", {q.title}, L""});

    const std::map<std::wstring, std::wstring> expected = {
        {L"loc_UI_Title", L"Quillfeather Installation"},
        {L"loc_UI_BackButton", L"Back"},
        {L"loc_UI_CancelButton", L"Cancel"},
        {L"loc_UI_Launch_box", L"Launch Help and Support"},
        {L"loc_UI_Option_Agree", L"I accept the terms in the license agreement"},
        {L"loc_UI_Option_DisAgree", L"I do not accept the terms in the license agreement"},
        {L"loc_UI_Review_Install", L"Click Install to continue with the installation. or click Back if you want "
                                   L"to review the license agreement again."},
        {L"loc_UI_welcomeText", L"Welcome to Quillfeather Installation"},
        {L"loc_UI_Install_prompt", L"This will install Quillfeather on your computer."},
        {L"loc_UI_CloseAllProgs_prompt", L"It is recommended that you close all other applications before continuing."},
        {L"loc_UI_Next_prompt", L"Click Next to continue, or Cancel to exit the installation."},
        {L"loc_UI_NextButton", L"Next"},
        {L"loc_UI_License_Title", L"License Agreement"},
        {L"loc_UI_License_Desc", L"Please read the following license agreement carefully."},
        {L"loc_UI_InstallButton", L"Install"},
        {L"loc_UI_Ready_Title", L"Ready to Install"},
        {L"loc_UI_Ready_Desc", L"Now it is ready to begin installing Quillfeather on your computer."},
        {L"loc_UI_Finish_Button", L"Finish"},
        {L"loc_UI_Finish_Title", L"Completing Quillfeather Installation"},
        {L"loc_UI_Finish_Desc", L"Quillfeather installation is complete now. The application may be launched by "
                                L"clicking on the 'Help and Support' icon from the Start menu."},
        {L"loc_UI_Finish_Prompt", L"Click Finish to exit the installation"},
        {L"loc_UI_Exit_prompt1", L"The installation is not complete. If you exit now, the program will not be installed."},
        {L"loc_UI_Exit_prompt2", L"You may run this program again another time to complete the installation."},
        {L"loc_UI_Exit_prompt3", L"Exit Installation?"},
        {L"loc_UI_Exit_Title", L"Exit Installation"},
    };
    EXPECT_EQ(expected, seen);
}

TEST(WizardTexts, LoadTimeOrderAndArrows) {
    std::vector<LoadText> t = LoadTimeTexts();
    const Ctl order[] = {Ctl::Window, Ctl::BackButton, Ctl::CancelButton, Ctl::chkLaunch,
                         Ctl::optAgree, Ctl::optDisagree, Ctl::InstallCaption};
    ASSERT_EQ(7u, t.size());
    for (size_t i = 0; i < t.size(); ++i) EXPECT_EQ(order[i], t[i].control) << i;
    EXPECT_EQ(L"< Back", Screen::Compose(t[1].caption));
    EXPECT_EQ(std::wstring(L"loc_UI_BackButton"), t[1].caption.paragraphs[0].key);
}

TEST(WizardLoad, PathsFromTheProgramFolder) {
    LoadPaths p = FormLoadPaths(L"C:\\Temp\\_hsc_Vellum", L"");
    EXPECT_EQ(L"en-us", p.localeID);
    EXPECT_EQ(L"C:\\Temp\\_hsc_Vellum\\InstallerUIText_en-us.xml", p.uiStringsFileName);
    EXPECT_EQ(L"C:\\Temp\\_hsc_Vellum\\EULA_en-us.txt", p.licFile);
    p = FormLoadPaths(L"D:\\x", L"ja-jp");  // no check: a locale without files stays
    EXPECT_EQ(L"ja-jp", p.localeID);
    EXPECT_EQ(L"D:\\x\\InstallerUIText_ja-jp.xml", p.uiStringsFileName);
    EXPECT_EQ(L"D:\\x\\EULA_ja-jp.txt", p.licFile);
}

TEST(WizardLicense, CodePageOfTheLocaleNotOfTheSystem) {
    for (const wchar_t* western : {L"da-dk", L"de-de", L"en-au", L"en-gb", L"en-us", L"es-es", L"es-mx", L"fi-fi",
                                   L"fr-ca", L"fr-fr", L"it-it", L"nb-no", L"nl-nl", L"pt-pt", L"sv-se"})
        EXPECT_EQ(1252u, LicenseCodePage(western)) << western;
    EXPECT_EQ(949u, LicenseCodePage(L"ko-kr"));
    EXPECT_EQ(936u, LicenseCodePage(L"zh-cn"));
    EXPECT_EQ(950u, LicenseCodePage(L"zh-hk"));
    EXPECT_EQ(950u, LicenseCodePage(L"zh-tw"));
    EXPECT_EQ(950u, LicenseCodePage(L"ZH-TW"));
    EXPECT_EQ(0u, LicenseCodePage(L"ja-jp"));  // other locales: the system's code page
    EXPECT_EQ(0u, LicenseCodePage(L""));

    // "안녕하세요" in code page 949, "中文" in 950 and in 936, "é€" in 1252.
    EXPECT_EQ(L"\uC548\uB155\uD558\uC138\uC694", DecodeLicense("\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4", L"ko-kr"));
    EXPECT_EQ(L"\u4E2D\u6587", DecodeLicense("\xA4\xA4\xA4\xE5", L"zh-tw"));
    EXPECT_EQ(L"\u4E2D\u6587", DecodeLicense("\xA4\xA4\xA4\xE5", L"zh-hk"));
    EXPECT_EQ(L"\u4E2D\u6587", DecodeLicense("\xD6\xD0\xCE\xC4", L"zh-cn"));
    EXPECT_EQ(L"\u00E9\u20AC", DecodeLicense("\xE9\x80", L"de-de"));
    // Neither trimmed nor reflowed: blanks, CR LF, a lone LF and a last line
    // without a line end stay as they are.
    EXPECT_EQ(L"  A\r\nB\nC  \r\n\r\nlast", DecodeLicense("  A\r\nB\nC  \r\n\r\nlast", L"en-us"));
    EXPECT_EQ(L"", DecodeLicense("", L"ko-kr"));

    // The start of a file too large to show ends at a whole character.
    EXPECT_EQ(L"\uC548", DecodeLicense("\xBE\xC8\xB3", L"ko-kr", true));
    EXPECT_EQ(L"\uC548\uB155", DecodeLicense("\xBE\xC8\xB3\xE7", L"ko-kr", true));
    EXPECT_EQ(L"A\u4E2D", DecodeLicense("A\xA4\xA4\xA4", L"zh-tw", true));
    EXPECT_EQ(L"ab\u00E9", DecodeLicense("ab\xE9", L"fr-fr", true));
}

// A system without the locale's code page shows the license in its own
// code page (approximate, but not an empty box).
TEST(WizardLicense, MissingCodePageFallsBackToTheSystemOne) {
    auto none = [](unsigned) { return false; };
    auto all = [](unsigned) { return true; };
    EXPECT_EQ(949u, LicenseDecodingCodePage(L"ko-kr", all));
    EXPECT_EQ(0u, LicenseDecodingCodePage(L"ko-kr", none));
    EXPECT_EQ(0u, LicenseDecodingCodePage(L"ja-jp", none));
    // Every shipped code page is there on this system.
    for (const wchar_t* loc : {L"en-us", L"ko-kr", L"zh-cn", L"zh-tw"})
        EXPECT_EQ(LicenseCodePage(loc), LicenseDecodingCodePage(loc)) << loc;
    // A code page no system has is not taken.
    EXPECT_FALSE(vellum::wizard::SystemHasCodePage(65432));

    const std::string korean = "\xBE\xC8\xB3\xE7 Text";  // "안녕 Text" in code page 949
    EXPECT_EQ(vellum::BytesToWide(korean, CP_ACP), DecodeLicense(korean, L"ko-kr", false, none));
    EXPECT_FALSE(DecodeLicense(korean, L"ko-kr", false, none).empty());
    EXPECT_EQ(L"\uC548\uB155 Text", DecodeLicense(korean, L"ko-kr", false, all));
    // The start of a longer file is cut by the code page actually used: in
    // 950 the last byte begins a character, in the system's 1252 it is one.
    EXPECT_EQ(L"ab", DecodeLicense("ab\xE9", L"zh-tw", true, all));
    if (::GetACP() == 1252) EXPECT_EQ(L"ab\u00E9", DecodeLicense("ab\xE9", L"zh-tw", true, none));
}

// The dialog manager tabs through the controls in creation order: the
// focusable ones come first in tab-index order, panels where their content
// starts, and the banner's white background is behind everything.
TEST(WizardLayout, StackingFollowsTabIndexOverTheWindow) {
    auto names = [](const std::vector<LayoutRow>& rows) {
        std::vector<std::wstring> out;
        for (int i : StackingOrder(rows)) out.push_back(rows[static_cast<size_t>(i)].name);
        return out;
    };
    std::vector<std::wstring> window = names(WindowControls());
    std::vector<std::wstring> expectWindow = {L"nextButton", L"CancelButton", L"BackButton",
                                              L"Frame2",     L"Frame1",       L"LineBottom"};
    EXPECT_EQ(expectWindow, window);
    std::vector<std::wstring> frame2 = names(Frame2Controls());
    ASSERT_GE(frame2.size(), 4u);
    EXPECT_EQ(L"txtLicense", frame2[0]);
    EXPECT_EQ(L"optAgree", frame2[1]);
    EXPECT_EQ(L"optDisagree", frame2[2]);
    EXPECT_EQ(L"topBackground", frame2.back());
    // The sub-heading's box reaches 3 pixels into the heading's: it must lie
    // above it, or the heading's white background cuts its first pixel rows.
    auto pos = [&](const wchar_t* n) { return std::find(frame2.begin(), frame2.end(), n) - frame2.begin(); };
    EXPECT_LT(pos(L"topDesc"), pos(L"topTitle"));
    std::vector<std::wstring> frame1 = names(Frame1Controls());
    EXPECT_EQ(L"chkLaunch", frame1[0]);
}

}  // namespace
