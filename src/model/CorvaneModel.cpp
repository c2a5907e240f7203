#include "model/CorvaneModel.h"

#include "apps/AppInventory.h"
#include "catalog/Permissions.h"
#include "model/MeasurementRun.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"
#include "support/Paths.h"

#include <QThread>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <mutex>

namespace vessora {

namespace {

const std::string& keyOf(const MeasuredCategory& category) { return category.id(); }
const std::string& keyOf(const CleanupTarget& target) { return target.id; }

// One field of the running scan's statistics, under their lock, for one read.
template <class T> T readLocked(const ScanStats& stats, T ScanStats::*field) {
    std::lock_guard guard(stats.lock);
    return stats.*field;
}

double secondsSince(Date start) {
    return std::chrono::duration<double>(std::chrono::system_clock::now() - start).count();
}

} // namespace

template <class T> void CorvaneModel::replaceById(std::vector<T>& list, T value, Signal changed) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (keyOf(list[i]) != keyOf(value)) continue;
        change(
            list,
            [&](auto& elements) {
                if (elements[i] == value) return false;
                elements[i] = std::move(value);
                return true;
            },
            changed);
        return;
    }
}

CorvaneModel::CorvaneModel(ModelEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)) {
    if (!environment_.readVolumes) environment_.readVolumes = [] { return VolumeInfo::current(); };
    if (!environment_.readFullDiskAccess)
        environment_.readFullDiskAccess = [] { return Permissions::hasFullDiskAccess(); };
    if (!environment_.listSnapshots)
        environment_.listSnapshots = [](const std::string& volume) { return LocalSnapshot::list(volume); };

    // Scans, coordinators and copies spend their time waiting on the file
    // system or on their children; the pool only needs to be wide enough
    // that a burst of them never waits for a thread.
    tasks_.setMaxThreadCount(64);
    tasks_.setThreadPriority(QThread::HighPriority);
    workers_.setMaxThreadCount(QThread::idealThreadCount());
    workers_.setThreadPriority(QThread::LowPriority);

    // Initial values in the order of the fields; those not set here start
    // empty, false, zero or none by their declarations.
    scanRootPath_ = Paths::home();
    cleanupTargets_ = CleanupCatalog::definitions();
    for (auto& definition : StorageCategories::all())
        categories_.push_back(MeasuredCategory{std::move(definition), 0, {}, false});
    backupRoot_ = Archiver::defaultDestination();

    refreshVolumes();
}

CorvaneModel::~CorvaneModel() {
    stopping_->store(true);
    if (scanStats_) scanStats_->cancel();
    // Coordinators wait for their children, so the task pool drains first;
    // nothing starts children once it is empty.
    tasks_.waitForDone();
    workers_.waitForDone();
}

void CorvaneModel::assertMainThread() const {
    assert(QThread::currentThread() == thread() && "model fields are written on the main thread only");
}

std::function<bool()> CorvaneModel::stopping() const {
    return [flag = stopping_] { return flag->load(std::memory_order_relaxed); };
}

// The fields the screens set.

void CorvaneModel::setScanRootPath(std::string path) {
    publish(scanRootPath_, std::move(path), &CorvaneModel::scanRootPathChanged);
}
void CorvaneModel::setIncludeSystemApps(bool include) {
    publish(includeSystemApps_, include, &CorvaneModel::includeSystemAppsChanged);
}
void CorvaneModel::setLastResult(std::optional<RemovalResult> result) {
    publishAlways(lastResult_, std::move(result), &CorvaneModel::lastResultChanged);
}
void CorvaneModel::setArchiveError(std::optional<std::string> error) {
    publish(archiveError_, std::move(error), &CorvaneModel::archiveErrorChanged);
}
void CorvaneModel::setBackupRoot(std::string root) {
    publish(backupRoot_, std::move(root), &CorvaneModel::backupRootChanged);
}
void CorvaneModel::setPendingDeletion(std::optional<PendingRemoval> pending) {
    publishAlways(pendingDeletion_, std::move(pending), &CorvaneModel::pendingDeletionChanged);
}

// Derived values.

