#include "scan/DiskScanner.h"
#include "scan/ScanRootPreset.h"

#include "ScanTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <thread>

using namespace vessora;
using test::child;
using test::treeProblem;
using test::walkThreads;

namespace {

FSNode::Ptr scan(const std::string& path, ScanStats* stats = nullptr, const ScanOptions& options = {}) {
    ScanStats local;
    return DiskScanner::scan(path, options, stats ? *stats : local);
}

} // namespace

TEST(DiskScanner, SizesAndCountsAddUpAtEveryLevel) {
    test::TempDir dir;
    int64_t big = test::allocatedSize(test::writeFile(dir / "r/a/big", 3 << 20));
    int64_t small = 0;
    for (int i = 0; i < 5; ++i) small += test::allocatedSize(test::writeFile(dir / "r/a/s" + std::to_string(i), 4000));
    int64_t deep = test::allocatedSize(test::writeFile(dir / "r/a/b/c/d/f", 100));
    test::makeDirs(dir / "r/empty");
    int64_t top = test::allocatedSize(test::writeFile(dir / "r/top.txt", 10));
    ScanStats stats;
    auto root = scan(dir / "r", &stats);
    EXPECT_EQ(treeProblem(*root), "");
    EXPECT_EQ(root->size, big + small + deep + top);
    EXPECT_EQ(root->fileCount, 8);
    EXPECT_EQ(root->dirCount, 5); // a, a/b, a/b/c, a/b/c/d, empty
    const FSNode* a = child(*root, "a");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(child(*a, "big"), nullptr);
    const FSNode* lump = child(*a, "5 smaller items");
    ASSERT_NE(lump, nullptr);
    EXPECT_EQ(lump->size, small);
    EXPECT_EQ(lump->logicalSize, 5 * 4000);
    EXPECT_EQ(a->children().back().get(), lump); // the lump comes last
    EXPECT_NE(child(*child(*child(*child(*a, "b"), "c"), "d"), "1 smaller item"), nullptr);
    // A top-level file always gets a node of its own.
    ASSERT_NE(child(*root, "top.txt"), nullptr);
    EXPECT_EQ(stats.snapshot().files, 8);
    EXPECT_EQ(stats.snapshot().bytes, root->size);
    EXPECT_EQ(DiskScanner::quickSize(dir / "r"), root->size);
}

TEST(DiskScanner, RootsThatAreFilesOrMissing) {
    test::TempDir dir;
    int64_t size = test::allocatedSize(test::writeFile(dir / "f", 5000));
    auto file = scan(dir / "f");
    EXPECT_TRUE(file->isDirectory());
    EXPECT_EQ(file->size, size);
    EXPECT_EQ(file->logicalSize, 5000);
    EXPECT_EQ(file->fileCount, 1);
    auto missing = scan(dir / "missing");
    EXPECT_EQ(missing->size, 0);
    EXPECT_TRUE(missing->children().empty());
    EXPECT_EQ(scan("/")->name(), "Macintosh HD");
    // Standardized: "~", "." and ".." resolved, the display name its last component.
    test::makeDirs(dir / "x/y");
    auto standardized = scan(dir / "x/./y/../y/");
    EXPECT_EQ(standardized->path(), dir / "x/y");
    EXPECT_EQ(standardized->name(), "y");
}

TEST(DiskScanner, LumpBoundaryAndNames) {
    test::TempDir dir;
    test::writeFile(dir / "r/d/exact", 1 << 20);
    test::writeFile(dir / "r/d/below", (1 << 20) - 4096);
    test::writeFile(dir / "r/one/only", 10);
    ASSERT_EQ(test::allocatedSize(dir / "r/d/exact"), 1 << 20);
    auto root = scan(dir / "r");
    const FSNode* d = child(*root, "d");
    ASSERT_NE(d, nullptr);
    EXPECT_NE(child(*d, "exact"), nullptr);
    EXPECT_EQ(child(*d, "below"), nullptr);
    ASSERT_NE(child(*d, "1 smaller item"), nullptr);
    EXPECT_EQ(child(*d, "1 smaller item")->size, (1 << 20) - 4096);
    EXPECT_NE(child(*child(*root, "one"), "1 smaller item"), nullptr);
    // The threshold is an option.
    ScanOptions options;
    options.smallFileThreshold = (1 << 20) + 1;
    auto lumped = scan(dir / "r", nullptr, options);
    EXPECT_EQ(child(*child(*lumped, "d"), "exact"), nullptr);
    EXPECT_NE(child(*child(*lumped, "d"), "2 smaller items"), nullptr);
}

