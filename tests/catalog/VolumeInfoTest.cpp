#include "catalog/VolumeInfo.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sstream>
#include <sys/statvfs.h>

using namespace vessora;

namespace {

// The kernel writes a space in a path as \040 and a backslash as \134.
std::string escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ')
            out += "\\040";
        else if (c == '\\')
            out += "\\134";
        else
            out += c;
    }
    return out;
}

std::string line(int id, const std::string& device, const std::string& mountPoint, const std::string& type,
                 const std::string& source, const std::string& optional = "shared:1") {
    return std::to_string(id) + " 1 " + device + " / " + escaped(mountPoint) + " rw,relatime " + optional + " - " +
           type + " " + source + " rw\n";
}

std::vector<std::string> names(const std::vector<VolumeInfo>& volumes) {
    std::vector<std::string> out;
    for (const VolumeInfo& v : volumes) out.push_back(v.name);
    return out;
}

} // namespace

TEST(VolumeInfo, ParsesMountTableLines) {
    const std::string text =
        "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard\n"
        "88 27 8:17 /@data /media/ada/My\\040Disk\\134x rw shared:5 master:2 - btrfs /dev/sdb1 rw\n"
        "garbage line without fields\n"
        "90 27 0:50 / /mnt/odd rw - \n"
        "\n"
        "91 27 0:51 / /run/user/1000 rw,nosuid - tmpfs tmpfs rw,size=100k";
    std::vector<MountEntry> entries = VolumeInfo::parseMountInfo(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (MountEntry{"254:0", "/", "/", "ext4", "/dev/vda"}));
    EXPECT_EQ(entries[1], (MountEntry{"8:17", "/@data", "/media/ada/My Disk\\x", "btrfs", "/dev/sdb1"}));
    EXPECT_EQ(entries[2], (MountEntry{"0:51", "/", "/run/user/1000", "tmpfs", "tmpfs"}));
}

TEST(VolumeInfo, BrowsableFilterHidesPseudoAndSystemMounts) {
    auto browsable = [](const std::string& mountPoint, const std::string& type, const std::string& source) {
        return VolumeInfo::isBrowsable({"8:1", "/", mountPoint, type, source});
    };
    EXPECT_TRUE(browsable("/", "overlay", "overlay")) << "the root is always a volume";
    EXPECT_TRUE(browsable("/home", "ext4", "/dev/sda3"));
    EXPECT_TRUE(browsable("/media/ada/USB STICK", "vfat", "/dev/sdc1"));
    EXPECT_TRUE(browsable("/run/media/ada/Backup", "exfat", "/dev/sdd1"));
    EXPECT_TRUE(browsable("/mnt/pool", "btrfs", "/dev/mapper/pool"));
    for (const char* type : {"proc", "sysfs", "tmpfs", "devpts", "cgroup2", "cgroup", "overlay", "squashfs", "autofs",
                             "fuse.portal", "fuse.gvfsd-fuse", "binfmt_misc", "ramfs"})
        EXPECT_FALSE(browsable("/mnt/x", type, "/dev/loop3")) << type;
    for (const char* point : {"/proc/fs/nfsd", "/sys/fs/cgroup", "/dev/shm", "/run/user/1000", "/run/lock"})
        EXPECT_FALSE(browsable(point, "ext4", "/dev/sda1")) << point;
    EXPECT_FALSE(browsable("/mnt/share", "nfs4", "server:/export")) << "not a block device";
    EXPECT_TRUE(browsable("/runner", "ext4", "/dev/sda5")) << "only whole components hide";
}

TEST(VolumeInfo, OneVolumePerDeviceWithCapacitiesNamesAndOrder) {
    test::TempDir dir;
    test::makeDirs(dir / "data disk");
    test::makeDirs(dir / "Backup");
    test::makeDirs(dir / "archive");
    test::makeDirs(dir / "again");
    test::writeFile(dir / "hosts", 10);
    const std::string text =
        line(1, "8:1", dir / "data disk", "ext4", "/dev/sda1") +
        line(2, "8:1", dir / "again", "ext4", "/dev/sda1") + // same device: first wins
        line(3, "8:2", dir / "hosts", "ext4", "/dev/sda2") + // a bound file is no volume
        line(4, "8:2", dir / "Backup", "ext4", "/dev/sda2") + line(5, "8:3", dir / "missing", "ext4", "/dev/sda3") +
        line(6, "8:4", dir / "archive", "xfs", "/dev/sda4") + line(7, "0:40", dir / "archive", "tmpfs", "tmpfs");
    std::vector<VolumeInfo> volumes = VolumeInfo::fromMountInfo(text);
    EXPECT_EQ(names(volumes), (std::vector<std::string>{"Backup", "archive", "data disk"}));
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    for (const VolumeInfo& v : volumes) {
        EXPECT_EQ(v.totalCapacity, int64_t(fs.f_blocks) * int64_t(fs.f_frsize)) << v.name;
        EXPECT_EQ(v.availableForImportantUsage, v.trueFree) << "Linux has no purgeable space";
        EXPECT_FALSE(v.isRootVolume);
    }
    EXPECT_EQ(volumes[2].url, dir / "data disk");
}

TEST(VolumeInfo, RootFirstThenCodePointOrderStable) {
    std::vector<VolumeInfo> volumes = {
        {"/b", "Backup", 1, 0, 0, false, false},
        {"/a", "archive", 1, 0, 0, false, false},
        {"/", "Main", 1, 0, 0, true, true},
        {"/b2", "Backup", 2, 0, 0, false, false},
    };
    VolumeInfo::sortForDisplay(volumes);
    EXPECT_EQ(names(volumes), (std::vector<std::string>{"Main", "Backup", "Backup", "archive"}));
    EXPECT_EQ(volumes[1].url, "/b");
    EXPECT_EQ(volumes[2].url, "/b2");
    EXPECT_EQ(std::hash<VolumeInfo>{}(volumes[1]), std::hash<VolumeInfo>{}(VolumeInfo(volumes[1])));
}

TEST(VolumeInfo, ThisMachineListsItsRootVolumeAsDfDoes) {
    auto readDf = [](int64_t& total, int64_t& available) {
        std::string output;
        if (test::runProgram({"df", "-B1", "--output=size,avail", "/"}, &output) != 0) return false;
        std::istringstream in(output);
        std::string header1, header2;
        in >> header1 >> header2 >> total >> available;
        return bool(in);
    };
    int64_t dfTotal = 0, dfBefore = 0, dfAfter = 0;
    ASSERT_TRUE(readDf(dfTotal, dfBefore));
    std::vector<VolumeInfo> volumes = VolumeInfo::current();
    ASSERT_TRUE(readDf(dfTotal, dfAfter));
    ASSERT_FALSE(volumes.empty());
    const VolumeInfo& root = volumes.front();
    EXPECT_TRUE(root.isRootVolume);
    EXPECT_EQ(root.url, "/");
    EXPECT_FALSE(root.name.empty());
    EXPECT_GT(root.totalCapacity, 0);
    EXPECT_EQ(root.totalCapacity, dfTotal);
    // Other work on this machine may change the free space between the readings.
    EXPECT_GE(root.trueFree, std::min(dfBefore, dfAfter) - (64 << 20));
    EXPECT_LE(root.trueFree, std::max(dfBefore, dfAfter) + (64 << 20));
    for (size_t i = 1; i < volumes.size(); ++i) EXPECT_FALSE(volumes[i].isRootVolume);
}
