#pragma once
// Whether the application may read the user's protected data.

#include <string>

namespace vessora::Permissions {

// True when the application can read every file of its user. Linux has no
// privacy gate between a user's own processes and files, so it always can.
bool hasFullDiskAccess();

// The probe used where such a gate exists: a privacy database that opens for
// reading (the user's under `home`, then the system's), else a Messages folder
// under `home` that can be listed, proves access. False when none of them
// exists.
bool probeFullDiskAccess(const std::string& home);

} // namespace vessora::Permissions
