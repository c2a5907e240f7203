#include "platform/ItemHandle.h"
#include "platform/SafeDelete.h"

#include "TestSupport.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

TEST(SafeDelete, RemovesItemsAsThemselvesNeverFollowingAFolderSwappedForALink) {
    test::TempDir dir;
    test::writeFile(dir / "outside/keep", 5000);
    test::writeFile(dir / "tree/a/b/c/deep", 9000);
    test::writeFile(dir / "tree/top", 10);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/a/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "link-to-outside").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);

    for (const char* item : {"tree", "link-to-outside", "dangling"})
        EXPECT_TRUE(SafeDelete::removeItem(dir / item).ok() && !exists(dir / item)) << item;
    EXPECT_EQ(test::readText(dir / "outside/keep").size(), 5000u);
    EXPECT_EQ(SafeDelete::removeItem(dir / "missing").error, ENOENT);

    test::writeFile(dir / "victim/precious", 4096);
    test::writeFile(dir / "tree/a/b/c/file", 100);
    test::writeFile(dir / "tree/a/b/c/d/file", 100);
    int swaps = 0;
    // Between the moment c is seen as a directory and the moment it is opened,
    // it is moved away and a link to the victim takes its place.
    auto swap = [&](const std::string& path) {
        if (path != dir / "tree/a/b/c") return;
        ++swaps;
        ASSERT_EQ(::rename(path.c_str(), (dir / "moved-c").c_str()), 0);
        ASSERT_EQ(::symlink((dir / "victim").c_str(), path.c_str()), 0);
    };
    SafeDelete::Outcome outcome = SafeDelete::removeItem(dir / "tree", swap);
    EXPECT_EQ(std::tuple(swaps, outcome.ok(), exists(dir / "tree")), std::tuple(1, true, false)) << outcome.error;
    EXPECT_TRUE(exists(dir / "victim/precious") && exists(dir / "moved-c/d/file"));
}

TEST(SafeDelete, StopsAtMountPoints) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting needs root";
    test::TempDir dir;
    test::writeFile(dir / "tree/file", 100);
    // A bind mount of the same file system is another mount all the same.
    test::writeFile(dir / "precious/data", 100);
    ASSERT_TRUE(test::bindMount(dir / "precious", dir / "tree/bound"));
    SafeDelete::Outcome outcome = SafeDelete::removeItem(dir / "tree");
    EXPECT_EQ(outcome.reason, dir / "tree/bound" + " is another mounted file system; nothing below it was removed.");
    EXPECT_TRUE(exists(dir / "precious/data"));
    // A mount point itself is never emptied.
    outcome = SafeDelete::removeItem(dir / "tree/bound");
    EXPECT_EQ(outcome.reason, dir / "tree/bound" + " is the root of a mounted volume and is never removed.");
    EXPECT_TRUE(exists(dir / "precious/data"));
    test::unmount(dir / "tree/bound");
}

// Deleting a tree far deeper than the descriptor limit, with files at every level.
TEST(SafeDelete, DeepTreeUnderALowDescriptorLimit) {
    test::TempDir dir;
    // In memory where possible: thousands of folders are slow to make on a busy disk.
    const std::string top = test::mountTmpfs(dir / "fs", 64 << 20) ? dir / "fs" : dir.path();
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 3000 && fd >= 0; ++level) {
        ::close(::openat(fd, "file", O_WRONLY | O_CREAT, 0644));
        ::mkdirat(fd, "d", 0755);
        int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ::close(fd);
    pid_t child = ::fork();
    if (child == 0) {
        struct rlimit limit {
            256, 256
        };
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::_exit(SafeDelete::removeItem(top + "/d").ok() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(std::tuple(status, exists(top + "/d")), std::tuple(0, false));
    if (top != dir.path()) test::unmount(top);
}

// The folder of an item is opened without following a link anywhere on the
// way, with openat2 and with the walk used where the kernel lacks it.
TEST(ItemHandle, NeverFollowsALinkOnTheWay) {
    test::TempDir dir;
    char* real = ::realpath(dir.path().c_str(), nullptr);
    const std::string base = real;
    std::free(real);
    test::makeDirs(base + "/real/sub");
    ASSERT_EQ(::symlink((base + "/real").c_str(), (base + "/link").c_str()), 0);
    ItemHandle handle = ItemHandle::open(base + "/real/sub", "item");
    ASSERT_TRUE(handle.ok());
    EXPECT_EQ(handle.path(), base + "/real/sub/item");
    EXPECT_EQ(ItemHandle::open(base + "/link/sub", "item").error(), ELOOP);
    EXPECT_EQ(ItemHandle::open(base + "/link", "item").error(), ELOOP);
    int fd = openFolderByComponents(base + "/real/sub");
    EXPECT_EQ(realPathOf(fd), base + "/real/sub");
    ::close(fd);
    for (const char* through : {"/link/sub", "/link", "/real/../real"})
        EXPECT_EQ(openFolderByComponents(base + through), -1) << through;
}
