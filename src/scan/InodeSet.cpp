#include "scan/InodeSet.h"

#include "scan/FSNode.h"

#include <algorithm>

namespace vessora {

uint64_t InodeSet::key(uint64_t dev, uint64_t ino) { return ino ^ (uint64_t(int64_t(dev)) * 0x9E3779B97F4A7C15ull); }

namespace {

// The folders from the top-level one down to `dir`.
std::vector<const FSNode*> chain(const FSNode* dir) {
    std::vector<const FSNode*> nodes;
    for (; dir; dir = dir->parent()) nodes.push_back(dir);
    std::reverse(nodes.begin(), nodes.end());
    return nodes;
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
bool InodeSet::precedes(const LinkOccurrence& a, const LinkOccurrence& b) {
    if (a.top != b.top || !a.dir || !b.dir) return a.top < b.top;
    auto ca = chain(a.dir), cb = chain(b.dir);
    size_t i = 1;
    while (i < ca.size() && i < cb.size() && ca[i] == cb[i]) ++i;
    if (i == ca.size() && i == cb.size()) return a.index < b.index;
    if (i == ca.size()) return a.foldersBefore <= folderPosition(cb[i]);
    if (i == cb.size()) return folderPosition(ca[i]) < b.foldersBefore;
    return folderPosition(ca[i]) < folderPosition(cb[i]);
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
