#include "platform/MountTable.h"

#include "platform/PlatformTables.h"
#include "support/Lines.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <algorithm>
#include <cstdio>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vessora::MountTable {

namespace {

// Undoes the kernel's octal escapes ("\040" for a space, "\134" for a backslash).
std::string unescapeOctal(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            std::all_of(field.begin() + i + 1, field.begin() + i + 4, [](char c) { return c >= '0' && c <= '7'; })) {
            out.push_back(char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(separator, start);
        if (end == std::string_view::npos) end = line.size();
        if (end > start) fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

bool matchesType(const std::vector<const char*>& patterns, const std::string& type) {
    for (const char* pattern : patterns)
        if (::fnmatch(pattern, type.c_str(), 0) == 0) return true;
    return false;
}

bool matchesPath(const std::vector<const char*>& patterns, const std::string& path) {
    for (const char* pattern : patterns)
        if (::fnmatch(PlatformTables::resolveRoot(pattern).c_str(), path.c_str(), 0) == 0) return true;
    return false;
}

// "subvol=/@home" among the super options, or "".
std::string subvolume(const std::string& superOptions) {
    for (std::string_view option : splitFields(superOptions, ','))
        if (option.starts_with("subvol=")) return std::string(option.substr(7));
    return {};
}

} // namespace

std::vector<MountEntry> parse(std::string_view text) {
    std::vector<MountEntry> entries;
    for (std::string_view line : splitLines(text)) {
        std::vector<std::string_view> fields = splitFields(line, ' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 6 || separator - fields.begin() < 6 || fields.end() - separator < 3) continue;
        entries.push_back({std::string(fields[2]), unescapeOctal(fields[3]), unescapeOctal(fields[4]),
                           unescapeOctal(separator[1]), unescapeOctal(separator[2]),
                           separator + 3 < fields.end() ? unescapeOctal(separator[3]) : std::string()});
    }
    return entries;
}

std::string readText() { return WholeFile::read("/proc/self/mountinfo").value_or(""); }
std::vector<MountEntry> read() { return parse(readText()); }

bool isRemote(const MountEntry& mount) {
    const std::string& type = mount.fsType;
    if (type == "fuseblk" || type == "fusectl") return false;
    return type == "fuse" || type.starts_with("fuse.") || type.starts_with("nfs") || type == "cifs" || type == "smb3" ||
           type == "smbfs" || type == "9p" || type == "ceph" || type == "glusterfs" || type == "afs" || type == "sshfs";
}

uint64_t deviceNumber(std::string_view deviceId) {
    unsigned major = 0, minor = 0;
    if (std::sscanf(std::string(deviceId).c_str(), "%u:%u", &major, &minor) != 2) return 0;
    return makedev(major, minor);
}

Plan plan(const std::vector<MountEntry>& mounts, const ScanTables& tables, const std::set<std::string>& ignoredTrees) {
    Plan result;
    // The root file system: the last mount on "/" is the one visible.
    const MountEntry* rootFs = nullptr;
    for (const MountEntry& m : mounts)
        if (m.mountPoint == "/") rootFs = &m;
    std::set<std::string> devicesSeen;
    if (rootFs) devicesSeen.insert(rootFs->deviceId);
    auto ignored = [&](const std::string& point) {
        for (const std::string& tree : ignoredTrees)
            if (Paths::isInside(point, tree)) return true;
        return false;
    };
    for (const MountEntry& m : mounts) {
        // A FUSE or network mount is always in the plan: a walk that starts
        // inside an ignored tree must not ask it anything either.
        if (m.mountPoint == "/" || (ignored(m.mountPoint) && !isRemote(m))) continue;
        Role role = Role::system;
        bool otherVolume = false;
        for (const char* tree : tables.otherVolumeTrees)
            otherVolume = otherVolume || Paths::isInside(m.mountPoint, PlatformTables::resolveRoot(tree));
        if (matchesPath(tables.skipPatterns, m.mountPoint) || matchesType(tables.systemMountTypes, m.fsType)) {
            role = Role::system;
        } else if (matchesType(tables.cloudMountTypes, m.fsType) && m.fsType != "fuseblk") {
            role = Role::cloud;
        } else if (otherVolume || !matchesType(tables.localDiskTypes, m.fsType)) {
            role = Role::system;
        } else if (m.fsType == "btrfs" && rootFs && m.source == rootFs->source) {
            // A subvolume of the root's own Btrfs: its own device number, the
            // same disk. A bind mount of a folder inside one is not entered.
            role = !m.root.empty() && m.root == subvolume(m.superOptions) && !devicesSeen.count(m.deviceId)
                       ? Role::enter
                       : Role::system;
        } else if (m.root != "/" || devicesSeen.count(m.deviceId)) {
            role = Role::system; // a bind mount or a second mount: the same data twice
        } else {
            role = Role::enter;
        }
        switch (role) {
        case Role::enter:
            devicesSeen.insert(m.deviceId);
            result.enteredDevices.insert(deviceNumber(m.deviceId));
            break;
        case Role::system: result.systemPoints.insert(m.mountPoint); break;
        case Role::cloud: result.cloudPoints.insert(m.mountPoint); break;
        }
    }
    // A point mounted over again keeps the role of its last mount.
    for (const std::string& point : result.cloudPoints) result.systemPoints.erase(point);
    return result;
}

std::vector<std::string> parseSwaps(std::string_view text) {
    std::vector<std::string> files;
    std::vector<std::string_view> lines = splitLines(text);
    // "Filename Type Size Used Priority" after a header line; the columns are
    // separated by spaces and tabs, and a space in a name is written \040.
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string_view> fields;
        std::string_view line = lines[i];
        for (size_t start = 0; start < line.size();) {
            size_t end = line.find_first_of(" \t", start);
            if (end == std::string_view::npos) end = line.size();
            if (end > start) fields.push_back(line.substr(start, end - start));
            start = end + 1;
        }
        if (fields.size() >= 2 && fields[1] == "file") files.push_back(unescapeOctal(fields[0]));
    }
    return files;
}

std::vector<std::string> liveSwapFiles() { return parseSwaps(WholeFile::read("/proc/swaps").value_or("")); }

namespace {
// "42" for a revision from the store, "x3" for one installed from a file.
bool isSnapRevision(std::string_view name) {
    if (name.starts_with('x')) name.remove_prefix(1);
    return !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
}
} // namespace

std::vector<std::string> trashFolders() {
    std::vector<std::string> folders;
    auto isFolder = [](const std::string& path, bool sticky = false) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (!sticky || (st.st_mode & S_ISVTX));
    };
    auto add = [&](const std::string& path) {
        if (isFolder(path) && std::find(folders.begin(), folders.end(), path) == folders.end()) folders.push_back(path);
    };
    add(PlatformTables::resolveRoot("$XDG_DATA_HOME/Trash"));
    const std::string uid = std::to_string(::getuid());
    for (const MountEntry& m : read()) {
        // Only local file systems: a remote one is never touched here, and
        // pseudo file systems hold no trash.
        if (isRemote(m)) continue;
        bool local = m.source.starts_with("/dev/") || m.fsType == "tmpfs";
        for (const char* tree : {"/proc", "/sys", "/dev", "/run"})
            local = local && !Paths::isInside(m.mountPoint, tree);
        if (!local) continue;
        const std::string shared = Paths::join(m.mountPoint, ".Trash");
        if (isFolder(shared, true)) add(Paths::join(shared, uid));
        add(Paths::join(m.mountPoint, ".Trash-" + uid));
    }
    // A snap app's home is its revision's folder: each revision kept on disk
    // keeps its own trash ("current" is a link to one of them).
    for (const std::string& snap : PlatformTables::expandRoot("~/snap/*"))
        for (const std::string& revision : PlatformTables::expandRoot(Paths::join(snap, "*")))
            if (isSnapRevision(Paths::lastComponent(revision)) && isFolder(revision))
                add(Paths::join(revision, ".local/share/Trash"));
    return folders;
}

} // namespace vessora::MountTable
