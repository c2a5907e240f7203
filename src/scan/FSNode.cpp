#include "scan/FSNode.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <span>
#include <utility>
#include <vector>

namespace vessora {

namespace {

// The devices nodes were measured on, in the order first met, for the whole
// process: a node keeps one byte for its device instead of eight. Scans meet
// few devices, so a lookup is a short scan of the filled places, without a
// lock; only a new device takes one.
constexpr uint32_t kDeviceSlots = 255;
std::atomic<uint64_t> devices[kDeviceSlots];
std::atomic<uint32_t> deviceCount{0};
std::mutex deviceLock;

uint8_t slotOf(uint64_t device) {
    uint32_t count = deviceCount.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count; ++i)
        if (devices[i].load(std::memory_order_relaxed) == device) return uint8_t(i + 1);
    std::lock_guard<std::mutex> guard(deviceLock);
    count = deviceCount.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < count; ++i)
        if (devices[i].load(std::memory_order_relaxed) == device) return uint8_t(i + 1);
    if (count == kDeviceSlots) return 0; // full: the identity stays unknown
    devices[count].store(device, std::memory_order_relaxed);
    deviceCount.store(count + 1, std::memory_order_release);
    return uint8_t(count + 1);
}

} // namespace

// The budget the header states: a larger node costs every scan dearly.
static_assert(sizeof(void*) != 8 || sizeof(FSNode) <= 88, "FSNode outgrew its 88 bytes");

ItemIdentity FSNode::identity() const {
    if (deviceSlot_ == 0) return {};
    return ItemIdentity(devices[deviceSlot_ - 1].load(std::memory_order_relaxed), inode_);
}

void FSNode::setIdentity(const ItemIdentity& identity) {
    deviceSlot_ = identity.known() ? slotOf(identity.device()) : 0;
    inode_ = deviceSlot_ != 0 ? identity.inode() : 0;
}

FSNode::Label::Label(std::string_view name, const std::string* path) { assign(name, path); }

FSNode::Label::~Label() {
    if (tag() & kHeap) delete[] heapBytes();
}

char* FSNode::Label::heapBytes() const {
    char* bytes;
    std::memcpy(&bytes, raw_, sizeof bytes);
    return bytes;
}

uint32_t FSNode::Label::heapLength(size_t which) const {
    uint32_t length;
    std::memcpy(&length, raw_ + 8 + 4 * which, sizeof length);
    return length;
}

void FSNode::Label::assign(std::string_view name, const std::string* path) {
    char* old = (tag() & kHeap) ? heapBytes() : nullptr;
    if (!path && name.size() < kInline) {
        std::memcpy(raw_, name.data(), name.size());
        raw_[23] = char(name.size());
    } else {
        uint32_t nameLength = uint32_t(name.size()), pathLength = uint32_t(path ? path->size() : 0);
        char* bytes = new char[nameLength + pathLength];
        std::memcpy(bytes, name.data(), nameLength);
        if (path) std::memcpy(bytes + nameLength, path->data(), pathLength);
        std::memcpy(raw_, &bytes, sizeof bytes);
        std::memcpy(raw_ + 8, &nameLength, 4);
        std::memcpy(raw_ + 12, &pathLength, 4);
        raw_[23] = char(path ? kHeapPath : kHeap);
    }
    delete[] old;
}

std::string_view FSNode::Label::name() const {
    if (tag() & kHeap) return {heapBytes(), heapLength(0)};
    return {raw_, tag()};
}

std::string_view FSNode::Label::path() const {
    if (!hasPath()) return {};
    return {heapBytes() + heapLength(0), heapLength(1)};
}

FSNode::FSNode(Private, std::string_view name, const std::string* path, bool isDirectory)
    : label_(name, path), isDirectory_(isDirectory) {}

FSNode::Ptr FSNode::make(std::string_view name, const std::string& path, bool isDirectory) {
    return std::make_shared<FSNode>(Private{}, name, &path, isDirectory);
}

FSNode::Ptr FSNode::makeChild(FSNode& parent, std::string_view name, bool isDirectory) {
    auto node = std::make_shared<FSNode>(Private{}, name, nullptr, isDirectory);
    node->parent_ = &parent;
    parent.children_.push_back(node);
    return node;
}

FSNode::Ptr FSNode::makeUnattachedChild(FSNode& parent, std::string_view name, bool isDirectory) {
    auto node = std::make_shared<FSNode>(Private{}, name, nullptr, isDirectory);
    node->parent_ = &parent;
    return node;
}

