#include "scan/FSNode.h"

#include <gtest/gtest.h>

using namespace vessora;

namespace {
FSNode::Ptr file(FSNode& parent, const std::string& name, int64_t size) {
    auto node = FSNode::makeChild(parent, name, false);
    node->size = size;
    node->fileCount = 1;
    return node;
}
} // namespace

TEST(FSNode, PathsNamesAndLumps) {
    auto root = FSNode::make("Macintosh HD", "/", true);
    auto users = FSNode::makeChild(*root, "Users", true);
    auto ada = FSNode::makeChild(*users, "ada", true);
    auto big = file(*ada, "big.iso", 5);
    auto lump = FSNode::makeLump(*ada, 5, 20480, 100);
    auto one = FSNode::makeLump(*users, 1, 4096, 1);
    EXPECT_EQ(users->path(), "/Users"); // no doubled separator below "/"
    EXPECT_EQ(big->path(), "/Users/ada/big.iso");
    EXPECT_EQ(lump->name(), "5 smaller items");
    EXPECT_EQ(lump->path(), "/Users/ada");
    EXPECT_TRUE(lump->isAggregate && !lump->isDirectory());
    EXPECT_EQ(one->name(), "1 smaller item");
}

TEST(FSNode, SortIsStableLargestFirstAndRepeatable) {
    auto root = FSNode::make("r", "/r", true);
    auto a = file(*root, "a", 10);
    auto b = file(*root, "b", 30);
    auto c = file(*root, "c", 10);
    auto d = FSNode::makeChild(*root, "d", true);
    d->size = 10;
    auto d1 = file(*d, "d1", 1), d2 = file(*d, "d2", 2);
    for (int round = 0; round < 2; ++round) {
        root->sortRecursively();
        std::vector<FSNode*> order;
        for (auto& child : root->children()) order.push_back(child.get());
        EXPECT_EQ(order, (std::vector<FSNode*>{b.get(), a.get(), c.get(), d.get()}));
        EXPECT_EQ(d->children()[0], d2);
    }
}

TEST(FSNode, DetachedNodesStayValid) {
    auto root = FSNode::make("r", "/r", true);
    auto dir = FSNode::makeChild(*root, "d", true);
    auto sub = FSNode::makeChild(*dir, "s", true);
    auto leaf = file(*sub, "leaf", 7);
    ASSERT_EQ(root->removeChild(dir.get()), dir);
    EXPECT_EQ(dir->parent(), nullptr);
    EXPECT_EQ(leaf->path(), "/r/d/s/leaf");

    // A screen holding a node deep inside a tree that is dropped keeps a
    // node with its path, and no parent.
    auto root2 = FSNode::make("r2", "/r2", true);
    auto held = file(*FSNode::makeChild(*FSNode::makeChild(*root2, "x", true), "y", true), "z", 1);
    auto heldLump = FSNode::makeLump(*held->parent(), 4, 4, 4);
    root2.reset();
    EXPECT_EQ(held->parent(), nullptr);
    EXPECT_EQ(held->path(), "/r2/x/y/z");
    EXPECT_EQ(heldLump->path(), "/r2/x/y");
    EXPECT_EQ(heldLump->name(), "4 smaller items");
}

TEST(FSNode, DeepTreesSortAndReleaseWithoutRecursion) {
    const int depth = 200000;
    auto root = FSNode::make("r", "/r", true);
    FSNode* tip = root.get();
    for (int i = 0; i < depth; ++i) {
        auto next = FSNode::makeChild(*tip, "d", true);
        file(*tip, "f", i % 7);
        tip = next.get();
    }
    root->sortRecursively();
    EXPECT_EQ(root->children()[0]->name(), "d");
    EXPECT_EQ(tip->path().size(), 2 + size_t(depth) * 2);
    root.reset(); // must not overflow the stack
}
