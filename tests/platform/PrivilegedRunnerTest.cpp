#include "platform/AppleScript.h"
#include "platform/PrivilegedRunner.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

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
} // namespace

TEST(AppleScript, SourceTextEscapesBackslashesThenQuotes) {
    EXPECT_EQ(AppleScript::escapeStringLiteral(R"(a\b"c)"), R"(a\\b\"c)");
    const std::string command = R"(/bin/rm -rf -- '/x/it'\''s' '/x/"q"' '/x/back\slash')";
    const std::string script = AppleScript::administratorShellScript(command);
    const std::string prefix = "do shell script \"", suffix = "\" with administrator privileges";
    ASSERT_TRUE(script.starts_with(prefix) && script.ends_with(suffix));
    EXPECT_EQ(unescapeLiteral(script.substr(prefix.size(), script.size() - prefix.size() - suffix.size())), command);
}

TEST(PkexecRunner, MapsPkexecOutcomes) {
    test::TempDir dir;
    const std::string dismissal = "Error executing command as another user: Request dismissed";
    for (const auto& [script, message] : std::vector<std::pair<std::string, std::string>>{
             {"echo '" + dismissal + "' >&2\nexit 126", dismissal}, {"exit 127", "Authorization failed."}}) {
        PrivilegedOutcome outcome = PkexecRunner(test::writeScript(dir / "refusing", script)).run("true");
        EXPECT_EQ(std::tuple(outcome.status, outcome.message), std::tuple(Status::refused, message));
    }

    // A pkexec that grants at once: the command runs as "/bin/sh -c COMMAND".
    PkexecRunner granting(test::writeScript(dir / "granting", "exec \"$@\""));
    PrivilegedOutcome outcome = granting.run("echo ran > '" + (dir / "marker") + "'; exit 3");
    EXPECT_EQ(std::tuple(outcome.status, outcome.exitStatus, test::readText(dir / "marker")),
              std::tuple(Status::ran, 3, "ran\n"));

    EXPECT_EQ(PkexecRunner(dir / "no-such-pkexec").run("true").status, Status::unavailable);
}
