#include "ui/kit/Colors.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>

#include <QHashFunctions>

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace vessora::Colors {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

namespace {

double channel(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double luminance(const QColor& c) {
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

} // namespace

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor over(const QColor& color, const QColor& background) {
    const double a = color.alphaF();
    auto mix = [a](double top, double bottom) { return float(top * a + bottom * (1 - a)); };
    return QColor::fromRgbF(mix(color.redF(), background.redF()), mix(color.greenF(), background.greenF()),
                            mix(color.blueF(), background.blueF()));
}

QColor readable(const QColor& text, const QColor& background, double ratio) {
    // Delegates ask on every paint of every row, with a handful of distinct
    // colours: the answers are kept (main thread only, as all painting).
    struct Key {
        QRgb text, background;
        double ratio;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const { return qHashMulti(0, k.text, k.background, qRound(k.ratio * 100)); }
    };
    static std::unordered_map<Key, QColor, KeyHash> known;
    const Key key{text.rgba(), background.rgba(), ratio};
    if (auto it = known.find(key); it != known.end()) return it->second;
    const QColor bg = over(background, Qt::white);
    QColor c = over(text, bg);
    if (contrast(c, bg) < ratio) {
        // Towards whichever end can still reach the ratio, black first on a light background.
        const QColor end = contrast(Qt::black, bg) >= contrast(Qt::white, bg) ? QColor(Qt::black) : QColor(Qt::white);
        const QColor start = c;
        for (int step = 1; step <= 40 && contrast(c, bg) < ratio; ++step) c = over(withAlpha(end, step / 40.0), start);
    }
    if (known.size() > 256) known.clear();
    known.emplace(key, c);
    return c;
}

QColor closestBackground(const QPalette& palette) {
    const bool dark = isDark(palette);
    QColor closest = palette.color(QPalette::Window);
    for (const QColor& c : {palette.color(QPalette::Base), palette.color(QPalette::Button), barMaterial(palette)})
        if (dark ? c.lightnessF() > closest.lightnessF() : c.lightnessF() < closest.lightnessF()) closest = c;
    return closest;
}

QColor buttonFace(const QPalette& palette, QPalette::ColorGroup group) {
    const QColor button = palette.color(group, QPalette::Button);
    return isDark(palette) ? button.lighter(140) : button;
}

QColor labelOn(const QColor& fill) {
    const QColor bg = over(fill, Qt::white);
    return contrast(Qt::white, bg) >= contrast(Qt::black, bg) ? QColor(Qt::white) : QColor(Qt::black);
}

QColor primary(const QPalette& palette) { return palette.color(QPalette::WindowText); }
QColor secondary(const QPalette& palette) {
    // The lighter tone of the platform (half strength), or as much more as the
    // closest background needs; an alpha, so that a fill made from it with
    // withAlpha keeps its meaning.
    const QColor text = palette.color(QPalette::WindowText);
    const QColor bg = closestBackground(palette);
    // The alpha is found once per pair of colours (see readable).
    static std::unordered_map<quint64, double> known;
    const quint64 key = (quint64(text.rgba()) << 32) | bg.rgba();
    auto it = known.find(key);
    if (it == known.end()) {
        double alpha = isDark(palette) ? 0.55 : 0.50;
        while (alpha < 1.0 && contrast(over(withAlpha(text, alpha), bg), bg) < minimumContrast) alpha += 0.01;
        if (known.size() > 256) known.clear();
        it = known.emplace(key, std::min(alpha, 1.0)).first;
    }
    return withAlpha(text, it->second);
}
QColor tertiary(const QPalette& palette) { return withAlpha(palette.color(QPalette::WindowText), 0.26); }
QColor accent(const QPalette& palette) { return palette.color(QPalette::Highlight); }
QColor background(const QPalette& palette) { return palette.color(QPalette::Base); }
QColor separator(const QPalette& palette, double alpha) {
    return withAlpha(palette.color(QPalette::WindowText), alpha);
}
QColor link(const QPalette& palette) { return palette.color(QPalette::Link); }

QColor barMaterial(const QPalette& palette) {
    QColor a = palette.color(QPalette::Window), b = palette.color(QPalette::WindowText);
    auto mix = [](float x, float y) { return x + (y - x) * 0.04f; };
    return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()));
}

QColor green(const QPalette& palette) {
    return readable(isDark(palette) ? QColor(0x30, 0xD1, 0x58) : QColor(0x1A, 0x7F, 0x37), closestBackground(palette));
}
QColor orange(const QPalette& palette) {
    return readable(isDark(palette) ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xB3, 0x5C, 0x00), closestBackground(palette));
}
QColor red(const QPalette& palette) {
    return readable(isDark(palette) ? QColor(0xFF, 0x45, 0x3A) : QColor(0xC9, 0x30, 0x2C), closestBackground(palette));
}

