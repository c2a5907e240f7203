#include "ui/apps/AppsTexts.h"

#include "platform/PlatformTables.h"
#include "support/Fmt.h"
#include "support/OsRelease.h"

#include <sys/stat.h>

#include <cctype>

namespace vessora::AppsTexts {

namespace {

// Read once: the distribution does not change while the window is open.
const std::string& distributionName() {
    static const std::string name = [] {
        std::string found = OsRelease::systemName();
        return found.empty() ? std::string("Linux") : found;
    }();
    return name;
}

} // namespace

bool isProgramFile(const InstalledApp& app) {
    struct stat st;
    return app.kind == AppKind::program && ::lstat(app.url.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool bundleRemovable(const InstalledApp& app) { return !app.isSystemApp && app.kind != AppKind::package; }

std::vector<LeftoverItem> chosenLeftovers(const AppRow& row, const std::set<std::string>& selected) {
    std::vector<LeftoverItem> chosen;
    for (const auto& item : row.leftovers)
        if (selected.count(item.url)) chosen.push_back(item);
    return chosen;
}

int64_t selectedTotal(const AppRow& row, const std::set<std::string>& selected, bool includeBundle) {
    int64_t total = includeBundle && bundleRemovable(row.app) ? row.bundleSize : 0;
    for (const auto& item : chosenLeftovers(row, selected)) total += item.size;
    return total;
}

std::string uninstallSummary(const AppRow& row, const std::set<std::string>& selected, bool includeBundle) {
    const size_t count = chosenLeftovers(row, selected).size();
    std::string text = "This removes ";
    if (includeBundle && bundleRemovable(row.app)) {
        const Words& words = PlatformTables::current().words;
        text += isProgramFile(row.app) ? words.removesProgramFile : words.removesApp;
    }
    text += Fmt::counted(int64_t(count), "supporting item");
    text += ", freeing about " + Fmt::bytes(selectedTotal(row, selected, includeBundle)) + ".";
    return text;
}

bool canUninstall(const AppRow& row, const std::set<std::string>& selected, bool includeBundle) {
    // Judged by what would go, not by bytes: a system app with nothing ticked
    // has nothing to remove even with the (disabled) switch on, and a ticked
    // leftover of 0 bytes can still be removed.
    if (includeBundle && bundleRemovable(row.app)) return true;
    return !chosenLeftovers(row, selected).empty();
}

std::optional<std::string> notice(const InstalledApp& app, bool running) {
    // A package is named for what it is, system app or not: it has its own way out.
    if (app.kind == AppKind::package)
        return "Installed by " + distributionName() +
               "'s package manager. Remove it with your software manager; Vessora removes only what it left behind.";
    if (app.isSystemApp) return "This is a system app. Vessora will not remove it.";
    if (running) return "The app is running. Quit it first so it does not rewrite its files.";
    return std::nullopt;
}

std::optional<std::string> softwareUrl(const InstalledApp& app) {
    if (app.kind != AppKind::package || !app.bundleID || app.bundleID->empty()) return std::nullopt;
    return "appstream://" + *app.bundleID;
}

std::optional<std::string> packageRemoveCommand(const InstalledApp& app) {
    if (app.kind != AppKind::package || !app.package || app.package->empty()) return std::nullopt;
    // Package names are [a-z0-9+.-] (Debian policy); anything else is not
    // offered as a command to paste into a shell.
    for (char c : *app.package)
        if (!(std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) || c == '+' ||
              c == '.' || c == '-'))
            return std::nullopt;
    return "sudo apt remove " + *app.package;
}

std::optional<std::string> sourceBadge(const InstalledApp& app) {
    if (const char* store = PlatformTables::current().words.storeBadge)
        return app.isMASApp ? std::optional<std::string>(store) : std::nullopt;
    switch (app.kind) {
    case AppKind::flatpak: return "Flatpak";
    case AppKind::snap: return "Snap";
    case AppKind::appImage: return "AppImage";
    case AppKind::package: return distributionName();
    case AppKind::bundle:
    case AppKind::program: break;
    }
    return std::nullopt;
}

int64_t leftoverBytes(const AppRow& row) {
    int64_t total = 0;
    for (const auto& item : row.leftovers) total += item.size;
    return total;
}

SecondLine secondLine(const AppRow& row) {
    const int64_t outside = leftoverBytes(row);
    if (outside >= 1) return {"+" + Fmt::bytes(outside) + PlatformTables::current().words.outsideApp, true};
    if (row.analyzed) return {row.app.bundleID.value_or(""), false};
    return {};
}

} // namespace vessora::AppsTexts
