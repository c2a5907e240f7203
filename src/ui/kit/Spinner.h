#pragma once
// Painted circular progress, which Qt does not have: Spinner (indeterminate,
// a rotating arc) and ProgressRing (a ring filled to a fraction). The
// spinner's timer runs only while it is visible; setFrozen stops every
// spinner at one angle so screenshots are reproducible.

#include <QTimer>
#include <QWidget>

class QAbstractItemView;
class QPainter;

namespace vessora {

class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(int diameter = 16, QWidget* parent = nullptr);
    bool isSpinning() const { return timer_.isActive(); }
    static void setFrozen(bool frozen);
    static bool isFrozen();
    // The same arc painted into `rect`, for delegates: its angle follows the
    // clock, so every painted spinner turns together.
    static void paint(QPainter& painter, const QRectF& rect, const QPalette& palette);
    QSize sizeHint() const override { return {diameter_, diameter_}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int diameter_;
    int angle_ = 0;
    QTimer timer_;
};

// Repaints an item view while some of its rows show a painted spinner.
class SpinnerTicker : public QObject {
    Q_OBJECT
public:
    explicit SpinnerTicker(QAbstractItemView* view);
    void setActive(bool active);
    bool isActive() const { return timer_.isActive(); }

private:
    QAbstractItemView* view_;
    QTimer timer_;
};

class ProgressRing : public QWidget {
    Q_OBJECT
public:
    explicit ProgressRing(int diameter = 16, QWidget* parent = nullptr);
    // 0 to 1; values outside are clamped.
    void setValue(double value);
    double value() const { return value_; }
    QSize sizeHint() const override { return {diameter_, diameter_}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int diameter_;
    double value_ = 0;
};

} // namespace vessora
