#pragma once
// The kernel's table of mounted file systems (/proc/self/mountinfo) and what
// the scanner and the guard make of each mount. Everything here is read from
// the table text: a mount point itself is never examined, so a network or
// FUSE mount whose server hangs cannot hang the caller.

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

struct ScanTables;

// One line of the mount table, paths unescaped.
struct MountEntry {
    std::string deviceId; // "major:minor", as stat reports the mount's files
    std::string root;     // the part of the file system mounted here
    std::string mountPoint;
    std::string fsType;
    std::string source;       // "/dev/sda1", "tmpfs", "server:/export"
    std::string superOptions; // "rw,subvol=/@home"

    friend bool operator==(const MountEntry&, const MountEntry&) = default;
};

namespace MountTable {

// The lines of mount table text; malformed lines are left out.
std::vector<MountEntry> parse(std::string_view text);
// This process's mount table; empty where the system has none.
std::vector<MountEntry> read();
std::string readText();

// A network or FUSE file system: deleting below it deletes remote data, and
// asking its server anything may block.
bool isRemote(const MountEntry& mount);

// What a scan does at a mount point.
enum class Role {
    enter,  // part of the walked tree (another local disk, a Btrfs subvolume)
    system, // listed, never entered (pseudo file systems, bind mounts, other volumes)
    cloud,  // listed as a cloud folder, never entered (network and FUSE mounts)
};

struct Plan {
    std::set<std::string> systemPoints;
    std::set<std::string> cloudPoints;
    std::set<uint64_t> enteredDevices;
};

// The role of every mount but "/" under `tables`. Local mounts inside a
// location `ignoredTrees` already skips are left out of the plan.
Plan plan(const std::vector<MountEntry>& mounts, const ScanTables& tables, const std::set<std::string>& ignoredTrees);

// The device number of a "major:minor" text; 0 when it does not parse.
uint64_t deviceNumber(std::string_view deviceId);

// The swap files (not partitions) in use, from /proc/swaps text; paths unescaped.
std::vector<std::string> parseSwaps(std::string_view text);
std::vector<std::string> liveSwapFiles();

// The trash folders of this user that exist: the home trash, then per mounted
// local file system "$top/.Trash/$uid" (when .Trash is a real sticky folder)
// and "$top/.Trash-$uid", then the Snap apps' own home trashes.
std::vector<std::string> trashFolders();

} // namespace MountTable
} // namespace vessora
