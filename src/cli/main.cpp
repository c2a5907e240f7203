// vessora: the engines of the desktop app, for scripts and servers.

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "support/ProcessLimits.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef __GLIBC__ // defined by the headers above
#include <malloc.h>
#endif

using namespace vessora::cli;

namespace {

struct Command {
    const char* name;
    int (*run)(const Arguments&);
    const char* usage; // after "vessora "
    const char* what;  // one line for the list of commands
    const char* help;  // what `vessora NAME --help` adds below the usage
};

const Command kCommands[] = {
    {"scan", scanCommand, "scan PATH|--import FILE [--json] [--top N] [--depth D] [--save] [--export FILE]",
     "tree of allocated sizes; keep, open or write a scan",
     "Scans PATH as the window does and prints each folder's largest items.\n"
     "  --top N         the N largest items of each folder (default 10)\n"
     "  --depth D       down to D levels below PATH (default 2; with --json, the whole tree unless given)\n"
     "  --json          the sorted tree on one line, with every field of every node\n"
     "  --save          keep the scan in the history the window keeps (printed: its id)\n"
     "  --export FILE   write the scan in ncdu's JSON export format (- for standard output, gzip for .gz)\n"
     "  --import FILE   read a saved scan or an ncdu export (plain, gzip or zstd) instead of scanning\n"},
    {"history", historyCommand, "history [PATH] [--json]", "saved scans",
     "Lists the saved scans (all, or those of PATH), newest first: id, date, size, files and folder.\n"},
    {"diff", diffCommand, "diff [--json] [--top N] PATH | A B", "what changed between two scans",
     "Compares the two latest saved scans of PATH, or two given scans A and B (files --import reads, or\n"
     "history ids): the total change and every item that is new, gone or of another size.\n"
     "  --top N   the N largest changes (default 20; all with --json)\n"
     "  --json    every change with path, name, kind, change, before, after, delta and percent\n"},
    {"size", sizeCommand, "size PATH...", "allocated size of each path",
     "Prints the allocated bytes, the size and the path of each PATH, like du -s: one file system, links\n"
     "not followed, a file with several names counted once.\n"},
    {"overview", overviewCommand, "overview [--json]", "volumes, snapshots, categories",
     "Shows the mounted volumes, the snapshots and the startup disk's used space by category.\n"},
    {"snapshots", snapshotsCommand, "snapshots [--json] | --delete NAME [--yes] [--admin]",
     "local snapshots and their cost",
     "Lists the snapshots of every mounted volume, newest first, with the bytes each one alone holds\n"
     "(what deleting it frees; Btrfs needs quotas on for that).\n"
     "  --json          the list as JSON\n"
     "  --delete NAME   delete the snapshot NAME (asks first)\n"
     "  --yes           do not ask first (required when input is not a terminal)\n"
     "  --admin         delete through pkexec when administrator rights are needed\n"},
    {"cleanup", cleanupCommand, "cleanup [--json]", "rebuildable data by risk",
     "Measures the cleanup targets (caches, logs, package downloads...), each graded safe, review or\n"
     "careful, with every entry's path, size and age.\n"},
    {"check", checkCommand, "check PATH...", "may these paths be removed?",
     "Prints the removal guard's verdict for each PATH; exit 0 only when every one is allowed.\n"},
    {"remove", removeCommand, "remove [--trash|--delete] [--yes] [--admin] PATH...", "to the Trash or at once",
     "Moves each PATH to the Trash (the default) or, with --delete, deletes it at once.\n"
     "  --yes     do not ask first (required when input is not a terminal)\n"
     "  --admin   delete what needs administrator rights through pkexec\n"},
    {"restore", restoreCommand, "restore --last", "put the last removal to the Trash back",
     "Puts the last batch moved to the Trash back where it was.\n"},
    {"apps", appsCommand, "apps [--include-system] [--json] [--leftovers]", "installed apps and their leftovers",
     "Lists the installed apps with their sizes.\n"
     "  --include-system   the system's own apps too\n"
     "  --leftovers        the files each app left behind, grouped exact and likely\n"},
    {"backup", backupCommand, "backup [--into FOLDER] --label LABEL PATH...", "copy and verify, delete nothing",
     "Copies each PATH into a new dated folder \"LABEL ...\" inside FOLDER (default: Vessora Backups in\n"
     "Documents) and verifies every copy. Nothing is deleted.\n"},
    {"messages-export", messagesExportCommand, "messages-export DATABASE [--out FILE]", "readable chat transcript",
     "Writes a readable HTML transcript of a Messages database to FILE (default index.html).\n"},
};

int usage(FILE* to) {
    std::fprintf(to, "usage: vessora COMMAND [ARGUMENTS]\n       vessora COMMAND --help\n       vessora --version\n\n"
                     "commands:\n");
    for (const auto& c : kCommands) std::fprintf(to, "  %-52s %s\n", c.usage, c.what);
    return to == stdout ? 0 : 2;
}

int commandHelp(const Command& c) {
    std::printf("usage: vessora %s\n\n%s", c.usage, c.help);
    return 0;
}

// "--help" or "-h" among a command's options (before any "--").
bool asksForHelp(const Arguments& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

const Command* find(const std::string& name) {
    for (const auto& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    // A scan's tree is built by several threads, each from its own malloc
    // arena. By default glibc makes a thread's arena writable one page at a
    // time as it grows (an mprotect each, which also holds up the other
    // threads' page faults), and grows the main heap 128 KiB at a time:
    // about 1,900 calls for a million files, 1 to 3% of a warm scan. This
    // process is short-lived, so its arenas grow in large steps; only pages
    // touched count as resident, so its peak memory hardly changes.
    ::mallopt(M_TOP_PAD, 64 << 20);
#endif
    vessora::ProcessLimits::raiseDescriptorLimit();
    std::setlocale(LC_ALL, "");
    if (argc < 2) return usage(stderr);
    std::string name = argv[1];
    Arguments args(argv + 2, argv + argc);
    if (name == "-h" || name == "--help" || name == "help") {
        if (args.empty()) return usage(stdout);
        if (const Command* c = find(args[0])) return commandHelp(*c);
        std::fprintf(stderr, "vessora: unknown command '%s'\n", printable(args[0]).c_str());
        return usage(stderr);
    }
    if (name == "--version" || name == "-V") {
        std::printf("vessora %s\n", VESSORA_VERSION);
        return 0;
    }
    if (const Command* c = find(name)) return asksForHelp(args) ? commandHelp(*c) : c->run(args);
    std::fprintf(stderr, "vessora: unknown command '%s'\n", printable(name).c_str());
    return usage(stderr);
}
