#include "ModelTestSupport.h"

#include "support/Paths.h"

#include <QMetaProperty>

#include <mutex>
#include <thread>

namespace vessora::test {
namespace {

using FieldsTest = ModelTest;

TEST_F(FieldsTest, StartsWithTheInitialValuesAndReadsTheVolumesOnce) {
    volumes->volumes = {rootVolume(1000, 400)};
    auto model = makeModel();

    EXPECT_EQ(volumes->calls, 1);
    EXPECT_EQ(model->volumes(), volumes->volumes);
    EXPECT_TRUE(model->snapshots().empty()); // no snapshot tool here
    EXPECT_TRUE(model->hasFullDiskAccess()); // Linux has no privacy gate
    EXPECT_EQ(model->scanRootPath(), home());
    EXPECT_EQ(model->tree(), nullptr);
    EXPECT_FALSE(model->isScanning());
    EXPECT_EQ(model->scanFiles(), 0);
    EXPECT_EQ(model->scanBytes(), 0);
    EXPECT_EQ(model->scanCurrentPath(), "");
    EXPECT_EQ(model->scanUnreadable(), 0);
    EXPECT_EQ(model->scanElapsed(), 0);
    EXPECT_FALSE(model->lastScanDate());
    EXPECT_EQ(model->scanStats(), nullptr);
    EXPECT_FALSE(model->hasProgressTimer());
    EXPECT_FALSE(model->scanStart());
    EXPECT_TRUE(model->apps().empty());
    EXPECT_FALSE(model->isLoadingApps());
    EXPECT_EQ(model->appProgress(), 0);
    EXPECT_FALSE(model->includeSystemApps());
    EXPECT_EQ(model->cleanupTargets(), CleanupCatalog::definitions());
    EXPECT_FALSE(model->isMeasuringCleanup());
    EXPECT_EQ(model->cleanupProgress(), 0);
    const auto definitions = StorageCategories::all();
    ASSERT_EQ(model->categories().size(), definitions.size());
    for (size_t i = 0; i < definitions.size(); ++i) {
        EXPECT_EQ(model->categories()[i].category, definitions[i]);
        EXPECT_EQ(model->categories()[i].size, 0);
        EXPECT_TRUE(model->categories()[i].entries.empty());
        EXPECT_FALSE(model->categories()[i].measured);
    }
    EXPECT_FALSE(model->isMeasuringCategories());
    EXPECT_EQ(model->categoryProgress(), 0);
    EXPECT_FALSE(model->lastCategoryScan());
    EXPECT_FALSE(model->lastResult());
    EXPECT_EQ(model->totalFreedThisSession(), 0);
    EXPECT_FALSE(model->isArchiving());
    EXPECT_FALSE(model->archiveStatus());
    EXPECT_FALSE(model->archiveError());
    EXPECT_FALSE(model->lastArchiveDestination());
    EXPECT_EQ(model->backupRoot(), Paths::join(Paths::documentsFolder(), "Vessora Backups"));
    EXPECT_FALSE(model->pendingDeletion());
    CorvaneModelTestAccess::settle(*model);
}

// The screens bind to the published fields through Qt's property system: each
// is a property with a change signal, in the order of the model's state.
TEST_F(FieldsTest, PublishesEveryFieldAsANotifyingPropertyInOrder) {
    auto model = makeModel();
    const QMetaObject* meta = model->metaObject();
    const std::vector<std::string> expected = {"volumes",
                                               "snapshots",
                                               "hasFullDiskAccess",
                                               "scanRootPath",
                                               "tree",
                                               "isScanning",
                                               "scanFiles",
                                               "scanBytes",
                                               "scanCurrentPath",
                                               "scanUnreadable",
                                               "scanElapsed",
                                               "lastScanDate",
                                               "apps",
                                               "isLoadingApps",
                                               "appProgress",
                                               "includeSystemApps",
                                               "cleanupTargets",
                                               "isMeasuringCleanup",
                                               "cleanupProgress",
                                               "categories",
                                               "isMeasuringCategories",
                                               "categoryProgress",
                                               "lastCategoryScan",
                                               "lastResult",
                                               "totalFreedThisSession",
                                               "isArchiving",
                                               "archiveStatus",
                                               "archiveError",
                                               "lastArchiveDestination",
                                               "backupRoot",
                                               "pendingDeletion"};
    std::vector<std::string> names;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        names.push_back(property.name());
        EXPECT_TRUE(property.hasNotifySignal()) << property.name();
        EXPECT_EQ(property.notifySignal().name().toStdString(), std::string(property.name()) + "Changed");
    }
    EXPECT_EQ(names, expected);
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(FieldsTest, NotifiesOnEveryAssignmentEvenOfAnEqualValue) {
    auto model = makeModel();
    SignalCounter rootChanges(*model, &CorvaneModel::scanRootPathChanged);
    SignalCounter systemAppsChanges(*model, &CorvaneModel::includeSystemAppsChanged);
    model->setScanRootPath("/tmp");
    model->setScanRootPath("/tmp");
    model->setIncludeSystemApps(false);
    EXPECT_EQ(rootChanges.count(), 2);
    EXPECT_EQ(systemAppsChanges.count(), 1);
    EXPECT_EQ(model->scanRootPath(), "/tmp");
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
    VolumeInfo data = rootVolume(10, 5);
    data.url = "/data";
    data.isRootVolume = false;
    VolumeInfo root = rootVolume(20, 5);
    VolumeInfo other = data;
    other.url = "/other";

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
    auto asked = std::make_shared<std::vector<std::string>>();
    auto askedLock = std::make_shared<std::mutex>();
    auto environment = environmentWith(volumes);
    environment.listSnapshots = [asked, askedLock](const std::string& volume) {
        std::lock_guard guard(*askedLock);
        asked->push_back(volume);
        return std::vector<LocalSnapshot>{LocalSnapshot{"com.apple.TimeMachine.2024-05-01-093015.local", {}}};
    };
    CorvaneModel model(std::move(environment));
    // Read at once: the volumes; later, from the background: the snapshots.
    EXPECT_TRUE(model.snapshots().empty());
    ASSERT_TRUE(waitUntil([&] { return !model.snapshots().empty(); }));
    EXPECT_EQ(model.snapshots()[0].name, "com.apple.TimeMachine.2024-05-01-093015.local");
    CorvaneModelTestAccess::settle(model);
    std::lock_guard guard(*askedLock);
    EXPECT_EQ(*asked, (std::vector<std::string>{"/"}));
}

MeasuredCategory measuredCategory(const std::string& id, CategoryMeasurement measurement, int64_t size,
                                  std::vector<int64_t> entrySizes = {}) {
    MeasuredCategory category;
    category.category.id = id;
    category.category.measurement = measurement;
    category.size = size;
    for (size_t i = 0; i < entrySizes.size(); ++i)
        category.entries.push_back(CleanupEntry{"/x/" + id + std::to_string(i), entrySizes[i], std::nullopt});
    category.measured = measurement == CategoryMeasurement::remainder || size > 0;
    return category;
}

TEST_F(FieldsTest, CategoryTotalsLeaveOutTheRemainder) {
    auto model = makeModel();
    CorvaneModelTestAccess::setCategories(
        *model, {measuredCategory("a", CategoryMeasurement::measured, 100),
                 measuredCategory("rest", CategoryMeasurement::remainder, 5000, {30, 12}),
                 measuredCategory("b", CategoryMeasurement::measured, 0), // not measured yet: counts 0
                 measuredCategory("c", CategoryMeasurement::measured, 20)});
    EXPECT_EQ(model->categorisedBytes(), 120);
    EXPECT_EQ(model->systemDataAccounted(), 42);
    ASSERT_TRUE(model->category("c"));
    EXPECT_EQ(model->category("c")->size, 20);
    EXPECT_FALSE(model->category("missing"));

    // No remainder category, or one without entries: nothing accounted.
    CorvaneModelTestAccess::setCategories(*model, {measuredCategory("a", CategoryMeasurement::measured, 100)});
    EXPECT_EQ(model->systemDataAccounted(), 0);
    CorvaneModelTestAccess::setCategories(*model, {measuredCategory("rest", CategoryMeasurement::remainder, 10)});
    EXPECT_EQ(model->systemDataAccounted(), 0);
    CorvaneModelTestAccess::settle(*model);
}

} // namespace
} // namespace vessora::test
