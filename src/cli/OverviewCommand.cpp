// overview: volumes, snapshots and the storage categories of the startup disk.
// cleanup: the catalogue of rebuildable data, graded by risk.

#include "catalog/CleanupCatalog.h"
#include "catalog/Permissions.h"
#include "catalog/StorageCategories.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/SnapshotOutput.h"
#include "platform/LocalSnapshot.h"
#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "support/Fmt.h"
#include "support/Json.h"
#include "support/ParallelFor.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>

namespace vessora::cli {

namespace {

const char* const kOverviewUsage = "overview [--json]";
const char* const kCleanupUsage = "cleanup [--json]";

// Runs `task(i)` for every i on the thread pool, one task per item, and keeps
// a "done of total" line on a terminal. The counter is the only shared state.
void runMeasured(size_t count, const std::string& what, const std::function<void(size_t)>& task) {
    const bool showProgress = stderrIsTerminal();
    std::mutex lock;
    size_t done = 0;
    if (showProgress) progressLine("Measuring " + what + ": 0 of " + std::to_string(count));
    parallelFor(count, [&](size_t i) {
        task(i);
        if (!showProgress) return;
        std::lock_guard guard(lock);
        ++done;
        progressLine("Measuring " + what + ": " + std::to_string(done) + " of " + std::to_string(count));
    });
    if (showProgress) progressLine("");
}

// Both commands take only --json. Returns the usage status when the arguments
// do not parse.
std::optional<int> parseJsonOnly(const Arguments& args, const char* usage, bool& json) {
    ParsedArguments parsed = parseArguments(args, {"--json"}, {});
    if (!parsed.error.empty()) return usageError(usage, parsed.error);
    if (!parsed.positional.empty()) return usageError(usage, "unexpected argument " + parsed.positional[0]);
    json = parsed.has("--json");
    return std::nullopt;
}

std::function<bool()> interruptPredicate(std::atomic<bool>& interrupted) {
    return [&interrupted] { return interrupted.load(); };
}

int cancelledExit() {
    std::fprintf(stderr, "vessora: cancelled\n");
    return 130;
}

void writeDate(JsonWriter& json, std::string_view key, const std::optional<Date>& date) {
    json.key(key);
    if (date)
        json.value(Dates::iso8601(*date));
    else
        json.null();
}

void writeEntries(JsonWriter& json, const std::vector<CleanupEntry>& entries) {
    json.key("entries").beginArray();
    for (const CleanupEntry& entry : entries) {
        json.beginObject().field("url", entry.url).field("size", entry.size);
        writeDate(json, "modified", entry.modified);
        json.field("needsAdmin", entry.needsAdmin)
            .field("inUseBy", entry.inUseBy)
            .field("freesNoDisk", entry.freesNoDisk)
            .field("readOnly", entry.readOnly)
            .endObject();
    }
    json.endArray();
}

void writeStrings(JsonWriter& json, std::string_view key, const std::vector<std::string>& strings) {
    json.key(key).beginArray();
    for (const std::string& s : strings) json.value(s);
    json.endArray();
}

int64_t totalSize(const std::vector<CleanupEntry>& entries) {
    int64_t total = 0;
    for (const CleanupEntry& entry : entries) total += entry.size;
    return total;
}

std::string entryLine(const CleanupEntry& entry) {
    const std::string size = entry.needsAdmin ? "size unknown (needs administrator rights)" : Fmt::bytes(entry.size);
    std::string line = "    " + printable(entry.url) + "  " + size + "  " + Fmt::relativeDate(entry.modified);
    if (!entry.inUseBy.empty()) line += "  (in use: " + printable(entry.inUseBy) + " is running)";
    if (entry.freesNoDisk) line += "  (in memory: frees no disk)";
    return line + "\n";
}

// The sentence about the file system's administrator reserve, or "".
std::string reserveSentence(const VolumeInfo& volume) {
    const char* sentence = PlatformTables::current().words.rootReserve;
    if (!sentence || volume.rootReserve < 1) return {};
    return PlatformTables::format(sentence, Fmt::bytes(volume.rootReserve));
}

// ---- overview

void writeCategoryJson(JsonWriter& json, const MeasuredCategory& measured) {
    const StorageCategory& c = measured.category;
    json.beginObject().field("id", measured.id());
    json.key("category").beginObject();
    json.field("id", c.id).field("title", c.title).field("symbol", c.symbol).field("colorName", c.colorName);
    Rgb rgb = c.color();
    json.key("color").beginObject().field("red", rgb.red).field("green", rgb.green).field("blue", rgb.blue).endObject();
    json.field("detail", c.detail);
    writeStrings(json, "roots", c.roots);
    writeStrings(json, "wholeRoots", c.wholeRoots);
    writeStrings(json, "appImageFolders", c.appImageFolders);
    writeStrings(json, "notes", c.notes);
    json.field("listsContents", c.listsContents)
        .field("risk", cleanupRiskName(c.risk))
        .field("measurement", categoryMeasurementName(c.measurement));
    json.key("action").beginObject().field("kind", c.action.name());
    if (c.action.kind == CategoryAction::Kind::readOnly) json.field("reason", c.action.reason);
    if (c.action.kind == CategoryAction::Kind::backupThenRemove) {
        json.key("quitFirst");
        if (c.action.quitFirst)
            json.value(*c.action.quitFirst);
        else
            json.null();
        json.field("warning", c.action.warning);
    }
    json.endObject();
    json.key("caveat");
    if (c.caveat)
        json.value(*c.caveat);
    else
        json.null();
    json.endObject();
    json.field("size", measured.size);
    writeEntries(json, measured.entries);
    json.field("measured", measured.measured).endObject();
}

std::string overviewJson(const std::vector<VolumeInfo>& volumes, const std::vector<LocalSnapshot>& snapshots,
                         bool fullDiskAccess, const std::vector<MeasuredCategory>& categories) {
    std::string out;
    JsonWriter json(out);
    json.beginObject();
    json.key("volumes").beginArray();
    for (const VolumeInfo& v : volumes)
        json.beginObject()
            .field("url", v.url)
            .field("name", v.name)
            .field("totalCapacity", v.totalCapacity)
            .field("availableForImportantUsage", v.availableForImportantUsage)
            .field("trueFree", v.trueFree)
            .field("isInternal", v.isInternal)
            .field("isRootVolume", v.isRootVolume)
            .field("rootReserve", v.rootReserve)
            .endObject();
    json.endArray();
    writeSnapshotsJson(json, snapshots);
    json.field("fullDiskAccess", fullDiskAccess).field("tables", PlatformTables::current().name);
    json.key("categories").beginArray();
    for (const MeasuredCategory& measured : categories) writeCategoryJson(json, measured);
    json.endArray();
    json.endObject();
    out += "\n";
    return out;
}

std::string overviewText(const std::vector<VolumeInfo>& volumes, const std::vector<LocalSnapshot>& snapshots,
                         bool fullDiskAccess, const std::vector<MeasuredCategory>& categories) {
    std::string out = "Volumes\n";
    if (volumes.empty()) out += "  none\n";
    for (const VolumeInfo& v : volumes) {
        int64_t used = std::max<int64_t>(0, v.totalCapacity - v.trueFree);
        out += "  " + printable(v.name) + " (" + printable(v.url) + ")  " + Fmt::bytes(used) + " used of " +
               Fmt::bytes(v.totalCapacity) + ", " + Fmt::bytes(v.availableForImportantUsage) + " free";
        if (int64_t purgeable = v.availableForImportantUsage - v.trueFree; purgeable > 0)
            out += " (" + Fmt::bytes(purgeable) + " purgeable)";
        out += "\n";
        if (std::string reserve = reserveSentence(v); !reserve.empty()) out += "    " + reserve + "\n";
    }
    out += "\nSnapshots\n" + snapshotsText(snapshots);
    if (!fullDiskAccess) out += "\nFull Disk Access is missing: some categories may measure too small.\n";
    out += "\nCategories\n";
    for (const MeasuredCategory& m : categories) {
        out += "  " + m.category.title + "  " + Fmt::bytes(m.size) + "  [" +
               std::string(cleanupRiskName(m.category.risk)) + "]";
        if (m.category.measurement == CategoryMeasurement::measured)
            out += "  " + Fmt::counted(int64_t(m.entries.size()), "item");
        out += "\n";
        for (const std::string& note : m.category.notes) out += "    " + printable(note) + "\n";
        if (m.category.measurement != CategoryMeasurement::remainder) continue;
        if (const VolumeInfo* disk = VolumeInfo::startupDisk(volumes))
            if (std::string reserve = reserveSentence(*disk); !reserve.empty()) out += "    " + reserve + "\n";
        for (const CleanupEntry& entry : m.entries) out += entryLine(entry);
    }
    return out;
}

// ---- cleanup

std::string cleanupJson(const std::vector<CleanupTarget>& targets) {
    std::string out;
    JsonWriter json(out);
    json.beginObject().key("targets").beginArray();
    for (const CleanupTarget& t : targets) {
        json.beginObject()
            .field("id", t.id)
            .field("title", t.title)
            .field("detail", t.detail)
            .field("risk", cleanupRiskName(t.risk));
        writeStrings(json, "roots", t.roots);
        writeStrings(json, "wholeRoots", t.wholeRoots);
        json.field("contentsOnly", t.contentsOnly)
            .field("listOnly", t.listOnly)
            .field("needsAdmin", t.needsAdmin)
            .field("total", totalSize(t.entries));
        writeEntries(json, t.entries);
        json.field("scanned", t.scanned).endObject();
    }
    json.endArray().endObject();
    out += "\n";
    return out;
}

std::string cleanupText(const std::vector<CleanupTarget>& targets) {
    std::string out;
    for (const CleanupTarget& t : targets) {
        out += t.title + "  " + Fmt::bytes(totalSize(t.entries)) + "  [" + std::string(cleanupRiskName(t.risk)) + "]";
        if (t.listOnly) out += "  (list only)";
        out += "\n";
        out += "  " + t.detail + "\n";
        for (const CleanupEntry& entry : t.entries) out += entryLine(entry);
    }
    return out;
}

} // namespace

int overviewCommand(const Arguments& args) {
    bool json = false;
    if (auto status = parseJsonOnly(args, kOverviewUsage, json)) return *status;
    std::atomic<bool>& interrupted = installInterruptFlag();
    const auto cancelled = interruptPredicate(interrupted);

    const std::vector<VolumeInfo> volumes = VolumeInfo::current();
    std::vector<std::string> urls;
    for (const VolumeInfo& volume : volumes) urls.push_back(volume.url);
    const bool fullDiskAccess = Permissions::hasFullDiskAccess();
    std::vector<LocalSnapshot> snapshots;
    std::vector<MeasuredCategory> categories;
    for (StorageCategory& category : StorageCategories::all())
        categories.push_back({std::move(category), 0, {}, false});
    std::vector<CleanupEntry> systemDataEntries;

    // One task for the System Data rows, one for the snapshot tool (which
    // blocks until it exits) and one for the categories, measured one after
    // another in table order so that a file with several names counts in the
    // first category that meets it. Each task writes only its own slots.
    runMeasured(3, "categories", [&](size_t i) {
        if (i == 0) {
            systemDataEntries = StorageCategories::measureSystemDataEntries(cancelled);
        } else if (i == 1) {
            snapshots = LocalSnapshot::listAll(urls);
        } else {
            std::vector<StorageCategory> definitions;
            for (const MeasuredCategory& m : categories) definitions.push_back(m.category);
            categories = StorageCategories::measureAll(definitions, cancelled);
        }
    });
    if (interrupted.load()) return cancelledExit();

    const int64_t remainder = StorageCategories::remainderSize(volumes, categories);
    for (MeasuredCategory& m : categories)
        if (m.category.measurement == CategoryMeasurement::remainder) {
            m.size = remainder;
            m.entries = systemDataEntries;
            m.measured = true;
            break;
        }
    std::stable_sort(categories.begin(), categories.end(),
                     [](const MeasuredCategory& a, const MeasuredCategory& b) { return a.size > b.size; });

    writeOut(json ? overviewJson(volumes, snapshots, fullDiskAccess, categories)
                  : overviewText(volumes, snapshots, fullDiskAccess, categories));
    return 0;
}

int cleanupCommand(const Arguments& args) {
    bool json = false;
    if (auto status = parseJsonOnly(args, kCleanupUsage, json)) return *status;
    std::atomic<bool>& interrupted = installInterruptFlag();
    const auto cancelled = interruptPredicate(interrupted);

    std::vector<CleanupTarget> targets = CleanupCatalog::definitions();
    runMeasured(targets.size(), "cleanup targets",
                [&](size_t i) { targets[i] = CleanupCatalog::measure(std::move(targets[i]), cancelled); });
    if (interrupted.load()) return cancelledExit();

    std::stable_sort(targets.begin(), targets.end(), [](const CleanupTarget& a, const CleanupTarget& b) {
        return totalSize(a.entries) > totalSize(b.entries);
    });
    writeOut(json ? cleanupJson(targets) : cleanupText(targets));
    return 0;
}

} // namespace vessora::cli
