#pragma once
// Which object on disk an item is: its device and inode, read without
// following a link, when it was measured. A removal compares it with what the
// item's path names when it acts, so that it only ever acts on the object the
// user was shown. The identity may be unknown (nothing could be read then).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vessora {

class ItemIdentity {
public:
    ItemIdentity() = default; // unknown
    ItemIdentity(uint64_t device, uint64_t inode) : device_(device), inode_(inode), known_(true) {}

    bool known() const { return known_; }
    uint64_t device() const { return device_; }
    uint64_t inode() const { return inode_; }

    // "DEVICE:INODE" in decimal; empty when unknown.
    std::string text() const;
    // The identity `text` gives; nothing for anything else.
    static std::optional<ItemIdentity> parse(std::string_view text);

    friend bool operator==(const ItemIdentity&, const ItemIdentity&) = default;

private:
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    bool known_ = false;
};

} // namespace vessora
