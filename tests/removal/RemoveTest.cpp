#include "removal/RemovalTexts.h"

#include "TestSupport.h"
#include "platform/ItemHandle.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

TEST(Remove, ResultListsPartitionTheInputInOrder) {
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        const std::string a = test::writeFile(box.dir / "w/a", 5000);
        const std::string b = test::writeFile(box.dir / "w/b dir/inner", 7000);
        const std::string c = test::writeFile(box.dir / "w/c", 100);
        // Also linked from outside: removing this name frees nothing.
        const std::string d = test::writeFile(box.dir / "w/d", 9000);
        ASSERT_EQ(::link(d.c_str(), (box.dir / "kept-link").c_str()), 0);
        const int64_t files = test::allocatedSize(a) + test::allocatedSize(b) + test::allocatedSize(c);
        const int64_t folder = test::allocatedSize(box.dir / "w/b dir");
        const std::vector<std::string> urls = {a, "/etc", box.dir / "w/missing", box.dir / "w/b dir", "/x", c, d};
        RemovalResult result = Remover::remove(urls, mode);

        EXPECT_EQ(result.succeeded, (std::vector<std::string>{a, box.dir / "w/b dir", c, d}));
        EXPECT_EQ(result.failed,
                  (std::vector<Failure>{{"/etc", "/etc is a structural directory and is never removed."},
                                        {box.dir / "w/missing", box.dir / "w/missing" + " does not exist."},
                                        {"/x", "/x is too close to the volume root to remove safely."}}));
        EXPECT_TRUE(result.needsAdmin.empty());
        // What really went: deleting frees the items' blocks (the folder's own
        // too), except a file still linked from elsewhere; a move to the Trash
        // frees nothing yet and says what it moved.
        const bool trash = mode == RemovalMode::trash;
        EXPECT_EQ(std::tuple(result.bytesFreed, result.bytesMovedToTrash, result.movedToTrash.size()),
                  std::tuple(trash ? 0 : files + folder, trash ? files : 0, trash ? 4u : 0u));
        EXPECT_FALSE(exists(a) || exists(b) || exists(c));
        EXPECT_EQ(exists(box.dir / "home/.local/share/Trash/files/a"), mode == RemovalMode::trash);
    }
}

TEST(Remove, UrlsAreReportedAsGivenAndDotDotFollowsTheRealFolder) {
    test::TrashHome box;
    test::writeFile(box.dir / "w/file", 10);
    test::writeFile(box.dir / "elsewhere/file", 10);
    // "link/.." is lexically w, but the kernel takes it to elsewhere: so does the remover.
    ASSERT_EQ(::symlink((box.dir / "elsewhere/sub").c_str(), (box.dir / "w/link").c_str()), 0);
    test::makeDirs(box.dir / "elsewhere/sub");
    const std::string given = box.dir / "w/link/../file/";
    RemovalResult result = Remover::remove({given}, RemovalMode::deleteImmediately);
    EXPECT_EQ(result.succeeded, std::vector<std::string>{given});
    EXPECT_TRUE(exists(box.dir / "w/file") && !exists(box.dir / "elsewhere/file"));
}

// Another process swaps the item's folder for a link between resolving and
// acting: the chosen item goes, or nothing does; never what the link reaches;
// an item swapped for another folder is left alone.
TEST(Remove, SwapAfterResolvingNeverRedirects) {
    for (RemovalMode mode : allRemovalModes) {
        for (const char* victimFolder : {"home/.ssh", "victim"}) {
            test::TrashHome box;
            const std::string victim = box.dir / victimFolder;
            test::writeFile(victim + "/target", 100, 'v');
            const std::string chosen = test::writeFile(box.dir / "base/p/target", 200, 'c');
            RemovalOptions options;
            options.afterResolving = [&](const std::string&) {
                ASSERT_EQ(::rename((box.dir / "base/p").c_str(), (box.dir / "base/moved").c_str()), 0);
                ASSERT_EQ(::symlink(victim.c_str(), (box.dir / "base/p").c_str()), 0);
            };
            RemovalResult result = Remover::remove({chosen}, mode, options);
            EXPECT_EQ(test::readText(victim + "/target"), std::string(100, 'v'));
            EXPECT_EQ(result.succeeded, std::vector<std::string>{chosen});
            EXPECT_FALSE(exists(box.dir / "base/moved/target"));
            if (mode == RemovalMode::trash) {
                EXPECT_EQ(test::readText(box.trash() + "/files/target"), std::string(200, 'c'));
                EXPECT_NE(test::readText(box.trash() + "/info/target.trashinfo").find(box.dir / "base/moved/target"),
                          std::string::npos);
            }
            // Given as real (after the question of the command line), the path now leads through a link: refused.
            options.pathsAreReal = true;
            options.afterResolving = {};
            result = Remover::remove({chosen}, mode, options);
            EXPECT_EQ(result.failed,
                      (std::vector<Failure>{{chosen, chosen + " was moved or replaced by a link while it was being "
                                                              "removed; nothing was removed."}}));
            EXPECT_EQ(test::readText(victim + "/target"), std::string(100, 'v'));
        }
        // Bound to the object the user was shown: another folder renamed into
        // its place after it was resolved is caught where it is acted on.
        {
            test::TrashHome box;
            const std::string item = box.dir / "base/item";
            test::writeFile(item + "/data", 200, 'c');
            test::writeFile(box.dir / "other/data", 100, 'o');
            const IdentifiedItem shown = identify(item);
            ASSERT_TRUE(shown.identity.known());
            RemovalOptions options;
            options.afterResolving = [&](const std::string&) {
                ASSERT_EQ(::rename(item.c_str(), (box.dir / "base/was").c_str()), 0);
                ASSERT_EQ(::rename((box.dir / "other").c_str(), item.c_str()), 0);
            };
            RemovalResult result = Remover::removeItems({{shown.path, shown.identity}}, mode, options);
            EXPECT_EQ(result.failed, (std::vector<Failure>{{item, item + " changed since it was shown; scan again."}}));
            EXPECT_EQ(std::tuple(test::readText(item + "/data"), test::readText(box.dir / "base/was/data")),
                      std::tuple(std::string(100, 'o'), std::string(200, 'c')));
            EXPECT_EQ(result.bytesFreed + result.bytesMovedToTrash, 0);
        }
    }
}

