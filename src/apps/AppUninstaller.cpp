#include "apps/AppUninstaller.h"

#include "apps/DesktopInventory.h"
#include "apps/Flatpaks.h"
#include "apps/Listing.h"
#include "support/Paths.h"
#include "support/Shell.h"

#include <algorithm>
#include <map>

namespace vessora::AppUninstaller {
namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
    size_t start = text.find_first_not_of(" \n");
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::optional<std::string> removeSnap(const InstalledApp& app) {
    const std::string name = app.bundleID.value_or(Paths::lastComponent(app.url));
    Shell::Outcome outcome = Shell::execute("/usr/bin/snap", {"remove", name});
    if (!outcome.launched) return std::string("The snap command is not available on this computer.");
    if (outcome.exitStatus == 0) return std::nullopt;
    std::string reason = trimmed(outcome.standardError);
    if (reason.empty()) reason = trimmed(outcome.standardOutput);
    return reason.empty() ? std::string("snap remove failed.") : reason;
}

std::optional<std::string> removeFlatpak(const InstalledApp& app) {
    return Flatpaks::uninstall(DesktopInventory::flatpakOf(app));
}

void append(RemovalResult& into, RemovalResult&& from) {
    auto move = [](auto& to, auto& source) { to.insert(to.end(), source.begin(), source.end()); };
    move(into.succeeded, from.succeeded);
    move(into.failed, from.failed);
    move(into.needsAdmin, from.needsAdmin);
    move(into.partlyRemoved, from.partlyRemoved);
    move(into.trashed, from.trashed);
    into.bytesFreed += from.bytesFreed;
    into.trashRequested = into.trashRequested || from.trashRequested;
}

} // namespace

Tools standardTools() { return {removeFlatpak, removeSnap}; }

bool stillInstalled(const InstalledApp& app) {
    return Listing::exists(Paths::join(app.url, "current")) || Listing::isSymbolicLink(Paths::join(app.url, "current"));
}

RemovalResult uninstall(const InstalledApp& app, int64_t appSize, const std::vector<LeftoverItem>& leftovers,
                        bool includeApp, RemovalMode mode) {
    return uninstall(app, appSize, leftovers, includeApp, mode, standardTools());
}

RemovalResult uninstall(const InstalledApp& app, int64_t appSize, const std::vector<LeftoverItem>& leftovers,
                        bool includeApp, RemovalMode mode, const Tools& tools) {
    RemovalResult result;
    result.trashRequested = mode == RemovalMode::trash;
    std::vector<std::string> urls;
    std::map<std::string, int64_t> sizes;
    auto add = [&](const std::string& url, int64_t size) {
        if (std::find(urls.begin(), urls.end(), url) != urls.end()) return;
        urls.push_back(url);
        sizes[url] = size;
    };

    if (includeApp) {
        switch (app.kind) {
        case AppKind::bundle:
        case AppKind::program: add(app.url, appSize); break;
        case AppKind::appImage:
            add(app.url, appSize);
            // Its menu entry and icons go with it: they would otherwise start nothing.
            if (app.url != app.desktopEntry.value_or(""))
                for (const std::string& file : LeftoverFinder::appImageIntegrationFiles(app.url)) add(file, 0);
            break;
        case AppKind::package:
            result.failed.push_back({app.url, app.name + " is installed by the package manager (package " +
                                                  app.package.value_or("?") +
                                                  "). Remove it with Software or your package manager."});
            break;
        case AppKind::flatpak:
        case AppKind::snap: {
            const ToolRemover& tool = app.kind == AppKind::flatpak ? tools.flatpak : tools.snap;
            std::optional<std::string> reason =
                tool ? tool(app) : std::optional<std::string>("No tool can remove this app here.");
            // The tool's word is not enough: what is still installed was not removed.
            if (!reason && stillInstalled(app)) reason = app.name + " is still installed.";
            if (reason) {
                result.failed.push_back({app.url, *reason});
            } else {
                result.succeeded.push_back(app.url);
                result.bytesFreed += appSize;
            }
            break;
        }
        }
    }
    for (const LeftoverItem& item : leftovers) add(item.url, item.size);
    if (!urls.empty()) append(result, Remover::remove(urls, mode, sizes));
    return result;
}

} // namespace vessora::AppUninstaller
