#include "catalog/StorageCategories.h"

#include "catalog/CleanupCatalog.h"
#include "catalog/VolumeInfo.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/Paths.h"

#include <sys/stat.h>

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

// Where a row's roots come from.
enum class RootSource { table, otherUsers };

struct CategoryRow {
    const char* id;
    const char* title;
    const char* symbol;
    const char* colorName;
    std::vector<const char*> roots; // "~" stands for the home folder of the call
    RootSource rootSource;
    bool listsContents;
    CleanupRisk risk;
    CategoryMeasurement measurement;
    CategoryAction::Kind action;
    const char* detail;
    const char* actionText; // readOnly reason or backupThenRemove warning
    const char* quitFirst;  // backupThenRemove only
    const char* caveat;     // nullptr: none
};

// Everything a platform's category table consists of.
struct CategoryTable {
    std::vector<CategoryRow> rows;            // in display order
    std::vector<const char*> systemDataRoots; // folders whose children may be System Data rows
    const char* usersFolder;                  // holds the other accounts' folders
    const char* sharedFolderName;             // the shared folder inside it
};

// The category table. The only place its paths and texts live.
const CategoryTable& table() {
    using enum CleanupRisk;
    using enum CategoryAction::Kind;
    constexpr auto measuredSum = CategoryMeasurement::measured;
    static const CategoryTable table{
        {
            {"applications",
             "Applications",
             "app.badge",
             "blue",
             {"/Applications", "~/Applications"},
             RootSource::table,
             true,
             review,
             measuredSum,
             applications,
             "Installed apps and the data they leave outside their own bundle.",
             nullptr,
             nullptr,
             nullptr},
            {"documents",
             "Documents",
             "doc",
             "orange",
             {"~/Documents", "~/Desktop", "~/Downloads"},
             RootSource::table,
             true,
             careful,
             measuredSum,
             removable,
             "Your Documents, Desktop and Downloads folders.",
             nullptr,
             nullptr,
             "This is your own work. Nothing here comes back on its own."},
            {"photos",
             "Photos",
             "photo",
             "pink",
             {"~/Pictures"},
             RootSource::table,
             true,
             careful,
             measuredSum,
             readOnly,
             "Photo libraries and everything else under Pictures.",
             "A photo library is a bundle with its own database. Removing pieces of it from the outside corrupts the "
             "library, so manage its contents from Photos and empty its Recently Deleted album.",
             nullptr,
             nullptr},
            {"messages",
             "Messages",
             "message",
             "green",
             {"~/Library/Messages"},
             RootSource::table,
             true,
             careful,
             measuredSum,
             backupThenRemove,
             "The Messages database and its attachments.",
             "Messages keeps an index that has to stay in step with the attachments on disk, so removing part of this "
             "folder can break the rest of it. Vessora will copy what you selected somewhere safe and confirm the copy "
             "before deleting anything.",
             "com.apple.MobileSMS",
             nullptr},
            {"mail",
             "Mail",
             "envelope",
             "indigo",
             {"~/Library/Mail", "~/Library/Containers/com.apple.mail/Data/Library/Mail Downloads"},
             RootSource::table,
             true,
             careful,
             measuredSum,
             removable,
             "Locally cached mailboxes and downloaded attachments.",
             nullptr,
             nullptr,
             "For IMAP accounts this is a local copy and the server still has it. For POP accounts it is the only "
             "copy."},
            {"music",
             "Music",
             "music.note",
             "red",
             {"~/Music"},
             RootSource::table,
             true,
             careful,
             measuredSum,
             removable,
             "The Music library, downloads and anything else under Music.",
             nullptr,
             nullptr,
             "Purchased and Apple Music downloads redownload. Anything you imported yourself does not."},
            {"cloud",
             "Cloud Drives",
             "icloud",
             "cyan",
             {"~/Library/Application Support/CloudDocs", "~/Library/Application Support/Google/DriveFS",
              "~/Library/Application Support/OneDrive", "~/Library/Caches/CloudKit",
              "~/Library/Group Containers/group.com.apple.CoreSpeech"},
             RootSource::table,
             false,
             review,
             measuredSum,
             removable,
             "What iCloud Drive, Google Drive and OneDrive keep on this Mac.",
             nullptr,
             nullptr,
             "This is the local cache only, not the size of your cloud drives. The synced folders themselves are "
             "deliberately not walked: asking a provider how big its tree is makes it download the tree."},
            {"developer",
             "Developer",
             "hammer",
             "purple",
             {"~/Library/Developer", "/Library/Developer", "~/.gradle", "~/.android", "~/.npm", "~/.cache", "~/.cargo",
              "~/.m2", "~/.docker", "~/go/pkg", "~/Library/Caches/Homebrew"},
             RootSource::table,
             true,
             review,
             measuredSum,
             removable,
             "Xcode, simulators, package manager caches and container images.",
             nullptr,
             nullptr,
             "Almost all of this rebuilds or redownloads. Cleanup has the same items grouped by how safe they are."},
            {"trash",
             "Trash",
             "trash",
             "brown",
             {"~/.Trash"},
             RootSource::table,
             true,
             safe,
             measuredSum,
             removable,
             "Already thrown away, still taking up the disk.",
             nullptr,
             nullptr,
             nullptr},
            {"othersShared",
             "Other Users & Shared",
             "person.2",
             "teal",
             {},
             RootSource::otherUsers,
             true,
             careful,
             measuredSum,
             readOnly,
             "Home folders belonging to other accounts, plus the Shared folder.",
             "This belongs to another account on this Mac. Removing it needs that user's consent and an administrator, "
             "so Vessora will only measure it.",
             nullptr,
             nullptr},
            {"macos",
             "macOS",
             "laptopcomputer",
             "gray",
             {"/System", "/usr", "/bin", "/sbin", "/opt"},
             RootSource::table,
             false,
             careful,
             measuredSum,
             readOnly,
             "The operating system itself.",
             "macOS lives on a sealed, cryptographically signed volume. It cannot be modified, by this app or any "
             "other, and none of it is recoverable space.",
             nullptr,
             nullptr},
            {"systemData",
             "System Data",
             "ellipsis.circle",
             "yellow",
             {},
             RootSource::table,
             false,
             review,
             CategoryMeasurement::remainder,
             removable,
             "Everything the categories above do not account for.",
             nullptr,
             nullptr,
             "System Data is not a folder, it is arithmetic: the volume's used space minus everything that could be "
             "identified. The rows below are the things that usually make it large, measured on this Mac."},
        },
        {"~/Library", "/Library", "/private/var", "~"},
        "/Users",
        "Shared"};
    return table;
}

