#include "ReferenceScan.h"

#include "scan/DiskScanner.h"
#include "support/Paths.h"

#include <dirent.h>
#include <fts.h>
#include <sys/stat.h>

#include <set>
#include <sstream>
#include <vector>

namespace vessora::test {

namespace {

struct Frame {
    FSNode::Ptr node;
    int64_t smallBytes = 0, smallLogical = 0, smallCount = 0;
};

uint64_t linkKey(const struct stat& st) {
    return uint64_t(st.st_ino) ^ (uint64_t(int64_t(st.st_dev)) * 0x9E3779B97F4A7C15ull);
}

void attach(FSNode& parent, FSNode::Ptr child, bool withLogical = true) {
    parent.size += child->size;
    if (withLogical) parent.logicalSize += child->logicalSize;
    parent.fileCount += child->fileCount;
    if (child->isDirectory()) parent.dirCount += child->dirCount + 1;
    parent.appendChild(std::move(child));
}

FSNode::Ptr fileNode(const std::string& name, const std::string& path, const struct stat& st) {
    auto node = FSNode::make(name, path, false);
    node->size = int64_t(st.st_blocks) * 512;
    node->logicalSize = st.st_size;
    node->fileCount = 1;
    return node;
}

void closeDirectory(std::vector<Frame>& stack) {
    Frame top = std::move(stack.back());
    stack.pop_back();
    if (top.smallCount > 0) {
        std::string name = std::to_string(top.smallCount) + " smaller item" + (top.smallCount == 1 ? "" : "s");
        auto lump = FSNode::make(name, top.node->path(), false);
        lump->isAggregate = true;
        lump->size = top.smallBytes;
        lump->logicalSize = top.smallLogical;
        lump->fileCount = top.smallCount;
        top.node->appendChild(lump);
    }
    if (!stack.empty()) attach(*stack.back().node, top.node);
}

FSNode::Ptr walk(const std::string& path, const ScanOptions& options, ScanStats& stats, std::set<uint64_t>& seen,
                 dev_t rootDev) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return nullptr;
    if (!S_ISDIR(st.st_mode)) {
        if (S_ISREG(st.st_mode) && st.st_nlink > 1 && !seen.insert(linkKey(st)).second) return nullptr;
        stats.addProgress(1, int64_t(st.st_blocks) * 512);
        return fileNode(Paths::lastComponent(path), path, st);
    }
    auto own = FSNode::make(Paths::lastComponent(path), path, true);
    if (!options.crossesDevices && st.st_dev != rootDev) return own;
    char* paths[] = {const_cast<char*>(path.c_str()), nullptr};
    FTS* fts = ::fts_open(paths, FTS_PHYSICAL | FTS_NOCHDIR | (options.crossesDevices ? 0 : FTS_XDEV), nullptr);
    if (!fts) {
        own->unreadable = true;
        stats.addUnreadable();
        return own;
    }
    std::vector<Frame> stack;
    int64_t batchFiles = 0, batchBytes = 0;
    while (FTSENT* e = ::fts_read(fts)) {
        if (stats.isCancelled()) break;
        std::string entryPath = e->fts_path ? e->fts_path : "";
        switch (e->fts_info) {
        case FTS_F:
        case FTS_SL:
        case FTS_SLNONE:
        case FTS_DEFAULT: {
            if (!e->fts_statp) break;
            const struct stat& s = *e->fts_statp;
            if (S_ISREG(s.st_mode) && s.st_nlink > 1 && !seen.insert(linkKey(s)).second) break;
            int64_t allocated = int64_t(s.st_blocks) * 512;
            ++batchFiles;
            batchBytes += allocated;
            if (stack.empty()) break;
            Frame& top = stack.back();
            top.node->size += allocated;
            top.node->logicalSize += s.st_size;
            top.node->fileCount += 1;
            if (allocated < options.smallFileThreshold) {
                top.smallBytes += allocated;
                top.smallLogical += s.st_size;
                top.smallCount += 1;
            } else {
                top.node->appendChild(fileNode(Paths::lastComponent(entryPath), entryPath, s));
            }
            break;
        }
        case FTS_D: {
            if (stack.empty()) {
                stack.push_back({own});
                break;
            }
            auto node = FSNode::make(Paths::lastComponent(entryPath), entryPath, true);
            if (!options.skipPaths.empty() && options.skipPaths.count(entryPath)) {
                node->isNotDescended = true;
                node->isCloudProvider = options.cloudRoots.count(entryPath) > 0;
                ::fts_set(fts, e, FTS_SKIP);
            }
            stack.push_back({node});
            break;
        }
        case FTS_DP:
            if (!stack.empty()) closeDirectory(stack);
            break;
        case FTS_DNR:
            stats.addUnreadable();
            if (!stack.empty()) {
                stack.back().node->unreadable = true;
                closeDirectory(stack);
                if (stack.empty()) stack.push_back({own}); // the walk's own folder: kept for the end
            } else {
                own->unreadable = true;
            }
            break;
        case FTS_NS:
            stats.addUnreadable();
            own->unreadable = true;
            break;
        case FTS_ERR: stats.addUnreadable(); break;
        default: break;
        }
    }
    stats.addProgress(batchFiles, batchBytes);
    while (stack.size() > 1) {
        Frame top = std::move(stack.back());
        stack.pop_back();
        attach(*stack.back().node, top.node, false);
    }
    ::fts_close(fts);
    return own;
}

} // namespace

