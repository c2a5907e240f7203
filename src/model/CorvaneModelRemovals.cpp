// The model's removals: the remover runs on the main thread, and the model
// then takes out of its lists exactly what the result says was removed.

#include "model/CorvaneModel.h"

#include "model/MeasurementRun.h"
#include "removal/RemovalLog.h"
#include "support/Paths.h"

#include <algorithm>
#include <map>

namespace vessora {

namespace {

// A folder matches whichever way its path was written: with or without a
// trailing separator.
std::string comparable(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isRemoved(const std::set<std::string>& removed, const std::string& path) {
    return removed.count(comparable(path)) > 0;
}

template <class T, class Path>
bool pruneRemoved(std::vector<T>& items, const std::set<std::string>& removed, Path path) {
    const auto before = items.size();
    std::erase_if(items, [&](const T& item) { return isRemoved(removed, path(item)); });
    return items.size() != before;
}

std::string plural(size_t count, const std::string& noun) { return noun + (count == 1 ? "" : "s"); }

} // namespace

std::set<std::string> CorvaneModel::publishRemoval(const RemovalResult& result, RemovalMode mode) {
    RemovalLog::record(result, mode);
    publish(lastResult_, result, &CorvaneModel::lastResultChanged);
    publish(totalFreedThisSession_, totalFreedThisSession_ + result.bytesFreed,
            &CorvaneModel::totalFreedThisSessionChanged);
    refreshVolumes();
    std::set<std::string> removed;
    for (const auto& url : result.succeeded) removed.insert(comparable(url));
    return removed;
}

RemovalResult CorvaneModel::removeEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    std::vector<std::string> urls;
    std::map<std::string, int64_t> sizes;
    for (const auto& entry : entries) {
        urls.push_back(entry.url);
        sizes[entry.url] = entry.size;
    }
    return Remover::remove(urls, mode, sizes);
}

void CorvaneModel::pruneCleanupTargets(const std::set<std::string>& removed) {
    change(
        cleanupTargets_,
        [&](auto& targets) {
            for (auto& target : targets)
                pruneRemoved(target.entries, removed, [](const CleanupEntry& entry) { return entry.url; });
        },
        &CorvaneModel::cleanupTargetsChanged);
}

void CorvaneModel::pruneLeftovers(const std::set<std::string>& removed) {
    change(
        apps_,
        [&](auto& rows) {
            for (auto& row : rows)
                pruneRemoved(row.leftovers, removed, [](const LeftoverItem& item) { return item.url; });
        },
        &CorvaneModel::appsChanged);
}

void CorvaneModel::removeNodes(const std::vector<FSNodeRef>& nodes, RemovalMode mode) {
    assertMainThread();
    std::vector<FSNodeRef> removable;
    for (const auto& node : nodes)
        if (node && !node->isAggregate) removable.push_back(node);
    std::vector<std::string> urls;
    std::map<std::string, int64_t> sizes;
    for (const auto& node : removable) {
        urls.push_back(node->path());
        sizes[node->path()] = node->size;
    }
    const auto removed = publishRemoval(Remover::remove(urls, mode, sizes), mode);
    for (const auto& node : removable)
        if (isRemoved(removed, node->path())) detach(node);
}

void CorvaneModel::detach(const FSNodeRef& node) {
    assertMainThread();
    FSNode* const parent = node->parent();
    const int64_t size = node->size;
    const int64_t fileCount = node->fileCount;
    // A node listed twice in one removal has no parent the second time, so
    // its size is taken off its old ancestors only once.
    if (parent && parent->removeChild(node.get())) {
        for (FSNode* ancestor = parent; ancestor; ancestor = ancestor->parent()) {
            ancestor->size -= size;
            ancestor->fileCount -= fileCount;
        }
    }
    // The tree changed in place; no field was assigned.
    emit treeChanged();
}

void CorvaneModel::removeCleanupEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    const auto removed = publishRemoval(removeEntries(entries, mode), mode);
    pruneCleanupTargets(removed);
}

void CorvaneModel::removeCategoryEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    const auto removed = publishRemoval(removeEntries(entries, mode), mode);
    change(
        categories_,
        [&](auto& categories) {
            for (auto& category : categories) {
                if (!pruneRemoved(category.entries, removed, [](const CleanupEntry& entry) { return entry.url; }))
                    continue;
                int64_t size = 0;
                for (const auto& entry : category.entries) size += entry.size;
                category.size = size;
            }
        },
        &CorvaneModel::categoriesChanged);
    resolveRemainder();
}

