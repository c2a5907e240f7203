#pragma once
// Rounded containers painted on the control background: Card (a titled box
// with padding 18 and 12 between parts), Banner (a tinted note with a symbol
// and word-wrapped plain text), RiskBadge (a capsule naming a cleanup risk)
// and LegendDot (a colour square, a label and a value).

#include "platform/CleanupEntry.h"

#include <QFrame>

class QLabel;
class QPainter;
class QVBoxLayout;

namespace vessora {

class NumberLabel;

class Card : public QFrame {
    Q_OBJECT
public:
    explicit Card(const QString& title = {}, const QString& subtitle = {}, QWidget* parent = nullptr);
    void setTitle(const QString& title);
    void setSubtitle(const QString& subtitle); // empty hides it
    QString title() const;
    QString subtitle() const;
    // Where the card's content goes, below the header.
    QVBoxLayout* contentLayout() const { return content_; }
    // Corner radius (12) and border alpha (0.12; 0 for none).
    void setRadius(qreal radius);
    void setBorderAlpha(qreal alpha);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QLabel* subtitle_;
    QVBoxLayout* content_;
    qreal radius_ = 12;
    qreal borderAlpha_ = 0.12;
};

class Banner : public QFrame {
    Q_OBJECT
public:
    enum class Tone { info, warning, danger, success };
    Banner(const QString& symbol, const QString& text, Tone tone = Tone::info, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const;
    void setTone(Tone tone);
    void setSymbol(const QString& symbol);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QColor tint() const;
    void updateIcon();
    QLabel* icon_;
    QLabel* label_;
    QString symbol_;
    Tone tone_;
};

class RiskBadge : public QWidget {
    Q_OBJECT
public:
    explicit RiskBadge(CleanupRisk risk, QWidget* parent = nullptr);
    void setRisk(CleanupRisk risk);
    CleanupRisk risk() const { return risk_; }
    // "Safe", "Review", "Careful".
    static QString text(CleanupRisk risk);
    // Green, orange, red for the palette.
    static QColor color(CleanupRisk risk, const QPalette& palette);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CleanupRisk risk_;
};

class LegendDot : public QWidget {
    Q_OBJECT
public:
    LegendDot(const QColor& color, const QString& label, const QString& value, QWidget* parent = nullptr);
    void setColor(const QColor& color);
    void setValue(const QString& value);
    // Hatched instead of filled: space that is neither a category's nor free.
    void setHatched(bool hatched);
    bool isHatched() const { return hatched_; }
    // The neutral hatch of such space, shared with the capacity bar.
    static void paintHatch(QPainter& painter, const QRectF& rect, const QPalette& palette);
    QColor color() const { return color_; }
    QString label() const;
    QString value() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    bool hatched_ = false;
    QLabel* label_;
    NumberLabel* value_;
};

} // namespace vessora
