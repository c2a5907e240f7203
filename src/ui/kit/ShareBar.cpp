#include "ui/kit/ShareBar.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vessora::ShareBar {

qreal fillWidth(qreal width, double fraction) {
    if (!std::isfinite(fraction)) fraction = 0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    return std::min(width, std::max(2.0, width * fraction));
}

void paint(QPainter& painter, const QRectF& rect, double fraction, const QColor& fill, const QColor& track) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal radius = rect.height() / 2;
    painter.setBrush(track);
    painter.drawRoundedRect(rect, radius, radius);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect.left(), rect.top(), fillWidth(rect.width(), fraction), rect.height()), radius,
                            radius);
    painter.restore();
}

} // namespace vessora::ShareBar
