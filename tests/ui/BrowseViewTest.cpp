// The Browse screen with the real model on real folders: the scan flow, the
// rows, the menus, removal to a real Trash and what selection and focus do
// when the tree changes under them.

#include "UiTestSupport.h"
#include "ui/browse/BrowseView.h"
#include "ui/browse/NodeRowDelegate.h"
#include "ui/browse/OutlineModel.h"
#include "ui/browse/TreemapView.h"
#include "ui/kit/Text.h"

namespace vessora {
namespace {

using namespace test;

struct BrowseFixture : UiTest {
    BrowseTree files{30};
    std::unique_ptr<CorvaneModel> owner = makeModel();
    CorvaneModel& model = *owner;
    std::unique_ptr<BrowseView> view;

    void SetUp() override {
        view = std::make_unique<BrowseView>(model.scan(), model.history(), model.removals());
        view->resize(1100, 700);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    void TearDown() override { view.reset(); }
    FSNode::Ptr scan(const std::string& path) {
        model.scan().setScanRootPath(path);
        view->scan();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model.scan().isScanning() && model.scan().tree(); }, 30000));
        return model.scan().tree();
    }
    FSNode::Ptr node(const std::string& relative) const { return nodeAt(model.scan().tree(), relative); }
    // The folder in focus, the selection and the treemap's folder.
    std::tuple<FSNode::Ptr, FSNode::Ptr, FSNode::Ptr> places() const {
        return {view->focus(), view->selection(), view->treemap()->node()};
    }
};

TEST_F(BrowseFixture, ReturnScansOnceAndStopReturnsToIdle) {
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    model.scan().setScanRootPath(files.root());
    // Return scans from the location controls.
    auto* picker = view->findChild<QComboBox*>("browse.preset");
    picker->setFocus();
    auto* scanButton = view->findChild<QPushButton*>("browse.scanButton");
    auto* stop = view->findChild<QPushButton*>("browse.stopButton");
    int starts = 0;
    // The keys go in while the scan is surely running: its end is posted to
    // this thread, which is busy here.
    QObject::connect(&model.scan(), &ScanSession::isScanningChanged, view.get(), [&] {
        if (!model.scan().isScanning() || ++starts > 1) return;
        EXPECT_TRUE(!scanButton->isVisible() && stop->isVisible());
        QTest::keyClick(picker, Qt::Key_Return);
        QTest::keyClick(picker, Qt::Key_Enter);
    });
    QTest::keyClick(picker, Qt::Key_Return);
    // A shortcut clicks its button after a short animation.
    ASSERT_TRUE(QTest::qWaitFor([&] { return starts > 0; }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scan().isScanning(); }, 30000));
    QTest::qWait(300);
    EXPECT_EQ(starts, 1);
    ASSERT_TRUE(model.scan().tree());

    // In the outline Return opens the row: the folder is expanded and shown
    // in the treemap, and nothing is scanned.
    QTreeView* outline = view->outline();
    const QModelIndex rows = view->outlineModel()->indexOf(node("rows").get());
    outline->setFocus();
    outline->setCurrentIndex(rows);
    QTest::keyClick(outline, Qt::Key_Return);
    QTest::qWait(100);
    EXPECT_EQ(std::tuple(model.scan().isScanning(), outline->isExpanded(rows), view->focus()),
              std::tuple(false, true, node("rows")));

    view->scan();
    stop->click();
    EXPECT_FALSE(model.scan().isScanning() || model.scan().tree());
    EXPECT_TRUE(scanButton->isVisible() && !stop->isVisible());
}

