// Window commands: finding, describing and driving the windows of another
// process. Everything a target answers is asked with SendMessageTimeout, so a
// hung target makes a command fail instead of hanging the test; every action
// is posted, so a modal box the target opens never blocks the inspector.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "handles.h"
#include "commands.h"
#include "probe_client.h"
#include "strings.h"

namespace inspector {
namespace {

const UINT kSendTimeoutMs = 5000;

struct Query {
    HWND hwnd = nullptr;
    bool hasTitle = false;
    std::wstring title;
    bool contains = false;
    std::wstring cls;
    DWORD pid = 0;
    bool visibleOnly = false;
};

Query QueryFrom(const Args& args) {
    Query q;
    if (args.has(L"hwnd")) q.hwnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(args.number(L"hwnd", 0)));
    q.hasTitle = args.has(L"title");
    q.title = args.get(L"title");
    q.contains = args.has(L"contains");
    q.cls = args.get(L"class");
    q.pid = static_cast<DWORD>(args.number(L"pid", 0));
    q.visibleOnly = args.has(L"visible");
    return q;
}

// A top-level window's caption as the system keeps it: asking the window
// would wait on every hung program while searching.
std::wstring Caption(HWND w) {
    std::vector<wchar_t> buf(256);
    for (;;) {
        int got = ::InternalGetWindowText(w, buf.data(), static_cast<int>(buf.size()));
        if (got < 0 || static_cast<size_t>(got) + 1 < buf.size() || buf.size() >= (1u << 20))
            return std::wstring(buf.data(), got > 0 ? static_cast<size_t>(got) : 0);
        buf.resize(buf.size() * 2);
    }
}

bool Matches(const Query& q, HWND w) {
    if (q.hwnd) return w == q.hwnd;
    if (q.visibleOnly && !::IsWindowVisible(w)) return false;
    if (q.pid) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid != q.pid) return false;
    }
    if (!q.cls.empty() && ClassName(w) != q.cls) return false;
    if (q.hasTitle) {
        std::wstring t = Caption(w);
        if (q.contains ? t.find(q.title) == std::wstring::npos : t != q.title) return false;
    }
    return true;
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
    return TRUE;
}

