// The model's removals: the remover runs off the main thread, one removal at
// a time in the order asked for, and the model then takes out of its lists
// exactly what the result says was removed.

#include "model/CorvaneModel.h"

#include "apps/AppUninstaller.h"
#include "catalog/SnapshotRemoval.h"
#include "model/MeasurementRun.h"
#include "model/Pruning.h"
#include "removal/RemovalLog.h"
#include "removal/RemovalTexts.h"

#include <algorithm>
#include <map>
#include <unordered_set>

namespace vessora {

namespace {

// Runs on the removal's worker. A removal to the Trash is recorded before its
// result is published, so the result alert can offer to put it back, or say
// that it cannot.
void record(RemovalResult& result, RemovalMode mode) {
    if (!RemovalLog::record(result, mode)) result.note = RemovalTexts::putBackUnavailable;
}

RemovalResult removeAndRecord(const std::vector<RemovalItem>& items, RemovalMode mode) {
    RemovalResult result = Remover::removeItems(items, mode);
    record(result, mode);
    return result;
}

// Keeps the identities, as shown, of the items a removal handed back for
// administrator rights: the alert's escalation acts on those objects only.
// Kept until escalated, so that every alert still open can escalate its own.
void keepForEscalation(std::map<std::string, ItemIdentity>& kept, const RemovalResult& result,
                       const std::map<std::string, ItemIdentity>& shown) {
    for (const std::string& url : result.needsAdmin)
        if (auto it = shown.find(url); it != shown.end()) kept[url] = it->second;
}

} // namespace

std::set<std::string> CorvaneModel::publishRemoval(const RemovalResult& result) {
    publishAlways(lastResult_, result, &CorvaneModel::lastResultChanged);
    // Only what was really freed counts as reclaimed; a move to the Trash
    // frees nothing until the Trash is emptied and is kept apart.
    publish(totalFreedThisSession_, totalFreedThisSession_ + result.bytesFreed,
            &CorvaneModel::totalFreedThisSessionChanged);
    for (const auto& [url, bytes] : result.movedToTrash) movedToTrash_[Pruning::comparable(url)] += bytes;
    publish(totalMovedToTrashThisSession_, totalMovedToTrashThisSession_ + result.bytesMovedToTrash,
            &CorvaneModel::totalMovedToTrashThisSessionChanged);
    refreshVolumes();
    std::set<std::string> removed;
    Pruning::add(removed, result.succeeded);
    // A measurement that started before this removal may still hold what it
    // took away; its results are pruned by these paths on their way in.
    if (isMeasuringCategories_) Pruning::add(removedDuringCategories_, result.succeeded);
    if (isMeasuringCleanup_) Pruning::add(removedDuringCleanup_, result.succeeded);
    if (isLoadingApps_) Pruning::add(removedDuringApps_, result.succeeded);
    return removed;
}

void CorvaneModel::enqueueRemoval(std::function<RemovalResult()> work, std::function<void(const RemovalResult&)> apply,
                                  std::vector<std::string> items) {
    // The result passes from the work to its apply through this slot; the
    // main queue's hand-over orders the write before the read.
    auto result = std::make_shared<RemovalResult>();
    enqueueJob(Job{[work = std::move(work), result] { *result = work(); },
                   [apply = std::move(apply), result] { apply(*result); }, true, std::move(items)});
}

void CorvaneModel::enqueueJob(Job job) {
    assertMainThread();
    if (job.isRemoval) {
        ++removalJobs_;
        for (const auto& item : job.items) removing_.insert(Pruning::comparable(item));
        removingCount_ += std::max<size_t>(1, job.items.size());
        emit removingItemsChanged();
        publish(isRemoving_, true, &CorvaneModel::isRemovingChanged);
    } else {
        for (const auto& item : job.items) rescanning_.insert(Pruning::comparable(item));
        emit rescanningChanged();
    }
    removals_.push_back(std::move(job));
    if (!currentRemoval_) startNextRemoval();
}

void CorvaneModel::startNextRemoval() {
    if (removals_.empty()) return;
    currentRemoval_ = std::move(removals_.front());
    removals_.pop_front();
    // Only the work crosses to the pool; what applies the result (it may hold
    // tree nodes) stays on this thread.
    Async::start(
        tasks_,
        [this, work = std::move(currentRemoval_->work)] {
            work();
            mainQueue_.post([this] {
                // Still the current job while its result is applied, so that
                // a job asked for by an observer meanwhile waits its turn.
                const Job job = std::move(*currentRemoval_);
                // Its items stop being busy before the result is published,
                // so that the screens redraw them as they are left.
                if (job.isRemoval) {
                    for (const auto& item : job.items) removing_.erase(removing_.find(Pruning::comparable(item)));
                    removingCount_ -= std::max<size_t>(1, job.items.size());
                    emit removingItemsChanged();
                } else {
                    for (const auto& item : job.items) rescanning_.erase(rescanning_.find(Pruning::comparable(item)));
                    emit rescanningChanged();
                }
                job.apply();
                currentRemoval_.reset();
                if (job.isRemoval && --removalJobs_ == 0) publish(isRemoving_, false, &CorvaneModel::isRemovingChanged);
                startNextRemoval();
            });
        },
        userInitiatedPriority);
}

bool CorvaneModel::isBeingRemoved(const std::string& path) const {
    if (removing_.empty()) return false;
    // The path itself and every folder above it.
    std::string at = Pruning::comparable(path);
    while (true) {
        if (removing_.count(at)) return true;
        const size_t slash = at.rfind('/');
        if (slash == std::string::npos || at == "/") return false;
        at.resize(slash == 0 ? 1 : slash);
    }
}

bool CorvaneModel::isRescanning(const std::string& path) const {
    return !rescanning_.empty() && rescanning_.count(Pruning::comparable(path)) > 0;
}

void CorvaneModel::removeShownItems(std::vector<RemovalItem> items, RemovalMode mode,
                                    std::function<void(const RemovalResult&)> apply) {
    std::map<std::string, ItemIdentity> identities;
    std::vector<std::string> urls;
    for (const auto& item : items) {
        identities[item.url] = item.identity;
        urls.push_back(item.url);
    }
    enqueueRemoval([items = std::move(items), mode] { return removeAndRecord(items, mode); },
                   [this, identities = std::move(identities), apply = std::move(apply)](const RemovalResult& result) {
                       keepForEscalation(escalationIdentities_, result, identities);
                       apply(result);
                   },
                   std::move(urls));
}

void CorvaneModel::removeEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode,
                                 std::function<void(const RemovalResult&)> apply) {
    std::vector<RemovalItem> items;
    for (const auto& entry : entries) {
        // An entry already on its way out is not asked for twice.
        if (isBeingRemoved(entry.url)) continue;
        items.push_back({entry.url, entry.identity});
    }
    if (items.empty() && !entries.empty()) return;
    removeShownItems(std::move(items), mode, std::move(apply));
}

