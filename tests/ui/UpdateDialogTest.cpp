// The update sheet: each state's title and buttons, notes only when there are
// some, and closing buttons that leave the updater alone.

#include "UiTestSupport.h"
#include "ui/MainWindow.h"
#include "ui/UpdateDialog.h"
#include "update/UpdateLog.h"

namespace vessora::test {
namespace {

QStringList buttonTexts(UpdateDialog& dialog) {
    QStringList texts;
    for (auto* button : dialog.findChildren<QPushButton*>())
        if (button->isVisibleTo(&dialog) && button->objectName() != QStringLiteral("update.showLog"))
            texts << button->text();
    return texts;
}

using UpdateDialogTest = UiTest;

TEST_F(UpdateDialogTest, EachStateHasItsTitleBodyAndButtonsAndShowLogFallsBackToTheSheet) {
    auto updater = makeUpdater();
    UpdateDialog dialog(*updater);
    dialog.show();
    const QString available = "Version 2.0 (build 42) is available";
    const QStringList again{"Check Again", "Done"}, install{"Not Now", "Download and Install"};
    // The state, its title and buttons, and whether it shows notes, a progress bar and "Show Log".
    const std::vector<std::tuple<UpdateState, QString, QStringList, bool, bool, bool>> cases{
        {UpdateState::idle(), "Updates", again, false, false, false},
        {UpdateState::checking(), "Checking for updates", {"Cancel"}, false, true, false},
        {UpdateState::upToDate(), "Vessora is up to date", again, false, false, false},
        {UpdateState::available("2.0", 42, QStringLiteral("Notes")), available, install, true, false, false},
        {UpdateState::available("2.0", 42, QStringLiteral("")), available, install, false, false, false},
        {UpdateState::downloading(0.5), "Downloading", {"Cancel"}, false, true, false},
        {UpdateState::readyToRelaunch(), "Ready to install", {"Later", "Relaunch Now"}, false, false, false},
        // A package manager keeps this copy up to date: nothing to check or download.
        {UpdateState::packageManaged(), "Updates", {"Done"}, false, false, false},
        {UpdateState::failed("<b>bad</b> & worse"), "Could not update", again, false, false, true},
    };
    for (const auto& [state, title, buttons, notes, progress, showLog] : cases) {
        dialog.setPreviewState(state);
        spin(20); // replaced widgets go on the next turn
        SCOPED_TRACE(state.debugText().toStdString());
        EXPECT_EQ(std::tuple(dialog.title(), buttonTexts(dialog),
                             dialog.findChild<QScrollArea*>(QStringLiteral("update.notes")) != nullptr,
                             dialog.findChild<QProgressBar*>(QStringLiteral("update.progress")) != nullptr,
                             dialog.findChild<QPushButton*>(QStringLiteral("update.showLog")) != nullptr),
                  std::tuple(title, buttons, notes, progress, showLog));
    }
    // The failure message is shown as it is, markup and all.
    auto shows = [&](const QString& text) {
        const auto labels = dialog.findChildren<QLabel*>();
        return std::any_of(labels.begin(), labels.end(),
                           [&](QLabel* l) { return l->text() == text && l->textFormat() == Qt::PlainText; });
    };
    EXPECT_TRUE(shows(QStringLiteral("<b>bad</b> & worse")));
    dialog.setPreviewState(UpdateState::packageManaged());
    spin(20);
    EXPECT_TRUE(shows(Updater::packageManagedMessage()));
    // A length nobody knows gives a busy bar.
    dialog.setPreviewState(UpdateState::downloading(-1));
    auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("update.progress"));
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->maximum(), 0);

    // Where no program opens the log, "Show Log" shows its last lines in the sheet.
    ScopedEnv state("XDG_STATE_HOME", path("state"));
    for (int i = 1; i <= 50; ++i) UpdateLog::append("line " + std::to_string(i));
    dialog.setPreviewState(UpdateState::failed("The download made no progress for 60 seconds and was stopped."));
    workspace.opens = false;
    press(&dialog, "Show Log");
    ASSERT_EQ(workspace.opened.size(), 1u);
    auto* lines = dialog.findChild<QPlainTextEdit*>(QStringLiteral("update.logTail"));
    ASSERT_TRUE(lines);
    const QString text = lines->toPlainText();
    EXPECT_TRUE(text.endsWith(QStringLiteral(" line 50\n"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral(" line 10\n"))) << text.toStdString();
}

TEST_F(UpdateDialogTest, CancelHidesTheSheetWhileTheUpdaterGoesOnAndReopeningShowsTheNewState) {
    auto model = makeModel();
    auto updater = makeUpdater();
    MainWindow window(*model, *updater);
    bool started = false;
    QObject::connect(&window, &MainWindow::started, [&] { started = true; });
    window.show();
    // The silent launch check ends first, so it cannot end the user's check for it.
    ASSERT_TRUE(waitUntil([&] { return started && updater->state().kind() == UpdateState::Kind::idle; }));
    window.checkForUpdatesAction()->trigger();
    UpdateDialog* sheet = window.updateSheet();
    ASSERT_TRUE(sheet);
    ASSERT_EQ(updater->state().kind(), UpdateState::Kind::checking);
    EXPECT_EQ(sheet->title(), QStringLiteral("Checking for updates"));
    press(sheet, QStringLiteral("Cancel"));
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(updater->state().kind(), UpdateState::Kind::checking);
    // The feed's port is closed: the check still ends, on its own.
    ASSERT_TRUE(waitUntil([&] { return updater->state().kind() == UpdateState::Kind::failed; }));
    EXPECT_FALSE(sheet->isVisible());
    window.showUpdateSheet();
    EXPECT_TRUE(window.updateSheet()->isVisible());
    EXPECT_EQ(window.updateSheet()->title(), QStringLiteral("Could not update"));
}

} // namespace
} // namespace vessora::test
