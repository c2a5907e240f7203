#include "removal/Remover.h"

#include "TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vessora;

namespace {
std::string verdict(const std::string& path) {
    GuardResult result = Remover::check(path);
    return result.allowed ? "allowed" : result.reason;
}
std::string structural(const std::string& p) { return p + " is a structural directory and is never removed."; }
std::string protectedText(const std::string& p) { return p + " lives inside a protected system location."; }
std::string missing(const std::string& p) { return p + " no longer exists."; }
} // namespace

TEST(Guard, RootStructuralProtectedAndTooClose) {
    EXPECT_EQ(verdict("/"), "Refusing to operate on the volume root.");
    EXPECT_EQ(verdict(""), "Refusing to operate on the volume root.");
    EXPECT_EQ(verdict("/.."), "Refusing to operate on the volume root.");
    EXPECT_EQ(verdict("/System"), structural("/System"));
    EXPECT_EQ(verdict("/System/Library/Kernels"), protectedText("/System/Library/Kernels"));
    EXPECT_EQ(verdict("/foo"), "/foo is too close to the volume root to remove safely.");
    EXPECT_EQ(verdict("/foo/bar"), missing("/foo/bar")); // two components pass that step
    EXPECT_EQ(verdict("/usr/bin/anything"), protectedText("/usr/bin/anything"));
    EXPECT_EQ(verdict("/usr/libexec/helper"), protectedText("/usr/libexec/helper"));
    EXPECT_EQ(verdict("/usr/local"), structural("/usr/local"));
    EXPECT_EQ(verdict("/usr/local/nothing-here-xyz"), missing("/usr/local/nothing-here-xyz"));
    // Linux locations, with the same messages.
    EXPECT_EQ(verdict("/etc/passwd"), protectedText("/etc/passwd"));
    EXPECT_EQ(verdict("/boot/vmlinuz"), protectedText("/boot/vmlinuz"));
    EXPECT_EQ(verdict("/var/lib/dpkg/status"), protectedText("/var/lib/dpkg/status"));
    EXPECT_EQ(verdict("/var/lib"), structural("/var/lib"));
    EXPECT_EQ(verdict("/tmp"), structural("/tmp"));
}

TEST(Guard, EveryListedLocationIsRefused) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    for (const std::string& p : Remover::structuralFolders(dir / "home")) {
        if (p == "/") continue;
        EXPECT_EQ(verdict(p), structural(p));
        EXPECT_EQ(verdict(p + "/"), structural(p)) << "trailing separator";
    }
    for (const std::string& prefix : Remover::protectedPrefixes(dir / "home")) {
        EXPECT_EQ(verdict(prefix + "x/y"), protectedText(prefix + "x/y"));
        EXPECT_EQ(verdict(prefix + "./x"), protectedText(prefix + "x"));
    }
    EXPECT_EQ(verdict(dir / "home/.ssh/id_ed25519"), protectedText(dir / "home/.ssh/id_ed25519"));
    EXPECT_EQ(verdict("~/.config"), structural(dir / "home/.config"));
}

TEST(Guard, HomeFolderSetByTheTest) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    test::writeFile(dir / "home/Documents/report.txt", 100);
    EXPECT_EQ(verdict(dir / "home"), structural(dir / "home"));
    EXPECT_EQ(verdict(dir / "home/Documents"), structural(dir / "home/Documents"));
    EXPECT_EQ(verdict("~/Documents/"), structural(dir / "home/Documents"));
    EXPECT_EQ(verdict(dir / "home/Documents/report.txt"), "allowed");
    EXPECT_EQ(verdict("~/Documents/report.txt"), "allowed");
    EXPECT_EQ(verdict(dir / "home/Documents/gone.txt"), missing(dir / "home/Documents/gone.txt"));
}

TEST(Guard, DotsAndSeparatorsAreJudgedStandardized) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    test::makeDirs(dir / "home/Documents");
    test::writeFile(dir / "a/b/file", 10);
    EXPECT_EQ(verdict(dir / "a/./b/../b/file"), "allowed");
    EXPECT_EQ(verdict(dir / "a/b//file/"), "allowed");
    EXPECT_EQ(verdict(dir / "a/b/../../home/./Documents/"), structural(dir / "home/Documents"));
    EXPECT_EQ(verdict("/usr/local/../bin/ls"), protectedText("/usr/bin/ls"));
    EXPECT_EQ(verdict("/tmp/../etc/./passwd"), protectedText("/etc/passwd"));
    EXPECT_EQ(verdict(dir / "a/b/../missing"), missing(dir / "a/missing"));
}

TEST(Guard, LinksAreJudgedAsThemselvesAndWhereTheyLead) {
    test::TempDir dir;
    // A dangling link exists as an item and can be cleaned up.
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_EQ(verdict(dir / "dangling"), "allowed");
    // A link to a protected place is itself an ordinary item ...
    ASSERT_EQ(::symlink("/etc", (dir / "etc-link").c_str()), 0);
    EXPECT_EQ(verdict(dir / "etc-link"), "allowed");
    // ... but reaching into the protected place through it is refused.
    EXPECT_EQ(verdict(dir / "etc-link/passwd"), protectedText(dir / "etc-link/passwd"));
    ASSERT_EQ(::symlink("/", (dir / "root-link").c_str()), 0);
    EXPECT_EQ(verdict(dir / "root-link/usr"), structural(dir / "root-link/usr"));

    // A home folder reached through a link keeps its protection under its real name.
    test::makeDirs(dir / "real-home/Documents");
    ASSERT_EQ(::symlink((dir / "real-home").c_str(), (dir / "home-link").c_str()), 0);
    test::ScopedEnv home("HOME", dir / "home-link");
    EXPECT_EQ(verdict(dir / "real-home/Documents"), structural(dir / "real-home/Documents"));
    EXPECT_EQ(verdict(dir / "home-link/Documents"), structural(dir / "home-link/Documents"));
}

TEST(Guard, FileBelowUsrLocalIsAllowed) {
    if (!test::isRoot()) GTEST_SKIP() << "creating a file below /usr/local needs root";
    char name[] = "/usr/local/vessora-guard-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(verdict(name), "allowed");
    ::unlink(name);
}

TEST(Guard, RelativePathsAreTakenFromTheWorkingDirectory) {
    test::TempDir dir;
    test::writeFile(dir / "w/file", 10);
    char old[4096];
    ASSERT_TRUE(::getcwd(old, sizeof old));
    ASSERT_EQ(::chdir((dir / "w").c_str()), 0);
    EXPECT_EQ(verdict("file"), "allowed");
    EXPECT_EQ(verdict("./gone"), missing(dir / "w/gone"));
    ASSERT_EQ(::chdir(old), 0);
}
