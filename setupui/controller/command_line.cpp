#include "command_line.h"

#include <cwctype>
#include <vector>

namespace vellum {
namespace controller {

namespace {

// The command line's words, split at blanks and tabs.
std::vector<std::wstring> Words(const std::wstring& commandLine) {
    std::vector<std::wstring> words;
    size_t pos = 0;
    while (pos < commandLine.size()) {
        size_t start = commandLine.find_first_not_of(L" \t", pos);
        if (start == std::wstring::npos) break;
        size_t end = commandLine.find_first_of(L" \t", start);
        if (end == std::wstring::npos) end = commandLine.size();
        words.push_back(commandLine.substr(start, end - start));
        pos = end;
    }
    return words;
}

}  // namespace

ServerSwitch ParseServerSwitch(const std::wstring& commandLine) {
    for (const std::wstring& word : Words(commandLine)) {
        if (word.size() < 2 || (word[0] != L'-' && word[0] != L'/')) continue;
        std::wstring name;
        for (size_t i = 1; i < word.size(); ++i) name += static_cast<wchar_t>(std::towlower(word[i]));
        if (name == L"regserver") return ServerSwitch::RegServer;
        if (name == L"unregserver") return ServerSwitch::UnregServer;
        if (name == L"embedding" || name == L"automation") return ServerSwitch::Embedding;
    }
    return ServerSwitch::None;
}

RunTokenKind ParseRunToken(const std::wstring& commandLine, std::wstring* token) {
    token->clear();
    for (const std::wstring& word : Words(commandLine)) {
        if (word.size() < 5 || (word[0] != L'-' && word[0] != L'/')) continue;
        std::wstring name;
        for (size_t i = 1; i < 5; ++i) name += static_cast<wchar_t>(std::towlower(word[i]));
        if (name != L"run:") continue;
        std::wstring value = word.substr(5);
        if (value.empty() || value.size() > 64) return RunTokenKind::Invalid;
        for (wchar_t c : value)
            if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'-' ||
                  c == L'_' || c == L'.'))
                return RunTokenKind::Invalid;
        *token = value;
        return RunTokenKind::Valid;
    }
    return RunTokenKind::None;
}

}  // namespace controller
}  // namespace vellum
