#include "scan/ScanComparison.h"

#include "support/Fmt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace vessora {

namespace {
const std::vector<FSNode::Ptr> kNone;
} // namespace

std::shared_ptr<const ScanComparison> ScanComparison::make(FSNode::Ptr earlier, FSNode::Ptr later) {
    std::shared_ptr<ScanComparison> c(new ScanComparison);
    c->earlier_ = std::move(earlier);
    c->later_ = std::move(later);
    if (!c->earlier_ || !c->later_) return c;
    c->counterpart_.emplace(c->later_.get(), c->earlier_.get());
    c->held_.push_back(c->later_);
    // Folder pairs still to match, without recursion.
    std::vector<std::pair<const FSNode*, const FSNode*>> work{{c->earlier_.get(), c->later_.get()}};
    std::unordered_map<std::string, const FSNode*> byName;
    std::vector<const FSNode*> unmatched;
    while (!work.empty()) {
        auto [then, now] = work.back();
        work.pop_back();
        byName.clear();
        const FSNode* thenLump = nullptr;
        for (const auto& child : then->children()) {
            if (child->isAggregate)
                thenLump = child.get();
            else
                byName.emplace(child->name(), child.get());
        }
        for (const auto& child : now->children()) {
            c->held_.push_back(child);
            const FSNode* match = nullptr;
            if (child->isAggregate) {
                match = thenLump;
            } else if (auto it = byName.find(child->name());
                       it != byName.end() && it->second->isDirectory() == child->isDirectory()) {
                match = it->second;
                byName.erase(it);
            }
            if (!match) {
                // New, and so is everything inside it.
                c->counterpart_.emplace(child.get(), nullptr);
                std::vector<const FSNode*> inside{child.get()};
                while (!inside.empty()) {
                    const FSNode* at = inside.back();
                    inside.pop_back();
                    for (const auto& grandchild : at->children()) {
                        c->held_.push_back(grandchild);
                        c->counterpart_.emplace(grandchild.get(), nullptr);
                        inside.push_back(grandchild.get());
                    }
                }
                continue;
            }
            if (match == thenLump) thenLump = nullptr;
            c->counterpart_.emplace(child.get(), match);
            if (child->isDirectory() && (!child->children().empty() || !match->children().empty()))
                work.emplace_back(match, child.get());
        }
        // What is left of the earlier folder is gone; in its order (largest first).
        unmatched.clear();
        for (const auto& child : then->children()) {
            const bool left = child->isAggregate ? child.get() == thenLump : byName.count(child->name()) > 0;
            if (left) unmatched.push_back(child.get());
        }
        if (unmatched.empty()) continue;
        auto& placeholders = c->goneFrom_[now];
        for (const FSNode* old : unmatched) {
            FSNode::Ptr ghost = FSNode::makeUnattachedChild(const_cast<FSNode&>(*now), old->name(), old->isDirectory());
            ghost->isAggregate = old->isAggregate;
            ghost->modified = old->modified;
            c->gone_.emplace(ghost.get(), old);
            placeholders.push_back(std::move(ghost));
        }
        std::stable_sort(placeholders.begin(), placeholders.end(), [&](const FSNode::Ptr& a, const FSNode::Ptr& b) {
            return c->gone_.at(a.get())->size > c->gone_.at(b.get())->size;
        });
    }
    return c;
}

const FSNode* ScanComparison::earlier(const FSNode& node) const {
    if (auto it = counterpart_.find(&node); it != counterpart_.end()) return it->second;
    if (auto it = gone_.find(&node); it != gone_.end()) return it->second;
    return nullptr;
}

const std::vector<FSNode::Ptr>& ScanComparison::goneFrom(const FSNode& folder) const {
    auto it = goneFrom_.find(&folder);
    return it == goneFrom_.end() ? kNone : it->second;
}

int64_t ScanComparison::earlierSize(const FSNode& node) const {
    const FSNode* then = earlier(node);
    return then ? then->size : 0;
}

int64_t ScanComparison::delta(const FSNode& node) const { return (isGone(node) ? 0 : node.size) - earlierSize(node); }

double ScanComparison::percent(const FSNode& node) const {
    const int64_t before = earlierSize(node);
    if (before <= 0 || !earlier(node)) return NAN;
    return 100.0 * double(delta(node)) / double(before);
}

ScanComparison::Change ScanComparison::change(const FSNode& node) const {
    if (isGone(node)) return Change::gone;
    const FSNode* then = earlier(node);
    if (!then) return Change::added;
    if (node.size > then->size) return Change::grew;
    if (node.size < then->size) return Change::shrank;
    return Change::same;
}

std::vector<ScanComparison::Entry> ScanComparison::changes() const {
    std::vector<Entry> out;
    if (!later_) return out;
    std::vector<const FSNode*> work{later_.get()};
    auto consider = [&](const FSNode::Ptr& node) {
        const Change kind = change(*node);
        if (kind == Change::same) return;
        Entry entry;
        entry.node = node;
        entry.then = earlier(*node);
        entry.change = kind;
        entry.before = entry.then ? entry.then->size : 0;
        entry.after = kind == Change::gone ? 0 : node->size;
        out.push_back(std::move(entry));
    };
    while (!work.empty()) {
        const FSNode* folder = work.back();
        work.pop_back();
        for (const auto& child : folder->children()) {
            consider(child);
            if (child->isDirectory() && !child->children().empty()) work.push_back(child.get());
        }
        for (const auto& ghost : goneFrom(*folder)) consider(ghost);
    }
    std::vector<std::string> paths(out.size());
    for (size_t i = 0; i < out.size(); ++i) paths[i] = out[i].node->path();
    std::vector<size_t> order(out.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int64_t da = out[a].after - out[a].before, db = out[b].after - out[b].before;
        if (da != db) return da > db;
        if (paths[a] != paths[b]) return paths[a] < paths[b];
        return out[a].node->isAggregate < out[b].node->isAggregate;
    });
    std::vector<Entry> sorted;
    sorted.reserve(out.size());
    for (size_t i : order) sorted.push_back(std::move(out[i]));
    return sorted;
}

std::string ScanComparison::deltaText(int64_t delta) {
    if (delta == 0) return "no change";
    const int64_t magnitude = delta == INT64_MIN ? INT64_MAX : std::abs(delta);
    return (delta > 0 ? "+" : "-") + Fmt::bytes(magnitude);
}

std::string ScanComparison::percentText(int64_t delta, int64_t before) {
    if (before <= 0) return {};
    const double p = 100.0 * double(delta) / double(before);
    char text[32];
    // Whole percents, but a small change keeps one decimal rather than
    // reading as none.
    if (std::abs(p) < 9.95 && std::abs(p) >= 0.05)
        std::snprintf(text, sizeof text, "%+.1f%%", p);
    else
        std::snprintf(text, sizeof text, "%+.0f%%", p);
    return text;
}

const char* ScanComparison::changeName(Change change) {
    switch (change) {
    case Change::grew: return "grew";
    case Change::shrank: return "shrank";
    case Change::added: return "new";
    case Change::gone: return "gone";
    case Change::same: break;
    }
    return "same";
}

} // namespace vessora