std::optional<VolumeInfo> CorvaneModel::rootVolume() const {
    for (const auto& volume : volumes_)
        if (volume.isRootVolume) return volume;
    if (!volumes_.empty()) return volumes_.front();
    return std::nullopt;
}

int64_t CorvaneModel::categorisedBytes() const {
    int64_t total = 0;
    for (const auto& entry : categories_)
        if (entry.category.measurement == CategoryMeasurement::measured) total += entry.size;
    return total;
}

int64_t CorvaneModel::systemDataAccounted() const {
    for (const auto& entry : categories_) {
        if (entry.category.measurement != CategoryMeasurement::remainder) continue;
        int64_t total = 0;
        for (const auto& item : entry.entries) total += item.size;
        return total;
    }
    return 0;
}

std::optional<MeasuredCategory> CorvaneModel::category(const std::string& id) const {
    for (const auto& entry : categories_)
        if (entry.id() == id) return entry;
    return std::nullopt;
}

// Volumes.

void CorvaneModel::refreshVolumes() {
    publish(volumes_, environment_.readVolumes(), &CorvaneModel::volumesChanged);
    publish(hasFullDiskAccess_, environment_.readFullDiskAccess(), &CorvaneModel::hasFullDiskAccessChanged);
    Async::start(
        workers_,
        [this, list = environment_.listSnapshots] {
            auto snapshots = list("/");
            mainQueue_.post([this, snapshots = std::move(snapshots)]() mutable {
                publish(snapshots_, std::move(snapshots), &CorvaneModel::snapshotsChanged);
            });
        },
        utilityPriority);
}

// The folder scan.

