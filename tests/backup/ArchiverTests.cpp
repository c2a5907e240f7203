#include "ChatDatabase.h"
#include "TestSupport.h"

#include "backup/Archiver.h"
#include "backup/PendingDeletion.h"
#include "support/Paths.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <unistd.h>

using namespace vessora;
using namespace vessora::test;

namespace {

struct EntryStandIn {
    std::string url;
};
using Pending = PendingDeletion<EntryStandIn, int>;

// Originals live under `originals`; every test's archive must leave them as
// they were, bytes and timestamps, which TearDown checks.
class ArchiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeDirs(originals);
        makeDirs(backups);
    }
    void watch() { before = snapshot(originals); }
    void TearDown() override {
        if (IsSkipped()) return;
        ASSERT_FALSE(before.empty()) << "the test did not record its originals";
        EXPECT_EQ(snapshot(originals), before);
    }

    TempDir dir;
    std::string originals = dir / "originals";
    std::string backups = dir / "backups";
    std::map<std::string, std::string> before;
};

} // namespace

TEST_F(ArchiverTest, CopiesAndVerifiesATreeAndAFile) {
    const std::string tree = originals + "/Projects";
    writeFile(tree + "/a.bin", 300'000, 'a');
    writeFile(tree + "/nested/deeper/b.bin", 70'000, 'b');
    writeFile(tree + "/nested/empty.txt", 0);
    makeDirs(tree + "/empty folder");
    ASSERT_EQ(::symlink("a.bin", (tree + "/link").c_str()), 0);
    ASSERT_EQ(::symlink("/nowhere/at/all", (tree + "/dangling").c_str()), 0);
    const std::string file = writeFile(originals + "/notes.txt", 5'000, 'n');
    const std::string dangling = originals + "/Projects/dangling";
    watch();

    std::vector<std::string> told;
    ArchiveResult r =
        Archiver::archive({tree, file, dangling}, "Documents", backups, [&](size_t i, size_t n, const std::string& s) {
            told.push_back(std::to_string(i) + "/" + std::to_string(n) + " " + s);
        });
    EXPECT_TRUE(r.failed.empty()) << r.failed[0].reason;
    EXPECT_EQ(r.copied, (std::vector<std::string>{tree, file, dangling}));
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[0].destination, r.destination + "/Projects");
    EXPECT_EQ(std::tuple(snapshot(r.items[0].destination, false), snapshot(r.items[1].destination, false)),
              std::tuple(snapshot(tree, false), snapshot(file, false)));
    EXPECT_EQ(r.items[1].originalBytes, allocatedSize(file));
    EXPECT_EQ(r.bytes, r.items[0].copiedBytes + r.items[1].copiedBytes + r.items[2].copiedBytes);
    EXPECT_EQ(told, (std::vector<std::string>{"0/3 " + tree, "1/3 " + file, "2/3 " + dangling}));
}

TEST_F(ArchiverTest, AnUndersizedCopyFailsAndStays) {
    // Blocks reserved past the end of a file count in its allocated size but
    // are not copied, so the copy measures far less than the original.
    const std::string file = writeFile(originals + "/reserved.img", 4096, 'r');
    int fd = ::open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20), 0);
    ::close(fd);
    const std::string small = writeFile(originals + "/fine.txt", 10'000);
    watch();

    ArchiveResult r = Archiver::archive({file, small}, "Disk Image", backups);
    ASSERT_EQ(r.failed.size(), 1u);
    EXPECT_EQ(r.failed[0].path, file);
    const std::string copy = r.destination + "/reserved.img";
    EXPECT_TRUE(r.failed[0].reason.starts_with("The copy is ")) << r.failed[0].reason;
    EXPECT_EQ(readText(copy), readText(file)); // left where it is
    EXPECT_EQ(std::tuple(r.copied, r.items.size()), std::tuple(std::vector<std::string>{small}, 1u));
}

TEST_F(ArchiverTest, ADestinationThatCannotBeCreatedFailsEveryItem) {
    const std::string a = writeFile(originals + "/a", 100), b = writeFile(originals + "/b", 100);
    const std::string blocker = writeFile(dir / "blocker", 10);
    watch();

    ArchiveResult r = Archiver::archive({a, b}, "Label", blocker + "/Backups");
    const std::string reason = "Could not create " + r.destination + ": Not a directory";
    EXPECT_EQ(r.failed, (std::vector<Failure>{{a, reason}, {b, reason}}));
    EXPECT_TRUE(r.copied.empty() && r.items.empty());
}

TEST_F(ArchiverTest, SameLastComponentTwiceKeepsBothCopiesWhole) {
    const std::string first = originals + "/one/data", second = originals + "/two/data";
    writeText(first + "/shared.txt", "first copy");
    writeText(first + "/only-first.txt", "1");
    writeText(second + "/shared.txt", "second copy, longer");
    const std::string fileA = writeText(originals + "/one/log.txt", "first log");
    const std::string fileB = writeText(originals + "/two/log.txt", "second log");
    writeText(originals + "/index.html", "<p>the user's own page</p>");
    watch();

    ArchiveResult r = Archiver::archive({first, second, fileA, fileB, originals + "/index.html"}, "Twice", backups);
    ASSERT_TRUE(r.failed.empty());
    ASSERT_EQ(r.items.size(), 5u);
    const char* names[] = {"data", "data 2", "log.txt", "log 2.txt", "index 2.html"};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(std::tuple(r.items[i].destination, snapshot(r.items[i].destination, false)),
                  std::tuple(r.destination + "/" + names[i], snapshot(r.items[i].source, false)));
}

TEST_F(ArchiverTest, NoTranscriptUnlessEveryItemVerifiedAndADatabaseIsThere) {
    const std::string messages = originals + "/Messages";
    writeSampleChatDatabase(messages + "/chat.db");
    const std::string notADatabase = writeText(originals + "/Broken/chat.db", "not sqlite at all");
    const std::string plain = writeText(originals + "/plain.txt", "plain");
    watch();

    const std::string missing = originals + "/does-not-exist";
    ArchiveResult partial = Archiver::archive({messages, missing}, "Partial", backups);
    ASSERT_EQ(partial.failed.size(), 1u);
    EXPECT_TRUE(partial.failed[0].path == missing && partial.failed[0].reason.ends_with("No such file or directory"))
        << partial.failed[0].path << ": " << partial.failed[0].reason;
    EXPECT_FALSE(partial.readableExport || exists(partial.destination + "/index.html"));
    EXPECT_TRUE(exists(partial.destination + "/Messages/chat.db")); // the verified copy stays

    for (const std::string& item : {plain, Paths::parent(notADatabase)}) {
        ArchiveResult r = Archiver::archive({item}, "Other", backups);
        EXPECT_EQ(r.copied, std::vector<std::string>{item});
        EXPECT_FALSE(r.readableExport || exists(r.destination + "/index.html")) << item;
    }
}

TEST_F(ArchiverTest, SameAndOtherFileSystemAndADestinationThatFillsUp) {
    if (!isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string file = writeFile(originals + "/photo.raw", 200'000);
    // A tree that overflows the volume by a few blocks: whatever part of it
    // fails, the copy still measures more than 98 % of the original, so only
    // the copier's own error report can tell it is incomplete.
    const std::string tree = originals + "/tree";
    writeFile(tree + "/large.bin", 245 * 4096, 'L');
    for (int i = 0; i < 14; ++i) writeFile(tree + "/small" + std::to_string(i), 4096, 's');
    watch();
    const std::string mount = dir / "other-volume", small = dir / "small-volume";
    ASSERT_TRUE(mountTmpfs(mount, 16 << 20));
    ASSERT_TRUE(mountTmpfs(small, 1 << 20));

    ArchiveResult here = Archiver::archive({file}, "Here", backups),
                  there = Archiver::archive({file}, "There", mount + "/Backups");
    ASSERT_TRUE(here.failed.empty() && there.failed.empty());
    EXPECT_EQ(readText(there.items[0].destination), readText(file));
    EXPECT_FALSE(Archiver::sameVolume(dir / "missing", file));
    EXPECT_EQ(std::tuple(Pending::from(here, {{file}}, 7)->sameVolumeAsSource,
                         Pending::from(there, {{file}}, 7)->sameVolumeAsSource),
              std::tuple(true, false));

    ArchiveResult t = Archiver::archive({tree}, "Full", small);
    ASSERT_EQ(t.failed.size(), 1u);
    EXPECT_EQ(t.failed[0].path, tree);
    EXPECT_TRUE(t.items.empty() && t.failed[0].reason.find("No space left on device") != std::string::npos)
        << t.failed[0].reason;
    unmount(mount), unmount(small);
}

TEST(Archiver, ABackupFolderInsideTheOriginalIsRefusedAndFolderNamesFollowTheZone) {
    TempDir dir;
    const std::string file = writeText(dir / "Documents/letter.txt", "dear");
    ArchiveResult r = Archiver::archive({dir / "Documents"}, "Self", dir / "Documents/Vessora Backups");
    EXPECT_EQ(r.failed, (std::vector<Failure>{{dir / "Documents", "The backup folder lies inside the original."}}));
    EXPECT_EQ(std::tuple(r.copied.size(), readText(file)), std::tuple(0u, "dear"));
    EXPECT_EQ(::rmdir(r.destination.c_str()), 0) << "something was copied into " << r.destination;
    // The backup folder is named in the given zone.
    using namespace std::chrono;
    // 3 March 2025, 14:05:30 UTC.
    const Date date = system_clock::time_point(seconds(1'741'010'730));
    EXPECT_EQ(Archiver::folderName("Messages", date, "UTC"), "Messages 2025-03-03 1405");
    EXPECT_EQ(Archiver::folderName("Messages", date, "America/New_York"), "Messages 2025-03-03 0905");
    EXPECT_EQ(Archiver::folderName("Mail/../..", date, "UTC"), "Mail-..-.. 2025-03-03 1405");
}
