#include "catalog/StorageCategories.h"

#include "apps/AppImageFile.h"
#include "apps/RunningApps.h"
#include "catalog/CleanupCatalog.h"
#include "platform/MountTable.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/FolderListing.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {

std::string_view categoryMeasurementName(CategoryMeasurement measurement) {
    return measurement == CategoryMeasurement::remainder ? "remainder" : "measured";
}

CategoryAction CategoryAction::readOnly(std::string reason) {
    CategoryAction action;
    action.kind = Kind::readOnly;
    action.reason = std::move(reason);
    return action;
}

CategoryAction CategoryAction::backupThenRemove(std::optional<std::string> quitFirst, std::string warning) {
    CategoryAction action;
    action.kind = Kind::backupThenRemove;
    action.quitFirst = std::move(quitFirst);
    action.warning = std::move(warning);
    return action;
}

CategoryAction CategoryAction::applications() {
    CategoryAction action;
    action.kind = Kind::applications;
    return action;
}

CategoryAction CategoryAction::removable() { return CategoryAction{}; }

std::string_view CategoryAction::name() const {
    switch (kind) {
    case Kind::readOnly: return "readOnly";
    case Kind::backupThenRemove: return "backupThenRemove";
    case Kind::applications: return "applications";
    case Kind::removable: return "removable";
    }
    return "removable";
}

namespace StorageCategories {

namespace {

CategoryAction actionOf(const CategoryRow& row) {
    switch (row.action) {
    case CategoryActionKind::readOnly: return CategoryAction::readOnly(row.actionText);
    case CategoryActionKind::backupThenRemove:
        return CategoryAction::backupThenRemove(
            row.quitFirst ? std::optional<std::string>(row.quitFirst) : std::nullopt, row.actionText);
    case CategoryActionKind::applications: return CategoryAction::applications();
    case CategoryActionKind::removable: return CategoryAction::removable();
    }
    return CategoryAction::removable();
}

void appendExpanded(std::vector<std::string>& out, const std::vector<const char*>& roots) {
    for (const char* root : roots)
        for (std::string& path : PlatformTables::expandRoot(root)) out.push_back(std::move(path));
}

bool isFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Every string value of a "path" key in Dropbox's info.json.
std::vector<std::string> dropboxPaths(const std::string& json) {
    std::vector<std::string> paths;
    for (size_t at = 0; (at = json.find("\"path\"", at)) != std::string::npos;) {
        at += 6;
        size_t colon = json.find_first_not_of(" \t\r\n", at);
        if (colon == std::string::npos || json[colon] != ':') continue;
        size_t open = json.find_first_not_of(" \t\r\n", colon + 1);
        if (open == std::string::npos || json[open] != '"') continue;
        std::string value;
        size_t i = open + 1;
        for (; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size()) ++i;
            value += json[i];
        }
        if (!value.empty()) paths.push_back(value);
        at = i;
    }
    return paths;
}

// "KEY=value" lines whose key ends with `suffix` (Nextcloud's "0\Folders\1\localPath").
std::vector<std::string> iniValues(const std::string& text, std::string_view suffix) {
    std::vector<std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        if (!std::string_view(key).ends_with(suffix)) continue;
        std::string value = line.substr(equals + 1);
        size_t start = value.find_first_not_of(" \t\"");
        size_t end = value.find_last_not_of(" \t\"\r");
        if (start != std::string::npos) values.push_back(value.substr(start, end - start + 1));
    }
    return values;
}

// Nothing below a network or FUSE mount is measured: its server may not
// answer, and asking would make it fetch the remote tree.
bool onRemoteMount(const std::string& path, const std::vector<MountEntry>& mounts) {
    for (const MountEntry& m : mounts)
        if (MountTable::isRemote(m) && Paths::isInside(path, m.mountPoint)) return true;
    return false;
}

// A folder this user cannot list: shown with an unknown size, for an administrator.
bool unreadableFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::access(path.c_str(), R_OK | X_OK) != 0;
}

