#pragma once
// Checks that every text the window draws can be read: each run of text is
// compared with what it is drawn on, as rendered. The widget is painted twice,
// into an image and through a recording paint engine that notes each text run
// with its colour (pen and opacity) and where it lands; the run's background
// is the most common colour of the image under the run's box, which the
// glyphs themselves cover only in part. Delegates, styles and our own widgets
// are all seen the same way. Used by the tests and by --screenshot.

#include <QColor>
#include <QRectF>
#include <QString>

#include <vector>

class QWidget;

namespace vessora::ContrastCheck {

struct TextRun {
    QString text;      // may be empty for runs drawn from glyphs alone
    QRectF box;        // in the widget's logical coordinates
    QColor color;      // as drawn, with its alpha (pen alpha times opacity)
    QColor background; // the most common colour under the box
    double ratio = 0;  // contrast of the composited text colour with the background
};

// Every text run `root` paints in its current state.
std::vector<TextRun> textRuns(QWidget* root);
// The runs under `minimum` (Colors::minimumContrast unless given).
std::vector<TextRun> problems(QWidget* root, double minimum = -1);
// "'Remove Selected' 2.31:1 (#a0a0a0 on #f5f5f5) at 900,600": one line per run.
QString describe(const TextRun& run);

} // namespace vessora::ContrastCheck
