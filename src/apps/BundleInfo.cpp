#include "apps/BundleInfo.h"

#include "support/Paths.h"
#include "support/WholeFile.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstring>
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

struct PlistFree {
    void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// The text of a dictionary key, or nothing when it holds a NUL byte. The
// library's own key getter asserts that a key has no NUL (a binary plist can
// hold one in a UTF-16 key, an XML one as a raw byte) and so would abort the
// process; its XML writer copies the key's full length, so a NUL shows there
// first.
std::optional<std::string> keyText(plist_t keyNode) {
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(keyNode, &xml, &length);
    if (!xml) return std::nullopt;
    const bool hasNul = std::memchr(xml, '\0', length) != nullptr;
    plist_to_xml_free(xml);
    if (hasNul) return std::nullopt;
    char* key = nullptr;
    plist_get_key_val(keyNode, &key);
    if (!key) return std::nullopt;
    std::string text(key);
    free(key);
    return text;
}

std::map<std::string, std::string> stringEntries(plist_t dict) {
    std::map<std::string, std::string> out;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dict, &it);
    if (!it) return out;
    for (;;) {
        plist_t value = nullptr;
        plist_dict_next_item(dict, it, nullptr, &value);
        if (!value) break;
        if (plist_get_node_type(value) != PLIST_STRING) continue;
        // Length-aware: a string holding a NUL is no name or version a
        // screen could show, so the entry is left out like a non-string.
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(value, &length);
        if (!text || std::memchr(text, '\0', size_t(length))) continue;
        if (auto key = keyText(plist_dict_item_get_key(value)))
            out.emplace(std::move(*key), std::string(text, size_t(length)));
    }
    free(it);
    return out;
}

} // namespace

std::map<std::string, std::string> parse(std::string_view data) {
    if (data.empty() || data.size() > size_t(maxPlistBytes)) return {};
    plist_t root = nullptr;
    plist_from_memory(data.data(), uint32_t(data.size()), &root);
    PlistPtr owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) return {};
    return stringEntries(root);
}

std::map<std::string, std::string> read(const std::string& bundlePath) {
    // A macOS-style bundle keeps it in Contents; a flat bundle at its top.
    for (const char* relative : {"Contents/Info.plist", "Info.plist"}) {
        std::optional<std::string> data = WholeFile::read(Paths::join(bundlePath, relative), maxPlistBytes);
        if (data) return parse(*data);
    }
    return {};
}

std::optional<std::string> stringValue(const std::map<std::string, std::string>& info, const std::string& key) {
    auto it = info.find(key);
    if (it == info.end()) return std::nullopt;
    return it->second;
}

} // namespace vessora::BundleInfo
