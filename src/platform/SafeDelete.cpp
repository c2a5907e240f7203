#include "platform/SafeDelete.h"

#include "support/Paths.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vessora::SafeDelete {

namespace {

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

struct Walk {
    Mount mount;
    const std::function<void(const std::string&)>* hook = nullptr;
    std::string reason;
};

// The names in the open directory `fd`, read completely before anything is
// removed so that deleting never disturbs the listing.
int listNames(int fd, std::vector<std::string>& names) {
    int copy = ::dup(fd);
    if (copy < 0) return errno;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        int e = errno;
        ::close(copy);
        return e;
    }
    errno = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
        errno = 0;
    }
    int e = errno;
    ::closedir(dir);
    return e;
}

int removeEntry(Walk& walk, int parentFd, const std::string& name, const std::string& path, bool top) {
    struct stat st;
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // Something else already took an entry below the item away: that is the goal.
        return (!top && errno == ENOENT) ? 0 : errno;
    }
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parentFd, name.c_str(), 0) == 0 ? 0 : errno;

    if (walk.hook && *walk.hook) (*walk.hook)(path);
    int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // The directory was replaced by a link or a file since it was seen:
        // remove whatever now stands there as itself, never what it points to.
        if (errno == ELOOP || errno == ENOTDIR) return ::unlinkat(parentFd, name.c_str(), 0) == 0 ? 0 : errno;
        return (!top && errno == ENOENT) ? 0 : errno;
    }
    Mount opened;
    if (int e = mountOf(fd, "", opened)) {
        ::close(fd);
        return e;
    }
    if (!(opened == walk.mount)) {
        ::close(fd);
        walk.reason = path + " holds another mounted file system.";
        return EXDEV;
    }
    std::vector<std::string> names;
    int error = listNames(fd, names);
    for (size_t i = 0; error == 0 && i < names.size(); ++i)
        error = removeEntry(walk, fd, names[i], Paths::join(path, names[i]), false);
    ::close(fd);
    if (error != 0) return error;
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) return 0;
    return (!top && errno == ENOENT) ? 0 : errno;
}

} // namespace

Outcome removeItem(const std::string& path, const std::function<void(const std::string&)>& beforeEnteringDirectory) {
    Outcome outcome;
    const std::string name = Paths::lastComponent(path);
    if (path.empty() || name.empty() || name == "/" || name == "." || name == "..") {
        outcome.error = EINVAL;
        return outcome;
    }
    const std::string parentPath = Paths::parent(path);
    int parentFd = ::open(parentPath.empty() ? "." : parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        outcome.error = errno;
        return outcome;
    }
    Walk walk;
    walk.hook = &beforeEnteringDirectory;
    Mount parentMount;
    outcome.error = mountOf(parentFd, name.c_str(), walk.mount);
    if (outcome.error == 0) outcome.error = mountOf(parentFd, "", parentMount);
    if (outcome.error != 0) {
        ::close(parentFd);
        return outcome;
    }
    // A mounted volume's root would be emptied before its own removal failed.
    if (!(walk.mount == parentMount)) {
        ::close(parentFd);
        outcome.error = EBUSY;
        outcome.reason = path + " is the root of a mounted volume and is never removed.";
        return outcome;
    }
    outcome.error = removeEntry(walk, parentFd, name, path, true);
    outcome.reason = outcome.error ? walk.reason : std::string();
    ::close(parentFd);
    return outcome;
}

} // namespace vessora::SafeDelete
