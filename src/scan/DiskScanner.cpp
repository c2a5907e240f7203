#include "scan/DiskScanner.h"

#include "platform/PlatformTables.h"
#include "platform/VolumeInfo.h"
#include "scan/InodeSet.h"
#include "scan/Walker.h"
#include "support/Paths.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>

namespace vessora::walk {

// A top-level entry of the scan root: its node (null when it has none) and
// whether something inside could not be examined.
struct TopState {
    uint32_t index = 0;
    std::string name;
    FSNode::Ptr node;
    std::atomic<bool> entryFailed{false};
};

} // namespace vessora::walk

namespace vessora::DiskScanner {

namespace {

constexpr int64_t kProgressBatch = 4096;
constexpr int kRootFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;

// The last components of the skip paths: a directory's full path is built
// only when its name could match. Asked once for every entry of a walk, so
// most names are turned away by their first two bytes (the second may be the
// terminating zero), and the rest are looked up without being copied.
class SkipNames {
public:
    explicit SkipNames(const std::set<std::string>& paths) {
        for (const auto& p : paths) {
            std::string name = Paths::lastComponent(p);
            leads_.set(lead(name.c_str()));
            names_.insert(std::move(name));
        }
    }
    bool contains(const char* name) const {
        return leads_.test(lead(name)) && names_.find(std::string_view(name)) != names_.end();
    }

private:
    static size_t lead(const char* name) { return name[0] ? size_t(uint8_t(name[0])) << 8 | uint8_t(name[1]) : 0; }
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::bitset<1 << 16> leads_;
    std::unordered_set<std::string, Hash, std::equal_to<>> names_;
};

// The folders a walk leaves out by pattern: the last component of each
// pattern is matched first, so only candidates build their full path. A last
// component without wildcards is compared as it stands, and one whose only
// wildcard is a final "*" by its beginning: fnmatch in a UTF-8 locale widens
// both strings on every call.
class PatternSkips {
public:
    explicit PatternSkips(const std::vector<std::string>& patterns) : patterns_(patterns) {
        for (const std::string& p : patterns) {
            Last last{Paths::lastComponent(p), Match::pattern};
            const size_t wildcard = last.text.find_first_of("*?[\\");
            if (wildcard == std::string::npos) {
                last.match = Match::whole;
            } else if (wildcard + 1 == last.text.size() && last.text.back() == '*') {
                last.text.pop_back();
                last.match = Match::prefix;
            }
            lasts_.push_back(std::move(last));
        }
    }
    bool empty() const { return patterns_.empty(); }
    // Inside a walk: a folder whose parent was entered.
    template <typename PathOf> bool matches(const char* name, PathOf&& pathOf) const {
        for (size_t i = 0; i < patterns_.size(); ++i) {
            if (lasts_[i].matches(name) && ::fnmatch(patterns_[i].c_str(), pathOf().c_str(), 0) == 0) return true;
        }
        return false;
    }
    // A top-level entry, whose path may lie below a match of a pattern
    // ending in a wildcard (the scan root being inside a skipped location):
    // only a last component without wildcards decides by itself.
    template <typename PathOf> bool matchesEntry(const char* name, PathOf&& pathOf) const {
        for (size_t i = 0; i < patterns_.size(); ++i) {
            if (lasts_[i].match == Match::whole && lasts_[i].text != name) continue;
            if (::fnmatch(patterns_[i].c_str(), pathOf().c_str(), 0) == 0) return true;
        }
        return false;
    }

private:
    enum class Match { whole, prefix, pattern };
    struct Last {
        std::string text;
        Match match;
        bool matches(const char* name) const {
            switch (match) {
            case Match::whole: return text == name;
            case Match::prefix: return std::strncmp(name, text.data(), text.size()) == 0;
            case Match::pattern: break;
            }
            return ::fnmatch(text.c_str(), name, 0) == 0;
        }
    };
    const std::vector<std::string>& patterns_;
    std::vector<Last> lasts_;
};

// A folder on another device is walked when it is no mount point of its own
// (a nested Btrfs subvolume) or its file system is one the options enter.
// A quick size never crosses into a mounted file system of its own accord.
bool entersDevice(const ScanOptions& options, const walk::EntryStat& st, uint64_t rootDev, bool crossing) {
    if (crossing || st.dev == rootDev) return true;
    return !st.mayBeMountRoot || options.enteredDevices.count(st.dev) > 0;
}

class ScanWalker final : public walk::Walker {
public:
    ScanWalker(int rootFd, const std::string& rootPath, uint64_t rootDev, const ScanOptions& options, ScanStats& stats,
               const SkipNames& skipNames, const PatternSkips& patterns)
        : Walker(rootFd, rootPath), rootDev_(rootDev), options_(options), stats_(stats), skipNames_(skipNames),
          patterns_(patterns) {}

