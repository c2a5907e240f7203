#include "ui/kit/ContrastCheck.h"

#include "ui/kit/Colors.h"

#include <QHash>
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QTextItem>
#include <QWidget>

#include <climits>
#include <cmath>

namespace vessora::ContrastCheck {

namespace {

// Notes text runs and ignores everything else.
class RecordingEngine : public QPaintEngine {
public:
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    std::vector<TextRun> runs;

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    Type type() const override { return QPaintEngine::User; }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPath(const QPainterPath&) override {}

    void updateState(const QPaintEngineState& state) override {
        const DirtyFlags dirty = state.state();
        if (dirty & DirtyPen) pen_ = state.pen();
        if (dirty & DirtyTransform) transform_ = state.transform();
        if (dirty & DirtyOpacity) opacity_ = state.opacity();
        if (dirty & (DirtyClipEnabled | DirtyClipRegion | DirtyClipPath)) {
            clipped_ = state.isClipEnabled() && state.clipOperation() != Qt::NoClip;
            if (clipped_)
                clip_ =
                    dirty & DirtyClipPath ? state.clipPath().boundingRect() : QRectF(state.clipRegion().boundingRect());
            // The clip is in the coordinates in force when it was set.
            if (clipped_) clip_ = transform_.mapRect(clip_);
        }
    }

    void drawTextItem(const QPointF& at, const QTextItem& item) override {
        if (pen_.style() == Qt::NoPen) return;
        const QRectF local(at.x(), at.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        QRectF box = transform_.mapRect(local);
        if (clipped_) box = box.intersected(clip_);
        if (box.width() < 1 || box.height() < 1) return;
        QColor color = pen_.color();
        color.setAlphaF(float(color.alphaF() * opacity_));
        runs.push_back({item.text(), box, color, {}, 0});
    }

private:
    QPen pen_;
    QTransform transform_;
    qreal opacity_ = 1.0;
    bool clipped_ = false;
    QRectF clip_;
};

class RecordingDevice : public QPaintDevice {
public:
    explicit RecordingDevice(QSize size) : size_(size) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    RecordingEngine& engine() { return engine_; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth: return size_.width();
        case PdmHeight: return size_.height();
        case PdmWidthMM: return size_.width() * 254 / 960;
        case PdmHeightMM: return size_.height() * 254 / 960;
        case PdmNumColors: return INT_MAX;
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return int(QPaintDevice::devicePixelRatioFScale());
        }
        return 0;
    }

private:
    QSize size_;
    mutable RecordingEngine engine_;
};

// The most common colour in `rect` of `image` (opaque pixels).
QColor dominant(const QImage& image, const QRect& rect) {
    QHash<QRgb, int> counts;
    const QRect area = rect.intersected(image.rect());
    QRgb best = 0;
    int bestCount = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            const int n = ++counts[line[x] | 0xFF000000u];
            if (n > bestCount) best = line[x] | 0xFF000000u, bestCount = n;
        }
    }
    return bestCount < 0 ? QColor() : QColor::fromRgb(best);
}

} // namespace

std::vector<TextRun> textRuns(QWidget* root) {
    const QSize size = root->size();
    if (size.isEmpty()) return {};
    QImage image(size, QImage::Format_RGB32);
    image.setDevicePixelRatio(1);
    image.fill(Colors::background(root->palette()));
    root->render(&image);
    RecordingDevice device(size);
    root->render(&device);
    std::vector<TextRun> runs = std::move(device.engine().runs);
    for (TextRun& run : runs) {
        run.background = dominant(image, run.box.toAlignedRect());
        if (!run.background.isValid()) continue;
        run.ratio = Colors::contrast(Colors::over(run.color, run.background), run.background);
    }
    return runs;
}

std::vector<TextRun> problems(QWidget* root, double minimum) {
    if (minimum < 0) minimum = Colors::minimumContrast;
    std::vector<TextRun> found;
    for (TextRun& run : textRuns(root))
        // A run the size of a dot (a lone space, a clipped sliver) has no background to speak of.
        if (run.background.isValid() && run.box.width() >= 3 && !run.text.trimmed().isEmpty() && run.ratio < minimum)
            found.push_back(std::move(run));
    return found;
}

QString describe(const TextRun& run) {
    return QStringLiteral("'%1' %2:1 (%3 on %4) at %5,%6")
        .arg(run.text)
        .arg(run.ratio, 0, 'f', 2)
        .arg(run.color.name(QColor::HexArgb), run.background.name())
        .arg(int(run.box.x()))
        .arg(int(run.box.y()));
}

} // namespace vessora::ContrastCheck
