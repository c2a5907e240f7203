#include "apps/DpkgDatabase.h"

#include "apps/Listing.h"
#include "support/Paths.h"

#include <charconv>
#include <fstream>
#include <optional>

namespace vessora::DpkgDatabase {

std::map<std::string, std::string> owners(const std::string& root, const std::set<std::string>& paths) {
    std::map<std::string, std::string> result;
    if (paths.empty()) return result;
    const std::string info = Paths::join(root, "info");
    // Each list is read line by line and only the asked-for paths are kept,
    // so a desktop with thousands of packages costs no more memory than one.
    for (const std::string& name : Listing::names(info)) {
        if (!name.ends_with(".list")) continue;
        std::string package = name.substr(0, name.size() - 5);
        if (size_t colon = package.find(':'); colon != std::string::npos) package.resize(colon);
        std::ifstream in(Paths::join(info, name));
        std::string line;
        while (std::getline(in, line))
            if (paths.count(line) && !result.count(line)) result.emplace(line, package);
        if (result.size() == paths.size()) break;
    }
    return result;
}

std::map<std::string, Package> packages(const std::string& root, const std::set<std::string>& names) {
    std::map<std::string, Package> result;
    std::ifstream in(Paths::join(root, "status"));
    Package current;
    bool installed = false;
    auto finish = [&] {
        if (installed && names.count(current.name) && !result.count(current.name))
            result.emplace(current.name, current);
        current = {};
        installed = false;
    };
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            finish();
            continue;
        }
        auto value = [&](std::string_view field) -> std::optional<std::string> {
            if (!line.starts_with(field) || line.size() <= field.size() || line[field.size()] != ':') return {};
            std::string v = line.substr(field.size() + 1);
            while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.erase(v.begin());
            while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
            return v;
        };
        if (auto v = value("Package"))
            current.name = *v;
        else if (auto v = value("Status"))
            installed = v->ends_with(" installed");
        else if (auto v = value("Version"))
            current.version = *v;
        else if (auto v = value("Installed-Size")) {
            int64_t kib = 0;
            if (std::from_chars(v->data(), v->data() + v->size(), kib).ec == std::errc() && kib >= 0)
                current.installedBytes = kib * 1024;
        }
    }
    finish();
    return result;
}

} // namespace vessora::DpkgDatabase
