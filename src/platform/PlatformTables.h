#pragma once
// Everything that differs between the systems Vessora measures, held as data:
// the storage categories, what a scan skips, what the guard refuses, the
// cleanup targets, the app and leftover locations, the scan presets and the
// words on screen. One table set is active for the whole process: the running
// system's, or the one named by VESSORA_TABLES=macos|linux. Engines read the
// active set on every call and keep no platform conditionals of their own.
//
// Root strings in these tables may start with a token the reading engine
// resolves against the moment's environment:
//   "~" or "~/rest"        the home folder
//   "xdg:NAME" or "xdg:NAME/rest"
//                          a user folder from user-dirs.dirs (NAME is DESKTOP,
//                          DOCUMENTS, DOWNLOAD, MUSIC, PICTURES, PUBLICSHARE,
//                          TEMPLATES, VIDEOS), English default when unset
//   "$XDG_DATA_HOME/rest", "$XDG_CONFIG_HOME/rest", "$XDG_CACHE_HOME/rest",
//   "$XDG_RUNTIME_DIR/rest", "$USER"
//                          the basedir variables, with their defaults
// A last component holding '*' or '?' is a pattern matched in its folder.

#include "platform/CleanupEntry.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vessora {

enum class TableSet { macos, linux };

// ---- Storage categories

// The category actions, as StorageCategories' CategoryAction::Kind.
enum class CategoryActionKind { readOnly, backupThenRemove, applications, removable };

// Where a category row's roots come from besides its own list.
enum class CategoryRootSource {
    table,      // the row's roots only
    otherUsers, // the other accounts' folders (and the shared folders) of the users folder
    cloudSync,  // the sync folders named in the sync clients' own settings
    trash,      // the trash folders of the home folder and of every mounted file system
};

struct CategoryRow {
    const char* id;
    const char* title;
    const char* symbol;
    const char* colorName;
    std::vector<const char*> roots;      // tokens as above; each root's children are entries when listsContents
    std::vector<const char*> wholeRoots; // one entry each, even when listsContents
    CategoryRootSource rootSource;
    bool listsContents;
    CleanupRisk risk;
    bool remainder; // sized by arithmetic from the volume, not measured
    CategoryActionKind action;
    const char* detail;
    const char* actionText; // readOnly reason or backupThenRemove warning
    const char* quitFirst;  // backupThenRemove only: what must not be running (nullptr: nothing)
    const char* caveat;     // nullptr: none
    // Folders whose AppImages, known by their magic bytes whatever their
    // names, are one entry each; nothing else in them is the row's.
    std::vector<const char*> appImageFolders = {};
    // Cleanup targets (by id) whose folders are this row's as whole entries,
    // except those inside the row's own roots: the one place that says which
    // cache folders belong to the row.
    std::vector<const char*> cleanupTargets = {};
};

// A chat app whose data a "backupThenRemove" category holds: it must not run
// while its folder is copied.
struct ChatApp {
    const char* name;                   // as the user knows it: "Signal"
    std::vector<const char*> processes; // executable or command names while it runs
    std::vector<const char*> folders;   // its data folders (tokens as above)
};

struct CategoryTables {
    std::vector<CategoryRow> rows;             // in display order
    std::vector<const char*> systemDataRoots;  // folders whose children may be System Data rows
    bool liveSwapFiles;                        // the swap files in use are System Data rows themselves
    const char* usersFolder;                   // holds the other accounts' folders
    std::vector<const char*> sharedFolders;    // listed with the other accounts (first, in this order)
    std::vector<const char*> skippedUserNames; // never another account's folder ("Shared", "lost+found")
    bool homeHiddenTrash;                      // macOS: "~/.Trash" is the Trash row, not System Data
    std::vector<ChatApp> chatApps;             // whose data the chats category holds
};

// ---- Cleanup targets (the cleanup catalogue reads these)

// A program whose files some of a target's entries are: while it runs, those
// entries are measured but not offered.
struct RunningRow {
    const char* name;                   // as the user knows it: "Firefox"
    std::vector<const char*> processes; // executable or command names
    std::vector<const char*> folders;   // tokens and patterns; entries inside them are the program's
};

