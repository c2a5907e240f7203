// Writes a deterministic synthetic tree for the scan benchmarks: a random
// folder tree of realistic shape, a size mix with real allocated blocks, hard
// links across folders, symbolic links, one very wide folder and one folder
// chain deeper than PATH_MAX.
//
// usage: bench_gentree --files N --out DIR
//        bench_gentree --rows N --out DIR   (N subfolders of one small file each:
//                                            one outline row per subfolder)
// The same N always gives the same tree. DIR must not exist yet.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return next() % n; }
    double unit() { return double(next() >> 11) / double(1ull << 53); }
};

// Mostly small files, as in home folders and source trees; a few large ones.
int64_t fileSize(Rng& rng) {
    double u = rng.unit();
    if (u < 0.05) return 0;
    if (u < 0.70) return 1 + int64_t(rng.below(4096));
    if (u < 0.95) return 4096 + int64_t(rng.below(12 * 1024));
    if (u < 0.999) return 16 * 1024 + int64_t(rng.below(48 * 1024));
    return (1 << 20) + int64_t(rng.below(3 << 20));
}

std::vector<char> gBuffer(4 << 20, 'g');

void writeFile(const std::string& path, int64_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    if (size > 0 && ::write(fd, gBuffer.data(), size_t(size)) != size) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
}

const char* const kWords[] = {"src",          "lib",    "docs", "cache", "build",  "assets",
                              "data",         "test",   "img",  "music", "photos", "Library",
                              "node_modules", "vendor", "tmp",  "logs",  "backup", "projects"};

} // namespace

int main(int argc, char** argv) {
    long files = 1000000, rows = 0;
    std::string out;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--files")) files = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--rows")) rows = std::atol(argv[i + 1]);
        if (!std::strcmp(argv[i], "--out")) out = argv[i + 1];
    }
    if (rows > 0 && !out.empty()) {
        if (::mkdir(out.c_str(), 0755) != 0) {
            std::perror(out.c_str());
            return 1;
        }
        Rng rowRng{uint64_t(rows)};
        for (long r = 0; r < rows; ++r) {
            const std::string folder = out + "/row-" + std::to_string(r);
            if (::mkdir(folder.c_str(), 0755) != 0) {
                std::perror(folder.c_str());
                return 1;
            }
            writeFile(folder + "/file.dat", 1 + int64_t(rowRng.below(8192)));
        }
        std::printf("%s: %ld folders of one file each\n", out.c_str(), rows);
        return 0;
    }
    if (out.empty() || files < 1000) {
        std::fprintf(stderr, "usage: bench_gentree --files N (>= 1000) --out DIR | --rows N --out DIR\n");
        return 2;
    }
    if (::mkdir(out.c_str(), 0755) != 0) {
        std::perror(out.c_str());
        return 1;
    }
    Rng rng(files);
    // Folders: a random recursive tree (shallow and bushy near the top,
    // about a dozen levels deep), one folder per 17 files on average.
    const long wideFiles = files / 20;
    const long chainDepth = 1500;
    const long folders = std::max(10L, (files - wideFiles) / 17);
    std::vector<std::string> paths(static_cast<size_t>(folders));
    paths[0] = out;
    for (long i = 1; i < folders; ++i) {
        long parent = i < 16 ? 0 : long(rng.below(uint64_t(i)));
        paths[size_t(i)] = paths[size_t(parent)] + "/" + kWords[rng.below(std::size(kWords))] + "-" + std::to_string(i);
        if (::mkdir(paths[size_t(i)].c_str(), 0755) != 0) {
            std::perror(paths[size_t(i)].c_str());
            return 1;
        }
    }
    // Files per folder, then written on two threads (the content of each
    // folder depends only on its index).
    std::vector<long> counts(static_cast<size_t>(folders), 0);
    long regular = files - wideFiles - chainDepth - files / 100 - files / 200;
    for (long f = 0; f < regular; ++f) {
        double u = rng.unit();
        counts[size_t(double(folders) * u * u)]++; // more files in the older, shallower folders
    }
    auto writeFolders = [&](long first, long step) {
        for (long i = first; i < folders; i += step) {
            Rng local(uint64_t(i) * 7919 + uint64_t(files));
            for (long f = 0; f < counts[size_t(i)]; ++f)
                writeFile(paths[size_t(i)] + "/file" + std::to_string(f) + ".dat", fileSize(local));
        }
    };
    std::thread other(writeFolders, 1, 2);
    writeFolders(0, 2);
    other.join();

    // One very wide folder.
    std::string wide = out + "/wide";
    ::mkdir(wide.c_str(), 0755);
    Rng wideRng(42);
    for (long f = 0; f < wideFiles; ++f) writeFile(wide + "/w" + std::to_string(f), int64_t(wideRng.below(8192)));

    // One chain of folders far deeper than PATH_MAX, a small file on each level.
    int fd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ::mkdirat(fd, "deep", 0755);
    int level = ::openat(fd, "deep", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    for (long d = 0; d < chainDepth && level >= 0; ++d) {
        int file = ::openat(level, "leaf", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (file >= 0 && ::write(file, gBuffer.data(), 100) < 0) return 1;
        ::close(file);
        ::mkdirat(level, "level-dir", 0755);
        int next = ::openat(level, "level-dir", O_RDONLY | O_DIRECTORY);
        ::close(level);
        level = next;
    }
    if (level >= 0) ::close(level);

    // Hard links to files in other folders, and symbolic links.
    Rng linkRng(7);
    long made = 0;
    for (long tries = 0; made < files / 200 && tries < files; ++tries) {
        long from = long(linkRng.below(uint64_t(folders))), to = long(linkRng.below(uint64_t(folders)));
        if (counts[size_t(from)] == 0) continue;
        std::string target =
            paths[size_t(from)] + "/file" + std::to_string(linkRng.below(uint64_t(counts[size_t(from)]))) + ".dat";
        std::string link = paths[size_t(to)] + "/hardlink" + std::to_string(made) + ".dat";
        if (::link(target.c_str(), link.c_str()) == 0) ++made;
    }
    for (long s = 0; s < files / 100; ++s) {
        long where = long(linkRng.below(uint64_t(folders)));
        std::string target =
            s % 3 == 0 ? std::string("/nonexistent/target") : paths[size_t(linkRng.below(uint64_t(folders)))];
        std::string link = paths[size_t(where)] + "/symlink" + std::to_string(s);
        if (::symlink(target.c_str(), link.c_str()) != 0) std::perror(link.c_str());
    }
    std::printf("%s: %ld folders (+%ld deep), %ld files, %ld hard links, %ld symbolic links\n", out.c_str(), folders,
                chainDepth, regular + wideFiles + chainDepth, made, files / 100);
    return 0;
}
