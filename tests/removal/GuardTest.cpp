// The guard: every listed location refused with its reason, also through
// links and "..", the rules read from the running system (swap files, mounts,
// remote mounts), trash folders kept while their contents may go, and every
// home on the machine protected.

#include "platform/PlatformTables.h"
#include "removal/GuardRules.h"
#include "removal/Remover.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace vessora;
using namespace std::string_literals;

namespace {

std::string verdict(const std::string& path) {
    GuardResult result = Remover::check(path);
    return result.allowed ? "allowed" : result.reason;
}
std::string structural(const std::string& p) { return p + " is a structural directory and is never removed."; }
// Places of the user's own home are "protected locations", the system's "protected system locations".
std::string protectedText(const std::string& p) { return p + " lives inside a protected system location."; }
std::string homeText(const std::string& p) { return p + " lives inside a protected location."; }
std::string missing(const std::string& p) { return p + " does not exist."; }

// A home with a localized Pictures folder and its own runtime folder.
struct LinuxHome {
    ScopedTables tables{TableSet::linux};
    test::TempDir dir;
    std::string home = dir / "home";
    test::ScopedEnv homeEnv{"HOME", home};
    test::ScopedEnv config{"XDG_CONFIG_HOME", std::nullopt};
    test::ScopedEnv data{"XDG_DATA_HOME", std::nullopt};
    test::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir / "runtime"};
    LinuxHome() { test::writeText(home + "/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"); }
};

} // namespace

TEST(Guard, RootTooCloseAndMissing) {
    ScopedTables tables{TableSet::macos}; // on Linux all of /usr/ is protected
    for (const char* root : {"/", "", "/.."}) EXPECT_EQ(verdict(root), "Refusing to operate on the volume root.");
    EXPECT_EQ(verdict("/foo"), "/foo is too close to the volume root to remove safely.");
    // Two components pass the closeness step.
    EXPECT_EQ(verdict("/usr/local"), structural("/usr/local"));
    for (const char* path : {"/foo/bar", "/usr/local/nothing-here-xyz"}) EXPECT_EQ(verdict(path), missing(path));
}

