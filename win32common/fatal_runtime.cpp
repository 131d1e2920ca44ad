// Linked into the shipped programs, which are built without exceptions: the
// C++ library's throw paths (a string grown past its limit, memory that runs
// out) end here in one box and a failing exit code. The library's own
// versions would throw, which pulls in the unwinder, the exception objects
// and their tables.
#include <windows.h>

#include <bits/functexcept.h>
#include <cstdlib>
#include <new>

#include "fatal_runtime.h"

namespace vellum {

void FatalStop(const char* what) {
    wchar_t text[256];
    // The library's own words name the limit that was hit; they are ASCII.
    ::wsprintfW(text, L"Setup cannot continue: %.200hs.", what);
    ::MessageBoxW(nullptr, text, L"Setup", MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
    ::ExitProcess(kExitFatal);
}

}  // namespace vellum

namespace std {

void __throw_bad_alloc() { vellum::FatalStop("there is not enough memory"); }
void __throw_bad_array_new_length() { vellum::FatalStop("there is not enough memory"); }
void __throw_length_error(const char* what) { vellum::FatalStop(what); }
void __throw_logic_error(const char* what) { vellum::FatalStop(what); }
void __throw_out_of_range(const char* what) { vellum::FatalStop(what); }
void __throw_out_of_range_fmt(const char* what, ...) { vellum::FatalStop(what); }
void __throw_invalid_argument(const char* what) { vellum::FatalStop(what); }
void __throw_bad_function_call() { vellum::FatalStop("an empty function was called"); }

}  // namespace std

// The library's operator new throws std::bad_alloc.
void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) std::__throw_bad_alloc();
    return p;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
