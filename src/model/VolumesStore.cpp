#include "model/VolumesStore.h"

#include "catalog/SnapshotRemoval.h"
#include "model/MeasurementRun.h"

namespace vessora {

VolumesStore::VolumesStore(const ModelEnvironment& environment, QThreadPool& workers, Async::MainQueue& mainQueue,
                           RemovalQueue& removals, QObject* parent)
    : Store(parent), environment_(environment), workers_(workers), mainQueue_(mainQueue), removals_(removals) {
    // Whatever a removal took away or Put Back brought back, the free space
    // shown follows it.
    connect(&removals_, &RemovalQueue::removed, this, &VolumesStore::refresh);
    connect(&removals_, &RemovalQueue::restored, this, &VolumesStore::refresh);
}

std::optional<VolumeInfo> VolumesStore::rootVolume() const {
    if (const VolumeInfo* disk = VolumeInfo::startupDisk(volumes_)) return *disk;
    return std::nullopt;
}

void VolumesStore::refresh() {
    publish(volumes_, environment_.readVolumes(), &VolumesStore::volumesChanged);
    publish(hasFullDiskAccess_, environment_.readFullDiskAccess(), &VolumesStore::hasFullDiskAccessChanged);
    std::vector<std::string> urls;
    for (const VolumeInfo& volume : volumes_) urls.push_back(volume.url);
    Async::start(
        workers_,
        [this, list = environment_.listSnapshots, urls = std::move(urls)] {
            auto snapshots = LocalSnapshot::listAll(urls, list);
            mainQueue_.post([this, snapshots = std::move(snapshots)]() mutable {
                publish(snapshots_, std::move(snapshots), &VolumesStore::snapshotsChanged);
            });
        },
        utilityPriority);
}

void VolumesStore::deleteSnapshot(const LocalSnapshot& snapshot) {
    assertMainThread();
    const std::string volume = snapshot.volume.empty() ? std::string("/") : snapshot.volume;
    RemovalQueue::Request request;
    request.work = [snapshot, volume, runner = environment_.privilegedRunner] {
        return runner ? SnapshotRemoval::deleteSnapshot(snapshot, volume, *runner)
                      : SnapshotRemoval::deleteSnapshot(snapshot, volume);
    };
    // Out of the list at once; the listing that the refresh starts confirms
    // it a moment later.
    request.before = [this, snapshot](const RemovalResult& result) {
        if (result.succeeded.empty()) return;
        change(
            snapshots_,
            [&](auto& list) {
                return std::erase_if(list, [&](const LocalSnapshot& s) { return s.sameAs(snapshot); }) > 0;
            },
            &VolumesStore::snapshotsChanged);
    };
    removals_.remove(std::move(request));
}

} // namespace vessora
