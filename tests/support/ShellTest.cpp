#include "support/Shell.h"

#include <gtest/gtest.h>

using namespace vessora;

TEST(Shell, ProgramsRunAsGivenWithTheirStreamsAndStatus) {
    EXPECT_FALSE(Shell::run("/nonexistent/program", {}).has_value());
    int status = 0;
    EXPECT_TRUE(!Shell::run("sh", {"-c", "echo hi"}, status).has_value() && status == -1) << "never looked up in PATH";
    EXPECT_EQ(Shell::run("/bin/echo", {"$HOME", "a b", "'q'", ";", "*"}), "$HOME a b 'q' ; *\n")
        << "arguments are never read by a shell";

    EXPECT_EQ(Shell::run("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"}, status), "out\n");
    EXPECT_EQ(status, 3);
    auto both = Shell::runCombined("/bin/sh", {"-c", "echo out; echo err >&2"}, status);
    EXPECT_TRUE(both && both->find("out\n") != std::string::npos && both->find("err\n") != std::string::npos);
    EXPECT_EQ(Shell::execute("/bin/sh", {"-c", "kill -TERM $$"}).exitStatus, 128 + 15);
    // A child that exits without reading its input (pkexec refused) is its
    // exit status, not a SIGPIPE that ends the caller.
    Shell::Outcome early = Shell::execute("/bin/sh", {"-c", "echo refused; exit 5"}, std::string(1 << 20, 'x'));
    EXPECT_EQ(std::tie(early.exitStatus, early.standardOutput), std::tuple(5, "refused\n"));

    // Output that is not UTF-8 is no result; standard error is discarded by
    // run, so its bytes do not matter there.
    EXPECT_FALSE(Shell::run("/usr/bin/printf", {"ok\\377\\n"}).has_value());
    EXPECT_FALSE(Shell::runCombined("/bin/sh", {"-c", "printf '\\377' >&2"}).has_value());
    EXPECT_EQ(Shell::run("/bin/sh", {"-c", "printf 'caf\\303\\251'; printf '\\377' >&2"}), "caf\xc3\xa9");
}

TEST(Shell, LargeOutputOnBothStreamsDoesNotDeadlock) {
    // 4 MiB on each stream, written alternately: a runner that drains one pipe
    // at a time would block the child on the other.
    const char* script = "i=0; while [ $i -lt 64 ]; do head -c 65536 /dev/zero | tr '\\0' o; "
                         "head -c 65536 /dev/zero | tr '\\0' e >&2; i=$((i+1)); done";
    Shell::Outcome o = Shell::execute("/bin/sh", {"-c", script});
    ASSERT_TRUE(o.launched);
    EXPECT_EQ(std::tuple(o.standardOutput.size(), o.standardError.size(), o.combined.size(), o.exitStatus),
              std::tuple(64u * 65536, 64u * 65536, 2u * 64 * 65536, 0));
}
