// How responsive the real window is: time from process start to the first
// paint of the main window, and the event loop's stalls (a 5 ms probe timer)
// while the categories of the current home folder are measured.
//
// Then, when VESSORA_BENCH_FEED is set (with _CA, _TEAM, _PUBKEY and
// _INSTALLED), the stalls while an update is checked, downloaded and verified
// from that feed.
//
// Run offscreen (QT_QPA_PLATFORM=offscreen) with HOME pointing at the tree to
// measure; bench/ui-latency prepares one, and the feed, and runs this.

#include "model/CorvaneModel.h"
#include "ui/MainWindow.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Symbols.h"
#include "update/Updater.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QSslCertificate>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Seconds since this process was started by the kernel (field 22 of
// /proc/self/stat against the system's uptime), so the figure includes the
// dynamic loader and static initialisers, not just main().
double secondsSinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const auto close = stat.rfind(')');
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) startTicks = std::stoull(field);
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return uptime - double(startTicks) / double(sysconf(_SC_CLK_TCK));
}

// Intervals of a 5 ms timer beyond its period are the loop's stalls.
class StallProbe : public QObject {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            stalls_.push_back(std::max<double>(0, (now - last_) / 1e6 - 5));
            last_ = now;
        });
    }
    void start() {
        stalls_.clear();
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    // The time since the last tick counts too: a stall that ends with the
    // work being measured would otherwise never be seen.
    void stop() {
        if (!timer_.isActive()) return;
        timer_.stop();
        stalls_.push_back(std::max<double>(0, (clock_.nsecsElapsed() - last_) / 1e6 - 5));
    }
    double longest() const { return stalls_.empty() ? 0 : *std::max_element(stalls_.begin(), stalls_.end()); }
    double percentile(double p) const {
        if (stalls_.empty()) return 0;
        std::vector<double> sorted = stalls_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
    }
    size_t samples() const { return stalls_.size(); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    std::vector<double> stalls_;
};

// Notes the slowest single event the main thread handled, to tell a slow
// handler from a starved thread.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;
    double slowestMs = 0;
    QString slowest;
    // The end of the first expose of the window: every widget drawn.
    double firstFrame = -1;
    QObject* window = nullptr;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const int type = event->type();
        const bool result = QApplication::notify(receiver, event);
        if (firstFrame < 0 && type == QEvent::Expose && window && receiver == window)
            firstFrame = secondsSinceProcessStart();
        const double ms = timer.nsecsElapsed() / 1e6;
        if (ms > slowestMs) {
            slowestMs = ms;
            slowest =
                QStringLiteral("%1 event %2").arg(QString::fromLatin1(receiver->metaObject()->className())).arg(type);
        }
        return result;
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace vessora;
    TimedApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    Colors::applyScheme(ColorScheme::light);
    Symbols::setUpIconTheme();

    CorvaneModel model;
    // No feed to reach: the silent check fails at once and shows nothing.
    Updater updater(QUrl(QStringLiteral("https://127.0.0.1:9/appcast.json")));
    MainWindow window(model, updater);

    StallProbe probe;
    QElapsedTimer measuring;
    bool sawMeasuring = false;
    QObject::connect(&model.categories(), &MeasuredListSignals::measuringChanged, &application, [&] {
        if (model.categories().isMeasuring()) {
            sawMeasuring = true;
            measuring.start();
            probe.start();
        } else if (sawMeasuring) {
            probe.stop();
            QTimer::singleShot(0, &application, &QApplication::quit);
        }
    });
    window.show();
    application.window = window.windowHandle();
    QTimer::singleShot(300000, &application, [] {
        std::fprintf(stderr, "ui-latency: the measurement did not finish in 5 minutes\n");
        QApplication::exit(1);
    });
    const int status = application.exec();
    if (status != 0) return status;

    std::printf("first frame            %8.3f s after process start (goal 0.5 s)\n", application.firstFrame);
    std::printf("category measurement   %8.3f s, %zu probe ticks\n", measuring.elapsed() / 1000.0, probe.samples());
    std::printf("longest stall          %8.1f ms (goal 50 ms)\n", probe.longest());
    std::printf("p99 stall              %8.1f ms\n", probe.percentile(0.99));
    std::printf("slowest event          %8.1f ms (%s)\n", application.slowestMs, qPrintable(application.slowest));

    const QString feed = qEnvironmentVariable("VESSORA_BENCH_FEED");
    if (feed.isEmpty()) return 0;
    std::ifstream keyFile(qEnvironmentVariable("VESSORA_BENCH_PUBKEY").toStdString());
    const std::string key((std::istreambuf_iterator<char>(keyFile)), {});
    Updater update(QUrl(feed), {{qEnvironmentVariable("VESSORA_BENCH_TEAM").toStdString(), key}},
                   QSslCertificate::fromPath(qEnvironmentVariable("VESSORA_BENCH_CA")));
    update.setBundlePath(qEnvironmentVariable("VESSORA_BENCH_INSTALLED").toStdString());
    QElapsedTimer downloading;
    QObject::connect(&update, &Updater::stateChanged, &application, [&](const UpdateState& state) {
        switch (state.kind()) {
        case UpdateState::Kind::available:
            downloading.start();
            probe.start();
            update.downloadAndStage();
            break;
        case UpdateState::Kind::readyToRelaunch:
        case UpdateState::Kind::failed:
        case UpdateState::Kind::upToDate:
            probe.stop();
            std::printf("update                 %s\n", qPrintable(state.debugText()));
            QTimer::singleShot(0, &application, &QApplication::quit);
            break;
        default: break;
        }
    });
    application.slowestMs = 0;
    update.check(false);
    if (application.exec() != 0) return 1;
    std::printf("update download+checks %8.3f s, %zu probe ticks\n", downloading.elapsed() / 1000.0, probe.samples());
    std::printf("longest stall          %8.1f ms (goal 50 ms)\n", probe.longest());
    std::printf("p99 stall              %8.1f ms\n", probe.percentile(0.99));
    std::printf("slowest event          %8.1f ms (%s)\n", application.slowestMs, qPrintable(application.slowest));
    return 0;
}
