#include "UiTestSupport.h"

#include "catalog/StorageCategories.h"

#include <QElapsedTimer>
#include <QThread>

namespace vessora::test {

namespace {
// Refuses like a dismissed password dialog, without asking anyone.
struct RefusingRunner : PrivilegedRunner {
    PrivilegedOutcome run(const std::string&) override {
        return {PrivilegedOutcome::Status::refused, -1, "Request dismissed"};
    }
};
} // namespace

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void spin(int milliseconds) {
    waitUntil([] { return false; }, milliseconds);
}

QWidget* waitForModal(int timeoutMs) {
    waitUntil([] { return QApplication::activeModalWidget() != nullptr; }, timeoutMs);
    return QApplication::activeModalWidget();
}

VolumeInfo rootVolume(int64_t total, int64_t free, int64_t available) {
    return VolumeInfo{"/", "Test Disk", total, available < 0 ? free : available, free, true, true};
}

MeasuredCategory measuredCategory(const std::string& id, int64_t size, bool measured) {
    MeasuredCategory result;
    for (auto& category : StorageCategories::all())
        if (category.id == id) result.category = category;
    if (result.category.id.empty()) result.category.id = id;
    result.size = size;
    result.measured = measured;
    return result;
}

UiTest::UiTest()
    : home_(temp_ / "home"), homeEnv_("HOME", temp_ / "home"),
      volumeSource_(std::make_shared<std::vector<VolumeInfo>>()) {
    makeDirs(home_);
    Workspace::setInstance(&workspace);
}

UiTest::~UiTest() {
    Workspace::setInstance(nullptr);
    // Nothing a test opened may linger into the next one.
    for (QWidget* widget : QApplication::topLevelWidgets()) widget->close();
    QApplication::processEvents();
}

std::unique_ptr<CorvaneModel> UiTest::makeModel() {
    ModelEnvironment environment;
    environment.readVolumes = [this] { return volumes; };
    environment.readFullDiskAccess = [] { return true; };
    environment.listSnapshots = [](const std::string&) { return std::vector<LocalSnapshot>{}; };
    environment.privilegedRunner = std::make_shared<RefusingRunner>();
    return std::make_unique<CorvaneModel>(std::move(environment));
}

std::unique_ptr<Updater> UiTest::makeUpdater() {
    return std::make_unique<Updater>(QUrl(QStringLiteral("https://127.0.0.1:9/appcast.json")));
}

} // namespace vessora::test
