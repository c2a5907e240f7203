#include "platform/CleanupEntry.h"

namespace vessora {

std::optional<CleanupRisk> cleanupRiskFromRaw(int raw) {
    switch (raw) {
    case 0: return CleanupRisk::safe;
    case 1: return CleanupRisk::review;
    case 2: return CleanupRisk::careful;
    default: return std::nullopt;
    }
}

std::string_view cleanupRiskName(CleanupRisk risk) {
    switch (risk) {
    case CleanupRisk::safe: return "safe";
    case CleanupRisk::review: return "review";
    case CleanupRisk::careful: return "careful";
    }
    return "careful";
}

} // namespace vessora
