#pragma once
// The Browse outline's item model over a scanned tree.
//
// Built for trees of millions of nodes: an index's internal pointer is the
// FSNode itself, a row's parent is found in O(1) through a row cache filled
// per folder the first time one of its children is asked for its parent,
// and rows are counted only for folders a view expands. No proxy sits on top.
//
// Compare mode: with a comparison, a second column tells each row's change,
// every folder's rows are followed by placeholders for what is gone from it,
// and rows are ordered by growth (or, sorted by the first column, by size).
// The order lives here, per folder the views expanded, not in the tree.
//
// Lifetime: the model holds the tree's root by shared ownership, so the tree
// outlives every index a view still holds until a reset is complete, and a
// folder's children list is copied while rows are being taken out of it, so
// a view never reads a half-changed tree.

#include "scan/FSNode.h"
#include "scan/ScanComparison.h"

#include <QAbstractItemModel>
#include <QHash>

#include <functional>
#include <memory>
#include <span>
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

    // Compare mode on (with a comparison of this tree) or off. Switching
    // between the two is a reset (the column count changes); a new
    // comparison while comparing keeps every row the views hold.
    void setComparison(std::shared_ptr<const ScanComparison> comparison);
    const std::shared_ptr<const ScanComparison>& comparison() const { return comparison_; }
    // A placeholder for something gone since the earlier scan.
    bool isGone(const FSNode& node) const { return comparison_ && comparison_->isGone(node); }
    static constexpr int ChangeRole = Qt::UserRole + 2; // a ScanComparison::Change
    // Column 0: by size; column 1: by change (descending: largest growth first).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Named columns (for assistive technology too), never the default "1".
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

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
    std::span<const FSNode::Ptr> childrenOf(const FSNode* node) const;
    int rowOf(const FSNode* node) const;
    // True when `node` is the root or reachable from it through rows the
    // views still show.
    bool isShown(const FSNode* node) const;
    // Every bar from `level` up measures against a new size.
    void sizesChanged(const FSNode* level);
    // A new order (or comparison) for every row, the rows the views hold kept.
    void relayout(const std::function<void()>& change);
    // Forgets the orders of `node`'s folder and of every folder below it.
    void forgetOrders(const FSNode* node);

    FSNode::Ptr root_;
    mutable QHash<const FSNode*, int> rows_;
    // Children lists as the views see them while a removal is under way.
    std::unordered_map<const FSNode*, std::vector<FSNode::Ptr>> pending_;
    std::unordered_set<const FSNode*> leaving_;
    std::function<Busy(const FSNode&)> busy_;
    std::shared_ptr<const ScanComparison> comparison_;
    // Compare mode: each folder's rows in their order, made when first asked.
    mutable std::unordered_map<const FSNode*, std::vector<FSNode::Ptr>> ordered_;
    int sortColumn_ = 1;
    Qt::SortOrder sortOrder_ = Qt::DescendingOrder;
};

} // namespace vessora
