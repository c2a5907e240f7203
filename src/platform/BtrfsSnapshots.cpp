#include "platform/BtrfsSnapshots.h"

#include "platform/Btrfs.h"
#include "platform/MountTable.h"
#include "support/JsonReader.h"
#include "support/Lines.h"
#include "support/Paths.h"
#include "support/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::BtrfsSnapshots {

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A whole number of at most 18 digits.
std::optional<int64_t> number(std::string_view text) {
    if (!allDigits(text) || text.size() > 18) return std::nullopt;
    int64_t value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

std::string_view trimmed(std::string_view text) {
    const char* space = " \t\r\n";
    size_t start = text.find_first_not_of(space);
    if (start == std::string_view::npos) return {};
    return text.substr(start, text.find_last_not_of(space) - start + 1);
}

// XML character data with its five named entities and numeric references
// decoded; anything else that looks like a reference stays as written.
std::string decodeXml(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (end == std::string_view::npos || end - i > 12) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, end - i - 1);
        static const std::pair<std::string_view, char> named[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto& [entity, c] : named)
            if (name == entity) out += c, done = true;
        if (!done && name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* stop = nullptr;
            const unsigned long code = digits.empty() ? 0 : std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
            if (!digits.empty() && *stop == '\0' && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
                Utf8::append(out, uint32_t(code)), done = true;
        }
        if (!done) {
            out += text[i];
            continue;
        }
        i = end;
    }
    return out;
}

// The text of the first <tag>...</tag> in `xml`; nothing when absent.
std::optional<std::string> element(std::string_view xml, std::string_view tag) {
    const std::string open = "<" + std::string(tag) + ">", close = "</" + std::string(tag) + ">";
    const size_t start = xml.find(open);
    if (start == std::string_view::npos) return std::nullopt;
    const size_t end = xml.find(close, start + open.size());
    if (end == std::string_view::npos) return std::nullopt;
    return decodeXml(xml.substr(start + open.size(), end - start - open.size()));
}

// "2024-01-05 10:00:01" in UTC.
std::optional<Date> parseUtc(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    auto field = [&](size_t at, size_t count) { return number(text.substr(at, count)).value_or(-1); };
    std::tm tm{};
    tm.tm_year = int(field(0, 4)) - 1900;
    tm.tm_mon = int(field(5, 2)) - 1;
    tm.tm_mday = int(field(8, 2));
    tm.tm_hour = int(field(11, 2));
    tm.tm_min = int(field(14, 2));
    tm.tm_sec = int(field(17, 2));
    if (tm.tm_year < -1900 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour < 0 || tm.tm_hour > 23 ||
        tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 60)
        return std::nullopt;
    const int day = tm.tm_mday;
    const std::time_t t = ::timegm(&tm);
    if (tm.tm_mday != day) return std::nullopt; // 30 February rolled over
    return Dates::checkedFromTimespec(long(t));
}

// "subvolid=256" among a Btrfs mount's options, or 0.
uint64_t mountedSubvolume(const std::string& superOptions) {
    for (size_t start = 0; start < superOptions.size();) {
        size_t end = superOptions.find(',', start);
        if (end == std::string::npos) end = superOptions.size();
        const std::string_view option = std::string_view(superOptions).substr(start, end - start);
        if (option.starts_with("subvolid=")) return uint64_t(number(option.substr(9)).value_or(0));
        start = end + 1;
    }
    return 0;
}

// A subvolume as found: its record, where it is from the top level, where it is reached.
struct Found {
    Btrfs::Subvolume subvolume;
    std::string topPath;
    std::string path;
};

// The subvolume's path from the top level, from a mount's root ("/@") and a
// path below that mount.
std::string fromTop(std::string_view mountRoot, std::string_view below) {
    std::string top = Paths::join(mountRoot.empty() ? "/" : mountRoot, below);
    while (top.starts_with('/')) top.erase(0, 1);
    return top;
}