std::vector<HWND> TopWindows() {
    std::vector<HWND> all;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::vector<HWND> FindTop(const Query& q) {
    std::vector<HWND> found;
    if (q.hwnd) {
        if (::IsWindow(q.hwnd)) found.push_back(q.hwnd);
        return found;
    }
    for (HWND w : TopWindows())
        if (Matches(q, w)) found.push_back(w);
    return found;
}

std::wstring Describe(const Query& q) {
    if (q.hwnd) return vellum::Format(L"hwnd %lld", HandleValue(q.hwnd));
    std::wstring d = q.hasTitle ? (q.contains ? L"title containing \"" : L"title \"") + q.title + L"\"" : L"any title";
    if (!q.cls.empty()) d += L", class " + q.cls;
    if (q.pid) d += vellum::Format(L", pid %lu", q.pid);
    return d;
}

DWORD PidOf(HWND w, DWORD* tid = nullptr) {
    DWORD pid = 0;
    DWORD t = ::GetWindowThreadProcessId(w, &pid);
    if (tid) *tid = t;
    return pid;
}

// Polls until check() is true or the time is up.
template <typename F>
bool PollUntil(DWORD timeoutMs, F check) {
    DWORD start = ::GetTickCount();
    for (;;) {
        if (check()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(50);
    }
}

void WriteRect(JsonWriter& j, const char* name, const RECT& r) {
    j.key(name).beginObject()
        .field("left", r.left).field("top", r.top)
        .field("width", r.right - r.left).field("height", r.bottom - r.top)
        .endObject();
}

// A window's rectangle in the client coordinates of another window.
RECT RectIn(HWND w, HWND reference) {
    RECT r;
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(nullptr, reference, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LRESULT Ask(HWND w, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
    LRESULT r = 0;
    if (!SendWithTimeout(w, msg, wp, lp, &r)) return 0;
    return r;
}

bool IsClass(HWND w, const wchar_t* cls) { return lstrcmpiW(ClassName(w).c_str(), cls) == 0; }

const char* ButtonKind(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON: return "pushbutton";
    case BS_DEFPUSHBUTTON: return "defpushbutton";
    case BS_CHECKBOX: return "checkbox";
    case BS_AUTOCHECKBOX: return "autocheckbox";
    case BS_RADIOBUTTON: return "radiobutton";
    case BS_3STATE: return "3state";
    case BS_AUTO3STATE: return "auto3state";
    case BS_GROUPBOX: return "groupbox";
    case BS_USERBUTTON: return "userbutton";
    case BS_AUTORADIOBUTTON: return "autoradiobutton";
    case BS_OWNERDRAW: return "ownerdraw";
    default: return "other";
    }
}

bool HasCheckState(DWORD style) {
    switch (style & BS_TYPEMASK) {
    case BS_CHECKBOX: case BS_AUTOCHECKBOX: case BS_RADIOBUTTON:
    case BS_3STATE: case BS_AUTO3STATE: case BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

using Probe = std::map<HWND, ProbeRecord>;

// The font a control draws with, as the probe read it inside its process.
bool ControlFont(const Probe& probe, HWND w, LOGFONTW* lf) {
    auto it = probe.find(w);
    if (it == probe.end() || !it->second.hasFont) return false;
    *lf = it->second.font;
    return true;
}

void WriteFont(JsonWriter& j, const Probe& probe, HWND w) {
    LOGFONTW lf{};
    j.key("font");
    if (!ControlFont(probe, w, &lf)) { j.null(); return; }
    j.beginObject()
        .field("face", U8(lf.lfFaceName)).field("height", lf.lfHeight)
        .field("weight", lf.lfWeight).flag("italic", lf.lfItalic != 0)
        .field("charset", static_cast<int>(lf.lfCharSet))
        .endObject();
}

int Dpi() {
    HDC dc = ::GetDC(nullptr);
    int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
    ::ReleaseDC(nullptr, dc);
    return dpi;
}

void WriteControl(JsonWriter& j, const Probe& probe, HWND c, HWND top, int depth, HWND focus) {
    HWND parent = ::GetParent(c);
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(c, GWL_STYLE));
    std::wstring cls = ClassName(c);
    j.beginObject()
        .field("hwnd", HandleValue(c))
        .field("id", static_cast<long long>(::GetDlgCtrlID(c)))
        .field("parent", HandleValue(parent))
        .field("parent_id", parent == top ? 0LL : static_cast<long long>(::GetDlgCtrlID(parent)))
        .field("depth", depth)
        .field("class", U8(cls))
        .field("text", U8(WindowText(c)))
        .flag("visible", ::IsWindowVisible(c) != FALSE)
        .flag("own_visible", (style & WS_VISIBLE) != 0)
        .flag("enabled", ::IsWindowEnabled(c) != FALSE)
        .flag("focused", c == focus)
        .field("style", static_cast<long long>(style))
        .field("exstyle", static_cast<long long>(::GetWindowLongPtrW(c, GWL_EXSTYLE)));
    WriteRect(j, "rect", RectIn(c, top));
    WriteRect(j, "parent_rect", RectIn(c, parent));
    RECT client;
    ::GetClientRect(c, &client);
    j.key("client").beginObject().field("width", client.right).field("height", client.bottom).endObject();
    WriteFont(j, probe, c);
    if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
        j.field("button_type", ButtonKind(style));
        if (HasCheckState(style)) j.field("checked", static_cast<long long>(Ask(c, BM_GETCHECK)));
        j.flag("default", (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
    } else if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) {
        j.key("progress").beginObject()
            .field("pos", static_cast<long long>(Ask(c, PBM_GETPOS)))
            .field("min", static_cast<long long>(Ask(c, PBM_GETRANGE, TRUE)))
            .field("max", static_cast<long long>(Ask(c, PBM_GETRANGE, FALSE)))
            .flag("smooth", (style & PBS_SMOOTH) != 0)
            .flag("vertical", (style & PBS_VERTICAL) != 0)
            .endObject();
    } else if (lstrcmpiW(cls.c_str(), L"Edit") == 0) {
        j.key("edit").beginObject()
            .flag("readonly", (style & ES_READONLY) != 0)
            .flag("multiline", (style & ES_MULTILINE) != 0)
            .flag("vscroll", (style & WS_VSCROLL) != 0)
            .endObject();
    } else if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
        DWORD type = style & SS_TYPEMASK;
        j.field("static_type", static_cast<long long>(type));
        if (type == SS_ICON || type == SS_BITMAP) {
            j.flag("has_image", Ask(c, type == SS_ICON ? STM_GETICON : STM_GETIMAGE,
                                    type == SS_ICON ? 0 : IMAGE_BITMAP) != 0);
        }
    }
    j.endObject();
}

void WriteDescendants(JsonWriter& j, const Probe& probe, HWND parent, HWND top, int depth, HWND focus) {
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        WriteControl(j, probe, c, top, depth, focus);
        WriteDescendants(j, probe, c, top, depth + 1, focus);
    }
}

// Every descendant in z-order, depth first.
void CollectDescendants(HWND parent, std::vector<HWND>* out) {
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        out->push_back(c);
        CollectDescendants(c, out);
    }
}

HWND FocusOf(HWND top) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof(gti);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(top, nullptr), &gti)) return nullptr;
    return gti.hwndFocus;
}

// DM_GETDEFID answers MAKELONG(id, DC_HASDEFID) from a dialog; anything else
// means the window does not keep a default button that way.
long long DefaultId(HWND top) {
    LRESULT r = Ask(top, DM_GETDEFID);
    return HIWORD(r) == DC_HASDEFID ? static_cast<long long>(LOWORD(r)) : -1;
}

}  // namespace

