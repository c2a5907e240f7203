#include "apps/RunningApps.h"

#include "apps/BundleInfo.h"
#include "support/Paths.h"
#include "support/ProcessList.h"
#include "support/WholeFile.h"

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::RunningApps {

namespace {

std::optional<std::string> readLink(const std::string& path) {
    std::string target(4096, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || size_t(n) >= target.size()) return std::nullopt;
    target.resize(size_t(n));
    // The kernel marks an executable replaced or removed after start.
    if (target.ends_with(" (deleted)")) target.resize(target.size() - 10);
    return target;
}

// The innermost bundle around `executable`: the nearest "*.app" folder above
// it that holds Contents/Info.plist.
std::string enclosingBundle(const std::string& executable) {
    for (std::string folder = Paths::parent(executable); folder != "/" && !folder.empty();
         folder = Paths::parent(folder)) {
        if (Paths::extension(folder) != "app") continue;
        struct stat st;
        if (::stat(Paths::join(folder, "Contents/Info.plist").c_str(), &st) == 0) return folder;
    }
    return {};
}

struct BundleFacts {
    std::string id;
    std::string name;
};

} // namespace

std::string flatpakAppId(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with('[')) {
            inGroup = line == "[Application]";
            continue;
        }
        if (inGroup && line.starts_with("name=")) return line.substr(5);
    }
    return {};
}

std::vector<RunningApp> find(const std::string& bundleID, const std::string& procRoot) {
    std::vector<RunningApp> running;
    if (bundleID.empty()) return running;
    // Many processes share one bundle (helpers, renderers): read each
    // Info.plist once per call.
    std::map<std::string, BundleFacts> bundles;
    for (const auto& [pid, process] : ProcessList::all(procRoot)) {
        if (auto executable = readLink(Paths::join(process, "exe"))) {
            const std::string bundle = enclosingBundle(*executable);
            if (!bundle.empty()) {
                auto it = bundles.find(bundle);
                if (it == bundles.end()) {
                    auto info = BundleInfo::read(bundle);
                    BundleFacts facts{BundleInfo::stringValue(info, "CFBundleIdentifier").value_or(""), {}};
                    facts.name = BundleInfo::stringValue(info, "CFBundleDisplayName")
                                     .value_or(BundleInfo::stringValue(info, "CFBundleName")
                                                   .value_or(Paths::deletingExtension(Paths::lastComponent(bundle))));
                    it = bundles.emplace(bundle, std::move(facts)).first;
                }
                if (it->second.id == bundleID) {
                    running.push_back({pid, bundle, it->second.name});
                    continue;
                }
            }
        }
        auto flatpakInfo = WholeFile::read(Paths::join(process, "root/.flatpak-info"), 1 << 20);
        if (flatpakInfo && flatpakAppId(*flatpakInfo) == bundleID) running.push_back({pid, {}, bundleID});
    }
    return running;
}

std::set<std::string> runningPrograms(const std::vector<std::string>& names, const std::string& procRoot) {
    std::set<std::string> found;
    if (names.empty()) return found;
    auto note = [&](const std::string& seen, bool cut) {
        for (const std::string& name : names)
            if (seen == name || (cut && seen.size() == 15 && name.starts_with(seen))) found.insert(name);
    };
    for (const ProcessList::Process& process : ProcessList::all(procRoot)) {
        if (auto executable = readLink(Paths::join(process.folder, "exe")))
            note(Paths::lastComponent(*executable), false);
        if (auto comm = WholeFile::read(Paths::join(process.folder, "comm"), 4096); comm && !comm->empty()) {
            if (comm->back() == '\n') comm->pop_back();
            note(*comm, true);
        }
    }
    return found;
}

} // namespace vessora::RunningApps
