#pragma once
// Helpers the catalogue tests share.

#include "TestSupport.h"

#include <cstdint>
#include <set>
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

// A temporary folder that HOME names, the XDG folders following it, for the
// object's life.
struct TempHome : TempDir {
    ScopedEnv home{"HOME", path()}, config{"XDG_CONFIG_HOME", std::nullopt}, data{"XDG_DATA_HOME", std::nullopt},
        cache{"XDG_CACHE_HOME", std::nullopt};
};

} // namespace vessora::test
