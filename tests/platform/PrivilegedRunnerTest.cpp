#include "platform/AppleScript.h"
#include "platform/PrivilegedRunner.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vessora;
using Status = PrivilegedOutcome::Status;

namespace {
// Reads an AppleScript string literal back, as the AppleScript compiler would.
std::string unescapeLiteral(const std::string& literal) {
    std::string out;
    for (size_t i = 0; i < literal.size(); ++i) {
        if (literal[i] == '\\' && i + 1 < literal.size()) ++i;
        out += literal[i];
    }
    return out;
}

std::string fakePkexec(const test::TempDir& dir, const std::string& name, const std::string& body) {
    std::string path = test::writeText(dir / name, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}
} // namespace

TEST(AppleScript, SourceTextEscapesBackslashesThenQuotes) {
    EXPECT_EQ(AppleScript::escapeStringLiteral(R"(a\b"c)"), R"(a\\b\"c)");
    EXPECT_EQ(AppleScript::escapeStringLiteral(R"(\")"), R"(\\\")");
    const std::string command = R"(/bin/rm -rf -- '/x/it'\''s' '/x/"q"' '/x/back\slash')";
    const std::string script = AppleScript::administratorShellScript(command);
    EXPECT_EQ(script, R"(do shell script "/bin/rm -rf -- '/x/it'\\''s' '/x/\"q\"' '/x/back\\slash'")"
                      R"( with administrator privileges)");
    const std::string prefix = "do shell script \"", suffix = "\" with administrator privileges";
    ASSERT_TRUE(script.starts_with(prefix) && script.ends_with(suffix));
    EXPECT_EQ(unescapeLiteral(script.substr(prefix.size(), script.size() - prefix.size() - suffix.size())), command);
}

TEST(PkexecRunner, MapsPkexecOutcomes) {
    test::TempDir dir;
    PkexecRunner dismissed(fakePkexec(
        dir, "dismissed", "echo 'Error executing command as another user: Request dismissed' >&2\nexit 126"));
    PrivilegedOutcome outcome = dismissed.run("true");
    EXPECT_EQ(outcome.status, Status::refused);
    EXPECT_EQ(outcome.message, "Error executing command as another user: Request dismissed");

    PkexecRunner silent(fakePkexec(dir, "silent", "exit 127"));
    outcome = silent.run("true");
    EXPECT_EQ(outcome.status, Status::refused);
    EXPECT_EQ(outcome.message, "Authorization failed.");

    // A pkexec that grants at once: the command runs as "/bin/sh -c COMMAND".
    PkexecRunner granting(fakePkexec(dir, "granting", "exec \"$@\""));
    outcome = granting.run("echo ran > '" + (dir / "marker") + "'; exit 3");
    EXPECT_EQ(outcome.status, Status::ran);
    EXPECT_EQ(outcome.exitStatus, 3);
    EXPECT_EQ(test::readText(dir / "marker"), "ran\n");

    PkexecRunner absent(dir / "no-such-pkexec");
    EXPECT_EQ(absent.run("true").status, Status::unavailable);
}
