#pragma once
// What the model's tests share: waiting on the event loop, a temporary home
// folder per test, a volume reader of known capacity and a way into the
// model's private state for arranging a situation.

#include "TestSupport.h"
#include "model/CorvaneModel.h"
#include "model/Removals.h"

#include <gtest/gtest.h>

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

// Arranges states that only a long run would otherwise reach.
class CorvaneModelTestAccess {
public:
    static void resolveRemainder(CorvaneModel& model) { model.resolveRemainder(); }
    // The running scan's shared counters and one tick of its progress timer.
    static const std::shared_ptr<ScanStats>& scanStats(CorvaneModel& model) { return model.scan_.scanStats_; }
    static bool hasProgressTimer(CorvaneModel& model) { return model.scan_.progressTimer_ != nullptr; }
    static void sampleProgress(CorvaneModel& model) { model.scan_.sampleProgress(); }
    // Waits until nothing of the model runs in the background, then delivers
    // everything it posted.
    static void settle(CorvaneModel& model);
};

namespace test {

// The home folder the whole suite started with (the application roots are
// worked out from it once per process).
const std::string& suiteHome();

// Runs the event loop until `condition` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);
// Runs the event loop until the model's removals have all been applied.
bool waitForRemovals(CorvaneModel& model, int timeoutMs = 60000);
// Runs the event loop for a while.
void spin(int milliseconds);

// Counts the emissions of one change signal.
class SignalCounter {
public:
    template <class Object, class Signal> SignalCounter(Object& object, Signal signal) {
        connection_ = QObject::connect(&object, signal, [this] { ++count_; });
    }
    ~SignalCounter() { QObject::disconnect(connection_); }
    int count() const { return count_; }

private:
    QMetaObject::Connection connection_;
    int count_ = 0;
};

// A volume reader whose answer the test sets; counts its calls.
struct VolumeStub {
    std::vector<VolumeInfo> volumes;
    int calls = 0;
};
ModelEnvironment environmentWith(const std::shared_ptr<VolumeStub>& stub);
VolumeInfo rootVolume(int64_t total, int64_t trueFree);

// Every test runs with HOME pointing at a fresh folder of its own.
class ModelTest : public ::testing::Test {
protected:
    ModelTest();
    std::string path(const std::string& relative) const { return temp_ / relative; }
    const std::string& home() const { return home_; }

    // A model with a volume reader of known answer (the stub's).
    std::unique_ptr<CorvaneModel> makeModel();
    std::shared_ptr<VolumeStub> volumes = std::make_shared<VolumeStub>();

private:
    TempDir temp_;
    std::string home_;
    ScopedEnv homeEnv_;
};

// A category row as a finished measurement would leave it.
MeasuredCategory categoryOf(const std::string& id, CategoryMeasurement measurement, int64_t size,
                            std::vector<CleanupEntry> entries = {}, bool measured = true);

// Writes `count` files of `bytes` each below `folder`.
void writeFiles(const std::string& folder, int count, int64_t bytes, const std::string& prefix = "f");

} // namespace test
} // namespace vessora
