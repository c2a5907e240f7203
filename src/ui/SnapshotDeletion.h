#pragma once
// Deleting a local snapshot from the Overview. The one place the window asks
// for it, so the way it is done can change in one line.

#include "catalog/LocalSnapshot.h"

#include <QObject>

#include <functional>

namespace vessora {

class CorvaneModel;

// Deletes `snapshot` off the main thread, then on the main thread refreshes
// the model's volumes (which lists the snapshots again) when it succeeded and
// calls `done` with the outcome; `context` going away drops the callback.
void deleteLocalSnapshot(CorvaneModel& model, const LocalSnapshot& snapshot, QObject* context,
                         std::function<void(bool)> done);

} // namespace vessora