TEST(Guard, EveryListedLocationIsRefused) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    for (const TableSet set : {TableSet::macos, TableSet::linux}) {
        ScopedTables tables(set);
        for (const std::string& p : GuardRules::structuralFolders(dir / "home")) {
            if (p == "/") continue;
            EXPECT_EQ(std::tuple(verdict(p), verdict(p + "/")), std::tuple(structural(p), structural(p)));
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
    EXPECT_EQ(verdict(dir / "home/.ssh/id_ed25519"), homeText(dir / "home/.ssh/id_ed25519"));
    EXPECT_EQ(verdict("~/.config"), structural(dir / "home/.config"));
    EXPECT_EQ(verdict("~/Documents/"), structural(dir / "home/Documents"));
    test::writeFile(dir / "home/Documents/report.txt", 100);
    EXPECT_EQ(verdict("~/Documents/report.txt"), "allowed");
    EXPECT_EQ(verdict(dir / "home/Documents/gone.txt"), missing(dir / "home/Documents/gone.txt"));
    // Dots and separators are judged standardized.
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
    for (const char* folder : {"elsewhere/target", "projects"}) test::makeDirs(dir / folder);
    ASSERT_EQ(::symlink("../elsewhere/target", (dir / "projects/lnk").c_str()), 0);
    EXPECT_EQ(Remover::check(dir / "projects/lnk/..").path, dir / "elsewhere");

    // A home folder reached through a link keeps its protection under its real name.
    test::makeDirs(dir / "real-home/Documents");
    ASSERT_EQ(::symlink((dir / "real-home").c_str(), (dir / "home-link").c_str()), 0);
    test::ScopedEnv home("HOME", dir / "home-link");
    for (const char* path : {"real-home/Documents", "home-link/Documents"})
        EXPECT_EQ(verdict(dir / path), structural(dir / path));
}

TEST(LinuxGuard, EveryRowRefusedWithItsReasonTrashFoldersKept) {
    LinuxHome h;
    const std::string& home = h.home;
    // The rows that depend on this home and this session (the whole tables
    // are walked above).
    for (const std::string& p : {"/home/someone"s, home, home + "/Bilder"}) EXPECT_EQ(verdict(p), structural(p));
    EXPECT_EQ(verdict(h.dir / "runtime/bus"), protectedText(h.dir / "runtime/bus"));
    EXPECT_EQ(verdict(home + "/.gnupg/x"), homeText(home + "/.gnupg/x"));
    // The exceptions pass the guard (and then are simply missing here).
    for (const char* p : {"/var/lib/snapd/cache/x-test-item", "/var/lib/systemd/coredump/core.x-test",
                          "/var/log/journal/m/system@x-test.journal", "/var/log/journal/m/user.journal~"})
        EXPECT_EQ(verdict(p), missing(p));
    // Through a link and through "..": judged where the item really is.
    test::writeFile(home + "/.gnupg/secring", 10);
    ASSERT_EQ(::symlink((home + "/.gnupg").c_str(), (h.dir / "keys").c_str()), 0);
    EXPECT_EQ(verdict(h.dir / "keys/secring"), homeText(h.dir / "keys/secring"));
    EXPECT_EQ(verdict(home + "/Bilder/../.gnupg/secring"), homeText(home + "/.gnupg/secring"));
    test::makeDirs(home + "/Bilder");
    ASSERT_EQ(::symlink((home + "/Bilder").c_str(), (h.dir / "pics").c_str()), 0);
    EXPECT_EQ(verdict(h.dir / "pics/"), "allowed") << "the link itself may go";

    // Trash folders stay; their contents may go.
    const std::string trash = h.home + "/.local/share/Trash";
    const std::string items[] = {trash + "/files/old.txt", trash + "/info/old.txt.trashinfo",
                                 h.dir / "disk/.Trash-1000/files/x", h.dir / "disk/.Trash/1000/files/y"};
    for (const std::string& p : items) test::writeFile(p, 10);
    for (const std::string& p :
         {trash, trash + "/files", trash + "/info", h.dir / "disk/.Trash-1000", h.dir / "disk/.Trash-1000/files",
          h.dir / "disk/.Trash", h.dir / "disk/.Trash/1000", h.dir / "disk/.Trash/1000/files"})
        EXPECT_EQ(verdict(p), structural(p));
    for (const std::string& p : items) EXPECT_EQ(verdict(p), "allowed");
}

TEST(LinuxGuard, SwapFilesMountsAndRemoteFileSystems) {
    ScopedTables linux(TableSet::linux);
    EXPECT_EQ(MountTable::parseSwaps("Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
                                     "/swapfile                               file\t\t2097148\t\t0\t\t-2\n"
                                     "/dev/dm-1                               partition\t1003516\t\t0\t\t-3\n"
                                     "/var/my\\040swap file 1024 0 -4\n"),
              (std::vector<std::string>{"/swapfile", "/var/my swap"}));
    GuardRules::SystemState state{MountTable::parse("27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                                    "40 27 0:50 / /data/backup rw - ext4 /dev/sdb1 rw\n"
                                                    "41 27 0:51 / /home/ada/Drive\\040A rw - fuse.rclone gdrive: rw\n"
                                                    "42 27 0:52 / /mnt/nas rw - nfs4 nas:/export rw\n"),
                                  {"/swap.img"}};
    auto refusal = [&](const std::string& p) { return GuardRules::refusal(p, p, state).value_or("allowed"); };
    EXPECT_EQ(refusal("/swap.img"), "/swap.img is a swap file in use and is never removed.");
    EXPECT_EQ(refusal("/data/backup"), "/data/backup is the root of a mounted volume and is never removed.");
    EXPECT_EQ(refusal("/data/backup/old"), "allowed");
    EXPECT_EQ(refusal("/home/ada/Drive A/report.pdf"),
              "/home/ada/Drive A/report.pdf is on a network or FUSE file system (fuse.rclone at /home/ada/Drive A); "
              "removing it would delete the remote data.");
    EXPECT_EQ(refusal("/mnt/nas"), "/mnt/nas is on a network or FUSE file system (nfs4 at /mnt/nas); removing it "
                                   "would delete the remote data.");
}

TEST(LinuxGuard, AHungFuseMountIsRefusedWithoutWaiting) {
    test::TempDir dir;
    int status = test::runWithHangingFuse(dir / "drive", [&] {
        ScopedTables linux(TableSet::linux);
        const std::string item = dir / "drive/notes.txt";
        GuardResult result = Remover::check(item);
        return !result.allowed && result.reason.find("network or FUSE file system (fuse.hang") != std::string::npos ? 0
                                                                                                                    : 1;
    });
    if (status == test::kNoHangingFuse) GTEST_SKIP() << "a FUSE mount needs root and /dev/fuse";
    EXPECT_EQ(status, 0) << (status == test::kHangingFuseTimedOut ? "the guard waited for the FUSE server" : "");
}

// Every home on the machine is protected, not only the caller's: the homes of
// the password database (also outside /home) and every folder in /home, under
// both table sets, through `vessora check` and through the privileged helper,
// which takes the caller from pkexec and never from its arguments. The
// machine's users are those of a password file and a /home of the test's own.
TEST(LinuxGuard, EveryHomeOnTheMachineIsProtected) {
    test::TempDir dir;
    const std::string carol = dir / "srv/carol";
    const std::string users = "root:x:0:0:root:/root:/bin/sh\nalice:x:64200:64200::/home/alice:/bin/sh\n";
    test::writeText(dir / "passwd", users + "carol:x:64201:64201::" + carol + ":/bin/sh\n");
    for (const std::string& p : {carol + "/.ssh/authorized_keys", carol + "/Documents/cv.pdf", carol + "/notes"})
        test::writeText(p, "carol's\n");
    int status = test::runWithOwnMounts([&] {
        if (::mount((dir / "passwd").c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", "/home", "tmpfs", 0, "size=1m") != 0)
            return 50;
        for (const char* p : {"/home/bob/.ssh/id_ed25519", "/home/bob/.gnupg/key", "/home/bob/Documents/a",
                              "/home/bob/notes", "/home/alice/Bilder/b"})
            test::writeText(p, "x\n");
        test::writeText("/home/alice/.config/user-dirs.dirs", "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
        test::ScopedEnv home("HOME", dir / "caller"), config("XDG_CONFIG_HOME", std::nullopt);
        int failures = 0;
        auto expect = [&](const std::vector<std::string>& argv, const std::string& expected, int rc,
                          const std::string& input = {}) {
            std::string out;
            const int got = test::runProgram(argv, &out, input);
            if (got == rc && out == expected) return;
            ++failures;
            std::fprintf(stderr, "%s %s: exit %d (wanted %d)\n%s\nwanted:\n%s\n", argv[0].c_str(),
                         argv.size() > 1 ? argv[1].c_str() : "", got, rc, out.c_str(), expected.c_str());
        };
        auto refusedStructural = [](const std::string& p) { return "refused: " + structural(p) + "\n"; };
        auto refusedInside = [](const std::string& p) { return "refused: " + homeText(p) + "\n"; };
        for (const char* set : {"linux", "macos"}) {
            test::ScopedEnv tables("VESSORA_TABLES", set);
            expect({VESSORA_CLI, "check", "/home/bob/.ssh", "/home/bob/.ssh/id_ed25519", "/home/bob/Documents",
                    carol + "/.ssh", carol + "/.ssh/authorized_keys", carol + "/Documents", carol, dir / "srv"},
                   refusedStructural("/home/bob/.ssh") + refusedInside("/home/bob/.ssh/id_ed25519") +
                       refusedStructural("/home/bob/Documents") + refusedStructural(carol + "/.ssh") +
                       refusedInside(carol + "/.ssh/authorized_keys") + refusedStructural(carol + "/Documents") +
                       refusedStructural(carol) + "refused: " + dir / "srv" + " holds the home folder " + carol +
                       " and is never removed.\n",
                   1);
            expect({VESSORA_CLI, "check", "/home/bob/notes", carol + "/notes"},
                   "allowed: /home/bob/notes\nallowed: " + carol + "/notes\n", 0);
        }
        test::ScopedEnv tables("VESSORA_TABLES", "linux");
        expect({VESSORA_CLI, "check", "/home/bob/.gnupg/key"}, refusedInside("/home/bob/.gnupg/key"), 1);

        // Alice asks through pkexec, naming Bob's home as hers: her own user folders stay protected too.
        auto failed = [](const std::string& p, const std::string& why) {
            return "failed\0"s + p + "\0"s + why + "\0"s;
        };
        const std::string request = "/home/alice/Bilder\0/home/bob/.ssh\0"s + carol + "/.ssh/authorized_keys\0"s;
        {
            test::ScopedEnv caller("PKEXEC_UID", "64200");
            expect({VESSORA_HELPER, "--home", "/home/bob"},
                   failed("/home/alice/Bilder", structural("/home/alice/Bilder")) +
                       failed("/home/bob/.ssh", structural("/home/bob/.ssh")) +
                       failed(carol + "/.ssh/authorized_keys", homeText(carol + "/.ssh/authorized_keys")),
                   1, request);
            expect({VESSORA_HELPER}, "vessora-privileged-remove: no items were given, so nothing was removed\n", 2, "");
        }
        test::ScopedEnv stranger("PKEXEC_UID", "64299");
        expect({VESSORA_HELPER},
               "vessora-privileged-remove: the user who asked (PKEXEC_UID 64299) has no home folder on record, so "
               "nothing was removed\n",
               2, request);
        return failures;
    });
    if (status == test::kNotRoot) GTEST_SKIP() << "a password file and /home of the test's own need root";
    EXPECT_EQ(status, 0) << "see the lines above for what the tool said";
    EXPECT_EQ(test::readText(carol + "/.ssh/authorized_keys"), "carol's\n");
}
