#pragma once
// Everything the removal guard refuses, and the sentence each refusal says:
// the volume root, places too close to it, every home's structural folders
// and protected prefixes and whatever holds one of them, the active table
// set's own rows, and the rules read from the running system (mount points,
// swap files in use, trash folders, network and FUSE mounts). The remover
// asks the guard and acts; it words no refusal of its own.

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

// The refusal by the table set's rows and the system's rules for the
// standardized absolute path `judged`, naming `shown` (the path as the user
// gave it), or nothing when these rules allow it. The root, the homes and
// closeness to the root are the Guard's.
std::optional<std::string> refusal(const std::string& judged, const std::string& shown, const SystemState& state);

// The path with its deepest existing folder resolved.
std::string physicalLocation(const std::string& path);

// The guard for one batch of items: every home on the machine and the mount
// table are read once when it is made, so every item is judged against the
// same picture of the system. Each call gives the refusal naming `shown`, or
// nothing when the item may go.
class Guard {
public:
    Guard();

    // Every rule, for a standardized absolute path (or "" for nothing named).
    std::optional<std::string> refusal(const std::string& judged, const std::string& shown) const;
    // Every rule for where an item really is, when that differs from the path
    // it was given by (a folder on the way is a link): the homes' rules say it first.
    std::optional<std::string> refusalWhereReal(const std::string& real, const std::string& shown) const;
    // The homes' rules and closeness to the root alone: for a real path known
    // only as far as this user can see, the rest being the administrator's to judge.
    std::optional<std::string> locationRefusal(const std::string& judged, const std::string& shown) const;
    // Just before acting on the item found at `real`: it is or holds a mount
    // point (moving it would carry the mounted data along, deleting it would
    // empty it) or, going to the Trash, holds the Trash.
    std::optional<std::string> actingRefusal(const std::string& real, const std::string& shown, bool toTrash) const;

private:
    std::vector<std::string> homes_;
    SystemState system_;   // the mount table is always read: acting refusals need it
    bool dynamic_ = false; // the table set applies the system's rules
};

} // namespace vessora::GuardRules
