#pragma once
// Process-wide resource limits, set once at start by each program's main.

namespace vessora::ProcessLimits {

// Raises the soft limit on open descriptors to the hard limit. Deep folder
// trees hold one descriptor per level while they are walked or deleted; the
// usual soft limit of 1024 (or less) is far below what the system allows.
void raiseDescriptorLimit();

} // namespace vessora::ProcessLimits
