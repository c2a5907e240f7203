#include "removal/Remover.h"

#include "TestSupport.h"
#include "platform/TrashHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

namespace {

std::vector<std::string> allUrls(const RemovalResult& r) {
    std::vector<std::string> all = r.succeeded;
    for (const auto& f : r.failed) all.push_back(f.url);
    all.insert(all.end(), r.needsAdmin.begin(), r.needsAdmin.end());
    return all;
}

bool isLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

TEST(Remove, ModesAndTheirText) {
    EXPECT_EQ(allRemovalModes.size(), 2u);
    EXPECT_EQ(displayText(allRemovalModes[0]), "Move to Trash");
    EXPECT_EQ(displayText(allRemovalModes[1]), "Delete immediately");
}

TEST(Remove, ResultListsPartitionTheInputInOrder) {
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        const std::string a = test::writeFile(box.dir / "w/a", 5000);
        const std::string b = test::writeFile(box.dir / "w/b dir/inner", 7000);
        const std::string c = test::writeFile(box.dir / "w/c", 100);
        const int64_t aSize = test::allocatedSize(a);
        const int64_t cSize = test::allocatedSize(c);
        const std::vector<std::string> urls = {a, "/etc", box.dir / "w/missing", box.dir / "w/b dir", "/x", c};
        RemovalResult result = Remover::remove(urls, mode, {{box.dir / "w/b dir", 123456}});

        EXPECT_EQ(result.succeeded, (std::vector<std::string>{a, box.dir / "w/b dir", c}));
        ASSERT_EQ(result.failed.size(), 3u);
        EXPECT_EQ(result.failed[0], (RemovalFailure{"/etc", "/etc is a structural directory and is never removed."}));
        EXPECT_EQ(result.failed[1].reason, box.dir / "w/missing" + " no longer exists.");
        EXPECT_EQ(result.failed[2].reason, "/x is too close to the volume root to remove safely.");
        EXPECT_TRUE(result.needsAdmin.empty());
        // The precomputed size wins over the disk; the others are measured.
        EXPECT_EQ(result.bytesFreed, aSize + 123456 + cSize);
        std::vector<std::string> all = allUrls(result);
        std::sort(all.begin(), all.end());
        std::vector<std::string> input = urls;
        std::sort(input.begin(), input.end());
        EXPECT_EQ(all, input);
        EXPECT_FALSE(exists(a) || exists(b) || exists(c));
        EXPECT_EQ(exists(box.dir / "home/.local/share/Trash/files/a"), mode == RemovalMode::trash);
    }
}

TEST(Remove, UrlsAreReportedAsGivenAndTheGuardedPathIsRemoved) {
    test::TrashHome box;
    test::writeFile(box.dir / "w/file", 10);
    test::writeFile(box.dir / "elsewhere/file", 10);
    // "link/.." is lexically w, physically elsewhere: the guarded item is the one removed.
    ASSERT_EQ(::symlink((box.dir / "elsewhere/sub").c_str(), (box.dir / "w/link").c_str()), 0);
    test::makeDirs(box.dir / "elsewhere/sub");
    const std::string given = box.dir / "w/link/../file/";
    RemovalResult result = Remover::remove({given}, RemovalMode::deleteImmediately);
    EXPECT_EQ(result.succeeded, std::vector<std::string>{given});
    EXPECT_FALSE(exists(box.dir / "w/file"));
    EXPECT_TRUE(exists(box.dir / "elsewhere/file"));
}

TEST(Remove, NeverLeavesItsItem) {
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        test::writeFile(box.dir / "outside/precious", 4096);
        test::makeDirs(box.dir / "w");
        ASSERT_EQ(::symlink((box.dir / "outside").c_str(), (box.dir / "w/link").c_str()), 0);
        test::writeFile(box.dir / "w/tree/sub/file", 100);
        ASSERT_EQ(::symlink((box.dir / "outside").c_str(), (box.dir / "w/tree/sub/inner-link").c_str()), 0);
        ASSERT_EQ(::symlink((box.dir / "gone").c_str(), (box.dir / "w/dangling").c_str()), 0);

        RemovalResult result = Remover::remove({box.dir / "w/link", box.dir / "w/tree", box.dir / "w/dangling"}, mode);
        EXPECT_EQ(result.succeeded.size(), 3u);
        EXPECT_TRUE(result.failed.empty());
        EXPECT_FALSE(exists(box.dir / "w/link") || exists(box.dir / "w/tree") || exists(box.dir / "w/dangling"));
        EXPECT_EQ(test::readText(box.dir / "outside/precious"), std::string(4096, 'x'));
        if (mode == RemovalMode::trash) {
            EXPECT_TRUE(isLink(box.dir / "home/.local/share/Trash/files/link"));
        }
    }
}

TEST(Remove, PermissionFailuresNeedAdministratorRights) {
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        // Root's items in root's folder; the child that tries is "nobody".
        const std::string theirs = test::writeFile(box.dir / "root-owned/file", 100);
        test::writeFile(box.dir / "root-owned/tree/inner", 100);
        const std::string open = box.dir / "open";
        test::makeDirs(open);
        ::chmod(open.c_str(), 0777);
        int status = test::runAsUnprivileged([&] {
            const std::string mine = test::writeFile(open + "/mine", 100);
            const int64_t mineSize = test::allocatedSize(mine);
            RemovalResult r = Remover::remove(
                {mine, theirs, box.dir / "root-owned/missing", box.dir / "root-owned/tree", "/etc/hosts"}, mode);
            bool ok = r.succeeded == std::vector<std::string>{mine} &&
                      r.needsAdmin == std::vector<std::string>{theirs, box.dir / "root-owned/tree"} &&
                      r.failed.size() == 2 && r.failed[0].url == box.dir / "root-owned/missing" &&
                      r.failed[1].url == "/etc/hosts" && r.bytesFreed == mineSize;
            return ok ? 0 : 1;
        });
        EXPECT_EQ(status, 0) << displayText(mode);
        EXPECT_TRUE(exists(theirs));
        EXPECT_TRUE(exists(box.dir / "root-owned/tree/inner"));
    }
}

TEST(Remove, ReadOnlyFileSystemNeedsAdministratorRights) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        const std::string volume = box.dir / "volume";
        ASSERT_TRUE(test::mountTmpfs(volume, 1 << 20));
        test::writeFile(volume + "/sub/file", 100);
        test::writeFile(volume + "/item", 100);
        ASSERT_TRUE(test::remountReadOnly(volume));
        RemovalResult result = Remover::remove({volume + "/sub", volume + "/item"}, mode);
        EXPECT_EQ(result.needsAdmin, (std::vector<std::string>{volume + "/sub", volume + "/item"}));
        EXPECT_TRUE(result.succeeded.empty() && result.failed.empty());
        EXPECT_EQ(result.bytesFreed, 0);
        EXPECT_TRUE(exists(volume + "/sub/file"));
        test::unmount(volume);
    }
}

TEST(Remove, MountedVolumeRootIsNeverEmptied) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        const std::string volume = box.dir / "volume";
        ASSERT_TRUE(test::mountTmpfs(volume, 1 << 20));
        test::writeFile(volume + "/data", 100);
        RemovalResult result = Remover::remove({volume}, mode);
        EXPECT_EQ(result.failed, (std::vector<RemovalFailure>{
                                     {volume, volume + " is the root of a mounted volume and is never removed."}}));
        EXPECT_TRUE(exists(volume + "/data"));
        test::unmount(volume);
    }
}