// The folders of the cleanup target `id` (its roots and whole roots,
// expanded), but for those inside one of `roots`, which count them already.
std::vector<std::string> cleanupTargetFolders(std::string_view id, const std::vector<std::string>& roots) {
    std::vector<std::string> folders;
    for (const CleanupTargetRow& row : PlatformTables::current().cleanupTargets) {
        if (id != row.id) continue;
        std::vector<const char*> tokens = row.roots;
        tokens.insert(tokens.end(), row.wholeRoots.begin(), row.wholeRoots.end());
        for (const char* token : tokens)
            for (std::string& path : CleanupCatalog::expandRoot(token)) {
                const bool counted = std::any_of(roots.begin(), roots.end(),
                                                 [&](const std::string& root) { return Paths::isInside(path, root); });
                if (!counted) folders.push_back(std::move(path));
            }
    }
    return folders;
}

// A user folder of some category's row: roots[index] of categories[category].
struct UserFolder {
    size_t category;
    size_t index;
    std::string path;   // as user-dirs.dirs (or the default) names it
    std::string target; // the real folder it stands for; empty: left out
};

// The disk a device number belongs to, from the mount table: the block
// device of the mount that reports it (Btrfs subvolumes of one disk share
// it), else the file system itself; empty when no mount reports it (a
// subvolume not mounted on its own lies in its parent's).
std::string diskOf(dev_t device, const std::vector<MountEntry>& mounts) {
    for (const MountEntry& m : mounts)
        if (MountTable::deviceNumber(m.deviceId) == device)
            return m.source.starts_with("/dev/") ? m.source : "device " + m.deviceId;
    return {};
}

// The real folder a user folder stands for, spelled below the home folder
// as the other roots are. Its links are resolved, never a network mount's:
// a link into one is judged from the link's text and the mount table alone.
std::optional<std::string> realFolder(const UserFolder& folder, const std::string& home, const std::string& realHome,
                                      const std::vector<MountEntry>& mounts, std::string& note) {
    const std::string name = Paths::lastComponent(folder.path);
    struct stat st;
    if (::lstat(folder.path.c_str(), &st) != 0) return folder.path; // missing: nothing to measure
    if (S_ISLNK(st.st_mode)) {
        char text[PATH_MAX];
        const ssize_t n = ::readlink(folder.path.c_str(), text, sizeof text - 1);
        if (n <= 0) return std::nullopt;
        std::string written(text, size_t(n));
        if (!written.starts_with('/')) written = Paths::join(Paths::parent(folder.path), written);
        written = Paths::standardize(written);
        if (onRemoteMount(written, mounts)) {
            note = name + " is on another disk (" + written + "), so it is not counted here.";
            return std::nullopt;
        }
    }
    char* resolved = ::realpath(folder.path.c_str(), nullptr);
    if (!resolved) return std::nullopt; // a dangling link holds nothing
    std::string target = resolved;
    std::free(resolved);
    if (onRemoteMount(target, mounts)) {
        note = name + " is on another disk (" + target + "), so it is not counted here.";
        return std::nullopt;
    }
    struct stat targetStat, homeStat;
    if (::stat(target.c_str(), &targetStat) != 0 || ::stat(home.c_str(), &homeStat) != 0) return std::nullopt;
    if (targetStat.st_dev != homeStat.st_dev) {
        const std::string there = diskOf(targetStat.st_dev, mounts), here = diskOf(homeStat.st_dev, mounts);
        if (!there.empty() && !here.empty() && there != here) {
            note = name + " is on another disk (" + target + "), so it is not counted here.";
            return std::nullopt;
        }
    }
    if (realHome != home && Paths::isInside(target, realHome)) target = home + target.substr(realHome.size());
    return target;
}

