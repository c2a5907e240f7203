#include "ui/kit/Symbols.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <vector>

// The fallback drawings live in this static library; nothing references
// their initialiser, so the linker would drop it unless called by name.
static void initIconResources() { Q_INIT_RESOURCE(Icons); }

namespace vessora::Symbols {

namespace {

enum class Overlay { none, slash, warningBadge };

struct Entry {
    QStringList names = {};
    QStringList candidates = {};
    int standard = -1; // QStyle::StandardPixmap, or -1
    QString glyph = {};
    double opacity = 1.0;
    Overlay overlay = Overlay::none;
    QString base = {}; // for composites: the symbol drawn underneath
};

const std::vector<Entry>& table() {
    static const std::vector<Entry> entries = [] {
        using S = QStyle;
        std::vector<Entry> e{
            {{"chart.pie"}, {"office-chart-pie", "drive-harddisk-system"}, S::SP_DriveHDIcon, {}},
            {{"list.bullet.indent"}, {"view-list-tree", "format-indent-more"}, S::SP_FileDialogDetailedView, {}},
            {{"sparkles"}, {"edit-clear-all"}, S::SP_DialogResetButton, {}},
            {{"folder", "folder.fill"}, {"folder"}, S::SP_DirIcon, {}},
            {{"doc.fill"}, {"text-x-generic"}, S::SP_FileIcon, {}},
            {{"doc"}, {"x-office-document", "text-x-generic"}, S::SP_FileIcon, {}},
            {{"app.fill"}, {"application-x-executable"}, S::SP_DesktopIcon, {}},
            {{"app.dashed"}, {"application-x-executable"}, S::SP_DesktopIcon, {}, 0.4},
            {{"app.badge"}, {"view-app-grid", "application-x-executable"}, S::SP_DesktopIcon, {}},
            {{"ellipsis.circle"}, {"view-more", "overflow-menu"}, -1, QStringLiteral("\u22EF")},
            {{"lock", "lock.fill"},
             {"object-locked", "changes-prevent", "system-lock-screen"},
             -1,
             QStringLiteral("\u26BF")},
            {{"icloud.slash"}, {}, -1, QStringLiteral("\u2601"), 1.0, Overlay::slash, "icloud.cloud"},
            {{"icloud.cloud"}, {"weather-overcast"}, -1, QStringLiteral("\u2601")},
            {{"icloud"}, {"folder-cloud", "folder-remote"}, S::SP_DriveNetIcon, {}},
            {{"minus.circle"}, {"action-unavailable", "list-remove"}, -1, QStringLiteral("\u2296")},
            {{"internaldrive"}, {"drive-harddisk"}, S::SP_DriveHDIcon, {}},
            {{"externaldrive"}, {"drive-harddisk-usb", "drive-removable-media"}, S::SP_DriveHDIcon, {}},
            {{"externaldrive.badge.exclamationmark"},
             {},
             S::SP_MessageBoxWarning,
             {},
             1.0,
             Overlay::warningBadge,
             "externaldrive"},
            {{"clock.arrow.circlepath"}, {"document-open-recent", "view-history"}, S::SP_BrowserReload, {}},
            {{"trash"}, {"user-trash"}, S::SP_TrashIcon, {}},
            {{"hammer"}, {"applications-engineering", "applications-development"}, S::SP_ComputerIcon, {}},
            {{"envelope"}, {"mail-message", "mail-unread"}, -1, QStringLiteral("\u2709")},
            {{"music.note"}, {"audio-x-generic", "folder-music"}, -1, QStringLiteral("\u266A")},
            {{"photo"}, {"image-x-generic", "folder-pictures"}, S::SP_FileIcon, {}},
            {{"message"}, {"dialog-messages", "chat-message-new"}, -1, QStringLiteral("\u2709")},
            {{"person.2"}, {"system-users", "user-group-properties"}, S::SP_DirHomeIcon, {}},
            {{"laptopcomputer"}, {"computer-laptop", "computer"}, S::SP_ComputerIcon, {}},
            {{"arrow.clockwise"}, {"view-refresh"}, S::SP_BrowserReload, {}},
            {{"magnifyingglass"}, {"edit-find", "system-search"}, S::SP_FileDialogContentsView, {}},
            {{"chevron.right"}, {"pan-end", "arrow-right", "go-next"}, S::SP_ArrowRight, {}},
            {{"lock.shield", "checkmark.shield.fill"}, {"security-high"}, S::SP_DialogApplyButton, {}},
            {{"arrow.down.circle"}, {"go-down"}, S::SP_ArrowDown, {}},
            {{"checkmark.circle", "checkmark.circle.fill", "checkmark.seal"},
             {"emblem-ok", "emblem-checked", "emblem-default", "dialog-ok"},
             S::SP_DialogApplyButton,
             {}},
            {{"exclamationmark.triangle", "exclamationmark.triangle.fill"},
             {"dialog-warning"},
             S::SP_MessageBoxWarning,
             {}},
            {{"exclamationmark.circle.fill"}, {"emblem-important", "dialog-error"}, S::SP_MessageBoxCritical, {}},
            {{"arrow.triangle.2.circlepath"},
             {"emblem-synchronizing", "system-software-update"},
             S::SP_BrowserReload,
             {}},
            {{"shippingbox"}, {"package-x-generic"}, S::SP_DirIcon, {}},
            {{"sum"}, {"gnumeric-autosum", "accessories-calculator"}, -1, QStringLiteral("\u2211")},
            {{"info.circle"}, {"dialog-information"}, S::SP_MessageBoxInformation, {}},
            {{"questionmark.folder"}, {"dialog-question"}, S::SP_MessageBoxQuestion, {}},
            {{"bag"}, {"system-software-install"}, S::SP_DialogSaveButton, {}},
            {{"play.circle"}, {"media-playback-start"}, S::SP_MediaPlay, {}},
            {{"doc.richtext"}, {"text-html", "x-office-document"}, S::SP_FileIcon, {}},
            {{"arrow.up.forward.square"}, {"document-open-folder", "folder-open"}, S::SP_DirOpenIcon, {}},
        };
        return e;
    }();
    return entries;
}

const Entry* find(const QString& symbol) {
    for (const Entry& entry : table())
        if (entry.names.contains(symbol)) return &entry;
    return nullptr;
}

// The last resort: a glyph painted in the application font, in the text
// colour (tinting recolours it like any monochrome icon).
class GlyphIconEngine : public QIconEngine {
public:
    explicit GlyphIconEngine(QString glyph) : glyph_(std::move(glyph)) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        QFont font = QApplication::font();
        font.setPixelSize(std::max(6, int(rect.height() * 0.8)));
        painter->setFont(font);
        painter->setPen(QApplication::palette().color(QPalette::WindowText));
        painter->drawText(rect, Qt::AlignCenter, glyph_);
        painter->restore();
    }
    QIconEngine* clone() const override { return new GlyphIconEngine(glyph_); }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap result(size);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(), size), mode, state);
        return result;
    }
    QString key() const override { return QStringLiteral("VessoraGlyph"); }

