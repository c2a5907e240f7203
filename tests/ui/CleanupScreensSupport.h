#pragma once
// What the cleanup, category and backup review tests share: a temporary home
// with its own Trash and state folder, a real model, and a workspace that
// records what it was asked to reveal or open.

#include "TestSupport.h"
#include "model/CorvaneModel.h"
#include "model/ModelTestSupport.h"
#include "ui/cleanup/UiBits.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

namespace vessora::test {

class ScreenTest : public ::testing::Test {
protected:
    ScreenTest();
    ~ScreenTest() override;

    std::string path(const std::string& relative) const { return dir / relative; }
    // A real entry for a file or folder that exists.
    static CleanupEntry entryFor(const std::string& path);
    // The category row of the table with this id (a bare one when the table
    // has none), measured with `entries`.
    static MeasuredCategory category(const std::string& id, std::vector<CleanupEntry> entries, int64_t size = -1);

    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv data{"XDG_DATA_HOME", dir / "home/.local/share"};
    ScopedEnv state{"XDG_STATE_HOME", dir / "home/.local/state"};
    std::shared_ptr<VolumeStub> volumes = std::make_shared<VolumeStub>();
    std::vector<LocalSnapshot> snapshots;
    std::unique_ptr<CorvaneModel> model;
    std::vector<std::string> revealed, opened;

private:
    UiBits::Workspace savedWorkspace_;
};

// The open modal message box, once one is up; null after the wait.
QMessageBox* waitForMessageBox(int timeoutMs = 5000);
QPushButton* buttonWithText(QWidget* within, const QString& text);

} // namespace vessora::test
