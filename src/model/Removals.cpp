#include "model/Removals.h"

#include "apps/AppUninstaller.h"
#include "removal/RemovalLog.h"
#include "removal/RemovalTexts.h"

#include <algorithm>

namespace vessora::Removals {

void removeEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode, unsigned prunes,
                   std::function<void(const RemovalResult&)> after) {
    std::vector<RemovalItem> items;
    for (const auto& entry : entries)
        if (!queue.isBeingRemoved(entry.url)) items.push_back({entry.url, entry.identity});
    if (items.empty() && !entries.empty()) return;
    Removal removal;
    removal.prunes = prunes;
    queue.removeItems(std::move(items), mode, std::move(removal), std::move(after));
}

void removeCleanupEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    std::vector<CleanupEntry> chosen;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(chosen),
                 [](const CleanupEntry& entry) { return entry.selectable(); });
    removeEntries(queue, chosen, mode, Removal::cleanupTargets);
}

void removeCategoryEntries(RemovalQueue& queue, const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    removeEntries(queue, entries, mode, Removal::categories);
}

void uninstall(RemovalQueue& queue, const AppRow& app, const std::vector<LeftoverItem>& leftovers, bool includeBundle,
               RemovalMode mode) {
    if (!includeBundle && leftovers.empty()) return;
    RemovalQueue::Request request;
    request.work = [app = app.app, size = app.bundleSize, identity = app.bundleIdentity, leftovers, includeBundle,
                    mode] {
        RemovalResult result = AppUninstaller::uninstall(app, size, leftovers, includeBundle, mode, identity);
        // Recorded before it is published, so the alert can offer Put Back.
        if (!RemovalLog::record(result, mode)) result.note = RemovalTexts::putBackUnavailable;
        return result;
    };
    if (includeBundle) request.items.push_back(app.app.url);
    for (const auto& leftover : leftovers) request.items.push_back(leftover.url);
    request.shown[app.app.url] = app.bundleIdentity;
    for (const LeftoverItem& item : leftovers) request.shown[item.url] = item.identity;
    request.prunes.prunes = Removal::uninstalled;
    request.prunes.app = app.app.url;
    request.prunes.includeBundle = includeBundle;
    queue.remove(std::move(request));
}

} // namespace vessora::Removals
