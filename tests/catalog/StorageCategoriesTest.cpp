#include "catalog/StorageCategories.h"

#include "catalog/VolumeInfo.h"
#include "support/Paths.h"
#include "CatalogFixture.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

struct ExpectedCategory {
    const char* id;
    const char* title;
    const char* symbol;
    const char* colorName;
    std::vector<std::string> roots; // "~" for the home folder
    bool listsContents;
    CleanupRisk risk;
    CategoryAction action;
    const char* detail;
    const char* caveat;
};

std::vector<ExpectedCategory> expectedCategories(const std::vector<std::string>& otherUsers) {
    using enum CleanupRisk;
    return {
        {"applications",
         "Applications",
         "app.badge",
         "blue",
         {"/Applications", "~/Applications"},
         true,
         review,
         CategoryAction::applications(),
         "Installed apps and the data they leave outside their own bundle.",
         nullptr},
        {"documents",
         "Documents",
         "doc",
         "orange",
         {"~/Documents", "~/Desktop", "~/Downloads"},
         true,
         careful,
         CategoryAction::removable(),
         "Your Documents, Desktop and Downloads folders.",
         "This is your own work. Nothing here comes back on its own."},
        {"photos",
         "Photos",
         "photo",
         "pink",
         {"~/Pictures"},
         true,
         careful,
         CategoryAction::readOnly("A photo library is a bundle with its own database. Removing pieces of it from the "
                                  "outside corrupts the library, so manage its contents from Photos and empty its "
                                  "Recently Deleted album."),
         "Photo libraries and everything else under Pictures.",
         nullptr},
        {"messages",
         "Messages",
         "message",
         "green",
         {"~/Library/Messages"},
         true,
         careful,
         CategoryAction::backupThenRemove(
             "com.apple.MobileSMS",
             "Messages keeps an index that has to stay in step with the attachments on disk, so removing part of this "
             "folder can break the rest of it. Vessora will copy what you selected somewhere safe and confirm the "
             "copy before deleting anything."),
         "The Messages database and its attachments.",
         nullptr},
        {"mail",
         "Mail",
         "envelope",
         "indigo",
         {"~/Library/Mail", "~/Library/Containers/com.apple.mail/Data/Library/Mail Downloads"},
         true,
         careful,
         CategoryAction::removable(),
         "Locally cached mailboxes and downloaded attachments.",
         "For IMAP accounts this is a local copy and the server still has it. For POP accounts it is the only copy."},
        {"music",
         "Music",
         "music.note",
         "red",
         {"~/Music"},
         true,
         careful,
         CategoryAction::removable(),
         "The Music library, downloads and anything else under Music.",
         "Purchased and Apple Music downloads redownload. Anything you imported yourself does not."},
        {"cloud",
         "Cloud Drives",
         "icloud",
         "cyan",
         {"~/Library/Application Support/CloudDocs", "~/Library/Application Support/Google/DriveFS",
          "~/Library/Application Support/OneDrive", "~/Library/Caches/CloudKit",
          "~/Library/Group Containers/group.com.apple.CoreSpeech"},
         false,
         review,
         CategoryAction::removable(),
         "What iCloud Drive, Google Drive and OneDrive keep on this Mac.",
         "This is the local cache only, not the size of your cloud drives. The synced folders themselves are "
         "deliberately not walked: asking a provider how big its tree is makes it download the tree."},
        {"developer",
         "Developer",
         "hammer",
         "purple",
         {"~/Library/Developer", "/Library/Developer", "~/.gradle", "~/.android", "~/.npm", "~/.cache", "~/.cargo",
          "~/.m2", "~/.docker", "~/go/pkg", "~/Library/Caches/Homebrew"},
         true,
         review,
         CategoryAction::removable(),
         "Xcode, simulators, package manager caches and container images.",
         "Almost all of this rebuilds or redownloads. Cleanup has the same items grouped by how safe they are."},
        {"trash",
         "Trash",
         "trash",
         "brown",
         {"~/.Trash"},
         true,
         safe,
         CategoryAction::removable(),
         "Already thrown away, still taking up the disk.",
         nullptr},
        {"othersShared", "Other Users & Shared", "person.2", "teal", otherUsers, true, careful,
         CategoryAction::readOnly("This belongs to another account on this Mac. Removing it needs that user's "
                                  "consent and an administrator, so Vessora will only measure it."),
         "Home folders belonging to other accounts, plus the Shared folder.", nullptr},
        {"macos",
         "macOS",
         "laptopcomputer",
         "gray",
         {"/System", "/usr", "/bin", "/sbin", "/opt"},
         false,
         careful,
         CategoryAction::readOnly("macOS lives on a sealed, cryptographically signed volume. It cannot be modified, "
                                  "by this app or any other, and none of it is recoverable space."),
         "The operating system itself.",
         nullptr},
        {"systemData",
         "System Data",
         "ellipsis.circle",
         "yellow",
         {},
         false,
         review,
         CategoryAction::removable(),
         "Everything the categories above do not account for.",
         "System Data is not a folder, it is arithmetic: the volume's used space minus everything that could be "
         "identified. The rows below are the things that usually make it large, measured on this Mac."},
    };
}

