// dpkg's status file and a package's file list, as any installed .deb can
// shape them: only asked-for packages and paths come back, a path only as a
// whole line of the list, and a package's size is a whole number of KiB that
// fits a signed 64-bit count, or unknown, never negative.

#include "FuzzCheck.h"
#include "apps/DpkgDatabase.h"

#include <set>
#include <string>

using namespace vessora;

namespace {

std::set<std::string> lines(std::string_view text) {
    std::set<std::string> out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        out.emplace(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);

    // The status file, asked about a few usual names and the input's first line.
    const std::set<std::string> names = {"big", "example-editor", "a", std::string(fuzz::halves(in).first)};
    for (const auto& [name, package] : DpkgDatabase::parseStatus(in, names)) {
        FUZZ_CHECK(names.count(name) && package.name == name);
        FUZZ_CHECK(package.version.find('\n') == std::string::npos);
        if (package.installedBytes) FUZZ_CHECK(*package.installedBytes >= 0 && *package.installedBytes % 1024 == 0);
    }
    FUZZ_CHECK(DpkgDatabase::installedSizeBytes(fuzz::halves(in).first).value_or(0) >= 0);

    // A list, asked about every line of its first half and a few fixed paths.
    const auto [asked, list] = fuzz::halves(in);
    std::set<std::string> paths = lines(asked);
    paths.insert({"/usr/bin/x", "/", ""});
    const std::set<std::string> present = lines(list);
    for (const std::string& path : DpkgDatabase::listedPaths(list, paths))
        FUZZ_CHECK(paths.count(path) && present.count(path));
    return 0;
}
