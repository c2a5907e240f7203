#include "UiTestSupport.h"
#include "catalog/CleanupCatalog.h"
#include "removal/RemovalLog.h"
#include "ui/cleanup/CleanupView.h"

using namespace vessora;
using namespace vessora::test;

namespace {

CleanupTarget target(const std::string& id, CleanupRisk risk, std::vector<CleanupEntry> entries, bool scanned = true) {
    return {.id = id, .title = id, .risk = risk, .entries = std::move(entries), .scanned = scanned};
}

class CleanupViewTest : public ScreenTest {
protected:
    void SetUp() override {
        a1 = entryFor(writeFile(path("caches/a1"), 40'000, 'a'));
        a2 = entryFor(writeFile(path("caches/a2"), 20'000, 'b'));
        big = entryFor(writeFile(path("docs/big"), 200'000, 'c'));
        model->cleanup().setItems(
            {target("safe", CleanupRisk::safe, {a1, a2}), target("careful", CleanupRisk::careful, {big}),
             target("empty", CleanupRisk::safe, {}), target("unmeasured", CleanupRisk::safe, {}, false)});
        page = std::make_unique<CleanupView>(model->cleanup(), model->removals());
        page->resize(900, 700);
        page->show();
        QCoreApplication::processEvents();
    }
    QString text(const char* name) { return page->findChild<QLabel*>(name)->text(); }
    QWidget* widget(const char* name) { return page->findChild<QWidget*>(name); }
    TargetCard* card(const std::string& id) {
        for (TargetCard* c : page->cards())
            if (c->targetId() == id) return c;
        return nullptr;
    }

    CleanupEntry a1, a2, big;
    std::unique_ptr<CleanupView> page;
};

} // namespace

// Order, the header check box in both directions, the bar's numbers and the
// confirmation's title all follow the one selection.
TEST_F(CleanupViewTest, CardsOrderAndSelectionTotals) {
    ASSERT_EQ(page->cards().size(), 2u);
    EXPECT_EQ(page->cards()[0]->targetId(), "careful"); // larger than every safe one
    EXPECT_EQ(std::tuple(text("cleanup.across"), text("cleanup.found"), text("cleanup.selectedTotal"),
                         text("cleanup.selectedCount")),
              std::tuple("across 2 categories",
                         QString::fromStdString(Fmt::bytes(a1.size + a2.size + big.size) + " found"), "Zero KB",
                         "0 selected"));
    EXPECT_TRUE(!widget("cleanup.removeSelected")->isEnabled() && widget("cleanup.clearSelection")->isHidden() &&
                widget("cleanup.empty")->isHidden());

    TargetCard* safe = card("safe");
    safe->checkBox()->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::tuple(safe->checkBox()->isChecked(), text("cleanup.selectedCount"),
                         page->buildConfirmation()->text(), widget("cleanup.clearSelection")->isHidden()),
              std::tuple(true, "2 selected", "Remove 2 items", false));

    // Unticking one row turns the header off; the title goes singular.
    safe->expandButton()->click();
    EXPECT_EQ(safe->expandButton()->text(), "Hide 2 items");
    EXPECT_TRUE(safe->entryModel()->setData(safe->entryModel()->index(0), Qt::Unchecked, Qt::CheckStateRole));
    QCoreApplication::processEvents();
    EXPECT_FALSE(safe->checkBox()->isChecked());
    QMessageBox* box = page->buildConfirmation();
    EXPECT_EQ(box->text(), "Remove 1 item");
    EXPECT_EQ(box->informativeText(),
              QString::fromStdString("This frees about " + Fmt::bytes(a2.size) +
                                     ". Moving to Trash does not free space until the Trash is emptied.\n"
                                     "Items deleted immediately cannot be put back."));

    // A re-measure without a selected entry drops it from every total.
    page->selection()->insert(std::vector<CleanupEntry>{a1, a2});
    model->cleanup().setItems(
        {target("safe", CleanupRisk::safe, {a2}), target("careful", CleanupRisk::careful, {big})});
    QCoreApplication::processEvents();
    EXPECT_EQ(
        std::tuple(text("cleanup.selectedCount"), text("cleanup.selectedTotal"), card("safe")->checkBox()->isChecked()),
        std::tuple("1 selected", QString::fromStdString(Fmt::bytes(a2.size)), true));

    // Ticked through its accessible Toggle action (as a screen reader does),
    // the box selects just as a click would, and unticked it deselects.
    QAccessibleInterface* check = QAccessible::queryAccessibleInterface(card("careful")->checkBox());
    ASSERT_TRUE(check && check->actionInterface());
    check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_TRUE(page->selection()->contains(big.url));
    EXPECT_EQ(text("cleanup.selectedCount"), "2 selected");
    check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->selection()->contains(big.url));

    // The row's menu reveals the entry.
    QMenu* menu = card("safe")->buildContextMenu(card("safe")->entryModel()->index(0), page.get());
    ASSERT_EQ(menu->actions().size(), 1);
    menu->actions()[0]->trigger();
    EXPECT_EQ(revealed(), std::vector<std::string>{a2.url});
}

// "Move to Trash" moves exactly the chosen files; the cards shrink without a
// new measurement and the batch can be put back.
TEST_F(CleanupViewTest, RemovalMovesTheChosenFilesToTheTrash) {
    page->selection()->insert(std::vector<CleanupEntry>{big, a2});
    QCoreApplication::processEvents();
    QTest::mouseClick(page->findChild<QPushButton*>("cleanup.removeSelected"), Qt::LeftButton);
    press(waitForMessageBox(), "Move to Trash");
    ASSERT_TRUE(waitUntil([&] { return model->removals().lastResult().has_value(); }));
    QCoreApplication::processEvents();

    EXPECT_TRUE(!exists(big.url) && !exists(a2.url) && exists(a1.url) &&
                exists(path("home/.local/share/Trash/files/big")));
    EXPECT_TRUE(RemovalLog::isLastBatch(*model->removals().lastResult()));
    ASSERT_EQ(page->cards().size(), 1u);
    EXPECT_EQ(std::tuple(text("cleanup.across"), text("cleanup.selectedCount")),
              std::tuple("across 1 category", "0 selected"));
    EXPECT_FALSE(model->cleanup().isMeasuring());
}

// Fifty thousand entries open as one list with no widget per row, every row
// reachable.
TEST_F(CleanupViewTest, HugeTargetOpensAsOneListAndWheelGoesToThePage) {
    std::vector<CleanupEntry> many;
    for (int i = 0; i < 50'000; ++i) many.push_back({path("many/") + std::to_string(i), 50'000 - i, std::nullopt});
    std::vector<CleanupEntry> some(many.begin(), many.begin() + 200);
    model->cleanup().setItems({target("many", CleanupRisk::safe, many), target("some", CleanupRisk::safe, some)});
    QCoreApplication::processEvents();
    TargetCard* huge = card("many");
    ASSERT_TRUE(huge);
    huge->expandButton()->click();
    QCoreApplication::processEvents();
    EXPECT_LT(huge->findChildren<QWidget*>().size(), 40);
    EXPECT_EQ(huge->list()->model()->rowCount(), 50'000);
    const QModelIndex last = huge->list()->model()->index(49'999, 0);
    huge->list()->scrollTo(last);
    EXPECT_TRUE(huge->list()->viewport()->rect().intersects(huge->list()->visualRect(last)));

    // A list at full height leaves the wheel to the page (an ignored
    // wheel event goes on to the parents); the windowed one scrolls itself.
    auto wheelAccepted = [](EntryListView* list) {
        const QPoint inside = list->viewport()->rect().center();
        QWheelEvent wheel(inside, list->viewport()->mapToGlobal(inside), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(list->viewport(), &wheel);
        return wheel.isAccepted();
    };
    EXPECT_TRUE(wheelAccepted(huge->list()));
    TargetCard* tall = card("some");
    tall->expandButton()->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(wheelAccepted(tall->list()));
}

// The first display measures when nothing is measured; nothing found says so.
TEST_F(UiTest, CleanupFirstShowMeasures) {
    CleanupCatalog::ScopedSystemRoot system(path("sys")); // nothing of the machine's own
    auto model = makeModel();
    CleanupView page(model->cleanup(), model->removals());
    page.show();
    EXPECT_TRUE(model->cleanup().isMeasuring());
    ASSERT_TRUE(waitUntil([&] { return !model->cleanup().isMeasuring(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(page.findChild<QWidget*>("cleanup.empty")->isHidden() ||
                 page.findChild<QWidget*>("cleanup.progress")->isVisible());
}
