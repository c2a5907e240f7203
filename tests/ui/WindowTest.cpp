// The window: the result alert's rules, sequencing and Put Back, the
// sidebar's rows, selection and keys, the size floor, the Rescan shortcut and
// the footer.

#include "UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/ResultAlert.h"
#include "ui/SectionView.h"
#include "ui/SidebarModel.h"

namespace vessora::test {
namespace {

TEST(ResultAlertContent, LinesTitlesAndButtons) {
    RemovalResult failed;
    for (int i = 0; i < 6; ++i) failed.failed.push_back({"/tmp/f" + std::to_string(i), "Permission denied"});
    // Named, and told apart: deleted frees space now, the Trash only later.
    const RemovalResult many{.succeeded = {"/d/a", "/d/b", "/d/c", "/d/d", "/d/e"}, .bytesFreed = 5000};
    const RemovalResult trashed{.succeeded = {"/x/gone", "/x/one", "/x/two"},
                                .bytesFreed = 700,
                                .bytesMovedToTrash = 4000,
                                .movedToTrash = {{"/x/one", 3000}, {"/x/two", 1000}}};
    // A move that could not be recorded cannot be put back, and says so.
    const RemovalResult unrecorded{.succeeded = {"/x/one"},
                                   .bytesMovedToTrash = 4000,
                                   .movedToTrash = {{"/x/one", 4000}},
                                   .note = "Put Back will not be available for this removal."};
    auto bytes = [](int64_t n) { return QString::fromStdString(Fmt::bytes(n)); };
    const QString f = QStringLiteral(": Permission denied"), trash = ", freed when the Trash is emptied).";
    const std::vector<std::tuple<RemovalResult, QString, QStringList, bool>> cases{
        {failed, "Finished with problems", {"f0" + f, "f1" + f, "f2" + f, "f3" + f, "and 2 more."}, false},
        {{.succeeded = {"/a"}}, "Done", {"Removed “a”, reclaiming Zero KB."}, false},
        {many, "Done", {"Removed 5 items (“a”, “b”, “c” and 2 more), reclaiming " + bytes(5000) + "."}, false},
        {trashed,
         "Done",
         {"Removed “gone”, reclaiming " + bytes(700) + ".",
          "Moved 2 items (“one”, “two”) to the Trash (" + bytes(4000) + trash},
         false},
        {unrecorded,
         "Done",
         {"Moved “one” to the Trash (" + bytes(4000) + trash, "Put Back will not be available for this removal."},
         false},
        {{.needsAdmin = {"/root/x"}}, "Some items need admin rights", {"1 item needs administrator rights."}, true},
    };
    for (const auto& [result, title, lines, authenticate] : cases) {
        auto content = resultAlertContent(result);
        ASSERT_TRUE(content);
        EXPECT_EQ(std::tie(content->title, content->lines), std::tie(title, lines));
        EXPECT_EQ(content->buttons == ResultAlertContent::Buttons::authenticateOrSkip, authenticate);
    }
    EXPECT_FALSE(resultAlertContent(RemovalResult{}));
}

class WindowTest : public ScreenTest {
protected:
    std::unique_ptr<Updater> updater = makeUpdater();
    std::unique_ptr<MainWindow> window = std::make_unique<MainWindow>(*model, *updater);
    QMessageBox* alert() { return waitForMessageBox(); }
};

// Every published result gets its own alert, shown as plain text, and its
// dismissal clears it; a new result waits while an alert offers an action;
// "Authenticate and remove" closes its alert and the escalation's result
// gets one of its own.
TEST_F(WindowTest, EachResultGetsItsOwnAlertInTurnAndAuthenticateShowsTheEscalationsOwn) {
    window->show();
    model->removals().setLastResult(RemovalResult{.needsAdmin = {path("locked")}});
    QMessageBox* first = alert();
    ASSERT_TRUE(first);
    EXPECT_EQ(std::tuple(first->defaultButton()->text(), first->escapeButton()->text()),
              std::tuple("Authenticate and remove", "Skip"));
    const RemovalResult result{.succeeded = {"/tmp/x"}, .failed = {{"/tmp/dir/<b>a&b", "Busy"}}};
    model->removals().setLastResult(result);
    spin(100);
    EXPECT_EQ(std::tuple(window->resultAlert(), bool(first->isVisible())), std::tuple(first, true));
    press(first, QStringLiteral("Skip"));
    // The same result twice: each gets an alert.
    for (int round = 0; round < 2; ++round) {
        if (round) model->removals().setLastResult(result);
        ASSERT_TRUE(waitUntil([&] { return window->resultAlert() && window->resultAlert() != first; }));
        QMessageBox* box = window->resultAlert();
        EXPECT_EQ(std::tuple(box->text(), box->textFormat()),
                  std::tuple(QStringLiteral("Finished with problems"), Qt::PlainText));
        EXPECT_TRUE(box->informativeText().contains(QStringLiteral("<b>a&b: Busy")));
        press(box, QStringLiteral("OK"));
        EXPECT_TRUE(waitUntil([&] { return !model->removals().lastResult() && !QApplication::activeModalWidget(); }));
    }
    // Nothing to say: no alert.
    model->removals().setLastResult(RemovalResult{});
    spin(100);
    EXPECT_FALSE(window->resultAlert());

    // The refusing administrator prompt makes the escalation fail: a second
    // result, with its own alert.
    model->removals().setLastResult(RemovalResult{.needsAdmin = {path("locked")}});
    QMessageBox* box = alert();
    press(box, QStringLiteral("Authenticate and remove"));
    ASSERT_TRUE(waitUntil([&] { return window->resultAlert() && window->resultAlert() != box; }));
    EXPECT_EQ(window->resultAlert()->text(), QStringLiteral("Finished with problems"));
    ASSERT_TRUE(model->removals().lastResult());
    EXPECT_EQ(model->removals().lastResult()->failed.size(), 1u);
}

// Three files removed to the Trash come back byte for byte from the result
// alert's "Put Back"; a deletion's alert offers no such button.
TEST_F(WindowTest, ResultAlertPutsBackTheRemovalFromTheTrash) {
    window->show();
    std::vector<CleanupEntry> entries;
    std::vector<std::string> contents;
    for (int i = 0; i < 3; ++i) {
        contents.push_back(std::string(5000 + i * 7000, char('a' + i)));
        entries.push_back(entryFor(writeText(path("home/work/file" + std::to_string(i)), contents.back())));
    }
    Removals::removeCleanupEntries(model->removals(), entries, RemovalMode::trash);
    QMessageBox* box = alert();
    ASSERT_TRUE(box);
    for (const auto& entry : entries) EXPECT_FALSE(exists(entry.url));
    press(box, "Put Back");
    QMessageBox* report = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (report = window->findChild<QMessageBox*>("window.putBackAlert")); }));
    EXPECT_EQ(report->text(), "Put back 3 items.");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readText(entries[size_t(i)].url), contents[size_t(i)]);
    report->close();
    QCoreApplication::processEvents();

    const CleanupEntry gone = entryFor(writeText(path("home/work/gone"), "x"));
    Removals::removeCleanupEntries(model->removals(), {gone}, RemovalMode::deleteImmediately);
    box = alert();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->objectName(), "window.resultAlert");
    EXPECT_FALSE(buttonWithText(box, "Put Back"));
}

