#pragma once
// One painted outline row: icon, name, badges, share bar and size. Rows are
// all the same height and nothing per row is a widget, so a folder of
// 100,000 rows costs only what is on screen.

#include "scan/FSNode.h"

#include <QRect>
#include <QString>
#include <QStyledItemDelegate>

#include <vector>

namespace vessora {

class NodeRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    struct Badge {
        QString symbol;
        QRect rect;
        QString help;
    };
    // Where each part of a row goes; painting and tooltips share it.
    struct Layout {
        QRect icon, name, bar, size;
        std::vector<Badge> badges;
    };
    static Layout layout(const QRect& row, const FSNode& node, const QFont& font);
    // The bar's share: size over the parent's size, 0 when that is below 1.
    static double fraction(int64_t size, int64_t parentSize);
    // The row's symbol: a lump, a folder, an application bundle or a file.
    static QString symbol(const FSNode& node);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

} // namespace vessora
