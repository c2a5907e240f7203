#include "catalog/CleanupCatalog.h"

#include "platform/PlatformTables.h"
#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;

namespace {

CleanupTarget targetOver(const std::vector<std::string>& roots) {
    CleanupTarget target;
    target.id = "test";
    target.roots = roots;
    return target;
}

} // namespace

TEST(CleanupCatalog, MeasuresChildrenLargestFirstWithTiesInListingOrder) {
    test::TempDir dir;
    const std::string root = dir / "root";
    // Allocated sizes in the ratio 5 : 9 : 5, listed a, b, c.
    test::writeFile(root + "/a", 5 * 4096);
    test::writeFile(root + "/b/inner", 9 * 4096);
    test::writeFile(root + "/c", 5 * 4096);
    test::writeFile(root + "/.DS_Store", 64 * 4096);
    test::makeDirs(root + "/empty");
    test::makeDirs(root + "/only-empty/inside");

    const CleanupTarget target = targetOver({root});
    CleanupTarget measured = CleanupCatalog::measure(target);
    std::vector<std::string> urls;
    for (const CleanupEntry& entry : measured.entries) {
        urls.push_back(entry.url);
        EXPECT_EQ(entry.size, test::lstatTreeSize(entry.url)) << entry.url;
        struct stat st;
        ASSERT_EQ(::lstat(entry.url.c_str(), &st), 0);
        EXPECT_EQ(entry.modified, Dates::fromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
    }
    EXPECT_EQ(urls, (std::vector<std::string>{root + "/b", root + "/a", root + "/c"}));
    EXPECT_TRUE(measured.scanned);
    // Everything but the measurement is returned as it came.
    measured.entries.clear();
    measured.scanned = false;
    EXPECT_EQ(measured, target);
}

TEST(CleanupCatalog, DefinitionsFollowTheHomeMissingEmptyAndRootLevelEntries) {
    test::TempHome dir;
    CleanupCatalog::ScopedSystemRoot system{dir / "sys"};
    EXPECT_EQ(test::rowNamed(CleanupCatalog::definitions(), "thumbnails").roots.at(0), dir / ".cache/thumbnails");
    // Nothing exists: measured, no entries.
    for (const CleanupTarget& target : CleanupCatalog::definitions()) {
        EXPECT_TRUE(target.entries.empty() && !target.scanned) << target.id;
        CleanupTarget measured = CleanupCatalog::measure(target);
        EXPECT_TRUE(measured.scanned && measured.entries.empty()) << target.id;
    }
    // An unlistable root contributes nothing, a readable second root still counts.
    test::writeFile(dir / "open/report", 3 * 4096);
    test::writeFile(dir / "locked/unseen.log", 8192);
    ::chmod((dir / "locked").c_str(), 0);
    const CleanupTarget both = targetOver({dir / "locked", dir / "open"});
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  std::string urls;
                  for (const CleanupEntry& entry : CleanupCatalog::measure(both).entries) urls += entry.url + " ";
                  return urls;
              }),
              dir / "open/report ");
    // A root itself as the entry.
    test::writeFile(dir / "one/two/file", 4096 * 3);
    auto whole = CleanupCatalog::measureEntries({dir / "one", dir / "missing"}, false);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(std::tuple(whole[0].url, whole[0].size), std::tuple(dir / "one", test::lstatTreeSize(dir / "one")));
}

// The macOS rows claim nothing from each other: a path two rows reach is listed under each.
TEST(CleanupCatalog, MacSamePathUnderTwoTargetsIsListedUnderEach) {
    ScopedTables tables{TableSet::macos};
    test::TempHome dir;
    test::writeFile(dir / "Library/Caches/Homebrew/downloads/pkg.tar.gz", 4 * 4096);
    auto targets = CleanupCatalog::definitions();
    auto packages = CleanupCatalog::measure(test::rowNamed(targets, "package-caches")).entries;
    auto caches = CleanupCatalog::measure(test::rowNamed(targets, "user-caches")).entries;
    ASSERT_EQ(packages.size(), 1u);
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(std::tuple(packages[0].url, caches[0].url, caches[0].size),
              std::tuple(dir / "Library/Caches/Homebrew/downloads", dir / "Library/Caches/Homebrew", packages[0].size));
}
