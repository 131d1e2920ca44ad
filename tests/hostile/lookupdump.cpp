// Runs catalogue lookups for the hostile-input suite. Reads a UTF-8 case file
// whose lines are "catalogue path|locale|key|fallback" and writes one UTF-8
// line per case: the result and the milliseconds the lookup took, each case
// with a fresh lookup state (one window each).
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "catalogue_lookup.h"
#include "strings.h"

namespace {

std::string ReadAll(const wchar_t* path) {
    std::string bytes;
    HANDLE f = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char buf[4096];
    DWORD got = 0;
    while (::ReadFile(f, buf, sizeof buf, &got, nullptr) && got) bytes.append(buf, got);
    ::CloseHandle(f);
    return bytes;
}

std::vector<std::wstring> Split(const std::wstring& s, wchar_t sep) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        parts.push_back(s.substr(start, p == std::wstring::npos ? std::wstring::npos : p - start));
        if (p == std::wstring::npos) return parts;
        start = p + 1;
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    ::CoInitialize(nullptr);
    std::wstring cases = vellum::Utf8ToWide(ReadAll(argv[1]));
    std::string out;
    for (const std::wstring& raw : Split(cases, L'\n')) {
        std::wstring line = raw;
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::wstring> f = Split(line, L'|');
        if (f.size() != 4) return 3;
        vellum::CatalogueLookup lookup(vellum::MakeMsxmlBackend());
        lookup.setCataloguePath(f[0]);
        lookup.setLocale(f[1]);
        DWORD t0 = ::GetTickCount();
        std::wstring result = lookup.getLocalizedMsg(f[2], f[3]);
        // A second lookup on the same state: the retry rules must hold too.
        std::wstring again = lookup.getLocalizedMsg(f[2], f[3]);
        DWORD ms = ::GetTickCount() - t0;
        out += vellum::WideToUtf8(result) + "\t" + vellum::WideToUtf8(again) + "\t" + std::to_string(ms) + "\n";
    }
    HANDLE o = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (o == INVALID_HANDLE_VALUE) return 4;
    DWORD w = 0;
    ::WriteFile(o, out.data(), static_cast<DWORD>(out.size()), &w, nullptr);
    ::CloseHandle(o);
    ::CoUninitialize();
    return 0;
}
