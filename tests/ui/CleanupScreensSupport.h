#pragma once
// What the cleanup, category and backup review tests share: a temporary home
// with its own Trash and state folder, a real model whose backups go to a
// folder of the test's own, and finding the buttons of open message boxes.

#include "UiTestSupport.h"
#include "ui/category/CategoryDetailView.h"

#include <QMessageBox>
#include <QPushButton>

namespace vessora::test {

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

// The open modal message box, once one is up; null after the wait.
QMessageBox* waitForMessageBox(int timeoutMs = 5000);
QPushButton* buttonWithText(QWidget* within, const QString& text);

} // namespace vessora::test
