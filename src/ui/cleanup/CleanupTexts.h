#pragma once
// The words and derived numbers of the Cleanup, category detail and backup
// review screens, as plain functions of their inputs so that each rule is
// stated and tested once, away from the widgets.

#include "backup/Archiver.h"
#include "catalog/CleanupCatalog.h"
#include "catalog/StorageCategories.h"
#include "removal/Remover.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vessora::CleanupTexts {

// "1 item", "3 items": `count` in plain decimal.
std::string items(size_t count);

// The file browser's name in "Show in …" texts.
std::string revealInFileBrowser();   // "Show in Files"
std::string openInFileBrowser();     // "Open in Files"
std::string showCopyInFileBrowser(); // "Show this copy in Files"
std::string cleanupIntro();

// Cleanup screen.
int64_t targetTotal(const CleanupTarget& target);
// The targets worth a card: scanned, with entries, largest total first
// (stable, so equal totals keep catalogue order).
std::vector<const CleanupTarget*> shownTargets(const std::vector<CleanupTarget>& targets);
// The selectable entries whose url is selected, in target then entry order.
std::vector<CleanupEntry> selectedEntries(const std::vector<CleanupTarget>& targets,
                                          const std::set<std::string>& selected);
std::vector<CleanupEntry> selectedEntries(const std::vector<CleanupEntry>& entries,
                                          const std::set<std::string>& selected);
int64_t total(const std::vector<CleanupEntry>& entries);
// Why an entry cannot be chosen, or what its size means; "" for a plain one.
std::string entryNote(const CleanupEntry& entry);
std::string removeSelectedTitle(size_t count); // "Remove 3 items"
std::string removeSelectedMessage(int64_t bytes);
std::string categoriesLine(size_t targetsWithEntries); // "across 1 categories"

// Category detail screen.
bool backupRequired(const StorageCategory& category);
bool removalAllowed(const StorageCategory& category);
std::string actionTitle(const StorageCategory& category, bool backUpFirst, RemovalMode mode);
std::string confirmTitle(size_t count, int64_t bytes);
std::string confirmMessage(const StorageCategory& category, bool backUpFirst, RemovalMode mode,
                           const std::string& backupRoot);
// The System Data accounting banner; nothing when accounted is 0 or less.
std::optional<std::string> accountingBanner(int64_t accounted, int64_t headline);
std::string snapshotsLine(size_t count);
// The running-app alert for an app named `app`.
std::string quitFirstTitle(const std::string& app);
std::string quitFirstMessage(const std::string& app);

// Backup review.
bool passesSizeCheck(const ArchivedItem& item);
std::string reviewSubtitle(size_t count, int64_t bytes); // "3 items · 1.2 MB"
std::string mismatchWarning(size_t mismatched);
std::string reviewFooter(RemovalMode mode);
std::string confirmDeletionTitle(RemovalMode mode); // "Delete Originals" / "Delete Permanently"

} // namespace vessora::CleanupTexts
