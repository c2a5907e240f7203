#pragma once
// The walk the floor benchmarks share: threads take folders off a shared
// stack, each continuing depth-first with the first subfolder it found and
// leaving the others for idle threads; how a folder's entries are examined is
// the benchmark's own. Nothing is built; only allocated bytes and entries are
// counted, so the work cannot be skipped.

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace floorwalk {

struct Dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Calls each(name) for every entry of the folder open as `fd` but "." and "..".
template <typename Each> void forEachName(int fd, std::vector<char>& buffer, Each&& each) {
    for (;;) {
        long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        for (long off = 0; off < n;) {
            auto* d = reinterpret_cast<Dirent64*>(buffer.data() + off);
            off += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2]))) continue;
            each(name);
        }
    }
}

struct Totals {
    int64_t bytes = 0;
    int64_t entries = 0;
};

// Walks the tree below the folder open as `root` (which it closes) with
// `threads` threads. Each thread makes its own reader with makeReader() and
// calls reader(fd, found, totals) for every folder it takes: the reader adds
// the folder's subfolders, opened with kFlags, to `found` and counts what it
// saw into `totals`.
template <typename MakeReader> Totals walk(int root, unsigned threads, MakeReader makeReader) {
    std::mutex lock;
    std::condition_variable wake;
    std::vector<int> shared{root};       // open descriptors of folders any thread may read
    std::atomic<int64_t> outstanding{1}; // folders found and not yet read
    std::atomic<unsigned> idle{0};
    std::atomic<int64_t> bytes{0}, entries{0};
    auto worker = [&] {
        auto reader = makeReader();
        std::vector<int> found;
        Totals totals;
        int fd = -1;
        for (;;) {
            if (fd < 0) {
                std::unique_lock<std::mutex> hold(lock);
                ++idle;
                while (shared.empty() && outstanding.load() > 0) wake.wait(hold);
                --idle;
                if (shared.empty()) break;
                fd = shared.back();
                shared.pop_back();
            }
            reader(fd, found, totals);
            ::close(fd);
            fd = -1;
            const int64_t delta = int64_t(found.size()) - 1;
            if (!found.empty()) {
                fd = found.front();
                if (found.size() > 1) {
                    std::lock_guard<std::mutex> hold(lock);
                    shared.insert(shared.end(), found.rbegin(), found.rend() - 1);
                    if (idle.load(std::memory_order_relaxed) > 0) wake.notify_all();
                }
                found.clear();
            }
            if (outstanding.fetch_add(delta) + delta == 0) {
                std::lock_guard<std::mutex> hold(lock);
                wake.notify_all();
            }
        }
        bytes += totals.bytes;
        entries += totals.entries;
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    return {bytes.load(), entries.load()};
}

} // namespace floorwalk
