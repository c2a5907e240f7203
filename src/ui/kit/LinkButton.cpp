#include "ui/kit/LinkButton.h"

#include "ui/kit/Colors.h"
#include "ui/kit/Symbols.h"

#include <QEvent>

namespace vessora {

LinkButton::LinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    applyColors();
}

void LinkButton::setSymbol(const QString& symbol) {
    symbol_ = symbol;
    applyColors();
}

void LinkButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !applying_) applyColors();
}

void LinkButton::applyColors() {
    // Setting the palette raises PaletteChange again; the flag stops the loop.
    applying_ = true;
    QPalette p = palette();
    const QColor link = Colors::link(p);
    p.setColor(QPalette::ButtonText, link);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, Colors::tertiary(p));
    setPalette(p);
    if (!symbol_.isEmpty()) {
        const int size = fontMetrics().height();
        setIcon(QIcon(Symbols::pixmap(symbol_, size, link, devicePixelRatioF())));
        setIconSize(QSize(size, size));
    }
    applying_ = false;
}

} // namespace vessora