std::wstring ClassName(HWND hwnd) {
    wchar_t buf[256] = {};
    ::GetClassNameW(hwnd, buf, 256);
    return buf;
}

bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
    DWORD_PTR r = 0;
    bool ok = ::SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_NORMAL, kSendTimeoutMs, &r) != 0;
    *result = static_cast<LRESULT>(r);
    return ok;
}

std::wstring WindowText(HWND hwnd) {
    LRESULT len = 0;
    if (!SendWithTimeout(hwnd, WM_GETTEXTLENGTH, 0, 0, &len) || len <= 0) return std::wstring();
    std::vector<wchar_t> buf(static_cast<size_t>(len) + 2, L'\0');
    LRESULT got = 0;
    SendWithTimeout(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), &got);
    buf.back() = L'\0';
    return std::wstring(buf.data());
}

std::wstring StripMnemonic(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

HWND ResolveTopWindow(const Args& args, long long defaultTimeoutMs) {
    Query q = QueryFrom(args);
    if (!q.hwnd && !q.hasTitle && q.cls.empty() && !q.pid)
        Fail(kFailed, L"name the window with --hwnd, --title, --class or --pid");
    HWND found = nullptr;
    PollUntil(static_cast<DWORD>(args.number(L"timeout", defaultTimeoutMs)), [&] {
        auto v = FindTop(q);
        found = v.empty() ? nullptr : v.front();
        return found != nullptr;
    });
    if (!found) Fail(kTimedOut, L"no window with " + Describe(q));
    return found;
}

int CmdList(const Args& args) {
    Query q = QueryFrom(args);
    q.visibleOnly = !args.has(L"all");
    JsonWriter j;
    j.beginArray();
    for (HWND w : FindTop(q)) {
        DWORD tid = 0, pid = PidOf(w, &tid);
        j.beginObject()
            .field("hwnd", HandleValue(w)).field("pid", pid).field("tid", tid)
            .field("title", U8(Caption(w))).field("class", U8(ClassName(w)))
            .flag("visible", ::IsWindowVisible(w) != FALSE)
            .field("owner", HandleValue(::GetWindow(w, GW_OWNER)))
            .endObject();
    }
    j.endArray();
    Emit(j);
    return kOk;
}

int CmdAt(const Args& args) {
    POINT pt = {static_cast<LONG>(args.number(L"x", 0)), static_cast<LONG>(args.number(L"y", 0))};
    // Walked in z-order instead of asking WindowFromPoint, which passes over
    // disabled windows (an owner while its modal box is open).
    HWND found = nullptr;
    for (HWND w = ::GetTopWindow(nullptr); w && !found; w = ::GetWindow(w, GW_HWNDNEXT)) {
        RECT r;
        if (::IsWindowVisible(w) && ::GetWindowRect(w, &r) && ::PtInRect(&r, pt)) found = w;
    }
    if (!found) Fail(kTimedOut, L"no visible top-level window there");
    JsonWriter j;
    j.beginObject()
        .field("hwnd", HandleValue(found)).field("pid", PidOf(found))
        .field("title", U8(Caption(found))).field("class", U8(ClassName(found)))
        .flag("enabled", ::IsWindowEnabled(found) != FALSE)
        .field("owner", HandleValue(::GetWindow(found, GW_OWNER)))
        .endObject();
    Emit(j);
    return kOk;
}

int CmdWait(const Args& args) {
    Query q = QueryFrom(args);
    DWORD timeout = static_cast<DWORD>(args.number(L"timeout", 10000));
    if (args.has(L"gone")) {
        if (!PollUntil(timeout, [&] { return FindTop(q).empty(); }))
            Fail(kTimedOut, L"still there after the time-out: window with " + Describe(q));
        JsonWriter j;
        j.beginObject().flag("gone", true).endObject();
        Emit(j);
        return kOk;
    }
    HWND w = ResolveTopWindow(args, 10000);
    JsonWriter j;
    j.beginObject()
        .field("hwnd", HandleValue(w)).field("pid", PidOf(w))
        .field("title", U8(Caption(w))).field("class", U8(ClassName(w)))
        .flag("visible", ::IsWindowVisible(w) != FALSE)
        .endObject();
    Emit(j);
    return kOk;
}

int CmdDump(const Args& args) {
    HWND top = ResolveTopWindow(args);
    DWORD tid = 0, pid = PidOf(top, &tid);
    HWND focus = FocusOf(top);
    std::wstring probeError;
    Probe probe = ProbeWindow(top, &probeError);
    RECT wr, cr;
    ::GetWindowRect(top, &wr);
    ::GetClientRect(top, &cr);
    JsonWriter j;
    j.beginObject()
        .field("hwnd", HandleValue(top)).field("pid", pid).field("tid", tid)
        .field("title", U8(Caption(top))).field("class", U8(ClassName(top)))
        .flag("visible", ::IsWindowVisible(top) != FALSE)
        .flag("enabled", ::IsWindowEnabled(top) != FALSE)
        .flag("foreground", ::GetForegroundWindow() == top)
        .field("style", static_cast<long long>(::GetWindowLongPtrW(top, GWL_STYLE)))
        .field("exstyle", static_cast<long long>(::GetWindowLongPtrW(top, GWL_EXSTYLE)))
        .field("owner", HandleValue(::GetWindow(top, GW_OWNER)))
        .field("dpi", Dpi())
        .field("focus", HandleValue(focus))
        .field("focus_id", focus ? static_cast<long long>(::GetDlgCtrlID(focus)) : 0LL)
        .field("default_id", DefaultId(top))
        .field("probe_error", U8(probeError));
    auto self = probe.find(top);
    j.key("icon_big").beginObject()
        .field("width", self == probe.end() ? 0L : self->second.bigIconWidth)
        .field("height", self == probe.end() ? 0L : self->second.bigIconHeight).endObject();
    j.key("icon_small").beginObject()
        .field("width", self == probe.end() ? 0L : self->second.smallIconWidth)
        .field("height", self == probe.end() ? 0L : self->second.smallIconHeight).endObject();
    WriteFont(j, probe, top);
    WriteRect(j, "window_rect", wr);
    j.key("client").beginObject().field("width", cr.right).field("height", cr.bottom).endObject();
    j.key("controls").beginArray();
    WriteDescendants(j, probe, top, top, 0, focus);
    j.endArray();
    j.endObject();
    Emit(j);
    return kOk;
}

namespace {
HWND FindControl(HWND top, const Args& args) {
    std::vector<HWND> all;
    CollectDescendants(top, &all);
    bool byId = args.has(L"id");
    long long id = args.number(L"id", 0);
    std::wstring text = args.get(L"text");
    if (!byId && !args.has(L"text")) Fail(kFailed, L"name the control with --text or --id");
    for (HWND c : all) {
        if (byId ? ::GetDlgCtrlID(c) == id
                 : (WindowText(c) == text || StripMnemonic(WindowText(c)) == text))
            return c;
    }
    Fail(kTimedOut, byId ? vellum::Format(L"no control with id %lld", id) : L"no control with text \"" + text + L"\"");
}
}  // namespace

int CmdClick(const Args& args) {
    HWND top = ResolveTopWindow(args);
    HWND c = FindControl(top, args);
    bool visible = ::IsWindowVisible(c) != FALSE, enabled = ::IsWindowEnabled(c) != FALSE;
    bool force = args.has(L"force");
    if (!force && !visible) Fail(kRefused, L"the control is hidden: \"" + WindowText(c) + L"\"");
    if (!force && !enabled) Fail(kRefused, L"the control is disabled: \"" + WindowText(c) + L"\"");
    bool posted;
    if (force) {
        // A disabled button ignores the mouse; its parent still takes the command.
        posted = ::PostMessageW(::GetParent(c), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(c), BN_CLICKED),
                                reinterpret_cast<LPARAM>(c)) != FALSE;
    } else {
        posted = ::PostMessageW(c, BM_CLICK, 0, 0) != FALSE;
    }
    if (!posted) Fail(kFailed, L"could not post the click");
    JsonWriter j;
    j.beginObject().field("hwnd", HandleValue(c)).field("id", static_cast<long long>(::GetDlgCtrlID(c)))
        .field("text", U8(WindowText(c))).flag("visible", visible).flag("enabled", enabled).endObject();
    Emit(j);
    return kOk;
}

