// The owner of the stores: it wires them to the removal queue and to each
// other, and supplies the measurement runs of the three measured lists, each
// one coordinating task with a child per definition; results are published in
// completion order, pruned first by any removal made since the run began.

#include "model/CorvaneModel.h"

#include "apps/AppInventory.h"
#include "catalog/Permissions.h"
#include "model/MeasurementRun.h"
#include "model/Pruning.h"
#include "platform/ItemHandle.h"
#include "support/Paths.h"

#include <QThread>

#include <algorithm>

namespace vessora {

namespace {

std::vector<MeasuredCategory> unmeasuredCategories() {
    std::vector<MeasuredCategory> categories;
    for (auto& definition : StorageCategories::all())
        categories.push_back(MeasuredCategory{std::move(definition), 0, {}, false});
    return categories;
}

template <class T> bool pruneEach(std::vector<T>& items, const Removal& removal, unsigned list) {
    if (!(removal.prunes & list)) return false;
    bool pruned = false;
    for (auto& item : items) pruned |= Pruning::prune(item, removal.paths);
    return pruned;
}

bool pruneApps(std::vector<AppRow>& rows, const Removal& removal) {
    bool pruned = pruneEach(rows, removal, Removal::leftovers);
    if (!(removal.prunes & Removal::uninstalled)) return pruned;
    // A removed bundle takes its row along, even if some leftovers failed;
    // otherwise the row keeps what was not removed.
    if (removal.includeBundle && Pruning::contains(removal.paths, removal.app))
        return std::erase_if(rows, [&](const AppRow& row) { return row.app.url == removal.app; }) > 0 || pruned;
    for (auto& row : rows)
        if (row.app.url == removal.app) return Pruning::prune(row, removal.paths) || pruned;
    return pruned;
}

} // namespace

void AppList::setIncludeSystemApps(bool include) {
    publish(includeSystemApps_, include, &AppList::includeSystemAppsChanged);
}

int64_t categorisedBytes(const std::vector<MeasuredCategory>& categories) {
    int64_t total = 0;
    for (const auto& entry : categories)
        if (entry.category.measurement == CategoryMeasurement::measured) total += entry.size;
    return total;
}

int64_t systemDataAccounted(const std::vector<MeasuredCategory>& categories) {
    for (const auto& entry : categories) {
        if (entry.category.measurement != CategoryMeasurement::remainder) continue;
        int64_t total = 0;
        for (const auto& item : entry.entries) total += item.size;
        return total;
    }
    return 0;
}

CorvaneModel::CorvaneModel(ModelEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment)),
      removals_(tasks_, mainQueue_, environment_.privilegedRunner),
      volumes_(environment_, workers_, mainQueue_, removals_), scan_(tasks_, mainQueue_, removals_),
      history_(tasks_, workers_, mainQueue_, scan_, removals_),
      categories_(
          unmeasuredCategories(), removals_,
          [](auto& items, const Removal& removal) { return pruneEach(items, removal, Removal::categories); },
          [this](CategoryList&) { measureCategories(); },
          [this](MeasuredCategory& category) { excludeBackups(category); }),
      cleanup_(
          CleanupCatalog::definitions(), removals_,
          [](auto& items, const Removal& removal) { return pruneEach(items, removal, Removal::cleanupTargets); },
          [this](CleanupList&) { measureCleanup(); },
          [this](CleanupTarget& target) { excludeBackups(target.entries); }),
      apps_(std::vector<AppRow>{}, removals_, pruneApps, [this](MeasuredList<AppRow>&) { loadApps(); }),
      backup_(tasks_, mainQueue_, removals_) {
    if (!environment_.readVolumes) environment_.readVolumes = [] { return VolumeInfo::current(); };
    if (!environment_.readFullDiskAccess)
        environment_.readFullDiskAccess = [] { return Permissions::hasFullDiskAccess(); };
    if (!environment_.measureCleanupTarget)
        environment_.measureCleanupTarget = [](const CleanupTarget& target, const std::function<bool()>& cancelled) {
            return CleanupCatalog::measure(target, cancelled);
        };
    if (!environment_.listSnapshots)
        environment_.listSnapshots = [](const std::string& volume) { return LocalSnapshot::list(volume); };

    // Scans, coordinators and copies spend their time waiting on the file
    // system or on their children; the pool only needs to be wide enough
    // that a burst of them never waits for a thread.
    tasks_.setMaxThreadCount(64);
    tasks_.setThreadPriority(QThread::HighPriority);
    workers_.setMaxThreadCount(QThread::idealThreadCount());
    workers_.setThreadPriority(QThread::LowPriority);

    // After the lists pruned themselves: the remainder follows the new free space.
    connect(&removals_, &RemovalQueue::removed, this, [this](const Removal& removal) {
        if (removal.prunes & Removal::categories) resolveRemainder();
    });
    connect(&removals_, &RemovalQueue::restored, this, [this](const std::vector<std::string>& paths) {
        followRestored();
        scan_.followRestored(paths);
    });
    connect(&backup_, &BackupReview::backupFoldersChanged, this, [this] {
        categories_.refilter();
        cleanup_.refilter();
        resolveRemainder();
    });
    // Every completed or cancelled scan leaves the free space shown current.
    connect(&scan_, &ScanSession::finished, &volumes_, &VolumesStore::refresh);

    volumes_.refresh();
}

