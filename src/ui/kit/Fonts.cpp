#include "ui/kit/Fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>

#include <algorithm>

namespace vessora::Fonts {

namespace {

double baseSize() {
    const double size = QApplication::font().pointSizeF();
    return size > 0 ? size : 10.0;
}

// Some platforms report their ordinary font as the smallest readable one; a
// floor at or above the base size would make captions larger than body text.
double smallestReadable() {
    const double size = QFontDatabase::systemFont(QFontDatabase::SmallestReadableFont).pointSizeF();
    return size > 0 && size < baseSize() ? size : 0;
}

QFont scaled(double factor, double floor = 0) {
    QFont f = QApplication::font();
    f.setPointSizeF(std::max(baseSize() * factor, floor));
    return f;
}

} // namespace

QFont font(Role role) {
    switch (role) {
    case Role::largeTitle: {
        QFont f = scaled(2.0);
        f.setWeight(QFont::DemiBold);
        return f;
    }
    case Role::title: return scaled(1.7);
    case Role::title3: return scaled(1.15);
    case Role::headline: {
        QFont f = scaled(1.0);
        f.setWeight(QFont::DemiBold);
        return f;
    }
    case Role::body: return scaled(1.0);
    case Role::callout: return scaled(0.92);
    case Role::caption: return scaled(0.85, smallestReadable());
    case Role::caption2: return scaled(0.77, std::max(smallestReadable(), 7.0));
    case Role::monospaced: {
        QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setPointSizeF(font(Role::caption).pointSizeF());
        return f;
    }
    }
    return QApplication::font();
}

QFont font(Role role, QFont::Weight weight) {
    QFont f = font(role);
    f.setWeight(weight);
    return f;
}

bool hasTabularDigits(const QFont& font) {
    QFontMetricsF metrics(font);
    double first = metrics.horizontalAdvance(QLatin1Char('0'));
    for (char c = '1'; c <= '9'; ++c)
        if (std::abs(metrics.horizontalAdvance(QLatin1Char(c)) - first) > 0.01) return false;
    return true;
}

} // namespace vessora::Fonts
