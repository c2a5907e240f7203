#pragma once
// One node of a scanned tree: a directory, a file, the lump of a directory's
// small files, or a location that was listed but not entered.
//
// Ownership: a parent owns its children through shared pointers; a child
// refers to its parent through a plain pointer that can never dangle, because
// a parent clears it (after giving the child its own copy of its path) when it
// lets go of a child that something else still holds. Screens may therefore
// keep any node after it left the tree.
//
// Memory: a scan of a million files holds one node per folder, per lump and
// per large file, so a node is kept to 88 bytes: with the shared pointer's
// 16-byte control block that is a 104-byte request, which the allocator serves
// from a 112-byte chunk; one more byte would cost 16 per node. The children
// take one pointer (see ChildList). The identity takes 8 bytes for the inode
// and, for the device, one byte that was padding, as an index into a table of
// the devices met (see identity()); the modification time takes 8.
// A node inside the tree stores only its own name (inline when short); its
// path is derived from its parent's. Only a root or a detached node stores
// its full path.

#include "scan/ChildList.h"
#include "support/ItemIdentity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vessora {

class FSNode {
    struct Private {};

    // The node's name, and for a root or detached node its own path: names of
    // up to 22 bytes sit inline; anything longer, or a name with a path, is
    // one heap block. 24 bytes.
    class Label {
    public:
        Label() = default;
        Label(std::string_view name, const std::string* path);
        ~Label();
        Label(const Label&) = delete;
        Label& operator=(const Label&) = delete;
        std::string_view name() const;
        bool hasPath() const { return (tag() & kHeapPath) == kHeapPath; }
        std::string_view path() const;
        void assign(std::string_view name, const std::string* path);

    private:
        static constexpr uint8_t kHeap = 0x80, kHeapPath = 0xC0;
        static constexpr size_t kInline = 23;
        // Inline: the name's bytes, then in the last byte its length. Heap:
        // the block's address, the name's and the path's lengths, and in the
        // last byte kHeap or kHeapPath.
        alignas(8) char raw_[24] = {};
        uint8_t tag() const { return uint8_t(raw_[23]); }
        char* heapBytes() const;
        uint32_t heapLength(size_t which) const;
    };

    Label label_;
    FSNode* parent_ = nullptr;
    ChildList children_;

    void appendPath(std::string& out) const;
    void detachChild(FSNode& child);

public:
    using Ptr = std::shared_ptr<FSNode>;

    // A free-standing node (a scan root, or a node built by hand).
    static Ptr make(std::string_view name, const std::string& path, bool isDirectory);
    // A node whose path is the parent's path followed by `name`, appended to
    // `parent`'s children. The scanner builds its trees this way.
    static Ptr makeChild(FSNode& parent, std::string_view name, bool isDirectory);
    // The same, joined to `parent`'s children only by appendChild later.
    static Ptr makeUnattachedChild(FSNode& parent, std::string_view name, bool isDirectory);
    // The lump of `count` small files of `parent`, appended as its last child.
    static Ptr makeLump(FSNode& parent, int64_t count, int64_t bytes, int64_t logicalBytes);

    FSNode(Private, std::string_view name, const std::string* path, bool isDirectory);
    ~FSNode();
    FSNode(const FSNode&) = delete;
    FSNode& operator=(const FSNode&) = delete;

    // What the node is called on screen ("12 smaller items" for a lump).
    std::string name() const;
    // The same without a copy where the name is stored as it reads; a lump's
    // is written into `scratch`, which the view then refers to.
    std::string_view name(std::string& scratch) const;
    // The absolute path; a lump carries its directory's path.
    std::string path() const;
    bool isDirectory() const { return isDirectory_; }

    int64_t size = 0;        // allocated bytes of all files counted in or below
    int64_t logicalSize = 0; // their lengths
    int64_t fileCount = 0;   // files counted in or below (1 for a file)
    // Last modification, seconds since 1970 (0: unknown): the item's own for a
    // file or folder, the newest of its files for a lump. Kept so that a saved
    // scan can tell when something changed.
    int64_t modified = 0;
    // Declared here so that it shares 8 bytes with the flags below.
    int32_t dirCount = 0;             // directories below, the node itself not included
    bool isAggregate : 1 = false;     // the lump of its directory's small files
    bool unreadable : 1 = false;      // the item, or something inside it, could not be read
    bool isNotDescended : 1 = false;  // listed but not entered; sizes stay 0
    bool isCloudProvider : 1 = false; // with isNotDescended: a cloud provider's folder

private:
    // Whole bytes, apart from the flags above: the scanner's threads read
    // these while another thread may set a flag on the same node.
    bool isDirectory_ = false;
    bool isLump_ = false;    // its name is a count, its path its directory's
    uint8_t deviceSlot_ = 0; // 0: identity unknown; else the device's place in the table, plus 1
    uint64_t inode_ = 0;

public:
    // Which object the node stood for when it was measured (device and
    // inode, a link's own); unknown for a lump, a location listed but not
    // entered, and when more devices were met than the table holds. A
    // removal acts on the node only while its path still names that object.
    ItemIdentity identity() const;
    // Set once, by whoever makes the node, before the node is shared.
    void setIdentity(const ItemIdentity& identity);

    const ChildList& children() const { return children_; }
    // The node whose children hold this one; null for a root or a detached node.
    FSNode* parent() const { return parent_; }

    // Appends `child` (which must not have a parent) to the children.
    void appendChild(Ptr child);
    // Takes `child` (matched by identity) out of the children; it keeps its
    // path and becomes a root of its own. Returns it, or null when absent.
    Ptr removeChild(const FSNode* child);

    // The children an outline may expand: null for a file, a lump, a skipped
    // location or an empty directory; otherwise the children.
    const ChildList* outlineChildren() const;

    // Sorts the children in place, largest size first, keeping the order of
    // equal sizes.
    void sortChildren();
    // The same for every children list below this node. Uses no recursion.
    void sortRecursively();

    // Identity: two nodes are equal only when they are the same object.
    const void* id() const { return this; }
    friend bool operator==(const FSNode& a, const FSNode& b) { return &a == &b; }

    // Moves `other`'s children (a fresh scan of this same folder) into this
    // node, in their order, and returns the children it had; those leave the
    // tree as with removeChild. Counts and flags are the caller's to copy.
    ChildList replaceChildren(FSNode& other);

    // For the scanner: a lump's file count changed after a hard-link correction.
    void renameLump(int64_t count);
    // For the scanner: takes `child` out of the children (it is dropped).
    void eraseChild(const FSNode* child);
    // For the scanner: gives back the spare capacity of the children list.
    void compactChildren() { children_.shrink(); }
    // For the scanner: room for `count` children in all, so that a list whose
    // length is known is allocated once.
    void reserveChildren(size_t count) { children_.reserve(count); }
};

} // namespace vessora
