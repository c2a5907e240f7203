// A cancelled walk finishes on its own and publishes nothing; the tree of a
// completed one is sorted and prepared for the history before it reaches the
// main thread.

#include "model/ScanSession.h"

#include "model/HistoryStore.h"
#include "model/MeasurementRun.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/Paths.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <unordered_set>

#include <sys/stat.h>

namespace vessora {

namespace {

// One field of the running scan's statistics, under their lock, for one read.
template <class T> T readLocked(const ScanStats& stats, T ScanStats::*field) {
    std::lock_guard guard(stats.lock);
    return stats.*field;
}

double secondsSince(Date start) {
    return std::chrono::duration<double>(std::chrono::system_clock::now() - start).count();
}

// True when `path` is `folder` or lies inside it; both without a trailing separator.
bool within(const std::string& path, const std::string& folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

} // namespace

ScanSession::ScanSession(QThreadPool& tasks, Async::MainQueue& mainQueue, RemovalQueue& removals, QObject* parent)
    : Store(parent), tasks_(tasks), mainQueue_(mainQueue), removals_(removals), scanRootPath_(Paths::home()) {
    connect(&removals_, &RemovalQueue::removed, this, [this](const Removal& removal) {
        if (removal.prunes & Removal::tree) detach(removal.nodes, removal.paths);
    });
}

void ScanSession::setScanRootPath(std::string path) {
    publish(scanRootPath_, std::move(path), &ScanSession::scanRootPathChanged);
}

void ScanSession::cancelRunning() const {
    if (scanStats_) scanStats_->cancel();
}

void ScanSession::start(std::optional<std::string> path) {
    assertMainThread();
    if (isScanning_) {
        cancelRunning();
        finish(nullptr);
    }
    std::string root = path ? std::move(*path) : scanRootPath_;
    setScanRootPath(root);

    auto stats = std::make_shared<ScanStats>();
    scanStats_ = stats;
    publish(isScanning_, true, &ScanSession::isScanningChanged);
    publish(progress_, ScanProgress{0, 0, 0, root, 0}, &ScanSession::progressChanged);
    scanStart_ = std::chrono::system_clock::now();
    showingSavedScan_ = false;
    publish(tree_, nullptr, &ScanSession::treeChanged);

    auto timer = std::make_unique<QTimer>();
    timer->setInterval(200);
    // The tick only schedules the sampling; a sample that runs after the scan
    // has ended finds no statistics and changes nothing.
    connect(timer.get(), &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &ScanSession::sampleProgress, Qt::QueuedConnection); });
    timer->start();
    progressTimer_ = std::move(timer);

    HistoryStore* history = history_;
    const bool keep = history && history->keepsHistory();
    const std::string folder = history ? history->folder() : std::string();
    Async::start(
        tasks_,
        [this, root, stats, keep, folder, history] {
            FSNodeRef tree = DiskScanner::scan(root, ScanOptions{}, *stats);
            // A cancelled scan was already finished by whoever cancelled it;
            // its tree is dropped here, off the main thread.
            if (stats->isCancelled()) return;
            // What history keeps is read from the tree here, before the main
            // thread may change it; compressing and writing it come after.
            std::shared_ptr<ScanArchive::Prepared> prepared;
            if (history) prepared = history->prepare(tree, keep);
            mainQueue_.post([this, stats, tree = std::move(tree), prepared]() mutable {
                // Cancelled between the walk and now: the session may already
                // belong to a newer scan, which this task must not end.
                if (stats->isCancelled()) return;
                assert(stats == scanStats_);
                finish(std::move(tree));
                if (history_ && prepared) history_->scanPublished(prepared->info);
            });
            if (history && keep && !stats->isCancelled()) history->save(std::move(prepared), folder);
        },
        userInitiatedPriority);
}

void ScanSession::cancel() {
    assertMainThread();
    cancelRunning();
    finish(nullptr);
}

void ScanSession::sampleProgress() {
    assertMainThread();
    if (!scanStats_) return;
    // One lock per read: the scan's workers are never held up for long.
    const auto& stats = *scanStats_;
    ScanProgress progress{readLocked(stats, &ScanStats::_files), readLocked(stats, &ScanStats::_bytes),
                          readLocked(stats, &ScanStats::_unreadable), readLocked(stats, &ScanStats::_current),
                          progress_.elapsed};
    if (scanStart_) progress.elapsed = secondsSince(*scanStart_);
    publish(progress_, std::move(progress), &ScanSession::progressChanged);
}

void ScanSession::finish(FSNodeRef tree) {
    if (progressTimer_) progressTimer_->stop();
    progressTimer_.reset();
    ScanProgress progress = progress_;
    if (tree) {
        progress.bytes = tree->size;
        if (scanStats_) {
            progress.files = readLocked(*scanStats_, &ScanStats::_files);
            progress.unreadable = readLocked(*scanStats_, &ScanStats::_unreadable);
        }
        publish(tree_, std::move(tree), &ScanSession::treeChanged);
    }
    if (scanStart_) progress.elapsed = secondsSince(*scanStart_);
    progress.currentPath.clear();
    scanStats_.reset();
    publish(progress_, std::move(progress), &ScanSession::progressChanged);
    publish(isScanning_, false, &ScanSession::isScanningChanged);
    emit finished();
}

void ScanSession::showSaved(FSNodeRef tree) {
    showingSavedScan_ = true;
    ScanProgress progress{tree->fileCount, tree->size, 0, progress_.currentPath, 0};
    publish(tree_, std::move(tree), &ScanSession::treeChanged);
    publish(progress_, std::move(progress), &ScanSession::progressChanged);
}