int CmdClose(const Args& args) {
    HWND top = ResolveTopWindow(args);
    bool ok = args.has(L"wmclose") ? ::PostMessageW(top, WM_CLOSE, 0, 0)
                                   : ::PostMessageW(top, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (!ok) Fail(kFailed, L"could not post the close request");
    JsonWriter j;
    j.beginObject().field("hwnd", HandleValue(top)).endObject();
    Emit(j);
    return kOk;
}

int CmdActivate(const Args& args) {
    HWND top = ResolveTopWindow(args);
    ::ShowWindow(top, SW_SHOW);
    ::BringWindowToTop(top);
    bool fg = ::SetForegroundWindow(top) != FALSE;
    // The window counts as the foreground before its own thread has handled
    // the activation: until then that thread's keyboard focus is still where
    // it was (another window of the thread, such as the wizard beside a
    // progress window), and keys typed then would go there.
    auto focused = [&] {
        GUITHREADINFO info = {sizeof(info)};
        if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(top, nullptr), &info)) return false;
        return info.hwndActive == top && (!info.hwndFocus || info.hwndFocus == top || ::IsChild(top, info.hwndFocus));
    };
    PollUntil(2000, [&] { return ::GetForegroundWindow() == top && focused(); });
    JsonWriter j;
    j.beginObject()
        .field("hwnd", HandleValue(top))
        .flag("foreground", fg && ::GetForegroundWindow() == top && focused())
        .field("x11_window", static_cast<long long>(reinterpret_cast<INT_PTR>(
                                 ::GetPropW(top, L"__wine_x11_whole_window"))))
        .endObject();
    Emit(j);
    return kOk;
}

