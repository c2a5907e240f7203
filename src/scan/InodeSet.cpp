#include "scan/InodeSet.h"

#include <algorithm>

namespace vessora {

LinkOccurrence::~LinkOccurrence() { walk::release(dir); }

uint64_t InodeSet::key(uint64_t dev, uint64_t ino) { return ino ^ (uint64_t(int64_t(dev)) * 0x9E3779B97F4A7C15ull); }

namespace {
// The positions from the scan root down to the link: the walk order is the
// lexicographic order of these.
std::vector<uint32_t> position(const LinkOccurrence& o) {
    std::vector<uint32_t> path{o.index};
    for (const walk::DirTask* t = o.dir; t; t = t->parent) path.push_back(t->index);
    std::reverse(path.begin(), path.end());
    return path;
}
} // namespace

bool InodeSet::precedes(const LinkOccurrence& a, const LinkOccurrence& b) {
    auto pa = position(a), pb = position(b);
    return std::lexicographical_compare(pa.begin(), pa.end(), pb.begin(), pb.end());
}

bool InodeSet::claim(uint64_t key, std::unique_ptr<LinkOccurrence> occurrence, LinkOccurrence** stored) {
    std::lock_guard<std::mutex> guard(lock);
    auto [it, inserted] = seen.try_emplace(key);
    if (!inserted) {
        if (!precedes(*occurrence, *it->second)) return false;
        superseded.push_back(std::move(it->second));
    }
    *stored = occurrence.get();
    it->second = std::move(occurrence);
    return true;
}

std::vector<std::unique_ptr<LinkOccurrence>> InodeSet::takeSuperseded() {
    std::lock_guard<std::mutex> guard(lock);
    return std::move(superseded);
}

} // namespace vessora
