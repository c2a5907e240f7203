#include "catalog/SnapshotRemoval.h"
#include "removal/Remover.h"

#include "TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace vessora;
using test::exists;
using Status = PrivilegedOutcome::Status;
using test::FixedRunner;
using test::ShellRunner;

TEST(RemoveWithAdmin, HostileNamesAreRemovedExactly) {
    test::TempDir dir;
    const std::string work = dir / "work";
    std::vector<std::string> targets;
    int64_t expected = 0;
    size_t index = 0;
    // Names a shell or an AppleScript literal could misread.
    for (const std::string name :
         {"it's",        "say \"hi\"", "back\\slash", "a b  c",         "new\nline",     "-rf", "--",
          "-x y",        "ünïcödé",    "bad\xff\xfe", "$(touch pwned)", "`touch pwned`", "*",   "; touch pwned",
          "'\"'\\\"\\'", "\\'",        "tab\there",   "~user",          "a&b|c>d",       "%s%n"}) {
        const std::string path = work + "/" + name;
        index++ % 4 == 0 ? test::writeFile(path + "/inside", 3000) : test::writeFile(path, 5000);
        // What goes: every file's blocks and a folder's own.
        expected += test::allocatedSize(path) + std::max<int64_t>(0, test::allocatedSize(path + "/inside"));
        targets.push_back(path);
    }
    // Neighbours that look like the targets must survive.
    for (const char* keep : {"keep", "it", "s'", "say", "hi", "a", "b", "c", "rf", "x y", "pwned-not"})
        test::writeFile(work + "/" + std::string(keep), 10);

    ShellRunner runner;
    RemovalResult result = Remover::removeWithAdmin(targets, runner);
    ASSERT_EQ(runner.commands.size(), 1u);
    EXPECT_EQ(std::tuple(result.succeeded, result.failed), std::tuple(targets, std::vector<Failure>{}));
    EXPECT_EQ(std::tuple(result.needsAdmin.size(), result.bytesFreed), std::tuple(0u, expected));
    EXPECT_EQ(test::listFolder(work),
              (std::vector<std::string>{"a", "b", "c", "hi", "it", "keep", "pwned-not", "rf", "s'", "say", "x y"}));
    EXPECT_FALSE(exists(work + "/pwned") || exists("pwned"));
}

TEST(RemoveWithAdmin, RefusalLeavesEverythingInFailedAndTheDiskDecides) {
    test::TempDir dir;
    const std::string a = test::writeFile(dir / "w/a", 100);
    const std::string b = test::writeFile(dir / "w/b/inner", 100);
    FixedRunner runner({Status::refused, -1, "Error executing command as another user: Request dismissed", {}});
    RemovalResult result = Remover::removeWithAdmin({a, "/usr", dir / "w/b/", dir / "w/gone"}, runner);
    EXPECT_EQ(std::tuple(runner.commands.size(), result.succeeded.size(), result.bytesFreed, result.needsAdmin.size()),
              std::tuple(1u, 0u, 0, 0u));
    // Guard failures first, then every allowed item with the system's message.
    ASSERT_EQ(result.failed.size(), 4u);
    EXPECT_EQ(std::tie(result.failed[0].path, result.failed[1].reason),
              std::tuple("/usr", dir / "w/gone" + " does not exist."));
    EXPECT_EQ(result.failed[2], (Failure{a, runner.outcome.message}));
    EXPECT_EQ(result.failed[3], (Failure{dir / "w/b", runner.outcome.message}));
    EXPECT_TRUE(exists(a) && exists(b));

    FixedRunner silent({Status::refused, -1, "", {}});
    result = Remover::removeWithAdmin({a}, silent);
    EXPECT_EQ(result.failed, (std::vector<Failure>{{a, "Authorization failed."}}));
    // When the guard refuses everything, nobody is asked for a password.
    result = Remover::removeWithAdmin({"/", "/etc/shadow", dir / "missing", "/tmp"}, silent);
    EXPECT_EQ(std::tuple(silent.commands.size(), result.failed.size()), std::tuple(1u, 4u));

    // The disk decides what was removed: a command that ran but removed
    // nothing leaves every item there.
    FixedRunner idle({Status::ran, 0, {}, {}});
    result = Remover::removeWithAdmin({a}, idle);
    EXPECT_EQ(result.failed, (std::vector<Failure>{{a, "Still present after removal."}}));
    EXPECT_EQ(result.bytesFreed, 0);
    // No way to ask for rights: nothing ran, the check reports the same.
    FixedRunner none({Status::unavailable, -1, "Authorization failed.", {}});
    result = Remover::removeWithAdmin({a}, none);
    EXPECT_EQ(result.failed, (std::vector<Failure>{{a, "Still present after removal."}}));
}