// Where a mount reaches the subvolume at `topPath`, when one does; checked on
// disk, since another mount on the way can hide it.
std::string reachable(const std::vector<MountEntry>& mounts, const std::string& topPath, uint64_t id) {
    for (const MountEntry& mount : mounts) {
        const std::string root = mount.root.empty() ? "/" : mount.root;
        const std::string absolute = "/" + topPath;
        if (!Paths::isInside(absolute, root) || absolute == root) continue;
        const std::string path = Paths::join(mount.mountPoint, absolute.substr(root == "/" ? 0 : root.size()));
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        const bool same = Btrfs::subvolumeIdOf(fd) == id;
        ::close(fd);
        if (same) return path;
    }
    return {};
}

struct Layout {
    enum class Kind { none, snapper, timeshift } kind = Kind::none;
    int64_t number = 0;     // snapper
    std::string folderTop;  // timeshift: the date folder from the top level
    std::string folderName; // timeshift: the date folder's name
};

// Recognises the tools' places by the last components of the top-level path.
Layout layoutOf(const std::string& topPath) {
    const std::vector<std::string_view> parts = components(topPath);
    const size_t n = parts.size();
    Layout layout;
    if (n >= 3 && parts[n - 3] == ".snapshots" && parts[n - 1] == "snapshot")
        if (auto number = BtrfsSnapshots::number(parts[n - 2]); number && *number > 0) {
            layout.kind = Layout::Kind::snapper;
            layout.number = *number;
        }
    if (n >= 4 && parts[n - 4] == "timeshift-btrfs" && parts[n - 3] == "snapshots") {
        layout.kind = Layout::Kind::timeshift;
        layout.folderTop = Paths::parent(topPath);
        layout.folderName = std::string(parts[n - 2]);
    }
    return layout;
}

SnapshotSubvolume member(const Found& found, const Btrfs::Quotas& quotas) {
    SnapshotSubvolume s{found.subvolume.id, found.path, found.topPath, found.subvolume.readOnly, std::nullopt};
    if (quotas.state == Btrfs::QuotaState::on)
        if (auto it = quotas.exclusive.find(found.subvolume.id); it != quotas.exclusive.end()) s.exclusive = it->second;
    return s;
}

SnapshotQuotas quotaState(Btrfs::QuotaState state) {
    switch (state) {
    case Btrfs::QuotaState::off: return SnapshotQuotas::off;
    case Btrfs::QuotaState::stale: return SnapshotQuotas::stale;
    case Btrfs::QuotaState::on: return SnapshotQuotas::on;
    }
    return SnapshotQuotas::off;
}

} // namespace

std::optional<std::string> readMetadataFile(const std::string& path, size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::optional<std::string> text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= limit) {
        text.emplace();
        char buffer[16384];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || text->size() + size_t(n) > limit) {
                text.reset();
                break;
            }
            text->append(buffer, size_t(n));
        }
    }
    ::close(fd);
    return text;
}

std::optional<SnapperInfo> parseSnapperInfo(std::string_view xml) {
    const std::optional<std::string> body = element(xml, "snapshot");
    if (!body) return std::nullopt;
    const std::optional<std::string> num = element(*body, "num");
    const std::optional<int64_t> value = num ? number(trimmed(*num)) : std::nullopt;
    if (!value || *value < 1) return std::nullopt;
    SnapperInfo info;
    info.number = *value;
    if (auto date = element(*body, "date")) info.date = parseUtc(trimmed(*date));
    info.type = std::string(trimmed(element(*body, "type").value_or("")));
    info.description = std::string(trimmed(element(*body, "description").value_or("")));
    info.cleanup = std::string(trimmed(element(*body, "cleanup").value_or("")));
    return info;
}

std::optional<TimeshiftInfo> parseTimeshiftInfo(std::string_view json) {
    const std::optional<JsonValue> document = parseJson(json);
    if (!document || document->kind != JsonValue::Kind::object) return std::nullopt;
    TimeshiftInfo info;
    // Seconds since 1970, written as a string (or a number by other writers).
    if (const JsonValue* created = document->member("created")) {
        std::optional<int64_t> seconds;
        if (created->kind == JsonValue::Kind::string) seconds = number(trimmed(created->string));
        if (created->kind == JsonValue::Kind::number && created->number >= 1 && created->number < 1e17)
            seconds = int64_t(created->number);
        if (seconds && *seconds > 0) info.created = Dates::checkedFromTimespec(long(*seconds));
    }
    info.comments = std::string(trimmed(document->text("comments").value_or("")));
    info.tags = document->text("tags").value_or("");
    return info;
}

