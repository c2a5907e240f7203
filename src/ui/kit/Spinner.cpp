#include "ui/kit/Spinner.h"

#include "ui/kit/Colors.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vessora {

namespace {
bool frozenSpinners = false;
}

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("In progress"));
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void Spinner::setFrozen(bool frozen) { frozenSpinners = frozen; }
bool Spinner::isFrozen() { return frozenSpinners; }

void Spinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!frozenSpinners) timer_.start();
}

void Spinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

namespace {
void paintArc(QPainter& painter, const QRectF& area, const QPalette& palette, int angle) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(area.width(), area.height()) - 2.0;
    const QRectF r(area.x() + (area.width() - side) / 2, area.y() + (area.height() - side) / 2, side, side);
    const qreal pen = std::max(1.5, side / 8);
    painter.setPen(QPen(Colors::separator(palette, 0.15), pen));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(r.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2));
    QPen arc(Colors::secondary(palette), pen);
    arc.setCapStyle(Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(r.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2), -angle * 16, 100 * 16);
    painter.restore();
}
} // namespace

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintArc(painter, QRectF(rect()), palette(), angle_);
}

void Spinner::paint(QPainter& painter, const QRectF& rect, const QPalette& palette) {
    // 30 degrees every 50 ms, as the widget turns.
    const int angle = frozenSpinners ? 0 : int(QDateTime::currentMSecsSinceEpoch() / 50 % 12) * 30;
    paintArc(painter, rect, palette, angle);
}

SpinnerTicker::SpinnerTicker(QAbstractItemView* view) : QObject(view), view_(view) {
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, [this] { view_->viewport()->update(); });
}

void SpinnerTicker::setActive(bool active) {
    if (active == timer_.isActive() && !active) return;
    if (active && !frozenSpinners) {
        if (!timer_.isActive()) timer_.start();
    } else {
        timer_.stop();
    }
    view_->viewport()->update();
}

ProgressRing::ProgressRing(int diameter, QWidget* parent) : QWidget(parent), diameter_(diameter) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Progress"));
}

void ProgressRing::setValue(double value) {
    value = std::clamp(std::isfinite(value) ? value : 0.0, 0.0, 1.0);
    if (value == value_) return;
    value_ = value;
    setAccessibleDescription(QStringLiteral("%1%").arg(int(std::lround(value_ * 100))));
    update();
}

void ProgressRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height()) - 2.0;
    const qreal pen = std::max(2.0, side / 7);
    const QRectF r =
        QRectF((width() - side) / 2, (height() - side) / 2, side, side).adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2);
    painter.setPen(QPen(Colors::separator(palette(), 0.15), pen));
    painter.drawEllipse(r);
    QPen arc(Colors::accent(palette()), pen);
    arc.setCapStyle(Qt::FlatCap);
    painter.setPen(arc);
    painter.drawArc(r, 90 * 16, -int(value_ * 360 * 16));
}

} // namespace vessora