void CorvaneModel::uninstall(const AppRow& app, const std::vector<LeftoverItem>& leftovers, bool includeBundle,
                             RemovalMode mode) {
    assertMainThread();
    std::vector<std::string> urls;
    std::map<std::string, int64_t> sizes;
    if (includeBundle) {
        urls.push_back(app.app.url);
        sizes[app.app.url] = app.bundleSize;
    }
    for (const auto& leftover : leftovers) {
        urls.push_back(leftover.url);
        sizes[leftover.url] = leftover.size;
    }
    if (urls.empty()) return;

    const auto removed = publishRemoval(Remover::remove(urls, mode, sizes), mode);
    const std::string& bundle = app.app.url;
    if (includeBundle && isRemoved(removed, bundle)) {
        change(
            apps_, [&](auto& rows) { std::erase_if(rows, [&](const AppRow& row) { return row.app.url == bundle; }); },
            &CorvaneModel::appsChanged);
        return;
    }
    for (size_t i = 0; i < apps_.size(); ++i) {
        if (apps_[i].app.url != bundle) continue;
        change(
            apps_,
            [&](auto& rows) {
                pruneRemoved(rows[i].leftovers, removed, [](const LeftoverItem& item) { return item.url; });
            },
            &CorvaneModel::appsChanged);
        return;
    }
}

void CorvaneModel::escalate(const std::vector<std::string>& urls) {
    assertMainThread();
    const auto& runner = environment_.privilegedRunner;
    const auto removed =
        publishRemoval(runner ? Remover::removeWithAdmin(urls, *runner) : Remover::removeWithAdmin(urls),
                       RemovalMode::deleteImmediately);
    // Only the leftovers and cleanup entries are pruned: categories and the
    // tree keep their items until they are measured again.
    pruneLeftovers(removed);
    pruneCleanupTargets(removed);
}

// Back up first, then remove on confirmation.

void CorvaneModel::archiveThenReview(const std::vector<CleanupEntry>& entries, const std::string& label,
                                     const std::string& destination, RemovalMode mode) {
    assertMainThread();
    publish(isArchiving_, true, &CorvaneModel::isArchivingChanged);
    publish(archiveStatus_,
            "Copying " + std::to_string(entries.size()) + " " + plural(entries.size(), "item") + "\u2026",
            &CorvaneModel::archiveStatusChanged);
    std::vector<std::string> urls;
    for (const auto& entry : entries) urls.push_back(entry.url);

    Async::start(
        tasks_,
        [this, urls, label, destination, entries, mode] {
            ArchiveResult result = Archiver::archive(urls, label, destination);
            // Only a fully verified copy becomes a pending deletion; working
            // that out stats both sides, which stays off the main thread.
            auto pending = PendingRemoval::from(result, entries, mode);
            mainQueue_.post([this, result = std::move(result), pending = std::move(pending)]() mutable {
                publish(isArchiving_, false, &CorvaneModel::isArchivingChanged);
                publish(archiveStatus_, std::nullopt, &CorvaneModel::archiveStatusChanged);
                if (pending) {
                    publish(lastArchiveDestination_, result.destination, &CorvaneModel::lastArchiveDestinationChanged);
                    publish(pendingDeletion_, std::move(pending), &CorvaneModel::pendingDeletionChanged);
                    return;
                }
                RemovalResult failure;
                for (const auto& failed : result.failed) failure.failed.push_back({failed.url, failed.reason});
                publish(lastResult_, std::move(failure), &CorvaneModel::lastResultChanged);
                const std::string reason =
                    result.failed.empty() ? "The copy could not be verified." : result.failed.front().reason;
                publish(archiveError_, "Nothing was deleted. " + reason, &CorvaneModel::archiveErrorChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::confirmPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publish(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    removeCategoryEntries(pending.entries, pending.mode);
    publish(archiveStatus_,
            "Backed up to " + Paths::lastComponent(pending.destination) + ", then removed the originals.",
            &CorvaneModel::archiveStatusChanged);
}

void CorvaneModel::cancelPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publish(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    publish(archiveStatus_, "Backup kept at " + Paths::lastComponent(pending.destination) + ". Nothing was deleted.",
            &CorvaneModel::archiveStatusChanged);
}

} // namespace vessora
