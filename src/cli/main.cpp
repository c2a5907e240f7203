// vessora: the engines of the desktop app, for scripts and servers.

#include "cli/Commands.h"
#include "support/ProcessLimits.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

using namespace vessora::cli;

namespace {

struct Command {
    const char* name;
    int (*run)(const Arguments&);
    const char* summary;
};

const Command kCommands[] = {
    {"scan", scanCommand,
     "scan PATH|--import FILE [--json] [--top N] [--depth D] [--save] [--export FILE]\n"
     "                                            tree of allocated sizes; keep, open or write a scan"},
    {"history", historyCommand, "history [PATH] [--json]                   saved scans"},
    {"diff", diffCommand, "diff [--json] [--top N] PATH | A B         what changed between two scans"},
    {"size", sizeCommand, "size PATH...                              allocated size of each path"},
    {"overview", overviewCommand, "overview [--json]                         volumes, snapshots, categories"},
    {"cleanup", cleanupCommand, "cleanup [--json]                          rebuildable data by risk"},
    {"check", checkCommand, "check PATH...                             may these paths be removed?"},
    {"remove", removeCommand, "remove [--trash|--delete] [--yes] [--admin] PATH..."},
    {"restore", restoreCommand, "restore --last                            put the last removal to the Trash back"},
    {"apps", appsCommand, "apps [--include-system] [--json] [--leftovers]"},
    {"backup", backupCommand, "backup [--into FOLDER] --label LABEL PATH..."},
    {"messages-export", messagesExportCommand, "messages-export DATABASE [--out FILE]"},
};

int usage(FILE* to) {
    std::fprintf(to, "usage: vessora COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const auto& c : kCommands) std::fprintf(to, "  %s\n", c.summary);
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    vessora::ProcessLimits::raiseDescriptorLimit();
    std::setlocale(LC_ALL, "");
    if (argc < 2) return usage(stderr);
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") return usage(stdout);
    if (name == "--version") {
        std::printf("vessora %s\n", VESSORA_VERSION);
        return 0;
    }
    Arguments args(argv + 2, argv + argc);
    for (const auto& c : kCommands)
        if (name == c.name) return c.run(args);
    std::fprintf(stderr, "vessora: unknown command '%s'\n", name.c_str());
    return usage(stderr);
}
