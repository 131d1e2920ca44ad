// Built like the shipped programs (no exceptions, the fatal runtime): hits
// one of the C++ library's limits on request, so that a test can see how
// such a program ends. Usage: fatalprobe length|memory
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
    const std::wstring what = cmd ? cmd : L"";
    if (what == L"length") {
        std::wstring text;
        text.reserve(text.max_size() + 1);  // past the library's limit
    } else if (what == L"memory") {
        // More than a 32-bit process (or Wine's 64-bit heap) can give at once.
        // The pointer is kept in a volatile so that the compiler cannot drop
        // the allocation as unused.
        volatile size_t size = static_cast<size_t>(-1) / 2;
        char* volatile block = new char[size];
        delete[] block;
    }
    return 0;  // only reached with no or an unknown request
}
