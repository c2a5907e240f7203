#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "removal/RemovalLog.h"
#include "removal/Remover.h"
#include "scan/DiskScanner.h"
#include "support/Fmt.h"
#include "support/Paths.h"

#include <climits>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace vessora::cli {

namespace {

const char* checkUsage = "check PATH...";
const char* removeUsage = "remove [--trash|--delete] [--yes] [--admin] PATH...";
const char* pkexec = "/usr/bin/pkexec";

// Paths typed on the command line are relative to the working directory; the
// remover works on absolute ones.
std::string absolute(const std::string& path) {
    if (path.starts_with('/') || path == "~" || path.starts_with("~/")) return path;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return path;
    return Paths::join(cwd, path);
}

std::string items(size_t count) { return Fmt::count(int64_t(count)) + (count == 1 ? " item" : " items"); }

// The lines of the result alert, with every failure listed rather than the first four.
std::string describe(const RemovalResult& result) {
    std::string text;
    if (!result.succeeded.empty())
        text += "Removed " + items(result.succeeded.size()) + ", reclaiming " +
                (result.bytesFreed < 1 ? std::string("Zero KB") : Fmt::bytes(result.bytesFreed)) + ".\n";
    if (!result.needsAdmin.empty()) text += items(result.needsAdmin.size()) + " need administrator rights.\n";
    for (const RemovalFailure& failure : result.failed)
        text += Paths::lastComponent(failure.url) + ": " + failure.reason + "\n";
    return text;
}

bool confirmed(const std::string& question) {
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

} // namespace

int checkCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {}, {});
    if (!parsed.error.empty()) return usageError(checkUsage, parsed.error);
    if (parsed.positional.empty()) return usageError(checkUsage, "no path given");
    bool allAllowed = true;
    std::string out;
    for (const std::string& path : parsed.positional) {
        GuardResult verdict = Remover::check(absolute(path));
        if (verdict.allowed)
            out += "allowed: " + Paths::standardize(absolute(path)) + "\n";
        else
            out += "refused: " + verdict.reason + "\n";
        allAllowed = allAllowed && verdict.allowed;
    }
    writeOut(out);
    return allAllowed ? 0 : 1;
}

int removeCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--trash", "--delete", "--yes", "--admin"}, {});
    if (!parsed.error.empty()) return usageError(removeUsage, parsed.error);
    if (parsed.has("--trash") && parsed.has("--delete"))
        return usageError(removeUsage, "--trash and --delete exclude each other");
    if (parsed.positional.empty()) return usageError(removeUsage, "no path given");
    const RemovalMode mode = parsed.has("--delete") ? RemovalMode::deleteImmediately : RemovalMode::trash;

    std::vector<std::string> paths;
    for (const std::string& path : parsed.positional) paths.push_back(absolute(path));

    // Measured once, for the question and for the result alike.
    std::map<std::string, int64_t> sizes;
    std::string listing;
    int64_t total = 0;
    size_t allowed = 0;
    for (const std::string& path : paths) {
        GuardResult verdict = Remover::check(path);
        if (!verdict.allowed) {
            listing += "  refused: " + verdict.reason + "\n";
            continue;
        }
        int64_t size = DiskScanner::quickSize(Paths::standardize(path));
        sizes[path] = size;
        total += size;
        ++allowed;
        listing += "  " + Paths::standardize(path) + " (" + Fmt::bytes(size) + ")\n";
    }

    if (!parsed.has("--yes") && allowed > 0) {
        if (!stdinIsTerminal()) {
            std::fprintf(stderr, "vessora: standard input is not a terminal; pass --yes to remove without asking\n");
            return 2;
        }
        std::fputs(listing.c_str(), stderr);
        std::string question =
            mode == RemovalMode::trash
                ? "Move " + items(allowed) + " (" + Fmt::bytes(total) + ") to the Trash?"
                : "Delete " + items(allowed) + " (" + Fmt::bytes(total) + ") immediately? This cannot be undone.";
        if (!confirmed(question)) {
            std::fprintf(stderr, "Nothing was removed.\n");
            return 1;
        }
    }

    RemovalResult result = Remover::remove(paths, mode, sizes);
    if (!RemovalLog::record(result, mode))
        std::fprintf(stderr, "vessora: the removal could not be recorded, so restore --last will not find it\n");
    writeOut(describe(result));
    bool clean = result.failed.empty() && result.needsAdmin.empty();
    if (!result.needsAdmin.empty()) {
        if (parsed.has("--admin") && ::access(pkexec, X_OK) != 0) {
            std::fprintf(stderr,
                         "vessora: administrator rights are asked for through %s, which is not installed "
                         "(Debian package pkexec)\n",
                         pkexec);
        } else if (parsed.has("--admin")) {
            RemovalResult escalated = Remover::removeWithAdmin(result.needsAdmin);
            writeOut(describe(escalated));
            clean = result.failed.empty() && escalated.failed.empty();
        } else {
            std::fprintf(stderr, "Run again with --admin to remove them with administrator rights.\n");
        }
    }
    return clean ? 0 : 1;
}

} // namespace vessora::cli
