#include "TestSupport.h"
#include "support/Fmt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vessora;
using test::exists;

namespace {
// Runs the tool unprivileged: "" when it exits `expected` saying every one of
// `texts`, else what it said.
std::string cliAsUnprivileged(const std::vector<std::string>& args, int expected,
                              const std::vector<std::string>& texts) {
    return test::runAsUnprivileged([&]() -> std::string {
        std::string out;
        const int rc = test::runCli(args, &out);
        for (const std::string& text : texts)
            if (out.find(text) == std::string::npos) return "exit " + std::to_string(rc) + ": " + out;
        return rc == expected ? "" : "exit " + std::to_string(rc) + ": " + out;
    });
}
} // namespace

TEST(CheckCommand, GivesTheGuardsVerdicts) {
    test::TempDir dir;
    test::writeFile(dir / "ok", 10);
    std::string out;
    // The guard's verdicts themselves are the guard's tests' business.
    EXPECT_EQ(test::runCli({"check", "/etc", dir / "missing"}, &out), 1);
    EXPECT_EQ(out, "refused: /etc is a structural directory and is never removed.\nrefused: " + dir / "missing" +
                       " does not exist.\n");
    EXPECT_TRUE(test::runCli({"check", dir / "./ok/"}, &out) == 0 && out == "allowed: " + dir / "ok" + "\n") << out;
    EXPECT_EQ(test::runCli({"check"}, &out), 2);
    // A name cannot forge a line of output or drive the terminal.
    EXPECT_EQ(test::runCli({"check", dir / "evil\nallowed: \x1b[2Jx"}, &out), 1);
    EXPECT_EQ(out, "refused: " + dir / "evil\\nallowed: \\x1b[2Jx does not exist.\n");
}

// An unset variable, "." or "..", and a quoted "~" never reach beyond what was named.
TEST(RemoveCommand, BadPathsAreRefusedAndTildeIsAName) {
    test::TempDir dir;
    test::writeFile(dir / "w/~/x/file", 10);
    test::writeFile(dir / "home/x/file", 10);
    test::ScopedEnv home("HOME", dir / "home");
    char old[4096];
    ASSERT_TRUE(::getcwd(old, sizeof old));
    ASSERT_EQ(::chdir((dir / "w").c_str()), 0);
    std::string out;
    for (const char* bad : {"", ".", "..", "~/x/..", "~/x/../", "~/x/."}) {
        EXPECT_EQ(test::runCli({"remove", "--delete", "--yes", bad}, &out), 2) << bad;
        EXPECT_EQ(test::runCli({"check", bad}, &out), 2) << bad;
    }
    EXPECT_TRUE(exists(dir / "w/~/x/file"));
    EXPECT_EQ(test::runCli({"remove", "--delete", "--yes", "~/x"}, &out), 0) << out;
    EXPECT_TRUE(!exists(dir / "w/~/x") && exists(dir / "home/x/file"));
    ASSERT_EQ(::chdir(old), 0);
}

TEST(RemoveCommand, DeletesOnlyWhenToldAndReportsLikeTheAlert) {
    test::TempDir dir;
    const std::string a = test::writeFile(dir / "a", 10);
    std::string out;
    // Not a terminal and no --yes: nothing is removed.
    for (std::vector<std::string> args : {std::vector<std::string>{"remove", "--delete", a},
                                          {"remove", "--trash", "--delete", "--yes", a},
                                          {"remove", "--yes"}})
        EXPECT_EQ(test::runCli(args, &out), 2) << args.size();
    EXPECT_TRUE(exists(a));

    EXPECT_EQ(test::runCli({"remove", "--delete", "--yes", a}, &out), 0);
    EXPECT_TRUE(!exists(a) && out.starts_with("Removed 1 item, reclaiming ") && out.ends_with(" KB.\n")) << out;
    // script(1) gives the tool a terminal, so the question is really asked.
    const std::string c = test::writeFile(dir / "c", 5000), d = test::writeFile(dir / "d", 5000);
    const std::string command = std::string(VESSORA_CLI) + " remove --delete '" + c + "' '" + d + "'";
    EXPECT_EQ(test::runProgram({"script", "-qec", command, "/dev/null"}, &out, "n\n"), 1);
    EXPECT_NE(out.find("Delete 2 items (" + Fmt::bytes(2 * test::allocatedSize(c)) + ") immediately?"),
              std::string::npos)
        << out;
    EXPECT_TRUE(out.find("Nothing was removed.") != std::string::npos && exists(c) && exists(d)) << out;
    EXPECT_EQ(test::runProgram({"script", "-qec", command, "/dev/null"}, &out, "y\n"), 0);
    EXPECT_TRUE(out.find("Removed 2 items, reclaiming ") != std::string::npos && !exists(c) && !exists(d)) << out;

    // A move to the Trash frees nothing yet, and says so.
    test::TrashHome box;
    const std::string b = test::writeFile(box.dir / "b", 5000);
    const int64_t size = test::allocatedSize(b);
    EXPECT_EQ(test::runCli({"remove", "--trash", "--yes", b}, &out), 0);
    EXPECT_EQ(out, "Moved 1 item to the Trash (" + Fmt::bytes(size) + ", freed when the Trash is emptied).\n");
    EXPECT_TRUE(exists(box.trash() + "/files/b"));
}

TEST(RemoveCommand, PermissionFailuresAreNamed) {
    test::TempDir dir;
    const std::string theirs = test::writeFile(dir / "root-owned/file", 10);
    EXPECT_EQ(cliAsUnprivileged({"remove", "--delete", "--yes", theirs}, 1,
                                {"1 item needs administrator rights.\n", "Run again with --admin"}),
              "");
    EXPECT_TRUE(exists(theirs));

    // Escalation that cannot be granted here (no pkexec, or no agent for
    // "nobody") leaves the item and fails; the Trash was never an option for it.
    EXPECT_EQ(cliAsUnprivileged({"remove", "--trash", "--yes", "--admin", theirs}, 1,
                                {"With administrator rights it is deleted immediately and cannot go to the Trash."}),
              "");
    EXPECT_TRUE(exists(theirs));
}

// A removal whose record cannot be written cannot be put back, and the tool
// says so. Run unprivileged: root would write into the closed folder anyway.
TEST(RemoveCommand, SaysWhenTheRemovalCannotBePutBack) {
    test::TrashHome box;
    test::ScopedEnv state("XDG_STATE_HOME", box.dir / "state");
    test::makeDirs(box.dir / "state/vessora");
    ASSERT_EQ(::chmod((box.dir / "state/vessora").c_str(), 0555), 0);
    const std::string item = test::writeFile(box.dir / "mine/item", 5000);
    ASSERT_EQ(::chown((box.dir / "mine").c_str(), test::unprivilegedUid(), test::unprivilegedGid()), 0);
    // Standard output and standard error arrive interleaved either way.
    EXPECT_EQ(cliAsUnprivileged(
                  {"remove", "--trash", "--yes", item}, 0,
                  {"\nPut Back will not be available for this removal.\n", "last-removal.json: Permission denied."}),
              "");
    EXPECT_FALSE(exists(item) || exists(box.dir / "state/vessora/last-removal.json"));
}
