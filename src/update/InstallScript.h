#pragma once
// The shell script that replaces the installed app with a staged, verified
// copy once the running app has exited. It is run detached by /bin/sh and
// logs every step to logPath: fixed texts, and values (paths) printed as
// printf arguments with control characters escaped, so no value can write a
// line of its own. Once the app has exited, any end short of success starts
// the installed version again.

#include <string>

namespace vessora::InstallScript {

inline constexpr const char* logPath = "/tmp/corvane-update.log";

struct Values {
    std::string current;        // installed bundle
    std::string staged;         // verified bundle to install, under the updater's own name
    std::string unpackFolder;   // folder holding `staged`, removed after success
    std::string executableName; // file name in Contents/MacOS
    long long pid = 0;          // the app to wait for
    std::string log = logPath;  // appended to
    // Used when `log` cannot be opened (another account's file of that name in
    // /tmp), so the install still happens; then /dev/null.
    std::string fallbackLog;
};

std::string build(const Values& values);

} // namespace vessora::InstallScript
