#pragma once
// The updater's own log. Every refusal reason is appended here with a
// timestamp so that the user (through the update sheet's "Show Log") and a bug
// report can see why an update failed; the system log is not on every machine.
// The install script, which outlives the app, appends its own lines through a
// descriptor the app opens for it (see InstallScript::start).

#include <string>
#include <string_view>

namespace vessora::UpdateLog {

// <state folder>/update.log, that is $XDG_STATE_HOME/vessora/update.log.
std::string path();

// Appends "YYYY-MM-DDTHH:MM:SSZ line" with `line` escaped, so a value taken
// from a feed or an archive cannot forge a line. The file is rotated to
// update.log.1 once it passes 1 MiB. Failures to write are ignored: logging
// never changes what the updater does.
void append(const std::string& line);

// The log opened for appending (created 0600, rotated first when due, never
// through a link), close-on-exec; -1 when it cannot be opened.
int openForAppend();

// `text` as it may appear in a log line or on a terminal: C0 and C1 control
// characters, backslashes and bytes that are not UTF-8 become \xNN escapes
// (a C1 character as the escapes of its two UTF-8 bytes), so no value can
// start a line of its own or drive a terminal.
std::string escaped(std::string_view text);

// The last `count` lines of the log, for showing it where no program opens
// it; "" when there is no log.
std::string tail(int count);

} // namespace vessora::UpdateLog
