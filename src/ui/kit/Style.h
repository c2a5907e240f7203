#pragma once
// The window's style: Fusion, with check boxes and radio buttons whose empty
// frame stands out from the field behind it in both schemes (Fusion draws it
// in a shade of the window colour, which all but vanishes on a dark field).

#include <QProxyStyle>

namespace vessora {

class Style : public QProxyStyle {
    Q_OBJECT
public:
    // Fusion underneath; the application takes ownership when set.
    Style();
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;

    // The frame colour of an indicator on `field`: at least 3 to 1 against it.
    static QColor indicatorFrame(const QPalette& palette, const QColor& field);
};

} // namespace vessora
