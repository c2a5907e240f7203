#include "backup/Archiver.h"
#include "backup/MessagesExport.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "support/Fmt.h"
#include "support/Paths.h"

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::cli {
namespace {

constexpr const char* kBackupUsage = "backup [--into FOLDER] --label LABEL PATH...";
constexpr const char* kExportUsage = "messages-export DATABASE [--out FILE]";

} // namespace

int backupCommand(const Arguments& args) {
    auto parsed = parseArguments(args, {}, {"--into", "--label"});
    if (!parsed.error.empty()) return usageError(kBackupUsage, parsed.error);
    auto label = parsed.value("--label");
    if (!label || label->empty()) return usageError(kBackupUsage, "--label is required");
    if (parsed.positional.empty()) return usageError(kBackupUsage, "nothing to back up");

    std::vector<std::string> originals;
    for (const auto& p : parsed.positional) {
        std::string path = standardPath(p);
        if (path == "/") return usageError(kBackupUsage, "the root folder cannot be backed up as one item");
        originals.push_back(path);
    }
    const std::string root =
        parsed.value("--into") ? standardPath(*parsed.value("--into")) : Archiver::defaultDestination();

    const bool live = stderrIsTerminal();
    ArchiveResult result =
        Archiver::archive(originals, *label, root, [&](size_t i, size_t count, const std::string& s) {
            if (live) progressLine("Copying " + std::to_string(i + 1) + " of " + std::to_string(count) + ": " + s);
        });
    if (live) progressLine({});

    std::string out = "Backup folder: " + result.destination + "\n";
    for (const auto& item : result.items)
        out += "  verified  " + Fmt::bytes(item.copiedBytes) + " copied of " + Fmt::bytes(item.originalBytes) + "  " +
               item.source + " -> " + item.destination + "\n";
    for (const auto& failure : result.failed) out += "  failed    " + failure.path + ": " + failure.reason + "\n";
    out += "Copied " + Fmt::count(int64_t(result.copied.size())) + " of " +
           Fmt::counted(int64_t(originals.size()), "item") + ", " + Fmt::bytes(result.bytes) +
           ". Nothing was deleted.\n";
    if (result.readableExport) out += "Messages transcript: " + *result.readableExport + "\n";
    writeOut(out);
    return result.failed.empty() ? 0 : 1;
}

int messagesExportCommand(const Arguments& args) {
    auto parsed = parseArguments(args, {}, {"--out"});
    if (!parsed.error.empty()) return usageError(kExportUsage, parsed.error);
    if (parsed.positional.size() != 1) return usageError(kExportUsage, "give exactly one database");
    const std::string database = standardPath(parsed.positional[0]);
    const std::string target = standardPath(parsed.value("--out").value_or("index.html"));

    // The transcript must never be written over the database it is read from.
    struct stat in, out;
    if (::stat(database.c_str(), &in) == 0 && ::stat(target.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
        in.st_ino == out.st_ino) {
        std::fprintf(stderr, "vessora: %s is the database itself; choose another --out\n", target.c_str());
        return 1;
    }
    auto conversations = MessagesExport::read(database, 5000);
    if (!conversations) {
        std::fprintf(stderr, "vessora: no messages could be read from %s\n", database.c_str());
        return 1;
    }
    std::ofstream file(target, std::ios::binary | std::ios::trunc);
    file << MessagesExport::html(*conversations);
    file.close();
    if (!file) {
        std::fprintf(stderr, "vessora: could not write %s\n", target.c_str());
        return 1;
    }
    size_t messages = 0;
    for (const auto& c : *conversations) messages += c.messages.size();
    writeOut("Wrote " + std::to_string(conversations->size()) + " conversations and " + std::to_string(messages) +
             " messages to " + target + "\n");
    return 0;
}

} // namespace vessora::cli
