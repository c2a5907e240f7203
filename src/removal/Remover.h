#pragma once
// The only code that deletes user-visible files. Every removal runs the guard
// over each item first; items that fail only for lack of permission are
// handed back for escalation with administrator rights.

#include "catalog/LocalSnapshot.h"
#include "platform/PrivilegedRunner.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

enum class RemovalMode { trash, deleteImmediately };

inline constexpr std::array<RemovalMode, 2> allRemovalModes{RemovalMode::trash, RemovalMode::deleteImmediately};

// "Move to Trash" or "Delete immediately".
std::string_view displayText(RemovalMode mode);

struct RemovalFailure {
    std::string url;
    std::string reason;
    friend bool operator==(const RemovalFailure&, const RemovalFailure&) = default;
};

struct RemovalResult {
    std::vector<std::string> succeeded;  // removed (or trashed), in processing order
    std::vector<RemovalFailure> failed;  // refused or failed, with the message to show
    int64_t bytesFreed = 0;              // allocated bytes of the succeeded items, measured before removal
    std::vector<std::string> needsAdmin; // failed for lack of permission only
    friend bool operator==(const RemovalResult&, const RemovalResult&) = default;
};

struct GuardResult {
    bool allowed = false;
    std::string reason; // empty when allowed
    static GuardResult allow() { return {true, {}}; }
    static GuardResult refuse(std::string why) { return {false, std::move(why)}; }
};

namespace Remover {

// The guard for one item (a path; "~" is expanded).
GuardResult check(const std::string& url);

// Removes the items as the current user, one after another; a failure never
// stops the loop. Sizes found in `precomputedSizes` are used instead of measuring.
RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes = {});

// Removes the items with administrator rights in one batch (the user
// authenticates once), then checks on disk which are really gone. The result's
// needsAdmin is always empty. Without a runner the pkexec one is used.
RemovalResult removeWithAdmin(const std::vector<std::string>& urls);
RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner);

// Deletes one local snapshot with the system's snapshot tool and administrator
// rights; true when the tool reported no error. `volume` does not enter the command.
bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume);
bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume, PrivilegedRunner& runner);

// The pieces of the privileged commands, for the macOS script and for tests.
// One shell word: every ' becomes '\'' and the whole is wrapped in '...'.
std::string shellQuote(std::string_view text);
// "/bin/rm -rf -- 'p1' 'p2'"
std::string removalCommand(const std::vector<std::string>& paths);
// "/usr/bin/tmutil deletelocalsnapshots 'DATE'", or nothing when the snapshot's
// date text is anything but digits and dashes.
std::optional<std::string> snapshotDeletionCommand(const LocalSnapshot& snapshot);

// The structural folders (refused as exact paths) and the protected prefixes
// (refused for everything inside them, tested in this order) for a home folder.
std::vector<std::string> structuralFolders(const std::string& home);
std::vector<std::string> protectedPrefixes(const std::string& home);

} // namespace Remover

} // namespace vessora
