// The scanner against the plain fts walk on many random trees: the same tree
// (every field, children in the same order: the scanner sorts as it goes,
// the plain walk's tree is sorted afterwards), the same final counters and
// the same quick size, on one thread and on several.

#include "scan/DiskScanner.h"

#include "ReferenceScan.h"
#include "ScanTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

using namespace vessora;

namespace {

struct RandomTree {
    std::mt19937_64 rng;
    std::vector<std::string> dirs;
    std::vector<std::string> files;
    std::vector<std::string> locked;
    std::vector<std::string> skipped;

    explicit RandomTree(uint64_t seed) : rng(seed) {}

    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }

    int64_t size() {
        static const int64_t sizes[] = {
            0, 1, 100, 4095, 4096, 5000, 9000, 30000, (1 << 20) - 4096, (1 << 20) - 1, 1 << 20, (1 << 20) + 1, 3 << 20};
        size_t i = pick(std::size(sizes));
        if (sizes[i] >= (1 << 20) - 4096 && !chance(0.15)) i = pick(8); // large files stay few
        return sizes[i];
    }

    void file(const std::string& path) {
        FILE* f = std::fopen(path.c_str(), "w");
        std::string data(size_t(size()), 'r');
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        files.push_back(path);
    }

    std::string dir(const std::string& path) {
        ::mkdir(path.c_str(), 0755);
        dirs.push_back(path);
        return path;
    }

    void build(const std::string& root, bool mounts) {
        dir(root);
        int entries = 40 + int(pick(80));
        for (int i = 0; i < entries; ++i) {
            const std::string& parent = dirs[pick(dirs.size())];
            std::string path = parent + "/e" + std::to_string(i);
            double kind = std::uniform_real_distribution<double>(0, 1)(rng);
            if (kind < 0.25) {
                dir(path);
            } else if (kind < 0.7) {
                file(path);
            } else if (kind < 0.8 && !files.empty()) {
                ::link(files[pick(files.size())].c_str(), path.c_str());
            } else if (kind < 0.88) {
                std::string target = chance(0.5) ? dirs[pick(dirs.size())] : "/nowhere/" + std::to_string(i);
                ::symlink(target.c_str(), path.c_str());
            } else if (kind < 0.92) {
                // A wide folder.
                std::string wide = dir(path);
                int n = 100 + int(pick(300));
                for (int f = 0; f < n; ++f) file(wide + "/w" + std::to_string(f));
            } else if (kind < 0.95) {
                // A deep chain with something on the way down.
                std::string deep = dir(path);
                int depth = 10 + int(pick(50));
                for (int d = 0; d < depth; ++d) {
                    deep = dir(deep + "/c");
                    if (chance(0.3)) file(deep + "/leaf");
                }
            } else if (kind < 0.97) {
                std::string closed = dir(path);
                file(closed + "/inside");
                dir(closed + "/sub");
                locked.push_back(closed);
            } else if (kind < 0.985) {
                skipped.push_back(dir(path));
                file(path + "/hidden-from-scan");
            } else if (mounts && test::mountTmpfs(path, 8 << 20)) {
                test::writeManyFiles(path + "/m", 3, 100);
            }
        }
        // Hard links from the top level into folders and back.
        if (!files.empty()) ::link(files[pick(files.size())].c_str(), (root + "/top-link").c_str());
        for (const auto& closed : locked) ::chmod(closed.c_str(), chance(0.5) ? 0 : 0444);
    }
};

std::string compareScans(const std::string& root, const ScanOptions& options, unsigned slice) {
    ScanStats expectedStats;
    auto expected = test::referenceScan(root, options, expectedStats);
    expected->sortRecursively();
    const int64_t expectedQuick = test::referenceQuickSize(root, options);
    // 0: a pool that grows and shrinks at every step.
    for (unsigned threads : {1u, 2u, 5u, 0u}) {
        test::walkThreads(threads);
        test::walkSlices(slice);
        test::walkSwingingPool(threads == 0);
        ScanStats actualStats;
        auto actual = DiskScanner::scan(root, options, actualStats);
        int64_t quick = DiskScanner::quickSize(root, options);
        test::walkThreads(0);
        test::walkSwingingPool(false);
        test::walkSlices(0);
        const std::string on = (threads ? std::to_string(threads) : std::string("swinging")) + " threads: ";
        std::string difference = test::treeDifference(*actual, *expected);
        if (!difference.empty()) return on + difference;
        auto a = actualStats.snapshot(), e = expectedStats.snapshot();
        if (a.files != e.files || a.bytes != e.bytes || a.unreadable != e.unreadable)
            return on + "counters differ (" + std::to_string(a.files) + " files, expected " + std::to_string(e.files) +
                   ")";
        if (quick != expectedQuick) return on + "quick size " + std::to_string(quick);
        if (std::string problem = test::treeProblem(*actual); !problem.empty()) return on + problem;
    }
    return {};
}

} // namespace

TEST(WalkEquivalence, RandomTreesMatchThePlainWalk) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        test::TempDir dir;
        RandomTree tree(seed);
        tree.build(dir / "r", test::isRoot() && seed % 4 == 0);
        ScanOptions options;
        for (const auto& path : tree.skipped) {
            options.skipPaths.insert(path);
            if (seed % 2) options.cloudRoots.insert(path);
        }
        if (seed % 5 == 0) options.crossesDevices = true;
        if (seed % 7 == 0) options.smallFileThreshold = 4096;
        // Unprivileged, so that locked folders are really unreadable; small
        // slices make the wide folders of these trees be shared out.
        EXPECT_EQ(test::runAsUnprivileged(
                      [&] { return compareScans(dir / "r", options, seed % 3 == 0 ? 0 : unsigned(seed % 7) + 1); }),
                  "")
            << "seed " << seed;
    }
}

// With few descriptors allowed, folders give theirs up and their subfolders
// are reopened from the scan root, also past PATH_MAX (component by component).
TEST(WalkEquivalence, FewDescriptors) {
    test::TempDir dir;
    // A branching tree, as the plain walk can check it...
    RandomTree tree(99);
    tree.build(dir / "r", false);
    // The walk goes down through the folder listed first while each level
    // keeps its descriptor for the other one.
    const std::string down = test::listedFirst(dir / "probe", "d", "e");
    const std::string side = down == "d" ? "e" : "d";
    std::string deep = dir / "r/branching";
    for (int d = 0; d < 60; ++d) {
        test::makeDirs(deep + "/" + down);
        test::writeManyFiles(deep + "/" + side, 2, 10);
        deep += "/" + down;
    }
    // ...and a branching chain past PATH_MAX, checked by its counts.
    const int depth = 2100;
    test::makeDirs(dir / "long");
    test::makeChain(dir / "long", depth, down, side);
    EXPECT_EQ(test::runAsUnprivileged([&]() -> std::string {
                  const rlimit limit{64, 64};
                  if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return "the descriptor limit could not be set";
                  if (std::string difference = compareScans(dir / "r", ScanOptions{}, 0); !difference.empty())
                      return difference;
                  ScanStats stats;
                  test::walkThreads(1);
                  auto root = DiskScanner::scan(dir / "long", {}, stats);
                  test::walkThreads(0);
                  if (root->fileCount != 1 || root->dirCount != 2 * depth || stats.snapshot().unreadable != 0)
                      return "the long chain: " + std::to_string(root->fileCount) + " files, " +
                             std::to_string(root->dirCount) + " folders";
                  if (DiskScanner::quickSize(dir / "long") != root->size) return "the long chain's quick size differs";
                  return "";
              }),
              "");
    test::splitChain(dir / "long", depth, down);
}
