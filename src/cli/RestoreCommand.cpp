#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "removal/RemovalLog.h"

#include <cstdio>

namespace vessora::cli {

namespace {
const char* restoreUsage = "restore --last";
}

int restoreCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--last"}, {});
    if (!parsed.error.empty()) return usageError(restoreUsage, parsed.error);
    if (!parsed.has("--last")) return usageError(restoreUsage, "--last is required");
    if (!parsed.positional.empty()) return usageError(restoreUsage, "no paths are taken");
    if (!RemovalLog::last()) {
        std::fprintf(stderr, "vessora: no removal to the Trash is recorded, so there is nothing to put back\n");
        return 1;
    }
    TrashRestore::Outcome outcome = RemovalLog::restoreLast();
    std::string text;
    for (const std::string& line : RemovalLog::describe(outcome)) text += printable(line) + "\n";
    writeOut(text);
    return outcome.refused.empty() && !outcome.restored.empty() ? 0 : 1;
}

} // namespace vessora::cli