    InodeSet inodes;

    // Sorts the directories whose sorting waited for the links' corrections.
    // Their nodes have left the cache; two threads wait for memory at once.
    void sortWaiting() {
        const auto sort = [this](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) waiting_[i]->sortChildren();
        };
        const size_t half = waiting_.size() / 2;
        std::thread helper;
        if (half >= 1024) {
            try {
                helper = std::thread(sort, 0, half);
            } catch (const std::system_error&) {
                // No thread to spare: this one sorts them all.
            }
        }
        sort(helper.joinable() ? half : 0, waiting_.size());
        if (helper.joinable()) helper.join();
        waiting_.clear();
    }

private:
    void process(walk::DirTask* task, Worker& worker) override {
        if (!task->node) {
            processTop(task, worker);
            return;
        }
        processDirectory(task, worker);
    }

    void finishWorker(Worker& worker) override { flush(worker); }

    void flush(Worker& worker) {
        if (worker.files == 0 && worker.bytes == 0) return;
        stats_.addProgress(worker.files, worker.bytes);
        worker.files = worker.bytes = 0;
    }

    void count(Worker& worker, int64_t allocated) {
        ++worker.files;
        worker.bytes += allocated;
        if (worker.files >= kProgressBatch) flush(worker);
    }

    // A regular file with several links is counted at its first link in walk
    // order only. Returns false when this link is not the one counted.
    bool claimLink(const walk::EntryStat& st, FSNode* dir, uint32_t top, uint32_t index, uint32_t foldersBefore,
                   LinkOccurrence** stored) {
        auto occurrence = std::make_unique<LinkOccurrence>();
        occurrence->dir = dir;
        occurrence->top = top;
        occurrence->index = index;
        occurrence->foldersBefore = foldersBefore;
        occurrence->allocated = st.allocated;
        occurrence->length = st.length;
        return inodes.claim(InodeSet::key(st.dev, st.ino), std::move(occurrence), stored);
    }

    void processTop(walk::DirTask* task, Worker& worker) {
        walk::TopState& top = *task->top;
        if (stats_.isCancelled()) return;
        walk::EntryStat st;
        if (!walk::statEntry(rootFd_, task->name.c_str(), st)) {
            // Counted like an entry deeper down whose status cannot be read;
            // the root, its folder, carries the flag.
            stats_.addUnreadable();
            top.entryFailed.store(true, std::memory_order_relaxed);
            return;
        }
        std::string path = Paths::join(rootPath_, task->name);
        if (!st.isDirectory()) {
            LinkOccurrence* occurrence = nullptr;
            if (st.isMultiLinkFile() && !claimLink(st, nullptr, task->index, 0, 0, &occurrence)) return;
            top.node = FSNode::make(task->name, path, false);
            top.node->setIdentity({st.dev, st.ino});
            top.node->modified = st.modified;
            top.node->size = st.allocated;
            top.node->logicalSize = st.length;
            top.node->fileCount = 1;
            count(worker, st.allocated);
            return;
        }
        top.node = FSNode::make(task->name, path, true);
        top.node->setIdentity({st.dev, st.ino});
        top.node->modified = st.modified;
        // A top-level entry on another file system is a mount point like any
        // met deeper down: listed as an empty directory, never entered.
        if (!entersDevice(options_, st, rootDev_, options_.crossesDevices)) return;
        task->node = top.node.get();
        task->dev = st.dev;
        task->ino = st.ino;
        processDirectory(task, worker);
    }

    void processDirectory(walk::DirTask* task, Worker& worker) {
        if (stats_.isCancelled()) {
            abandon(task);
            complete(task);
            return;
        }
        if (task->depth <= 2) {
            flush(worker);
            stats_.setCurrent(fullPath(task));
        }
        int fd = open(task);
        if (fd < 0) {
            // Closed like any finished directory: flagged, counted once, and
            // attached in its place so that what follows lands in its real parent.
            task->node->unreadable = true;
            stats_.addUnreadable();
            complete(task);
            return;
        }
        readDirectory(task, fd, worker);
    }

