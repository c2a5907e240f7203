#include "ui/browse/OutlineModel.h"

#include "ui/browse/ChangeText.h"
#include "ui/browse/SizeText.h"
#include "ui/kit/Text.h"

#include <QFile>

#include <algorithm>

namespace vessora {

namespace {
QString nodeName(const FSNode& node) { return Text::fromPath(node.name()); }
} // namespace

OutlineModel::OutlineModel(QObject* parent) : QAbstractItemModel(parent) {}

void OutlineModel::setRoot(FSNode::Ptr root) {
    beginResetModel();
    // The old tree is released only after the views have let go of it.
    FSNode::Ptr old = std::exchange(root_, std::move(root));
    rows_.clear();
    pending_.clear();
    leaving_.clear();
    ordered_.clear();
    // A comparison is of one tree.
    if (comparison_ && comparison_->laterTree() != root_) comparison_ = nullptr;
    endResetModel();
}

void OutlineModel::setComparison(std::shared_ptr<const ScanComparison> comparison) {
    if (comparison && comparison->laterTree() != root_) comparison = nullptr;
    if (comparison == comparison_) return;
    if (!comparison != !comparison_) {
        // The column count changes.
        beginResetModel();
        // Placeholders of the old comparison are released after the views let go.
        auto old = std::exchange(comparison_, std::move(comparison));
        rows_.clear();
        ordered_.clear();
        endResetModel();
        return;
    }
    relayout([&] { comparison_ = std::move(comparison); });
}

void OutlineModel::sort(int column, Qt::SortOrder order) {
    if (!comparison_ || column < 0 || column > 1) return;
    if (column == sortColumn_ && order == sortOrder_) return;
    relayout([&] {
        sortColumn_ = column;
        sortOrder_ = order;
    });
}

void OutlineModel::relayout(const std::function<void()>& change) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    std::vector<std::pair<FSNode::Ptr, int>> held;
    held.reserve(size_t(from.size()));
    // By shared pointer: a placeholder of the comparison being replaced
    // must outlive the look-up below.
    for (const QModelIndex& index : from) held.emplace_back(nodeRef(index), index.column());
    const auto keep = comparison_;
    change();
    ordered_.clear();
    rows_.clear();
    QModelIndexList to;
    to.reserve(from.size());
    for (const auto& [n, column] : held) {
        const QModelIndex index = n ? indexOf(n.get()) : QModelIndex();
        to.push_back(index.isValid() && column > 0 ? createIndex(index.row(), column, index.internalPointer()) : index);
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void OutlineModel::forgetOrders(const FSNode* node) {
    if (ordered_.empty() || !node) return;
    std::vector<const FSNode*> work{node};
    while (!work.empty()) {
        const FSNode* at = work.back();
        work.pop_back();
        ordered_.erase(at);
        for (const auto& child : at->children())
            if (child->isDirectory()) work.push_back(child.get());
    }
}

QVariant OutlineModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) return {};
    if (section == 0) return QStringLiteral("Name");
    if (section == 1 && comparison_) return QStringLiteral("Change");
    return {};
}

std::span<const FSNode::Ptr> OutlineModel::childrenOf(const FSNode* node) const {
    if (!node) return {};
    if (auto it = pending_.find(node); it != pending_.end()) return it->second;
    if (!comparison_) return node->children();
    if (auto it = ordered_.find(node); it != ordered_.end()) return it->second;
    std::vector<FSNode::Ptr> rows = node->children().toVector();
    const auto& gone = comparison_->goneFrom(*node);
    rows.insert(rows.end(), gone.begin(), gone.end());
    const bool descending = sortOrder_ == Qt::DescendingOrder;
    const ScanComparison& c = *comparison_;
    // Stable: equal keys keep the tree's order (largest first).
    if (sortColumn_ == 0)
        std::stable_sort(rows.begin(), rows.end(), [&](const FSNode::Ptr& a, const FSNode::Ptr& b) {
            const int64_t sa = c.isGone(*a) ? 0 : a->size, sb = c.isGone(*b) ? 0 : b->size;
            return descending ? sa > sb : sa < sb;
        });
    else
        std::stable_sort(rows.begin(), rows.end(), [&](const FSNode::Ptr& a, const FSNode::Ptr& b) {
            const int64_t da = c.delta(*a), db = c.delta(*b);
            return descending ? da > db : da < db;
        });
    return ordered_.emplace(node, std::move(rows)).first->second;
}