TEST_F(WindowTest, SidebarHeaderIsUnreachableAndCategoryUpdatesKeepTheSelection) {
    SidebarModel* sidebarModel = qobject_cast<SidebarModel*>(window->sidebar()->model());
    QAbstractItemModelTester tester(sidebarModel, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(sidebarModel->flags(sidebarModel->index(SidebarModel::headerRow, 0)), Qt::NoItemFlags);

    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTreeView* tree = window->sidebar();
    tree->setFocus();
    window->selectSection(Section::cleanup());
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(window->currentSection(), Section::category(model->categories().items().front().id()));
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(window->currentSection(), Section::cleanup());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Cleanup \u2014 Vessora"));
    // A row selected without moving the current one (an assistive tool's
    // select action) opens its section as well.
    tree->selectionModel()->select(sidebarModel->indexOf(Section::browse()), QItemSelectionModel::ClearAndSelect);
    EXPECT_EQ(window->currentSection(), Section::browse());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Browse \u2014 Vessora"));
    // Control and a digit switch sections.
    const std::pair<Qt::Key, Section> keys[] = {
        {Qt::Key_2, Section::browse()}, {Qt::Key_3, Section::cleanup()}, {Qt::Key_1, Section::overview()}};
    for (const auto& [key, section] : keys) {
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
        EXPECT_TRUE(window->currentSection() == section) << section.id();
    }

    // "applications" opens the Apps page, not the category page.
    for (const auto& [id, page] :
         {std::pair{"applications", "apps.page"}, {"documents", "categoryDetail"}, {"nope", "unknown.placeholder"}}) {
        window->selectSection(Section::category(id));
        EXPECT_EQ(window->currentPage()->objectName(), page);
    }

    window->selectSection(Section::category("documents"));
    const QModelIndex documents = sidebarModel->indexOf(Section::category("documents"));
    const QModelIndex music = sidebarModel->indexOf(Section::category("music"));
    QSignalSpy resets(sidebarModel, &QAbstractItemModel::modelReset);
    auto categories = model->categories().items();
    for (auto& category : categories) {
        if (category.id() == "documents") category = measuredCategory("documents", 5'000'000);
        if (category.id() == "music") category = measuredCategory("music", 0);
        if (category.id() == "photos") category = measuredCategory("photos", 7'000'000, false);
    }
    model->categories().setItems(categories);
    EXPECT_EQ(std::tuple(resets.count(), tree->currentIndex(), tree->selectionModel()->isSelected(documents)),
              std::tuple(0, documents, true));
    EXPECT_EQ(
        (QStringList{documents.data(SidebarModel::SizeTextRole).toString(),
                     music.data(SidebarModel::SizeTextRole).toString(),
                     sidebarModel->indexOf(Section::category("photos")).data(SidebarModel::SizeTextRole).toString()}),
        (QStringList{"5 MB", "", ""}));
}

TEST_F(WindowTest, SizeFloorKeepsTheTopEdgeAndRescanScansTheRoot) {
    window->setGeometry(100, 120, 1200, 800);
    window->show();
    const int top = window->geometry().y();
    window->resize(800, 500);
    EXPECT_EQ(std::tuple(window->size(), window->geometry().y()), std::tuple(QSize(1000, 640), top));

    writeFile(path("root/sub/file"), 10000);
    model->scan().setScanRootPath(path("root"));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(model->scan().isScanning() || model->scan().tree());
    ASSERT_TRUE(waitUntil([&] { return !model->scan().isScanning() && model->scan().tree(); }));
    EXPECT_EQ(model->scan().scanRootPath(), path("root"));
}

TEST_F(WindowTest, FooterShowsOnlyWhatApplies) {
    window->show();
    // Moves to the Trash are not reclaimed space: said apart, and only when there are some.
    for (const auto& [access, freed, trashed, shown] : {std::tuple<bool, int64_t, int64_t, QString>{true, 0, 0, ""},
                                                        {false, 0, 0, "window.footer window.grantAccess"},
                                                        {true, 2'500'000, 0, "window.footer window.reclaimed"},
                                                        {true, 0, 2'500'000, "window.footer window.movedToTrash"}}) {
        CorvaneModelTestAccess::setFullDiskAccess(*model, access);
        CorvaneModelTestAccess::setTotals(*model, freed, trashed);
        EXPECT_EQ(
            visibleOf(window.get(), {"window.footer", "window.grantAccess", "window.reclaimed", "window.movedToTrash"}),
            shown);
    }
    EXPECT_EQ(window->findChild<QLabel*>("window.movedToTrash")->text(),
              "Moved to Trash " + QString::fromStdString(Fmt::bytes(2'500'000)));

    // While removals run, what they take away, counted right.
    auto* removing = window->findChild<QLabel*>(QStringLiteral("window.removingText"));
    for (int count : {1, 2}) {
        std::vector<CleanupEntry> entries;
        for (int i = 0; i < count; ++i)
            entries.push_back(CleanupEntry{writeFile(path("gone" + std::to_string(i)), 4096), 4096, std::nullopt});
        Removals::removeCleanupEntries(model->removals(), entries, RemovalMode::deleteImmediately);
        EXPECT_EQ(std::tuple(removing->isVisible(), removing->text()),
                  std::tuple(true, QStringLiteral("Removing %1\u2026").arg(count == 1 ? "1 item" : "2 items")));
        ASSERT_TRUE(waitUntil([&] { return !model->removals().isRemoving(); }));
        EXPECT_FALSE(removing->isVisible());
        if (QWidget* box = waitForModal()) box->close();
    }
}

} // namespace
} // namespace vessora::test
