// Scan history and comparison: each completed scan is saved off the main
// thread, earlier scans of the shown folder are listed, and one of them (or
// a scan opened from a file) annotates the shown tree with what changed.

#include "model/HistoryStore.h"

#include "model/MeasurementRun.h"
#include "scan/ScanHistory.h"
#include "support/Paths.h"

#include <QCoreApplication>
#include <QSettings>

#include <chrono>
#include <ctime>

namespace vessora {

namespace {

// The one setting Vessora keeps: $XDG_CONFIG_HOME/vessora/settings.ini.
QString settingsFile() {
    return QString::fromStdString(Paths::join(Paths::join(Paths::configHome(), "vessora"), "settings.ini"));
}

const char* const kKeepHistory = "history/keep";

SavedScanInfo describe(const SavedScan& scan, const std::string& file) {
    SavedScanInfo info;
    info.file = file;
    info.id = Paths::deletingExtension(Paths::lastComponent(file));
    info.root = scan.root;
    info.time = scan.time;
    info.source = scan.source;
    info.size = scan.tree->size;
    info.logicalSize = scan.tree->logicalSize;
    info.fileCount = scan.tree->fileCount;
    info.dirCount = scan.tree->dirCount;
    return info;
}

} // namespace

HistoryStore::HistoryStore(QThreadPool& tasks, QThreadPool& workers, Async::MainQueue& mainQueue, ScanSession& scan,
                           RemovalQueue& removals, QObject* parent)
    : Store(parent), tasks_(tasks), workers_(workers), mainQueue_(mainQueue), scan_(scan), removals_(removals) {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    keepsHistory_ = settings.value(QLatin1String(kKeepHistory), true).toBool();
    const QString version = QCoreApplication::applicationVersion();
    historySource_ = version.isEmpty() ? "Vessora" : "Vessora " + version.toStdString();
    scan_.history_ = this;
    // Removals and folders scanned again change what the comparison says.
    connect(&scan_, &ScanSession::treeNodesRemoved, this, [this] { recompare(); });
    connect(&scan_, &ScanSession::treeChildrenReplaced, this, [this] { recompare(); });
}

std::string HistoryStore::folder() const { return ScanHistory::defaultFolder(); }

void HistoryStore::setKeepsHistory(bool keep) {
    assertMainThread();
    if (keep == keepsHistory_) return;
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QLatin1String(kKeepHistory), keep);
    settings.sync();
    publish(keepsHistory_, keep, &HistoryStore::keepsHistoryChanged);
}

std::shared_ptr<ScanArchive::Prepared> HistoryStore::prepare(const FSNodeRef& tree, bool withBody) const {
    const SavedScan scan{tree->path(), int64_t(std::time(nullptr)), historySource_, tree};
    if (withBody) return std::make_shared<ScanArchive::Prepared>(ScanArchive::prepare(scan));
    auto prepared = std::make_shared<ScanArchive::Prepared>();
    prepared->info.root = scan.root;
    prepared->info.time = scan.time;
    prepared->info.source = scan.source;
    prepared->info.size = tree->size;
    prepared->info.logicalSize = tree->logicalSize;
    prepared->info.fileCount = tree->fileCount;
    prepared->info.dirCount = tree->dirCount;
    return prepared;
}

void HistoryStore::save(std::shared_ptr<ScanArchive::Prepared> prepared, const std::string& folder) {
    std::string error;
    std::optional<SavedScanInfo> saved = ScanHistory::save(*prepared, folder, error);
    mainQueue_.post([this, saved, error, root = prepared->info.root, time = prepared->info.time] {
        if (!saved) {
            historyProblems_.push_back("The scan of " + root + " could not be saved: " + error);
            emit earlierScansChanged();
            return;
        }
        if (shownScan_ && shownScan_->root == root && shownScan_->time == time && shownScan_->file.empty()) {
            shownScan_ = *saved;
            emit shownScanChanged();
        }
        refreshHistory();
    });
}

void HistoryStore::scanPublished(const SavedScanInfo& shown) {
    shownScan_ = shown;
    emit shownScanChanged();
    // A comparison goes on with the new tree when it is of the same folder.
    if (earlierScan_ && scan_.tree() && earlierScan_->root == scan_.tree()->path()) {
        comparison_ = nullptr;
        emit comparisonChanged();
        recompare();
    } else {
        stopComparing();
    }
    refreshHistory();
}

