#pragma once
// Squarified treemap layout: places weighted items in a rectangle so that
// each item's area is proportional to its value and the rectangles stay as
// close to square as the order allows. Pure; works for any item type.

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace vessora {

struct LayoutRect {
    double x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

namespace Squarify {

// `items` are (item, value) pairs in the order to place them, largest first.
// Returns (item, rect) pairs in placement order; items left over once the
// remaining space is thinner than the stopping limits are missing.
template <class T>
std::vector<std::pair<T, LayoutRect>> layout(const std::vector<std::pair<T, double>>& items, LayoutRect rect) {
    std::vector<std::pair<T, LayoutRect>> result;
    if (items.empty()) return result;
    double total = 0;
    for (const auto& item : items) total += item.second;
    if (!(total > 0) || !(rect.w > 0) || !(rect.h > 0)) return result;
    const double scale = rect.w * rect.h / total;
    constexpr double infinity = std::numeric_limits<double>::infinity();

    LayoutRect remaining = rect;
    size_t next = 0;
    std::vector<size_t> row;
    while (true) {
        const double side = std::min(remaining.w, remaining.h);
        if (!(side > 0.5)) break;

        row.clear();
        double worst = infinity, sum = 0, amin = infinity, amax = 0;
        while (next < items.size()) {
            const double area = items[next].second * scale;
            const double s = sum + area, lo = std::min(amin, area), hi = std::max(amax, area);
            const double measure = lo > 0 ? std::max(side * side * hi / (s * s), s * s / (side * side * lo)) : infinity;
            if (!row.empty() && measure > worst) break;
            row.push_back(next++);
            sum = s, amin = lo, amax = hi, worst = measure;
        }
        if (row.empty() || !(sum > 0)) break;

        if (remaining.h <= remaining.w) {
            // A column at the left edge, items stacked downwards.
            const double thickness = sum / remaining.h;
            double y = remaining.y;
            for (size_t i : row) {
                const double h = items[i].second * scale / thickness;
                result.emplace_back(items[i].first, LayoutRect{remaining.x, y, thickness, h});
                y += h;
            }
            remaining.x += thickness;
            remaining.w -= thickness;
        } else {
            // A strip along the top edge, items left to right.
            const double thickness = sum / remaining.w;
            double x = remaining.x;
            for (size_t i : row) {
                const double w = items[i].second * scale / thickness;
                result.emplace_back(items[i].first, LayoutRect{x, remaining.y, w, thickness});
                x += w;
            }
            remaining.y += thickness;
            remaining.h -= thickness;
        }
        if (remaining.w < 1.0 || remaining.h < 1.0 || next >= items.size()) break;
    }
    return result;
}

} // namespace Squarify
} // namespace vessora
