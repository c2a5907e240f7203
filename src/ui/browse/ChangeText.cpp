#include "ui/browse/ChangeText.h"

#include "support/Fmt.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Text.h"

#include <cmath>

namespace vessora::ChangeText {

namespace {

// The engine writes an ASCII hyphen; on screen a minus sign.
QString typeset(const std::string& text) {
    QString out = Text::fromUtf8(text);
    if (out.startsWith(QLatin1Char('-'))) out[0] = QChar(0x2212);
    return out;
}

QString percentOf(const ScanComparison& c, const FSNode& node) {
    const int64_t before = c.earlierSize(node);
    if (before <= 0) return {};
    return typeset(ScanComparison::percentText(c.delta(node), before));
}

QString magnitude(int64_t bytes) { return Text::fromUtf8(Fmt::bytes(bytes < 0 ? -bytes : bytes)); }

} // namespace

QString delta(int64_t bytes) { return typeset(ScanComparison::deltaText(bytes)); }

QString column(const ScanComparison& c, const FSNode& node) {
    const int64_t d = c.delta(node);
    switch (c.change(node)) {
    case Change::added: return QStringLiteral("New, ") + delta(d);
    case Change::gone: return QStringLiteral("Gone, ") + delta(d);
    case Change::same: return QStringLiteral("No change");
    case Change::grew:
    case Change::shrank: {
        const QString percent = percentOf(c, node);
        return percent.isEmpty() ? delta(d) : delta(d) + QStringLiteral(" (") + percent + QLatin1Char(')');
    }
    }
    return {};
}

QString spoken(const ScanComparison& c, const FSNode& node) {
    const int64_t d = c.delta(node);
    QString percent = percentOf(c, node);
    if (!percent.isEmpty()) {
        percent.remove(QLatin1Char('+')).remove(QChar(0x2212)).remove(QLatin1Char('%'));
        percent = QStringLiteral(", ") + percent + QStringLiteral(" percent");
    }
    switch (c.change(node)) {
    case Change::added: return QStringLiteral("new, ") + magnitude(d);
    case Change::gone: return QStringLiteral("gone, was ") + magnitude(d);
    case Change::same: return QStringLiteral("no change");
    case Change::grew: return QStringLiteral("grew by ") + magnitude(d) + percent;
    case Change::shrank: return QStringLiteral("shrank by ") + magnitude(d) + percent;
    }
    return {};
}

QString label(Change change) {
    switch (change) {
    case Change::grew: return QStringLiteral("Grew");
    case Change::shrank: return QStringLiteral("Shrank");
    case Change::added: return QStringLiteral("New");
    case Change::gone: return QStringLiteral("Gone");
    case Change::same: break;
    }
    return QStringLiteral("Same");
}

QColor textColor(Change change, const QPalette& palette) {
    switch (change) {
    case Change::grew: return Colors::orange(palette);
    case Change::added: return Colors::isDark(palette) ? QColor(0xD8, 0xB4, 0xFE) : QColor(0x7E, 0x22, 0xCE);
    case Change::shrank:
    case Change::gone: return Colors::green(palette);
    case Change::same: break;
    }
    // Quieter than the name beside it, but not as faint as the secondary
    // tone, which would read below 4.5:1.
    const QColor text = Colors::primary(palette), base = Colors::background(palette);
    const double a = 0.72;
    return QColor::fromRgbF(text.redF() * a + base.redF() * (1 - a), text.greenF() * a + base.greenF() * (1 - a),
                            text.blueF() * a + base.blueF() * (1 - a));
}

QColor tileColor(Change change) {
    switch (change) {
    case Change::grew: return QColor(0x9A, 0x34, 0x12);
    case Change::added: return QColor(0x6B, 0x21, 0xA8);
    case Change::shrank:
    case Change::gone: return QColor(0x06, 0x5F, 0x46);
    case Change::same: break;
    }
    return QColor(0x4B, 0x55, 0x63);
}

} // namespace vessora::ChangeText