private:
    QString glyph_;
};

struct Resolved {
    QIcon icon;
    Source source = Source::glyph;
};

QHash<QString, Resolved>& iconCache() {
    static QHash<QString, Resolved> cache;
    return cache;
}
QHash<QString, QPixmap>& pixmapCache() {
    static QHash<QString, QPixmap> cache;
    return cache;
}

std::optional<QIcon> fromTheme(const QStringList& candidates) {
    // hasThemeIcon compares the resolved name, so a dash-shortened fallback
    // ("folder-cloud" found as "folder") does not count and a better
    // candidate further down still gets its turn.
    for (const QString& name : candidates) {
        for (const QString& variant : {name + QStringLiteral("-symbolic"), name})
            if (QIcon::hasThemeIcon(variant)) return QIcon::fromTheme(variant);
    }
    return std::nullopt;
}

std::optional<QIcon> bundled(const QStringList& candidates) {
    for (const QString& name : candidates) {
        const QString path = QStringLiteral(":/icons/vessora-fallback/scalable/%1.svg").arg(name);
        if (QFile::exists(path)) return QIcon(path);
    }
    return std::nullopt;
}

Resolved resolve(const QString& symbol) {
    const Entry* entry = find(symbol);
    QStringList candidates;
    int standard = QStyle::SP_FileIcon;
    QString glyph = QStringLiteral("\u25A1");
    if (entry) {
        candidates = entry->candidates;
        standard = entry->standard;
        if (!entry->glyph.isEmpty()) glyph = entry->glyph;
    } else {
        // An unknown symbol: its own name with dashes, then the generic file.
        candidates = {QString(symbol).replace(QLatin1Char('.'), QLatin1Char('-'))};
    }
    if (auto icon = fromTheme(candidates)) return {*icon, Source::theme};
    if (auto icon = bundled(candidates)) return {*icon, Source::bundled};
    if (standard >= 0 && QApplication::style()) {
        QIcon icon = QApplication::style()->standardIcon(QStyle::StandardPixmap(standard));
        if (!icon.isNull() && !icon.pixmap(16).isNull()) return {icon, Source::style};
    }
    return {QIcon(new GlyphIconEngine(glyph)), Source::glyph};
}

const Resolved& resolved(const QString& symbol) {
    auto& cache = iconCache();
    auto it = cache.find(symbol);
    if (it == cache.end()) it = cache.insert(symbol, resolve(symbol));
    return *it;
}

// Symbolic icons are near-grey (Adwaita's #2e3436 has a little blue); edge
// pixels are left out because blending skews their hue.
bool isMonochrome(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() > 200 && c.hsvSaturation() > 70) return false;
        }
    return true;
}