// Root strings may also hold "{a,b}" alternatives and '*', '?' patterns in
// any component; a pattern matches names of real folders only (a link is
// never followed), and a name starting with '.' only when the pattern does.
// An absolute root ("/var/...") lies below the catalogue's system root.
struct CleanupTargetRow {
    const char* id;
    const char* title;
    CleanupRisk risk;
    std::vector<const char*> roots; // tokens as above; each root's children are the entries
    const char* detail;
    std::vector<const char*> wholeRoots = {};  // each match is one entry
    std::vector<const char*> parentHolds = {}; // wholeRoots count only when their folder holds one of these names
    CleanupRowKind kind = CleanupRowKind::plain;
    std::vector<const char*> keep = {};  // child names (patterns) never offered
    std::vector<const char*> names = {}; // child names (patterns) offered; empty: all
    std::vector<RunningRow> running = {};
    bool listOnly = false; // shown with its size; removed only through its tool's own command
    bool admin = false;    // system files: removal asks for administrator rights
};

// ---- App inventory and leftovers (the apps engines read these)

// Where the installed apps are found: ".app" bundles below the application
// folders, or the desktop's menu entries with the package managers' records.
enum class AppSource { bundles, desktopEntries };

struct AppTables {
    std::vector<const char*> applicationFolders; // where installed apps are looked for
    std::vector<const char*> systemApplicationFolders;
    AppSource source = AppSource::bundles;
    std::vector<const char*> appImageFolders; // searched for AppImage files (tokens as above)
    const char* dpkgDatabase = nullptr;       // dpkg's info/ and status
    const char* snapRoot = nullptr;           // mounted snaps
    const char* snapFiles = nullptr;          // downloaded .snap files
};

// ---- Disk scanner

struct ScanTables {
    // Listed, never entered (exact paths after token resolution).
    std::vector<const char*> skipPaths;
    // Listed as cloud folders, never entered (exact paths after resolution).
    std::vector<const char*> cloudFolders;
    // Listed, never entered: fnmatch patterns over the whole path.
    std::vector<const char*> skipPatterns;
    // Whether the mount table decides what is entered (local disk types only,
    // bind mounts and other volumes listed, network and FUSE mounts listed as
    // cloud folders without being touched).
    bool mountTable = false;
    std::vector<const char*> localDiskTypes;   // file system types that are entered
    std::vector<const char*> cloudMountTypes;  // types listed as cloud folders; "x*" matches a prefix
    std::vector<const char*> systemMountTypes; // FUSE types that are system plumbing, not cloud
    std::vector<const char*> otherVolumeTrees; // mounts under these are other volumes
    // The name shown for a scan of "/"; nullptr: the root volume's name.
    const char* rootDisplayName = nullptr;
};

// ---- Remover's guard

struct GuardTables {
    std::vector<const char*> structural;         // exact paths, never removed
    std::vector<const char*> homeStructural;     // appended to the home folder ("" is the home itself)
    std::vector<const char*> structuralTokens;   // exact, with tokens ("xdg:PICTURES", "~/.var/app")
    std::vector<const char*> structuralPatterns; // fnmatch over the whole path ("/home/*")
    std::vector<const char*> prefixes;           // everything inside is refused (each ends with '/')
    std::vector<const char*> homePrefixes;       // appended to the home folder
    // Refused inside, except below the named children: {"/var/lib/snapd/", "cache/"}.
    struct PrefixWithExceptions {
        const char* prefix;
        std::vector<const char*> allowed; // relative: "cache/"; or a pattern over the name: "*@*.journal"
    };
    std::vector<PrefixWithExceptions> guardedPrefixes;
    // Mount points, live swap files, trash folders and remote mounts are judged from the system's own tables.
    bool dynamicChecks = false;
};

// ---- Scan presets

struct PresetRow {
    const char* label; // also the preset's raw value
    const char* path;  // tokens as above
};

// ---- Words on screen

