#include "model/RemovalQueue.h"

#include "model/MeasurementRun.h"
#include "removal/RemovalLog.h"
#include "removal/RemovalTexts.h"

#include <algorithm>

namespace vessora {

namespace {

// Runs on the removal's worker. A removal to the Trash is recorded before its
// result is published, so the result alert can offer to put it back, or say
// that it cannot.
void record(RemovalResult& result, RemovalMode mode) {
    if (!RemovalLog::record(result, mode)) result.note = RemovalTexts::putBackUnavailable;
}

} // namespace

RemovalQueue::RemovalQueue(QThreadPool& pool, Async::MainQueue& mainQueue, std::shared_ptr<PrivilegedRunner> runner,
                           QObject* parent)
    : Store(parent), pool_(pool), mainQueue_(mainQueue), runner_(std::move(runner)) {}

void RemovalQueue::setLastResult(std::optional<RemovalResult> result) {
    publishAlways(lastResult_, std::move(result), &RemovalQueue::lastResultChanged);
}

void RemovalQueue::publishRemoval(const RemovalResult& result) {
    publishAlways(lastResult_, result, &RemovalQueue::lastResultChanged);
    // Only what was really freed counts as reclaimed; a move to the Trash
    // frees nothing until the Trash is emptied and is kept apart.
    totalFreed_ += result.bytesFreed;
    for (const auto& [url, bytes] : result.movedToTrash) movedToTrash_[Pruning::comparable(url)] += bytes;
    totalMovedToTrash_ += result.bytesMovedToTrash;
    if (result.bytesFreed != 0 || result.bytesMovedToTrash != 0) emit totalsChanged();
}

void RemovalQueue::remove(Request request) {
    // The result passes from the work to its apply through this slot; the
    // main queue's hand-over orders the write before the read.
    auto result = std::make_shared<RemovalResult>();
    Entry entry;
    entry.work = [work = std::move(request.work), result] { *result = work(); };
    entry.items = request.items;
    entry.isRemoval = true;
    entry.apply = [this, result, request = std::move(request)]() mutable {
        // Kept until escalated, so that every alert still open can escalate its own.
        for (const std::string& url : result->needsAdmin)
            if (auto it = request.shown.find(url); it != request.shown.end()) escalationIdentities_[url] = it->second;
        if (request.before) request.before(*result);
        publishRemoval(*result);
        Removal removal = std::move(request.prunes);
        Pruning::add(removal.paths, result->succeeded);
        emit removed(removal);
        if (request.after) request.after(*result);
    };
    push(std::move(entry));
}

void RemovalQueue::removeItems(std::vector<RemovalItem> items, RemovalMode mode, Removal prunes,
                               std::function<void(const RemovalResult&)> after) {
    Request request;
    for (const auto& item : items) {
        request.shown[item.url] = item.identity;
        request.items.push_back(item.url);
    }
    request.work = [items = std::move(items), mode] {
        RemovalResult result = Remover::removeItems(items, mode);
        record(result, mode);
        return result;
    };
    request.prunes = std::move(prunes);
    request.after = std::move(after);
    remove(std::move(request));
}

void RemovalQueue::escalate(const std::vector<std::string>& urls) {
    assertMainThread();
    std::vector<RemovalItem> items;
    for (const std::string& url : urls) {
        auto known = escalationIdentities_.find(url);
        items.push_back({url, known != escalationIdentities_.end() ? known->second : ItemIdentity()});
        if (known != escalationIdentities_.end()) escalationIdentities_.erase(known);
    }
    Request request;
    request.work = [items, runner = runner_] {
        return Remover::removeWithAdmin(items, runner ? *runner : defaultPrivilegedRunner());
    };
    request.items = urls;
    // Only the leftovers and cleanup entries are pruned: categories and the
    // tree keep their items until they are measured again.
    request.prunes.prunes = Removal::leftovers | Removal::cleanupTargets;
    remove(std::move(request));
}

void RemovalQueue::putBack(const RemovalResult& result) {
    assertMainThread();
    auto outcome = std::make_shared<TrashRestore::Outcome>();
    enqueue(Job{[result, outcome] {
                    // A removal to the Trash made since then recorded a batch
                    // of its own; that one is not what the user asked back.
                    if (!RemovalLog::isLastBatch(result)) {
                        for (const auto& path : result.succeeded)
                            outcome->refused.push_back(
                                {path, "A later removal to the Trash replaced it as the one to put back; restore "
                                       "it from the Trash."});
                        return;
                    }
                    *outcome = RemovalLog::restoreLast();
                },
                [this, outcome] {
                    // What came back no longer counts as moved to the Trash.
                    int64_t back = 0;
                    for (const std::string& path : outcome->restored) {
                        auto it = movedToTrash_.find(Pruning::comparable(path));
                        if (it == movedToTrash_.end()) continue;
                        back += it->second;
                        movedToTrash_.erase(it);
                    }
                    const int64_t moved = std::max<int64_t>(0, totalMovedToTrash_ - back);
                    if (moved != totalMovedToTrash_) {
                        totalMovedToTrash_ = moved;
                        emit totalsChanged();
                    }
                    emit putBackFinished(*outcome);
                    // What came back was taken out of the lists at removal.
                    if (!outcome->restored.empty()) emit restored(outcome->restored);
                },
                {}});
}

void RemovalQueue::enqueue(Job job) {
    push(Entry{std::move(job.work), std::move(job.apply), false, std::move(job.items)});
}

void RemovalQueue::push(Entry entry) {
    assertMainThread();
    if (entry.isRemoval) {
        ++removalJobs_;
        for (const auto& item : entry.items) removing_.insert(Pruning::comparable(item));
        removingCount_ += std::max<size_t>(1, entry.items.size());
        emit busyChanged();
    } else {
        for (const auto& item : entry.items) rescanning_.insert(Pruning::comparable(item));
        emit rescanningChanged();
    }
    waiting_.push_back(std::move(entry));
    if (!current_) startNext();
}

void RemovalQueue::startNext() {
    if (waiting_.empty()) return;
    current_ = std::move(waiting_.front());
    waiting_.pop_front();
    // Only the work crosses to the pool; what applies the result (it may hold
    // tree nodes) stays on this thread.
    Async::start(
        pool_,
        [this, work = std::move(current_->work)] {
            work();
            mainQueue_.post([this] {
                // Still the current job while its result is applied, so that
                // a job asked for by an observer meanwhile waits its turn.
                const Entry entry = std::move(*current_);
                // Its items stop being busy before the result is published,
                // so that the screens redraw them as they are left.
                if (entry.isRemoval) {
                    for (const auto& item : entry.items) removing_.erase(removing_.find(Pruning::comparable(item)));
                    removingCount_ -= std::max<size_t>(1, entry.items.size());
                    emit busyChanged();
                } else {
                    for (const auto& item : entry.items) rescanning_.erase(rescanning_.find(Pruning::comparable(item)));
                    emit rescanningChanged();
                }
                entry.apply();
                current_.reset();
                if (entry.isRemoval && --removalJobs_ == 0) emit busyChanged();
                startNext();
            });
        },
        userInitiatedPriority);
}

bool RemovalQueue::isBeingRemoved(const std::string& path) const {
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

bool RemovalQueue::isRescanning(const std::string& path) const {
    return !rescanning_.empty() && rescanning_.count(Pruning::comparable(path)) > 0;
}

} // namespace vessora
