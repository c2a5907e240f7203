#include "apps/DesktopInventory.h"

#include "apps/AppImageFile.h"
#include "apps/AppInventory.h"
#include "apps/DesktopEntry.h"
#include "apps/DpkgDatabase.h"
#include "apps/Snaps.h"
#include "platform/PlatformTables.h"
#include "support/FolderListing.h"
#include "support/Paths.h"

#include <sys/stat.h>

#include <algorithm>
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

bool isRealFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool lowerAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// Flatpak's own rule for an application ID: at least three dot-separated
// elements of letters, digits, '_' and '-', none starting with a digit.
bool isFlatpakId(std::string_view id) {
    if (id.empty() || id.size() > 255) return false;
    size_t elements = 0;
    for (size_t start = 0;; ++elements) {
        size_t dot = id.find('.', start);
        std::string_view element = id.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (element.empty() || std::isdigit(static_cast<unsigned char>(element[0]))) return false;
        for (char c : element)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
        if (dot == std::string_view::npos) return elements + 1 >= 3;
        start = dot + 1;
    }
}

// snapd's rule for an instance name: the snap's name (lower-case letters,
// digits and inner hyphens, at least one letter), optionally "_" and a key.
bool isSnapInstanceName(std::string_view name) {
    const size_t underscore = name.find('_');
    const std::string_view snap = name.substr(0, underscore);
    if (snap.empty() || snap.size() > 40 || snap.front() == '-' || snap.back() == '-') return false;
    if (snap.find("--") != std::string_view::npos) return false;
    if (!std::any_of(snap.begin(), snap.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return false;
    if (!std::all_of(snap.begin(), snap.end(), [](char c) { return lowerAlnum(c) || c == '-'; })) return false;
    if (underscore == std::string_view::npos) return true;
    const std::string_view key = name.substr(underscore + 1);
    return !key.empty() && key.size() <= 10 && std::all_of(key.begin(), key.end(), lowerAlnum);
}

// Collects the records, one per identity (url, standardized), first found winning.
class Records {
public:
    InstalledApp* find(const std::string& url) {
        auto it = index_.find(Paths::standardize(url));
        return it == index_.end() ? nullptr : &apps_[it->second];
    }
    InstalledApp& add(InstalledApp app) {
        app.url = Paths::standardize(app.url);
        auto [it, added] = index_.emplace(app.url, apps_.size());
        if (added) apps_.push_back(std::move(app));
        return apps_[it->second];
    }
    std::vector<InstalledApp>& all() { return apps_; }
    std::vector<InstalledApp> take() { return std::move(apps_); }

private:
    std::vector<InstalledApp> apps_;
    std::unordered_map<std::string, size_t> index_;
};

// What a menu entry tells every kind of app. The first entry that speaks for
// an app names it; a later one (another entry running the same program)
// never renames it.
void takeEntry(InstalledApp& app, const DesktopEntry& entry, const std::string& program, std::set<std::string>& named) {
    if (named.insert(app.url).second) {
        if (!entry.name.empty()) app.name = entry.name;
        if (!entry.icon.empty()) app.iconName = entry.icon;
        if (!entry.startupWMClass.empty()) app.windowClass = entry.startupWMClass;
    }
    if (!app.desktopEntry) app.desktopEntry = entry.path;
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

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// An AppImage's embedded entry names what it claims to be; any download can
// claim "Signal". Its identifier stays exact only when a menu entry on this
// machine runs the AppImage and no other installed app goes by that
// identifier or name; otherwise its data is matched by name alone (likely).
void settleAppImageIdentifiers(std::vector<InstalledApp>& apps, const std::set<std::string>& integrated) {
    for (InstalledApp& app : apps) {
        if (app.kind != AppKind::appImage || !app.bundleID) continue;
        bool exact = integrated.count(app.url) > 0;
        for (const InstalledApp& other : apps) {
            if (!exact) break;
            if (&other == &app) continue;
            const std::string otherEntry =
                other.desktopEntry ? withoutSuffix(Paths::lastComponent(*other.desktopEntry)) : std::string();
            if ((other.bundleID && sameName(*other.bundleID, *app.bundleID)) || sameName(otherEntry, *app.bundleID) ||
                sameName(other.name, app.name) || sameName(other.name, *app.bundleID))
                exact = false;
        }
        if (!exact) app.bundleID.reset();
    }
}

// A menu entry's program that may have a folder of its own.
struct Program {
    DesktopEntry entry;
    std::string program;
    std::string folder; // programFolder(), the program itself when it has none
};

// A program's folder is its own only when no other app lives in it: entries
// whose programs share a folder are separate apps, each its program alone.
void keepFoldersToThemselves(std::vector<Program>& programs, const std::vector<InstalledApp>& others,
                             const SharedFolders& sharedFolders) {
    std::map<std::string, std::set<std::string>> programsIn;
    for (const Program& p : programs) programsIn[p.folder].insert(p.program);
    for (Program& p : programs) {
        if (p.folder == p.program) continue;
        bool shared = programsIn[p.folder].size() > 1 || Paths::isInside(p.entry.path, p.folder);
        for (const Program& q : programs)
            shared = shared || (q.program != p.program && Paths::isInside(q.program, p.folder));
        for (const InstalledApp& other : others)
            shared = shared || Paths::isInside(other.url, p.folder) ||
                     (other.executable && Paths::isInside(*other.executable, p.folder)) ||
                     (other.desktopEntry && Paths::isInside(*other.desktopEntry, p.folder));
        // A link in its place, or a folder reached through one, may be the
        // user's files under another name.
        shared = shared || !isRealFolder(p.folder) || !sharedFolders.isApart(realPath(p.folder)) ||
                 !Paths::isInside(realPath(p.program), realPath(p.folder));
        if (shared) p.folder = p.program;
    }
}

} // namespace

SharedFolders::SharedFolders(std::string home) : home_(std::move(home)) {
    for (const char* key :
         {"DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC", "PICTURES", "PUBLICSHARE", "TEMPLATES", "VIDEOS"})
        if (std::optional<std::string> folder = Paths::userDir(key)) user_.push_back(*folder);
    for (const char* name : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Public", "Templates", "Videos"})
        user_.push_back(Paths::join(home_, name));
    for (const char* base : {"$XDG_CONFIG_HOME", "$XDG_DATA_HOME", "$XDG_CACHE_HOME"})
        bases_.push_back(PlatformTables::resolveRoot(base));
    for (const char* base : {".local/state", ".local/bin"}) bases_.push_back(Paths::join(home_, base));
    around_ = user_;
    const std::string data = PlatformTables::resolveRoot("$XDG_DATA_HOME");
    for (const char* shared : {"applications", "flatpak"}) around_.push_back(Paths::join(data, shared));
    for (const char* shared : {".var", "snap"}) around_.push_back(Paths::join(home_, shared));
}

bool SharedFolders::anyInside(const std::string& path) const {
    auto holds = [&](const std::string& folder) { return Paths::isInside(folder, path); };
    return holds(home_) || std::any_of(user_.begin(), user_.end(), holds) ||
           std::any_of(bases_.begin(), bases_.end(), holds);
}

bool SharedFolders::isApart(const std::string& folder) const {
    return !anyInside(folder) && std::none_of(around_.begin(), around_.end(), [&](const std::string& shared) {
        return Paths::isInside(folder, shared);
    });
}

bool isSingleName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

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

std::string programFolder(const std::string& program, const SharedFolders& shared, const std::string& id) {
    const std::string& home = shared.home();
    std::string folder = Paths::parent(program);
    if (Paths::lastComponent(folder) == "bin") folder = Paths::parent(folder);
    // Folders where each program keeps a folder of its own; the folder itself
    // is shared by all of them.
    bool own = false;
    for (const std::string& root : {std::string("/opt"), Paths::join(home, "Applications"), Paths::join(home, "Apps"),
                                    Paths::join(home, "opt"), Paths::join(home, ".local/opt")})
        own = own || (Paths::isInside(folder, root) && Paths::standardize(folder) != Paths::standardize(root));
    if (isSingleName(id) && !id.starts_with('.'))
        own = own || Paths::isInside(folder, Paths::join(home, ".local/share/" + id));
    return own && shared.isApart(folder) ? Paths::standardize(folder) : program;
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
    const SharedFolders sharedFolders(home);
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

    std::set<std::string> named;      // urls a menu entry has named
    std::set<std::string> integrated; // AppImages a menu entry runs
    std::vector<Program> programs;    // programs of their own, settled once all are known
    for (const Visible& item : visible) {
        const DesktopEntry& entry = item.entry;
        const std::string& program = item.program;
        const std::string id = withoutSuffix(entry.id);

        // An X-Flatpak that is no Flatpak ID names nothing (it would climb
        // out of the installation as a path).
        if (isFlatpakId(entry.flatpakId)) {
            if (auto it = flatpakById.find(entry.flatpakId); it != flatpakById.end()) {
                // libflatpak's record is the truth; only the entry the Flatpak
                // exported itself speaks for it, never one anybody can write.
                InstalledApp* app = records.find(it->second);
                const std::string installation = Paths::parent(Paths::parent(app->url));
                if (Paths::isInside(entry.path, installation + std::string(flatpakExports)))
                    takeEntry(*app, entry, program, named);
                continue;
            }
            // Known from its exported entry only (libflatpak found no installation).
            InstalledApp made;
            size_t at = entry.path.find(flatpakExports);
            made.url = at == std::string::npos ? entry.path : entry.path.substr(0, at) + "/app/" + entry.flatpakId;
            made.kind = AppKind::flatpak;
            made.bundleID = entry.flatpakId;
            made.name = entry.flatpakId;
            InstalledApp& app = records.add(std::move(made));
            flatpakById.emplace(entry.flatpakId, app.url);
            takeEntry(app, entry, program, named);
            continue;
        }
        if (isSnapInstanceName(entry.snapInstanceName)) {
            std::string url =
                Paths::join(sources.snapRoot.empty() ? "/snap" : sources.snapRoot, entry.snapInstanceName);
            if (InstalledApp* app = records.find(url)) {
                // snapd names each of a snap's entries "<instance>_<app>.desktop".
                if (entry.id.starts_with(entry.snapInstanceName + "_")) takeEntry(*app, entry, program, named);
                continue;
            }
            InstalledApp made;
            made.url = url;
            made.kind = AppKind::snap;
            made.bundleID = entry.snapInstanceName;
            made.name = entry.snapInstanceName;
            takeEntry(records.add(std::move(made)), entry, program, named);
            continue;
        }
        const bool integration = entry.id.starts_with("appimagekit_");
        if (integration || (!program.empty() && AppImageFile::isAppImage(program))) {
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
                    // Its identifier is its own menu entry's, not a claim.
                    integrated.insert(app->url);
                }
            }
            if (!program.empty() && app->url == Paths::standardize(program)) integrated.insert(app->url);
            takeEntry(*app, entry, program, named);
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
            takeEntry(app, entry, program, named);
            records.add(std::move(app));
            continue;
        }
        programs.push_back({entry, program, program.empty() ? program : programFolder(program, sharedFolders, id)});
    }

    // AppImages nobody integrated into the menu.
    std::set<std::string> knownImages;
    for (const InstalledApp& app : records.all())
        if (app.kind == AppKind::appImage) knownImages.insert(realPath(app.url));
    for (const std::string& folder : sources.appImageFolders) {
        for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
            if (name.starts_with('.')) continue;
            std::string path = Paths::join(folder, name);
            if (records.find(path) || !isRegularFile(path) || !AppImageFile::isAppImage(path)) continue;
            if (!knownImages.insert(realPath(path)).second) continue;
            records.add(appImageRecord(path));
        }
    }

    // Programs of their own, now that every other app's place is known.
    keepFoldersToThemselves(programs, records.all(), sharedFolders);
    for (const Program& p : programs) {
        const DesktopEntry& entry = p.entry;
        InstalledApp app;
        app.kind = AppKind::program;
        app.bundleID = withoutSuffix(entry.id);
        app.name = *app.bundleID;
        if (p.program.empty()) {
            // Its program is gone: the entry is all that is left of it.
            app.url = entry.path;
        } else {
            app.url = p.folder;
            app.isSystemApp = !Paths::isInside(p.program, home) && !Paths::isInside(p.program, "/opt");
        }
        // Two entries running one program are one app, named by the first.
        InstalledApp* existing = records.find(app.url);
        takeEntry(existing ? *existing : records.add(std::move(app)), entry, p.program, named);
    }

    std::vector<InstalledApp> apps = records.take();
    settleAppImageIdentifiers(apps, integrated);
    for (InstalledApp& app : apps) {
        // Identifiers name files and folders (~/.config/<id>): one name each.
        if (app.bundleID && !isSingleName(*app.bundleID)) app.bundleID.reset();
        if (app.executable) app.executable = Paths::standardize(*app.executable);
        if (app.desktopEntry) app.desktopEntry = Paths::standardize(*app.desktopEntry);
    }
    if (!includeSystem) std::erase_if(apps, [](const InstalledApp& app) { return app.isSystemApp; });
    AppInventory::sortByName(apps);
    return apps;
}

} // namespace vessora::DesktopInventory
