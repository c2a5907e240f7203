#pragma once
// The Browse outline's item model over a scanned tree.
//
// Built for trees of millions of nodes: an index's internal pointer is the
// FSNode itself, a row's parent is found in O(1) through a row cache filled
// per folder the first time one of its children is asked for its parent,
// and rows are counted only for folders a view expands. No proxy sits on top.
//
// Lifetime: the model holds the tree's root by shared ownership, so the tree
// outlives every index a view still holds until a reset is complete, and a
// folder's children list is copied while rows are being taken out of it, so
// a view never reads a half-changed tree.

#include "scan/FSNode.h"

#include <QAbstractItemModel>
#include <QHash>

#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace vessora {

class OutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit OutlineModel(QObject* parent = nullptr);

    // Shows the children of `root` (none for a null root). Always a reset.
    void setRoot(FSNode::Ptr root);
    const FSNode::Ptr& root() const { return root_; }

    // Before `rows` (ascending) of `parent`'s children leave the tree; the
    // tree itself is still unchanged.
    void nodesAboutToBeRemoved(const FSNode::Ptr& parent, const std::vector<int>& rows);
    // After they left and the sizes of `parent` and its ancestors changed.
    void nodesRemoved(const FSNode::Ptr& parent);
    // Before `folder`'s children are replaced by a new scan of it (its rows
    // go), and after (the new rows come, and every size above changed).
    void childrenAboutToBeReplaced(const FSNode::Ptr& folder);
    void childrenReplaced(const FSNode::Ptr& folder);

    // What the rows show busy: 1 for a node being removed (dimmed, with a
    // spinner), 2 for a folder being scanned again (a spinner); asked on
    // every paint. busyChanged repaints.
    enum Busy { idle = 0, removing = 1, rescanning = 2 };
    static constexpr int BusyRole = Qt::UserRole + 1;
    void setBusy(std::function<Busy(const FSNode&)> busy) { busy_ = std::move(busy); }
    Busy busy(const FSNode& node) const { return busy_ ? busy_(node) : idle; }

    FSNode* node(const QModelIndex& index) const;
    // The node with shared ownership, for callers that keep it.
    FSNode::Ptr nodeRef(const QModelIndex& index) const;
    // The index of a node of this tree; invalid when it is not in it.
    QModelIndex indexOf(const FSNode* node) const;
    // The size the row's bar is measured against: its parent's, or the root's.
    int64_t parentSize(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const std::vector<FSNode::Ptr>& childrenOf(const FSNode* node) const;
    int rowOf(const FSNode* node) const;
    // True when `node` is the root or reachable from it through rows the
    // views still show.
    bool isShown(const FSNode* node) const;
    // Every bar from `level` up measures against a new size.
    void sizesChanged(const FSNode* level);

    FSNode::Ptr root_;
    mutable QHash<const FSNode*, int> rows_;
    // Children lists as the views see them while a removal is under way.
    std::unordered_map<const FSNode*, std::vector<FSNode::Ptr>> pending_;
    std::unordered_set<const FSNode*> leaving_;
    std::function<Busy(const FSNode&)> busy_;
};

} // namespace vessora
