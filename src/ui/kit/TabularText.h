#pragma once
// Numbers whose digits line up. Qt 6.4 cannot ask a font for tabular digits,
// so when a font's digits differ in width each digit is centred in a cell as
// wide as the widest one; with equal digits (DejaVu Sans) it is plain text.

#include <QFont>
#include <QLabel>
#include <QRectF>
#include <QString>

class QPainter;

namespace vessora::TabularText {

// The width `text` takes when drawn by draw() in `font`.
qreal width(const QFont& font, const QString& text);
// Draws `text` in the painter's current pen, aligned within `rect`
// (Qt::AlignLeft/Right/HCenter with AlignVCenter).
void draw(QPainter& painter, const QRectF& rect, Qt::Alignment alignment, const QString& text, const QFont& font);

} // namespace vessora::TabularText

namespace vessora {

// A one-line label for sizes and counts: tabular digits, right-aligned by
// default, plain text, in a given role colour (secondary unless told).
class NumberLabel : public QWidget {
    Q_OBJECT
public:
    explicit NumberLabel(QWidget* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setAlignment(Qt::Alignment alignment);
    // Secondary style when true (the default), primary text colour otherwise.
    void setSecondary(bool secondary);
    // A fixed width for the number's slot (84 in rows), so columns line up.
    void setSlotWidth(int width);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Qt::Alignment alignment_ = Qt::AlignRight | Qt::AlignVCenter;
    bool secondary_ = true;
    int slotWidth_ = 0;
};

} // namespace vessora
