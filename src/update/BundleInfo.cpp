#include "update/BundleInfo.h"

#include "support/Paths.h"

#include <plist/plist.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace vessora::BundleInfo {

std::optional<std::string> string(const std::string& bundle, const std::string& key) {
    std::ifstream in(Paths::join(bundle, "Contents/Info.plist"), std::ios::binary);
    if (!in) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > (16u << 20)) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (!root) return std::nullopt;
    std::optional<std::string> result;
    if (plist_get_node_type(root) == PLIST_DICT) {
        plist_t node = plist_dict_get_item(root, key.c_str());
        if (node && plist_get_node_type(node) == PLIST_STRING) {
            char* value = nullptr;
            plist_get_string_val(node, &value);
            if (value) result = std::string(value);
            std::free(value);
        }
    }
    plist_free(root);
    return result;
}

std::string runningBundle() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    std::string executable(buffer, static_cast<size_t>(length));
    std::string macos = Paths::parent(executable);
    std::string contents = Paths::parent(macos);
    std::string bundle = Paths::parent(contents);
    if (Paths::lastComponent(macos) != "MacOS" || Paths::lastComponent(contents) != "Contents" ||
        Paths::extension(bundle) != "app")
        return {};
    return bundle;
}

} // namespace vessora::BundleInfo
