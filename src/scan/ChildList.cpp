#include "scan/ChildList.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

namespace vessora {

const ChildList::Ptr& ChildList::at(size_t i) const {
    if (i >= size()) throw std::out_of_range("ChildList::at");
    return cells()[i];
}

ChildList::Head* ChildList::allocate(size_t capacity, bool nothrow) {
    const size_t bytes = sizeof(Head) + capacity * sizeof(Ptr);
    void* memory = nothrow ? ::operator new(bytes, std::nothrow) : ::operator new(bytes);
    if (!memory) return nullptr;
    return ::new (memory) Head{0, uint32_t(capacity)};
}

void ChildList::grow(size_t capacity) {
    constexpr size_t most = std::numeric_limits<uint32_t>::max();
    if (size() == most) throw std::length_error("ChildList: too many children");
    adopt(allocate(std::min(capacity, most), false));
}

// Shared pointers move without throwing, so once the new block exists nothing
// can fail: the elements move over and the old block goes.
void ChildList::adopt(Head* block) noexcept {
    Head* old = std::exchange(block_, block);
    if (!old) return;
    std::uninitialized_move_n(cellsOf(old), old->size, cellsOf(block));
    std::destroy_n(cellsOf(old), old->size);
    block->size = old->size;
    ::operator delete(old);
}

ChildList::Ptr ChildList::erase(const Ptr* at) noexcept {
    Ptr* first = cells();
    Ptr* last = first + block_->size;
    Ptr* hole = first + (at - first);
    Ptr removed = std::move(*hole);
    std::move(hole + 1, last, hole);
    std::destroy_at(last - 1);
    if (--block_->size == 0) clear();
    return removed;
}

void ChildList::clear() noexcept {
    // The list is empty before any element is released, so whatever a dying
    // child's destructor does never sees half a list.
    Head* block = std::exchange(block_, nullptr);
    if (!block) return;
    std::destroy_n(cellsOf(block), block->size);
    ::operator delete(block);
}

void ChildList::shrink() noexcept {
    if (!block_ || block_->size == block_->capacity) return;
    if (Head* block = allocate(block_->size, true)) adopt(block);
}

} // namespace vessora
