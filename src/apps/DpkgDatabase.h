#pragma once
// Reads dpkg's own database files (never runs dpkg): which package owns a
// path, and each installed package's version and size.

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace vessora::DpkgDatabase {

struct Package {
    std::string name;
    std::string version;
    int64_t installedBytes = 0; // Installed-Size, which dpkg keeps in KiB
    bool operator==(const Package&) const = default;
};

// The package owning each of `paths` that a package owns, from
// `root`/info/*.list ("name:arch.list" counts as "name"). `root` is
// "/var/lib/dpkg" on a live system.
std::map<std::string, std::string> owners(const std::string& root, const std::set<std::string>& paths);

// The installed packages among `names`, from `root`/status.
std::map<std::string, Package> packages(const std::string& root, const std::set<std::string>& names);

} // namespace vessora::DpkgDatabase
