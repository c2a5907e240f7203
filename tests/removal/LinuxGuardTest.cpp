// The guard under the Linux tables: every row refused with its reason, also
// through links and "..", the rules read from the running system (swap files,
// mounts, remote mounts) and trash folders kept while their contents may go.

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
std::string protectedText(const std::string& p, const std::string& home) {
    return p + (p.starts_with(home + "/") ? " lives inside a protected location."
                                          : " lives inside a protected system location.");
}
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

TEST(LinuxGuard, EveryRowRefusedWithItsReason) {
    LinuxHome h;
    const std::string& home = h.home;
    // A sample of each table: the whole tables are walked by the guard's own test.
    for (const std::string& p : {std::string("/efi"), std::string("/lost+found"), std::string("/var/spool"),
                                 std::string("/home/someone"), std::string("/snap/firefox"), home, home + "/Bilder",
                                 home + "/.var/app", home + "/.local/share/applications"})
        EXPECT_EQ(verdict(p), structural(p));
    for (const std::string& p :
         {std::string("/nix/store/x"), std::string("/snap/firefox/1/x"), std::string("/var/lib/flatpak/app"),
          std::string("/var/lib/snapd/state.json"), std::string("/var/log/journal/m/system.journal"),
          home + "/.gnupg/x", home + "/.local/share/keyrings/login.keyring", home + "/.config/dconf/user",
          h.dir / "runtime/bus"})
        EXPECT_EQ(verdict(p), protectedText(p, home));
    // The exceptions pass the guard (and then are simply missing here).
    for (const char* p : {"/var/lib/snapd/cache/x-test-item", "/var/lib/systemd/coredump/core.x-test",
                          "/var/log/journal/m/system@x-test.journal", "/var/log/journal/m/user.journal~"})
        EXPECT_EQ(verdict(p), missing(p));
    // Through a link and through "..": judged where the item really is.
    test::writeFile(home + "/.gnupg/secring", 10);
    ASSERT_EQ(::symlink((home + "/.gnupg").c_str(), (h.dir / "keys").c_str()), 0);
    EXPECT_EQ(verdict(h.dir / "keys/secring"), h.dir / "keys/secring" + " lives inside a protected location.");
    EXPECT_EQ(verdict(home + "/Bilder/../.gnupg/secring"), protectedText(home + "/.gnupg/secring", home));
    test::makeDirs(home + "/Bilder");
    ASSERT_EQ(::symlink((home + "/Bilder").c_str(), (h.dir / "pics").c_str()), 0);
    EXPECT_EQ(verdict(h.dir / "pics/"), "allowed") << "the link itself may go";
}

TEST(LinuxGuard, TrashFoldersStayTheirContentsMayGo) {
    LinuxHome h;
    const std::string trash = h.home + "/.local/share/Trash";
    test::writeFile(trash + "/files/old.txt", 10);
    test::writeText(trash + "/info/old.txt.trashinfo", "[Trash Info]\n");
    test::writeFile(h.dir / "disk/.Trash-1000/files/x", 10);
    test::writeFile(h.dir / "disk/.Trash/1000/files/y", 10);
    for (const std::string& p :
         {trash, trash + "/files", trash + "/info", h.dir / "disk/.Trash-1000", h.dir / "disk/.Trash-1000/files",
          h.dir / "disk/.Trash", h.dir / "disk/.Trash/1000", h.dir / "disk/.Trash/1000/files"})
        EXPECT_EQ(verdict(p), structural(p));
    for (const std::string& p : {trash + "/files/old.txt", trash + "/info/old.txt.trashinfo",
                                 h.dir / "disk/.Trash-1000/files/x", h.dir / "disk/.Trash/1000/files/y"})
        EXPECT_EQ(verdict(p), "allowed");
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
    EXPECT_NE(status, test::kHangingFuseTimedOut) << "the guard waited for the FUSE server";
    EXPECT_EQ(status, 0);
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
        auto refusedStructural = [](const std::string& p) {
            return "refused: " + p + " is a structural directory and is never removed.\n";
        };
        auto refusedInside = [](const std::string& p) {
            return "refused: " + p + " lives inside a protected location.\n";
        };
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
                   failed("/home/alice/Bilder", "/home/alice/Bilder is a structural directory and is never removed.") +
                       failed("/home/bob/.ssh", "/home/bob/.ssh is a structural directory and is never removed.") +
                       failed(carol + "/.ssh/authorized_keys",
                              carol + "/.ssh/authorized_keys lives inside a protected location."),
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
