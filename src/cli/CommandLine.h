#pragma once
// Argument parsing and terminal helpers shared by the commands.

#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vessora::cli {

struct ParsedArguments {
    std::vector<std::string> positional;
    std::set<std::string> flags;               // options without a value, as given ("--json")
    std::map<std::string, std::string> values; // options with a value ("--top" -> "10")
    std::string error;                         // non-empty when the arguments do not parse

    bool has(const std::string& flag) const { return flags.count(flag) > 0; }
    std::optional<std::string> value(const std::string& option) const;
};

// Splits arguments into positionals, known flags and known options that take
// a value ("--top 5" or "--top=5"). "--" ends option parsing. Anything else
// starting with "-" is an error.
ParsedArguments parseArguments(const std::vector<std::string>& args, const std::set<std::string>& flags,
                               const std::set<std::string>& valueOptions);

// Prints "usage: vessora ..." to standard error and returns 2.
int usageError(const std::string& usage, const std::string& problem = {});

// Standard error is a terminal: live progress is worth drawing.
bool stderrIsTerminal();
bool stdinIsTerminal();
// Asks `question` on standard error; true only for an answer of yes.
bool confirmed(const std::string& question);

// Ctrl-C sets the returned flag instead of killing the process, so a command
// can stop its work cleanly and exit with status 130.
std::atomic<bool>& installInterruptFlag();

// Overwrites the current terminal line on standard error with `text`
// (truncated to the terminal width); an empty text clears it.
void progressLine(const std::string& text);

// A file name or path made safe to print as part of a line (Utf8::printable):
// control characters (newlines and escape sequences included), backslashes
// and bytes that are not UTF-8 are written as C-style escapes, so a name can
// neither forge a line nor drive the terminal.
std::string printable(std::string_view text);

// Writes all of `data` to standard output.
void writeOut(std::string_view data);

// A path typed on the command line, relative to the working directory, made
// absolute and otherwise left as typed: a "~" in it is a name like any other
// (the shell has already expanded what the user meant), and ".." is left for
// the file system to resolve, which is what removing must act on.
std::string absolutePath(const std::string& path);

// absolutePath, standardized: what saved scans, their listing and backups key on.
std::string standardPath(const std::string& path);

} // namespace vessora::cli
