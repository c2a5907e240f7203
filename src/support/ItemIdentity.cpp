#include "support/ItemIdentity.h"

#include <charconv>

namespace vessora {

std::string ItemIdentity::text() const {
    if (!known_) return {};
    return std::to_string(device_) + ":" + std::to_string(inode_);
}

std::optional<ItemIdentity> ItemIdentity::parse(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    uint64_t device = 0, inode = 0;
    const char* end = text.data() + text.size();
    auto a = std::from_chars(text.data(), text.data() + colon, device);
    auto b = std::from_chars(text.data() + colon + 1, end, inode);
    if (colon == 0 || a.ec != std::errc() || a.ptr != text.data() + colon || colon + 1 == text.size() ||
        b.ec != std::errc() || b.ptr != end)
        return std::nullopt;
    return ItemIdentity(device, inode);
}

} // namespace vessora
