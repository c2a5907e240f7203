// snapshots: the local snapshots (Btrfs on Linux) with what each holds, and
// the deletion of one with administrator rights.

#include "catalog/SnapshotRemoval.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/SnapshotOutput.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "support/Fmt.h"

#include <ctime>
#include <cstdio>
#include <unistd.h>

namespace vessora::cli {

namespace {

const char* const kUsage = "snapshots [--json] | snapshots --delete NAME [--yes] [--admin]";
const char* const kPkexec = "/usr/bin/pkexec";

std::string localTime(const std::optional<Date>& date) {
    if (!date) return "no date";
    const std::time_t t = std::chrono::system_clock::to_time_t(*date);
    std::tm tm{};
    char text[32];
    if (!localtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm) == 0) return "no date";
    return text;
}

std::string quotasSentence(const LocalSnapshot& s) {
    const Words& words = PlatformTables::current().words;
    const char* sentence = s.quotas == SnapshotQuotas::off     ? words.snapshotsNoQuotas
                           : s.quotas == SnapshotQuotas::stale ? words.snapshotsStaleQuotas
                                                               : nullptr;
    if (!sentence || s.owner == SnapshotOwner::timeMachine) return {};
    return PlatformTables::format(sentence, s.volume);
}

int deleteOne(const std::string& name, bool ask, bool admin) {
    std::vector<const LocalSnapshot*> matches;
    const std::vector<LocalSnapshot> snapshots = LocalSnapshot::listAll(volumeUrls());
    for (const LocalSnapshot& s : snapshots)
        if (s.name == name) matches.push_back(&s);
    if (matches.empty()) {
        std::fprintf(stderr, "vessora: no snapshot is named '%s'; vessora snapshots lists them\n",
                     printable(name).c_str());
        return 1;
    }
    if (matches.size() > 1) {
        std::fprintf(stderr, "vessora: several file systems have a snapshot named '%s'\n", printable(name).c_str());
        return 1;
    }
    const LocalSnapshot& snapshot = *matches.front();
    const std::optional<int64_t> bytes = snapshot.exclusiveBytes();
    const bool root = ::geteuid() == 0;
    if (!root && !admin) {
        std::fprintf(stderr, "Deleting a snapshot needs administrator rights. Run again with --admin.\n");
        return 1;
    }
    if (!root && ::access(kPkexec, X_OK) != 0) {
        std::fprintf(stderr,
                     "vessora: administrator rights are asked for through %s, which is not installed "
                     "(Debian package pkexec)\n",
                     kPkexec);
        return 1;
    }
    if (ask) {
        if (!stdinIsTerminal()) {
            std::fprintf(stderr, "vessora: standard input is not a terminal; pass --yes to delete without asking\n");
            return 2;
        }
        const std::string size = bytes ? " (" + Fmt::bytes(*bytes) + ")" : "";
        if (!confirmed("Delete the snapshot " + printable(name) + size + "? This cannot be undone.")) {
            std::fprintf(stderr, "Nothing was deleted.\n");
            return 1;
        }
    }
    // As root the helper's own work runs here, under the same guard.
    RemovalResult result;
    if (root) {
        bool deleted = false;
        result = SnapshotRemoval::readSnapshotReport(
            SnapshotRemoval::serveSnapshotRequest(snapshot.fileSystem, name, deleted), name);
    } else {
        result = SnapshotRemoval::deleteSnapshot(snapshot, snapshot.volume.empty() ? "/" : snapshot.volume);
    }
    if (!result.succeeded.empty()) {
        writeOut("Deleted the snapshot " + printable(name) +
                 (bytes ? ", reclaiming " + Fmt::bytes(result.bytesFreed) : std::string()) + ".\n");
        return 0;
    }
    for (const Failure& failure : result.failed) writeOut(printable(failure.reason) + "\n");
    return 1;
}

} // namespace

