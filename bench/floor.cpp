// The system-call floor for a scan: a bare multi-threaded walk that reads
// every directory with getdents64 and examines every entry with fstatat
// relative to the directory's descriptor, and builds nothing. It prints the
// allocated bytes it saw so the work cannot be skipped.
//
// usage: bench_floor DIR [THREADS]

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
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
std::vector<int> gShared;             // open descriptors of directories any thread may read
std::atomic<int64_t> gOutstanding{0}; // directories found and not yet read
std::atomic<unsigned> gIdle{0};
std::atomic<int64_t> gBytes{0}, gEntries{0};

// Each thread continues with the first subdirectory it found and puts the
// others on the shared stack, where idle threads pick them up.
void worker() {
    std::vector<char> buffer(64 * 1024);
    std::vector<int> found;
    int64_t bytes = 0, entries = 0;
    int fd = -1;
    for (;;) {
        if (fd < 0) {
            std::unique_lock<std::mutex> lock(gLock);
            ++gIdle;
            while (gShared.empty() && gOutstanding.load() > 0) gWake.wait(lock);
            --gIdle;
            if (gShared.empty()) break;
            fd = gShared.back();
            gShared.pop_back();
        }
        for (;;) {
            long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
            if (n <= 0) break;
            for (long off = 0; off < n;) {
                auto* d = reinterpret_cast<Dirent64*>(buffer.data() + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                ++entries;
                if (S_ISDIR(st.st_mode)) {
                    int sub = ::openat(fd, name, kFlags);
                    if (sub >= 0) found.push_back(sub);
                } else {
                    bytes += int64_t(st.st_blocks) * 512;
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
                if (gIdle.load(std::memory_order_relaxed) > 0) gWake.notify_all();
            }
            found.clear();
        }
        if (gOutstanding.fetch_add(delta) + delta == 0) {
            std::lock_guard<std::mutex> lock(gLock);
            gWake.notify_all();
        }
    }
    gBytes += bytes;
    gEntries += entries;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_floor DIR [THREADS]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? unsigned(std::atoi(argv[2])) : std::thread::hardware_concurrency();
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
    std::printf("%lld bytes in %lld entries\n", (long long)gBytes.load(), (long long)gEntries.load());
    return 0;
}
