// Following the disk after the first scan: one folder scanned again and
// spliced into the tree, Put Back with the folders that got something back,
// and the backup folders kept out of every measured list.

#include "model/CorvaneModel.h"

#include "model/MeasurementRun.h"
#include "model/Pruning.h"
#include "removal/RemovalLog.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/Paths.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

namespace vessora {

namespace {

// True when `path` is `folder` or lies inside it; both without a trailing separator.
bool within(const std::string& path, const std::string& folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

} // namespace

bool CorvaneModel::isInTree(const FSNode* node) const {
    if (!node || !tree_) return false;
    while (node->parent()) node = node->parent();
    return node == tree_.get();
}

FSNodeRef CorvaneModel::folderHolding(const std::string& path) const {
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

void CorvaneModel::rescanFolder(const FSNodeRef& folder) {
    assertMainThread();
    if (!folder || isScanning_ || showingSavedScan_ || !folder->isDirectory() || folder->isAggregate ||
        folder->isNotDescended || !isInTree(folder.get()))
        return;
    const std::string path = folder->path();
    if (isRescanning(path)) return; // the scan already waiting will see the latest state
    auto fresh = std::make_shared<FSNodeRef>();
    auto gone = std::make_shared<bool>(false);
    enqueueJob(Job{[path, fresh, gone] {
                       struct stat st;
                       if (::lstat(path.c_str(), &st) != 0) {
                           *gone = errno == ENOENT || errno == ENOTDIR;
                           if (*gone) return;
                       }
                       // A fresh walk with the scan's own options, sorted here
                       // so that the main thread never sorts a subtree.
                       ScanStats stats;
                       FSNodeRef tree = DiskScanner::scan(path, ScanOptions{}, stats);
                       tree->sortRecursively();
                       *fresh = std::move(tree);
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
                   false,
                   {path}});
}

void CorvaneModel::splice(const FSNodeRef& folder, FSNodeRef fresh) {
    emit treeChildrenAboutToBeReplaced(folder);
    const int64_t size = fresh->size - folder->size, logicalSize = fresh->logicalSize - folder->logicalSize,
                  fileCount = fresh->fileCount - folder->fileCount;
    const int32_t dirCount = fresh->dirCount - folder->dirCount;
    // The old children are released only once the views have heard of the change.
    const std::vector<FSNodeRef> old = folder->replaceChildren(*fresh);
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

void CorvaneModel::putBack(const RemovalResult& result) {
    assertMainThread();
    auto outcome = std::make_shared<TrashRestore::Outcome>();
    enqueueJob(Job{[result, outcome] {
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
                       notePutBack(outcome->restored);
                       emit putBackFinished(*outcome);
                       if (outcome->restored.empty()) return;
                       // What came back was taken out of the lists at removal.
                       refreshVolumes();
                       if (std::any_of(cleanupTargets_.begin(), cleanupTargets_.end(),
                                       [](const auto& target) { return target.scanned; }))
                           measureCleanup();
                       if (lastCategoryScan_) measureCategories();
                       // The tree follows by scanning again each folder that
                       // got something back; a folder inside another one that
                       // is scanned again comes along with it.
                       std::vector<FSNodeRef> folders;
                       for (const auto& path : outcome->restored)
                           if (FSNodeRef folder = folderHolding(path);
                               folder && std::find(folders.begin(), folders.end(), folder) == folders.end())
                               folders.push_back(folder);
                       for (const auto& folder : folders) {
                           bool inside = false;
                           for (const auto& other : folders)
                               for (const FSNode* up = folder->parent(); up && !inside; up = up->parent())
                                   inside = up == other.get();
                           if (!inside) rescanFolder(folder);
                       }
                   },
                   false,
                   {}});
}

bool CorvaneModel::isInBackupFolder(const std::string& path) const {
    const std::string at = Pruning::comparable(path);
    return std::any_of(backupFolders_.begin(), backupFolders_.end(),
                       [&](const std::string& folder) { return within(at, folder); });
}

void CorvaneModel::excludeBackups(std::vector<CleanupEntry>& entries) const {
    std::erase_if(entries, [this](const CleanupEntry& entry) { return isInBackupFolder(entry.url); });
}

void CorvaneModel::excludeBackups(MeasuredCategory& category) const {
    int64_t excluded = 0;
    std::erase_if(category.entries, [&](const CleanupEntry& entry) {
        if (!isInBackupFolder(entry.url)) return false;
        excluded += entry.size;
        return true;
    });
    // A measured category is the sum of its entries; a backup is not the
    // user's documents (or anything else) to clean.
    if (category.category.measurement == CategoryMeasurement::measured)
        category.size = std::max<int64_t>(0, category.size - excluded);
}

void CorvaneModel::excludeBackups(CleanupTarget& target) const { excludeBackups(target.entries); }

void CorvaneModel::excludeBackupsFromLists() {
    change(
        categories_,
        [this](auto& categories) {
            bool changed = false;
            for (auto& category : categories) {
                const MeasuredCategory before = category;
                excludeBackups(category);
                changed |= !(before == category);
            }
            return changed;
        },
        &CorvaneModel::categoriesChanged);
    change(
        cleanupTargets_,
        [this](auto& targets) {
            bool changed = false;
            for (auto& target : targets) {
                const size_t before = target.entries.size();
                excludeBackups(target);
                changed |= before != target.entries.size();
            }
            return changed;
        },
        &CorvaneModel::cleanupTargetsChanged);
    resolveRemainder();
}

} // namespace vessora
