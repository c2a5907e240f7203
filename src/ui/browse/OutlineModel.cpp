#include "ui/browse/OutlineModel.h"

#include "ui/browse/SizeText.h"

#include <QFile>

namespace vessora {

namespace {
const std::vector<FSNode::Ptr> noChildren;

QString nodeName(const FSNode& node) { return QFile::decodeName(QByteArray::fromStdString(node.name())); }
} // namespace

OutlineModel::OutlineModel(QObject* parent) : QAbstractItemModel(parent) {}

void OutlineModel::setRoot(FSNode::Ptr root) {
    beginResetModel();
    // The old tree is released only after the views have let go of it.
    FSNode::Ptr old = std::exchange(root_, std::move(root));
    rows_.clear();
    pending_.clear();
    leaving_.clear();
    endResetModel();
}

const std::vector<FSNode::Ptr>& OutlineModel::childrenOf(const FSNode* node) const {
    if (!node) return noChildren;
    if (auto it = pending_.find(node); it != pending_.end()) return it->second;
    return node->children();
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
    if (column != 0 || row < 0 || parent.column() > 0) return {};
    const FSNode* p = parent.isValid() ? node(parent) : root_.get();
    const auto& children = childrenOf(p);
    if (row >= int(children.size())) return {};
    return createIndex(row, 0, children[size_t(row)].get());
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

int OutlineModel::columnCount(const QModelIndex&) const { return 1; }

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
    switch (role) {
    case Qt::DisplayRole:
        return nodeName(*n);
    case Qt::AccessibleTextRole:
        return nodeName(*n) + QStringLiteral(", ") + sizeText(n->size);
    case BusyRole: return int(busy(*n));
    default:
        return {};
    }
}

Qt::ItemFlags OutlineModel::flags(const QModelIndex& index) const {
    const FSNode* n = node(index);
    if (!n) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!n->outlineChildren()) flags |= Qt::ItemNeverHasChildren;
    return flags;
}

void OutlineModel::nodesAboutToBeRemoved(const FSNode::Ptr& parent, const std::vector<int>& rows) {
    if (!parent || rows.empty() || !isShown(parent.get())) return;
    // The views are told run by run, last run first, so every row number they
    // hear still means what it meant; meanwhile they read this copy.
    auto& shown = pending_[parent.get()] = parent->children();
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
    pending_.erase(parent.get());
    if (pending_.empty()) leaving_.clear();
    if (!isShown(parent.get())) return;
    // The parent and every ancestor shrank.
    sizesChanged(parent.get());
}

void OutlineModel::childrenAboutToBeReplaced(const FSNode::Ptr& folder) {
    if (!folder || !isShown(folder.get())) return;
    // The views hear of the old rows leaving and meanwhile read an empty
    // list, so they never read a half-changed folder.
    const auto& old = childrenOf(folder.get());
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
    const int count = int(folder->children().size());
    if (count > 0) {
        beginInsertRows(indexOf(folder.get()), 0, count - 1);
        pending_.erase(it);
        endInsertRows();
    } else {
        pending_.erase(it);
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
