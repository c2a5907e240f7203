#include "apps/BundleInfo.h"

#include "support/Paths.h"

#include <plist/plist.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace vessora::BundleInfo {
namespace {

// Real Info.plist files are a few kilobytes; anything this large is not one,
// and reading it would only cost memory.
constexpr off_t maxPlistBytes = 8 << 20;

// The whole regular file at `path`, or nothing. O_NONBLOCK and the S_ISREG
// test keep a FIFO or device planted as Info.plist from blocking the scan.
std::optional<std::string> readRegularFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::optional<std::string> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxPlistBytes) {
        std::string data(size_t(st.st_size), '\0');
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += size_t(n);
        }
        data.resize(done);
        result = std::move(data);
    }
    ::close(fd);
    return result;
}

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

std::map<std::string, std::string> stringEntries(plist_t dict) {
    std::map<std::string, std::string> out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    if (!it) return out;
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, &key, &value);
        if (!key) break;
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(value, &text);
            if (text) out.emplace(key, text);
            free(text);
        }
        free(key);
    }
    free(it);
    return out;
}

} // namespace

std::map<std::string, std::string> read(const std::string& bundlePath) {
    // A macOS-style bundle keeps it in Contents; a flat bundle at its top.
    for (const char* relative : {"Contents/Info.plist", "Info.plist"}) {
        std::optional<std::string> data = readRegularFile(Paths::join(bundlePath, relative));
        if (!data) continue;
        if (data->empty()) return {};
        plist_t root = nullptr;
        plist_from_memory(data->data(), uint32_t(data->size()), &root);
        PlistPtr owner(root);
        if (!root || plist_get_node_type(root) != PLIST_DICT) return {};
        return stringEntries(root);
    }
    return {};
}

std::optional<std::string> stringValue(const std::map<std::string, std::string>& info, const std::string& key) {
    auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    return it->second;
}

} // namespace vessora::BundleInfo
