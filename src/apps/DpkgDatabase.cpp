#include "apps/DpkgDatabase.h"

#include "support/FolderListing.h"
#include "support/Paths.h"

#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace vessora::DpkgDatabase {
namespace {

// Lines as both files hold them, '\n'-separated; a path in a list may end
// in any other byte, so nothing is trimmed here.
template <typename Stream, typename Visit> void eachLine(Stream& in, Visit visit) {
    std::string line;
    while (std::getline(in, line))
        if (!visit(line)) break;
}

template <typename Stream> std::map<std::string, Package> readStatus(Stream& in, const std::set<std::string>& names) {
    std::map<std::string, Package> result;
    Package current;
    bool installed = false;
    auto finish = [&] {
        if (installed && names.count(current.name) && !result.count(current.name))
            result.emplace(current.name, current);
        current = {};
        installed = false;
    };
    eachLine(in, [&](const std::string& line) {
        if (line.empty()) {
            finish();
            return true;
        }
        auto value = [&](std::string_view field) -> std::optional<std::string> {
            if (!line.starts_with(field) || line.size() <= field.size() || line[field.size()] != ':') return {};
            std::string v = line.substr(field.size() + 1);
            while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.erase(v.begin());
            while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.pop_back();
            return v;
        };
        if (auto v = value("Package"))
            current.name = *v;
        else if (auto v = value("Status"))
            installed = v->ends_with(" installed");
        else if (auto v = value("Version"))
            current.version = *v;
        else if (auto v = value("Installed-Size"))
            current.installedBytes = installedSizeBytes(*v);
        return true;
    });
    finish();
    return result;
}

} // namespace

std::optional<int64_t> installedSizeBytes(std::string_view kib) {
    uint64_t value = 0;
    const char* end = kib.data() + kib.size();
    auto [at, error] = std::from_chars(kib.data(), end, value);
    if (error != std::errc() || at != end || kib.empty()) return std::nullopt;
    if (value > uint64_t(std::numeric_limits<int64_t>::max()) / 1024) return std::nullopt;
    return int64_t(value * 1024);
}

std::set<std::string> listedPaths(std::string_view list, const std::set<std::string>& paths) {
    std::set<std::string> found;
    std::istringstream in{std::string(list)};
    eachLine(in, [&](const std::string& line) {
        if (paths.count(line)) found.insert(line);
        return found.size() < paths.size();
    });
    return found;
}

std::map<std::string, std::string> owners(const std::string& root, const std::set<std::string>& paths) {
    std::map<std::string, std::string> result;
    if (paths.empty()) return result;
    const std::string info = Paths::join(root, "info");
    // Each list is read line by line and only the asked-for paths are kept,
    // so a desktop with thousands of packages costs no more memory than one.
    for (const std::string& name : FolderListing::namesOrEmpty(info)) {
        if (!name.ends_with(".list")) continue;
        std::string package = name.substr(0, name.size() - 5);
        if (size_t colon = package.find(':'); colon != std::string::npos) package.resize(colon);
        std::ifstream in(Paths::join(info, name));
        eachLine(in, [&](const std::string& line) {
            if (paths.count(line) && !result.count(line)) result.emplace(line, package);
            return true;
        });
        if (result.size() == paths.size()) break;
    }
    return result;
}

std::map<std::string, Package> packages(const std::string& root, const std::set<std::string>& names) {
    std::ifstream in(Paths::join(root, "status"));
    return readStatus(in, names);
}

std::map<std::string, Package> parseStatus(std::string_view status, const std::set<std::string>& names) {
    std::istringstream in{std::string(status)};
    return readStatus(in, names);
}

} // namespace vessora::DpkgDatabase
