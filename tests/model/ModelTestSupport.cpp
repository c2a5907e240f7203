#include "ModelTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <unistd.h>

namespace vessora {

void CorvaneModelTestAccess::settle(CorvaneModel& model) {
    // Posted work may start more background work (a finished scan refreshes
    // the volumes), so alternate until both sides are quiet.
    for (int round = 0; round < 8; ++round) {
        model.tasks_.waitForDone();
        model.workers_.waitForDone();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
    }
}

namespace test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

bool waitForRemovals(CorvaneModel& model, int timeoutMs) {
    return waitUntil([&] { return !model.removals().isRemoving(); }, timeoutMs);
}

void spin(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

VolumeInfo rootVolume(int64_t total, int64_t trueFree) {
    return VolumeInfo{"/", "Test", total, trueFree, trueFree, true, true};
}

ModelEnvironment environmentWith(const std::shared_ptr<VolumeStub>& stub) {
    ModelEnvironment environment;
    // Called on the main thread only, so the stub needs no lock.
    environment.readVolumes = [stub] {
        ++stub->calls;
        return stub->volumes;
    };
    return environment;
}

ModelTest::ModelTest() : home_(temp_ / "home"), homeEnv_("HOME", temp_ / "home") { makeDirs(home_); }

std::unique_ptr<CorvaneModel> ModelTest::makeModel() {
    return std::make_unique<CorvaneModel>(environmentWith(volumes));
}

MeasuredCategory categoryOf(const std::string& id, CategoryMeasurement measurement, int64_t size,
                            std::vector<CleanupEntry> entries, bool measured) {
    MeasuredCategory result;
    result.category.id = id;
    result.category.measurement = measurement;
    result.size = size;
    result.entries = std::move(entries);
    result.measured = measured;
    return result;
}

void writeFiles(const std::string& folder, int count, int64_t bytes, const std::string& prefix) {
    makeDirs(folder);
    for (int i = 0; i < count; ++i) {
        const std::string file = folder + "/" + prefix + std::to_string(i);
        if (bytes > 0) {
            writeFile(file, bytes);
            continue;
        }
        // Empty files in bulk: no data to write, so no need for the slower helper.
        const int descriptor = ::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (descriptor >= 0) ::close(descriptor);
    }
}

} // namespace test
} // namespace vessora
