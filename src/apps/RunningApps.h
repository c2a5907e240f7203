#pragma once
// Which installed applications are running, read from /proc. An application
// runs when some process's executable lies inside a bundle ("*.app" with an
// Info.plist) that declares the bundle identifier, or when a Flatpak sandbox
// declares it as its application id. Processes whose details are not
// readable (another user's) do not count.

#include <set>
#include <string>
#include <vector>

namespace vessora::RunningApps {

struct RunningApp {
    int pid = 0;
    std::string bundlePath; // the bundle the executable lies in; empty for a Flatpak match
    std::string name;       // the bundle's display name, or the Flatpak id
};

// The processes running the application with `bundleID`. `procRoot` is
// "/proc" except in tests, which point it at a folder laid out the same way
// (PID folders holding an "exe" link and "root/.flatpak-info").
std::vector<RunningApp> find(const std::string& bundleID, const std::string& procRoot = "/proc");

inline bool isRunning(const std::string& bundleID, const std::string& procRoot = "/proc") {
    return !find(bundleID, procRoot).empty();
}

// The names among `names` that some process runs under: its executable's file
// name, or its command name (which the kernel cuts to 15 bytes).
std::set<std::string> runningPrograms(const std::vector<std::string>& names, const std::string& procRoot = "/proc");

// The application id in a .flatpak-info file's [Application] group; empty when absent.
std::string flatpakAppId(const std::string& flatpakInfoText);

} // namespace vessora::RunningApps
