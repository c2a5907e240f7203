#pragma once
// The application model: every piece of state the screens show, and every
// long operation they start. It lives on the main thread; background work
// computes values and posts them back, and only the main thread writes a field.

#include "apps/InstalledApp.h"
#include "apps/LeftoverFinder.h"
#include "backup/Archiver.h"
#include "backup/PendingDeletion.h"
#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "model/AppRow.h"
#include "model/Async.h"
#include "platform/CleanupEntry.h"
#include "platform/LocalSnapshot.h"
#include "platform/PrivilegedRunner.h"
#include "platform/TrashRestore.h"
#include "platform/VolumeInfo.h"
#include "removal/Remover.h"
#include "scan/FSNode.h"
#include "scan/SavedScan.h"
#include "scan/ScanArchive.h"
#include "scan/ScanComparison.h"
#include "scan/ScanStats.h"
#include "support/Date.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <deque>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora {

// What the model reads from the world outside the file system. Every member
// has a real default; tests replace one to get a volume of known size or an
// administrator prompt that refuses. The engines' home folder is $HOME, read
// on every call, so tests point HOME at a temporary folder instead.
struct ModelEnvironment {
    std::function<std::vector<VolumeInfo>()> readVolumes;                        // VolumeInfo::current
    std::function<bool()> readFullDiskAccess;                                    // Permissions::hasFullDiskAccess
    std::function<std::vector<LocalSnapshot>(const std::string&)> listSnapshots; // LocalSnapshot::list
    std::shared_ptr<PrivilegedRunner> privilegedRunner;                          // null: the system's prompt
    std::function<CleanupTarget(const CleanupTarget&, const std::function<bool()>&)>
        measureCleanupTarget; // CleanupCatalog::measure
};

using FSNodeRef = FSNode::Ptr;
// A backed-up selection of category entries awaiting the user's decision.
using PendingRemoval = PendingDeletion<CleanupEntry, RemovalMode>;

class CorvaneModel : public QObject {
    Q_OBJECT
    // Published fields, in declaration order. Each notifies when its value
    // changes; lastResult and pendingDeletion notify on every assignment, so
    // that each result reaches its alert even when it equals the last one.
    Q_PROPERTY(std::vector<vessora::VolumeInfo> volumes READ volumes NOTIFY volumesChanged)
    Q_PROPERTY(std::vector<vessora::LocalSnapshot> snapshots READ snapshots NOTIFY snapshotsChanged)
    Q_PROPERTY(bool hasFullDiskAccess READ hasFullDiskAccess NOTIFY hasFullDiskAccessChanged)
    Q_PROPERTY(std::string scanRootPath READ scanRootPath WRITE setScanRootPath NOTIFY scanRootPathChanged)
    Q_PROPERTY(vessora::FSNodeRef tree READ tree NOTIFY treeChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)
    Q_PROPERTY(int64_t scanFiles READ scanFiles NOTIFY scanFilesChanged)
    Q_PROPERTY(int64_t scanBytes READ scanBytes NOTIFY scanBytesChanged)
    Q_PROPERTY(std::string scanCurrentPath READ scanCurrentPath NOTIFY scanCurrentPathChanged)
    Q_PROPERTY(int64_t scanUnreadable READ scanUnreadable NOTIFY scanUnreadableChanged)
    Q_PROPERTY(double scanElapsed READ scanElapsed NOTIFY scanElapsedChanged)
    Q_PROPERTY(std::optional<vessora::Date> lastScanDate READ lastScanDate NOTIFY lastScanDateChanged)
    Q_PROPERTY(std::vector<vessora::AppRow> apps READ apps NOTIFY appsChanged)
    Q_PROPERTY(bool isLoadingApps READ isLoadingApps NOTIFY isLoadingAppsChanged)
    Q_PROPERTY(double appProgress READ appProgress NOTIFY appProgressChanged)
    Q_PROPERTY(bool includeSystemApps READ includeSystemApps WRITE setIncludeSystemApps NOTIFY includeSystemAppsChanged)
    Q_PROPERTY(std::vector<vessora::CleanupTarget> cleanupTargets READ cleanupTargets NOTIFY cleanupTargetsChanged)
    Q_PROPERTY(bool isMeasuringCleanup READ isMeasuringCleanup NOTIFY isMeasuringCleanupChanged)
    Q_PROPERTY(double cleanupProgress READ cleanupProgress NOTIFY cleanupProgressChanged)
    Q_PROPERTY(std::vector<vessora::MeasuredCategory> categories READ categories NOTIFY categoriesChanged)
    Q_PROPERTY(bool isMeasuringCategories READ isMeasuringCategories NOTIFY isMeasuringCategoriesChanged)
    Q_PROPERTY(double categoryProgress READ categoryProgress NOTIFY categoryProgressChanged)
    Q_PROPERTY(std::optional<vessora::Date> lastCategoryScan READ lastCategoryScan NOTIFY lastCategoryScanChanged)
    Q_PROPERTY(
        std::optional<vessora::RemovalResult> lastResult READ lastResult WRITE setLastResult NOTIFY lastResultChanged)
    Q_PROPERTY(int64_t totalFreedThisSession READ totalFreedThisSession NOTIFY totalFreedThisSessionChanged)
    Q_PROPERTY(int64_t totalMovedToTrashThisSession READ totalMovedToTrashThisSession NOTIFY
                   totalMovedToTrashThisSessionChanged)
    Q_PROPERTY(bool isArchiving READ isArchiving NOTIFY isArchivingChanged)
    Q_PROPERTY(std::optional<std::string> archiveStatus READ archiveStatus NOTIFY archiveStatusChanged)
    Q_PROPERTY(
        std::optional<std::string> archiveError READ archiveError WRITE setArchiveError NOTIFY archiveErrorChanged)
    Q_PROPERTY(std::optional<std::string> lastArchiveDestination READ lastArchiveDestination NOTIFY
                   lastArchiveDestinationChanged)
    Q_PROPERTY(std::string backupRoot READ backupRoot WRITE setBackupRoot NOTIFY backupRootChanged)
    Q_PROPERTY(bool isRemoving READ isRemoving NOTIFY isRemovingChanged)
    Q_PROPERTY(std::optional<vessora::PendingRemoval> pendingDeletion READ pendingDeletion WRITE setPendingDeletion
                   NOTIFY pendingDeletionChanged)

public:
    // Sets every field to its initial value, then refreshes the volumes.
    explicit CorvaneModel(ModelEnvironment environment = {}, QObject* parent = nullptr);
    // Cancels the scan and, through their cancellation tests, the
    // measurements, then waits for whatever still runs (a backup copy runs to
    // its end). What they post after that is dropped.
    ~CorvaneModel() override;

