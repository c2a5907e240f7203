#pragma once
// The updater's own log. Every refusal reason is appended here with a
// timestamp so that the user (through the update sheet's "Show Log") and a bug
// report can see why an update failed; the system log is not on every machine.

#include <string>

namespace vessora::UpdateLog {

// <state folder>/update.log, that is $XDG_STATE_HOME/vessora/update.log.
std::string path();

// Appends "YYYY-MM-DDTHH:MM:SSZ line" with control characters escaped, so a
// value taken from a feed or an archive cannot forge a line. The file is
// rotated to update.log.1 once it passes 1 MiB. Failures to write are ignored:
// logging never changes what the updater does.
void append(const std::string& line);

} // namespace vessora::UpdateLog
