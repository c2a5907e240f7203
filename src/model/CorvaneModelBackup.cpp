// Back up first, then remove on confirmation: the copy runs in the
// background, and a verified copy waits as the pending deletion.

#include "model/CorvaneModel.h"

#include "model/MeasurementRun.h"
#include "support/Fmt.h"
#include "support/Paths.h"

namespace vessora {

namespace {} // namespace

void CorvaneModel::archiveThenReview(const std::vector<CleanupEntry>& entries, const std::string& label,
                                     const std::string& destination, RemovalMode mode, const std::string& categoryId) {
    assertMainThread();
    // What is being copied is published with the busy flag, for the category it was made for.
    archivingEntries_ = entries;
    publish(archiveCategory_, categoryId, &CorvaneModel::archiveCategoryChanged);
    publish(isArchiving_, true, &CorvaneModel::isArchivingChanged);
    publish(archiveStatus_, "Copying " + Fmt::counted(int64_t(entries.size()), "item") + "\u2026",
            &CorvaneModel::archiveStatusChanged);
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
                    excludeBackupsFromLists();
                archivingEntries_.clear();
                publish(isArchiving_, false, &CorvaneModel::isArchivingChanged);
                publish(archiveStatus_, std::nullopt, &CorvaneModel::archiveStatusChanged);
                if (pending) {
                    publish(lastArchiveDestination_, result.destination, &CorvaneModel::lastArchiveDestinationChanged);
                    publishAlways(pendingDeletion_, std::move(pending), &CorvaneModel::pendingDeletionChanged);
                    return;
                }
                RemovalResult failure;
                failure.failed = result.failed;
                publishAlways(lastResult_, std::move(failure), &CorvaneModel::lastResultChanged);
                const std::string reason =
                    result.failed.empty() ? "The copy could not be verified." : result.failed.front().reason;
                publish(archiveError_, "Nothing was deleted. " + reason, &CorvaneModel::archiveErrorChanged);
            });
        },
        userInitiatedPriority);
}

void CorvaneModel::confirmPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publishAlways(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    removeEntries(
        pending.entries, pending.mode, [this, destination = pending.destination](const RemovalResult& result) {
            pruneCategories(publishRemoval(result));
            // Only a removal that took something away may say so; otherwise the
            // backup is all that happened.
            publish(archiveStatus_,
                    result.succeeded.empty()
                        ? "Backup kept at " + Paths::lastComponent(destination) + ". Nothing was deleted."
                        : "Backed up to " + Paths::lastComponent(destination) + ", then removed the originals.",
                    &CorvaneModel::archiveStatusChanged);
        });
}

void CorvaneModel::cancelPendingDeletion() {
    assertMainThread();
    if (!pendingDeletion_) return;
    const PendingRemoval pending = *pendingDeletion_;
    publishAlways(pendingDeletion_, std::nullopt, &CorvaneModel::pendingDeletionChanged);
    publish(archiveStatus_, "Backup kept at " + Paths::lastComponent(pending.destination) + ". Nothing was deleted.",
            &CorvaneModel::archiveStatusChanged);
}

} // namespace vessora