// A rescan keeps the view's places; Tab follows the reading order (outline,
// breadcrumb, treemap, detail panel); the chooser scans the chosen folder.
TEST_F(BrowseFixture, TabOrderRescanKeepsTheViewAndChooserScansTheChosenFolder) {
    scan(files.root());
    view->setFocusNode(node("rows"));
    view->setSelection(node("rows/row3"));
    // Rescan (as the window's command does): the same places in the new tree.
    model.scan().start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scan().isScanning() && model.scan().tree(); }, 30000));
    ASSERT_TRUE(view->focus());
    EXPECT_EQ(places(), std::tuple(node("rows"), node("rows/row3"), node("rows")));

    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    // New crumbs are shown from the event loop.
    auto* breadcrumb = view->findChild<QWidget*>("browse.breadcrumb");
    ASSERT_TRUE(breadcrumb);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto crumbs = breadcrumb->findChildren<QAbstractButton*>();
        return std::count_if(crumbs.begin(), crumbs.end(), [](auto* crumb) { return crumb->isVisible(); }) >= 2;
    }));
    view->outline()->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* at = QApplication::focusWidget();
        order << (at->parentWidget() && at->parentWidget()->objectName() == "browse.breadcrumb" ? "crumb"
                                                                                                : at->objectName());
    }
    EXPECT_EQ(order, QStringList({"crumb", "crumb", "treemap", "browse.detailReveal", "browse.detailRemove"}))
        << order.join(' ').toStdString();

    // Leaving the tree resets the outline, and the old tree is still whole while it happens.
    FailOnQtWarnings strict;
    QAbstractItemModelTester tester(view->outlineModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    std::weak_ptr<FSNode> old = model.scan().tree();
    int resets = 0;
    QObject::connect(view->outlineModel(), &QAbstractItemModel::modelAboutToBeReset, &tester,
                     [&] { EXPECT_FALSE(resets++ == 0 && old.expired()); });
    view->chooseFolder();
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (dialog = view->findChild<QFileDialog*>()); }, 5000));
    EXPECT_EQ(dialog->directory().absolutePath().toStdString(), files.root());
    dialog->selectFile(QString::fromStdString(files / "docs"));
    QMetaObject::invokeMethod(dialog, "accept");
    EXPECT_EQ(model.scan().scanRootPath(), files / "docs");
    // The picker names the chosen folder; a preset takes its place again.
    auto* picker = view->findChild<QComboBox*>("browse.preset");
    EXPECT_EQ(std::tuple(picker->currentText(), bool(view->selection()), bool(view->focus())),
              std::tuple("docs", false, false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scan().isScanning() && model.scan().tree(); }, 30000));
    // At a scan's top level every file is a row.
    EXPECT_EQ(std::tuple(model.scan().tree()->path(), view->outlineModel()->rowCount()), std::tuple(files / "docs", 5));
    EXPECT_GT(resets, 0);
}

TEST_F(BrowseFixture, RowsMenusAndDetail) {
    scan(files.root());
    FSNode::Ptr docs = node("docs");
    FSNode::Ptr lump = docs->children().back();
    ASSERT_TRUE(lump->isAggregate);

    // The lump: its own symbol, no disclosure, one menu item, no Remove.
    EXPECT_EQ(NodeRowDelegate::symbol(*lump), "ellipsis.circle");
    const QModelIndex docsIndex = view->outlineModel()->indexOf(docs.get());
    view->outline()->expand(docsIndex);
    EXPECT_FALSE(view->outlineModel()->hasChildren(view->outlineModel()->indexOf(lump.get())));
    std::unique_ptr<QMenu> menu(view->buildContextMenu(lump, nullptr));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Reveal Containing Folder");
    menu->actions()[0]->trigger();
    EXPECT_EQ(workspace.revealed, std::vector<std::vector<std::string>>{{files / "docs"}});
    view->setSelection(lump);
    EXPECT_FALSE(view->findChild<QPushButton*>("browse.detailRemove")->isVisible());

    menu.reset(view->buildContextMenu(docs, nullptr));
    QStringList texts;
    for (QAction* action : menu->actions()) texts << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(texts, QStringList({"Show in Files", "Focus Treemap Here", "Rescan This Folder", "-", "Remove..."}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(view->treemap()->node(), docs);

    // "logical" only when it differs from the size and is at least 1.
    auto* logical = view->findChild<QLabel*>("browse.detailLogical");
    FSNode::Ptr file = node("docs/report.pdf");
    for (const auto& [size, logicalSize, shown] :
         {std::tuple{8192, 5000, true}, {8192, 8192, false}, {8192, 0, false}}) {
        file->size = size;
        file->logicalSize = logicalSize;
        view->setSelection(nullptr);
        view->setSelection(file);
        EXPECT_EQ(logical->isVisible(), shown) << logicalSize;
    }
}

TEST_F(BrowseFixture, RemovalFromOutlineAndDetailGoesToTheTrash) {
    FSNode::Ptr root = scan(files.root());
    FailOnQtWarnings strict;
    QAbstractItemModelTester tester(view->outlineModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    FSNode::Ptr rows = node("rows");
    view->outline()->expand(view->outlineModel()->indexOf(rows.get()));
    view->setFocusNode(node("rows/row7"));
    view->setSelection(node("rows/row2"));
    const int64_t rootSize = root->size, rowsSize = rows->size;

    // From the outline's menu: a folder with the focus inside it.
    FSNode::Ptr row7 = node("rows/row7");
    std::unique_ptr<QMenu> menu(view->buildContextMenu(row7, nullptr));
    menu->actions().back()->trigger();
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), "Remove row7?");
    EXPECT_EQ(box->informativeText(), QString::fromStdString(files / "rows/row7") + "\n" +
                                          QString::fromStdString(Fmt::bytes(row7->size)) + ", 1 item\n" +
                                          "Items deleted immediately cannot be put back.");
    press(box, "Move to Trash");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !exists(files / "rows/row7"); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !node("rows/row7"); }, 10000));
    EXPECT_TRUE(exists(home() + "/.local/share/Trash/files/row7"));
    EXPECT_EQ(std::tuple(rows->size, root->size), std::tuple(rowsSize - row7->size, rootSize - row7->size));
    // The focus was inside: it moves to the nearest folder still there.
    EXPECT_EQ(places(), std::tuple(rows, node("rows/row2"), rows));
    EXPECT_EQ(view->outlineModel()->rowCount(view->outlineModel()->indexOf(rows.get())), 29);

    // From the detail panel: the selected file; the selection goes with it.
    view->setSelection(node("big.bin"));
    view->findChild<QPushButton*>("browse.detailRemove")->click();
    press(waitForMessageBox(), "Move to Trash");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !node("big.bin"); }, 10000));
    EXPECT_EQ(std::tuple(bool(exists(files / "big.bin")), bool(view->selection())), std::tuple(false, false));

    // Removing the folder that holds the focus: back to the root.
    view->setFocusNode(node("rows/row4"));
    model.scan().removeNodes({rows}, RemovalMode::trash);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !node("rows"); }, 10000));
    EXPECT_EQ(std::tuple(bool(view->focus()), view->treemap()->node()), std::tuple(false, model.scan().tree()));
}

