#include "scan/ScanHistory.h"

#include "scan/ScanExport.h"
#include "support/FolderListing.h"
#include "support/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>

namespace vessora::ScanHistory {

namespace {

const std::string kSuffix = std::string(".") + ScanArchive::kExtension;

bool isScanFile(const std::string& name) {
    return name.size() > kSuffix.size() && name[0] != '.' &&
           name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

// A saved scan's file as the folder holds it, readable or not.
struct Entry {
    std::string file;
    int64_t bytes = 0;
    int64_t time = 0; // the scan's time, or the file's own for one that cannot be read
    std::optional<SavedScanInfo> info;
    std::string problem;
};

std::vector<Entry> entries(const std::string& folder) {
    std::vector<Entry> out;
    for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
        if (!isScanFile(name)) continue;
        Entry entry;
        entry.file = Paths::join(folder, name);
        struct stat st;
        if (::lstat(entry.file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        entry.bytes = st.st_size;
        entry.time = st.st_mtime;
        std::string error;
        entry.info = ScanArchive::readInfo(entry.file, error);
        if (entry.info)
            entry.time = entry.info->time;
        else
            entry.problem = error;
        out.push_back(std::move(entry));
    }
    return out;
}

bool newerFirst(const SavedScanInfo& a, const SavedScanInfo& b) {
    return a.time != b.time ? a.time > b.time : a.id > b.id;
}

// 2026-05-03T14:02:00 UTC and a hash of the root: "20260503-140200-1a2b3c4d".
std::string fileStem(const SavedScan& scan) {
    const time_t t = time_t(scan.time);
    struct tm utc {};
    gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    uint32_t hash = 2166136261u;
    for (unsigned char c : scan.root) hash = (hash ^ c) * 16777619u;
    char tail[16];
    std::snprintf(tail, sizeof tail, "-%08x", hash);
    return std::string(stamp) + tail;
}

bool makeFolder(const std::string& folder, std::string& error) {
    // Each missing folder on the way, private to the user.
    std::string at;
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '/') continue;
        at = folder.substr(0, i);
        if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) {
            error = at + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

} // namespace

std::string defaultFolder() { return Paths::join(Paths::stateFolder(), "scans"); }

Listing list(const std::string& folder, const std::optional<std::string>& root) {
    Listing listing;
    const std::optional<std::string> wanted = root ? std::optional(Paths::standardize(*root)) : std::nullopt;
    for (Entry& entry : entries(folder)) {
        if (!entry.info) {
            listing.problems.push_back(entry.file + ": " + entry.problem);
            continue;
        }
        if (wanted && entry.info->root != *wanted) continue;
        listing.scans.push_back(std::move(*entry.info));
    }
    std::sort(listing.scans.begin(), listing.scans.end(), newerFirst);
    std::sort(listing.problems.begin(), listing.problems.end());
    return listing;
}

std::optional<SavedScanInfo> save(const ScanArchive::Prepared& prepared, const std::string& folder, std::string& error,
                                  const Limits& limits) {
    // Readers refuse a relative root: it names no folder once saved.
    if (prepared.info.root.empty() || prepared.info.root[0] != '/') {
        error = "the scanned folder's path is not absolute";
        return std::nullopt;
    }
    if (!makeFolder(folder, error)) return std::nullopt;
    SavedScan naming{prepared.info.root, prepared.info.time, {}, nullptr};
    const std::string stem = fileStem(naming);
    const std::string bytes = ScanArchive::finish(prepared);
    // Two scans of one folder within a second get numbered names; a name
    // another writer took meanwhile is never replaced.
    std::string path;
    for (int n = 1;; ++n) {
        path = Paths::join(folder, n == 1 ? stem + kSuffix : stem + "-" + std::to_string(n) + kSuffix);
        int errorNumber = 0;
        if (ScanArchive::writeFile(path, bytes, error, false, &errorNumber)) break;
        if (errorNumber != EEXIST || n >= 1000) return std::nullopt;
    }
    SavedScanInfo info = prepared.info;
    info.file = path;
    info.id = Paths::deletingExtension(Paths::lastComponent(path));
    info.fileBytes = int64_t(bytes.size());
    prune(folder, limits, path);
    return info;
}

std::optional<SavedScanInfo> save(const SavedScan& scan, const std::string& folder, std::string& error,
                                  const Limits& limits) {
    return save(ScanArchive::prepare(scan), folder, error, limits);
}

size_t prune(const std::string& folder, const Limits& limits, const std::string& keep) {
    std::vector<Entry> all = entries(folder);
    // Oldest first: that is the order in which scans go.
    std::sort(all.begin(), all.end(),
              [](const Entry& a, const Entry& b) { return a.time != b.time ? a.time < b.time : a.file < b.file; });
    std::vector<bool> gone(all.size(), false);
    std::map<std::string, size_t> perRoot;
    for (size_t i = all.size(); i-- > 0;) {
        if (!all[i].info) continue;
        if (++perRoot[all[i].info->root] > limits.perRoot && all[i].file != keep) gone[i] = true;
    }
    int64_t total = 0;
    for (size_t i = 0; i < all.size(); ++i)
        if (!gone[i]) total += all[i].bytes;
    for (size_t i = 0; i < all.size() && total > limits.totalBytes; ++i) {
        if (gone[i] || all[i].file == keep) continue;
        gone[i] = true;
        total -= all[i].bytes;
    }
    size_t removed = 0;
    for (size_t i = 0; i < all.size(); ++i)
        if (gone[i] && ::unlink(all[i].file.c_str()) == 0) ++removed;
    return removed;
}

size_t forget(const std::string& folder) {
    size_t removed = 0;
    for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
        // Saved scans, and what a write cut short left of one.
        const bool partial = name.size() > 1 && name[0] == '.' && name.find(kSuffix + ".") != std::string::npos;
        if (!isScanFile(name) && !partial) continue;
        if (::unlinkat(AT_FDCWD, Paths::join(folder, name).c_str(), 0) == 0 && isScanFile(name)) ++removed;
    }
    return removed;
}

std::optional<std::string> locate(const std::string& fileOrId, const std::string& folder) {
    struct stat st;
    if (::stat(fileOrId.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return fileOrId;
    if (fileOrId.empty() || fileOrId.find('/') != std::string::npos || fileOrId[0] == '.') return std::nullopt;
    const std::string path = Paths::join(folder, fileOrId + kSuffix);
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    return std::nullopt;
}

std::optional<SavedScan> load(const std::string& path, std::string& error) {
    char head[16] = {};
    ssize_t got = 0;
    if (path != "-") {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
        got = ::read(fd, head, sizeof head);
        ::close(fd);
        if (got < 0) {
            error = std::strerror(errno);
            return std::nullopt;
        }
    }
    const std::string_view start(head, size_t(std::max<ssize_t>(0, got)));
    if (ScanArchive::looksLike(start)) return ScanArchive::read(path, error);
    if (path != "-" && !ScanExport::looksLike(start)) {
        error = "it is neither a saved Vessora scan nor a scan export (JSON, plain or compressed)";
        return std::nullopt;
    }
    return ScanExport::importFile(path, error);
}

} // namespace vessora::ScanHistory
