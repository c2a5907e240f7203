#pragma once
// A depth-first walk over a scanned tree in child order, with an explicit
// stack: trees may be tens of thousands of levels deep, deeper than a thread's
// stack allows for recursion. The writers of the tree's text forms all walk it
// this way and differ only in what they write for a node.

#include "scan/FSNode.h"

#include <cstddef>
#include <vector>

namespace vessora {

// What the walk does after a node was entered.
enum class TreeStep {
    descend,  // list its children, then leave it
    skip,     // go on with its next sibling; the node is not left
    skipRest, // neither this node nor its later siblings are visited
};

// `enter(node, depth, index)` is called for the root (depth 0, index 0) and for
// every child the walk reaches (index: its place among its siblings);
// `leave(node, depth)` follows the children of every node entered with
// `descend`. A root that is not descended into is not left.
template <class Enter, class Leave> void walkTree(const FSNode& root, Enter&& enter, Leave&& leave) {
    if (enter(root, size_t(0), size_t(0)) != TreeStep::descend) return;
    struct Frame {
        const FSNode* node;
        size_t next;
    };
    constexpr size_t kAhead = 4;
    for (size_t i = 0; i < kAhead && i < root.children().size(); ++i) __builtin_prefetch(root.children()[i].get());
    std::vector<Frame> stack{{&root, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const auto& children = frame.node->children();
        if (frame.next < children.size()) {
            const size_t index = frame.next++;
            const FSNode& child = *children[index];
            // Nodes lie scattered over the heap: siblings a few places ahead,
            // and this one's children, are fetched while this one is written.
            if (index + kAhead < children.size()) __builtin_prefetch(children[index + kAhead].get());
            const auto& grandchildren = child.children();
            for (size_t i = 0; i < kAhead && i < grandchildren.size(); ++i) __builtin_prefetch(grandchildren[i].get());
            const TreeStep step = enter(child, stack.size(), index);
            if (step == TreeStep::descend)
                stack.push_back({&child, 0});
            else if (step == TreeStep::skipRest)
                frame.next = children.size();
            continue;
        }
        const FSNode& node = *frame.node;
        stack.pop_back();
        leave(node, stack.size());
    }
}

} // namespace vessora