int OutlineModel::rowOf(const FSNode* node) const {
    const auto& siblings = childrenOf(node->parent());
    // A cached row is checked against the list, so rows shifted by a removal
    // (or an address reused by a new node) are noticed and refilled.
    if (auto it = rows_.constFind(node); it != rows_.cend()) {
        const int row = *it;
        if (row < int(siblings.size()) && siblings[size_t(row)].get() == node) return row;
    }
    int found = -1;
    for (size_t i = 0; i < siblings.size(); ++i) {
        rows_.insert(siblings[i].get(), int(i));
        if (siblings[i].get() == node) found = int(i);
    }
    return found;
}

bool OutlineModel::isShown(const FSNode* node) const {
    for (; node; node = node->parent()) {
        if (node == root_.get()) return true;
        if (leaving_.count(node)) return false;
    }
    return false;
}

FSNode* OutlineModel::node(const QModelIndex& index) const {
    return index.isValid() ? static_cast<FSNode*>(index.internalPointer()) : nullptr;
}

FSNode::Ptr OutlineModel::nodeRef(const QModelIndex& index) const {
    const FSNode* n = node(index);
    if (!n) return nullptr;
    const auto& siblings = childrenOf(n->parent());
    const int row = index.row();
    return row < int(siblings.size()) && siblings[size_t(row)].get() == n ? siblings[size_t(row)] : nullptr;
}

QModelIndex OutlineModel::indexOf(const FSNode* node) const {
    if (!node || node == root_.get() || !isShown(node)) return {};
    const int row = rowOf(node);
    return row < 0 ? QModelIndex() : createIndex(row, 0, const_cast<FSNode*>(node));
}

int64_t OutlineModel::parentSize(const QModelIndex& index) const {
    const FSNode* n = node(index);
    if (!n) return 0;
    if (const FSNode* p = n->parent()) return p->size;
    return root_ ? root_->size : 0;
}

QModelIndex OutlineModel::index(int row, int column, const QModelIndex& parent) const {
    if (column < 0 || column >= columnCount() || row < 0 || parent.column() > 0) return {};
    const FSNode* p = parent.isValid() ? node(parent) : root_.get();
    const auto& children = childrenOf(p);
    if (row >= int(children.size())) return {};
    return createIndex(row, column, children[size_t(row)].get());
}

QModelIndex OutlineModel::parent(const QModelIndex& child) const {
    const FSNode* n = node(child);
    const FSNode* p = n ? n->parent() : nullptr;
    if (!p || p == root_.get()) return {};
    return createIndex(rowOf(p), 0, const_cast<FSNode*>(p));
}

int OutlineModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const FSNode* p = parent.isValid() ? node(parent) : root_.get();
    return int(childrenOf(p).size());
}

int OutlineModel::columnCount(const QModelIndex&) const { return comparison_ ? 2 : 1; }

bool OutlineModel::hasChildren(const QModelIndex& parent) const {
    if (parent.column() > 0) return false;
    const FSNode* p = parent.isValid() ? node(parent) : root_.get();
    if (!p) return false;
    if (pending_.count(p)) return !pending_.at(p).empty();
    // Files, lumps, skipped locations and empty folders have no disclosure.
    return parent.isValid() ? p->outlineChildren() != nullptr : !p->children().empty();
}

QVariant OutlineModel::data(const QModelIndex& index, int role) const {
    const FSNode* n = node(index);
    if (!n) return {};
    if (index.column() == 1) {
        if (!comparison_) return {};
        switch (role) {
        case Qt::DisplayRole: return ChangeText::column(*comparison_, *n);
        case Qt::AccessibleTextRole: return ChangeText::spoken(*comparison_, *n);
        case ChangeRole: return int(comparison_->change(*n));
        default: return {};
        }
    }
    switch (role) {
    case Qt::DisplayRole: return nodeName(*n);
    case Qt::AccessibleTextRole:
        if (comparison_)
            return nodeName(*n) + QStringLiteral(", ") +
                   (isGone(*n) ? ChangeText::spoken(*comparison_, *n)
                               : sizeText(n->size) + QStringLiteral(", ") + ChangeText::spoken(*comparison_, *n));
        return nodeName(*n) + QStringLiteral(", ") + sizeText(n->size);
    case BusyRole: return int(busy(*n));
    case ChangeRole: return comparison_ ? QVariant(int(comparison_->change(*n))) : QVariant();
    default: return {};
    }
}

