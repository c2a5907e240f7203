#include "platform/VolumeInfo.h"

#include "support/FolderListing.h"
#include "support/Lines.h"
#include "support/OsRelease.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

namespace vessora {

namespace {

// Pseudo and virtual file systems: never a place the user keeps files.
const std::set<std::string_view> kHiddenTypes = {
    "proc",        "sysfs",           "devtmpfs", "devpts",      "tmpfs",      "overlay", "squashfs",   "autofs",
    "fuse.portal", "fuse.gvfsd-fuse", "bpf",      "tracefs",     "securityfs", "mqueue",  "hugetlbfs",  "debugfs",
    "configfs",    "pstore",          "efivarfs", "binfmt_misc", "nsfs",       "ramfs",   "rpc_pipefs", "nfsd",
};
const char* const kHiddenTrees[] = {"/proc", "/sys", "/dev", "/run"};
const char* const kRemovableMediaTree = "/run/media";

// Undoes udev's "\x20" escapes in /dev/disk/by-label names.
std::string unescapeHex(std::string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit((unsigned char)name[i + 2]) &&
            std::isxdigit((unsigned char)name[i + 3])) {
            out.push_back(char(std::strtol(std::string(name.substr(i + 2, 2)).c_str(), nullptr, 16)));
            i += 3;
        } else {
            out.push_back(name[i]);
        }
    }
    return out;
}

// File system labels by device number.
std::map<dev_t, std::string> labelsByDevice() {
    std::map<dev_t, std::string> labels;
    const std::string folder = "/dev/disk/by-label";
    for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
        struct stat st;
        if (::stat(Paths::join(folder, name).c_str(), &st) == 0 && S_ISBLK(st.st_mode))
            labels.emplace(st.st_rdev, unescapeHex(name));
    }
    return labels;
}

std::optional<dev_t> parseDevice(const std::string& deviceId) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(deviceId.c_str(), "%u:%u", &major, &minor) != 2) return std::nullopt;
    return makedev(major, minor);
}

// The backing disk is not removable and not attached over USB.
bool isInternalDevice(const std::string& deviceId) {
    char resolved[PATH_MAX];
    if (!::realpath(("/sys/dev/block/" + deviceId).c_str(), resolved)) return false;
    std::string device = resolved;
    if (device.find("/usb") != std::string::npos) return false;
    struct stat st;
    std::string disk = ::stat((device + "/partition").c_str(), &st) == 0 ? Paths::parent(device) : device;
    std::string removable = WholeFile::read(disk + "/removable").value_or("");
    return !removable.empty() && removable[0] == '0';
}

} // namespace

bool VolumeInfo::isBrowsable(const MountEntry& entry) {
    if (entry.mountPoint == "/") return true;
    if (kHiddenTypes.count(entry.fsType) || entry.fsType.starts_with("cgroup")) return false;
    if (!Paths::isInside(entry.mountPoint, kRemovableMediaTree))
        for (const char* tree : kHiddenTrees)
            if (Paths::isInside(entry.mountPoint, tree)) return false;
    return entry.source.starts_with("/dev/");
}

void VolumeInfo::sortForDisplay(std::vector<VolumeInfo>& volumes) {
    std::stable_sort(volumes.begin(), volumes.end(), [](const VolumeInfo& a, const VolumeInfo& b) {
        if (a.isRootVolume != b.isRootVolume) return a.isRootVolume;
        return a.name < b.name;
    });
}

const VolumeInfo* VolumeInfo::startupDisk(const std::vector<VolumeInfo>& volumes) {
    for (const VolumeInfo& volume : volumes)
        if (volume.isRootVolume) return &volume;
    return volumes.empty() ? nullptr : &volumes.front();
}

std::vector<VolumeInfo> VolumeInfo::fromMountInfo(std::string_view mountInfo) {
    std::vector<VolumeInfo> volumes;
    std::set<std::string> devicesSeen;
    std::map<dev_t, std::string> labels; // read once, and only when a volume needs a name
    bool labelsRead = false;
    for (const MountEntry& entry : MountTable::parse(mountInfo)) {
        if (!isBrowsable(entry) || devicesSeen.count(entry.deviceId)) continue;
        // A bind-mounted single file (containers mount /etc/hosts so) is no volume.
        struct stat st;
        if (::stat(entry.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
        struct statvfs fs;
        if (::statvfs(entry.mountPoint.c_str(), &fs) != 0) continue;
        const int64_t unit = int64_t(fs.f_frsize ? fs.f_frsize : fs.f_bsize);
        VolumeInfo volume;
        volume.url = entry.mountPoint;
        volume.totalCapacity = int64_t(fs.f_blocks) * unit;
        if (volume.totalCapacity < 1) continue;
        // Linux keeps no purgeable space, so both free readings are the same.
        volume.availableForImportantUsage = volume.trueFree = int64_t(fs.f_bavail) * unit;
        // Btrfs keeps nothing for the administrator: there the gap is space its
        // metadata holds in reserve, which no one can write files into.
        if (fs.f_bfree > fs.f_bavail && entry.fsType != "btrfs")
            volume.rootReserve = int64_t(fs.f_bfree - fs.f_bavail) * unit;
        volume.isRootVolume = entry.mountPoint == "/";
        volume.isInternal = isInternalDevice(entry.deviceId);
        if (!labelsRead) labels = labelsByDevice(), labelsRead = true;
        if (auto device = parseDevice(entry.deviceId); device && labels.count(*device))
            volume.name = labels[*device];
        else if (!volume.isRootVolume)
            volume.name = Paths::lastComponent(entry.mountPoint);
        else
            volume.name = OsRelease::systemName();
        if (volume.name.empty()) volume.name = Paths::lastComponent(entry.mountPoint);
        devicesSeen.insert(entry.deviceId);
        volumes.push_back(std::move(volume));
    }
    sortForDisplay(volumes);
    return volumes;
}

std::vector<VolumeInfo> VolumeInfo::current() { return fromMountInfo(MountTable::readText()); }

std::string VolumeInfo::rootVolumeName() {
    // The same naming as the volume list, without measuring any volume.
    std::string name;
    for (const MountEntry& entry : MountTable::read())
        if (entry.mountPoint == "/") {
            std::map<dev_t, std::string> labels = labelsByDevice();
            auto device = parseDevice(entry.deviceId);
            name = device && labels.count(*device) ? labels[*device] : OsRelease::systemName();
        }
    return name.empty() ? "/" : name;
}

} // namespace vessora