TEST(DiskScanner, HardLinksCountOnceAcrossTheScan) {
    test::TempDir dir;
    int64_t big = test::allocatedSize(test::writeFile(dir / "r/a/big", 2 << 20));
    int64_t small = test::allocatedSize(test::writeFile(dir / "r/a/small", 5000));
    test::makeDirs(dir / "r/b/deeper");
    ASSERT_EQ(::link((dir / "r/a/big").c_str(), (dir / "r/b/deeper/big2").c_str()), 0);
    ASSERT_EQ(::link((dir / "r/a/small").c_str(), (dir / "r/b/small2").c_str()), 0);
    ASSERT_EQ(::link((dir / "r/a/small").c_str(), (dir / "r/b/small3").c_str()), 0);
    // A top-level file with a second link inside a walked folder.
    int64_t topFile = test::allocatedSize(test::writeFile(dir / "r/top", 3 << 20));
    ASSERT_EQ(::link((dir / "r/top").c_str(), (dir / "r/a/top-link").c_str()), 0);
    for (unsigned threads : {1u, 4u}) {
        walkThreads(threads);
        ScanStats stats;
        auto root = scan(dir / "r", &stats);
        EXPECT_EQ(treeProblem(*root), "");
        EXPECT_EQ(root->size, big + small + topFile);
        EXPECT_EQ(root->fileCount, 3);
        EXPECT_EQ(stats.snapshot().files, 3);
        EXPECT_EQ(stats.snapshot().bytes, big + small + topFile);
    }
    walkThreads(0);
}

TEST(DiskScanner, SymlinksAreMeasuredAsLinks) {
    test::TempDir dir;
    test::writeFile(dir / "target/big", 4 << 20);
    test::makeDirs(dir / "r");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "r/to-dir").c_str()), 0);
    ASSERT_EQ(::symlink("/nowhere/at/all", (dir / "r/dangling").c_str()), 0);
    test::makeDirs(dir / "r/sub");
    ASSERT_EQ(::symlink((dir / "target/big").c_str(), (dir / "r/sub/to-file").c_str()), 0);
    int64_t links = test::allocatedSize(dir / "r/to-dir") + test::allocatedSize(dir / "r/dangling") +
                    test::allocatedSize(dir / "r/sub/to-file");
    auto root = scan(dir / "r");
    EXPECT_EQ(root->size, links);
    EXPECT_EQ(root->fileCount, 3);
    EXPECT_FALSE(child(*root, "to-dir")->isDirectory());
    EXPECT_EQ(child(*root, "to-dir")->logicalSize, int64_t((dir / "target").size()));
    EXPECT_EQ(DiskScanner::quickSize(dir / "r"), links);
    EXPECT_EQ(DiskScanner::quickSize(dir / "r/to-dir"), test::allocatedSize(dir / "r/to-dir"));
}

