// vessora history and vessora diff: the saved scans, and what changed
// between two of them.

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "scan/ScanComparison.h"
#include "scan/ScanHistory.h"
#include "support/Date.h"
#include "support/Fmt.h"
#include "support/Json.h"
#include "support/Paths.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vessora::cli {

namespace {

const char* const kHistoryUsage = "history [PATH] [--json]";
const char* const kDiffUsage = "diff [--json] [--top N] PATH | diff [--json] [--top N] A B";

std::string localTime(int64_t seconds) {
    const time_t t = time_t(seconds);
    struct tm local {};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string padLeft(std::string text, size_t width) {
    if (text.size() < width) text.insert(0, width - text.size(), ' ');
    return text;
}

void reportProblems(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems)
        std::fprintf(stderr, "vessora: %s; skipped\n", printable(problem).c_str());
}

void writeInfo(JsonWriter& json, const SavedScanInfo& info) {
    json.beginObject()
        .field("id", info.id)
        .field("file", info.file)
        .field("root", info.root)
        .field("time", Dates::iso8601(Dates::fromTimespec(long(info.time))))
        .field("source", info.source)
        .field("size", info.size)
        .field("logicalSize", info.logicalSize)
        .field("fileCount", info.fileCount)
        .field("dirCount", info.dirCount)
        .endObject();
}

// A scan named on the command line: a file of any kind Vessora reads, or the
// id of a saved scan.
std::optional<SavedScan> loadNamed(const std::string& name, SavedScanInfo& info) {
    const std::optional<std::string> file = ScanHistory::locate(name, ScanHistory::defaultFolder());
    if (!file) {
        std::fprintf(stderr, "vessora: %s: no such file or saved scan\n", printable(name).c_str());
        return std::nullopt;
    }
    std::string error;
    std::optional<SavedScan> scan = ScanHistory::load(*file, error);
    if (!scan) {
        std::fprintf(stderr, "vessora: %s: cannot be read (%s)\n", printable(*file).c_str(), error.c_str());
        return std::nullopt;
    }
    info.file = *file;
    info.id = *file == name ? Paths::lastComponent(*file) : name;
    info.root = scan->root;
    info.time = scan->time;
    info.source = scan->source;
    info.size = scan->tree->size;
    info.logicalSize = scan->tree->logicalSize;
    info.fileCount = scan->tree->fileCount;
    info.dirCount = scan->tree->dirCount;
    return scan;
}

// Where a change is: a lump is its folder's.
std::string changePath(const ScanComparison::Entry& entry) {
    const FSNode& node = *entry.node;
    if (node.isAggregate && node.parent()) return node.parent()->path();
    return node.path();
}

const char* kindName(const FSNode& node) { return node.isAggregate ? "lump" : node.isDirectory() ? "folder" : "file"; }

} // namespace

int historyCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--json"}, {});
    if (!parsed.error.empty()) return usageError(kHistoryUsage, parsed.error);
    if (parsed.positional.size() > 1) return usageError(kHistoryUsage, "history takes at most one path");
    std::optional<std::string> root;
    if (!parsed.positional.empty()) root = standardPath(parsed.positional[0]);
    const ScanHistory::Listing listing = ScanHistory::list(ScanHistory::defaultFolder(), root);
    reportProblems(listing.problems);
    if (parsed.has("--json")) {
        std::string out;
        JsonWriter json(out, false);
        json.beginObject().key("scans").beginArray();
        for (const SavedScanInfo& info : listing.scans) writeInfo(json, info);
        json.endArray().endObject();
        writeOut(out + "\n");
        return 0;
    }
    if (listing.scans.empty()) {
        writeOut(root ? "No saved scans of " + printable(*root) + ".\n" : std::string("No saved scans.\n"));
        return 0;
    }
    std::string out;
    for (const SavedScanInfo& info : listing.scans)
        out += info.id + "  " + localTime(info.time) + "  " + padLeft(Fmt::bytes(info.size), 10) + "  " +
               padLeft(Fmt::count(info.fileCount), 11) + " files  " + printable(info.root) + "\n";
    writeOut(out);
    return 0;
}

int diffCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--json"}, {"--top"});
    if (!parsed.error.empty()) return usageError(kDiffUsage, parsed.error);
    if (parsed.positional.empty() || parsed.positional.size() > 2)
        return usageError(kDiffUsage, "diff needs a folder, or two scans");
    const bool json = parsed.has("--json");
    int64_t top = json ? INT64_MAX : 20;
    if (auto v = parsed.value("--top")) {
        int64_t n = 0;
        auto [end, error] = std::from_chars(v->data(), v->data() + v->size(), n);
        if (error != std::errc() || end != v->data() + v->size() || n < 1)
            return usageError(kDiffUsage, "--top needs a positive whole number");
        top = n;
    }

    SavedScanInfo beforeInfo, afterInfo;
    std::optional<SavedScan> before, after;
    if (parsed.positional.size() == 1) {
        const std::string root = standardPath(parsed.positional[0]);
        const ScanHistory::Listing listing = ScanHistory::list(ScanHistory::defaultFolder(), root);
        reportProblems(listing.problems);
        if (listing.scans.size() < 2) {
            std::fprintf(stderr,
                         listing.scans.empty()
                             ? "vessora: no saved scans of %s (vessora scan --save PATH keeps one)\n"
                             : "vessora: only one saved scan of %s (scan it again with --save to compare)\n",
                         printable(root).c_str());
            return 1;
        }
        before = loadNamed(listing.scans[1].file, beforeInfo);
        after = loadNamed(listing.scans[0].file, afterInfo);
        if (before) beforeInfo = listing.scans[1];
        if (after) afterInfo = listing.scans[0];
    } else {
        before = loadNamed(parsed.positional[0], beforeInfo);
        after = loadNamed(parsed.positional[1], afterInfo);
    }
    if (!before || !after) return 1;

    const auto comparison = ScanComparison::make(before->tree, after->tree);
    const std::vector<ScanComparison::Entry> changes = comparison->changes();
    const int64_t total = after->tree->size - before->tree->size;
    const size_t shown = size_t(std::min<int64_t>(top, int64_t(changes.size())));

    if (json) {
        std::string out;
        JsonWriter writer(out, false);
        writer.beginObject().key("before");
        writeInfo(writer, beforeInfo);
        writer.key("after");
        writeInfo(writer, afterInfo);
        writer.field("delta", total).field("changeCount", int64_t(changes.size())).key("changes").beginArray();
        for (size_t i = 0; i < shown; ++i) {
            const auto& c = changes[i];
            writer.beginObject()
                .field("path", changePath(c))
                .field("name", c.node->name())
                .field("kind", kindName(*c.node))
                .field("change", ScanComparison::changeName(c.change))
                .field("before", c.before)
                .field("after", c.after)
                .field("delta", c.after - c.before);
            if (c.then && c.before > 0)
                writer.field("percent", std::round(1000.0 * double(c.after - c.before) / double(c.before)) / 10.0);
            else
                writer.key("percent").null();
            writer.endObject();
        }
        writer.endArray().endObject();
        writeOut(out + "\n");
        return 0;
    }

    std::string out;
    out += "Before  " + localTime(beforeInfo.time) + "  " + padLeft(Fmt::bytes(beforeInfo.size), 10) + "  " +
           printable(beforeInfo.root) + "  (" + printable(beforeInfo.id) + ")\n";
    out += "After   " + localTime(afterInfo.time) + "  " + padLeft(Fmt::bytes(afterInfo.size), 10) + "  " +
           printable(afterInfo.root) + "  (" + printable(afterInfo.id) + ")\n";
    std::string percent = ScanComparison::percentText(total, before->tree->size);
    out += "Change  " + ScanComparison::deltaText(total) + (percent.empty() ? "" : " (" + percent + ")") + ", " +
           Fmt::count(int64_t(changes.size())) + (changes.size() == 1 ? " item changed\n" : " items changed\n");
    if (!changes.empty()) out += "\n";
    for (size_t i = 0; i < shown; ++i) {
        const auto& c = changes[i];
        const int64_t delta = c.after - c.before;
        std::string note;
        if (c.change == ScanComparison::Change::added)
            note = "new";
        else if (c.change == ScanComparison::Change::gone)
            note = "gone";
        else
            note = ScanComparison::percentText(delta, c.before);
        std::string where = printable(changePath(c));
        if (c.node->isAggregate)
            where += "  (" + c.node->name() + ")";
        else if (c.node->isDirectory())
            where += "/";
        out += padLeft(ScanComparison::deltaText(delta), 11) + "  " + padLeft(note, 7) + "  " + where + "\n";
    }
    if (shown < changes.size()) out += "(" + Fmt::count(int64_t(changes.size() - shown)) + " more)\n";
    writeOut(out);
    return 0;
}

} // namespace vessora::cli
