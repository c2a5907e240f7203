#include "platform/TrashRestore.h"

#include "platform/Trash.h"
#include "support/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::TrashRestore {

namespace {

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes Trash::encodePath; nothing for a malformed escape.
std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += char(high * 16 + low);
        i += 2;
    }
    return out;
}

// The top directory a file-system trash belongs to: $top/.Trash-$uid or $top/.Trash/$uid.
std::string topDirectoryOf(const std::string& trashFolder) {
    if (Paths::lastComponent(trashFolder).starts_with(".Trash-")) return Paths::parent(trashFolder);
    return Paths::parent(Paths::parent(trashFolder));
}

std::string dataHome() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') return Paths::standardize(x);
    return Paths::join(Paths::standardize(Paths::home()), ".local/share");
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The nearest folder at or above `path` that exists.
std::string existingAncestor(std::string path) {
    while (!path.empty() && path != "/" && !isDirectory(path)) path = Paths::parent(path);
    return path.empty() ? "/" : path;
}

// The path as the trash recorded it: its folder's links resolved, when the folder still exists.
std::string resolvedOriginal(const std::string& original) {
    std::string resolved = original;
    if (char* real = ::realpath(Paths::parent(original).c_str(), nullptr)) {
        resolved = Paths::join(real, Paths::lastComponent(original));
        std::free(real);
    }
    return resolved;
}

int64_t modifiedNanoseconds(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> infoNames(const std::string& trash) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(Paths::join(trash, "info").c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 10 && name.ends_with(".trashinfo")) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Drops the trashed folder's line from the trash's directorysizes cache,
// replacing the file atomically, as the trash wrote it.
void forgetDirectorySize(const std::string& trash, const std::string& name) {
    const std::string sizesPath = Paths::join(trash, "directorysizes");
    if (!exists(sizesPath)) return;
    std::istringstream in(readSmallFile(sizesPath));
    const std::string suffix = " " + Trash::encodePath(name);
    std::string kept, line;
    bool dropped = false;
    while (std::getline(in, line)) {
        if (line.ends_with(suffix)) {
            dropped = true;
            continue;
        }
        kept += line + "\n";
    }
    if (!dropped) return;
    std::string temporary = sizesPath + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return;
    bool written = ::write(fd, kept.data(), kept.size()) == ssize_t(kept.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), sizesPath.c_str()) != 0) ::unlink(temporary.c_str());
}

} // namespace

std::vector<std::string> candidateTrashes(const std::string& original) {
    std::vector<std::string> trashes;
    const std::string home = Paths::join(dataHome(), "Trash");
    if (isDirectory(home)) trashes.push_back(home);
    const std::string folder = existingAncestor(Paths::parent(original));
    struct stat folderStat, homeStat;
    if (::stat(folder.c_str(), &folderStat) != 0) return trashes;
    if (::stat(dataHome().c_str(), &homeStat) == 0 && homeStat.st_dev == folderStat.st_dev) return trashes;
    std::string top = folder;
    while (top != "/") {
        struct stat up;
        if (::stat(Paths::parent(top).c_str(), &up) != 0 || up.st_dev != folderStat.st_dev) break;
        top = Paths::parent(top);
    }
    const std::string uid = std::to_string(::geteuid());
    for (const std::string& trash : {Paths::join(Paths::join(top, ".Trash"), uid), Paths::join(top, ".Trash-" + uid)})
        if (isDirectory(trash)) trashes.push_back(trash);
    return trashes;
}

std::string recordedPath(const std::string& infoPath, const std::string& trashFolder) {
    std::istringstream in(readSmallFile(infoPath));
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup || !line.starts_with("Path=")) continue;
        auto path = percentDecode(std::string_view(line).substr(5));
        if (!path || path->empty()) return {};
        if (path->front() == '/') return Paths::standardize(*path);
        return Paths::standardize(Paths::join(topDirectoryOf(trashFolder), *path));
    }
    return {};
}

std::optional<TrashedItem> findNewest(const std::string& original) {
    const std::string wanted = Paths::standardize(original);
    const std::string resolved = resolvedOriginal(wanted);
    const std::string base = Paths::lastComponent(wanted);
    std::optional<TrashedItem> best;
    int64_t bestTime = -1;
    for (const std::string& trash : candidateTrashes(wanted)) {
        const auto names = infoNames(trash);
        // Trashed names start with the item's own name; anything else is
        // looked at only when no name does (a trash that renames differently).
        const std::string prefix = base.substr(0, std::min<size_t>(base.size(), 32));
        for (int pass = 0; pass < 2 && !best; ++pass) {
            for (const std::string& name : names) {
                if (pass == 0 && !name.starts_with(prefix)) continue;
                const std::string infoPath = Paths::join(Paths::join(trash, "info"), name);
                const std::string recorded = recordedPath(infoPath, trash);
                if (recorded != wanted && recorded != resolved) continue;
                const std::string location =
                    Paths::join(Paths::join(trash, "files"), name.substr(0, name.size() - 10));
                if (!exists(location)) continue;
                const int64_t time = modifiedNanoseconds(infoPath);
                if (time <= bestTime) continue;
                bestTime = time;
                best = TrashedItem{wanted, location, infoPath};
            }
        }
    }
    return best;
}

Outcome restore(const std::vector<TrashedItem>& items) {
    Outcome outcome;
    for (const TrashedItem& item : items) {
        auto refuse = [&](std::string reason) { outcome.refused.push_back({item.original, std::move(reason)}); };
        if (exists(item.original)) {
            refuse("Something else is at " + item.original + " now, so the copy stays in the Trash.");
            continue;
        }
        if (!exists(item.location) || !exists(item.infoPath)) {
            refuse("It is no longer in the Trash.");
            continue;
        }
        const std::string trash = Paths::parent(Paths::parent(item.location));
        const std::string recorded = recordedPath(item.infoPath, trash);
        if (recorded != item.original && recorded != resolvedOriginal(item.original)) {
            refuse("Its Trash record no longer names this path, so it stays in the Trash.");
            continue;
        }
        // Missing folders on the way back are made again, as they were before the removal.
        std::string folder = Paths::parent(item.original);
        std::vector<std::string> missing;
        for (std::string f = folder; f != "/" && !f.empty() && !exists(f); f = Paths::parent(f)) missing.push_back(f);
        int error = 0;
        for (auto it = missing.rbegin(); it != missing.rend() && !error; ++it)
            if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) error = errno;
        if (!error && ::renameat2(AT_FDCWD, item.location.c_str(), AT_FDCWD, item.original.c_str(),
                                  RENAME_NOREPLACE) != 0)
            error = errno;
        if (error == EEXIST) {
            refuse("Something else is at " + item.original + " now, so the copy stays in the Trash.");
            continue;
        }
        if (error == EXDEV) {
            refuse("Its folder is now on another disk, so it stays in the Trash.");
            continue;
        }
        if (error) {
            refuse(std::string("It could not be put back: ") + std::strerror(error) + ".");
            continue;
        }
        ::unlink(item.infoPath.c_str());
        forgetDirectorySize(trash, Paths::lastComponent(item.location));
        outcome.restored.push_back(item.original);
    }
    return outcome;
}

} // namespace vessora::TrashRestore
