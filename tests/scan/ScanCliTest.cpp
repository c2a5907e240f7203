// The vessora scan and size commands, run as real child processes.

#include "ScanTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

using namespace vessora;

TEST(ScanCommand, ReadableTreeErrorsEscapedNamesAndJsonDepth) {
    test::TempDir dir;
    test::writeFile(dir / "r/videos/movie.mkv", 3 << 20);
    for (int i = 0; i < 15; ++i) test::writeFile(dir / "r/many/f" + std::to_string(i), 2 << 20);
    test::writeFile(dir / "r/notes.txt", 100);
    const std::string evil = "evil\nforged line \x1b[2J";
    test::writeFile(dir / ("r/" + evil), 2 << 20);
    std::string out;
    ASSERT_EQ(test::runCli({"scan", dir / "r", "--top", "3", "--depth", "2"}, &out), 0) << out;
    for (const char* text : {"videos/", "(12 more)", "18 files"}) EXPECT_NE(out.find(text), std::string::npos) << out;

    EXPECT_EQ(test::runCli({"scan", dir / "missing"}, &out), 1);
    EXPECT_EQ(out, "vessora: " + dir / "missing" + ": no such file or directory\n");
    EXPECT_EQ(test::runCli({"scan"}, &out), 2);
    EXPECT_EQ(test::runCli({"scan", dir / "r", "--top", "zero"}, &out), 2);

    // A folder that cannot be read is an error, not an empty tree.
    test::writeFile(dir / "closed/inner", 100);
    ASSERT_EQ(::chmod((dir / "closed").c_str(), 0), 0);
    EXPECT_EQ(test::runAsUnprivileged([&] {
                  std::string text;
                  const int status = test::runCli({"scan", dir / "closed"}, &text);
                  return status == 1 && text.find("cannot be read") != std::string::npos
                             ? std::string()
                             : "status " + std::to_string(status) + ": " + text;
              }),
              "");

    // Names come from anyone who can create a file: on the terminal they are
    // escaped, in JSON they stay exact.
    ASSERT_EQ(test::runCli({"scan", dir / "r"}, &out), 0) << out;
    EXPECT_TRUE(out.find("evil\\nforged line \\x1b[2J") != std::string::npos && out.find('\x1b') == std::string::npos)
        << out;
    ASSERT_EQ(test::runCli({"size", dir / ("r/" + evil)}, &out), 0) << out;
    EXPECT_NE(out.find("\t" + dir / "r/evil\\nforged line \\x1b[2J\n"), std::string::npos) << out;
    ASSERT_EQ(test::runCli({"scan", dir / "r", "--json"}, &out), 0) << out;
    EXPECT_NE(out.find("\"name\":\"evil\\nforged line \\u001b[2J\""), std::string::npos) << out;

    // JSON honours an asked depth.
    test::writeFile(dir / "r/a/b/c/deep", 2 << 20);
    ASSERT_EQ(test::runCli({"scan", dir / "r", "--json", "--depth", "1"}, &out), 0) << out;
    EXPECT_TRUE(out.find("\"name\":\"a\"") != std::string::npos && out.find("\"name\":\"b\"") == std::string::npos)
        << out;
    // The cut-off folder still carries the whole subtree's totals.
    EXPECT_NE(out.find("\"fileCount\":1,\"dirCount\":2,\"isAggregate\":false,\"unreadable\":false,"
                       "\"isNotDescended\":false,\"isCloudProvider\":false,\"children\":[]"),
              std::string::npos)
        << out;
    // Without --depth, the whole tree.
    ASSERT_EQ(test::runCli({"scan", dir / "r", "--json"}, &out), 0) << out;
    EXPECT_NE(out.find("\"name\":\"deep\""), std::string::npos) << out;
}

TEST(SizeCommand, OneLinePerPathCountingEachFileOnceLikeDu) {
    test::TempDir dir;
    int64_t a = test::allocatedSize(test::writeFile(dir / "a/f", 3 << 20));
    int64_t b = test::allocatedSize(test::writeFile(dir / "b", 5000));
    std::string out;
    ASSERT_EQ(test::runCli({"size", dir / "a", dir / "b"}, &out), 0);
    EXPECT_EQ(out,
              std::to_string(a) + "\t3.1 MB\t" + dir / "a" + "\n" + std::to_string(b) + "\t8 KB\t" + dir / "b" + "\n");
    EXPECT_EQ(test::runCli({"size", dir / "a", dir / "nothing"}, &out), 1);
    EXPECT_NE(out.find("vessora: " + dir / "nothing" + ": no such file or directory"), std::string::npos);

    // A file with several names counts once, like du.
    const int64_t file = test::allocatedSize(test::writeFile(dir / "t/a/data", 2 << 20));
    ASSERT_EQ(::link((dir / "t/a/data").c_str(), (dir / "t/b").c_str()), 0);
    ASSERT_EQ(::link((dir / "t/a/data").c_str(), (dir / "other").c_str()), 0);
    ASSERT_EQ(test::runCli({"size", dir / "t"}, &out), 0) << out;
    EXPECT_EQ(out.substr(0, out.find('\t')), std::to_string(file)) << out;
    // Across the paths of one call too: the second name counts nothing.
    ASSERT_EQ(test::runCli({"size", dir / "t", dir / "other"}, &out), 0) << out;
    EXPECT_NE(out.find("\n0\tZero KB\t" + dir / "other" + "\n"), std::string::npos) << out;
}

TEST(Cli, HelpForEachCommandAndVersion) {
    std::string out;
    for (const char* command :
         {"scan", "size", "overview", "cleanup", "check", "remove", "restore", "apps", "backup", "messages-export"}) {
        const std::string usage = std::string("usage: vessora ") + command;
        EXPECT_TRUE(test::runCli({command, "--help"}, &out) == 0 && out.starts_with(usage)) << out;
        EXPECT_TRUE(test::runCli({"help", command}, &out) == 0 && out.starts_with(usage)) << out;
    }
    EXPECT_EQ(test::runCli({"scan", "--", "--help"}, &out), 1) << "after --, a path named --help";
    EXPECT_EQ(test::runCli({"--version"}, &out), 0);
    EXPECT_TRUE(out.starts_with("vessora ") && out.size() > 9 && out.back() == '\n') << out;
    EXPECT_EQ(std::tuple(test::runCli({"--help"}, &out), test::runCli({"nonsense"}, &out)), std::tuple(0, 2));
}

namespace {
// The signals a process catches, from /proc.
uint64_t caughtSignals(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    return 0;
}
} // namespace

TEST(ScanCommand, InterruptCancelsWithStatus130) {
    test::TempDir dir;
    for (int d = 0; d < 8; ++d) test::writeManyFiles(dir / "r/d" + std::to_string(d), 1000);
    for (const char* command : {"scan", "size"}) {
        std::string root = dir / "r";
        char* argv[] = {const_cast<char*>(VESSORA_CLI), const_cast<char*>(command), root.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, VESSORA_CLI, &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // Held still as soon as it catches Ctrl-C (the walk starts right
        // after), interrupted, and let go.
        while (!(caughtSignals(pid) & (1ull << (SIGINT - 1)))) {}
        ::kill(pid, SIGSTOP);
        ::kill(pid, SIGINT);
        ::kill(pid, SIGCONT);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << command << ": wait status " << status;
    }
}