TEST_F(BrowseFixture, RescanThisFolderSplicesItInAndBusyRowsAreNotOfferedAgain) {
    FSNode::Ptr root = scan(files.root());
    FailOnQtWarnings strict;
    QAbstractItemModelTester tester(view->outlineModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    FSNode::Ptr docs = node("docs");
    view->outline()->expand(view->outlineModel()->indexOf(docs.get()));
    view->setFocusNode(docs);
    view->outline()->setCurrentIndex(view->outlineModel()->indexOf(node("docs/video.mov").get()));
    ASSERT_EQ(view->selection(), node("docs/video.mov"));
    const int64_t rootSize = root->size, rootFiles = root->fileCount, rootFolders = root->dirCount;
    const std::string added = writeFile(files / "docs/new/inside.bin", 2 << 20);

    std::unique_ptr<QMenu> menu(view->buildContextMenu(docs, nullptr));
    ASSERT_EQ(menu->actions()[2]->text(), "Rescan This Folder");
    menu->actions()[2]->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.removals().rescanningCount() == 0; }, 10000));

    // The new folder is in, every folder above has its numbers, and the
    // view still shows the same folder and the same file.
    ASSERT_TRUE(node("docs/new/inside.bin"));
    EXPECT_EQ(std::tuple(root->size, root->fileCount, root->dirCount),
              std::tuple(rootSize + allocatedSize(added), rootFiles + 1, rootFolders + 1));
    EXPECT_EQ(places(), std::tuple(docs, node("docs/video.mov"), docs));
    EXPECT_EQ(view->outlineModel()->nodeRef(view->outline()->currentIndex()), node("docs/video.mov"));
    EXPECT_TRUE(view->outline()->isExpanded(view->outlineModel()->indexOf(docs.get())));
    view->setSelection(docs);
    EXPECT_TRUE(view->findChild<QPushButton*>("browse.detailRescan")->isVisible());

    // A node on its way out is drawn busy, and its Remove is not offered again.
    FSNode::Ptr big = node("big.bin");
    view->setSelection(big);
    model.scan().removeNodes({big}, RemovalMode::trash);
    EXPECT_EQ(view->outlineModel()->indexOf(big.get()).data(OutlineModel::BusyRole).toInt(), OutlineModel::removing);
    menu.reset(view->buildContextMenu(big, nullptr));
    EXPECT_FALSE(menu->actions().back()->isEnabled());
    EXPECT_FALSE(view->findChild<QPushButton*>("browse.detailRemove")->isEnabled());
    view->askToRemove(big);
    EXPECT_FALSE(QApplication::activeModalWidget());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.removals().isRemoving(); }, 10000));
    EXPECT_FALSE(node("big.bin"));
}

TEST_F(BrowseFixture, NamesAreShownAsPlainText) {
    writeFile(files / "docs/<b>a&b/x.bin", 2 << 20);
    scan(files.root());
    FSNode::Ptr odd = node("docs/<b>a&b");
    ASSERT_TRUE(odd);
    view->setFocusNode(odd);
    QStringList crumbs;
    for (auto* button : view->findChild<QWidget*>("browse.breadcrumb")->findChildren<QPushButton*>())
        crumbs << button->text();
    EXPECT_TRUE(crumbs.contains("<b>a&&b")) << crumbs.join(" | ").toStdString();
    view->askToRemove(odd);
    QMessageBox* box = waitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(std::tuple(box->text(), box->textFormat()), std::tuple("Remove <b>a&b?", Qt::PlainText));
    press(box, "Cancel");
    EXPECT_EQ(std::tuple(bool(view->confirmRemoval()), bool(exists(files / "docs/<b>a&b"))), std::tuple(false, true));
}