void CorvaneModel::startScan(std::optional<std::string> path) {
    assertMainThread();
    if (isScanning_) {
        if (scanStats_) scanStats_->cancel();
        finishScan(nullptr);
    }
    std::string root = path ? std::move(*path) : scanRootPath_;
    setScanRootPath(root);

    auto stats = std::make_shared<ScanStats>();
    scanStats_ = stats;
    publish(isScanning_, true, &CorvaneModel::isScanningChanged);
    publish(scanFiles_, 0, &CorvaneModel::scanFilesChanged);
    publish(scanBytes_, 0, &CorvaneModel::scanBytesChanged);
    publish(scanUnreadable_, 0, &CorvaneModel::scanUnreadableChanged);
    publish(scanElapsed_, 0.0, &CorvaneModel::scanElapsedChanged);
    publish(scanCurrentPath_, root, &CorvaneModel::scanCurrentPathChanged);
    scanStart_ = std::chrono::system_clock::now();
    publish(tree_, nullptr, &CorvaneModel::treeChanged);
    startProgressTimer();

    Async::start(
        tasks_,
        [this, root, stats] {
            FSNodeRef tree = DiskScanner::scan(root, ScanOptions{}, *stats);
            // A cancelled scan was already finished by whoever cancelled it;
            // its tree is dropped here, off the main thread.
            if (stats->isCancelled()) return;
            tree->sortRecursively();
            mainQueue_.post([this, stats, tree = std::move(tree)]() mutable {
                // Cancelled between the walk and now: the model may already
                // belong to a newer scan, which this task must not end.
                if (stats->isCancelled()) return;
                assert(stats == scanStats_);
                finishScan(std::move(tree));
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::cancelScan() {
    assertMainThread();
    if (scanStats_) scanStats_->cancel();
    finishScan(nullptr);
}

void CorvaneModel::startProgressTimer() {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(200);
    // The tick only schedules the sampling; a sample that runs after the scan
    // has ended finds no statistics and changes nothing.
    connect(timer.get(), &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &CorvaneModel::sampleProgress, Qt::QueuedConnection); });
    timer->start();
    progressTimer_ = std::move(timer);
}

void CorvaneModel::stopProgressTimer() {
    if (progressTimer_) progressTimer_->stop();
    progressTimer_.reset();
}

void CorvaneModel::sampleProgress() {
    assertMainThread();
    if (!scanStats_) return;
    // One lock per read: the scan's workers are never held up for long.
    const auto stats = scanStats_;
    publish(scanFiles_, readLocked(*stats, &ScanStats::_files), &CorvaneModel::scanFilesChanged);
    publish(scanBytes_, readLocked(*stats, &ScanStats::_bytes), &CorvaneModel::scanBytesChanged);
    publish(scanUnreadable_, readLocked(*stats, &ScanStats::_unreadable), &CorvaneModel::scanUnreadableChanged);
    publish(scanCurrentPath_, readLocked(*stats, &ScanStats::_current), &CorvaneModel::scanCurrentPathChanged);
    if (scanStart_) publish(scanElapsed_, secondsSince(*scanStart_), &CorvaneModel::scanElapsedChanged);
}

void CorvaneModel::finishScan(FSNodeRef tree) {
    stopProgressTimer();
    if (tree) {
        const int64_t rootSize = tree->size;
        publish(tree_, std::move(tree), &CorvaneModel::treeChanged);
        if (scanStats_)
            publish(scanFiles_, readLocked(*scanStats_, &ScanStats::_files), &CorvaneModel::scanFilesChanged);
        publish(scanBytes_, rootSize, &CorvaneModel::scanBytesChanged);
        if (scanStats_)
            publish(scanUnreadable_, readLocked(*scanStats_, &ScanStats::_unreadable),
                    &CorvaneModel::scanUnreadableChanged);
        publish(lastScanDate_, std::chrono::system_clock::now(), &CorvaneModel::lastScanDateChanged);
    }
    if (scanStart_) publish(scanElapsed_, secondsSince(*scanStart_), &CorvaneModel::scanElapsedChanged);
    publish(isScanning_, false, &CorvaneModel::isScanningChanged);
    scanStats_.reset();
    publish(scanCurrentPath_, std::string(), &CorvaneModel::scanCurrentPathChanged);
    refreshVolumes();
}

// Measurement runs.

bool CorvaneModel::beginRun(bool& busy, Signal busyChanged, double& progress, Signal progressChanged) {
    assertMainThread();
    if (busy) return false;
    publish(busy, true, busyChanged);
    publish(progress, 0.0, progressChanged);
    return true;
}

template <class Definition, class Result>
void CorvaneModel::measureInto(const std::vector<Definition>& definitions,
                               std::function<Result(const Definition&)> measure,
                               std::vector<Result> CorvaneModel::*list, Signal listChanged,
                               double CorvaneModel::*progress, Signal progressChanged) {
    measureEach<Definition, Result>(workers_, definitions, std::move(measure), [=, this](Result result, double done) {
        mainQueue_.post([=, this, result = std::move(result)]() mutable {
            replaceById(this->*list, std::move(result), listChanged);
            publish(this->*progress, done, progressChanged);
        });
    });
}

void CorvaneModel::measureCategories() {
    if (!beginRun(isMeasuringCategories_, &CorvaneModel::isMeasuringCategoriesChanged, categoryProgress_,
                  &CorvaneModel::categoryProgressChanged))
        return;
    Async::start(
        tasks_,
        [this, definitions = StorageCategories::all(), cancelled = stopping()] {
            measureInto<StorageCategory, MeasuredCategory>(
                definitions,
                [cancelled](const StorageCategory& category) {
                    return StorageCategories::measure(category, cancelled);
                },
                &CorvaneModel::categories_, &CorvaneModel::categoriesChanged, &CorvaneModel::categoryProgress_,
                &CorvaneModel::categoryProgressChanged);
            mainQueue_.post([this] {
                resolveRemainder();
                publish(categoryProgress_, 1.0, &CorvaneModel::categoryProgressChanged);
            });
            auto entries = StorageCategories::measureSystemDataEntries(cancelled);
            mainQueue_.post([this, entries = std::move(entries)]() mutable {
                for (size_t i = 0; i < categories_.size(); ++i) {
                    if (categories_[i].category.measurement != CategoryMeasurement::remainder) continue;
                    change(
                        categories_,
                        [&](auto& list) {
                            if (list[i].entries == entries) return false;
                            list[i].entries = std::move(entries);
                            return true;
                        },
                        &CorvaneModel::categoriesChanged);
                    break;
                }
                publish(isMeasuringCategories_, false, &CorvaneModel::isMeasuringCategoriesChanged);
                publish(lastCategoryScan_, std::chrono::system_clock::now(), &CorvaneModel::lastCategoryScanChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::resolveRemainder() {
    const auto root = rootVolume();
    if (!root) return;
    for (size_t i = 0; i < categories_.size(); ++i) {
        if (categories_[i].category.measurement != CategoryMeasurement::remainder) continue;
        const int64_t used = std::max<int64_t>(0, root->totalCapacity - root->trueFree);
        const int64_t remainder = std::max<int64_t>(0, used - categorisedBytes());
        change(
            categories_,
            [&](auto& list) {
                if (list[i].size == remainder && list[i].measured) return false;
                list[i].size = remainder;
                list[i].measured = true;
                return true;
            },
            &CorvaneModel::categoriesChanged);
        return;
    }
}

void CorvaneModel::measureCleanup() {
    if (!beginRun(isMeasuringCleanup_, &CorvaneModel::isMeasuringCleanupChanged, cleanupProgress_,
                  &CorvaneModel::cleanupProgressChanged))
        return;
    Async::start(
        tasks_,
        [this, definitions = CleanupCatalog::definitions(), cancelled = stopping()] {
            measureInto<CleanupTarget, CleanupTarget>(
                definitions,
                [cancelled](const CleanupTarget& target) { return CleanupCatalog::measure(target, cancelled); },
                &CorvaneModel::cleanupTargets_, &CorvaneModel::cleanupTargetsChanged, &CorvaneModel::cleanupProgress_,
                &CorvaneModel::cleanupProgressChanged);
            mainQueue_.post([this] {
                publish(isMeasuringCleanup_, false, &CorvaneModel::isMeasuringCleanupChanged);
                publish(cleanupProgress_, 1.0, &CorvaneModel::cleanupProgressChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::loadApps() {
    if (!beginRun(isLoadingApps_, &CorvaneModel::isLoadingAppsChanged, appProgress_, &CorvaneModel::appProgressChanged))
        return;

    struct Analysis {
        std::string url;
        int64_t bundleSize = 0;
        std::vector<LeftoverItem> leftovers;
    };
    Async::start(
        tasks_,
        [this, includeSystem = includeSystemApps_, cancelled = stopping()] {
            auto installed = AppInventory::scan(includeSystem);
            mainQueue_.post([this, installed] {
                std::vector<AppRow> rows;
                rows.reserve(installed.size());
                for (const auto& app : installed) rows.push_back(AppRow{app, 0, {}, false});
                publish(apps_, std::move(rows), &CorvaneModel::appsChanged);
            });
            measureEach<InstalledApp, Analysis>(
                workers_, installed,
                [cancelled](const InstalledApp& app) {
                    Analysis analysis{app.url, DiskScanner::quickSize(app.url, ScanOptions{}, cancelled), {}};
                    analysis.leftovers = LeftoverFinder::leftovers(app, true);
                    return analysis;
                },
                [this](Analysis analysis, double progress) {
                    mainQueue_.post([this, analysis = std::move(analysis), progress]() mutable {
                        for (size_t i = 0; i < apps_.size(); ++i) {
                            if (apps_[i].app.url != analysis.url) continue;
                            change(
                                apps_,
                                [&](auto& rows) {
                                    rows[i].bundleSize = analysis.bundleSize;
                                    rows[i].leftovers = std::move(analysis.leftovers);
                                    rows[i].analyzed = true;
                                    return true;
                                },
                                &CorvaneModel::appsChanged);
                            break;
                        }
                        publish(appProgress_, progress, &CorvaneModel::appProgressChanged);
                    });
                });
            mainQueue_.post([this] {
                change(
                    apps_,
                    [](auto& rows) {
                        const auto larger = [](const AppRow& a, const AppRow& b) {
                            return a.totalSize() > b.totalSize();
                        };
                        if (std::is_sorted(rows.begin(), rows.end(), larger)) return false;
                        std::stable_sort(rows.begin(), rows.end(), larger);
                        return true;
                    },
                    &CorvaneModel::appsChanged);
                publish(isLoadingApps_, false, &CorvaneModel::isLoadingAppsChanged);
                publish(appProgress_, 1.0, &CorvaneModel::appProgressChanged);
            });
        },
        userInitiatedPriority);
}

} // namespace vessora
