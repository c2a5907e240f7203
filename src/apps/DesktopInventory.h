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
#include <string_view>
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

// The folders no one app owns, worked out once from the home folder, the
// user-dirs file and the XDG variables for many questions.
class SharedFolders {
public:
    explicit SharedFolders(std::string home);

    // The user folders: each XDG user folder as user-dirs.dirs names it (a
    // localised name) and its English name below the home folder.
    const std::vector<std::string>& userFolders() const { return user_; }
    const std::string& home() const { return home_; }
    // Whether `path` is the home folder or above it, or is or holds a user
    // folder or a base folder every app shares (~/.config, ~/.local/share,
    // ~/.cache, ~/.local/state, ~/.local/bin): never one app's to remove.
    bool anyInside(const std::string& path) const;
    // Whether `folder` can be one program's own as far as shared folders go:
    // none of them is inside it, and it lies in no user folder and in no
    // folder every app shares (menu entries, Flatpak and snap data).
    bool isApart(const std::string& folder) const;

private:
    std::string home_;
    std::vector<std::string> user_, bases_, around_;
};

// The folder that holds an unowned program: the program's folder ("bin"
// stepped out of) when that folder is the program's own, that is below /opt,
// ~/Applications, ~/Apps, ~/opt or ~/.local/opt (never one of those itself)
// or inside ~/.local/share/<id>, and apart from the shared folders (never the
// home folder or above it, a user folder, inside one or holding one).
// Otherwise the program file alone.
std::string programFolder(const std::string& program, const SharedFolders& shared, const std::string& id);

// An identifier names files and folders: one name, not "." or "..".
bool isSingleName(std::string_view name);

// The Flatpak installation and whether a runtime, from an app's folder
// (installation/app/<id>).
Flatpaks::Installed flatpakOf(const InstalledApp& app);

} // namespace vessora::DesktopInventory
