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
    EXPECT_EQ(std::tuple(Fmt::bytes(1'234'567, "de_DE"), Fmt::bytes(12'345'678'987, "de_DE")),
              std::tuple("1,2 MB", "12,35 GB"));
    EXPECT_EQ(std::tuple(Fmt::count(1234567, "en_US"), Fmt::count(1234567, "de_DE")),
              std::tuple("1,234,567", "1.234.567"));
}

TEST(Fmt, CountedNounsAreSingularOnlyForOne) {
    EXPECT_EQ(std::tuple(Fmt::counted(0, "item"), Fmt::counted(1, "item"), Fmt::counted(-1, "app")),
              std::tuple("0 items", "1 item", "-1 apps"));
    EXPECT_EQ(std::tuple(Fmt::counted(1, "category", "categories"), Fmt::counted(5, "category", "categories")),
              std::tuple("1 category", "5 categories"));
    EXPECT_EQ(Fmt::counted(1234, "item"), Fmt::count(1234) + " items");
    EXPECT_EQ(std::tuple(Fmt::agree(1, "needs", "need"), Fmt::agree(2, "needs", "need")), std::tuple("needs", "need"));
}

TEST(Fmt, RelativeDates) {
    const Date now = sys_days{2026y / 3 / 15} + 12h;
    const std::pair<std::optional<Date>, const char*> cases[] = {
        {std::nullopt, "unknown"}, {now, "in 0 seconds"},           {now - 2h - 10min, "2 hours ago"},
        {now + 49h, "in 2 days"},  {now - days(15), "2 weeks ago"}, {now - days(800), "2 years ago"}};
    for (const auto& [date, text] : cases) EXPECT_EQ(Fmt::relativeDate(date, now, "en_US"), text) << text;
    EXPECT_EQ(Fmt::relativeDate(now - 2h, now, "de_DE"), "vor 2 Stunden");
}
