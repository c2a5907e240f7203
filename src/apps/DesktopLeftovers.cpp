// What an app found from the desktop's menu entries leaves outside itself:
// its folders in the base directories, its Flatpak or snap data, autostart
// and menu entries, icons, MIME and D-Bus files, user services and crash
// reports. Matches on an app's own identifiers are exact; matches on forms
// of its name are likely.

#include "apps/AppImageFile.h"
#include "apps/DesktopEntry.h"
#include "apps/DesktopInventory.h"
#include "apps/DpkgDatabase.h"
#include "apps/LeftoverFinder.h"
#include "apps/Listing.h"
#include "platform/PlatformTables.h"
#include "support/FolderListing.h"
#include "support/Paths.h"

#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <unordered_map>

namespace vessora::LeftoverFinder {
namespace {

struct Candidate {
    std::string text;
    MatchConfidence confidence;
};

// Names so common, or so widely shared, that a match says nothing about
// which app a folder belongs to.
const std::set<std::string> sharedNames = {
    "gnome",          "kde",       "java",     "electron", "mozilla", "flatpak", "snap",
    "applications",   "autostart", "systemd",  "icons",    "fonts",   "themes",  "mime",
    "dbus-1",         "trash",     "keyrings", "config",   "local",   "cache",   "share",
    "state",          "ssh",       "gnupg",    "pki",      "var",     "bin",     "desktop",
    "user-dirs.dirs", "dconf",     "pulse",    "gtk-3.0",  "gtk-4.0"};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool isSingleComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string withoutSuffix(const std::string& id) { return id.ends_with(".desktop") ? id.substr(0, id.size() - 8) : id; }

std::vector<std::string> exactIds(const InstalledApp& app) {
    std::vector<std::string> ids;
    // An entry called "fonts.desktop" must not make ~/.local/share/fonts its
    // folder: the shared names are never identifiers either.
    auto add = [&](const std::string& id) {
        if (!isSingleComponent(id) || id.starts_with('.') || sharedNames.count(lower(id))) return;
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    };
    if (app.bundleID) add(*app.bundleID);
    if (app.desktopEntry) add(withoutSuffix(Paths::lastComponent(*app.desktopEntry)));
    return ids;
}

std::vector<Candidate> candidatesFor(const InstalledApp& app) {
    std::vector<Candidate> result;
    for (const std::string& id : exactIds(app)) result.push_back({id, MatchConfidence::exact});
    std::vector<std::string> names{app.name};
    if (app.executable) names.push_back(Paths::lastComponent(*app.executable));
    if (app.windowClass) names.push_back(*app.windowClass);
    if (app.bundleID) {
        size_t dot = app.bundleID->rfind('.');
        names.push_back(dot == std::string::npos ? *app.bundleID : app.bundleID->substr(dot + 1));
    }
    auto add = [&](const std::string& text) {
        if (text.size() < 3 || !isSingleComponent(text) || text.starts_with('.')) return;
        if (sharedNames.count(lower(text))) return;
        for (const Candidate& c : result)
            if (c.text == text) return;
        result.push_back({text, MatchConfidence::likely});
    };
    for (const std::string& name : names) {
        // As written, in lower case, and with its spaces as '-', '_' or nothing.
        for (const std::string& form : {name, lower(name)}) {
            add(form);
            if (form.find(' ') == std::string::npos) continue;
            for (const char* joiner : {"-", "_", ""}) {
                std::string joined;
                for (char c : form) joined += c == ' ' ? std::string(joiner) : std::string(1, c);
                add(joined);
            }
        }
    }
    return result;
}

struct Found {
    LeftoverItem item;
    std::string key; // the identifier or name the item matched
};

class Collected {
public:
    void insert(Found found) {
        auto [it, added] = index_.emplace(found.item.url, items_.size());
        if (added)
            items_.push_back(std::move(found));
        else if (items_[it->second].item.confidence < found.item.confidence)
            items_[it->second] = std::move(found);
    }
    std::vector<Found>& items() { return items_; }

private:
    std::vector<Found> items_;
    std::unordered_map<std::string, size_t> index_;
};

// The program an autostart entry runs belongs to the app: its own program,
// "flatpak run <id>" or the snap's command.
bool runsApp(const DesktopEntry& entry, const InstalledApp& app) {
    std::vector<std::string> args = DesktopEntries::execArguments(entry.exec);
    if (args.empty()) return false;
    const std::string& program = args.front();
    if (app.kind == AppKind::flatpak && app.bundleID) {
        if (Paths::lastComponent(program) == "flatpak" && std::find(args.begin(), args.end(), "run") != args.end() &&
            std::find(args.begin(), args.end(), *app.bundleID) != args.end())
            return true;
        if (!entry.flatpakId.empty() && entry.flatpakId == *app.bundleID) return true;
    }
    if (app.kind == AppKind::snap && app.bundleID) {
        const std::string command = "/snap/bin/" + *app.bundleID;
        if (program == command || program.starts_with(command + ".")) return true;
    }
    if (app.executable) {
        std::string resolved = DesktopEntries::resolveProgram(entry.exec);
        if (!resolved.empty() && resolved == *app.executable) return true;
    }
    return false;
}

// The folder a program lying loose looks like it came in (~/Games/racer for
// ~/Games/racer/bin/racer): not its own folder by the inventory's rules, so at
// most possibly the app's. Empty when nothing looks like one.
std::string looseProgramFolder(const std::string& program, const DesktopInventory::SharedFolders& shared) {
    const std::string& home = shared.home();
    std::string folder = Paths::parent(program);
    if (Paths::lastComponent(folder) == "bin") folder = Paths::parent(folder);
    const bool belowHome = Paths::isInside(folder, home) && folder != home;
    const bool belowOpt = Paths::isInside(folder, "/opt") && folder != "/opt";
    if (!(belowHome || belowOpt) || !shared.isApart(folder)) return {};
    // Folders many programs share.
    for (const char* shared : {"bin", "Applications", "Apps", "AppImages", "opt", ".local", ".local/opt",
                               ".local/share", ".local/share/applications", ".config", ".cache"})
        if (folder == Paths::join(home, shared)) return {};
    // One right in the home folder is the program's only when named after it
    // ("~/blender-4.0" for "blender"); "~/Games" or "~/Scripts" hold other things too.
    if (Paths::parent(folder) == home) {
        const std::string programName = lower(Paths::deletingExtension(Paths::lastComponent(program)));
        if (programName.size() < 3 || lower(Paths::lastComponent(folder)).find(programName) == std::string::npos)
            return {};
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return folder;
}

bool ownedByPackage(const std::string& path) {
    const char* root = PlatformTables::current().apps.dpkgDatabase;
    return root && !DpkgDatabase::owners(root, {path}).empty();
}

} // namespace

std::vector<std::string> appImageIntegrationFiles(const std::string& path) {
    const std::string prefix = AppImageFile::integrationPrefix(path);
    const std::string data = PlatformTables::resolveRoot("$XDG_DATA_HOME");
    std::vector<std::string> files;
    auto matching = [&](const std::string& folder, const std::string& pattern) {
        std::vector<std::string> names = FolderListing::namesOrEmpty(folder);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            if (::fnmatch(pattern.c_str(), name.c_str(), FNM_PERIOD) == 0) files.push_back(Paths::join(folder, name));
    };
    matching(Paths::join(data, "applications"), prefix + "-*.desktop");
    matching(Paths::join(data, "mime/packages"), prefix + "-*.xml");
    const std::string icons = Paths::join(data, "icons/hicolor");
    std::vector<std::string> sizes = FolderListing::namesOrEmpty(icons);
    std::sort(sizes.begin(), sizes.end());
    for (const std::string& size : sizes) matching(Paths::join(icons, size + "/apps"), prefix + "_*");
    return files;
}

std::vector<LeftoverItem> desktopLeftovers(const InstalledApp& app, const std::vector<InstalledApp>& installed) {
    const std::string home = Paths::home();
    const DesktopInventory::SharedFolders sharedFolders(home);
    const std::string config = PlatformTables::resolveRoot("$XDG_CONFIG_HOME");
    const std::string data = PlatformTables::resolveRoot("$XDG_DATA_HOME");
    const std::string cache = PlatformTables::resolveRoot("$XDG_CACHE_HOME");
    const std::string state = Paths::stateHome();
    const std::vector<Candidate> candidates = candidatesFor(app);
    const std::vector<std::string> ids = exactIds(app);
    Collected found;

    auto probe = [&](const std::string& folder, const std::string& name, const char* category,
                     MatchConfidence confidence, const std::string& key) {
        if (!isSingleComponent(name)) return;
        std::string path = Paths::join(folder, name);
        if (!Listing::exists(path) && !Listing::isSymbolicLink(path)) return;
        found.insert({{path, category, confidence, 0, !Paths::isInside(path, home)}, key});
    };

    // Data the app's own sandbox or package keeps.
    if (app.kind == AppKind::flatpak && app.bundleID)
        probe(Paths::join(home, ".var/app"), *app.bundleID, "Flatpak data", MatchConfidence::exact, *app.bundleID);
    if (app.kind == AppKind::snap && app.bundleID) {
        probe(Paths::join(home, "snap"), *app.bundleID, "Snap data", MatchConfidence::exact, *app.bundleID);
        probe("/var/snap", *app.bundleID, "Snap data (system)", MatchConfidence::exact, *app.bundleID);
    }

    // The base directories: exact by identifier, likely by name.
    for (const Candidate& c : candidates) {
        probe(config, c.text, "Settings", c.confidence, c.text);
        probe(data, c.text, "App data", c.confidence, c.text);
        probe(cache, c.text, "Cache", c.confidence, c.text);
        probe(state, c.text, "State", c.confidence, c.text);
        if (c.confidence == MatchConfidence::likely) {
            probe(home, "." + c.text, "Hidden folder", c.confidence, c.text);
            probe(Paths::join(config, "systemd/user"), c.text + ".service", "User service", c.confidence, c.text);
            for (const std::string& wants : FolderListing::namesOrEmpty(Paths::join(config, "systemd/user")))
                if (wants.ends_with(".wants"))
                    probe(Paths::join(config, "systemd/user/" + wants), c.text + ".service", "User service",
                          c.confidence, c.text);
            // Vendors that keep one folder per product and version.
            for (const char* vendor : {"JetBrains", "BraveSoftware"}) {
                const std::string folder = Paths::join(config, vendor);
                for (const std::string& name : FolderListing::namesOrEmpty(folder))
                    if (lower(name).starts_with(lower(c.text))) probe(folder, name, "Settings", c.confidence, c.text);
            }
            // Reading the package lists is slow: only for what exists.
            for (const auto& [folder, category] :
                 {std::pair<const char*, const char*>{"/opt", "Program folder (system)"},
                  {"/usr/local/bin", "Program (system)"}}) {
                const std::string path = Paths::join(folder, c.text);
                if (isSingleComponent(c.text) && Listing::exists(path) && !ownedByPackage(path))
                    probe(folder, c.text, category, c.confidence, c.text);
            }
        }
    }

    // Files named exactly after the app's identifiers.
    for (const std::string& id : ids) {
        probe(Paths::join(config, "autostart"), id + ".desktop", "Autostart entry", MatchConfidence::exact, id);
        probe(Paths::join(data, "applications"), id + ".desktop", "Menu entry", MatchConfidence::exact, id);
        probe(Paths::join(data, "mime/packages"), id + ".xml", "File types", MatchConfidence::exact, id);
        probe(Paths::join(data, "dbus-1/services"), id + ".service", "D-Bus service", MatchConfidence::exact, id);
        for (const std::string& size : FolderListing::namesOrEmpty(Paths::join(data, "icons/hicolor"))) {
            const std::string folder = Paths::join(data, "icons/hicolor/" + size + "/apps");
            for (const std::string& name : FolderListing::namesOrEmpty(folder))
                if (Paths::deletingExtension(name) == id) probe(folder, name, "Icon", MatchConfidence::exact, id);
        }
        for (const auto& [folder, category] :
             {std::pair<std::string, const char*>{"/etc/xdg/autostart", "Autostart entry (system)"},
              {"/usr/local/share/applications", "Menu entry (system)"}}) {
            const std::string path = Paths::join(folder, id + ".desktop");
            if (Listing::exists(path) && !ownedByPackage(path))
                probe(folder, id + ".desktop", category, MatchConfidence::exact, id);
        }
    }

    // An AppImage's desktop integration.
    if (app.kind == AppKind::appImage && app.url != app.desktopEntry.value_or(""))
        for (const std::string& path : appImageIntegrationFiles(app.url))
            found.insert({{path, "Desktop integration", MatchConfidence::exact, 0, false}, {}});

    // Autostart entries that start the app whatever they are called.
    for (const auto& [folder, category] :
         {std::pair<std::string, const char*>{Paths::join(config, "autostart"), "Autostart entry"},
          {"/etc/xdg/autostart", "Autostart entry (system)"}}) {
        for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
            if (!name.ends_with(".desktop")) continue;
            const std::string path = Paths::join(folder, name);
            std::optional<DesktopEntry> entry = DesktopEntries::read(path);
            if (entry && runsApp(*entry, app) && (Paths::isInside(path, home) || !ownedByPackage(path)))
                probe(folder, name, category, MatchConfidence::exact, {});
        }
    }

