#include "ui/kit/SecondaryLabel.h"

#include "ui/kit/Colors.h"

#include <QApplication>
#include <QEvent>

namespace vessora {

SecondaryLabel::SecondaryLabel(const QString& text, QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setText(text);
    applyColor();
}

void SecondaryLabel::setTone(Tone tone) {
    tone_ = tone;
    applyColor();
}

void SecondaryLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) && !applying_) applyColor();
}

void SecondaryLabel::applyColor() {
    applying_ = true;
    const QPalette base = parentWidget() ? parentWidget()->palette() : QApplication::palette();
    QColor color;
    switch (tone_) {
    case Tone::primary: color = Colors::primary(base); break;
    case Tone::secondary: color = Colors::secondary(base); break;
    case Tone::tertiary: color = Colors::tertiary(base); break;
    case Tone::green: color = Colors::green(base); break;
    case Tone::orange: color = Colors::orange(base); break;
    case Tone::red: color = Colors::red(base); break;
    case Tone::accent: color = Colors::accent(base); break;
    }
    QPalette p = base;
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::Text, color);
    setPalette(p);
    applying_ = false;
}

} // namespace vessora
