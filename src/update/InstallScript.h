#pragma once
// The shell script that replaces the installed app with a staged, verified
// copy once the running app has exited. It is run detached by /bin/sh in a
// session of its own (start, below) and logs every step: fixed texts, and
// values (paths) printed as printf arguments with control characters escaped,
// so no value can write a line of its own. Once the app has exited, any end
// short of success removes the staged copy and starts the installed version
// again.

#include <string>

#include <sys/types.h>

namespace vessora::InstallScript {

// The install log every install appends to. Another account can create this
// name first, so it is used only when it is our own regular file (see start).
inline constexpr const char* logPath = "/tmp/corvane-update.log";

struct Values {
    std::string current;              // installed bundle
    std::string staged;               // verified bundle to install, under the updater's own name
    std::string unpackFolder;         // folder holding `staged`, removed whatever happens
    std::string executableName;       // the installed bundle's CFBundleExecutable
    std::string stagedExecutableName; // the staged bundle's
    long long pid = 0;                // the app to wait for
};

std::string build(const Values& values);

// Starts /bin/sh with `script`, not waited for, in a new session. Its output
// (descriptors 1 and 2) goes to `installLog`, opened without following a link
// and appended to only when it is a regular file of this user with no other
// name, else nowhere; descriptor 3 is the updater's own log (UpdateLog), where
// the script repeats every line it says, so "Show Log" explains any end.
struct Started {
    pid_t pid = 0;
    int error = 0; // errno when the shell could not be started
};
Started start(const std::string& script, const std::string& installLog = logPath);

// The install log opened for appending under the rules above, or -1.
int openInstallLog(const std::string& path);

// The executable's name a bundle declares (CFBundleExecutable) when it is a
// plain file name, else the bundle's name without its extension.
std::string executableOf(const std::string& bundle);

} // namespace vessora::InstallScript
