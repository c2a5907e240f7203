#pragma once
// The pieces of Browse's compare mode: the outline's Change column and the
// treemap's legend.

#include "scan/ScanComparison.h"

#include <QStyledItemDelegate>
#include <QWidget>

namespace vessora {

// Paints the Change column: the change's text in its colour.
class ChangeDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Which colour of the treemap means what: grew, shrank, new, same.
class ChangeLegend : public QWidget {
    Q_OBJECT
public:
    explicit ChangeLegend(QWidget* parent = nullptr);
};

} // namespace vessora
