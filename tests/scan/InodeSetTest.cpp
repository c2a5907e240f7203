#include "scan/InodeSet.h"

#include "scan/FSNode.h"

#include <gtest/gtest.h>

using namespace vessora;

namespace {

// A link's occurrence as the walk records it.
std::unique_ptr<LinkOccurrence> at(FSNode* dir, uint32_t top, uint32_t index, uint32_t foldersBefore) {
    auto occurrence = std::make_unique<LinkOccurrence>();
    occurrence->dir = dir;
    occurrence->top = top;
    occurrence->index = index;
    occurrence->foldersBefore = foldersBefore;
    return occurrence;
}

// Whether `first` comes before `second` in walk order: `second` is met first
// and counted, then `first` arrives and takes the count over exactly when it
// comes earlier (the one counted before is handed back).
bool takesOver(std::unique_ptr<LinkOccurrence> second, std::unique_ptr<LinkOccurrence> first) {
    InodeSet set;
    LinkOccurrence* stored = nullptr;
    EXPECT_TRUE(set.claim(1, std::move(second), &stored));
    const bool counted = set.claim(1, std::move(first), &stored);
    EXPECT_EQ(set.takeSuperseded().size(), counted ? 1u : 0u);
    return counted;
}

} // namespace

// One top-level folder t: t holds folders p, q (in that listing order, with a
// file listed between them), p holds folder r, r holds folder s.
TEST(InodeSet, LinksAreCountedAtTheFirstInWalkOrderWhicheverIsMetFirst) {
    auto t = FSNode::make("t", "/x/t", true);
    FSNode* p = FSNode::makeChild(*t, "p", true).get();
    FSNode::makeChild(*t, "file", false);
    FSNode* q = FSNode::makeChild(*t, "q", true).get();
    FSNode* r = FSNode::makeChild(*p, "r", true).get();
    FSNode* s = FSNode::makeChild(*r, "s", true).get();

    // The same folder: listing order.
    EXPECT_TRUE(takesOver(at(r, 0, 5, 0), at(r, 0, 2, 0)));
    EXPECT_FALSE(takesOver(at(r, 0, 2, 0), at(r, 0, 5, 0)));
    // Different top-level items: their order, whatever the folders.
    EXPECT_TRUE(takesOver(at(t.get(), 3, 0, 0), at(s, 1, 9, 0)));
    EXPECT_FALSE(takesOver(at(s, 1, 9, 0), at(nullptr, 3, 0, 0)));
    // A folder and one below it: the link in t comes first when no more
    // folders precede it than precede p, which leads to the other link;
    // equal counts mean p is listed after it.
    EXPECT_TRUE(takesOver(at(s, 0, 0, 0), at(t.get(), 0, 0, 0)));
    EXPECT_FALSE(takesOver(at(s, 0, 0, 0), at(t.get(), 0, 3, 1)));
    EXPECT_TRUE(takesOver(at(t.get(), 0, 3, 1), at(s, 0, 0, 0)));
    EXPECT_FALSE(takesOver(at(t.get(), 0, 0, 0), at(s, 0, 0, 0)));
    // The other way round, two levels apart: r leads from p to s.
    EXPECT_TRUE(takesOver(at(p, 0, 4, 1), at(s, 0, 0, 0)));
    EXPECT_FALSE(takesOver(at(p, 0, 4, 0), at(s, 0, 0, 0)));
    // Paths that part: p's whole content comes before q's.
    EXPECT_TRUE(takesOver(at(q, 0, 0, 0), at(s, 0, 7, 3)));
    EXPECT_FALSE(takesOver(at(s, 0, 7, 3), at(q, 0, 0, 0)));
    EXPECT_TRUE(takesOver(at(q, 0, 0, 0), at(r, 0, 1, 0)));
}
