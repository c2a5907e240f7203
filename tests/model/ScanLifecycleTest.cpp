#include "ModelTestSupport.h"
#include "scan/DiskScanner.h"
#include "scan/ScanHistory.h"

#include <random>

namespace vessora::test {
namespace {

class ScanLifecycleTest : public ModelTest {
protected:
    // Two folders with large files and small ones, and a small file on top.
    void makeTree(const std::string& root) {
        writeFile(root + "/a/big", 2 << 20);
        writeFiles(root + "/a", 5, 4096, "small");
        writeFile(root + "/b/big", 3 << 19);
        writeFile(root + "/top", 8192);
    }
    // Enough entries that a scan is still walking when the test acts.
    void makeWideTree(const std::string& root, int folders = 8, int filesPerFolder = 1000) {
        for (int f = 0; f < folders; ++f) writeFiles(root + "/d" + std::to_string(f), filesPerFolder, 0);
    }
    bool waitForScanEnd(CorvaneModel& model) {
        return waitUntil([&] { return !model.scan().isScanning(); });
    }
    // The two scan states: idle has no statistics and no timer; scanning has both.
    static void expectConsistent(CorvaneModel& model) {
        EXPECT_EQ(model.scan().isScanning(), CorvaneModelTestAccess::scanStats(model) != nullptr);
        EXPECT_EQ(model.scan().isScanning(), CorvaneModelTestAccess::hasProgressTimer(model));
    }
};

TEST_F(ScanLifecycleTest, ACompletedScanPublishesTheSortedTreeAndItsCounters) {
    const std::string root = path("tree");
    makeTree(root);
    auto model = makeModel();
    const int refreshesBefore = volumes->calls;

    model->scan().start(root);
    EXPECT_EQ(model->scan().progress().currentPath, root);
    expectConsistent(*model);
    ASSERT_TRUE(waitForScanEnd(*model));
    ASSERT_NE(model->scan().tree(), nullptr);
    const ScanProgress& done = model->scan().progress();
    EXPECT_EQ(std::tuple(model->scan().tree()->path(), done.bytes, done.files, done.currentPath),
              std::tuple(root, model->scan().tree()->size, 8, ""));
    EXPECT_GT(done.elapsed, 0);
    expectConsistent(*model);
    EXPECT_EQ(volumes->calls, refreshesBefore + 1);
    // Sorted before publication: largest first.
    EXPECT_EQ(model->scan().tree()->children().back()->name(), "top");

    // Without a path the scan root is scanned again.
    model->scan().setScanRootPath(root + "/a");
    model->scan().start();
    ASSERT_TRUE(waitForScanEnd(*model));
    EXPECT_EQ(model->scan().tree()->path(), root + "/a");
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(ScanLifecycleTest, TheTimerCopiesTheCountersAndATickAfterTheEndChangesNothing) {
    makeDirs(path("empty"));
    auto model = makeModel();
    model->scan().start(path("empty"));
    // Scanning until this test returns to the event loop, whatever the walk does.
    const auto stats = CorvaneModelTestAccess::scanStats(*model);
    stats->addProgress(7, 70000);
    stats->addUnreadable(2);
    stats->setCurrent("/somewhere");

    CorvaneModelTestAccess::sampleProgress(*model);
    EXPECT_EQ(model->scan().progress(), (ScanProgress{7, 70000, 2, "/somewhere", model->scan().progress().elapsed}));

    ASSERT_TRUE(waitForScanEnd(*model));
    // The end takes the counts from the statistics and the bytes from the tree.
    const ScanProgress& end = model->scan().progress();
    EXPECT_EQ(std::tuple(end.files, end.unreadable, end.bytes), std::tuple(7, 2, 0));

    SignalCounter progress(model->scan(), &ScanSession::progressChanged);
    CorvaneModelTestAccess::sampleProgress(*model);
    spin(450); // two periods of a timer that must be gone
    EXPECT_EQ(progress.count(), 0);
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(ScanLifecycleTest, CancellingOrRestartingEndsTheScanAtOnceAndItsTaskChangesNothingLater) {
    makeTree(path("small"));
    makeWideTree(path("wide"));
    auto model = makeModel();
    model->scan().start(path("small"));
    ASSERT_TRUE(waitForScanEnd(*model));

    model->scan().start(path("wide"));
    auto stats = CorvaneModelTestAccess::scanStats(*model);
    const int refreshesBefore = volumes->calls;
    model->scan().cancel();
    EXPECT_EQ(
        std::tuple(stats->isCancelled(), model->scan().tree(), model->scan().progress().currentPath, volumes->calls),
        std::tuple(true, nullptr, "", refreshesBefore + 1));
    expectConsistent(*model);
    SignalCounter scanning(model->scan(), &ScanSession::isScanningChanged);
    CorvaneModelTestAccess::settle(*model); // the cancelled task publishes and refreshes nothing
    EXPECT_EQ(std::tuple(model->scan().tree(), volumes->calls, scanning.count()),
              std::tuple(nullptr, refreshesBefore + 1, 0));

    // A start while scanning ends the running scan and starts clean.
    model->scan().start(path("wide"));
    stats = CorvaneModelTestAccess::scanStats(*model);
    CorvaneModelTestAccess::sampleProgress(*model);
    model->scan().start(path("small"));
    EXPECT_TRUE(stats->isCancelled());
    ASSERT_TRUE(model->scan().isScanning());
    EXPECT_FALSE(CorvaneModelTestAccess::scanStats(*model)->isCancelled());
    EXPECT_EQ(model->scan().progress(), (ScanProgress{0, 0, 0, path("small"), 0}));
    ASSERT_TRUE(waitForScanEnd(*model));
    CorvaneModelTestAccess::settle(*model);
    EXPECT_EQ(model->scan().tree()->path(), path("small"));
    expectConsistent(*model);
}

// Starts, cancels and restarts in a tight loop. Scans cancelled by a newer
// start finish their walks while the newer scan runs; none of them may end it.
TEST_F(ScanLifecycleTest, AStartCancelLoopEndsWithTheLastScansTree) {
    makeWideTree(path("wide"), 6, 800);
    makeTree(path("small"));
    makeTree(path("last"));
    auto model = makeModel();

    bool ownCall = false;
    int foreignEnds = 0;
    QObject::connect(&model->scan(), &ScanSession::isScanningChanged, [&] {
        // A scan may only end by our own call or with its tree.
        if (!model->scan().isScanning() && !ownCall && model->scan().tree() == nullptr) ++foreignEnds;
    });
    std::mt19937 random(7);
    for (int step = 0; step < 60; ++step) {
        ownCall = true;
        switch (random() % 4) {
        case 0: model->scan().start(path("wide")); break;
        case 1: model->scan().start(path("small")); break;
        case 2: model->scan().cancel(); break;
        default: model->scan().start(); break;
        }
        ownCall = false;
        expectConsistent(*model);
        spin(int(random() % 4));
        expectConsistent(*model);
    }
    ownCall = true;
    model->scan().start(path("last"));
    ownCall = false;
    ASSERT_TRUE(waitForScanEnd(*model));
    CorvaneModelTestAccess::settle(*model);
    ASSERT_NE(model->scan().tree(), nullptr);
    EXPECT_EQ(std::tuple(model->scan().tree()->path(), foreignEnds), std::tuple(path("last"), 0));
    expectConsistent(*model);
}

// Every completed scan is kept unless that is switched off (a setting a new
// model reads back); an earlier scan annotates the tree and is made again
// after a removal; a scan of another folder is refused; a file that cannot
// be read is named and skipped; Forget removes every saved scan.
TEST_F(ScanLifecycleTest, ScansAreKeptComparedAndForgotten) {
    const std::string root = path("tree");
    makeTree(root);
    auto model = makeModel();
    const std::string folder = home() + "/.local/state/vessora/scans";
    auto saved = [&] { return ScanHistory::list(folder).scans.size(); };
    model->scan().start(root);
    ASSERT_TRUE(waitUntil([&] { return model->history().shownScan() && !model->history().shownScan()->file.empty(); }));
    EXPECT_EQ(saved(), 1u);

    model->history().setKeepsHistory(false);
    model = makeModel();
    EXPECT_FALSE(model->history().keepsHistory());
    model->scan().start(root);
    ASSERT_TRUE(waitForScanEnd(*model));
    CorvaneModelTestAccess::settle(*model);
    EXPECT_EQ(saved(), 1u);
    model->history().setKeepsHistory(true);

    // Changed and scanned again: compared with the first scan.
    writeFile(root + "/c/new", 3 << 20);
    model->scan().start(root);
    ASSERT_TRUE(waitUntil([&] { return !model->scan().isScanning() && !model->history().earlierScans().empty(); }));
    const SavedScanInfo first = model->history().earlierScans().back();
    model->history().compareWith(first.file);
    ASSERT_TRUE(waitUntil([&] { return model->history().comparison() != nullptr; }));
    const auto comparison = model->history().comparison();
    EXPECT_EQ(comparison->laterTree(), model->scan().tree());
    const FSNodeRef a = model->scan().tree()->children()[1], c = model->scan().tree()->children()[0];
    ASSERT_EQ(c->name(), "c");
    EXPECT_EQ(comparison->change(*c), ScanComparison::Change::added);
    EXPECT_EQ(comparison->change(*a), ScanComparison::Change::same);

    // Removed from the compared tree: the comparison is made again, and
    // what went is now gone since the earlier scan.
    model->scan().removeNodes({a}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(*model));
    ASSERT_TRUE(waitUntil([&] { return model->history().comparison() != comparison; }));
    const auto& gone = model->history().comparison()->goneFrom(*model->scan().tree());
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0]->name(), "a");

    // A scan of another folder is not compared with this one.
    writeFile(path("other/f"), 2 << 20);
    ScanStats stats;
    std::string error;
    ASSERT_TRUE(ScanHistory::save(SavedScan{path("other"), 5, "test", DiskScanner::scan(path("other"), {}, stats)},
                                  folder, error));
    model->history().compareWith(ScanHistory::list(folder, path("other")).scans.at(0).file);
    ASSERT_TRUE(waitUntil([&] { return model->history().scanFileError().has_value(); }));
    EXPECT_NE(model->history().scanFileError()->find("is a scan of " + path("other")), std::string::npos);

    writeText(folder + "/damaged.vscan", "x");
    model->scan().start(root); // each scan lists the history again
    ASSERT_TRUE(waitUntil([&] { return !model->history().historyProblems().empty(); }));
    model->history().forgetHistory();
    ASSERT_TRUE(
        waitUntil([&] { return model->history().earlierScans().empty() && ScanHistory::list(folder).scans.empty(); }));
    CorvaneModelTestAccess::settle(*model);
}

} // namespace
} // namespace vessora::test
