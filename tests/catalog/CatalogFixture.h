#pragma once
// Helpers the catalogue tests share.

#include "TestSupport.h"
#include "platform/CleanupEntry.h"

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

namespace vessora::test {

// The allocated bytes of everything below `path` that is not a folder, counted
// from lstat alone and staying on one file system: the sum the catalogue's
// sizes must equal, computed without the scanner. With `links`, a file with
// several links counts only the first time any call sharing the set meets it.
using LinkSet = std::set<std::pair<uint64_t, uint64_t>>;
int64_t lstatTreeSize(const std::string& path, LinkSet* links = nullptr);

// A symbolic link whose target is long enough that the link gets a block of
// its own on disk-backed file systems.
std::string makeLongLink(const std::string& path, const std::string& target);

// The words of `text`, split at spaces: paths without spaces listed compactly.
std::vector<std::string> words(const std::string& text);

// The entries' paths, in their order.
std::vector<std::string> urlsOf(const std::vector<CleanupEntry>& entries);

// The row of a table (targets or categories) with `id`.
template <class Row> Row rowNamed(const std::vector<Row>& rows, const std::string& id) {
    for (const Row& row : rows)
        if (row.id == id) return row;
    throw std::runtime_error("no row " + id);
}

// A temporary folder that HOME names, the XDG folders following it, for the
// object's life.
struct TempHome : TempDir {
    ScopedEnv home{"HOME", path()}, config{"XDG_CONFIG_HOME", std::nullopt}, data{"XDG_DATA_HOME", std::nullopt},
        cache{"XDG_CACHE_HOME", std::nullopt};
};

} // namespace vessora::test
