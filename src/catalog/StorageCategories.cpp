#include "catalog/StorageCategories.h"

#include "catalog/CleanupCatalog.h"
#include "catalog/VolumeInfo.h"
#include "platform/MountTable.h"
#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/Paths.h"

#include <algorithm>
#include <fstream>
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

std::optional<std::vector<std::string>> listUsersFolder(const std::string& path) {
    return CleanupCatalog::listFolder(path);
}

void appendExpanded(std::vector<std::string>& out, const std::vector<const char*>& roots) {
    for (const char* root : roots)
        for (std::string& path : PlatformTables::expandRoot(root)) out.push_back(std::move(path));
}

bool isFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

} // namespace

std::vector<std::string> otherUserRoots() { return otherUserRoots(listUsersFolder); }

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
    std::vector<std::string> candidates = dropboxPaths(readText(Paths::join(home, ".dropbox/info.json")));
    for (const char* file : {"Nextcloud/nextcloud.cfg", "ownCloud/owncloud.cfg"})
        for (std::string& path : iniValues(readText(Paths::join(config, file)), "localPath"))
            candidates.push_back(std::move(path));
    if (isFolder(Paths::join(config, "onedrive"))) {
        std::vector<std::string> dirs = iniValues(readText(Paths::join(config, "onedrive/config")), "sync_dir");
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
            // The trashed items themselves; the folders around them stay.
            for (const std::string& folder : MountTable::trashFolders())
                category.roots.push_back(Paths::join(folder, "files"));
            break;
        }
        appendExpanded(category.roots, row.roots);
        appendExpanded(category.wholeRoots, row.wholeRoots);
        // The user's own home is never "another user", also when it is /root.
        if (row.rootSource == CategoryRootSource::otherUsers)
            std::erase(category.roots, Paths::standardize(Paths::home()));
        category.listsContents = row.listsContents;
        category.hardLinksOnce = row.hardLinksOnce;
        category.risk = row.risk;
        category.measurement = row.remainder ? CategoryMeasurement::remainder : CategoryMeasurement::measured;
        category.action = actionOf(row);
        if (row.caveat) category.caveat = row.caveat;
        categories.push_back(std::move(category));
    }
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

MeasuredCategory measure(const StorageCategory& category, const Cancelled& cancelled) {
    MeasuredCategory result{category, 0, {}, true};
    if (category.measurement == CategoryMeasurement::remainder) return result;
    // One options value and one mount table for the whole call.
    const ScanOptions options;
    const std::vector<MountEntry> mounts = MountTable::read();
    DiskScanner::CountedLinks links;
    DiskScanner::CountedLinks* shared = category.hardLinksOnce ? &links : nullptr;
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
        auto names = CleanupCatalog::listFolder(root);
        if (!names) continue;
        for (const std::string& name : *names)
            if (name != ".DS_Store") consider(Paths::join(root, name));
    }
    for (const std::string& root : category.wholeRoots) {
        struct stat st;
        if (!onRemoteMount(root, mounts) && ::lstat(root.c_str(), &st) == 0) consider(root);
    }
    CleanupCatalog::sortLargestFirst(result.entries);
    for (const CleanupEntry& entry : result.entries) result.size += entry.size;
    return result;
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
        auto names = CleanupCatalog::listFolder(root);
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
    if (volumes.empty()) return 0;
    const VolumeInfo* root = &volumes.front();
    for (const VolumeInfo& volume : volumes)
        if (volume.isRootVolume) {
            root = &volume;
            break;
        }
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
