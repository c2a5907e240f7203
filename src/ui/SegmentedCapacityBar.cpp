#include "ui/SegmentedCapacityBar.h"

#include "support/Fmt.h"
#include "ui/kit/Card.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Text.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <numeric>

namespace vessora {

std::vector<double> capacitySegmentWidths(double width, const std::vector<int64_t>& bytes, int64_t total,
                                          double minSliver) {
    std::vector<double> widths(bytes.size(), 0.0);
    if (total < 1 || !(width > 0)) return widths;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const double raw = width * double(bytes[i]) / double(total);
        widths[i] = raw <= 0 ? 0 : raw <= minSliver ? minSliver : raw;
    }
    const double sum = std::accumulate(widths.begin(), widths.end(), 0.0);
    const double gaps = bytes.empty() ? 0 : double(bytes.size() - 1);
    const double room = std::max(0.0, width - gaps);
    if (sum > room && sum > 0) {
        for (double& w : widths) w *= room / sum;
    }
    return widths;
}

SegmentedCapacityBar::SegmentedCapacityBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("overview.capacityBar"));
    setFixedHeight(14);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void SegmentedCapacityBar::setData(std::vector<CapacitySegment> segments, int64_t freeBytes, int64_t total,
                                   int64_t reservedBytes) {
    segments_ = std::move(segments);
    freeBytes_ = freeBytes;
    total_ = total;
    reservedBytes_ = std::max<int64_t>(0, reservedBytes);
    QStringList parts;
    for (const auto& segment : segments_)
        parts << segment.label + QStringLiteral(" ") + Text::fromUtf8(Fmt::bytes(segment.bytes));
    if (reservedBytes_ >= 1) parts << reserveLabel() + QStringLiteral(" ") + Text::fromUtf8(Fmt::bytes(reservedBytes_));
    parts << QStringLiteral("Free ") + Text::fromUtf8(Fmt::bytes(freeBytes_));
    setAccessibleName(QStringLiteral("Disk usage"));
    setAccessibleDescription(parts.join(QStringLiteral(", ")));
    update();
}

std::vector<QRectF> SegmentedCapacityBar::allRects() const {
    std::vector<int64_t> bytes;
    for (const auto& segment : segments_) bytes.push_back(segment.bytes);
    // The reserve is sized like a segment, so a small one still shows.
    if (reservedBytes_ >= 1) bytes.push_back(reservedBytes_);
    const auto widths = capacitySegmentWidths(width(), bytes, total_, 3);
    std::vector<QRectF> rects;
    double x = 0;
    for (double w : widths) {
        rects.emplace_back(x, 0, w, height());
        x += w + 1;
    }
    return rects;
}

std::vector<QRectF> SegmentedCapacityBar::segmentRects() const {
    std::vector<QRectF> rects = allRects();
    if (reservedBytes_ >= 1) rects.pop_back();
    return rects;
}

QRectF SegmentedCapacityBar::reserveRect() const {
    if (reservedBytes_ < 1) return {};
    return allRects().back();
}

QRectF SegmentedCapacityBar::freeRect() const {
    const auto rects = allRects();
    const double x = rects.empty() ? 0 : rects.back().right() + 1;
    return QRectF(x, 0, std::max(0.0, width() - x), height());
}

void SegmentedCapacityBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 5, 5);
    painter.setClipPath(clip);
    const auto rects = segmentRects();
    for (size_t i = 0; i < rects.size(); ++i)
        if (rects[i].width() > 0) painter.fillRect(rects[i], segments_[i].color);
    if (const QRectF reserve = reserveRect(); reserve.width() > 0) LegendDot::paintHatch(painter, reserve, palette());
    painter.fillRect(freeRect(), Colors::withAlpha(Colors::primary(palette()), 0.18));
}

bool SegmentedCapacityBar::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    auto* help = static_cast<QHelpEvent*>(event);
    const auto rects = segmentRects();
    for (size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].width() > 0 && rects[i].contains(help->pos())) {
            QToolTip::showText(help->globalPos(),
                               Text::toolTip(segments_[i].label + QStringLiteral(": ") +
                                             Text::fromUtf8(Fmt::bytes(segments_[i].bytes))),
                               this, rects[i].toAlignedRect());
            return true;
        }
    }
    if (const QRectF reserve = reserveRect(); reserve.width() > 0 && reserve.contains(help->pos())) {
        QToolTip::showText(help->globalPos(),
                           reserveLabel() + QStringLiteral(": ") + Text::fromUtf8(Fmt::bytes(reservedBytes_)), this,
                           reserve.toAlignedRect());
        return true;
    }
    const QRectF free = freeRect();
    if (free.contains(help->pos())) {
        QToolTip::showText(help->globalPos(), QStringLiteral("Free: ") + Text::fromUtf8(Fmt::bytes(freeBytes_)), this,
                           free.toAlignedRect());
        return true;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}

} // namespace vessora