    // Nodes are made here but joined to the directory only when all of its
    // entries are known, in listing order (slices may finish in any order).
    struct ScanListing : Listing {
        std::vector<FSNode::Ptr> nodes;
        std::vector<LinkOccurrence*> links; // their foldersBefore counts from the slice's start
        int64_t smallBytes = 0, smallLogical = 0, smallCount = 0;
        int64_t smallNewest = 0; // the newest modification among them
        uint32_t folders = 0;    // folder nodes made: places links in walk order

        void reset() override {
            Listing::reset();
            nodes.clear();
            links.clear();
            smallBytes = smallLogical = smallCount = smallNewest = 0;
            folders = 0;
        }
    };

    std::unique_ptr<Listing> newListing() override { return std::make_unique<ScanListing>(); }

    bool handleEntry(walk::DirTask* task, int fd, const char* name, uint32_t index, Listing& part,
                     Worker& worker) override {
        if (stats_.isCancelled()) return false;
        auto& into = static_cast<ScanListing&>(part);
        FSNode& node = *task->node;
        // A skipped location is listed without asking for its status: it may
        // be the mount point of a server that never answers.
        if (skipNames_.contains(name)) {
            std::string path = childPath(task, name);
            if (options_.skipPaths.count(path)) {
                FSNode::Ptr child = FSNode::makeUnattachedChild(node, name, true);
                child->isNotDescended = true;
                child->isCloudProvider = options_.cloudRoots.count(path) > 0;
                into.nodes.push_back(std::move(child));
                ++into.folders;
                return true;
            }
        }
        walk::EntryStat st;
        if (!walk::statEntry(fd, name, st)) {
            stats_.addUnreadable();
            task->top->entryFailed.store(true, std::memory_order_relaxed);
            return true;
        }
        if (st.isDirectory()) {
            if (isCycle(task, st)) return true;
            FSNode::Ptr child = FSNode::makeUnattachedChild(node, name, true);
            child->setIdentity({st.dev, st.ino});
            child->modified = st.modified;
            into.nodes.push_back(child);
            ++into.folders;
            if (!patterns_.empty() && patterns_.matches(name, [&] { return childPath(task, name); })) {
                child->isNotDescended = true;
                return true;
            }
            if (!entersDevice(options_, st, rootDev_, options_.crossesDevices)) return true;
            into.subdirs.push_back(subdirectory(task, name, index, st));
            into.subdirs.back()->node = child.get();
            return true;
        }
        LinkOccurrence* occurrence = nullptr;
        if (st.isMultiLinkFile()) {
            if (!claimLink(st, &node, task->top->index, index, into.folders, &occurrence)) return true;
            into.links.push_back(occurrence);
            task->linkBelow.store(true, std::memory_order_relaxed);
        }
        count(worker, st.allocated);
        if (st.allocated < options_.smallFileThreshold) {
            into.smallBytes += st.allocated;
            into.smallLogical += st.length;
            ++into.smallCount;
            into.smallNewest = std::max(into.smallNewest, st.modified);
            return true;
        }
        FSNode::Ptr file = FSNode::makeUnattachedChild(node, name, false);
        file->setIdentity({st.dev, st.ino});
        file->size = st.allocated;
        file->logicalSize = st.length;
        file->fileCount = 1;
        file->modified = st.modified;
        into.nodes.push_back(file);
        if (occurrence) occurrence->fileNode = file.get();
        return true;
    }

    void finishDirectory(walk::DirTask* task, int fd, std::vector<std::unique_ptr<Listing>>& parts,
                         Worker& worker) override {
        FSNode& node = *task->node;
        int64_t smallBytes = 0, smallLogical = 0, smallCount = 0, smallNewest = 0;
        uint32_t folders = 0;
        std::vector<walk::DirTask*>& subdirs = worker.subdirs;
        // The list is allocated once, at its final size.
        size_t children = 0;
        bool lump = false;
        for (auto& p : parts) {
            auto& part = static_cast<ScanListing&>(*p);
            children += part.nodes.size();
            lump |= part.smallCount > 0;
        }
        node.reserveChildren(children + (lump ? 1 : 0));
        for (auto& p : parts) {
            auto& part = static_cast<ScanListing&>(*p);
            for (auto& child : part.nodes) node.appendChild(std::move(child));
            for (LinkOccurrence* link : part.links) link->foldersBefore += folders;
            folders += part.folders;
            smallBytes += part.smallBytes;
            smallLogical += part.smallLogical;
            smallCount += part.smallCount;
            smallNewest = std::max(smallNewest, part.smallNewest);
            subdirs.insert(subdirs.end(), part.subdirs.begin(), part.subdirs.end());
        }
        keepOrClose(task, fd, subdirs.size());
        if (smallCount > 0) FSNode::makeLump(node, smallCount, smallBytes, smallLogical)->modified = smallNewest;
        task->pending.store(int32_t(subdirs.size()) + 1, std::memory_order_relaxed);
        push(subdirs, worker);
        if (task->pending.fetch_sub(1, std::memory_order_acq_rel) == 1) complete(task);
    }

