#include "ModelTestSupport.h"

#include "support/Paths.h"

namespace vessora::test {
namespace {

class BackupFlowTest : public ModelTest {
protected:
    BackupFlowTest() {
        writeFile(a, 64 << 10);
        writeFile(b, 32 << 10);
        writeFile(keep, 4096);
        entries = {CleanupEntry{a, allocatedSize(a), std::nullopt}, CleanupEntry{b, allocatedSize(b), std::nullopt}};
        model = makeModel();
        auto listed = entries;
        listed.push_back(CleanupEntry{keep, allocatedSize(keep), std::nullopt});
        CorvaneModelTestAccess::setCategories(
            *model, {categoryOf("messages", CategoryMeasurement::measured, 100 << 10, listed)});
    }
    ~BackupFlowTest() override { CorvaneModelTestAccess::settle(*model); }

    bool archive(const std::vector<CleanupEntry>& chosen, const std::string& destination, RemovalMode mode) {
        model->archiveThenReview(chosen, "Messages", destination, mode);
        return waitUntil([&] { return !model->isArchiving(); });
    }

    const std::string attachments = home() + "/Library/Messages/Attachments";
    const std::string a = attachments + "/a", b = attachments + "/b", keep = attachments + "/keep";
    std::vector<CleanupEntry> entries;
    std::unique_ptr<CorvaneModel> model;
};

TEST_F(BackupFlowTest, AVerifiedCopyWaitsAndConfirmRemovesTheCapturedEntriesInTheCapturedMode) {
    const std::string backups = path("backups");
    model->archiveThenReview(entries, "Messages", backups, RemovalMode::trash);
    EXPECT_TRUE(model->isArchiving());
    EXPECT_EQ(model->archiveStatus(), "Copying 2 items\u2026");
    EXPECT_FALSE(model->pendingDeletion());
    ASSERT_TRUE(waitUntil([&] { return !model->isArchiving(); }));

    EXPECT_FALSE(model->archiveStatus());
    EXPECT_FALSE(model->archiveError());
    ASSERT_TRUE(model->pendingDeletion());
    const PendingRemoval pending = *model->pendingDeletion();
    EXPECT_EQ(Paths::parent(pending.destination), backups);
    EXPECT_EQ(Paths::lastComponent(pending.destination).rfind("Messages ", 0), 0u);
    EXPECT_EQ(model->lastArchiveDestination(), pending.destination);
    EXPECT_EQ(pending.entries, entries);
    EXPECT_EQ(pending.mode, RemovalMode::trash);
    ASSERT_EQ(pending.items.size(), 2u);
    EXPECT_EQ(pending.bytes, pending.items[0].copiedBytes + pending.items[1].copiedBytes);
    EXPECT_GT(pending.bytes, 0);
    EXPECT_TRUE(pending.sameVolumeAsSource); // the backups and HOME share the temporary folder's volume
    EXPECT_TRUE(exists(a));
    EXPECT_TRUE(exists(pending.destination + "/a"));
    EXPECT_FALSE(model->lastResult()); // nothing removed yet

    model->confirmPendingDeletion();
    EXPECT_FALSE(model->pendingDeletion());
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_FALSE(exists(a));
    EXPECT_FALSE(exists(b));
    EXPECT_TRUE(exists(keep));
    EXPECT_TRUE(exists(home() + "/.local/share/Trash/files/a")); // the mode chosen at backup time
    EXPECT_TRUE(exists(pending.destination + "/a"));
    ASSERT_TRUE(model->lastResult());
    EXPECT_EQ(model->lastResult()->succeeded, (std::vector<std::string>{a, b}));
    EXPECT_EQ(model->archiveStatus(),
              "Backed up to " + Paths::lastComponent(pending.destination) + ", then removed the originals.");
    ASSERT_EQ(model->category("messages")->entries.size(), 1u);
    EXPECT_EQ(model->category("messages")->entries[0].url, keep);
}

TEST_F(BackupFlowTest, CancellingKeepsTheBackupAndTheOriginals) {
    ASSERT_TRUE(archive({entries[0]}, path("backups"), RemovalMode::deleteImmediately));
    EXPECT_EQ(model->pendingDeletion()->items.size(), 1u);
    const std::string destination = model->pendingDeletion()->destination;

    model->cancelPendingDeletion();
    EXPECT_FALSE(model->pendingDeletion());
    EXPECT_EQ(model->archiveStatus(), "Backup kept at " + Paths::lastComponent(destination) + ". Nothing was deleted.");
    EXPECT_TRUE(exists(a));
    EXPECT_TRUE(exists(destination + "/a"));

    // With nothing pending, neither action does anything.
    SignalCounter status(*model, &CorvaneModel::archiveStatusChanged);
    model->confirmPendingDeletion();
    model->cancelPendingDeletion();
    EXPECT_EQ(status.count(), 0);
    EXPECT_FALSE(model->lastResult());
    EXPECT_TRUE(exists(a));
}

TEST_F(BackupFlowTest, ABackupOnAnotherVolumeIsMarkedSo) {
    if (!isRoot()) GTEST_SKIP() << "mounting a second volume needs root";
    const std::string other = path("other-volume");
    ASSERT_TRUE(mountTmpfs(other));
    ASSERT_TRUE(archive(entries, other, RemovalMode::trash));
    ASSERT_TRUE(model->pendingDeletion());
    EXPECT_FALSE(model->pendingDeletion()->sameVolumeAsSource);
    model->cancelPendingDeletion();
    EXPECT_TRUE(exists(a));
}

TEST_F(BackupFlowTest, AFailingCopyDeletesNothingAndSaysWhy) {
    // A file where the backup root should be: the dated folder cannot be made.
    const std::string blocked = writeFile(path("blocked"), 10);
    model->archiveThenReview(entries, "Messages", blocked, RemovalMode::deleteImmediately);
    EXPECT_EQ(model->archiveStatus(), "Copying 2 items\u2026");
    ASSERT_TRUE(waitUntil([&] { return !model->isArchiving(); }));

    EXPECT_FALSE(model->pendingDeletion());
    EXPECT_FALSE(model->lastArchiveDestination());
    ASSERT_TRUE(model->lastResult());
    ASSERT_EQ(model->lastResult()->failed.size(), 2u);
    EXPECT_TRUE(model->lastResult()->succeeded.empty());
    ASSERT_TRUE(model->archiveError());
    EXPECT_EQ(*model->archiveError(), "Nothing was deleted. " + model->lastResult()->failed[0].reason);
    EXPECT_EQ(model->archiveError()->rfind("Nothing was deleted. Could not create ", 0), 0u);
    EXPECT_TRUE(exists(a));
    EXPECT_TRUE(exists(b));
    EXPECT_EQ(model->totalFreedThisSession(), 0);
}

TEST_F(BackupFlowTest, NothingCopiedCannotBeVerified) {
    model->archiveThenReview({}, "Messages", path("backups"), RemovalMode::trash);
    EXPECT_EQ(model->archiveStatus(), "Copying 0 items\u2026");
    ASSERT_TRUE(waitUntil([&] { return !model->isArchiving(); }));
    EXPECT_FALSE(model->pendingDeletion());
    EXPECT_EQ(model->archiveError(), "Nothing was deleted. The copy could not be verified.");

    model->archiveThenReview({entries[1]}, "Messages", path("backups"), RemovalMode::trash);
    EXPECT_EQ(model->archiveStatus(), "Copying 1 item\u2026");
    ASSERT_TRUE(waitUntil([&] { return !model->isArchiving(); }));
    EXPECT_TRUE(model->pendingDeletion());
    // Only the category screen clears an old error.
    EXPECT_EQ(model->archiveError(), "Nothing was deleted. The copy could not be verified.");
}

} // namespace
} // namespace vessora::test
