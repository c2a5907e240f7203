#include "ui/kit/TabularText.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Fonts.h"

#include <QFontMetricsF>
#include <QPainter>

namespace vessora::TabularText {

namespace {
qreal digitCell(const QFontMetricsF& metrics) {
    qreal widest = 0;
    for (char c = '0'; c <= '9'; ++c) widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(c)));
    return widest;
}
} // namespace

qreal width(const QFont& font, const QString& text) {
    QFontMetricsF metrics(font);
    if (Fonts::hasTabularDigits(font)) return metrics.horizontalAdvance(text);
    const qreal cell = digitCell(metrics);
    qreal total = 0;
    for (QChar c : text) total += c.isDigit() ? cell : metrics.horizontalAdvance(c);
    return total;
}

void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text, const QFont& font) {
    painter.save();
    painter.setFont(font);
    if (Fonts::hasTabularDigits(font)) {
        painter.drawText(rect, int(alignment), text);
        painter.restore();
        return;
    }
    QFontMetricsF metrics(font);
    const qreal cell = digitCell(metrics);
    const qreal total = width(font, text);
    qreal x = rect.left();
    if (alignment & Qt::AlignRight)
        x = rect.right() - total;
    else if (alignment & Qt::AlignHCenter)
        x = rect.center().x() - total / 2;
    const qreal baseline = rect.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    for (QChar c : text) {
        const qreal advance = c.isDigit() ? cell : metrics.horizontalAdvance(c);
        const qreal offset = c.isDigit() ? (cell - metrics.horizontalAdvance(c)) / 2 : 0;
        painter.drawText(QPointF(x + offset, baseline), QString(c));
        x += advance;
    }
    painter.restore();
}

} // namespace vessora::TabularText

namespace vessora {

NumberLabel::NumberLabel(QWidget* parent) : QWidget(parent) {
    setFont(Fonts::callout());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void NumberLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void NumberLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void NumberLabel::setSecondary(bool secondary) {
    secondary_ = secondary;
    update();
}

void NumberLabel::setSlotWidth(int width) {
    slotWidth_ = width;
    updateGeometry();
}

QSize NumberLabel::sizeHint() const {
    const int w = std::max(slotWidth_, int(std::ceil(TabularText::width(font(), text_))) + 1);
    return {w, QFontMetrics(font()).height()};
}

QSize NumberLabel::minimumSizeHint() const { return sizeHint(); }

void NumberLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(secondary_ ? Colors::secondary(palette()) : Colors::primary(palette()));
    TabularText::draw(painter, rect(), alignment_, text_, font());
}

} // namespace vessora
