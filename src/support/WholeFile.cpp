#include "support/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vessora::WholeFile {

namespace {

std::optional<std::string> readOpen(int fd, int64_t limit) {
    if (fd < 0) return std::nullopt;
    std::optional<std::string> result;
    int error = 0;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = EINVAL;
    } else if (st.st_size > limit) {
        error = EFBIG;
    } else {
        std::string data;
        data.reserve(size_t(st.st_size));
        char buffer[16384];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (n == 0) {
                result = std::move(data);
                break;
            }
            // It may have grown since it was measured, or report no size at all.
            if (int64_t(data.size()) + n > limit) {
                error = EFBIG;
                break;
            }
            data.append(buffer, size_t(n));
        }
    }
    ::close(fd);
    if (!result) errno = error;
    return result;
}

} // namespace

std::optional<std::string> read(const std::string& path, int64_t limit) {
    return readOpen(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY), limit);
}

std::optional<std::string> readAt(int dirFd, const std::string& name, int64_t limit) {
    return readOpen(::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW), limit);
}

} // namespace vessora::WholeFile
