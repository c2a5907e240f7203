#include "ModelTestSupport.h"

#include "support/Paths.h"

#include <unistd.h>

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
        model->categories().setItems({categoryOf("messages", CategoryMeasurement::measured, 100 << 10, listed)});
    }
    ~BackupFlowTest() override { CorvaneModelTestAccess::settle(*model); }

    bool archive(const std::vector<CleanupEntry>& chosen, const std::string& destination, RemovalMode mode) {
        model->backup().archiveThenReview(chosen, "Messages", destination, mode, "messages");
        return waitUntil([&] { return !model->backup().isArchiving(); });
    }

    const std::string attachments = home() + "/Library/Messages/Attachments";
    const std::string a = attachments + "/a", b = attachments + "/b", keep = attachments + "/keep";
    std::vector<CleanupEntry> entries;
    std::unique_ptr<CorvaneModel> model;
};

TEST_F(BackupFlowTest, AVerifiedCopyWaitsAndConfirmRemovesTheCapturedEntriesInTheCapturedMode) {
    const std::string backups = path("backups");
    model->backup().archiveThenReview(entries, "Messages", backups, RemovalMode::trash, "messages");
    EXPECT_TRUE(model->backup().isArchiving());
    EXPECT_EQ(model->backup().archiveStatus(), "Copying 2 items\u2026");
    // The status and the entries being copied belong to the category the backup is for.
    EXPECT_EQ(std::tuple(model->backup().archiveCategory(), model->backup().archivingEntries(),
                         bool(model->backup().pendingDeletion())),
              std::tuple("messages", entries, false));
    ASSERT_TRUE(waitUntil([&] { return !model->backup().isArchiving(); }));

    EXPECT_FALSE(model->backup().archiveStatus() || model->backup().archiveError() || model->removals().lastResult());
    EXPECT_TRUE(model->backup().archivingEntries().empty());
    ASSERT_TRUE(model->backup().pendingDeletion());
    const PendingRemoval pending = *model->backup().pendingDeletion();
    EXPECT_EQ(std::tuple(Paths::parent(pending.destination), pending.entries, pending.items.size()),
              std::tuple(backups, entries, 2u));
    EXPECT_TRUE(pending.sameVolumeAsSource); // the backups and HOME share the temporary folder's volume
    EXPECT_TRUE(exists(a) && exists(pending.destination + "/a"));

    model->backup().confirmPendingDeletion();
    EXPECT_FALSE(model->backup().pendingDeletion());
    ASSERT_TRUE(waitForRemovals(*model));
    // The originals went by the mode chosen at backup time.
    EXPECT_EQ(std::tuple(exists(a), exists(b), exists(keep), exists(pending.destination + "/a"),
                         exists(home() + "/.local/share/Trash/files/a")),
              std::tuple(false, false, true, true, true));
    EXPECT_EQ(model->removals().lastResult()->succeeded, (std::vector<std::string>{a, b}));
    EXPECT_EQ(model->backup().archiveStatus(),
              "Backed up to " + Paths::lastComponent(pending.destination) + ", then removed the originals.");
    ASSERT_EQ(model->categories().find("messages")->entries.size(), 1u);
    EXPECT_EQ(model->categories().find("messages")->entries[0].url, keep);
}

// Keeping both after a review is the window's test (BackupFlowTest.KeepBothAndEscapeDeleteNothing).
TEST_F(BackupFlowTest, NothingPendingOrOriginalsGoneDeleteNothing) {
    // With nothing pending, neither action does anything.
    SignalCounter status(model->backup(), &BackupReview::archiveStatusChanged);
    model->backup().confirmPendingDeletion();
    model->backup().cancelPendingDeletion();
    EXPECT_EQ(std::tuple(status.count(), bool(model->removals().lastResult()), exists(a)), std::tuple(0, false, true));

    // Confirmed once the originals had gone: nothing was removed, and the
    // status does not claim otherwise.
    ASSERT_TRUE(archive({entries[1]}, path("backups"), RemovalMode::trash));
    const std::string second = model->backup().pendingDeletion()->destination;
    ::unlink(b.c_str());
    model->backup().confirmPendingDeletion();
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_EQ(std::tuple(bool(model->removals().lastResult()->succeeded.empty()), model->backup().archiveStatus()),
              std::tuple(true, "Backup kept at " + Paths::lastComponent(second) + ". Nothing was deleted."));
    EXPECT_EQ(model->backup().archiveCategory(), "messages");
}

TEST_F(BackupFlowTest, AFailingOrEmptyCopyDeletesNothingAndSaysWhy) {
    // A file where the backup root should be: the dated folder cannot be made.
    const std::string blocked = writeFile(path("blocked"), 10);
    model->backup().archiveThenReview(entries, "Messages", blocked, RemovalMode::deleteImmediately);
    EXPECT_EQ(model->backup().archiveStatus(), "Copying 2 items\u2026");
    ASSERT_TRUE(waitUntil([&] { return !model->backup().isArchiving(); }));
    EXPECT_FALSE(model->backup().pendingDeletion());
    ASSERT_EQ(model->removals().lastResult()->failed.size(), 2u);
    EXPECT_EQ(std::tuple(bool(model->removals().lastResult()->succeeded.empty()), model->backup().archiveError(),
                         model->backup().archiveError()->rfind("Nothing was deleted. Could not create ", 0)),
              std::tuple(true, "Nothing was deleted. " + model->removals().lastResult()->failed[0].reason, 0u));
    EXPECT_TRUE(exists(a) && exists(b));

    ASSERT_TRUE(archive({}, path("backups"), RemovalMode::trash));
    EXPECT_FALSE(model->backup().pendingDeletion());
    EXPECT_EQ(model->backup().archiveError(), "Nothing was deleted. The copy could not be verified.");
    model->backup().archiveThenReview({entries[1]}, "Messages", path("backups"), RemovalMode::trash);
    EXPECT_EQ(model->backup().archiveStatus(), "Copying 1 item\u2026");
    ASSERT_TRUE(waitUntil([&] { return !model->backup().isArchiving(); }));
    EXPECT_TRUE(model->backup().pendingDeletion());
    // Only the category screen clears an old error.
    EXPECT_EQ(model->backup().archiveError(), "Nothing was deleted. The copy could not be verified.");
}

} // namespace
} // namespace vessora::test
