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

TEST(FSNode, PathsNamesLumpsAndDetachedNodes) {
    auto root = FSNode::make("Macintosh HD", "/", true);
    auto users = FSNode::makeChild(*root, "Users", true);
    auto one = FSNode::makeLump(*users, 1, 4096, 1);
    // No doubled separator below "/".
    EXPECT_EQ(std::tuple(users->path(), one->name()), std::tuple("/Users", "1 smaller item"));
    EXPECT_TRUE(one->isAggregate && !one->isDirectory());
    auto sub = FSNode::makeChild(*FSNode::makeChild(*users, "ada", true), "s", true);
    auto leaf = file(*sub, "leaf", 7);
    auto lump = FSNode::makeLump(*sub->parent(), 4, 4, 4);
    ASSERT_EQ(root->removeChild(users.get()), users);
    EXPECT_EQ(std::tuple(users->parent() == nullptr, leaf->path()), std::tuple(true, "/Users/ada/s/leaf"));
    // A screen holding a node deep inside a tree that is dropped keeps a
    // node with its path, and no parent.
    users.reset();
    EXPECT_EQ(std::tuple(leaf->parent()->parent() == nullptr, leaf->path(), lump->path(), lump->name()),
              std::tuple(true, "/Users/ada/s/leaf", "/Users/ada", "4 smaller items"));
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
    EXPECT_EQ(std::tuple(root->children()[0]->name(), tip->path().size()), std::tuple("d", 2 + size_t(depth) * 2));
    root.reset(); // must not overflow the stack
}
