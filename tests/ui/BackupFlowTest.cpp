#include "CleanupScreensSupport.h"
#include "apps/RunningApps.h"
#include "backup/ChatDatabase.h"
#include "platform/PlatformTables.h"
#include "ui/category/BackupReviewDialog.h"
#include "ui/category/CategoryDetailView.h"
#include "platform/PlatformTables.h"
#include "ui/cleanup/CleanupTexts.h"

#include <QLabel>
#include <QListView>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vessora;
using namespace vessora::test;

namespace {

class BackupFlowTest : public ScreenTest {
protected:
    void SetUp() override {
        page = std::make_unique<CategoryDetailView>(stores());
        page->resize(900, 700);
        page->show();
    }
    // Shows the category with these entries, selects them all and presses the action.
    void selectAllAndAct(MeasuredCategory measured) {
        model->categories().setItems({std::move(measured)});
        page->setCategoryId(model->categories().items().front().id());
        QCoreApplication::processEvents();
        page->findChild<QPushButton*>("categoryDetail.selectAll")->click();
        QCoreApplication::processEvents();
        QTest::mouseClick(page->findChild<QPushButton*>("categoryDetail.action"), Qt::LeftButton);
    }
    // Confirms the open confirmation and waits for the review.
    BackupReviewDialog* confirmAndWaitForReview() {
        QMessageBox* box = waitForMessageBox();
        EXPECT_TRUE(box);
        if (!box) return nullptr;
        buttonWithText(box, "Back Up and Review")->click();
        // One backup at a time: the button waits for this one to end.
        page->refresh();
        EXPECT_TRUE(!model->backup().isArchiving() ||
                    !page->findChild<QPushButton*>("categoryDetail.action")->isEnabled());
        EXPECT_TRUE(waitUntil([&] { return page->reviewDialog() != nullptr; }, 20000));
        return page->reviewDialog();
    }
    MeasuredCategory careful(const std::string& id, std::vector<CleanupEntry> entries) {
        MeasuredCategory measured = category(id, std::move(entries));
        measured.category.risk = CleanupRisk::careful;
        measured.category.action = CategoryAction::removable();
        return measured;
    }
    QString label(QWidget* within, const char* name) { return within->findChild<QLabel*>(name)->text(); }

    std::unique_ptr<CategoryDetailView> page;
};

bool inTrash(const std::string& trash, const std::string& name) { return exists(trash + "/files/" + name); }

} // namespace

