// The measurement runs: categories, cleanup targets and applications, each
// one coordinating task with a child per definition; results are published
// in completion order, pruned first by any removal made since the run began.

#include "model/CorvaneModel.h"

#include "apps/AppInventory.h"
#include "model/MeasurementRun.h"
#include "model/Pruning.h"
#include "scan/DiskScanner.h"
#include "scan/ScanOptions.h"

#include <algorithm>
#include <chrono>

namespace vessora {

namespace {

const std::string& keyOf(const MeasuredCategory& category) { return category.id(); }
const std::string& keyOf(const CleanupTarget& target) { return target.id; }

} // namespace

template <class T> void CorvaneModel::replaceById(std::vector<T>& list, T value, Signal changed) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (keyOf(list[i]) != keyOf(value)) continue;
        change(
            list,
            [&](auto& elements) {
                if (elements[i] == value) return false;
                elements[i] = std::move(value);
                return true;
            },
            changed);
        return;
    }
}

bool CorvaneModel::beginRun(bool& busy, Signal busyChanged, double& progress, Signal progressChanged) {
    assertMainThread();
    if (busy) return false;
    publish(busy, true, busyChanged);
    publish(progress, 0.0, progressChanged);
    return true;
}

template <class Definition, class Result>
void CorvaneModel::measureInto(const std::vector<Definition>& definitions,
                               std::function<Result(const Definition&)> measure,
                               std::vector<Result> CorvaneModel::*list, Signal listChanged,
                               double CorvaneModel::*progress, Signal progressChanged,
                               std::set<std::string> CorvaneModel::*removedSince) {
    measureEach<Definition, Result>(workers_, definitions, std::move(measure), [=, this](Result result, double done) {
        mainQueue_.post([=, this, result = std::move(result)]() mutable {
            Pruning::prune(result, this->*removedSince);
            excludeBackups(result);
            replaceById(this->*list, std::move(result), listChanged);
            publish(this->*progress, done, progressChanged);
        });
    });
}

