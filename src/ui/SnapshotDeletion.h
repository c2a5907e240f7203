#pragma once
// Deleting a local snapshot from the Overview. The one place the window asks
// for it, so the way it is done can change in one line.

#include "platform/LocalSnapshot.h"

#include <QObject>

#include <functional>

namespace vessora {

class RemovalQueue;
class VolumesStore;

// Deletes `snapshot` through the model (off the main thread); `done` gets the
// outcome on the main thread, unless `context` went away first.
void deleteLocalSnapshot(VolumesStore& volumes, RemovalQueue& removals, const LocalSnapshot& snapshot, QObject* context,
                         std::function<void(bool)> done);

} // namespace vessora