// Back up, look, delete: the originals go to the Trash only after "Delete Originals".
TEST_F(BackupFlowTest, ReviewThenDeleteOriginals) {
    const std::string trash = path("home/.local/share/Trash");
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/a.pdf"), 30'000, 'a'));
    const CleanupEntry b = entryFor(writeFile(path("home/Documents/b.txt"), 4'000, 'b'));
    selectAllAndAct(careful("documents", {a, b}));
    BackupReviewDialog* review = confirmAndWaitForReview();
    ASSERT_TRUE(review);
    EXPECT_TRUE(review->isVisible());
    EXPECT_EQ(review->windowModality(), Qt::WindowModal);
    ASSERT_TRUE(model->backup().pendingDeletion());
    const std::string destination = model->backup().pendingDeletion()->destination;
    EXPECT_EQ(destination.rfind(path("backups") + "/", 0), 0u);
    EXPECT_EQ(label(review, "backupReview.subtitle").toStdString(),
              CleanupTexts::reviewSubtitle(2, model->backup().pendingDeletion()->bytes));
    EXPECT_EQ(label(review, "backupReview.destination").toStdString(), destination);
    EXPECT_FALSE(review->findChild<QLabel*>("backupReview.transcript"));
    EXPECT_FALSE(review->findChild<QLabel*>("backupReview.mismatch"));
    EXPECT_TRUE(review->findChild<QLabel*>("backupReview.sameDisk"));
    EXPECT_EQ(label(review, "backupReview.footer"), "Originals will go to the Trash.");
    EXPECT_TRUE(exists(a.url) && exists(b.url));

    QWidget* hint = review->findChild<QLabel*>("backupReview.hint");
    EXPECT_TRUE(hint->isVisible());
    review->findChild<QPushButton*>("backupReview.open")->click();
    EXPECT_FALSE(hint->isVisible());
    EXPECT_EQ(revealed(), std::vector<std::string>{destination});
    // Each copy is shown from the keyboard too: Return on its row.
    auto* items = review->findChild<QListView*>("backupReview.items");
    items->setFocus();
    items->setCurrentIndex(items->model()->index(1, 0));
    QTest::keyClick(items, Qt::Key_Return);
    EXPECT_EQ(revealed().size(), 2u) << "the key stops at the list";
    EXPECT_EQ(revealed().back(), model->backup().pendingDeletion()->items[1].destination);

    ASSERT_EQ(review->confirmButton()->text(), "Delete Originals");
    review->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return model->removals().lastResult().has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->reviewDialog());
    EXPECT_FALSE(exists(a.url) || exists(b.url));
    EXPECT_TRUE(inTrash(trash, "a.pdf") && inTrash(trash, "b.txt"));
    EXPECT_TRUE(exists(destination));
    ASSERT_TRUE(model->removals().lastResult());
    EXPECT_EQ(model->removals().lastResult()->succeeded.size(), 2u);
}

// A review category backs up first too, so its folder shows; the bar stays up
// with its progress while the copy runs, and the status after the review
// belongs to the category the backup was made for.
TEST_F(BackupFlowTest, TheBarShowsTheBackupFolderAndProgressAndTheStatusStaysWithItsCategory) {
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/a.pdf"), 30'000, 'a'));
    const CleanupEntry chat = entryFor(writeFile(path("home/.config/Signal/db"), 4'000, 'c'));
    model->categories().setItems({category("documents", {a}), category("messages", {chat})});
    page->setCategoryId("documents");
    ASSERT_EQ(model->categories().find("documents")->category.risk, CleanupRisk::review);
    page->findChild<QPushButton*>("categoryDetail.selectAll")->click();
    page->refresh();
    auto* change = page->findChild<QPushButton*>("categoryDetail.change");
    EXPECT_TRUE(change->isVisible());
    EXPECT_EQ(page->findChild<QLabel*>("categoryDetail.backupRoot")->toolTip().toStdString(), path("backups"));

    QTest::mouseClick(page->findChild<QPushButton*>("categoryDetail.action"), Qt::LeftButton);
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    buttonWithText(box, "Back Up and Review")->click();
    page->refresh();
    ASSERT_TRUE(model->backup().isArchiving());
    EXPECT_TRUE(page->findChild<QWidget*>("categoryDetail.actionBar")->isVisible());
    EXPECT_TRUE(page->findChild<QLabel*>("categoryDetail.backingUp")->isVisible());
    EXPECT_EQ(page->findChild<QLabel*>("categoryDetail.selectedCount")->text(), "1 selected");

    ASSERT_TRUE(waitUntil([&] { return page->reviewDialog() != nullptr; }, 20000));
    page->reviewDialog()->keepButton()->click();
    QCoreApplication::processEvents();
    page->refresh();
    auto* status = page->findChild<QLabel*>("categoryDetail.archiveStatus");
    ASSERT_TRUE(model->backup().archiveStatus());
    page->findChild<QPushButton*>("categoryDetail.selectAll")->click();
    page->refresh();
    EXPECT_TRUE(status->isVisible());
    page->setCategoryId("messages");
    page->findChild<QPushButton*>("categoryDetail.selectAll")->click();
    page->refresh();
    EXPECT_TRUE(page->findChild<QWidget*>("categoryDetail.actionBar")->isVisible());
    EXPECT_FALSE(status->isVisible());
}

// "Keep Both", or closing the review any other way, deletes nothing and keeps the backup.
TEST_F(BackupFlowTest, KeepBothAndEscapeDeleteNothing) {
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/a.pdf"), 30'000, 'a'));
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "escape" : "keep both");
        selectAllAndAct(careful("documents", {a}));
        BackupReviewDialog* review = confirmAndWaitForReview();
        ASSERT_TRUE(review);
        const std::string destination = model->backup().pendingDeletion()->destination;
        if (escape)
            review->reject();
        else
            review->keepButton()->click();
        QCoreApplication::processEvents();
        EXPECT_FALSE(model->backup().pendingDeletion());
        EXPECT_TRUE(exists(a.url));
        EXPECT_TRUE(exists(destination));
        EXPECT_FALSE(model->removals().lastResult());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !page->reviewDialog(); }, 2000));
        // Two backups within a minute get distinct folders only if the
        // archiver numbers them; move the first out of the way.
        std::filesystem::rename(destination, destination + (escape ? " kept 2" : " kept 1"));
    }
}

// A backup that cannot be written ends in "Backup failed" with the originals intact.
TEST_F(BackupFlowTest, FailedBackupAlertsAndDeletesNothing) {
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/big.bin"), 600'000, 'z'));
    std::string target = path("backups");
    makeDirs(target);
    if (isRoot()) {
        ASSERT_TRUE(mountTmpfs(target, 256 << 10)); // smaller than the file
    } else {
        ::chmod(target.c_str(), 0500);
    }
    selectAllAndAct(careful("documents", {a}));
    QMessageBox* confirm = waitForMessageBox();
    ASSERT_TRUE(confirm);
    buttonWithText(confirm, "Back Up and Review")->click();
    QMessageBox* failed = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            failed = page->findChild<QMessageBox*>("categoryDetail.backupFailed");
            return failed && failed->isVisible();
        },
        20000));
    EXPECT_EQ(failed->text(), "Backup failed");
    EXPECT_TRUE(failed->informativeText().startsWith("Nothing was deleted. "));
    EXPECT_EQ(readText(a.url), std::string(600'000, 'z'));
    EXPECT_FALSE(model->backup().pendingDeletion());
    failed->button(QMessageBox::Ok)->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->backup().archiveError());
    if (isRoot())
        unmount(target);
    else
        ::chmod(target.c_str(), 0700);
}

