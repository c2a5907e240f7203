#pragma once
// The directory walker behind DiskScanner: a pool of threads working through
// a shared stack of directories, each read with getdents64 and its entries
// examined with statx relative to the directory's descriptor, so no path is
// resolved from the top and paths longer than PATH_MAX are measured like any
// other. A thread continues with the first subdirectory it found and leaves
// the others to any thread; a directory with many entries is cut into slices
// that any thread examines. Per-entry work takes no lock.
//
// Pool size: a walk starts with one thread per core. Every few milliseconds
// one of its threads reads from the kernel's per-thread scheduler statistics
// how long each thread spent blocked (neither on a core nor waiting for one:
// waiting for the disk). While threads block, more of them may read at once
// (up to kMaxThreads), so that a cold walk keeps many requests in flight and
// the device busy; once they stop blocking, the surplus threads park at their
// next directory, so a warm walk runs one thread per core.
//
// Descriptors: a directory keeps its descriptor only until every one of its
// subdirectories has been opened from it, and only while the walk holds fewer
// than a budget of such descriptors; past that, a subdirectory is reopened by
// its path from the walk's root (component by component past PATH_MAX) and
// checked against its recorded device and inode. A chain of any depth thus
// holds a handful of descriptors.

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <memory>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vessora {
class FSNode;
}

namespace vessora::walk {

// What the walk needs of an entry's status (never following a link).
struct EntryStat {
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t allocated = 0; // st_blocks * 512
    int64_t length = 0;    // st_size
    uint32_t mode = 0;
    uint32_t nlink = 0;
    int64_t modified = 0;        // st_mtime, whole seconds
    bool mayBeMountRoot = false; // a mount's root (or the kernel cannot tell)
    bool isDirectory() const { return S_ISDIR(mode); }
    bool isMultiLinkFile() const { return S_ISREG(mode) && nlink > 1; }
};

// statx of `name` relative to `dirFd` (AT_FDCWD for a path); false on failure.
bool statEntry(int dirFd, const char* name, EntryStat& st);

struct TopState;
struct Split;

// One directory to read. Reference counted: the walk holds it while it is
// queued or being read, each subdirectory holds its parent (for the parent's
// descriptor, its name and the completion count).
struct DirTask {
    std::atomic<int32_t> refs{1};
    std::atomic<int32_t> unopened{0}; // subdirectories not yet opened from fd
    std::atomic<int32_t> pending{0};  // unfinished subdirectories, +1 while listing
    int fd = -1;                      // kept for the subdirectories, else -1
    uint32_t depth = 0;               // 0 for the walk's own directory
    uint32_t index = 0;               // position in the parent's listing
    uint64_t dev = 0, ino = 0;
    DirTask* parent = nullptr;
    std::string name;       // a path for a walk's own directory
    FSNode* node = nullptr; // scan: the directory's node, owned by the tree
    // scan: a link counted in or below it may yet be taken back
    std::atomic<bool> linkBelow{false};
    TopState* top = nullptr; // scan: the top-level entry this belongs to
    Split* split = nullptr;  // set for a slice of a large directory\'s entries
    uint32_t slice = 0;      // which slice
};

// What one thread found in (a slice of) a directory's entries.
// Each thread lists the directories it reads whole into one listing of its
// own, emptied before each, so that its vectors keep their capacity from one
// directory to the next instead of being allocated for every directory.
struct Listing {
    virtual ~Listing() = default;
    virtual void reset() { subdirs.clear(); }
    std::vector<DirTask*> subdirs;
};

void retain(DirTask* task);
void release(DirTask* task);

// For tests: run walks on this many threads (0: one per core).
extern std::atomic<unsigned> threadOverride;
// For tests: split directories into slices of this many entries (0: the default).
extern std::atomic<uint32_t> sliceOverride;
// For tests: instead of measuring, every pacing point sets the number of
// threads that may read at once to this function of its running number.
using LimitFunction = unsigned (*)(unsigned tick);
extern std::atomic<LimitFunction> limitOverride;

// The most threads one walk reads with while they block (more where there
// are more cores): enough requests in flight to keep a disk's queue busy, few
// enough that their stacks and buffers stay small.
constexpr unsigned kMaxThreads = 16;
constexpr unsigned kMaxCores = 256;

class Walker {
public:
    // Depth-0 tasks are opened by name relative to `rootFd`; full paths start
    // with `rootPath` (empty when the depth-0 names are paths themselves).
    Walker(int rootFd, std::string rootPath);
    virtual ~Walker();
    Walker(const Walker&) = delete;
    Walker& operator=(const Walker&) = delete;

    // Runs the given tasks and everything they push, on the calling thread and
    // up to one helper per further core; returns when all are done.
    void run(std::vector<DirTask*> tasks);

protected:
    // Per-thread scratch and counters.
    // What the pacing needs of one thread: its scheduler statistics and how
    // long it waited for work (that is not blocking on the device).
    struct Pace {
        std::atomic<int> schedFd{-1};
        std::atomic<int64_t> parkedNs{0};
        std::atomic<int64_t> parkedSince{0}; // 0 while not parked
        // Read and written by the thread that samples, one at a time.
        int64_t lastWall = 0, lastOnCpu = 0, lastParked = 0;
    };