// Removals.

void ScanSession::removeNodes(const std::vector<FSNodeRef>& nodes, RemovalMode mode) {
    assertMainThread();
    // A scan opened from a file tells what was there, not what is.
    if (showingSavedScan_) return;
    std::vector<FSNodeRef> removable;
    for (const auto& node : nodes)
        if (node && !node->isAggregate && !removals_.isBeingRemoved(node->path())) removable.push_back(node);
    if (removable.empty() &&
        std::any_of(nodes.begin(), nodes.end(), [&](const FSNodeRef& node) { return node && !node->isAggregate; }))
        return; // every one of them is already being removed
    // Each node is removed only while its path names the object scanned.
    std::vector<RemovalItem> items;
    for (const auto& node : removable) items.push_back({node->path(), node->identity()});
    Removal prunes;
    prunes.prunes = Removal::tree;
    prunes.nodes = std::move(removable);
    removals_.removeItems(std::move(items), mode, std::move(prunes));
}

FSNodeRef ScanSession::refOf(FSNode* node) const {
    if (node == tree_.get()) return tree_;
    for (const auto& child : node->parent()->children())
        if (child.get() == node) return child;
    return nullptr;
}

void ScanSession::detach(const std::vector<FSNodeRef>& nodes, const Pruning::Removed& removed) {
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

// Folders scanned again.

bool ScanSession::isInTree(const FSNode* node) const {
    if (!node || !tree_) return false;
    while (node->parent()) node = node->parent();
    return node == tree_.get();
}

FSNodeRef ScanSession::folderHolding(const std::string& path) const {
    if (!tree_) return nullptr;
    const std::string target = Pruning::comparable(path), rootPath = Pruning::comparable(tree_->path());
    if (target == rootPath || !within(target, rootPath)) return nullptr;
    // Down the names of `path` from the root, as far as the tree has folders.
    FSNodeRef at = tree_;
    size_t from = rootPath == "/" ? 1 : rootPath.size() + 1;
    while (true) {
        const size_t slash = target.find('/', from);
        if (slash == std::string::npos) break; // the last name: the item itself
        const std::string_view name(target.data() + from, slash - from);
        FSNodeRef next;
        for (const auto& child : at->children())
            if (child->isDirectory() && !child->isAggregate && child->name() == name) next = child;
        if (!next || next->isNotDescended) break;
        at = next;
        from = slash + 1;
    }
    return at;
}

void ScanSession::rescanFolder(const FSNodeRef& folder) {
    assertMainThread();
    if (!folder || isScanning_ || showingSavedScan_ || !folder->isDirectory() || folder->isAggregate ||
        folder->isNotDescended || !isInTree(folder.get()))
        return;
    const std::string path = folder->path();
    if (removals_.isRescanning(path)) return; // the scan already waiting will see the latest state
    auto fresh = std::make_shared<FSNodeRef>();
    auto gone = std::make_shared<bool>(false);
    removals_.enqueue({[path, fresh, gone] {
                           struct stat st;
                           if (::lstat(path.c_str(), &st) != 0) {
                               *gone = errno == ENOENT || errno == ENOTDIR;
                               if (*gone) return;
                           }
                           // A fresh walk with the scan's own options; it comes
                           // sorted, so the main thread never sorts a subtree.
                           ScanStats stats;
                           *fresh = DiskScanner::scan(path, ScanOptions{}, stats);
                       },
                       [this, folder, fresh, gone] {
                           // A new scan or a removal may have taken the folder away meanwhile.
                           if (isScanning_ || !isInTree(folder.get())) return;
                           if (*gone) {
                               detach({folder}, {Pruning::comparable(folder->path())});
                               return;
                           }
                           if (*fresh) splice(folder, std::move(*fresh));
                       },
                       {path}});
}

void ScanSession::splice(const FSNodeRef& folder, FSNodeRef fresh) {
    emit treeChildrenAboutToBeReplaced(folder);
    const int64_t size = fresh->size - folder->size, logicalSize = fresh->logicalSize - folder->logicalSize,
                  fileCount = fresh->fileCount - folder->fileCount;
    const int32_t dirCount = fresh->dirCount - folder->dirCount;
    // The old children are released only once the views have heard of the change.
    const ChildList old = folder->replaceChildren(*fresh);
    folder->size = fresh->size;
    folder->logicalSize = fresh->logicalSize;
    folder->fileCount = fresh->fileCount;
    folder->dirCount = fresh->dirCount;
    folder->unreadable = fresh->unreadable;
    for (FSNode* ancestor = folder->parent(); ancestor; ancestor = ancestor->parent()) {
        ancestor->size += size;
        ancestor->logicalSize += logicalSize;
        ancestor->fileCount += fileCount;
        ancestor->dirCount += dirCount;
        // Something unreadable below still makes each folder above partly unreadable.
        if (fresh->unreadable) ancestor->unreadable = true;
    }
    emit treeChildrenReplaced(folder);
}

void ScanSession::followRestored(const std::vector<std::string>& paths) {
    // The tree follows by scanning again each folder that got something back;
    // a folder inside another one that is scanned again comes along with it.
    std::vector<FSNodeRef> folders;
    for (const auto& path : paths)
        if (FSNodeRef folder = folderHolding(path);
            folder && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    for (const auto& folder : folders) {
        bool inside = false;
        for (const auto& other : folders)
            for (const FSNode* up = folder->parent(); up && !inside; up = up->parent()) inside = up == other.get();
        if (!inside) rescanFolder(folder);
    }
}

} // namespace vessora
