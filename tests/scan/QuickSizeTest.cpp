#include "scan/DiskScanner.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace vessora;

TEST(QuickSize, CountsAllocatedBlocksWithoutFollowingLinks) {
    test::TempDir dir;
    int64_t a = test::allocatedSize(test::writeFile(dir / "t/a", 10000));
    int64_t b = test::allocatedSize(test::writeFile(dir / "t/sub/b", 300000));
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "t/loop").c_str()), 0);
    int64_t link = test::allocatedSize(dir / "t/loop");
    EXPECT_EQ(DiskScanner::quickSize(dir / "t"), a + b + link);
    EXPECT_EQ(DiskScanner::quickSize(dir / "t/a"), a);
    EXPECT_EQ(DiskScanner::quickSize(dir / "missing"), 0);
    ScanOptions options;
    options.skipPaths.insert(dir / "t/sub");
    EXPECT_EQ(DiskScanner::quickSize(dir / "t", options), a + link);
    EXPECT_EQ(DiskScanner::quickSize(dir / "t/sub/", options), 0);
}

TEST(DisplayName, RootAndComponents) {
    EXPECT_EQ(DiskScanner::displayName("/"), "Macintosh HD");
    EXPECT_EQ(DiskScanner::displayName("/Users/ada"), "ada");
}