std::string resolved(const std::string& root, const std::string& home) {
    return root.starts_with("~") ? home + root.substr(1) : root;
}

StorageCategory categoryNamed(const std::string& id) {
    for (const StorageCategory& c : StorageCategories::all())
        if (c.id == id) return c;
    throw std::runtime_error("no category " + id);
}

std::vector<std::string> urls(const std::vector<CleanupEntry>& entries) {
    std::vector<std::string> out;
    for (const CleanupEntry& e : entries) out.push_back(e.url);
    return out;
}

// A single file whose allocated size is the first multiple of `block` at or
// above `bytes` (or, with `below`, the last one under it).
std::string fileAround(const std::string& path, int64_t bytes, bool below) {
    test::writeFile(path, 4096);
    int64_t block = test::allocatedSize(path);
    int64_t blocks = below ? (bytes - 1) / block : (bytes + block - 1) / block;
    return test::writeFile(path, blocks * block);
}

} // namespace

TEST(StorageCategories, TableHasTwelveRowsWithEveryText) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    std::vector<StorageCategory> all = StorageCategories::all();
    std::vector<ExpectedCategory> expected = expectedCategories(StorageCategories::otherUserRoots());
    ASSERT_EQ(all.size(), 12u);
    for (size_t i = 0; i < expected.size(); ++i) {
        const ExpectedCategory& e = expected[i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(all[i].id, e.id);
        EXPECT_EQ(all[i].title, e.title);
        EXPECT_EQ(all[i].symbol, e.symbol);
        EXPECT_EQ(all[i].colorName, e.colorName);
        EXPECT_EQ(all[i].detail, e.detail);
        std::vector<std::string> roots;
        for (const std::string& r : e.roots) roots.push_back(resolved(r, dir.path()));
        EXPECT_EQ(all[i].roots, roots);
        EXPECT_EQ(all[i].listsContents, e.listsContents);
        EXPECT_EQ(all[i].risk, e.risk);
        EXPECT_EQ(all[i].measurement, i == 11 ? CategoryMeasurement::remainder : CategoryMeasurement::measured);
        EXPECT_EQ(all[i].action, e.action);
        EXPECT_EQ(all[i].caveat, e.caveat ? std::optional<std::string>(e.caveat) : std::nullopt);
    }
    EXPECT_EQ(all[0].color(), (Rgb{0.36, 0.52, 0.80}));
    EXPECT_EQ(categoryNamed("macos").color(), (Rgb{0.55, 0.56, 0.60})) << "gray has no entry of its own";
    // Built against the home folder of the moment.
    test::TempDir other;
    test::ScopedEnv moved("HOME", other.path());
    EXPECT_EQ(categoryNamed("trash").roots, std::vector<std::string>{other.path() + "/.Trash"});
}

