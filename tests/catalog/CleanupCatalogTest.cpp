#include "catalog/CleanupCatalog.h"

#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;

namespace {

struct ExpectedTarget {
    const char* id;
    const char* title;
    CleanupRisk risk;
    std::vector<std::string> roots; // "~" for the home folder
    const char* detail;
};

std::vector<ExpectedTarget> expectedTargets() {
    using enum CleanupRisk;
    return {
        {"ios-device-support",
         "Xcode device support",
         safe,
         {"~/Library/Developer/Xcode/iOS DeviceSupport", "~/Library/Developer/Xcode/watchOS DeviceSupport",
          "~/Library/Developer/Xcode/tvOS DeviceSupport"},
         "Symbol caches for every iOS version you have ever attached. Xcode re-downloads what it needs."},
        {"derived-data",
         "Xcode DerivedData",
         safe,
         {"~/Library/Developer/Xcode/DerivedData"},
         "Build intermediates and indexes. Rebuilt on the next build."},
        {"xcode-archives",
         "Xcode archives",
         careful,
         {"~/Library/Developer/Xcode/Archives"},
         "Shipped builds and their dSYMs. Keep anything you may still need to symbolicate a crash against."},
        {"simulators",
         "Simulator runtimes and devices",
         review,
         {"/Library/Developer/CoreSimulator/Images", "/Library/Developer/CoreSimulator/Profiles/Runtimes",
          "~/Library/Developer/CoreSimulator/Devices", "~/Library/Developer/CoreSimulator/Caches"},
         "Installed simulator runtimes and the per-device data they write."},
        {"package-caches",
         "Package manager caches",
         safe,
         {"~/Library/Caches/Homebrew", "~/.cache/uv", "~/.npm/_cacache", "~/Library/Caches/pip",
          "~/Library/Caches/pnpm", "~/Library/Caches/Yarn", "~/.cargo/registry/cache", "~/go/pkg/mod/cache/download",
          "~/.gradle/caches", "~/.m2/repository"},
         "Homebrew, npm, pip, uv, cargo, Go and friends. All of it redownloads."},
        {"browser-engine-caches",
         "Headless browser and Electron caches",
         safe,
         {"~/Library/Caches/ms-playwright", "~/.cache/puppeteer", "~/Library/Caches/electron",
          "~/Library/Caches/electron-builder"},
         "Playwright, Puppeteer and Electron keep whole browser builds around."},
        {"android-avd",
         "Android emulator images",
         review,
         {"~/.android/avd"},
         "Virtual device disk images. Each AVD is several gigabytes and is recreated by Android Studio."},
        {"user-caches",
         "Application caches",
         review,
         {"~/Library/Caches"},
         "Per-app caches under ~/Library/Caches. Apps rebuild these, though some lose sign-in state."},
        {"logs",
         "Logs and diagnostic reports",
         safe,
         {"~/Library/Logs", "~/Library/Application Support/CrashReporter"},
         "Application logs and crash reports."},
        {"saved-state",
         "Saved application state",
         safe,
         {"~/Library/Saved Application State"},
         "Window and document restoration data. Apps just reopen empty instead."},
        {"macos-installers",
         "Stale macOS update files",
         safe,
         {"/Library/Updates"},
         "Downloaded installers and update payloads that were never cleared."},
        {"ios-backups",
         "iPhone and iPad backups",
         careful,
         {"~/Library/Application Support/MobileSync/Backup"},
         "Full device backups stored locally. Only remove these if iCloud or another copy has you covered."},
        {"mail-downloads",
         "Mail attachments",
         review,
         {"~/Library/Containers/com.apple.mail/Data/Library/Mail Downloads"},
         "Attachment copies Mail downloaded. Still available on the server for IMAP accounts."},
        {"docker",
         "Docker disk image",
         careful,
         {"~/Library/Containers/com.docker.docker/Data/vms", "~/.docker/desktop"},
         "Docker's virtual disk holds every image and volume. Prune from Docker itself rather than deleting the "
         "file."},
        {"trash", "Trash", safe, {"~/.Trash"}, "Items already thrown away, still occupying the disk."},
    };
}

std::string resolved(const std::string& root, const std::string& home) {
    return root.starts_with("~") ? home + root.substr(1) : root;
}

const CleanupTarget& targetNamed(const std::vector<CleanupTarget>& targets, const std::string& id) {
    for (const CleanupTarget& t : targets)
        if (t.id == id) return t;
    throw std::runtime_error("no target " + id);
}

} // namespace

TEST(CleanupCatalog, DefinitionsAreTheFifteenTargetsAgainstTheHomeOfTheMoment) {
    test::TempDir first, second;
    test::ScopedEnv home("HOME", first.path());
    std::vector<CleanupTarget> targets = CleanupCatalog::definitions();
    std::vector<ExpectedTarget> expected = expectedTargets();
    ASSERT_EQ(targets.size(), 15u);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(targets[i].id, expected[i].id);
        EXPECT_EQ(targets[i].title, expected[i].title);
        EXPECT_EQ(targets[i].detail, expected[i].detail);
        EXPECT_EQ(targets[i].risk, expected[i].risk);
        std::vector<std::string> roots;
        for (const std::string& r : expected[i].roots) roots.push_back(resolved(r, first.path()));
        EXPECT_EQ(targets[i].roots, roots);
        EXPECT_TRUE(targets[i].contentsOnly);
        EXPECT_TRUE(targets[i].entries.empty());
        EXPECT_FALSE(targets[i].scanned);
    }
    // A later call sees a changed home folder.
    test::ScopedEnv moved("HOME", second.path());
    EXPECT_EQ(targetNamed(CleanupCatalog::definitions(), "trash").roots,
              std::vector<std::string>{second.path() + "/.Trash"});
}

TEST(CleanupCatalog, RiskRawValuesAndOrder) {
    EXPECT_EQ(cleanupRiskFromRaw(0), CleanupRisk::safe);
    EXPECT_EQ(cleanupRiskFromRaw(1), CleanupRisk::review);
    EXPECT_EQ(cleanupRiskFromRaw(2), CleanupRisk::careful);
    EXPECT_EQ(cleanupRiskFromRaw(3), std::nullopt);
    EXPECT_EQ(cleanupRiskFromRaw(-1), std::nullopt);
    EXPECT_LT(CleanupRisk::safe, CleanupRisk::review);
    EXPECT_LT(CleanupRisk::review, CleanupRisk::careful);
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
    // A root holding only .DS_Store and an empty folder yields nothing.
    test::writeFile(dir / "Library/Logs/.DS_Store", 8192);
    test::makeDirs(dir / "Library/Logs/Empty");
    EXPECT_TRUE(CleanupCatalog::measure(targetNamed(CleanupCatalog::definitions(), "logs")).entries.empty());
    // An unlistable root contributes nothing, a readable second root still counts.
    test::writeFile(dir / "Library/Application Support/CrashReporter/report.ips", 3 * 4096);
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
