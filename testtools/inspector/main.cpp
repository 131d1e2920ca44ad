// inspector: looks at and drives the windows of another process in the same
// Wine prefix, for the Wine tests. Every answer is one JSON document on stdout;
// failures print a message on stderr and exit non-zero (1 failure or bad
// usage, 2 time-out / not found, 3 refused: control disabled or hidden).
//
// Finding a top-level window (dump, click, close, activate, measure, wait):
//   --hwnd H                 a window handle (decimal or 0x hex)
//   --title T                the caption; exact unless --contains
//   --class C  --pid P       further filters (Windows process id)
//   --visible                only visible windows
//   --timeout MS             how long to wait for it (default 5000)
//
// Commands:
//   list [--all]                 top-level windows (visible ones unless --all):
//                                [{hwnd,pid,tid,title,class,visible,owner}]
//   wait <find> [--gone]         waits until the window exists (or, --gone,
//                                until none matches): {hwnd,pid,title,class}
//   dump <find>                  the window and all its descendants:
//       {hwnd,pid,tid,title,class,visible,enabled,foreground,style,exstyle,
//        owner,dpi,focus,focus_id,default_id (DM_GETDEFID, -1 if none),
//        icon_big{width,height},icon_small{width,height} (0 x 0: no icon),
//        font,window_rect (screen),client{width,height},
//        probe_error ("" when fonts could be read),
//        controls:[{hwnd,id,parent,parent_id (0 = the window),depth,class,
//          text (whole, edits included),visible (IsWindowVisible),own_visible
//          (WS_VISIBLE),enabled,focused,style,exstyle,rect (in the window's
//          client area),parent_rect (in the parent's),client{width,height},
//          font{face,height,weight,italic,charset} or null,
//          buttons: button_type,default[,checked 0/1/2],
//          progress bars: progress{pos,min,max,smooth,vertical},
//          edits: edit{readonly,multiline,vscroll},
//          statics: static_type[,has_image]}]}
//       controls are in z-order (= tab order), each followed by its children
//   click <find> (--text X | --id N) [--force]
//                                presses a button like a user (BM_CLICK,
//                                posted so a modal box it opens never blocks);
//                                refuses a disabled or hidden control unless
//                                --force, which posts WM_COMMAND to its parent
//   close <find> [--wmclose]     the close box (WM_SYSCOMMAND SC_CLOSE), or WM_CLOSE
//   activate <find>              brings the window to the foreground (before
//                                xdotool sends keys to it); "foreground" is
//                                true once its thread's keyboard focus is in it;
//                                "x11_window": its X window under Wine (0 if none)
//   watch <find> --id N [--id M]... [--for MS] [--interval MS]
//                                waits for the window (10 s unless --timeout),
//                                then records every change of the controls
//                                (a progress bar's position, another
//                                control's text) until the window is gone or
//                                --for ms (default 60000) have passed:
//                                {hwnd,changes:[{t,id,pos|text}],gone}
//   msgbox [--title T] [--pid P] [--timeout MS]
//                                the newest message box: {hwnd,pid,title,text,
//                                icon,buttons:[{id,name,text,default}],default_id};
//                                icon is exclamation, stop, information,
//                                question, other, none or unknown (probe failed)
//   answer --button ok|cancel|yes|no|abort|retry|ignore [--title T] [--pid P]
//          [--timeout MS]        presses that message box button, then waits
//                                for the box to go: {hwnd,button,closed}
//   measure <find>               per visible static, button and edit with
//                                text, measured in its own font as it draws:
//                                {controls:[{hwnd,id,class,kind,text,need_width,
//                                need_height,room_width,room_height,fits,
//                                scrollable}],all_fit (scrollable edits aside)}
//   run [--env NAME=VALUE]... [--unset NAME]... [--clear-env] [--cwd DIR]
//       [--stdout FILE] [--stderr FILE] [--wait MS] [--suspended]
//       [--idle MS] (--cmdline TEXT | -- ARGS...)
//                                starts a process with a changed environment:
//                                {pid} or, with --wait, {pid,exited,exit_code};
//                                --suspended leaves its first thread suspended,
//                                as a creator dying half-way through does;
//                                --hold (without --wait) holds it as "hold" does;
//                                --idle first waits until it waits for input
//   env                          the inspector's own environment: {NAME: value}
//   ps                           the prefix's processes but this one:
//                                [{pid,parent,exe}]
//   waitpid --pid P [--timeout MS]   {pid,exited,exit_code}
//   kill --pid P [--code N]      ends a process: {pid,killed}
//   threads --pid P [--resume]   its threads, and how many are suspended
//                                (--resume lets those run):
//                                {pid,threads,suspended}
//   regset --key ROOT\PATH --name N (--type T) (--data TEXT | --hex BYTES)
//                                writes a registry value with exactly these
//                                bytes; T is sz, expand_sz, multi_sz, dword,
//                                binary, none or a number; --data is stored as
//                                UTF-16 with its terminator, --hex as given
//   regset --key ROOT\PATH --keyonly   creates the key alone
//   regdel --key ROOT\PATH [--name N]   deletes a value, or the key (tree)
//   regget --key ROOT\PATH [--name N]   {type, hex}: the value's exact bytes
//                                (exit 2 when the key or value is missing)
//   regtree --key ROOT\PATH        the key and everything below it:
//                                {"<key path, lower case>": ["<value name>=<type>:<hex bytes>", ...]}
//                                (exit 2 when the key is missing)
//   regacl --key ROOT\PATH --sddl TEXT   sets the key's access list (the key
//                                is created if missing): {set}
//   at --x X --y Y               the topmost visible top-level window at that
//                                screen point, in z-order, disabled ones too:
//                                {hwnd,pid,title,class,enabled,owner}
//   hold --pid P                 keeps a handle of the process, so that a later
//                                waitpid still tells its exit code: {pid,held}
//   snapshot [--exe NAME]...     processes and, for the processes of those
//                                program names, their top-level windows with
//                                their controls in screen coordinates:
//       {processes:[{pid,parent,exe}],windows:[{hwnd,pid,title,class,visible,
//        enabled,owner,foreground,rect,client_rect,controls:[{id,class,text,
//        visible,own_visible,enabled,focused,checked (buttons),rect}]}]}
//       (texts as the system keeps them: an edit's reads "")
//   snapshot --pid P [--pid Q]...  the same for those processes' windows;
//                                processes lists only those of them still
//                                running, as [{pid}] (held ones by their handle)
//   serve                        answers commands read from stdin, one per
//                                line, arguments separated by tabs, without a
//                                process start each: one line per command,
//                                {code,out,err} (out: the command's JSON)
//
// Fonts and message box icons are read inside the target process by
// inspector_probe.dll (next to inspector.exe), which a window hook loads
// there: Wine answers WM_GETFONT from another process with no font and
// keeps icon handles per process.
#include "commands.h"

