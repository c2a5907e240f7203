#pragma once
#include <cstdint>
#include <set>
#include <string>

namespace vessora {

// What a scan or a quick size leaves out and lumps together.
struct ScanOptions {
    // Files below this allocated size get no node of their own in a scan.
    int64_t smallFileThreshold = 1'048'576;
    // False: stay on the file system the walk starts from.
    bool crossesDevices = false;
    // Locations listed but never entered nor measured (exact string match).
    std::set<std::string> skipPaths = defaultSkipPaths();
    // The subset of skipPaths owned by cloud providers; only marks nodes.
    std::set<std::string> cloudRoots = cloudProviderRoots(currentHome());

    // The system-managed locations united with the cloud roots of the current home.
    static std::set<std::string> defaultSkipPaths();
    // The fixed system-managed locations, in their table order.
    static const std::set<std::string>& systemManagedPaths();
    // "<home>/Library/CloudStorage" and "<home>/Library/Mobile Documents".
    static std::set<std::string> cloudProviderRoots(const std::string& home);

private:
    static std::string currentHome();
};

} // namespace vessora
