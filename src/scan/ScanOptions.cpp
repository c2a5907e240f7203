#include "scan/ScanOptions.h"

#include "platform/MountTable.h"
#include "platform/PlatformTables.h"
#include "support/Paths.h"

namespace vessora {

ScanOptions::ScanOptions() {
    const ScanTables& tables = PlatformTables::current().scan;
    skipPaths = systemManagedPaths();
    cloudRoots = cloudProviderRoots(Paths::home());
    for (const char* pattern : tables.skipPatterns) skipPatterns.push_back(PlatformTables::resolveRoot(pattern));
    if (tables.mountTable) {
        // Mounts inside a fixed skip are never reached; leaving them out keeps the sets small.
        MountTable::Plan plan = MountTable::plan(MountTable::read(), tables, skipPaths);
        skipPaths.merge(plan.systemPoints);
        cloudRoots.merge(plan.cloudPoints);
        enteredDevices = std::move(plan.enteredDevices);
    }
    skipPaths.insert(cloudRoots.begin(), cloudRoots.end());
}

std::set<std::string> ScanOptions::systemManagedPaths() {
    std::set<std::string> paths;
    for (const char* path : PlatformTables::current().scan.skipPaths)
        paths.insert(Paths::standardize(PlatformTables::resolveRoot(path)));
    return paths;
}

std::set<std::string> ScanOptions::cloudProviderRoots(const std::string& home) {
    std::set<std::string> roots;
    for (const char* folder : PlatformTables::current().scan.cloudFolders) {
        std::string_view f = folder;
        if (f.starts_with("~/"))
            roots.insert(Paths::join(home, f.substr(2)));
        else
            roots.insert(PlatformTables::resolveRoot(f));
    }
    return roots;
}

std::set<std::string> ScanOptions::defaultSkipPaths() { return ScanOptions().skipPaths; }

} // namespace vessora