CorvaneModel::~CorvaneModel() {
    stopping_->store(true);
    scan_.cancelRunning();
    // Coordinators wait for their children, so the task pool drains first;
    // nothing starts children once it is empty.
    tasks_.waitForDone();
    workers_.waitForDone();
}

std::function<bool()> CorvaneModel::stopping() const {
    return [flag = stopping_] { return flag->load(std::memory_order_relaxed); };
}

void CorvaneModel::followRestored() {
    // What came back was taken out of the lists at removal.
    const auto& targets = cleanup_.items();
    if (std::any_of(targets.begin(), targets.end(), [](const auto& target) { return target.scanned; }))
        cleanup_.measure();
    if (categories_.lastMeasured()) categories_.measure();
}

void CorvaneModel::excludeBackups(std::vector<CleanupEntry>& entries) const {
    std::erase_if(entries, [this](const CleanupEntry& entry) { return backup_.isInBackupFolder(entry.url); });
}

void CorvaneModel::excludeBackups(MeasuredCategory& category) const {
    int64_t excluded = 0;
    std::erase_if(category.entries, [&](const CleanupEntry& entry) {
        if (!backup_.isInBackupFolder(entry.url)) return false;
        excluded += entry.size;
        return true;
    });
    // A measured category is the sum of its entries; a backup is not the
    // user's documents (or anything else) to clean.
    if (category.category.measurement == CategoryMeasurement::measured)
        category.size = std::max<int64_t>(0, category.size - excluded);
}

// Measurement runs.

