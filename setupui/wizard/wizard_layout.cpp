#include "wizard_layout.h"

#include <algorithm>
#include <climits>

namespace vellum {
namespace wizard {

const wchar_t kDesignLicenseText[] =
    L"LICENSE AGREEMENT\r\n\r\n"
    L"Please read this agreement carefully before installing Quillfeather. "
    L"The license text of your language is shown here when the installation starts.";

// Controls directly on the window.
const std::vector<LayoutRow>& WindowControls() {
    static const std::vector<LayoutRow> rows = {
        // id               name            kind          text       left, top, width, height  font           tab  settings
        {ID_nextButton,   L"nextButton",   Kind::Button, L"Next >", {4230, 4888, 1420, 320}, Font::Default, 0, DefaultButton},
        {ID_CancelButton, L"CancelButton", Kind::Button, L"Cancel", {5940, 4888, 1420, 320}, Font::Default, 1, None},
        {ID_BackButton,   L"BackButton",   Kind::Button, L"< Back", {2720, 4888, 1420, 320}, Font::Default, 3, Hidden},
        {ID_LineBottom,   L"LineBottom",   Kind::Rule,   L"",       {0, 4710, 7515, 45},     Font::Default, 2, None},
        {ID_Frame1,       L"Frame1",       Kind::Panel,  L"",       {0, 0, 7515, 4710},      Font::Default, 4, None},
        {ID_Frame2,       L"Frame2",       Kind::Panel,  L"",       {0, 0, 7515, 4710},      Font::Default, 9, None},
    };
    return rows;
}

// Frame1, welcome and finish pages: the side picture and a white area.
const std::vector<LayoutRow>& Frame1Controls() {
    static const std::vector<LayoutRow> rows = {
        {ID_Image1,         L"Image1",         Kind::Image,    L"", {0, 0, 2460, 4710},       Font::Default,     -1, Picture1},
        {ID_lblLeftFiller,  L"lblLeftFiller",  Kind::Label,    L"", {2460, 0, 260, 4710},     Font::Tahoma8,      7, White},
        {ID_lblTopFiller,   L"lblTopFiller",   Kind::Label,    L"", {2720, 0, 4540, 260},     Font::Tahoma8,      6, White},
        {ID_lblRightFiller, L"lblRightFiller", Kind::Label,    L"", {7255, 0, 260, 4710},     Font::Tahoma8,     19, White},
        {ID_lblTitle,       L"lblTitle",       Kind::Label,    L"Welcome to Quillfeather Installation",
                                                                    {2715, 255, 4545, 1200},  Font::Trebuchet14,  8, White},
        {ID_lblDesc,        L"lblDesc",        Kind::Label,    L"This will install Quillfeather",
                                                                    {2720, 1460, 4540, 3250}, Font::Tahoma8,      5, White},
        {ID_chkLaunch,      L"chkLaunch",      Kind::CheckBox, L"Launch Help and Support",
                                                                    {2700, 2700, 4575, 240},  Font::Default,     18, White | Checked | Hidden},
    };
    return rows;
}

// Frame2, license and ready pages: white banner, rule, then the license box
// with the two choices or the review text in the same place.
const std::vector<LayoutRow>& Frame2Controls() {
    static const std::vector<LayoutRow> rows = {
        {ID_topBackground,  L"topBackground",  Kind::Label,   L"", {0, 0, 7515, 885},          Font::Tahoma8,      10, White | BottomMost},
        {ID_topTitle,       L"topTitle",       Kind::Label,   L"License Agreement",
                                                                   {405, 120, 6000, 330},      Font::Tahoma10Bold, 12, White},
        {ID_topDesc,        L"topDesc",        Kind::Label,   L"Please read the following license agreement carefully.",
                                                                   {720, 405, 5640, 435},      Font::Tahoma8,      13, White},
        {ID_Image2,         L"Image2",         Kind::Image,   L"", {6560, 30, 825, 825},       Font::Default,      -1, Picture2},
        {ID_LineTop,        L"LineTop",        Kind::Rule,    L"", {0, 885, 7515, 45},         Font::Default,      11, None},
        {ID_txtLicense,     L"txtLicense",     Kind::TextBox, kDesignLicenseText,
                                                                   {315, 1125, 6885, 2640},    Font::Default,      14, None},
        {ID_optAgree,       L"optAgree",       Kind::Option,  L"I accept the terms in the license agreement",
                                                                   {315, 3945, 6885, 300},     Font::Default,      15, GroupStart},
        {ID_optDisagree,    L"optDisagree",    Kind::Option,  L"I do not accept the terms in the license agreement",
                                                                   {315, 4265, 6885, 300},     Font::Default,      16, Checked},
        {ID_InstallCaption, L"InstallCaption", Kind::Label,   L"Click Install to continue with the installation. or click "
                                                                   L"Back if you want to review the license agreement again.",
                                                                   {720, 1125, 5840, 1350},    Font::Default,      17, None},
    };
    return rows;
}

bool IsFocusable(Kind kind) {
    return kind == Kind::Button || kind == Kind::CheckBox || kind == Kind::Option || kind == Kind::TextBox;
}

namespace {
// The tab index at which a row's focusable content starts: its own for a
// focusable control, the smallest of its controls for a panel.
int FocusKey(const LayoutRow& row) {
    if (IsFocusable(row.kind)) return row.tabIndex;
    if (row.kind != Kind::Panel) return INT_MAX;
    const auto& inner = row.id == ID_Frame1 ? Frame1Controls() : Frame2Controls();
    int key = INT_MAX;
    for (const auto& r : inner)
        if (IsFocusable(r.kind)) key = std::min(key, r.tabIndex);
    return key;
}
}  // namespace

std::vector<int> StackingOrder(const std::vector<LayoutRow>& rows) {
    std::vector<int> order(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const LayoutRow& ra = rows[a];
        const LayoutRow& rb = rows[b];
        bool bottomA = (ra.settings & BottomMost) != 0, bottomB = (rb.settings & BottomMost) != 0;
        if (bottomA != bottomB) return bottomB;
        int fa = FocusKey(ra), fb = FocusKey(rb);
        if (fa != fb) return fa < fb;
        // Labels: the later one lies on top, so a sub-heading whose box
        // reaches into the heading's is not cut by the heading's background.
        return ra.tabIndex > rb.tabIndex;
    });
    return order;
}

}  // namespace wizard
}  // namespace vellum
