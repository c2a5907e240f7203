#include "scan/ScanRootPreset.h"

#include "platform/PlatformTables.h"

namespace vessora::ScanRootPresets {

namespace {
constexpr ScanRootPreset kCases[] = {ScanRootPreset::home,       ScanRootPreset::applications,
                                     ScanRootPreset::library,    ScanRootPreset::systemLibrary,
                                     ScanRootPreset::dataVolume, ScanRootPreset::rootVolume};

// The active set's row for a case: one row per case, in declaration order.
const PresetRow* row(ScanRootPreset preset) {
    const auto& rows = PlatformTables::current().presets;
    size_t index = size_t(preset);
    return index < rows.size() ? &rows[index] : nullptr;
}
} // namespace

const std::vector<ScanRootPreset>& all() {
    static const std::vector<ScanRootPreset> cases(std::begin(kCases), std::end(kCases));
    return cases;
}

std::string displayName(ScanRootPreset preset) {
    const PresetRow* r = row(preset);
    return r ? r->label : std::string();
}

std::optional<ScanRootPreset> fromDisplayName(const std::string& name) {
    for (ScanRootPreset preset : kCases)
        if (displayName(preset) == name) return preset;
    return std::nullopt;
}

std::string path(ScanRootPreset preset) {
    const PresetRow* r = row(preset);
    return r ? PlatformTables::resolveRoot(r->path) : std::string();
}

} // namespace vessora::ScanRootPresets
