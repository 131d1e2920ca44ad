// The wizard window's controls: one table for the window itself and one for
// each panel, in twips relative to the container, with the design-time text,
// font, tab index and settings of every control.
#pragma once
#include <windows.h>

#include <vector>

#include "layout.h"

namespace vellum {
namespace wizard {

// Control identifiers. CancelButton is IDCANCEL so that Esc presses it
// through the dialog manager.
enum ControlId : int {
    ID_nextButton = 1001,
    ID_CancelButton = IDCANCEL,
    ID_BackButton = 1003,
    ID_LineBottom = 1004,
    ID_Frame1 = 1010,
    ID_Frame2 = 1020,
    ID_Image1 = 1011,
    ID_lblLeftFiller = 1012,
    ID_lblTopFiller = 1013,
    ID_lblRightFiller = 1014,
    ID_lblTitle = 1015,
    ID_lblDesc = 1016,
    ID_chkLaunch = 1017,
    ID_topBackground = 1021,
    ID_topTitle = 1022,
    ID_topDesc = 1023,
    ID_Image2 = 1024,
    ID_LineTop = 1025,
    ID_txtLicense = 1026,
    ID_optAgree = 1027,
    ID_optDisagree = 1028,
    ID_InstallCaption = 1029,
};

enum class Kind { Button, Label, Rule, Panel, Image, CheckBox, Option, TextBox };

enum class Font : int { Default = -1, Tahoma8 = 0, Tahoma10Bold = 1, Trebuchet14 = 2 };

// Settings beyond kind, text, rectangle and font.
enum Setting : unsigned {
    None = 0,
    Hidden = 1u << 0,
    White = 1u << 1,          // back colour: window background
    Checked = 1u << 2,        // check box checked / option button selected
    DefaultButton = 1u << 3,  // Enter presses it
    BottomMost = 1u << 4,     // behind every other control of its container
    GroupStart = 1u << 5,     // first option button of a group
    Picture1 = 1u << 6,       // the side picture
    Picture2 = 1u << 7,       // the banner emblem
};

struct LayoutRow {
    int id;
    const wchar_t* name;
    Kind kind;
    const wchar_t* text;
    TwipsRect rect;
    Font font;
    int tabIndex;
    unsigned settings;
};

// Client area of the window, in twips.
constexpr int kClientWidthTwips = 7530;
constexpr int kClientHeightTwips = 5385;

const std::vector<LayoutRow>& WindowControls();
const std::vector<LayoutRow>& Frame1Controls();
const std::vector<LayoutRow>& Frame2Controls();

// The stacking order (top first) of one container's rows: focusable controls
// and panels first, ordered so that the dialog manager's Tab order follows
// the tab indices over the whole window (a panel where its focusable content
// starts), then the labels and pictures, the later tab index on top, and the
// bottom-most control last. Returns indices into rows.
std::vector<int> StackingOrder(const std::vector<LayoutRow>& rows);
bool IsFocusable(Kind kind);

// The design-time text of the license box; the license file replaces it.
extern const wchar_t kDesignLicenseText[];

}  // namespace wizard
}  // namespace vellum
