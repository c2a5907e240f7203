#include "model/BackupReview.h"

#include "model/MeasurementRun.h"
#include "model/Removals.h"
#include "support/Fmt.h"
#include "support/Paths.h"

#include <algorithm>

namespace vessora {

namespace {

// True when `path` is `folder` or lies inside it; both without a trailing separator.
bool within(const std::string& path, const std::string& folder) {
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() || folder == "/" || path[folder.size()] == '/';
}

} // namespace

BackupReview::BackupReview(QThreadPool& tasks, Async::MainQueue& mainQueue, RemovalQueue& removals, QObject* parent)
    : Store(parent), tasks_(tasks), mainQueue_(mainQueue), removals_(removals),
      backupRoot_(Archiver::defaultDestination()) {
    backupFolders_.insert(Paths::standardize(backupRoot_));
}

void BackupReview::setArchiveError(std::optional<std::string> error) {
    publish(archiveError_, std::move(error), &BackupReview::archiveErrorChanged);
}

void BackupReview::setPendingDeletion(std::optional<PendingRemoval> pending) {
    publishAlways(pendingDeletion_, std::move(pending), &BackupReview::pendingDeletionChanged);
}

void BackupReview::setBackupRoot(std::string root) {
    // A folder chosen for backups holds them from now on, unless it is one of
    // the user's own folders (home, Documents and the like), which it only
    // shares: then only the dated backups made in it are kept out of the lists.
    const std::string folder = Paths::standardize(root);
    bool shared = Paths::isInside(Paths::home(), folder) || folder == Paths::standardize(Paths::documentsFolder());
    for (const char* key :
         {"DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC", "PICTURES", "PUBLICSHARE", "TEMPLATES", "VIDEOS"})
        if (auto dir = Paths::userDir(key)) shared |= Paths::standardize(*dir) == folder;
    publish(backupRoot_, std::move(root), &BackupReview::backupRootChanged);
    if (!shared && !folder.empty() && backupFolders_.insert(folder).second) emit backupFoldersChanged();
}

bool BackupReview::isInBackupFolder(const std::string& path) const {
    const std::string at = Pruning::comparable(path);
    return std::any_of(backupFolders_.begin(), backupFolders_.end(),
                       [&](const std::string& folder) { return within(at, folder); });
}

void BackupReview::archiveThenReview(const std::vector<CleanupEntry>& entries, const std::string& label,
                                     const std::string& destination, RemovalMode mode, const std::string& categoryId) {
    assertMainThread();
    // What is being copied is published with the busy flag, for the category it was made for.
    archivingEntries_ = entries;
    publish(archiveCategory_, categoryId, &BackupReview::archiveCategoryChanged);
    publish(isArchiving_, true, &BackupReview::isArchivingChanged);
    publish(archiveStatus_, "Copying " + Fmt::counted(int64_t(entries.size()), "item") + "\u2026",
            &BackupReview::archiveStatusChanged);
    std::vector<std::string> urls;
    for (const auto& entry : entries) urls.push_back(entry.url);

    Async::start(
        tasks_,
        [this, urls, label, destination, entries, mode] {
            ArchiveResult result = Archiver::archive(urls, label, destination);
            // Only a fully verified copy becomes a pending deletion; working
            // that out stats both sides, which stays off the main thread.
            auto pending = PendingRemoval::from(result, entries, mode);
            mainQueue_.post([this, result = std::move(result), pending = std::move(pending)]() mutable {
                // The dated folder holds a backup whether or not it verified;
                // it never shows up as something to clean.
                if (!result.destination.empty() && backupFolders_.insert(Paths::standardize(result.destination)).second)
                    emit backupFoldersChanged();
                archivingEntries_.clear();
                publish(isArchiving_, false, &BackupReview::isArchivingChanged);
                publish(archiveStatus_, std::nullopt, &BackupReview::archiveStatusChanged);
                if (pending) {
                    publishAlways(pendingDeletion_, std::move(pending), &BackupReview::pendingDeletionChanged);
                    return;
                }
                RemovalResult failure;
                failure.failed = result.failed;
                removals_.setLastResult(std::move(failure));
                const std::string reason =
                    result.failed.empty() ? "The copy could not be verified." : result.failed.front().reason;
                publish(archiveError_, "Nothing was deleted. " + reason, &BackupReview::archiveErrorChanged);
            });
        },
        userInitiatedPriority);
}

void BackupReview::confirmPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publishAlways(pendingDeletion_, std::nullopt, &BackupReview::pendingDeletionChanged);
    Removals::removeEntries(
        removals_, pending.entries, pending.mode, Removal::categories,
        [this, destination = pending.destination](const RemovalResult& result) {
            // Only a removal that took something away may say so; otherwise the
            // backup is all that happened.
            publish(archiveStatus_,
                    result.succeeded.empty()
                        ? "Backup kept at " + Paths::lastComponent(destination) + ". Nothing was deleted."
                        : "Backed up to " + Paths::lastComponent(destination) + ", then removed the originals.",
                    &BackupReview::archiveStatusChanged);
        });
}

void BackupReview::cancelPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publishAlways(pendingDeletion_, std::nullopt, &BackupReview::pendingDeletionChanged);
    publish(archiveStatus_, "Backup kept at " + Paths::lastComponent(pending.destination) + ". Nothing was deleted.",
            &BackupReview::archiveStatusChanged);
}

} // namespace vessora
