#pragma once
#include "catalog/CleanupCatalog.h"
#include "platform/LocalSnapshot.h"
#include "platform/VolumeInfo.h"
#include "platform/PrivilegedRunner.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vessora {

// What the model reads from the world outside the file system. Every member
// has a real default; tests replace one to get a volume of known size or an
// administrator prompt that refuses. The engines' home folder is $HOME, read
// on every call, so tests point HOME at a temporary folder instead.
struct ModelEnvironment {
    std::function<std::vector<VolumeInfo>()> readVolumes;                        // VolumeInfo::current
    std::function<bool()> readFullDiskAccess;                                    // Permissions::hasFullDiskAccess
    std::function<std::vector<LocalSnapshot>(const std::string&)> listSnapshots; // LocalSnapshot::list
    std::shared_ptr<PrivilegedRunner> privilegedRunner;                          // null: the system's prompt
    std::function<CleanupTarget(const CleanupTarget&, const std::function<bool()>&)>
        measureCleanupTarget; // CleanupCatalog::measure
};

} // namespace vessora
