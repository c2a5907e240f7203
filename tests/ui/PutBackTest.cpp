#include "CleanupScreensSupport.h"
#include "catalog/CleanupCatalog.h"
#include "ui/MainWindow.h"

#include <gtest/gtest.h>

using namespace vessora;
using namespace vessora::test;

// Three files removed to the Trash come back byte for byte from the result
// alert's "Put Back"; a deletion's alert offers no such button.
TEST_F(ScreenTest, ResultAlertPutsBackTheRemovalFromTheTrash) {
    auto updater = makeUpdater();
    MainWindow window(*model, *updater);
    window.show();
    std::vector<CleanupEntry> entries;
    std::vector<std::string> contents;
    for (int i = 0; i < 3; ++i) {
        contents.push_back(std::string(5000 + i * 7000, char('a' + i)));
        entries.push_back(entryFor(writeText(path("home/work/file" + std::to_string(i)), contents.back())));
    }
    Removals::removeCleanupEntries(model->removals(), entries, RemovalMode::trash);
    auto* alert = qobject_cast<QMessageBox*>(waitForModal());
    ASSERT_TRUE(alert);
    for (const auto& entry : entries) EXPECT_FALSE(exists(entry.url));
    QPushButton* putBack = buttonWithText(alert, "Put Back");
    ASSERT_TRUE(putBack);
    putBack->click();
    ASSERT_TRUE(waitUntil([&] { return window.findChild<QMessageBox*>("window.putBackAlert") != nullptr; }));
    auto* report = window.findChild<QMessageBox*>("window.putBackAlert");
    EXPECT_EQ(report->text(), "Put back 3 items.");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(readText(entries[size_t(i)].url), contents[size_t(i)]);
    report->close();
    QCoreApplication::processEvents();

    const CleanupEntry gone = entryFor(writeText(path("home/work/gone"), "x"));
    Removals::removeCleanupEntries(model->removals(), {gone}, RemovalMode::deleteImmediately);
    alert = qobject_cast<QMessageBox*>(waitForModal());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->objectName(), "window.resultAlert");
    EXPECT_FALSE(buttonWithText(alert, "Put Back"));
}
