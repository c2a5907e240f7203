#pragma once
// The application model: the stores the screens show, around one removal
// queue, and the background machinery they share. Everything lives on the
// main thread; background work computes values and posts them back, and only
// the main thread writes a field.

#include "model/AppRow.h"
#include "model/Async.h"
#include "model/BackupReview.h"
#include "model/HistoryStore.h"
#include "model/MeasuredList.h"
#include "model/ModelEnvironment.h"
#include "model/RemovalQueue.h"
#include "model/ScanSession.h"
#include "model/VolumesStore.h"

#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

using CategoryList = MeasuredList<MeasuredCategory>;
using CleanupList = MeasuredList<CleanupTarget>;

// The installed applications with their sizes and leftovers; whether system
// applications are listed is the Apps screen's choice.
class AppList : public MeasuredList<AppRow> {
    Q_OBJECT
public:
    using MeasuredList<AppRow>::MeasuredList;
    bool includeSystemApps() const { return includeSystemApps_; }
    void setIncludeSystemApps(bool include);
signals:
    void includeSystemAppsChanged();

private:
    bool includeSystemApps_ = false;
};

// Derived values of the categories, computed on every read.
// The sizes of the categories measured as sums (the remainder left out).
int64_t categorisedBytes(const std::vector<MeasuredCategory>& categories);
// The sizes of the entries listed under the remainder category.
int64_t systemDataAccounted(const std::vector<MeasuredCategory>& categories);

class CorvaneModel : public QObject {
    Q_OBJECT
public:
    // Every store starts from its initial values; then the volumes are read.
    explicit CorvaneModel(ModelEnvironment environment = {}, QObject* parent = nullptr);
    // Cancels the scan and, through their cancellation tests, the
    // measurements, then waits for whatever still runs (a backup copy runs to
    // its end). What they post after that is dropped.
    ~CorvaneModel() override;

    RemovalQueue& removals() { return removals_; }
    VolumesStore& volumes() { return volumes_; }
    ScanSession& scan() { return scan_; }
    HistoryStore& history() { return history_; }
    CategoryList& categories() { return categories_; }
    CleanupList& cleanup() { return cleanup_; }
    AppList& apps() { return apps_; }
    BackupReview& backup() { return backup_; }

private:
    friend class CorvaneModelTestAccess;

    // The runs of the three measured lists.
    void measureCategories();
    void measureCleanup();
    void loadApps();
    // The remainder category follows the root volume's used space.
    void resolveRemainder();
    // Drops from a measured list what lies in a backup folder.
    void excludeBackups(MeasuredCategory& category) const;
    void excludeBackups(std::vector<CleanupEntry>& entries) const;
    // Put Back brought items back: the lists measured before measure again.
    void followRestored();
    // Cancellation test handed to engines: true only once the model is going away.
    std::function<bool()> stopping() const;

    ModelEnvironment environment_;
    // Background machinery. The destructor drains both pools before any
    // store goes away; what they post after that is dropped with the queue.
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    Async::MainQueue mainQueue_;
    // Long tasks that mostly wait: scans, the coordinators of measurement
    // runs, backups, removals. Kept apart from the children so that waiting
    // coordinators can never starve the work they wait for.
    QThreadPool tasks_;
    // The per-definition children of measurement runs, and snapshot listings.
    QThreadPool workers_;

    RemovalQueue removals_;
    VolumesStore volumes_;
    ScanSession scan_;
    HistoryStore history_;
    CategoryList categories_;
    CleanupList cleanup_;
    AppList apps_;
    BackupReview backup_;
};

} // namespace vessora