// A running Messages (a copy of sleep inside a bundle with its identifier)
// stops the backup before anything is copied; once it has quit, the backup
// runs and its transcript is offered.
TEST_F(BackupFlowTest, MessagesMustQuitFirstThenTranscriptIsOffered) {
    // The desktop's own running check, over /proc.
    struct RealRunning : RecordingWorkspace {
        bool isRunning(const std::string& id) override { return Workspace::isRunning(id); }
    } running;
    Workspace::setInstance(&running);
    writeText(path("apps/Messages.app/Contents/Info.plist"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>com.apple.MobileSMS</string>"
              "<key>CFBundleName</key><string>Messages</string></dict></plist>\n");
    const pid_t child = startSleepingCopy(path("apps/Messages.app/Contents/MacOS/Messages"), "Messages");
    ASSERT_GT(child, 0);

    makeDirs(path("home/Messages"));
    writeSampleChatDatabase(path("home/Messages/chat.db"));
    MeasuredCategory messages = category("messages", {entryFor(path("home/Messages/chat.db"))});
    messages.category.risk = CleanupRisk::careful;
    messages.category.action = CategoryAction::backupThenRemove("com.apple.MobileSMS", "Copy first.");
    selectAllAndAct(messages);
    EXPECT_EQ(page->findChild<QPushButton*>("categoryDetail.action")->text(), "Back Up and Review");
    QMessageBox* quit = waitForMessageBox();
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->text(), "Quit Messages first");
    EXPECT_EQ(quit->informativeText(), QString::fromStdString(CleanupTexts::quitFirstMessage("Messages")));
    EXPECT_FALSE(model->backup().isArchiving());
    EXPECT_FALSE(exists(path("backups")));
    quit->button(QMessageBox::Ok)->click();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    QCoreApplication::processEvents();

    QTest::mouseClick(page->findChild<QPushButton*>("categoryDetail.action"), Qt::LeftButton);
    BackupReviewDialog* review = confirmAndWaitForReview();
    ASSERT_TRUE(review);
    ASSERT_TRUE(review->findChild<QLabel*>("backupReview.transcript"));
    review->findChild<QPushButton*>("backupReview.openTranscript")->click();
    ASSERT_EQ(running.opened.size(), 1u);
    EXPECT_EQ(running.opened[0].toLocalFile().toStdString(), *model->backup().pendingDeletion()->readableExport);
    EXPECT_TRUE(exists(running.opened[0].toLocalFile().toStdString()));
    review->keepButton()->click();
    Workspace::setInstance(&workspace);
}

// On Linux each chat app keeps its own folder: a running Signal (a copy of
// sleep under Signal's program name) stops the backup of Signal's data and is
// named as the user knows it; Telegram's data alone goes on to the
// confirmation.
TEST_F(BackupFlowTest, LinuxChatAppMustQuitFirst) {
    const pid_t child = startSleepingCopy(path("bin/signal-desktop"), "signal-desktop");
    ASSERT_GT(child, 0);
    ASSERT_TRUE(waitUntil([] { return !RunningApps::runningPrograms({"signal-desktop"}).empty(); }, 5000))
        << "the copy of sleep never showed up under its name";

    const CleanupEntry signal = entryFor(writeFile(path("home/.config/Signal/sql/db.sqlite"), 20'000));
    const CleanupEntry telegram = entryFor(writeFile(path("home/.local/share/TelegramDesktop/tdata/map"), 8'000));
    MeasuredCategory chats = category("messages", {signal, telegram});
    ASSERT_EQ(chats.category.title, "Chats");
    selectAllAndAct(chats);
    QMessageBox* quit = waitForMessageBox();
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->text(), "Quit Signal first");
    EXPECT_EQ(quit->informativeText(), "Signal is running. Copying its data while it is open produces a backup that "
                                       "will not restore, so quit Signal and try again.");
    quit->button(QMessageBox::Ok)->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->backup().isArchiving());
    EXPECT_FALSE(exists(path("backups")));

    page->findChild<QPushButton*>("categoryDetail.selectAll")->click(); // "Deselect all"
    selectAllAndAct(category("messages", {telegram}));
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->objectName(), "categoryDetail.confirmation");
    buttonWithText(box, "Cancel")->click();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    QCoreApplication::processEvents();
}