#include <cstdio>
#include <cwchar>

#include "strings.h"

namespace inspector {

Args::Args(int argc, wchar_t** argv, int first) {
    static const wchar_t* const kFlags[] = {L"--contains", L"--exact", L"--visible", L"--force",
                                            L"--wmclose", L"--gone", L"--all", L"--clear-env", L"--resume",
                                            L"--suspended", L"--keyonly", L"--hold"};
    for (int i = first; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--") {
            for (++i; i < argc; ++i) trailing_.push_back(argv[i]);
            break;
        }
        if (a.rfind(L"--", 0) != 0) Fail(kFailed, L"unexpected argument: " + a);
        bool isFlag = false;
        for (const wchar_t* f : kFlags) isFlag = isFlag || a == f;
        if (isFlag) {
            flags_[a.substr(2)] = true;
        } else {
            if (i + 1 >= argc) Fail(kFailed, L"option needs a value: " + a);
            values_[a.substr(2)].push_back(argv[++i]);
        }
    }
}

std::wstring Args::get(const wchar_t* name, const std::wstring& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second.back();
}

const std::vector<std::wstring>& Args::all(const wchar_t* name) const {
    static const std::vector<std::wstring> none;
    auto it = values_.find(name);
    return it == values_.end() ? none : it->second;
}

long long Args::number(const wchar_t* name, long long fallback) const {
    auto it = values_.find(name);
    return it == values_.end() ? fallback : ParseNumber(it->second.back(), name);
}

long long ParseNumber(const std::wstring& text, const wchar_t* what) {
    wchar_t* end = nullptr;
    long long v = wcstoll(text.c_str(), &end, 0);
    if (text.empty() || *end != L'\0') Fail(kFailed, std::wstring(L"not a number for ") + what + L": " + text);
    return v;
}

