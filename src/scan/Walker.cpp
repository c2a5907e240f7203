#include "scan/Walker.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vessora::walk {

std::atomic<unsigned> threadOverride{0};
std::atomic<uint32_t> sliceOverride{0};
std::atomic<LimitFunction> limitOverride{nullptr};

// A large directory whose entries are examined in slices. The names after
// the first slice are read at once; the directory's descriptor stays open
// until the last slice is done.
struct Split {
    DirTask* task; // held
    int fd;
    uint32_t firstIndex; // listing position of names[0]
    uint32_t sliceSize;
    std::string names;            // NUL-separated
    std::vector<uint32_t> starts; // offsets into names
    std::vector<std::unique_ptr<Listing>> parts;
    std::atomic<uint32_t> remaining{0};
};

namespace {
constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
constexpr unsigned kStatMask =
    STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE | STATX_BLOCKS | STATX_MTIME;
// How often the pool is resized: long enough to see many device requests
// complete, short enough to follow a walk from cached folders into cold ones.
constexpr int64_t kPaceNs = 4'000'000;

int64_t monotonicNs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Nanoseconds the thread behind `fd` (its /proc schedstat) spent on a core;
// -1 when unreadable.
int64_t onCpu(int fd) {
    char text[96];
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return -1;
    text[n] = 0;
    char* end = nullptr;
    const unsigned long long running = std::strtoull(text, &end, 10);
    return end == text ? -1 : int64_t(running);
}

// Bytes this process has had read from storage so far (the kernel's I/O
// accounting, /proc/self/io); -1 when unknown.
int64_t storageReads(int fd) {
    char text[512];
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return -1;
    text[n] = 0;
    const char* field = std::strstr(text, "\nread_bytes: ");
    return field ? std::strtoll(field + 13, nullptr, 10) : -1;
}
} // namespace

bool statEntry(int dirFd, const char* name, EntryStat& st) {
    struct statx sx;
    if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kStatMask, &sx) != 0) return false;
    st.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.ino = sx.stx_ino;
    st.allocated = int64_t(sx.stx_blocks) * 512;
    st.length = int64_t(sx.stx_size);
    st.mode = sx.stx_mode;
    st.nlink = sx.stx_nlink;
    st.modified = sx.stx_mtime.tv_sec;
    st.mayBeMountRoot =
        !(sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) || (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
}

long readEntries(int fd, char* buffer, size_t size) { return ::syscall(SYS_getdents64, fd, buffer, size); }

void retain(DirTask* task) { task->refs.fetch_add(1, std::memory_order_relaxed); }

// Iterative, so that releasing the last task of a deep chain does not recurse
// once per level.
void release(DirTask* task) {
    while (task && task->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        DirTask* parent = task->parent;
        if (task->fd >= 0) ::close(task->fd);
        delete task;
        task = parent;
    }
}

Walker::Walker(int rootFd, std::string rootPath) : rootFd_(rootFd), rootPath_(std::move(rootPath)) {
    const unsigned fixed = threadOverride.load();
    cores_ = std::clamp(fixed ? fixed : std::thread::hardware_concurrency(), 1u, kMaxCores);
    adaptive_ = fixed == 0 || limitOverride.load();
    maxThreads_ = adaptive_ ? std::max(cores_, kMaxThreads) : cores_;
    limit_.store(cores_);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        fdBudget_ = int(std::clamp<rlim_t>(limit.rlim_cur / 4, 16, 4096));
    else
        fdBudget_ = 4096;
}

Walker::~Walker() {
    for (DirTask* task : stack_) release(task);
    for (Pace& pace : paces_)
        if (pace.schedFd >= 0) ::close(pace.schedFd);
    if (ioFd_ >= 0) ::close(ioFd_);
}

void Walker::run(std::vector<DirTask*> tasks) {
    // A single starting task is the calling thread's own.
    enqueue(tasks.data(), tasks.size(), 2);
    workerLoop();
    std::vector<std::thread> helpers;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        helpers.swap(helpers_);
    }
    for (auto& thread : helpers) thread.join();
}

