#include "cabinet_paths.h"

#include <cwctype>

namespace vellum::extract {

const wchar_t kUsage[] =
    L"EXTRACT: extracts the files of a cabinet.\r\n"
    L"\r\n"
    L"EXTRACT [/Y] [/E] [/L folder] cabinet\r\n"
    L"EXTRACT /D cabinet\r\n"
    L"\r\n"
    L"  /E         extract all files (the default; accepted for habit)\r\n"
    L"  /L folder  extract into this folder, created if missing\r\n"
    L"             (default: the current folder); the cabinet's folders\r\n"
    L"             are created below it\r\n"
    L"  /Y         replace existing files; without it an existing file\r\n"
    L"             stops the extraction\r\n"
    L"  /D         list the files of the cabinet, extract nothing\r\n"
    L"\r\n"
    L"Exit code 0 when every file was extracted (or listed), 1 for a usage\r\n"
    L"error, 2 when the cabinet cannot be read or is damaged, 3 when a file\r\n"
    L"cannot be written, 4 when the cabinet names a file outside the folder.\r\n";

namespace {

bool IsSwitch(const std::wstring& a, wchar_t letter) {
    return a.size() == 2 && (a[0] == L'/' || a[0] == L'-') &&
           std::towupper(a[1]) == letter;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::wstring>& args, Options* options,
                      std::wstring* error) {
    Options o;
    if (args.empty()) {
        o.help = true;
        *options = o;
        return true;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (IsSwitch(a, L'?') || IsSwitch(a, L'H')) {
            o.help = true;
        } else if (IsSwitch(a, L'Y')) {
            o.overwrite = true;
        } else if (IsSwitch(a, L'E')) {
            // All files is what this tool always does.
        } else if (IsSwitch(a, L'D')) {
            o.listOnly = true;
        } else if (IsSwitch(a, L'L')) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                *error = L"/L needs a folder";
                return false;
            }
            o.destination = args[++i];
        } else if (!a.empty() && (a[0] == L'/' || (a[0] == L'-' && a.size() > 1))) {
            *error = L"unknown option " + a;
            return false;
        } else if (o.cabinet.empty()) {
            o.cabinet = a;
        } else {
            *error = L"only one cabinet may be given (and no file names): " + a;
            return false;
        }
    }
    if (!o.help && o.cabinet.empty()) {
        *error = L"no cabinet given";
        return false;
    }
    *options = o;
    return true;
}

bool SafeRelativePath(const std::wstring& memberName, std::wstring* out) {
    if (memberName.empty()) return false;
    if (memberName[0] == L'\\' || memberName[0] == L'/') return false;
    std::wstring result;
    std::wstring part;
    auto flush = [&]() -> bool {
        if (part.empty() || part == L".") {
            part.clear();
            return true;
        }
        if (part == L"..") return false;
        // Windows drops trailing dots and blanks, so "..." or ".. " would
        // also climb; refuse any component made of dots and blanks only.
        if (part.find_first_not_of(L". ") == std::wstring::npos) return false;
        if (!result.empty()) result += L'\\';
        result += part;
        part.clear();
        return true;
    };
    for (wchar_t c : memberName) {
        if (c == L':' || c < 32) return false;  // drive, stream or control character
        if (c == L'\\' || c == L'/') {
            if (!flush()) return false;
        } else {
            part += c;
        }
    }
    if (!flush()) return false;
    if (result.empty()) return false;
    *out = result;
    return true;
}

std::vector<std::wstring> ParentFolders(const std::wstring& relativePath) {
    std::vector<std::wstring> folders;
    for (size_t pos = relativePath.find(L'\\'); pos != std::wstring::npos;
         pos = relativePath.find(L'\\', pos + 1)) {
        folders.push_back(relativePath.substr(0, pos));
    }
    return folders;
}

}  // namespace vellum::extract
