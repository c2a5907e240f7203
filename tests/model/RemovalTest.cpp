#include "ModelTestSupport.h"

#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "removal/RemovalLog.h"
#include "removal/RemovalTexts.h"

#include <algorithm>
#include <filesystem>
#include <future>
#include <unistd.h>

namespace vessora::test {
namespace {

LeftoverItem leftoverAt(const std::string& url, int64_t size) { return {url, "", MatchConfidence::likely, size}; }

class RemovalTest : public ModelTest {
protected:
    std::unique_ptr<CorvaneModel> scanned(const std::string& root) {
        auto model = makeModel();
        model->scan().start(root);
        EXPECT_TRUE(waitUntil([&] { return !model->scan().isScanning(); }));
        return model;
    }
    static FSNodeRef find(const FSNodeRef& node, const std::string& path, bool aggregate = false) {
        if (node->path() == path && node->isAggregate == aggregate) return node;
        for (const auto& child : node->children())
            if (auto found = find(child, path, aggregate)) return found;
        return nullptr;
    }
    static std::vector<std::string> names(const FSNodeRef& node) {
        std::vector<std::string> result;
        for (const auto& child : node->children()) result.push_back(child->name());
        return result;
    }
};

// Records the two steps of each tree edit as the model announces them,
// with what the tree looked like at that moment.
struct TreeEdits {
    explicit TreeEdits(CorvaneModel& model) {
        QObject::connect(&model.scan(), &ScanSession::treeNodesAboutToBeRemoved,
                         [&](const FSNodeRef& parent, const std::vector<int>& rows) {
                             std::string text =
                                 "about " + parent->name() + " of " + std::to_string(parent->children().size()) + ":";
                             for (int row : rows) text += " " + parent->children()[size_t(row)]->name();
                             log.push_back(text + " size " + std::to_string(parent->size));
                         });
        QObject::connect(&model.scan(), &ScanSession::treeNodesRemoved, [&](const FSNodeRef& parent) {
            log.push_back("removed " + parent->name() + " of " + std::to_string(parent->children().size()) + " size " +
                          std::to_string(parent->size));
        });
    }
    std::vector<std::string> log;
};

// The four numbers of a node, as a fresh scan of its path gives them.
auto numbersOf(const FSNode& node) { return std::tuple(node.size, node.logicalSize, node.fileCount, node.dirCount); }
auto freshScan(const std::string& path) {
    ScanStats stats;
    return numbersOf(*DiskScanner::scan(path, ScanOptions{}, stats));
}

TEST_F(RemovalTest, DeletingDetachesNodesInTwoStepsTheTreeFollowsLikeAFreshScanAndFreedIsWhatWent) {
    const std::string root = path("tree");
    writeFile(root + "/a/two", 2 << 20);
    writeFile(root + "/a/three", 3 << 20);
    writeFile(root + "/a/onehalf", 3 << 19);
    writeFiles(root + "/a", 3, 4096, "small");
    writeFile(root + "/b/big", 5 << 19);
    writeFile(root + "/shrank/a", 1 << 20);
    writeFile(root + "/shrank/b", 1 << 20);
    // A link frees its own blocks (a long target takes one), never its target's.
    const std::string target = writeFile(path("elsewhere/" + std::string(200, 't')), 2 << 20);
    ASSERT_EQ(::symlink(target.c_str(), (root + "/link").c_str()), 0);
    auto model = scanned(root);
    const FSNodeRef tree = model->scan().tree();
    const FSNodeRef a = find(tree, root + "/a"), b = find(tree, root + "/b");
    const FSNodeRef two = find(tree, root + "/a/two"), onehalf = find(tree, root + "/a/onehalf");
    const FSNodeRef lump = find(tree, root + "/a", true);
    const FSNodeRef shrank = find(tree, root + "/shrank"), link = find(tree, root + "/link");
    ASSERT_TRUE(a && b && two && lump && onehalf && shrank && link);
    ASSERT_EQ(names(a), (std::vector<std::string>{"three", "two", "onehalf", "3 smaller items"}));
    const int64_t aSize = a->size, gone = two->size + onehalf->size;
    const ScanProgress progress = model->scan().progress();
    const int refreshes = volumes->calls;
    TreeEdits edits(*model);

    // The lump is never removed; a node listed twice is taken out once.
    model->scan().removeNodes({onehalf, two, lump, two}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(*model));

    ASSERT_TRUE(model->removals().lastResult());
    EXPECT_EQ(model->removals().lastResult()->succeeded,
              (std::vector<std::string>{root + "/a/onehalf", root + "/a/two"}));
    EXPECT_EQ(std::tuple(model->removals().lastResult()->bytesFreed, volumes->calls), std::tuple(gone, refreshes + 1));
    EXPECT_EQ(edits.log, (std::vector<std::string>{"about a of 4: two onehalf size " + std::to_string(aSize),
                                                   "removed a of 2 size " + std::to_string(aSize - gone)}));
    EXPECT_EQ(names(a), (std::vector<std::string>{"three", "3 smaller items"}));
    EXPECT_EQ(std::tuple(numbersOf(*a), numbersOf(*tree)), std::tuple(freshScan(root + "/a"), freshScan(root)));
    EXPECT_EQ(model->scan().progress(), progress); // the scan's own figures stay
    // A selection that still holds the node can still read it.
    EXPECT_EQ(std::tuple(two->path(), two->parent()), std::tuple(root + "/a/two", nullptr));

    // A folder that shrank since the scan, and the link: what really went.
    ::unlink((root + "/shrank/b").c_str());
    const int64_t freed = allocatedTreeSize(root + "/shrank") + allocatedSize(root + "/link");
    model->scan().removeNodes({shrank, link}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_EQ(model->removals().lastResult()->succeeded, (std::vector<std::string>{root + "/shrank", root + "/link"}));
    EXPECT_EQ(std::tuple(model->removals().lastResult()->bytesFreed, model->removals().lastResult()->bytesMovedToTrash,
                         model->removals().totalFreedThisSession()),
              std::tuple(freed, 0, gone + freed));
    EXPECT_EQ(readText(target).size(), size_t(2 << 20));
    EXPECT_EQ(numbersOf(*tree), freshScan(root));

    // Changed behind the model's back, then scanned again: the same folder
    // node holds the new subtree and everything above it adds up.
    ::unlink((root + "/a/three").c_str());
    writeFile(root + "/a/new/z", 5 << 19);
    writeFiles(root + "/a/new", 2, 4096);
    model->scan().rescanFolder(a);
    EXPECT_TRUE(model->removals().isRescanning(root + "/a"));
    ASSERT_TRUE(waitUntil([&] { return model->removals().rescanningCount() == 0; }));
    EXPECT_EQ(std::tuple(find(tree, root + "/a"), numbersOf(*a), numbersOf(*tree)),
              std::tuple(a, freshScan(root + "/a"), freshScan(root)));

    // A folder that is gone by the time it is scanned again leaves the tree.
    std::filesystem::remove_all(root + "/b");
    model->scan().rescanFolder(b);
    ASSERT_TRUE(waitUntil([&] { return model->removals().rescanningCount() == 0; }));
    EXPECT_EQ(std::tuple(bool(find(tree, root + "/b")), numbersOf(*tree)), std::tuple(false, freshScan(root)));
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(RemovalTest, AFolderGoesToTheTrashWithItsWholeSizeARefusedNodeStaysAndPutBackRestoresTheTree) {
    const std::string root = path("tree");
    writeFile(root + "/a/big", 2 << 20);
    writeFile(root + "/a/small", 4096);
    writeFile(root + "/b/big", 3 << 20);
    writeFile(root + "/gone", 2 << 20);
    auto model = scanned(root);
    const FSNodeRef tree = model->scan().tree();
    const FSNodeRef b = find(tree, root + "/b");
    const FSNodeRef bBig = find(tree, root + "/b/big");
    const FSNodeRef gone = find(tree, root + "/gone");
    ASSERT_TRUE(b && gone && bBig);
    ::unlink((root + "/gone").c_str()); // removed behind the model's back
    const int64_t rootSize = tree->size;
    TreeEdits edits(*model);

    const int64_t moved = allocatedSize(root + "/b/big");
    // The file inside the folder is gone with it: only the folder is announced.
    model->scan().removeNodes({gone, bBig, b}, RemovalMode::trash);
    ASSERT_TRUE(waitForRemovals(*model));

    ASSERT_TRUE(model->removals().lastResult());
    const RemovalResult removal = *model->removals().lastResult();
    EXPECT_EQ(removal.succeeded, (std::vector<std::string>{root + "/b/big", root + "/b"}));
    // Moved, not freed: nothing counts as reclaimed until the Trash is emptied.
    EXPECT_EQ(std::tuple(removal.bytesFreed, removal.bytesMovedToTrash, model->removals().totalFreedThisSession(),
                         model->removals().totalMovedToTrashThisSession()),
              std::tuple(0, moved, 0, moved));
    ASSERT_EQ(removal.failed.size(), 1u);
    EXPECT_EQ(
        std::tuple(removal.failed[0].path, exists(home() + "/.local/share/Trash/files/b"), tree->size, gone->parent()),
        std::tuple(root + "/gone", true, rootSize - b->size, tree.get()));
    ASSERT_EQ(edits.log.size(), 2u);
    EXPECT_EQ(edits.log[0].rfind("about tree of 3: b size", 0), 0u) << edits.log[0];
    auto left = names(tree);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a", "gone"}));

    // Put Back brings a folder back into the tree without a full scan, and
    // it no longer counts as moved to the Trash.
    model->scan().removeNodes({find(tree, root + "/a")}, RemovalMode::trash);
    ASSERT_TRUE(waitForRemovals(*model));
    ASSERT_FALSE(find(tree, root + "/a/big"));
    SignalCounter scans(model->scan(), &ScanSession::isScanningChanged);
    std::optional<TrashRestore::Outcome> outcome;
    QObject::connect(&model->removals(), &RemovalQueue::putBackFinished,
                     [&](const TrashRestore::Outcome& finished) { outcome = finished; });
    model->removals().putBack(*model->removals().lastResult());
    ASSERT_TRUE(waitUntil([&] { return outcome && model->removals().rescanningCount() == 0; }));
    EXPECT_EQ(outcome->restored, (std::vector<std::string>{root + "/a"}));
    EXPECT_TRUE(find(tree, root + "/a/big"));
    EXPECT_EQ(std::tuple(model->removals().totalMovedToTrashThisSession(), model->scan().tree(), numbersOf(*tree),
                         scans.count()),
              std::tuple(moved, tree, freshScan(root), 0));
    CorvaneModelTestAccess::settle(*model);
}

// Between measuring and removing, another process of the user changes the
// tree: a link is put in place of the item's folder, another folder is
// renamed into the item's place, or the item is replaced by a link. Each
// kind of item the window shows is then refused and nothing is touched.
TEST_F(RemovalTest, AnItemThatChangedSinceItWasShownIsRefusedAndNothingIsTouched) {
    enum Shown { treeNode, cleanupEntry, categoryEntry, leftover };
    enum Change { parentLink, renamedIntoPlace, itemLink };
    int round = 0;
    for (const Shown shown : {treeNode, cleanupEntry, categoryEntry, leftover}) {
        for (RemovalMode mode : allRemovalModes) {
            for (const Change change : {parentLink, renamedIntoPlace, itemLink}) {
                const std::string base = path("round" + std::to_string(round++)), item = base + "/p/item";
                writeFile(item + "/data", 8192, 'i');
                writeFile(base + "/other/item/data", 4096, 'o');
                std::unique_ptr<CorvaneModel> model = shown == treeNode ? scanned(base) : makeModel();
                const FSNodeRef node = shown == treeNode ? find(model->scan().tree(), item) : nullptr;
                const CleanupEntry entry = CleanupCatalog::makeEntry(item, 8192);
                AppRow row;
                row.app.url = path("Applications/Tool" + std::to_string(round));
                row.leftovers = {leftoverAt(item, 0)};
                LeftoverFinder::measureAndSort(row.leftovers, true);
                model->apps().setItems({row});

                // The item (or its folder) moves aside; the other folder, or a link to it, takes its place.
                const std::string aside = change == parentLink ? base + "/moved" : base + "/p/was";
                const std::string replaced = change == parentLink ? base + "/p" : item;
                ASSERT_EQ(::rename(replaced.c_str(), aside.c_str()), 0);
                if (change == renamedIntoPlace) {
                    ASSERT_EQ(::rename((base + "/other/item").c_str(), item.c_str()), 0);
                } else {
                    const std::string to = change == parentLink ? base + "/other" : base + "/other/item";
                    ASSERT_EQ(::symlink(to.c_str(), replaced.c_str()), 0);
                }

                switch (shown) {
                case treeNode: model->scan().removeNodes({node}, mode); break;
                case cleanupEntry: Removals::removeCleanupEntries(model->removals(), {entry}, mode); break;
                case categoryEntry: Removals::removeCategoryEntries(model->removals(), {entry}, mode); break;
                case leftover: Removals::uninstall(model->removals(), row, row.leftovers, false, mode); break;
                }
                ASSERT_TRUE(waitForRemovals(*model));

                const std::string what =
                    std::to_string(shown) + "/" + std::to_string(change) + " " + std::string(displayText(mode));
                ASSERT_TRUE(model->removals().lastResult()) << what;
                const RemovalResult& result = *model->removals().lastResult();
                EXPECT_TRUE(result.succeeded.empty()) << what;
                EXPECT_EQ(result.failed,
                          (std::vector<Failure>{{item, item + " changed since it was shown; scan again."}}))
                    << what;
                EXPECT_EQ(result.bytesFreed + result.bytesMovedToTrash + model->removals().totalFreedThisSession() +
                              model->removals().totalMovedToTrashThisSession(),
                          0)
                    << what;
                // The other folder and the item itself, wherever it went, are whole.
                const std::string other = change == renamedIntoPlace ? item : base + "/other/item";
                EXPECT_EQ(readText(other + "/data"), std::string(4096, 'o')) << what;
                EXPECT_EQ(readText((change == parentLink ? aside + "/item" : aside) + "/data"), std::string(8192, 'i'))
                    << what;
                EXPECT_TRUE(exists(item)) << what;
                EXPECT_FALSE(exists(home() + "/.local/share/Trash/files/item")) << what;
                CorvaneModelTestAccess::settle(*model);
            }
        }
    }
}

CleanupTarget target(const std::string& id, std::vector<std::string> urls) {
    CleanupTarget result;
    result.id = id;
    for (auto& url : urls) result.entries.push_back(CleanupEntry{std::move(url), 4096, std::nullopt});
    result.scanned = true;
    return result;
}

std::vector<std::string> urlsOf(const std::vector<CleanupEntry>& entries) {
    std::vector<std::string> urls;
    for (const auto& entry : entries) urls.push_back(entry.url);
    return urls;
}

TEST_F(RemovalTest, EntriesArePrunedExactlyWhereTheRemovalSucceeded) {
    const std::string folder = path("cache/folder"), file = path("cache/file"), missing = path("cache/missing");
    const std::string plain = path("cache/plain");
    writeFile(folder + "/data", 8192);
    writeFile(plain + "/data", 4096);
    writeFile(file, 4096);
    writeFile(path("cache/other"), 4096);
    auto model = makeModel();
    // Folders written with and without a trailing separator, both ways round.
    model->cleanup().setItems({target("one", {folder, file, missing, plain + "/"}),
                               target("two", {folder + "/", path("cache/other"), plain}), target("three", {file})});

    const std::vector<CleanupEntry> chosen = {
        CleanupEntry{folder + "/", 111, std::nullopt}, CleanupEntry{file, 222, std::nullopt},
        CleanupEntry{missing, 333, std::nullopt}, CleanupEntry{plain, 444, std::nullopt}};
    const int64_t freed = allocatedTreeSize(folder) + allocatedTreeSize(file) + allocatedTreeSize(plain);
    Removals::removeCleanupEntries(model->removals(), chosen, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(*model));

    ASSERT_TRUE(model->removals().lastResult());
    EXPECT_EQ(model->removals().lastResult()->bytesFreed, freed); // what went, not the sizes listed
    const auto& targets = model->cleanup().items();
    ASSERT_EQ(targets.size(), 3u);
    // The third target is kept, though empty.
    EXPECT_EQ((std::vector{urlsOf(targets[0].entries), urlsOf(targets[1].entries), urlsOf(targets[2].entries)}),
              (std::vector<std::vector<std::string>>{{missing}, {path("cache/other")}, {}}));
    EXPECT_EQ(std::tuple(bool(targets[2].scanned), bool(exists(path("cache/other")))), std::tuple(true, true));

    // Category entries: each category that lost some is resummed, then the
    // remainder follows the volume.
    writeFile(path("docs/one"), 4096);
    writeFile(path("docs/two"), 4096);
    writeFile(path("music/song"), 4096);
    const CleanupEntry one{path("docs/one"), 100, std::nullopt}, two{path("docs/two"), 200, std::nullopt};
    const CleanupEntry song{path("music/song"), 400, std::nullopt};
    model->categories().setItems({categoryOf("documents", CategoryMeasurement::measured, 300, {one, two}),
                                  // Its size is not the sum of its entries; it loses none, so it keeps it.
                                  categoryOf("music", CategoryMeasurement::measured, 999, {song}),
                                  categoryOf("systemData", CategoryMeasurement::remainder, 1, {})});

    volumes->volumes = {rootVolume(100000, 60000)}; // the removal frees space
    const int64_t oneSize = allocatedTreeSize(one.url);
    Removals::removeCategoryEntries(model->removals(), {one}, RemovalMode::deleteImmediately);
    ASSERT_TRUE(waitForRemovals(*model));

    EXPECT_FALSE(exists(path("docs/one")));
    EXPECT_EQ(urlsOf(model->categories().find("documents")->entries), (std::vector<std::string>{path("docs/two")}));
    EXPECT_EQ(std::tuple(model->categories().find("documents")->size, model->categories().find("music")->size,
                         model->categories().find("systemData")->size),
              std::tuple(200, 999, 40000 - 200 - 999));
    EXPECT_EQ(model->removals().totalFreedThisSession(), freed + oneSize);
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(RemovalTest, LeftoversOnlyKeepTheRowAndTheBundleDropsItEvenWhenALeftoverFails) {
    const std::string bundle = path("Applications/Tool.app");
    writeFile(bundle + "/Contents/MacOS/Tool", 8192);
    const std::string cache = writeFile(path("Library/Caches/Tool"), 4096);
    const std::string support = path("Library/Application Support/Tool");
    writeFile(support + "/state", 4096);
    AppRow row, other;
    row.app.url = bundle;
    row.app.name = "Tool";
    row.bundleSize = 1234;
    row.leftovers = {leftoverAt(cache, 10), leftoverAt(support, 20), leftoverAt(path("Library/missing"), 30)};
    row.analyzed = true;
    other.app.url = path("Applications/Other.app");
    auto model = makeModel();
    model->apps().setItems({other, row});
    SignalCounter results(model->removals(), &RemovalQueue::lastResultChanged);
    const RemovalMode mode = RemovalMode::deleteImmediately;
    Removals::uninstall(model->removals(), row, {}, false, mode); // nothing chosen: nothing published
    EXPECT_EQ(std::tuple(bool(model->removals().isRemoving()), results.count()), std::tuple(false, 0));

    Removals::uninstall(model->removals(), row, {row.leftovers[1], row.leftovers[2]}, false, mode);
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_EQ(std::tuple(bool(exists(bundle)), bool(exists(support))), std::tuple(true, false));
    ASSERT_EQ(model->apps().items().size(), 2u);
    std::vector<std::string> left;
    for (const auto& item : model->apps().items()[1].leftovers) left.push_back(item.url);
    EXPECT_EQ(left, (std::vector<std::string>{cache, path("Library/missing")}));

    const int64_t freed = allocatedTreeSize(bundle) + allocatedTreeSize(cache);
    Removals::uninstall(model->removals(), row, {row.leftovers[0], row.leftovers[2]}, true, mode);
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_FALSE(exists(bundle));
    EXPECT_EQ(std::tuple(model->removals().lastResult()->succeeded, model->removals().lastResult()->bytesFreed),
              std::tuple(std::vector<std::string>{bundle, cache}, freed));
    ASSERT_EQ(model->apps().items().size(), 1u);
    EXPECT_EQ(model->apps().items()[0].app.url, path("Applications/Other.app"));
    CorvaneModelTestAccess::settle(*model);
}

// Stands in for the system's authentication prompt once `open` lets it go
// on: runs the command as the test's own user (root here, as in CI) with
// plain /bin/sh, or gives the `canned` answer without running anything (a
// dismissed dialog, or the snapshot tool that is absent here reported run).
struct DialogRunner : test::ShellRunner {
    DialogRunner(std::optional<PrivilegedOutcome> canned = {}, std::shared_future<void> open = {})
        : canned(std::move(canned)), open(std::move(open)) {}
    PrivilegedOutcome run(const std::string& command) override {
        if (open.valid()) open.wait();
        if (!canned) return ShellRunner::run(command);
        commands.push_back(command); // read once the model has applied the result
        return *canned;
    }
    std::optional<PrivilegedOutcome> canned;
    std::shared_future<void> open;
};
const PrivilegedOutcome kDismissed{PrivilegedOutcome::Status::refused, -1, "Request dismissed", {}};

class EscalationTest : public RemovalTest {
protected:
    std::unique_ptr<CorvaneModel> modelWith(std::shared_ptr<PrivilegedRunner> runner) {
        auto environment = environmentWith(volumes);
        environment.privilegedRunner = std::move(runner);
        auto model = std::make_unique<CorvaneModel>(std::move(environment));
        AppRow app;
        app.app.url = path("Applications/Tool.app");
        app.leftovers = {leftoverAt(leftover, 10), leftoverAt(path("keep"), 10)};
        model->apps().setItems({app});
        model->cleanup().setItems({target("logs", {entry, path("keep")})});
        model->categories().setItems(
            {categoryOf("documents", CategoryMeasurement::measured, 4096, {CleanupEntry{entry, 4096, {}}})});
        return model;
    }
    void SetUp() override {
        writeFile(leftover + "/data", 4096);
        writeFile(entry, 4096);
        writeFile(path("keep"), 4096);
    }
    const std::string leftover = path("system/Library/Helper");
    const std::string entry = path("system/logs/big.log");
};

TEST_F(EscalationTest, PrunesLeftoversAndCleanupEntriesOnlyAndARefusalRemovesNothing) {
    for (const bool refuse : {false, true}) {
        SetUp(); // the files again, for the second round
        auto runner = std::make_shared<DialogRunner>(refuse ? std::optional(kDismissed) : std::nullopt);
        auto model = modelWith(runner);
        model->removals().escalate({leftover + "/", entry});
        ASSERT_TRUE(waitForRemovals(*model));

        ASSERT_TRUE(model->removals().lastResult());
        EXPECT_EQ(std::tuple(runner->commands.size(), exists(entry), model->removals().lastResult()->needsAdmin.empty(),
                             model->apps().items()[0].leftovers.size(), model->cleanup().items()[0].entries.size()),
                  std::tuple(1u, refuse, true, refuse ? 2u : 1u, refuse ? 2u : 1u));
        // Categories keep the item until they are measured again.
        EXPECT_EQ(urlsOf(model->categories().find("documents")->entries), (std::vector<std::string>{entry}));
        EXPECT_EQ(model->removals().lastResult()->failed,
                  refuse ? (std::vector<Failure>{{leftover, "Request dismissed"}, {entry, "Request dismissed"}})
                         : std::vector<Failure>{});
        EXPECT_EQ(model->removals().lastResult()->succeeded,
                  refuse ? std::vector<std::string>{} : (std::vector<std::string>{leftover, entry}));
        EXPECT_EQ(model->removals().totalFreedThisSession() > 0, !refuse);
        CorvaneModelTestAccess::settle(*model);
    }
}

TEST_F(EscalationTest, TheWindowNeverWaitsAndRemovalsRunInTurn) {
    std::promise<void> dialog;
    auto runner = std::make_shared<DialogRunner>(std::nullopt, dialog.get_future().share());
    auto model = modelWith(runner);
    int idle = 0; // announcements that nothing is left to remove
    QObject::connect(&model->removals(), &RemovalQueue::busyChanged, [&] { idle += !model->removals().isRemoving(); });
    model->removals().escalate({entry}); // the password dialog is up until the test answers it
    Removals::removeCleanupEntries(model->removals(), {CleanupEntry{path("keep"), 4096, std::nullopt}},
                                   RemovalMode::deleteImmediately);
    EXPECT_TRUE(model->removals().isRemoving());
    spin(100);
    EXPECT_TRUE(exists(path("keep"))); // waits its turn behind the escalation
    EXPECT_FALSE(model->removals().lastResult());

    dialog.set_value();
    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_FALSE(exists(entry) || exists(path("keep")));
    EXPECT_EQ(std::tuple(model->removals().lastResult()->succeeded, model->cleanup().items()[0].entries.size()),
              std::tuple(std::vector{path("keep")}, 0u));
    EXPECT_EQ(idle, 1); // busy from the first request to the last result
    CorvaneModelTestAccess::settle(*model);
}

TEST_F(EscalationTest, ADeletedSnapshotLeavesTheListAndAFailureSaysWhich) {
    ScopedTables tables{TableSet::macos}; // Time Machine's tool
    const LocalSnapshot snapshot{"com.apple.TimeMachine.2026-01-02-030405.local", std::nullopt};
    for (const bool refuse : {false, true}) {
        auto runner = std::make_shared<DialogRunner>(
            refuse ? kDismissed : PrivilegedOutcome{PrivilegedOutcome::Status::ran, 0, {}, {}});
        auto listed = std::make_shared<std::vector<LocalSnapshot>>(1, snapshot);
        auto environment = environmentWith(volumes);
        environment.privilegedRunner = runner;
        environment.listSnapshots = [listed](const std::string&) { return *listed; };
        CorvaneModel model(std::move(environment));
        CorvaneModelTestAccess::settle(model);
        ASSERT_EQ(model.volumes().snapshots().size(), 1u);
        if (!refuse) listed->clear(); // what the tool lists once the snapshot is gone

        model.volumes().deleteSnapshot(snapshot);
        ASSERT_TRUE(waitForRemovals(model));
        EXPECT_EQ(runner->commands,
                  (std::vector<std::string>{"/usr/bin/tmutil deletelocalsnapshots '2026-01-02-030405'"}));
        ASSERT_TRUE(model.removals().lastResult());
        EXPECT_EQ(model.removals().lastResult()->failed.size(), refuse ? 1u : 0u);
        EXPECT_EQ(model.volumes().snapshots().size(), refuse ? 1u : 0u);
        CorvaneModelTestAccess::settle(model);
    }
}

TEST_F(RemovalTest, ANodeOnItsWayOutIsShownBusyAndNeverRemovedTwice) {
    const std::string root = path("tree");
    writeFile(root + "/a/f/data", 1 << 20);
    auto model = scanned(root);
    const FSNodeRef f = find(model->scan().tree(), root + "/a/f");
    SignalCounter results(model->removals(), &RemovalQueue::lastResultChanged);

    model->scan().removeNodes({f}, RemovalMode::deleteImmediately);
    // What is inside the node is busy too; its parent is not.
    EXPECT_EQ(std::tuple(model->removals().isBeingRemoved(root + "/a/f"),
                         model->removals().isBeingRemoved(root + "/a/f/data"),
                         model->removals().isBeingRemoved(root + "/a"), model->removals().removingCount()),
              std::tuple(true, true, false, 1u));
    model->scan().removeNodes({f}, RemovalMode::deleteImmediately); // chosen again before the first is done
    Removals::removeCategoryEntries(model->removals(), {CleanupEntry{root + "/a/f", 4096, std::nullopt}},
                                    RemovalMode::trash);
    EXPECT_EQ(model->removals().removingCount(), 1u);

    ASSERT_TRUE(waitForRemovals(*model));
    EXPECT_EQ(std::tuple(results.count(), model->removals().lastResult()->failed.empty(),
                         model->removals().removingCount(), model->removals().isBeingRemoved(root + "/a/f")),
              std::tuple(1, true, 0u, false));
    CorvaneModelTestAccess::settle(*model);
}

} // namespace
} // namespace vessora::test
