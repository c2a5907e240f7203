#pragma once
// What the widget tests share: a real model on a temporary home folder with a
// volume of known size, an updater that talks to nobody, a Workspace that
// records instead of opening windows, real trees scanned by the real model,
// and waiting on the event loop.

#include "TestSupport.h"
#include "model/CorvaneModel.h"
#include "model/Removals.h"
#include "support/Fmt.h"
#include "ui/category/CategoryDetailView.h"
#include "ui/kit/Workspace.h"
#include "update/Updater.h"

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vessora {

// Arranges model states that only a long run would otherwise reach.
class CorvaneModelTestAccess {
public:
    static void setSnapshots(CorvaneModel& model, std::vector<LocalSnapshot> snapshots) {
        model.volumes_.publish(model.volumes_.snapshots_, std::move(snapshots), &VolumesStore::snapshotsChanged);
    }
    static void setMeasuringCategories(CorvaneModel& model, bool measuring) {
        auto& list = model.categories_;
        list.publish(list.measuring_, measuring, &MeasuredListSignals::measuringChanged);
    }
    static void setTotals(CorvaneModel& model, int64_t freed, int64_t movedToTrash) {
        model.removals_.totalFreed_ = freed;
        model.removals_.totalMovedToTrash_ = movedToTrash;
        emit model.removals_.totalsChanged();
    }
    static void setFullDiskAccess(CorvaneModel& model, bool granted) {
        model.volumes_.publish(model.volumes_.hasFullDiskAccess_, granted, &VolumesStore::hasFullDiskAccessChanged);
    }
};

namespace test {

// Runs the event loop until `condition` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000);
void spin(int milliseconds);
// The modal widget that is open now, waited for.
QWidget* waitForModal(int timeoutMs = 5000);
// The open modal message box, once one is up; null after the wait.
QMessageBox* waitForMessageBox(int timeoutMs = 5000);
QPushButton* buttonWithText(QWidget* within, const QString& text);
// Clicks the button with this text, failing the test when there is none.
void press(QWidget* within, const QString& text);
// The children of `within` with these names that are visible, in the order
// given, joined by spaces.
QString visibleOf(QWidget* within, const QStringList& names);
// Kills and reaps a child the test started.
void stop(pid_t child);

// Records what the window asked the desktop to do.
struct RecordingWorkspace : Workspace {
    std::vector<std::vector<std::string>> revealed;
    std::vector<QUrl> opened;
    std::vector<std::string> running; // bundle ids that count as running
    bool opensAppstream = false;      // some application handles appstream:// links
    bool opens = true;                // false: no program opens anything
    void reveal(const std::vector<std::string>& paths) override { revealed.push_back(paths); }
    bool openUrl(const QUrl& url) override {
        opened.push_back(url);
        return opens;
    }
    bool openPath(const std::string& path) override {
        return openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    bool canOpenScheme(const QString& scheme) override { return opensAppstream && scheme == "appstream"; }
    bool isRunning(const std::string& id) override {
        return std::find(running.begin(), running.end(), id) != running.end();
    }
};

// Records like the above, but asks the desktop's own check (over /proc)
// what runs; in use while it lives.
struct LiveRunningWorkspace : RecordingWorkspace {
    LiveRunningWorkspace() : previous(&Workspace::instance()) { Workspace::setInstance(this); }
    ~LiveRunningWorkspace() override { Workspace::setInstance(previous); }
    bool isRunning(const std::string& id) override { return Workspace::isRunning(id); }
    Workspace* previous;
};

// A root volume of `total` bytes with `free` of them free.
VolumeInfo rootVolume(int64_t total, int64_t free, int64_t available = -1);
// A measured category row of the real table (title, symbol, colour) with a size.
MeasuredCategory measuredCategory(const std::string& id, int64_t size, bool measured = true);

// A temporary folder with a small tree of every kind of row:
//   docs/   two files of their own and a lump of three small ones
//   empty/  an empty folder
//   rows/   `rows` folders of one small file each
//   big.bin a file of its own at the top
struct BrowseTree {
    explicit BrowseTree(int rows = 40);
    std::string root() const { return dir.path(); }
    std::string operator/(const std::string& relative) const { return dir / relative; }
    TempDir dir;
};

// Scans `path` with `model` and waits for the tree.
FSNode::Ptr scanned(CorvaneModel& model, const std::string& path);
// The node at `relative` ("a/b") below `node`, or null.
FSNode::Ptr nodeAt(FSNode::Ptr node, const std::string& relative);

// Drops the offscreen platform's notes; installed once by main().
void installMessageHandler();
// Fails the running test on any Qt warning while it lives (the item model
// tester reports through qWarning).
struct FailOnQtWarnings {
    FailOnQtWarnings();
    ~FailOnQtWarnings();
};

// Every test runs with HOME pointing at a fresh folder, a recording
// Workspace, and an administrator prompt that refuses.
class UiTest : public ::testing::Test {
protected:
    UiTest();
    ~UiTest() override;
    const std::string& home() const { return home_; }
    std::string path(const std::string& relative) const { return temp_ / relative; }

    // The volumes the model reads on its next refresh.
    std::vector<VolumeInfo> volumes{rootVolume(100'000'000'000, 40'000'000'000)};
    std::unique_ptr<CorvaneModel> makeModel();
    // An updater whose feed is a closed port on this machine.
    std::unique_ptr<Updater> makeUpdater();
    RecordingWorkspace workspace;

private:
    TempDir temp_;
    std::string home_;
    ScopedEnv homeEnv_;
};

// The cleanup, category and backup screens: a home with its own Trash and
// state folder, and a real model whose backups go to a folder of the test's own.
class ScreenTest : public UiTest {
protected:
    ScreenTest();

    // A real entry for a file or folder that exists.
    static CleanupEntry entryFor(const std::string& path);
    // The category row of the table with this id (a bare one when the table
    // has none), measured with `entries`.
    static MeasuredCategory category(const std::string& id, std::vector<CleanupEntry> entries, int64_t size = -1);
    // What the category page shows.
    CategoryDetailView::Stores stores() const {
        CorvaneModel& m = *model;
        return {m.categories(), m.cleanup(), m.volumes(), m.backup(), m.removals(), m.scan()};
    }
    // The single paths the workspace was asked to reveal.
    std::vector<std::string> revealed() const;

    ScopedEnv data{"XDG_DATA_HOME", path("home/.local/share")};
    ScopedEnv state{"XDG_STATE_HOME", path("home/.local/state")};
    std::unique_ptr<CorvaneModel> model;
};

} // namespace test
} // namespace vessora
