#pragma once
// Deleting local snapshots with administrator rights: Time Machine's through
// the system's snapshot tool, Btrfs snapshots through the privileged helper,
// which lists them again as root and judges what it is asked to delete.

#include "platform/LocalSnapshot.h"
#include "platform/PrivilegedRunner.h"
#include "removal/Remover.h"

#include <optional>
#include <string>
#include <vector>

namespace vessora::SnapshotRemoval {

// Deletes one local snapshot with administrator rights. The result names it
// (by its name) in succeeded, with the bytes it held when they were counted,
// or in failed with the reason. A Time Machine snapshot goes through the
// system's snapshot tool (`volume` does not enter the command); a Btrfs one
// through the privileged helper, which lists the snapshots again as root and
// deletes only one it lists (serveSnapshotRequest).
RemovalResult deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume);
RemovalResult deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume, PrivilegedRunner& runner);

// Where the snapshot tools and their settings are.
struct SnapshotTools {
    std::string snapper = "/usr/bin/snapper";
    std::string snapperConfigs = "/etc/snapper/configs";
    std::string timeshift = "/usr/bin/timeshift";
    std::vector<std::string> timeshiftConfigs = {"/etc/timeshift/timeshift.json", "/etc/timeshift.json"};
};
// The command that deletes a Btrfs snapshot through the tool managing it, so
// the tool's own records stay true: snapper when one of its configurations
// covers the snapshot's subvolume, Timeshift when its settings name the
// snapshot's file system. Empty when no tool manages it (the subvolumes are
// then deleted as `btrfs subvolume delete` does).
std::vector<std::string> snapshotToolCommand(const LocalSnapshot& snapshot, const SnapshotTools& tools = {});

// The helper's snapshot work, as root: finds the Btrfs snapshot `name` of the
// file system `fileSystem` among those the listing shows, refuses the file
// system's default subvolume, anything mounted and (unless its tool deletes
// it) a writable subvolume, then deletes it. Returns the report
// deleteSnapshot reads; `deleted` tells whether it went.
std::string serveSnapshotRequest(const std::string& fileSystem, const std::string& name, bool& deleted,
                                 const SnapshotTools& tools = {});
// The result a report of serveSnapshotRequest stands for.
RemovalResult readSnapshotReport(const std::string& report, const std::string& name);

// "/usr/bin/tmutil deletelocalsnapshots 'DATE'", or nothing when the snapshot's
// date text is anything but digits and dashes.
std::optional<std::string> snapshotDeletionCommand(const LocalSnapshot& snapshot);

} // namespace vessora::SnapshotRemoval
