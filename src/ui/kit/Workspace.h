#pragma once
// The window's door to the desktop: show items in the file manager, open a
// URL or a file with its default application, ask whether an application is
// running, and an application's icon. One instance serves the process; tests
// install their own to record calls instead of opening windows.

#include <QIcon>
#include <QUrl>

#include <string>
#include <vector>

namespace vessora {

class Workspace {
public:
    virtual ~Workspace() = default;

    // The instance in use: the desktop's unless a test installed another.
    static Workspace& instance();
    // Installs `workspace` (not owned; nullptr restores the desktop's).
    static void setInstance(Workspace* workspace);

    // Selects the items in the file manager (org.freedesktop.FileManager1
    // ShowItems over D-Bus, not waited for); without that service, opens the
    // folder holding the first item.
    virtual void reveal(const std::vector<std::string>& paths);
    // Opens with the default application; false when nothing could be started.
    virtual bool openUrl(const QUrl& url);
    virtual bool openPath(const std::string& path);
    // Whether some application on the desktop opens URLs of this scheme
    // ("appstream"), as xdg-open would find it: the default-application lists
    // and the desktop entries' declared handlers (mimeinfo.cache).
    virtual bool canOpenScheme(const QString& scheme);
    // Whether an application with this bundle identifier is running.
    virtual bool isRunning(const std::string& bundleIdentifier);
    // The bundle's own icon (Contents/Resources, CFBundleIconFile), else the
    // generic application icon; cached by path.
    virtual QIcon appIcon(const std::string& bundlePath);
};

} // namespace vessora