    // A directory whose subdirectories are all complete adds up its children
    // and sorts them, on the walk's threads while the nodes are still in the
    // cache; the last subdirectory of a parent to complete completes the
    // parent. A directory with a counted link in or below it waits to be
    // sorted until the walk is over: a link met later that comes earlier in
    // walk order takes the count over and changes its sizes, and the link
    // order is worked out from listing order (InodeSet::precedes).
    void complete(walk::DirTask* task) {
        for (;;) {
            FSNode& node = *task->node;
            node.size = node.logicalSize = node.fileCount = node.dirCount = 0;
            for (const FSNode::Ptr& child : node.children()) {
                node.size += child->size;
                node.logicalSize += child->logicalSize;
                node.fileCount += child->fileCount;
                if (child->isDirectory()) node.dirCount += child->dirCount + 1;
            }
            if (!task->linkBelow.load(std::memory_order_relaxed)) {
                node.sortChildren();
            } else {
                // Published to the parent's completion by the count below.
                if (task->parent) task->parent->linkBelow.store(true, std::memory_order_relaxed);
                std::lock_guard<std::mutex> guard(waitingLock_);
                waiting_.push_back(&node);
            }
            task = task->parent;
            if (!task || task->pending.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
        }
    }

    const uint64_t rootDev_;
    const ScanOptions& options_;
    ScanStats& stats_;
    const SkipNames& skipNames_;
    const PatternSkips& patterns_;
    std::mutex waitingLock_;
    std::vector<FSNode*> waiting_;
};

// A link counted during the walk turned out not to be the first in walk
// order: take it out of its directory and every ancestor, and out of progress.
void takeBack(const LinkOccurrence& link, std::vector<walk::TopState>& tops, ScanStats& stats) {
    {
        std::lock_guard<std::mutex> guard(stats.lock);
        stats._files -= 1;
        stats._bytes -= link.allocated;
    }
    if (!link.dir) {
        tops[link.top].node.reset();
        return;
    }
    FSNode* dir = link.dir;
    if (link.fileNode) {
        dir->eraseChild(link.fileNode);
    } else if (!dir->children().empty() && dir->children().back()->isAggregate) {
        FSNode* lump = dir->children().back().get();
        lump->size -= link.allocated;
        lump->logicalSize -= link.length;
        lump->fileCount -= 1;
        if (lump->fileCount == 0)
            dir->eraseChild(lump);
        else
            lump->renameLump(lump->fileCount);
    }
    for (FSNode* n = dir; n; n = n->parent()) {
        n->size -= link.allocated;
        n->logicalSize -= link.length;
        n->fileCount -= 1;
    }
}

// The shallow listing of the scan root, in directory order (the order the
// walk below it reads folders in), through the walk's own reader.
std::vector<std::string> listNames(int fd) {
    std::vector<std::string> names;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        long n = walk::readEntries(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        for (long offset = 0; offset < n;) {
            auto* entry = reinterpret_cast<walk::LinuxDirent64*>(buffer.data() + offset);
            offset += entry->d_reclen;
            std::string_view name = entry->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
    }
    return names;
}

// The files with several links one freed-size walk met, with how many of
// their links it met; shared by the walk's threads.
class LinkTally {
public:
    void add(const walk::EntryStat& st) {
        std::lock_guard<std::mutex> guard(lock_);
        Seen& seen = *seen_.findOrInsert(InodeSet::key(st.dev, st.ino)).first;
        seen.met += 1;
        seen.links = st.nlink;
        seen.allocated = st.allocated;
    }
    // The files all of whose links were met, each once.
    int64_t wholeFiles() const {
        int64_t total = 0;
        seen_.forEach([&](uint64_t, const Seen& seen) {
            if (seen.met >= seen.links) total += seen.allocated;
        });
        return total;
    }

private:
    struct Seen {
        uint32_t met = 0;
        uint32_t links = 0;
        int64_t allocated = 0;
    };
    std::mutex lock_;
    InodeTable<Seen> seen_;
};

class SizeWalker final : public walk::Walker {
public:
    SizeWalker(uint64_t rootDev, const ScanOptions& options, const std::function<bool()>& cancelled,
               CountedLinks* links, LinkTally* tally = nullptr)
        : Walker(AT_FDCWD, std::string()), rootDev_(rootDev), options_(options), cancelled_(cancelled),
          skipNames_(options.skipPaths), patterns_(options.skipPatterns), links_(links), tally_(tally) {}

    std::atomic<int64_t> total{0};

private:
    bool isCancelled() {
        if (!cancelled_) return false;
        std::lock_guard<std::mutex> guard(cancelLock_);
        return cancelled_();
    }

    void process(walk::DirTask* task, Worker& worker) override {
        if (isCancelled()) {
            abandon(task);
            return;
        }
        int fd = open(task);
        if (fd >= 0) readDirectory(task, fd, worker);
    }

    std::unique_ptr<Listing> newListing() override { return std::make_unique<Listing>(); }

    bool handleEntry(walk::DirTask* task, int fd, const char* name, uint32_t index, Listing& into,
                     Worker& worker) override {
        if (skipNames_.contains(name) && options_.skipPaths.count(childPath(task, name))) return true;
        walk::EntryStat st;
        if (!walk::statEntry(fd, name, st)) return true;
        if (!st.isDirectory()) {
            if (tally_ && st.isMultiLinkFile()) {
                tally_->add(st);
                return true;
            }
            if (!links_ || !st.isMultiLinkFile() || links_->countFirst(st.dev, st.ino)) worker.bytes += st.allocated;
            return true;
        }
        if (isCycle(task, st) || !entersDevice(options_, st, rootDev_, false)) return true;
        if (!patterns_.empty() && patterns_.matches(name, [&] { return childPath(task, name); })) return true;
        into.subdirs.push_back(subdirectory(task, name, index, st));
        return true;
    }

    void finishDirectory(walk::DirTask* task, int fd, std::vector<std::unique_ptr<Listing>>& parts,
                         Worker& worker) override {
        std::vector<walk::DirTask*>& subdirs = worker.subdirs;
        for (auto& part : parts) subdirs.insert(subdirs.end(), part->subdirs.begin(), part->subdirs.end());
        keepOrClose(task, fd, subdirs.size());
        push(subdirs, worker);
    }

    void finishWorker(Worker& worker) override { total.fetch_add(worker.bytes); }

    const uint64_t rootDev_;
    const ScanOptions& options_;
    const std::function<bool()>& cancelled_;
    std::mutex cancelLock_;
    const SkipNames skipNames_;
    const PatternSkips patterns_;
    CountedLinks* const links_;
    LinkTally* const tally_;
};

} // namespace

FSNode::Ptr scan(const std::string& rootPath, const ScanOptions& options, ScanStats& stats) {
    // The root is made real once, so that no path in the tree passes through
    // a link: a removal opens an item's folder without following any.
    const std::string given = Paths::standardize(rootPath);
    std::string path = given;
    if (char* real = given.empty() ? nullptr : ::realpath(given.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    FSNode::Ptr root = FSNode::make(displayName(given), path, true);
    // A root that cannot be examined or listed is flagged and counted, so
    // that nobody mistakes it for an empty folder.
    const auto unreadableRoot = [&] {
        root->unreadable = true;
        stats.addUnreadable();
        return root;
    };
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return unreadableRoot();
    root->modified = st.st_mtime;
    if (!S_ISDIR(st.st_mode)) {
        root->setIdentity({uint64_t(st.st_dev), uint64_t(st.st_ino)});
        root->size = int64_t(st.st_blocks) * 512;
        root->logicalSize = st.st_size;
        root->fileCount = 1;
        return root;
    }
    int rootFd = ::open(path.c_str(), kRootFlags);
    if (rootFd < 0) return unreadableRoot();
    struct stat rootStat;
    if (::fstat(rootFd, &rootStat) != 0) {
        ::close(rootFd);
        return unreadableRoot();
    }
    root->setIdentity({uint64_t(rootStat.st_dev), uint64_t(rootStat.st_ino)});

    const SkipNames skipNames(options.skipPaths);
    const PatternSkips patterns(options.skipPatterns);
    std::vector<walk::TopState> tops;
    {
        std::vector<std::string> names = listNames(rootFd);
        std::vector<std::string> work;
        for (auto& name : names) {
            const std::string entryPath = Paths::join(path, name);
            const auto pathOf = [&]() -> const std::string& { return entryPath; };
            if ((skipNames.contains(name.c_str()) && options.skipPaths.count(entryPath)) ||
                patterns.matchesEntry(name.c_str(), pathOf)) {
                FSNode::Ptr skipped = FSNode::make(name, entryPath, true);
                skipped->isNotDescended = true;
                skipped->isCloudProvider = options.cloudRoots.count(entryPath) > 0;
                root->appendChild(skipped);
                root->dirCount += 1;
            } else {
                work.push_back(std::move(name));
            }
        }
        tops = std::vector<walk::TopState>(work.size());
        for (size_t i = 0; i < work.size(); ++i) {
            tops[i].index = uint32_t(i);
            tops[i].name = std::move(work[i]);
        }
    }

    {
        ScanWalker walker(rootFd, path, rootStat.st_dev, options, stats, skipNames, patterns);
        std::vector<walk::DirTask*> tasks;
        for (size_t i = 0; i < tops.size(); ++i) {
            auto* task = new walk::DirTask;
            task->index = uint32_t(i);
            task->name = tops[i].name;
            task->top = &tops[i];
            tasks.push_back(task);
        }
        walker.run(std::move(tasks));
        for (auto& link : walker.inodes.takeSuperseded()) takeBack(*link, tops, stats);
        walker.sortWaiting();
    }
    ::close(rootFd);

    for (auto& top : tops) {
        if (!top.node) {
            if (top.entryFailed.load()) root->unreadable = true;
            continue;
        }
        if (top.entryFailed.load()) top.node->unreadable = true;
        root->size += top.node->size;
        root->logicalSize += top.node->logicalSize;
        root->fileCount += top.node->fileCount;
        if (top.node->isDirectory()) root->dirCount += top.node->dirCount + 1;
        root->appendChild(std::move(top.node));
    }
    root->sortChildren();
    return root;
}

bool CountedLinks::countFirst(uint64_t dev, uint64_t ino) {
    const uint64_t key = InodeSet::key(dev, ino);
    Shard& shard = shards_[(key * 0x9E3779B97F4A7C15ull) >> 61];
    std::lock_guard<std::mutex> guard(shard.lock);
    return shard.seen.findOrInsert(key).second;
}

int64_t quickSize(const std::string& path, const ScanOptions& options, const std::function<bool()>& cancelled) {
    return quickSize(path, options, cancelled, nullptr);
}

int64_t quickSize(const std::string& path, const ScanOptions& options, const std::function<bool()>& cancelled,
                  CountedLinks* links) {
    const std::string standardized = Paths::standardize(path);
    if (options.skipPaths.count(standardized) || options.skipPaths.count(path)) return 0;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) {
        if (links && S_ISREG(st.st_mode) && st.st_nlink > 1 && !links->countFirst(st.st_dev, st.st_ino)) return 0;
        return int64_t(st.st_blocks) * 512;
    }
    SizeWalker walker(st.st_dev, options, cancelled, links);
    auto* task = new walk::DirTask;
    task->name = path;
    task->dev = st.st_dev;
    task->ino = st.st_ino;
    walker.run({task});
    return walker.total.load();
}

int64_t freedSize(const std::string& path, const ScanOptions& options, const std::function<bool()>& cancelled) {
    const std::string standardized = Paths::standardize(path);
    if (options.skipPaths.count(standardized) || options.skipPaths.count(path)) return 0;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return S_ISREG(st.st_mode) && st.st_nlink > 1 ? 0 : int64_t(st.st_blocks) * 512;
    LinkTally tally;
    SizeWalker walker(st.st_dev, options, cancelled, nullptr, &tally);
    auto* task = new walk::DirTask;
    task->name = path;
    task->dev = st.st_dev;
    task->ino = st.st_ino;
    walker.run({task});
    return walker.total.load() + tally.wholeFiles();
}

std::string displayName(const std::string& path) {
    if (path == "/") {
        const char* fixed = PlatformTables::current().scan.rootDisplayName;
        return fixed ? fixed : VolumeInfo::rootVolumeName();
    }
    std::string last = Paths::lastComponent(path);
    return last.empty() ? path : last;
}

} // namespace vessora::DiskScanner
