#pragma once
// The fixed list of categories the startup disk's used space is broken into,
// and their measurement.

#include "platform/CleanupEntry.h"
#include "support/Palette.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

struct VolumeInfo;
namespace DiskScanner {
class CountedLinks;
}

// measured: the size is the sum of the entries; remainder: the size is what the
// root volume's used space leaves after every measured category.
enum class CategoryMeasurement { measured, remainder };
std::string_view categoryMeasurementName(CategoryMeasurement measurement);

// What the user may do with a category's entries. Only the payload fields of
// `kind` carry meaning.
struct CategoryAction {
    enum class Kind { readOnly, backupThenRemove, applications, removable };
    Kind kind = Kind::removable;
    std::string reason;                   // readOnly: why nothing may be removed
    std::optional<std::string> quitFirst; // backupThenRemove: bundle id that must not be running
    std::string warning;                  // backupThenRemove: why the copy comes first

    static CategoryAction readOnly(std::string reason);
    static CategoryAction backupThenRemove(std::optional<std::string> quitFirst, std::string warning);
    static CategoryAction applications();
    static CategoryAction removable();

    // "readOnly", "backupThenRemove", "applications", "removable".
    std::string_view name() const;

    friend bool operator==(const CategoryAction&, const CategoryAction&) = default;
};

// One row of the category table.
struct StorageCategory {
    std::string id;
    std::string title;
    std::string symbol;    // system symbol image name
    std::string colorName; // turned into a colour by color()
    std::string detail;
    std::vector<std::string> roots;           // absolute, resolved against the home folder of the moment
    bool listsContents = false;               // true: each root's children are entries; false: each root is one
    std::vector<std::string> wholeRoots;      // one entry each, whatever listsContents says
    std::vector<std::string> appImageFolders; // each AppImage in them (by its magic bytes) is one entry
    CleanupRisk risk = CleanupRisk::review;
    CategoryMeasurement measurement = CategoryMeasurement::measured;
    CategoryAction action;
    std::optional<std::string> caveat;
    // Sentences about user folders left out of the measurement: on another
    // disk, or already counted by another category.
    std::vector<std::string> notes;

    Rgb color() const { return Palette::categoryColor(colorName); }

    friend bool operator==(const StorageCategory&, const StorageCategory&) = default;
};

// A category with its measurement; before measurement size 0, no entries.
struct MeasuredCategory {
    StorageCategory category;
    int64_t size = 0;
    std::vector<CleanupEntry> entries;
    bool measured = false;

    const std::string& id() const { return category.id; }

    friend bool operator==(const MeasuredCategory&, const MeasuredCategory&) = default;
};

namespace StorageCategories {

using Cancelled = std::function<bool()>;
// Lists a folder's names; nothing when it cannot be read.
using FolderLister = std::function<std::optional<std::vector<std::string>>(const std::string&)>;

// The twelve categories of the active table set, built afresh against the
// current home folder, user folders and mounts.
std::vector<StorageCategory> all();

// The roots of "othersShared": the shared folders, then every other account's
// folder in the users folder. `list` reads the users folder (tests replace it).
std::vector<std::string> otherUserRoots();
std::vector<std::string> otherUserRoots(const FolderLister& list);

// Standardized roots of every measured category, the scanner's system-managed
// locations and the cloud provider roots of the home folder.
std::set<std::string> claimedPaths();

// The folders whose children are candidates for the System Data rows, in order.
std::vector<std::string> systemDataRoots();

// The sync folders the cloud clients' own settings name (Dropbox, Nextcloud,
// ownCloud, the onedrive client) and the default folders of Insync and MEGA,
// those that exist, in that order.
std::vector<std::string> cloudSyncFolders();

// A remainder category comes back measured, size 0, without touching the disk.
// A file with several links counts once, in the first entry that meets it;
// with `counted` shared between calls, once across them all.
MeasuredCategory measure(const StorageCategory& category, const Cancelled& cancelled = {},
                         DiskScanner::CountedLinks* counted = nullptr);

// Every category, one after another in table order, sharing one record of
// files with several links: such a file counts once, in the first category
// (and entry) that meets it, so the categories never add up to more than the
// disk holds. Each result goes to `deliver` as it is done, then all return.
std::vector<MeasuredCategory> measureAll(const std::vector<StorageCategory>& categories,
                                         const Cancelled& cancelled = {},
                                         const std::function<void(const MeasuredCategory&)>& deliver = {});

// The chat app whose data one of `paths` is and that is running now (its
// name as the user knows it), from the active table's chat apps; nothing when
// none runs. `procRoot` is "/proc" except in tests.
std::optional<std::string> runningChatApp(const std::vector<std::string>& paths, const std::string& procRoot = "/proc");

// The large unclaimed items under the System Data roots, largest first.
std::vector<CleanupEntry> measureSystemDataEntries(const Cancelled& cancelled = {});
// The same over explicit roots and claimed paths (the home folder is still the
// current one).
std::vector<CleanupEntry> measureSystemDataEntries(const std::vector<std::string>& roots,
                                                   const std::set<std::string>& claimed,
                                                   const Cancelled& cancelled = {});

// Items below this many bytes are not listed under System Data.
inline constexpr int64_t systemDataMinimumSize = 10'000'000;

// The remainder's size, the one computation every caller uses: the root
// volume's used space (total minus free minus the administrator's reserve, at
// least 0; the first volume stands in when none is marked root) minus the sizes
// of the categories measured as sums, at least 0. Categories not measured yet
// count as 0; no volume gives 0.
int64_t remainderSize(const std::vector<VolumeInfo>& volumes, const std::vector<MeasuredCategory>& categories);

} // namespace StorageCategories
} // namespace vessora