// Records how controls change until their window goes: the fast sequences
// (a progress bar's positions) a poll from a new process each time would miss.
int CmdWatch(const Args& args) {
    HWND top = ResolveTopWindow(args, 10000);
    DWORD start = ::GetTickCount();
    DWORD limit = static_cast<DWORD>(args.number(L"for", 60000));
    DWORD interval = static_cast<DWORD>(args.number(L"interval", 5));
    struct Watched {
        long long id;
        HWND hwnd;
        bool progress;
        bool seen;
        std::wstring last;
    };
    std::vector<Watched> watched;
    for (const std::wstring& id : args.all(L"id")) {
        HWND c = ::GetDlgItem(top, static_cast<int>(ParseNumber(id, L"--id")));
        std::vector<HWND> all;
        CollectDescendants(top, &all);
        for (HWND d : all)
            if (!c && ::GetDlgCtrlID(d) == ParseNumber(id, L"--id")) c = d;
        if (!c) Fail(kFailed, L"no control with id " + id);
        watched.push_back({ParseNumber(id, L"--id"), c, IsClass(c, PROGRESS_CLASSW), false, L""});
    }
    if (watched.empty()) Fail(kFailed, L"watch needs --id (repeatable)");
    JsonWriter j;
    j.beginObject().field("hwnd", HandleValue(top)).key("changes").beginArray();
    bool gone = false;
    for (;;) {
        if (!::IsWindow(top)) { gone = true; break; }
        DWORD now = ::GetTickCount() - start;
        for (Watched& w : watched) {
            std::wstring value;
            if (w.progress) {
                LRESULT pos = 0;
                if (!SendWithTimeout(w.hwnd, PBM_GETPOS, 0, 0, &pos)) continue;
                value = std::to_wstring(static_cast<long long>(pos));
            } else {
                value = WindowText(w.hwnd);
            }
            // A control being destroyed reads empty: that is no change.
            if (!::IsWindow(w.hwnd)) continue;
            if (w.seen && value == w.last) continue;
            w.seen = true;
            w.last = value;
            j.beginObject().field("t", static_cast<long long>(now)).field("id", w.id);
            if (w.progress) {
                j.field("pos", static_cast<long long>(std::stoll(value)));
            } else {
                j.field("text", U8(value));
            }
            j.endObject();
        }
        if (now >= limit) break;
        ::Sleep(interval);
    }
    j.endArray().flag("gone", gone).endObject();
    Emit(j);
    return kOk;
}

// ---- message boxes -------------------------------------------------------

namespace {

struct MsgBoxParts {
    HWND box = nullptr;
    HWND icon = nullptr;   // the SS_ICON static, if any
    HWND text = nullptr;   // the static holding the message
    std::vector<HWND> buttons;
};

MsgBoxParts Parts(HWND box) {
    MsgBoxParts p;
    p.box = box;
    for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(c, GWL_STYLE));
        if (IsClass(c, L"Static")) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                p.icon = c;
            } else if (!p.text || (WindowText(p.text).empty() && !WindowText(c).empty())) {
                p.text = c;  // the message's static; it may be empty
            }
        } else if (IsClass(c, L"Button") && ::IsWindowVisible(c)) {
            p.buttons.push_back(c);
        }
    }
    return p;
}

bool IsMessageBox(HWND w) {
    if (ClassName(w) != L"#32770" || !::IsWindowVisible(w)) return false;
    MsgBoxParts p = Parts(w);
    return p.text != nullptr && !p.buttons.empty();
}

HWND FindMessageBox(const Args& args) {
    Query q = QueryFrom(args);
    q.cls = L"#32770";
    HWND found = nullptr;
    PollUntil(static_cast<DWORD>(args.number(L"timeout", 5000)), [&] {
        for (HWND w : FindTop(q)) {
            if (IsMessageBox(w)) { found = w; return true; }
        }
        return false;
    });
    if (!found) Fail(kTimedOut, L"no message box with " + Describe(q));
    return found;
}

// Which standard icon a message box shows, as the probe tells it from inside
// the box's process (Wine keeps icon handles per process).
std::string IconKindOf(const MsgBoxParts& p, std::wstring* error) {
    if (!p.icon || !::IsWindowVisible(p.icon)) return "none";
    Probe probe = ProbeWindow(p.box, error);
    auto it = probe.find(p.icon);
    if (it == probe.end()) return "unknown";
    switch (it->second.icon) {
    case kIconExclamation: return "exclamation";
    case kIconHand: return "stop";
    case kIconAsterisk: return "information";
    case kIconQuestion: return "question";
    case kIconOther: return "other";
    default: return "none";
    }
}