std::optional<Date> parseTimeshiftName(std::string_view name) {
    // 2024-01-05_10-00-01: the same fields as the snapshot stamp, other separators.
    if (name.size() != 19 || name[10] != '_' || name[13] != '-' || name[16] != '-') return std::nullopt;
    std::string stamp(name.substr(0, 10));
    stamp += '-';
    stamp += name.substr(11, 2);
    stamp += name.substr(14, 2);
    stamp += name.substr(17, 2);
    return LocalSnapshot::parseStamp(stamp);
}

std::string tagWords(std::string_view tags) {
    static const std::pair<char, const char*> words[] = {{'O', "On demand"}, {'B', "Boot"},   {'H', "Hourly"},
                                                         {'D', "Daily"},     {'W', "Weekly"}, {'M', "Monthly"}};
    std::string out;
    for (const auto& [letter, word] : words)
        if (tags.find(letter) != std::string_view::npos) out += (out.empty() ? "" : ", ") + std::string(word);
    return out;
}

std::string snapperConfigSubvolume(std::string_view text) {
    for (std::string_view line : splitLines(text)) {
        line = trimmed(line);
        if (!line.starts_with("SUBVOLUME=")) continue;
        std::string_view value = line.substr(10);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return {};
}

bool timeshiftConfigNames(std::string_view json, std::string_view fileSystemId) {
    const std::optional<JsonValue> document = parseJson(json);
    if (!document || fileSystemId.empty()) return false;
    const std::optional<std::string> device = document->text("backup_device_uuid");
    if (!device || device->size() != fileSystemId.size()) return false;
    for (size_t i = 0; i < device->size(); ++i)
        if (std::tolower((unsigned char)(*device)[i]) != std::tolower((unsigned char)fileSystemId[i])) return false;
    const std::optional<std::string> mode = document->text("btrfs_mode");
    return !mode || *mode == "true";
}

std::string snapperSubvolume(const LocalSnapshot& snapshot) {
    if (snapshot.owner != SnapshotOwner::snapper || snapshot.subvolumes.size() != 1) return {};
    const std::string& path = snapshot.subvolumes.front().path;
    if (path.empty()) return {};
    // <subvolume>/.snapshots/<n>/snapshot
    return Paths::parent(Paths::parent(Paths::parent(path)));
}

std::string timeshiftName(const LocalSnapshot& snapshot) {
    if (snapshot.owner != SnapshotOwner::timeshift || snapshot.subvolumes.empty()) return {};
    return Paths::lastComponent(Paths::parent(snapshot.subvolumes.front().topPath));
}

std::vector<LocalSnapshot> list(const std::string& volume) {
    const std::vector<MountEntry> table = MountTable::read();
    const MountEntry* here = nullptr;
    for (const MountEntry& entry : table)
        if (entry.mountPoint == volume) here = &entry; // the last mount there is the one seen
    if (!here || here->fsType != "btrfs") return {};
    const std::string fileSystem = Btrfs::fileSystemId(volume);
    if (fileSystem.empty()) return {};

    // Every mount of this file system: each reaches the subvolumes below its own.
    std::vector<MountEntry> mounts;
    std::set<uint64_t> mounted;
    for (const MountEntry& entry : table)
        if (entry.fsType == "btrfs" && entry.deviceId == here->deviceId) {
            mounts.push_back(entry);
            mounted.insert(mountedSubvolume(entry.superOptions));
        }
    std::map<uint64_t, Found> found;
    for (const MountEntry& mount : mounts)
        for (Btrfs::Subvolume& s : Btrfs::subvolumes(mount.mountPoint)) {
            if (found.count(s.id)) continue;
            std::string top = fromTop(mount.root, s.path), path = Paths::join(mount.mountPoint, s.path);
            found.emplace(s.id, Found{std::move(s), std::move(top), std::move(path)});
        }
    // With administrator rights the whole tree is read, so snapshots outside
    // every mount (Timeshift's, beside the system's subvolume) count too.
    for (Btrfs::Subvolume& s : Btrfs::subvolumes(volume, true)) {
        if (found.count(s.id)) continue;
        std::string path = reachable(mounts, s.path, s.id), top = s.path;
        found.emplace(s.id, Found{std::move(s), std::move(top), std::move(path)});
    }

    const Btrfs::Quotas quotas = Btrfs::quotas(fileSystem, volume);
    auto base = [&](SnapshotOwner owner) {
        LocalSnapshot snapshot;
        snapshot.owner = owner;
        snapshot.volume = volume;
        snapshot.fileSystem = fileSystem;
        snapshot.quotas = quotaState(quotas.state);
        return snapshot;
    };

    std::vector<LocalSnapshot> snapshots;
    std::map<std::string, size_t> timeshiftFolders; // folder top path -> index in snapshots
    for (const auto& [id, item] : found) {
        if (id == Btrfs::topLevelId || mounted.count(id)) continue;
        const Layout layout = layoutOf(item.topPath);
        if (layout.kind == Layout::Kind::snapper && !item.path.empty()) {
            const auto text = readMetadataFile(Paths::join(Paths::parent(item.path), "info.xml"));
            const auto info = text ? parseSnapperInfo(*text) : std::nullopt;
            if (info && info->number == layout.number) {
                LocalSnapshot snapshot = base(SnapshotOwner::snapper);
                snapshot.name = item.path;
                snapshot.date = info->date ? info->date : item.subvolume.created;
                snapshot.description = info->description;
                snapshot.snapperNumber = info->number;
                snapshot.snapperType = info->type;
                snapshot.cleanup = info->cleanup;
                snapshot.subvolumes.push_back(member(item, quotas));
                snapshots.push_back(std::move(snapshot));
                continue;
            }
        }
        if (layout.kind == Layout::Kind::timeshift && !item.path.empty()) {
            if (auto it = timeshiftFolders.find(layout.folderTop); it != timeshiftFolders.end()) {
                snapshots[it->second].subvolumes.push_back(member(item, quotas));
                continue;
            }
            const std::string folder = Paths::parent(item.path);
            const auto text = readMetadataFile(Paths::join(folder, "info.json"));
            if (const auto info = text ? parseTimeshiftInfo(*text) : std::nullopt) {
                LocalSnapshot snapshot = base(SnapshotOwner::timeshift);
                snapshot.name = folder;
                snapshot.date = info->created ? info->created : parseTimeshiftName(layout.folderName);
                if (!snapshot.date) snapshot.date = item.subvolume.created;
                snapshot.description = info->comments.empty() ? tagWords(info->tags) : info->comments;
                snapshot.subvolumes.push_back(member(item, quotas));
                timeshiftFolders[layout.folderTop] = snapshots.size();
                snapshots.push_back(std::move(snapshot));
                continue;
            }
        }
        // Anything else counts when it is a read-only copy of another subvolume.
        if (!item.subvolume.readOnly || !item.subvolume.isSnapshot) continue;
        LocalSnapshot snapshot = base(SnapshotOwner::btrfs);
        snapshot.name = item.path.empty() ? item.topPath : item.path;
        snapshot.date = item.subvolume.created;
        snapshot.subvolumes.push_back(member(item, quotas));
        snapshots.push_back(std::move(snapshot));
    }
    for (LocalSnapshot& snapshot : snapshots)
        std::sort(snapshot.subvolumes.begin(), snapshot.subvolumes.end(),
                  [](const SnapshotSubvolume& a, const SnapshotSubvolume& b) { return a.topPath < b.topPath; });
    std::sort(snapshots.begin(), snapshots.end(),
              [](const LocalSnapshot& a, const LocalSnapshot& b) { return a.name < b.name; });
    LocalSnapshot::sortNewestFirst(snapshots);
    return snapshots;
}

} // namespace vessora::BtrfsSnapshots
