#pragma once
// The scanner's hard-link set: one per scan, shared by all of its threads.
// A regular file with more than one link is counted once, at the link that
// comes first in the walk's order (top-level entries in listing order, each
// directory's entries in directory order, depth first), whichever thread
// happens to meet it first. A link met out of order takes the count over and
// the one counted before is handed back for correction after the walk.

#include "scan/InodeTable.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace vessora {

class FSNode;

// One counted link. Its place in the walk order is worked out from the tree
// itself (folders appear among their parent's children in listing order), so
// nothing else is kept alive for it.
struct LinkOccurrence {
    FSNode* dir = nullptr;      // the folder holding the link; null for a top-level file
    uint32_t top = 0;           // the top-level item it belongs to
    uint32_t index = 0;         // position in its folder's listing
    uint32_t foldersBefore = 0; // folders of that listing met before it
    FSNode* fileNode = nullptr; // the file's own node, when it got one (not in the lump)
    int64_t allocated = 0;
    int64_t length = 0;
};

class InodeSet {
public:
    // The key of a file: inode xor (device * the 64-bit golden-ratio constant).
    static uint64_t key(uint64_t dev, uint64_t ino);

    // Records `occurrence` of the file with `key`. True when it is to be
    // counted now; false when an earlier link already is (the occurrence is
    // then dropped).
    bool claim(uint64_t key, std::unique_ptr<LinkOccurrence> occurrence, LinkOccurrence** stored);

    // Occurrences counted during the walk that an earlier link took over.
    std::vector<std::unique_ptr<LinkOccurrence>> takeSuperseded();

private:
    static bool precedes(const LinkOccurrence& a, const LinkOccurrence& b);

    // Split by key, so that threads meeting different files seldom wait for
    // one another or pass one table back and forth between their caches.
    struct alignas(64) Shard {
        std::mutex lock;
        InodeTable<std::unique_ptr<LinkOccurrence>> seen;
    };
    std::array<Shard, 8> shards;
    std::mutex supersededLock; // taken after a shard's, never before
    std::vector<std::unique_ptr<LinkOccurrence>> superseded;
};

} // namespace vessora