    // A program that is its own app, lying in a folder that only looks like its own.
    if (app.kind == AppKind::program && app.executable && app.url == *app.executable) {
        const std::string folder = looseProgramFolder(*app.executable, sharedFolders);
        if (!folder.empty()) found.insert({{folder, "Program folder", MatchConfidence::likely, 0, false}, {}});
    }

    // Crash reports of the app's program ("/usr/bin/x" -> "_usr_bin_x.UID.crash").
    if (app.executable) {
        std::string mangled = *app.executable;
        std::replace(mangled.begin(), mangled.end(), '/', '_');
        const std::string name = mangled + "." + std::to_string(::getuid()) + ".crash";
        if (Listing::exists(Paths::join("/var/crash", name)))
            found.insert({{Paths::join("/var/crash", name), "Crash report", MatchConfidence::exact, 0, false}, {}});
    }

    // What another installed app matches exactly, what is (inside) another
    // app or this one, and what holds another app is not this app's leftover;
    // nor is the home folder, a user folder or a base folder, or what holds one.
    std::set<std::string> claimed;
    std::vector<std::string> otherPlaces;
    for (const InstalledApp& other : installed) {
        if (other.url == app.url) continue;
        for (const std::string& id : exactIds(other)) claimed.insert(id);
        for (const std::optional<std::string>& place : {std::optional(other.url), other.desktopEntry, other.executable})
            if (place) otherPlaces.push_back(Paths::standardize(*place));
    }
    // Both sides standardized once: this runs for every app against every other.
    auto inside = [](const std::string& path, const std::string& folder) {
        return path == folder || (path.size() > folder.size() && path.starts_with(folder) &&
                                  (folder == "/" || path[folder.size()] == '/'));
    };
    std::vector<LeftoverItem> items;
    for (Found& f : found.items()) {
        if (!f.key.empty() && claimed.count(f.key)) continue;
        f.item.url = Paths::standardize(f.item.url);
        const std::string& path = f.item.url;
        if (Paths::isInside(path, app.url) || sharedFolders.anyInside(path)) continue;
        if (std::any_of(otherPlaces.begin(), otherPlaces.end(),
                        [&](const std::string& place) { return inside(path, place) || inside(place, path); }))
            continue;
        items.push_back(std::move(f.item));
    }
    return items;
}

} // namespace vessora::LeftoverFinder
