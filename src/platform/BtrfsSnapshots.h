#pragma once
// The snapshots of a Btrfs file system, recognised by where their tools keep
// them: snapper's <subvolume>/.snapshots/<n>/snapshot beside its info.xml,
// Timeshift's timeshift-btrfs/snapshots/<date>/@ (and @home) beside its
// info.json, and any other read-only snapshot subvolume. The tools' files are
// outside input: a file that does not parse makes its snapshot a plain one.

#include "platform/LocalSnapshot.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::BtrfsSnapshots {

// snapper's record of one snapshot (its info.xml).
struct SnapperInfo {
    int64_t number = 0;
    std::optional<Date> date; // written in UTC
    std::string type;         // "single", "pre" or "post"
    std::string description;
    std::string cleanup; // "number", "timeline", "empty-pre-post" or empty
};
// Nothing unless the text is a snapshot record with a positive number.
std::optional<SnapperInfo> parseSnapperInfo(std::string_view xml);

// Timeshift's record of one snapshot (its info.json).
struct TimeshiftInfo {
    std::optional<Date> created;
    std::string comments;
    std::string tags; // letters: O on demand, B boot, H hourly, D daily, W weekly, M monthly
};
// Nothing unless the text is a JSON object.
std::optional<TimeshiftInfo> parseTimeshiftInfo(std::string_view json);
// Timeshift's folder name "2024-01-05_10-00-01", in local time; nothing for any other text.
std::optional<Date> parseTimeshiftName(std::string_view name);
// "Daily, Weekly" for "D W"; unknown letters are left out.
std::string tagWords(std::string_view tags);

// The SUBVOLUME setting of a snapper configuration file; empty when none.
std::string snapperConfigSubvolume(std::string_view text);
// Timeshift's configuration keeps its Btrfs snapshots on the file system `fileSystemId`.
bool timeshiftConfigNames(std::string_view json, std::string_view fileSystemId);

// The snapshots of the Btrfs file system mounted at `volume`, newest first;
// empty when it is no Btrfs mount point. Subvolumes mounted anywhere (the
// running system among them) are never listed.
std::vector<LocalSnapshot> list(const std::string& volume);

// For a snapper snapshot, the folder holding its .snapshots (as reached now)
// and its number; empty when it is not reachable.
std::string snapperSubvolume(const LocalSnapshot& snapshot);
// For a Timeshift snapshot, its name to Timeshift: the date folder's name.
std::string timeshiftName(const LocalSnapshot& snapshot);

// A small regular file's contents, opened without following a link and
// without waiting on a pipe; nothing when it is anything else or larger than `limit`.
std::optional<std::string> readMetadataFile(const std::string& path, size_t limit = 1 << 20);

} // namespace vessora::BtrfsSnapshots
