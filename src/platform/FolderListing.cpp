#include "platform/FolderListing.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

namespace vessora::FolderListing {

std::optional<std::vector<std::string>> names(const std::string& path) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) return std::nullopt;
    std::vector<std::string> result;
    for (;;) {
        // readdir reports an error only through errno, and leaves it alone at the end.
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;
        std::string_view name(entry->d_name);
        if (name != "." && name != "..") result.emplace_back(name);
    }
    if (errno != 0) {
        const int error = errno;
        dir.reset();
        errno = error;
        return std::nullopt;
    }
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace vessora::FolderListing