void CorvaneModel::measureCategories() {
    if (!beginRun(isMeasuringCategories_, &CorvaneModel::isMeasuringCategoriesChanged, categoryProgress_,
                  &CorvaneModel::categoryProgressChanged))
        return;
    removedDuringCategories_.clear();
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
                    Pruning::prune(result, removedDuringCategories_);
                    excludeBackups(result);
                    replaceById(categories_, std::move(result), &CorvaneModel::categoriesChanged);
                    publish(categoryProgress_, progress, &CorvaneModel::categoryProgressChanged);
                });
            });
            mainQueue_.post([this] {
                resolveRemainder();
                publish(categoryProgress_, 1.0, &CorvaneModel::categoryProgressChanged);
            });
            auto entries = StorageCategories::measureSystemDataEntries(cancelled);
            mainQueue_.post([this, entries = std::move(entries)]() mutable {
                Pruning::prune(entries, removedDuringCategories_);
                excludeBackups(entries);
                removedDuringCategories_.clear();
                for (size_t i = 0; i < categories_.size(); ++i) {
                    if (categories_[i].category.measurement != CategoryMeasurement::remainder) continue;
                    change(
                        categories_,
                        [&](auto& list) {
                            if (list[i].entries == entries) return false;
                            list[i].entries = std::move(entries);
                            return true;
                        },
                        &CorvaneModel::categoriesChanged);
                    break;
                }
                publish(isMeasuringCategories_, false, &CorvaneModel::isMeasuringCategoriesChanged);
                publish(lastCategoryScan_, std::chrono::system_clock::now(), &CorvaneModel::lastCategoryScanChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::resolveRemainder() {
    const auto root = rootVolume();
    if (!root) return;
    for (size_t i = 0; i < categories_.size(); ++i) {
        if (categories_[i].category.measurement != CategoryMeasurement::remainder) continue;
        const int64_t remainder = StorageCategories::remainderSize(volumes_, categories_);
        change(
            categories_,
            [&](auto& list) {
                if (list[i].size == remainder && list[i].measured) return false;
                list[i].size = remainder;
                list[i].measured = true;
                return true;
            },
            &CorvaneModel::categoriesChanged);
        return;
    }
}

void CorvaneModel::measureCleanup() {
    if (!beginRun(isMeasuringCleanup_, &CorvaneModel::isMeasuringCleanupChanged, cleanupProgress_,
                  &CorvaneModel::cleanupProgressChanged))
        return;
    removedDuringCleanup_.clear();
    Async::start(
        tasks_,
        [this, definitions = CleanupCatalog::definitions(), cancelled = stopping(),
         measure = environment_.measureCleanupTarget] {
            measureInto<CleanupTarget, CleanupTarget>(
                definitions, [cancelled, measure](const CleanupTarget& target) { return measure(target, cancelled); },
                &CorvaneModel::cleanupTargets_, &CorvaneModel::cleanupTargetsChanged, &CorvaneModel::cleanupProgress_,
                &CorvaneModel::cleanupProgressChanged, &CorvaneModel::removedDuringCleanup_);
            mainQueue_.post([this] {
                removedDuringCleanup_.clear();
                publish(isMeasuringCleanup_, false, &CorvaneModel::isMeasuringCleanupChanged);
                publish(cleanupProgress_, 1.0, &CorvaneModel::cleanupProgressChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::loadApps() {
    if (!beginRun(isLoadingApps_, &CorvaneModel::isLoadingAppsChanged, appProgress_, &CorvaneModel::appProgressChanged))
        return;
    removedDuringApps_.clear();

    struct Analysis {
        std::string url;
        int64_t bundleSize = 0;
        std::vector<LeftoverItem> leftovers;
    };
    Async::start(
        tasks_,
        [this, includeSystem = includeSystemApps_, cancelled = stopping()] {
            auto installed = AppInventory::scan(includeSystem);
            mainQueue_.post([this, installed] {
                std::vector<AppRow> rows;
                rows.reserve(installed.size());
                for (const auto& app : installed)
                    if (!Pruning::contains(removedDuringApps_, app.url)) rows.push_back(AppRow{app, 0, {}, false});
                publish(apps_, std::move(rows), &CorvaneModel::appsChanged);
            });
            measureEach<InstalledApp, Analysis>(
                workers_, installed,
                [cancelled,
                 others = std::make_shared<const std::vector<InstalledApp>>(installed)](const InstalledApp& app) {
                    Analysis analysis{app.url, AppInventory::size(app, cancelled), {}};
                    analysis.leftovers = LeftoverFinder::leftovers(app, true, *others);
                    return analysis;
                },
                [this](Analysis analysis, double progress) {
                    mainQueue_.post([this, analysis = std::move(analysis), progress]() mutable {
                        Pruning::prune(analysis.leftovers, removedDuringApps_,
                                       [](const LeftoverItem& item) { return item.url; });
                        for (size_t i = 0; i < apps_.size(); ++i) {
                            if (apps_[i].app.url != analysis.url) continue;
                            change(
                                apps_,
                                [&](auto& rows) {
                                    rows[i].bundleSize = analysis.bundleSize;
                                    rows[i].leftovers = std::move(analysis.leftovers);
                                    rows[i].analyzed = true;
                                    return true;
                                },
                                &CorvaneModel::appsChanged);
                            break;
                        }
                        publish(appProgress_, progress, &CorvaneModel::appProgressChanged);
                    });
                });
            mainQueue_.post([this] {
                removedDuringApps_.clear();
                change(
                    apps_,
                    [](auto& rows) {
                        const auto larger = [](const AppRow& a, const AppRow& b) {
                            return a.totalSize() > b.totalSize();
                        };
                        if (std::is_sorted(rows.begin(), rows.end(), larger)) return false;
                        std::stable_sort(rows.begin(), rows.end(), larger);
                        return true;
                    },
                    &CorvaneModel::appsChanged);
                publish(isLoadingApps_, false, &CorvaneModel::isLoadingAppsChanged);
                publish(appProgress_, 1.0, &CorvaneModel::appProgressChanged);
            });
        },
        userInitiatedPriority);
}

} // namespace vessora
