#include "ui/kit/Style.h"

#include "ui/kit/Colors.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

namespace vessora {

Style::Style() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

QColor Style::indicatorFrame(const QPalette& palette, const QColor& field) {
    // Graphical objects need 3 to 1 against what is next to them.
    return Colors::readable(Colors::withAlpha(palette.color(QPalette::WindowText), 0.45), field, 3.0);
}

void Style::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                          const QWidget* widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool box = element == PE_IndicatorCheckBox, radio = element == PE_IndicatorRadioButton;
    if (!(box || radio) || !(option->state & State_Enabled)) return;
    // Fusion's focus frame is drawn in the highlight colour: keep it.
    if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(indicatorFrame(option->palette, option->palette.color(QPalette::Base)), 1));
    // The same outline Fusion draws, in a colour that can be seen.
    if (box) {
        painter->translate(0.5, 0.5);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    } else {
        painter->drawEllipse(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5));
    }
    painter->restore();
}

} // namespace vessora
