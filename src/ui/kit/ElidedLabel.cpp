#include "ui/kit/ElidedLabel.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Text.h"

#include <QPainter>

#include <algorithm>

namespace vessora {

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, QWidget* parent) : QWidget(parent), mode_(mode) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

ElidedLabel::ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent) : ElidedLabel(mode, parent) {
    setText(text);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    updateToolTip();
    update();
}

void ElidedLabel::setElideMode(Qt::TextElideMode mode) {
    mode_ = mode;
    updateToolTip();
    update();
}

void ElidedLabel::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void ElidedLabel::setSecondary(bool secondary) {
    secondary_ = secondary;
    update();
}

QString ElidedLabel::shownText() const { return fontMetrics().elidedText(text_, mode_, width()); }

namespace {
// Tall enough for the lowest mark of the font: at small sizes an underscore
// sits below the font's descent and a line of exactly height() cuts it off.
int lineHeight(const QFontMetrics& metrics) {
    return std::max(metrics.height(), metrics.ascent() + metrics.boundingRect(QLatin1Char('_')).bottom() + 1);
}
} // namespace

QSize ElidedLabel::sizeHint() const { return {fontMetrics().horizontalAdvance(text_) + 2, lineHeight(fontMetrics())}; }

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 3, lineHeight(fontMetrics())};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(secondary_ ? Colors::secondary(palette()) : Colors::primary(palette()));
    // drawText with a plain QString never interprets markup.
    painter.drawText(rect(), int(alignment_) | Qt::TextDontClip, shownText());
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateToolTip();
}

void ElidedLabel::updateToolTip() { setToolTip(shownText() != text_ ? Text::toolTip(text_) : QString()); }

} // namespace vessora
