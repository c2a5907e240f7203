#include "ui/SidebarModel.h"

#include "model/CorvaneModel.h"
#include "support/Fmt.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QPainter>
#include <QStyle>

#include <cmath>
#include <map>
#include <set>

namespace vessora {

namespace {
const Section fixedSections[] = {Section::overview(), Section::browse(), Section::cleanup()};
}

SidebarModel::SidebarModel(CategoryList& categories, QObject* parent)
    : QAbstractItemModel(parent), categoryStore_(categories) {
    for (const auto& category : categoryStore_.items())
        categories_.push_back({category.id(), Text::fromUtf8(category.category.title),
                               Text::fromUtf8(category.category.symbol), category.measured ? category.size : 0});
    connect(&categoryStore_, &MeasuredListSignals::itemsChanged, this, &SidebarModel::syncCategories);
}

void SidebarModel::syncCategories() {
    std::vector<CategoryRow> fresh;
    for (const auto& category : categoryStore_.items())
        fresh.push_back({category.id(), Text::fromUtf8(category.category.title),
                         Text::fromUtf8(category.category.symbol), category.measured ? category.size : 0});

    auto sameIds = [&] {
        if (fresh.size() != categories_.size()) return false;
        std::multiset<std::string> a, b;
        for (auto& row : fresh) a.insert(row.id);
        for (auto& row : categories_) b.insert(row.id);
        return a == b;
    }();
    if (!sameIds) {
        // A different set of categories (not expected while running): start over.
        beginResetModel();
        categories_ = std::move(fresh);
        endResetModel();
        return;
    }
    bool reordered = false;
    for (size_t i = 0; i < fresh.size(); ++i) reordered |= fresh[i].id != categories_[i].id;
    if (reordered) {
        emit layoutAboutToBeChanged();
        std::map<std::string, int> newRow;
        for (size_t i = 0; i < fresh.size(); ++i) newRow[fresh[i].id] = int(i);
        const QModelIndexList persistent = persistentIndexList();
        for (const QModelIndex& index : persistent) {
            const int row = index.row() - headerRow - 1;
            if (row < 0) continue;
            changePersistentIndex(index, createIndex(headerRow + 1 + newRow[categories_[size_t(row)].id], 0));
        }
        categories_ = std::move(fresh);
        emit layoutChanged();
        return;
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
        const auto& a = categories_[i];
        const auto& b = fresh[i];
        if (a.size == b.size && a.title == b.title && a.symbol == b.symbol) continue;
        categories_[i] = b;
        const QModelIndex changed = index(headerRow + 1 + int(i), 0);
        emit dataChanged(changed, changed);
    }
}

QModelIndex SidebarModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || column != 0 || row < 0 || row >= rowCount()) return {};
    return createIndex(row, column);
}

QModelIndex SidebarModel::parent(const QModelIndex&) const { return {}; }

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : headerRow + 1 + int(categories_.size());
}

int SidebarModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() == headerRow) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

std::optional<Section> SidebarModel::sectionAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return std::nullopt;
    const int row = index.row();
    if (row < headerRow) return fixedSections[row];
    if (row == headerRow || row - headerRow - 1 >= int(categories_.size())) return std::nullopt;
    return Section::category(categories_[size_t(row - headerRow - 1)].id);
}

