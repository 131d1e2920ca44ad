// Process and registry commands. A program started from the host through
// Wine gets the environment Wine builds for it; "run" starts it from inside
// the prefix instead, with exactly the environment block the test asks for.
#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <vector>

#include "handles.h"
#include "commands.h"
#include "strings.h"

namespace inspector {
namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) return a;
    std::wstring out = L"\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < a.size() && a[i] == L'\\') { ++i; ++slashes; }
        if (i == a.size()) { out.append(slashes * 2, L'\\'); break; }
        if (a[i] == L'"') {
            out.append(slashes * 2 + 1, L'\\');
        } else {
            out.append(slashes, L'\\');
        }
        out += a[i];
    }
    return out + L"\"";
}

std::wstring NameOf(const std::wstring& entry) {
    // "=C:=C:\dir" entries keep their leading '=' as part of the name.
    size_t eq = entry.find(L'=', 1);
    return eq == std::wstring::npos ? entry : entry.substr(0, eq);
}

std::vector<std::wstring> CurrentEnvironment() {
    std::vector<std::wstring> env;
    wchar_t* block = ::GetEnvironmentStringsW();
    for (const wchar_t* p = block; p && *p; p += wcslen(p) + 1) env.emplace_back(p);
    if (block) ::FreeEnvironmentStringsW(block);
    return env;
}

void Remove(std::vector<std::wstring>* env, const std::wstring& name) {
    env->erase(std::remove_if(env->begin(), env->end(),
                              [&](const std::wstring& e) { return _wcsicmp(NameOf(e).c_str(), name.c_str()) == 0; }),
               env->end());
}

// The block CreateProcessW takes: sorted by name without regard to case, as
// Windows keeps it, each entry ended by a null and the block by another.
std::wstring BuildBlock(const Args& args) {
    std::vector<std::wstring> env;
    if (!args.has(L"clear-env")) env = CurrentEnvironment();
    for (const std::wstring& name : args.all(L"unset")) Remove(&env, name);
    for (const std::wstring& assignment : args.all(L"env")) {
        size_t eq = assignment.find(L'=', 1);
        if (eq == std::wstring::npos) Fail(kFailed, L"--env needs NAME=VALUE: " + assignment);
        Remove(&env, assignment.substr(0, eq));
        env.push_back(assignment);
    }
    std::stable_sort(env.begin(), env.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(NameOf(a).c_str(), NameOf(b).c_str()) < 0;
    });
    std::wstring block;
    for (const std::wstring& e : env) {
        block += e;
        block += L'\0';
    }
    block += L'\0';
    if (env.empty()) block += L'\0';
    return block;
}

HANDLE OpenOutput(const std::wstring& path) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail(kFailed, L"cannot create " + path);
    return h;
}

void EmitExit(DWORD pid, HANDLE process, bool exited) {
    DWORD code = 0;
    JsonWriter j;
    j.beginObject().field("pid", pid).flag("exited", exited).key("exit_code");
    if (exited && process && ::GetExitCodeProcess(process, &code)) {
        j.num(static_cast<long long>(code));
    } else {
        j.null();
    }
    j.endObject();
    Emit(j);
}

}  // namespace

std::map<DWORD, HANDLE>& Held();

int CmdRun(const Args& args) {
    std::wstring commandLine = args.get(L"cmdline");
    if (!args.has(L"cmdline")) {
        if (args.trailing().empty()) Fail(kFailed, L"run needs --cmdline TEXT or -- PROGRAM ARGS...");
        for (const std::wstring& a : args.trailing()) {
            if (!commandLine.empty()) commandLine += L' ';
            commandLine += QuoteArgument(a);
        }
    }
    std::wstring block = BuildBlock(args);
    std::wstring cwd = args.get(L"cwd");

    STARTUPINFOW si{};
    si.cb = sizeof(si);
    vellum::UniqueHandle out, err;
    bool redirect = args.has(L"stdout") || args.has(L"stderr");
    if (redirect) {
        if (args.has(L"stdout")) out.reset(OpenOutput(args.get(L"stdout")));
        if (args.has(L"stderr")) err.reset(OpenOutput(args.get(L"stderr")));
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out ? out.get() : ::GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = err ? err.get() : ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, redirect ? TRUE : FALSE,
                          CREATE_UNICODE_ENVIRONMENT | (args.has(L"suspended") ? CREATE_SUSPENDED : 0), &block[0],
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
        Fail(kFailed, vellum::Format(L"CreateProcess failed (error %lu): ", ::GetLastError()) + commandLine);
    }
    vellum::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    // A program's first wait for input comes after its start-up (a server's
    // class registration, a window's creation): a test can act on that state.
    if (args.has(L"idle") &&
        ::WaitForInputIdle(pi.hProcess, static_cast<DWORD>(args.number(L"idle", 0))) != 0) {
        Fail(kTimedOut, vellum::Format(L"process %lu never waited for input", pi.dwProcessId));
    }
    if (!args.has(L"wait")) {
        // Held, a process that ends at once still tells its exit code.
        if (args.has(L"hold")) Held()[pi.dwProcessId] = process.release();
        JsonWriter j;
        j.beginObject().field("pid", pi.dwProcessId).endObject();
        Emit(j);
        return kOk;
    }
    bool exited = ::WaitForSingleObject(pi.hProcess, static_cast<DWORD>(args.number(L"wait", 0))) == WAIT_OBJECT_0;
    EmitExit(pi.dwProcessId, pi.hProcess, exited);
    if (!exited) Fail(kTimedOut, vellum::Format(L"process %lu still running after the wait", pi.dwProcessId));
    return kOk;
}

