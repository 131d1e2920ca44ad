// Conversions between the programs' Unicode text and the byte encodings that
// files, resources and the registry hold.
#pragma once
#include <string>

namespace vellum {

std::wstring Utf8ToWide(const std::string& s);
std::string WideToUtf8(const std::wstring& s);
// codePage 0 means the system's ANSI code page (CP_ACP).
std::wstring BytesToWide(const std::string& bytes, unsigned codePage);
std::string WideToBytes(const std::wstring& s, unsigned codePage);
std::wstring ToLowerInvariant(const std::wstring& s);
std::wstring Format(const wchar_t* fmt, ...);

}  // namespace vellum
