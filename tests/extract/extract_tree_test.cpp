// EXTRACT.EXE's folder listing over a file system held in a map.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tree_listing.h"

using namespace vellum::extract;

namespace {

std::map<std::wstring, std::vector<TreeEntry>> Tree() {
    return {
        {L"", {{L".", true}, {L"..", true}, {L"b.txt", false, false, 7}, {L"Sub", true}, {L"A.txt", false, false, 3},
               {L"junction", true, true}, {L"z.txt", false, false, 1}}},
        {L"Sub", {{L"deep", true}, {L"c.bin", false, false, 5000000000ull}}},
        {L"Sub\\deep", {{L"e.txt", false, false, 2}}},
    };
}

EnumerateFolder From(const std::map<std::wstring, std::vector<TreeEntry>>& tree, std::vector<std::wstring>* asked) {
    return [tree, asked](const std::wstring& rel, std::vector<TreeEntry>* out, std::wstring* error) {
        asked->push_back(rel);
        auto it = tree.find(rel);
        if (it == tree.end()) {
            *error = L"access denied";
            return false;
        }
        *out = it->second;
        return true;
    };
}

}  // namespace

TEST(ListTree, AFoldersEntriesBeforeItsSubfoldersLinksNeverEntered) {
    std::vector<std::wstring> asked;
    std::wstring listing = L"kept\r\n", error;
    ASSERT_TRUE(ListTree(From(Tree(), &asked), &listing, &error)) << error;
    EXPECT_EQ(listing,
              L"kept\r\n"
              L"file\t3\tA.txt\r\n"
              L"file\t7\tb.txt\r\n"
              L"link\t0\tjunction\r\n"
              L"folder\t0\tSub\r\n"
              L"file\t1\tz.txt\r\n"
              L"file\t5000000000\tSub\\c.bin\r\n"
              L"folder\t0\tSub\\deep\r\n"
              L"file\t2\tSub\\deep\\e.txt\r\n");
    // The link's target is never asked for.
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"", L"Sub", L"Sub\\deep"}));

    // Shallow: the root's own entries, no subfolder read.
    asked.clear();
    listing.clear();
    ASSERT_TRUE(ListTree(From(Tree(), &asked), &listing, &error, true)) << error;
    EXPECT_EQ(listing, L"file\t3\tA.txt\r\nfile\t7\tb.txt\r\nlink\t0\tjunction\r\nfolder\t0\tSub\r\nfile\t1\tz.txt\r\n");
    EXPECT_EQ(asked, (std::vector<std::wstring>{L""}));
}

TEST(ListTree, AnUnreadableFolderOrALoopFailsNamingIt) {
    auto tree = Tree();
    tree.erase(L"Sub\\deep");
    std::vector<std::wstring> asked;
    std::wstring listing, error;
    EXPECT_FALSE(ListTree(From(tree, &asked), &listing, &error));
    EXPECT_EQ(error, L"Sub\\deep: access denied");
    EXPECT_TRUE(listing.empty());  // nothing of a failed walk is kept

    // A folder that holds itself (a loop not marked as a link) ends.
    EnumerateFolder loop = [](const std::wstring&, std::vector<TreeEntry>* out, std::wstring*) {
        *out = {{L"again", true}};
        return true;
    };
    EXPECT_FALSE(ListTree(loop, &listing, &error));
    EXPECT_NE(error.find(L"deeper"), std::wstring::npos);
}
