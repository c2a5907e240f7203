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

#include <functional>
#include <set>
#include <string>
#include <vector>

class QMenu;
class QPushButton;

namespace vessora {

class SpinnerTicker;

class LeftoverListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        UrlRole = Qt::UserRole + 1, // QByteArray
        PathRole,                   // QString: the full path
        CategoryRole,               // QString
        SizeTextRole,               // QString
        AdminRole,                  // bool
        BusyRole,                   // bool: being removed; shown dimmed with a spinner, never ticked
    };
    LeftoverListModel(PathSelection* selection, QObject* parent = nullptr);

    void setItems(std::vector<LeftoverItem> items);
    const std::vector<LeftoverItem>& items() const { return items_; }
    // Which paths are being removed; asked on every paint. busyChanged repaints.
    void setBusy(std::function<bool(const std::string&)> busy) { busy_ = std::move(busy); }
    void busyChanged();
    bool isBusy(int row) const;
    // The items that can be ticked now.
    std::vector<LeftoverItem> choosableItems() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    PathSelection* selection_;
    std::vector<LeftoverItem> items_;
    std::function<bool(const std::string&)> busy_;
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
    // Items being removed show busy and cannot be ticked; `spinning` while any removal runs.
    void setBusy(std::function<bool(const std::string&)> busy) { model_->setBusy(std::move(busy)); }
    void busyChanged(bool spinning);

private:
    void syncToggle();
    PathSelection* selection_;
    QPushButton* toggle_;
    LeftoverListView* list_;
    LeftoverListModel* model_;
    SpinnerTicker* ticker_;
};

} // namespace vessora
