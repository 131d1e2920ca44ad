#include "strings.h"

#include <windows.h>
#include <cstdarg>
#include <cwchar>

namespace vellum {

std::wstring BytesToWide(const std::string& bytes, unsigned codePage) {
    if (bytes.empty()) return std::wstring();
    int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

std::string WideToBytes(const std::wstring& s, unsigned codePage) {
    if (s.empty()) return std::string();
    int n = ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(const std::string& s) { return BytesToWide(s, CP_UTF8); }
std::string WideToUtf8(const std::wstring& s) { return WideToBytes(s, CP_UTF8); }

std::wstring ToLowerInvariant(const std::wstring& s) {
    std::wstring out(s);
    if (!out.empty()) ::CharLowerBuffW(&out[0], static_cast<DWORD>(out.size()));
    return out;
}

std::wstring Format(const wchar_t* fmt, ...) {
    wchar_t buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = _vsnwprintf(buf, 1023, fmt, ap);
    va_end(ap);
    buf[1023] = L'\0';
    return std::wstring(buf, n < 0 ? wcslen(buf) : static_cast<size_t>(n));
}

}  // namespace vellum
