// How responsive the real window is: time from process start to the first
// paint of the main window, and the event loop's stalls (a 5 ms probe timer)
// while the categories of the current home folder are measured.
//
// usage: bench_ui_latency [--color-scheme light|dark]
// Run offscreen (QT_QPA_PLATFORM=offscreen) with HOME pointing at the tree to
// measure; bench/ui-latency prepares one and runs this.

#include "model/CorvaneModel.h"
#include "ui/MainWindow.h"
#include "ui/kit/Colors.h"
#include "ui/kit/Symbols.h"
#include "update/Updater.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QStyleFactory>
#include <QTimer>

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

class PaintWatch : public QObject {
public:
    double firstPaint = -1;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && firstPaint < 0) firstPaint = secondsSinceProcessStart();
        return QObject::eventFilter(watched, event);
    }
};

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
    void stop() { timer_.stop(); }
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

} // namespace

int main(int argc, char** argv) {
    using namespace vessora;
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    Colors::applyScheme(ColorScheme::light);
    Symbols::setUpIconTheme();

    CorvaneModel model;
    // No feed to reach: the silent check fails at once and shows nothing.
    Updater updater(QUrl(QStringLiteral("https://127.0.0.1:9/appcast.json")));
    MainWindow window(model, updater);
    PaintWatch paints;
    window.installEventFilter(&paints);

    StallProbe probe;
    QElapsedTimer measuring;
    bool sawMeasuring = false;
    QObject::connect(&model, &CorvaneModel::isMeasuringCategoriesChanged, &application, [&] {
        if (model.isMeasuringCategories()) {
            sawMeasuring = true;
            measuring.start();
            probe.start();
        } else if (sawMeasuring) {
            probe.stop();
            QTimer::singleShot(0, &application, &QApplication::quit);
        }
    });
    window.show();
    QTimer::singleShot(300000, &application, [] {
        std::fprintf(stderr, "ui-latency: the measurement did not finish in 5 minutes\n");
        QApplication::exit(1);
    });
    const int status = application.exec();
    if (status != 0) return status;

    std::printf("first frame            %8.3f s after process start (goal 0.5 s)\n", paints.firstPaint);
    std::printf("category measurement   %8.3f s, %zu probe ticks\n", measuring.elapsed() / 1000.0, probe.samples());
    std::printf("longest stall          %8.1f ms (goal 50 ms)\n", probe.longest());
    std::printf("p99 stall              %8.1f ms\n", probe.percentile(0.99));
    return 0;
}
