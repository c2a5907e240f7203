#include "support/Fmt.h"

#include <gtest/gtest.h>

using namespace vessora;
using namespace std::chrono;

TEST(Fmt, BytesUseDecimalUnitsAndHalfEvenRoundingCountsAreGrouped) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "Zero KB"},
        {1, "0 KB"},
        {550, "1 KB"},
        {999'498, "999 KB"},
        {999'499, "1 MB"},
        {123'456'789, "123.5 MB"},
        {999'999'999, "1 GB"},
        {12'345'678'987, "12.35 GB"},
        {2'000'000'000'000'000, "2,000 TB"},
    };
    for (auto [n, text] : cases) EXPECT_EQ(Fmt::bytes(n, "en_US"), text) << n;
    EXPECT_EQ(Fmt::bytes(1'234'567, "de_DE"), "1,2 MB");
    EXPECT_EQ(Fmt::bytes(12'345'678'987, "de_DE"), "12,35 GB");
    EXPECT_EQ(Fmt::count(1234567, "en_US"), "1,234,567");
    EXPECT_EQ(Fmt::count(1234567, "de_DE"), "1.234.567");
}

TEST(Fmt, CountedNounsAreSingularOnlyForOne) {
    EXPECT_EQ(Fmt::counted(0, "item"), "0 items");
    EXPECT_EQ(Fmt::counted(1, "item"), "1 item");
    EXPECT_EQ(Fmt::counted(-1, "app"), "-1 apps");
    EXPECT_EQ(Fmt::counted(1, "category", "categories"), "1 category");
    EXPECT_EQ(Fmt::counted(5, "category", "categories"), "5 categories");
    EXPECT_EQ(Fmt::counted(1234, "item"), Fmt::count(1234) + " items");
    EXPECT_EQ(Fmt::agree(1, "needs", "need"), "needs");
    EXPECT_EQ(Fmt::agree(2, "needs", "need"), "need");
}

TEST(Fmt, RelativeDates) {
    const Date now = sys_days{2026y / 3 / 15} + 12h;
    EXPECT_EQ(Fmt::relativeDate(std::nullopt, now, "en_US"), "unknown");
    EXPECT_EQ(Fmt::relativeDate(now, now, "en_US"), "in 0 seconds");
    EXPECT_EQ(Fmt::relativeDate(now - 2h - 10min, now, "en_US"), "2 hours ago");
    EXPECT_EQ(Fmt::relativeDate(now + 49h, now, "en_US"), "in 2 days");
    EXPECT_EQ(Fmt::relativeDate(now - days(15), now, "en_US"), "2 weeks ago");
    EXPECT_EQ(Fmt::relativeDate(now - days(800), now, "en_US"), "2 years ago");
    EXPECT_EQ(Fmt::relativeDate(now - 2h, now, "de_DE"), "vor 2 Stunden");
}