// User folders are measured where they really are. One that is on another
// disk, lies in a folder some category counts already, or holds one, is left
// out with a note, so nothing counts twice or against the wrong disk; of two
// user folders one inside the other, the outer one counts.
void settleUserFolders(std::vector<StorageCategory>& categories, std::vector<UserFolder>& folders) {
    if (folders.empty()) return;
    const std::string home = Paths::standardize(Paths::home());
    std::string realHome = home;
    if (char* resolved = ::realpath(home.c_str(), nullptr)) {
        realHome = resolved;
        std::free(resolved);
    }
    const std::vector<MountEntry> mounts = MountTable::read();
    auto leaveOut = [&](UserFolder& folder, std::string note) {
        folder.target.clear();
        categories[folder.category].notes.push_back(std::move(note));
    };
    for (UserFolder& folder : folders) {
        std::string note;
        if (auto target = realFolder(folder, home, realHome, mounts, note))
            folder.target = *target;
        else if (!note.empty())
            leaveOut(folder, std::move(note));
    }
    // Every other root, and the category it belongs to.
    std::vector<std::pair<std::string, size_t>> others;
    for (size_t c = 0; c < categories.size(); ++c) {
        if (categories[c].measurement == CategoryMeasurement::remainder) continue;
        for (size_t i = 0; i < categories[c].roots.size(); ++i) {
            const bool user = std::any_of(folders.begin(), folders.end(),
                                          [&](const UserFolder& f) { return f.category == c && f.index == i; });
            if (!user) others.emplace_back(Paths::standardize(categories[c].roots[i]), c);
        }
        for (const std::string& root : categories[c].wholeRoots) others.emplace_back(Paths::standardize(root), c);
    }
    auto exists = [](const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    };
    for (UserFolder& folder : folders) {
        if (folder.target.empty()) continue;
        const std::string name = Paths::lastComponent(folder.path);
        for (const auto& [root, owner] : others)
            if (Paths::isInside(folder.target, root)) {
                leaveOut(folder,
                         name + " (" + folder.target + ") is already counted under " + categories[owner].title + ".");
                break;
            }
        if (folder.target.empty()) continue;
        const bool holds =
            Paths::isInside(home, folder.target) || std::any_of(others.begin(), others.end(), [&](const auto& other) {
                return Paths::isInside(other.first, folder.target) && exists(other.first);
            });
        if (holds)
            leaveOut(folder, name + " (" + folder.target +
                                 ") holds folders that other categories count, so it is not counted here.");
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        UserFolder& folder = folders[i];
        if (folder.target.empty()) continue;
        for (size_t j = 0; j < folders.size(); ++j) {
            const UserFolder& outer = folders[j];
            if (j == i || outer.target.empty() || !Paths::isInside(folder.target, outer.target)) continue;
            if (folder.target == outer.target && j > i) continue;
            leaveOut(folder, Paths::lastComponent(folder.path) + " (" + folder.target + ") is already counted under " +
                                 categories[outer.category].title + ".");
            break;
        }
    }
    // Each user folder's root becomes its real folder, or goes.
    std::vector<std::vector<std::string>> roots(categories.size());
    for (size_t c = 0; c < categories.size(); ++c) roots[c] = categories[c].roots;
    for (const UserFolder& folder : folders) roots[folder.category][folder.index] = folder.target;
    for (size_t c = 0; c < categories.size(); ++c) {
        std::erase(roots[c], std::string());
        categories[c].roots = std::move(roots[c]);
    }
}

} // namespace

std::vector<std::string> otherUserRoots() {
    return otherUserRoots([](const std::string& path) { return FolderListing::names(path); });
}

std::vector<std::string> otherUserRoots(const FolderLister& list) {
    const CategoryTables& tables = PlatformTables::current().categories;
    const std::string account = Paths::lastComponent(Paths::home());
    const std::string users = tables.usersFolder;
    std::vector<std::string> roots(tables.sharedFolders.begin(), tables.sharedFolders.end());
    for (const std::string& name : list(users).value_or(std::vector<std::string>{})) {
        if (name == account || name.starts_with('.')) continue;
        if (std::any_of(tables.skippedUserNames.begin(), tables.skippedUserNames.end(),
                        [&](const char* skipped) { return name == skipped; }))
            continue;
        std::string path = Paths::join(users, name);
        // Listed once: a shared folder may live in the users folder.
        if (std::find(roots.begin(), roots.end(), path) == roots.end()) roots.push_back(std::move(path));
    }
    return roots;
}

