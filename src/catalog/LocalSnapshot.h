#pragma once
#include "catalog/Hashing.h"
#include "support/Date.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

// One local backup snapshot of a volume, as the system's snapshot tool names it.
struct LocalSnapshot {
    std::string name;         // the tool's whole line, trimmed
    std::optional<Date> date; // the moment encoded in the name; absent when it does not parse

    friend bool operator==(const LocalSnapshot&, const LocalSnapshot&) = default;

    // The snapshots of the volume at `volume`, newest first; empty when the
    // tool is absent or fails.
    static std::vector<LocalSnapshot> list(const std::string& volume);

    // The snapshots named in the tool's output: lines trimmed of spaces and
    // tabs, only those starting with the snapshot prefix, newest first, the
    // undated last in printed order.
    static std::vector<LocalSnapshot> parseList(std::string_view output);

    // The date text of a snapshot's name: the name without the tool's prefix
    // and suffix. The snapshot tool is given this text to delete a snapshot.
    static std::string stampOf(std::string_view name);

    // A "yyyy-MM-dd-HHmmss" stamp in the current time zone; nothing for any
    // other text or a day that does not exist.
    static std::optional<Date> parseStamp(std::string_view stamp);
};

} // namespace vessora

template <> struct std::hash<vessora::LocalSnapshot> {
    size_t operator()(const vessora::LocalSnapshot& s) const noexcept {
        size_t seed = std::hash<std::string>{}(s.name);
        vessora::detail::hashCombine(seed, vessora::detail::hashOptionalDate(s.date));
        return seed;
    }
};
