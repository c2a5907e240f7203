#pragma once
// What the Remover's guard refuses beyond the volume root and the "too close
// to the root" rule: the active table set's structural folders and protected
// prefixes, and the rules read from the running system (mount points, swap
// files in use, trash folders, network and FUSE mounts).

#include "platform/MountTable.h"

#include <optional>
#include <string>
#include <vector>

namespace vessora::GuardRules {

// Every home folder on the machine, whose home rows the guard applies: the
// caller's ($HOME), the password database's homes of root and of real users
// (uid 1000 and above), and every folder in /home and in the table set's
// users folder. Each is also listed as the file system resolves it where that
// can be told without asking another user's home (which may be a network
// mount) for its status: the caller's home itself, the users folders and the
// links in them. Standardized, without "/" or duplicates.
std::vector<std::string> homeFolders();

// Exact folders that are never removed, and prefixes everything inside of
// which is refused, for one home folder.
std::vector<std::string> structuralFolders(const std::string& home);
std::vector<std::string> protectedPrefixes(const std::string& home);

// What the guard reads from the running system.
struct SystemState {
    std::vector<MountEntry> mounts;
    std::vector<std::string> swapFiles;
    static SystemState current();
};

// The refusal message for the standardized absolute path `judged`, naming
// `shown` (the path as the user gave it), or nothing when these rules allow
// it. The root and the empty path are left to the caller.
std::optional<std::string> refusal(const std::string& judged, const std::string& shown);
std::optional<std::string> refusal(const std::string& judged, const std::string& shown, const SystemState& state);

} // namespace vessora::GuardRules
