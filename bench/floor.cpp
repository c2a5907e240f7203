// The system-call floor for a scan: a bare multi-threaded walk that reads
// every directory with getdents64 and examines every entry with fstatat
// relative to the directory's descriptor, and builds nothing. It prints the
// allocated bytes it saw so the work cannot be skipped.
//
// usage: bench_floor DIR [THREADS]

#include "FloorWalk.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_floor DIR [THREADS]\n");
        return 2;
    }
    unsigned threads = argc > 2 ? unsigned(std::atoi(argv[2])) : std::thread::hardware_concurrency();
    int fd = ::open(argv[1], floorwalk::kFlags);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    const floorwalk::Totals totals = floorwalk::walk(fd, threads, [] {
        return [buffer = std::vector<char>(64 * 1024)](int fd, std::vector<int>& found,
                                                       floorwalk::Totals& totals) mutable {
            floorwalk::forEachName(fd, buffer, [&](const char* name) {
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
                ++totals.entries;
                if (S_ISDIR(st.st_mode)) {
                    int sub = ::openat(fd, name, floorwalk::kFlags);
                    if (sub >= 0) found.push_back(sub);
                } else {
                    totals.bytes += int64_t(st.st_blocks) * 512;
                }
            });
        };
    });
    std::printf("%lld bytes in %lld entries\n", (long long)totals.bytes, (long long)totals.entries);
    return 0;
}
