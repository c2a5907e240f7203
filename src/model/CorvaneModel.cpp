#include "model/CorvaneModel.h"

#include "catalog/Permissions.h"
#include "model/MeasurementRun.h"
#include "support/Paths.h"

#include <QThread>

#include <cassert>

namespace vessora {

namespace {
std::vector<std::string> volumeUrls(const std::vector<VolumeInfo>& volumes) {
    std::vector<std::string> urls;
    for (const VolumeInfo& volume : volumes) urls.push_back(volume.url);
    return urls;
}
} // namespace

CorvaneModel::CorvaneModel(ModelEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)) {
    if (!environment_.readVolumes) environment_.readVolumes = [] { return VolumeInfo::current(); };
    if (!environment_.readFullDiskAccess)
        environment_.readFullDiskAccess = [] { return Permissions::hasFullDiskAccess(); };
    if (!environment_.measureCleanupTarget)
        environment_.measureCleanupTarget = [](const CleanupTarget& target, const std::function<bool()>& cancelled) {
            return CleanupCatalog::measure(target, cancelled);
        };
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
    backupFolders_.insert(Paths::standardize(backupRoot_));
    setUpHistory();

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
    // A folder chosen for backups holds them from now on, unless it is one of
    // the user's own folders (home, Documents and the like), which it only
    // shares: then only the dated backups made in it are kept out of the lists.
    const std::string folder = Paths::standardize(root);
    bool shared = Paths::isInside(Paths::home(), folder) || folder == Paths::standardize(Paths::documentsFolder());
    for (const char* key :
         {"DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC", "PICTURES", "PUBLICSHARE", "TEMPLATES", "VIDEOS"})
        if (auto dir = Paths::userDir(key)) shared |= Paths::standardize(*dir) == folder;
    publish(backupRoot_, std::move(root), &CorvaneModel::backupRootChanged);
    if (!shared && !folder.empty() && backupFolders_.insert(folder).second) excludeBackupsFromLists();
}
void CorvaneModel::setPendingDeletion(std::optional<PendingRemoval> pending) {
    publishAlways(pendingDeletion_, std::move(pending), &CorvaneModel::pendingDeletionChanged);
}

// Derived values.

std::optional<VolumeInfo> CorvaneModel::rootVolume() const {
    if (const VolumeInfo* disk = VolumeInfo::startupDisk(volumes_)) return *disk;
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
        [this, list = environment_.listSnapshots, volumes = volumeUrls(volumes_)] {
            auto snapshots = LocalSnapshot::listAll(volumes, list);
            mainQueue_.post([this, snapshots = std::move(snapshots)]() mutable {
                publish(snapshots_, std::move(snapshots), &CorvaneModel::snapshotsChanged);
            });
        },
        utilityPriority);
}

} // namespace vessora
