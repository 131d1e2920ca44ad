#include "layout.h"

#include <cmath>
#include <cstddef>

namespace vellum {

int ScreenDpi() {
    HDC dc = ::GetDC(nullptr);
    int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ::ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

int TwipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

RECT TwipsToPixels(const TwipsRect& r, int dpi) {
    RECT out;
    out.left = TwipsToPixels(r.left, dpi);
    out.top = TwipsToPixels(r.top, dpi);
    out.right = out.left + TwipsToPixels(r.width, dpi);
    out.bottom = out.top + TwipsToPixels(r.height, dpi);
    return out;
}

HFONT CreatePointFont(const wchar_t* face, double points, bool bold, int dpi) {
    LOGFONTW lf = {};
    lf.lfHeight = -static_cast<LONG>(std::lround(points * dpi / 72.0));
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return ::CreateFontIndirectW(&lf);
}

HFONT DefaultGuiFont() {
    static HFONT font = [] {
        NONCLIENTMETRICSW ncm = {};
        // The XP-sized structure: newer systems accept it, XP rejects the larger one.
        ncm.cbSize = offsetof(NONCLIENTMETRICSW, lfMessageFont) + sizeof(LOGFONTW);
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, ncm.cbSize, &ncm, 0))
            return ::CreateFontIndirectW(&ncm.lfMessageFont);
        return static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

bool CreateControls(HWND window, const ControlSpec* controls, int count, int dpi,
                    const HFONT* fonts, HFONT defaultFont, HWND* hwnds) {
    bool ok = true;
    HINSTANCE inst = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (int i = 0; i < count; ++i) {
        const ControlSpec& s = controls[i];
        HWND parent = s.parent >= 0 ? hwnds[s.parent] : window;
        RECT r = TwipsToPixels(s.rect, dpi);
        DWORD style = s.style | WS_CHILD | (s.visible ? WS_VISIBLE : 0);
        hwnds[i] = ::CreateWindowExW(s.exStyle, s.className, s.text, style, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, parent,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)), inst, nullptr);
        if (!hwnds[i]) { ok = false; continue; }
        HFONT f = s.font >= 0 && fonts ? fonts[s.font] : defaultFont;
        if (f) ::SendMessageW(hwnds[i], WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
    }
    return ok;
}

void SizeClientAndCenter(HWND window, int widthTwips, int heightTwips, int dpi) {
    RECT r = {0, 0, TwipsToPixels(widthTwips, dpi), TwipsToPixels(heightTwips, dpi)};
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
    DWORD ex = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
    ::AdjustWindowRectEx(&r, style, FALSE, ex);
    int w = r.right - r.left, h = r.bottom - r.top;
    // Centred on the screen itself, not on the work area a taskbar leaves.
    const int screenW = ::GetSystemMetrics(SM_CXSCREEN), screenH = ::GetSystemMetrics(SM_CYSCREEN);
    int x = (screenW - w) / 2;
    int y = (screenH - h) / 2;
    ::SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace vellum