TEST(DiskScanner, SkippedAndCloudProviderLocations) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    test::writeFile(dir / "home/Library/CloudStorage/Drive/huge", 2 << 20);
    test::writeFile(dir / "home/Library/Mobile Documents/doc", 100);
    test::writeFile(dir / "home/Library/Prefs/p", 100);
    test::writeFile(dir / "home/managed/inner", 100);
    ScanOptions options; // reads the temporary HOME
    options.skipPaths.insert(dir / "home/managed");
    for (const std::string& rootPath : {dir / "home", dir / "home/Library"}) {
        auto root = scan(rootPath, nullptr, options);
        EXPECT_EQ(treeProblem(*root), "");
        const FSNode* library = rootPath == dir / "home" ? child(*root, "Library") : root.get();
        ASSERT_NE(library, nullptr);
        for (const char* name : {"CloudStorage", "Mobile Documents"}) {
            const FSNode* cloud = child(*library, name);
            ASSERT_NE(cloud, nullptr) << name;
            EXPECT_TRUE(cloud->isNotDescended && cloud->isCloudProvider && cloud->isDirectory()); // empty: treeProblem
        }
        EXPECT_EQ(library->dirCount, 3);
        EXPECT_EQ(library->fileCount, 1);
    }
    auto root = scan(dir / "home", nullptr, options);
    const FSNode* managed = child(*root, "managed");
    ASSERT_NE(managed, nullptr);
    EXPECT_TRUE(managed->isNotDescended && !managed->isCloudProvider);
    // quickSize leaves skipped locations out, also when asked for one.
    EXPECT_EQ(DiskScanner::quickSize(dir / "home/Library", options), test::allocatedSize(dir / "home/Library/Prefs/p"));
    EXPECT_EQ(DiskScanner::quickSize(dir / "home/managed", options), 0);
    EXPECT_EQ(DiskScanner::quickSize(dir / "home/managed/", options), 0);
    EXPECT_EQ(DiskScanner::quickSize(dir / "home/managed/inner", options),
              test::allocatedSize(dir / "home/managed/inner"));
    EXPECT_EQ(DiskScanner::quickSize(dir / "missing", options), 0);
}

TEST(DiskScanner, UnreadableFolderIsClosedInPlaceAndCountedOnce) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    test::writeFile(dir / "r/top/a/f", 100);
    test::writeFile(dir / "r/top/locked/secret", 5000);
    test::writeFile(dir / "r/top/locked/more/x", 5000);
    test::writeFile(dir / "r/top/z/g", 2 << 20);
    test::writeFile(dir / "r/top/h", 300);
    test::writeFile(dir / "r/closed/inner", 100);
    test::writeFile(dir / "r/noexec/visible", 100);
    ASSERT_EQ(::chmod((dir / "r/top/locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "r/closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "r/noexec").c_str(), 0444), 0);
    int status = test::runAsUnprivileged([&] {
        ScanStats stats;
        auto root = scan(dir / "r", &stats);
        if (!treeProblem(*root).empty()) return 10;
        const FSNode* top = child(*root, "top");
        const FSNode* locked = top ? child(*top, "locked") : nullptr;
        if (!locked || !locked->unreadable || !locked->children().empty() || locked->size != 0) return 11;
        // What follows the locked folder lands in its real parent.
        if (!child(*top, "z") || !child(*top, "a") || top->dirCount != 3 || top->fileCount != 3) return 12;
        if (top->unreadable || !child(*child(*top, "z"), "g")) return 13;
        const FSNode* closed = child(*root, "closed");
        if (!closed || !closed->unreadable || closed->dirCount != 0) return 14;
        // A folder that can be listed but not searched: its entry cannot be
        // examined, which flags the top-level entry.
        const FSNode* noexec = child(*root, "noexec");
        if (!noexec || !noexec->unreadable || noexec->fileCount != 0) return 15;
        if (stats.snapshot().unreadable != 3) return 16;
        if (root->fileCount != 3) return 17;
        // The same folders as scan roots: flagged and counted, never a silent empty tree.
        for (const char* name : {"r/closed", "r/noexec"}) {
            ScanStats alone;
            auto tree = scan(dir / name, &alone);
            if (!tree->unreadable || alone.snapshot().unreadable != 1 || tree->fileCount != 0) return 18;
        }
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(DiskScanner, MountPointsAreListedButNotEntered) {
    if (!test::isRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    test::TempDir dir;
    int64_t outside = test::allocatedSize(test::writeFile(dir / "r/a/f", 5000));
    ASSERT_TRUE(test::mountTmpfs(dir / "r/a/mnt"));
    ASSERT_TRUE(test::mountTmpfs(dir / "r/topmnt"));
    test::writeFile(dir / "r/a/mnt/inside", 2 << 20);
    test::writeFile(dir / "r/topmnt/inside", 2 << 20);
    auto root = scan(dir / "r");
    EXPECT_EQ(treeProblem(*root), "");
    EXPECT_EQ(root->size, outside);
    for (const FSNode* mount : {child(*child(*root, "a"), "mnt"), child(*root, "topmnt")}) {
        ASSERT_NE(mount, nullptr);
        EXPECT_TRUE(mount->isDirectory());
        EXPECT_TRUE(mount->children().empty());
        EXPECT_FALSE(mount->isNotDescended);
    }
    EXPECT_EQ(root->dirCount, 3);
    EXPECT_EQ(DiskScanner::quickSize(dir / "r"), outside);
    ScanOptions crossing;
    crossing.crossesDevices = true;
    auto crossed = scan(dir / "r", nullptr, crossing);
    EXPECT_EQ(crossed->fileCount, 3);
    // quickSize stays on one file system whatever the options say.
    EXPECT_EQ(DiskScanner::quickSize(dir / "r", crossing), outside);
}

TEST(DiskScanner, ChainDeeperThanPathMax) {
    const int depth = 20000;
    test::TempDir dir;
    test::makeDirs(dir / "r");
    int64_t big = test::makeChain(dir / "r", depth);
    ASSERT_GT(depth * 2, PATH_MAX);
    ScanStats stats;
    auto root = scan(dir / "r", &stats);
    EXPECT_EQ(root->size, big);
    EXPECT_EQ(root->fileCount, 1);
    EXPECT_EQ(root->dirCount, depth);
    EXPECT_EQ(stats.snapshot().unreadable, 0);
    EXPECT_FALSE(root->children()[0]->unreadable);
    root->sortRecursively();
    const FSNode* n = root.get();
    while (!n->children().empty()) n = n->children()[0].get();
    EXPECT_EQ(n->name(), "big");
    EXPECT_GT(n->path().size(), size_t(PATH_MAX));
    EXPECT_EQ(DiskScanner::quickSize(dir / "r"), big);
    root.reset();
    test::splitChain(dir / "r", depth);
}

TEST(DiskScanner, CancelBeforeAndDuringTheWalk) {
    test::TempDir dir;
    for (int d = 0; d < 12; ++d) test::writeManyFiles(dir / "r/d" + std::to_string(d), 1000);
    test::makeDirs(dir / "r/skipped");
    ScanOptions options;
    options.skipPaths.insert(dir / "r/skipped");
    ScanStats before;
    before.cancel();
    auto root = scan(dir / "r", &before, options);
    ASSERT_EQ(root->children().size(), 1u);
    EXPECT_TRUE(root->children()[0]->isNotDescended);
    EXPECT_EQ(before.snapshot().files, 0);

    walkThreads(1);
    ScanStats during;
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done && during.snapshot().files < 4096) std::this_thread::yield();
        during.cancel();
    });
    auto partial = scan(dir / "r", &during);
    done = true;
    canceller.join();
    walkThreads(0);
    EXPECT_TRUE(during.snapshot().cancelled);
    EXPECT_LT(during.snapshot().files, 12000);
    EXPECT_LT(partial->fileCount, 12000);
    bool cancelled = false;
    EXPECT_EQ(DiskScanner::quickSize(dir / "r", {}, [&] { return cancelled = true; }), 0);
}

