// The yardstick of the extraction benchmark: writes the same payload as the
// launcher, from the same kind of resources, with nothing but a bare
// CreateFile/WriteFile loop: no window, no messages, no catalogue, no checks
// beyond what writing needs. Usage: baselinewriter <folder ending in \>
// ("--noop" stands in for the installation script: the benchmark prefix
// opens scripts with it; it takes the script's lock, VellumSetup.lock in its
// current folder, the launcher's working folder, and ends).
// "--first-window <result file> <command line>" starts the command line and
// writes "<tenths of a ms> <exit code>" to the result file: the time from
// just before the process is created to its first visible top-level window,
// and its exit code (the program is waited for, at most 60 s; -10 when no
// window showed, exit code -1 when it had to be ended).
#include <windows.h>

#include <string>
#include <vector>

namespace {

bool Resource(int id, const void** data, DWORD* size) {
    HRSRC r = ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!r) return false;
    HGLOBAL h = ::LoadResource(nullptr, r);
    if (!h) return false;
    *size = ::SizeofResource(nullptr, r);
    *data = ::LockResource(h);
    return *data != nullptr;
}

bool Write(const std::wstring& path, const void* data, DWORD size) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(f, data, size, &written, nullptr);
    ::CloseHandle(f);
    return ok && written == size;
}

struct WindowSearch {
    DWORD pid;
    bool found;
};

BOOL CALLBACK FindVisibleWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && ::IsWindowVisible(hwnd)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

int FirstWindow(const std::wstring& args) {
    const size_t cut = args.find(L' ');
    if (cut == std::wstring::npos) return 2;
    const std::wstring resultPath = args.substr(0, cut);
    std::wstring commandLine = args.substr(cut + 1);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    LARGE_INTEGER frequency, start, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 3;
    double ms = -1;
    WindowSearch search = {pi.dwProcessId, false};
    while (::WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT) {
        ::EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            ::QueryPerformanceCounter(&now);
            ms = (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
            break;
        }
    }
    DWORD code = 0;
    const bool ended = ::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) ::TerminateProcess(pi.hProcess, 1);
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    char text[64];
    const int n = ::wsprintfA(text, "%d %ld", static_cast<int>(ms * 10), ended ? static_cast<long>(code) : -1L);
    HANDLE f = ::CreateFileW(resultPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (f == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(f, text, static_cast<DWORD>(n), &written, nullptr);
    return ::CloseHandle(f) && ok && written == static_cast<DWORD>(n) ? 0 : 4;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
    std::wstring folder = cmd ? cmd : L"";
    if (folder.empty()) return 2;
    if (folder.compare(0, 6, L"--noop") == 0) {
        HANDLE lock = ::CreateFileW(L"VellumSetup.lock", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE) return 4;
        ::CloseHandle(lock);
        return 0;
    }
    if (folder.compare(0, 15, L"--first-window ") == 0) return FirstWindow(folder.substr(15));
    const void* list = nullptr;
    DWORD listSize = 0;
    if (!Resource(100, &list, &listSize) || !Write(folder + L"filesList.txt", list, listSize)) return 3;
    // The list is single-byte text, one name per CR LF line.
    const char* p = static_cast<const char*>(list);
    std::vector<std::wstring> names;
    std::wstring line;
    for (DWORD i = 0; i < listSize; ++i) {
        if (p[i] == '\r') continue;
        if (p[i] == '\n') {
            names.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<unsigned char>(p[i]));
        }
    }
    if (!line.empty()) names.push_back(line);
    int failures = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const void* data = nullptr;
        DWORD size = 0;
        if (!Resource(101 + static_cast<int>(i), &data, &size) || !Write(folder + names[i], data, size)) ++failures;
    }
    return failures ? 1 : 0;
}