FSNode::Ptr FSNode::makeLump(FSNode& parent, int64_t count, int64_t bytes, int64_t logicalBytes) {
    auto node = std::make_shared<FSNode>(Private{}, std::to_string(count), nullptr, false);
    node->isLump_ = true;
    node->isAggregate = true;
    node->size = bytes;
    node->logicalSize = logicalBytes;
    node->fileCount = count;
    node->parent_ = &parent;
    parent.children_.push_back(node);
    return node;
}

// Releasing a deep tree must not recurse once per level, and a child that
// something else still holds must keep a valid path. So the subtree that dies
// with this node is collected first (descending only into children nobody
// else holds), the survivors get their own paths while every ancestor still
// exists, and the dying nodes are emptied deepest first so each one is
// already childless when it is destroyed.
FSNode::~FSNode() {
    if (children_.empty()) return;
    std::vector<FSNode*> dying{this};
    for (size_t i = 0; i < dying.size(); ++i) {
        for (const Ptr& child : dying[i]->children_) {
            if (child.use_count() == 1)
                dying.push_back(child.get());
            else
                dying[i]->detachChild(*child);
        }
    }
    for (size_t i = dying.size(); i-- > 0;) dying[i]->children_.clear();
}

void FSNode::detachChild(FSNode& child) {
    if (!child.label_.hasPath()) {
        std::string path = child.path();
        std::string name(child.label_.name());
        child.label_.assign(name, &path);
    }
    child.parent_ = nullptr;
}

std::string FSNode::name() const {
    std::string text(label_.name());
    if (!isLump_) return text;
    text += text == "1" ? " smaller item" : " smaller items";
    return text;
}

std::string_view FSNode::name(std::string& scratch) const {
    if (!isLump_) return label_.name();
    scratch = name();
    return scratch;
}

void FSNode::appendPath(std::string& out) const {
    // Collect the chain up to the nearest node that knows its own path, then
    // append the names downwards; no recursion, whatever the depth.
    std::vector<const FSNode*> chain;
    const FSNode* n = this;
    while (!n->label_.hasPath() && n->parent_) {
        if (!n->isLump_) chain.push_back(n);
        n = n->parent_;
    }
    out = n->label_.path();
    for (size_t i = chain.size(); i-- > 0;) {
        if (!out.empty() && out.back() != '/') out += '/';
        out += chain[i]->label_.name();
    }
}

std::string FSNode::path() const {
    std::string out;
    appendPath(out);
    return out;
}

void FSNode::appendChild(Ptr child) {
    child->parent_ = this;
    children_.push_back(std::move(child));
}

FSNode::Ptr FSNode::removeChild(const FSNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(), [&](const Ptr& c) { return c.get() == child; });
    if (it == children_.end()) return nullptr;
    detachChild(**it);
    return children_.erase(it);
}

ChildList FSNode::replaceChildren(FSNode& other) {
    ChildList old = std::exchange(children_, ChildList());
    for (const Ptr& child : old) detachChild(*child);
    children_ = std::exchange(other.children_, ChildList());
    for (const Ptr& child : children_) child->parent_ = this;
    return old;
}

void FSNode::eraseChild(const FSNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(), [&](const Ptr& c) { return c.get() == child; });
    if (it == children_.end()) return;
    if (it->use_count() > 1) detachChild(**it);
    children_.erase(it);
}

void FSNode::renameLump(int64_t count) {
    std::string digits = std::to_string(count);
    label_.assign(digits, nullptr);
}

const ChildList* FSNode::outlineChildren() const {
    if (!isDirectory_ || children_.empty()) return nullptr;
    return &children_;
}

void FSNode::sortChildren() {
    const std::span<Ptr> children = children_.elements();
    const auto larger = [](const Ptr& a, const Ptr& b) { return a->size > b->size; };
    // Most lists are short: sorted by insertion, they need no buffer (a
    // stable sort allocates one), and a sorted list is left as it is.
    if (children.size() > 16) {
        std::stable_sort(children.begin(), children.end(), larger);
        return;
    }
    for (size_t i = 1; i < children.size(); ++i) {
        if (!larger(children[i], children[i - 1])) continue;
        Ptr moving = std::move(children[i]);
        size_t j = i;
        for (; j > 0 && larger(moving, children[j - 1]); --j) children[j] = std::move(children[j - 1]);
        children[j] = std::move(moving);
    }
}

void FSNode::sortRecursively() {
    std::vector<FSNode*> work{this};
    while (!work.empty()) {
        FSNode* node = work.back();
        work.pop_back();
        node->sortChildren();
        for (const Ptr& child : node->children_)
            if (child->isDirectory_ && !child->children_.empty()) work.push_back(child.get());
    }
}

} // namespace vessora