std::vector<std::string> cloudSyncFolders() {
    const std::string home = Paths::home();
    const std::string config = PlatformTables::resolveRoot("$XDG_CONFIG_HOME");
    std::vector<std::string> candidates =
        dropboxPaths(WholeFile::read(Paths::join(home, ".dropbox/info.json")).value_or(""));
    for (const char* file : {"Nextcloud/nextcloud.cfg", "ownCloud/owncloud.cfg"})
        for (std::string& path : iniValues(WholeFile::read(Paths::join(config, file)).value_or(""), "localPath"))
            candidates.push_back(std::move(path));
    if (isFolder(Paths::join(config, "onedrive"))) {
        std::vector<std::string> dirs =
            iniValues(WholeFile::read(Paths::join(config, "onedrive/config")).value_or(""), "sync_dir");
        candidates.push_back(dirs.empty() ? "~/OneDrive" : dirs.back());
    }
    for (const char* folder : {"~/Insync", "~/MEGA", "~/MEGAsync"}) candidates.push_back(folder);
    std::vector<std::string> folders;
    for (const std::string& candidate : candidates) {
        std::string path = Paths::standardize(candidate);
        if (path.empty() || !path.starts_with('/')) continue;
        if (std::find(folders.begin(), folders.end(), path) == folders.end()) folders.push_back(path);
    }
    // Only real folders; a client's FUSE mount is never stat'ed here.
    const std::vector<MountEntry> mounts = MountTable::read();
    std::erase_if(folders, [&](const std::string& path) { return onRemoteMount(path, mounts) || !isFolder(path); });
    return folders;
}

std::vector<StorageCategory> all() {
    std::vector<StorageCategory> categories;
    std::vector<UserFolder> userFolders;
    for (const CategoryRow& row : PlatformTables::current().categories.rows) {
        StorageCategory category;
        category.id = row.id;
        category.title = row.title;
        category.symbol = row.symbol;
        category.colorName = row.colorName;
        category.detail = row.detail;
        switch (row.rootSource) {
        case CategoryRootSource::table: break;
        case CategoryRootSource::otherUsers: category.roots = otherUserRoots(); break;
        case CategoryRootSource::cloudSync: category.roots = cloudSyncFolders(); break;
        case CategoryRootSource::trash:
            // All a trash folder holds, as the Trash target of the cleanup
            // list counts it: the trashed items, their records, what is being
            // emptied and the size cache. The folders themselves stay.
            for (const std::string& folder : MountTable::trashFolders()) {
                for (const char* part : {"files", "info", "expunged"})
                    category.roots.push_back(Paths::join(folder, part));
                category.wholeRoots.push_back(Paths::join(folder, "directorysizes"));
            }
            break;
        }
        for (const char* root : row.roots)
            for (std::string& path : PlatformTables::expandRoot(root)) {
                if (std::string_view(root).starts_with("xdg:"))
                    userFolders.push_back({categories.size(), category.roots.size(), path, {}});
                category.roots.push_back(std::move(path));
            }
        appendExpanded(category.wholeRoots, row.wholeRoots);
        for (const char* id : row.cleanupTargets)
            for (std::string& path : cleanupTargetFolders(id, category.roots)) {
                if (std::find(category.wholeRoots.begin(), category.wholeRoots.end(), path) ==
                    category.wholeRoots.end())
                    category.wholeRoots.push_back(std::move(path));
            }
        appendExpanded(category.appImageFolders, row.appImageFolders);
        // The user's own home is never "another user", also when it is /root.
        if (row.rootSource == CategoryRootSource::otherUsers)
            std::erase(category.roots, Paths::standardize(Paths::home()));
        category.listsContents = row.listsContents;
        category.risk = row.risk;
        category.measurement = row.remainder ? CategoryMeasurement::remainder : CategoryMeasurement::measured;
        category.action = actionOf(row);
        if (row.caveat) category.caveat = row.caveat;
        categories.push_back(std::move(category));
    }
    settleUserFolders(categories, userFolders);
    return categories;
}

