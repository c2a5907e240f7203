#pragma once
// Lists the application bundles installed on the machine. Stateless apart from
// the user roots, which are worked out once per process.

#include "apps/InstalledApp.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vessora::AppInventory {

// A folder searched for applications and whether what it holds counts as
// part of the system.
struct AppRoot {
    std::string path;
    bool isSystem = false;
    bool operator==(const AppRoot&) const = default;
};

// "/Applications", then the home folder's "Applications", worked out on first
// use from the running user's home folder and kept for the life of the process.
const std::vector<std::string>& userAppRoots();

// The roots `scan(includeSystem)` searches, in order: the user roots, then
// "/System/Applications" and "/System/Library/CoreServices" when includeSystem.
std::vector<AppRoot> roots(bool includeSystem);

// True when the path text begins with one of the system roots' paths.
bool isSystemRootPath(const std::string& path);

// The whole inventory in name order: the ".app" bundles of the application
// folders, or on a desktop that lists apps by menu entries, those (see
// DesktopInventory). Synchronous and slow-ish (touches every
// bundle): run it off the main thread.
std::vector<InstalledApp> scan(bool includeSystem);
// The same over explicit roots: a path reached from two roots is listed once,
// with the first root's system flag.
std::vector<InstalledApp> scan(const std::vector<AppRoot>& roots);

// The ".app" bundles directly in `root` or up to maxDepth folder levels below
// it, never looking inside a bundle or a hidden folder; an unreadable folder
// contributes nothing.
std::vector<std::string> bundles(const std::string& root, int maxDepth);

// One record for one bundle path. Always yields a record; the optional is
// kept so callers can skip what a future platform cannot describe.
std::optional<InstalledApp> describe(const std::string& path, bool isSystem);

// When the application at `path` was last opened. Linux keeps no such record
// (access times are unreliable under relatime/noatime), so always absent.
std::optional<Date> lastUsedDate(const std::string& path);

// The app's size: what its installer reports when it does (a package, a
// Flatpak, a snap), else the allocated size measured at its url.
int64_t size(const InstalledApp& app, const std::function<bool()>& cancelled = {});

// How the kind is named to the user: "Flatpak", "Snap", "AppImage",
// "package", "program", "bundle".
const char* label(AppKind kind);

// Sorts applications by name in the file-browser order, stably.
void sortByName(std::vector<InstalledApp>& apps);

} // namespace vessora::AppInventory
