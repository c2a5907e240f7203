#pragma once
// The mounted volumes with the Full Disk Access state, and the local
// snapshots. Read again after every scan and removal.

#include "model/ModelEnvironment.h"
#include "model/RemovalQueue.h"
#include "model/Store.h"

#include <optional>
#include <vector>

namespace vessora {

class VolumesStore : public Store {
    Q_OBJECT
public:
    VolumesStore(const ModelEnvironment& environment, QThreadPool& workers, Async::MainQueue& mainQueue,
                 RemovalQueue& removals, QObject* parent = nullptr);

    const std::vector<VolumeInfo>& volumes() const { return volumes_; }
    const std::vector<LocalSnapshot>& snapshots() const { return snapshots_; }
    bool hasFullDiskAccess() const { return hasFullDiskAccess_; }
    // The first root volume, else the first volume, else none.
    std::optional<VolumeInfo> rootVolume() const;

    // Volumes and disk access now, snapshots in the background.
    void refresh();
    // Deletes a local snapshot with administrator rights; the result names the
    // snapshot in succeeded or failed, and the snapshot list is read again.
    void deleteSnapshot(const LocalSnapshot& snapshot);

signals:
    void volumesChanged();
    void snapshotsChanged();
    void hasFullDiskAccessChanged();

private:
    friend class CorvaneModelTestAccess;

    const ModelEnvironment& environment_;
    QThreadPool& workers_;
    Async::MainQueue& mainQueue_;
    RemovalQueue& removals_;
    std::vector<VolumeInfo> volumes_;
    std::vector<LocalSnapshot> snapshots_;
    bool hasFullDiskAccess_ = false;
};

} // namespace vessora
