#pragma once
// Stable colours derived from names. Plain sRGB components from 0 to 1; the
// window converts them to its own colour type.

#include <array>
#include <string_view>

namespace vessora {

struct Rgb {
    double red = 0, green = 0, blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

namespace Palette {

// The eight-colour ramp that names are spread over.
const std::array<Rgb, 8>& ramp();

// The same name gets the same ramp colour on every run and machine (djb2 over
// the UTF-8 bytes).
Rgb color(std::string_view name);

// A storage category's colour by its colour name ("blue", "orange", ...);
// exact, case-sensitive match, grey for anything else.
Rgb categoryColor(std::string_view colorName);

} // namespace Palette
} // namespace vessora
