#include "platform/SafeDelete.h"

#include "support/FolderListing.h"
#include "support/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vessora::SafeDelete {

namespace {

// Descriptors held open below the item at most; deeper levels give theirs
// up and reopen them on the way back, so a tree of any depth fits any limit.
constexpr size_t kOpenBudget = 48;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Which mount an entry belongs to. The mount id also tells apart a bind mount
// of the same file system, which st_dev alone does not.
struct Mount {
    uint64_t device = 0;
    uint64_t id = 0;
    bool operator==(const Mount&) const = default;
};

int mountOf(int dirFd, const char* name, Mount& out) {
    struct statx sx;
    int flags = AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH);
    if (::statx(dirFd, name, flags, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0) return errno;
    out.device = (uint64_t(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
    out.id = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
    return 0;
}

// One directory being emptied: its names, read completely before anything is
// removed so that deleting never disturbs the listing.
struct Level {
    int fd = -1; // -1 while given up for the budget
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t blocks = 0;
    std::string name; // in the level above
    std::vector<std::string> names;
    size_t next = 0;
    size_t pathLength = 0;
};

struct Walk {
    int folderFd = -1;
    ItemIdentity expected; // of the entry removed, when known
    Mount mount;
    const Hook* hook = nullptr;
    std::string path; // of the entry at hand
    std::string reason;
    Outcome outcome;
    std::vector<Level> levels;
    size_t held = 0; // descriptors held in levels

    ~Walk() {
        for (Level& level : levels)
            if (level.fd >= 0) ::close(level.fd);
    }

    // Gives up the outermost descriptor still held, never the innermost one.
    bool release() {
        for (size_t i = 0; i + 1 < levels.size(); ++i) {
            if (levels[i].fd >= 0) {
                ::close(levels[i].fd);
                levels[i].fd = -1;
                --held;
                return true;
            }
        }
        return false;
    }

    // The descriptor of level i, reopened through ".." of level i+1 when it
    // was given up; the device and inode prove it is the same directory.
    int folderOf(size_t i) {
        if (levels[i].fd >= 0) return levels[i].fd;
        int fd = ::openat(levels[i + 1].fd, "..", kDirFlags);
        if (fd < 0) return -1;
        struct stat st;
        if (::fstat(fd, &st) != 0 || st.st_dev != levels[i].dev || st.st_ino != levels[i].ino) {
            ::close(fd);
            errno = ESTALE;
            return -1;
        }
        levels[i].fd = fd;
        ++held;
        return fd;
    }
};

bool gone(int error, bool top) { return !top && error == ENOENT; }

// The entry removed is not the object it must be: nothing is touched.
int changed(Walk& walk) {
    walk.outcome.changed = true;
    return ESTALE;
}

bool isExpected(const Walk& walk, const struct stat& st) {
    return !walk.expected.known() ||
           (walk.expected.device() == uint64_t(st.st_dev) && walk.expected.inode() == uint64_t(st.st_ino));
}

// Opens the directory `name` below `parentFd`, giving up held descriptors
// when the process runs out of them.
int openDirectory(Walk& walk, int parentFd, const std::string& name) {
    if (walk.held >= kOpenBudget) walk.release();
    for (;;) {
        int fd = ::openat(parentFd, name.c_str(), kDirFlags);
        if (fd >= 0 || (errno != EMFILE && errno != ENFILE) || !walk.release()) return fd;
    }
}

// Handles one entry of the directory open at `parentFd`: a non-directory is
// unlinked at once; a directory becomes a new level. Returns errno or 0.
int enter(Walk& walk, int parentFd, const std::string& name, bool top) {
    struct stat st;
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return gone(errno, top) ? 0 : errno;
    if (top && !isExpected(walk, st)) return changed(walk);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(parentFd, name.c_str(), 0) != 0) return gone(errno, top) ? 0 : errno;
        // A file with other links frees nothing yet.
        if (st.st_nlink <= 1) walk.outcome.bytesRemoved += int64_t(st.st_blocks) * 512;
        ++walk.outcome.entriesRemoved;
        return 0;
    }
    if (walk.hook && *walk.hook) (*walk.hook)(walk.path);
    int fd = openDirectory(walk, parentFd, name);
    if (fd < 0) {
        // The directory was replaced by a link or a file since it was seen:
        // remove whatever now stands there as itself, never what it points
        // to; unless it is the item itself, which must be what was expected.
        if (errno == ELOOP || errno == ENOTDIR) {
            if (top && walk.expected.known()) return changed(walk);
            if (::unlinkat(parentFd, name.c_str(), 0) != 0) return gone(errno, top) ? 0 : errno;
            ++walk.outcome.entriesRemoved;
            return 0;
        }
        return gone(errno, top) ? 0 : errno;
    }
    Level level;
    level.fd = fd;
    ++walk.held;
    struct stat opened;
    Mount mount;
    int e = ::fstat(fd, &opened) != 0 ? errno : mountOf(fd, "", mount);
    if (e == 0 && top && !isExpected(walk, opened)) e = changed(walk);
    if (e == 0 && !(mount == walk.mount)) {
        walk.reason = walk.path + " is another mounted file system; nothing below it was removed.";
        e = EXDEV;
    }
    if (e == 0) {
        if (auto names = FolderListing::names(fd))
            level.names = std::move(*names);
        else
            e = errno;
    }
    if (e != 0) {
        ::close(fd);
        --walk.held;
        return e;
    }
    level.dev = opened.st_dev;
    level.ino = opened.st_ino;
    level.blocks = int64_t(opened.st_blocks);
    level.name = name;
    level.pathLength = walk.path.size();
    walk.levels.push_back(std::move(level));
    return 0;
}

int run(Walk& walk, const std::string& name) {
    if (int e = enter(walk, walk.folderFd, name, true)) return e;
    while (!walk.levels.empty()) {
        Level& level = walk.levels.back();
        if (level.next < level.names.size()) {
            const std::string child = level.names[level.next++];
            walk.path.resize(level.pathLength);
            walk.path += '/';
            walk.path += child;
            if (int e = enter(walk, level.fd, child, false)) return e;
            continue;
        }
        // Emptied: remove it from the level above, reopened if it was given up.
        const size_t depth = walk.levels.size() - 1;
        walk.path.resize(level.pathLength);
        int parentFd = depth == 0 ? walk.folderFd : walk.folderOf(depth - 1);
        if (parentFd < 0) return errno;
        const std::string ownName = std::move(level.name);
        const int64_t blocks = level.blocks;
        ::close(level.fd);
        --walk.held;
        walk.levels.pop_back();
        if (::unlinkat(parentFd, ownName.c_str(), AT_REMOVEDIR) != 0) {
            if (gone(errno, depth == 0)) continue;
            return errno;
        }
        walk.outcome.bytesRemoved += blocks * 512;
        ++walk.outcome.entriesRemoved;
    }
    return 0;
}

} // namespace

