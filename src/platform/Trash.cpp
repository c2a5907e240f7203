#include "platform/Trash.h"

#include "platform/ItemHandle.h"
#include "support/Paths.h"
#include "support/UniqueFd.h"
#include "support/WholeFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
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

MountIdentity identifyFd(int fd) { return identifyAt(fd, "", AT_EMPTY_PATH); }

std::string uidName() { return std::to_string(::geteuid()); }

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

// Opens the folder `name` in `parentFd`, never through a link (a link there
// fails with ELOOP, anything but a folder with ENOTDIR). With `create`, a
// missing folder is made with `mode` first.
int openFolderAt(int parentFd, const char* name, bool create, mode_t mode, int flags = O_RDONLY) {
    if (create && ::mkdirat(parentFd, name, mode) != 0 && errno != EEXIST) return -1;
    int fd = ::openat(parentFd, name, flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    // O_PATH with O_NOFOLLOW opens a link itself instead of failing.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = ELOOP;
        return -1;
    }
    return fd;
}

// A trash folder of this user: a real folder it owns and, for a file
// system's trash, that nobody else may enter (mode 0700 exactly).
bool isOwnFolder(int fd, bool privateMode) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (!privateMode || (st.st_mode & 07777) == 0700);
}

bool isStickyFolder(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

// True when the folder open at `fd` is the top directory of its mount: its
// parent is on another mount, or it is its own parent ("/").
bool isTopOfMount(int fd) {
    UniqueFd up{::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (up.get() < 0) return false;
    struct stat self, parent;
    if (::fstat(fd, &self) != 0 || ::fstat(up.get(), &parent) != 0) return false;
    if (self.st_dev == parent.st_dev && self.st_ino == parent.st_ino) return true;
    return !(identifyFd(fd) == identifyFd(up.get()));
}

// The top directory of the mount `item` is on, opened by walking ".." up from
// the item's folder: no path is resolved again, so no link on the way can
// send the walk elsewhere. -1 when the folder is on another mount than the
// item (the item is a mount point itself).
int openTopDirectory(int folderFd, const MountIdentity& item) {
    UniqueFd top{::openat(folderFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (top.get() < 0 || !(identifyFd(top.get()) == item)) return -1;
    for (;;) {
        UniqueFd up{::openat(top.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC)};
        struct stat self, parent;
        if (up.get() < 0 || ::fstat(top.get(), &self) != 0 || ::fstat(up.get(), &parent) != 0) break;
        if (self.st_dev == parent.st_dev && self.st_ino == parent.st_ino) break;
        if (!(identifyFd(up.get()) == item)) break;
        std::swap(top, up);
    }
    return top.release();
}

// A candidate trash folder judged: usable (open, or missing and allowed to be
// made), or not usable.
struct Candidate {
    int fd = -1;          // open when it exists and passed the checks
    bool missing = false; // does not exist yet (only when not creating)
    int error = 0;        // why it could not be made, when that is the system's reason
};

// `name` in `parentFd` as a trash folder of this user, made when `create`.
Candidate privateTrashFolder(int parentFd, const char* name, bool create, const MountIdentity& item) {
    Candidate c;
    int fd = openFolderAt(parentFd, name, create, 0700);
    if (fd < 0) {
        if (errno == ENOENT && !create) c.missing = true;
        if (errno == EROFS) c.error = EROFS;
        return c;
    }
    // Only a folder on the item's own mount can receive it by renaming.
    if (!isOwnFolder(fd, true) || (item.valid && !(identifyFd(fd) == item))) {
        ::close(fd);
        return c;
    }
    c.fd = fd;
    return c;
}

// The trash of the file system whose top directory is open at `topFd`:
// "$top/.Trash/$uid" when "$top/.Trash" is a real folder (not a link) with the
// sticky bit and "$uid" in it a real folder of this user with mode 0700;
// otherwise "$top/.Trash-$uid", checked the same way. `relative` says which.
Candidate fileSystemTrash(int topFd, bool create, const MountIdentity& item, std::string& relative) {
    const std::string uid = uidName();
    UniqueFd shared{openFolderAt(topFd, ".Trash", false, 0, O_PATH)};
    if (shared.get() >= 0 && isStickyFolder(shared.get())) {
        Candidate mine = privateTrashFolder(shared.get(), uid.c_str(), create, item);
        if (mine.fd >= 0 || mine.missing) {
            relative = ".Trash/" + uid;
            return mine;
        }
    }
    relative = ".Trash-" + uid;
    return privateTrashFolder(topFd, relative.c_str(), create, item);
}

// The home trash, made when `create`: a real folder of this user in the data
// folder (which may itself be reached through links the user made).
Candidate homeTrashFolder(bool create) {
    Candidate c;
    const std::string data = Paths::dataHome();
    UniqueFd dataFd{::open(data.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (dataFd.get() < 0) {
        if (errno == ENOENT && !create) c.missing = true;
        return c;
    }
    int fd = openFolderAt(dataFd.get(), "Trash", create, 0700);
    if (fd < 0) {
        if (errno == ENOENT && !create) c.missing = true;
        c.error = create ? errno : 0;
        return c;
    }
    if (!isOwnFolder(fd, false)) {
        ::close(fd);
        return c;
    }
    c.fd = fd;
    return c;
}

std::string deletionDate() {
    std::time_t now = std::time(nullptr);
    struct tm local;
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// Writes a temporary file beside `name` in the folder and renames it over
// `name`: a reader sees the old contents or the new, never half.
void replaceFileAt(int dirFd, const std::string& name, const std::string& contents) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = name + "." + std::to_string(::getpid()) + "." + std::to_string(++counter);
        int fd = ::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
        ::close(fd);
        if (!written || ::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0)
            ::unlinkat(dirFd, temporary.c_str(), 0);
        return;
    }
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

// Adds the trashed folder's size line to the trash's `directorysizes`. The
// folder is measured through the descriptor of files/ (its /proc name), so
// the walk starts in the very folder the item went to.
void recordDirectorySize(int trashFd, int filesFd, int infoFd, const std::string& name, const std::string& location) {
    std::string walked = "/proc/self/fd/" + std::to_string(filesFd) + "/" + name;
    struct stat probe;
    if (::lstat(walked.c_str(), &probe) != 0) walked = location;
    const int64_t size = duSize(walked);
    struct stat info;
    if (::fstatat(infoFd, (name + ".trashinfo").c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return;
    std::string contents = WholeFile::readAt(trashFd, "directorysizes").value_or("");
    if (!contents.empty() && contents.back() != '\n') contents += '\n';
    contents += std::to_string(size) + " " + std::to_string(int64_t(info.st_mtime)) + " " + encodePath(name) + "\n";
    replaceFileAt(trashFd, "directorysizes", contents);
}

// Where an item goes: the trash folder, open and checked.
struct Destination {
    Folder folder;
    std::string recorded; // the item's path as its .trashinfo records it
};

// Chooses and opens the trash for the entry `name` of the folder open at
// `folderFd`, whose real path is `item`. `create` makes missing folders;
// without it, a folder that would be made counts as chosen but stays closed.
bool chooseDestination(int folderFd, const std::string& name, const std::string& item, bool create, Destination& dest,
                       Outcome& outcome) {
    MountIdentity identity = identifyAt(folderFd, name.c_str(), AT_SYMLINK_NOFOLLOW);
    if (!identity.valid) {
        outcome.error = errno;
        return false;
    }
    const std::string data = Paths::dataHome();
    if (create) {
        if (int e = ensureDirectories(data, 0700)) {
            outcome.error = e;
            return false;
        }
    }
    MountIdentity home = identifyAt(AT_FDCWD, data.c_str(), 0);
    if (home.valid && home == identity) {
        Candidate trash = homeTrashFolder(create);
        if (trash.fd < 0 && !trash.missing) {
            if (trash.error)
                outcome.error = trash.error;
            else
                outcome.reason = item + " cannot be moved to the Trash: the Trash folder " + homeTrash() +
                                 " is not a folder of this user.";
            return false;
        }
        dest.folder = Folder(trash.fd, homeTrash(), {});
        dest.recorded = item;
        return true;
    }
    UniqueFd top{openTopDirectory(folderFd, identity)};
    if (top.get() < 0) {
        // The item is itself a mount point: it cannot be renamed anywhere.
        outcome.error = EBUSY;
        outcome.reason = item + " is the root of a mounted volume and is never removed.";
        return false;
    }
    std::string topPath = realPathOf(top.get());
    if (topPath.empty()) {
        outcome.reason = item + " cannot be moved to the Trash: the top of its volume cannot be told.";
        return false;
    }
    // Paths in a file system's own trash are relative to its top directory,
    // so the volume may be mounted elsewhere later.
    if (!Paths::isInside(item, topPath) || item == topPath) {
        outcome.reason = item + " cannot be moved to the Trash: it is not where its volume says it is.";
        return false;
    }
    std::string relative;
    Candidate trash = fileSystemTrash(top.get(), create, identity, relative);
    if (trash.fd < 0 && !trash.missing) {
        if (trash.error == EROFS)
            outcome.error = EROFS;
        else
            outcome.reason = item + " cannot be moved to the Trash: no trash folder can be used on its volume.";
        return false;
    }
    dest.folder = Folder(trash.fd, Paths::join(topPath, relative), topPath);
    dest.recorded = topPath == "/" ? item.substr(1) : item.substr(topPath.size() + 1);
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

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        top_ = std::move(other.top_);
    }
    return *this;
}

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

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

std::string homeTrash() { return Paths::join(Paths::dataHome(), "Trash"); }

std::string trashFor(const std::string& path) {
    UniqueFd folderFd{openFolderOf(path)};
    if (folderFd.get() < 0) return {};
    const std::string name = Paths::lastComponent(path);
    Destination dest;
    Outcome ignored;
    bool found = chooseDestination(folderFd.get(), name, realItemPath(folderFd.get(), name, Paths::parent(path)), false,
                                   dest, ignored);
    return found ? dest.folder.path() : std::string();
}

Folder openOwnTrash(const std::string& path) {
    if (path.empty() || Paths::standardize(path) != path || !path.starts_with('/')) return {};
    if (path == homeTrash()) {
        Candidate trash = homeTrashFolder(false);
        return trash.fd >= 0 ? Folder(trash.fd, path, {}) : Folder();
    }
    const std::string uid = uidName();
    const std::string name = Paths::lastComponent(path);
    const std::string parent = Paths::parent(path);
    const bool shared = name == uid && Paths::lastComponent(parent) == ".Trash";
    if (!shared && name != ".Trash-" + uid) return {};
    const std::string top = shared ? Paths::parent(parent) : parent;
    // The top is reached without following a link anywhere: the recorded
    // path is the real one the trash was found at.
    ItemHandle topHandle = ItemHandle::open(top, name);
    if (!topHandle.ok() || !isTopOfMount(topHandle.folder())) return {};
    MountIdentity noMount;
    Candidate trash;
    if (shared) {
        UniqueFd sharedFd{openFolderAt(topHandle.folder(), ".Trash", false, 0, O_PATH)};
        if (sharedFd.get() < 0 || !isStickyFolder(sharedFd.get())) return {};
        trash = privateTrashFolder(sharedFd.get(), uid.c_str(), false, noMount);
    } else {
        trash = privateTrashFolder(topHandle.folder(), name.c_str(), false, noMount);
    }
    return trash.fd >= 0 ? Folder(trash.fd, path, top) : Folder();
}

void forgetDirectorySize(int trashFd, const std::string& name) {
    const std::string contents = WholeFile::readAt(trashFd, "directorysizes").value_or("");
    if (contents.empty()) return;
    const std::string suffix = " " + encodePath(name);
    std::string kept;
    bool dropped = false;
    for (size_t start = 0; start < contents.size();) {
        size_t end = contents.find('\n', start);
        if (end == std::string::npos) end = contents.size();
        const std::string_view line = std::string_view(contents).substr(start, end - start);
        start = end + 1;
        if (line.ends_with(suffix)) {
            dropped = true;
            continue;
        }
        kept.append(line);
        kept += '\n';
    }
    if (dropped) replaceFileAt(trashFd, "directorysizes", kept);
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
    UniqueFd folderFd{openFolderOf(path)};
    if (folderFd.get() < 0) {
        Outcome outcome;
        outcome.error = errno;
        return outcome;
    }
    return moveToTrash(folderFd.get(), Paths::lastComponent(path), Paths::parent(path));
}

Outcome moveToTrash(int folderFd, const std::string& itemName, const std::string& knownFolder,
                    const Hook& afterChoosing) {
    Outcome outcome;
    Destination dest;
    const std::string path = realItemPath(folderFd, itemName, knownFolder);
    if (!path.starts_with('/')) {
        outcome.error = ENOENT;
        return outcome;
    }
    if (!chooseDestination(folderFd, itemName, path, true, dest, outcome)) return outcome;
    if (afterChoosing) afterChoosing(dest.folder.path());
    // From here on only the descriptors count: whatever the trash's path names
    // now, the item goes into the folder that was checked.
    const int trashFd = dest.folder.fd();
    UniqueFd files{openFolderAt(trashFd, "files", true, 0700)};
    if (files.get() < 0) {
        outcome.error = errno;
        return outcome;
    }
    UniqueFd info{openFolderAt(trashFd, "info", true, 0700)};
    if (info.get() < 0) {
        outcome.error = errno;
        return outcome;
    }
    struct stat itemStat;
    if (::fstatat(folderFd, itemName.c_str(), &itemStat, AT_SYMLINK_NOFOLLOW) != 0) {
        outcome.error = errno;
        return outcome;
    }
    struct stat trashStat;
    if (::fstat(trashFd, &trashStat) != 0) {
        outcome.error = errno;
        return outcome;
    }
    const std::string contents =
        "[Trash Info]\nPath=" + encodePath(dest.recorded) + "\nDeletionDate=" + deletionDate() + "\n";

    const std::string base = shortenedName(itemName);
    for (int attempt = 1; attempt < 100000; ++attempt) {
        std::string name = attempt == 1 ? base : base + "." + std::to_string(attempt);
        const std::string infoName = name + ".trashinfo";
        // The exclusive creation of the info file is what reserves the name.
        int fd = ::openat(info.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            outcome.error = errno;
            return outcome;
        }
        bool written = ::write(fd, contents.data(), contents.size()) == ssize_t(contents.size());
        written = ::fsync(fd) == 0 && written;
        ::close(fd);
        if (!written) {
            ::unlinkat(info.get(), infoName.c_str(), 0);
            outcome.error = EIO;
            return outcome;
        }
        // RENAME_NOREPLACE: an entry that appeared in files/ meanwhile is never overwritten.
        if (::renameat2(folderFd, itemName.c_str(), files.get(), name.c_str(), RENAME_NOREPLACE) != 0) {
            int e = errno;
            ::unlinkat(info.get(), infoName.c_str(), 0);
            if (e == EEXIST) continue;
            outcome.error = e;
            return outcome;
        }
        // Named by the path it was chosen at; if someone renamed it since, the
        // identity recorded with it tells.
        const std::string& trashPath = dest.folder.path();
        const std::string location = Paths::join(Paths::join(trashPath, "files"), name);
        struct stat moved;
        if (::fstatat(files.get(), name.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) moved = itemStat;
        if (S_ISDIR(moved.st_mode)) recordDirectorySize(trashFd, files.get(), info.get(), name, location);
        outcome.location = location;
        outcome.infoPath = Paths::join(Paths::join(trashPath, "info"), infoName);
        outcome.entry = Entry{path,
                              trashPath,
                              uint64_t(trashStat.st_dev),
                              uint64_t(trashStat.st_ino),
                              name,
                              uint64_t(moved.st_dev),
                              uint64_t(moved.st_ino)};
        return outcome;
    }
    outcome.error = EEXIST;
    return outcome;
}

} // namespace vessora::Trash
