#include "removal/GuardRules.h"

#include "platform/PlatformTables.h"
#include "platform/Trash.h"
#include "support/FolderListing.h"
#include "support/Paths.h"

#include <algorithm>
#include <cstdlib>
#include <fnmatch.h>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace vessora::GuardRules {

namespace {

std::string structural(const std::string& p) { return p + " is a structural directory and is never removed."; }
std::string protectedInside(const std::string& p) { return p + " lives inside a protected system location."; }
std::string mountRoot(const std::string& p) { return p + " is the root of a mounted volume and is never removed."; }

bool strictlyInside(const std::string& inner, const std::string& outer) {
    return inner.size() > outer.size() && inner.starts_with(outer) && (outer == "/" || inner[outer.size()] == '/');
}

// What the homes' rules and closeness to the root make of a path.
enum class Refusal { none, volumeRoot, structural, protectedSystem, protectedHome, holds, tooClose };

struct Judgement {
    Refusal refusal = Refusal::none;
    std::string held; // for holds: what lies inside
};

std::string message(const Judgement& judgement, const std::string& p) {
    switch (judgement.refusal) {
    case Refusal::volumeRoot: return "Refusing to operate on the volume root.";
    case Refusal::structural: return structural(p);
    case Refusal::protectedSystem: return protectedInside(p);
    case Refusal::protectedHome: return p + " lives inside a protected location.";
    case Refusal::holds: return p + " holds " + judgement.held + " and is never removed.";
    case Refusal::tooClose: return p + " is too close to the volume root to remove safely.";
    case Refusal::none: break;
    }
    return {};
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

bool isTrashName(const std::string& name) {
    if (name == ".Trash") return true;
    if (!name.starts_with(".Trash-") || name.size() == 7) return false;
    return std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A trash folder itself: the home trash, "$top/.Trash", "$top/.Trash/$uid" or
// "$top/.Trash-$uid". What it holds may go; the folder stays.
bool isTrashFolder(const std::string& p, const std::string& homeTrash) {
    if (p == homeTrash) return true;
    const std::string name = Paths::lastComponent(p);
    if (isTrashName(name)) return true;
    // "$top/.Trash/$uid"; inside macOS's "~/.Trash" the trashed items themselves are named freely.
    return Paths::lastComponent(Paths::parent(p)) == ".Trash" && !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isTrashPart(const std::string& p, const std::string& homeTrash) {
    if (isTrashFolder(p, homeTrash)) return true;
    const std::string name = Paths::lastComponent(p);
    return (name == "files" || name == "info" || name == "expunged") && isTrashFolder(Paths::parent(p), homeTrash);
}

std::string withSlash(std::string prefix) {
    if (!prefix.ends_with('/')) prefix += '/';
    return prefix;
}

std::string realPath(const std::string& path) {
    std::string out;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        out = real;
        std::free(real);
    }
    return out;
}

// The homes the password database names: root's and real users'. The
// database's enumeration is one process-wide cursor, so one reader at a time.
std::vector<std::string> passwordDatabaseHomes() {
    static std::mutex cursor;
    std::lock_guard lock(cursor);
    std::vector<std::string> homes;
    ::setpwent();
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    for (;;) {
        int error = ::getpwent_r(&entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || !found) break;
        if ((found->pw_uid == 0 || found->pw_uid >= 1000) && found->pw_dir && found->pw_dir[0] == '/')
            homes.emplace_back(found->pw_dir);
    }
    ::endpwent();
    return homes;
}

// Each entry of a users folder, by its name there and, for a link, by where
// the link points (read, not followed: the target is not asked anything).
void addUsersFolder(const std::string& folder, std::vector<std::string>& homes) {
    const std::string real = realPath(folder);
    for (const std::string& name : FolderListing::namesOrEmpty(folder)) {
        homes.push_back(Paths::join(folder, name));
        if (!real.empty() && real != folder) homes.push_back(Paths::join(real, name));
        // Anything but a link refuses readlink.
        char target[4096];
        const std::string link = Paths::join(folder, name);
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0) {
            std::string to(target, size_t(n));
            homes.push_back(to.starts_with('/') ? to : Paths::join(folder, to));
        }
    }
}

} // namespace

std::vector<std::string> homeFolders() {
    std::vector<std::string> homes{Paths::home()};
    if (std::string real = realPath(Paths::standardize(Paths::home())); !real.empty()) homes.push_back(real);
    for (std::string& home : passwordDatabaseHomes()) homes.push_back(std::move(home));
    addUsersFolder("/home", homes);
    if (const char* users = PlatformTables::current().categories.usersFolder; users && *users == '/')
        if (Paths::standardize(users) != "/home") addUsersFolder(Paths::standardize(users), homes);
    std::vector<std::string> out;
    for (const std::string& home : homes) {
        std::string p = Paths::standardize(home);
        if (!p.starts_with('/') || p == "/") continue;
        if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
    }
    return out;
}

std::vector<std::string> structuralFolders(const std::string& home) {
    const GuardTables& guard = PlatformTables::current().guard;
    std::vector<std::string> list(guard.structural.begin(), guard.structural.end());
    for (const char* suffix : guard.homeStructural) list.push_back(home + suffix);
    return list;
}

std::vector<std::string> protectedPrefixes(const std::string& home) {
    const GuardTables& guard = PlatformTables::current().guard;
    std::vector<std::string> list;
    for (const char* prefix : guard.prefixes) list.push_back(withSlash(PlatformTables::resolveRoot(prefix)));
    for (const char* suffix : guard.homePrefixes) list.push_back(home + suffix);
    return list;
}

SystemState SystemState::current() { return {MountTable::read(), MountTable::liveSwapFiles()}; }

std::string physicalLocation(const std::string& path) {
    std::string rest;
    for (std::string at = path; !at.empty() && at != "/"; at = Paths::parent(at)) {
        if (std::string real = realPath(at); !real.empty()) return rest.empty() ? real : Paths::join(real, rest);
        rest = rest.empty() ? Paths::lastComponent(at) : Paths::join(Paths::lastComponent(at), rest);
    }
    return path;
}

std::optional<std::string> refusal(const std::string& p, const std::string& shown, const SystemState& state) {
    if (p.empty() || p == "/") return std::nullopt;
    const GuardTables& guard = PlatformTables::current().guard;
    for (const char* token : guard.structuralTokens)
        if (Paths::standardize(PlatformTables::resolveRoot(token)) == p) return structural(shown);
    for (const char* pattern : guard.structuralPatterns)
        if (::fnmatch(pattern, p.c_str(), FNM_PATHNAME) == 0) return structural(shown);
    for (const auto& [prefix, allowed] : guard.guardedPrefixes) {
        if (!p.starts_with(prefix)) continue;
        const std::string rest = p.substr(std::string_view(prefix).size());
        const std::string name = Paths::lastComponent(p);
        const bool exempt = std::any_of(allowed.begin(), allowed.end(), [&](const char* a) {
            std::string_view exception = a;
            if (exception.ends_with('/')) return rest.starts_with(exception) && rest.size() > exception.size();
            return ::fnmatch(a, name.c_str(), 0) == 0;
        });
        if (!exempt) return protectedInside(shown);
    }
    if (isTrashPart(p, Paths::standardize(PlatformTables::resolveRoot("$XDG_DATA_HOME/Trash"))))
        return structural(shown);
    // Remote first: below a network or FUSE mount nothing is local, however deep.
    for (const MountEntry& m : state.mounts)
        if (MountTable::isRemote(m) && Paths::isInside(p, m.mountPoint))
            return shown + " is on a network or FUSE file system (" + m.fsType + " at " + m.mountPoint +
                   "); removing it would delete the remote data.";
    for (const MountEntry& m : state.mounts)
        if (m.mountPoint == p) return mountRoot(shown);
    for (const std::string& swap : state.swapFiles)
        if (Paths::standardize(swap) == p) return shown + " is a swap file in use and is never removed.";
    return std::nullopt;
}

Guard::Guard()
    : homes_(homeFolders()), system_{MountTable::read(), {}}, dynamic_(PlatformTables::current().guard.dynamicChecks) {
    if (dynamic_) system_.swapFiles = MountTable::liveSwapFiles();
}

std::optional<std::string> Guard::refusal(const std::string& p, const std::string& shown) const {
    static const SystemState none;
    const Judgement j = judge(p, homes_);
    if (j.refusal == Refusal::volumeRoot || j.refusal == Refusal::structural) return message(j, shown);
    // The table set's own rows and the system's (swap files, mounts, trash
    // folders, remote file systems) say more than a prefix or "too close".
    if (auto why = GuardRules::refusal(p, shown, dynamic_ ? system_ : none)) return why;
    if (j.refusal != Refusal::none) return message(j, shown);
    return std::nullopt;
}

std::optional<std::string> Guard::refusalWhereReal(const std::string& real, const std::string& shown) const {
    static const SystemState none;
    if (auto why = locationRefusal(real, shown)) return why;
    return GuardRules::refusal(real, shown, dynamic_ ? system_ : none);
}

std::optional<std::string> Guard::locationRefusal(const std::string& judged, const std::string& shown) const {
    if (Judgement j = judge(judged, homes_); j.refusal != Refusal::none) return message(j, shown);
    return std::nullopt;
}

std::optional<std::string> Guard::actingRefusal(const std::string& real, const std::string& shown, bool toTrash) const {
    for (const MountEntry& mount : system_.mounts) {
        if (mount.mountPoint == real) return mountRoot(shown);
        if (strictlyInside(mount.mountPoint, real))
            return shown + " holds the mounted file system " + mount.mountPoint + " and is never removed.";
    }
    if (toTrash) {
        const std::string trash = Trash::homeTrash();
        for (const std::string& t : {trash, physicalLocation(trash)})
            if (t == real || strictlyInside(t, real)) return shown + " holds the Trash and cannot be moved into it.";
    }
    return std::nullopt;
}

} // namespace vessora::GuardRules