long long HandleValue(const void* h) { return static_cast<long long>(reinterpret_cast<INT_PTR>(h)); }

std::string U8(const std::wstring& s) { return vellum::WideToUtf8(s); }

namespace {
void WriteAll(DWORD which, const std::string& bytes) {
    HANDLE h = ::GetStdHandle(which);
    DWORD written = 0;
    if (h && h != INVALID_HANDLE_VALUE)
        ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
}  // namespace

namespace {
// In serve mode a command's answer and failure are collected for its line
// instead of being written and ending the process.
bool g_serving = false;
std::string g_served;
struct Served {
    int code;
    std::wstring message;
};
}  // namespace

void Fail(int code, const std::wstring& message) {
    if (g_serving) throw Served{code, message};
    WriteAll(STD_ERROR_HANDLE, "inspector: " + U8(message) + "\n");
    ::ExitProcess(static_cast<UINT>(code));
}

void Emit(const JsonWriter& json) {
    if (g_serving) g_served = json.text();
    else WriteAll(STD_OUTPUT_HANDLE, json.text() + "\n");
}

struct Command {
    const wchar_t* name;
    int (*run)(const Args&);
};
int RunCommand(const Command* commands, size_t count, int argc, wchar_t** argv);

namespace {
// Reads tab-separated command lines from stdin until it ends.
int Serve(const Command* commands, size_t count) {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buf[4096];
    for (;;) {
        size_t eol;
        while ((eol = pending.find('\n')) == std::string::npos) {
            DWORD got = 0;
            if (!::ReadFile(in, buf, sizeof(buf), &got, nullptr) || got == 0) return kOk;
            pending.append(buf, got);
        }
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::wstring> words{L"inspector"};
        std::wstring wide = vellum::Utf8ToWide(line);
        size_t start = 0;
        for (;;) {
            size_t tab = wide.find(L'\t', start);
            words.push_back(wide.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        std::vector<wchar_t*> argv;
        for (auto& w : words) argv.push_back(&w[0]);
        g_served.clear();
        int code = kOk;
        std::wstring message;
        g_serving = true;
        try {
            code = RunCommand(commands, count, static_cast<int>(argv.size()), argv.data());
        } catch (const Served& f) {
            code = f.code;
            message = f.message;
        }
        g_serving = false;
        JsonWriter err;
        err.str(U8(message));
        WriteAll(STD_OUTPUT_HANDLE, "{\"code\":" + std::to_string(code) + ",\"out\":" +
                                        (g_served.empty() ? std::string("null") : g_served) +
                                        ",\"err\":" + err.text() + "}\n");
    }
}
}  // namespace

int RunCommand(const Command* commands, size_t count, int argc, wchar_t** argv) {
    if (argc < 2) Fail(kFailed, L"usage: inspector <command> [options]; see main.cpp for the reference");
    if (wcscmp(argv[1], L"serve") == 0) {
        if (g_serving) Fail(kFailed, L"serve does not nest");
        return Serve(commands, count);
    }
    for (size_t i = 0; i < count; ++i) {
        if (wcscmp(argv[1], commands[i].name) == 0) {
            Args args(argc, argv, 2);
            return commands[i].run(args);
        }
    }
    Fail(kFailed, std::wstring(L"unknown command: ") + argv[1]);
}

}  // namespace inspector

int wmain(int argc, wchar_t** argv) {
    using namespace inspector;
    static const Command kCommands[] = {
        {L"list", CmdList},       {L"wait", CmdWait},         {L"dump", CmdDump},
        {L"click", CmdClick},     {L"close", CmdClose},       {L"activate", CmdActivate}, {L"watch", CmdWatch},
        {L"msgbox", CmdMsgBox},   {L"answer", CmdAnswer},     {L"measure", CmdMeasure},
        {L"run", CmdRun},         {L"env", CmdEnv},           {L"ps", CmdPs},        {L"waitpid", CmdWaitPid},   {L"kill", CmdKill},
        {L"threads", CmdThreads},
        {L"regset", CmdRegSet},   {L"regdel", CmdRegDelete},   {L"regget", CmdRegGet},
        {L"regacl", CmdRegAcl},   {L"regtree", CmdRegTree},   {L"at", CmdAt},
        {L"hold", CmdHold},       {L"snapshot", CmdSnapshot},
    };
    return RunCommand(kCommands, sizeof(kCommands) / sizeof(kCommands[0]), argc, argv);
}
