#pragma once
// The folder scan: one background walk at a time, sampled five times a second
// on the main thread, and the tree it leaves, which removals and folders
// scanned again edit in place.

#include "model/RemovalQueue.h"
#include "model/Store.h"
#include "scan/FSNode.h"
#include "scan/ScanStats.h"
#include "support/Date.h"

#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class HistoryStore;

// How far the running (or last) scan got.
struct ScanProgress {
    int64_t files = 0;
    int64_t bytes = 0; // after completion the root's size
    int64_t unreadable = 0;
    std::string currentPath; // a directory recently entered, for display
    double elapsed = 0;      // seconds
    bool operator==(const ScanProgress&) const = default;
};

class ScanSession : public Store {
    Q_OBJECT
public:
    ScanSession(QThreadPool& tasks, Async::MainQueue& mainQueue, RemovalQueue& removals, QObject* parent = nullptr);

    // The folder the next scan without an explicit path scans.
    const std::string& scanRootPath() const { return scanRootPath_; }
    void setScanRootPath(std::string path);
    const FSNodeRef& tree() const { return tree_; }
    bool isScanning() const { return isScanning_; }
    const ScanProgress& progress() const { return progress_; }
    // The shown tree was opened from a file: it is what a folder held then,
    // not what it holds now, so nothing in it is removed or scanned again.
    bool isShowingSavedScan() const { return showingSavedScan_; }

    // Scans `path`, or scanRootPath when none; a running scan is ended first.
    void start(std::optional<std::string> path = std::nullopt);
    void cancel();
    // Scans one folder of the tree again in the background and puts the new
    // subtree in place of the old one, adjusting every folder above it. It
    // waits for the removals asked for before it, so it sees what they left.
    // A folder that is gone by then leaves the tree.
    void rescanFolder(const FSNodeRef& folder);
    // Removes the nodes (lumps of small files never), each only while its
    // path names the object scanned; what went leaves the tree.
    void removeNodes(const std::vector<FSNodeRef>& nodes, RemovalMode mode);

signals:
    void scanRootPathChanged();
    void treeChanged();
    void isScanningChanged();
    void progressChanged();
    // A removal edits the tree in two steps per parent that loses children.
    // First the children's current indices, ascending, while the tree is
    // still unchanged; then, once they are detached and the sizes of the
    // parent and all its ancestors are updated, the parent again. Siblings
    // are never re-sorted. A new tree is announced by treeChanged instead.
    void treeNodesAboutToBeRemoved(const vessora::FSNodeRef& parent, const std::vector<int>& rows);
    void treeNodesRemoved(const vessora::FSNodeRef& parent);
    // A folder scanned again: first while it still holds its old children,
    // then once it holds the new ones and it and its ancestors have their new
    // sizes and counts. The folder node itself stays the same object.
    void treeChildrenAboutToBeReplaced(const vessora::FSNodeRef& folder);
    void treeChildrenReplaced(const vessora::FSNodeRef& folder);
    // A scan completed and its tree is shown; then the volumes are read again.
    void finished();

private:
    friend class HistoryStore;
    friend class CorvaneModel;
    friend class CorvaneModelTestAccess;

    // One tick of the progress timer: copies the running scan's counters.
    void sampleProgress();
    void finish(FSNodeRef tree);
    // Shows a tree opened from a file in place of the scanned one.
    void showSaved(FSNodeRef tree);
    void cancelRunning() const;
    bool isInTree(const FSNode* node) const;
    // The deepest folder of the tree that holds `path`, `path` itself excluded.
    FSNodeRef folderHolding(const std::string& path) const;
    // Scans again each folder of the tree that got something back (after
    // the lists measured again, which the owner starts first).
    void followRestored(const std::vector<std::string>& paths);
    void splice(const FSNodeRef& folder, FSNodeRef fresh);
    // Takes the removed nodes out of the tree, parent by parent.
    void detach(const std::vector<FSNodeRef>& nodes, const Pruning::Removed& removed);
    FSNodeRef refOf(FSNode* node) const;

    QThreadPool& tasks_;
    Async::MainQueue& mainQueue_;
    RemovalQueue& removals_;
    HistoryStore* history_ = nullptr;

    std::string scanRootPath_;
    FSNodeRef tree_;
    bool isScanning_ = false;
    ScanProgress progress_;
    bool showingSavedScan_ = false;
    std::shared_ptr<ScanStats> scanStats_; // shared with the running scan
    std::unique_ptr<QTimer> progressTimer_;
    std::optional<Date> scanStart_;
};

} // namespace vessora
