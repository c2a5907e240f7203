#include "cli/CommandLine.h"
#include "cli/Commands.h"

#include "apps/AppInventory.h"
#include "apps/LeftoverFinder.h"
#include "scan/DiskScanner.h"
#include "support/Fmt.h"
#include "support/Json.h"
#include "support/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace vessora::cli {
namespace {

constexpr const char* usage = "apps [--include-system] [--json] [--leftovers]";

struct MeasuredApp {
    InstalledApp app;
    int64_t size = 0;
    std::vector<LeftoverItem> leftovers;
};

// Width as a terminal shows it, near enough for column alignment: one column
// per UTF-8 sequence start.
size_t columns(const std::string& text) {
    return size_t(std::count_if(text.begin(), text.end(), [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

std::string padded(const std::string& text, size_t width) {
    size_t used = columns(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

std::string kind(const InstalledApp& app) {
    if (app.kind != AppKind::bundle) {
        std::string text = AppInventory::label(app.kind);
        if (app.package) text += " " + *app.package;
        return app.isSystemApp ? text + ", system" : text;
    }
    if (app.isSystemApp && app.isMASApp) return "system, App Store";
    if (app.isSystemApp) return "system";
    return app.isMASApp ? "App Store" : "";
}

int64_t leftoverTotal(const std::vector<MeasuredApp>& rows) {
    int64_t total = 0;
    for (const auto& row : rows)
        for (const auto& item : row.leftovers) total += item.size;
    return total;
}

void writeJsonItem(JsonWriter& json, const LeftoverItem& item) {
    json.beginObject()
        .field("path", item.url)
        .field("category", item.category)
        .field("confidence", LeftoverFinder::label(item.confidence))
        .field("size", item.size)
        .field("requiresAdmin", item.requiresAdmin)
        .endObject();
}

std::string jsonReport(const std::vector<MeasuredApp>& rows, bool withLeftovers) {
    std::string out;
    JsonWriter json(out);
    int64_t total = 0;
    json.beginObject().key("applications").beginArray();
    for (const auto& row : rows) {
        const InstalledApp& app = row.app;
        total += row.size;
        json.beginObject().field("name", app.name).field("path", app.url);
        json.key("bundleID");
        app.bundleID ? json.value(*app.bundleID) : json.null();
        json.key("version");
        app.version ? json.value(*app.version) : json.null();
        json.field("isSystemApp", app.isSystemApp).field("isMASApp", app.isMASApp);
        json.field("kind", AppInventory::label(app.kind));
        json.key("package");
        app.package ? json.value(*app.package) : json.null();
        json.key("lastUsed");
        app.lastUsed ? json.value(Dates::iso8601(*app.lastUsed)) : json.null();
        json.field("size", row.size);
        if (withLeftovers) {
            json.key("leftovers").beginObject();
            for (MatchConfidence group : {MatchConfidence::exact, MatchConfidence::likely}) {
                json.key(LeftoverFinder::label(group)).beginArray();
                for (const auto& item : row.leftovers)
                    if (item.confidence == group) writeJsonItem(json, item);
                json.endArray();
            }
            json.endObject();
        }
        json.endObject();
    }
    json.endArray().field("count", int64_t(rows.size())).field("totalSize", total);
    if (withLeftovers) json.field("leftoverSize", leftoverTotal(rows));
    json.endObject();
    out += '\n';
    return out;
}

// Names, versions and identifiers come from the apps' own files: shown escaped.
std::string textReport(const std::vector<MeasuredApp>& rows, bool withLeftovers) {
    size_t nameWidth = 4, versionWidth = 7, idWidth = 10, sizeWidth = 4;
    for (const auto& row : rows) {
        nameWidth = std::max(nameWidth, columns(printable(row.app.name)));
        versionWidth = std::max(versionWidth, columns(printable(row.app.version.value_or("-"))));
        idWidth = std::max(idWidth, columns(printable(row.app.bundleID.value_or("-"))));
        sizeWidth = std::max(sizeWidth, columns(Fmt::bytes(row.size)));
    }
    std::string out;
    auto line = [&](const std::string& name, const std::string& version, const std::string& id, const std::string& size,
                    const std::string& flags) {
        std::string text = padded(name, nameWidth) + "  " + padded(version, versionWidth) + "  " + padded(id, idWidth) +
                           "  " + std::string(sizeWidth - std::min(sizeWidth, columns(size)), ' ') + size + "  " +
                           flags;
        while (text.ends_with(' ')) text.pop_back();
        out += text + '\n';
    };
    line("Name", "Version", "Identifier", "Size", "Kind");
    int64_t total = 0;
    for (const auto& row : rows) {
        total += row.size;
        line(printable(row.app.name), printable(row.app.version.value_or("-")),
             printable(row.app.bundleID.value_or("-")), Fmt::bytes(row.size), printable(kind(row.app)));
        if (!withLeftovers) continue;
        for (MatchConfidence group : {MatchConfidence::exact, MatchConfidence::likely}) {
            bool header = false;
            for (const auto& item : row.leftovers) {
                if (item.confidence != group) continue;
                if (!header) {
                    out += group == MatchConfidence::exact ? "    Exact matches:\n" : "    Likely matches:\n";
                    header = true;
                }
                out += "      " + padded(printable(item.category), 28) + "  " + padded(Fmt::bytes(item.size), 9) +
                       "  " + printable(item.url) + (item.requiresAdmin ? "  (needs administrator rights)" : "") + '\n';
            }
        }
    }
    out += Fmt::counted(int64_t(rows.size()), "application") + ", " + Fmt::bytes(total) +
           (withLeftovers ? ", leftovers " + Fmt::bytes(leftoverTotal(rows)) : "") + ".\n";
    return out;
}

} // namespace

int appsCommand(const Arguments& args) {
    ParsedArguments parsed = parseArguments(args, {"--include-system", "--json", "--leftovers"}, {});
    if (!parsed.error.empty()) return usageError(usage, parsed.error);
    if (!parsed.positional.empty()) return usageError(usage, "unexpected argument " + parsed.positional.front());
    const bool withLeftovers = parsed.has("--leftovers");
    std::atomic<bool>& interrupted = installInterruptFlag();
    const bool showProgress = stderrIsTerminal();

    if (showProgress) progressLine("Looking for applications…");
    const std::vector<InstalledApp> installed = AppInventory::scan(parsed.has("--include-system"));
    std::vector<MeasuredApp> rows;
    for (const InstalledApp& app : installed) rows.push_back({app, 0, {}});

    // One task per application, as the window measures them; each task owns
    // its row, so only the progress line is shared.
    const std::function<bool()> cancelled = [&interrupted] { return interrupted.load(); };
    std::atomic<size_t> done{0};
    std::mutex progressLock;
    parallelFor(rows.size(), [&](size_t i) {
        if (interrupted.load()) return;
        rows[i].size = AppInventory::size(rows[i].app, cancelled);
        if (withLeftovers && !interrupted.load())
            rows[i].leftovers = LeftoverFinder::leftovers(rows[i].app, true, installed);
        size_t finished = ++done;
        if (showProgress) {
            std::lock_guard lock(progressLock);
            progressLine("Measuring applications: " + Fmt::count(int64_t(finished)) + " of " +
                         Fmt::count(int64_t(rows.size())));
        }
    });
    if (showProgress) progressLine({});
    if (interrupted.load()) {
        std::fprintf(stderr, "vessora: cancelled\n");
        return 130;
    }
    writeOut(parsed.has("--json") ? jsonReport(rows, withLeftovers) : textReport(rows, withLeftovers));
    return 0;
}

} // namespace vessora::cli
