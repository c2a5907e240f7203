#include "catalog/CleanupCatalog.h"

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

struct TargetRow {
    const char* id;
    const char* title;
    CleanupRisk risk;
    std::vector<const char*> roots; // "~" stands for the home folder of the call
    const char* detail;
};

// The catalogue, in display order. The only place its paths and texts live.
const std::vector<TargetRow>& targetRows() {
    using enum CleanupRisk;
    static const std::vector<TargetRow> rows = {
        {"ios-device-support",
         "Xcode device support",
         safe,
         {"~/Library/Developer/Xcode/iOS DeviceSupport", "~/Library/Developer/Xcode/watchOS DeviceSupport",
          "~/Library/Developer/Xcode/tvOS DeviceSupport"},
         "Symbol caches for every iOS version you have ever attached. Xcode re-downloads what it needs."},
        {"derived-data",
         "Xcode DerivedData",
         safe,
         {"~/Library/Developer/Xcode/DerivedData"},
         "Build intermediates and indexes. Rebuilt on the next build."},
        {"xcode-archives",
         "Xcode archives",
         careful,
         {"~/Library/Developer/Xcode/Archives"},
         "Shipped builds and their dSYMs. Keep anything you may still need to symbolicate a crash against."},
        {"simulators",
         "Simulator runtimes and devices",
         review,
         {"/Library/Developer/CoreSimulator/Images", "/Library/Developer/CoreSimulator/Profiles/Runtimes",
          "~/Library/Developer/CoreSimulator/Devices", "~/Library/Developer/CoreSimulator/Caches"},
         "Installed simulator runtimes and the per-device data they write."},
        {"package-caches",
         "Package manager caches",
         safe,
         {"~/Library/Caches/Homebrew", "~/.cache/uv", "~/.npm/_cacache", "~/Library/Caches/pip",
          "~/Library/Caches/pnpm", "~/Library/Caches/Yarn", "~/.cargo/registry/cache", "~/go/pkg/mod/cache/download",
          "~/.gradle/caches", "~/.m2/repository"},
         "Homebrew, npm, pip, uv, cargo, Go and friends. All of it redownloads."},
        {"browser-engine-caches",
         "Headless browser and Electron caches",
         safe,
         {"~/Library/Caches/ms-playwright", "~/.cache/puppeteer", "~/Library/Caches/electron",
          "~/Library/Caches/electron-builder"},
         "Playwright, Puppeteer and Electron keep whole browser builds around."},
        {"android-avd",
         "Android emulator images",
         review,
         {"~/.android/avd"},
         "Virtual device disk images. Each AVD is several gigabytes and is recreated by Android Studio."},
        {"user-caches",
         "Application caches",
         review,
         {"~/Library/Caches"},
         "Per-app caches under ~/Library/Caches. Apps rebuild these, though some lose sign-in state."},
        {"logs",
         "Logs and diagnostic reports",
         safe,
         {"~/Library/Logs", "~/Library/Application Support/CrashReporter"},
         "Application logs and crash reports."},
        {"saved-state",
         "Saved application state",
         safe,
         {"~/Library/Saved Application State"},
         "Window and document restoration data. Apps just reopen empty instead."},
        {"macos-installers",
         "Stale macOS update files",
         safe,
         {"/Library/Updates"},
         "Downloaded installers and update payloads that were never cleared."},
        {"ios-backups",
         "iPhone and iPad backups",
         careful,
         {"~/Library/Application Support/MobileSync/Backup"},
         "Full device backups stored locally. Only remove these if iCloud or another copy has you covered."},
        {"mail-downloads",
         "Mail attachments",
         review,
         {"~/Library/Containers/com.apple.mail/Data/Library/Mail Downloads"},
         "Attachment copies Mail downloaded. Still available on the server for IMAP accounts."},
        {"docker",
         "Docker disk image",
         careful,
         {"~/Library/Containers/com.docker.docker/Data/vms", "~/.docker/desktop"},
         "Docker's virtual disk holds every image and volume. Prune from Docker itself rather than deleting the "
         "file."},
        {"trash", "Trash", safe, {"~/.Trash"}, "Items already thrown away, still occupying the disk."},
    };
    return rows;
}

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
    for (const TargetRow& row : targetRows()) {
        CleanupTarget target;
        target.id = row.id;
        target.title = row.title;
        target.detail = row.detail;
        target.risk = row.risk;
        for (const char* root : row.roots) target.roots.push_back(resolveRoot(root, home));
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
