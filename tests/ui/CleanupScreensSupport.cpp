#include "CleanupScreensSupport.h"

#include "catalog/CleanupCatalog.h"
#include "scan/DiskScanner.h"

#include <QTest>

namespace vessora::test {

ScreenTest::ScreenTest() : savedWorkspace_(UiBits::workspace()) {
    makeDirs(dir / "home");
    volumes->volumes = {rootVolume(100'000'000'000, 40'000'000'000)};
    ModelEnvironment environment = environmentWith(volumes);
    environment.listSnapshots = [this](const std::string&) { return snapshots; };
    model = std::make_unique<CorvaneModel>(environment);
    model->setBackupRoot(dir / "backups");
    UiBits::workspace().reveal = [this](const std::string& p) { revealed.push_back(p); };
    UiBits::workspace().open = [this](const std::string& p) { opened.push_back(p); };
}

ScreenTest::~ScreenTest() {
    // Dialogs and alerts still up belong to this test alone.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isWindow() && widget->isVisible()) widget->close();
    QCoreApplication::processEvents();
    CorvaneModelTestAccess::settle(*model);
    UiBits::workspace() = savedWorkspace_;
}

CleanupEntry ScreenTest::entryFor(const std::string& path) {
    return CleanupCatalog::makeEntry(path, DiskScanner::quickSize(path));
}

MeasuredCategory ScreenTest::category(const std::string& id, std::vector<CleanupEntry> entries, int64_t size) {
    MeasuredCategory measured;
    for (const auto& definition : StorageCategories::all())
        if (definition.id == id) measured.category = definition;
    if (measured.category.id.empty()) {
        measured.category.id = id;
        measured.category.title = id;
    }
    int64_t sum = 0;
    for (const auto& entry : entries) sum += entry.size;
    measured.size = size < 0 ? sum : size;
    measured.entries = std::move(entries);
    measured.measured = true;
    return measured;
}

QMessageBox* waitForMessageBox(int timeoutMs) {
    QMessageBox* box = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            return box != nullptr;
        },
        timeoutMs);
    return box;
}

QPushButton* buttonWithText(QWidget* within, const QString& text) {
    for (QPushButton* button : within->findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

} // namespace vessora::test
