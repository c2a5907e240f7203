#include "platform/ItemHandle.h"

#include "support/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace vessora {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

int openWithOpenat2(const std::string& folder) {
    struct open_how how {};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return int(::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how));
}

} // namespace

int openFolderByComponents(const std::string& folder, bool makeMissing) {
    if (!folder.starts_with('/')) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::open("/", kFolderFlags);
    size_t at = 1;
    while (fd >= 0 && at < folder.size()) {
        size_t end = folder.find('/', at);
        if (end == std::string::npos) end = folder.size();
        const std::string component = folder.substr(at, end - at);
        at = end + 1;
        if (component.empty()) continue;
        if (component == "." || component == "..") {
            ::close(fd);
            errno = EINVAL;
            return -1;
        }
        int next = ::openat(fd, component.c_str(), kFolderFlags | O_NOFOLLOW);
        if (next < 0 && errno == ENOENT && makeMissing &&
            (::mkdirat(fd, component.c_str(), 0777) == 0 || errno == EEXIST))
            next = ::openat(fd, component.c_str(), kFolderFlags | O_NOFOLLOW);
        int e = errno;
        // O_PATH with O_NOFOLLOW opens a link itself instead of failing: refuse it.
        struct stat st;
        if (next >= 0 && (::fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
            ::close(next);
            next = -1;
            e = ELOOP;
        }
        ::close(fd);
        fd = next;
        errno = e;
    }
    return fd;
}

ItemHandle::ItemHandle(ItemHandle&& other) noexcept { *this = std::move(other); }

ItemHandle& ItemHandle::operator=(ItemHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        name_ = std::move(other.name_);
        folderPath_ = std::move(other.folderPath_);
    }
    return *this;
}

ItemHandle::~ItemHandle() {
    if (fd_ >= 0) ::close(fd_);
}

ItemHandle ItemHandle::open(const std::string& folder, const std::string& name) {
    ItemHandle handle;
    handle.name_ = name;
    int fd = openWithOpenat2(folder);
    if (fd < 0 && (errno == ENOSYS || errno == EPERM)) fd = openFolderByComponents(folder);
    if (fd < 0) {
        handle.error_ = errno;
        return handle;
    }
    handle.fd_ = fd;
    handle.folderPath_ = realPathOf(fd);
    // Without /proc the path just opened is the real one: no link was followed.
    if (handle.folderPath_.empty()) handle.folderPath_ = Paths::standardize(folder);
    return handle;
}

std::string ItemHandle::path() const { return Paths::join(folderPath_, name_); }

ItemIdentity ItemHandle::identity(int* error) const {
    if (fd_ < 0) {
        if (error) *error = error_;
        return {};
    }
    return identityAt(fd_, name_, error);
}

ItemIdentity identityAt(int folderFd, const std::string& name, int* error) {
    struct stat st;
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (error) *error = errno;
        return {};
    }
    if (error) *error = 0;
    return ItemIdentity(uint64_t(st.st_dev), uint64_t(st.st_ino));
}

IdentifiedItem identify(const std::string& path) {
    const std::string standardized = Paths::standardize(path);
    const std::string name = Paths::lastComponent(standardized);
    if (!standardized.starts_with('/') || standardized == "/") return {standardized, {}};
    char* real = ::realpath(Paths::parent(standardized).c_str(), nullptr);
    if (!real) return {standardized, {}};
    const std::string folder = real;
    std::free(real);
    ItemHandle handle = ItemHandle::open(folder, name);
    if (!handle.ok()) return {Paths::join(folder, name), {}};
    return {Paths::join(folder, name), handle.identity()};
}

std::string realPathOf(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0) return {};
        if (size_t(n) < buffer.size()) {
            buffer.resize(size_t(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    if (!buffer.starts_with('/') || buffer.ends_with(" (deleted)")) return {};
    return buffer;
}

} // namespace vessora