int CmdEnv(const Args&) {
    JsonWriter j;
    j.beginObject();
    for (const std::wstring& e : CurrentEnvironment()) {
        std::wstring name = NameOf(e);
        j.field(U8(name).c_str(), U8(e.size() > name.size() ? e.substr(name.size() + 1) : std::wstring()));
    }
    j.endObject();
    Emit(j);
    return kOk;
}

int CmdPs(const Args&) {
    vellum::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) Fail(kFailed, L"cannot list the processes");
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    JsonWriter j;
    j.beginArray();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId()) continue;
        j.beginObject().field("pid", entry.th32ProcessID).field("parent", entry.th32ParentProcessID)
            .field("exe", U8(entry.szExeFile)).endObject();
    }
    j.endArray();
    Emit(j);
    return kOk;
}

// Handles kept by "hold" and "run --hold" (serve mode): an ended process's
// exit code stays readable for as long as a handle to it is open.
std::map<DWORD, HANDLE>& Held() {
    static std::map<DWORD, HANDLE> held;
    return held;
}

bool ProcessRunning(DWORD pid) {
    auto held = Held().find(pid);
    if (held != Held().end()) return ::WaitForSingleObject(held->second, 0) == WAIT_TIMEOUT;
    vellum::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

int CmdHold(const Args& args) {
    DWORD pid = static_cast<DWORD>(args.number(L"pid", 0));
    if (!pid) Fail(kFailed, L"hold needs --pid");
    if (!Held().count(pid)) {
        HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
        if (!h) Fail(kTimedOut, vellum::Format(L"no process %lu", pid));
        Held()[pid] = h;
    }
    JsonWriter j;
    j.beginObject().field("pid", pid).flag("held", true).endObject();
    Emit(j);
    return kOk;
}

int CmdWaitPid(const Args& args) {
    DWORD pid = static_cast<DWORD>(args.number(L"pid", 0));
    if (!pid) Fail(kFailed, L"waitpid needs --pid");
    HANDLE h = nullptr;
    auto held = Held().find(pid);
    if (held != Held().end())
        ::DuplicateHandle(::GetCurrentProcess(), held->second, ::GetCurrentProcess(), &h, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    else
        h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    vellum::UniqueHandle process(h);
    if (!process) {  // no such process (any more): it has ended, its code is lost
        EmitExit(pid, nullptr, true);
        return kOk;
    }
    bool exited = ::WaitForSingleObject(process.get(), static_cast<DWORD>(args.number(L"timeout", 10000))) == WAIT_OBJECT_0;
    EmitExit(pid, process.get(), exited);
    if (!exited) Fail(kTimedOut, vellum::Format(L"process %lu still running", pid));
    return kOk;
}

int CmdKill(const Args& args) {
    DWORD pid = static_cast<DWORD>(args.number(L"pid", 0));
    if (!pid) Fail(kFailed, L"kill needs --pid");
    vellum::UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    bool killed = false;
    if (process) {
        killed = ::TerminateProcess(process.get(), static_cast<UINT>(args.number(L"code", 1))) != FALSE;
        ::WaitForSingleObject(process.get(), 5000);
    }
    JsonWriter j;
    j.beginObject().field("pid", pid).flag("killed", killed).endObject();
    Emit(j);
    return kOk;
}

// How many of a process's threads are suspended. A process whose creator is
// killed in the middle of creating it keeps its first thread suspended at its
// entry point for good: it never started, so no one should wait for its end.
int CmdThreads(const Args& args) {
    DWORD pid = static_cast<DWORD>(args.number(L"pid", 0));
    if (!pid) Fail(kFailed, L"threads needs --pid");
    vellum::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) Fail(kFailed, L"cannot list the threads");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    long threads = 0, suspended = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        ++threads;
        vellum::UniqueHandle thread(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (!thread) continue;
        // SuspendThread answers the count it found; the resume puts it back.
        DWORD before = ::SuspendThread(thread.get());
        if (before == static_cast<DWORD>(-1)) continue;
        ::ResumeThread(thread.get());
        if (before > 0) ++suspended;
        // --resume lets a suspended thread run (its count drops to zero).
        // ResumeThread answers the count before it (-1 when it fails).
        if (before > 0 && args.has(L"resume")) {
            for (DWORD previous = before + 1; previous > 1 && previous != static_cast<DWORD>(-1);)
                previous = ::ResumeThread(thread.get());
        }
    }
    JsonWriter j;
    j.beginObject().field("pid", pid).field("threads", threads).field("suspended", suspended).endObject();
    Emit(j);
    return kOk;
}

// ---- registry -------------------------------------------------------------

namespace {

HKEY SplitKey(const std::wstring& full, std::wstring* path) {
    size_t slash = full.find(L'\\');
    std::wstring root = vellum::ToLowerInvariant(full.substr(0, slash));
    *path = slash == std::wstring::npos ? std::wstring() : full.substr(slash + 1);
    if (root == L"hklm" || root == L"hkey_local_machine") return HKEY_LOCAL_MACHINE;
    if (root == L"hkcu" || root == L"hkey_current_user") return HKEY_CURRENT_USER;
    if (root == L"hkcr" || root == L"hkey_classes_root") return HKEY_CLASSES_ROOT;
    if (root == L"hku" || root == L"hkey_users") return HKEY_USERS;
    Fail(kFailed, L"unknown registry root in " + full);
}

DWORD TypeOf(const std::wstring& name) {
    static const struct { const wchar_t* name; DWORD type; } kTypes[] = {
        {L"sz", REG_SZ}, {L"expand_sz", REG_EXPAND_SZ}, {L"multi_sz", REG_MULTI_SZ},
        {L"dword", REG_DWORD}, {L"binary", REG_BINARY}, {L"none", REG_NONE}, {L"qword", REG_QWORD},
    };
    for (const auto& t : kTypes)
        if (name == t.name) return t.type;
    return static_cast<DWORD>(ParseNumber(name, L"--type"));
}

std::string HexBytes(const std::wstring& hex) {
    std::string out;
    int half = -1;
    for (wchar_t c : hex) {
        int v = (c >= L'0' && c <= L'9') ? c - L'0' : (c >= L'a' && c <= L'f') ? c - L'a' + 10
              : (c >= L'A' && c <= L'F') ? c - L'A' + 10 : -1;
        if (v < 0) {
            if (c == L' ' || c == L',' || c == L':') continue;
            Fail(kFailed, L"--hex takes hex digits: " + hex);
        }
        if (half < 0) { half = v; } else { out += static_cast<char>(half * 16 + v); half = -1; }
    }
    if (half >= 0) Fail(kFailed, L"--hex needs whole bytes: " + hex);
    return out;
}

struct UnicodeString {
    USHORT Length;
    USHORT MaximumLength;
    wchar_t* Buffer;
};
using NtSetValueKeyFn = LONG(WINAPI*)(HANDLE, UnicodeString*, ULONG, ULONG, void*, ULONG);

std::string Hex(const BYTE* data, DWORD size) {
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += hex[data[i] >> 4];
        text += hex[data[i] & 15];
    }
    return text;
}

std::string Utf16Bytes(const std::wstring& s) {
    return std::string(reinterpret_cast<const char*>(s.c_str()), (s.size() + 1) * sizeof(wchar_t));
}

}  // namespace