    // Published fields.
    const std::vector<VolumeInfo>& volumes() const { return volumes_; }
    const std::vector<LocalSnapshot>& snapshots() const { return snapshots_; }
    bool hasFullDiskAccess() const { return hasFullDiskAccess_; }
    const std::string& scanRootPath() const { return scanRootPath_; }
    const FSNodeRef& tree() const { return tree_; }
    bool isScanning() const { return isScanning_; }
    int64_t scanFiles() const { return scanFiles_; }
    int64_t scanBytes() const { return scanBytes_; }
    const std::string& scanCurrentPath() const { return scanCurrentPath_; }
    int64_t scanUnreadable() const { return scanUnreadable_; }
    double scanElapsed() const { return scanElapsed_; }
    const std::optional<Date>& lastScanDate() const { return lastScanDate_; }
    const std::vector<AppRow>& apps() const { return apps_; }
    bool isLoadingApps() const { return isLoadingApps_; }
    double appProgress() const { return appProgress_; }
    bool includeSystemApps() const { return includeSystemApps_; }
    const std::vector<CleanupTarget>& cleanupTargets() const { return cleanupTargets_; }
    bool isMeasuringCleanup() const { return isMeasuringCleanup_; }
    double cleanupProgress() const { return cleanupProgress_; }
    const std::vector<MeasuredCategory>& categories() const { return categories_; }
    bool isMeasuringCategories() const { return isMeasuringCategories_; }
    double categoryProgress() const { return categoryProgress_; }
    const std::optional<Date>& lastCategoryScan() const { return lastCategoryScan_; }
    const std::optional<RemovalResult>& lastResult() const { return lastResult_; }
    // Bytes really freed (deleted, or the Trash emptied) this session.
    int64_t totalFreedThisSession() const { return totalFreedThisSession_; }
    // Bytes moved to the Trash this session and still there as far as the
    // model knows: not freed, and less what Put Back brought back.
    int64_t totalMovedToTrashThisSession() const { return totalMovedToTrashThisSession_; }
    bool isArchiving() const { return isArchiving_; }
    const std::optional<std::string>& archiveStatus() const { return archiveStatus_; }
    const std::optional<std::string>& archiveError() const { return archiveError_; }
    const std::optional<std::string>& lastArchiveDestination() const { return lastArchiveDestination_; }
    const std::string& backupRoot() const { return backupRoot_; }
    const std::optional<PendingRemoval>& pendingDeletion() const { return pendingDeletion_; }
    // A removal, escalation or snapshot deletion runs or waits to run.
    bool isRemoving() const { return isRemoving_; }
    // True when `path`, or a folder above it, is an item of a removal that
    // runs or waits to run: the screens show it busy and never offer it again.
    bool isBeingRemoved(const std::string& path) const;
    // The items of the removals that run or wait to run (a snapshot counts one).
    size_t removingCount() const { return removingCount_; }
    // True while the folder at `path` waits to be or is being scanned again.
    bool isRescanning(const std::string& path) const;
    size_t rescanningCount() const { return rescanning_.size(); }
    // The category the running or last backup was made for ("" when none),
    // and while one runs, the entries it copies.
    const std::string& archiveCategory() const { return archiveCategory_; }
    const std::vector<CleanupEntry>& archivingEntries() const { return archivingEntries_; }
    // True when `path` is a folder backups are written to, or lies inside one.
    // Such a path is never an entry of a category or a cleanup target.
    bool isInBackupFolder(const std::string& path) const;

