// Declarative window layouts in twips (1/1440 inch), the unit every layout
// table of the programs is written in, converted with the display's real DPI.
#pragma once
#include <windows.h>

namespace vellum {

struct TwipsRect {
    int left, top, width, height;
};

// One control of a window's layout table. parent is the index of the
// container in the same table (a panel), or -1 for the window's client area.
struct ControlSpec {
    int id;
    const wchar_t* name;       // the control's name, for lookups and tests
    const wchar_t* className;  // window class, e.g. L"BUTTON", PROGRESS_CLASSW
    const wchar_t* text;       // design-time text
    DWORD style;               // WS_CHILD is added; WS_VISIBLE when visible
    DWORD exStyle;
    TwipsRect rect;
    int parent;
    int font;                  // index into the window's font table, -1 = default
    bool visible;
};

int ScreenDpi();
int TwipsToPixels(int twips, int dpi);
RECT TwipsToPixels(const TwipsRect& r, int dpi);

// Creates a point-sized font at the given DPI (e.g. "Tahoma", 8.25).
HFONT CreatePointFont(const wchar_t* face, double points, bool bold, int dpi);
// The window default font (the dialog font of the system).
HFONT DefaultGuiFont();

// Creates the controls of a table, in table order, into hwnds[i] (same
// indices as the table). fonts[control.font] is applied where font >= 0, otherwise
// defaultFont. Returns false if any control could not be created.
bool CreateControls(HWND window, const ControlSpec* controls, int count, int dpi,
                    const HFONT* fonts, HFONT defaultFont, HWND* hwnds);

// Gives a window the client size in twips and centres it on the (primary) screen.
void SizeClientAndCenter(HWND window, int widthTwips, int heightTwips, int dpi);

}  // namespace vellum