std::set<std::string> claimedPaths() {
    std::set<std::string> claimed;
    for (const StorageCategory& category : all()) {
        if (category.measurement == CategoryMeasurement::remainder) continue;
        for (const std::string& root : category.roots) claimed.insert(Paths::standardize(root));
        for (const std::string& root : category.wholeRoots) claimed.insert(Paths::standardize(root));
    }
    for (const std::string& folder : MountTable::trashFolders()) claimed.insert(Paths::standardize(folder));
    claimed.merge(ScanOptions::systemManagedPaths());
    claimed.merge(ScanOptions::cloudProviderRoots(Paths::home()));
    return claimed;
}

std::vector<std::string> systemDataRoots() {
    std::vector<std::string> roots;
    appendExpanded(roots, PlatformTables::current().categories.systemDataRoots);
    return roots;
}

MeasuredCategory measure(const StorageCategory& category, const Cancelled& cancelled,
                         DiskScanner::CountedLinks* counted) {
    MeasuredCategory result{category, 0, {}, true};
    if (category.measurement == CategoryMeasurement::remainder) return result;
    // One options value and one mount table for the whole call.
    const ScanOptions options;
    const std::vector<MountEntry> mounts = MountTable::read();
    DiskScanner::CountedLinks own;
    DiskScanner::CountedLinks* shared = counted ? counted : &own;
    auto consider = [&](const std::string& path) {
        if (unreadableFolder(path)) {
            CleanupEntry entry = CleanupCatalog::makeEntry(path, 0);
            entry.needsAdmin = true;
            result.entries.push_back(std::move(entry));
            return;
        }
        int64_t size = DiskScanner::quickSize(path, options, cancelled, shared);
        if (size > 0) result.entries.push_back(CleanupCatalog::makeEntry(path, size));
    };
    for (const std::string& root : category.roots) {
        struct stat st;
        if (onRemoteMount(root, mounts) || ::lstat(root.c_str(), &st) != 0) continue;
        // A root that is a file (an AppImage) or cannot be listed is one entry.
        if (!category.listsContents || !S_ISDIR(st.st_mode) || unreadableFolder(root)) {
            consider(root);
            continue;
        }
        auto names = FolderListing::names(root);
        if (!names) continue;
        for (const std::string& name : *names)
            if (name != ".DS_Store") consider(Paths::join(root, name));
    }
    // An AppImage is known by its magic bytes, not by its name (which may be
    // "nvim" or "tool.appimage"); a link or anything but a file is not one.
    for (const std::string& folder : category.appImageFolders) {
        if (onRemoteMount(folder, mounts)) continue;
        for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
            const std::string path = Paths::join(folder, name);
            struct stat st;
            if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && AppImageFile::isAppImage(path))
                consider(path);
        }
    }
    for (const std::string& root : category.wholeRoots) {
        struct stat st;
        if (!onRemoteMount(root, mounts) && ::lstat(root.c_str(), &st) == 0) consider(root);
    }
    CleanupCatalog::sortLargestFirst(result.entries);
    for (const CleanupEntry& entry : result.entries) result.size += entry.size;
    return result;
}

std::vector<MeasuredCategory> measureAll(const std::vector<StorageCategory>& categories, const Cancelled& cancelled,
                                         const std::function<void(const MeasuredCategory&)>& deliver) {
    // In table order, not side by side: which category a shared file counts
    // in must not depend on which walk gets there first.
    DiskScanner::CountedLinks counted;
    std::vector<MeasuredCategory> measured;
    measured.reserve(categories.size());
    for (const StorageCategory& category : categories) {
        measured.push_back(measure(category, cancelled, &counted));
        if (deliver) deliver(measured.back());
    }
    return measured;
}

