#include <gtest/gtest.h>
#include <windows.h>

#include "strings.h"
#include "system.h"

namespace {

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           vellum::ToLowerInvariant(text.substr(text.size() - end.size())) == vellum::ToLowerInvariant(end);
}

TEST(ModulePath, NamesTheProgramAndALoadedLibrary) {
    const std::wstring self = vellum::ModulePath();
    EXPECT_TRUE(EndsWith(self, L"\\win32common_test.exe")) << self;
    EXPECT_EQ(vellum::ToLowerInvariant(self),
              vellum::ToLowerInvariant(vellum::ModuleFolder() + L"\\win32common_test.exe"));
    EXPECT_TRUE(EndsWith(vellum::ModulePath(::GetModuleHandleW(L"kernel32.dll")), L"\\kernel32.dll"));
    EXPECT_FALSE(EndsWith(vellum::ModuleFolder(), L"\\"));
}

TEST(ModulePath, EmptyForAModuleThatIsNotLoaded) {
    EXPECT_EQ(L"", vellum::ModulePath(reinterpret_cast<HMODULE>(0x10)));
    EXPECT_EQ(L"", vellum::ModuleFolder(reinterpret_cast<HMODULE>(0x10)));
}

TEST(SystemMessage, TheSystemsTextWithoutItsLineEnd) {
    const std::wstring text = vellum::SystemMessage(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(L'\n', text.back());
    EXPECT_NE(L'\r', text.back());
    EXPECT_NE(L' ', text.back());
    // A code the system has no text for gives none, so callers can say it their way.
    EXPECT_EQ(L"", vellum::SystemMessage(0x2000BEEF));
}

}  // namespace