    // The fields the screens set themselves.
    void setScanRootPath(std::string path);
    void setIncludeSystemApps(bool include);
    void setLastResult(std::optional<RemovalResult> result); // the alert sets none when dismissed
    void setArchiveError(std::optional<std::string> error);  // cleared when its alert is dismissed
    void setBackupRoot(std::string root);
    void setPendingDeletion(std::optional<PendingRemoval> pending); // cleared when its sheet is dismissed

    // Unpublished scan state, readable for the screens' and tests' benefit.
    const std::shared_ptr<ScanStats>& scanStats() const { return scanStats_; }
    bool hasProgressTimer() const { return progressTimer_ != nullptr; }
    const std::optional<Date>& scanStart() const { return scanStart_; }

    // Derived values, computed on every read.
    // The first root volume, else the first volume, else none.
    std::optional<VolumeInfo> rootVolume() const;
    // The sizes of the categories measured as sums (the remainder left out).
    int64_t categorisedBytes() const;
    // The sizes of the entries listed under the remainder category.
    int64_t systemDataAccounted() const;
    std::optional<MeasuredCategory> category(const std::string& id) const;

    // Volumes and disk access now, snapshots in the background.
    void refreshVolumes();

    // Scans `path`, or scanRootPath when none; a running scan is ended first.
    void startScan(std::optional<std::string> path = std::nullopt);
    void cancelScan();

    // Measurement runs; a call while the same run is busy is ignored.
    void measureCategories();
    void measureCleanup();
    void loadApps();

