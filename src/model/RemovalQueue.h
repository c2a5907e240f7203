#pragma once
// The one queue of the model: every removal, and every job that changes or
// re-reads what removals touch (a folder scanned again, a comparison, Put
// Back), runs through it one at a time in the order asked for, its work on a
// pool and its outcome applied on the main thread. After each removal it
// publishes the result and says what went, so that each store prunes itself.

#include "model/Async.h"
#include "model/Pruning.h"
#include "model/Store.h"
#include "platform/PrivilegedRunner.h"
#include "platform/TrashRestore.h"
#include "removal/Remover.h"
#include "scan/FSNode.h"

#include <QThreadPool>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora {

using FSNodeRef = FSNode::Ptr;

// What one removal took away, and which lists take it out. A list not named
// still hears of it: a measurement running since before it drops these paths
// from its results.
struct Removal {
    enum List : unsigned { tree = 1, categories = 2, cleanupTargets = 4, leftovers = 8, uninstalled = 16 };
    Pruning::Removed paths; // the result's succeeded items, without trailing separators
    unsigned prunes = 0;
    std::vector<FSNodeRef> nodes; // tree: the nodes asked for
    std::string app;              // uninstalled: the application's bundle
    bool includeBundle = false;   // uninstalled: whether the bundle was asked for
};

class RemovalQueue : public Store {
    Q_OBJECT
public:
    // A job that is not a removal: `work` on the pool, `apply` on the main
    // thread after it; `items` are the folders it scans again.
    struct Job {
        std::function<void()> work;
        std::function<void()> apply;
        std::vector<std::string> items;
    };
    // A removal: `work` on the pool; `items` are shown busy meanwhile and the
    // identities in `shown` are kept for an escalation of what it hands back.
    // `before` runs ahead of the publication, `after` once the stores pruned.
    struct Request {
        std::function<RemovalResult()> work;
        std::vector<std::string> items;
        std::map<std::string, ItemIdentity> shown;
        Removal prunes;
        std::function<void(const RemovalResult&)> before, after;
    };

    RemovalQueue(QThreadPool& pool, Async::MainQueue& mainQueue, std::shared_ptr<PrivilegedRunner> runner,
                 QObject* parent = nullptr);

    const std::optional<RemovalResult>& lastResult() const { return lastResult_; }
    void setLastResult(std::optional<RemovalResult> result); // the alert sets none when dismissed
    // Bytes really freed (deleted, or the Trash emptied) this session, and
    // bytes moved to the Trash and still there as far as the model knows.
    int64_t totalFreedThisSession() const { return totalFreed_; }
    int64_t totalMovedToTrashThisSession() const { return totalMovedToTrash_; }
    // A removal, escalation or snapshot deletion runs or waits to run; the
    // number of their items (a snapshot counts one).
    bool isRemoving() const { return removalJobs_ > 0; }
    size_t removingCount() const { return removingCount_; }
    // True when `path`, or a folder above it, is an item of such a removal.
    bool isBeingRemoved(const std::string& path) const;
    // True while the folder at `path` waits to be or is being scanned again.
    bool isRescanning(const std::string& path) const;
    size_t rescanningCount() const { return rescanning_.size(); }

    // Items shown with their identities, each removed only while it is that object.
    void removeItems(std::vector<RemovalItem> items, RemovalMode mode, Removal prunes,
                     std::function<void(const RemovalResult&)> after = {});
    void remove(Request request);
    // With administrator rights; items the last removals handed back for
    // this go only while they are the objects the user was shown.
    void escalate(const std::vector<std::string>& urls);
    // Puts back the batch `result` reported when it is still the last one
    // moved to the Trash.
    void putBack(const RemovalResult& result);
    void enqueue(Job job);

signals:
    void lastResultChanged();
    void totalsChanged();
    // The items of running or waiting removals, or the folders being scanned
    // again, changed.
    void busyChanged();
    void rescanningChanged();
    // After a removal's result was published, before its `after`.
    void removed(const vessora::Removal& removal);
    // What a Put Back brought back (and what it could not); then, when
    // something came back, `restored` for the stores to follow.
    void putBackFinished(const vessora::TrashRestore::Outcome& outcome);
    void restored(const std::vector<std::string>& paths);

private:
    friend class CorvaneModelTestAccess;

    struct Entry {
        std::function<void()> work, apply;
        bool isRemoval = false;
        std::vector<std::string> items;
    };
    void push(Entry entry);
    void startNext();
    void publishRemoval(const RemovalResult& result);

    QThreadPool& pool_;
    Async::MainQueue& mainQueue_;
    std::shared_ptr<PrivilegedRunner> runner_; // null: the system's prompt

    std::optional<RemovalResult> lastResult_;
    int64_t totalFreed_ = 0;
    int64_t totalMovedToTrash_ = 0;
    std::map<std::string, int64_t> movedToTrash_; // what each item moved to the Trash took along
    // The identities of the items handed back for administrator rights, as
    // the user was shown them, for escalate.
    std::map<std::string, ItemIdentity> escalationIdentities_;

    std::deque<Entry> waiting_;
    std::optional<Entry> current_; // its work on the pool, its apply kept here
    size_t removalJobs_ = 0;       // removals among the waiting and current jobs
    std::multiset<std::string> removing_;
    size_t removingCount_ = 0;
    std::multiset<std::string> rescanning_;
};

} // namespace vessora
