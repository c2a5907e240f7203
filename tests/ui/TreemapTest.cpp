// The treemap: its choice of tiles, clicks, keys and accessibility.

#include "UiTestSupport.h"
#include "support/Fmt.h"
#include "ui/browse/TreemapView.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QToolTip>

namespace vessora {
namespace {

FSNode::Ptr folderWith(const std::vector<int64_t>& sizes) {
    auto root = FSNode::make("root", "/r", true);
    for (size_t i = 0; i < sizes.size(); ++i) {
        const int64_t size = sizes[i];
        auto child = FSNode::makeChild(*root, "c" + std::to_string(i), i % 2 == 0);
        child->size = size;
        root->size += size;
    }
    return root;
}

TEST(TreemapTiles, LumpAndSkippedChildren) {
    struct Case {
        int children;
        int64_t zeroSized;
        size_t tiles;
        std::string lump;
    };
    const Case cases[] = {{100, 0, 81, "20 smaller items"}, {81, 0, 81, "1 smaller item"}, {80, 5, 80, ""}};
    for (const Case& c : cases) {
        std::vector<int64_t> sizes;
        for (int i = 0; i < c.children; ++i) sizes.push_back(1000 + (c.children - i) * 10);
        for (int i = 0; i < c.zeroSized; ++i) sizes.push_back(0);
        auto folder = folderWith(sizes);
        FSNode::Ptr lump;
        auto tiles = TreemapView::layoutTiles(folder, QRectF(0, 0, 2000, 1500), 80, lump);
        ASSERT_EQ(tiles.size(), c.tiles) << c.children;
        for (const auto& tile : tiles) EXPECT_GT(tile.node->size, 0);
        if (c.lump.empty()) {
            EXPECT_FALSE(tiles.back().node->isAggregate);
            continue;
        }
        const FSNode& last = *tiles.back().node;
        EXPECT_TRUE(last.isAggregate);
        EXPECT_EQ(last.name(), c.lump);
        EXPECT_EQ(last.path(), "/r");
        EXPECT_EQ(tiles.back().node, lump);
        // The same remainder keeps the same lump, so a selection of it stays valid.
        EXPECT_EQ(TreemapView::layoutTiles(folder, QRectF(0, 0, 900, 700), 80, lump).back().node, tiles.back().node);
    }
}

TEST(TreemapTiles, SizeLimits) {
    auto folder = folderWith({50, 30, 20});
    FSNode::Ptr lump;
    EXPECT_TRUE(TreemapView::layoutTiles(folder, QRectF(0, 0, 4, 300), 80, lump).empty());
    EXPECT_TRUE(TreemapView::layoutTiles(folder, QRectF(0, 0, 300, 3.5), 80, lump).empty());
    EXPECT_TRUE(TreemapView::layoutTiles(folderWith({0, 0}), QRectF(0, 0, 300, 300), 80, lump).empty());
    auto tiles = TreemapView::layoutTiles(folder, QRectF(0, 0, 100, 100), 80, lump);
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_DOUBLE_EQ(tiles[0].fraction, 0.5);
}

// A shown treemap of one folder and one file.
struct ShownTreemap : ::testing::Test {
    FSNode::Ptr folder = FSNode::make("root", "/r", true);
    FSNode::Ptr dir = FSNode::makeChild(*folder, "dir", true);
    FSNode::Ptr file = FSNode::makeChild(*folder, "file", false);
    TreemapView view;
    std::vector<FSNode::Ptr> selected, drilled;

    void SetUp() override {
        dir->size = 600;
        file->size = 400;
        folder->size = 1000;
        view.resize(400, 300);
        view.setNode(folder);
        view.setDoubleClickInterval(100);
        QObject::connect(&view, &TreemapView::nodeSelected, [&](const FSNode::Ptr& n) { selected.push_back(n); });
        QObject::connect(&view, &TreemapView::drilledIn, [&](const FSNode::Ptr& n) { drilled.push_back(n); });
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    QPoint centreOf(const FSNode::Ptr& node) {
        for (const auto& tile : view.tiles())
            if (tile.node == node) return tile.rect.center().toPoint();
        ADD_FAILURE() << "no tile";
        return {};
    }
};

TEST_F(ShownTreemap, SingleAndDoubleClicks) {
    struct Case {
        const char* what;
        bool onDir, twice;
        size_t selections, drills;
    };
    const Case cases[] = {{"file, once", false, false, 1, 0},
                          {"folder, once: selected once the interval passed", true, false, 1, 0},
                          {"folder, twice: drilled in, not selected", true, true, 0, 1},
                          {"file, twice: only selected", false, true, 1, 0}};
    for (const Case& c : cases) {
        selected.clear();
        drilled.clear();
        const QPoint at = centreOf(c.onDir ? dir : file);
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        if (c.twice) QTest::mouseDClick(&view, Qt::LeftButton, {}, at);
        QTest::qWait(250);
        EXPECT_EQ(selected.size(), c.selections) << c.what;
        EXPECT_EQ(drilled.size(), c.drills) << c.what;
        for (const auto& n : selected) EXPECT_EQ(n, c.onDir ? dir : file) << c.what;
    }
}

TEST_F(ShownTreemap, TilesAreAccessibleNamedAndKeysMoveBetweenThem) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "dir");
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), "file");
    EXPECT_TRUE(list->child(1)->text(QAccessible::Description).endsWith("40%"));

    view.activateWindow();
    view.setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    // The folder is the wide tile on the left; the file lies to its right.
    view.setFocusedTile(0);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.focusedTile(), 1);
    QTest::keyClick(&view, Qt::Key_Space);
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0], file);
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.focusedTile(), 0);
    QTest::keyClick(&view, Qt::Key_Return);
    ASSERT_EQ(drilled.size(), 1u);
    EXPECT_EQ(drilled[0], dir);

    // Going down and back up (as Browse answers Return and Backspace), a
    // tile keeps the focus: the first one inside, then the folder left.
    FSNode::Ptr inner = FSNode::makeChild(*dir, "inner", false);
    inner->size = 600;
    view.setNode(dir);
    EXPECT_EQ(view.focusedTile(), 0);
    view.setNode(folder);
    ASSERT_GE(view.focusedTile(), 0);
    EXPECT_EQ(view.tiles()[size_t(view.focusedTile())].node, dir);

    // The tooltip names the tile and its size.
    const QPoint at = centreOf(file);
    QHelpEvent help(QEvent::ToolTip, at, view.mapToGlobal(at));
    QApplication::sendEvent(&view, &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("file\n") + QString::fromStdString(Fmt::bytes(400)));
}

} // namespace
} // namespace vessora
