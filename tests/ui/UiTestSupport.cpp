#include "UiTestSupport.h"

#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "scan/DiskScanner.h"

#include <csignal>
#include <sys/wait.h>

namespace vessora::test {

namespace {
// Refuses like a dismissed password dialog, without asking anyone.
struct RefusingRunner : PrivilegedRunner {
    PrivilegedOutcome run(const std::string&) override {
        PrivilegedOutcome outcome;
        outcome.status = PrivilegedOutcome::Status::refused;
        outcome.message = "Request dismissed";
        return outcome;
    }
};

QtMessageHandler previousHandler = nullptr;
bool failOnWarnings = false;
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // The offscreen platform says so for raise() and fixed-size dialogs; no fault of ours.
    if (message.contains(QLatin1String("This plugin does not support"))) return;
    if (failOnWarnings && (type == QtWarningMsg || type == QtCriticalMsg))
        ADD_FAILURE() << "Qt: " << message.toStdString();
    if (previousHandler) previousHandler(type, context, message);
}
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

QMessageBox* waitForMessageBox(int timeoutMs) { return qobject_cast<QMessageBox*>(waitForModal(timeoutMs)); }

QPushButton* buttonWithText(QWidget* within, const QString& text) {
    for (QPushButton* button : within->findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

void press(QWidget* within, const QString& text) {
    if (QPushButton* button = within ? buttonWithText(within, text) : nullptr)
        button->click();
    else
        ADD_FAILURE() << "no button " << text.toStdString();
}

QString visibleOf(QWidget* within, const QStringList& names) {
    QStringList visible;
    for (const QString& name : names)
        if (auto* child = within->findChild<QWidget*>(name); child && child->isVisible()) visible << name;
    return visible.join(' ');
}

void stop(pid_t child) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
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

BrowseTree::BrowseTree(int rows) {
    writeFile(dir / "docs/report.pdf", 2 << 20);
    writeFile(dir / "docs/video.mov", 3 << 20);
    for (int i = 0; i < 3; ++i) writeFile(dir / ("docs/note" + std::to_string(i) + ".txt"), 1000);
    makeDirs(dir / "empty");
    for (int i = 0; i < rows; ++i) writeFile(dir / ("rows/row" + std::to_string(i) + "/file.txt"), 100 + i);
    writeFile(dir / "big.bin", (1 << 20) + 4096);
}

FSNode::Ptr scanned(CorvaneModel& model, const std::string& path) {
    model.scan().start(path);
    const bool done = QTest::qWaitFor([&] { return !model.scan().isScanning(); }, 30000);
    EXPECT_TRUE(done) << "scan of " << path << " did not finish";
    return model.scan().tree();
}

FSNode::Ptr nodeAt(FSNode::Ptr node, const std::string& relative) {
    for (size_t from = 0; node;) {
        const size_t slash = relative.find('/', from);
        const std::string name = relative.substr(from, slash - from);
        FSNode::Ptr child;
        for (const auto& candidate : node->children())
            if (candidate->name() == name) child = candidate;
        node = child;
        if (slash == std::string::npos) break;
        from = slash + 1;
    }
    return node;
}

void installMessageHandler() { previousHandler = qInstallMessageHandler(messageHandler); }
FailOnQtWarnings::FailOnQtWarnings() { failOnWarnings = true; }
FailOnQtWarnings::~FailOnQtWarnings() { failOnWarnings = false; }

UiTest::UiTest() : home_(temp_ / "home"), homeEnv_("HOME", temp_ / "home") {
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

} // namespace vessora::test
