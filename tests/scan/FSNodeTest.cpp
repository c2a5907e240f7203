#include "scan/FSNode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

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

// The children list grows by moving its elements into larger blocks and
// closes gaps by moving them up: every move must keep each node and the order.
TEST(FSNode, ChildrenKeepTheirOrderThroughGrowthErasureAndCompaction) {
    auto root = FSNode::make("r", "/r", true);
    std::vector<FSNode::Ptr> expected;
    const auto check = [&](const char* when) {
        ASSERT_EQ(root->children().size(), expected.size()) << when;
        EXPECT_TRUE(std::equal(root->children().begin(), root->children().end(), expected.begin())) << when;
    };
    for (int i = 0; i < 1000; ++i) expected.push_back(file(*root, "f" + std::to_string(i), i));
    check("after growing");
    // Next to last, middle and first; one held elsewhere keeps its path.
    FSNode::Ptr held = expected[500];
    for (size_t at : {size_t(998), size_t(500), size_t(0)}) {
        root->eraseChild(expected[at].get());
        expected.erase(expected.begin() + long(at));
    }
    EXPECT_EQ(std::tuple(held->parent(), held->path()), std::tuple(nullptr, "/r/f500"));
    ASSERT_EQ(root->removeChild(expected.back().get()), expected.back());
    expected.pop_back();
    check("after erasing");
    root->compactChildren();
    check("after compacting");
    expected.push_back(file(*root, "late", 1));
    check("after growing again");
    EXPECT_THROW(root->children().at(expected.size()), std::out_of_range);
    // Emptied, a list is as new.
    auto emptied = FSNode::make("e", "/e", true);
    for (auto name : {"x", "y"}) emptied->eraseChild(file(*emptied, name, 1).get());
    EXPECT_TRUE(emptied->children().empty() && !emptied->outlineChildren());
    const FSNode::Ptr again = file(*emptied, "z", 1);
    EXPECT_EQ(emptied->children().front(), again);

    // Replacing hands back the old list; its nodes leave the tree with their
    // paths, and a node still held outlives the list that held it.
    auto fresh = FSNode::make("r", "/elsewhere/r", true);
    auto sub = FSNode::makeChild(*fresh, "sub", true);
    auto leaf = file(*sub, "leaf", 3);
    FSNode* kept = expected[1].get();
    {
        const ChildList old = root->replaceChildren(*fresh);
        EXPECT_EQ(std::tuple(old.size(), old[1].get(), kept->parent()), std::tuple(expected.size(), kept, nullptr));
    }
    expected.clear();
    EXPECT_EQ(std::tuple(root->children().size(), fresh->children().empty(), sub->parent(), leaf->path()),
              std::tuple(1u, true, root.get(), "/r/sub/leaf"));
    root.reset();
    EXPECT_EQ(std::tuple(sub->parent(), leaf->path()), std::tuple(nullptr, "/r/sub/leaf"));
}
