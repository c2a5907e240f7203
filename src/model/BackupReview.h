#pragma once
// Back up first, then remove on confirmation: the copy runs in the
// background, a verified copy waits as the pending deletion, and the folders
// backups go to are kept out of every measured list.

#include "backup/Archiver.h"
#include "backup/PendingDeletion.h"
#include "platform/CleanupEntry.h"
#include "model/RemovalQueue.h"
#include "model/Store.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora {

// A backed-up selection of category entries awaiting the user's decision.
using PendingRemoval = PendingDeletion<CleanupEntry, RemovalMode>;

class BackupReview : public Store {
    Q_OBJECT
public:
    BackupReview(QThreadPool& tasks, Async::MainQueue& mainQueue, RemovalQueue& removals, QObject* parent = nullptr);

    bool isArchiving() const { return isArchiving_; }
    // Progress text of the copy, then how the review ended.
    const std::optional<std::string>& archiveStatus() const { return archiveStatus_; }
    const std::optional<std::string>& archiveError() const { return archiveError_; }
    void setArchiveError(std::optional<std::string> error); // cleared when its alert is dismissed
    // The folder under which backups are written.
    const std::string& backupRoot() const { return backupRoot_; }
    void setBackupRoot(std::string root);
    const std::optional<PendingRemoval>& pendingDeletion() const { return pendingDeletion_; }
    void setPendingDeletion(std::optional<PendingRemoval> pending); // cleared when its sheet is dismissed
    // The category the running or last backup was made for ("" when none),
    // and while one runs, the entries it copies.
    const std::string& archiveCategory() const { return archiveCategory_; }
    const std::vector<CleanupEntry>& archivingEntries() const { return archivingEntries_; }
    // True when `path` is a folder backups are written to, or lies inside one.
    // Such a path is never an entry of a category or a cleanup target.
    bool isInBackupFolder(const std::string& path) const;

    // Backs the entries up in the background; a verified copy becomes the
    // pending deletion, which confirm removes and cancel drops.
    // `categoryId` names the category the backup is made for; its status
    // belongs to that category alone.
    void archiveThenReview(const std::vector<CleanupEntry>& entries, const std::string& label,
                           const std::string& destination, RemovalMode mode, const std::string& categoryId = {});
    void confirmPendingDeletion();
    void cancelPendingDeletion();

signals:
    void isArchivingChanged();
    void archiveStatusChanged();
    void archiveErrorChanged();
    void backupRootChanged();
    void pendingDeletionChanged();
    void archiveCategoryChanged();
    // Another folder holds backups from now on: the lists drop what lies in it.
    void backupFoldersChanged();

private:
    QThreadPool& tasks_;
    Async::MainQueue& mainQueue_;
    RemovalQueue& removals_;

    bool isArchiving_ = false;
    std::optional<std::string> archiveStatus_;
    std::optional<std::string> archiveError_;
    std::string backupRoot_;
    std::optional<PendingRemoval> pendingDeletion_;
    std::string archiveCategory_;
    std::vector<CleanupEntry> archivingEntries_;
    // Folders backups went to or go to, each without a trailing separator.
    std::set<std::string> backupFolders_;
};

} // namespace vessora