QModelIndex SidebarModel::indexOf(const Section& section) const {
    for (int row = 0; row < headerRow; ++row)
        if (fixedSections[row] == section) return index(row, 0);
    if (section.kind == Section::Kind::category)
        for (size_t i = 0; i < categories_.size(); ++i)
            if (categories_[i].id == section.categoryId) return index(headerRow + 1 + int(i), 0);
    return {};
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = index.row();
    if (row == headerRow) {
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) return QStringLiteral("Categories");
        if (role == IsHeaderRole) return true;
        return {};
    }
    if (role == IsHeaderRole) return false;
    const auto section = sectionAt(index);
    if (!section) return {};
    const CategoryRow* category = row > headerRow ? &categories_[size_t(row - headerRow - 1)] : nullptr;
    const QString title = category ? category->title : section->title();
    const QString size = category && category->size >= 1 ? Text::fromUtf8(Fmt::bytes(category->size)) : QString();
    switch (role) {
    case Qt::DisplayRole: return title;
    case Qt::AccessibleTextRole: return size.isEmpty() ? title : title + QStringLiteral(", ") + size;
    case Qt::ToolTipRole: return Text::toolTip(title);
    case SectionRole: return QVariant::fromValue(*section);
    case SizeTextRole: return size;
    case SymbolRole: return category ? category->symbol : section->symbol();
    default: return {};
    }
}

int SidebarDelegate::widthFor(const QAbstractItemView* view) {
    const QFontMetrics title(view->font());
    const int size = int(std::ceil(TabularText::width(Fonts::caption(), QStringLiteral("888.88 GB")))) + 6;
    int widest = 0;
    const QAbstractItemModel* model = view->model();
    for (int row = 0; model && row < model->rowCount(); ++row)
        widest = std::max(widest, title.horizontalAdvance(model->index(row, 0).data(Qt::DisplayRole).toString()));
    // The row's padding (10 each side), the icon and its gap, a scroll bar.
    return 10 + 16 + 6 + widest + 4 + size + 10 + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
           2 * view->frameWidth();
}

void SidebarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // The header row has no flags, and the option's palette would be the
    // disabled one; the header is drawn in the active secondary colour.
    QPalette palette = opt.widget ? opt.widget->palette() : QApplication::palette();
    palette.setCurrentColorGroup(QPalette::Active);
    const bool header = index.data(SidebarModel::IsHeaderRole).toBool();
    painter->save();
    if (header) {
        QFont font = Fonts::caption();
        font.setWeight(QFont::DemiBold);
        painter->setFont(font);
        painter->setPen(Colors::secondary(palette));
        painter->drawText(opt.rect.adjusted(10, 6, -8, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                          opt.text);
        painter->restore();
        return;
    }
    // Selection background from the style, then our own content.
    QStyleOptionViewItem background = opt;
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    const bool selected = opt.state & QStyle::State_Selected;
    const QColor text = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    const QColor secondary = selected
                                 ? Colors::readable(Colors::withAlpha(text, 0.8), palette.color(QPalette::Highlight))
                                 : Colors::secondary(palette);
    const QRect r = opt.rect.adjusted(10, 0, -10, 0);
    const int iconSize = 16;
    const QPixmap icon = Symbols::pixmap(index.data(SidebarModel::SymbolRole).toString(), iconSize, secondary,
                                         painter->device()->devicePixelRatioF());
    painter->drawPixmap(r.left(), r.center().y() - iconSize / 2 + 1, icon);

    const QString size = index.data(SidebarModel::SizeTextRole).toString();
    const QFont captionFont = Fonts::caption();
    const int sizeWidth = size.isEmpty() ? 0 : int(std::ceil(TabularText::width(captionFont, size))) + 6;
    if (!size.isEmpty()) {
        painter->setPen(secondary);
        TabularText::draw(*painter, QRectF(r.right() - sizeWidth, r.top(), sizeWidth, r.height()),
                          Qt::AlignRight | Qt::AlignVCenter, size, captionFont);
    }
    const QRect titleRect(r.left() + iconSize + 6, r.top(), r.width() - iconSize - 6 - sizeWidth, r.height());
    painter->setFont(opt.font);
    painter->setPen(text);
    painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, titleRect.width()));
    painter->restore();
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const bool header = index.data(SidebarModel::IsHeaderRole).toBool();
    const int height = std::max(option.fontMetrics.height() + 12, 28);
    return {150, header ? height + 4 : height};
}

QVariant SidebarModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::AccessibleTextRole))
        return QStringLiteral("Section");
    return {};
}

} // namespace vessora
