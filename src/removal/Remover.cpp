#include "removal/Remover.h"

#include "catalog/VolumeInfo.h"
#include "platform/ItemHandle.h"
#include "platform/SafeDelete.h"
#include "platform/Trash.h"
#include "removal/GuardRules.h"
#include "scan/DiskScanner.h"
#include "support/Fmt.h"
#include "support/Paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {

std::string_view displayText(RemovalMode mode) {
    return mode == RemovalMode::trash ? "Move to Trash" : "Delete immediately";
}

namespace Remover {

namespace {

enum class Refusal { none, volumeRoot, structural, protectedSystem, protectedHome, holds, tooClose };

struct Judgement {
    Refusal refusal = Refusal::none;
    std::string held; // for holds: what lies inside
};

std::string message(const Judgement& judgement, const std::string& p) {
    switch (judgement.refusal) {
    case Refusal::volumeRoot: return "Refusing to operate on the volume root.";
    case Refusal::structural: return p + " is a structural directory and is never removed.";
    case Refusal::protectedSystem: return p + " lives inside a protected system location.";
    case Refusal::protectedHome: return p + " lives inside a protected location.";
    case Refusal::holds: return p + " holds " + judgement.held + " and is never removed.";
    case Refusal::tooClose: return p + " is too close to the volume root to remove safely.";
    case Refusal::none: break;
    }
    return {};
}

// Every home folder on the machine, each also as the file system resolves
// it where that is known: the guard protects all of them, not only the caller's.
std::vector<std::string> homeFolders() { return GuardRules::homeFolders(); }

bool strictlyInside(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.starts_with(outer) && (outer == "/" || inner[outer.size()] == '/');
}

Judgement judge(const std::string& p, const std::vector<std::string>& homes) {
    if (p.empty() || p == "/") return {Refusal::volumeRoot, {}};
    for (const std::string& home : homes) {
        auto list = structuralFolders(home);
        if (std::find(list.begin(), list.end(), p) != list.end()) return {Refusal::structural, {}};
    }
    for (const std::string& home : homes)
        for (const std::string& prefix : protectedPrefixes(home))
            if (p.starts_with(prefix))
                return {prefix.starts_with(home + "/") ? Refusal::protectedHome : Refusal::protectedSystem, {}};
    // Removing a folder removes everything below it.
    for (const std::string& home : homes)
        if (strictlyInside(home, p)) return {Refusal::holds, "the home folder " + home};
    for (const std::string& home : homes) {
        for (const std::string& folder : structuralFolders(home))
            if (strictlyInside(folder, p)) return {Refusal::holds, "the structural directory " + folder};
        for (std::string prefix : protectedPrefixes(home)) {
            while (prefix.size() > 1 && prefix.ends_with('/')) prefix.pop_back();
            if (prefix == p || strictlyInside(prefix, p)) return {Refusal::holds, "the protected location " + prefix};
        }
    }
    size_t pieces = 0;
    for (size_t i = 0; i < p.size(); ++i)
        if (p[i] != '/' && (i == 0 || p[i - 1] == '/')) ++pieces;
    if (pieces < 2) return {Refusal::tooClose, {}};
    return {};
}

// The item's path as the kernel resolves it, except that its last component
// stays as it is (a link is the item, not what it points to): "~" expanded,
// a relative path taken from the working directory, empty and "." components
// dropped, and each ".." taken from the real folder before it, never by
// striking the component written before it. False, with the lexical form
// for messages, when a folder before a ".." cannot be resolved.
bool physicalPath(const std::string& url, std::string& out, int& error) {
    std::string text = url;
    if (text == "~" || text.starts_with("~/")) text = Paths::home() + text.substr(1);
    if (text.empty()) {
        out.clear();
        return true;
    }
    if (!text.starts_with('/')) {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) {
            // The working directory is gone: the path names nothing.
            error = errno;
            out = text;
            return false;
        }
        text = Paths::join(cwd, text);
    }
    std::string result = "/";
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('/', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view component = std::string_view(text).substr(at, end - at);
        at = end + 1;
        if (component.empty() || component == ".") continue;
        if (component != "..") {
            result = Paths::join(result, component);
            continue;
        }
        char* real = ::realpath(result.c_str(), nullptr);
        if (!real) {
            error = errno;
            out = Paths::standardize(text);
            return false;
        }
        result = Paths::parent(real);
        std::free(real);
    }
    out = result;
    return true;
}

// The path with its deepest existing folder resolved.
std::string physicalLocation(const std::string& path) {
    std::string rest;
    for (std::string at = path; !at.empty() && at != "/"; at = Paths::parent(at)) {
        if (char* real = ::realpath(at.c_str(), nullptr)) {
            std::string out = rest.empty() ? std::string(real) : Paths::join(real, rest);
            std::free(real);
            return out;
        }
        rest = rest.empty() ? Paths::lastComponent(at) : Paths::join(Paths::lastComponent(at), rest);
    }
    return path;
}

bool missing(int error) { return error == ENOENT || error == ENOTDIR; }
bool permissionDenied(int error) { return error == EACCES || error == EPERM; }

struct Resolved {
    GuardResult verdict;
    ItemHandle item;     // open when the item's folder could be reached
    int unreachable = 0; // errno when the guard allowed an item whose folder this user cannot reach
};

Resolved resolve(const std::string& url, bool pathsAreReal, const std::vector<std::string>& homes) {
    Resolved r;
    std::string p;
    int error = 0;
    const bool resolved = physicalPath(url, p, error);
    auto refuse = [&](std::string why) {
        r.verdict = GuardResult::refuse(std::move(why));
        r.verdict.path = p;
        return std::move(r);
    };
    if (Judgement j = judge(p, homes); j.refusal != Refusal::none) {
        if (j.refusal == Refusal::volumeRoot || j.refusal == Refusal::structural) return refuse(message(j, p));
        // The table set's own rows and the system's (swap files, mounts, trash
        // folders, remote file systems) say more than a prefix or "too close".
        if (auto why = GuardRules::refusal(p, p)) return refuse(*why);
        return refuse(message(j, p));
    }
    // Judged before anything below a possibly hung mount is asked for its status.
    if (auto why = GuardRules::refusal(p, p)) return refuse(*why);
    if (!resolved)
        return refuse(p + (missing(error) ? " does not exist."
                                          : " cannot be reached: " + std::string(std::strerror(error)) + "."));
    if (pathsAreReal && (!url.starts_with('/') || Paths::standardize(url) != url))
        return refuse(p + " is not a real path.");

    const std::string name = Paths::lastComponent(p);
    std::string folder = Paths::parent(p);
    // Allowed, for the administrator to go further: its real path is known
    // as far as this user can see, the rest is the helper's to judge.
    auto allowUnreachable = [&](int e) {
        const std::string seen = Paths::join(physicalLocation(folder), name);
        if (Judgement j = judge(seen, homes); j.refusal != Refusal::none) return refuse(message(j, p));
        r.verdict = GuardResult::allow();
        r.verdict.path = p;
        r.verdict.realPath = seen;
        r.unreachable = e;
        return std::move(r);
    };
    if (!pathsAreReal) {
        char* real = ::realpath(folder.c_str(), nullptr);
        if (!real) {
            const int e = errno;
            if (missing(e)) return refuse(p + " does not exist.");
            if (permissionDenied(e)) return allowUnreachable(e);
            return refuse(p + " cannot be reached: " + std::strerror(e) + ".");
        }
        folder = real;
        std::free(real);
    }
    r.item = ItemHandle::open(folder, name);
    if (!r.item.ok()) {
        const int e = r.item.error();
        if (e == ELOOP || (pathsAreReal && e == ENOTDIR))
            return refuse(p + " was moved or replaced by a link while it was being removed; nothing was removed.");
        if (missing(e)) return refuse(p + " does not exist.");
        if (permissionDenied(e)) return allowUnreachable(e);
        return refuse(p + " cannot be reached: " + std::strerror(e) + ".");
    }
    // Judged where it really is, too: a folder on the way may be a link into a protected place.
    const std::string real = r.item.path();
    if (real != p) {
        if (Judgement j = judge(real, homes); j.refusal != Refusal::none) return refuse(message(j, p));
        if (auto why = GuardRules::refusal(real, p)) return refuse(*why);
    }
    struct stat st;
    const int statError = ::fstatat(r.item.folder(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    if (statError != 0 && !permissionDenied(statError))
        return refuse(p + (missing(statError) ? " does not exist."
                                              : " cannot be reached: " + std::string(std::strerror(statError)) + "."));
    r.verdict = GuardResult::allow();
    r.verdict.path = p;
    r.verdict.realPath = real;
    return r;
}

// The kernel's mount points, read once per batch.
class MountPoints {
public:
    const std::vector<std::string>& list() {
        if (!loaded_) {
            loaded_ = true;
            std::ifstream in("/proc/self/mountinfo", std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            for (const MountEntry& entry : VolumeInfo::parseMountInfo(text.str())) points_.push_back(entry.mountPoint);
        }
        return points_;
    }

private:
    bool loaded_ = false;
    std::vector<std::string> points_;
};

// A refusal for an item that is or holds a mount point: moving it to the
// Trash would carry the mounted data along, deleting it would empty it.
std::string mountRefusal(const std::string& real, const std::string& p, MountPoints& mounts) {
    for (const std::string& point : mounts.list()) {
        if (point == real) return p + " is the root of a mounted volume and is never removed.";
        if (strictlyInside(point, real))
            return p + " holds the mounted file system " + point + " and is never removed.";
    }
    return {};
}

bool holdsTheTrash(const std::string& real) {
    const std::string trash = Trash::homeTrash();
    for (const std::string& t : {trash, physicalLocation(trash)})
        if (t == real || strictlyInside(t, real)) return true;
    return false;
}

std::string failureText(const std::string& p, int error) {
    switch (error) {
    case EROFS: return p + " is on a read-only file system.";
    case ENOENT: return p + " no longer exists.";
    case EBUSY: return p + " is a mount point in use and cannot be removed.";
    default: return p + " could not be removed: " + std::strerror(error) + ".";
    }
}

} // namespace

std::vector<std::string> structuralFolders(const std::string& home) { return GuardRules::structuralFolders(home); }

std::vector<std::string> protectedPrefixes(const std::string& home) { return GuardRules::protectedPrefixes(home); }

GuardResult check(const std::string& url) { return resolve(url, false, homeFolders()).verdict; }

GuardResult checkDestination(const std::string& path) {
    const std::string p = Paths::standardize(path);
    GuardResult verdict = GuardResult::allow();
    if (Judgement j = judge(p, homeFolders()); j.refusal != Refusal::none) {
        std::optional<std::string> rule;
        if (j.refusal != Refusal::volumeRoot && j.refusal != Refusal::structural) rule = GuardRules::refusal(p, p);
        verdict = GuardResult::refuse(rule.value_or(message(j, p)));
    } else if (auto why = GuardRules::refusal(p, p)) {
        verdict = GuardResult::refuse(*why);
    }
    verdict.path = p;
    return verdict;
}

RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes) {
    return remove(urls, mode, precomputedSizes, {});
}

RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes, const RemovalOptions& options) {
    RemovalResult result;
    result.trashRequested = mode == RemovalMode::trash;
    const std::vector<std::string> homes = homeFolders();
    MountPoints mounts;
    for (const std::string& url : urls) {
        Resolved r = resolve(url, options.pathsAreReal, homes);
        const std::string& p = r.verdict.path;
        if (!r.verdict.allowed) {
            result.failed.push_back({url, r.verdict.reason});
            continue;
        }
        if (!r.item.ok()) {
            // The folder is closed to this user: only the administrator can go further.
            result.needsAdmin.push_back(url);
            continue;
        }
        const std::string real = r.item.path();
        std::string refusal = mountRefusal(real, p, mounts);
        if (refusal.empty() && mode == RemovalMode::trash && holdsTheTrash(real))
            refusal = p + " holds the Trash and cannot be moved into it.";
        if (!refusal.empty()) {
            result.failed.push_back({url, refusal});
            continue;
        }
        auto known = precomputedSizes.find(url);
        const int64_t size = known != precomputedSizes.end() ? known->second : DiskScanner::freedSize(real);
        if (options.afterResolving) options.afterResolving(url);

        int error = 0;
        std::string reason;
        SafeDelete::Outcome deleted;
        if (mode == RemovalMode::trash) {
            Trash::Outcome outcome = Trash::moveToTrash(r.item.folder(), r.item.name(), r.item.folderPath());
            error = outcome.error;
            reason = outcome.reason;
            if (outcome.ok()) result.trashed.push_back(std::move(outcome.entry));
        } else {
            deleted = SafeDelete::removeAt(r.item.folder(), r.item.name(), p);
            error = deleted.error;
            reason = deleted.reason;
        }
        if (error == 0 && reason.empty()) {
            result.succeeded.push_back(url);
            result.bytesFreed += size;
            continue;
        }
        // What went before the failure is gone all the same: count it and say so.
        result.bytesFreed += deleted.bytesRemoved;
        if (deleted.partial() && reason.empty() && permissionDenied(error)) {
            result.needsAdmin.push_back(url);
            result.partlyRemoved.push_back(url);
        } else if (deleted.partial()) {
            result.failed.push_back(
                {url, p + " was only partly removed: " + (reason.empty() ? failureText(p, error) : reason)});
        } else if (!reason.empty()) {
            result.failed.push_back({url, reason});
        } else if (permissionDenied(error)) {
            result.needsAdmin.push_back(url);
        } else {
            result.failed.push_back({url, failureText(p, error)});
        }
    }
    return result;
}

std::string needsAdminLine(const RemovalResult& result) {
    const size_t count = result.needsAdmin.size();
    if (count == 0) return {};
    std::string line =
        Fmt::count(int64_t(count)) + (count == 1 ? " item" : " items") + " need" + " administrator rights.";
    if (!result.partlyRemoved.empty())
        line += result.partlyRemoved.size() == count
                    ? (count == 1 ? " It was partly removed already." : " They were partly removed already.")
                    : " " + Fmt::count(int64_t(result.partlyRemoved.size())) + " of them " +
                          (result.partlyRemoved.size() == 1 ? "was" : "were") + " partly removed already.";
    if (result.trashRequested)
        line += count == 1 ? " With administrator rights it is deleted immediately and cannot go to the Trash."
                           : " With administrator rights they are deleted immediately and cannot go to the Trash.";
    return line;
}

std::string shellQuote(std::string_view text) { return shellWord(text); }

std::string removalCommand(const std::vector<std::string>& paths) {
    std::string command = "/bin/rm -rf --";
    for (const std::string& path : paths) command += " " + shellQuote(path);
    return command;
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls) {
    return removeWithAdmin(urls, defaultPrivilegedRunner());
}

std::string privilegedHelperPath() {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    const std::string folder = Paths::parent(std::string(self, size_t(n)));
    // Beside this program (the build folder, the app bundle), else in the
    // installed bundle next to an installed `PREFIX/bin/vessora`: the polkit
    // policy names that one path.
    for (const std::string& candidate :
         {Paths::join(folder, privilegedHelperName),
          Paths::join(Paths::standardize(folder + "/../lib/vessora/Vessora.app/Contents/MacOS"), privilegedHelperName)})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

namespace {

// The helper's report: for each item, "removed" NUL path NUL bytes NUL, or
// "failed" NUL path NUL reason NUL.
struct HelperVerdict {
    bool removed = false;
    int64_t bytes = 0;
    std::string reason;
};

std::map<std::string, HelperVerdict> readReport(const std::string& report) {
    std::vector<std::string> fields;
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find('\0', start);
        if (end == std::string::npos) break;
        fields.push_back(report.substr(start, end - start));
        start = end + 1;
    }
    std::map<std::string, HelperVerdict> verdicts;
    for (size_t i = 0; i + 2 < fields.size(); i += 3) {
        HelperVerdict& v = verdicts[fields[i + 1]];
        v.removed = fields[i] == "removed";
        if (v.removed)
            v.bytes = std::strtoll(fields[i + 2].c_str(), nullptr, 10);
        else
            v.reason = fields[i + 2];
    }
    return verdicts;
}

void record(std::string& report, std::string_view kind, const std::string& path, const std::string& value) {
    for (std::string_view field : {kind, std::string_view(path), std::string_view(value)}) {
        report += field;
        report += '\0';
    }
}

} // namespace

std::string serveAdminRequest(const std::string& request, bool& allRemoved) {
    std::vector<std::string> paths;
    for (size_t start = 0; start < request.size();) {
        size_t end = request.find('\0', start);
        if (end == std::string::npos) end = request.size();
        if (end > start) paths.push_back(request.substr(start, end - start));
        start = end + 1;
    }
    RemovalOptions options;
    options.pathsAreReal = true;
    std::string report;
    allRemoved = true;
    // One item at a time, so that each one's freed bytes are its own.
    for (const std::string& path : paths) {
        RemovalResult r = remove({path}, RemovalMode::deleteImmediately, {}, options);
        if (!r.succeeded.empty()) {
            record(report, "removed", path, std::to_string(r.bytesFreed));
            continue;
        }
        allRemoved = false;
        if (!r.failed.empty())
            record(report, "failed", path, r.failed.front().reason);
        else
            record(report, "failed", path,
                   path + (r.partlyRemoved.empty() ? "" : " was only partly removed; it") +
                       " could not be removed even with administrator rights.");
    }
    return report;
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner) {
    RemovalResult result;
    struct Kept {
        std::string path; // as judged, reported back
        std::string real; // sent to the helper
        int64_t size = 0;
    };
    std::vector<Kept> kept;
    const std::vector<std::string> homes = homeFolders();
    for (const std::string& url : urls) {
        Resolved r = resolve(url, false, homes);
        if (r.verdict.allowed)
            kept.push_back({r.verdict.path, r.verdict.realPath.empty() ? r.verdict.path : r.verdict.realPath, 0});
        else
            result.failed.push_back({url, r.verdict.reason});
    }
    if (kept.empty()) return result;

    std::string request;
    for (Kept& item : kept) {
        item.size = DiskScanner::freedSize(item.real);
        request += item.real;
        request += '\0';
    }
    const std::string helper = privilegedHelperPath();
    if (helper.empty()) {
        for (const Kept& item : kept)
            result.failed.push_back({item.path, "The administrator helper " + std::string(privilegedHelperName) +
                                                    " is missing beside this program, so nothing was removed."});
        return result;
    }
    PrivilegedOutcome outcome = runner.runProgram(helper, {"--home", Paths::standardize(Paths::home())}, request);
    if (outcome.status == PrivilegedOutcome::Status::refused) {
        const std::string why = outcome.message.empty() ? "Authorization failed." : outcome.message;
        for (const Kept& item : kept) result.failed.push_back({item.path, why});
        return result;
    }
    // The helper's own report first; for anything it did not report, the disk says what is gone.
    const std::map<std::string, HelperVerdict> report = readReport(outcome.output);
    for (const Kept& item : kept) {
        auto said = report.find(item.real);
        struct stat st;
        if (said != report.end() && !said->second.removed) {
            result.failed.push_back({item.path, said->second.reason});
        } else if (said != report.end()) {
            result.succeeded.push_back(item.path);
            result.bytesFreed += said->second.bytes;
        } else if (::lstat(item.real.c_str(), &st) == 0) {
            result.failed.push_back({item.path, "Still present after removal."});
        } else {
            result.succeeded.push_back(item.path);
            result.bytesFreed += item.size;
        }
    }
    return result;
}

std::optional<std::string> snapshotDeletionCommand(const LocalSnapshot& snapshot) {
    std::string date = snapshot.name;
    for (std::string_view piece : {std::string_view("com.apple.TimeMachine."), std::string_view(".local")}) {
        for (size_t at; (at = date.find(piece)) != std::string::npos;) date.erase(at, piece.size());
    }
    // The text reaches a shell run as root: only the tool's own date format passes.
    if (date.empty() ||
        !std::all_of(date.begin(), date.end(), [](char c) { return (c >= '0' && c <= '9') || c == '-'; }))
        return std::nullopt;
    return "/usr/bin/tmutil deletelocalsnapshots " + shellQuote(date);
}

bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume) {
    return deleteSnapshot(snapshot, volume, defaultPrivilegedRunner());
}

bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string&, PrivilegedRunner& runner) {
    std::optional<std::string> command = snapshotDeletionCommand(snapshot);
    if (!command) return false;
    PrivilegedOutcome outcome = runner.run(*command);
    return outcome.status == PrivilegedOutcome::Status::ran && outcome.exitStatus == 0;
}

} // namespace Remover

} // namespace vessora
