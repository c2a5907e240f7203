// The model's removals: the remover runs on the main thread, and the model
// then takes out of its lists exactly what the result says was removed.

#include "model/CorvaneModel.h"

#include "model/MeasurementRun.h"
#include "support/Paths.h"

#include <algorithm>
#include <map>
#include <unordered_set>

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

std::set<std::string> CorvaneModel::publishRemoval(const RemovalResult& result) {
    publishAlways(lastResult_, result, &CorvaneModel::lastResultChanged);
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
            bool pruned = false;
            for (auto& target : targets)
                pruned |= pruneRemoved(target.entries, removed, [](const CleanupEntry& entry) { return entry.url; });
            return pruned;
        },
        &CorvaneModel::cleanupTargetsChanged);
}

void CorvaneModel::pruneLeftovers(const std::set<std::string>& removed) {
    change(
        apps_,
        [&](auto& rows) {
            bool pruned = false;
            for (auto& row : rows)
                pruned |= pruneRemoved(row.leftovers, removed, [](const LeftoverItem& item) { return item.url; });
            return pruned;
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
    const auto removed = publishRemoval(Remover::remove(urls, mode, sizes));
    detach(removable, removed);
}

FSNodeRef CorvaneModel::refOf(FSNode* node) const {
    if (node == tree_.get()) return tree_;
    for (const auto& child : node->parent()->children())
        if (child.get() == node) return child;
    return nullptr;
}

void CorvaneModel::detach(const std::vector<FSNodeRef>& nodes, const std::set<std::string>& removed) {
    assertMainThread();
    if (!tree_) return;
    // Only nodes of the published tree count (a rescan may have replaced the
    // tree the selection came from), each once however often it was listed.
    std::unordered_set<const FSNode*> chosen;
    for (const auto& node : nodes) {
        if (!isRemoved(removed, node->path())) continue;
        const FSNode* root = node.get();
        while (root->parent()) root = root->parent();
        if (root == tree_.get() && node != tree_) chosen.insert(node.get());
    }
    // A node below another removed node leaves with it: its size is already
    // in that node's, and announcing it would name a parent that is gone.
    std::vector<FSNode*> parents;
    for (const auto& node : nodes) {
        if (!chosen.count(node.get())) continue;
        bool inside = false;
        for (const FSNode* above = node->parent(); above && !inside; above = above->parent())
            inside = chosen.count(above) > 0;
        if (inside) {
            chosen.erase(node.get());
            continue;
        }
        if (std::find(parents.begin(), parents.end(), node->parent()) == parents.end())
            parents.push_back(node->parent());
    }
    for (FSNode* parent : parents) {
        const FSNodeRef parentRef = refOf(parent);
        std::vector<int> rows;
        for (size_t i = 0; i < parent->children().size(); ++i)
            if (chosen.count(parent->children()[i].get())) rows.push_back(int(i));
        emit treeNodesAboutToBeRemoved(parentRef, rows);
        int64_t size = 0, fileCount = 0;
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
            const FSNodeRef child = parent->removeChild(parent->children()[size_t(*row)].get());
            size += child->size;
            fileCount += child->fileCount;
        }
        // The ancestors' logical sizes and folder counts are left as scanned.
        for (FSNode* ancestor = parent; ancestor; ancestor = ancestor->parent()) {
            ancestor->size -= size;
            ancestor->fileCount -= fileCount;
        }
        emit treeNodesRemoved(parentRef);
    }
}

void CorvaneModel::removeCleanupEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    const auto removed = publishRemoval(removeEntries(entries, mode));
    pruneCleanupTargets(removed);
}

void CorvaneModel::removeCategoryEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    const auto removed = publishRemoval(removeEntries(entries, mode));
    change(
        categories_,
        [&](auto& categories) {
            bool pruned = false;
            for (auto& category : categories) {
                if (!pruneRemoved(category.entries, removed, [](const CleanupEntry& entry) { return entry.url; }))
                    continue;
                pruned = true;
                int64_t size = 0;
                for (const auto& entry : category.entries) size += entry.size;
                category.size = size;
            }
            return pruned;
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

    const auto removed = publishRemoval(Remover::remove(urls, mode, sizes));
    const std::string& bundle = app.app.url;
    if (includeBundle && isRemoved(removed, bundle)) {
        change(
            apps_,
            [&](auto& rows) { return std::erase_if(rows, [&](const AppRow& row) { return row.app.url == bundle; }) > 0; },
            &CorvaneModel::appsChanged);
        return;
    }
    for (size_t i = 0; i < apps_.size(); ++i) {
        if (apps_[i].app.url != bundle) continue;
        change(
            apps_,
            [&](auto& rows) {
                return pruneRemoved(rows[i].leftovers, removed, [](const LeftoverItem& item) { return item.url; });
            },
            &CorvaneModel::appsChanged);
        return;
    }
}

void CorvaneModel::escalate(const std::vector<std::string>& urls) {
    assertMainThread();
    const auto& runner = environment_.privilegedRunner;
    const auto removed =
        publishRemoval(runner ? Remover::removeWithAdmin(urls, *runner) : Remover::removeWithAdmin(urls));
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
                    publishAlways(pendingDeletion_, std::move(pending), &CorvaneModel::pendingDeletionChanged);
                    return;
                }
                RemovalResult failure;
                for (const auto& failed : result.failed) failure.failed.push_back({failed.url, failed.reason});
                publishAlways(lastResult_, std::move(failure), &CorvaneModel::lastResultChanged);
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
    publishAlways(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    removeCategoryEntries(pending.entries, pending.mode);
    publish(archiveStatus_,
            "Backed up to " + Paths::lastComponent(pending.destination) + ", then removed the originals.",
            &CorvaneModel::archiveStatusChanged);
}

void CorvaneModel::cancelPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publishAlways(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    publish(archiveStatus_, "Backup kept at " + Paths::lastComponent(pending.destination) + ". Nothing was deleted.",
            &CorvaneModel::archiveStatusChanged);
}

} // namespace vessora