    struct Worker {
        // Not zeroed: the kernel writes only as much of it as a folder
        // needs, and the rest of each thread's buffer stays untouched memory.
        static constexpr size_t kBufferSize = 32 * 1024;
        std::unique_ptr<char[]> buffer{new char[kBufferSize]};
        int64_t files = 0;       // scan: progress batch; quick size: unused
        int64_t bytes = 0;       // scan: progress batch; quick size: the thread's total
        DirTask* next = nullptr; // read next on this thread, without the queue
        Pace* pace = nullptr;
        uint32_t sincePace = 0; // entries examined since the last pacing point
        // Reused for every directory read whole: its one listing, and the
        // subdirectories gathered from a directory's listings.
        std::vector<std::unique_ptr<walk::Listing>> whole;
        std::vector<DirTask*> subdirs;
    };

    using Listing = walk::Listing;

    // Reads one directory task (typically: open it, then readDirectory). The
    // walk releases the task afterwards.
    virtual void process(DirTask* task, Worker& worker) = 0;
    virtual std::unique_ptr<Listing> newListing() = 0;
    // Examines one entry of the task's open directory; false stops the listing.
    virtual bool handleEntry(DirTask* task, int fd, const char* name, uint32_t index, Listing& into,
                             Worker& worker) = 0;
    // All entries are examined: `parts` hold them in listing order. Owns `fd`.
    virtual void finishDirectory(DirTask* task, int fd, std::vector<std::unique_ptr<Listing>>& parts,
                                 Worker& worker) = 0;

    // Goes through the entries of the task's open directory. A directory with
    // more entries than a slice is cut into slices that any thread may
    // examine, so one huge folder keeps every core busy; the thread that
    // finishes the last slice finishes the directory.
    void readDirectory(DirTask* task, int fd, Worker& worker);
    // Called on each thread once it has no more work.
    virtual void finishWorker(Worker&) {}

    // Opens the task's directory (or returns -1), and tells its parent that
    // one more subdirectory no longer needs the parent's descriptor.
    int open(DirTask* task);
    // For a task that will not be opened (cancelled): the parent's bookkeeping only.
    void abandon(DirTask* task);
    // After listing: keeps `fd` for `subdirs` subdirectories when within budget.
    void keepOrClose(DirTask* task, int fd, size_t subdirs);
    // A task for the subdirectory `name` (at `index` in the listing) of `parent`.
    static DirTask* subdirectory(DirTask* parent, const char* name, uint32_t index, const EntryStat& st);
    // Hands over a directory's subdirectories (each holding a reference to
    // its parent): the first is read next by this thread, the rest are queued
    // for any thread, in order.
    void push(std::vector<DirTask*>& tasks, Worker& worker);
    // The full path of a task's directory (walks up; for display and rare checks).
    std::string fullPath(const DirTask* task) const;
    std::string childPath(const DirTask* task, std::string_view name) const;
    // The entry is a directory met again below itself (through a bind mount).
    static bool isCycle(const DirTask* parent, const EntryStat& st);
    // Reads every entry but "." and "..": onEntry(name, index) returns false to stop.
    // Returns false when the directory could not be read to its end.
    template <typename F> bool forEachEntry(int fd, Worker& worker, F&& onEntry);
    // Called every few dozen entries: now and then resizes the pool.
    void pace(Worker& worker) {
        if (++worker.sincePace >= 64) paceNow(worker);
    }

    const int rootFd_;
    const std::string rootPath_;

private:
    void workerLoop();
    void processSlice(DirTask* slice, Worker& worker);
    void enqueue(DirTask* const* tasks, size_t count, size_t minQueuedForHelper);
    // Starts a thread when one more may run and there is work for it; under mutex_.
    void startHelpersLocked(size_t wanted);
    void parentOpened(DirTask* parent);
    int reopen(DirTask* task);
    void paceNow(Worker& worker);
    unsigned measuredLimit(int64_t now);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<DirTask*> stack_;
    size_t outstanding_ = 0;
    unsigned idle_ = 0;
    std::vector<std::thread> helpers_;
    std::atomic<int> keptFds_{0};
    int fdBudget_ = 64;

    // Pool size: threads running tasks, how many may, and how many may ever.
    std::atomic<unsigned> running_{0};
    std::atomic<unsigned> limit_{1};
    unsigned cores_ = 1;
    unsigned maxThreads_ = 1;
    bool adaptive_ = false;
    std::atomic<int64_t> lastPace_{0};
    std::mutex paceLock_;
    unsigned ticks_ = 0;
    int ioFd_ = -1;
    int64_t lastReads_ = -1;
    std::array<Pace, kMaxCores> paces_;
    std::atomic<unsigned> paceCount_{0};
};

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

long readEntries(int fd, char* buffer, size_t size);

template <typename F> bool Walker::forEachEntry(int fd, Worker& worker, F&& onEntry) {
    uint32_t index = 0;
    for (;;) {
        long n = readEntries(fd, worker.buffer.get(), Worker::kBufferSize);
        if (n <= 0) return n == 0;
        for (long offset = 0; offset < n;) {
            auto* entry = reinterpret_cast<LinuxDirent64*>(worker.buffer.get() + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            if (!onEntry(name, index++)) return true;
            pace(worker);
        }
    }
}

} // namespace vessora::walk