void CorvaneModel::measureCategories() {
    Async::start(
        tasks_,
        [this, definitions = StorageCategories::all(), cancelled = stopping()] {
            // One category after another in table order, so that a file with
            // several names counts in the first category that meets it.
            const double total = definitions.empty() ? 1.0 : double(definitions.size());
            size_t done = 0;
            StorageCategories::measureAll(definitions, cancelled, [&](const MeasuredCategory& measured) {
                const double progress = double(++done) / total;
                mainQueue_.post([this, result = measured, progress]() mutable {
                    categories_.deliver(std::move(result), progress);
                });
            });
            mainQueue_.post([this] {
                resolveRemainder();
                categories_.setProgress(1.0);
            });
            auto entries = StorageCategories::measureSystemDataEntries(cancelled);
            mainQueue_.post([this, entries = std::move(entries)]() mutable {
                Pruning::prune(entries, categories_.removedDuring());
                excludeBackups(entries);
                categories_.edit([&](auto& categories) {
                    for (auto& category : categories) {
                        if (category.category.measurement != CategoryMeasurement::remainder) continue;
                        if (category.entries == entries) return false;
                        category.entries = std::move(entries);
                        return true;
                    }
                    return false;
                });
                categories_.finish();
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::resolveRemainder() {
    if (!volumes_.rootVolume()) return;
    const int64_t remainder = StorageCategories::remainderSize(volumes_.volumes(), categories_.items());
    categories_.edit([&](auto& categories) {
        for (auto& category : categories) {
            if (category.category.measurement != CategoryMeasurement::remainder) continue;
            if (category.size == remainder && category.measured) return false;
            category.size = remainder;
            category.measured = true;
            return true;
        }
        return false;
    });
}

void CorvaneModel::measureCleanup() {
    Async::start(
        tasks_,
        [this, definitions = CleanupCatalog::definitions(), cancelled = stopping(),
         measure = environment_.measureCleanupTarget] {
            measureEach<CleanupTarget, CleanupTarget>(
                workers_, definitions,
                [cancelled, measure](const CleanupTarget& target) { return measure(target, cancelled); },
                [this](CleanupTarget result, double progress) {
                    mainQueue_.post([this, result = std::move(result), progress]() mutable {
                        cleanup_.deliver(std::move(result), progress);
                    });
                });
            mainQueue_.post([this] { cleanup_.finish(); });
        },
        userInitiatedPriority);
}

void CorvaneModel::loadApps() {
    struct Analysis {
        std::string url;
        int64_t bundleSize = 0;
        std::vector<LeftoverItem> leftovers;
        ItemIdentity identity;
    };
    Async::start(
        tasks_,
        [this, includeSystem = apps_.includeSystemApps(), cancelled = stopping()] {
            auto installed = AppInventory::scan(includeSystem);
            mainQueue_.post([this, installed] {
                std::vector<AppRow> rows;
                rows.reserve(installed.size());
                for (const auto& app : installed)
                    if (!Pruning::contains(apps_.removedDuring(), app.url)) rows.push_back(AppRow{app, 0, {}, false});
                apps_.setItems(std::move(rows));
            });
            measureEach<InstalledApp, Analysis>(
                workers_, installed,
                [cancelled,
                 others = std::make_shared<const std::vector<InstalledApp>>(installed)](const InstalledApp& app) {
                    // The app's own folder or file is bound to the object measured
                    // when its path is real as listed (no link on the way).
                    const IdentifiedItem item = identify(app.url);
                    const ItemIdentity identity =
                        item.path == Paths::standardize(app.url) ? item.identity : ItemIdentity();
                    Analysis analysis{app.url, AppInventory::size(app, cancelled), {}, identity};
                    analysis.leftovers = LeftoverFinder::leftovers(app, true, *others);
                    return analysis;
                },
                [this](Analysis analysis, double progress) {
                    mainQueue_.post([this, analysis = std::move(analysis), progress]() mutable {
                        Pruning::prune(analysis.leftovers, apps_.removedDuring(),
                                       [](const LeftoverItem& item) { return item.url; });
                        apps_.edit([&](auto& rows) {
                            for (auto& row : rows) {
                                if (row.app.url != analysis.url) continue;
                                row.bundleSize = analysis.bundleSize;
                                row.bundleIdentity = analysis.identity;
                                row.leftovers = std::move(analysis.leftovers);
                                row.analyzed = true;
                                return true;
                            }
                            return false;
                        });
                        apps_.setProgress(progress);
                    });
                });
            mainQueue_.post([this] {
                apps_.edit([](auto& rows) {
                    const auto larger = [](const AppRow& a, const AppRow& b) { return a.totalSize() > b.totalSize(); };
                    if (std::is_sorted(rows.begin(), rows.end(), larger)) return false;
                    std::stable_sort(rows.begin(), rows.end(), larger);
                    return true;
                });
                apps_.finish();
            });
        },
        userInitiatedPriority);
}

} // namespace vessora
