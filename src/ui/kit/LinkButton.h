#pragma once
// A flat push button drawn in the palette's link colour: it looks like a link
// but keeps a button's focus, keyboard activation and accessibility.

#include <QPushButton>

namespace vessora {

class LinkButton : public QPushButton {
    Q_OBJECT
public:
    explicit LinkButton(const QString& text = {}, QWidget* parent = nullptr);
    // A symbol shown before the text, tinted in the link colour.
    void setSymbol(const QString& symbol);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColors();
    QString symbol_;
    bool applying_ = false;
};

} // namespace vessora
