// Test helper: holds a file open without sharing (as another program using
// the file would) until it is ended or the time runs out.
//   holdfile <path> <seconds>
// Creates <path>.held once the file is open, so the test knows when to go on.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    HANDLE f = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    std::wstring marker = std::wstring(argv[1]) + L".held";
    HANDLE m = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (m != INVALID_HANDLE_VALUE) ::CloseHandle(m);
    ::Sleep(static_cast<DWORD>(_wtoi(argv[2])) * 1000);
    ::CloseHandle(f);
    return 0;
}
