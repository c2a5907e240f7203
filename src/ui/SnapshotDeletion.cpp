#include "ui/SnapshotDeletion.h"

#include "model/CorvaneModel.h"

#include <QPointer>

#include <algorithm>
#include <memory>

namespace vessora {

void deleteLocalSnapshot(VolumesStore& volumes, RemovalQueue& removals, const LocalSnapshot& snapshot, QObject* context,
                         std::function<void(bool)> done) {
    // The model deletes off the main thread and publishes the outcome as a
    // removal result (which the window shows as its alert); the first result
    // that names this snapshot answers `done`.
    auto connection = std::make_shared<QMetaObject::Connection>();
    QPointer<RemovalQueue> target(&removals);
    *connection =
        QObject::connect(&removals, &RemovalQueue::lastResultChanged, context,
                         [target, connection, name = snapshot.name, done = std::move(done)] {
                             if (!target || !target->lastResult()) return;
                             const RemovalResult& result = *target->lastResult();
                             const bool deleted = std::find(result.succeeded.begin(), result.succeeded.end(), name) !=
                                                  result.succeeded.end();
                             const bool failed = std::any_of(result.failed.begin(), result.failed.end(),
                                                             [&](const Failure& f) { return f.path == name; });
                             if (!deleted && !failed) return;
                             QObject::disconnect(*connection);
                             if (done) done(deleted);
                         });
    volumes.deleteSnapshot(snapshot);
}

} // namespace vessora