// Texts that name a platform facility. The UI reads them from here (and
// converts them to its string type); the command-line tool uses the same.
struct Words {
    const char* systemName;          // "Mac" / "computer": "on this ..."
    const char* overviewPlaceholder; // "Measuring categories on this Mac"
    const char* cleanupIntro;
    const char* carefulDeleteMessage; // delete immediately, careful data
    const char* revealInFiles;        // "Reveal in Finder"
    const char* openInFiles;          // "Open in Finder"
    const char* showCopyInFiles;      // "Show this copy in Finder"
    const char* unreadableHelp;       // badge help of an unreadable location
    const char* includeSystemApps;    // Apps toolbar switch
    const char* storeBadge; // "App Store"; nullptr: the app's source ("Flatpak", "Snap", "AppImage", the distribution)
    const char* systemDataRemainder; // the tail of the System Data gap sentence, after "is not attributable to anything
                                     // readable: "
    const char* rootReserve;         // "%s" is the formatted size; nullptr: no such sentence
    const char* quitFirstTitle;      // "%s" is the app's name
    const char* quitFirstMessage;    // each "%s" is the app's name
    const char* skippedCloud;        // scan badge of a cloud folder
    const char* skippedSystem;       // scan badge of a system-managed location
    // What an app is made of, on the Apps screen.
    const char* outsideApp;         // list row, after "+X": " outside bundle"
    const char* exactMatchNote;     // "Matched on bundle identifier."
    const char* appsEmptyNote;      // "Vessora lists everything it left outside its own bundle."
    const char* noLeftovers;        // "No files found outside the bundle."
    const char* removesApp;         // uninstall summary: "the app bundle and "
    const char* removesProgramFile; // the same for a program without a folder of its own
    const char* appPart;            // header breakdown, after the app's size: " bundle"
    // The snapshots card.
    const char* snapshotsTitle;       // "Time Machine local snapshots"
    const char* snapshotsSubtitle;    // after "N snapshots. "
    const char* snapshotsCaption;     // below the rows; nullptr: none
    const char* snapshotsNoQuotas;    // "%s" is the volume: sizes need quotas; nullptr: never said
    const char* snapshotsStaleQuotas; // "%s" is the volume: the quota counts are out of date
    const char* purgeableCaption;     // "%s" is the size; nullptr: the system gives nothing back under pressure
    const char* systemDataSnapshots;  // System Data's line when the startup volume has snapshots; nullptr: the count
};

// ---- The whole set

struct Tables {
    TableSet set;
    const char* name; // "macos", "linux"
    CategoryTables categories;
    std::vector<CleanupTargetRow> cleanupTargets; // in display order
    AppTables apps;
    ScanTables scan;
    GuardTables guard;
    std::vector<PresetRow> presets; // one per ScanRootPreset case, in declaration order
    Words words;
    // Each path belongs to the first cleanup target that lists it (and the
    // "unclaimedRest" targets yield to all others); otherwise a path may be
    // listed under several targets.
    bool cleanupClaims = false;
};

namespace PlatformTables {

// The active set: chosen on first use from VESSORA_TABLES, else the running system's.
const Tables& current();
TableSet active();
// Either set, for tests and for the one place that compares them.
const Tables& of(TableSet set);
// Makes `set` the active one. For start-up and tests: engines running at the
// same time see either set.
void select(TableSet set);
// "macos" or "linux"; nothing for anything else.
std::optional<TableSet> parse(std::string_view name);

// The root tokens above resolved for the moment's environment; the patterns'
// matches are expanded by expandRoot.
std::string resolveRoot(std::string_view root);
std::vector<std::string> expandRoot(std::string_view root);
// The same root as an fnmatch pattern: the folder a token stands for (a user
// folder, the home folder, an XDG variable) is escaped, so it matches only
// itself whatever characters its name holds; the table's own text keeps its
// pattern characters.
std::string resolvePattern(std::string_view root);
// `text` escaped to match only itself as an fnmatch pattern.
std::string escapePattern(std::string_view text);
// Whether an fnmatch pattern holds an unescaped '*', '?' or '['.
bool hasPattern(std::string_view pattern);
// A pattern without pattern characters as the text it matches.
std::string unescapePattern(std::string_view pattern);
// A user folder ("PICTURES") from $XDG_CONFIG_HOME/user-dirs.dirs, else its
// English default below the home folder.
std::string userDir(std::string_view name);

// The chat app whose data folder holds `path`, if any.
const ChatApp* chatAppFor(const std::string& path);

// Formats a sentence with one "%s" (or several, all the same value).
std::string format(const char* sentence, std::string_view value);

} // namespace PlatformTables

// Sets the active table set until destroyed (tests).
class ScopedTables {
public:
    explicit ScopedTables(TableSet set) : previous_(PlatformTables::active()) { PlatformTables::select(set); }
    ~ScopedTables() { PlatformTables::select(previous_); }
    ScopedTables(const ScopedTables&) = delete;
    ScopedTables& operator=(const ScopedTables&) = delete;

private:
    TableSet previous_;
};

} // namespace vessora
