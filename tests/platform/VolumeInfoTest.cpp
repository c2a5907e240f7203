#include "platform/VolumeInfo.h"

#include "TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/statvfs.h>

using namespace vessora;

namespace {

std::string line(int id, const std::string& device, const std::string& mountPoint, const std::string& type,
                 const std::string& source) {
    return std::to_string(id) + " 1 " + device + " / " + mountPoint + " rw shared:1 - " + type + " " + source + " rw\n";
}

std::vector<std::string> names(const std::vector<VolumeInfo>& volumes) {
    std::vector<std::string> out;
    for (const VolumeInfo& v : volumes) out.push_back(v.name);
    return out;
}

} // namespace

TEST(VolumeInfo, ParsesMountTableLinesAndHidesPseudoAndSystemMounts) {
    const std::string text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "88 27 8:17 /@data /media/ada/My\\040Disk\\134x rw shared:5 master:2 - btrfs /dev/sdb1 rw\n"
        "garbage line without fields\n"
        "90 27 0:50 / /mnt/odd rw - \n"
        "\n"
        "91 27 0:51 / /run/user/1000 rw,nosuid - tmpfs tmpfs rw,size=100k";
    std::vector<MountEntry> entries = MountTable::parse(text);
    EXPECT_EQ(entries, (std::vector<MountEntry>{{"254:0", "/", "/", "ext4", "/dev/vda", "rw,discard"},
                                                {"8:17", "/@data", "/media/ada/My Disk\\x", "btrfs", "/dev/sdb1", "rw"},
                                                {"0:51", "/", "/run/user/1000", "tmpfs", "tmpfs", "rw,size=100k"}}));
    // The browsable filter hides pseudo and system mounts.
    auto browsable = [](const std::string& mountPoint, const std::string& type, const std::string& source) {
        return VolumeInfo::isBrowsable({"8:1", "/", mountPoint, type, source, ""});
    };
    // The root is always a volume; only whole components of system places hide.
    for (const MountEntry& m : std::vector<MountEntry>{{"", "", "/", "overlay", "overlay", ""},
                                                       {"", "", "/media/ada/USB STICK", "vfat", "/dev/sdc1", ""},
                                                       {"", "", "/run/media/ada/Backup", "exfat", "/dev/sdd1", ""},
                                                       {"", "", "/runner", "ext4", "/dev/sda5", ""}})
        EXPECT_TRUE(VolumeInfo::isBrowsable(m)) << m.mountPoint;
    for (const char* type : {"proc", "tmpfs", "overlay", "squashfs", "fuse.portal"})
        EXPECT_FALSE(browsable("/mnt/x", type, "/dev/loop3")) << type;
    for (const char* point : {"/proc/fs/nfsd", "/sys/fs/cgroup", "/dev/shm", "/run/user/1000", "/run/lock"})
        EXPECT_FALSE(browsable(point, "ext4", "/dev/sda1")) << point;
    EXPECT_FALSE(browsable("/mnt/share", "nfs4", "server:/export")) << "not a block device";
}

TEST(VolumeInfo, OneVolumePerDeviceWithCapacitiesNamesAndOrder) {
    test::TempDir dir;
    for (const char* folder : {"data", "Backup", "archive", "again"}) test::makeDirs(dir / folder);
    test::writeFile(dir / "hosts", 10);
    const std::string text =
        line(1, "8:1", dir / "data", "ext4", "/dev/sda1") +
        line(2, "8:1", dir / "again", "ext4", "/dev/sda1") + // same device: first wins
        line(3, "8:2", dir / "hosts", "ext4", "/dev/sda2") + // a bound file is no volume
        line(4, "8:2", dir / "Backup", "ext4", "/dev/sda2") + line(5, "8:3", dir / "missing", "ext4", "/dev/sda3") +
        line(6, "8:4", dir / "archive", "xfs", "/dev/sda4") + line(7, "0:40", dir / "archive", "tmpfs", "tmpfs");
    std::vector<VolumeInfo> volumes = VolumeInfo::fromMountInfo(text);
    EXPECT_EQ(names(volumes), (std::vector<std::string>{"Backup", "archive", "data"}));
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    // Linux has no purgeable space.
    for (const VolumeInfo& v : volumes)
        EXPECT_EQ(std::tuple(v.totalCapacity, v.availableForImportantUsage, v.isRootVolume),
                  std::tuple(int64_t(fs.f_blocks) * int64_t(fs.f_frsize), v.trueFree, false))
            << v.name;
    EXPECT_EQ(volumes[2].url, dir / "data");

    // Root first, then in code point order, stable.
    volumes = {
        {"/b", "Backup", 1, 0, 0, false, false},
        {"/a", "archive", 1, 0, 0, false, false},
        {"/", "Main", 1, 0, 0, true, true},
        {"/b2", "Backup", 2, 0, 0, false, false},
    };
    VolumeInfo::sortForDisplay(volumes);
    EXPECT_EQ(names(volumes), (std::vector<std::string>{"Main", "Backup", "Backup", "archive"}));
    EXPECT_EQ(std::tie(volumes[1].url, volumes[2].url), std::tuple("/b", "/b2"));
    // The startup disk is the root volume wherever it is listed, else the first.
    std::reverse(volumes.begin(), volumes.end());
    EXPECT_EQ(VolumeInfo::startupDisk(volumes)->name, "Main");
    volumes.pop_back();
    EXPECT_EQ(std::tuple(VolumeInfo::startupDisk(volumes)->url, !VolumeInfo::startupDisk({})), std::tuple("/a", true));
}

TEST(VolumeInfo, ThisMachineListsItsRootVolumeAsDfDoes) {
    // df's figures around the reading: other work may change the free space meanwhile.
    std::string before, after;
    ASSERT_EQ(test::runProgram({"df", "-B1", "--output=size,avail", "/"}, &before), 0);
    std::vector<VolumeInfo> volumes = VolumeInfo::current();
    ASSERT_EQ(test::runProgram({"df", "-B1", "--output=size,avail", "/"}, &after), 0);
    int64_t dfTotal = 0, dfBefore = 0, dfAfter = 0;
    std::istringstream(before.substr(before.find('\n'))) >> dfTotal >> dfBefore;
    std::istringstream(after.substr(after.find('\n'))) >> dfTotal >> dfAfter;
    ASSERT_FALSE(volumes.empty());
    const VolumeInfo& root = volumes.front();
    EXPECT_TRUE(root.isRootVolume && root.url == "/" && !root.name.empty() && root.totalCapacity > 0);
    EXPECT_EQ(root.totalCapacity, dfTotal);
    EXPECT_GE(root.trueFree, std::min(dfBefore, dfAfter) - (64 << 20));
    EXPECT_LE(root.trueFree, std::max(dfBefore, dfAfter) + (64 << 20));
    for (size_t i = 1; i < volumes.size(); ++i) EXPECT_FALSE(volumes[i].isRootVolume);
}
