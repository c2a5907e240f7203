#pragma once
#include "apps/InstalledApp.h"
#include "apps/LeftoverFinder.h"
#include "support/ItemIdentity.h"

#include <cstdint>
#include <vector>

namespace vessora {

// One installed application with its bundle size and leftovers, as the Apps
// screen lists it.
struct AppRow {
    InstalledApp app;
    int64_t bundleSize = 0;              // 0 until analysed
    std::vector<LeftoverItem> leftovers; // empty until analysed
    bool analyzed = false;
    ItemIdentity bundleIdentity = {}; // the app's own folder or file as analysed; unknown until then

    const std::string& id() const { return app.url; }

    std::vector<LeftoverItem> exactLeftovers() const { return withConfidence(MatchConfidence::exact); }
    std::vector<LeftoverItem> likelyLeftovers() const { return withConfidence(MatchConfidence::likely); }

    // The bundle plus every leftover, whatever its confidence.
    int64_t totalSize() const {
        int64_t total = bundleSize;
        for (const auto& item : leftovers) total += item.size;
        return total;
    }

    bool operator==(const AppRow&) const = default;

private:
    std::vector<LeftoverItem> withConfidence(MatchConfidence confidence) const {
        std::vector<LeftoverItem> result;
        for (const auto& item : leftovers)
            if (item.confidence == confidence) result.push_back(item);
        return result;
    }
};

} // namespace vessora
