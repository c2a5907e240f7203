#pragma once
// A one-line plain-text label that elides instead of growing: its minimum
// size is tiny, so a long path can never widen the window. The full text is
// the tooltip whenever something is cut.

#include <QWidget>

namespace vessora {

class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);
    ElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setElideMode(Qt::TextElideMode mode);
    void setAlignment(Qt::Alignment alignment);
    // Secondary colour (paths, captions) instead of the primary text colour.
    void setSecondary(bool secondary);
    // The text as shown now (with the ellipsis when cut).
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
    QString text_;
    Qt::TextElideMode mode_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    bool secondary_ = false;
};

} // namespace vessora
