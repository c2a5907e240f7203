#include "app/Screenshot.h"

#include "model/CorvaneModel.h"
#include "ui/MainWindow.h"
#include "ui/UpdateDialog.h"
#include "ui/apps/AppsView.h"
#include "ui/browse/BrowseView.h"
#include "ui/browse/OutlineModel.h"
#include "ui/category/BackupReviewDialog.h"
#include "ui/kit/ContrastCheck.h"
#include "ui/kit/Spinner.h"
#include "update/Updater.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScrollArea>
#include <QTreeView>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <map>

namespace vessora {

namespace {

std::optional<UpdateState> sheetState(const std::string& name) {
    static const std::map<std::string, std::function<UpdateState()>> states{
        {"idle", [] { return UpdateState::idle(); }},
        {"checking", [] { return UpdateState::checking(); }},
        {"up-to-date", [] { return UpdateState::upToDate(); }},
        {"available",
         [] {
             return UpdateState::available(
                 QStringLiteral("2.0"), 42,
                 QStringLiteral("Faster category measurement.\nThe Overview shows other volumes.\n"
                                "Removals report every item that needed administrator rights."));
         }},
        {"downloading", [] { return UpdateState::downloading(0.42); }},
        {"ready-to-relaunch", [] { return UpdateState::readyToRelaunch(); }},
        {"failed", [] { return UpdateState::failed(QStringLiteral("The update's signature could not be verified.")); }},
        {"package-managed", [] { return UpdateState::packageManaged(); }},
    };
    auto it = states.find(name);
    if (it == states.end()) return std::nullopt;
    return it->second();
}

// A finished backup of three documents, one of which measured 0 bytes when
// it was copied, into a dated folder below `root`.
PendingRemoval sampleBackup(const std::string& root) {
    PendingRemoval pending;
    pending.destination = root + "/Documents 2026-12-06 1210";
    const std::string home = root.substr(0, root.find("/Documents"));
    const std::vector<std::pair<std::string, std::pair<int64_t, int64_t>>> items{
        {"/Documents/Thesis final.pdf", {48'200'000, 48'200'000}},
        {"/Downloads/holiday-photos.zip", {1'250'000'000, 1'250'000'000}},
        {"/Desktop/notes.txt", {0, 4'096}},
    };
    for (const auto& [relative, sizes] : items) {
        const std::string original = home + relative;
        const std::string name = original.substr(original.rfind('/') + 1);
        pending.items.push_back({original, pending.destination + "/" + name, sizes.first, sizes.second});
        pending.entries.push_back({original, sizes.first, std::nullopt});
        pending.bytes += sizes.second;
    }
    pending.mode = RemovalMode::trash;
    pending.sameVolumeAsSource = true;
    return pending;
}

// Runs the event loop until `done` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

// Saves the picture of `shown`; every text on it must read at least 4.5 to 1
// against its background, or the picture is still saved but the run fails
// and names each faint text.
int save(QWidget* shown, const std::string& file) {
    const QPixmap picture = shown->grab();
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(file.c_str()), "PNG")) {
        std::fprintf(stderr, "Vessora: could not write the screenshot to %s\n", file.c_str());
        return 1;
    }
    const auto faint = ContrastCheck::problems(shown);
    for (const auto& run : faint)
        std::fprintf(stderr, "Vessora: text below 4.5:1 in %s: %s\n", file.c_str(),
                     ContrastCheck::describe(run).toUtf8().constData());
    return faint.empty() ? 0 : 1;
}

// --compare: the scan is compared with a file, or with the previous scan of
// its folder, and the item that grew most is selected.
bool compareForPicture(MainWindow& window, CorvaneModel& model, const std::string& with) {
    std::string file = with;
    if (with == "previous") {
        waitFor([&] { return !model.history().earlierScans().empty(); }, 10000);
        if (model.history().earlierScans().empty()) {
            std::fprintf(stderr, "Vessora: no earlier scan of the folder to compare with\n");
            return false;
        }
        file = model.history().earlierScans().front().file;
    }
    model.history().compareWith(file);
    if (!waitFor([&] { return model.history().comparison() || model.history().scanFileError(); }, 60000) ||
        !model.history().comparison()) {
        std::fprintf(stderr, "Vessora: the comparison could not be made\n");
        return false;
    }
    waitFor([] { return false; }, 300);
    if (auto* browse = window.findChild<BrowseView*>()) {
        const auto& comparison = *model.history().comparison();
        FSNode::Ptr grown;
        for (const auto& child : model.scan().tree()->children())
            if (!grown || comparison.delta(*child) > comparison.delta(*grown)) grown = child;
        if (grown) {
            browse->setSelection(grown);
            browse->outline()->setCurrentIndex(browse->outlineModel()->indexOf(grown.get()));
        }
    }
    waitFor([] { return false; }, 300);
    return true;
}

} // namespace

int Screenshot::run(MainWindow& window, CorvaneModel& model, Updater& updater, const LaunchOptions& options) {
    // Pictures never ask the network: the update sheet shows preview states.
    updater.setChecksAllowed(false);
    Spinner::setFrozen(true);
    const std::string& name = options.section;
    const int timeoutMs = 300000;

    bool started = false;
    QObject::connect(&window, &MainWindow::started, &window, [&] { started = true; });

    std::optional<UpdateState> sheet;
    if (name.rfind("update.", 0) == 0) {
        sheet = sheetState(name.substr(7));
        if (!sheet) {
            std::fprintf(stderr, "Vessora: unknown update sheet state %s\n", name.substr(7).c_str());
            return 1;
        }
    }
    // The backup review is shown over the Documents page, for a sample backup.
    const bool review = name == "backup.review";
    // "overview.snapshots": the Overview scrolled down to its snapshots card.
    const bool snapshots = name == "overview.snapshots";
    std::optional<Section> section = name == "apps" ? Section::category("applications")
                                     : review       ? Section::category("documents")
                                     : snapshots    ? Section::overview()
                                                    : Section::fromId(name);
    if (!sheet && !section) {
        std::fprintf(stderr, "Vessora: unknown section %s\n", name.c_str());
        return 1;
    }

    window.show();
    if (section) window.selectSection(*section);
    if (!waitFor([&] { return started; }, timeoutMs)) {
        std::fprintf(stderr, "Vessora: the window did not start\n");
        return 1;
    }

    if (sheet) {
        window.showUpdateSheet();
        UpdateDialog* dialog = window.updateSheet();
        dialog->setPreviewState(*sheet);
        waitFor([] { return false; }, 300);
        return save(dialog, *options.screenshot);
    }

    // --scan: the folder is scanned first, and the picture waits for the tree.
    if (options.scanPath) model.scan().start(*options.scanPath);

    // The section's first measurement: categories for the Overview and the
    // category pages; for the others, whatever the page started on show.
    QElapsedTimer sinceStart;
    sinceStart.start();
    bool sawBusy = false;
    auto busy = [&] {
        const bool now = model.categories().isMeasuring() || model.cleanup().isMeasuring() ||
                         model.apps().isMeasuring() || model.scan().isScanning();
        sawBusy |= now;
        return now;
    };
    const bool needsCategories = section->kind == Section::Kind::overview || section->kind == Section::Kind::category;
    const bool finished = waitFor(
        [&] {
            if (busy()) return false;
            if (needsCategories) return model.categories().lastMeasured().has_value();
            return sawBusy || sinceStart.elapsed() > 1500;
        },
        timeoutMs);
    if (!finished) {
        std::fprintf(stderr, "Vessora: the measurement did not finish in time\n");
        return 1;
    }
    // Let the last results reach the screen.
    waitFor([] { return false; }, 300);
    if (options.compareWith && !compareForPicture(window, model, *options.compareWith)) return 1;
    // The Apps page shows its largest app in detail.
    if (name == "apps" && !model.apps().items().empty()) {
        if (auto* apps = window.findChild<AppsView*>()) apps->selectApp(model.apps().items().front().app.url);
        waitFor([] { return false; }, 500);
    }
    if (snapshots) {
        auto* scroll = window.findChild<QScrollArea*>(QStringLiteral("overview.scroll"));
        auto* card = window.findChild<QWidget*>(QStringLiteral("overview.snapshots"));
        if (!scroll || !card || !card->isVisible()) {
            std::fprintf(stderr, "Vessora: the Overview shows no snapshots\n");
            return 1;
        }
        scroll->ensureWidgetVisible(card, 0, 24);
        waitFor([] { return false; }, 300);
    }
    if (review) {
        model.backup().setPendingDeletion(sampleBackup(model.backup().backupRoot()));
        BackupReviewDialog* dialog = nullptr;
        waitFor(
            [&] {
                dialog = window.findChild<BackupReviewDialog*>();
                return dialog && dialog->isVisible();
            },
            5000);
        if (!dialog) {
            std::fprintf(stderr, "Vessora: the backup review did not open\n");
            return 1;
        }
        waitFor([] { return false; }, 300);
        return save(dialog, *options.screenshot);
    }
    return save(window.window(), *options.screenshot);
}

} // namespace vessora
