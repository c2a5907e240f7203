#include "ui/browse/NodeRowDelegate.h"

#include "ui/browse/OutlineModel.h"
#include "ui/browse/SizeText.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/ShareBar.h"
#include "ui/kit/Spinner.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/TabularText.h"
#include "ui/kit/Text.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace vessora {

namespace {
constexpr int kIcon = 16, kBarWidth = 90, kBarHeight = 6, kSizeWidth = 84, kSpacing = 8, kBadge = 12;

const OutlineModel* outlineOf(const QModelIndex& index) { return qobject_cast<const OutlineModel*>(index.model()); }

QString unreadableHelp() {
    return QStringLiteral("Not readable with your permissions. Run as administrator to measure it.");
}
} // namespace

double NodeRowDelegate::fraction(int64_t size, int64_t parentSize) {
    return parentSize < 1 ? 0.0 : std::min(1.0, double(size) / double(parentSize));
}

QString NodeRowDelegate::symbol(const FSNode& node) {
    if (node.isAggregate) return QStringLiteral("ellipsis.circle");
    if (node.isDirectory()) return QStringLiteral("folder.fill");
    const std::string name = node.name();
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".app") == 0) return QStringLiteral("app.fill");
    return QStringLiteral("doc.fill");
}

NodeRowDelegate::Layout NodeRowDelegate::layout(const QRect& row, const FSNode& node, const QFont& font) {
    Layout l;
    const QRect inner = row.adjusted(4, 0, -6, 0);
    l.icon = QRect(inner.left(), inner.center().y() - kIcon / 2 + 1, kIcon, kIcon);
    l.size = QRect(inner.right() - kSizeWidth + 1, inner.top(), kSizeWidth, inner.height());
    l.bar = QRect(l.size.left() - kSpacing - kBarWidth, inner.center().y() - kBarHeight / 2 + 1, kBarWidth, kBarHeight);
    const int nameLeft = l.icon.right() + 1 + 6;
    int badgesRight = l.bar.left() - kSpacing;
    std::vector<Badge> badges;
    if (node.unreadable) badges.push_back({QStringLiteral("lock.fill"), {}, unreadableHelp()});
    if (node.isNotDescended) {
        if (node.isCloudProvider)
            badges.push_back({QStringLiteral("icloud.slash"),
                              {},
                              QStringLiteral("Skipped. A cloud provider owns this folder, and measuring it would make "
                                             "the provider pull down the whole remote tree. Files that are not "
                                             "downloaded take no space here anyway.")});
        else
            badges.push_back({QStringLiteral("minus.circle"),
                              {},
                              QStringLiteral("Skipped. System-managed location, not counted toward this scan.")});
    }
    // Badges follow the name directly; the name gives way to them.
    const int badgesWidth = int(badges.size()) * (kBadge + 4);
    const int nameRoom = std::max(0, badgesRight - nameLeft - badgesWidth);
    const int nameWidth = std::min(nameRoom, QFontMetrics(font).horizontalAdvance(Text::fromPath(node.name())) + 1);
    l.name = QRect(nameLeft, inner.top(), nameWidth, inner.height());
    int x = l.name.right() + 1 + 4;
    for (Badge& badge : badges) {
        badge.rect = QRect(x, inner.center().y() - kBadge / 2 + 1, kBadge, kBadge);
        x += kBadge + 4;
    }
    l.badges = std::move(badges);
    return l;
}

void NodeRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const OutlineModel* outline = outlineOf(index);
    const FSNode* node = outline ? outline->node(index) : nullptr;
    if (!node) return QStyledItemDelegate::paint(painter, option, index);

    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const QPalette& pal = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    const QColor primary = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text);
    const QColor secondary = selected
                                 ? Colors::readable(Colors::withAlpha(primary, 0.75), pal.color(QPalette::Highlight))
                                 : Colors::secondary(pal);
    const QFont font = option.font;
    const Layout l = layout(option.rect, *node, font);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    // A node being removed turns its icon into a spinner and dims the rest;
    // a folder being scanned again only spins.
    const OutlineModel::Busy busy = outline->busy(*node);
    if (busy != OutlineModel::idle) {
        Spinner::paint(*painter, QRectF(l.icon), pal);
    } else {
        painter->setOpacity(node->isAggregate ? 1.0 : 0.9);
        painter->drawPixmap(l.icon, Symbols::pixmap(symbol(*node), kIcon, secondary, dpr));
    }
    // Gone since the earlier scan (compare mode): shown, but faded.
    painter->setOpacity(busy == OutlineModel::removing ? 0.45 : outline->isGone(*node) ? 0.6 : 1.0);

    painter->setFont(font);
    painter->setPen(node->isAggregate ? secondary : primary);
    const QString name = QFontMetrics(font).elidedText(Text::fromPath(node->name()), Qt::ElideRight, l.name.width());
    painter->drawText(l.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip | Qt::TextSingleLine, name);

    for (const Badge& badge : l.badges) {
        const QColor tint = badge.symbol == QLatin1String("lock.fill") ? Colors::orange(pal) : secondary;
        painter->drawPixmap(badge.rect, Symbols::pixmap(badge.symbol, kBadge, tint, dpr));
    }

    ShareBar::paint(*painter, l.bar, fraction(node->size, outline->parentSize(index)),
                    Colors::withAlpha(Colors::accent(pal), 0.75), Colors::withAlpha(secondary, 0.12));

    painter->setPen(primary);
    TabularText::draw(*painter, l.size, Qt::AlignRight | Qt::AlignVCenter, sizeText(node->size), Fonts::callout());
    painter->restore();
}

QSize NodeRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    // Fixed: the outline uses uniform row heights and never measures rows.
    return QSize(300, std::max(24, QFontMetrics(option.font).height() + 8));
}

bool NodeRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index) {
    const OutlineModel* outline = outlineOf(index);
    const FSNode* node = outline ? outline->node(index) : nullptr;
    if (node && event->type() == QEvent::ToolTip) {
        for (const Badge& badge : layout(option.rect, *node, option.font).badges)
            if (badge.rect.contains(event->pos())) {
                QToolTip::showText(event->globalPos(), badge.help, view, badge.rect);
                return true;
            }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace vessora
