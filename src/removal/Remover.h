#pragma once
// The only code that deletes user-visible files. Every removal runs the guard
// over each item first; items that fail only for lack of permission are
// handed back for escalation with administrator rights.

#include "platform/PrivilegedRunner.h"
#include "platform/Trash.h"
#include "support/ItemIdentity.h"
#include "support/Result.h"

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

struct RemovalResult {
    std::vector<std::string> succeeded; // removed (or trashed), in processing order
    std::vector<Failure> failed;        // refused or failed, with the message to show
    // Allocated bytes really freed: what immediate deletion took away (a link
    // frees its own blocks, an item only partly removed what went of it).
    int64_t bytesFreed = 0;
    std::vector<std::string> needsAdmin; // failed for lack of permission only
    // Items of needsAdmin that lost part of their contents before permission
    // was denied (what went is counted in bytesFreed).
    std::vector<std::string> partlyRemoved;
    // The user chose the Trash: items needing administrator rights can then
    // only be deleted immediately, which the administrator line must say.
    bool trashRequested = false;
    // Where the items of succeeded that went to the Trash are now, for putting them back.
    std::vector<Trash::Entry> trashed;
    // Allocated bytes of what went to the Trash: nothing is freed until the
    // Trash is emptied. Per item (by url) for what Put Back brings back.
    int64_t bytesMovedToTrash = 0;
    std::map<std::string, int64_t> movedToTrash;
    // Said after the result's lines: what the user should know beyond the
    // items, such as that this removal cannot be put back.
    std::string note;
    friend bool operator==(const RemovalResult&, const RemovalResult&) = default;
};

struct GuardResult {
    bool allowed = false;
    std::string reason;    // empty when allowed
    std::string path;      // the item as judged: absolute, each ".." resolved against the real folder
    std::string realPath;  // where the item really is (its folder's links resolved); empty when unknown
    ItemIdentity identity; // of the item found there (a link's own); unknown when it could not be read
    static GuardResult allow() { return {true, {}, {}, {}, {}}; }
    static GuardResult refuse(std::string why) { return {false, std::move(why), {}, {}, {}}; }
};

// One item to remove, as the user was shown it. With a known identity the
// path is real (as it was measured): its folders are opened from "/" without
// following any link, and the item is acted on only while it is still that
// object; otherwise nothing is touched and it fails as changed since it was
// shown. With an unknown identity the item is bound to the object its path
// names when it is resolved.
struct RemovalItem {
    std::string url;
    ItemIdentity identity = {};
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
// stops the loop. The bytes reported are those of what really went: freed
// by deleting, or moved to the Trash (and freed only when it is emptied).
RemovalResult removeItems(const std::vector<RemovalItem>& items, RemovalMode mode, const RemovalOptions& options = {});
// The same for paths typed or found now, each bound to what it names when resolved.
RemovalResult remove(const std::vector<std::string>& urls, RemovalMode mode, const RemovalOptions& options = {});

// Removes the items with administrator rights in one batch (the user
// authenticates once): the privileged helper, run through the runner, re-applies
// the guard as root and deletes each item immediately, never to the Trash.
// What the helper does not report is checked on disk. The result's needsAdmin
// is always empty. Without a runner the pkexec one is used.
RemovalResult removeWithAdmin(const std::vector<std::string>& urls);
RemovalResult removeWithAdmin(const std::vector<std::string>& urls, PrivilegedRunner& runner);
// The same for items with the identities they were shown with, which the
// helper checks again as root before it acts.
RemovalResult removeWithAdmin(const std::vector<RemovalItem>& items, PrivilegedRunner& runner);

// The privileged helper: a program beside the running executable (found from
// /proc/self/exe), run as root. It reads absolute real paths, each ended by a
// NUL, on standard input, a path followed, when its identity is known, by
// "=DEVICE:INODE" and a NUL. The caller's home is that of the user pkexec
// names in PKEXEC_UID; run directly (tests), "--home HOME" names it. Every
// home on the machine is protected either way.
inline constexpr std::string_view privilegedHelperName = "vessora-privileged-remove";
// Its path, or empty when it is not there.
std::string privilegedHelperPath();
// The helper's work, as root: deletes each requested item (paths must be
// real) and gives the report removeWithAdmin reads, and whether every item went.
struct AdminReport {
    std::string text;
    bool allRemoved = true;
};
AdminReport serveAdminRequest(const std::string& request);
// The helper's report read back: for each item, "removed" NUL path NUL bytes
// NUL, or "failed" NUL path NUL reason NUL; a field cut short is dropped.
struct HelperVerdict {
    bool removed = false;
    int64_t bytes = 0;
    std::string reason;
};
std::map<std::string, HelperVerdict> readReport(const std::string& report);

// The pieces of the privileged commands, for the macOS script and for tests.
// "/bin/rm -rf -- 'p1' 'p2'"
std::string removalCommand(const std::vector<std::string>& paths);

} // namespace Remover

} // namespace vessora
