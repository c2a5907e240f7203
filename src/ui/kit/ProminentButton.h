#pragma once
// The one emphasised button of a screen or sheet: filled with the accent
// colour, or red for destructive actions, with white text. Done through the
// palette (not style sheets, which would drop the style's focus and
// accessibility drawing) and re-applied when the palette changes.

#include <QPushButton>

namespace vessora {

class ProminentButton : public QPushButton {
    Q_OBJECT
public:
    enum class Kind { accent, destructive };
    explicit ProminentButton(const QString& text = {}, Kind kind = Kind::accent, QWidget* parent = nullptr);
    void setKind(Kind kind);
    Kind kind() const { return kind_; }

protected:
    void changeEvent(QEvent* event) override;
    // Drawn flat in exactly its colours: the style would lighten the fill
    // under the white text.
    void paintEvent(QPaintEvent* event) override;

private:
    void applyColors();
    Kind kind_;
    bool applying_ = false;
};

} // namespace vessora
