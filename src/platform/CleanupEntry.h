#pragma once
// The grade and the removable item that cleanup targets, storage categories and
// removals share.

#include "support/Date.h"
#include "support/ItemIdentity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vessora {

// How careful the user must be with some data; ordered safe < review < careful.
enum class CleanupRisk { safe = 0, review = 1, careful = 2 };

// The grade of a raw value; nothing for any value but 0, 1 and 2.
std::optional<CleanupRisk> cleanupRiskFromRaw(int raw);
// "safe", "review", "careful".
std::string_view cleanupRiskName(CleanupRisk risk);

// Targets whose entries come from a rule rather than from their roots' children.
enum class CleanupRowKind {
    plain,
    unclaimedRest,  // the roots' children that no other target takes
    temporaryFiles, // the user's own children of the roots, not open, older than a day
    rotatedLogs,    // files below the roots named as a log rotation names them
    flatpakOrphans, // the roots' children that name no installed Flatpak app
    installers,     // the roots' children named as installers are, unless an installed app runs from them
    disabledSnaps,  // the snap files the snap tool lists as disabled
};

// One removable item.
struct CleanupEntry {
    std::string url;              // absolute path of the item
    int64_t size = 0;             // allocated bytes, recursively
    std::optional<Date> modified; // modification date; absent when unreadable
    bool needsAdmin = false;      // could not be read: the size is unknown until an administrator measures it
    std::string inUseBy = {};     // the running program whose files these are; empty: none
    bool freesNoDisk = false;     // lives in memory (tmpfs): removing it frees no disk, so its size counts 0
    bool readOnly = false;        // listed for its size only: its own tool (or an administrator) removes it
    ItemIdentity identity = {};   // the object measured; a removal acts on nothing else

    // Whether the user may choose it for removal.
    bool selectable() const { return !needsAdmin && inUseBy.empty() && !readOnly; }

    friend bool operator==(const CleanupEntry&, const CleanupEntry&) = default;
};

} // namespace vessora
