#include "catalog/CleanupCatalog.h"

#include "apps/RunningApps.h"
#include "catalog/StorageCategories.h"
#include "platform/ItemHandle.h"
#include "platform/MountTable.h"
#include "platform/PlatformTables.h"
#include "scan/DiskScanner.h"
#include "support/FolderListing.h"
#include "support/Paths.h"
#include "support/ProcessList.h"
#include "support/Shell.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <fnmatch.h>
#include <fstream>
#include <linux/magic.h>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>

namespace vessora {

namespace CleanupCatalog {

namespace {

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::mutex& systemRootLock() {
    static std::mutex lock;
    return lock;
}
std::string& systemRootValue() {
    static std::string value;
    return value;
}

bool hasPattern(std::string_view text) { return PlatformTables::hasPattern(text); }

bool matchesAny(const std::string& name, const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns)
        if (::fnmatch(pattern.c_str(), name.c_str(), 0) == 0) return true;
    return false;
}

// "{a,b}" alternatives, outermost first; nested ones expand in turn.
std::vector<std::string> expandBraces(const std::string& text) {
    size_t open = text.find('{');
    if (open == std::string::npos) return {text};
    int depth = 0;
    size_t close = std::string::npos;
    std::vector<std::string> parts;
    size_t start = open + 1;
    for (size_t i = open; i < text.size(); ++i) {
        if (text[i] == '{') {
            ++depth;
        } else if (text[i] == '}' && --depth == 0) {
            parts.push_back(text.substr(start, i - start));
            close = i;
            break;
        } else if (text[i] == ',' && depth == 1) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    if (close == std::string::npos) return {text};
    std::vector<std::string> out;
    for (const std::string& part : parts)
        for (std::string& expanded : expandBraces(text.substr(0, open) + part + text.substr(close + 1)))
            out.push_back(std::move(expanded));
    return out;
}

// The folder cannot be listed by this user (it exists and is a folder).
bool unreadableFolder(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

// The absolute patterns a table root stands for, before matching. The
// folders its tokens stand for match only themselves, whatever their names.
std::vector<std::string> resolvePatterns(std::string_view root) {
    std::vector<std::string> out;
    for (const std::string& alternative : expandBraces(std::string(root))) {
        std::string_view text = alternative;
        if (text.starts_with("trash:")) {
            for (const std::string& folder : MountTable::trashFolders())
                out.push_back(Paths::join(PlatformTables::escapePattern(folder), text.substr(6)));
        } else if (text.starts_with("sync:")) {
            for (const std::string& folder : StorageCategories::cloudSyncFolders())
                out.push_back(Paths::join(PlatformTables::escapePattern(folder), text.substr(5)));
        } else if (text.starts_with('/')) {
            out.push_back(PlatformTables::escapePattern(systemRoot()) + std::string(text));
        } else {
            out.push_back(PlatformTables::resolvePattern(text));
        }
    }
    return out;
}

void expandComponents(const std::string& base, const std::vector<std::string>& components, size_t at,
                      std::vector<std::string>& out, std::vector<std::string>* unreadable) {
    if (at == components.size()) {
        out.push_back(base);
        return;
    }
    const std::string& component = components[at];
    const bool last = at + 1 == components.size();
    if (!hasPattern(component)) {
        expandComponents(Paths::join(base, PlatformTables::unescapePattern(component)), components, at + 1, out,
                         unreadable);
        return;
    }
    auto names = FolderListing::names(base);
    if (!names) {
        if (unreadable && unreadableFolder(base)) unreadable->push_back(base);
        return;
    }
    std::sort(names->begin(), names->end());
    for (const std::string& name : *names) {
        if (::fnmatch(component.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
        const std::string path = Paths::join(base, name);
        struct stat st;
        // A match on the way down must be a real folder: a link is never followed.
        if (!last && (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) continue;
        expandComponents(path, components, at + 1, out, unreadable);
    }
}

std::vector<std::string> expandPattern(const std::string& pattern, std::vector<std::string>* unreadable) {
    if (!hasPattern(pattern)) return {PlatformTables::unescapePattern(pattern)};
    std::vector<std::string> components;
    std::string_view rest = pattern;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        if (!part.empty()) components.emplace_back(part);
        if (slash == std::string_view::npos) break;
        rest = rest.substr(slash + 1);
    }
    std::vector<std::string> out;
    expandComponents("/", components, 0, out, unreadable);
    return out;
}

bool insideAny(const std::string& path, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders)
        if (Paths::isInside(path, folder)) return true;
    return false;
}

bool holdsAny(const std::string& path, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders)
        if (folder != path && Paths::isInside(folder, path)) return true;
    return false;
}

// What of `path` is this target's: nothing when another target took it, its
// unclaimed parts when another took something inside it, else the whole.
void addUnclaimed(const std::string& path, const std::vector<std::string>& claimed, std::vector<std::string>& out) {
    if (insideAny(path, claimed)) return;
    if (!holdsAny(path, claimed)) {
        out.push_back(path);
        return;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    if (auto names = FolderListing::names(path))
        for (const std::string& name : *names) addUnclaimed(Paths::join(path, name), claimed, out);
}

// The paths processes hold open (descriptors and working folders) that this
// user may see.
std::vector<std::string> openPaths() {
    std::vector<std::string> paths;
    auto readLink = [&](const std::string& link) {
        char target[4096];
        ssize_t n = ::readlink(link.c_str(), target, sizeof target);
        if (n > 0 && size_t(n) < sizeof target && target[0] == '/') {
            std::string text(target, size_t(n));
            if (text.ends_with(" (deleted)")) text.resize(text.size() - 10);
            paths.push_back(std::move(text));
        }
    };
    for (const ProcessList::Process& process : ProcessList::all()) {
        readLink(process.folder + "/cwd");
        const std::string fds = process.folder + "/fd";
        for (const std::string& fd : FolderListing::namesOrEmpty(fds)) readLink(fds + "/" + fd);
    }
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

// The newest modification below `path` (itself included), and whether a
// socket or pipe lies there: a live endpoint whose owner may still be idle.
struct TreeFacts {
    int64_t newest = 0;
    bool endpoint = false;
    bool otherOwner = false;
};

void examineTree(const std::string& path, dev_t device, uid_t owner, TreeFacts& facts, int depth = 0) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    facts.newest = std::max<int64_t>(facts.newest, st.st_mtim.tv_sec);
    if (S_ISSOCK(st.st_mode) || S_ISFIFO(st.st_mode)) facts.endpoint = true;
    if (st.st_uid != owner) facts.otherOwner = true;
    if (!S_ISDIR(st.st_mode) || st.st_dev != device || depth > 64) return;
    if (auto names = FolderListing::names(path))
        for (const std::string& name : *names) examineTree(Paths::join(path, name), device, owner, facts, depth + 1);
}

bool inMemory(const std::string& path) {
    struct statfs fs;
    if (::statfs(path.c_str(), &fs) != 0) return false;
    return fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC;
}

// The user's own children of a temporary folder that nothing holds open and
// nothing changed for a day. Another user's item, or one holding a socket or
// another user's files, is never offered.
void temporaryCandidates(const std::string& root, const std::vector<std::string>& open, std::vector<std::string>& out) {
    auto names = FolderListing::names(root);
    if (!names) return;
    struct stat rootStat;
    if (::lstat(root.c_str(), &rootStat) != 0) return;
    const uid_t me = ::geteuid();
    const int64_t dayAgo =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count() -
        24 * 3600;
    for (const std::string& name : *names) {
        const std::string path = Paths::join(root, name);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || st.st_uid != me || st.st_dev != rootStat.st_dev) continue;
        TreeFacts facts;
        examineTree(path, st.st_dev, me, facts);
        if (facts.endpoint || facts.otherOwner || facts.newest > dayAgo) continue;
        bool held = false;
        for (const std::string& openPath : open)
            if (Paths::isInside(openPath, path)) {
                held = true;
                break;
            }
        if (!held) out.push_back(path);
    }
}

// Log files below `folder` that rotation retired; unlistable folders on the way are noted.
void rotatedLogs(const std::string& folder, dev_t device, const std::vector<std::string>& skippedNames,
                 std::vector<std::string>& out, std::vector<std::string>& unreadable, int depth = 0) {
    auto names = FolderListing::names(folder);
    if (!names) {
        if (unreadableFolder(folder)) unreadable.push_back(folder);
        return;
    }
    for (const std::string& name : *names) {
        if (depth == 0 && matchesAny(name, skippedNames)) continue;
        const std::string path = Paths::join(folder, name);
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (st.st_dev == device && depth < 32) rotatedLogs(path, device, skippedNames, out, unreadable, depth + 1);
        } else if (S_ISREG(st.st_mode) && isRotatedLogName(name)) {
            out.push_back(path);
        }
    }
}

bool flatpakInstalled(const std::string& id) {
    for (const std::string& folder :
         {systemRoot() + "/var/lib/flatpak/app", Paths::home() + "/.local/share/flatpak/app"})
        if (pathExists(Paths::join(folder, id))) return true;
    return false;
}

// An AppImage that a menu entry of this user starts is an installed app.
bool appImageInstalled(const std::string& path) {
    const std::string folder = PlatformTables::resolveRoot("$XDG_DATA_HOME/applications");
    auto names = FolderListing::names(folder);
    if (!names) return false;
    for (const std::string& name : *names) {
        if (!name.ends_with(".desktop")) continue;
        std::ifstream in(Paths::join(folder, name), std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            if ((line.starts_with("Exec=") || line.starts_with("TryExec=")) && line.find(path) != std::string::npos)
                return true;
    }
    return false;
}

// An entry for an item whose size only an administrator can measure.
CleanupEntry unknownSizeEntry(const std::string& path) {
    CleanupEntry entry = makeEntry(path, 0);
    entry.needsAdmin = true;
    // The folder may hold live files beside the retired ones: never offered whole.
    entry.readOnly = true;
    return entry;
}

bool outsideHome(const std::string& path) { return !Paths::isInside(path, Paths::home()); }

} // namespace

std::string systemRoot() {
    std::lock_guard guard(systemRootLock());
    return systemRootValue();
}

ScopedSystemRoot::ScopedSystemRoot(std::string root) {
    std::lock_guard guard(systemRootLock());
    previous_ = std::exchange(systemRootValue(), std::move(root));
}

ScopedSystemRoot::~ScopedSystemRoot() {
    std::lock_guard guard(systemRootLock());
    systemRootValue() = std::move(previous_);
}

std::vector<std::string> expandRoot(std::string_view root, std::vector<std::string>* unreadable) {
    std::vector<std::string> out;
    for (const std::string& pattern : resolvePatterns(root))
        for (std::string& path : expandPattern(pattern, unreadable)) out.push_back(std::move(path));
    return out;
}

bool insidePattern(std::string_view path, std::string_view pattern) {
    const size_t depth = size_t(std::count(pattern.begin(), pattern.end(), '/'));
    size_t seen = 0, end = 0;
    for (; end < path.size(); ++end)
        if (path[end] == '/' && ++seen > depth) break;
    if (seen < depth) return false;
    const std::string head(path.substr(0, end));
    return ::fnmatch(std::string(pattern).c_str(), head.c_str(), FNM_PATHNAME | FNM_PERIOD) == 0;
}

bool isRotatedLogName(std::string_view name) {
    static const std::string_view compressed[] = {".gz", ".xz", ".bz2", ".zst", ".lz4", ".Z"};
    for (std::string_view suffix : compressed)
        if (name.ends_with(suffix) && name.size() > suffix.size()) return true;
    if (name.ends_with(".old") && name.size() > 4) return true;
    auto digitsAfter = [&](char mark, size_t minimum, size_t maximum) {
        size_t at = name.find_last_of(mark);
        if (at == std::string_view::npos || at == 0) return false;
        std::string_view tail = name.substr(at + 1);
        return tail.size() >= minimum && tail.size() <= maximum &&
               tail.find_first_not_of("0123456789") == std::string_view::npos;
    };
    // "syslog.1", "kern.log-20240101"
    return digitsAfter('.', 1, 3) || digitsAfter('-', 8, 10);
}

std::vector<std::string> disabledSnapFiles(std::string_view text) {
    std::vector<std::string> files;
    std::istringstream in{std::string(text)};
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        if (words.size() < 3 || words.back().find("disabled") == std::string::npos) continue;
        files.push_back(words[0] + "_" + words[2] + ".snap");
    }
    return files;
}

std::vector<CleanupTarget> definitions() {
    const Tables& tables = PlatformTables::current();
    std::vector<CleanupTarget> targets;
    for (const CleanupTargetRow& row : tables.cleanupTargets) {
        CleanupTarget target;
        target.id = row.id;
        target.title = row.title;
        target.detail = row.detail;
        target.risk = row.risk;
        target.kind = row.kind;
        target.listOnly = row.listOnly;
        target.needsAdmin = row.admin;
        // A folder that a pattern could not look into stands for what it
        // holds: an entry of unknown size.
        std::vector<std::string> unreadable;
        for (const char* root : row.roots)
            for (std::string& path : expandRoot(root, &unreadable)) target.roots.push_back(std::move(path));
        for (const char* root : row.wholeRoots)
            for (std::string& path : expandRoot(root, &unreadable)) {
                bool qualifies = row.parentHolds.empty();
                for (const char* name : row.parentHolds)
                    qualifies = qualifies || pathExists(Paths::join(Paths::parent(path), name));
                if (qualifies) target.wholeRoots.push_back(std::move(path));
            }
        for (std::string& folder : unreadable)
            if (std::find(target.wholeRoots.begin(), target.wholeRoots.end(), folder) == target.wholeRoots.end())
                target.wholeRoots.push_back(std::move(folder));
        for (const char* name : row.keep) target.keep.push_back(name);
        for (const char* name : row.names) target.names.push_back(name);
        for (const RunningRow& rule : row.running) {
            RunningProgram program{rule.name, {}, {}};
            for (const char* process : rule.processes) program.processes.push_back(process);
            for (const char* folder : rule.folders)
                for (std::string& pattern : resolvePatterns(folder)) program.folders.push_back(std::move(pattern));
            target.running.push_back(std::move(program));
        }
        target.contentsOnly = true;
        targets.push_back(std::move(target));
    }
    if (!tables.cleanupClaims) return targets;
    // Each path is the first listing target's; the catch-all targets take
    // only what no other target lists, wherever that target stands.
    auto claims = [](const CleanupTarget& t) {
        std::vector<std::string> paths;
        if (t.kind == CleanupRowKind::flatpakOrphans) {
            // Only the orphans: the other apps' folders are not this target's.
            for (const std::string& root : t.roots)
                for (const std::string& name : FolderListing::namesOrEmpty(root))
                    if (!flatpakInstalled(name)) paths.push_back(Paths::join(root, name));
        } else if (t.kind == CleanupRowKind::plain) {
            paths = t.roots;
        }
        // A rule's roots (/tmp, /var/log, Downloads) are not claimed whole:
        // it takes only the items its rule picks, which no other target lists.
        paths.insert(paths.end(), t.wholeRoots.begin(), t.wholeRoots.end());
        return paths;
    };
    for (size_t i = 0; i < targets.size(); ++i) {
        const bool rest = targets[i].kind == CleanupRowKind::unclaimedRest;
        for (size_t j = 0; j < targets.size(); ++j) {
            if (j == i || targets[j].kind == CleanupRowKind::unclaimedRest || (!rest && j > i)) continue;
            for (std::string& path : claims(targets[j])) targets[i].claimed.push_back(std::move(path));
        }
    }
    return targets;
}

CleanupTarget measure(CleanupTarget target, const Cancelled& cancelled) {
    const ScanOptions options;
    std::vector<std::string> candidates;
    std::vector<std::string> unknown; // folders only an administrator can list
    std::vector<std::string> open;
    if (target.kind == CleanupRowKind::temporaryFiles) open = openPaths();

    auto offered = [&](const std::string& name) {
        if (name == ".DS_Store" || matchesAny(name, target.keep)) return false;
        return target.names.empty() || matchesAny(name, target.names);
    };
    for (const std::string& root : target.roots) {
        struct stat st;
        if (::lstat(root.c_str(), &st) != 0) continue;
        if (!target.contentsOnly || !S_ISDIR(st.st_mode)) {
            candidates.push_back(root);
            continue;
        }
        if (unreadableFolder(root)) {
            if (outsideHome(root)) unknown.push_back(root);
            continue;
        }
        switch (target.kind) {
        case CleanupRowKind::temporaryFiles: temporaryCandidates(root, open, candidates); continue;
        case CleanupRowKind::rotatedLogs: rotatedLogs(root, st.st_dev, target.keep, candidates, unknown); continue;
        case CleanupRowKind::disabledSnaps:
            for (const std::string& file :
                 disabledSnapFiles(Shell::run("/usr/bin/snap", {"list", "--all"}).value_or("")))
                if (pathExists(Paths::join(root, file))) candidates.push_back(Paths::join(root, file));
            continue;
        default: break;
        }
        auto names = FolderListing::names(root);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (!offered(name)) continue;
            const std::string path = Paths::join(root, name);
            if (target.kind == CleanupRowKind::flatpakOrphans && flatpakInstalled(name)) continue;
            if (target.kind == CleanupRowKind::installers &&
                (name.ends_with(".AppImage") || name.ends_with(".appimage")) && appImageInstalled(path))
                continue;
            candidates.push_back(path);
        }
    }
    for (const std::string& root : target.wholeRoots) {
        if (!pathExists(root)) continue;
        if (unreadableFolder(root) && outsideHome(root))
            unknown.push_back(root);
        else
            candidates.push_back(root);
    }

