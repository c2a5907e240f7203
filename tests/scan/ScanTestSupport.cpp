#include "ScanTestSupport.h"

#include "TestSupport.h"
#include "scan/Walker.h"

#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vessora::test {

FSNode::Ptr scan(const std::string& path, ScanStats* stats, const ScanOptions& options) {
    ScanStats local;
    return DiskScanner::scan(path, options, stats ? *stats : local);
}

std::string treeProblem(const FSNode& root) {
    std::vector<const FSNode*> work{&root};
    while (!work.empty()) {
        const FSNode& n = *work.back();
        work.pop_back();
        std::string where = n.path() + " (" + n.name() + ")";
        if (!n.isDirectory()) {
            if (!n.children().empty()) return where + ": a file with children";
            if (!n.isAggregate && n.fileCount != 1) return where + ": a file with fileCount != 1";
            if (n.dirCount != 0) return where + ": a file with dirCount";
            continue;
        }
        if (n.isNotDescended && (n.size || n.fileCount || n.dirCount || !n.children().empty()))
            return where + ": a skipped location with content";
        int64_t size = 0, logical = 0, files = 0, dirs = 0, lumps = 0;
        for (size_t i = 0; i < n.children().size(); ++i) {
            const FSNode& c = *n.children()[i];
            if (c.parent() != &n) return c.path() + ": wrong parent";
            size += c.size;
            logical += c.logicalSize;
            files += c.fileCount;
            if (c.isDirectory()) dirs += c.dirCount + 1;
            if (c.isAggregate && ++lumps > 1) return where + ": two lumps";
            if (c.isAggregate && c.path() != n.path()) return where + ": lump with another path";
            work.push_back(&c);
        }
        if (size != n.size || logical != n.logicalSize || files != n.fileCount || dirs != n.dirCount)
            return where + ": sums differ (size " + std::to_string(n.size) + " vs " + std::to_string(size) +
                   ", files " + std::to_string(n.fileCount) + " vs " + std::to_string(files) + ", dirs " +
                   std::to_string(n.dirCount) + " vs " + std::to_string(dirs) + ")";
    }
    return {};
}

const FSNode* child(const FSNode& node, const std::string& name) {
    for (const auto& c : node.children())
        if (c->name() == name) return c.get();
    return nullptr;
}

int64_t makeChain(const std::string& top, int depth, const std::string& name, const std::string& side) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < depth && fd >= 0; ++i) {
        if (!side.empty()) ::mkdirat(fd, side.c_str(), 0755);
        ::mkdirat(fd, name.c_str(), 0755);
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) throw std::runtime_error("cannot build the chain");
    int file = ::openat(fd, "big", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 2; ++i)
        if (::write(file, chunk.data(), chunk.size()) != ssize_t(chunk.size())) throw std::runtime_error("write");
    ::fsync(file);
    struct stat st;
    ::fstat(file, &st);
    ::close(file);
    ::close(fd);
    return int64_t(st.st_blocks) * 512;
}

void splitChain(const std::string& top, int depth, const std::string& name) {
    int topFd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    int fd = ::dup(topFd);
    for (int i = 1; i <= depth && fd >= 0; ++i) {
        if (i % 500 == 0) {
            std::string piece = "piece" + std::to_string(i);
            ::renameat(fd, name.c_str(), topFd, piece.c_str());
            ::close(fd);
            fd = ::openat(topFd, piece.c_str(), O_RDONLY | O_DIRECTORY);
            continue;
        }
        int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    if (fd >= 0) ::close(fd);
    ::close(topFd);
}

void walkThreads(unsigned threads) { walk::threadOverride.store(threads); }
void walkSlices(unsigned entries) { walk::sliceOverride.store(entries); }
namespace {
unsigned swingingPoolSize(unsigned step) {
    static constexpr unsigned sizes[] = {1, 7, 2, 16, 3, 1, 12, 5};
    return sizes[step % 8];
}
} // namespace

void walkSwingingPool(bool on) { walk::limitOverride.store(on ? &swingingPoolSize : nullptr); }

namespace {
std::atomic<ScanStats*> cancelTarget{nullptr};
std::atomic<unsigned> cancelStep{0};
std::atomic<bool> cancelSwinging{false};

// Pacing points come one at a time (the walk holds its pacing lock), so the
// step number is exact.
unsigned cancellingPoolSize(unsigned step) {
    if (step >= cancelStep.load())
        if (ScanStats* stats = cancelTarget.load()) stats->cancel();
    return cancelSwinging.load() ? swingingPoolSize(step) : 1;
}
} // namespace

void walkCancelAtStep(ScanStats* stats, unsigned step, bool swinging) {
    cancelTarget.store(stats);
    cancelStep.store(step);
    cancelSwinging.store(swinging);
    walk::limitOverride.store(stats ? &cancellingPoolSize : nullptr);
}

void writeManyFiles(const std::string& folder, int count, int bytes) {
    makeDirs(folder);
    std::string data(size_t(bytes), 'm');
    for (int i = 0; i < count; ++i) {
        int fd = ::open((folder + "/f" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, data.data(), data.size()) != ssize_t(data.size()))
            throw std::runtime_error("cannot write in " + folder);
        ::close(fd);
    }
}

std::string listedFirst(const std::string& scratch, const std::string& a, const std::string& b) {
    makeDirs(scratch + "/" + a);
    makeDirs(scratch + "/" + b);
    std::string first;
    if (DIR* dir = ::opendir(scratch.c_str())) {
        for (dirent* e; first.empty() && (e = ::readdir(dir));)
            if (e->d_name == a || e->d_name == b) first = e->d_name;
        ::closedir(dir);
    }
    return first;
}
} // namespace vessora::test
