#pragma once
// Reads dpkg's own database files (never runs dpkg): which package owns a
// path, and each installed package's version and size.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vessora::DpkgDatabase {

struct Package {
    std::string name;
    std::string version;
    // Installed-Size, which dpkg keeps in KiB, in bytes; absent when the
    // field is missing or holds no size a disk could have (any .deb can write it).
    std::optional<int64_t> installedBytes;
    bool operator==(const Package&) const = default;
};

// The package owning each of `paths` that a package owns, from
// `root`/info/*.list ("name:arch.list" counts as "name"). `root` is
// "/var/lib/dpkg" on a live system.
std::map<std::string, std::string> owners(const std::string& root, const std::set<std::string>& paths);

// The installed packages among `names`, from `root`/status.
std::map<std::string, Package> packages(const std::string& root, const std::set<std::string>& names);

// The same over the text of a status file.
std::map<std::string, Package> parseStatus(std::string_view status, const std::set<std::string>& names);

// Which of `paths` a package's list (one path a line) names.
std::set<std::string> listedPaths(std::string_view list, const std::set<std::string>& paths);

// Installed-Size's value in bytes: decimal KiB, nothing when it is not a
// plain unsigned number or its bytes would not fit a signed 64-bit count.
std::optional<int64_t> installedSizeBytes(std::string_view kib);

} // namespace vessora::DpkgDatabase