Outcome removeAt(int folderFd, const std::string& name, const std::string& displayPath, const Hook& hook,
                 const ItemIdentity& expected) {
    Walk walk;
    walk.folderFd = folderFd;
    walk.expected = expected;
    walk.hook = &hook;
    walk.path = displayPath;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        walk.outcome.error = EINVAL;
        return walk.outcome;
    }
    Mount folderMount;
    int e = mountOf(folderFd, name.c_str(), walk.mount);
    if (e == 0) e = mountOf(folderFd, "", folderMount);
    if (e != 0) {
        walk.outcome.error = e;
        return walk.outcome;
    }
    // A mounted volume's root would be emptied before its own removal failed.
    if (!(walk.mount == folderMount)) {
        walk.outcome.error = EBUSY;
        walk.outcome.reason = displayPath + " is the root of a mounted volume and is never removed.";
        return walk.outcome;
    }
    walk.outcome.error = run(walk, name);
    if (walk.outcome.error != 0) walk.outcome.reason = walk.reason;
    return walk.outcome;
}

Outcome removeItem(const std::string& path, const Hook& hook) {
    const std::string name = Paths::lastComponent(path);
    const std::string folder = Paths::parent(path);
    int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        Outcome outcome;
        outcome.error = errno;
        return outcome;
    }
    Outcome outcome = removeAt(folderFd, name == "/" ? std::string() : name, path, hook);
    ::close(folderFd);
    return outcome;
}

} // namespace vessora::SafeDelete
