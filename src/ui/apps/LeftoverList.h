#pragma once
// One group of an application's leftovers: a checkable list painted by a
// delegate (checkbox, name, category, path, lock, size), as tall as its rows
// so the detail pane's scroll area does the scrolling. The ticks live in a
// PathSelection the screen shares between its groups.

#include "apps/LeftoverFinder.h"
#include "ui/kit/PathSelection.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>

#include <set>
#include <string>
#include <vector>

class QMenu;
class QPushButton;

namespace vessora {

class LeftoverListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        UrlRole = Qt::UserRole + 1, // QByteArray
        PathRole,                   // QString: the full path
        CategoryRole,               // QString
        SizeTextRole,               // QString
        AdminRole,                  // bool
    };
    LeftoverListModel(PathSelection* selection, QObject* parent = nullptr);

    void setItems(std::vector<LeftoverItem> items);
    const std::vector<LeftoverItem>& items() const { return items_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    PathSelection* selection_;
    std::vector<LeftoverItem> items_;
};

class LeftoverRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int rowHeight = 46;
    static QString lockHelp();

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    QRect lockRect(const QRect& row) const;
};

class LeftoverListView : public QListView {
    Q_OBJECT
public:
    explicit LeftoverListView(QWidget* parent = nullptr);
    LeftoverListModel* leftovers() const { return static_cast<LeftoverListModel*>(model()); }
    // The row's context menu ("Reveal in Finder" or its local words).
    QMenu* buildContextMenu(const QModelIndex& index, QWidget* parent);
    void fitHeight();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// A titled group: the title with "Select All"/"Deselect All", a note, and
// the list on a panel of the control background colour. Hidden when empty.
class LeftoverGroup : public QWidget {
    Q_OBJECT
public:
    LeftoverGroup(const QString& title, const QString& note, PathSelection* selection, QWidget* parent = nullptr);
    void setItems(std::vector<LeftoverItem> items);
    const std::vector<LeftoverItem>& items() const;
    QPushButton* toggleButton() const { return toggle_; }
    LeftoverListView* list() const { return list_; }

private:
    void syncToggle();
    PathSelection* selection_;
    QPushButton* toggle_;
    LeftoverListView* list_;
    LeftoverListModel* model_;
};

} // namespace vessora
