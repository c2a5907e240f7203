#include "catalog/CleanupCatalog.h"

#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <algorithm>
#include <sys/stat.h>

namespace vessora {

std::optional<CleanupRisk> cleanupRiskFromRaw(int raw) {
    switch (raw) {
    case 0: return CleanupRisk::safe;
    case 1: return CleanupRisk::review;
    case 2: return CleanupRisk::careful;
    default: return std::nullopt;
    }
}

std::string_view cleanupRiskName(CleanupRisk risk) {
    switch (risk) {
    case CleanupRisk::safe: return "safe";
    case CleanupRisk::review: return "review";
    case CleanupRisk::careful: return "careful";
    }
    return "careful";
}

namespace CleanupCatalog {

namespace {

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string resolveRoot(std::string_view root, const std::string& home) {
    if (root == "~") return home;
    if (root.starts_with("~/")) return Paths::join(home, root.substr(2));
    return std::string(root);
}

std::vector<CleanupTarget> definitions() {
    const std::string home = Paths::home();
    std::vector<CleanupTarget> targets;
    // The rows come from the active table set.
    for (const CleanupTargetRow& row : PlatformTables::current().cleanupTargets) {
        CleanupTarget target;
        target.id = row.id;
        target.title = row.title;
        target.detail = row.detail;
        target.risk = row.risk;
        for (const char* root : row.roots)
            for (std::string& path : PlatformTables::expandRoot(resolveRoot(root, home)))
                target.roots.push_back(std::move(path));
        target.contentsOnly = true;
        targets.push_back(std::move(target));
    }
    return targets;
}

CleanupTarget measure(CleanupTarget target, const Cancelled& cancelled) {
    target.entries = measureEntries(target.roots, target.contentsOnly, cancelled);
    target.scanned = true;
    return target;
}

CleanupEntry makeEntry(const std::string& path, int64_t size) {
    CleanupEntry entry{path, size, std::nullopt};
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) entry.modified = Dates::fromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return entry;
}

void sortLargestFirst(std::vector<CleanupEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const CleanupEntry& a, const CleanupEntry& b) { return a.size > b.size; });
}

std::vector<CleanupEntry> measureEntries(const std::vector<std::string>& roots, bool listsContents,
                                         const Cancelled& cancelled) {
    // One options value for the whole call: its skip list is read from the
    // home folder once, not once per entry.
    const ScanOptions options;
    std::vector<CleanupEntry> entries;
    auto consider = [&](const std::string& path) {
        int64_t size = DiskScanner::quickSize(path, options, cancelled);
        if (size > 0) entries.push_back(makeEntry(path, size));
    };
    for (const std::string& root : roots) {
        if (!pathExists(root)) continue;
        if (!listsContents) {
            consider(root);
            continue;
        }
        auto names = FolderListing::names(root);
        if (!names) continue;
        for (const std::string& name : *names)
            if (name != ".DS_Store") consider(Paths::join(root, name));
    }
    sortLargestFirst(entries);
    return entries;
}

} // namespace CleanupCatalog
} // namespace vessora
