#include "apps/AppInventory.h"

#include "apps/BundleInfo.h"
#include "apps/DesktopInventory.h"
#include "apps/Listing.h"
#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "support/FolderListing.h"
#include "support/NameOrder.h"
#include "support/Paths.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace vessora {
namespace {

constexpr const char* systemRootPaths[] = {"/System/Applications", "/System/Library/CoreServices"};
constexpr int scanDepth = 3;

} // namespace

namespace AppInventory {

const std::vector<std::string>& userAppRoots() {
    // A function-local static is initialised exactly once, even when several
    // threads ask at the same time.
    static const std::vector<std::string> roots{"/Applications", Paths::join(Paths::home(), "Applications")};
    return roots;
}

bool isSystemRootPath(const std::string& path) {
    return std::any_of(std::begin(systemRootPaths), std::end(systemRootPaths),
                       [&](const char* root) { return path.starts_with(root); });
}

std::vector<AppRoot> roots(bool includeSystem) {
    std::vector<AppRoot> result;
    for (const std::string& path : userAppRoots()) result.push_back({path, isSystemRootPath(path)});
    if (includeSystem)
        for (const char* path : systemRootPaths) result.push_back({path, true});
    return result;
}

std::vector<InstalledApp> scan(bool includeSystem) {
    if (PlatformTables::current().apps.source == AppSource::desktopEntries)
        return DesktopInventory::scan(DesktopInventory::Sources::standard(), includeSystem);
    return scan(roots(includeSystem));
}

int64_t size(const InstalledApp& app, const std::function<bool()>& cancelled) {
    if (app.installedSize) return *app.installedSize;
    return DiskScanner::quickSize(app.url, ScanOptions{}, cancelled);
}

std::vector<InstalledApp> scan(const std::vector<AppRoot>& roots) {
    std::vector<InstalledApp> apps;
    std::unordered_set<std::string> seen;
    for (const AppRoot& root : roots) {
        for (std::string& path : bundles(root.path, scanDepth)) {
            if (!seen.insert(path).second) continue;
            if (std::optional<InstalledApp> app = describe(path, root.isSystem)) apps.push_back(std::move(*app));
        }
    }
    sortByName(apps);
    return apps;
}

std::vector<std::string> bundles(const std::string& root, int maxDepth) {
    std::vector<std::string> found;
    std::vector<std::pair<std::string, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [path, depth] = std::move(stack.back());
        stack.pop_back();
        if (depth > maxDepth) continue;
        for (const std::string& name : FolderListing::namesOrEmpty(path)) {
            if (name.starts_with('.')) continue;
            std::string child = Paths::join(path, name);
            if (!Listing::isDirectory(child)) continue;
            if (name.ends_with(".app"))
                found.push_back(std::move(child));
            else if (depth < maxDepth)
                stack.emplace_back(std::move(child), depth + 1);
        }
    }
    return found;
}

std::optional<InstalledApp> describe(const std::string& path, bool isSystem) {
    InstalledApp app;
    app.url = path;
    app.isSystemApp = isSystem;
    app.lastUsed = lastUsedDate(path);
    const std::string folderName = Paths::deletingExtension(Paths::lastComponent(path));
    if (!Listing::isDirectory(path)) {
        // Not a bundle that can be opened: known by its folder name only.
        app.name = folderName;
        return app;
    }
    const auto info = BundleInfo::read(path);
    if (auto v = BundleInfo::stringValue(info, "CFBundleDisplayName"))
        app.name = *v;
    else if (auto v = BundleInfo::stringValue(info, "CFBundleName"))
        app.name = *v;
    else
        app.name = folderName;
    if (auto v = BundleInfo::stringValue(info, "CFBundleShortVersionString"))
        app.version = *v;
    else if (auto v = BundleInfo::stringValue(info, "CFBundleVersion"))
        app.version = *v;
    app.bundleID = BundleInfo::stringValue(info, "CFBundleIdentifier");
    app.isMASApp = Listing::exists(Paths::join(path, "Contents/_MASReceipt/receipt"));
    return app;
}

std::optional<Date> lastUsedDate(const std::string&) { return std::nullopt; }

const char* label(AppKind kind) {
    switch (kind) {
    case AppKind::bundle: return "bundle";
    case AppKind::package: return "package";
    case AppKind::flatpak: return "Flatpak";
    case AppKind::snap: return "Snap";
    case AppKind::appImage: return "AppImage";
    case AppKind::program: return "program";
    }
    return "bundle";
}

void sortByName(std::vector<InstalledApp>& apps) {
    std::stable_sort(apps.begin(), apps.end(),
                     [](const InstalledApp& a, const InstalledApp& b) { return NameOrder::less(a.name, b.name); });
}

} // namespace AppInventory
} // namespace vessora
