// The bare floor walk with each folder's entries examined through io_uring:
// a folder is read with getdents64 as usual, then the statx of all of its
// entries are submitted at once (up to DEPTH in flight per thread) and
// reaped as they complete. It builds nothing and prints the allocated bytes
// it saw. Compared with bench_floor by bench/run-bench --uring, it shows what
// batching the status reads through io_uring gives on this kernel and disk.
//
// usage: bench_floor_uring DIR [THREADS] [DEPTH]

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::mutex gLock;
std::condition_variable gWake;
std::vector<int> gShared;
std::atomic<int64_t> gOutstanding{0};
std::atomic<int64_t> gBytes{0}, gEntries{0};
unsigned gDepth = 64;
std::atomic<bool> gFailed{false};

void worker() {
    io_uring ring;
    if (int rc = io_uring_queue_init(gDepth, &ring, 0); rc < 0) {
        std::fprintf(stderr, "io_uring_queue_init: %s\n", std::strerror(-rc));
        gFailed = true;
    }
    std::vector<char> buffer(64 * 1024);
    std::vector<std::string> names;
    std::vector<struct statx> status;
    std::vector<int> found;
    int64_t bytes = 0, entries = 0;
    int fd = -1;
    for (;;) {
        if (fd < 0) {
            std::unique_lock<std::mutex> lock(gLock);
            while (gShared.empty() && gOutstanding.load() > 0) gWake.wait(lock);
            if (gShared.empty()) break;
            fd = gShared.back();
            gShared.pop_back();
        }
        names.clear();
        for (;;) {
            long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
            if (n <= 0) break;
            for (long off = 0; off < n;) {
                auto* d = reinterpret_cast<Dirent64*>(buffer.data() + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
                names.emplace_back(name);
            }
        }
        status.resize(names.size());
        for (size_t begin = 0; begin < names.size() && !gFailed; begin += gDepth) {
            const size_t end = std::min(names.size(), begin + gDepth);
            for (size_t i = begin; i < end; ++i) {
                io_uring_sqe* sqe = io_uring_get_sqe(&ring);
                io_uring_prep_statx(sqe, fd, names[i].c_str(), AT_SYMLINK_NOFOLLOW,
                                    STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE | STATX_BLOCKS,
                                    &status[i]);
                io_uring_sqe_set_data64(sqe, i);
            }
            io_uring_submit_and_wait(&ring, unsigned(end - begin));
            for (size_t done = begin; done < end; ++done) {
                io_uring_cqe* cqe = nullptr;
                if (io_uring_wait_cqe(&ring, &cqe) < 0) break;
                const size_t i = size_t(io_uring_cqe_get_data64(cqe));
                const int res = cqe->res;
                io_uring_cqe_seen(&ring, cqe);
                if (res < 0) continue;
                ++entries;
                if (S_ISDIR(status[i].stx_mode)) {
                    int sub = ::openat(fd, names[i].c_str(), kFlags);
                    if (sub >= 0) found.push_back(sub);
                } else {
                    bytes += int64_t(status[i].stx_blocks) * 512;
                }
            }
        }
        ::close(fd);
        fd = -1;
        const int64_t delta = int64_t(found.size()) - 1;
        if (!found.empty()) {
            fd = found.front();
            if (found.size() > 1) {
                std::lock_guard<std::mutex> lock(gLock);
                gShared.insert(gShared.end(), found.rbegin(), found.rend() - 1);
                gWake.notify_all();
            }
            found.clear();
        }
        if (gOutstanding.fetch_add(delta) + delta == 0) {
            std::lock_guard<std::mutex> lock(gLock);
            gWake.notify_all();
        }
    }
    io_uring_queue_exit(&ring);
    gBytes += bytes;
    gEntries += entries;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_floor_uring DIR [THREADS] [DEPTH]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? unsigned(std::atoi(argv[2])) : std::thread::hardware_concurrency();
    if (argc > 3) gDepth = unsigned(std::atoi(argv[3]));
    int fd = ::open(argv[1], kFlags);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    gShared.push_back(fd);
    gOutstanding = 1;
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    if (gFailed) return 1;
    std::printf("%lld bytes in %lld entries\n", (long long)gBytes.load(), (long long)gEntries.load());
    return 0;
}
