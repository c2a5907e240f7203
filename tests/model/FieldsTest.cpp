#include "ModelTestSupport.h"

#include "support/Paths.h"

#include <thread>

namespace vessora::test {
namespace {

using FieldsTest = ModelTest;

TEST_F(FieldsTest, StartsIdleAtTheHomeFolderAndReadsTheVolumesOnce) {
    volumes->volumes = {rootVolume(1000, 400)};
    auto model = makeModel();
    EXPECT_EQ(volumes->calls, 1);
    EXPECT_EQ(model->volumes(), volumes->volumes);
    EXPECT_EQ(model->scanRootPath(), home());
    EXPECT_EQ(model->tree(), nullptr);
    EXPECT_FALSE(model->isScanning() || model->hasProgressTimer() || model->scanStats());
    EXPECT_EQ(model->cleanupTargets(), CleanupCatalog::definitions());
    ASSERT_EQ(model->categories().size(), StorageCategories::all().size());
    for (const auto& category : model->categories()) EXPECT_FALSE(category.measured || category.size);
    EXPECT_EQ(model->backupRoot(), Paths::join(Paths::documentsFolder(), "Vessora Backups"));
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(FieldsTest, NotifiesOnChangeButEveryResultReachesItsAlert) {
    auto model = makeModel();
    SignalCounter rootChanges(*model, &CorvaneModel::scanRootPathChanged);
    SignalCounter systemAppsChanges(*model, &CorvaneModel::includeSystemAppsChanged);
    SignalCounter results(*model, &CorvaneModel::lastResultChanged);
    model->setScanRootPath("/tmp");
    model->setScanRootPath("/tmp");
    model->setIncludeSystemApps(false);
    model->setLastResult(RemovalResult{});
    model->setLastResult(RemovalResult{});
    EXPECT_EQ(rootChanges.count(), 1);
    EXPECT_EQ(systemAppsChanges.count(), 0);
    EXPECT_EQ(results.count(), 2);
    CorvaneModelTestAccess::settle(*model);
}

// A plain test: the death test's child runs it again from the start, and
// builds nothing on disk that its abort would leave behind.
TEST(ModelThreads, WritingAFieldOffTheMainThreadIsCaught) {
    EXPECT_DEATH(
        {
            CorvaneModel model(environmentWith(std::make_shared<VolumeStub>()));
            std::thread writer([&] { model.setScanRootPath("/elsewhere"); });
            writer.join();
        },
        "main thread");
}

TEST_F(FieldsTest, RootVolumeIsTheFirstRootElseTheFirstVolume) {
    const VolumeInfo data{"/data", "Data", 10, 5, 5, true, false}, other{"/other", "Other", 10, 5, 5, true, false};
    const VolumeInfo root = rootVolume(20, 5);

    volumes->volumes = {data, root, other};
    auto model = makeModel();
    EXPECT_EQ(model->rootVolume(), root);

    volumes->volumes = {data, other};
    model->refreshVolumes();
    EXPECT_EQ(model->rootVolume(), data);

    volumes->volumes = {};
    model->refreshVolumes();
    EXPECT_FALSE(model->rootVolume());
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(FieldsTest, SnapshotsOfTheRootVolumeArriveFromTheBackground) {
    auto environment = environmentWith(volumes);
    environment.listSnapshots = [](const std::string& volume) {
        return std::vector<LocalSnapshot>{LocalSnapshot{"snap of " + volume, {}}};
    };
    CorvaneModel model(std::move(environment));
    EXPECT_TRUE(model.snapshots().empty()); // never read on the main thread
    ASSERT_TRUE(waitUntil([&] { return !model.snapshots().empty(); }));
    EXPECT_EQ(model.snapshots()[0].name, "snap of /");
    CorvaneModelTestAccess::settle(model);
}

TEST_F(FieldsTest, CategoryTotalsLeaveOutTheRemainder) {
    auto model = makeModel();
    CorvaneModelTestAccess::setCategories(
        *model, {categoryOf("a", CategoryMeasurement::measured, 100),
                 categoryOf("rest", CategoryMeasurement::remainder, 5000, {{"/x/1", 30, {}}, {"/x/2", 12, {}}}),
                 categoryOf("b", CategoryMeasurement::measured, 0, {}, false), // not measured yet: counts 0
                 categoryOf("c", CategoryMeasurement::measured, 20)});
    EXPECT_EQ(model->categorisedBytes(), 120);
    EXPECT_EQ(model->systemDataAccounted(), 42);
    ASSERT_TRUE(model->category("c"));
    EXPECT_EQ(model->category("c")->size, 20);
    EXPECT_FALSE(model->category("missing"));

    // No remainder category, or one without entries: nothing accounted.
    CorvaneModelTestAccess::setCategories(*model, {categoryOf("a", CategoryMeasurement::measured, 100)});
    EXPECT_EQ(model->systemDataAccounted(), 0);
    CorvaneModelTestAccess::setCategories(*model, {categoryOf("rest", CategoryMeasurement::remainder, 10)});
    EXPECT_EQ(model->systemDataAccounted(), 0);
    CorvaneModelTestAccess::settle(*model);
}

} // namespace
} // namespace vessora::test
