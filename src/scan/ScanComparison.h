#pragma once
// Two scans of one folder side by side: which node of the later tree stood
// for which of the earlier one (matched by name, folder by folder), what is
// new, and what is gone. The later tree stays the tree people browse and
// remove from; the comparison is only an annotation over it.
//
// Sizes are read from the later tree when asked, so a removal that shrinks a
// folder shows in its change at once. What the earlier tree had and the later
// one has not is represented by placeholder nodes: each has the later folder
// as its parent (so it has a path) but is not among that folder's children,
// and its size is 0 (nothing of it is left).
//
// Lifetime: the comparison holds both trees and every node of the later one
// it annotated, so a node removed from the tree since is never freed while
// the comparison may still be asked about it (and its address never reused
// by a node it does not know).

#include "scan/FSNode.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace vessora {

class ScanComparison {
public:
    enum class Change { same, grew, shrank, added, gone };

    // Matches `later` against `earlier`. Both roots stand for the same
    // folder, whatever their paths say.
    static std::shared_ptr<const ScanComparison> make(FSNode::Ptr earlier, FSNode::Ptr later);

    const FSNode::Ptr& earlierTree() const { return earlier_; }
    const FSNode::Ptr& laterTree() const { return later_; }

    // The earlier node `node` stood for: for a node of the later tree its
    // counterpart (null when it is new, or not from the compared tree); for
    // a placeholder the node that is gone.
    const FSNode* earlier(const FSNode& node) const;
    bool isGone(const FSNode& node) const { return gone_.count(&node) > 0; }
    // Whether the comparison knows `node` (a node of the later tree when it
    // was made, or one of its placeholders).
    bool knows(const FSNode& node) const { return counterpart_.count(&node) > 0 || isGone(node); }
    // Placeholders for what `folder` held earlier and holds no more, largest first.
    const std::vector<FSNode::Ptr>& goneFrom(const FSNode& folder) const;

    Change change(const FSNode& node) const;
    int64_t earlierSize(const FSNode& node) const;
    // Now less then: negative for what shrank or is gone.
    int64_t delta(const FSNode& node) const;
    // The delta as a share of the earlier size; nothing (NaN) when there was none.
    double percent(const FSNode& node) const;

    // Every change below the root (new, gone, or of another size), the
    // largest growth first and the largest shrink last; equal deltas by path.
    struct Entry {
        FSNode::Ptr node; // of the later tree, or a placeholder
        const FSNode* then = nullptr;
        Change change = Change::same;
        int64_t before = 0, after = 0;
    };
    std::vector<Entry> changes() const;

    // "+312 MB", "-4 MB", "no change": the delta in the one format for sizes.
    static std::string deltaText(int64_t delta);
    // "+25%", "-0.4%"; "" when there is no earlier size to compare with.
    static std::string percentText(int64_t delta, int64_t before);
    // "grew", "shrank", "new", "gone", "same".
    static const char* changeName(Change change);

private:
    ScanComparison() = default;

    FSNode::Ptr earlier_, later_;
    std::vector<FSNode::Ptr> held_; // every node of the later tree when matched
    // Every node of the later tree: its earlier counterpart, null when new.
    std::unordered_map<const FSNode*, const FSNode*> counterpart_;
    std::unordered_map<const FSNode*, std::vector<FSNode::Ptr>> goneFrom_;
    std::unordered_map<const FSNode*, const FSNode*> gone_;
};

} // namespace vessora
