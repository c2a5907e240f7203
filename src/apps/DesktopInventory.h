#pragma once
// The installed applications of a Linux desktop: its menu entries, each
// recognised as a Flatpak, a snap, an AppImage, a distribution package's or
// a program of its own, plus the Flatpaks, snaps and AppImages the menu does
// not show. Stateless; slow (reads the package database), so run it off the
// main thread.

#include "apps/Flatpaks.h"
#include "apps/InstalledApp.h"

#include <functional>
#include <string>
#include <vector>

namespace vessora::DesktopInventory {

// Where everything is read from. `standard()` is the live system's; tests
// point each place into a folder of their own.
struct Sources {
    std::vector<std::string> applicationFolders; // menu entry folders, in precedence order
    std::vector<std::string> appImageFolders;    // searched one level deep for AppImage files
    std::string dpkgDatabase;                    // "/var/lib/dpkg"
    std::string snapRoot;                        // "/snap"
    std::string snapFiles;                       // "/var/lib/snapd/snaps"
    std::function<std::vector<Flatpaks::Installed>(bool includeRuntimes)> flatpaks;
    static Sources standard();
};

std::vector<InstalledApp> scan(const Sources& sources, bool includeSystem);

// The folder that holds an unowned program below /opt or the home folder:
// the program's folder ("bin" stepped out of). A program lying loose in a
// shared folder (~/.local/bin, Documents, /opt) is its own folder.
std::string programFolder(const std::string& program, const std::string& home);

// The Flatpak installation and whether a runtime, from an app's folder
// (installation/app/<id>).
Flatpaks::Installed flatpakOf(const InstalledApp& app);

} // namespace vessora::DesktopInventory
