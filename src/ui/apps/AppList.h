#pragma once
// The application list: one model row per AppRow, painted by AppRowDelegate
// (icon, name, "+X outside bundle" or the identifier, a spinner or the total),
// with no widget per row.

#include "model/AppRow.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <vector>

namespace vessora {

class AppIcons;

class AppListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        UrlRole = Qt::UserRole + 1, // QByteArray: the app's path bytes
        IdentifierRole,             // QString: the bundle identifier, empty when none
        SecondLineRole,             // QString
        OutsideRole,                // bool: the second line is the orange leftover total
        AnalyzedRole,               // bool
        SizeTextRole,               // QString: the total footprint, empty until analysed
    };

    explicit AppListModel(AppIcons* icons, QObject* parent = nullptr);

    // Takes the model's rows. The same apps in the same order only repaint
    // what changed; anything else resets the list.
    void setRows(const std::vector<AppRow>& rows);
    const std::vector<AppRow>& rows() const { return rows_; }
    int rowOf(const std::string& url) const;
    bool anyUnanalysed() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void iconArrived(const QString& url);
    AppIcons* icons_;
    std::vector<AppRow> rows_;
};

class AppRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Moves the spinners of unanalysed rows on by one step.
    void advance() { angle_ = (angle_ + 30) % 360; }

private:
    int angle_ = 0;
};

} // namespace vessora