const struct { const char* name; int id; } kButtonIds[] = {
    {"ok", IDOK}, {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
    {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO}, {"close", IDCLOSE}, {"help", IDHELP},
};

// The button drawn as the default (what Enter presses); DM_GETDEFID where no
// button carries the default style.
long long DefaultButtonId(const MsgBoxParts& p) {
    for (HWND b : p.buttons)
        if ((::GetWindowLongPtrW(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return ::GetDlgCtrlID(b);
    return DefaultId(p.box);
}

const char* ButtonName(int id) {
    for (const auto& b : kButtonIds)
        if (b.id == id) return b.name;
    return "";
}

}  // namespace

int CmdMsgBox(const Args& args) {
    HWND box = FindMessageBox(args);
    MsgBoxParts p = Parts(box);
    std::wstring probeError;
    std::string icon = IconKindOf(p, &probeError);
    JsonWriter j;
    j.beginObject()
        .field("hwnd", HandleValue(box)).field("pid", PidOf(box))
        .field("owner", HandleValue(::GetWindow(box, GW_OWNER)))
        .field("title", U8(Caption(box))).field("text", U8(WindowText(p.text)))
        .field("icon", icon).field("probe_error", U8(probeError))
        .field("default_id", DefaultButtonId(p));
    j.key("buttons").beginArray();
    for (HWND b : p.buttons) {
        int id = ::GetDlgCtrlID(b);
        bool isDefault = (::GetWindowLongPtrW(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
        j.beginObject().field("id", id).field("name", ButtonName(id))
            .field("text", U8(WindowText(b))).flag("default", isDefault).endObject();
    }
    j.endArray().endObject();
    Emit(j);
    return kOk;
}

int CmdAnswer(const Args& args) {
    std::wstring name = vellum::ToLowerInvariant(args.get(L"button"));
    int id = -1;
    for (const auto& b : kButtonIds)
        if (U8(name) == b.name) id = b.id;
    if (id < 0) Fail(kFailed, L"--button must be ok, cancel, yes, no, abort, retry or ignore");
    HWND box = FindMessageBox(args);
    MsgBoxParts p = Parts(box);
    HWND button = nullptr;
    for (HWND b : p.buttons)
        if (::GetDlgCtrlID(b) == id) button = b;
    if (!button) Fail(kRefused, L"the message box has no " + name + L" button");
    if (!::IsWindowEnabled(button)) Fail(kRefused, L"the " + name + L" button is disabled");
    if (!::PostMessageW(button, BM_CLICK, 0, 0)) Fail(kFailed, L"could not post the click");
    bool closed = PollUntil(static_cast<DWORD>(args.number(L"timeout", 5000)), [&] { return !::IsWindow(box); });
    JsonWriter j;
    j.beginObject().field("hwnd", HandleValue(box)).field("button", U8(name)).flag("closed", closed).endObject();
    Emit(j);
    if (!closed) Fail(kTimedOut, L"the message box did not close after the answer");
    return kOk;
}

// ---- text fit -------------------------------------------------------------

namespace {

struct Fit {
    bool measured = false;
    SIZE need{};
    SIZE room{};
    bool fits = true;
    bool scrollable = false;
    const char* how = "";
};

// Measures text as the control would draw it, in the control's own font.
SIZE TextSize(HDC dc, const std::wstring& text, int width, UINT flags) {
    RECT r = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

Fit Measure(const Probe& probe, HWND c, int dpi) {
    Fit f;
    std::wstring cls = ClassName(c);
    std::wstring text = WindowText(c);
    DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(c, GWL_STYLE));
    LOGFONTW lf{};
    if (text.empty() || !ControlFont(probe, c, &lf)) return f;
    RECT client;
    ::GetClientRect(c, &client);
    int cw = client.right, ch = client.bottom;
    auto px = [dpi](int at96) { return ::MulDiv(at96, dpi, 96); };

    HDC dc = ::CreateCompatibleDC(nullptr);
    HFONT font = ::CreateFontIndirectW(&lf);
    HGDIOBJ old = ::SelectObject(dc, font);
    if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
        DWORD type = style & SS_TYPEMASK;
        if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT || type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE) {
            // The format the static control draws its text with.
            UINT format = type == SS_SIMPLE ? DT_SINGLELINE
                        : type == SS_LEFTNOWORDWRAP ? DT_EXPANDTABS : DT_EXPANDTABS | DT_WORDBREAK;
            if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
            if (type != SS_SIMPLE && (style & SS_CENTERIMAGE)) format = (format & ~DT_WORDBREAK) | DT_SINGLELINE;
            if (type != SS_SIMPLE && (style & SS_EDITCONTROL)) format |= DT_EDITCONTROL;
            f.how = (format & DT_WORDBREAK) ? "static-wrapped" : "static-unwrapped";
            f.room = SIZE{cw, ch};
            f.need = TextSize(dc, text, cw, format);
            f.measured = true;
        }
    } else if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
        DWORD type = style & BS_TYPEMASK;
        bool multi = (style & BS_MULTILINE) != 0;
        int glyph = 0, margin = 0;
        if (type == BS_GROUPBOX) {
            margin = px(8);  // the caption sits in the frame line, inset at both ends
            f.how = "groupbox";
        } else if (HasCheckState(style)) {
            // The box or circle, then a gap of half a digit's width.
            int digit = 0;
            ::GetCharWidth32W(dc, L'0', L'0', &digit);
            glyph = px(12) + 1 + digit / 2;
            f.how = "check";
        } else if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
            // The 3-D frame; the default button's black outline takes one
            // pixel more.
            margin = 2 + (type == BS_DEFPUSHBUTTON ? 1 : 0);
            f.how = "push";
        }
        if (*f.how) {
            int width = cw - glyph - 2 * margin;
            f.room = SIZE{width, type == BS_GROUPBOX ? ch : ch - 2 * margin};
            f.need = TextSize(dc, text, width, multi ? DT_WORDBREAK : DT_SINGLELINE);
            if (type == BS_GROUPBOX) f.need.cy = 0;  // only the width matters for a frame caption
            f.measured = true;
        }
    } else if (lstrcmpiW(cls.c_str(), L"Edit") == 0) {
        LRESULT margins = Ask(c, EM_GETMARGINS);
        int width = cw - LOWORD(margins) - HIWORD(margins);
        bool multi = (style & ES_MULTILINE) != 0;
        f.how = multi ? "edit-multiline" : "edit";
        f.room = SIZE{width, ch};
        f.need = TextSize(dc, text, width, DT_NOPREFIX | DT_EXPANDTABS | (multi ? DT_WORDBREAK : DT_SINGLELINE));
        f.scrollable = multi ? (style & (WS_VSCROLL | ES_AUTOVSCROLL)) != 0 : (style & ES_AUTOHSCROLL) != 0;
        f.measured = true;
    }
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::DeleteDC(dc);
    f.fits = f.need.cx <= f.room.cx && f.need.cy <= f.room.cy;
    return f;
}

}  // namespace

int CmdMeasure(const Args& args) {
    HWND top = ResolveTopWindow(args);
    int dpi = Dpi();
    std::vector<HWND> all;
    CollectDescendants(top, &all);
    std::wstring probeError;
    Probe probe = ProbeWindow(top, &probeError);
    if (probe.empty()) Fail(kFailed, L"cannot read the controls' fonts: " + probeError);
    JsonWriter j;
    bool allFit = true;
    j.beginObject().field("hwnd", HandleValue(top)).field("dpi", dpi).key("controls").beginArray();
    for (HWND c : all) {
        if (!::IsWindowVisible(c)) continue;
        Fit f = Measure(probe, c, dpi);
        if (!f.measured) continue;
        if (!f.fits && !f.scrollable) allFit = false;
        j.beginObject()
            .field("hwnd", HandleValue(c)).field("id", static_cast<long long>(::GetDlgCtrlID(c)))
            .field("class", U8(ClassName(c))).field("kind", f.how)
            .field("text", U8(WindowText(c).substr(0, 200)))
            .field("need_width", f.need.cx).field("need_height", f.need.cy)
            .field("room_width", f.room.cx).field("room_height", f.room.cy)
            .flag("fits", f.fits).flag("scrollable", f.scrollable)
            .endObject();
    }
    j.endArray().flag("all_fit", allFit).endObject();
    Emit(j);
    return kOk;
}


// ---- snapshot ---------------------------------------------------------------

namespace {

void WriteScreenRect(JsonWriter& j, const char* name, HWND w, bool client) {
    RECT r;
    if (client) {
        ::GetClientRect(w, &r);
        ::MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
    } else {
        ::GetWindowRect(w, &r);
    }
    WriteRect(j, name, r);
}

struct Control {
    HWND hwnd;
    DWORD style;
    bool visible;  // it and every ancestor have WS_VISIBLE, as IsWindowVisible tells
};

// Each ancestor's visibility is known on the way down, so a control costs one
// style read instead of one per ancestor.
void CollectControls(HWND parent, bool parentVisible, std::vector<Control>* out) {
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(c, GWL_STYLE));
        bool visible = parentVisible && (style & WS_VISIBLE) != 0;
        out->push_back({c, style, visible});
        CollectControls(c, visible, out);
    }
}