DirTask* Walker::subdirectory(DirTask* parent, const char* name, uint32_t index, const EntryStat& st) {
    auto* task = new DirTask;
    task->depth = parent->depth + 1;
    task->index = index;
    task->dev = st.dev;
    task->ino = st.ino;
    task->parent = parent;
    retain(parent);
    task->name = name;
    task->top = parent->top;
    return task;
}

void Walker::push(std::vector<DirTask*>& tasks, Worker& worker) {
    if (tasks.empty()) return;
    worker.next = tasks[0];
    enqueue(tasks.data() + 1, tasks.size() - 1, 1);
    tasks.clear();
}

void Walker::enqueue(DirTask* const* tasks, size_t count, size_t minQueuedForHelper) {
    if (count == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    // Reversed, so the first is taken first: the walk stays close to
    // depth-first, which keeps few directories open at once.
    for (size_t i = count; i-- > 0;) stack_.push_back(tasks[i]);
    outstanding_ += count;
    if (idle_ > 0) {
        lock.unlock();
        if (count == 1)
            wake_.notify_one();
        else
            wake_.notify_all();
        return;
    }
    // Helpers start only when there is queued work for them, so a walk of a
    // single chain of folders, or of one folder, stays on the calling thread.
    if (stack_.size() >= minQueuedForHelper) startHelpersLocked(1);
}

void Walker::startHelpersLocked(size_t wanted) {
    size_t threads = helpers_.size() + 1;
    const size_t allowed = std::min<size_t>(limit_.load(std::memory_order_relaxed), maxThreads_);
    for (; wanted > 0 && threads < allowed && idle_ == 0; --wanted, ++threads)
        helpers_.emplace_back([this] { workerLoop(); });
}

void Walker::workerLoop() {
    Worker worker;
    const unsigned slot = paceCount_.fetch_add(1, std::memory_order_relaxed);
    if (slot < paces_.size()) {
        worker.pace = &paces_[slot];
        if (adaptive_ && !limitOverride.load())
            worker.pace->schedFd.store(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC));
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Waits while there is nothing to do, and parks while the pool is
        // larger than the device needs.
        while (outstanding_ > 0 &&
               (stack_.empty() || running_.load(std::memory_order_relaxed) >= limit_.load(std::memory_order_relaxed))) {
            ++idle_;
            const int64_t since = worker.pace ? monotonicNs() : 0;
            if (worker.pace) worker.pace->parkedSince.store(since, std::memory_order_relaxed);
            wake_.wait(lock);
            if (worker.pace) {
                worker.pace->parkedNs.fetch_add(monotonicNs() - since, std::memory_order_relaxed);
                worker.pace->parkedSince.store(0, std::memory_order_relaxed);
            }
            --idle_;
        }
        if (stack_.empty()) break;
        DirTask* task = stack_.back();
        stack_.pop_back();
        running_.fetch_add(1, std::memory_order_relaxed);
        lock.unlock();
        // A task's first subdirectory continues on this thread: it counts as
        // the same outstanding task and needs no lock.
        while (task) {
            paceNow(worker);
            if (task->split)
                processSlice(task, worker);
            else
                process(task, worker);
            release(task);
            task = worker.next;
            worker.next = nullptr;
            if (task && running_.load(std::memory_order_relaxed) > limit_.load(std::memory_order_relaxed)) {
                // The pool shrank: hand the next directory to the threads
                // that stay, and park.
                std::lock_guard<std::mutex> guard(mutex_);
                stack_.push_back(task);
                ++outstanding_;
                task = nullptr;
            }
        }
        lock.lock();
        running_.fetch_sub(1, std::memory_order_relaxed);
        if (--outstanding_ == 0) wake_.notify_all();
    }
    lock.unlock();
    finishWorker(worker);
}

