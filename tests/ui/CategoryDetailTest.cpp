// The category page: its action by the category's rules, read-only and
// refused entries, the System Data texts, and the backup flow (back up,
// review, then delete the originals) over real files.

#include "UiTestSupport.h"
#include "apps/RunningApps.h"
#include "backup/ChatDatabase.h"
#include "ui/category/BackupReviewDialog.h"

#include <filesystem>
#include <sys/stat.h>

using namespace vessora;
using namespace vessora::test;

namespace {

class CategoryDetailTest : public ScreenTest {
protected:
    void SetUp() override {
        page = std::make_unique<CategoryDetailView>(stores());
        page->resize(900, 700);
        page->show();
    }
    void open(const std::string& id) {
        page->setCategoryId(id);
        QCoreApplication::processEvents();
    }
    template <class T = QWidget> T* widget(const char* name) { return page->findChild<T*>(name); }
    QString text(const char* name) { return widget<QLabel>(name)->text(); }
    QString bannerText(const char* name) {
        QWidget* banner = widget(name);
        return banner ? banner->findChild<QLabel*>("banner.text")->text() : QString();
    }
    // Presses "Select all" (or "Deselect all") and lets the page follow.
    void selectAll() {
        widget<QPushButton>("categoryDetail.selectAll")->click();
        QCoreApplication::processEvents();
        page->refresh();
    }
    // Shows the category with these entries, selects them all and presses the action.
    void selectAllAndAct(MeasuredCategory measured) {
        model->categories().setItems({std::move(measured)});
        open(model->categories().items().front().id());
        selectAll();
        QTest::mouseClick(widget<QPushButton>("categoryDetail.action"), Qt::LeftButton);
    }
    // Confirms the open confirmation and waits for the review.
    BackupReviewDialog* confirmAndWaitForReview() {
        press(waitForMessageBox(), "Back Up and Review");
        // One backup at a time: the button waits for this one to end.
        page->refresh();
        EXPECT_TRUE(!model->backup().isArchiving() || !widget("categoryDetail.action")->isEnabled());
        EXPECT_TRUE(waitUntil([&] { return page->reviewDialog() != nullptr; }, 20000));
        return page->reviewDialog();
    }
    MeasuredCategory carefulCategory(const std::string& id, std::vector<CleanupEntry> entries) {
        MeasuredCategory measured = category(id, std::move(entries));
        measured.category.risk = CleanupRisk::careful;
        measured.category.action = CategoryAction::removable();
        return measured;
    }
    std::unique_ptr<CategoryDetailView> page;
};

} // namespace

