#include "plan.h"

#include <unordered_map>

#include "strings.h"

namespace vellum::extract {

namespace {

std::wstring Trim(const std::wstring& s) {
    size_t a = s.find_first_not_of(L" \t\r\n");
    if (a == std::wstring::npos) return std::wstring();
    size_t b = s.find_last_not_of(L" \t\r\n");
    return s.substr(a, b - a + 1);
}

}  // namespace

bool DecodePlanFile(const std::string& bytes, std::vector<std::wstring>* cabinets, std::wstring* error) {
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            *error = L"the plan file is cut off (UTF-16 with an odd number of bytes)";
            return false;
        }
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = Utf8ToWide(bytes.substr(3));
    } else {
        text = BytesToWide(bytes, 0);
    }
    std::vector<std::wstring> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.size() >= 2 && line.front() == L'"' && line.back() == L'"') line = Trim(line.substr(1, line.size() - 2));
        if (line.empty()) continue;
        if (line[0] == L'@') {
            *error = L"a plan file cannot name another plan file: " + line;
            return false;
        }
        if (line.find(L'\0') != std::wstring::npos) {
            *error = L"the plan file holds a character no path may hold";
            return false;
        }
        out.push_back(line);
    }
    *cabinets = out;
    return true;
}

std::vector<std::vector<bool>> LastOfTheirName(const std::vector<std::vector<std::wstring>>& names) {
    std::vector<std::vector<bool>> last(names.size());
    std::unordered_map<std::wstring, std::pair<size_t, size_t>> winner;
    for (size_t c = 0; c < names.size(); ++c) {
        last[c].assign(names[c].size(), false);
        for (size_t m = 0; m < names[c].size(); ++m) {
            auto key = ToLowerInvariant(names[c][m]);
            auto it = winner.find(key);
            if (it != winner.end()) last[it->second.first][it->second.second] = false;
            winner[key] = {c, m};
            last[c][m] = true;
        }
    }
    return last;
}

const wchar_t* FindingWord(Finding finding) {
    switch (finding) {
    case Finding::kSame: return L"same";
    case Finding::kMissing: return L"missing";
    case Finding::kSize: return L"size";
    case Finding::kChanged: return L"changed";
    }
    return L"changed";
}

std::wstring ListingLine(const wchar_t* status, unsigned long long number, const std::wstring& path) {
    return std::wstring(status) + Format(L"\t%I64u\t", number) + path + L"\r\n";
}

int PlanExitCode(int reason, size_t cabinetIndex) {
    return reason == 0 ? 0 : reason + 10 * static_cast<int>(cabinetIndex);
}

std::string ProgressRecord(const ProgressState& s) {
    auto number = [](unsigned long long v) {
        std::string digits;
        do {
            digits.insert(digits.begin(), static_cast<char>('0' + v % 10));
            v /= 10;
        } while (v != 0);
        return digits;
    };
    std::string code = s.exitCode < 0 ? "-" + number(static_cast<unsigned long long>(-static_cast<long long>(s.exitCode)))
                                       : number(static_cast<unsigned long long>(s.exitCode));
    return std::string(s.phase) + " " + number(s.done) + " " + number(s.total) + " " + number(s.cabinetsDone) +
           " " + number(s.cabinets) + " " + code + "\r\n";
}

bool ProgressClock::Due(unsigned long long done) {
    if (done < next_) return false;
    next_ = done + step_;
    return true;
}

unsigned long long Fingerprint(const unsigned char* data, size_t size) {
    unsigned long long h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) {
        h ^= data[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace vellum::extract
