#include "CatalogFixture.h"

#include <dirent.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vessora::test {

namespace {
int64_t walk(const std::string& path, dev_t device, LinkSet* links) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) {
        if (links && S_ISREG(st.st_mode) && st.st_nlink > 1 && !links->insert({st.st_dev, st.st_ino}).second) return 0;
        return int64_t(st.st_blocks) * 512;
    }
    if (st.st_dev != device) return 0;
    int64_t total = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") total += walk(path + "/" + name, device, links);
        }
        ::closedir(dir);
    }
    return total;
}
} // namespace

int64_t lstatTreeSize(const std::string& path, LinkSet* links) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return walk(path, st.st_dev, links);
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

std::vector<std::string> urlsOf(const std::vector<CleanupEntry>& entries) {
    std::vector<std::string> out;
    for (const CleanupEntry& e : entries) out.push_back(e.url);
    return out;
}

std::string makeLongLink(const std::string& path, const std::string& target) {
    std::string padded = target;
    while (padded.size() < 300) padded = "./" + padded;
    (void)::symlink(padded.c_str(), path.c_str());
    return path;
}

} // namespace vessora::test
