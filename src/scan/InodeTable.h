#pragma once
// An open-addressing table from 64-bit file keys to values, for the walk's
// hard-link bookkeeping: one contiguous array probed linearly, so a lookup
// reads a cache line or two of one page. A node-based map scatters its
// entries over the heap, and on a virtual machine the address translations
// that costs took longer than everything else the lookup does. Not
// synchronized; the walk guards each table with a lock.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vessora {

template <typename Value> class InodeTable {
public:
    // The value under `key`, and whether it was inserted now (value-initialized).
    // The pointer is valid until the next insertion.
    std::pair<Value*, bool> findOrInsert(uint64_t key) {
        if ((used_ + 1) * 4 > slots_.size() * 3) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = place(key) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                slot.used = true;
                slot.key = key;
                ++used_;
                return {&slot.value, true};
            }
            if (slot.key == key) return {&slot.value, false};
        }
    }
    size_t size() const { return used_; }
    template <typename Each> void forEach(Each&& each) const {
        for (const Slot& slot : slots_)
            if (slot.used) each(slot.key, slot.value);
    }

private:
    struct Slot {
        uint64_t key = 0;
        bool used = false;
        Value value{};
    };
    // Keys of files in one folder differ in their low bits only: the
    // multiplication spreads them over the table.
    static size_t place(uint64_t key) { return size_t((key * 0xBF58476D1CE4E5B9ull) >> 24); }
    void grow() {
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slots_.empty() ? 64 : slots_.size() * 2));
        used_ = 0;
        for (Slot& slot : old)
            if (slot.used) *findOrInsert(slot.key).first = std::move(slot.value);
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

} // namespace vessora
