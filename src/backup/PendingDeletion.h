#pragma once
// A backed-up selection waiting for the user to confirm or cancel deletion of
// the originals. The entry record and the removal mode belong to the cleanup
// catalogue and the remover; the application model instantiates this with
// them (PendingDeletion<CleanupEntry, RemovalMode>), so the backup engine does
// not depend on either.

#include "backup/Archiver.h"

#include <utility>

namespace vessora {

template <typename Entry, typename Mode> struct PendingDeletion {
    std::string destination;         // the backup folder (ArchiveResult::destination)
    std::vector<ArchivedItem> items; // what was copied
    std::vector<Entry> entries;      // the originals to delete on confirmation
    int64_t bytes = 0;               // ArchiveResult::bytes
    Mode mode{};                     // how the originals will be removed
    std::optional<std::string> readableExport;
    bool sameVolumeAsSource = false; // no space is freed until the backup moves

    // The pending deletion for a fully verified result (no failure, something
    // copied); absent otherwise, so nothing unverified can be offered for
    // deletion. `Entry` must have a `url` path.
    static std::optional<PendingDeletion> from(const ArchiveResult& result, std::vector<Entry> entries, Mode mode) {
        if (!result.failed.empty() || result.copied.empty()) return std::nullopt;
        PendingDeletion pending;
        pending.destination = result.destination;
        pending.items = result.items;
        pending.bytes = result.bytes;
        pending.mode = mode;
        pending.readableExport = result.readableExport;
        pending.sameVolumeAsSource = !entries.empty() && Archiver::sameVolume(entries.front().url, result.destination);
        pending.entries = std::move(entries);
        return pending;
    }
};

} // namespace vessora
