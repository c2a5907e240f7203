#include "platform/Trash.h"

#include "platform/ItemHandle.h"
#include "support/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace vessora::Trash {

namespace {

// Which mount an item belongs to. The mount id tells bind mounts of one file
// system apart, which st_dev does not; rename() fails across both.
struct MountIdentity {
    dev_t device = 0;
    uint64_t mountId = 0;
    bool valid = false;
    bool operator==(const MountIdentity& o) const { return device == o.device && mountId == o.mountId; }
};

MountIdentity identifyAt(int dirFd, const char* name, int flags) {
    MountIdentity id;
    struct statx sx;
    if (::statx(dirFd, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) return id;
    id.device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    id.mountId = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
    id.valid = true;
    return id;
}

MountIdentity identify(const std::string& path, bool followLinks) {
    return identifyAt(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
}

std::string dataHome() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') return Paths::standardize(x);
    return Paths::join(Paths::standardize(Paths::home()), ".local/share");
}

// The top directory of the mount holding `path`: walk up while the parent is
// on the same mount.
std::string topDirectory(const std::string& path, const MountIdentity& item) {
    std::string dir = Paths::parent(path);
    if (!(identify(dir, true) == item)) return {};
    while (dir != "/") {
        std::string up = Paths::parent(dir);
        if (!(identify(up, true) == item)) break;
        dir = up;
    }
    return dir;
}

bool isOwnPrivateDirectory(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// mkdir that tolerates an existing directory; errno of the failure or 0.
int ensureDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0 || errno == EEXIST) return 0;
    return errno;
}

int ensureDirectories(const std::string& path, mode_t mode) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (path == "/" || path.empty()) return ENOENT;
    if (int e = ensureDirectories(Paths::parent(path), mode)) return e;
    return ensureDirectory(path, mode);
}

struct Destination {
    std::string trash;    // the trash folder (holding files/ and info/)
    std::string topDir;   // for a file system's own trash: its top directory; empty for the home trash
    std::string resolved; // for a file system's own trash: the item's path with its folder's links resolved
};

// The per-file-system trash: $topdir/.Trash/$uid when $topdir/.Trash is a
// real sticky directory, else $topdir/.Trash-$uid. `create` makes the chosen
// folder when missing. Returns the errno of a failed creation.
int fileSystemTrash(const std::string& topDir, bool create, Destination& out) {
    const std::string uid = std::to_string(::geteuid());
    const std::string shared = Paths::join(topDir, ".Trash");
    struct stat st;
    if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        std::string mine = Paths::join(shared, uid);
        if (!create || ensureDirectory(mine, 0700) == 0) {
            if (!create || isOwnPrivateDirectory(mine)) {
                out = {mine, topDir, {}};
                return 0;
            }
        }
    }
    std::string own = Paths::join(topDir, ".Trash-" + uid);
    if (create) {
        if (int e = ensureDirectory(own, 0700)) return e;
        if (!isOwnPrivateDirectory(own)) return EPERM;
    }
    out = {own, topDir, {}};
    return 0;
}

std::string deletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Blocks of the folder and everything in it, folders included, as `du -B1`
// counts them: the unit directorysizes is defined in. nftw offers no user
// pointer, and a trash move runs on one thread.
thread_local int64_t duTotal = 0;
int64_t duSize(const std::string& path) {
    duTotal = 0;
    ::nftw(
        path.c_str(),
        [](const char*, const struct stat* st, int, struct FTW*) {
            if (st) duTotal += int64_t(st->st_blocks) * 512;
            return 0;
        },
        32, FTW_PHYS | FTW_MOUNT);
    return duTotal;
}

// Writes the directory's size line into `directorysizes`, replacing the file
// atomically (a temporary file renamed over it).
void recordDirectorySize(const Destination& dest, const std::string& name, const std::string& location,
                         const std::string& infoPath) {
    const int64_t size = duSize(location);
    struct stat info;
    if (::stat(infoPath.c_str(), &info) != 0) return;
    const std::string sizesPath = Paths::join(dest.trash, "directorysizes");
    std::string contents;
    {
        std::ifstream in(sizesPath, std::ios::binary);
        std::ostringstream buffer;
        buffer << in.rdbuf();
        contents = buffer.str();
    }
    if (!contents.empty() && contents.back() != '\n') contents += '\n';
    contents += std::to_string(size) + " " + std::to_string(int64_t(info.st_mtime)) + " " + encodePath(name) + "\n";
    std::string temporary = sizesPath + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return;
    bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), sizesPath.c_str()) != 0) ::unlink(temporary.c_str());
}