QPixmap render(const QString& symbol, int size, const QColor& tint, qreal dpr) {
    const Entry* entry = find(symbol);
    const QString base = entry && !entry->base.isEmpty() ? entry->base : symbol;
    const int device = std::max(1, int(size * dpr + 0.5));
    QPixmap result;
    if (entry && entry->overlay != Overlay::none && base != symbol) {
        result = render(base, size, tint, dpr);
    } else {
        QPixmap raw = resolved(base).icon.pixmap(QSize(device, device));
        if (raw.size() != QSize(device, device))
            raw = raw.scaled(device, device, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        result = QPixmap(device, device);
        result.fill(Qt::transparent);
        QPainter painter(&result);
        painter.drawPixmap((device - raw.width()) / 2, (device - raw.height()) / 2, raw);
        if (tint.isValid() && isMonochrome(raw.toImage())) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(result.rect(), tint);
        }
    }
    {
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing);
        if (entry && entry->overlay == Overlay::slash) {
            QPen pen(tint.isValid() ? tint : QApplication::palette().color(QPalette::WindowText));
            pen.setWidthF(std::max(1.5, device / 12.0));
            pen.setCapStyle(Qt::RoundCap);
            painter.setPen(pen);
            painter.drawLine(QPointF(device * 0.15, device * 0.15), QPointF(device * 0.85, device * 0.85));
        } else if (entry && entry->overlay == Overlay::warningBadge) {
            QPixmap badge = resolved(QStringLiteral("exclamationmark.triangle")).icon.pixmap(device / 2);
            painter.drawPixmap(device - badge.width(), device - badge.height(), badge);
        }
        if (entry && entry->opacity < 1.0) {
            painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            painter.fillRect(result.rect(), QColor(0, 0, 0, int(255 * entry->opacity)));
        }
    }
    result.setDevicePixelRatio(dpr);
    return result;
}

} // namespace

void setUpIconTheme() {
    initIconResources();
    QStringList paths = QIcon::themeSearchPaths();
    QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) dataDirs = "/usr/local/share:/usr/share";
    for (const QByteArray& dir : dataDirs.split(':'))
        if (!dir.isEmpty()) paths << QString::fromLocal8Bit(dir) + QStringLiteral("/icons");
    paths << QDir::homePath() + QStringLiteral("/.local/share/icons") << QStringLiteral(":/icons");
    paths.removeDuplicates();
    QIcon::setThemeSearchPaths(paths);
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("Adwaita"));
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    clearCache();
}

void clearCache() {
    iconCache().clear();
    pixmapCache().clear();
}

QIcon icon(const QString& symbol) {
    const Entry* entry = find(symbol);
    if (entry && (entry->overlay != Overlay::none || entry->opacity < 1.0)) {
        QIcon composed;
        for (int size : {16, 24, 32, 48}) composed.addPixmap(pixmap(symbol, size));
        return composed;
    }
    return resolved(symbol).icon;
}

QIcon icon(const QString& symbol, const QColor& tint) {
    QIcon tinted;
    for (int size : {16, 24, 32}) tinted.addPixmap(pixmap(symbol, size, tint));
    return tinted;
}

QPixmap pixmap(const QString& symbol, int size, const QColor& tint, qreal devicePixelRatio) {
    const QString key = QStringLiteral("%1|%2|%3|%4")
                            .arg(symbol)
                            .arg(size)
                            .arg(tint.isValid() ? tint.name(QColor::HexArgb) : QString())
                            .arg(devicePixelRatio);
    auto& cache = pixmapCache();
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.insert(key, render(symbol, size, tint, devicePixelRatio));
    return *it;
}

Source source(const QString& symbol) {
    const Entry* entry = find(symbol);
    return resolved(entry && !entry->base.isEmpty() ? entry->base : symbol).source;
}

QStringList knownSymbols() {
    QStringList names;
    for (const Entry& entry : table()) names << entry.names;
    return names;
}

namespace {

// Lives as the button's child and re-tints its icon on palette changes.
class ButtonSymbol : public QObject {
public:
    ButtonSymbol(QAbstractButton* button, const QString& symbol) : QObject(button), button_(button), symbol_(symbol) {
        button->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) apply();
        return false;
    }

private:
    void apply() {
        const QPalette p = button_->palette();
        const qreal dpr = button_->devicePixelRatioF();
        QIcon icon;
        for (int size : {16, 24, 32}) {
            icon.addPixmap(pixmap(symbol_, size, p.color(QPalette::Active, QPalette::ButtonText), dpr), QIcon::Normal);
            icon.addPixmap(pixmap(symbol_, size, p.color(QPalette::Disabled, QPalette::ButtonText), dpr),
                           QIcon::Disabled);
        }
        button_->setIcon(icon);
    }

    QAbstractButton* button_;
    QString symbol_;
};

} // namespace

void attach(QAbstractButton* button, const QString& symbol) {
    for (QObject* child : button->children())
        if (auto* old = dynamic_cast<ButtonSymbol*>(child)) delete old;
    new ButtonSymbol(button, symbol);
}

} // namespace vessora::Symbols
