#include "scan/InodeSet.h"

#include "scan/FSNode.h"

#include <algorithm>
#include <utility>

namespace vessora {

uint64_t InodeSet::key(uint64_t dev, uint64_t ino) { return ino ^ (uint64_t(int64_t(dev)) * 0x9E3779B97F4A7C15ull); }

namespace {

// How many folders lie between `dir` and its top-level folder.
size_t depth(const FSNode* dir) {
    size_t levels = 0;
    for (; dir->parent(); dir = dir->parent()) ++levels;
    return levels;
}

// How many folders come before `folder` in its parent's listing. The parent's
// children are complete: `folder` was only walked after the parent's listing.
uint32_t folderPosition(const FSNode* folder) {
    uint32_t position = 0;
    for (const auto& sibling : folder->parent()->children()) {
        if (sibling.get() == folder) break;
        if (sibling->isDirectory()) ++position;
    }
    return position;
}

} // namespace

// Walk order: top-level items in order; inside a folder, its entries in
// listing order, each subfolder's whole content coming at the subfolder's
// place.
//
// The two folders are brought to the same depth (remembering the folder
// passed last on the way up), then walked up together to where their paths
// part. Nothing is allocated: this runs for every second link of a file.
bool InodeSet::precedes(const LinkOccurrence& a, const LinkOccurrence& b) {
    if (a.top != b.top || !a.dir || !b.dir) return a.top < b.top;
    const FSNode *x = a.dir, *y = b.dir;
    const FSNode *belowX = nullptr, *belowY = nullptr;
    size_t depthX = depth(x), depthY = depth(y);
    for (; depthX > depthY; --depthX) belowX = std::exchange(x, x->parent());
    for (; depthY > depthX; --depthY) belowY = std::exchange(y, y->parent());
    if (x == y) {
        if (!belowX && !belowY) return a.index < b.index;
        // One folder holds the other: compare the link with the subfolder
        // that leads to the other link.
        if (!belowX) return a.foldersBefore <= folderPosition(belowY);
        return folderPosition(belowX) < b.foldersBefore;
    }
    while (x->parent() != y->parent()) {
        x = x->parent();
        y = y->parent();
    }
    return folderPosition(x) < folderPosition(y);
}

bool InodeSet::claim(uint64_t key, std::unique_ptr<LinkOccurrence> occurrence, LinkOccurrence** stored) {
    Shard& shard = shards[(key * 0x9E3779B97F4A7C15ull) >> 61];
    std::lock_guard<std::mutex> guard(shard.lock);
    auto [counted, inserted] = shard.seen.findOrInsert(key);
    if (!inserted) {
        if (!precedes(*occurrence, **counted)) return false;
        std::lock_guard<std::mutex> keep(supersededLock);
        superseded.push_back(std::move(*counted));
    }
    *stored = occurrence.get();
    *counted = std::move(occurrence);
    return true;
}

std::vector<std::unique_ptr<LinkOccurrence>> InodeSet::takeSuperseded() {
    std::lock_guard<std::mutex> guard(supersededLock);
    return std::move(superseded);
}

} // namespace vessora