QColor fromRgb(const Rgb& rgb) { return QColor::fromRgbF(float(rgb.red), float(rgb.green), float(rgb.blue)); }

QPalette lightPalette() {
    QPalette p;
    const QColor window(0xEF, 0xEF, 0xEF), text(0x1D, 0x1D, 0x1F), base(0xFF, 0xFF, 0xFF);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0xF5, 0xF5, 0xF5));
    p.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xDC));
    p.setColor(QPalette::ToolTipText, text);
    // Every text colour reads at least 4.5 to 1 on Window, Base, Button and
    // the bar material, disabled text included.
    p.setColor(QPalette::PlaceholderText, QColor(0x6E, 0x6E, 0x6E));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0xF5, 0xF5, 0xF5));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, Qt::white);
    p.setColor(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3));
    p.setColor(QPalette::Mid, QColor(0xA0, 0xA0, 0xA0));
    p.setColor(QPalette::Dark, QColor(0x9F, 0x9F, 0x9F));
    p.setColor(QPalette::Shadow, QColor(0x76, 0x76, 0x76));
    p.setColor(QPalette::Highlight, QColor(0x1B, 0x6A, 0xCB));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x1A, 0x5F, 0xB4));
    p.setColor(QPalette::LinkVisited, QColor(0x6B, 0x3F, 0xA0));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x66, 0x66, 0x66));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x91, 0x91, 0x91));
    return p;
}

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x24, 0x24, 0x26), text(0xEC, 0xEC, 0xEC), base(0x1C, 0x1C, 0x1E);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(0x2E, 0x2E, 0x31));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
    p.setColor(QPalette::ToolTipBase, QColor(0x3A, 0x3A, 0x3C));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x9A, 0x9A, 0xA0));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3C));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4A, 0x4A, 0x4D));
    p.setColor(QPalette::Midlight, QColor(0x3E, 0x3E, 0x41));
    p.setColor(QPalette::Mid, QColor(0x2A, 0x2A, 0x2C));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x19));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x2A, 0x6F, 0xCC));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6C, 0xAE, 0xFF));
    p.setColor(QPalette::LinkVisited, QColor(0xB0, 0x8C, 0xE8));
    for (auto role : {QPalette::WindowText, QPalette::Text})
        p.setColor(QPalette::Disabled, role, QColor(0xA8, 0xA8, 0xAC));
    // On the style's lighter button face.
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0xC4, 0xC4, 0xC8));
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x55));
    (void)base;
    return p;
}

std::optional<ColorScheme> schemeFromEnvironment() {
    const QByteArray value = qgetenv("VESSORA_COLOR_SCHEME").trimmed().toLower();
    if (value == "dark") return ColorScheme::dark;
    if (value == "light") return ColorScheme::light;
    return std::nullopt;
}

std::optional<ColorScheme> schemeFromPortal() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    // A short timeout: this runs once at start-up, and a missing portal must
    // not hold the first frame back.
    QDBusMessage reply = bus.call(call, QDBus::Block, 300);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    QVariant value = reply.arguments().first();
    // The value arrives wrapped in one or two variants depending on the portal.
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    uint scheme = value.toUInt(&ok);
    if (!ok) return std::nullopt;
    if (scheme == 1) return ColorScheme::dark;
    if (scheme == 2) return ColorScheme::light;
    return std::nullopt;
}

namespace {

std::optional<QPalette>& platformPalette() {
    static std::optional<QPalette> palette;
    return palette;
}

// Receives the portal's SettingChanged signal (namespace, key, value).
class PortalWatcher : public QObject {
    Q_OBJECT
public slots:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
        if (group != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme")) return;
        QVariant inner = value.variant();
        if (inner.userType() == qMetaTypeId<QDBusVariant>()) inner = inner.value<QDBusVariant>().variant();
        if (inner.toUInt() == 1) {
            if (!isDark(QApplication::palette())) QApplication::setPalette(darkPalette());
        } else if (platformPalette()) {
            QApplication::setPalette(*platformPalette());
        }
    }
};

} // namespace

void followDesktopScheme() {
    if (schemeFromEnvironment()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    static PortalWatcher* watcher = new PortalWatcher;
    bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("SettingChanged"), watcher,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void applyScheme(std::optional<ColorScheme> scheme) {
    if (!platformPalette()) platformPalette() = QApplication::palette();
    if (!scheme) scheme = schemeFromEnvironment();
    if (!scheme) {
        auto portal = schemeFromPortal();
        if (portal == ColorScheme::dark && !isDark(QApplication::palette())) scheme = portal;
    }
    if (!scheme) return;
    QApplication::setPalette(*scheme == ColorScheme::dark ? darkPalette() : lightPalette());
}

} // namespace vessora::Colors

#include "Colors.moc"