    // Removals. Each returns at once; the remover runs in the background, one
    // removal after another in the order asked for, and back on the main
    // thread the model publishes the result, refreshes the volumes and prunes
    // exactly what was removed.
    void removeNodes(const std::vector<FSNodeRef>& nodes, RemovalMode mode);
    void removeCleanupEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode);
    void removeCategoryEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode);
    void uninstall(const AppRow& app, const std::vector<LeftoverItem>& leftovers, bool includeBundle, RemovalMode mode);
    // Removes with administrator rights; the system asks for them meanwhile.
    // Items the last removals handed back for this go only while they are the
    // objects the user was shown.
    void escalate(const std::vector<std::string>& urls);
    // Put Back brought these items (their original paths) out of the Trash:
    // they no longer count as moved there.
    void notePutBack(const std::vector<std::string>& restored);
    // Deletes a local snapshot with administrator rights; the result names the
    // snapshot in succeeded or failed, and the snapshot list is read again.
    void deleteSnapshot(const LocalSnapshot& snapshot);

    // Scans one folder of the tree again in the background and puts the new
    // subtree in place of the old one, adjusting every folder above it. It
    // waits for the removals asked for before it, so it sees what they left.
    // A folder that is gone by then leaves the tree.
    void rescanFolder(const FSNodeRef& folder);
    // Puts back the batch `result` reported when it is still the last one
    // moved to the Trash, then scans again the folders of the tree that got
    // something back. putBackFinished tells what came back.
    void putBack(const RemovalResult& result);

    // Backs the entries up in the background; a verified copy becomes the
    // pending deletion, which confirm removes and cancel drops.
    // `categoryId` names the category the backup is made for; its status
    // belongs to that category alone.
    void archiveThenReview(const std::vector<CleanupEntry>& entries, const std::string& label,
                           const std::string& destination, RemovalMode mode, const std::string& categoryId = {});
    void confirmPendingDeletion();
    void cancelPendingDeletion();

    // Scan history. Every completed scan is saved (ScanHistory's folder)
    // unless the user turned that off; the setting survives restarts.
    bool keepsHistory() const { return keepsHistory_; }
    void setKeepsHistory(bool keep);
    // Removes every saved scan, in the background.
    void forgetHistory();
    // The saved scans of the shown tree's folder, newest first, the shown
    // scan itself left out. Read again after each scan, save and forget,
    // and by refreshHistory().
    const std::vector<SavedScanInfo>& earlierScans() const { return earlierScans_; }
    // What could not be read or saved ("FILE: reason"); such files are skipped.
    const std::vector<std::string>& historyProblems() const { return historyProblems_; }
    void refreshHistory();
    // The shown tree as a scan: its folder and time (and file, once saved).
    const std::optional<SavedScanInfo>& shownScan() const { return shownScan_; }
    // The shown tree was opened from a file: it is what a folder held then,
    // not what it holds now, so nothing in it is removed or scanned again.
    bool isShowingSavedScan() const { return showingSavedScan_; }

    // Compares the shown tree with the scan in `file` (a saved scan or an
    // export) of the same folder, loaded in the background. The tree stays
    // the one browsed and removed from; the comparison annotates it, and is
    // made again after each removal or folder scanned again.
    void compareWith(const std::string& file);
    // Opens the scan in `file`: compared with the shown tree when it is of
    // the same folder, otherwise shown itself in place of the tree.
    void openScan(const std::string& file);
    void stopComparing();
    const std::shared_ptr<const ScanComparison>& comparison() const { return comparison_; }
    // The earlier scan of the comparison (also while it is being made).
    const std::optional<SavedScanInfo>& comparedWith() const { return comparedWith_; }
    bool isLoadingScan() const { return isLoadingScan_; }
    // Why the last scan file asked for could not be used; cleared by its alert.
    const std::optional<std::string>& scanFileError() const { return scanFileError_; }
    void setScanFileError(std::optional<std::string> error);

public slots:
    // One tick of the progress timer: copies the running scan's counters.
    void sampleProgress();

signals:
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
    // The items of running or waiting removals, or the folders being scanned
    // again, changed.
    void removingItemsChanged();
    void rescanningChanged();
    // What a Put Back brought back (and what it could not).
    void putBackFinished(const vessora::TrashRestore::Outcome& outcome);

    void volumesChanged();
    void snapshotsChanged();
    void hasFullDiskAccessChanged();
    void scanRootPathChanged();
    void treeChanged();
    void isScanningChanged();
    void scanFilesChanged();
    void scanBytesChanged();
    void scanCurrentPathChanged();
    void scanUnreadableChanged();
    void scanElapsedChanged();
    void lastScanDateChanged();
    void appsChanged();
    void isLoadingAppsChanged();
    void appProgressChanged();
    void includeSystemAppsChanged();
    void cleanupTargetsChanged();
    void isMeasuringCleanupChanged();
    void cleanupProgressChanged();
    void categoriesChanged();
    void isMeasuringCategoriesChanged();
    void categoryProgressChanged();
    void lastCategoryScanChanged();
    void lastResultChanged();
    void totalFreedThisSessionChanged();
    void totalMovedToTrashThisSessionChanged();
    void isArchivingChanged();
    void archiveStatusChanged();
    void archiveErrorChanged();
    void lastArchiveDestinationChanged();
    void backupRootChanged();
    void isRemovingChanged();
    void pendingDeletionChanged();
    void archiveCategoryChanged();
    void keepsHistoryChanged();
    void earlierScansChanged();
    void shownScanChanged();
    void comparisonChanged();
    void isLoadingScanChanged();
    void scanFileErrorChanged();

