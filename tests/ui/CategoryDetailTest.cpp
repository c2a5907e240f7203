#include "CleanupScreensSupport.h"
#include "platform/PlatformTables.h"
#include "support/Fmt.h"
#include "ui/category/CategoryDetailView.h"
#include "ui/cleanup/CleanupTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

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
    QString text(const char* name) { return page->findChild<QLabel*>(name)->text(); }
    template <class T = QWidget> T* widget(const char* name) { return page->findChild<T*>(name); }
    QString bannerText(const char* name) {
        QWidget* banner = widget(name);
        return banner ? banner->findChild<QLabel*>("banner.text")->text() : QString();
    }
    std::unique_ptr<CategoryDetailView> page;
};

} // namespace

// The button's title and tint and the confirmation's message follow the
// category's rules and the page's choices.
TEST_F(CategoryDetailTest, ActionTitleTintAndMessageByRiskAndMode) {
    const CleanupEntry file = entryFor(writeFile(path("home/work/report"), 30'000));
    using enum CleanupRisk;
    const auto removable = CategoryAction::removable();
    struct Case {
        const char* id;
        CleanupRisk risk;
        CategoryAction action;
        bool untickBackup;
        int mode;
        const char* title;
        bool red;
        bool backupRow;
        std::string message;
    };
    const std::string backup = "A copy goes to " + path("backups") +
                               " first. You will get to open it and check it before anything is deleted.";
    const Case cases[] = {
        {"documents", careful, removable, true, 1, "Delete", true, true,
         "This is your own data and it will be gone immediately, with no way to recover it from this computer. "
         "Consider using Move to Trash instead.\nItems deleted immediately cannot be put back."},
        {"documents", careful, removable, true, 0, "Move to Trash", true, true,
         "This is your own data. It goes to the Trash, so you can still get it back until you empty it."},
        {"documents", careful, removable, false, 1, "Back Up and Review", true, true, backup},
        // They back up too, so the folder the backup goes to shows.
        {"trash", safe, removable, false, 1, "Back Up and Review", false, true, backup},
        {"developer", review, removable, false, 0, "Back Up and Review", false, true, backup},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + c.title);
        MeasuredCategory measured = category(c.id, {file});
        measured.category.risk = c.risk;
        measured.category.action = c.action;
        model->categories().setItems({measured});
        open(c.id);
        EXPECT_TRUE(widget("categoryDetail.actionBar")->isHidden());
        widget<QPushButton>("categoryDetail.selectAll")->click();
        QCoreApplication::processEvents();
        EXPECT_FALSE(widget("categoryDetail.actionBar")->isHidden());
        EXPECT_EQ(widget("categoryDetail.backUpFirst")->isVisibleTo(page.get()), c.backupRow);
        if (c.untickBackup) widget<QCheckBox>("categoryDetail.backUpFirst")->click();
        emit widget<QComboBox>("categoryDetail.mode")->activated(c.mode);
        QCoreApplication::processEvents();
        auto* action = widget<QPushButton>("categoryDetail.action");
        EXPECT_EQ(action->text(), c.title);
        EXPECT_EQ(action->property("red").toBool(), c.red);
        QMessageBox* box = page->buildConfirmation();
        EXPECT_EQ(box->text(), QString::fromStdString("1 item, " + Fmt::bytes(file.size)));
        EXPECT_EQ(box->informativeText().toStdString(), c.message);
        QPushButton* go = buttonWithText(box, c.title);
        ASSERT_TRUE(go);
        // Deleting at once is never what Return does.
        if (c.title == std::string("Delete")) {
            EXPECT_FALSE(go->autoDefault() || go->isDefault());
        }
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
    EXPECT_TRUE(widget("categoryDetail.mode")->isHidden());
    EXPECT_TRUE(widget("categoryDetail.selectAll")->isHidden());
    EXPECT_TRUE(widget("categoryDetail.actionBar")->isHidden());
    auto* list = widget<QAbstractItemView>("categoryDetail.entries");
    EXPECT_FALSE(list->model()->flags(list->model()->index(0, 0)) & Qt::ItemIsUserCheckable);

    open("documents");
    EXPECT_TRUE(bannerText("categoryDetail.readOnly").isEmpty());
    EXPECT_EQ(bannerText("categoryDetail.caveat"), "Your own work.");
    QAbstractItemModel* entries = list->model();
    EXPECT_TRUE(entries->flags(entries->index(0, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(entries->flags(entries->index(1, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(entries->setData(entries->index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_FALSE(page->selection()->contains("/etc"));
    auto* selectAll = widget<QPushButton>("categoryDetail.selectAll");
    selectAll->click();
    EXPECT_TRUE(page->selection()->contains("/etc"));
    QCoreApplication::processEvents();
    EXPECT_EQ(selectAll->text(), "Deselect all");
    EXPECT_EQ(text("categoryDetail.selectedCount"), "2 selected");
    selectAll->click();
    EXPECT_TRUE(page->selection()->empty());
}

// The System Data arithmetic in its three cases, the known safe wins and the
// snapshot sentence.
TEST_F(CategoryDetailTest, SystemDataTexts) {
    // After the model's own first listing (none) has arrived.
    spin(100);
    CorvaneModelTestAccess::setSnapshots(
        *model, {LocalSnapshot{"com.apple.TimeMachine.2024-01-01-000000.local", std::nullopt}});
    const CleanupEntry cache = entryFor(writeFile(path("home/.cache/big"), 50'000));
    struct Case {
        int64_t headline;
        std::vector<CleanupEntry> entries;
        std::string start; // empty: no banner
    };
    const Case cases[] = {
        {cache.size / 2, {cache}, "The locations above cover all of it, and then some: they total "},
        {cache.size * 10, {cache}, "The locations above account for " + Fmt::bytes(cache.size) + " of the "},
        {cache.size, {}, ""},
    };
    for (const Case& c : cases) {
        MeasuredCategory systemData = category("systemData", c.entries, c.headline);
        systemData.category.measurement = CategoryMeasurement::remainder;
        model->categories().setItems({systemData});
        open("systemData");
        const std::string banner = bannerText("categoryDetail.accounting").toStdString();
        if (c.start.empty())
            EXPECT_EQ(banner, "");
        else
            EXPECT_EQ(banner.substr(0, c.start.size()), c.start);
    }
    EXPECT_EQ(text("categoryDetail.snapshots").toStdString(),
              "Btrfs snapshots hold on to deleted files; see the snapshots card.");
    EXPECT_FALSE(widget("categoryDetail.checkCaches")->isHidden());
    CleanupTarget target;
    target.id = "logs";
    target.title = "Logs";
    target.entries = {cache};
    target.scanned = true;
    model->cleanup().setItems({target});
    QCoreApplication::processEvents();
    EXPECT_TRUE(widget("categoryDetail.checkCaches")->isHidden());
    ASSERT_TRUE(widget("categoryDetail.wins"));
    // The file system's reserve counts as used, and the page says so.
    EXPECT_TRUE(widget("categoryDetail.reserve")->isHidden());
    volumes.front().rootReserve = 5'000'000'000;
    model->volumes().refresh();
    QCoreApplication::processEvents();
    EXPECT_EQ(text("categoryDetail.reserve"),
              "5 GB is reserved for the administrator by the file system and counts as used.");
    // Only snapshots of the startup volume's file system hold on to its space.
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
