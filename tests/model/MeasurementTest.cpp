#include "ModelTestSupport.h"

#include "platform/PlatformTables.h"
#include "support/Paths.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <set>

namespace vessora::test {
namespace {

using CleanupRunTest = ModelTest;

// The Trash is measured before the removal and reported after it: the removed
// item must not come back with the result.
TEST_F(CleanupRunTest, AResultMeasuredBeforeARemovalDoesNotBringItBack) {
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    CleanupCatalog::ScopedSystemRoot system(path("sys"));
    const std::string trash = home() + "/.local/share/Trash/files";
    writeFile(trash + "/old", 8192);
    writeFile(trash + "/kept", 8192);
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
    model.cleanup().measure();
    measured.get_future().wait();

    Removals::removeCleanupEntries(model.removals(), {CleanupEntry{trash + "/old", 8192, std::nullopt}},
                                   RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(model));
    EXPECT_FALSE(exists(trash + "/old"));
    report.set_value();
    ASSERT_TRUE(waitUntil([&] { return !model.cleanup().isMeasuring(); }));

    for (const auto& target : model.cleanup().items())
        if (target.id == "trash") {
            ASSERT_EQ(target.entries.size(), 1u);
            EXPECT_EQ(target.entries[0].url, trash + "/kept");
        }
    CorvaneModelTestAccess::settle(model);
}

// A busy call is ignored, and a result whose target left the list still
// counts for progress. On the Linux set: one entry of each grade goes to the
// Trash, exactly those leave their targets, and an entry in use stays
// whatever the caller asks.
TEST_F(CleanupRunTest, LinuxEntriesOfEveryGradeGoToTheTrashAndLeaveTheirTargets) {
    ScopedEnv data("XDG_DATA_HOME", std::nullopt), cache("XDG_CACHE_HOME", std::nullopt);
    CleanupCatalog::ScopedSystemRoot system(path("sys"));
    for (const char* file :
         {".cache/thumbnails/normal/a.png", ".cache/thumbnails/large/b.png", ".cache/someapp/blob",
          ".cache/otherapp/blob", ".var/app/org.gone.App/data/save", ".var/app/org.old.App/data/save"})
        writeFile(home() + "/" + file, 8192);
    const size_t count = CleanupCatalog::definitions().size();
    auto model = makeModel();
    SignalCounter measuring(model->cleanup(), &MeasuredListSignals::measuringChanged);
    model->cleanup().measure();
    model->cleanup().measure(); // busy: ignored
    // The list changes under the run before any result arrives.
    auto targets = model->cleanup().items();
    std::erase_if(targets, [](const CleanupTarget& t) { return t.id == "trash"; });
    model->cleanup().setItems(targets);
    std::vector<double> progress;
    QObject::connect(&model->cleanup(), &MeasuredListSignals::progressChanged,
                     [&] { progress.push_back(model->cleanup().progress()); });
    ASSERT_TRUE(waitUntil([&] { return !model->cleanup().isMeasuring(); }));
    CorvaneModelTestAccess::settle(*model);
    ASSERT_EQ(model->cleanup().items().size(), count - 1);
    for (const auto& target : model->cleanup().items()) EXPECT_TRUE(target.scanned) << target.id;
    ASSERT_EQ(progress.size(), count); // one step per result, the vanished target's too
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
    EXPECT_EQ(measuring.count(), 2);

    auto entryOf = [&](const std::string& id, const std::string& rest) {
        for (const auto& target : model->cleanup().items())
            for (const auto& entry : target.entries)
                if (target.id == id && entry.url == home() + "/" + rest) return entry;
        ADD_FAILURE() << id << " " << rest;
        return CleanupEntry{};
    };
    CleanupEntry busy = entryOf("app-caches", ".cache/otherapp");
    busy.inUseBy = "Other";
    Removals::removeCleanupEntries(model->removals(),
                                   {entryOf("thumbnails", ".cache/thumbnails/normal"),
                                    entryOf("app-caches", ".cache/someapp"),
                                    entryOf("flatpak-orphans", ".var/app/org.gone.App"), busy},
                                   RemovalMode::trash);
    ASSERT_TRUE(waitForRemovals(*model));

    const std::string trash = home() + "/.local/share/Trash/files/";
    for (const char* name : {"normal", "someapp", "org.gone.App"}) EXPECT_TRUE(exists(trash + name)) << name;
    EXPECT_TRUE(exists(home() + "/.cache/otherapp/blob"));
    ASSERT_TRUE(model->removals().lastResult());
    EXPECT_EQ(model->removals().lastResult()->succeeded.size(), 3u);
    std::set<std::string> left;
    for (const auto& target : model->cleanup().items())
        for (const auto& entry : target.entries)
            if (entry.url.starts_with(home())) left.insert(entry.url);
    EXPECT_EQ(left, (std::set<std::string>{home() + "/.cache/thumbnails/large", home() + "/.cache/otherapp",
                                           home() + "/.var/app/org.old.App"}));
    CorvaneModelTestAccess::settle(*model);
}

using CategoryRunTest = ModelTest;

TEST_F(CategoryRunTest, MeasuresEveryCategoryResolvesTheRemainderThenListsSystemData) {
    writeFile(home() + "/Documents/report", 2 << 20);
    // The backup folder lies inside Documents; it is never one of its entries.
    writeFile(home() + "/Documents/Vessora Backups/Documents 2026-01-02 0304/report", 1 << 20);
    writeFile(home() + "/Music/song", 1 << 20);
    writeFile(home() + "/.bigcache/blob", 10'500'000);
    const int64_t used = int64_t(5) << 40;
    volumes->volumes = {rootVolume(int64_t(1) << 50, (int64_t(1) << 50) - used)};
    auto model = makeModel();

    std::vector<std::string> events;
    QObject::connect(&model->categories(), &MeasuredListSignals::progressChanged, [&] {
        if (model->categories().progress() == 1.0)
            events.push_back(model->categories().isMeasuring() ? "complete while busy" : "complete after");
    });
    QObject::connect(&model->categories(), &MeasuredListSignals::measuringChanged, [&] {
        if (!model->categories().isMeasuring())
            events.push_back(systemDataAccounted(model->categories().items()) > 0 ? "idle with system data"
                                                                                  : "idle without");
    });

    model->categories().measure();
    ASSERT_TRUE(waitUntil([&] { return !model->categories().isMeasuring(); }, 120000));
    CorvaneModelTestAccess::settle(*model);

    // The last result brings the progress to 1.0, and the run stays busy
    // until the System Data rows are listed.
    EXPECT_EQ(events, (std::vector<std::string>{"complete while busy", "idle with system data"}));
    EXPECT_TRUE(model->categories().lastMeasured());
    for (const auto& category : model->categories().items()) EXPECT_TRUE(category.measured) << category.id();
    EXPECT_EQ(model->categories().find("documents")->size, allocatedSize(home() + "/Documents/report"));
    for (const auto& category : model->categories().items())
        for (const auto& entry : category.entries) EXPECT_EQ(entry.url.find("Vessora Backups"), std::string::npos);
    const auto systemData = model->categories().find("systemData");
    EXPECT_EQ(systemData->size, std::max<int64_t>(0, used - categorisedBytes(model->categories().items())));
    // Besides the home's hidden item, the machine's own large system items.
    int64_t listed = 0;
    std::set<std::string> urls;
    for (const CleanupEntry& entry : systemData->entries) listed += entry.size, urls.insert(entry.url);
    EXPECT_TRUE(urls.count(home() + "/.bigcache"));
    EXPECT_EQ(systemDataAccounted(model->categories().items()), listed);
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
        model->volumes().refresh();
        model->categories().setItems({categoryOf("a", CategoryMeasurement::measured, 600),
                                      categoryOf("rest", CategoryMeasurement::remainder, 77, {}, false)});
        CorvaneModelTestAccess::resolveRemainder(*model);
        EXPECT_EQ(model->categories().find("rest")->size, expected);
        EXPECT_EQ(model->categories().find("rest")->measured, !volumeList.empty());
    }
    CorvaneModelTestAccess::settle(*model);
}

// The application tests use the suite's home folder: the inventory fixed its
// user application folder there when the suite started.
class AppsRunTest : public ::testing::Test {
protected:
    ScopedTables tables{TableSet::macos}; // bundles and their Library leftovers
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
    QObject::connect(&model.apps(), &MeasuredListSignals::itemsChanged, [&] {
        if (!firstListing.empty() || model.apps().items().empty()) return;
        firstAllUnanalysed = true;
        for (const auto& row : model.apps().items()) {
            firstListing.push_back(row.app.name);
            firstAllUnanalysed = firstAllUnanalysed && !row.analyzed && row.bundleSize == 0 && row.leftovers.empty();
        }
    });
    model.apps().measure();
    EXPECT_TRUE(model.apps().isMeasuring());
    ASSERT_TRUE(waitUntil([&] { return !model.apps().isMeasuring(); }));
    CorvaneModelTestAccess::settle(model);

    EXPECT_EQ(firstListing, (std::vector<std::string>{"Alpha", "Beta", "Delta", "Epsilon", "Gamma"}));
    EXPECT_EQ(std::tuple(bool(firstAllUnanalysed), model.apps().progress()), std::tuple(true, 1.0));

    std::vector<std::string> names;
    for (const auto& row : model.apps().items()) {
        names.push_back(row.app.name);
        EXPECT_TRUE(row.analyzed);
    }
    // Gamma outweighs Beta only through a likely leftover; Delta and Epsilon
    // weigh the same and keep their inventory order.
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Gamma", "Beta", "Delta", "Epsilon"}));
    const AppRow& alpha = model.apps().items()[0];
    ASSERT_EQ(alpha.exactLeftovers().size(), 1u);
    ASSERT_EQ(alpha.likelyLeftovers().size(), 1u);
    EXPECT_EQ(alpha.totalSize(), alpha.bundleSize + alpha.exactLeftovers()[0].size + alpha.likelyLeftovers()[0].size);
    EXPECT_EQ(model.apps().items()[3].totalSize(), model.apps().items()[4].totalSize());
}

} // namespace
} // namespace vessora::test
