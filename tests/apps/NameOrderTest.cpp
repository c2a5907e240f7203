#include "support/NameOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <string>
#include <vector>

using namespace vessora;

namespace {
std::vector<std::string> sorted(std::vector<std::string> names, const std::string& locale) {
    std::stable_sort(names.begin(), names.end(),
                     [&](const std::string& a, const std::string& b) { return NameOrder::compare(a, b, locale) < 0; });
    return names;
}
} // namespace

TEST(NameOrder, NumbersByValueAndCaseOnlyBreaksTies) {
    // en_US_POSIX is what LANG=C gives; its ASCII tailoring must not leak in.
    for (const std::string locale : {"en_US", "en_US_POSIX", "de_DE", ""}) {
        SCOPED_TRACE(locale);
        EXPECT_EQ(sorted({"App 10", "Gamma", "beta", "App 2", "Alpha", "app 3", "Zebra 1.10", "Zebra 1.9"}, locale),
                  (std::vector<std::string>{"Alpha", "App 2", "app 3", "App 10", "beta", "Gamma", "Zebra 1.9",
                                            "Zebra 1.10"}));
    }
}

TEST(NameOrder, OnlyIdenticalBytesCompareEqual) {
    const std::string composed = "Caf\xC3\xA9", decomposed = "Cafe\xCC\x81";
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"Notes", "notes"},       // case only
        {composed, decomposed},   // canonically equivalent spellings
        {"a b", "ab"},            // spaces and punctuation are not ignored
        {"a-b", "a_b"},           //
        {"file\xFF", "file\xFE"}, // invalid UTF-8 both become U+FFFD in the collator
        {"App 02", "App 2"},      // same numeric value
    };
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(a + " / " + b);
        int ab = NameOrder::compare(a, b), ba = NameOrder::compare(b, a);
        EXPECT_NE(ab, 0);
        EXPECT_EQ(ab, -ba);
    }
    EXPECT_EQ(NameOrder::compare("Same", "Same"), 0);
    // Equivalent spellings still sort next to each other, not by raw bytes.
    EXPECT_LT(NameOrder::compare(decomposed, "Cafg"), 0);
    EXPECT_LT(NameOrder::compare(composed, "Cafg"), 0);
}

TEST(NameOrder, SafeFromSeveralThreads) {
    std::vector<std::string> names;
    for (int i = 200; i > 0; --i) names.push_back((i % 2 ? "item " : "Item ") + std::to_string(i));
    std::vector<std::vector<std::string>> results(4);
    {
        std::vector<std::jthread> threads;
        for (auto& result : results) threads.emplace_back([&names, &result] { result = sorted(names, ""); });
    }
    for (const auto& result : results) EXPECT_EQ(result, sorted(names, ""));
}
