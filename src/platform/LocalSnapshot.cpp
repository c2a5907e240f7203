#include "platform/LocalSnapshot.h"

#include "platform/BtrfsSnapshots.h"
#include "platform/PlatformTables.h"

#include "support/Lines.h"
#include "support/Shell.h"

#include <algorithm>
#include <ctime>

namespace vessora {

namespace {

const char* const kSnapshotTool = "/usr/bin/tmutil";
constexpr std::string_view kPrefix = "com.apple.TimeMachine.";
constexpr std::string_view kSuffix = ".local";

std::string removeAll(std::string text, std::string_view piece) {
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at)) text.erase(at, piece.size());
    return text;
}

bool digitsAt(std::string_view text, size_t from, size_t count, int& value) {
    value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::string LocalSnapshot::stampOf(std::string_view name) {
    return removeAll(removeAll(std::string(name), kPrefix), kSuffix);
}

std::optional<Date> LocalSnapshot::parseStamp(std::string_view stamp) {
    // yyyy-MM-dd-HHmmss, nothing before or after.
    if (stamp.size() != 17 || stamp[4] != '-' || stamp[7] != '-' || stamp[10] != '-') return std::nullopt;
    int year, month, day, hour, minute, second;
    if (!digitsAt(stamp, 0, 4, year) || !digitsAt(stamp, 5, 2, month) || !digitsAt(stamp, 8, 2, day) ||
        !digitsAt(stamp, 11, 2, hour) || !digitsAt(stamp, 13, 2, minute) || !digitsAt(stamp, 15, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1; // the zone's own rule for that day
    std::time_t t = std::mktime(&tm);
    // mktime rolls 31 April over into May; a stamp that names no real day is no date.
    if (t == std::time_t(-1) || tm.tm_mday != day || tm.tm_mon != month - 1) return std::nullopt;
    // Four digits reach the year 9999, past what the clock can hold: such a
    // stamp is no date rather than an overflowed one.
    return Dates::checkedFromTimespec(long(t));
}

std::string_view ownerName(SnapshotOwner owner) {
    switch (owner) {
    case SnapshotOwner::timeMachine: return "Time Machine";
    case SnapshotOwner::snapper: return "snapper";
    case SnapshotOwner::timeshift: return "Timeshift";
    case SnapshotOwner::btrfs: return "Btrfs";
    }
    return {};
}

std::optional<int64_t> LocalSnapshot::exclusiveBytes() const {
    if (subvolumes.empty() || quotas != SnapshotQuotas::on) return std::nullopt;
    int64_t total = 0;
    for (const SnapshotSubvolume& s : subvolumes) {
        if (!s.exclusive) return std::nullopt;
        total += *s.exclusive;
    }
    return total;
}

void LocalSnapshot::sortNewestFirst(std::vector<LocalSnapshot>& snapshots) {
    std::stable_sort(snapshots.begin(), snapshots.end(), [](const LocalSnapshot& a, const LocalSnapshot& b) {
        return a.date.value_or(Date::min()) > b.date.value_or(Date::min());
    });
}

std::vector<LocalSnapshot> LocalSnapshot::parseList(std::string_view output) {
    std::vector<LocalSnapshot> snapshots;
    for (std::string_view line : splitLines(output)) {
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) continue;
        line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
        if (!line.starts_with(kPrefix)) continue;
        LocalSnapshot snapshot;
        snapshot.name = std::string(line);
        snapshot.date = parseStamp(stampOf(line));
        snapshots.push_back(std::move(snapshot));
    }
    sortNewestFirst(snapshots);
    return snapshots;
}

std::vector<LocalSnapshot> LocalSnapshot::list(const std::string& volume) {
    if (PlatformTables::active() == TableSet::linux) return BtrfsSnapshots::list(volume);
    // The exit status is not looked at: a failing tool prints no snapshot lines.
    std::optional<std::string> output = Shell::run(kSnapshotTool, {"listlocalsnapshots", volume});
    if (!output) return {};
    return parseList(*output);
}

std::vector<LocalSnapshot>
LocalSnapshot::listAll(const std::vector<std::string>& volumes,
                       const std::function<std::vector<LocalSnapshot>(const std::string&)>& lister) {
    // The macOS tool serves the startup volume; on Linux every Btrfs volume has its own.
    const std::vector<std::string> asked =
        PlatformTables::active() == TableSet::linux ? volumes : std::vector<std::string>{"/"};
    std::vector<LocalSnapshot> all;
    for (const std::string& volume : asked)
        for (LocalSnapshot& snapshot : lister(volume))
            if (std::none_of(all.begin(), all.end(), [&](const LocalSnapshot& s) { return s.sameAs(snapshot); }))
                all.push_back(std::move(snapshot));
    sortNewestFirst(all);
    return all;
}

} // namespace vessora