// The button's title and tint and the confirmation's message follow the
// category's rules and the page's choices.
TEST_F(CategoryDetailTest, ActionTitleTintAndMessageByRiskAndMode) {
    const CleanupEntry file = entryFor(writeFile(path("home/work/report"), 30'000));
    using enum CleanupRisk;
    const std::string backup = "A copy goes to " + path("backups") +
                               " first. You will get to open it and check it before anything is deleted.";
    const std::tuple<const char*, CleanupRisk, bool, int, const char*, bool, std::string> cases[] = {
        {"documents", careful, true, 1, "Delete", true,
         "This is your own data and it will be gone immediately, with no way to recover it from this computer. "
         "Consider using Move to Trash instead.\nItems deleted immediately cannot be put back."},
        {"documents", careful, true, 0, "Move to Trash", true,
         "This is your own data. It goes to the Trash, so you can still get it back until you empty it."},
        {"documents", careful, false, 1, "Back Up and Review", true, backup},
        // They back up too, so the folder the backup goes to shows.
        {"trash", safe, false, 1, "Back Up and Review", false, backup},
        {"developer", review, false, 0, "Back Up and Review", false, backup},
    };
    for (const auto& [id, risk, untickBackup, mode, title, red, message] : cases) {
        SCOPED_TRACE(std::string(id) + " " + title);
        MeasuredCategory measured = carefulCategory(id, {file});
        measured.category.risk = risk;
        model->categories().setItems({measured});
        open(id);
        EXPECT_TRUE(widget("categoryDetail.actionBar")->isHidden());
        selectAll();
        EXPECT_FALSE(widget("categoryDetail.actionBar")->isHidden());
        EXPECT_TRUE(widget("categoryDetail.backUpFirst")->isVisibleTo(page.get()));
        if (untickBackup) widget<QCheckBox>("categoryDetail.backUpFirst")->click();
        emit widget<QComboBox>("categoryDetail.mode")->activated(mode);
        QCoreApplication::processEvents();
        auto* action = widget<QPushButton>("categoryDetail.action");
        EXPECT_EQ(std::tuple(action->text(), action->property("red").toBool()), std::tuple(QString(title), red));
        QMessageBox* box = page->buildConfirmation();
        EXPECT_EQ(box->text(), QString::fromStdString("1 item, " + Fmt::bytes(file.size)));
        EXPECT_EQ(box->informativeText().toStdString(), message);
        // Deleting at once is never what Return does.
        QPushButton* go = buttonWithText(box, title);
        ASSERT_TRUE(go);
        EXPECT_FALSE(title == std::string("Delete") && (go->autoDefault() || go->isDefault()));
        EXPECT_EQ(box->defaultButton(), buttonWithText(box, "Cancel"));
        box->close();
    }
}

// Read-only categories explain themselves and offer nothing; an entry the
// guard refuses is locked, yet "Select all" takes it.
TEST_F(CategoryDetailTest, ReadOnlyAndGuardRefusedEntries) {
    const CleanupEntry picture = entryFor(writeFile(path("home/Pictures/p.jpg"), 8'000));
    MeasuredCategory photos = category("photos", {picture});
    photos.category.action = CategoryAction::readOnly("Managed by the photo library.");
    MeasuredCategory documents = category("documents", {picture, {"/etc", 4096, std::nullopt}});
    documents.category.action = CategoryAction::removable();
    documents.category.caveat = "Your own work.";
    model->categories().setItems({photos, documents});
    open("photos");
    EXPECT_EQ(bannerText("categoryDetail.readOnly"), "Managed by the photo library.");
    EXPECT_TRUE(widget("categoryDetail.mode")->isHidden() && widget("categoryDetail.selectAll")->isHidden() &&
                widget("categoryDetail.actionBar")->isHidden());
    auto* list = widget<QAbstractItemView>("categoryDetail.entries");
    EXPECT_FALSE(list->model()->flags(list->model()->index(0, 0)) & Qt::ItemIsUserCheckable);

    open("documents");
    EXPECT_TRUE(bannerText("categoryDetail.readOnly").isEmpty());
    EXPECT_EQ(bannerText("categoryDetail.caveat"), "Your own work.");
    QAbstractItemModel* entries = list->model();
    EXPECT_EQ(std::tuple(bool(entries->flags(entries->index(0, 0)) & Qt::ItemIsUserCheckable),
                         bool(entries->flags(entries->index(1, 0)) & Qt::ItemIsUserCheckable),
                         entries->setData(entries->index(1, 0), Qt::Checked, Qt::CheckStateRole),
                         page->selection()->contains("/etc")),
              std::tuple(true, false, false, false));
    selectAll();
    EXPECT_EQ(std::tuple(page->selection()->contains("/etc"), widget<QPushButton>("categoryDetail.selectAll")->text(),
                         text("categoryDetail.selectedCount")),
              std::tuple(true, "Deselect all", "2 selected"));
    selectAll();
    EXPECT_TRUE(page->selection()->empty());
}

// The System Data arithmetic in its three cases, the known safe wins and the
// snapshot sentence.
TEST_F(CategoryDetailTest, SystemDataTexts) {
    const CleanupEntry cache = entryFor(writeFile(path("home/.cache/big"), 50'000));
    // The banner's start; empty: no banner.
    const std::tuple<int64_t, std::vector<CleanupEntry>, std::string> cases[] = {
        {cache.size / 2, {cache}, "The locations above cover all of it, and then some: they total "},
        {cache.size * 10, {cache}, "The locations above account for " + Fmt::bytes(cache.size) + " of the "},
        {cache.size, {}, ""},
    };
    for (const auto& [headline, entries, start] : cases) {
        MeasuredCategory systemData = category("systemData", entries, headline);
        systemData.category.measurement = CategoryMeasurement::remainder;
        model->categories().setItems({systemData});
        open("systemData");
        const std::string banner = bannerText("categoryDetail.accounting").toStdString();
        EXPECT_EQ(banner.substr(0, start.empty() ? std::string::npos : start.size()), start);
    }
    EXPECT_FALSE(widget("categoryDetail.checkCaches")->isHidden());
    model->cleanup().setItems({{.id = "logs", .title = "logs", .entries = {cache}, .scanned = true}});
    QCoreApplication::processEvents();
    EXPECT_TRUE(widget("categoryDetail.checkCaches")->isHidden());
    ASSERT_TRUE(widget("categoryDetail.wins"));
    // The file system's reserve counts as used, and the page says so.
    EXPECT_TRUE(widget("categoryDetail.reserve")->isHidden());
    volumes.front().rootReserve = 5'000'000'000;
    model->volumes().refresh();
    QCoreApplication::processEvents();
    EXPECT_TRUE(text("categoryDetail.reserve").startsWith("5 GB is reserved"));
    // Only snapshots of the startup volume's file system hold on to its space
    // (set once the model's own first listing, of none, has arrived).
    spin(100);
    LocalSnapshot onRoot{"/.snapshots/3/snapshot", std::nullopt};
    onRoot.owner = SnapshotOwner::snapper;
    onRoot.volume = volumes.front().url;
    LocalSnapshot elsewhere = onRoot;
    elsewhere.volume = "/data";
    CorvaneModelTestAccess::setSnapshots(*model, {elsewhere});
    QCoreApplication::processEvents();
    EXPECT_TRUE(widget("categoryDetail.snapshots")->isHidden());
    CorvaneModelTestAccess::setSnapshots(*model, {elsewhere, onRoot});
    QCoreApplication::processEvents();
    EXPECT_EQ(text("categoryDetail.snapshots"), "Btrfs snapshots hold on to deleted files; see the snapshots card.");
    open("nothing-like-this");
    EXPECT_TRUE(widget("categoryDetail.unknown")->isVisible());
}

// Back up, look, delete: the originals go to the Trash only after "Delete Originals".
TEST_F(CategoryDetailTest, ReviewThenDeleteOriginals) {
    const std::string trash = path("home/.local/share/Trash");
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/a.pdf"), 30'000, 'a'));
    const CleanupEntry b = entryFor(writeFile(path("home/Documents/b.txt"), 4'000, 'b'));
    selectAllAndAct(carefulCategory("documents", {a, b}));
    BackupReviewDialog* review = confirmAndWaitForReview();
    ASSERT_TRUE(review && model->backup().pendingDeletion());
    const std::string destination = model->backup().pendingDeletion()->destination;
    EXPECT_EQ(destination.rfind(path("backups") + "/", 0), 0u);
    EXPECT_TRUE(!review->findChild<QLabel*>("backupReview.transcript") &&
                review->findChild<QLabel*>("backupReview.sameDisk") && exists(a.url) && exists(b.url));

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

    review->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return model->removals().lastResult().has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->reviewDialog() || exists(a.url) || exists(b.url));
    EXPECT_TRUE(exists(trash + "/files/a.pdf") && exists(trash + "/files/b.txt") && exists(destination));
    EXPECT_EQ(model->removals().lastResult()->succeeded.size(), 2u);
}

// A review category backs up first too, so its folder shows; the bar stays up
// with its progress while the copy runs, and the status after the review
// belongs to the category the backup was made for.
TEST_F(CategoryDetailTest, TheBarShowsTheBackupFolderAndProgressAndTheStatusStaysWithItsCategory) {
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/a.pdf"), 30'000, 'a'));
    const CleanupEntry chat = entryFor(writeFile(path("home/.config/Signal/db"), 4'000, 'c'));
    model->categories().setItems({category("documents", {a}), category("messages", {chat})});
    open("documents");
    ASSERT_EQ(model->categories().find("documents")->category.risk, CleanupRisk::review);
    selectAll();
    EXPECT_TRUE(widget("categoryDetail.change")->isVisible());
    EXPECT_EQ(widget<QLabel>("categoryDetail.backupRoot")->toolTip().toStdString(), path("backups"));

    QTest::mouseClick(widget<QPushButton>("categoryDetail.action"), Qt::LeftButton);
    press(waitForMessageBox(), "Back Up and Review");
    page->refresh();
    ASSERT_TRUE(model->backup().isArchiving());
    EXPECT_TRUE(widget("categoryDetail.actionBar")->isVisible() && widget("categoryDetail.backingUp")->isVisible());
    EXPECT_EQ(widget<QLabel>("categoryDetail.selectedCount")->text(), "1 selected");

    ASSERT_TRUE(waitUntil([&] { return page->reviewDialog() != nullptr; }, 20000));
    page->reviewDialog()->keepButton()->click();
    QCoreApplication::processEvents();
    page->refresh();
    auto* status = widget<QLabel>("categoryDetail.archiveStatus");
    ASSERT_TRUE(model->backup().archiveStatus());
    selectAll();
    EXPECT_TRUE(status->isVisible());
    open("messages");
    selectAll();
    EXPECT_TRUE(widget("categoryDetail.actionBar")->isVisible());
    EXPECT_FALSE(status->isVisible());
}

// "Keep Both", or closing the review any other way, deletes nothing and keeps
// the backup; a chat database's backup offers its transcript to read.
TEST_F(CategoryDetailTest, KeepBothAndEscapeDeleteNothing) {
    makeDirs(path("home/Messages"));
    writeSampleChatDatabase(path("home/Messages/chat.db"));
    const CleanupEntry a = entryFor(path("home/Messages/chat.db"));
    MeasuredCategory messages = carefulCategory("messages", {a});
    messages.category.action = CategoryAction::backupThenRemove("com.apple.MobileSMS", "Copy first.");
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "escape" : "keep both");
        selectAllAndAct(messages);
        BackupReviewDialog* review = confirmAndWaitForReview();
        ASSERT_TRUE(review);
        const std::string destination = model->backup().pendingDeletion()->destination;
        if (escape) {
            review->reject();
        } else {
            review->findChild<QPushButton*>("backupReview.openTranscript")->click();
            ASSERT_EQ(workspace.opened.size(), 1u);
            const std::string transcript = workspace.opened[0].toLocalFile().toStdString();
            EXPECT_EQ(transcript, *model->backup().pendingDeletion()->readableExport);
            EXPECT_TRUE(exists(transcript));
            review->keepButton()->click();
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(model->backup().pendingDeletion() || model->removals().lastResult());
        EXPECT_TRUE(exists(a.url) && exists(destination));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !page->reviewDialog(); }, 2000));
        // Two backups within a minute get distinct folders only if the
        // archiver numbers them; move the first out of the way.
        std::filesystem::rename(destination, destination + (escape ? " kept 2" : " kept 1"));
    }
}

// A backup that cannot be written ends in "Backup failed" with the originals intact.
TEST_F(CategoryDetailTest, FailedBackupAlertsAndDeletesNothing) {
    const CleanupEntry a = entryFor(writeFile(path("home/Documents/big.bin"), 600'000, 'z'));
    std::string target = path("backups");
    makeDirs(target);
    if (isRoot()) {
        ASSERT_TRUE(mountTmpfs(target, 256 << 10)); // smaller than the file
    } else {
        ::chmod(target.c_str(), 0500);
    }
    selectAllAndAct(carefulCategory("documents", {a}));
    press(waitForMessageBox(), "Back Up and Review");
    QMessageBox* failed = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            failed = page->findChild<QMessageBox*>("categoryDetail.backupFailed");
            return failed && failed->isVisible();
        },
        20000));
    EXPECT_EQ(std::tuple(failed->text(), failed->informativeText().startsWith("Nothing was deleted. "),
                         readText(a.url) == std::string(600'000, 'z'), bool(model->backup().pendingDeletion())),
              std::tuple("Backup failed", true, true, false));
    failed->button(QMessageBox::Ok)->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->backup().archiveError());
    if (isRoot())
        unmount(target);
    else
        ::chmod(target.c_str(), 0700);
}

// On Linux each chat app keeps its own folder: a running Signal (a copy of
// sleep under Signal's program name) stops the backup of Signal's data and is
// named as the user knows it; Telegram's data alone goes on to the
// confirmation.
TEST_F(CategoryDetailTest, LinuxChatAppMustQuitFirst) {
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
    EXPECT_TRUE(quit->informativeText().startsWith("Signal is running."));
    quit->button(QMessageBox::Ok)->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(model->backup().isArchiving() || exists(path("backups")));

    selectAll(); // "Deselect all"
    selectAllAndAct(category("messages", {telegram}));
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->objectName(), "categoryDetail.confirmation");
    press(box, "Cancel");
    stop(child);
}
