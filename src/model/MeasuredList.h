#pragma once
// One measured list of the model (categories, cleanup targets, applications):
// its elements, whether a run measures them, the run's progress and when it
// last completed. A run replaces elements one by one as results arrive; a
// removal prunes the list when it names it, and while a run measures, what
// any removal took away is also dropped from the results still to come.

#include "model/Pruning.h"
#include "model/RemovalQueue.h"
#include "model/Store.h"
#include "support/Date.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

// The signals of every measured list (a template cannot declare its own).
class MeasuredListSignals : public Store {
    Q_OBJECT
public:
    using Store::Store;
signals:
    void itemsChanged();
    void measuringChanged();
    void progressChanged();
    void lastMeasuredChanged();
};

inline const std::string& keyOf(const MeasuredCategory& category) { return category.id(); }
inline const std::string& keyOf(const CleanupTarget& target) { return target.id; }
inline const std::string& keyOf(const AppRow& row) { return row.id(); }

template <class T> class MeasuredList : public MeasuredListSignals {
public:
    // Starts a run in the background; it reports through deliver, edit and finish.
    using Run = std::function<void(MeasuredList&)>;
    // Takes out of the list what a removal naming it took away; true when
    // anything went.
    using Prune = std::function<bool(std::vector<T>&, const Removal&)>;

    // `filter` drops what never belongs in the list (each result and, on
    // refilter, the whole list pass through it); none keeps everything.
    MeasuredList(std::vector<T> initial, RemovalQueue& removals, Prune prune, Run run,
                 std::function<void(T&)> filter = {}, QObject* parent = nullptr)
        : MeasuredListSignals(parent), items_(std::move(initial)), prune_(std::move(prune)), run_(std::move(run)),
          filter_(std::move(filter)) {
        connect(&removals, &RemovalQueue::removed, this, [this](const Removal& removal) {
            // A run that started before this removal may still hold what it
            // took away; its results are pruned by these paths on their way in.
            if (measuring_) removedDuring_.insert(removal.paths.begin(), removal.paths.end());
            if (prune_)
                change(
                    items_, [&](auto& items) { return prune_(items, removal); }, itemsChanged_);
        });
    }

    const std::vector<T>& items() const { return items_; }
    bool isMeasuring() const { return measuring_; }
    double progress() const { return progress_; } // 0 to 1
    // When a run last completed; none before the first.
    const std::optional<Date>& lastMeasured() const { return lastMeasured_; }
    std::optional<T> find(const std::string& key) const {
        for (const auto& item : items_)
            if (keyOf(item) == key) return item;
        return std::nullopt;
    }

    // A call while a run is busy is ignored.
    void measure() {
        assertMainThread();
        if (measuring_ || !run_) return;
        publish(measuring_, true, &MeasuredListSignals::measuringChanged);
        publish(progress_, 0.0, &MeasuredListSignals::progressChanged);
        removedDuring_.clear();
        run_(*this);
    }

    // For a run, on the main thread. A result replaces the element with its
    // key, once pruned and filtered; without such an element it only counts
    // for the progress.
    void deliver(T value, double progress) {
        Pruning::prune(value, removedDuring_);
        if (filter_) filter_(value);
        for (size_t i = 0; i < items_.size(); ++i) {
            if (keyOf(items_[i]) != keyOf(value)) continue;
            change(
                items_,
                [&](auto& items) {
                    if (items[i] == value) return false;
                    items[i] = std::move(value);
                    return true;
                },
                itemsChanged_);
            break;
        }
        setProgress(progress);
    }
    // An in-place change; `edit` returns whether it changed anything.
    template <class F> void edit(F&& edit) { change(items_, std::forward<F>(edit), itemsChanged_); }
    void setItems(std::vector<T> items) { publish(items_, std::move(items), itemsChanged_); }
    void setProgress(double progress) { publish(progress_, progress, &MeasuredListSignals::progressChanged); }
    // Applies the filter again to every element, after it learnt of more.
    void refilter() {
        if (!filter_) return;
        edit([this](auto& items) {
            bool changed = false;
            for (auto& item : items) {
                const T before = item;
                filter_(item);
                changed |= !(before == item);
            }
            return changed;
        });
    }
    // What removals took away since the run began.
    const Pruning::Removed& removedDuring() const { return removedDuring_; }
    // Ends the run: not busy, progress complete, its time recorded.
    void finish() {
        removedDuring_.clear();
        publish(measuring_, false, &MeasuredListSignals::measuringChanged);
        publish(lastMeasured_, std::chrono::system_clock::now(), &MeasuredListSignals::lastMeasuredChanged);
        setProgress(1.0);
    }

private:
    friend class CorvaneModelTestAccess;

    static constexpr auto itemsChanged_ = &MeasuredListSignals::itemsChanged;

    std::vector<T> items_;
    bool measuring_ = false;
    double progress_ = 0;
    std::optional<Date> lastMeasured_;
    Pruning::Removed removedDuring_;
    Prune prune_;
    Run run_;
    std::function<void(T&)> filter_;
};

} // namespace vessora
