#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "removal/RemovalLog.h"
#include "removal/RemovalTexts.h"
#include "removal/Remover.h"
#include "scan/DiskScanner.h"
#include "support/Fmt.h"
#include "support/Paths.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <unistd.h>

namespace vessora::cli {

namespace {

const char* checkUsage = "check PATH...";
const char* removeUsage = "remove [--trash|--delete] [--yes] [--admin] PATH...";
const char* pkexec = "/usr/bin/pkexec";

// An empty argument (an unset variable) or one that ends in "." or ".." names
// a folder only by its relation to another, as rm also judges; a usage error.
std::string badPath(const std::string& path) {
    if (path.empty()) return "an empty path names no item";
    std::string last = path;
    while (last.size() > 1 && last.ends_with('/')) last.pop_back();
    last = last.substr(last.rfind('/') + 1);
    if (last == "." || last == "..") return "'" + printable(path) + "' ends in '" + last + "'; name the item itself";
    return {};
}

std::string items(size_t count) { return Fmt::counted(int64_t(count), "item"); }

std::string reclaiming(int64_t bytes) { return bytes < 1 ? std::string("Zero KB") : Fmt::bytes(bytes); }

// The lines of the result alert, with every failure listed rather than the first four.
std::string describe(const RemovalResult& result, bool withAdmin) {
    std::string text;
    // Only deleting frees space now; what went to the Trash is said apart.
    const size_t trashed = result.movedToTrash.size();
    const size_t deleted = result.succeeded.size() - std::min(trashed, result.succeeded.size());
    if (deleted > 0)
        text += (withAdmin ? "Deleted " : "Removed ") + items(deleted) +
                (withAdmin ? " immediately with administrator rights" : "") + ", reclaiming " +
                reclaiming(result.bytesFreed) + ".\n";
    else if (result.bytesFreed > 0)
        text += "Reclaimed " + reclaiming(result.bytesFreed) + " from items only partly removed.\n";
    if (trashed > 0)
        text += "Moved " + items(trashed) + " to the Trash (" + reclaiming(result.bytesMovedToTrash) +
                ", freed when the Trash is emptied).\n";
    if (!result.needsAdmin.empty()) text += RemovalTexts::needsAdminLine(result) + "\n";
    for (const std::string& url : result.partlyRemoved)
        text += printable(Paths::lastComponent(url)) + ": " + printable(url) + " was only partly removed.\n";
    for (const Failure& failure : result.failed)
        text += printable(Paths::lastComponent(failure.path)) + ": " + printable(failure.reason) + "\n";
    if (!result.note.empty()) text += result.note + "\n";
    return text;
}

// Parses, then refuses bad paths before anything is looked at.
ParsedArguments parsePaths(const Arguments& args, const std::set<std::string>& flags, const char* usage, int& status) {
    ParsedArguments parsed = parseArguments(args, flags, {});
    status = 0;
    if (!parsed.error.empty())
        status = usageError(usage, parsed.error);
    else if (parsed.positional.empty())
        status = usageError(usage, "no path given");
    for (const std::string& path : parsed.positional)
        if (std::string problem = badPath(path); status == 0 && !problem.empty()) status = usageError(usage, problem);
    return parsed;
}

} // namespace

int checkCommand(const Arguments& args) {
    int status = 0;
    ParsedArguments parsed = parsePaths(args, {}, checkUsage, status);
    if (status != 0) return status;
    bool allAllowed = true;
    std::string out;
    for (const std::string& path : parsed.positional) {
        GuardResult verdict = Remover::check(absolutePath(path));
        if (verdict.allowed)
            out += "allowed: " + printable(verdict.path) + "\n";
        else
            out += "refused: " + printable(verdict.reason) + "\n";
        allAllowed = allAllowed && verdict.allowed;
    }
    writeOut(out);
    return allAllowed ? 0 : 1;
}

int removeCommand(const Arguments& args) {
    int status = 0;
    ParsedArguments parsed = parsePaths(args, {"--trash", "--delete", "--yes", "--admin"}, removeUsage, status);
    if (status != 0) return status;
    if (parsed.has("--trash") && parsed.has("--delete"))
        return usageError(removeUsage, "--trash and --delete exclude each other");
    const RemovalMode mode = parsed.has("--delete") ? RemovalMode::deleteImmediately : RemovalMode::trash;
    const bool ask = !parsed.has("--yes");

    // Each item is judged and measured once, for the question; then removed by
    // its real path, so a folder on the way swapped for a link while the
    // question is open fails the item instead of redirecting it.
    std::vector<RemovalItem> chosen;
    std::vector<Failure> refused;
    std::string listing;
    int64_t total = 0;
    size_t allowed = 0;
    for (const std::string& path : parsed.positional) {
        GuardResult verdict = Remover::check(absolutePath(path));
        if (!verdict.allowed) {
            listing += "  refused: " + printable(verdict.reason) + "\n";
            refused.push_back({absolutePath(path), verdict.reason});
            continue;
        }
        const std::string real = verdict.realPath.empty() ? verdict.path : verdict.realPath;
        const int64_t size = DiskScanner::freedSize(real);
        // Bound to the object listed in the question: removed only while it is still that one.
        chosen.push_back({real, verdict.identity});
        total += size;
        ++allowed;
        listing += "  " + printable(verdict.path) + " (" + Fmt::bytes(size) + ")\n";
    }

    if (ask && allowed > 0) {
        if (!stdinIsTerminal()) {
            std::fprintf(stderr, "vessora: standard input is not a terminal; pass --yes to remove without asking\n");
            return 2;
        }
        std::fputs(listing.c_str(), stderr);
        if (!confirmed(RemovalTexts::question(mode, items(allowed) + " (" + Fmt::bytes(total) + ")"))) {
            std::fprintf(stderr, "Nothing was removed.\n");
            return 1;
        }
    }

    RemovalOptions options;
    options.pathsAreReal = true;
    RemovalResult result = Remover::removeItems(chosen, mode, options);
    result.failed.insert(result.failed.begin(), refused.begin(), refused.end());
    if (auto recorded = RemovalLog::record(result, mode); !recorded) {
        std::fprintf(stderr, "vessora: %s\n", printable(recorded.reason()).c_str());
        result.note = RemovalTexts::putBackUnavailable;
    }
    writeOut(describe(result, false));
    bool clean = result.failed.empty() && result.needsAdmin.empty();
    if (result.needsAdmin.empty()) return clean ? 0 : 1;
    if (!parsed.has("--admin")) {
        std::fprintf(stderr, "Run again with --admin to remove them with administrator rights.\n");
        return 1;
    }
    // Said first, before anything about how rights are asked for: the Trash is not an option here.
    const size_t count = result.needsAdmin.size();
    if (mode == RemovalMode::trash) std::fprintf(stderr, "%s\n", RemovalTexts::adminDeletesImmediately(count).c_str());
    if (::access(pkexec, X_OK) != 0) {
        std::fprintf(stderr,
                     "vessora: administrator rights are asked for through %s, which is not installed "
                     "(Debian package pkexec)\n",
                     pkexec);
        return 1;
    }
    if (mode == RemovalMode::trash && ask &&
        !confirmed("Delete " + items(count) + " immediately with administrator rights? This cannot be undone.")) {
        std::fprintf(stderr, "Nothing more was removed.\n");
        return 1;
    }
    // Escalated as listed: the helper, too, acts only on the objects in the question.
    std::vector<RemovalItem> escalating;
    for (const std::string& url : result.needsAdmin) {
        auto listed =
            std::find_if(chosen.begin(), chosen.end(), [&](const RemovalItem& item) { return item.url == url; });
        escalating.push_back(listed != chosen.end() ? *listed : RemovalItem{url, {}});
    }
    RemovalResult escalated = Remover::removeWithAdmin(escalating, defaultPrivilegedRunner());
    writeOut(describe(escalated, true));
    return result.failed.empty() && escalated.failed.empty() ? 0 : 1;
}

} // namespace vessora::cli
