#include "ui/kit/Workspace.h"

#include "apps/RunningApps.h"

#include "ui/kit/Symbols.h"
#include "ui/kit/Text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QHash>
#include <QImageReader>
#include <QPixmap>
#include <QStandardPaths>

#include <plist/plist.h>

namespace vessora {

namespace {

Workspace* installed = nullptr;

QUrl fileUrl(const std::string& path) { return QUrl::fromLocalFile(Text::filePath(path)); }

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string iconFileOf(const std::string& bundlePath) {
    QFile file(Text::filePath(bundlePath + "/Contents/Info.plist"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.read(4 * 1024 * 1024);
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    if (!root) return {};
    std::string name;
    if (plist_t node = plist_dict_get_item(root, "CFBundleIconFile");
        node && plist_get_node_type(node) == PLIST_STRING) {
        char* value = nullptr;
        plist_get_string_val(node, &value);
        if (value) name = value;
        free(value);
    }
    plist_free(root);
    // A name with a slash could point outside the bundle.
    if (name.find('/') != std::string::npos) return {};
    return name;
}

} // namespace

Workspace& Workspace::instance() {
    static Workspace desktop;
    return installed ? *installed : desktop;
}

void Workspace::setInstance(Workspace* workspace) { installed = workspace; }

void Workspace::reveal(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service).value()) {
        QStringList uris;
        for (const auto& path : paths) uris << fileUrl(path).toString(QUrl::FullyEncoded);
        QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                                           service, QStringLiteral("ShowItems"));
        call << uris << QString();
        // Not waited for: the file manager may take a while to start.
        if (bus.send(call)) return;
    }
    openPath(parentOf(paths.front()));
}

bool Workspace::openUrl(const QUrl& url) { return url.isValid() && QDesktopServices::openUrl(url); }

bool Workspace::openPath(const std::string& path) { return openUrl(fileUrl(path)); }

bool Workspace::canOpenScheme(const QString& scheme) {
    // Read once per scheme: a handler installed while the window is open is
    // found next time.
    static QHash<QString, bool> known;
    if (auto it = known.constFind(scheme); it != known.constEnd()) return *it;
    const QString key = QStringLiteral("x-scheme-handler/") + scheme + QLatin1Char('=');
    QStringList files;
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        files << dir + QStringLiteral("/mimeapps.list");
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        files << dir + QStringLiteral("/applications/mimeapps.list")
              << dir + QStringLiteral("/applications/mimeinfo.cache");
    bool found = false;
    for (const QString& name : files) {
        QFile file(name);
        if (found || !file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        bool removed = false; // [Removed Associations] takes handlers away
        while (!file.atEnd() && !found) {
            const QString line = QString::fromUtf8(file.readLine(64 * 1024)).trimmed();
            if (line.startsWith(QLatin1Char('['))) removed = line == QStringLiteral("[Removed Associations]");
            if (removed || !line.startsWith(key)) continue;
            const QStringList handlers = line.mid(key.size()).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            found = !handlers.isEmpty();
        }
    }
    known.insert(scheme, found);
    return found;
}

bool Workspace::isRunning(const std::string& bundleIdentifier) { return RunningApps::isRunning(bundleIdentifier); }

QIcon Workspace::appIcon(const std::string& bundlePath) {
    static QHash<QString, QIcon> cache;
    const QString key = Text::filePath(bundlePath);
    if (auto it = cache.find(key); it != cache.end()) return *it;
    QIcon icon;
    std::string name = iconFileOf(bundlePath);
    if (!name.empty()) {
        const std::string base = bundlePath + "/Contents/Resources/" + name;
        for (const std::string& candidate : {base, base + ".icns", base + ".png"}) {
            QImageReader reader(Text::filePath(candidate));
            QImage image = reader.read();
            if (!image.isNull()) {
                icon = QIcon(QPixmap::fromImage(image));
                break;
            }
        }
    }
    if (icon.isNull()) icon = Symbols::icon(QStringLiteral("app.fill"));
    cache.insert(key, icon);
    return icon;
}

} // namespace vessora
