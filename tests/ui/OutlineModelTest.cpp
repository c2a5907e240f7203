// The outline's item model over real scanned trees, checked by Qt's model
// tester through expansion, collapse, removals and tree replacement.

#include "BrowseTestSupport.h"
#include "ui/browse/OutlineModel.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QTreeView>

namespace vessora {
namespace {

using namespace test;

struct OutlineFixture : ::testing::Test {
    BrowseTree files{400};
    CorvaneModel model;
    FSNode::Ptr root = scanned(model, files.root());
    OutlineModel outline;
    QTreeView view;

    void SetUp() override {
        ASSERT_TRUE(root);
        outline.setRoot(root);
        view.setUniformRowHeights(true);
        view.setModel(&outline);
        view.resize(400, 300);
        view.show();
    }
    QModelIndex indexOf(const std::string& relative) const {
        FSNode::Ptr node = root;
        size_t from = 0;
        while (node && from <= relative.size()) {
            const size_t slash = relative.find('/', from);
            node = childNamed(node, relative.substr(from, slash - from));
            if (slash == std::string::npos) break;
            from = slash + 1;
        }
        return outline.indexOf(node.get());
    }
};

TEST_F(OutlineFixture, ExpandCollapseAndReplacement) {
    FailOnQtWarnings strict;
    QAbstractItemModelTester tester(&outline, QAbstractItemModelTester::FailureReportingMode::Warning);

    // Sorted largest first: docs, big.bin, rows, empty.
    ASSERT_EQ(outline.rowCount(), 4);
    EXPECT_EQ(outline.data(outline.index(0, 0)).toString(), "docs");
    const QModelIndex rows = indexOf("rows"), empty = indexOf("empty"), big = indexOf("big.bin");
    EXPECT_FALSE(outline.hasChildren(empty));
    EXPECT_FALSE(outline.hasChildren(big));
    EXPECT_TRUE(outline.hasChildren(rows));

    view.expand(rows);
    ASSERT_EQ(outline.rowCount(rows), 400);
    const QModelIndex deep = outline.index(321, 0, rows);
    EXPECT_EQ(outline.parent(deep), rows);
    view.expand(deep);
    const QModelIndex lump = outline.index(0, 0, deep);
    EXPECT_EQ(outline.parent(lump), deep);
    EXPECT_TRUE(outline.node(lump)->isAggregate);
    EXPECT_FALSE(outline.hasChildren(lump));
    EXPECT_EQ(outline.parentSize(lump), outline.node(deep)->size);
    EXPECT_EQ(outline.parentSize(rows), root->size);
    view.scrollTo(outline.index(399, 0, rows));
    view.collapse(rows);

    // A new tree: a reset, and the old tree is still whole while it happens.
    std::weak_ptr<FSNode> old = root;
    QObject::connect(&outline, &QAbstractItemModel::modelAboutToBeReset, [&] { EXPECT_FALSE(old.expired()); });
    root.reset();
    FSNode::Ptr docs = scanned(model, files / "docs");
    outline.setRoot(docs);
    EXPECT_EQ(outline.rowCount(), 5); // at a scan's top level every file is a row
    EXPECT_FALSE(outline.index(0, 0).parent().isValid());
}

} // namespace
} // namespace vessora