CategoryAction actionOf(const CategoryRow& row) {
    switch (row.action) {
    case CategoryAction::Kind::readOnly: return CategoryAction::readOnly(row.actionText);
    case CategoryAction::Kind::backupThenRemove:
        return CategoryAction::backupThenRemove(
            row.quitFirst ? std::optional<std::string>(row.quitFirst) : std::nullopt, row.actionText);
    case CategoryAction::Kind::applications: return CategoryAction::applications();
    case CategoryAction::Kind::removable: return CategoryAction::removable();
    }
    return CategoryAction::removable();
}

std::optional<std::vector<std::string>> listUsersFolder(const std::string& path) {
    return CleanupCatalog::listFolder(path);
}

} // namespace

std::vector<std::string> otherUserRoots() { return otherUserRoots(listUsersFolder); }

std::vector<std::string> otherUserRoots(const FolderLister& list) {
    const std::string account = Paths::lastComponent(Paths::home());
    const std::string users = table().usersFolder, shared = table().sharedFolderName;
    std::vector<std::string> roots{Paths::join(users, shared)};
    for (const std::string& name : list(users).value_or(std::vector<std::string>{})) {
        if (name == account || name == shared || name.starts_with('.')) continue;
        roots.push_back(Paths::join(users, name));
    }
    return roots;
}