void CorvaneModel::notePutBack(const std::vector<std::string>& restored) {
    assertMainThread();
    int64_t back = 0;
    for (const std::string& path : restored) {
        auto it = movedToTrash_.find(Pruning::comparable(path));
        if (it == movedToTrash_.end()) continue;
        back += it->second;
        movedToTrash_.erase(it);
    }
    publish(totalMovedToTrashThisSession_, std::max<int64_t>(0, totalMovedToTrashThisSession_ - back),
            &CorvaneModel::totalMovedToTrashThisSessionChanged);
}

void CorvaneModel::pruneCleanupTargets(const std::set<std::string>& removed) {
    change(
        cleanupTargets_,
        [&](auto& targets) {
            bool pruned = false;
            for (auto& target : targets) pruned |= Pruning::prune(target, removed);
            return pruned;
        },
        &CorvaneModel::cleanupTargetsChanged);
}

void CorvaneModel::pruneLeftovers(const std::set<std::string>& removed) {
    change(
        apps_,
        [&](auto& rows) {
            bool pruned = false;
            for (auto& row : rows) pruned |= Pruning::prune(row, removed);
            return pruned;
        },
        &CorvaneModel::appsChanged);
}

void CorvaneModel::removeNodes(const std::vector<FSNodeRef>& nodes, RemovalMode mode) {
    assertMainThread();
    // A scan opened from a file tells what was there, not what is.
    if (showingSavedScan_) return;
    std::vector<FSNodeRef> removable;
    for (const auto& node : nodes)
        if (node && !node->isAggregate && !isBeingRemoved(node->path())) removable.push_back(node);
    if (removable.empty() &&
        std::any_of(nodes.begin(), nodes.end(), [&](const FSNodeRef& node) { return node && !node->isAggregate; }))
        return; // every one of them is already being removed
    // Each node is removed only while its path names the object scanned.
    std::vector<RemovalItem> items;
    for (const auto& node : removable) items.push_back({node->path(), node->identity()});
    removeShownItems(std::move(items), mode,
                     [this, removable](const RemovalResult& result) { detach(removable, publishRemoval(result)); });
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
        if (!Pruning::contains(removed, node->path())) continue;
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
        int64_t size = 0, logicalSize = 0, fileCount = 0, dirCount = 0;
        for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
            const FSNodeRef child = parent->removeChild(parent->children()[size_t(*row)].get());
            size += child->size;
            logicalSize += child->logicalSize;
            fileCount += child->fileCount;
            // A folder takes itself and every folder below it along.
            if (child->isDirectory()) dirCount += child->dirCount + 1;
        }
        for (FSNode* ancestor = parent; ancestor; ancestor = ancestor->parent()) {
            ancestor->size -= size;
            ancestor->logicalSize -= logicalSize;
            ancestor->fileCount -= fileCount;
            ancestor->dirCount -= int32_t(dirCount);
        }
        emit treeNodesRemoved(parentRef);
    }
}

