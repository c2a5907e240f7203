#pragma once
// Applications' own icons: a bundle's icon file (ICNS through Qt's image
// plugins), an image path or icon-theme name from a desktop entry, else the
// generic application icon. Image files are read on a worker thread and kept
// for the life of the cache; `ready` tells when a better icon has arrived.

#include "apps/InstalledApp.h"
#include "model/Async.h"

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

namespace vessora {

class AppIcons : public QObject {
    Q_OBJECT
public:
    explicit AppIcons(QObject* parent = nullptr);
    // Waits for the reads in flight, so none posts to a destroyed cache.
    ~AppIcons() override;

    // The icon now: the app's own once read, the generic one until then (or
    // when it has none). The first ask starts the read.
    QIcon icon(const InstalledApp& app);
    // Whether the app's own icon has been read (false: none, or not yet).
    bool hasOwnIcon(const InstalledApp& app) const;
    // The generic application symbol in the application palette's secondary colour.
    static QIcon generic();

    // Reads the image a bundle or a desktop entry names, scaled to at most
    // `size` pixels; null when there is none. Thread-safe.
    static QImage readBundleIcon(const std::string& bundlePath, int size);
    static QImage readImageFile(const QString& path, int size);

    void waitForReads() { pool_.waitForDone(); }

signals:
    void ready(const QString& url);

private:
    void arrived(const QString& url, const QImage& image);
    QHash<QString, QIcon> icons_; // the apps' own, by url
    QSet<QString> requested_;
    Async::MainQueue mainQueue_;
    QThreadPool pool_;
};

} // namespace vessora