TEST(Remove, PermissionFailuresNeedAdministratorRightsAndPartialOnesAreSaid) {
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        // Root's items in root's folder; the child that tries is "nobody".
        const std::string theirs = test::writeFile(box.dir / "root-owned/file", 100);
        test::writeFile(box.dir / "root-owned/tree/inner", 100);
        const std::string closed = test::writeFile(box.dir / "root-owned/closed/file", 100);
        ::chmod((box.dir / "root-owned/closed").c_str(), 0700);
        // Nobody's tree in root's folder: deleting empties it, then cannot take it away.
        const std::string partial = box.dir / "root-owned/partial";
        const std::string file = test::writeFile(partial + "/sub/file", 8192);
        for (const std::string& path : {partial, partial + "/sub", file})
            ASSERT_EQ(::lchown(path.c_str(), test::unprivilegedUid(), test::unprivilegedGid()), 0);
        const int64_t partialSize = test::allocatedSize(file) + test::allocatedSize(partial + "/sub");
        const std::string open = box.dir / "open";
        test::makeDirs(open);
        ::chmod(open.c_str(), 0777);
        const bool deleting = mode == RemovalMode::deleteImmediately;
        int status = test::runAsUnprivileged([&] {
            const std::string mine = test::writeFile(open + "/mine", 100);
            const int64_t mineSize = test::allocatedSize(mine);
            RemovalResult r = Remover::remove({mine, theirs, box.dir / "root-owned/missing",
                                               box.dir / "root-owned/tree", partial, closed, "/etc/hosts"},
                                              mode);
            bool ok = r.succeeded == std::vector<std::string>{mine} &&
                      r.needsAdmin == std::vector<std::string>{theirs, box.dir / "root-owned/tree", partial, closed} &&
                      r.failed.size() == 2 && r.failed[0].path == box.dir / "root-owned/missing" &&
                      r.failed[1].path == "/etc/hosts" && r.bytesFreed == (deleting ? mineSize + partialSize : 0) &&
                      r.bytesMovedToTrash == (deleting ? 0 : mineSize) &&
                      r.partlyRemoved == (deleting ? std::vector<std::string>{partial} : std::vector<std::string>{}) &&
                      (!deleting || RemovalTexts::needsAdminLine(r) ==
                                        "4 items need administrator rights. 1 of them was partly removed already.");
            return ok ? 0 : 1;
        });
        EXPECT_EQ(std::tuple(status, exists(file)), std::tuple(0, !deleting)) << displayText(mode);
        EXPECT_TRUE(exists(theirs) && exists(box.dir / "root-owned/tree/inner") && exists(partial));
    }
}

TEST(Remove, MountsTheTrashAndReadOnlyVolumesAreRefused) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting needs root";
    for (RemovalMode mode : allRemovalModes) {
        test::TrashHome box;
        const std::string volume = box.dir / "volume";
        ASSERT_TRUE(test::mountTmpfs(volume, 1 << 20));
        test::writeFile(volume + "/sub/file", 100);
        test::writeFile(volume + "/item", 100);
        // A folder holding a bind mount: the mounted data would go with it.
        test::writeFile(box.dir / "precious/data", 100);
        test::writeFile(box.dir / "tree/file", 100);
        ASSERT_TRUE(test::bindMount(box.dir / "precious", box.dir / "tree/bound"));
        RemovalResult result = Remover::remove({volume, box.dir / "tree"}, mode);
        std::vector<Failure> expected = {{volume, volume + " is the root of a mounted volume and is never removed."},
                                         {box.dir / "tree", box.dir / "tree" + " holds the mounted file system " +
                                                                (box.dir / "tree/bound") + " and is never removed."}};
        EXPECT_EQ(result.failed, expected);
        EXPECT_TRUE(exists(box.dir / "tree/file") && exists(box.dir / "precious/data"));
        test::unmount(box.dir / "tree/bound");
        // A read-only file system is a plain failure: administrator rights would not help.
        ASSERT_TRUE(test::remountReadOnly(volume));
        result = Remover::remove({volume + "/sub"}, mode);
        EXPECT_EQ(result.failed,
                  (std::vector<Failure>{{volume + "/sub", volume + "/sub is on a read-only file system."}}));
        EXPECT_TRUE(result.needsAdmin.empty() && exists(volume + "/sub/file"));
        test::unmount(volume);
        if (mode != RemovalMode::trash) continue;
        // A folder holding the Trash cannot go into it.
        test::ScopedEnv data("XDG_DATA_HOME", box.dir / "data/share");
        test::makeDirs(box.dir / "data/share/Trash");
        result = Remover::remove({box.dir / "data"}, mode);
        EXPECT_EQ(result.failed,
                  (std::vector<Failure>{
                      {box.dir / "data", box.dir / "data" + " holds the Trash and cannot be moved into it."}}));
    }
}
