#pragma once
// A share of a whole as a capsule: a track and a fill at least 2 pixels wide
// (so a tiny share is still seen), for rows in lists and delegates.

#include <QColor>
#include <QRectF>

class QPainter;

namespace vessora::ShareBar {

// `fraction` is clamped to [0, 1]; a NaN or a whole of 0 counts as 0.
void paint(QPainter& painter, const QRectF& rect, double fraction, const QColor& fill, const QColor& track);
// The fill's width for a bar `width` wide.
qreal fillWidth(qreal width, double fraction);

} // namespace vessora::ShareBar
