// The squarified layout.

#include "ui/browse/Squarify.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vessora {
namespace {

std::vector<std::pair<int, double>> items(const std::vector<double>& values) {
    std::vector<std::pair<int, double>> result;
    for (size_t i = 0; i < values.size(); ++i) result.emplace_back(int(i), values[i]);
    return result;
}

double round2(double v) { return std::round(v * 100) / 100; }

void expectRects(const std::vector<std::pair<int, LayoutRect>>& placed, const std::vector<LayoutRect>& expected) {
    ASSERT_EQ(placed.size(), expected.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        EXPECT_EQ(placed[i].first, int(i));
        const LayoutRect& r = placed[i].second;
        EXPECT_EQ((LayoutRect{round2(r.x), round2(r.y), round2(r.w), round2(r.h)}), expected[i]) << "item " << i;
    }
}

TEST(Squarify, WorkedExamples) {
    expectRects(Squarify::layout(items({6, 6, 4, 3, 2, 2, 1}), {0, 0, 600, 400}), {{0, 0, 300, 200},
                                                                                   {0, 200, 300, 200},
                                                                                   {300, 0, 171.43, 233.33},
                                                                                   {471.43, 0, 128.57, 233.33},
                                                                                   {300, 233.33, 120, 166.67},
                                                                                   {420, 233.33, 120, 166.67},
                                                                                   {540, 233.33, 60, 166.67}});
    // A measure equal to the row's worst still joins the row.
    expectRects(Squarify::layout(items({1, 1}), {0, 0, 100, 100}), {{0, 0, 100, 50}, {0, 50, 100, 50}});
}

TEST(Squarify, StoppingRules) {
    const std::tuple<const char*, std::vector<double>, LayoutRect, size_t> cases[] = {
        {"nothing to place", {}, {0, 0, 100, 100}, 0},
        {"only zeros", {0, 0}, {0, 0, 100, 100}, 0},
        {"trailing zero is left out", {3, 1, 0}, {0, 0, 100, 100}, 2},
        {"no width", {1, 2}, {0, 0, 0, 100}, 0},
        {"side under 0.5", {1, 1}, {0, 0, 0.4, 100}, 0},
        {"rest thinner than 1 point", {1000, 1}, {0, 0, 100, 100}, 1},
    };
    for (const auto& [what, values, rect, placed] : cases)
        EXPECT_EQ(Squarify::layout(items(values), rect).size(), placed) << what;
}

} // namespace
} // namespace vessora
