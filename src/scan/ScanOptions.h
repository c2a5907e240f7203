#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace vessora {

// What a scan or a quick size leaves out and lumps together. A new value holds
// the active table set's skips and, where that set reads the mount table, the
// mounts of the moment.
struct ScanOptions {
    ScanOptions();

    // Files below this allocated size get no node of their own in a scan.
    int64_t smallFileThreshold = 1'048'576;
    // False: stay on the file system the walk starts from (but see enteredDevices).
    bool crossesDevices = false;
    // Locations listed but never entered nor measured (exact string match).
    // Never examined either: a mount point here is not even asked its status.
    std::set<std::string> skipPaths;
    // The subset of skipPaths owned by cloud providers; only marks nodes.
    std::set<std::string> cloudRoots;
    // Folders listed but never entered: fnmatch patterns over the whole path.
    std::vector<std::string> skipPatterns;
    // Other file systems walked as part of the tree (another local disk
    // mounted inside it, a Btrfs subvolume of the same disk).
    std::set<uint64_t> enteredDevices;

    // The active set's fixed skips united with its cloud folders (and mounts).
    static std::set<std::string> defaultSkipPaths();
    // The active set's fixed skip list, resolved for the current home.
    static std::set<std::string> systemManagedPaths();
    // The active set's cloud folders below `home`, resolved.
    static std::set<std::string> cloudProviderRoots(const std::string& home);
};

} // namespace vessora