TEST(StorageCategories, OtherUserRootsSkipTheCurrentAccountSharedAndHiddenNames) {
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

TEST(StorageCategories, ClaimedPathsAndSystemDataRoots) {
    test::TempDir dir;
    // A home folder written with redundant separators still claims standardized paths.
    test::ScopedEnv home("HOME", dir.path() + "//");
    std::set<std::string> claimed = StorageCategories::claimedPaths();
    for (const char* path : {"/.gradle", "/Library/Messages", "/Documents", "/Library/Caches/CloudKit",
                             "/Library/CloudStorage", "/Library/Mobile Documents"})
        EXPECT_TRUE(claimed.count(dir.path() + path)) << path;
    for (const char* path : {"/dev", "/System/Volumes/VM/.snapshots", "/usr", "/Applications", "/Users/Shared"})
        EXPECT_TRUE(claimed.count(path)) << path;
    EXPECT_FALSE(claimed.count(dir.path() + "/Library"));
    EXPECT_FALSE(claimed.count(dir.path() + "/Library/Application Support"));
    for (const std::string& path : claimed) EXPECT_EQ(path, Paths::standardize(path));

    EXPECT_EQ(StorageCategories::systemDataRoots(),
              (std::vector<std::string>{dir.path() + "/Library", "/Library", "/private/var", dir.path() + "//"}));
}

TEST(StorageCategories, MeasuresRootsChildrenAndSums) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
    test::writeFile(dir / "Documents/report.pdf", 3 * 4096);
    test::writeFile(dir / "Desktop/notes/a.txt", 7 * 4096);
    test::writeFile(dir / "Downloads/.DS_Store", 4096);
    test::makeDirs(dir / "Downloads/empty");
    test::writeFile(dir / "Library/Caches/CloudKit/blob", 2 * 4096);
    test::writeFile(dir / "Library/Group Containers/group.com.apple.CoreSpeech/x", 4096);

    MeasuredCategory documents = StorageCategories::measure(categoryNamed("documents"));
    EXPECT_TRUE(documents.measured);
    EXPECT_EQ(urls(documents.entries), (std::vector<std::string>{dir / "Desktop/notes", dir / "Documents/report.pdf"}));
    EXPECT_EQ(documents.size, test::lstatTreeSize(dir / "Desktop/notes") + test::lstatTreeSize(dir / "Documents"));
    EXPECT_EQ(documents.id(), "documents");

    // Roots measured whole.
    MeasuredCategory cloud = StorageCategories::measure(categoryNamed("cloud"));
    EXPECT_EQ(urls(cloud.entries),
              (std::vector<std::string>{dir / "Library/Caches/CloudKit",
                                        dir / "Library/Group Containers/group.com.apple.CoreSpeech"}));

    // Nothing there: measured, empty.
    MeasuredCategory music = StorageCategories::measure(categoryNamed("music"));
    EXPECT_TRUE(music.measured);
    EXPECT_EQ(music.size, 0);
    EXPECT_TRUE(music.entries.empty());

    // The remainder is arithmetic: nothing is measured, even with roots given.
    StorageCategory systemData = categoryNamed("systemData");
    systemData.roots = {dir / "Documents"};
    MeasuredCategory remainder = StorageCategories::measure(systemData);
    EXPECT_TRUE(remainder.measured);
    EXPECT_EQ(remainder.size, 0);
    EXPECT_TRUE(remainder.entries.empty());
}

TEST(StorageCategories, SystemDataListsLargeUnclaimedItemsOnce) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir.path());
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
    EXPECT_EQ(urls(entries), (std::vector<std::string>{dir / ".hidden-cache", dir / "Library/Application Support",
                                                       dir / "Library/Big", dir / "Library/atOrAbove"}));
    for (const CleanupEntry& e : entries) {
        EXPECT_EQ(e.size, test::lstatTreeSize(e.url)) << e.url;
        EXPECT_TRUE(e.modified.has_value());
    }

    // Directly in the home folder only hidden items count, and never the Trash,
    // even when nothing claims them.
    EXPECT_EQ(urls(StorageCategories::measureSystemDataEntries({dir.path()}, {})),
              (std::vector<std::string>{dir / ".hidden-cache", dir / ".gradle"}));

    // The same standardized path reached from two roots is listed once, under the first.
    std::vector<CleanupEntry> twice = StorageCategories::measureSystemDataEntries(
        {dir / "Library", dir / "Library/../Library/"}, StorageCategories::claimedPaths());
    EXPECT_EQ(twice.size(), 3u);
    std::set<std::string> distinct;
    for (const CleanupEntry& e : twice) distinct.insert(e.url);
    EXPECT_EQ(distinct.size(), twice.size());
}

TEST(StorageCategories, RemainderIsUsedSpaceMinusMeasuredCategories) {
    VolumeInfo root{"/", "Disk", 1000, 300, 200, true, true};
    VolumeInfo other{"/mnt/b", "B", 5000, 100, 100, true, false};
    std::vector<MeasuredCategory> categories;
    for (const StorageCategory& c : StorageCategories::all()) categories.push_back({c, 0, {}, false});
    categories[0].size = 300;
    categories[1].size = 100;
    categories[11].size = 999'999; // the remainder itself never counts
    EXPECT_EQ(StorageCategories::remainderSize({other, root}, categories), 800 - 400);
    categories[2].size = 10'000;
    EXPECT_EQ(StorageCategories::remainderSize({root}, categories), 0) << "clamped at 0";
    EXPECT_EQ(StorageCategories::remainderSize({other}, categories), 0) << "no root volume";
    VolumeInfo overfull{"/", "Disk", 100, 500, 500, true, true};
    categories[2].size = 0;
    EXPECT_EQ(StorageCategories::remainderSize({overfull}, categories), 0);
}
