#pragma once
// Scan history and comparison: each completed scan is saved off the main
// thread, earlier scans of the shown folder are listed, and one of them (or
// a scan opened from a file) annotates the shown tree with what changed.

#include "model/RemovalQueue.h"
#include "model/ScanSession.h"
#include "model/Store.h"
#include "scan/SavedScan.h"
#include "scan/ScanArchive.h"
#include "scan/ScanComparison.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vessora {

class HistoryStore : public Store {
    Q_OBJECT
public:
    HistoryStore(QThreadPool& tasks, QThreadPool& workers, Async::MainQueue& mainQueue, ScanSession& scan,
                 RemovalQueue& removals, QObject* parent = nullptr);

    // Every completed scan is saved (ScanHistory's folder) unless the user
    // turned that off; the setting survives restarts.
    bool keepsHistory() const { return keepsHistory_; }
    void setKeepsHistory(bool keep);
    // Removes every saved scan, in the background.
    void forgetHistory();
    // The saved scans of the shown tree's folder, newest first, the shown
    // scan itself left out. Read again after each scan, save and forget.
    const std::vector<SavedScanInfo>& earlierScans() const { return earlierScans_; }
    // What could not be read or saved ("FILE: reason"); such files are skipped.
    const std::vector<std::string>& historyProblems() const { return historyProblems_; }
    // The shown tree as a scan: its folder and time (and file, once saved).
    const std::optional<SavedScanInfo>& shownScan() const { return shownScan_; }

    // Compares the shown tree with the scan in `file` (a saved scan or an
    // export) of the same folder, loaded in the background. The tree stays
    // the one browsed and removed from; the comparison annotates it, and is
    // made again after each removal or folder scanned again.
    void compareWith(const std::string& file);
    // Opens the scan in `file`: compared with the shown tree when it is of
    // the same folder, otherwise shown itself in place of the tree.
    void openScan(const std::string& file);
    void stopComparing();
    const std::shared_ptr<const ScanComparison>& comparison() const { return comparison_; }
    // The earlier scan of the comparison (also while it is being made).
    const std::optional<SavedScanInfo>& comparedWith() const { return comparedWith_; }
    bool isLoadingScan() const { return isLoadingScan_; }
    // Why the last scan file asked for could not be used; cleared by its alert.
    const std::optional<std::string>& scanFileError() const { return scanFileError_; }
    void setScanFileError(std::optional<std::string> error);

signals:
    void keepsHistoryChanged();
    void earlierScansChanged();
    void shownScanChanged();
    void comparisonChanged();
    void isLoadingScanChanged();
    void scanFileErrorChanged();

private:
    friend class ScanSession;

    std::string folder() const;
    // What the scan task saves, made from the tree before it is published.
    // Without `withBody` only what describes the scan (its root and time).
    // Called off the main thread; reads nothing that changes.
    std::shared_ptr<ScanArchive::Prepared> prepare(const FSNodeRef& tree, bool withBody) const;
    // On the scan task, after the tree went to the main thread.
    void save(std::shared_ptr<ScanArchive::Prepared> prepared, const std::string& folder);
    // After the session published a scanned tree.
    void scanPublished(const SavedScanInfo& shown);
    // Lists the saved scans of the shown folder again, in the background.
    void refreshHistory();
    // Compares again (after an edit of the tree, or a new tree).
    void recompare();
    void loadScanFile(const std::string& file, bool mayReplaceTree);

    QThreadPool& tasks_;
    QThreadPool& workers_;
    Async::MainQueue& mainQueue_;
    ScanSession& scan_;
    RemovalQueue& removals_;

    bool keepsHistory_ = true;
    std::vector<SavedScanInfo> earlierScans_;
    std::vector<std::string> historyProblems_;
    std::optional<SavedScanInfo> shownScan_;
    std::shared_ptr<const ScanComparison> comparison_;
    std::optional<SavedScanInfo> comparedWith_;
    std::optional<SavedScan> earlierScan_; // the tree compared with
    bool comparisonQueued_ = false;
    bool isLoadingScan_ = false;
    std::optional<std::string> scanFileError_;
    std::string historySource_; // "Vessora 0.1.0"
};

} // namespace vessora