// The helper as root, reached through a stand-in for pkexec that also plays
// another process swapping a folder for a link while the password is asked.
TEST(RemoveWithAdmin, HelperKeepsToTheGuardMountsAndLinks) {
    if (!test::isRoot()) GTEST_SKIP() << "the helper deletes as root";
    test::TempDir dir;
    const std::string plain = test::writeFile(dir / "w/plain", 5000);
    const int64_t plainSize = test::allocatedSize(plain);
    const std::string chosen = test::writeFile(dir / "w/p/target", 100, 'c');
    test::writeFile(dir / "victim/target", 100, 'v');
    // Shown with its identity; another file is renamed into its place meanwhile.
    const std::string shown = test::writeFile(dir / "w/q/target", 100, 's');
    test::writeFile(dir / "w/other", 100, 'o');
    const ItemIdentity identity = Remover::check(shown).identity;
    test::writeFile(dir / "precious/data", 100);
    ASSERT_TRUE(test::bindMount(dir / "precious", dir / "w/tree/bound"));
    ASSERT_TRUE(test::mountTmpfs(dir / "ro", 1 << 20));
    const std::string stays = test::writeFile(dir / "ro/stays", 100);
    ASSERT_TRUE(test::remountReadOnly(dir / "ro"));
    PkexecRunner runner(test::writeScript(
        dir / "pkexec", "mv '" + dir / "w/p" + "' '" + dir / "w/moved" + "' && ln -s '" + dir / "victim" + "' '" +
                            dir / "w/p" + "' && mv '" + shown + "' '" + dir / "w/q/was" + "' && mv '" +
                            dir / "w/other" + "' '" + shown + "' && exec \"$@\""));

    RemovalResult result = Remover::removeWithAdmin(
        std::vector<RemovalItem>{{plain}, {dir / "w/tree"}, {chosen}, {shown, identity}, {stays}}, runner);
    EXPECT_EQ(std::tuple(result.succeeded, result.bytesFreed), std::tuple(std::vector<std::string>{plain}, plainSize));
    EXPECT_EQ(result.failed,
              (std::vector<Failure>{{dir / "w/tree", dir / "w/tree" + " holds the mounted file system " +
                                                         dir / "w/tree/bound" + " and is never removed."},
                                    {chosen, chosen + " changed since it was shown; scan again."},
                                    {shown, shown + " changed since it was shown; scan again."},
                                    {stays, stays + " is on a read-only file system."}}));
    EXPECT_EQ(test::readText(shown) + test::readText(dir / "w/q/was"), std::string(100, 'o') + std::string(100, 's'));
    EXPECT_TRUE(exists(dir / "precious/data") && exists(dir / "w/moved/target") && exists(stays));
    EXPECT_EQ(test::readText(dir / "victim/target"), std::string(100, 'v'));
    test::unmount(dir / "w/tree/bound"), test::unmount(dir / "ro");

    // Whatever a caller sends, the helper judges it again as root.
    std::string out;
    EXPECT_EQ(test::runProgram({VESSORA_HELPER}, &out, std::string("/etc\0", 5)), 1);
    EXPECT_EQ(out, std::string("failed\0/etc\0/etc is a structural directory and is never removed.\0", 65));
    EXPECT_TRUE(exists("/etc/hostname"));
}

TEST(DeleteSnapshot, OnlyTheToolsDateFormatReachesTheShell) {
    FixedRunner ok({Status::ran, 0, {}, {}});
    LocalSnapshot snapshot{"com.apple.TimeMachine.2023-10-01-123456.local", std::nullopt};
    EXPECT_EQ(SnapshotRemoval::deleteSnapshot(snapshot, "/", ok).succeeded, std::vector<std::string>{snapshot.name});
    EXPECT_EQ(ok.commands, std::vector<std::string>{"/usr/bin/tmutil deletelocalsnapshots '2023-10-01-123456'"});

    for (const char* hostile :
         {"com.apple.TimeMachine.2023-10-01; rm -rf /.local", "com.apple.TimeMachine.$(reboot).local",
          "com.apple.TimeMachine..local", "", "com.apple.TimeMachine.2023-10-01 123456.local", "2023-10-01-123456'"}) {
        FixedRunner never({Status::ran, 0, {}, {}});
        EXPECT_EQ(SnapshotRemoval::deleteSnapshot({hostile, std::nullopt}, "/", never).failed.size(), 1u) << hostile;
        EXPECT_TRUE(never.commands.empty()) << hostile;
    }

    // A failing command, a refusal, and no way to ask at all (nothing ran:
    // no success); a refusal says why.
    for (auto [outcome, reason] :
         {std::pair{PrivilegedOutcome{Status::ran, 1, {}, {}}, "The snapshot could not be deleted."},
          {{Status::refused, -1, "Request dismissed", {}}, "Request dismissed"},
          {{Status::unavailable, -1, {}, {}}, "The snapshot could not be deleted."}}) {
        FixedRunner runner(outcome);
        RemovalResult result = SnapshotRemoval::deleteSnapshot(snapshot, "/", runner);
        EXPECT_EQ(std::tuple(result.succeeded.size(), result.failed),
                  std::tuple(0u, std::vector<Failure>{{snapshot.name, reason}}));
    }
}
