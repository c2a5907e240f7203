#pragma once
#include "support/Date.h"

#include <optional>
#include <string>
#include <vector>

namespace vessora {

// One local backup snapshot of a volume, as the system's snapshot tool names it.
struct LocalSnapshot {
    std::string name;          // the tool's whole line, trimmed
    std::optional<Date> date;  // the moment encoded in the name; absent when it does not parse

    friend bool operator==(const LocalSnapshot&, const LocalSnapshot&) = default;

    // The snapshots of the volume at `volume`, newest first; empty when the
    // tool is absent or fails.
    static std::vector<LocalSnapshot> list(const std::string& volume);
};

} // namespace vessora