// Answers of the BM_GETCHECKs sent at once (SendMessageCallback), so that a
// look waits for the target's thread once rather than once per button. A
// look's number tags its answers: one that comes after its look gave up is
// dropped.
unsigned g_look = 0;
std::map<HWND, LRESULT> g_checks;

void CALLBACK OnCheck(HWND hwnd, UINT, ULONG_PTR look, LRESULT result) {
    if (look == g_look) g_checks[hwnd] = result;
}

// The check states of the buttons, every one asked before any answer is
// awaited; a button that does not answer within the send time-out reads 0,
// as with SendMessageTimeout.
std::map<HWND, LRESULT> CheckStates(const std::vector<HWND>& buttons) {
    ++g_look;
    g_checks.clear();
    size_t asked = 0;
    for (HWND b : buttons) {
        if (::SendMessageCallbackW(b, BM_GETCHECK, 0, 0, OnCheck, g_look)) ++asked;
    }
    DWORD start = ::GetTickCount();
    while (g_checks.size() < asked) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        if (g_checks.size() >= asked) break;
        DWORD spent = ::GetTickCount() - start;
        if (spent >= kSendTimeoutMs) break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, kSendTimeoutMs - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    std::map<HWND, LRESULT> states;
    states.swap(g_checks);
    ++g_look;
    return states;
}

}  // namespace

