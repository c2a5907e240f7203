#include "ui/apps/AppList.h"

#include "support/Fmt.h"
#include "ui/apps/AppIcons.h"
#include "ui/apps/AppsTexts.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"

#include <QApplication>
#include <QPainter>

namespace vessora {

namespace {
constexpr int rowHeight = 46;
constexpr int iconSize = 32;
constexpr int sizeSlot = 84;
constexpr int spinnerSize = 14;
} // namespace

AppListModel::AppListModel(AppIcons* icons, QObject* parent) : QAbstractListModel(parent), icons_(icons) {
    connect(icons_, &AppIcons::ready, this, &AppListModel::iconArrived);
}

void AppListModel::setRows(const std::vector<AppRow>& rows) {
    bool sameApps = rows.size() == rows_.size();
    for (size_t i = 0; sameApps && i < rows.size(); ++i) sameApps = rows[i].app.url == rows_[i].app.url;
    if (!sameApps) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
        return;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] == rows_[i]) continue;
        rows_[i] = rows[i];
        emit dataChanged(index(int(i)), index(int(i)));
    }
}

int AppListModel::rowOf(const std::string& url) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].app.url == url) return int(i);
    return -1;
}

bool AppListModel::anyUnanalysed() const {
    for (const auto& row : rows_)
        if (!row.analyzed) return true;
    return false;
}

void AppListModel::iconArrived(const QString& url) {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (Text::filePath(rows_[i].app.url) == url)
            emit dataChanged(index(int(i)), index(int(i)), {Qt::DecorationRole});
}

int AppListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }

QVariant AppListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const AppRow& row = rows_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return Text::fromName(row.app.name);
    case Qt::DecorationRole: return icons_->icon(row.app);
    case Qt::ToolTipRole: return Text::fromPath(row.app.url);
    case UrlRole: return QByteArray::fromStdString(row.app.url);
    case IdentifierRole: return Text::fromUtf8(row.app.bundleID.value_or(""));
    case SecondLineRole: return Text::fromUtf8(AppsTexts::secondLine(row).text);
    case OutsideRole: return AppsTexts::secondLine(row).outside;
    case AnalyzedRole: return row.analyzed;
    case SizeTextRole: return row.analyzed ? Text::fromUtf8(Fmt::bytes(row.totalSize())) : QString();
    case Qt::AccessibleTextRole: {
        QString text = Text::fromName(row.app.name);
        const QString second = Text::fromUtf8(AppsTexts::secondLine(row).text);
        if (!second.isEmpty()) text += ", " + second;
        text += row.analyzed ? ", " + Text::fromUtf8(Fmt::bytes(row.totalSize())) : QStringLiteral(", measuring");
        return text;
    }
    default: return {};
    }
}

void AppRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    // The selection and hover background only; the rest is painted here.
    opt.text.clear();
    opt.icon = QIcon();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& pal = option.palette;
    const QColor primary = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
    const QColor secondary = selected ? primary : Colors::secondary(pal);
    const QRect r = option.rect.adjusted(8, 0, -8, 0);

    const QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    const QRect iconRect(r.left(), r.center().y() - iconSize / 2 + 1, iconSize, iconSize);
    icon.paint(painter, iconRect);

    const QRect sizeRect(r.right() - sizeSlot + 1, r.top(), sizeSlot, r.height());
    if (index.data(AppListModel::AnalyzedRole).toBool()) {
        const QFont font = Fonts::callout();
        painter->setPen(primary);
        TabularText::draw(*painter, sizeRect, Qt::AlignRight | Qt::AlignVCenter,
                          index.data(AppListModel::SizeTextRole).toString(), font);
    } else {
        const QRectF arc(sizeRect.right() - spinnerSize, sizeRect.center().y() - spinnerSize / 2.0 + 1, spinnerSize,
                         spinnerSize);
        QPen pen(secondary, 2);
        pen.setCapStyle(Qt::RoundCap);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(pen);
        painter->drawArc(arc.adjusted(1, 1, -1, -1), -angle_ * 16, 270 * 16);
    }

    const int textLeft = iconRect.right() + 10;
    const int textWidth = sizeRect.left() - 8 - textLeft;
    const QFont nameFont = Fonts::body();
    const QFont lineFont = Fonts::caption();
    const QFontMetrics nameMetrics(nameFont), lineMetrics(lineFont);
    const QString second = index.data(AppListModel::SecondLineRole).toString();
    const int block = nameMetrics.height() + (second.isEmpty() ? 0 : lineMetrics.height() + 1);
    int y = r.center().y() - block / 2 + 1;
    painter->setFont(nameFont);
    painter->setPen(primary);
    painter->drawText(QRect(textLeft, y, textWidth, nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                      nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textWidth));
    if (!second.isEmpty()) {
        y += nameMetrics.height() + 1;
        const bool outside = index.data(AppListModel::OutsideRole).toBool();
        painter->setFont(lineFont);
        painter->setPen(outside && !selected ? Colors::orange(pal) : secondary);
        painter->drawText(QRect(textLeft, y, textWidth, lineMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                          lineMetrics.elidedText(second, outside ? Qt::ElideRight : Qt::ElideMiddle, textWidth));
    }
    painter->restore();
}

QSize AppRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const { return {200, rowHeight}; }

} // namespace vessora
