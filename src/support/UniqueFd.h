#pragma once
// An owning file descriptor: closed when it goes out of scope, moved but
// never copied.

#include <cerrno>
#include <unistd.h>
#include <utility>

namespace vessora {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership: the caller closes what it gets.
    int release() { return std::exchange(fd_, -1); }
    // Closes what it holds (errno is kept: a caller reporting why an open
    // failed must not see close's answer instead) and takes `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            const int error = errno;
            ::close(fd_);
            errno = error;
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

} // namespace vessora
