// The yardstick of the extraction benchmark: writes the same payload as the
// launcher, from the same kind of resources, with nothing but a bare
// CreateFile/WriteFile loop: no window, no messages, no catalogue, no checks
// beyond what writing needs. Usage: baselinewriter <folder ending in \>
// ("--noop" does nothing: the benchmark prefix opens scripts with it).
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR cmd, int) {
    std::wstring folder = cmd ? cmd : L"";
    if (folder.empty()) return 2;
    if (folder.compare(0, 6, L"--noop") == 0) return 0;
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