private:
    friend class CorvaneModelTestAccess;

    using Signal = void (CorvaneModel::*)();

    void assertMainThread() const;
    // Every write of a published field goes through here: main thread only,
    // and observers hear of it only when the value changed.
    template <class T, class V> void publish(T& field, V&& value, Signal changed) {
        assertMainThread();
        if (field == value) return;
        field = std::forward<V>(value);
        emit(this->*changed)();
    }
    // For the two fields whose every assignment is news (each result an alert).
    template <class T, class V> void publishAlways(T& field, V&& value, Signal changed) {
        assertMainThread();
        field = std::forward<V>(value);
        emit(this->*changed)();
    }
    // An in-place change of a published list; `edit` returns whether it
    // changed anything, and only then are observers told.
    template <class T, class F> void change(T& field, F&& edit, Signal changed) {
        assertMainThread();
        if (edit(field)) emit(this->*changed)();
    }

    // Replaces the first element whose key equals the value's key; without
    // one, nothing is replaced and nobody is notified.
    template <class T> void replaceById(std::vector<T>& list, T value, Signal changed);

    // Step one of a measurement run: false when the run is already busy.
    bool beginRun(bool& busy, Signal busyChanged, double& progress, Signal progressChanged);
    // On a run's coordinating task: measures every definition on its own
    // child and posts each result, in completion order, into the element of
    // `list` with the same key, with the progress after it.
    // Each result is first pruned by `removedSince`.
    template <class Definition, class Result>
    void measureInto(const std::vector<Definition>& definitions, std::function<Result(const Definition&)> measure,
                     std::vector<Result> CorvaneModel::*list, Signal listChanged, double CorvaneModel::*progress,
                     Signal progressChanged, std::set<std::string> CorvaneModel::*removedSince);

    void finishScan(FSNodeRef tree);
    // History: read the setting, and follow the tree's edits (constructor).
    void setUpHistory();
    // What the scan task saves, made from the tree before it is published.
    // Without `withBody` only what describes the scan (its root and time).
    std::shared_ptr<ScanArchive::Prepared> prepareForHistory(const FSNodeRef& tree, bool withBody) const;
    // On the scan task, after the tree went to the main thread.
    void saveToHistory(std::shared_ptr<ScanArchive::Prepared> prepared, const std::string& folder);
    // After finishScan published a scanned tree.
    void scanPublished(const SavedScanInfo& shown);
    std::string historyFolder() const;
    // Compares again (after an edit of the tree, or a new tree).
    void recompare();
    void loadScanFile(const std::string& file, bool mayReplaceTree);
    void startProgressTimer();
    void stopProgressTimer();
    void resolveRemainder();

    // The common steps after every removal, the set of removed paths last.
    std::set<std::string> publishRemoval(const RemovalResult& result);
    // Queues one removal: `work` runs on the pool, `apply` on the main thread.
    // `items` are the paths it removes, shown busy meanwhile.
    void enqueueRemoval(std::function<RemovalResult()> work, std::function<void(const RemovalResult&)> apply,
                        std::vector<std::string> items = {});
    struct Job;
    // Every job that changes or re-reads what removals touch runs through
    // one queue, one at a time, in the order asked for.
    void enqueueJob(Job job);
    void startNextRemoval();
    // Puts `fresh` (a scan of `folder`'s path) in place of the folder's subtree.
    void splice(const FSNodeRef& folder, FSNodeRef fresh);
    // Drops from a measured list what lies in a backup folder.
    void excludeBackups(MeasuredCategory& category) const;
    void excludeBackups(CleanupTarget& target) const;
    void excludeBackups(std::vector<CleanupEntry>& entries) const;
    // The same for what the lists hold now, once another folder became one.
    void excludeBackupsFromLists();
    // Whether `node` belongs to the published tree.
    bool isInTree(const FSNode* node) const;
    // The deepest folder of the tree that holds `path`, `path` itself excluded.
    FSNodeRef folderHolding(const std::string& path) const;
    void removeEntries(const std::vector<CleanupEntry>& entries, RemovalMode mode,
                       std::function<void(const RemovalResult&)> apply);
    // Queues a removal of items shown with their identities.
    void removeShownItems(std::vector<RemovalItem> items, RemovalMode mode,
                          std::function<void(const RemovalResult&)> apply);
    void pruneCategories(const std::set<std::string>& removed);
    void pruneUninstalled(const std::string& bundle, bool includeBundle, const std::set<std::string>& removed);
    void pruneCleanupTargets(const std::set<std::string>& removed);
    void pruneLeftovers(const std::set<std::string>& removed);
    // Takes the removed nodes out of the published tree, parent by parent.
    void detach(const std::vector<FSNodeRef>& nodes, const std::set<std::string>& removed);
    // The tree's own reference to a node of it.
    FSNodeRef refOf(FSNode* node) const;

    // Cancellation test handed to engines: true only once the model is going away.
    std::function<bool()> stopping() const;

    ModelEnvironment environment_;

    std::vector<VolumeInfo> volumes_;
    std::vector<LocalSnapshot> snapshots_;
    bool hasFullDiskAccess_ = false;
    std::string scanRootPath_;
    FSNodeRef tree_;
    bool isScanning_ = false;
    int64_t scanFiles_ = 0;
    int64_t scanBytes_ = 0;
    std::string scanCurrentPath_;
    int64_t scanUnreadable_ = 0;
    double scanElapsed_ = 0;
    std::optional<Date> lastScanDate_;
    std::shared_ptr<ScanStats> scanStats_;  // unpublished; shared with the running scan
    std::unique_ptr<QTimer> progressTimer_; // unpublished
    std::optional<Date> scanStart_;         // unpublished
    std::vector<AppRow> apps_;
    bool isLoadingApps_ = false;
    double appProgress_ = 0;
    bool includeSystemApps_ = false;
    std::vector<CleanupTarget> cleanupTargets_;
    bool isMeasuringCleanup_ = false;
    double cleanupProgress_ = 0;
    std::vector<MeasuredCategory> categories_;
    bool isMeasuringCategories_ = false;
    double categoryProgress_ = 0;
    std::optional<Date> lastCategoryScan_;
    std::optional<RemovalResult> lastResult_;
    int64_t totalFreedThisSession_ = 0;
    int64_t totalMovedToTrashThisSession_ = 0;
    std::map<std::string, int64_t> movedToTrash_; // unpublished: what each item moved to the Trash took along
    // Unpublished: the identities of the items handed back for administrator
    // rights, as the user was shown them, for escalate.
    std::map<std::string, ItemIdentity> escalationIdentities_;
    bool isArchiving_ = false;
    std::optional<std::string> archiveStatus_;
    std::optional<std::string> archiveError_;
    std::optional<std::string> lastArchiveDestination_;
    std::string backupRoot_;
    std::optional<PendingRemoval> pendingDeletion_;
    bool isRemoving_ = false;
    // What removals took away while each measurement ran (empty when idle).
    std::set<std::string> removedDuringCategories_, removedDuringCleanup_, removedDuringApps_;

    struct Job {
        std::function<void()> work;     // on the pool; leaves its outcome where apply finds it
        std::function<void()> apply;    // on the main thread, after the work
        bool isRemoval = false;         // a removal, escalation or snapshot deletion
        std::vector<std::string> items; // the paths it removes, or the folder it scans again
    };
    std::deque<Job> removals_;            // waiting their turn
    std::optional<Job> currentRemoval_;   // its work on the pool, its apply kept here
    size_t removalJobs_ = 0;              // removals among the queued and current jobs
    std::multiset<std::string> removing_; // their items
    size_t removingCount_ = 0;
    std::multiset<std::string> rescanning_; // folders queued or being scanned again
    std::string archiveCategory_;
    std::vector<CleanupEntry> archivingEntries_;
    // Folders backups went to or go to, each without a trailing separator.
    std::set<std::string> backupFolders_;

    bool keepsHistory_ = true;
    std::vector<SavedScanInfo> earlierScans_;
    std::vector<std::string> historyProblems_;
    std::optional<SavedScanInfo> shownScan_;
    bool showingSavedScan_ = false;
    std::shared_ptr<const ScanComparison> comparison_;
    std::optional<SavedScanInfo> comparedWith_;
    std::optional<SavedScan> earlierScan_; // the tree compared with
    bool comparisonQueued_ = false;
    bool isLoadingScan_ = false;
    std::optional<std::string> scanFileError_;
    std::string historySource_; // "Vessora 0.1.0"

    // Background machinery. The destructor drains both pools before any
    // member goes away; what they post after that is dropped with the queue.
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    Async::MainQueue mainQueue_;
    // Long tasks that mostly wait: scans, the coordinators of measurement
    // runs, backups. Kept apart from the children so that waiting
    // coordinators can never starve the work they wait for.
    QThreadPool tasks_;
    // The per-definition children of measurement runs, and snapshot listings.
    QThreadPool workers_;
};

} // namespace vessora
