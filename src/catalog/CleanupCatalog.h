#pragma once
// The fixed catalogue of places where rebuildable or forgotten data collects,
// and its measurement.

#include "platform/CleanupEntry.h"

#include <functional>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

namespace vessora {

// A program that owns some of a target's entries: while it runs they are in use.
struct RunningProgram {
    std::string name;                   // "Firefox"
    std::vector<std::string> processes; // executable or command names
    std::vector<std::string> folders;   // absolute patterns; entries inside one are the program's

    friend bool operator==(const RunningProgram&, const RunningProgram&) = default;
};

// One catalogue row with its measurement.
struct CleanupTarget {
    std::string id;
    std::string title;
    std::string detail;
    CleanupRisk risk = CleanupRisk::safe;
    std::vector<std::string> roots;    // absolute, resolved against the home folder of the moment
    bool contentsOnly = true;          // true: each root's children are the entries; false: each root is one
    std::vector<CleanupEntry> entries; // largest first; empty before measurement
    bool scanned = false;
    std::vector<std::string> wholeRoots; // each one entry, whatever contentsOnly says
    std::vector<std::string> claimed;    // paths other targets take: neither offered nor counted here
    std::vector<std::string> keep;       // child names (patterns) never offered
    std::vector<std::string> names;      // child names (patterns) offered; empty: all
    std::vector<RunningProgram> running; // whose running makes its entries in use
    CleanupRowKind kind = CleanupRowKind::plain;
    bool listOnly = false;   // shown with its size, removed only by its tool's own command (named in detail)
    bool needsAdmin = false; // system files: reading some and removing them asks for administrator rights

    friend bool operator==(const CleanupTarget&, const CleanupTarget&) = default;
};

namespace CleanupCatalog {

using Cancelled = std::function<bool()>;

// The active table set's unmeasured targets, built afresh against the
// current home folder: patterns expanded, claims between targets settled.
std::vector<CleanupTarget> definitions();

// Where the tables' absolute roots ("/var/log", "/tmp") are looked for: ""
// (the system's own) except in tests, which lay out a system tree in a
// temporary folder.
std::string systemRoot();
class ScopedSystemRoot {
public:
    explicit ScopedSystemRoot(std::string root);
    ~ScopedSystemRoot();
    ScopedSystemRoot(const ScopedSystemRoot&) = delete;
    ScopedSystemRoot& operator=(const ScopedSystemRoot&) = delete;

private:
    std::string previous_;
};

// A table root expanded: "{a,b}" alternatives, tokens, then '*' and '?'
// patterns in any component, matched against real folders only (never
// through a link); matches in byte order. Folders that could not be listed
// on the way are added to `unreadable` when given.
std::vector<std::string> expandRoot(std::string_view root, std::vector<std::string>* unreadable = nullptr);

// True when some leading components of `path` match the absolute pattern.
bool insidePattern(std::string_view path, std::string_view pattern);

// A log file name as log rotation leaves it: "syslog.1", "dpkg.log.2.gz",
// "auth.log.old", "kern.log-20240101".
bool isRotatedLogName(std::string_view name);

// Snap files the `snap list --all` text marks disabled: "<name>_<rev>.snap".
std::vector<std::string> disabledSnapFiles(std::string_view snapListText);

// The target with its entries measured and `scanned` set; every other field
// unchanged. `cancelled` is only handed to the quick size.
CleanupTarget measure(CleanupTarget target, const Cancelled& cancelled = {});

// The shared measurement of a list of roots: each existing root as one entry
// (listsContents false) or each of its children but ".DS_Store" (true), sized
// with the quick size, empty ones dropped, largest first with ties in
// discovery order.
std::vector<CleanupEntry> measureEntries(const std::vector<std::string>& roots, bool listsContents,
                                         const Cancelled& cancelled = {});

// An entry for `path` with the given size and the item's own modification
// date: its url with the folders made real, and the item's identity.
CleanupEntry makeEntry(const std::string& path, int64_t size);

// Stable sort, largest first.
void sortLargestFirst(std::vector<CleanupEntry>& entries);

} // namespace CleanupCatalog
} // namespace vessora
