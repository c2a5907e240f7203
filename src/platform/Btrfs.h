#pragma once
// Btrfs file systems as snapshot listing and deletion need them: the
// subvolumes below a mount with each one's own record, the default subvolume,
// the quota counts and the deletion of one subvolume. The subvolume tree is
// read through libbtrfsutil, the quota counts from the kernel's sysfs (or,
// on kernels without it, from `btrfs qgroup show`).

#include "support/Date.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::Btrfs {

// The top level of every Btrfs file system.
inline constexpr uint64_t topLevelId = 5;

struct Subvolume {
    uint64_t id = 0;
    std::string path; // relative to where the listing started
    bool readOnly = false;
    bool isSnapshot = false;     // made from another subvolume, or received from one
    std::optional<Date> created; // the subvolume's own creation time
};

// The file system's UUID ("b26d78aa-50d5-4e2c-..."), or empty when `path`
// is not on Btrfs.
std::string fileSystemId(const std::string& path);

// The subvolumes below the subvolume mounted at `mountPoint`, paths relative
// to it. Without administrator rights the kernel leaves out those this user
// cannot reach. With `wholeFileSystem` (administrator only): every subvolume
// of the file system, paths from its top level; empty without the rights.
std::vector<Subvolume> subvolumes(const std::string& mountPoint, bool wholeFileSystem = false);

// The record of the subvolume `id` of the file system holding `path`.
std::optional<Subvolume> subvolume(const std::string& path, uint64_t id);

// The id of the subvolume an open descriptor is in; 0 when not on Btrfs.
uint64_t subvolumeIdOf(int fd);

// The file system's default subvolume (the one mounted when none is named);
// 0 when it cannot be read (it takes administrator rights).
uint64_t defaultSubvolume(const std::string& mountPoint);

// What quotas say about each subvolume.
enum class QuotaState {
    off,   // quotas are not enabled: no sizes
    stale, // enabled but the counts are being recounted or out of date
    on,    // enabled and current
};
struct Quotas {
    QuotaState state = QuotaState::off;
    std::map<uint64_t, int64_t> exclusive; // by subvolume id: bytes only it holds
};

// The quota counts of the file system `fileSystemId`, mounted at `mountPoint`.
Quotas quotas(const std::string& fileSystemId, const std::string& mountPoint);
// The counts in the output of `btrfs qgroup show --raw` (standard output and
// error together, as the tool wrote them).
Quotas parseQgroupShow(std::string_view output);

// Deletes the subvolume `name` in the folder open at `folderFd` (any
// descriptor of it, O_PATH included); empty on success, else the reason.
std::string deleteSubvolume(int folderFd, const std::string& name);
// Deletes the subvolume `id` of the file system mounted at `mountPoint`,
// for a subvolume no mount reaches; empty on success, else the reason.
std::string deleteSubvolumeById(const std::string& mountPoint, uint64_t id);

} // namespace vessora::Btrfs