std::vector<StorageCategory> all() {
    const std::string home = Paths::home();
    std::vector<StorageCategory> categories;
    for (const CategoryRow& row : table().rows) {
        StorageCategory category;
        category.id = row.id;
        category.title = row.title;
        category.symbol = row.symbol;
        category.colorName = row.colorName;
        category.detail = row.detail;
        if (row.rootSource == RootSource::otherUsers)
            category.roots = otherUserRoots();
        else
            for (const char* root : row.roots) category.roots.push_back(CleanupCatalog::resolveRoot(root, home));
        category.listsContents = row.listsContents;
        category.risk = row.risk;
        category.measurement = row.measurement;
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
    }
    claimed.insert(ScanOptions::systemManagedPaths().begin(), ScanOptions::systemManagedPaths().end());
    claimed.merge(ScanOptions::cloudProviderRoots(Paths::home()));
    return claimed;
}

std::vector<std::string> systemDataRoots() {
    const std::string home = Paths::home();
    std::vector<std::string> roots;
    for (const char* root : table().systemDataRoots) roots.push_back(CleanupCatalog::resolveRoot(root, home));
    return roots;
}

MeasuredCategory measure(const StorageCategory& category, const Cancelled& cancelled) {
    MeasuredCategory result{category, 0, {}, true};
    if (category.measurement == CategoryMeasurement::remainder) return result;
    result.entries = CleanupCatalog::measureEntries(category.roots, category.listsContents, cancelled);
    for (const CleanupEntry& entry : result.entries) result.size += entry.size;
    return result;
}

std::vector<CleanupEntry> measureSystemDataEntries(const Cancelled& cancelled) {
    return measureSystemDataEntries(systemDataRoots(), claimedPaths(), cancelled);
}

std::vector<CleanupEntry> measureSystemDataEntries(const std::vector<std::string>& roots,
                                                   const std::set<std::string>& claimed, const Cancelled& cancelled) {
    const std::string home = Paths::home();
    const ScanOptions options;
    std::set<std::string> listed;
    std::vector<CleanupEntry> entries;
    for (const std::string& root : roots) {
        const bool isHome = root == home;
        auto names = CleanupCatalog::listFolder(root);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (name == ".DS_Store") continue;
            std::string candidate = Paths::standardize(Paths::join(root, name));
            if (claimed.count(candidate) || listed.count(candidate)) continue;
            // Directly in the home folder only hidden items are system data;
            // the visible folders are the user's own and the Trash has its row.
            if (isHome && (!name.starts_with('.') || name == ".Trash")) continue;
            struct stat st;
            if (::lstat(candidate.c_str(), &st) != 0) continue;
            int64_t size = DiskScanner::quickSize(candidate, options, cancelled);
            if (size < systemDataMinimumSize) continue;
            listed.insert(candidate);
            entries.push_back(CleanupCatalog::makeEntry(candidate, size));
        }
    }
    CleanupCatalog::sortLargestFirst(entries);
    return entries;
}

int64_t remainderSize(const std::vector<VolumeInfo>& volumes, const std::vector<MeasuredCategory>& categories) {
    const VolumeInfo* root = nullptr;
    for (const VolumeInfo& volume : volumes)
        if (volume.isRootVolume) {
            root = &volume;
            break;
        }
    if (!root) return 0;
    int64_t used = std::max<int64_t>(0, root->totalCapacity - root->trueFree);
    int64_t categorised = 0;
    for (const MeasuredCategory& category : categories)
        if (category.category.measurement == CategoryMeasurement::measured) categorised += category.size;
    return std::max<int64_t>(0, used - categorised);
}

} // namespace StorageCategories
} // namespace vessora
