#pragma once
// The AppleScript text the macOS build compiles and runs in-process to run a
// shell command with administrator rights. On Linux it is built and checked
// but not run (PrivilegedRunner runs the same command through pkexec).

#include <string>
#include <string_view>

namespace vessora::AppleScript {

// Escapes text for an AppleScript string literal: every backslash doubled
// first, then every double quote preceded by a backslash.
std::string escapeStringLiteral(std::string_view text);

// do shell script "<escaped command>" with administrator privileges
std::string administratorShellScript(std::string_view shellCommand);

} // namespace vessora::AppleScript
