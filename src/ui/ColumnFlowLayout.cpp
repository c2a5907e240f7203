#include "ui/ColumnFlowLayout.h"

#include <QWidget>

#include <algorithm>

namespace vessora {

ColumnFlowLayout::ColumnFlowLayout(QWidget* parent, int minColumnWidth, int columnGap, int rowSpacing)
    : QLayout(parent), minColumnWidth_(minColumnWidth), columnGap_(columnGap), rowSpacing_(rowSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

ColumnFlowLayout::~ColumnFlowLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

int ColumnFlowLayout::columnsFor(int width) const {
    // Columns are at least as wide as the widest item wants, so no label is cut.
    int column = minColumnWidth_;
    for (auto* item : items_)
        if (!item->isEmpty()) column = std::max(column, item->sizeHint().width());
    return std::max(1, (width + columnGap_) / (column + columnGap_));
}

void ColumnFlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* ColumnFlowLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_.at(index) : nullptr;
}

QLayoutItem* ColumnFlowLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

int ColumnFlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize ColumnFlowLayout::minimumSize() const {
    int height = 0;
    for (auto* item : items_) height += item->minimumSize().height() + rowSpacing_;
    return {minColumnWidth_, std::max(0, std::min(height, arrange(QRect(0, 0, minColumnWidth_, 0), false)))};
}

QSize ColumnFlowLayout::sizeHint() const {
    const int width = 3 * minColumnWidth_ + 2 * columnGap_;
    return {width, arrange(QRect(0, 0, width, 0), false)};
}

void ColumnFlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int ColumnFlowLayout::arrange(const QRect& rect, bool apply) const {
    QList<QLayoutItem*> visible;
    for (auto* item : items_)
        if (!item->isEmpty()) visible.append(item);
    if (visible.isEmpty()) return 0;
    const int columns = columnsFor(rect.width());
    const int columnWidth = std::max(1, (rect.width() - (columns - 1) * columnGap_) / columns);
    int y = rect.y();
    for (int start = 0; start < visible.size(); start += columns) {
        int rowHeight = 0;
        for (int i = start; i < std::min<int>(start + columns, visible.size()); ++i)
            rowHeight = std::max(rowHeight, visible[i]->sizeHint().height());
        if (apply)
            for (int i = start; i < std::min<int>(start + columns, visible.size()); ++i)
                visible[i]->setGeometry(
                    QRect(rect.x() + (i - start) * (columnWidth + columnGap_), y, columnWidth, rowHeight));
        y += rowHeight + rowSpacing_;
    }
    return y - rowSpacing_ - rect.y();
}

} // namespace vessora
