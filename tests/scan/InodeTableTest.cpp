#include "scan/InodeTable.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

using namespace vessora;

// Keys as the walk makes them: inodes of one file system, dense and often
// differing in their low bits only, and keys that differ only in their high
// bits (other devices). Every key keeps its own value through the table's
// growth, a key met again is found rather than added, and a value that only
// moves (an owning pointer) survives the moves.
TEST(InodeTable, KeepsEveryKeyAndValueThroughGrowth) {
    InodeTable<std::unique_ptr<uint64_t>> table;
    std::map<uint64_t, uint64_t> expected;
    std::mt19937_64 rng(3);
    auto add = [&](uint64_t key) {
        auto [value, inserted] = table.findOrInsert(key);
        EXPECT_EQ(inserted, expected.count(key) == 0) << key;
        if (inserted) {
            *value = std::make_unique<uint64_t>(key * 7);
            expected[key] = key * 7;
        }
    };
    for (uint64_t i = 0; i < 20000; ++i) add(1000 + i);
    for (uint64_t i = 0; i < 2000; ++i) add(i << 40);
    for (int i = 0; i < 20000; ++i) add(rng() % 50000);
    add(0);
    EXPECT_EQ(table.size(), expected.size());
    size_t seen = 0;
    table.forEach([&](uint64_t key, const std::unique_ptr<uint64_t>& value) {
        ++seen;
        ASSERT_TRUE(value) << key;
        EXPECT_EQ(*value, expected[key]) << key;
    });
    EXPECT_EQ(seen, expected.size());
    for (const auto& [key, value] : expected) {
        auto [found, inserted] = table.findOrInsert(key);
        EXPECT_FALSE(inserted);
        EXPECT_EQ(**found, value);
    }
}
