#pragma once
// The sidebar's rows: Overview, Browse, Cleanup, the "Categories" header (no
// flags at all, so it can be neither selected nor reached with the arrow
// keys in a QTreeView), then one row per category of the model in its order,
// with the size once measured and at least 1 byte. Category results change
// rows in place (dataChanged; a reordering moves persistent indexes), never a
// reset, so the selection survives measurement.

#include "model/CorvaneModel.h"
#include "ui/Section.h"

#include <QAbstractItemModel>
#include <QStyledItemDelegate>

class QAbstractItemView;

class QAbstractItemView;

#include "model/CorvaneModel.h"
#include <optional>
#include "model/CorvaneModel.h"
#include <vector>

namespace vessora {

class SidebarModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role { SectionRole = Qt::UserRole + 1, SizeTextRole, SymbolRole, IsHeaderRole };

    explicit SidebarModel(CategoryList& categories, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The hidden header's one column has a name, not the default "1".
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    std::optional<Section> sectionAt(const QModelIndex& index) const;
    QModelIndex indexOf(const Section& section) const;
    static constexpr int headerRow = 3;

private:
    struct CategoryRow {
        std::string id;
        QString title;
        QString symbol;
        int64_t size = 0; // shown when at least 1 and measured
    };
    void syncCategories();

    CategoryList& categoryStore_;
    std::vector<CategoryRow> categories_;
};

// Paints a sidebar row: symbol in the secondary colour, title cut at the end,
// the size in caption type with fixed-width digits on the trailing side; the
// header row in small bold secondary type.
class SidebarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The column width that shows every row's title whole beside a size.
    static int widthFor(const QAbstractItemView* view);
};

} // namespace vessora