TEST(DiskScanner, ProgressAfterTenThousandFiles) {
    test::TempDir dir;
    test::writeManyFiles(dir / "r/flat", 10000);
    ScanStats stats;
    auto root = scan(dir / "r", &stats);
    auto s = stats.snapshot();
    EXPECT_EQ(s.files, 10000);
    EXPECT_EQ(s.bytes, root->size);
    EXPECT_EQ(s.current, dir / "r/flat");
}

TEST(DiskScanner, NamesWithNewlinesAndInvalidUtf8) {
    test::TempDir dir;
    const std::string odd = std::string("line\nbreak\xff\xfe", 12);
    test::writeFile(dir / "r/" + odd + "/big", 2 << 20);
    auto root = scan(dir / "r");
    const FSNode* folder = child(*root, odd);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(child(*folder, "big")->path(), dir / "r/" + odd + "/big");
}

TEST(ScanRootPreset, DisplayNamesRoundTrip) {
    for (auto preset : ScanRootPresets::all())
        EXPECT_EQ(ScanRootPresets::fromDisplayName(ScanRootPresets::displayName(preset)), preset);
    EXPECT_EQ(ScanRootPresets::fromDisplayName("Home"), std::nullopt);
    test::ScopedEnv home("HOME", "/home/ada");
    EXPECT_EQ(ScanRootPresets::path(ScanRootPresets::all().front()), "/home/ada"); // read when asked
}
