#include "ui/apps/AppIcons.h"

#include "apps/BundleInfo.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPixmap>

namespace vessora {

namespace {
constexpr int iconPixels = 64;
}

AppIcons::AppIcons(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(2);
    // Flatpak exports its apps' icons (into hicolor) under its own share
    // folders, which a session started without Flatpak's profile script does
    // not name in XDG_DATA_DIRS.
    QStringList paths = QIcon::themeSearchPaths();
    const int before = int(paths.size());
    for (const QString& dir : {QDir::homePath() + QStringLiteral("/.local/share/flatpak/exports/share/icons"),
                               QStringLiteral("/var/lib/flatpak/exports/share/icons")})
        if (!paths.contains(dir) && QFileInfo(dir).isDir()) paths << dir;
    if (paths.size() != before) QIcon::setThemeSearchPaths(paths);
}

AppIcons::~AppIcons() {
    pool_.clear();
    pool_.waitForDone();
}

QIcon AppIcons::generic() {
    return Symbols::icon(QStringLiteral("app.fill"), Colors::secondary(QApplication::palette()));
}

bool AppIcons::hasOwnIcon(const InstalledApp& app) const { return icons_.contains(Text::filePath(app.url)); }

QIcon AppIcons::icon(const InstalledApp& app) {
    const QString key = Text::filePath(app.url);
    if (auto it = icons_.constFind(key); it != icons_.constEnd()) return *it;
    if (requested_.contains(key)) return generic();
    requested_.insert(key);

    // A theme name is resolved here: the icon loader is not thread-safe, and
    // the theme reads its files lazily when the icon is first painted anyway.
    if (app.kind != AppKind::bundle && app.iconName && !app.iconName->empty() && !app.iconName->starts_with('/')) {
        const QString name = Text::fromUtf8(*app.iconName);
        if (QIcon::hasThemeIcon(name)) {
            QIcon themed = QIcon::fromTheme(name);
            icons_.insert(key, themed);
            return themed;
        }
        return generic();
    }
    std::optional<std::string> file;
    if (app.kind == AppKind::bundle)
        file = std::nullopt;
    else if (app.iconName)
        file = *app.iconName;
    else
        return generic();
    const std::string bundle = app.url;
    // The destructor waits for the pool, so the queue outlives every read.
    Async::start(pool_, [this, key, bundle, file] {
        QImage image = file ? readImageFile(Text::filePath(*file), iconPixels) : readBundleIcon(bundle, iconPixels);
        if (image.isNull()) return;
        mainQueue_.post([this, key, image] { arrived(key, image); });
    });
    return generic();
}

void AppIcons::arrived(const QString& url, const QImage& image) {
    icons_.insert(url, QIcon(QPixmap::fromImage(image)));
    emit ready(url);
}

QImage AppIcons::readImageFile(const QString& path, int size) {
    if (!QFileInfo(path).isFile()) return {};
    QImageReader reader(path);
    // Vector images render at the size asked for.
    if (reader.supportsOption(QImageIOHandler::ScaledSize) && reader.imageCount() <= 1)
        reader.setScaledSize(QSize(size, size));
    // ICNS and ICO hold several sizes: the smallest at least `size` wide,
    // else the largest there is.
    QImage best;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        QImage image = reader.read();
        if (image.isNull()) continue;
        const bool better = best.isNull() || (best.width() < size && image.width() > best.width()) ||
                            (image.width() >= size && image.width() < best.width());
        if (better) best = std::move(image);
    }
    if (best.isNull()) return {};
    if (best.width() > size || best.height() > size)
        best = best.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return best;
}

QImage AppIcons::readBundleIcon(const std::string& bundlePath, int size) {
    const auto info = BundleInfo::read(bundlePath);
    std::optional<std::string> name = BundleInfo::stringValue(info, "CFBundleIconFile");
    // A name with a slash could point outside the bundle.
    if (!name || name->empty() || name->find('/') != std::string::npos) return {};
    const std::string base = bundlePath + "/Contents/Resources/" + *name;
    for (const std::string& candidate : {base, base + ".icns", base + ".png"}) {
        QImage image = readImageFile(Text::filePath(candidate), size);
        if (!image.isNull()) return image;
    }
    return {};
}

} // namespace vessora
