// Shared declarations of the inspector's commands (see main.cpp for the
// command-line reference).
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "json_writer.h"

namespace inspector {

// Exit codes: the harness tells a refusal from a time-out by them.
enum ExitCode {
    kOk = 0,
    kFailed = 1,    // bad usage or a system call failed
    kTimedOut = 2,  // the window / process / message box did not appear or end in time
    kRefused = 3,   // the control is disabled or hidden (click without --force)
};

// The command line after the command name: "--name value" options (some
// repeatable), bare flags, and everything after "--" as the trailing command.
class Args {
public:
    Args(int argc, wchar_t** argv, int first);
    bool has(const wchar_t* name) const { return values_.count(name) != 0 || flags_.count(name) != 0; }
    std::wstring get(const wchar_t* name, const std::wstring& fallback = std::wstring()) const;
    const std::vector<std::wstring>& all(const wchar_t* name) const;
    long long number(const wchar_t* name, long long fallback) const;
    const std::vector<std::wstring>& trailing() const { return trailing_; }

private:
    std::map<std::wstring, std::vector<std::wstring>> values_;
    std::map<std::wstring, bool> flags_;
    std::vector<std::wstring> trailing_;
};

// Prints the message on stderr and ends the process with the code.
[[noreturn]] void Fail(int code, const std::wstring& message);
// Writes the JSON document and a line end on stdout.
void Emit(const JsonWriter& json);
std::string U8(const std::wstring& s);
long long ParseNumber(const std::wstring& text, const wchar_t* what);
long long HandleValue(const void* h);

// Whether the process still runs; a process held by "hold" is asked through
// the held handle, so its id cannot stand for a later process.
bool ProcessRunning(DWORD pid);

// Window helpers shared by the window commands.
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
// Finds the top-level window named by --hwnd or --title/--class/--pid,
// waiting up to --timeout ms (default 5000); fails with kTimedOut.
HWND ResolveTopWindow(const Args& args, long long defaultTimeoutMs = 5000);
// The text a user reads on a control: "&Next >" reads "Next >".
std::wstring StripMnemonic(const std::wstring& text);

int CmdList(const Args& args);
int CmdWait(const Args& args);
int CmdDump(const Args& args);
int CmdClick(const Args& args);
int CmdClose(const Args& args);
int CmdActivate(const Args& args);
int CmdWatch(const Args& args);
int CmdMsgBox(const Args& args);
int CmdAnswer(const Args& args);
int CmdMeasure(const Args& args);
int CmdRun(const Args& args);
int CmdEnv(const Args& args);
int CmdPs(const Args& args);
int CmdKill(const Args& args);
int CmdThreads(const Args& args);
int CmdWaitPid(const Args& args);
int CmdRegSet(const Args& args);
int CmdRegDelete(const Args& args);
int CmdRegGet(const Args& args);
int CmdRegAcl(const Args& args);
int CmdRegTree(const Args& args);
int CmdAt(const Args& args);
int CmdHold(const Args& args);
int CmdSnapshot(const Args& args);

}  // namespace inspector
