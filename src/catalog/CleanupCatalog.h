#pragma once
// The fixed catalogue of places where rebuildable or forgotten data collects,
// and its measurement.

#include "catalog/CleanupEntry.h"
#include "scan/FolderListing.h"

#include <functional>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

namespace vessora {

// One catalogue row with its measurement.
struct CleanupTarget {
    std::string id;
    std::string title;
    std::string detail;
    CleanupRisk risk = CleanupRisk::safe;
    std::vector<std::string> roots;    // absolute, resolved against the home folder of the moment
    bool contentsOnly = true;          // true: each root's children are the entries; false: each root is one
    std::vector<CleanupEntry> entries; // largest first; empty before measurement
    bool scanned = false;

    friend bool operator==(const CleanupTarget&, const CleanupTarget&) = default;
};

namespace CleanupCatalog {

using Cancelled = std::function<bool()>;

// The fifteen unmeasured targets, built afresh against the current home folder.
std::vector<CleanupTarget> definitions();

// The target with its entries measured and `scanned` set; every other field
// unchanged. `cancelled` is only handed to the quick size.
CleanupTarget measure(CleanupTarget target, const Cancelled& cancelled = {});

// The shared measurement of a list of roots: each existing root as one entry
// (listsContents false) or each of its children but ".DS_Store" (true), sized
// with the quick size, empty ones dropped, largest first with ties in
// discovery order.
std::vector<CleanupEntry> measureEntries(const std::vector<std::string>& roots, bool listsContents,
                                         const Cancelled& cancelled = {});

// An entry for `path` with the given size and the item's own modification date.
CleanupEntry makeEntry(const std::string& path, int64_t size);

// A table root: "~" or "~/rest" resolved against `home`, anything else as written.
std::string resolveRoot(std::string_view root, const std::string& home);

// Stable sort, largest first.
void sortLargestFirst(std::vector<CleanupEntry>& entries);

// The names in a folder in byte order; see FolderListing::names.
inline std::optional<std::vector<std::string>> listFolder(const std::string& path) {
    return FolderListing::names(path);
}

} // namespace CleanupCatalog
} // namespace vessora
