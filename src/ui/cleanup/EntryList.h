#pragma once
// The entry lists of the Cleanup cards and the category detail page: one
// model row per entry, painted by a delegate (no widget per row), so a list
// of 50,000 entries opens without a stall. The check state lives in a shared
// PathSelection, the screen's set of selected paths.

#include "platform/CleanupEntry.h"
#include "ui/kit/PathSelection.h"

#include <QAbstractListModel>
#include <QColor>
#include <QListView>
#include <QObject>
#include <QStyledItemDelegate>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace vessora {

class EntryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        UrlRole = Qt::UserRole + 1, // QByteArray: the path's bytes
        ParentRole,                 // QString: the parent folder
        DateRole,                   // QString: relative modification date, empty when unknown
        SizeRole,                   // qint64
        SizeTextRole,               // QString
        SelectableRole,             // bool
        FractionRole,               // double: share of the denominator
        IsFolderRole,               // bool
        NoteRole,                   // QString: why the row cannot be chosen, or what its size means; may be empty
        BusyRole,                   // bool: being removed; shown dimmed with a spinner, never chosen
    };

    // `selectable` decides per path whether a row can be toggled; it is asked
    // once per row, when the row is first painted.
    EntryListModel(PathSelection* selection, std::function<bool(const std::string&)> selectable = {},
                   QObject* parent = nullptr);

    // Replaces the entries; a list of the same paths in the same order only repaints.
    void setEntries(std::vector<CleanupEntry> entries);
    const std::vector<CleanupEntry>& entries() const { return entries_; }
    void setDenominator(int64_t bytes);
    bool isSelectable(int row) const;
    // Which paths are being removed; asked on every paint. busyChanged repaints.
    void setBusy(std::function<bool(const std::string&)> busy) { busy_ = std::move(busy); }
    void busyChanged();
    bool isBusy(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    PathSelection* selection_;
    std::function<bool(const std::string&)> selectable_;
    std::function<bool(const std::string&)> busy_;
    std::vector<CleanupEntry> entries_;
    mutable std::vector<signed char> selectableCache_; // -1 unknown
    int64_t denominator_ = 0;
};

// What a row shows beyond name, folder, date and size.
struct EntryRowStyle {
    bool shareBar = false; // a share bar in `tint`
    QColor tint;
    bool buttons = false; // Browse (folders) and reveal buttons
    int dividerInset = 0; // dividers between rows start this far in
};

class EntryRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit EntryRowDelegate(EntryRowStyle style, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    int rowHeight(const QWidget* widget) const;

    enum class Part { none, check, browse, reveal };
    // Which part of a row lies at `pos`; the row rect is `rect`.
    Part partAt(const QRect& rect, const QPoint& pos, const QModelIndex& index) const;

    static QString lockHelp();
    static QString browseHelp();

signals:
    void browseRequested(const std::string& url);
    void revealRequested(const std::string& url);

private:
    QRect checkRect(const QRect& row) const;
    QRect revealRect(const QRect& row) const;
    QRect browseRect(const QRect& row) const;
    EntryRowStyle style_;
};

// A list that is exactly as tall as its rows and never scrolls: the page's
// scroll area does, so wheel events go on to it. Only a list too tall for a
// layout scrolls itself. Space toggles the current row.
class EntryListView : public QListView {
    Q_OBJECT
public:
    explicit EntryListView(QWidget* parent = nullptr);
    void setRowDelegate(EntryRowDelegate* delegate);
    EntryRowDelegate* rowDelegate() const { return delegate_; }
    // Fits the height to the rows; called when the row count changes.
    void fitHeight();
    // Lists taller than this many pixels scroll inside a window this high.
    static constexpr int tallestList = 100'000;
    static constexpr int windowedHeight = 640;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    EntryRowDelegate* delegate_ = nullptr;
};

} // namespace vessora
