// Colour conversions: the documented examples, and the HSV conversions against a single-precision reference
// in Python (with colorsys as a looser bound).
#include "gfx/colour.h"

#include "tests/core/py_oracle.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>

namespace colour_test {

uint32_t HsvBits(const ColourHSV& c) { return uint32_t(c.hue << 16 | c.saturation << 8 | c.value); }

TEST(GfxColour, Examples)
{
    struct Case {
        const char* name;
        uint32_t got, want;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    ColourRGB rgb;
    ColourRGB_Set(&rgb, 0x12, 0x34, 0x56);
    ColourHSV hsv;
    HSV_Set(&hsv, 1, 2, 3);
    const Case cases[] = {
        {"ToARGB red 0x80", Colour_ToARGB(0x0000FF, 0x80), 0x80FF0000},
        {"ToARGB mixed", Colour_ToARGB(0x123456, 0xFF), 0xFF563412},
        {"ToARGB ignores top byte", Colour_ToARGB(0xAA123456, 0x01), 0x01563412},
        {"WithAlpha", Colour_WithAlpha(0xAA123456, 0x7F), 0x7F123456},
        {"ToARGBAlpha 1", Colour_ToARGBAlpha(0x0000FF, 1.0f), 0xFFFF0000},
        {"ToARGBAlpha 0.5", Colour_ToARGBAlpha(0x00FF00, 0.5f), 0x7F00FF00},
        {"ToARGBAlpha 0.999", Colour_ToARGBAlpha(0xFF0000, 0.999f), 0xFE0000FF},
        {"ToARGBAlpha NaN", Colour_ToARGBAlpha(0xFFFFFF, nan), 0x00FFFFFF},
        {"ToARGBAlpha -inf", Colour_ToARGBAlpha(0xFFFFFF, -inf), 0x00FFFFFF},
        {"ToARGBAlpha +inf", Colour_ToARGBAlpha(0x000000, inf), 0xFF000000},
        {"AlphaToByte 1", uint32_t(Colour_AlphaToByte(1.0f)), 255},
        {"AlphaToByte 0.999", uint32_t(Colour_AlphaToByte(0.999f)), 254},
        {"AlphaToByte 1.5", uint32_t(Colour_AlphaToByte(1.5f)), 255},
        {"AlphaToByte -1", uint32_t(Colour_AlphaToByte(-1.0f)), 0},
        {"AlphaToByte NaN", uint32_t(Colour_AlphaToByte(nan)), 0},
        {"Merge half", Colour_Merge(0x000000, 0xFFFFFF, 0.5), 0x808080},
        {"Merge quarter", Colour_Merge(0x000000, 0xFFFFFF, 0.25), 0x404040},
        {"Merge per channel", Colour_Merge(0x0000FF, 0xFF0000, 0.5), 0x800080},
        {"Merge tie to even down", Colour_Merge(0x000001, 0x000000, 0.5), 0x000000},
        {"Merge drops top byte", Colour_Merge(0xFF000000, 0xFF000000, 0.0), 0},
        {"Merge 0 and 1", Colour_Merge(0x123456, 0x654321, 0.0) ^ Colour_Merge(0x654321, 0x123456, 1.0), 0},
        {"Merge wraps past 1", Colour_Merge(0x000000, 0x000080, 2.0), 0x000000},
        {"Merge wraps below 0", Colour_Merge(0x000001, 0x000000, -1.0), 0x000002},
        {"Merge NaN", Colour_Merge(0x0000FF, 0x00FF00, std::nan("")), 0},
        {"ToHSV red", HsvBits(Colour_ToHSV(0x0000FF)), 0x00FFFF},
        {"ToHSV blue", HsvBits(Colour_ToHSV(0xFF0000)), 0xAAFFFF},
        {"ToHSV grey", HsvBits(Colour_ToHSV(0x808080)), 0x000080},
        {"ToHSV black", HsvBits(Colour_ToHSV(0)), 0},
        {"HSV 0,255,255", HSV_ToColour({0, 255, 255}), 0x0000FF},
        {"HSV 255 wraps", HSV_ToColour({255, 255, 255}), 0x0000FF},
        {"HSV 85 green", HSV_ToColour({85, 255, 255}), 0x00FF00},
        {"HSV no saturation", HSV_ToColour({123, 0, 200}), 0xC8C8C8},
        {"RGB record", ColourRGB_ToColour(rgb), 0x563412},
        {"RGB record bytes", uint32_t(rgb.blue << 16 | rgb.green << 8 | rgb.red), 0x563412},
        {"HSV record", HsvBits(hsv), 0x010203},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name << std::hex << " got 0x" << c.got;
}

TEST(GfxColour, NormaliseRoundsThroughFloatAndZeroGivesNaN)
{
    Vector3 v{3.0f, 0.0f, 4.0f};
    Vector3_Normalise(&v);
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
    // 1 / length is rounded to float before the multiply: a 2-4-4 vector gives exactly 2 x float(1/6).
    Vector3 w{2.0f, 4.0f, 4.0f};
    Vector3_Normalise(&w);
    EXPECT_EQ(w.x, 2.0f * float(1.0 / 6.0));
    Vector3 zero{0.0f, 0.0f, 0.0f};
    Vector3_Normalise(&zero);
    EXPECT_TRUE(std::isnan(zero.x) && std::isnan(zero.y) && std::isnan(zero.z));
}

// Hue is circular: 0 and 255 lie one step apart.
int ColourHueDistance(int a, int b)
{
    const int d = std::abs(a - b);
    return std::min(d, 256 - d);
}

TEST(GfxColour, HsvConversionsMatchSinglePrecisionReference)
{
    const std::string dir = kvtest_py::Generate("tests/gfx/colour_oracle.py", "");
    ASSERT_FALSE(dir.empty());
    int rows = 0;
    std::istringstream toHsv(kvtest::ReadFile(dir + "rgb_hsv.txt"));
    int r, g, b, h, s, v, ch, cs, cv;
    while (toHsv >> r >> g >> b >> h >> s >> v >> ch >> cs >> cv) {
        ++rows;
        const ColourHSV got = RGB_ToHSVBytes(uint8_t(r), uint8_t(g), uint8_t(b));
        EXPECT_EQ(got.hue, h) << r << ' ' << g << ' ' << b;
        EXPECT_EQ(got.saturation, s) << r << ' ' << g << ' ' << b;
        EXPECT_EQ(got.value, v) << r << ' ' << g << ' ' << b;
        EXPECT_LE(ColourHueDistance(got.hue, ch), 1) << r << ' ' << g << ' ' << b;
        EXPECT_LE(std::abs(got.saturation - cs), 1) << r << ' ' << g << ' ' << b;
        EXPECT_LE(std::abs(got.value - cv), 1) << r << ' ' << g << ' ' << b;
    }
    std::istringstream toRgb(kvtest::ReadFile(dir + "hsv_rgb.txt"));
    int cr, cg, cb;
    while (toRgb >> h >> s >> v >> r >> g >> b >> cr >> cg >> cb) {
        ++rows;
        const ColourRGB got = HSVBytes_ToRGB(uint8_t(h), uint8_t(s), uint8_t(v));
        EXPECT_EQ(got.red, r) << h << ' ' << s << ' ' << v;
        EXPECT_EQ(got.green, g) << h << ' ' << s << ' ' << v;
        EXPECT_EQ(got.blue, b) << h << ' ' << s << ' ' << v;
        EXPECT_LE(std::abs(got.red - cr), 1) << h << ' ' << s << ' ' << v;
        EXPECT_LE(std::abs(got.green - cg), 1) << h << ' ' << s << ' ' << v;
        EXPECT_LE(std::abs(got.blue - cb), 1) << h << ' ' << s << ' ' << v;
    }
    // 256 hues plus a 16 x 16 x 16 grid, both ways.
    EXPECT_EQ(rows, 2 * (256 + 4096));
}

}  // namespace colour_test
