#include "scan/ScanRootPreset.h"

#include "support/Paths.h"

namespace vessora::ScanRootPresets {

namespace {
struct Row {
    ScanRootPreset preset;
    const char* name;
};
const Row kRows[] = {
    {ScanRootPreset::home, "Home folder"},
    {ScanRootPreset::applications, "Applications"},
    {ScanRootPreset::library, "User Library"},
    {ScanRootPreset::systemLibrary, "System Library"},
    {ScanRootPreset::dataVolume, "Whole data volume"},
    {ScanRootPreset::rootVolume, "System volume"},
};
} // namespace

const std::vector<ScanRootPreset>& all() {
    static const std::vector<ScanRootPreset> cases = [] {
        std::vector<ScanRootPreset> v;
        for (const Row& row : kRows) v.push_back(row.preset);
        return v;
    }();
    return cases;
}

std::string displayName(ScanRootPreset preset) {
    for (const Row& row : kRows)
        if (row.preset == preset) return row.name;
    return {};
}

std::optional<ScanRootPreset> fromDisplayName(const std::string& name) {
    for (const Row& row : kRows)
        if (name == row.name) return row.preset;
    return std::nullopt;
}

std::string path(ScanRootPreset preset) {
    switch (preset) {
    case ScanRootPreset::home: return Paths::home();
    case ScanRootPreset::applications: return "/Applications";
    case ScanRootPreset::library: return Paths::home() + "/Library";
    case ScanRootPreset::systemLibrary: return "/Library";
    case ScanRootPreset::dataVolume: return "/System/Volumes/Data";
    case ScanRootPreset::rootVolume: return "/";
    }
    return {};
}

} // namespace vessora::ScanRootPresets
