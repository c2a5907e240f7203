#pragma once
// The ready-made scan roots offered by the Browse screen.

#include <optional>
#include <string>
#include <vector>

namespace vessora {

// The cases are named for macOS; each table set gives every case its label and
// folder (on Linux: home, app data, caches, programs, system data, whole disk).
enum class ScanRootPreset { home, applications, library, systemLibrary, dataVolume, rootVolume };

namespace ScanRootPresets {
// Every case, in declaration order.
const std::vector<ScanRootPreset>& all();
// The display name ("Home folder"), which is also the raw value.
std::string displayName(ScanRootPreset preset);
// The case with this display name, if any.
std::optional<ScanRootPreset> fromDisplayName(const std::string& name);
// The folder scanned; home-relative cases read the current home folder.
std::string path(ScanRootPreset preset);
} // namespace ScanRootPresets

} // namespace vessora