void CorvaneModel::removeCleanupEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    // An entry a running program uses, one its own tool must remove, or one
    // of unknown extent (a folder that also holds live files) never goes from here.
    std::vector<CleanupEntry> chosen;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(chosen),
                 [](const CleanupEntry& entry) { return entry.selectable(); });
    removeEntries(chosen, mode, [this](const RemovalResult& result) { pruneCleanupTargets(publishRemoval(result)); });
}

void CorvaneModel::removeCategoryEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode) {
    assertMainThread();
    removeEntries(entries, mode, [this](const RemovalResult& result) { pruneCategories(publishRemoval(result)); });
}

void CorvaneModel::pruneCategories(const std::set<std::string>& removed) {
    change(
        categories_,
        [&](auto& categories) {
            bool pruned = false;
            for (auto& category : categories) pruned |= Pruning::prune(category, removed);
            return pruned;
        },
        &CorvaneModel::categoriesChanged);
    resolveRemainder();
}

void CorvaneModel::uninstall(const AppRow& app, const std::vector<LeftoverItem>& leftovers, bool includeBundle,
                             RemovalMode mode) {
    assertMainThread();
    if (!includeBundle && leftovers.empty()) return;
    // The app itself goes the way its kind requires (its own tool for a
    // Flatpak or snap), the leftovers through the remover.
    enqueueRemoval(
        [app = app.app, size = app.bundleSize, identity = app.bundleIdentity, leftovers, includeBundle, mode] {
            RemovalResult result = AppUninstaller::uninstall(app, size, leftovers, includeBundle, mode, identity);
            record(result, mode);
            return result;
        },
        [this, bundle = app.app.url, identity = app.bundleIdentity, leftovers,
         includeBundle](const RemovalResult& result) {
            std::map<std::string, ItemIdentity> shown{{bundle, identity}};
            for (const LeftoverItem& item : leftovers) shown[item.url] = item.identity;
            keepForEscalation(escalationIdentities_, result, shown);
            pruneUninstalled(bundle, includeBundle, publishRemoval(result));
        },
        [&] {
            std::vector<std::string> items;
            if (includeBundle) items.push_back(app.app.url);
            for (const auto& leftover : leftovers) items.push_back(leftover.url);
            return items;
        }());
}

void CorvaneModel::pruneUninstalled(const std::string& bundle, bool includeBundle,
                                    const std::set<std::string>& removed) {
    if (includeBundle && Pruning::contains(removed, bundle)) {
        change(
            apps_,
            [&](auto& rows) {
                return std::erase_if(rows, [&](const AppRow& row) { return row.app.url == bundle; }) > 0;
            },
            &CorvaneModel::appsChanged);
        return;
    }
    for (size_t i = 0; i < apps_.size(); ++i) {
        if (apps_[i].app.url != bundle) continue;
        change(
            apps_, [&](auto& rows) { return Pruning::prune(rows[i], removed); }, &CorvaneModel::appsChanged);
        return;
    }
}

void CorvaneModel::escalate(const std::vector<std::string>& urls) {
    assertMainThread();
    std::vector<RemovalItem> items;
    for (const std::string& url : urls) {
        auto known = escalationIdentities_.find(url);
        items.push_back({url, known != escalationIdentities_.end() ? known->second : ItemIdentity()});
        if (known != escalationIdentities_.end()) escalationIdentities_.erase(known);
    }
    enqueueRemoval(
        [items, runner = environment_.privilegedRunner] {
            return Remover::removeWithAdmin(items, runner ? *runner : defaultPrivilegedRunner());
        },
        [this](const RemovalResult& result) {
            const auto removed = publishRemoval(result);
            // Only the leftovers and cleanup entries are pruned: categories and
            // the tree keep their items until they are measured again.
            pruneLeftovers(removed);
            pruneCleanupTargets(removed);
        },
        urls);
}

void CorvaneModel::deleteSnapshot(const LocalSnapshot& snapshot) {
    assertMainThread();
    const std::string volume = snapshot.volume.empty() ? std::string("/") : snapshot.volume;
    enqueueRemoval(
        [snapshot, volume, runner = environment_.privilegedRunner] {
            return runner ? SnapshotRemoval::deleteSnapshot(snapshot, volume, *runner)
                          : SnapshotRemoval::deleteSnapshot(snapshot, volume);
        },
        [this, snapshot](const RemovalResult& result) {
            // Out of the list at once; the listing that the refresh starts
            // confirms it a moment later.
            if (!result.succeeded.empty())
                change(
                    snapshots_,
                    [&](auto& list) {
                        return std::erase_if(list, [&](const LocalSnapshot& s) { return s.sameAs(snapshot); }) > 0;
                    },
                    &CorvaneModel::snapshotsChanged);
            publishRemoval(result);
        });
}

} // namespace vessora
