#pragma once
// A plain-text QLabel in a role colour (secondary by default) that follows
// palette changes. Never interprets markup: texts made from file names are
// shown as they are.

#include <QLabel>

namespace vessora {

class SecondaryLabel : public QLabel {
    Q_OBJECT
public:
    enum class Tone { primary, secondary, tertiary, green, orange, red, accent };
    explicit SecondaryLabel(const QString& text = {}, QWidget* parent = nullptr);
    void setTone(Tone tone);
    Tone tone() const { return tone_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColor();
    Tone tone_ = Tone::secondary;
    bool applying_ = false;
};

} // namespace vessora