// Compare mode: an earlier scan of the folder annotates the tree. The outline
// gains a Change column ordered by growth and a row for what is gone (never
// offered for removal); tiles are coloured and described by change; every
// new control is named; removing works as ever; Stop Comparing returns.
TEST_F(BrowseFixture, ComparingWithAnEarlierScan) {
    FailOnQtWarnings strict;
    scan(files.root());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.history().shownScan() && !model.history().shownScan()->file.empty(); }, 10000));
    const int64_t grown = allocatedSize(writeFile(files / "docs/extra.iso", 5 << 20));
    writeFile(files / "new.bin", 3 << 20);
    ::unlink((files / "big.bin").c_str());
    scan(files.root());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.history().earlierScans().empty(); }, 10000));

    view->rebuildCompareMenu();
    QAction* earlier = nullptr;
    for (QAction* action : view->compareMenu()->actions())
        if (action->isCheckable() && action->isEnabled() && action->objectName().isEmpty()) earlier = action;
    ASSERT_TRUE(earlier);
    QAbstractItemModelTester tester(view->outlineModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    earlier->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->outlineModel()->comparison() != nullptr; }, 10000));
    OutlineModel& outline = *view->outlineModel();
    EXPECT_EQ(std::tuple(outline.columnCount(), view->outline()->header()->isHidden(),
                         outline.headerData(1, Qt::Horizontal).toString()),
              std::tuple(2, false, "Change"));
    // Largest growth first, what is gone last.
    EXPECT_EQ(outline.data(outline.index(0, 0)).toString(), "docs");
    EXPECT_EQ(outline.data(outline.index(0, 1)).toString(),
              "+" + Text::fromUtf8(Fmt::bytes(grown)) + " (+" +
                  QString::number(std::lround(100.0 * grown / double(node("docs")->size - grown))) + "%)");
    const int last = outline.rowCount() - 1;
    EXPECT_EQ(outline.data(outline.index(last, 0)).toString(), "big.bin");
    EXPECT_TRUE(outline.data(outline.index(last, 1)).toString().startsWith("Gone, \u2212"));
    const FSNode::Ptr gone = outline.nodeRef(outline.index(last, 0));
    EXPECT_FALSE(view->canRemove(gone));
    std::unique_ptr<QMenu> menu(view->buildContextMenu(gone, view.get()));
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_FALSE(menu->actions()[0]->isEnabled());

    QAccessibleInterface* tiles = QAccessible::queryAccessibleInterface(view->treemap());
    ASSERT_TRUE(tiles && tiles->childCount() > 0);
    EXPECT_EQ(tiles->child(0)->text(QAccessible::Name), "docs");
    EXPECT_TRUE(tiles->child(0)->text(QAccessible::Description).contains("grew by"))
        << tiles->child(0)->text(QAccessible::Description).toStdString();
    for (const char* name : {"browse.compare", "browse.changeLegend"}) {
        auto* widget = view->findChild<QWidget*>(name);
        EXPECT_TRUE(widget && !widget->accessibleName().isEmpty() && widget->isVisible()) << name;
    }
    EXPECT_TRUE(view->findChild<QWidget*>("browse.compareBar")->isVisible());

    // Removing works in compare mode; the comparison is made again.
    const auto before = model.history().comparison();
    model.scan().removeNodes({node("new.bin")}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.history().comparison() != before && !model.removals().isRemoving(); }, 10000));
    for (int row = 0; row < outline.rowCount(); ++row)
        EXPECT_NE(outline.data(outline.index(row, 0)).toString(), "new.bin");

    // A folder scanned again in compare mode, open in the outline.
    const FSNode::Ptr docs = node("docs");
    view->outline()->expand(outline.indexOf(docs.get()));
    const auto beforeRescan = model.history().comparison();
    model.scan().rescanFolder(docs);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return model.history().comparison() != beforeRescan && model.removals().rescanningCount() == 0; },
        10000));
    // Its rows: the new children, and a row for each thing gone from it.
    EXPECT_EQ(outline.rowCount(outline.indexOf(docs.get())),
              int(docs->children().size() + model.history().comparison()->goneFrom(*docs).size()));

    view->findChild<QPushButton*>("browse.stopComparing")->click();
    EXPECT_EQ(outline.columnCount(), 1);
    EXPECT_TRUE(view->outline()->header()->isHidden() &&
                !view->findChild<QWidget*>("browse.changeLegend")->isVisible());
}

} // namespace
} // namespace vessora
