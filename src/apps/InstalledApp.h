#pragma once
#include "support/Date.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vessora {

// How an application is installed, which decides how it is uninstalled.
enum class AppKind {
    bundle,   // a ".app" bundle folder
    package,  // owned by the distribution's package manager; never uninstalled here
    flatpak,  // a Flatpak application (user or system installation)
    snap,     // a snap
    appImage, // a single AppImage file
    program,  // an unowned program folder (under the home folder or /opt)
};

// One installed application.
struct InstalledApp {
    std::string url;                     // the ".app" bundle's path; also the record's identity
    std::string name;                    // display name
    std::optional<std::string> bundleID; // absent when the bundle declares none
    std::optional<std::string> version;  // short version, else build version
    bool isSystemApp = false;            // found under a system root
    bool isMASApp = false;               // carries an App Store receipt
    std::optional<Date> lastUsed;        // when it was last opened, where the system records that
    AppKind kind = AppKind::bundle;
    // Where the app's own icon comes from when it is not inside the bundle: an
    // icon-theme name or an absolute image path (a desktop entry's Icon= value).
    std::optional<std::string> iconName;
    // What the installer reports as the app's size (a package's, Flatpak's or
    // snap's); absent when the size is measured at `url`.
    std::optional<int64_t> installedSize;
    std::optional<std::string> desktopEntry; // the menu entry the app was found from
    std::optional<std::string> executable;   // the program that entry runs
    std::optional<std::string> windowClass;  // the entry's StartupWMClass
    std::optional<std::string> package;      // the distribution package that owns it

    const std::string& id() const { return url; }
    bool operator==(const InstalledApp&) const = default;
};

} // namespace vessora
