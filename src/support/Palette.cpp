#include "support/Palette.h"

#include <cstdint>
#include <utility>

namespace vessora::Palette {

const std::array<Rgb, 8>& ramp() {
    static const std::array<Rgb, 8> colours = {{
        {0.40, 0.51, 0.72},
        {0.39, 0.62, 0.67},
        {0.47, 0.64, 0.49},
        {0.76, 0.66, 0.44},
        {0.76, 0.52, 0.47},
        {0.62, 0.51, 0.71},
        {0.52, 0.56, 0.62},
        {0.72, 0.56, 0.63},
    }};
    return colours;
}

Rgb color(std::string_view name) {
    uint64_t h = 5381;
    for (unsigned char byte : name) h = h * 33 + byte;
    return ramp()[h % 8];
}

Rgb categoryColor(std::string_view colorName) {
    static const std::pair<std::string_view, Rgb> table[] = {
        {"blue", {0.36, 0.52, 0.80}},   {"orange", {0.84, 0.62, 0.36}}, {"pink", {0.78, 0.51, 0.60}},
        {"green", {0.45, 0.67, 0.49}},  {"indigo", {0.49, 0.49, 0.74}}, {"red", {0.79, 0.46, 0.43}},
        {"cyan", {0.41, 0.67, 0.74}},   {"purple", {0.60, 0.49, 0.74}}, {"teal", {0.39, 0.65, 0.62}},
        {"yellow", {0.83, 0.72, 0.40}}, {"brown", {0.64, 0.55, 0.45}},
    };
    for (const auto& [name, rgb] : table)
        if (name == colorName) return rgb;
    return {0.55, 0.56, 0.60};
}

} // namespace vessora::Palette
