#pragma once
// A folder of the fuzz target's own under $TMPDIR, made once per process and
// removed at exit, for targets whose parsers read files.

#include "FuzzCheck.h"

#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

class Sandbox {
public:
    Sandbox() {
        const char* tmp = std::getenv("TMPDIR");
        root_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vessora-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(root_.data()));
    }
    ~Sandbox() { ::nftw(root_.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS); }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::string path(std::string_view relative) const { return root_ + "/" + std::string(relative); }

    // Writes `bytes` at `relative`, making its folders; `mode` as given.
    std::string write(std::string_view relative, std::string_view bytes, mode_t mode = 0644) const {
        const std::string file = path(relative);
        for (size_t slash = root_.size() + 1; (slash = file.find('/', slash)) != std::string::npos; ++slash)
            ::mkdir(file.substr(0, slash).c_str(), 0755);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
        FUZZ_CHECK(fd >= 0);
        FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
        ::close(fd);
        ::chmod(file.c_str(), mode);
        return file;
    }

private:
    static int removeOne(const char* path, const struct stat*, int type, struct FTW*) {
        return type == FTW_DP ? ::rmdir(path) : ::unlink(path);
    }
    std::string root_;
};

} // namespace fuzz