Qt::ItemFlags OutlineModel::flags(const QModelIndex& index) const {
    const FSNode* n = node(index);
    if (!n) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!n->outlineChildren()) flags |= Qt::ItemNeverHasChildren;
    return flags;
}

void OutlineModel::nodesAboutToBeRemoved(const FSNode::Ptr& parent, const std::vector<int>& treeRows) {
    if (!parent || treeRows.empty() || !isShown(parent.get())) return;
    // `treeRows` count in the tree's order; the views may see another (in
    // compare mode), so the leaving nodes are found in what they see.
    const std::span<const FSNode::Ptr> seenNow = childrenOf(parent.get());
    std::vector<FSNode::Ptr> seen(seenNow.begin(), seenNow.end());
    std::vector<int> rows;
    for (int treeRow : treeRows) {
        if (treeRow < 0 || treeRow >= int(parent->children().size())) continue;
        const FSNode* leaving = parent->children()[size_t(treeRow)].get();
        forgetOrders(leaving);
        for (size_t i = 0; i < seen.size(); ++i)
            if (seen[i].get() == leaving) rows.push_back(int(i));
    }
    std::sort(rows.begin(), rows.end());
    // The views are told run by run, last run first, so every row number they
    // hear still means what it meant; meanwhile they read this copy.
    auto& shown = pending_[parent.get()] = std::move(seen);
    const QModelIndex parentIndex = indexOf(parent.get());
    for (size_t i = rows.size(); i > 0;) {
        const int last = rows[--i];
        int first = last;
        while (i > 0 && rows[i - 1] == first - 1) first = rows[--i];
        if (first < 0 || last >= int(shown.size())) continue;
        beginRemoveRows(parentIndex, first, last);
        for (int row = first; row <= last; ++row) leaving_.insert(shown[size_t(row)].get());
        // Kept alive until the removal is over: a view may still hold it.
        shown.erase(shown.begin() + first, shown.begin() + last + 1);
        endRemoveRows();
    }
}

void OutlineModel::nodesRemoved(const FSNode::Ptr& parent) {
    if (!parent) return;
    if (auto it = pending_.find(parent.get()); it != pending_.end()) {
        // In compare mode what the views saw, less what left, stays the order.
        if (comparison_) ordered_[parent.get()] = std::move(it->second);
        pending_.erase(it);
    }
    if (pending_.empty()) leaving_.clear();
    if (!isShown(parent.get())) return;
    // The parent and every ancestor shrank.
    sizesChanged(parent.get());
}

void OutlineModel::childrenAboutToBeReplaced(const FSNode::Ptr& folder) {
    if (!folder || !isShown(folder.get())) return;
    // The views hear of the old rows leaving and meanwhile read an empty
    // list, so they never read a half-changed folder.
    const std::span<const FSNode::Ptr> shown = childrenOf(folder.get());
    const std::vector<FSNode::Ptr> old(shown.begin(), shown.end());
    forgetOrders(folder.get());
    const int count = int(old.size());
    if (count == 0) {
        pending_[folder.get()] = {};
        return;
    }
    beginRemoveRows(indexOf(folder.get()), 0, count - 1);
    for (const auto& child : old) leaving_.insert(child.get());
    // The tree still holds the old children until the splice, so they
    // outlive every index the views have until then.
    pending_[folder.get()] = {};
    endRemoveRows();
}

void OutlineModel::childrenReplaced(const FSNode::Ptr& folder) {
    if (!folder) return;
    const auto it = pending_.find(folder.get());
    if (it == pending_.end()) return;
    pending_.erase(it);
    ordered_.erase(folder.get());
    // Counted once the folder is no longer pending: in compare mode its rows
    // are its new children and its placeholders.
    const int count = int(childrenOf(folder.get()).size());
    if (count > 0) {
        pending_[folder.get()] = {};
        beginInsertRows(indexOf(folder.get()), 0, count - 1);
        pending_.erase(folder.get());
        endInsertRows();
    }
    if (pending_.empty()) leaving_.clear();
    // The folder and every folder above it have new sizes.
    sizesChanged(folder.get());
}

void OutlineModel::sizesChanged(const FSNode* from) {
    // Every bar among the children of each level measures against a new size.
    for (const FSNode* level = from; level; level = level->parent()) {
        const auto& children = childrenOf(level);
        const QModelIndex levelIndex = indexOf(level);
        if (!children.empty())
            emit dataChanged(index(0, 0, levelIndex), index(int(children.size()) - 1, 0, levelIndex));
        if (level == root_.get()) break;
    }
}

} // namespace vessora