// One look at everything a robot user needs after each step, in one answer.
// It runs many times a second, so it is kept cheap: no font probe as in
// "dump", the controls' texts as the system keeps them (two sent messages per
// control cost more than all the rest; an edit's text is not kept there), the
// check states asked all at once, and with --pid no process list (the
// system's list costs as much as the windows).
int CmdSnapshot(const Args& args) {
    std::vector<std::wstring> exes;
    for (const auto& e : args.all(L"exe")) exes.push_back(vellum::ToLowerInvariant(e));
    std::vector<DWORD> pids;
    for (const auto& p : args.all(L"pid")) pids.push_back(static_cast<DWORD>(ParseNumber(p, L"--pid")));
    if (!pids.empty() && !exes.empty()) Fail(kFailed, L"snapshot takes --exe or --pid, not both");
    JsonWriter j;
    j.beginObject().key("processes").beginArray();
    if (!pids.empty()) {
        for (DWORD pid : pids)
            if (ProcessRunning(pid)) j.beginObject().field("pid", pid).endObject();
    } else {
        vellum::UniqueHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snap) Fail(kFailed, L"cannot list the processes");
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Process32FirstW(snap.get(), &entry); more; more = ::Process32NextW(snap.get(), &entry)) {
            if (entry.th32ProcessID == ::GetCurrentProcessId()) continue;
            j.beginObject().field("pid", entry.th32ProcessID).field("parent", entry.th32ParentProcessID)
                .field("exe", U8(entry.szExeFile)).endObject();
            std::wstring exe = vellum::ToLowerInvariant(entry.szExeFile);
            if (std::find(exes.begin(), exes.end(), exe) != exes.end()) pids.push_back(entry.th32ProcessID);
        }
    }
    j.endArray().key("windows").beginArray();
    HWND foreground = ::GetForegroundWindow();
    for (HWND w : TopWindows()) {
        DWORD pid = PidOf(w);
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) continue;
        std::wstring cls = ClassName(w);
        bool visible = ::IsWindowVisible(w) != FALSE;
        // COM's and the IME's hidden helper windows say nothing about the user interface.
        if (!visible && cls != L"#32770" && ::GetWindow(w, GW_CHILD) == nullptr) continue;
        j.beginObject()
            .field("hwnd", HandleValue(w)).field("pid", pid)
            .field("title", U8(Caption(w))).field("class", U8(cls))
            .flag("visible", visible)
            .flag("enabled", ::IsWindowEnabled(w) != FALSE)
            .flag("foreground", w == foreground)
            .field("owner", HandleValue(::GetWindow(w, GW_OWNER)));
        WriteScreenRect(j, "rect", w, false);
        WriteScreenRect(j, "client_rect", w, true);
        HWND focus = FocusOf(w);
        std::vector<Control> all;
        CollectControls(w, visible, &all);
        std::vector<std::wstring> classes;
        std::vector<HWND> buttons;
        for (const Control& c : all) {
            classes.push_back(ClassName(c.hwnd));
            if (lstrcmpiW(classes.back().c_str(), L"Button") == 0 && HasCheckState(c.style)) buttons.push_back(c.hwnd);
        }
        std::map<HWND, LRESULT> checks = CheckStates(buttons);
        j.key("controls").beginArray();
        for (size_t i = 0; i < all.size(); ++i) {
            const Control& c = all[i];
            bool isEdit = lstrcmpiW(classes[i].c_str(), L"Edit") == 0;
            j.beginObject()
                .field("hwnd", HandleValue(c.hwnd))
                .field("id", static_cast<long long>(::GetDlgCtrlID(c.hwnd)))
                .field("class", U8(classes[i]))
                .field("text", isEdit ? std::string() : U8(Caption(c.hwnd)))
                .flag("visible", c.visible)
                .flag("own_visible", (c.style & WS_VISIBLE) != 0)
                .flag("enabled", (c.style & WS_DISABLED) == 0)
                .flag("focused", c.hwnd == focus);
            if (std::find(buttons.begin(), buttons.end(), c.hwnd) != buttons.end()) {
                auto found = checks.find(c.hwnd);
                j.field("checked", static_cast<long long>(found == checks.end() ? 0 : found->second));
            }
            WriteScreenRect(j, "rect", c.hwnd, false);
            j.endObject();
        }
        j.endArray().endObject();
    }
    j.endArray().endObject();
    Emit(j);
    return kOk;
}

}  // namespace inspector