std::vector<std::string> volumeUrls() {
    std::vector<std::string> urls;
    for (const VolumeInfo& volume : VolumeInfo::current()) urls.push_back(volume.url);
    return urls;
}

std::string snapshotsText(const std::vector<LocalSnapshot>& snapshots) {
    std::string out;
    if (snapshots.empty()) out += "  none\n";
    std::vector<std::string> notes;
    for (const LocalSnapshot& s : snapshots) {
        const std::optional<int64_t> bytes = s.exclusiveBytes();
        out += "  " + printable(s.name) + "\n    " + localTime(s.date);
        if (s.date) out += " (" + Fmt::relativeDate(s.date) + ")";
        out += "  " + std::string(ownerName(s.owner)) + "  " + (bytes ? Fmt::bytes(*bytes) : std::string("no size"));
        if (!s.description.empty()) out += "  " + printable(s.description);
        out += "\n";
        if (std::string note = quotasSentence(s);
            !note.empty() && std::find(notes.begin(), notes.end(), note) == notes.end())
            notes.push_back(note);
    }
    for (const std::string& note : notes) out += "  " + note + "\n";
    return out;
}

void writeSnapshotsJson(JsonWriter& json, const std::vector<LocalSnapshot>& snapshots) {
    static const char* const quotaNames[] = {"off", "stale", "on"};
    json.key("snapshots").beginArray();
    for (const LocalSnapshot& s : snapshots) {
        json.beginObject().field("name", s.name).key("date");
        if (s.date)
            json.value(Dates::iso8601(*s.date));
        else
            json.null();
        json.field("owner", std::string(ownerName(s.owner))).field("description", s.description);
        if (s.owner != SnapshotOwner::timeMachine) {
            json.field("volume", s.volume)
                .field("fileSystem", s.fileSystem)
                .field("quotas", quotaNames[int(s.quotas)])
                .key("exclusive");
            if (auto bytes = s.exclusiveBytes())
                json.value(*bytes);
            else
                json.null();
            if (s.owner == SnapshotOwner::snapper)
                json.key("snapper")
                    .beginObject()
                    .field("number", s.snapperNumber)
                    .field("type", s.snapperType)
                    .field("cleanup", s.cleanup)
                    .endObject();
            json.key("subvolumes").beginArray();
            for (const SnapshotSubvolume& sub : s.subvolumes) {
                json.beginObject()
                    .field("id", sub.id)
                    .field("path", sub.path)
                    .field("topPath", sub.topPath)
                    .field("readOnly", sub.readOnly)
                    .key("exclusive");
                if (sub.exclusive && s.quotas == SnapshotQuotas::on)
                    json.value(*sub.exclusive);
                else
                    json.null();
                json.endObject();
            }
            json.endArray();
        }
        json.endObject();
    }
    json.endArray();
}

int snapshotsCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--json", "--yes", "--admin"}, {"--delete"});
    if (!parsed.error.empty()) return usageError(kUsage, parsed.error);
    if (!parsed.positional.empty()) return usageError(kUsage, "unexpected argument " + parsed.positional[0]);
    if (auto name = parsed.value("--delete")) {
        if (parsed.has("--json")) return usageError(kUsage, "--json lists; it does not go with --delete");
        if (name->empty()) return usageError(kUsage, "--delete needs the snapshot's name");
        return deleteOne(*name, !parsed.has("--yes"), parsed.has("--admin"));
    }
    if (parsed.has("--yes") || parsed.has("--admin")) return usageError(kUsage, "--yes and --admin go with --delete");
    const std::vector<LocalSnapshot> snapshots = LocalSnapshot::listAll(volumeUrls());
    if (!parsed.has("--json")) {
        writeOut(std::string(PlatformTables::current().words.snapshotsTitle) + "\n" + snapshotsText(snapshots));
        return 0;
    }
    std::string out;
    JsonWriter json(out);
    json.beginObject();
    writeSnapshotsJson(json, snapshots);
    json.endObject();
    writeOut(out + "\n");
    return 0;
}

} // namespace vessora::cli