int CmdRegSet(const Args& args) {
    std::wstring path;
    HKEY root = SplitKey(args.get(L"key"), &path);
    DWORD type = TypeOf(args.get(L"type", L"sz"));
    std::string data;
    if (args.has(L"hex")) {
        data = HexBytes(args.get(L"hex"));
    } else if (type == REG_DWORD) {
        DWORD v = static_cast<DWORD>(ParseNumber(args.get(L"data"), L"--data"));
        data.assign(reinterpret_cast<const char*>(&v), sizeof(v));
    } else if (type == REG_MULTI_SZ) {
        for (const std::wstring& s : args.all(L"data")) data += Utf16Bytes(s);
        data += Utf16Bytes(L"");
    } else {
        data = Utf16Bytes(args.get(L"data"));
    }
    vellum::UniqueHKey key;
    LONG rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) Fail(kFailed, vellum::Format(L"cannot open the key (error %ld): ", rc) + path);
    if (args.has(L"keyonly")) {  // a key that holds no value of its own
        JsonWriter j;
        j.beginObject().flag("created", true).endObject();
        Emit(j);
        return kOk;
    }
    // RegSetValueEx may add a terminator a string lacks (Wine does); the
    // native call stores exactly the bytes given, odd ones included.
    std::wstring name = args.get(L"name");
    UnicodeString valueName = {static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                               static_cast<USHORT>(name.size() * sizeof(wchar_t)), &name[0]};
    auto setValue = reinterpret_cast<NtSetValueKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
    if (!setValue) Fail(kFailed, L"NtSetValueKey is missing");
    LONG status = setValue(key.get(), &valueName, 0, type, const_cast<char*>(data.data()),
                           static_cast<ULONG>(data.size()));
    if (status != 0) Fail(kFailed, vellum::Format(L"cannot set the value (status 0x%08lx)", status));
    JsonWriter j;
    j.beginObject().field("type", type).field("bytes", static_cast<long long>(data.size())).endObject();
    Emit(j);
    return kOk;
}

