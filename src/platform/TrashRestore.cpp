#include "platform/TrashRestore.h"

#include "platform/ItemHandle.h"
#include "support/Paths.h"
#include "support/UniqueFd.h"
#include "support/WholeFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::TrashRestore {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Undoes Trash::encodePath; nothing for a malformed escape or a NUL, which no
// path can hold.
std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            c = char(high * 16 + low);
            i += 2;
        }
        if (c == '\0') return std::nullopt;
        out += c;
    }
    return out;
}

// Every component a name of its own: no "." or "..".
bool plainComponents(std::string_view path) {
    for (size_t at = 0; at <= path.size();) {
        size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(at, end - at);
        if (component == "." || component == "..") return false;
        at = end + 1;
    }
    return true;
}

bool singleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// A record found but not readable as one (too long, not a file) names nothing.
std::string readInfo(int infoFd, const std::string& name, bool& found) {
    // A record is a few lines; anything longer than a path can be is not one.
    std::optional<std::string> contents = WholeFile::readAt(infoFd, name, 65536);
    found = contents || errno == EFBIG || errno == EINVAL;
    return contents.value_or("");
}

const char* const stays = ", so it stays in the Trash.";

} // namespace

std::optional<std::string> parseInfoPath(std::string_view contents, const std::string& top) {
    bool inGroup = false;
    for (size_t start = 0; start < contents.size();) {
        size_t end = contents.find('\n', start);
        if (end == std::string_view::npos) end = contents.size();
        std::string_view line = contents.substr(start, end - start);
        start = end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.starts_with('[')) {
            inGroup = line == "[Trash Info]";
            continue;
        }
        if (!inGroup || !line.starts_with("Path=")) continue;
        auto path = percentDecode(line.substr(5));
        if (!path || path->empty() || !plainComponents(*path)) return std::nullopt;
        std::string absolute;
        if (path->front() == '/') {
            absolute = Paths::standardize(*path);
        } else {
            // Relative to the top of the trash's own file system, and only there.
            if (top.empty() || !top.starts_with('/')) return std::nullopt;
            absolute = Paths::standardize(Paths::join(top, *path));
            if (absolute == Paths::standardize(top) || !Paths::isInside(absolute, top)) return std::nullopt;
        }
        if (absolute == "/" || !absolute.starts_with('/')) return std::nullopt;
        return absolute;
    }
    return std::nullopt;
}

namespace {

// Puts one item back, or says why it stays in the Trash.
Result<void> restoreOne(const Trash::Entry& item, const DestinationGuard& guard) {
    const std::string& original = item.original;
    if (!original.starts_with('/') || Paths::standardize(original) != original || original == "/" ||
        original.find('\0') != std::string::npos || !singleName(item.name))
        return Reason{std::string("Its record is not valid") + stays};
    Trash::Folder trash = Trash::openOwnTrash(item.trash);
    if (!trash.ok()) return Reason{"It is not in one of your Trash folders, so it is not put back."};
    struct stat st;
    if (::fstat(trash.fd(), &st) != 0 || uint64_t(st.st_dev) != item.trashDevice ||
        uint64_t(st.st_ino) != item.trashInode)
        return Reason{std::string("Its Trash folder is not the one it was moved to") + stays};
    UniqueFd files{::openat(trash.fd(), "files", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    UniqueFd info{::openat(trash.fd(), "info", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    const std::string infoName = item.name + ".trashinfo";
    bool infoFound = false;
    const std::string contents = info.get() >= 0 ? readInfo(info.get(), infoName, infoFound) : std::string();
    if (files.get() < 0 || ::fstatat(files.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !infoFound)
        return Reason{"It is no longer in the Trash."};
    if (uint64_t(st.st_dev) != item.device || uint64_t(st.st_ino) != item.inode)
        return Reason{std::string("What its Trash entry holds now is not what was moved there") + stays};
    if (parseInfoPath(contents, trash.top()) != original)
        return Reason{std::string("Its Trash record no longer names this path") + stays};
    if (guard)
        if (Result<void> allowed = guard(original); !allowed)
            return Reason{allowed.reason() + " It stays in the Trash."};
    // Missing folders on the way back are made again, as they were before
    // the removal; none of them is followed if it is a link.
    UniqueFd folder{openFolderByComponents(Paths::parent(original), true)};
    if (folder.get() < 0) {
        const int e = errno;
        if (e == ELOOP || e == ENOTDIR)
            return Reason{std::string("A folder on its way back is now a link or not a folder") + stays};
        return Reason{std::string("It could not be put back: ") + std::strerror(e) + "."};
    }
    const std::string name = Paths::lastComponent(original);
    int error = 0;
    if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        error = EEXIST;
    else if (::renameat2(files.get(), item.name.c_str(), folder.get(), name.c_str(), RENAME_NOREPLACE) != 0)
        error = errno;
    if (error == EEXIST) return Reason{"Something else is at " + original + " now, so the copy stays in the Trash."};
    if (error == EXDEV) return Reason{std::string("Its folder is now on another disk") + stays};
    if (error) return Reason{std::string("It could not be put back: ") + std::strerror(error) + "."};
    ::unlinkat(info.get(), infoName.c_str(), 0);
    Trash::forgetDirectorySize(trash.fd(), item.name);
    return {};
}

} // namespace

Outcome restore(const std::vector<Trash::Entry>& items, const DestinationGuard& guard) {
    Outcome outcome;
    for (const Trash::Entry& item : items) {
        if (Result<void> restored = restoreOne(item, guard); !restored)
            outcome.refused.push_back({item.original, restored.reason()});
        else
            outcome.restored.push_back(item.original);
    }
    return outcome;
}

} // namespace vessora::TrashRestore