// `item` is the entry's real path, read from its folder's descriptor.
bool chooseDestination(int folderFd, const std::string& name, const std::string& item, bool create, Destination& dest,
                       Outcome& outcome) {
    MountIdentity identity = identifyAt(folderFd, name.c_str(), AT_SYMLINK_NOFOLLOW);
    if (!identity.valid) {
        outcome.error = errno;
        return false;
    }
    const std::string data = dataHome();
    if (create) {
        if (int e = ensureDirectories(data, 0700)) {
            outcome.error = e;
            return false;
        }
    }
    MountIdentity home = identify(data, true);
    if (home.valid && home == identity) {
        dest = {Paths::join(data, "Trash"), {}, {}};
        if (create) {
            if (int e = ensureDirectory(dest.trash, 0700)) {
                outcome.error = e;
                return false;
            }
        }
        return true;
    }
    std::string top = topDirectory(item, identity);
    if (top.empty()) {
        // The item is itself a mount point: it cannot be renamed anywhere.
        outcome.error = EBUSY;
        outcome.reason = item + " is the root of a mounted volume and is never removed.";
        return false;
    }
    if (int e = fileSystemTrash(top, create, dest)) {
        if (e == EROFS)
            outcome.error = e;
        else
            outcome.reason = item + " cannot be moved to the Trash: no trash folder can be used on its volume.";
        return false;
    }
    dest.resolved = item;
    return true;
}

// The folder of `path`, opened as the path names it.
int openFolderOf(const std::string& path) {
    const std::string folder = Paths::parent(path);
    return ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

std::string realItemPath(int folderFd, const std::string& name, const std::string& fallbackFolder) {
    std::string folder = realPathOf(folderFd);
    return Paths::join(folder.empty() ? fallbackFolder : folder, name);
}

} // namespace

std::string shortenedName(std::string name) {
    constexpr size_t limit = 255 - 10 - 12;
    if (name.size() <= limit) return name;
    // A UTF-8 sequence that straddles the cut starts at most three bytes
    // back; a name that is not UTF-8 there is cut at the limit as it is.
    size_t back = 0;
    while (back < 3 && (static_cast<unsigned char>(name[limit - back]) & 0xC0) == 0x80) ++back;
    size_t cut = limit;
    if (back > 0 && back < limit && static_cast<unsigned char>(name[limit - back]) >= 0xC0) cut = limit - back;
    return name.substr(0, cut);
}

std::string homeTrash() { return Paths::join(dataHome(), "Trash"); }

std::string trashFor(const std::string& path) {
    int folderFd = openFolderOf(path);
    if (folderFd < 0) return {};
    const std::string name = Paths::lastComponent(path);
    Destination dest;
    Outcome ignored;
    bool found =
        chooseDestination(folderFd, name, realItemPath(folderFd, name, Paths::parent(path)), false, dest, ignored);
    ::close(folderFd);
    return found ? dest.trash : std::string();
}

std::string encodePath(std::string_view path) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

Outcome moveToTrash(const std::string& path) {
    int folderFd = openFolderOf(path);
    if (folderFd < 0) {
        Outcome outcome;
        outcome.error = errno;
        return outcome;
    }
    Outcome outcome = moveToTrash(folderFd, Paths::lastComponent(path), Paths::parent(path));
    ::close(folderFd);
    return outcome;
}

Outcome moveToTrash(int folderFd, const std::string& itemName, const std::string& knownFolder) {
    Outcome outcome;
    Destination dest;
    const std::string path = realItemPath(folderFd, itemName, knownFolder);
    if (!path.starts_with('/')) {
        outcome.error = ENOENT;
        return outcome;
    }
    if (!chooseDestination(folderFd, itemName, path, true, dest, outcome)) return outcome;
    const std::string files = Paths::join(dest.trash, "files");
    const std::string info = Paths::join(dest.trash, "info");
    if (int e = ensureDirectory(files, 0700); e || (e = ensureDirectory(info, 0700))) {
        outcome.error = e;
        return outcome;
    }
    struct stat itemStat;
    if (::fstatat(folderFd, itemName.c_str(), &itemStat, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome.error = errno;
        return outcome;
    }

    // Paths in a file system's own trash are relative to its top directory,
    // so the volume may be mounted elsewhere later.
    std::string recorded = path;
    if (!dest.topDir.empty()) {
        recorded = dest.topDir == "/" ? dest.resolved.substr(1) : dest.resolved.substr(dest.topDir.size() + 1);
    }
    const std::string contents =
        "[Trash Info]\nPath=" + encodePath(recorded) + "\nDeletionDate=" + deletionDate() + "\n";

    const std::string base = shortenedName(itemName);
    for (int attempt = 1; attempt < 100000; ++attempt) {
        std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        std::string infoPath = Paths::join(info, name + ".trashinfo");
        // The exclusive creation of the info file is what reserves the name.
        int fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            outcome.error = errno;
            return outcome;
        }
        bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
        written = ::fsync(fd) == 0 && written;
        ::close(fd);
        std::string location = Paths::join(files, name);
        if (!written) {
            ::unlink(infoPath.c_str());
            outcome.error = EIO;
            return outcome;
        }
        // RENAME_NOREPLACE: an entry that appeared in files/ meanwhile is never overwritten.
        if (::renameat2(folderFd, itemName.c_str(), AT_FDCWD, location.c_str(), RENAME_NOREPLACE) != 0) {
            int e = errno;
            ::unlink(infoPath.c_str());
            if (e == EEXIST) continue;
            outcome.error = e;
            return outcome;
        }
        if (S_ISDIR(itemStat.st_mode)) recordDirectorySize(dest, name, location, infoPath);
        outcome.location = location;
        outcome.infoPath = infoPath;
        return outcome;
    }
    outcome.error = EEXIST;
    return outcome;
}

} // namespace vessora::Trash
