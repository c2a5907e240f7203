#include "platform/PlatformTables.h"
#include "removal/GuardRules.h"
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
std::string missing(const std::string& p) { return p + " does not exist."; }
} // namespace

TEST(Guard, RootStructuralProtectedAndTooClose) {
    ScopedTables tables{TableSet::macos}; // on Linux all of /usr/ is protected (LinuxGuardTest)
    for (const char* root : {"/", "", "/.."}) EXPECT_EQ(verdict(root), "Refusing to operate on the volume root.");
    EXPECT_EQ(verdict("/foo"), "/foo is too close to the volume root to remove safely.");
    // macOS and Linux locations alike, with the same messages; two components pass the closeness step.
    for (const char* path : {"/System", "/usr/local", "/var/lib", "/tmp"}) EXPECT_EQ(verdict(path), structural(path));
    for (const char* path : {"/System/Library/Kernels", "/usr/bin/anything", "/usr/libexec/helper", "/etc/passwd",
                             "/boot/vmlinuz", "/var/lib/dpkg/status"})
        EXPECT_EQ(verdict(path), protectedText(path));
    for (const char* path : {"/foo/bar", "/usr/local/nothing-here-xyz"}) EXPECT_EQ(verdict(path), missing(path));
}

TEST(Guard, EveryListedLocationIsRefused) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    for (const TableSet set : {TableSet::macos, TableSet::linux}) {
        ScopedTables tables(set);
        for (const std::string& p : GuardRules::structuralFolders(dir / "home")) {
            if (p == "/") continue;
            EXPECT_EQ(verdict(p), structural(p));
            EXPECT_EQ(verdict(p + "/"), structural(p)) << "trailing separator";
        }
        for (const std::string& prefix : GuardRules::protectedPrefixes(dir / "home")) {
            if (prefix.starts_with(dir / "home/")) continue;
            EXPECT_EQ(verdict(prefix + "x/y"), protectedText(prefix + "x/y"));
            // Judged standardized (on Linux /snap/x is a structural row of its own).
            EXPECT_EQ(verdict(prefix + "./x"), verdict(prefix + "x"));
            EXPECT_NE(verdict(prefix + "x"), "allowed") << prefix;
        }
    }
    // Inside the home folder a protected place is not a system one.
    EXPECT_EQ(verdict(dir / "home/.ssh/id_ed25519"),
              dir / "home/.ssh/id_ed25519" + " lives inside a protected location.");
    EXPECT_EQ(verdict("~/.config"), structural(dir / "home/.config"));
    EXPECT_EQ(verdict("~/Documents/"), structural(dir / "home/Documents"));
    test::writeFile(dir / "home/Documents/report.txt", 100);
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
    EXPECT_EQ(verdict(dir / "a/b/../missing"), missing(dir / "a/missing"));
}

// Removing a folder removes everything below it: a folder holding the home
// folder or a protected location is refused, naming what it holds.
TEST(Guard, FoldersHoldingProtectedPlacesAreRefused) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "var/home/alice");
    test::makeDirs(dir / "var/home/alice");
    test::makeDirs(dir / "var/home/bob");
    const std::string homes = dir / "var/home";
    const std::string holdsHome = " holds the home folder " + (dir / "var/home/alice") + " and is never removed.";
    for (const auto& [path, expected] : std::vector<std::pair<std::string, std::string>>{
             {homes, homes + holdsHome},
             {dir / "var/home/alice/..", homes + holdsHome},
             {"/var/lib/dpkg", "/var/lib/dpkg holds the protected location /var/lib/dpkg and is never removed."},
             {"/var/lib/apt", "/var/lib/apt holds the protected location /var/lib/apt and is never removed."},
             {dir / "var/home/bob", "allowed"}})
        EXPECT_EQ(verdict(path), expected) << path;
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
    // ".." after a link leads out of the link's target, as the kernel has it.
    test::makeDirs(dir / "elsewhere/target");
    test::makeDirs(dir / "projects");
    ASSERT_EQ(::symlink("../elsewhere/target", (dir / "projects/lnk").c_str()), 0);
    EXPECT_EQ(Remover::check(dir / "projects/lnk/..").path, dir / "elsewhere");

    // A home folder reached through a link keeps its protection under its real name.
    test::makeDirs(dir / "real-home/Documents");
    ASSERT_EQ(::symlink((dir / "real-home").c_str(), (dir / "home-link").c_str()), 0);
    test::ScopedEnv home("HOME", dir / "home-link");
    EXPECT_EQ(verdict(dir / "real-home/Documents"), structural(dir / "real-home/Documents"));
    EXPECT_EQ(verdict(dir / "home-link/Documents"), structural(dir / "home-link/Documents"));
}
