#pragma once
// Measures folders. Every part of the system that needs the size of a location
// asks quickSize; the Browse screen's tree comes from scan.

#include "scan/FSNode.h"
#include "scan/InodeTable.h"
#include "scan/ScanOptions.h"
#include "scan/ScanStats.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vessora::DiskScanner {

// Walks `root` completely and returns its tree: allocated sizes, hard links
// counted once, small files lumped per directory, skipped locations listed
// but not entered, what could not be read flagged and counted in `stats`;
// every children list sorted largest first, equal sizes in listing order.
// Progress goes to `stats`; setting its cancel flag stops the walk soon (the
// partial tree returned is then not meaningful). Never fails.
FSNode::Ptr scan(const std::string& root, const ScanOptions& options, ScanStats& stats);

// Allocated bytes of the file or folder at `path` (links never followed, one
// file system, skipped locations left out); 0 when it cannot be examined.
// `cancelled` is asked once per folder, from the walk's threads one at a time.
int64_t quickSize(const std::string& path, const ScanOptions& options = {},
                  const std::function<bool()>& cancelled = {});

// Hard-linked files already counted, shared by several quick sizes so that a
// file linked from two measured places counts once, at the first.
class CountedLinks {
public:
    // True the first time a file is met.
    bool countFirst(uint64_t dev, uint64_t ino);

private:
    // Split by key, so that the walk's threads seldom wait for one another.
    struct alignas(64) Shard {
        std::mutex lock;
        InodeTable<bool> seen;
    };
    std::array<Shard, 8> shards_;
};

// The same, counting a file with several links only when `links` meets it first.
int64_t quickSize(const std::string& path, const ScanOptions& options, const std::function<bool()>& cancelled,
                  CountedLinks* links);

// The bytes removing `path` would free: its quick size, except that a file
// with several links counts (once) only when every one of its links lies
// inside `path`; a file also linked from elsewhere frees nothing.
int64_t freedSize(const std::string& path, const ScanOptions& options = {},
                  const std::function<bool()>& cancelled = {});

// The name shown for a scan root: for "/" the root volume's name.
std::string displayName(const std::string& path);

} // namespace vessora::DiskScanner
