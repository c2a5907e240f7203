#include "removal/Remover.h"

#include "platform/SafeDelete.h"
#include "platform/Trash.h"
#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora {

std::string_view displayText(RemovalMode mode) {
    return mode == RemovalMode::trash ? "Move to Trash" : "Delete immediately";
}

namespace Remover {

namespace {

// Every location the guard refuses, in one place. The macOS locations and the
// Linux ones are refused on every platform: the paths of one system do not
// exist on the other, so each list is harmless where it does not apply.
constexpr std::string_view systemStructural[] = {
    // system roots
    "/", "/System", "/Library", "/Users", "/Applications", "/bin", "/sbin", "/usr", "/usr/bin", "/usr/lib",
    "/usr/local", "/etc", "/var", "/private", "/private/var", "/private/etc", "/opt", "/opt/homebrew", "/cores",
    "/Volumes",
    // shared system data
    "/Library/Application Support", "/Library/Caches", "/var/db", "/var/folders", "/private/var/db",
    "/private/var/folders",
    // Linux
    "/boot", "/dev", "/etc", "/home", "/lib", "/lib32", "/lib64", "/libx32", "/media", "/mnt", "/proc", "/root", "/run",
    "/snap", "/srv", "/sys", "/tmp", "/usr/sbin", "/usr/share", "/usr/include", "/usr/lib32", "/usr/lib64",
    "/usr/libexec", "/usr/local/bin", "/var/cache", "/var/lib", "/var/log", "/var/tmp"};

// Appended to the home folder; "" is the home folder itself.
constexpr std::string_view homeStructural[] = {
    "", "/Library", "/Documents", "/Desktop", "/Downloads", "/Pictures", "/Movies", "/Music", "/Public",
    "/Library/Application Support", "/Library/Containers", "/Library/Group Containers", "/Library/Caches",
    "/Library/Preferences", "/Library/Mobile Documents", "/Library/CloudStorage",
    // Linux
    "/.config", "/.local", "/.local/share", "/.cache", "/.ssh", "/Videos", "/Templates"};

constexpr std::string_view systemPrefixes[] = {"/System/", "/bin/", "/sbin/", "/usr/bin/", "/usr/lib/", "/usr/libexec/",
                                               "/private/etc/", "/private/var/db/dslocal/",
                                               // Linux
                                               "/boot/", "/dev/", "/etc/", "/lib/", "/lib32/", "/lib64/", "/libx32/",
                                               "/proc/", "/run/", "/sys/", "/usr/sbin/", "/usr/include/", "/usr/lib32/",
                                               "/usr/lib64/", "/var/lib/dpkg/", "/var/lib/apt/", "/var/lib/rpm/"};

constexpr std::string_view homePrefixes[] = {"/.ssh/"};

enum class Refusal { none, volumeRoot, structural, protectedLocation, tooClose };

std::string message(Refusal refusal, const std::string& p) {
    switch (refusal) {
    case Refusal::volumeRoot: return "Refusing to operate on the volume root.";
    case Refusal::structural: return p + " is a structural directory and is never removed.";
    case Refusal::protectedLocation: return p + " lives inside a protected system location.";
    case Refusal::tooClose: return p + " is too close to the volume root to remove safely.";
    case Refusal::none: break;
    }
    return {};
}

// The home folder as given and, when it differs, as the file system resolves
// it, so that a home reached through a link is protected under both names.
std::vector<std::string> homeFolders() {
    std::vector<std::string> homes{Paths::standardize(Paths::home())};
    if (char* real = ::realpath(homes.front().c_str(), nullptr)) {
        if (homes.front() != real) homes.emplace_back(real);
        std::free(real);
    }
    return homes;
}

Refusal judge(const std::string& p, const std::vector<std::string>& homes) {
    if (p.empty() || p == "/") return Refusal::volumeRoot;
    for (const std::string& home : homes) {
        auto list = structuralFolders(home);
        if (std::find(list.begin(), list.end(), p) != list.end()) return Refusal::structural;
    }
    for (const std::string& home : homes)
        for (const std::string& prefix : protectedPrefixes(home))
            if (p.starts_with(prefix)) return Refusal::protectedLocation;
    size_t pieces = 0;
    for (size_t i = 0; i < p.size(); ++i)
        if (p[i] != '/' && (i == 0 || p[i - 1] == '/')) ++pieces;
    if (pieces < 2) return Refusal::tooClose;
    return Refusal::none;
}

// The guard works on absolute standardized paths; a relative path is taken
// from the working directory, as the system would.
std::string standardized(const std::string& url) {
    std::string p = Paths::standardize(url);
    if (p.empty() || p.starts_with('/')) return p;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return p;
    return Paths::standardize(Paths::join(cwd, p));
}

bool itemExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool isPermissionDenied(int error) { return error == EACCES || error == EPERM || error == EROFS; }

} // namespace

std::vector<std::string> structuralFolders(const std::string& home) {
    std::vector<std::string> list(std::begin(systemStructural), std::end(systemStructural));
    for (std::string_view suffix : homeStructural) list.push_back(home + std::string(suffix));
    return list;
}

std::vector<std::string> protectedPrefixes(const std::string& home) {
    std::vector<std::string> list(std::begin(systemPrefixes), std::end(systemPrefixes));
    for (std::string_view suffix : homePrefixes) list.push_back(home + std::string(suffix));
    return list;
}

GuardResult check(const std::string& url) {
    const std::string p = standardized(url);
    const std::vector<std::string> homes = homeFolders();
    if (Refusal r = judge(p, homes); r != Refusal::none) return GuardResult::refuse(message(r, p));
    // The item itself, not what a link points to: a dangling link exists and can go.
    if (!itemExists(p)) return GuardResult::refuse(p + " no longer exists.");
    // A folder on the way may be a link into a protected place; judge where
    // the item really lives too.
    if (char* real = ::realpath(Paths::parent(p).c_str(), nullptr)) {
        std::string resolved = Paths::join(real, Paths::lastComponent(p));
        std::free(real);
        if (resolved != p)
            if (Refusal r = judge(resolved, homes); r != Refusal::none) return GuardResult::refuse(message(r, p));
    }
    return GuardResult::allow();
}

RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes) {
    RemovalResult result;
    for (const std::string& url : urls) {
        GuardResult verdict = check(url);
        if (!verdict.allowed) {
            result.failed.push_back({url, verdict.reason});
            continue;
        }
        // The path the guard judged is the one removed: a ".." or a trailing
        // separator resolved by the kernel through a link could name another item.
        const std::string path = standardized(url);
        auto known = precomputedSizes.find(url);
        const int64_t size = known != precomputedSizes.end() ? known->second : DiskScanner::quickSize(path);

        int error = 0;
        std::string reason;
        if (mode == RemovalMode::trash) {
            Trash::Outcome outcome = Trash::moveToTrash(path);
            error = outcome.error;
            reason = outcome.reason;
        } else {
            SafeDelete::Outcome outcome = SafeDelete::removeItem(path);
            error = outcome.error;
            reason = outcome.reason;
        }
        if (error == 0 && reason.empty()) {
            result.succeeded.push_back(url);
            result.bytesFreed += size;
        } else if (reason.empty() && isPermissionDenied(error)) {
            result.needsAdmin.push_back(url);
        } else {
            result.failed.push_back({url, reason.empty() ? std::string(std::strerror(error)) : reason});
        }
    }
    return result;
}

