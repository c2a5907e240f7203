#include "ui/kit/ProminentButton.h"

#include "ui/kit/Colors.h"

#include <QApplication>
#include <QEvent>

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
    const QColor fill = kind_ == Kind::accent ? Colors::accent(p) : Colors::red(p);
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Button, fill);
        p.setColor(group, QPalette::ButtonText, Qt::white);
    }
    p.setColor(QPalette::Disabled, QPalette::Button, Colors::withAlpha(fill, 0.35));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 170));
    setPalette(p);
    applying_ = false;
}

} // namespace vessora
