// Pins everything that changes how widgets look or behave between machines:
// the offscreen platform, the Fusion style, DejaVu Sans 10, the Adwaita icon
// theme and the light palette. A watchdog ends a test that runs too long, so
// a stray modal loop fails the suite instead of hanging it.

#include "TestSupport.h"
#include "apps/AppInventory.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Symbols.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

namespace {

class Watchdog : public ::testing::EmptyTestEventListener {
public:
    explicit Watchdog(int seconds) : limit_(seconds) {
        thread_ = std::thread([this] {
            while (!stop_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                const auto started = started_.load();
                if (started == 0) continue;
                const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
                if (now - started > std::chrono::nanoseconds(std::chrono::seconds(limit_)).count()) {
                    std::fprintf(stderr, "\nWatchdog: %s ran longer than %d s (a modal left open?)\n", name_.c_str(),
                                 limit_);
                    std::fflush(stderr);
                    std::_Exit(1);
                }
            }
        });
    }
    ~Watchdog() override {
        stop_ = true;
        thread_.join();
    }
    void OnTestStart(const ::testing::TestInfo& info) override {
        name_ = std::string(info.test_suite_name()) + "." + info.name();
        started_ = std::chrono::steady_clock::now().time_since_epoch().count();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { started_ = 0; }

private:
    int limit_;
    std::string name_;
    std::atomic<long long> started_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The offscreen platform says so for raise() and fixed-size dialogs; nothing to act on.
QtMessageHandler previousHandler = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    using namespace vessora;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("LC_ALL", "C.UTF-8");
    qunsetenv("VESSORA_COLOR_SCHEME");
    qunsetenv("QT_SCALE_FACTOR");

    previousHandler = qInstallMessageHandler(quietHandler);
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    Symbols::setUpIconTheme();
    QApplication::setPalette(Colors::lightPalette());

    ::testing::InitGoogleTest(&argc, argv);

    // The inventory fixes the user's application folder on first use, so the
    // suite shares one home folder for it; each test then gets its own.
    test::TempDir folder;
    const std::string home = folder / "home";
    test::makeDirs(home + "/Applications");
    test::ScopedEnv homeEnv("HOME", home);
    AppInventory::userAppRoots();

    int seconds = 60;
    if (const char* value = std::getenv("VESSORA_UI_TEST_TIMEOUT")) seconds = std::max(1, std::atoi(value));
    auto* watchdog = new Watchdog(seconds);
    ::testing::UnitTest::GetInstance()->listeners().Append(watchdog);
    const int status = RUN_ALL_TESTS();
    ::testing::UnitTest::GetInstance()->listeners().Release(watchdog);
    delete watchdog;
    return status;
}
