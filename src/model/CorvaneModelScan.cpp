// The folder scan: one background walk at a time, sampled by a timer on the
// main thread; a cancelled walk finishes on its own and publishes nothing.

#include "model/CorvaneModel.h"

#include "model/MeasurementRun.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"

#include <cassert>
#include <chrono>
#include <mutex>

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

} // namespace

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
    showingSavedScan_ = false;
    publish(tree_, nullptr, &CorvaneModel::treeChanged);
    startProgressTimer();
    const bool keep = keepsHistory_;
    const std::string folder = historyFolder();

    Async::start(
        tasks_,
        [this, root, stats, keep, folder] {
            FSNodeRef tree = DiskScanner::scan(root, ScanOptions{}, *stats);
            // A cancelled scan was already finished by whoever cancelled it;
            // its tree is dropped here, off the main thread.
            if (stats->isCancelled()) return;
            tree->sortRecursively();
            // What history keeps is read from the tree here, before the main
            // thread may change it; compressing and writing it come after.
            auto prepared = prepareForHistory(tree, keep);
            mainQueue_.post([this, stats, tree = std::move(tree), shown = prepared->info]() mutable {
                // Cancelled between the walk and now: the model may already
                // belong to a newer scan, which this task must not end.
                if (stats->isCancelled()) return;
                assert(stats == scanStats_);
                finishScan(std::move(tree));
                scanPublished(shown);
            });
            if (keep && !stats->isCancelled()) saveToHistory(std::move(prepared), folder);
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

} // namespace vessora
