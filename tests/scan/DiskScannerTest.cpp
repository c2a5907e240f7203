#include "scan/DiskScanner.h"

#include "ScanTestSupport.h"
#include "TestSupport.h"
#include "platform/PlatformTables.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

using namespace vessora;
using namespace vessora::test;

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
    // Folders: a, a/b, a/b/c, a/b/c/d, empty.
    EXPECT_EQ(test::counts(*root), std::tuple(big + small + deep + top, 8, 5));
    const FSNode* a = child(*root, "a");
    ASSERT_TRUE(a && child(*a, "big") && child(*a, "5 smaller items"));
    // Largest first: the big file, the lump of the small ones, the chain.
    ASSERT_EQ(a->children().size(), 3u);
    EXPECT_EQ(std::tuple(a->children()[0]->name(), a->children()[1]->logicalSize, a->children()[2]->name()),
              std::tuple("big", 5 * 4000, "b"));
    // A top-level file always gets a node of its own.
    ASSERT_NE(child(*root, "top.txt"), nullptr);
    EXPECT_EQ(std::tuple(stats.snapshot().bytes, DiskScanner::quickSize(dir / "r")),
              std::tuple(root->size, root->size));
}

TEST(DiskScanner, RootsThatAreFilesOrMissingAndOddNames) {
    test::TempDir dir;
    int64_t size = test::allocatedSize(test::writeFile(dir / "f", 5000));
    auto file = scan(dir / "f");
    EXPECT_EQ(std::tuple(file->isDirectory(), file->size, file->logicalSize, file->fileCount),
              std::tuple(true, size, 5000, 1));
    EXPECT_EQ(scan(dir / "missing")->size, 0);
    // Names with line feeds and bytes that are not UTF-8 are kept as they are.
    const std::string odd = std::string("line\nbreak\xff\xfe", 12);
    test::writeFile(dir / "r/" + odd + "/big", 2 << 20);
    auto root = scan(dir / "r");
    const FSNode* folder = child(*root, odd);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(child(*folder, "big")->path(), dir / "r/" + odd + "/big");
}

// The macOS cloud folders (the Linux ones are mounts: LinuxSkipsTest).
TEST(DiskScanner, SkippedAndCloudProviderLocations) {
    ScopedTables tables{TableSet::macos};
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
            // Their being empty is checked by treeProblem.
            const FSNode* cloud = child(*library, name);
            EXPECT_TRUE(cloud && cloud->isNotDescended && cloud->isCloudProvider && cloud->isDirectory()) << name;
        }
        EXPECT_EQ(std::tuple(library->fileCount, library->dirCount), std::tuple(1, 3));
    }
    auto root = scan(dir / "home", nullptr, options);
    const FSNode* managed = child(*root, "managed");
    EXPECT_TRUE(managed && managed->isNotDescended && !managed->isCloudProvider);
    // quickSize leaves skipped locations out, also when asked for one.
    EXPECT_EQ(DiskScanner::quickSize(dir / "home/managed/", options), 0);
}

// Unreadable folders inside a tree are closed in place, as the plain walk of
// WalkEquivalenceTest has it; as scan roots they are flagged and counted too,
// never a silent empty tree.
TEST(DiskScanner, UnreadableScanRootsAreFlaggedAndCounted) {
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    test::writeFile(dir / "closed/inner", 100);
    test::writeFile(dir / "noexec/visible", 100);
    ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "noexec").c_str(), 0444), 0);
    EXPECT_EQ(test::runAsUnprivileged([&]() -> std::string {
                  std::string problems;
                  for (const char* name : {"closed", "noexec"}) {
                      ScanStats alone;
                      auto tree = scan(dir / name, &alone);
                      if (!tree->unreadable || alone.snapshot().unreadable != 1 || tree->fileCount != 0)
                          problems += std::string(name) + " as a scan root is not flagged. ";
                  }
                  return problems;
              }),
              "");
}

TEST(DiskScanner, ChainDeeperThanPathMax) {
    const int depth = 20000;
    test::TempDir dir;
    test::makeDirs(dir / "r");
    int64_t big = test::makeChain(dir / "r", depth);
    ASSERT_GT(depth * 2, PATH_MAX);
    ScanStats stats;
    auto root = scan(dir / "r", &stats);
    EXPECT_EQ(std::tuple(test::counts(*root), stats.snapshot().unreadable), std::tuple(std::tuple(big, 1, depth), 0));
    const FSNode* n = root.get();
    while (!n->children().empty()) n = n->children()[0].get();
    EXPECT_GT(n->path().size(), size_t(PATH_MAX));
    EXPECT_EQ(DiskScanner::quickSize(dir / "r"), big);
    root.reset();
    test::splitChain(dir / "r", depth);
}

TEST(DiskScanner, CancelBeforeAndDuringTheWalk) {
    test::TempDir dir;
    for (int d = 0; d < 120; ++d) test::writeManyFiles(dir / "r/d" + std::to_string(d), 20);
    test::makeDirs(dir / "r/skipped");
    ScanOptions options;
    options.skipPaths.insert(dir / "r/skipped");
    ScanStats before;
    before.cancel();
    auto root = scan(dir / "r", &before, options);
    ASSERT_EQ(root->children().size(), 1u);
    EXPECT_EQ(std::tuple(bool(root->children()[0]->isNotDescended), before.snapshot().files), std::tuple(true, 0));

    // Cancelled a quarter of the way in, by one thread and by a pool that
    // keeps growing and parking threads: the walk stops early and ends with
    // none of them left waiting.
    for (bool swinging : {false, true}) {
        ScanStats during;
        test::walkCancelAtStep(&during, 30, swinging);
        auto partial = scan(dir / "r", &during);
        test::walkCancelAtStep(nullptr, 0, false);
        EXPECT_TRUE(during.snapshot().cancelled) << swinging;
        EXPECT_LT(during.snapshot().files, 2400) << swinging;
        EXPECT_LT(partial->fileCount, 2400) << swinging;
    }
    bool cancelled = false;
    EXPECT_EQ(DiskScanner::quickSize(dir / "r", {}, [&] { return cancelled = true; }), 0);
}

TEST(DiskScanner, SkipPatternsMatchWholeNamesWithAndWithoutWildcards) {
    test::TempDir dir;
    for (const char* folder : {"a/logs", "b/logs", "a/logsx", "a/tmp1", "a/xtmp", "a/d/logs"})
        test::writeFile(dir / "r/" + folder + "/f", 8192);
    ScanOptions options;
    options.skipPatterns = {dir / "r/*/logs", dir / "r/a/tmp*"};
    auto root = scan(dir / "r", nullptr, options);
    const FSNode* a = child(*root, "a");
    ASSERT_TRUE(a && child(*root, "b") && child(*a, "d"));
    auto skipped = [](const FSNode* n) { return n ? int(n->isNotDescended) : -1; };
    // `*` crosses slashes (no FNM_PATHNAME), so a/d/logs matches as well.
    EXPECT_EQ(std::tuple(skipped(child(*a, "logs")), skipped(child(*child(*root, "b"), "logs")),
                         skipped(child(*child(*a, "d"), "logs")), skipped(child(*a, "tmp1")),
                         skipped(child(*a, "logsx")), skipped(child(*a, "xtmp"))),
              std::tuple(1, 1, 1, 1, 0, 0));
    EXPECT_EQ(root->fileCount, 2);
    EXPECT_EQ(DiskScanner::quickSize(dir / "r", options), root->size);
}