    std::vector<std::string> paths;
    for (const std::string& candidate : candidates) addUnclaimed(candidate, target.claimed, paths);

    std::vector<std::string> processNames;
    for (const RunningProgram& program : target.running)
        processNames.insert(processNames.end(), program.processes.begin(), program.processes.end());
    const std::set<std::string> running = RunningApps::runningPrograms(processNames);

    std::vector<CleanupEntry> entries;
    for (const std::string& path : paths) {
        const bool memory = target.kind == CleanupRowKind::temporaryFiles && inMemory(path);
        int64_t size = memory ? 0 : DiskScanner::freedSize(path, options, cancelled);
        // What lives in memory frees no disk but is still worth offering;
        // anything else that frees nothing is not.
        if (!memory && size <= 0) continue;
        if (memory && DiskScanner::quickSize(path, options, cancelled) <= 0) continue;
        CleanupEntry entry = makeEntry(path, size);
        entry.freesNoDisk = memory;
        entry.readOnly = target.listOnly;
        for (const RunningProgram& program : target.running) {
            bool runs = false;
            for (const std::string& process : program.processes) runs = runs || running.count(process);
            if (!runs) continue;
            for (const std::string& folder : program.folders)
                if (insidePattern(path, folder) || Paths::isInside(PlatformTables::unescapePattern(folder), path))
                    entry.inUseBy = program.name;
            if (!entry.inUseBy.empty()) break;
        }
        entries.push_back(std::move(entry));
    }
    for (const std::string& folder : unknown)
        if (!insideAny(folder, target.claimed)) {
            entries.push_back(unknownSizeEntry(folder));
        }
    sortLargestFirst(entries);
    target.entries = std::move(entries);
    target.scanned = true;
    return target;
}

CleanupEntry makeEntry(const std::string& path, int64_t size) {
    CleanupEntry entry;
    // Its folder made real and its identity taken now: a removal acts on
    // this object only, through folders it opens without following links.
    IdentifiedItem item = identify(path);
    entry.url = std::move(item.path);
    entry.identity = item.identity;
    entry.size = size;
    struct stat st;
    if (::lstat(entry.url.c_str(), &st) == 0)
        entry.modified = Dates::fromTimespec(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
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
