#include "ModelTestSupport.h"

#include "support/Paths.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <mutex>
#include <set>

namespace vessora::test {
namespace {

using CleanupRunTest = ModelTest;

// The ids of the targets that became measured, in the order they did.
void recordScannedOrder(CorvaneModel& model, std::vector<std::string>& order) {
    QObject::connect(&model, &CorvaneModel::cleanupTargetsChanged, [&model, &order] {
        for (const auto& target : model.cleanupTargets())
            if (target.scanned && std::find(order.begin(), order.end(), target.id) == order.end())
                order.push_back(target.id);
    });
}

TEST_F(CleanupRunTest, PublishesInCompletionOrderWithProgressAndEndsIdle) {
    // DerivedData is the second definition and by far the slowest to measure.
    const std::string derived = home() + "/Library/Developer/Xcode/DerivedData/Project";
    writeFiles(derived, 15000, 0);
    writeFile(derived + "/index", 4096);
    writeFile(home() + "/.Trash/old", 8192);
    auto model = makeModel();

    std::vector<std::string> order;
    recordScannedOrder(*model, order);
    std::vector<std::string> events;
    QObject::connect(model.get(), &CorvaneModel::cleanupProgressChanged,
                     [&] { events.push_back("progress " + std::to_string(model->cleanupProgress())); });
    QObject::connect(model.get(), &CorvaneModel::isMeasuringCleanupChanged,
                     [&] { events.push_back(model->isMeasuringCleanup() ? "busy" : "idle"); });

    model->measureCleanup();
    model->measureCleanup(); // busy: ignored, so the events below happen once
    ASSERT_TRUE(waitUntil([&] { return !model->isMeasuringCleanup(); }));
    CorvaneModelTestAccess::settle(*model);

    ASSERT_EQ(order.size(), 15u);
    const auto position = [&](const std::string& id) {
        return std::find(order.begin(), order.end(), id) - order.begin();
    };
    EXPECT_LT(position("trash"), position("derived-data"));
    const auto trash = std::find_if(model->cleanupTargets().begin(), model->cleanupTargets().end(),
                                    [](const CleanupTarget& t) { return t.id == "trash"; });
    ASSERT_EQ(trash->entries.size(), 1u);
    EXPECT_EQ(trash->entries[0].url, home() + "/.Trash/old");

    // busy, one step per result, then idle (the closing 1.0 changes nothing).
    ASSERT_EQ(events.size(), 1u + 15u + 1u);
    EXPECT_EQ(events.front(), "busy");
    for (int done = 1; done <= 15; ++done) EXPECT_EQ(events[done], "progress " + std::to_string(done / 15.0));
    EXPECT_EQ(events[16], "idle");
}

TEST_F(CleanupRunTest, AResultWhoseTargetVanishedStillCountsForProgress) {
    auto model = makeModel();
    model->measureCleanup();
    // The list changes under the run before any result arrives.
    auto targets = model->cleanupTargets();
    std::erase_if(targets, [](const CleanupTarget& t) { return t.id == "trash"; });
    CorvaneModelTestAccess::setCleanupTargets(*model, targets);

    std::vector<double> progress;
    QObject::connect(model.get(), &CorvaneModel::cleanupProgressChanged,
                     [&] { progress.push_back(model->cleanupProgress()); });
    ASSERT_TRUE(waitUntil([&] { return !model->isMeasuringCleanup(); }));
    CorvaneModelTestAccess::settle(*model);

    ASSERT_EQ(model->cleanupTargets().size(), 14u);
    for (const auto& target : model->cleanupTargets()) EXPECT_TRUE(target.scanned) << target.id;
    ASSERT_EQ(progress.size(), 15u); // one step per result, the vanished target's too
    EXPECT_DOUBLE_EQ(progress[14], 1.0);
}

// The Trash is measured before the removal and reported after it: the removed
// item must not come back with the result.
TEST_F(CleanupRunTest, AResultMeasuredBeforeARemovalDoesNotBringItBack) {
    writeFile(home() + "/.Trash/old", 8192);
    writeFile(home() + "/.Trash/kept", 8192);
    std::promise<void> measured, report;
    auto environment = environmentWith(volumes);
    environment.measureCleanupTarget = [&, reported = report.get_future().share()](
                                           const CleanupTarget& target, const std::function<bool()>& cancelled) {
        CleanupTarget result = CleanupCatalog::measure(target, cancelled);
        if (target.id == "trash") {
            measured.set_value();
            reported.wait();
        }
        return result;
    };
    CorvaneModel model(std::move(environment));
    model.measureCleanup();
    measured.get_future().wait();

    model.removeCleanupEntries({CleanupEntry{home() + "/.Trash/old", 8192, std::nullopt}}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(model));
    EXPECT_FALSE(exists(home() + "/.Trash/old"));
    report.set_value();
    ASSERT_TRUE(waitUntil([&] { return !model.isMeasuringCleanup(); }));

    for (const auto& target : model.cleanupTargets())
        if (target.id == "trash") {
            ASSERT_EQ(target.entries.size(), 1u);
            EXPECT_EQ(target.entries[0].url, home() + "/.Trash/kept");
        }
    CorvaneModelTestAccess::settle(model);
}

using CategoryRunTest = ModelTest;

TEST_F(CategoryRunTest, MeasuresEveryCategoryResolvesTheRemainderThenListsSystemData) {
    writeFile(home() + "/Documents/report", 2 << 20);
    writeFile(home() + "/Music/song", 1 << 20);
    writeFile(home() + "/.bigcache/blob", 10'500'000);
    const int64_t used = int64_t(5) << 40;
    volumes->volumes = {rootVolume(int64_t(1) << 50, (int64_t(1) << 50) - used)};
    auto model = makeModel();

    std::vector<std::string> events;
    QObject::connect(model.get(), &CorvaneModel::categoryProgressChanged, [&] {
        if (model->categoryProgress() == 1.0)
            events.push_back(model->isMeasuringCategories() ? "complete while busy" : "complete after");
    });
    QObject::connect(model.get(), &CorvaneModel::isMeasuringCategoriesChanged, [&] {
        if (!model->isMeasuringCategories())
            events.push_back(model->systemDataAccounted() > 0 ? "idle with system data" : "idle without");
    });

    model->measureCategories();
    model->measureCategories(); // busy: ignored
    EXPECT_TRUE(model->isMeasuringCategories());
    ASSERT_TRUE(waitUntil([&] { return !model->isMeasuringCategories(); }, 120000));
    CorvaneModelTestAccess::settle(*model);

    // The last result brings the progress to 1.0, and the run stays busy
    // until the System Data rows are listed.
    EXPECT_EQ(events, (std::vector<std::string>{"complete while busy", "idle with system data"}));
    EXPECT_TRUE(model->lastCategoryScan());
    for (const auto& category : model->categories()) EXPECT_TRUE(category.measured) << category.id();

    const auto documents = model->category("documents");
    ASSERT_TRUE(documents);
    ASSERT_EQ(documents->entries.size(), 1u);
    EXPECT_EQ(documents->size, allocatedSize(home() + "/Documents/report"));

    const auto systemData = model->category("systemData");
    ASSERT_TRUE(systemData);
    EXPECT_EQ(systemData->size, std::max<int64_t>(0, used - model->categorisedBytes()));
    ASSERT_EQ(systemData->entries.size(), 1u);
    EXPECT_EQ(systemData->entries[0].url, home() + "/.bigcache");
    EXPECT_EQ(model->systemDataAccounted(), systemData->entries[0].size);
}

TEST_F(CategoryRunTest, TheRemainderIsClampedAtZeroAndUntouchedWithoutVolumes) {
    auto model = makeModel();
    // (volumes, remainder size after resolving); 600 bytes are categorised.
    const std::vector<std::pair<std::vector<VolumeInfo>, int64_t>> cases = {
        {{}, 77},                     // no volume: left as it was
        {{rootVolume(1000, 500)}, 0}, // used 500 < categorised 600
        {{rootVolume(100, 200)}, 0},  // more free than capacity: used counts 0
        {{rootVolume(10000, 1000)}, 9000 - 600},
    };
    for (const auto& [volumeList, expected] : cases) {
        volumes->volumes = volumeList;
        model->refreshVolumes();
        CorvaneModelTestAccess::setCategories(*model,
                                              {categoryOf("a", CategoryMeasurement::measured, 600),
                                               categoryOf("rest", CategoryMeasurement::remainder, 77, {}, false)});
        CorvaneModelTestAccess::resolveRemainder(*model);
        EXPECT_EQ(model->category("rest")->size, expected);
        EXPECT_EQ(model->category("rest")->measured, !volumeList.empty());
    }
    CorvaneModelTestAccess::settle(*model);
}

// The application tests use the suite's home folder: the inventory fixed its
// user application folder there when the suite started.
class AppsRunTest : public ::testing::Test {
protected:
    AppsRunTest() : homeEnv_("HOME", suiteHome()) {}
    ~AppsRunTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(home() + "/Library", ignored);
        for (const auto& entry : std::filesystem::directory_iterator(home() + "/Applications", ignored))
            std::filesystem::remove_all(entry.path(), ignored);
    }
    static const std::string& home() { return suiteHome(); }

