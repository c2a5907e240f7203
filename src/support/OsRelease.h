#pragma once
// The operating system's identification file (/etc/os-release): KEY=value
// lines whose values follow shell quoting.

#include <map>
#include <string>
#include <string_view>

namespace vessora::OsRelease {

// The assignments in `text`. A value may be unquoted, in double quotes (where
// a backslash escapes $, `, ", \ and a line break and is kept before anything
// else) or in single quotes (taken literally), and pieces may follow one
// another as in the shell; outside quotes a backslash escapes any character.
// Blank lines and lines starting with # are skipped, and so is a line whose
// quote is never closed.
std::map<std::string, std::string> parse(std::string_view text);

// The assignments in the file at `path`; none when it cannot be read.
std::map<std::string, std::string> read(const std::string& path);

// NAME of the running system, from /etc/os-release or, when that file is
// missing, /usr/lib/os-release; empty when neither names one.
std::string systemName();

} // namespace vessora::OsRelease
