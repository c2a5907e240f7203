#include "support/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vessora::FolderListing {

namespace {

std::optional<std::vector<std::string>> read(DIR* opened) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opened, ::closedir);
    if (!dir) return std::nullopt;
    std::vector<std::string> result;
    for (;;) {
        // readdir reports an error only through errno, and leaves it alone at the end.
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;
        std::string_view name(entry->d_name);
        if (name != "." && name != "..") result.emplace_back(name);
    }
    if (errno != 0) {
        const int error = errno;
        dir.reset();
        errno = error;
        return std::nullopt;
    }
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace

std::optional<std::vector<std::string>> names(const std::string& path) { return read(::opendir(path.c_str())); }

std::optional<std::vector<std::string>> names(int fd) {
#ifdef __linux__
    // Read straight from the descriptor: a removal deep in a tree may hold
    // every descriptor it is allowed, and a copy would need one more.
    if (::lseek(fd, 0, SEEK_SET) < 0) return std::nullopt;
    struct Entry {
        uint64_t ino;
        int64_t off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
    };
    std::vector<std::string> result;
    alignas(8) char buffer[32768];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const Entry*>(buffer + at);
            std::string_view name(entry->name);
            if (name != "." && name != "..") result.emplace_back(name);
            at += entry->reclen;
        }
    }
    std::sort(result.begin(), result.end());
    return result;
#else
    // The stream takes over the descriptor it is given, so it gets its own;
    // the copy shares the offset, hence the rewind.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return std::nullopt;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        const int error = errno;
        ::close(copy);
        errno = error;
        return std::nullopt;
    }
    ::rewinddir(dir);
    return read(dir);
#endif
}

std::vector<std::string> namesOrEmpty(const std::string& path) {
    return names(path).value_or(std::vector<std::string>{});
}

} // namespace vessora::FolderListing
