#include "ModelTestSupport.h"

#include <thread>

namespace vessora::test {
namespace {

using FieldsTest = ModelTest;

TEST_F(FieldsTest, NotifiesOnChangeButEveryResultReachesItsAlert) {
    auto model = makeModel();
    SignalCounter roots(model->scan(), &ScanSession::scanRootPathChanged);
    SignalCounter systemApps(model->apps(), &AppList::includeSystemAppsChanged);
    SignalCounter results(model->removals(), &RemovalQueue::lastResultChanged);
    model->scan().setScanRootPath("/tmp");
    model->scan().setScanRootPath("/tmp");
    model->apps().setIncludeSystemApps(false);
    model->removals().setLastResult(RemovalResult{});
    model->removals().setLastResult(RemovalResult{});
    EXPECT_EQ(roots.count() * 100 + systemApps.count() * 10 + results.count(), 102);
    CorvaneModelTestAccess::settle(*model);
}

// A plain test: the death test's child runs it again from the start, and
// builds nothing on disk that its abort would leave behind.
TEST(ModelThreads, WritingAFieldOffTheMainThreadIsCaught) {
    EXPECT_DEATH(
        {
            CorvaneModel model(environmentWith(std::make_shared<VolumeStub>()));
            std::thread writer([&] { model.scan().setScanRootPath("/elsewhere"); });
            writer.join();
        },
        "main thread");
}

TEST_F(FieldsTest, RootVolumeIsTheFirstRootElseTheFirstVolume) {
    const VolumeInfo data{"/data", "Data", 10, 5, 5, true, false}, root = rootVolume(20, 5);
    auto model = makeModel();
    for (const auto& [list, expected] : std::vector<std::pair<std::vector<VolumeInfo>, std::optional<VolumeInfo>>>{
             {{data, root}, root}, {{data}, data}, {{}, std::nullopt}}) {
        volumes->volumes = list;
        model->volumes().refresh();
        EXPECT_EQ(model->volumes().rootVolume(), expected);
    }
    CorvaneModelTestAccess::settle(*model);
}

TEST(CategoryTotals, LeaveOutTheRemainder) {
    const std::vector<MeasuredCategory> items = {
        categoryOf("a", CategoryMeasurement::measured, 100),
        categoryOf("rest", CategoryMeasurement::remainder, 5000, {{"/x/1", 30, {}}, {"/x/2", 12, {}}}),
        categoryOf("b", CategoryMeasurement::measured, 7)};
    EXPECT_EQ(std::tuple(categorisedBytes(items), systemDataAccounted(items)), std::tuple(107, 42));
}

} // namespace
} // namespace vessora::test
