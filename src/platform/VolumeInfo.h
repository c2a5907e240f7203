#pragma once
// The mounted volumes and their capacities.

#include "platform/MountTable.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

// One listed volume.
struct VolumeInfo {
    std::string url;                        // the mount point
    std::string name;                       // label, else the mount point's last component
    int64_t totalCapacity = 0;              // bytes, at least 1 for a listed volume
    int64_t availableForImportantUsage = 0; // free bytes including what the system gives back
    int64_t trueFree = 0;                   // free bytes strictly unallocated now
    bool isInternal = false;
    bool isRootVolume = false;
    // Bytes the file system keeps for the administrator (ext4's root reserve):
    // neither free for the user nor used by anything.
    int64_t rootReserve = 0;

    friend bool operator==(const VolumeInfo&, const VolumeInfo&) = default;

    // The browsable volumes of this machine, root first, then by name.
    static std::vector<VolumeInfo> current();

    // The volumes described by mount table text: browsable entries whose mount
    // point is a readable folder with a capacity, one per device (first mount
    // wins), sorted for display.
    static std::vector<VolumeInfo> fromMountInfo(std::string_view mountInfo);

    // The name the root volume is listed under: its file system label, else
    // the system's name from os-release, else "/".
    static std::string rootVolumeName();

    // "/" and block-device file systems; never pseudo or virtual file systems
    // nor anything under /proc, /sys, /dev or /run (but /run/media).
    static bool isBrowsable(const MountEntry& entry);

    // Stable: the root volume first, then plain byte order of names.
    static void sortForDisplay(std::vector<VolumeInfo>& volumes);

    // The startup disk among `volumes`: the root volume, else the first one
    // listed; nullptr when there are none.
    static const VolumeInfo* startupDisk(const std::vector<VolumeInfo>& volumes);
};

} // namespace vessora
