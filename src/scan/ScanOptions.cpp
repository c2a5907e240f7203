#include "scan/ScanOptions.h"

#include "support/Paths.h"

namespace vessora {

// The system-managed locations a scan never enters. Kept as data in this one
// place so that platform tables can sit beside it.
static const char* const kSystemManaged[] = {
    "/dev",
    "/net",
    "/home",
    "/.vol",
    "/Volumes",
    "/System/Volumes",
    "/System/Volumes/Data/Volumes",
    "/System/Volumes/Data/dev",
    "/System/Volumes/Data/net",
    "/System/Volumes/Data/home",
    "/System/Volumes/Data/.vol",
    "/System/Volumes/Update/mnt1",
    "/System/Volumes/VM/.snapshots",
};

static const char* const kCloudProviderFolders[] = {
    "Library/CloudStorage",
    "Library/Mobile Documents",
};

const std::set<std::string>& ScanOptions::systemManagedPaths() {
    static const std::set<std::string> paths(std::begin(kSystemManaged), std::end(kSystemManaged));
    return paths;
}

std::set<std::string> ScanOptions::cloudProviderRoots(const std::string& home) {
    std::set<std::string> roots;
    for (const char* folder : kCloudProviderFolders) roots.insert(Paths::join(home, folder));
    return roots;
}

std::set<std::string> ScanOptions::defaultSkipPaths() {
    std::set<std::string> paths = systemManagedPaths();
    paths.merge(cloudProviderRoots(currentHome()));
    return paths;
}

std::string ScanOptions::currentHome() { return Paths::home(); }

} // namespace vessora
