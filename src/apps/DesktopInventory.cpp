#include "apps/DesktopInventory.h"

#include "apps/AppImageFile.h"
#include "apps/AppInventory.h"
#include "apps/DesktopEntry.h"
#include "apps/DpkgDatabase.h"
#include "apps/Listing.h"
#include "apps/Snaps.h"
#include "platform/PlatformTables.h"
#include "support/Paths.h"

#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

namespace vessora::DesktopInventory {
namespace {

constexpr std::string_view flatpakExports = "/exports/share/applications";

std::string withoutSuffix(const std::string& id) { return id.ends_with(".desktop") ? id.substr(0, id.size() - 8) : id; }

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Collects the records, one per identity (url), first found winning.
class Records {
public:
    InstalledApp* find(const std::string& url) {
        auto it = index_.find(url);
        return it == index_.end() ? nullptr : &apps_[it->second];
    }
    InstalledApp& add(InstalledApp app) {
        auto [it, added] = index_.emplace(app.url, apps_.size());
        if (added) apps_.push_back(std::move(app));
        return apps_[it->second];
    }
    std::vector<InstalledApp> take() { return std::move(apps_); }

private:
    std::vector<InstalledApp> apps_;
    std::unordered_map<std::string, size_t> index_;
};

// What a menu entry tells every kind of app.
void takeEntry(InstalledApp& app, const DesktopEntry& entry, const std::string& program) {
    if (!entry.name.empty()) app.name = entry.name;
    if (!entry.icon.empty()) app.iconName = entry.icon;
    if (!app.desktopEntry) app.desktopEntry = entry.path;
    if (!entry.startupWMClass.empty()) app.windowClass = entry.startupWMClass;
    if (!program.empty() && !app.executable) app.executable = program;
}

InstalledApp appImageRecord(const std::string& file) {
    InstalledApp app;
    app.url = file;
    app.kind = AppKind::appImage;
    app.name = Paths::deletingExtension(Paths::lastComponent(file));
    app.executable = file;
    if (std::optional<DesktopEntry> embedded = AppImageFile::embeddedEntry(file)) {
        if (!embedded->name.empty()) app.name = embedded->name;
        if (!embedded->appImageVersion.empty()) app.version = embedded->appImageVersion;
        if (!embedded->id.empty()) app.bundleID = withoutSuffix(embedded->id);
        if (!embedded->icon.empty()) app.iconName = embedded->icon;
        if (!embedded->startupWMClass.empty()) app.windowClass = embedded->startupWMClass;
    }
    return app;
}

} // namespace

Sources Sources::standard() {
    const AppTables& tables = PlatformTables::current().apps;
    Sources sources;
    sources.applicationFolders = DesktopEntries::applicationFolders();
    for (const char* folder : tables.appImageFolders)
        sources.appImageFolders.push_back(PlatformTables::resolveRoot(folder));
    sources.dpkgDatabase = tables.dpkgDatabase ? tables.dpkgDatabase : "";
    sources.snapRoot = tables.snapRoot ? tables.snapRoot : "";
    sources.snapFiles = tables.snapFiles ? tables.snapFiles : "";
    sources.flatpaks = Flatpaks::installed;
    return sources;
}

std::string programFolder(const std::string& program, const std::string& home) {
    std::string folder = Paths::parent(program);
    if (Paths::lastComponent(folder) == "bin") folder = Paths::parent(folder);
    if (Paths::isInside(program, "/opt")) return Paths::isInside(folder, "/opt") && folder != "/opt" ? folder : program;
    // Folders many programs share: removing one of them would take the others along.
    static const char* shared[] = {"",          ".local",   ".local/share", ".local/bin",
                                   "bin",       ".config",  ".cache",       "Applications",
                                   "AppImages", "Desktop",  "Downloads",    "opt",
                                   ".var",      ".var/app", "snap",         ".local/share/applications"};
    for (const char* name : shared)
        if (folder == (*name ? Paths::join(home, name) : home)) return program;
    for (const char* userDir :
         {"DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC", "PICTURES", "PUBLICSHARE", "TEMPLATES", "VIDEOS"})
        if (folder == PlatformTables::userDir(userDir)) return program;
    if (!Paths::isInside(folder, home) || folder == home) return program;
    // A folder right in the home folder is the program's own only when it is
    // named after it ("~/blender-4.0" for "blender"); "~/Games" or "~/Scripts"
    // hold other things too.
    if (Paths::parent(folder) == home) {
        auto lower = [](std::string text) {
            for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
            return text;
        };
        const std::string folderName = lower(Paths::lastComponent(folder));
        const std::string programName = lower(Paths::deletingExtension(Paths::lastComponent(program)));
        if (programName.size() < 3 || folderName.find(programName) == std::string::npos) return program;
    }
    return folder;
}

Flatpaks::Installed flatpakOf(const InstalledApp& app) {
    Flatpaks::Installed ref;
    ref.id = app.bundleID.value_or(Paths::lastComponent(app.url));
    std::string kindFolder = Paths::parent(app.url);
    ref.runtime = Paths::lastComponent(kindFolder) == "runtime";
    ref.installation = Paths::parent(kindFolder);
    ref.user = Paths::isInside(ref.installation, Paths::home());
    ref.name = app.name;
    return ref;
}

std::vector<InstalledApp> scan(const Sources& sources, bool includeSystem) {
    const std::string home = Paths::home();
    Records records;

    // Flatpaks and snaps first: their menu entries then only name them.
    std::map<std::string, std::string> flatpakById; // id -> url
    if (sources.flatpaks) {
        for (const Flatpaks::Installed& ref : sources.flatpaks(includeSystem)) {
            InstalledApp app;
            app.url = ref.folder();
            app.kind = AppKind::flatpak;
            app.name = ref.name;
            app.bundleID = ref.id;
            if (!ref.version.empty()) app.version = ref.version;
            app.installedSize = ref.installedBytes;
            app.isSystemApp = ref.runtime;
            app.iconName = ref.id;
            flatpakById.emplace(ref.id, app.url);
            records.add(std::move(app));
        }
    }
    if (!sources.snapRoot.empty()) {
        for (const Snaps::Snap& snap : Snaps::installed(sources.snapRoot, sources.snapFiles)) {
            InstalledApp app;
            app.url = snap.folder;
            app.kind = AppKind::snap;
            app.name = snap.title.empty() ? snap.name : snap.title;
            app.bundleID = snap.name;
            if (!snap.version.empty()) app.version = snap.version;
            app.installedSize = snap.size;
            app.isSystemApp = snap.isSystem();
            records.add(std::move(app));
        }
    }

    // Menu entries, read once; the package database is asked about all of
    // their files and programs in one pass.
    struct Visible {
        DesktopEntry entry;
        std::string program;
    };
    std::vector<Visible> visible;
    std::set<std::string> ownedQuery;
    for (DesktopEntry& entry : DesktopEntries::collect(sources.applicationFolders)) {
        if (entry.type != "Application" || entry.noDisplay || entry.hidden) continue;
        // An entry whose TryExec program is missing is not installed.
        if (!entry.tryExec.empty() && DesktopEntries::resolveProgram(entry.tryExec).empty()) continue;
        std::string program = DesktopEntries::resolveProgram(entry.exec);
        for (const std::string& path :
             {entry.path, realPath(entry.path), program, program.empty() ? program : realPath(program)})
            if (!path.empty()) ownedQuery.insert(path);
        visible.push_back({std::move(entry), std::move(program)});
    }
    std::map<std::string, std::string> owners;
    std::map<std::string, DpkgDatabase::Package> packages;
    std::set<std::string> sizedPackages;
    if (!sources.dpkgDatabase.empty()) {
        owners = DpkgDatabase::owners(sources.dpkgDatabase, ownedQuery);
        std::set<std::string> names;
        for (const auto& [path, name] : owners) names.insert(name);
        packages = DpkgDatabase::packages(sources.dpkgDatabase, names);
    }
    auto ownerOf = [&](const std::string& path) -> std::string {
        if (path.empty()) return {};
        if (auto it = owners.find(path); it != owners.end()) return it->second;
        if (auto it = owners.find(realPath(path)); it != owners.end()) return it->second;
        return {};
    };

    for (const Visible& item : visible) {
        const DesktopEntry& entry = item.entry;
        const std::string& program = item.program;
        const std::string id = withoutSuffix(entry.id);

        if (!entry.flatpakId.empty()) {
            InstalledApp* app = nullptr;
            if (auto it = flatpakById.find(entry.flatpakId); it != flatpakById.end()) app = records.find(it->second);
            if (!app) {
                // Known from its exported entry only (libflatpak found no installation).
                InstalledApp made;
                size_t at = entry.path.find(flatpakExports);
                made.url = at == std::string::npos ? entry.path : entry.path.substr(0, at) + "/app/" + entry.flatpakId;
                made.kind = AppKind::flatpak;
                made.bundleID = entry.flatpakId;
                made.name = entry.flatpakId;
                app = &records.add(std::move(made));
                flatpakById.emplace(entry.flatpakId, app->url);
            }
            takeEntry(*app, entry, program);
            continue;
        }
        if (!entry.snapInstanceName.empty()) {
            std::string url =
                Paths::join(sources.snapRoot.empty() ? "/snap" : sources.snapRoot, entry.snapInstanceName);
            InstalledApp* app = records.find(url);
            if (!app) {
                InstalledApp made;
                made.url = url;
                made.kind = AppKind::snap;
                made.bundleID = entry.snapInstanceName;
                made.name = entry.snapInstanceName;
                app = &records.add(std::move(made));
            }
            takeEntry(*app, entry, program);
            continue;
        }
        const bool integrated = entry.id.starts_with("appimagekit_");
        if (integrated || (!program.empty() && AppImageFile::isAppImage(program))) {
            InstalledApp* app = program.empty() ? nullptr : records.find(program);
            if (!app) {
                if (!program.empty() && isRegularFile(program)) {
                    app = &records.add(appImageRecord(program));
                } else {
                    // The AppImage is gone and left its menu entry behind.
                    InstalledApp made;
                    made.url = entry.path;
                    made.kind = AppKind::appImage;
                    made.bundleID = id;
                    app = &records.add(std::move(made));
                }
            }
            takeEntry(*app, entry, program);
            if (!app->version && !entry.appImageVersion.empty()) app->version = entry.appImageVersion;
            continue;
        }
        std::string owner = ownerOf(entry.path);
        if (owner.empty()) owner = ownerOf(program);
        if (!owner.empty()) {
            InstalledApp app;
            app.url = entry.path;
            app.kind = AppKind::package;
            app.bundleID = id;
            app.name = id;
            app.package = owner;
            app.isSystemApp = true;
            if (auto it = packages.find(owner); it != packages.end()) {
                if (!it->second.version.empty()) app.version = it->second.version;
                // A package with several menu entries is counted once, by its
                // first entry; the others are measured as the entry itself, so
                // the list's total stays the disk's.
                if (sizedPackages.insert(owner).second) app.installedSize = it->second.installedBytes;
            }
            takeEntry(app, entry, program);
            records.add(std::move(app));
            continue;
        }
        InstalledApp app;
        app.kind = AppKind::program;
        app.bundleID = id;
        app.name = id;
        if (program.empty()) {
            // Its program is gone: the entry is all that is left of it.
            app.url = entry.path;
        } else {
            app.url = programFolder(program, home);
            app.isSystemApp = !Paths::isInside(program, home) && !Paths::isInside(program, "/opt");
        }
        if (InstalledApp* existing = records.find(app.url)) {
            takeEntry(*existing, entry, program);
            continue;
        }
        takeEntry(app, entry, program);
        records.add(std::move(app));
    }

    // AppImages nobody integrated into the menu.
    for (const std::string& folder : sources.appImageFolders) {
        for (const std::string& name : Listing::names(folder)) {
            if (name.starts_with('.')) continue;
            std::string path = Paths::join(folder, name);
            if (records.find(path) || !isRegularFile(path) || !AppImageFile::isAppImage(path)) continue;
            records.add(appImageRecord(path));
        }
    }

    std::vector<InstalledApp> apps = records.take();
    if (!includeSystem) std::erase_if(apps, [](const InstalledApp& app) { return app.isSystemApp; });
    AppInventory::sortByName(apps);
    return apps;
}

} // namespace vessora::DesktopInventory
