#include "catalog/StorageCategories.h"

#include "platform/PlatformTables.h"
#include "support/Paths.h"
#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

StorageCategory categoryNamed(const std::string& id) { return test::rowNamed(StorageCategories::all(), id); }
using test::urlsOf;

// A single file whose allocated size is the first multiple of `block` at or
// above `bytes` (or, with `below`, the last one under it).
std::string fileAround(const std::string& path, int64_t bytes, bool below) {
    test::writeFile(path, 4096);
    int64_t block = test::allocatedSize(path);
    int64_t blocks = below ? (bytes - 1) / block : (bytes + block - 1) / block;
    return test::writeFile(path, blocks * block);
}

} // namespace

TEST(StorageCategories, MacOtherUserRootsSkipTheCurrentAccountSharedAndHiddenNames) {
    ScopedTables tables{TableSet::macos};
    test::ScopedEnv home("HOME", "/Users/alice");
    std::string listed;
    auto lister = [&](const std::string& path) -> std::optional<std::vector<std::string>> {
        listed = path;
        return std::vector<std::string>{"alice", "bob", ".localized", "Shared", "carol"};
    };
    EXPECT_EQ(StorageCategories::otherUserRoots(lister),
              (std::vector<std::string>{"/Users/Shared", "/Users/bob", "/Users/carol"}));
    EXPECT_EQ(listed, "/Users");
    auto failing = [](const std::string&) -> std::optional<std::vector<std::string>> { return std::nullopt; };
    EXPECT_EQ(StorageCategories::otherUserRoots(failing), std::vector<std::string>{"/Users/Shared"});
}

TEST(StorageCategories, MacClaimedPathsAndSystemDataRoots) {
    ScopedTables tables{TableSet::macos};
    test::TempDir dir;
    // A home folder written with redundant separators still claims standardized paths.
    test::ScopedEnv home("HOME", dir.path() + "//");
    std::set<std::string> claimed = StorageCategories::claimedPaths();
    for (const std::string& path : {dir / ".gradle", dir / "Library/CloudStorage", std::string("/usr")})
        EXPECT_TRUE(claimed.count(path)) << path;
    EXPECT_FALSE(claimed.count(dir.path() + "/Library"));
    EXPECT_FALSE(claimed.count(dir.path() + "/Library/Application Support"));
    for (const std::string& path : claimed) EXPECT_EQ(path, Paths::standardize(path));

    EXPECT_EQ(StorageCategories::systemDataRoots(),
              (std::vector<std::string>{dir.path() + "/Library", "/Library", "/private/var", dir.path() + "//"}));
}

TEST(StorageCategories, MacMeasuresRootsChildrenAndSums) {
    ScopedTables tables{TableSet::macos};
    test::TempHome dir;
    test::writeFile(dir / "Documents/report.pdf", 3 * 4096);
    test::writeFile(dir / "Desktop/notes/a.txt", 7 * 4096);
    test::writeFile(dir / "Downloads/.DS_Store", 4096);
    test::makeDirs(dir / "Downloads/empty");
    test::writeFile(dir / "Library/Caches/CloudKit/blob", 2 * 4096);
    test::writeFile(dir / "Library/Group Containers/group.com.apple.CoreSpeech/x", 4096);

    EXPECT_EQ(categoryNamed("trash").roots, std::vector<std::string>{dir / ".Trash"}); // the home of the moment
    MeasuredCategory documents = StorageCategories::measure(categoryNamed("documents"));
    EXPECT_EQ(urlsOf(documents.entries),
              (std::vector<std::string>{dir / "Desktop/notes", dir / "Documents/report.pdf"}));
    EXPECT_EQ(documents.size, test::lstatTreeSize(dir / "Desktop/notes") + test::lstatTreeSize(dir / "Documents"));

    // Roots measured whole.
    MeasuredCategory cloud = StorageCategories::measure(categoryNamed("cloud"));
    EXPECT_EQ(urlsOf(cloud.entries),
              (std::vector<std::string>{dir / "Library/Caches/CloudKit",
                                        dir / "Library/Group Containers/group.com.apple.CoreSpeech"}));

    // Nothing there, or the remainder (arithmetic, even with roots given): measured, empty.
    StorageCategory systemData = categoryNamed("systemData");
    systemData.roots = {dir / "Documents"};
    for (const StorageCategory& c : {categoryNamed("music"), systemData}) {
        const MeasuredCategory m = StorageCategories::measure(c);
        EXPECT_EQ(std::tuple(m.measured, m.size, m.entries.size()), std::tuple(true, 0, 0u)) << c.id;
    }
}

TEST(StorageCategories, MacSystemDataListsLargeUnclaimedItemsOnce) {
    ScopedTables tables{TableSet::macos};
    test::TempHome dir;
    const int64_t big = 12'000'000;
    test::writeFile(dir / "Library/Big/blob", big);
    test::writeFile(dir / "Library/Application Support/CloudDocs/blob", big + 4096 * 10); // holds a claimed root
    test::writeFile(dir / "Library/Messages/chat.db", big);                               // claimed by messages
    test::writeFile(dir / "Library/CloudStorage/drive", big);                             // a cloud provider root
    test::writeFile(dir / "Library/.DS_Store", big);
    fileAround(dir / "Library/below", StorageCategories::systemDataMinimumSize, true);
    fileAround(dir / "Library/atOrAbove", StorageCategories::systemDataMinimumSize, false);
    test::writeFile(dir / ".hidden-cache/blob", big + 4096 * 20);
    test::writeFile(dir / ".gradle/caches/blob", big); // claimed by developer
    test::writeFile(dir / ".Trash/old", big);
    test::writeFile(dir / "Visible/blob", big); // visible folders of the home are the user's own

    ASSERT_LT(test::allocatedSize(dir / "Library/below"), StorageCategories::systemDataMinimumSize);
    ASSERT_GE(test::allocatedSize(dir / "Library/atOrAbove"), StorageCategories::systemDataMinimumSize);

    std::vector<CleanupEntry> entries = StorageCategories::measureSystemDataEntries();
    EXPECT_EQ(urlsOf(entries), (std::vector<std::string>{dir / ".hidden-cache", dir / "Library/Application Support",
                                                         dir / "Library/Big", dir / "Library/atOrAbove"}));
    for (const CleanupEntry& e : entries) {
        EXPECT_EQ(e.size, test::lstatTreeSize(e.url)) << e.url;
        EXPECT_TRUE(e.modified.has_value());
    }

    // Directly in the home folder only hidden items count, and never the Trash,
    // even when nothing claims them.
    EXPECT_EQ(urlsOf(StorageCategories::measureSystemDataEntries({dir.path()}, {})),
              (std::vector<std::string>{dir / ".hidden-cache", dir / ".gradle"}));

    // The same standardized path reached from two roots is listed once, under the first.
    std::vector<CleanupEntry> twice = StorageCategories::measureSystemDataEntries(
        {dir / "Library", dir / "Library/../Library/"}, StorageCategories::claimedPaths());
    EXPECT_EQ(urlsOf(twice), (std::vector<std::string>{dir / "Library/Application Support", dir / "Library/Big",
                                                       dir / "Library/atOrAbove"}));
}
