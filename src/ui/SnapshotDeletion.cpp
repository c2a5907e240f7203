#include "ui/SnapshotDeletion.h"

#include "model/CorvaneModel.h"
#include "removal/Remover.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

namespace vessora {

void deleteLocalSnapshot(CorvaneModel& model, const LocalSnapshot& snapshot, QObject* context,
                         std::function<void(bool)> done) {
    QPointer<QObject> guard(context);
    QPointer<CorvaneModel> target(&model);
    // The system's tool asks for administrator rights and waits for the user,
    // so it runs on a worker; the window keeps painting meanwhile.
    QThreadPool::globalInstance()->start([snapshot, guard, target, done = std::move(done)] {
        const bool deleted = Remover::deleteSnapshot(snapshot, "/");
        // Posted to the application object, which outlives every window; the
        // guards are read only there, on the main thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [deleted, guard, target, done] {
                if (deleted && target) target->refreshVolumes();
                if (guard && done) done(deleted);
            },
            Qt::QueuedConnection);
    });
}

} // namespace vessora
