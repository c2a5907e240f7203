#include "removal/GuardRules.h"

#include "platform/PlatformTables.h"
#include "support/Paths.h"

#include <algorithm>
#include <fnmatch.h>

namespace vessora::GuardRules {

namespace {

std::string structural(const std::string& p) { return p + " is a structural directory and is never removed."; }
std::string protectedInside(const std::string& p) { return p + " lives inside a protected system location."; }

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

} // namespace

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

std::optional<std::string> refusal(const std::string& judged, const std::string& shown) {
    if (!PlatformTables::current().guard.dynamicChecks) return refusal(judged, shown, SystemState{});
    return refusal(judged, shown, SystemState::current());
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
        if (m.mountPoint == p) return shown + " is the root of a mounted volume and is never removed.";
    for (const std::string& swap : state.swapFiles)
        if (Paths::standardize(swap) == p) return shown + " is a swap file in use and is never removed.";
    return std::nullopt;
}

} // namespace vessora::GuardRules
