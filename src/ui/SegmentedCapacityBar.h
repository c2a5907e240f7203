#pragma once
// The capacity bar: one coloured segment per category, then the space the
// file system reserves for the administrator (hatched), then the free part,
// 1 pixel apart, clipped to a capsule of radius 5. Segment widths come from a
// pure function; the free part is whatever width is left.

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

namespace vessora {

struct CapacitySegment {
    std::string id;
    QString label;
    QColor color;
    int64_t bytes = 0;
    friend bool operator==(const CapacitySegment&, const CapacitySegment&) = default;
};

// Widths for a bar `width` wide: W × b ÷ T each, any positive width below
// `minSliver` raised to it, and everything scaled down when the sum exceeds
// the room left after the 1-pixel gaps. The room is never negative: with more
// segments than pixels every segment gets 0.
std::vector<double> capacitySegmentWidths(double width, const std::vector<int64_t>& bytes, int64_t total,
                                          double minSliver);

class SegmentedCapacityBar : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedCapacityBar(QWidget* parent = nullptr);
    // `reservedBytes` is the administrator's reserve: used, but nobody's data.
    void setData(std::vector<CapacitySegment> segments, int64_t freeBytes, int64_t total, int64_t reservedBytes = 0);
    const std::vector<CapacitySegment>& segments() const { return segments_; }
    int64_t reservedBytes() const { return reservedBytes_; }
    // The painted rectangles: the segments, the reserve (empty when there is
    // none), then the free part.
    std::vector<QRectF> segmentRects() const;
    QRectF reserveRect() const;
    QRectF freeRect() const;
    static QString reserveLabel() { return QStringLiteral("Reserved for the administrator"); }
    QSize sizeHint() const override { return {300, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::vector<CapacitySegment> segments_;
    int64_t freeBytes_ = 0;
    int64_t total_ = 0;
    int64_t reservedBytes_ = 0;
    // Every width, the reserve's last when there is one.
    std::vector<QRectF> allRects() const;
};

} // namespace vessora
