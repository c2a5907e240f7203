#pragma once
// The only code that deletes user-visible files. Every removal runs the guard
// over each item first; items that fail only for lack of permission are
// handed back for escalation with administrator rights.

#include "catalog/LocalSnapshot.h"
#include "platform/PrivilegedRunner.h"
#include "platform/Trash.h"

#include <array>
#include <cstdint>
#include <functional>
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
    // Items of needsAdmin that lost part of their contents before permission
    // was denied (what went is counted in bytesFreed).
    std::vector<std::string> partlyRemoved;
    // The user chose the Trash: items needing administrator rights can then
    // only be deleted immediately, which the administrator line must say.
    bool trashRequested = false;
    // Where the items of succeeded that went to the Trash are now, for putting them back.
    std::vector<Trash::Entry> trashed;
    friend bool operator==(const RemovalResult&, const RemovalResult&) = default;
};

struct GuardResult {
    bool allowed = false;
    std::string reason;   // empty when allowed
    std::string path;     // the item as judged: absolute, each ".." resolved against the real folder
    std::string realPath; // where the item really is (its folder's links resolved); empty when unknown
    static GuardResult allow() { return {true, {}, {}, {}}; }
    static GuardResult refuse(std::string why) { return {false, std::move(why), {}, {}}; }
};

struct RemovalOptions {
    // Every path is already real, as GuardResult::realPath gives it: a link
    // anywhere on the way (put there since) fails the item instead of being followed.
    bool pathsAreReal = false;
    // Called with each URL after its item was resolved and judged and before
    // anything is done to it: the point where tests stage races.
    std::function<void(const std::string& url)> afterResolving;
};

namespace Remover {

// The guard for one item (a path; "~" is expanded). Judged on the path as
// given and on where the item really is: the home folder, the structural
// folders and the protected prefixes are refused, and so is any folder that
// holds one of them.
GuardResult check(const std::string& url);

// The guard's rules for a path alone, whether or not anything is there yet:
// for a place an item is to be put back to. `path` is absolute and real.
GuardResult checkDestination(const std::string& path);

// Removes the items as the current user, one after another; a failure never
// stops the loop. Sizes found in `precomputedSizes` are used instead of measuring.
RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes = {});
RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode,
                     const std::map<std::string, int64_t>& precomputedSizes, const RemovalOptions& options);

// The administrator line of the result alert: "N items need administrator
// rights." and, when some were partly removed or the user chose the Trash, so.
std::string needsAdminLine(const RemovalResult& result);

// Removes the items with administrator rights in one batch (the user
// authenticates once): the privileged helper, run through the runner, re-applies
// the guard as root and deletes each item immediately, never to the Trash.
// What the helper does not report is checked on disk. The result's needsAdmin
// is always empty. Without a runner the pkexec one is used.
RemovalResult removeWithAdmin(const std::vector<std::string>& urls);
RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner);

// Deletes one local snapshot with the system's snapshot tool and administrator
// rights; true when the tool reported no error. `volume` does not enter the command.
bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume);
bool deleteSnapshot(const LocalSnapshot& snapshot, const std::string& volume, PrivilegedRunner& runner);

// The privileged helper: a program beside the running executable (found from
// /proc/self/exe), run as root. It reads absolute real paths, each ended by a
// NUL, on standard input. The caller's home is that of the user pkexec names
// in PKEXEC_UID; run directly (tests), "--home HOME" names it. Every home on
// the machine is protected either way.
inline constexpr std::string_view privilegedHelperName = "vessora-privileged-remove";
// Its path, or empty when it is not there.
std::string privilegedHelperPath();
// The helper's work, as root: deletes each requested item (paths must be
// real) and returns the report removeWithAdmin reads. `allRemoved` tells
// whether every item went.
std::string serveAdminRequest(const std::string& request, bool& allRemoved);

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
