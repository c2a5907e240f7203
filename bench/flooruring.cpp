// The bare floor walk with each folder's entries examined through io_uring:
// a folder is read with getdents64 as usual, then the statx of all of its
// entries are submitted at once (up to DEPTH in flight per thread) and
// reaped as they complete. It builds nothing and prints the allocated bytes
// it saw. Compared with bench_floor by bench/run-bench --uring, it shows what
// batching the status reads through io_uring gives on this kernel and disk.
//
// usage: bench_floor_uring DIR [THREADS] [DEPTH]

#include "FloorWalk.h"

#include <liburing.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

unsigned gDepth = 64;
std::atomic<bool> gFailed{false};

// One thread's ring and buffers.
class UringReader {
public:
    UringReader() {
        if (int rc = io_uring_queue_init(gDepth, &ring_, 0); rc < 0) {
            std::fprintf(stderr, "io_uring_queue_init: %s\n", std::strerror(-rc));
            gFailed = true;
        }
    }
    UringReader(const UringReader&) = delete;
    UringReader& operator=(const UringReader&) = delete;
    ~UringReader() { io_uring_queue_exit(&ring_); }

    void operator()(int fd, std::vector<int>& found, floorwalk::Totals& totals) {
        names_.clear();
        floorwalk::forEachName(fd, buffer_, [&](const char* name) { names_.emplace_back(name); });
        status_.resize(names_.size());
        for (size_t begin = 0; begin < names_.size() && !gFailed; begin += gDepth) {
            const size_t end = std::min(names_.size(), begin + gDepth);
            for (size_t i = begin; i < end; ++i) {
                io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
                io_uring_prep_statx(sqe, fd, names_[i].c_str(), AT_SYMLINK_NOFOLLOW,
                                    STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE | STATX_BLOCKS,
                                    &status_[i]);
                io_uring_sqe_set_data64(sqe, i);
            }
            io_uring_submit_and_wait(&ring_, unsigned(end - begin));
            for (size_t done = begin; done < end; ++done) {
                io_uring_cqe* cqe = nullptr;
                if (io_uring_wait_cqe(&ring_, &cqe) < 0) break;
                const size_t i = size_t(io_uring_cqe_get_data64(cqe));
                const int res = cqe->res;
                io_uring_cqe_seen(&ring_, cqe);
                if (res < 0) continue;
                ++totals.entries;
                if (S_ISDIR(status_[i].stx_mode)) {
                    int sub = ::openat(fd, names_[i].c_str(), floorwalk::kFlags);
                    if (sub >= 0) found.push_back(sub);
                } else {
                    totals.bytes += int64_t(status_[i].stx_blocks) * 512;
                }
            }
        }
    }

private:
    io_uring ring_;
    std::vector<char> buffer_ = std::vector<char>(64 * 1024);
    std::vector<std::string> names_;
    std::vector<struct statx> status_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_floor_uring DIR [THREADS] [DEPTH]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? unsigned(std::atoi(argv[2])) : std::thread::hardware_concurrency();
    if (argc > 3) gDepth = unsigned(std::atoi(argv[3]));
    int fd = ::open(argv[1], floorwalk::kFlags);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const floorwalk::Totals totals = floorwalk::walk(fd, threads, [] { return UringReader(); });
    if (gFailed) return 1;
    std::printf("%lld bytes in %lld entries\n", (long long)totals.bytes, (long long)totals.entries);
    return 0;
}
