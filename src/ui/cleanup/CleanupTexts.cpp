#include "ui/cleanup/CleanupTexts.h"

#include "removal/RemovalTexts.h"
#include "support/Fmt.h"

#include <algorithm>

namespace vessora::CleanupTexts {

namespace {
// The words that name the machine or its file browser differ by platform.
#if defined(__APPLE__)
constexpr const char* thisMachine = "this Mac";
constexpr const char* fileBrowser = "Finder";
#else
constexpr const char* thisMachine = "this computer";
constexpr const char* fileBrowser = "Files";
#endif
} // namespace

std::string items(size_t count) { return Fmt::counted(int64_t(count), "item"); }

std::string revealInFileBrowser() {
#if defined(__APPLE__)
    return "Reveal in Finder";
#else
    return std::string("Show in ") + fileBrowser;
#endif
}
std::string openInFileBrowser() { return std::string("Open in ") + fileBrowser; }
std::string showCopyInFileBrowser() { return std::string("Show this copy in ") + fileBrowser; }

std::string cleanupIntro() {
    return std::string("Everything here is measured on ") + thisMachine +
           ". Nothing is selected by default, and nothing is removed until you say so.";
}

int64_t targetTotal(const CleanupTarget& target) { return total(target.entries); }

std::vector<const CleanupTarget*> shownTargets(const std::vector<CleanupTarget>& targets) {
    std::vector<const CleanupTarget*> shown;
    for (const auto& target : targets)
        if (target.scanned && !target.entries.empty()) shown.push_back(&target);
    std::stable_sort(shown.begin(), shown.end(),
                     [](const CleanupTarget* a, const CleanupTarget* b) { return targetTotal(*a) > targetTotal(*b); });
    return shown;
}

std::vector<CleanupEntry> selectedEntries(const std::vector<CleanupEntry>& entries,
                                          const std::set<std::string>& selected) {
    std::vector<CleanupEntry> out;
    for (const auto& entry : entries)
        if (selected.count(entry.url)) out.push_back(entry);
    return out;
}

std::vector<CleanupEntry> selectedEntries(const std::vector<CleanupTarget>& targets,
                                          const std::set<std::string>& selected) {
    std::vector<CleanupEntry> out;
    for (const auto& target : targets)
        for (const auto& entry : selectedEntries(target.entries, selected))
            if (entry.selectable()) out.push_back(entry);
    return out;
}

std::string entryNote(const CleanupEntry& entry) {
    if (entry.needsAdmin) return "Size unknown: needs administrator rights";
    if (!entry.inUseBy.empty()) return "In use while " + entry.inUseBy + " is running";
    if (entry.readOnly) return "Listed only: remove it with the tool named above";
    if (entry.freesNoDisk) return "In memory: removing it frees no disk";
    return {};
}

int64_t total(const std::vector<CleanupEntry>& entries) {
    int64_t sum = 0;
    for (const auto& entry : entries) sum += entry.size;
    return sum;
}

std::string removeSelectedTitle(size_t count) { return "Remove " + items(count); }

std::string removeSelectedMessage(int64_t bytes) {
    return "This frees about " + Fmt::bytes(bytes) +
           ". Moving to Trash does not free space until the Trash is emptied.";
}

std::string categoriesLine(size_t count) { return "across " + Fmt::counted(int64_t(count), "category", "categories"); }

bool backupRequired(const StorageCategory& category) {
    return category.action.kind == CategoryAction::Kind::backupThenRemove;
}

bool removalAllowed(const StorageCategory& category) {
    return backupRequired(category) || category.action.kind == CategoryAction::Kind::removable;
}

std::string actionTitle(const StorageCategory& category, bool backUpFirst, RemovalMode mode) {
    if (backupRequired(category) || backUpFirst) return "Back Up and Review";
    return mode == RemovalMode::deleteImmediately ? "Delete" : std::string(RemovalTexts::buttonText(mode));
}

std::string confirmTitle(size_t count, int64_t bytes) { return items(count) + ", " + Fmt::bytes(bytes); }

std::string confirmMessage(const StorageCategory& category, bool backUpFirst, RemovalMode mode,
                           const std::string& backupRoot) {
    if (backupRequired(category) || backUpFirst)
        return "A copy goes to " + backupRoot +
               " first. You will get to open it and check it before anything is deleted.";
    const bool trash = mode == RemovalMode::trash;
    switch (category.risk) {
    case CleanupRisk::safe:
        return trash ? "These go to the Trash and are rebuilt or redownloaded when something needs them."
                     : "These are removed immediately. They are rebuilt or redownloaded when something needs them.";
    case CleanupRisk::review:
        return trash ? "These go to the Trash. Some apps will lose cached state and sign-ins."
                     : "These are removed immediately, with no Trash to fall back on. Some apps will lose cached "
                       "state and sign-ins.";
    case CleanupRisk::careful:
        return trash ? "This is your own data. It goes to the Trash, so you can still get it back until you empty it."
                     : std::string("This is your own data and it will be gone immediately, with no way to recover "
                                   "it from ") +
                           thisMachine + ". Consider using Move to Trash instead.";
    }
    return {};
}

std::optional<std::string> accountingBanner(int64_t accounted, int64_t headline) {
    if (accounted <= 0) return std::nullopt;
    const int64_t gap = headline - accounted;
    if (gap <= 0)
        return "The locations above cover all of it, and then some: they total " + Fmt::bytes(accounted) +
               " against a headline of " + Fmt::bytes(headline) +
               ". Folders are listed whole even when another category already counted part of them, so the two can "
               "overlap. The headline number is the one that matches your disk.";
    return "The locations above account for " + Fmt::bytes(accounted) + " of the " + Fmt::bytes(headline) +
           ". The remaining " + Fmt::bytes(gap) +
#if defined(__APPLE__)
           " is not attributable to anything readable: mostly Time Machine local snapshots, which count as purgeable "
           "rather than used, plus system areas that need an administrator. Deleting snapshots from the Overview page "
           "is usually what moves that number.";
#else
           " is not attributable to anything readable: mostly file-system metadata and journals, plus system areas "
           "that need an administrator to read.";
#endif
}

std::string snapshotsLine(size_t count) {
    return Fmt::counted(int64_t(count), "Time Machine local snapshot") + " " +
           std::string(Fmt::agree(int64_t(count), "is", "are")) +
           " also holding space that Finder reports as free. They are listed on the Overview page.";
}

std::string quitFirstTitle(const std::string& app) { return "Quit " + app + " first"; }

std::string quitFirstMessage(const std::string& app) {
#if defined(__APPLE__)
    return app +
           " is running. Copying its database while it is open produces a backup that will not restore, so "
           "quit " +
           app + " and try again.";
#else
    return app + " is running. Copying its data while it is open produces a backup that will not restore, so quit " +
           app + " and try again.";
#endif
}

bool passesSizeCheck(const ArchivedItem& item) {
    if (item.originalBytes == 0) return item.copiedBytes == 0;
    return double(item.originalBytes) * 0.98 <= double(item.copiedBytes);
}

std::string reviewSubtitle(size_t count, int64_t bytes) { return items(count) + " \u00b7 " + Fmt::bytes(bytes); }

std::string mismatchWarning(size_t mismatched) {
    return Fmt::counted(int64_t(mismatched), "item") + " did" +
           " not copy at full size. Check those before deleting anything.";
}

std::string reviewFooter(RemovalMode mode) {
    return mode == RemovalMode::deleteImmediately
               ? "Originals will be deleted immediately, with no Trash to fall back on."
               : "Originals will go to the Trash.";
}

std::string confirmDeletionTitle(RemovalMode mode) {
    return mode == RemovalMode::deleteImmediately ? "Delete Permanently" : "Delete Originals";
}

} // namespace vessora::CleanupTexts