FSNode::Ptr referenceScan(const std::string& rootPath, const ScanOptions& options, ScanStats& stats) {
    std::string path = Paths::standardize(rootPath);
    auto root = FSNode::make(DiskScanner::displayName(path), path, true);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return root;
    if (!S_ISDIR(st.st_mode)) { // a file as the root: a folder node holding its size
        root->size = int64_t(st.st_blocks) * 512;
        root->logicalSize = st.st_size;
        root->fileCount = 1;
        return root;
    }
    std::vector<std::string> work;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* d = ::readdir(dir)) {
            std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            std::string entry = Paths::join(path, name);
            if (options.skipPaths.count(entry)) {
                auto skipped = FSNode::make(name, entry, true);
                skipped->isNotDescended = true;
                skipped->isCloudProvider = options.cloudRoots.count(entry) > 0;
                root->appendChild(skipped);
                root->dirCount += 1;
            } else {
                work.push_back(entry);
            }
        }
        ::closedir(dir);
    }
    std::set<uint64_t> seen;
    for (const auto& entry : work) {
        if (stats.isCancelled()) break;
        if (auto node = walk(entry, options, stats, seen, st.st_dev)) attach(*root, node);
    }
    return root;
}

int64_t referenceQuickSize(const std::string& path, const ScanOptions& options) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return int64_t(st.st_blocks) * 512;
    if (options.skipPaths.count(Paths::standardize(path))) return 0;
    char* paths[] = {const_cast<char*>(path.c_str()), nullptr};
    FTS* fts = ::fts_open(paths, FTS_PHYSICAL | FTS_NOCHDIR | FTS_XDEV, nullptr);
    if (!fts) return 0;
    int64_t total = 0;
    while (FTSENT* e = ::fts_read(fts)) {
        switch (e->fts_info) {
        case FTS_F:
        case FTS_SL:
        case FTS_SLNONE:
        case FTS_DEFAULT:
            if (e->fts_statp) total += int64_t(e->fts_statp->st_blocks) * 512;
            break;
        case FTS_D:
            if (options.skipPaths.count(e->fts_path)) ::fts_set(fts, e, FTS_SKIP);
            break;
        default: break;
        }
    }
    ::fts_close(fts);
    return total;
}

std::string treeDifference(const FSNode& actual, const FSNode& expected) {
    auto fields = [](const FSNode& n) {
        std::ostringstream text;
        text << "name " << n.name() << ", path " << n.path() << ", folder " << n.isDirectory() << ", size " << n.size
             << ", logical " << n.logicalSize << ", files " << n.fileCount << ", folders " << n.dirCount << ", lump "
             << n.isAggregate << ", unreadable " << n.unreadable << ", not descended " << n.isNotDescended << ", cloud "
             << n.isCloudProvider << ", children " << n.children().size();
        return text.str();
    };
    std::vector<std::pair<const FSNode*, const FSNode*>> work{{&actual, &expected}};
    while (!work.empty()) {
        auto [a, e] = work.back();
        work.pop_back();
        if (fields(*a) != fields(*e)) return e->path() + ": " + fields(*a) + "\n  expected " + fields(*e);
        for (size_t i = 0; i < a->children().size(); ++i)
            work.push_back({a->children()[i].get(), e->children()[i].get()});
    }
    return {};
}

} // namespace vessora::test
