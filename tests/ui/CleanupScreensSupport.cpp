#include "CleanupScreensSupport.h"

#include "catalog/CleanupCatalog.h"
#include "scan/DiskScanner.h"

namespace vessora::test {

ScreenTest::ScreenTest() : model(makeModel()) { model->backup().setBackupRoot(path("backups")); }

std::vector<std::string> ScreenTest::revealed() const {
    std::vector<std::string> paths;
    for (const auto& request : workspace.revealed) paths.insert(paths.end(), request.begin(), request.end());
    return paths;
}

CleanupEntry ScreenTest::entryFor(const std::string& path) {
    return CleanupCatalog::makeEntry(path, DiskScanner::quickSize(path));
}

MeasuredCategory ScreenTest::category(const std::string& id, std::vector<CleanupEntry> entries, int64_t size) {
    int64_t sum = 0;
    for (const auto& entry : entries) sum += entry.size;
    MeasuredCategory measured = measuredCategory(id, size < 0 ? sum : size);
    if (measured.category.title.empty()) measured.category.title = id;
    measured.entries = std::move(entries);
    return measured;
}

QMessageBox* waitForMessageBox(int timeoutMs) { return qobject_cast<QMessageBox*>(waitForModal(timeoutMs)); }

QPushButton* buttonWithText(QWidget* within, const QString& text) {
    for (QPushButton* button : within->findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

} // namespace vessora::test
