// Scans from outside: the terminal scanners' JSON export and Vessora's own
// saved-scan files. Whatever the bytes, reading ends in a tree or a reason,
// never a crash; a tree that comes out keeps the invariants of a scan (sizes
// add up, one lump per folder, at most the nodes and depth allowed), and
// writing it out and reading it back, in either format, gives the same tree.

#include "FuzzCheck.h"
#include "scan/ScanArchive.h"
#include "scan/ScanExport.h"

#include <string>
#include <vector>

using namespace vessora;

namespace {

// Small limits, so that the fuzzer reaches them.
const ScanExport::Limits kLimits{64, 256, 4096, int64_t(1) << 40, 1 << 20};

// The tree's invariants; returns its node count.
size_t check(const FSNode& root, int maxDepth) {
    size_t nodes = 0;
    std::vector<std::pair<const FSNode*, int>> work{{&root, 0}};
    while (!work.empty()) {
        auto [node, depth] = work.back();
        work.pop_back();
        ++nodes;
        FUZZ_CHECK(depth <= maxDepth);
        FUZZ_CHECK(node->size >= 0 && node->logicalSize >= 0 && node->fileCount >= 0);
        if (node->children().empty()) continue;
        int64_t size = 0, logical = 0, files = 0;
        int lumps = 0;
        for (const auto& child : node->children()) {
            FUZZ_CHECK(child->parent() == node);
            size += child->size;
            logical += child->logicalSize;
            files += child->fileCount;
            lumps += child->isAggregate;
            work.emplace_back(child.get(), depth + 1);
        }
        FUZZ_CHECK(lumps <= 1);
        FUZZ_CHECK(size == node->size && logical == node->logicalSize && files == node->fileCount);
    }
    return nodes;
}

// Same shape, names, sizes and flags.
void same(const FSNode& a, const FSNode& b) {
    std::vector<std::pair<const FSNode*, const FSNode*>> work{{&a, &b}};
    while (!work.empty()) {
        auto [x, y] = work.back();
        work.pop_back();
        FUZZ_CHECK(x->size == y->size && x->logicalSize == y->logicalSize && x->fileCount == y->fileCount);
        FUZZ_CHECK(x->isAggregate == y->isAggregate && x->isDirectory() == y->isDirectory());
        FUZZ_CHECK(x->unreadable == y->unreadable && x->isNotDescended == y->isNotDescended);
        FUZZ_CHECK(x->modified == y->modified);
        FUZZ_CHECK(x->children().size() == y->children().size());
        if (x != &a) FUZZ_CHECK(x->name() == y->name());
        for (size_t i = 0; i < x->children().size(); ++i)
            work.emplace_back(x->children()[i].get(), y->children()[i].get());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in = fuzz::text(data, size);
    std::string error;
    if (std::optional<SavedScan> scan = ScanExport::parse(in, error, kLimits)) {
        FUZZ_CHECK(scan->tree && !scan->root.empty() && scan->root[0] == '/');
        FUZZ_CHECK(check(*scan->tree, kLimits.depth) <= size_t(kLimits.nodes) + 1);
        // Our export of it reads back as the same tree.
        std::string again;
        std::optional<SavedScan> back = ScanExport::parse(ScanExport::write(*scan, "0"), again);
        FUZZ_CHECK(back);
        same(*scan->tree, *back->tree);
        // And so does our own file of it.
        std::optional<SavedScan> saved = ScanArchive::decode(ScanArchive::encode(*scan), again);
        FUZZ_CHECK(saved);
        same(*scan->tree, *saved->tree);
    } else {
        FUZZ_CHECK(!error.empty());
    }
    // The same bytes as a saved scan: a tree, or refused with a reason.
    error.clear();
    if (!ScanArchive::decode(in, error)) FUZZ_CHECK(!error.empty());
    return 0;
}
