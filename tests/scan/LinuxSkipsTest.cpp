// What a scan enters and lists under the Linux tables: the mount table's
// verdicts, mounts inside the scanned folder, container and snapshot trees,
// and a FUSE mount whose server never answers.

#include "platform/MountTable.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "scan/DiskScanner.h"

#include "ScanTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

using namespace vessora;
using test::child;
using test::scan;

TEST(LinuxSkips, MountTableVerdictsAndSystemTreesOfTheRoot) {
    test::ScopedEnv home("HOME", "/home/ada");
    const std::string table = "20 1 0:30 /@ / rw - btrfs /dev/sda2 rw,subvol=/@\n"
                              "21 20 0:31 /@home /home rw - btrfs /dev/sda2 rw,subvol=/@home\n"
                              "22 20 0:30 /@/srv/data /srv/bound rw - btrfs /dev/sda2 rw,subvol=/@\n"
                              "23 20 8:17 / /data rw - ext4 /dev/sdb1 rw\n"
                              "24 20 8:17 / /data2 rw - ext4 /dev/sdb1 rw\n"
                              "25 20 8:33 / /media/ada/USB\\040Stick rw - vfat /dev/sdc1 rw\n"
                              "26 20 0:40 / /home/ada/My\\040Drive rw shared:7 - fuse.rclone gdrive: rw\n"
                              "27 20 0:41 / /home/ada/shared rw - nfs4 server:/export rw\n"
                              "28 20 0:42 / /run/user/1000/doc rw - fuse.portal portal rw\n"
                              "29 20 0:43 / /tmp/t rw - tmpfs tmpfs rw\n"
                              "30 20 0:44 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw\n"
                              "31 20 0:45 / /tmp/.mount_Foo rw - fuse.Foo.AppImage Foo.AppImage rw\n"
                              "32 20 0:46 / /home/ada/sync rw - fuse.sshfs ada@host: rw\n"
                              "33 20 0:47 / /mnt/win rw - fuseblk /dev/sdd1 rw\n";
    const MountTable::Plan plan =
        MountTable::plan(MountTable::parse(table), PlatformTables::current().scan, {"/run", "/proc"});
    EXPECT_EQ(plan.enteredDevices, (std::set<uint64_t>{makedev(0, 31), makedev(8, 17)}));
    EXPECT_EQ(plan.cloudPoints, (std::set<std::string>{"/home/ada/My Drive", "/home/ada/shared", "/home/ada/sync"}));
    EXPECT_EQ(plan.systemPoints,
              (std::set<std::string>{"/run/user/1000/doc", "/srv/bound", "/data2", "/media/ada/USB Stick", "/tmp/t",
                                     "/var/lib/docker/overlay2/abc/merged", "/tmp/.mount_Foo", "/mnt/win"}));
    // Cancelled before any walk: only the locations listed without entering them.
    ScanStats cancelled;
    cancelled.cancel();
    auto root = scan("/", &cancelled);
    EXPECT_TRUE(root->name() == VolumeInfo::rootVolumeName() && root->name() != "Macintosh HD") << root->name();
    for (const char* name : {"proc", "sys", "dev", "run"}) {
        const FSNode* skipped = child(*root, name);
        ASSERT_NE(skipped, nullptr) << name;
        EXPECT_TRUE(skipped->isNotDescended && !skipped->isCloudProvider) << name;
    }
    EXPECT_EQ(child(*root, "home"), nullptr) << "the users' homes are walked";
}

TEST(LinuxSkips, ContainerMergesAndMountsInsideTheScannedFolder) {
    test::TempDir dir;
    int64_t counted = test::allocatedSize(test::writeFile(dir / "r/data/f", 50'000));
    counted += test::allocatedSize(test::writeFile(dir / "r/overlay2/abc/diff/layer", 8000));
    test::writeFile(dir / "r/overlay2/abc/merged/layer", 8000);
    // Snapshot trees repeat the system they copy, so they would count it twice.
    counted += test::allocatedSize(test::writeFile(dir / "r/vol/.snapshots/7/info.xml", 300));
    test::writeFile(dir / "r/vol/.snapshots/7/snapshot/copy", 8000);
    test::writeFile(dir / "r/vol/timeshift-btrfs/snapshots/2024-01-05_10-00-01/@/copy", 8000);
    const bool root = test::isRoot();
    if (root) {
        ASSERT_TRUE(test::mountTmpfs(dir / "r/tmp"));
        test::writeFile(dir / "r/tmp/inside", 2 << 20);
        ASSERT_TRUE(test::bindMount(dir / "r/data", dir / "r/bound"));
    }
    auto tree = scan(dir / "r");
    EXPECT_EQ(test::treeProblem(*tree), "");
    EXPECT_EQ(std::tuple(tree->size, DiskScanner::quickSize(dir / "r")), std::tuple(counted, counted));
    EXPECT_TRUE(child(*child(*child(*tree, "overlay2"), "abc"), "merged")->isNotDescended);
    EXPECT_TRUE(child(*child(*child(*child(*tree, "vol"), ".snapshots"), "7"), "snapshot")->isNotDescended);
    EXPECT_TRUE(child(*child(*child(*tree, "vol"), "timeshift-btrfs"), "snapshots")->isNotDescended);
    if (!root) GTEST_SKIP() << "mounting a tmpfs and a bind mount needs root; the merged folder was checked";
    for (const char* name : {"tmp", "bound"}) {
        const FSNode* mount = child(*tree, name);
        ASSERT_NE(mount, nullptr) << name;
        EXPECT_TRUE(mount->isNotDescended && !mount->isCloudProvider) << name;
    }
}

TEST(LinuxSkips, AHungFuseMountNeverBlocksTheScan) {
    test::TempDir dir;
    const int64_t outside = test::allocatedSize(test::writeFile(dir / "r/sub/file", 9000));
    int status = test::runWithHangingFuse(dir / "r/sub/drive", [&] {
        // The mount met at the top of a scan and inside a walk.
        for (const std::string& top : {dir / "r/sub", dir / "r"}) {
            auto tree = scan(top);
            const FSNode* sub = top == dir / "r" ? child(*tree, "sub") : tree.get();
            const FSNode* drive = sub ? child(*sub, "drive") : nullptr;
            if (!drive || !drive->isNotDescended || !drive->isCloudProvider) return 1;
            if (tree->size != outside || DiskScanner::quickSize(top) != outside) return 2;
        }
        return 0;
    });
    if (status == test::kNoHangingFuse) GTEST_SKIP() << "a FUSE mount needs root and /dev/fuse";
    EXPECT_EQ(status, 0) << (status == test::kHangingFuseTimedOut ? "the scan waited for the FUSE server" : "");
}