std::optional<std::string> runningChatApp(const std::vector<std::string>& paths, const std::string& procRoot) {
    std::vector<const ChatApp*> owners;
    for (const std::string& path : paths)
        if (const ChatApp* app = PlatformTables::chatAppFor(path))
            if (std::find(owners.begin(), owners.end(), app) == owners.end()) owners.push_back(app);
    std::vector<std::string> processes;
    for (const ChatApp* app : owners) processes.insert(processes.end(), app->processes.begin(), app->processes.end());
    if (processes.empty()) return std::nullopt;
    const std::set<std::string> running = RunningApps::runningPrograms(processes, procRoot);
    for (const ChatApp* app : owners)
        for (const char* process : app->processes)
            if (running.count(process)) return std::string(app->name);
    return std::nullopt;
}

std::vector<CleanupEntry> measureSystemDataEntries(const Cancelled& cancelled) {
    return measureSystemDataEntries(systemDataRoots(), claimedPaths(), cancelled);
}

std::vector<CleanupEntry> measureSystemDataEntries(const std::vector<std::string>& roots,
                                                   const std::set<std::string>& claimed, const Cancelled& cancelled) {
    const CategoryTables& tables = PlatformTables::current().categories;
    const std::string home = Paths::home();
    const ScanOptions options;
    std::set<std::string> listed;
    std::vector<CleanupEntry> entries;
    auto consider = [&](const std::string& candidate) {
        struct stat st;
        if (::lstat(candidate.c_str(), &st) != 0) return;
        int64_t size = DiskScanner::quickSize(candidate, options, cancelled);
        if (size < systemDataMinimumSize) return;
        listed.insert(candidate);
        entries.push_back(CleanupCatalog::makeEntry(candidate, size));
    };
    for (const std::string& root : roots) {
        const bool isHome = root == home;
        auto names = FolderListing::names(root);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (name == ".DS_Store") continue;
            std::string candidate = Paths::standardize(Paths::join(root, name));
            if (claimed.count(candidate) || listed.count(candidate)) continue;
            // A folder that holds another root (~/.cache, ~/.local) is looked into there instead.
            if (std::any_of(roots.begin(), roots.end(),
                            [&](const std::string& other) { return Paths::isInside(other, candidate); }))
                continue;
            // Directly in the home folder only hidden items are system data;
            // the visible folders are the user's own (and on macOS the Trash has its row).
            if (isHome && (!name.starts_with('.') || (tables.homeHiddenTrash && name == ".Trash"))) continue;
            consider(candidate);
        }
    }
    // Swap files in use are large, hidden and nobody's category.
    if (tables.liveSwapFiles)
        for (const std::string& swap : MountTable::liveSwapFiles()) {
            std::string candidate = Paths::standardize(swap);
            if (!claimed.count(candidate) && !listed.count(candidate)) consider(candidate);
        }
    CleanupCatalog::sortLargestFirst(entries);
    return entries;
}

int64_t remainderSize(const std::vector<VolumeInfo>& volumes, const std::vector<MeasuredCategory>& categories) {
    const VolumeInfo* root = VolumeInfo::startupDisk(volumes);
    if (!root) return 0;
    // The administrator's reserve is neither free nor anybody's data; it is
    // reported on its own and kept out of the remainder.
    const int64_t used = std::max<int64_t>(0, root->totalCapacity - root->trueFree - root->rootReserve);
    int64_t categorised = 0;
    for (const MeasuredCategory& category : categories)
        if (category.category.measurement == CategoryMeasurement::measured) categorised += category.size;
    return std::max<int64_t>(0, used - categorised);
}

} // namespace StorageCategories
} // namespace vessora
