#include "ui/kit/ProminentButton.h"

#include "ui/kit/Colors.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace vessora {

ProminentButton::ProminentButton(const QString& text, Kind kind, QWidget* parent)
    : QPushButton(text, parent), kind_(kind) {
    setDefault(false);
    applyColors();
}

void ProminentButton::setKind(Kind kind) {
    kind_ = kind;
    applyColors();
}

void ProminentButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !applying_) applyColors();
}

void ProminentButton::applyColors() {
    applying_ = true;
    // Start from the application's palette so a colour we set earlier is not
    // taken for the theme's.
    QPalette p = parentWidget() ? parentWidget()->palette() : QApplication::palette();
    // The fill is darkened where white text would not read on it.
    const QColor tone = kind_ == Kind::accent ? Colors::accent(p) : Colors::red(p);
    const QColor fill = Colors::readable(tone, Qt::white);
    // The plain button face, taken before the fill replaces it.
    const QColor face = Colors::buttonFace(p);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Button, fill);
        p.setColor(group, QPalette::ButtonText, Qt::white);
    }
    // Disabled, it looks like any disabled button, with text that can still be read.
    p.setColor(QPalette::Disabled, QPalette::Button, face);
    p.setColor(QPalette::Disabled, QPalette::ButtonText,
               Colors::readable(p.color(QPalette::Disabled, QPalette::ButtonText), face));
    setPalette(p);
    applying_ = false;
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& p = palette();
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    QColor fill = p.color(group, QPalette::Button);
    if (isDown()) fill = Colors::isDark(p) ? fill.lighter(115) : fill.darker(115);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    painter.setPen(isEnabled() ? QPen(Qt::NoPen) : QPen(Colors::separator(p, 0.3), 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(r, 4, 4);
    if (hasFocus()) {
        // A ring inside the fill, in the text's colour, so it shows on any fill.
        painter.setPen(QPen(Colors::withAlpha(p.color(group, QPalette::ButtonText), 0.8), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(r.adjusted(2, 2, -2, -2), 3, 3);
    }
    painter.setPen(p.color(group, QPalette::ButtonText));
    painter.setFont(font());
    style()->drawItemText(&painter, rect(), Qt::AlignCenter | Qt::TextShowMnemonic, p, isEnabled(), text(),
                          QPalette::NoRole);
}

} // namespace vessora
