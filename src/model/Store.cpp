#include "model/Store.h"

#include <QThread>

#include <cassert>

namespace vessora {

void Store::assertMainThread() const {
    assert(QThread::currentThread() == thread() && "model fields are written on the main thread only");
}

} // namespace vessora
