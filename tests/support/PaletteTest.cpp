#include "support/Palette.h"

#include <gtest/gtest.h>

using namespace vessora;

TEST(Palette, NamesHashOntoTheRamp) {
    ASSERT_EQ(Palette::ramp().size(), 8u);
    EXPECT_EQ(Palette::color(""), Palette::ramp()[5]);
    EXPECT_EQ(Palette::color("a"), Palette::ramp()[6]);
    // "ab": (177670 * 33 + 98) mod 8 = 5863208 mod 8 = 0
    EXPECT_EQ(Palette::color("ab"), Palette::ramp()[0]);
    // Bytes, not characters: é is two UTF-8 bytes.
    uint64_t h = 5381;
    for (unsigned char c : std::string("\xc3\xa9")) h = h * 33 + c;
    EXPECT_EQ(Palette::color("\xc3\xa9"), Palette::ramp()[h % 8]);
}

TEST(Palette, CategoryColoursMatchExactly) {
    EXPECT_EQ(Palette::categoryColor("blue"), (Rgb{0.36, 0.52, 0.80}));
    EXPECT_EQ(Palette::categoryColor("brown"), (Rgb{0.64, 0.55, 0.45}));
    EXPECT_EQ(Palette::categoryColor("Blue"), (Rgb{0.55, 0.56, 0.60}));
    EXPECT_EQ(Palette::categoryColor(""), (Rgb{0.55, 0.56, 0.60}));
}
