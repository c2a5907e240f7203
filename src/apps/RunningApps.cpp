#include "apps/RunningApps.h"

#include "apps/BundleInfo.h"
#include "support/Paths.h"
#include "support/WholeFile.h"

#include <dirent.h>
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
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir) return running;
    // Many processes share one bundle (helpers, renderers): read each
    // Info.plist once per call.
    std::map<std::string, BundleFacts> bundles;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string process = Paths::join(procRoot, name);
        const int pid = std::atoi(name.c_str());
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
    ::closedir(dir);
    return running;
}

std::set<std::string> runningPrograms(const std::vector<std::string>& names, const std::string& procRoot) {
    std::set<std::string> found;
    if (names.empty()) return found;
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir) return found;
    auto note = [&](const std::string& seen, bool cut) {
        for (const std::string& name : names)
            if (seen == name || (cut && seen.size() == 15 && name.starts_with(seen))) found.insert(name);
    };
    while (dirent* entry = ::readdir(dir)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string process = Paths::join(procRoot, pid);
        if (auto executable = readLink(Paths::join(process, "exe"))) note(Paths::lastComponent(*executable), false);
        // The kernel reports a size of 0 for its own files: read what is there.
        if (int fd = ::open(Paths::join(process, "comm").c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
            char buffer[64];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            ::close(fd);
            if (n > 0) {
                std::string comm(buffer, size_t(n));
                if (comm.back() == '\n') comm.pop_back();
                note(comm, true);
            }
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace vessora::RunningApps