std::string shellQuote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

std::string removalCommand(const std::vector<std::string>& paths) {
    std::string command = "/bin/rm -rf --";
    for (const std::string& path : paths) command += " " + shellQuote(path);
    return command;
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls) {
    return removeWithAdmin(urls, defaultPrivilegedRunner());
}

RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner) {
    RemovalResult result;
    std::vector<std::string> kept;
    for (const std::string& url : urls) {
        GuardResult verdict = check(url);
        if (verdict.allowed)
            kept.push_back(standardized(url));
        else
            result.failed.push_back({url, verdict.reason});
    }
    if (kept.empty()) return result;

    std::map<std::string, int64_t> sizes;
    for (const std::string& path : kept) sizes[path] = DiskScanner::quickSize(path);

    PrivilegedOutcome outcome = runner.run(removalCommand(kept));
    if (outcome.status == PrivilegedOutcome::Status::refused) {
        const std::string why = outcome.message.empty() ? "Authorization failed." : outcome.message;
        for (const std::string& path : kept) result.failed.push_back({path, why});
        return result;
    }
    // Whatever the command's exit status, the disk says what is gone.
    for (const std::string& path : kept) {
        if (itemExists(path)) {
            result.failed.push_back({path, "Still present after removal."});
        } else {
            result.succeeded.push_back(path);
            result.bytesFreed += sizes[path];
        }
    }
    return result;
}

std::optional<std::string> snapshotDeletionCommand(const LocalSnapshot& snapshot) {
    const std::string date = LocalSnapshot::stampOf(snapshot.name);
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
