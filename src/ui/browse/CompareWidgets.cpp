#include "ui/browse/CompareWidgets.h"

#include "ui/browse/ChangeText.h"
#include "ui/browse/OutlineModel.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace vessora {

void ChangeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    opt.text.clear();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const QVariant change = index.data(OutlineModel::ChangeRole);
    if (!change.isValid()) return;
    const bool selected = option.state & QStyle::State_Selected;
    const auto kind = ScanComparison::Change(change.toInt());
    painter->save();
    painter->setFont(Fonts::callout());
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : ChangeText::textColor(kind, option.palette));
    const QRect text = option.rect.adjusted(6, 0, -8, 0);
    painter->drawText(text, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                      painter->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    painter->restore();
}

QSize ChangeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(160, std::max(24, QFontMetrics(option.font).height() + 8));
}

ChangeLegend::ChangeLegend(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("browse.changeLegend"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 0, 12, 6);
    row->setSpacing(12);
    using Change = ScanComparison::Change;
    for (Change change : {Change::grew, Change::shrank, Change::added, Change::same}) {
        const QColor fill = ChangeText::tileColor(change);
        const qreal dpr = devicePixelRatioF();
        QPixmap swatch(QSize(12, 12) * dpr);
        swatch.setDevicePixelRatio(dpr);
        swatch.fill(Qt::transparent);
        {
            QPainter painter(&swatch);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(fill);
            painter.drawRoundedRect(QRectF(0, 0, 12, 12), 3, 3);
        }
        auto* dot = new QLabel(this);
        dot->setPixmap(swatch);
        auto* text = new QLabel(ChangeText::label(change), this);
        text->setFont(Fonts::caption());
        text->setTextFormat(Qt::PlainText);
        row->addWidget(dot);
        row->addWidget(text);
    }
    row->addStretch(1);
    setAccessibleName(QStringLiteral("Treemap colours"));
    setAccessibleDescription(QStringLiteral("Orange: grew. Green: shrank. Purple: new. Grey: same."));
}

} // namespace vessora
