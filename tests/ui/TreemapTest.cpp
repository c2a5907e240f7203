// The treemap: its choice of tiles, clicks, keys and accessibility.

#include "UiTestSupport.h"
#include "ui/browse/TreemapView.h"

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
    const std::tuple<int, int, size_t, std::string> cases[] = {
        {100, 0, 81, "20 smaller items"}, {81, 0, 81, "1 smaller item"}, {80, 5, 80, ""}};
    for (const auto& [children, zeroSized, count, lumpName] : cases) {
        std::vector<int64_t> sizes;
        for (int i = 0; i < children; ++i) sizes.push_back(1000 + (children - i) * 10);
        for (int i = 0; i < zeroSized; ++i) sizes.push_back(0);
        auto folder = folderWith(sizes);
        FSNode::Ptr lump;
        auto tiles = TreemapView::layoutTiles(folder, QRectF(0, 0, 2000, 1500), 80, lump);
        ASSERT_EQ(tiles.size(), count) << children;
        for (const auto& tile : tiles) EXPECT_GT(tile.node->size, 0);
        if (lumpName.empty()) {
            EXPECT_FALSE(tiles.back().node->isAggregate);
            continue;
        }
        const FSNode& last = *tiles.back().node;
        EXPECT_EQ(std::tuple(last.isAggregate, last.name(), last.path(), tiles.back().node),
                  std::tuple(true, lumpName, "/r", lump));
        // The same remainder keeps the same lump, so a selection of it stays valid.
        EXPECT_EQ(TreemapView::layoutTiles(folder, QRectF(0, 0, 900, 700), 80, lump).back().node, tiles.back().node);
    }
}

TEST(TreemapTiles, SizeLimits) {
    auto folder = folderWith({50, 30, 20});
    FSNode::Ptr lump;
    for (const QRectF& tooThin : {QRectF(0, 0, 4, 300), QRectF(0, 0, 300, 3.5)})
        EXPECT_TRUE(TreemapView::layoutTiles(folder, tooThin, 80, lump).empty());
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
    const std::tuple<const char*, bool, bool, size_t, size_t> cases[] = {
        {"file, once", false, false, 1, 0},
        {"folder, once: selected once the interval passed", true, false, 1, 0},
        {"folder, twice: drilled in, not selected", true, true, 0, 1},
        {"file, twice: only selected", false, true, 1, 0}};
    for (const auto& [what, onDir, twice, selections, drills] : cases) {
        selected.clear();
        drilled.clear();
        const QPoint at = centreOf(onDir ? dir : file);
        QTest::mouseClick(&view, Qt::LeftButton, {}, at);
        if (twice) QTest::mouseDClick(&view, Qt::LeftButton, {}, at);
        QTest::qWait(250);
        EXPECT_EQ(selected.size(), selections) << what;
        EXPECT_EQ(drilled.size(), drills) << what;
        for (const auto& n : selected) EXPECT_EQ(n, onDir ? dir : file) << what;
    }
}

TEST_F(ShownTreemap, TilesAreAccessibleNamedAndKeysMoveBetweenThem) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    ASSERT_EQ(list->childCount(), 2);
    EXPECT_EQ(std::tuple(list->child(0)->text(QAccessible::Name), list->child(1)->text(QAccessible::Name)),
              std::tuple("dir", "file"));
    EXPECT_TRUE(list->child(1)->text(QAccessible::Description).endsWith("40%"));

    view.activateWindow();
    view.setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    // The folder is the wide tile on the left; the file lies to its right.
    view.setFocusedTile(0);
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_EQ(view.focusedTile(), 1);
    QTest::keyClick(&view, Qt::Key_Space);
    EXPECT_EQ(selected, std::vector{file});
    QTest::keyClick(&view, Qt::Key_Left);
    EXPECT_EQ(view.focusedTile(), 0);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(drilled, std::vector{dir});

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
