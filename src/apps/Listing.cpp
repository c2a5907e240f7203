#include "apps/Listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string_view>

namespace vessora::Listing {

std::vector<std::string> names(const std::string& path) {
    std::vector<std::string> result;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return result;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        result.emplace_back(name);
    }
    ::closedir(dir);
    return result;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace vessora::Listing
