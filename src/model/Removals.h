#pragma once
// The removals the screens ask for, each queued on the model's one removal
// queue with the lists it prunes once it is done.

#include "platform/CleanupEntry.h"
#include "model/AppRow.h"
#include "model/RemovalQueue.h"

#include <functional>
#include <vector>

namespace vessora::Removals {

// Entries already on their way out are not asked for twice; when that leaves
// none of them, nothing is queued.
void removeEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode, unsigned prunes,
                   std::function<void(const RemovalResult&)> after = {});
// Only entries that may be chosen: never one a running program uses, one its
// own tool must remove, or one of unknown extent.
void removeCleanupEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode);
void removeCategoryEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode);
// The app itself goes the way its kind requires (its own tool for a Flatpak
// or snap), the leftovers through the remover. Nothing at all when neither
// the bundle nor a leftover is asked for.
void uninstall(RemovalQueue& queue, const AppRow& app, const std::vector<LeftoverItem>& leftovers, bool includeBundle,
               RemovalMode mode);

} // namespace vessora::Removals