int CmdRegGet(const Args& args) {
    std::wstring path;
    HKEY root = SplitKey(args.get(L"key"), &path);
    vellum::UniqueHKey key;
    LONG rc = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.put());
    std::wstring name = args.get(L"name");
    const wchar_t* valueName = args.has(L"name") ? name.c_str() : nullptr;
    DWORD type = 0, size = 0;
    if (rc == ERROR_SUCCESS) rc = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1);
    if (rc == ERROR_SUCCESS) rc = ::RegQueryValueExW(key.get(), valueName, nullptr, &type, data.data(), &size);
    if (rc == ERROR_FILE_NOT_FOUND) Fail(kTimedOut, L"no such key or value");
    if (rc != ERROR_SUCCESS) Fail(kFailed, vellum::Format(L"cannot read the value (error %ld)", rc));
    JsonWriter j;
    j.beginObject().field("type", type).field("hex", Hex(data.data(), size)).endObject();
    Emit(j);
    return kOk;
}

namespace {

// Every key below path (path itself included) and every value, sorted by name.
void ReadTree(HKEY root, const std::wstring& path, std::map<std::wstring, std::vector<std::string>>* keys) {
    vellum::UniqueHKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    std::vector<std::string>& values = (*keys)[path];
    std::map<std::wstring, std::string> sorted;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLen = 16384, type = 0, size = 0;
        if (::RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 1);
        nameLen = 16384;
        if (::RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        sorted[std::wstring(name, nameLen)] = std::to_string(type) + ":" + Hex(data.data(), size);
    }
    for (const auto& v : sorted) values.push_back(U8(v.first) + "=" + v.second);
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, len);
    }
    for (const std::wstring& sub : subkeys) ReadTree(root, path + L"\\" + sub, keys);
}
}  // namespace

int CmdRegTree(const Args& args) {
    std::wstring path;
    HKEY root = SplitKey(args.get(L"key"), &path);
    std::map<std::wstring, std::vector<std::string>> keys;
    ReadTree(root, path, &keys);
    if (keys.empty()) Fail(kTimedOut, L"no such key");
    JsonWriter j;
    j.beginObject();
    for (const auto& k : keys) {
        j.key(U8(vellum::ToLowerInvariant(k.first)).c_str()).beginArray();
        for (const std::string& v : k.second) j.str(v);
        j.endArray();
    }
    j.endObject();
    Emit(j);
    return kOk;
}

int CmdRegAcl(const Args& args) {
    std::wstring path;
    HKEY root = SplitKey(args.get(L"key"), &path);
    vellum::UniqueHKey key;
    LONG rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, WRITE_DAC, nullptr,
                                key.put(), nullptr);
    if (rc != ERROR_SUCCESS) Fail(kFailed, vellum::Format(L"cannot open the key (error %ld)", rc));
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(args.get(L"sddl").c_str(), SDDL_REVISION_1, &sd,
                                                                nullptr))
        Fail(kFailed, vellum::Format(L"bad --sddl (error %lu)", ::GetLastError()));
    rc = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd);
    ::LocalFree(sd);
    if (rc != ERROR_SUCCESS) Fail(kFailed, vellum::Format(L"cannot set the key's security (error %ld)", rc));
    JsonWriter j;
    j.beginObject().flag("set", true).endObject();
    Emit(j);
    return kOk;
}

int CmdRegDelete(const Args& args) {
    std::wstring path;
    HKEY root = SplitKey(args.get(L"key"), &path);
    LONG rc;
    if (args.has(L"name")) {
        vellum::UniqueHKey key;
        rc = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.put());
        if (rc == ERROR_SUCCESS) rc = ::RegDeleteValueW(key.get(), args.get(L"name").c_str());
    } else {
        rc = static_cast<LONG>(::SHDeleteKeyW(root, path.c_str()));
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) Fail(kFailed, vellum::Format(L"cannot delete (error %ld)", rc));
    JsonWriter j;
    j.beginObject().flag("existed", rc == ERROR_SUCCESS).endObject();
    Emit(j);
    return kOk;
}

}  // namespace inspector
