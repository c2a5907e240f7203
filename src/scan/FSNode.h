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
// Memory: a node inside the tree stores only its own name; its path is derived
// from its parent's. Only a root or a detached node stores its full path.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vessora {

class FSNode {
    struct Private {};

public:
    using Ptr = std::shared_ptr<FSNode>;

    // A free-standing node (a scan root, or a node built by hand).
    static Ptr make(std::string name, std::string path, bool isDirectory);
    // A node whose path is the parent's path followed by `name`, appended to
    // `parent`'s children. The scanner builds its trees this way.
    static Ptr makeChild(FSNode& parent, std::string name, bool isDirectory);
    // The lump of `count` small files of `parent`, appended as its last child.
    static Ptr makeLump(FSNode& parent, int64_t count, int64_t bytes, int64_t logicalBytes);

    FSNode(Private, std::string name, std::unique_ptr<std::string> ownPath, bool isDirectory);
    ~FSNode();
    FSNode(const FSNode&) = delete;
    FSNode& operator=(const FSNode&) = delete;

    // What the node is called on screen ("12 smaller items" for a lump).
    std::string name() const;
    // The absolute path; a lump carries its directory's path.
    std::string path() const;
    bool isDirectory() const { return isDirectory_; }

    int64_t size = 0;             // allocated bytes of all files counted in or below
    int64_t logicalSize = 0;      // their lengths
    int64_t fileCount = 0;        // files counted in or below (1 for a file)
    int64_t dirCount = 0;         // directories below, the node itself not included
    bool isAggregate = false;     // the lump of its directory's small files
    bool unreadable = false;      // the item, or something inside it, could not be read
    bool isNotDescended = false;  // listed but not entered; sizes stay 0
    bool isCloudProvider = false; // with isNotDescended: a cloud provider's folder

    const std::vector<Ptr>& children() const { return children_; }
    // The node whose children hold this one; null for a root or a detached node.
    FSNode* parent() const { return parent_; }

    // Appends `child` (which must not have a parent) to the children.
    void appendChild(Ptr child);
    // Takes `child` (matched by identity) out of the children; it keeps its
    // path and becomes a root of its own. Returns it, or null when absent.
    Ptr removeChild(const FSNode* child);

    // The children an outline may expand: null for a file, a lump, a skipped
    // location or an empty directory; otherwise the children.
    const std::vector<Ptr>* outlineChildren() const;

    // Sorts every children list below this node in place, largest size first,
    // keeping the order of equal sizes. Uses no recursion.
    void sortRecursively();

    // Identity: two nodes are equal only when they are the same object.
    const void* id() const { return this; }
    friend bool operator==(const FSNode& a, const FSNode& b) { return &a == &b; }

    // For the scanner's hard-link correction: a lump's file count changed.
    void renameLump(int64_t count);
    // Takes `child` out of the children without detaching it (it is dropped).
    void eraseChild(const FSNode* child);

private:
    std::string name_;                     // a lump stores only its count's digits
    std::unique_ptr<std::string> ownPath_; // null: derived from the parent
    FSNode* parent_ = nullptr;
    std::vector<Ptr> children_;
    bool isDirectory_ = false;
    bool isLump_ = false; // the path is the parent's own

    void appendPath(std::string& out) const;
    void detachChild(FSNode& child);
};

} // namespace vessora

template <> struct std::hash<vessora::FSNode> {
    size_t operator()(const vessora::FSNode& node) const noexcept { return std::hash<const void*>()(node.id()); }
};