void HistoryStore::refreshHistory() {
    assertMainThread();
    const std::string root = scan_.tree() ? scan_.tree()->path() : Paths::standardize(scan_.scanRootPath());
    Async::start(
        workers_,
        [this, root, folder = folder()] {
            ScanHistory::Listing listing = ScanHistory::list(folder, root);
            mainQueue_.post([this, root, listing = std::move(listing)]() mutable {
                // A listing for a folder no longer shown is of no use.
                const std::string now = scan_.tree() ? scan_.tree()->path() : Paths::standardize(scan_.scanRootPath());
                if (now != root) return;
                std::vector<SavedScanInfo> earlier;
                for (auto& info : listing.scans) {
                    // The shown scan, also before its save has reported back.
                    const bool shown = shownScan_ && (info.file == shownScan_->file ||
                                                      (shownScan_->file.empty() && info.time == shownScan_->time));
                    if (!shown) earlier.push_back(std::move(info));
                }
                earlierScans_ = std::move(earlier);
                // Problems of saving stay listed with those of reading.
                std::vector<std::string> problems = std::move(listing.problems);
                for (const auto& problem : historyProblems_)
                    if (problem.rfind("The scan of ", 0) == 0) problems.push_back(problem);
                historyProblems_ = std::move(problems);
                emit earlierScansChanged();
            });
        },
        utilityPriority);
}

void HistoryStore::forgetHistory() {
    assertMainThread();
    Async::start(
        workers_,
        [this, folder = folder()] {
            ScanHistory::forget(folder);
            mainQueue_.post([this] {
                if (shownScan_ && !shownScan_->file.empty()) {
                    shownScan_->file.clear();
                    shownScan_->id.clear();
                    emit shownScanChanged();
                }
                historyProblems_.clear();
                refreshHistory();
            });
        },
        utilityPriority);
}

void HistoryStore::setScanFileError(std::optional<std::string> error) {
    publish(scanFileError_, std::move(error), &HistoryStore::scanFileErrorChanged);
}

void HistoryStore::compareWith(const std::string& file) { loadScanFile(file, false); }

void HistoryStore::openScan(const std::string& file) { loadScanFile(file, true); }

void HistoryStore::loadScanFile(const std::string& file, bool mayReplaceTree) {
    assertMainThread();
    if (isLoadingScan_ || scan_.isScanning() || (!scan_.tree() && !mayReplaceTree)) return;
    publish(isLoadingScan_, true, &HistoryStore::isLoadingScanChanged);
    Async::start(
        tasks_,
        [this, file, mayReplaceTree] {
            std::string error;
            std::optional<SavedScan> scan = ScanHistory::load(file, error);
            // Sorted here, so that the main thread never sorts a tree.
            if (scan) scan->tree->sortRecursively();
            mainQueue_.post([this, file, mayReplaceTree, scan = std::move(scan), error]() mutable {
                publish(isLoadingScan_, false, &HistoryStore::isLoadingScanChanged);
                const std::string name = Paths::lastComponent(file);
                if (!scan) {
                    setScanFileError(name + " could not be opened: " + error + ".");
                    return;
                }
                if (scan_.isScanning()) return;
                const bool sameFolder = scan_.tree() && scan->root == scan_.tree()->path();
                if (sameFolder) {
                    comparedWith_ = describe(*scan, file);
                    earlierScan_ = std::move(scan);
                    comparison_ = nullptr;
                    emit comparisonChanged();
                    recompare();
                    return;
                }
                if (!mayReplaceTree) {
                    setScanFileError(name + " is a scan of " + scan->root + ", not of " +
                                     (scan_.tree() ? scan_.tree()->path() : scan_.scanRootPath()) + ".");
                    return;
                }
                // Shown in place of the tree: a scan of another folder, or
                // of another machine.
                stopComparing();
                const SavedScanInfo shown = describe(*scan, file);
                scan_.showSaved(std::move(scan->tree));
                shownScan_ = shown;
                emit shownScanChanged();
                refreshHistory();
            });
        },
        userInitiatedPriority);
}

void HistoryStore::stopComparing() {
    assertMainThread();
    const bool was = comparison_ || earlierScan_;
    earlierScan_.reset();
    comparedWith_.reset();
    comparison_ = nullptr;
    if (was) emit comparisonChanged();
}

void HistoryStore::recompare() {
    if (!scan_.tree() || !earlierScan_) return;
    // A comparison waiting its turn will see this change too: the queue runs
    // its jobs in order, and tree edits are made only by the jobs before it.
    if (comparisonQueued_) return;
    comparisonQueued_ = true;
    auto result = std::make_shared<std::shared_ptr<const ScanComparison>>();
    // It reads the tree on the pool, so it waits its turn among the jobs
    // that change the tree: none runs while it reads.
    removals_.enqueue(
        {[result, earlier = earlierScan_->tree, tree = scan_.tree()] { *result = ScanComparison::make(earlier, tree); },
         [this, result, earlier = earlierScan_->tree, tree = scan_.tree()] {
             comparisonQueued_ = false;
             if (scan_.tree() == tree && earlierScan_ && earlierScan_->tree == earlier) {
                 comparison_ = *result;
                 emit comparisonChanged();
             } else {
                 // Another tree or another earlier scan came meanwhile.
                 recompare();
             }
         },
         {}});
}

} // namespace vessora
