#pragma once
#include "support/Date.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

// Who made a snapshot and deletes it.
enum class SnapshotOwner {
    timeMachine, // the macOS snapshot tool
    snapper,     // snapper's <subvolume>/.snapshots/<n>/snapshot with info.xml
    timeshift,   // Timeshift's timeshift-btrfs/snapshots/<date>/ with info.json
    btrfs,       // any other read-only Btrfs snapshot subvolume
};

// "Time Machine", "snapper", "Timeshift", "Btrfs".
std::string_view ownerName(SnapshotOwner owner);

// Whether a file system counts what each subvolume alone holds.
enum class SnapshotQuotas {
    off,   // no quota counts: no sizes
    stale, // counted, but the counts are being redone or out of date
    on,    // counted and current
};

// One Btrfs subvolume of a snapshot (a Timeshift snapshot has one per
// subvolume it copied, "@" and "@home").
struct SnapshotSubvolume {
    uint64_t id = 0;
    std::string path;    // where it is reached now; empty when no mount reaches it
    std::string topPath; // from the file system's top level: "@/.snapshots/3/snapshot"
    bool readOnly = false;
    std::optional<int64_t> exclusive; // bytes only it holds (what deleting it frees), when counted

    friend bool operator==(const SnapshotSubvolume&, const SnapshotSubvolume&) = default;
};

// One local backup snapshot of a volume, as the system's snapshot tool names
// it, or a Btrfs snapshot.
struct LocalSnapshot {
    LocalSnapshot() = default;
    LocalSnapshot(std::string name, std::optional<Date> date) : name(std::move(name)), date(date) {}

    std::string name;         // the tool's whole line, trimmed; for Btrfs, its path (or top-level path)
    std::optional<Date> date; // the moment encoded in the name; absent when it does not parse
    SnapshotOwner owner = SnapshotOwner::timeMachine;
    std::string description; // the owning tool's note ("before zypper update"); may be empty
    // Btrfs only.
    std::string volume;     // the listed volume whose file system holds it (a mount point)
    std::string fileSystem; // that file system's UUID
    std::vector<SnapshotSubvolume> subvolumes;
    SnapshotQuotas quotas = SnapshotQuotas::off;
    // snapper's own record: its number, type (single, pre, post) and cleanup algorithm.
    int64_t snapperNumber = 0;
    std::string snapperType;
    std::string cleanup;

    friend bool operator==(const LocalSnapshot&, const LocalSnapshot&) = default;

    // What deleting it frees: the subvolumes' exclusive bytes, when every one is counted.
    std::optional<int64_t> exclusiveBytes() const;
    // The same snapshot: the same name on the same file system.
    bool sameAs(const LocalSnapshot& other) const { return name == other.name && fileSystem == other.fileSystem; }

    // The snapshots of the volume at `volume`, newest first; empty when the
    // tool is absent or fails. On Linux: the Btrfs snapshots of the file
    // system mounted there.
    static std::vector<LocalSnapshot> list(const std::string& volume);

    // The snapshots of the listed volumes (mount points) the system keeps
    // snapshots of, newest first, each once: on macOS the startup volume's, on
    // Linux those of every Btrfs file system among them. `lister` stands in
    // for list().
    static std::vector<LocalSnapshot>
    listAll(const std::vector<std::string>& volumes,
            const std::function<std::vector<LocalSnapshot>(const std::string&)>& lister = list);

    // Newest first; an undated snapshot counts as the distant past (stable).
    static void sortNewestFirst(std::vector<LocalSnapshot>& snapshots);

    // The snapshots named in the tool's output: lines trimmed of spaces and
    // tabs, only those starting with the snapshot prefix, newest first, the
    // undated last in printed order.
    static std::vector<LocalSnapshot> parseList(std::string_view output);

    // The date text of a snapshot's name: the name without the tool's prefix
    // and suffix. The snapshot tool is given this text to delete a snapshot.
    static std::string stampOf(std::string_view name);

    // A "yyyy-MM-dd-HHmmss" stamp in the current time zone; nothing for any
    // other text or a day that does not exist.
    static std::optional<Date> parseStamp(std::string_view stamp);
};

} // namespace vessora