    static std::string makeApp(const std::string& name, const std::string& identifier, int64_t payload) {
        const std::string bundle = home() + "/Applications/" + name + ".app";
        writeText(bundle + "/Contents/Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                  "<key>CFBundleIdentifier</key><string>" +
                      identifier + "</string><key>CFBundleName</key><string>" + name + "</string></dict></plist>\n");
        if (payload > 0) writeFile(bundle + "/Contents/MacOS/" + name, payload);
        return bundle;
    }

    std::shared_ptr<VolumeStub> volumes = std::make_shared<VolumeStub>();

private:
    ScopedEnv homeEnv_;
};

TEST_F(AppsRunTest, ListsInInventoryOrderFirstAndSortsByTotalSizeAtTheEnd) {
    makeApp("Alpha", "com.test.alpha", 4096);
    writeFile(home() + "/Library/Caches/com.test.alpha/data", 3 << 20);      // exact
    writeFile(home() + "/Library/Application Support/Alpha/state", 1 << 20); // likely
    makeApp("Beta", "com.test.beta", 2 << 20);
    makeApp("Gamma", "com.test.gamma", 0);
    writeFile(home() + "/Library/Logs/Gamma/log", 5 << 19); // likely only
    makeApp("Delta", "com.test.delta", 0);
    makeApp("Epsilon", "com.test.epsilon", 0);
    CorvaneModel model(environmentWith(volumes));

    std::vector<std::string> firstListing;
    bool firstAllUnanalysed = false;
    QObject::connect(&model, &CorvaneModel::appsChanged, [&] {
        if (!firstListing.empty() || model.apps().empty()) return;
        firstAllUnanalysed = true;
        for (const auto& row : model.apps()) {
            firstListing.push_back(row.app.name);
            firstAllUnanalysed = firstAllUnanalysed && !row.analyzed && row.bundleSize == 0 && row.leftovers.empty();
        }
    });
    model.loadApps();
    EXPECT_TRUE(model.isLoadingApps());
    ASSERT_TRUE(waitUntil([&] { return !model.isLoadingApps(); }));
    CorvaneModelTestAccess::settle(model);

    EXPECT_EQ(firstListing, (std::vector<std::string>{"Alpha", "Beta", "Delta", "Epsilon", "Gamma"}));
    EXPECT_TRUE(firstAllUnanalysed);
    EXPECT_EQ(model.appProgress(), 1.0);

    std::vector<std::string> names;
    for (const auto& row : model.apps()) {
        names.push_back(row.app.name);
        EXPECT_TRUE(row.analyzed);
    }
    // Gamma outweighs Beta only through a likely leftover; Delta and Epsilon
    // weigh the same and keep their inventory order.
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Gamma", "Beta", "Delta", "Epsilon"}));
    const AppRow& alpha = model.apps()[0];
    ASSERT_EQ(alpha.exactLeftovers().size(), 1u);
    ASSERT_EQ(alpha.likelyLeftovers().size(), 1u);
    EXPECT_EQ(alpha.totalSize(), alpha.bundleSize + alpha.exactLeftovers()[0].size + alpha.likelyLeftovers()[0].size);
    EXPECT_EQ(model.apps()[3].totalSize(), model.apps()[4].totalSize());
}

TEST_F(AppsRunTest, AnEmptyInventoryEndsTheRunAtOnce) {
    CorvaneModel model(environmentWith(volumes));
    std::vector<double> progress;
    QObject::connect(&model, &CorvaneModel::appProgressChanged, [&] { progress.push_back(model.appProgress()); });
    model.loadApps();
    ASSERT_TRUE(waitUntil([&] { return !model.isLoadingApps(); }));
    CorvaneModelTestAccess::settle(model);
    EXPECT_TRUE(model.apps().empty());
    EXPECT_EQ(progress, (std::vector<double>{1.0}));
}

} // namespace
} // namespace vessora::test