void Walker::paceNow(Worker& worker) {
    worker.sincePace = 0;
    if (!adaptive_) return;
    const LimitFunction override = limitOverride.load(std::memory_order_relaxed);
    const int64_t now = monotonicNs();
    int64_t last = lastPace_.load(std::memory_order_relaxed);
    if (!override && now - last < kPaceNs) return;
    if (!lastPace_.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
    unsigned limit;
    {
        // Released before the pool's lock is taken: no thread holds two.
        std::unique_lock<std::mutex> pacing(paceLock_, std::try_to_lock);
        if (!pacing) return;
        ++ticks_;
        limit = std::clamp(override ? override(ticks_) : measuredLimit(now), override ? 1u : cores_, maxThreads_);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    const unsigned before = limit_.exchange(limit, std::memory_order_relaxed);
    if (limit <= before || stack_.empty()) return;
    if (idle_ > 0) wake_.notify_all();
    startHelpersLocked(std::min<size_t>(stack_.size(), limit - before));
}

// Sizes the pool so that about one thread per core is on a core, however many
// wait: with a share b of the active threads' time spent off a core, a pool
// of n keeps n * (1 - b) on one. The share is assumed to stay as the pool
// changes; where more threads only lengthen the device's queue, it rises, and
// the pool with it, up to the cap.
//
// Only an interval in which the process read from storage counts: a warm
// walk never grows, since there time off a core is spent waiting for a core
// or a lock, which more threads do not shorten. A cold walk on a machine
// busy with other work also grows, so that its requests keep the device
// busy while each thread waits its turn for a core.
unsigned Walker::measuredLimit(int64_t now) {
    if (ioFd_ < 0) ioFd_ = ::open("/proc/self/io", O_RDONLY | O_CLOEXEC);
    const int64_t reads = ioFd_ >= 0 ? storageReads(ioFd_) : -1;
    const bool readStorage = reads < 0 || reads != lastReads_;
    lastReads_ = reads;
    double active = 0, busy = 0;
    const unsigned count = std::min<unsigned>(paceCount_.load(std::memory_order_relaxed), unsigned(paces_.size()));
    for (unsigned i = 0; i < count; ++i) {
        Pace& pace = paces_[i];
        const int fd = pace.schedFd.load(std::memory_order_relaxed);
        if (fd < 0) continue;
        const int64_t ran = onCpu(fd);
        if (ran < 0) continue;
        const int64_t since = pace.parkedSince.load(std::memory_order_relaxed);
        const int64_t parked = pace.parkedNs.load(std::memory_order_relaxed) + (since ? now - since : 0);
        if (pace.lastWall > 0 && now > pace.lastWall) {
            const double wall = double(now - pace.lastWall);
            const double present = std::max(0.0, wall - double(parked - pace.lastParked));
            active += present / wall;
            busy += (readStorage ? std::min(present, double(ran - pace.lastOnCpu)) : present) / wall;
        }
        pace.lastWall = now;
        pace.lastOnCpu = ran;
        pace.lastParked = parked;
    }
    const unsigned current = limit_.load(std::memory_order_relaxed);
    const double wanted = std::ceil(double(cores_) * active / std::max(busy, 0.05) - 0.05);
    const unsigned target = unsigned(std::min(wanted, double(maxThreads_)));
    // Grows at once; shrinks by halves, so one quiet moment does not undo it.
    return target >= current ? target : (current + target + 1) / 2;
}

void Walker::readDirectory(DirTask* task, int fd, Worker& worker) {
    const uint32_t sliceSize = sliceOverride.load() ? sliceOverride.load() : 4096;
    std::vector<std::unique_ptr<Listing>>& parts = worker.whole;
    if (parts.empty()) parts.push_back(newListing());
    Listing& first = *parts[0];
    first.reset();
    std::unique_ptr<Split> split;
    bool stopped = false;
    forEachEntry(fd, worker, [&](const char* name, uint32_t index) {
        if (index < sliceSize) return !(stopped = !handleEntry(task, fd, name, index, first, worker));
        if (!split) split = std::make_unique<Split>();
        split->starts.push_back(uint32_t(split->names.size()));
        split->names.append(name);
        split->names.push_back('\0');
        return true;
    });
    if (!split || stopped) {
        finishDirectory(task, fd, parts, worker);
        return;
    }
    // The first listing goes with the slices; this thread makes a new one.
    Split* s = split.release();
    retain(task);
    s->task = task;
    s->fd = fd;
    s->firstIndex = sliceSize;
    s->sliceSize = sliceSize;
    const size_t slices = (s->starts.size() + sliceSize - 1) / sliceSize;
    s->parts.push_back(std::move(parts[0]));
    parts.clear();
    std::vector<DirTask*> tasks;
    for (size_t i = 1; i <= slices; ++i) {
        s->parts.push_back(newListing());
        auto* slice = new DirTask;
        slice->split = s;
        slice->slice = uint32_t(i);
        tasks.push_back(slice);
    }
    s->remaining.store(uint32_t(slices));
    push(tasks, worker);
}

void Walker::processSlice(DirTask* slice, Worker& worker) {
    Split& s = *slice->split;
    const size_t begin = size_t(slice->slice - 1) * s.sliceSize;
    const size_t end = std::min(s.starts.size(), begin + s.sliceSize);
    Listing& into = *s.parts[slice->slice];
    for (size_t i = begin; i < end; ++i) {
        if (!handleEntry(s.task, s.fd, s.names.data() + s.starts[i], s.firstIndex + uint32_t(i), into, worker)) break;
        pace(worker);
    }
    if (s.remaining.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    finishDirectory(s.task, s.fd, s.parts, worker);
    release(s.task);
    delete &s;
}

void Walker::parentOpened(DirTask* parent) {
    if (parent && parent->fd >= 0 && parent->unopened.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        ::close(parent->fd);
        parent->fd = -1;
        keptFds_.fetch_sub(1, std::memory_order_relaxed);
    }
}

void Walker::abandon(DirTask* task) { parentOpened(task->parent); }

int Walker::open(DirTask* task) {
    int fd;
    if (!task->parent)
        fd = ::openat(rootFd_, task->name.c_str(), kOpenFlags);
    else if (task->parent->fd >= 0)
        fd = ::openat(task->parent->fd, task->name.c_str(), kOpenFlags);
    else
        fd = reopen(task);
    parentOpened(task->parent);
    return fd;
}

// The parent gave up its descriptor (over budget): open again from the walk's
// root. Ancestors' descriptors cannot be borrowed, as their owners may close
// them at any moment.
int Walker::reopen(DirTask* task) {
    std::vector<const DirTask*> chain;
    size_t length = 0;
    for (const DirTask* t = task; t; t = t->parent) {
        chain.push_back(t);
        length += t->name.size() + 1;
    }
    int fd = -1;
    if (length < PATH_MAX) {
        std::string relative;
        for (size_t i = chain.size(); i-- > 0;) {
            relative += chain[i]->name;
            if (i) relative += '/';
        }
        fd = ::openat(rootFd_, relative.c_str(), kOpenFlags);
    } else {
        for (size_t i = chain.size(); i-- > 0;) {
            int next = ::openat(fd < 0 ? rootFd_ : fd, chain[i]->name.c_str(), kOpenFlags);
            if (fd >= 0) ::close(fd);
            fd = next;
            if (fd < 0) return -1;
        }
    }
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || st.st_dev != task->dev || st.st_ino != task->ino)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Walker::keepOrClose(DirTask* task, int fd, size_t subdirs) {
    if (subdirs > 0 && keptFds_.fetch_add(1, std::memory_order_relaxed) < fdBudget_) {
        task->unopened.store(int32_t(subdirs), std::memory_order_relaxed);
        task->fd = fd;
        return;
    }
    if (subdirs > 0) keptFds_.fetch_sub(1, std::memory_order_relaxed);
    ::close(fd);
}

std::string Walker::fullPath(const DirTask* task) const {
    std::vector<const DirTask*> chain;
    for (const DirTask* t = task; t; t = t->parent) chain.push_back(t);
    std::string path = rootPath_;
    for (size_t i = chain.size(); i-- > 0;) {
        if (!path.empty() && path.back() != '/') path += '/';
        path += chain[i]->name;
    }
    return path;
}

std::string Walker::childPath(const DirTask* task, std::string_view name) const {
    std::string path = fullPath(task);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

bool Walker::isCycle(const DirTask* parent, const EntryStat& st) {
    if (!st.mayBeMountRoot) return false;
    for (const DirTask* t = parent; t; t = t->parent)
        if (t->dev == st.dev && t->ino == st.ino) return true;
    return false;
}

} // namespace vessora::walk
