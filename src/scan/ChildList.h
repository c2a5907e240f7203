#pragma once
// The children of a tree node, as one pointer: null while there are none,
// else one heap block holding the count and the capacity (4 bytes each) and
// then the shared pointers. A vector would take 24 bytes in every node; the
// block's 8-byte head costs nothing in practice, since a block of 16·n + 8
// bytes lands in the same allocator chunk as a vector's 16·n. The pointer is
// null exactly when there are no children, so that the window's many "has it
// children?" questions read the node alone and never the block.
//
// Readers see a read-only, contiguous sequence. Only FSNode changes a list:
// the scanner's threads build a node's list, and a list is never changed
// while another thread reads it (the same rules as for any standard
// container).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace vessora {

class FSNode;

class ChildList {
public:
    using Ptr = std::shared_ptr<FSNode>;
    using value_type = Ptr;
    using size_type = size_t;
    using difference_type = ptrdiff_t;
    using const_reference = const Ptr&;
    using const_iterator = const Ptr*;
    using iterator = const_iterator;

    ChildList() noexcept = default;
    ~ChildList() { clear(); }
    ChildList(const ChildList&) = delete;
    ChildList& operator=(const ChildList&) = delete;
    // Moving hands over the block; only a list one owns (such as the one
    // FSNode::replaceChildren returns) can be moved from.
    ChildList(ChildList&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    ChildList& operator=(ChildList&& other) noexcept {
        // The old elements are released after this list holds the new ones.
        ChildList old(std::move(*this));
        block_ = std::exchange(other.block_, nullptr);
        return *this;
    }

    const Ptr* data() const noexcept { return block_ ? cells() : nullptr; }
    const Ptr* begin() const noexcept { return data(); }
    const Ptr* end() const noexcept { return block_ ? cells() + block_->size : nullptr; }
    size_t size() const noexcept { return block_ ? block_->size : 0; }
    bool empty() const noexcept { return !block_; }
    const Ptr& operator[](size_t i) const noexcept { return cells()[i]; }
    const Ptr& at(size_t i) const;
    const Ptr& front() const noexcept { return cells()[0]; }
    const Ptr& back() const noexcept { return cells()[block_->size - 1]; }

    // A copy of the pointers, for a caller that reorders or extends them.
    std::vector<Ptr> toVector() const { return std::vector<Ptr>(begin(), end()); }

private:
    friend class FSNode;

    struct Head {
        uint32_t size;
        uint32_t capacity;
    };
    static_assert(sizeof(Head) % alignof(Ptr) == 0);

    Head* block_ = nullptr;

    static Ptr* cellsOf(Head* block) noexcept {
        return static_cast<Ptr*>(static_cast<void*>(reinterpret_cast<char*>(block) + sizeof(Head)));
    }
    Ptr* cells() const noexcept { return cellsOf(block_); }
    size_t capacity() const noexcept { return block_ ? block_->capacity : 0; }
    // The elements, to reorder in place.
    std::span<Ptr> elements() noexcept { return {block_ ? cells() : nullptr, size()}; }

    // Appends `child`; the list doubles when full. May throw std::bad_alloc
    // (the list is then unchanged).
    void push_back(Ptr child) {
        if (size() == capacity()) grow(block_ ? size_t(block_->capacity) * 2 : 1);
        ::new (static_cast<void*>(cells() + block_->size)) Ptr(std::move(child));
        ++block_->size;
    }
    // Room for `count` elements in all. May throw std::bad_alloc (the list
    // is then unchanged).
    void reserve(size_t count) {
        if (count > capacity()) grow(count);
    }
    // Takes out the element at `at` and returns it; the ones after it move up.
    // The last one out releases the block.
    Ptr erase(const Ptr* at) noexcept;
    // Releases every element and the block.
    void clear() noexcept;
    // Gives back the spare capacity; keeps it when memory is short.
    void shrink() noexcept;
    void swap(ChildList& other) noexcept { std::swap(block_, other.block_); }

    // Moves the elements into a block for `capacity` of them.
    void grow(size_t capacity);
    static Head* allocate(size_t capacity, bool nothrow);
    void adopt(Head* block) noexcept;
};

} // namespace vessora
