#include "catalog/CleanupCatalog.h"

#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;

namespace {

const CleanupTarget& targetNamed(const std::vector<CleanupTarget>& targets, const std::string& id) {
    for (const CleanupTarget& t : targets)
        if (t.id == id) return t;
    throw std::runtime_error("no target " + id);
}

} // namespace

TEST(CleanupCatalog, FifteenTargetsAgainstTheHomeOfTheMoment) {
    test::TempDir first, second;
    test::ScopedEnv home("HOME", first.path());
    std::vector<CleanupTarget> targets = CleanupCatalog::definitions();
    ASSERT_EQ(targets.size(), 15u);
    std::string ids;
    for (const CleanupTarget& t : targets) {
        ids += t.id + " ";
        EXPECT_TRUE(t.contentsOnly && t.entries.empty() && !t.scanned) << t.id;
    }
    EXPECT_EQ(ids,
              "ios-device-support derived-data xcode-archives simulators package-caches browser-engine-caches "
              "android-avd user-caches logs saved-state macos-installers ios-backups mail-downloads docker trash ");
    // A few rows word for word: system and home roots mixed, a careful one, a long detail.
    const CleanupTarget& simulators = targets[3];
    EXPECT_EQ(simulators.title, "Simulator runtimes and devices");
    EXPECT_EQ(simulators.risk, CleanupRisk::review);
    EXPECT_EQ(simulators.roots, (std::vector<std::string>{"/Library/Developer/CoreSimulator/Images",
                                                          "/Library/Developer/CoreSimulator/Profiles/Runtimes",
                                                          first / "Library/Developer/CoreSimulator/Devices",
                                                          first / "Library/Developer/CoreSimulator/Caches"}));
    EXPECT_EQ(targets[11].title, "iPhone and iPad backups");
    EXPECT_EQ(targets[11].risk, CleanupRisk::careful);
    EXPECT_EQ(targets[13].detail, "Docker's virtual disk holds every image and volume. Prune from Docker itself "
                                  "rather than deleting the file.");
    EXPECT_EQ(cleanupRiskFromRaw(2), CleanupRisk::careful);
    EXPECT_EQ(cleanupRiskFromRaw(3), std::nullopt);
    // A later call sees a changed home folder.
    test::ScopedEnv moved("HOME", second.path());
    EXPECT_EQ(targetNamed(CleanupCatalog::definitions(), "trash").roots,
              std::vector<std::string>{second.path() + "/.Trash"});
}

TEST(CleanupCatalog, MeasuresChildrenLargestFirstWithTiesInListingOrder) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    const std::string trash = dir / ".Trash";
    // Allocated sizes in the ratio 5 : 9 : 5, listed a, b, c.
    test::writeFile(trash + "/a", 5 * 4096);
    test::writeFile(trash + "/b/inner", 9 * 4096);
    test::writeFile(trash + "/c", 5 * 4096);
    test::writeFile(trash + "/.DS_Store", 64 * 4096);
    test::makeDirs(trash + "/empty");
    test::makeDirs(trash + "/only-empty/inside");

    CleanupTarget target = targetNamed(CleanupCatalog::definitions(), "trash");
    CleanupTarget measured = CleanupCatalog::measure(target);
    ASSERT_EQ(measured.entries.size(), 3u);
    EXPECT_EQ(measured.entries[0].url, trash + "/b");
    EXPECT_EQ(measured.entries[1].url, trash + "/a");
    EXPECT_EQ(measured.entries[2].url, trash + "/c");
    for (const CleanupEntry& entry : measured.entries) {
        EXPECT_EQ(entry.size, test::lstatTreeSize(entry.url)) << entry.url;
        struct stat st;
        ASSERT_EQ(::lstat(entry.url.c_str(), &st), 0);
        EXPECT_EQ(entry.modified, Dates::fromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
    }
    EXPECT_TRUE(measured.scanned);
    // Everything but the measurement is returned as it came.
    measured.entries.clear();
    measured.scanned = false;
    EXPECT_EQ(measured, target);
}

TEST(CleanupCatalog, SymbolicLinkChildIsSizedAsTheLinkItself) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    test::writeFile(dir / "big/file", 1 << 20);
    test::makeDirs(dir / ".Trash");
    const std::string link = test::makeLongLink(dir / ".Trash/link", "../big");
    CleanupTarget measured = CleanupCatalog::measure(targetNamed(CleanupCatalog::definitions(), "trash"));
    const int64_t linkBlocks = test::allocatedSize(link);
    if (linkBlocks > 0) {
        ASSERT_EQ(measured.entries.size(), 1u);
        EXPECT_EQ(measured.entries[0].url, link);
        EXPECT_EQ(measured.entries[0].size, linkBlocks);
        EXPECT_LT(measured.entries[0].size, 1 << 20);
    } else {
        EXPECT_TRUE(measured.entries.empty()) << "a link without blocks measures 0 and is dropped";
    }
}

TEST(CleanupCatalog, MissingEmptyAndRootLevelEntries) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    // Nothing exists: measured, no entries.
    for (const CleanupTarget& target : CleanupCatalog::definitions()) {
        CleanupTarget measured = CleanupCatalog::measure(target);
        EXPECT_TRUE(measured.scanned) << target.id;
        EXPECT_TRUE(measured.entries.empty()) << target.id;
    }
    // An unlistable root contributes nothing, a readable second root still counts.
    test::writeFile(dir / "Library/Application Support/CrashReporter/report.ips", 3 * 4096);
    test::writeFile(dir / "Library/Logs/unseen.log", 8192);
    ::chmod((dir / "Library/Logs").c_str(), 0);
    int status = test::runAsUnprivileged([&] {
        auto entries = CleanupCatalog::measure(targetNamed(CleanupCatalog::definitions(), "logs")).entries;
        return entries.size() == 1 && entries[0].url == dir / "Library/Application Support/CrashReporter/report.ips"
                   ? 0
                   : 1;
    });
    EXPECT_EQ(status, 0);
    ::chmod((dir / "Library/Logs").c_str(), 0755);
    // A root itself as the entry.
    test::writeFile(dir / "one/two/file", 4096 * 3);
    auto whole = CleanupCatalog::measureEntries({dir / "one", dir / "missing"}, false);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].url, dir / "one");
    EXPECT_EQ(whole[0].size, test::lstatTreeSize(dir / "one"));
}

TEST(CleanupCatalog, SamePathUnderTwoTargetsIsListedUnderEach) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    test::writeFile(dir / "Library/Caches/Homebrew/downloads/pkg.tar.gz", 4 * 4096);
    auto targets = CleanupCatalog::definitions();
    auto packages = CleanupCatalog::measure(targetNamed(targets, "package-caches")).entries;
    auto caches = CleanupCatalog::measure(targetNamed(targets, "user-caches")).entries;
    ASSERT_EQ(packages.size(), 1u);
    ASSERT_EQ(caches.size(), 1u);
    EXPECT_EQ(packages[0].url, dir / "Library/Caches/Homebrew/downloads");
    EXPECT_EQ(caches[0].url, dir / "Library/Caches/Homebrew");
    EXPECT_EQ(caches[0].size, packages[0].size);
}
