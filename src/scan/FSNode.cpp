#include "scan/FSNode.h"

#include "support/Paths.h"

#include <algorithm>

namespace vessora {

FSNode::FSNode(Private, std::string name, std::unique_ptr<std::string> ownPath, bool isDirectory)
    : name_(std::move(name)), ownPath_(std::move(ownPath)), isDirectory_(isDirectory) {}

FSNode::Ptr FSNode::make(std::string name, std::string path, bool isDirectory) {
    return std::make_shared<FSNode>(Private{}, std::move(name), std::make_unique<std::string>(std::move(path)),
                                    isDirectory);
}

FSNode::Ptr FSNode::makeChild(FSNode& parent, std::string name, bool isDirectory) {
    auto node = std::make_shared<FSNode>(Private{}, std::move(name), nullptr, isDirectory);
    node->parent_ = &parent;
    parent.children_.push_back(node);
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
        for (Ptr& child : dying[i]->children_) {
            if (child.use_count() == 1)
                dying.push_back(child.get());
            else
                dying[i]->detachChild(*child);
        }
    }
    for (size_t i = dying.size(); i-- > 0;) dying[i]->children_.clear();
}

void FSNode::detachChild(FSNode& child) {
    if (!child.ownPath_) child.ownPath_ = std::make_unique<std::string>(child.path());
    child.parent_ = nullptr;
}

std::string FSNode::name() const {
    if (!isLump_) return name_;
    std::string text = name_ + " smaller item";
    if (name_ != "1") text += 's';
    return text;
}

void FSNode::appendPath(std::string& out) const {
    // Collect the chain up to the nearest node that knows its own path, then
    // append the names downwards; no recursion, whatever the depth.
    std::vector<const FSNode*> chain;
    const FSNode* n = this;
    while (!n->ownPath_ && n->parent_) {
        if (!n->isLump_) chain.push_back(n);
        n = n->parent_;
    }
    out = n->ownPath_ ? *n->ownPath_ : std::string();
    for (size_t i = chain.size(); i-- > 0;) {
        if (!out.empty() && out.back() != '/') out += '/';
        out += chain[i]->name_;
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
    Ptr removed = std::move(*it);
    children_.erase(it);
    detachChild(*removed);
    return removed;
}

void FSNode::eraseChild(const FSNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(), [&](const Ptr& c) { return c.get() == child; });
    if (it == children_.end()) return;
    if (it->use_count() > 1) detachChild(**it);
    children_.erase(it);
}

void FSNode::renameLump(int64_t count) { name_ = std::to_string(count); }

const std::vector<FSNode::Ptr>* FSNode::outlineChildren() const {
    if (!isDirectory_ || children_.empty()) return nullptr;
    return &children_;
}

void FSNode::sortRecursively() {
    std::vector<FSNode*> work{this};
    while (!work.empty()) {
        FSNode* node = work.back();
        work.pop_back();
        std::stable_sort(node->children_.begin(), node->children_.end(),
                         [](const Ptr& a, const Ptr& b) { return a->size > b->size; });
        for (const Ptr& child : node->children_)
            if (child->isDirectory_ && !child->children_.empty()) work.push_back(child.get());
    }
}

} // namespace vessora
