// Text layout over a formkit font whose glyphs all advance 10: hash and backslash-hash, the break pairs of the
// unlimited mode, wrapping at a width (word breaks, split words, exact fits, spaces), heights, alignment
// offsets, the layout that must end, and transformed drawing at 90 degrees on the recording device.
#include "draw/text.h"

#include "font_test_util.h"
#include "input/hash_newlines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace text_layout_test {

using fonttest::LoadedFonts;

std::string Narrow(const uint16_t* line)
{
    std::string out;
    for (; *line; ++line) out += char(*line);
    return out;
}

std::vector<std::string> Lines(const std::string& text, int32_t width)
{
    std::string copy = text;
    TStringList list;
    Text_SplitLines(copy.data(), width, &list);
    std::vector<std::string> out;
    for (TStringLine* l = list.head; l; l = l->next) out.push_back(Narrow(l->text));
    EXPECT_EQ(int32_t(out.size()), list.count);
    return out;
}

class TextLayout : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fonttest::FixtureDir();
        ASSERT_FALSE(dir_.empty());
        Text_ResetState();
    }
    void TearDown() override { Text_ResetState(); }
    std::string dir_;
};

TEST_F(TextLayout, HashNewlinesRewriteInPlace)
{
    struct Row {
        std::string in, out;
        int32_t count;
    };
    const Row rows[] = {
        {"A#B", "A\rB", 3},          {"A\\#B", "A#B", 3},      {"\\##", "#\r", 2},
        {"#", "\r", 1},              {"\\\\#", "\\#", 2},      {"\xC3\xA9#\xE2\x82\xAC", "\xC3\xA9\r\xE2\x82\xAC", 3},
        {"ab\xE2", "ab", 2},  // a lead byte cut short by the end cannot grow in place
        {"", "", 0},
    };
    for (const Row& r : rows) {
        std::string text = r.in;
        EXPECT_EQ(ConvertHashNewlines(text.data()), r.count) << r.in;
        EXPECT_EQ(std::string(text.c_str()), r.out) << r.in;
    }
    EXPECT_EQ(ConvertHashNewlines(nullptr), 0);
}

TEST_F(TextLayout, LinesOfTheEdgeCases)
{
    LoadedFonts loaded(dir_ + "layout.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    Text_SetFont(0);
    ASSERT_EQ(Text_Font, 0);
    struct Row {
        const char* label;
        std::string text;
        int32_t width;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"hash", "A#B", -1, {"A", "B"}},
        {"backslash hash", "A\\#B", -1, {"A#B"}},
        {"CR LF", "A\r\nB", -1, {"A", "B"}},
        {"LF CR", "A\n\rB", -1, {"A", "B"}},
        {"CR CR", "A\r\rB", -1, {"A", "", "B"}},
        {"LF LF", "A\n\nB", -1, {"A", "", "B"}},
        {"CR LF CR LF", "A\r\n\r\nB", -1, {"A", "", "B"}},
        {"trailing CR", "A\r", -1, {"A"}},
        {"leading LF", "\nA", -1, {"", "A"}},
        {"spaces kept without a width", " a  b ", -1, {" a  b "}},
        {"words at 50", "aaa bbb", 50, {"aaa", "bbb"}},
        {"a nine-letter word at 50", "abcdefghi", 50, {"abcde", "fghi"}},
        {"LF measured, not a break", "ab\ncd", 50, {"ab\ncd"}},
        {"CR breaks at a width", "ab\rcd", 50, {"ab", "cd"}},
        {"exact fit", "aaaaa", 50, {"aaaaa"}},
        {"one pixel over", "aaaaa", 49, {"aaaa", "a"}},
        {"spaces only", "     ", 50, {}},
        {"AAAA and four spaces", "AAAA    ", 40, {"AAAA"}},
        {"leading spaces stay", "aaa   bbb", 50, {"aaa", "  bbb"}},
        {"width 0", "abc", 0, {}},
        {"huge limit wraps nothing", "aaa bbb", 20000000, {"aaa bbb"}},
        // Leading spaces before a character wider than the limit: each pass would insert another space.
        {"wide after spaces", "  W", 5, {}},
        {"a break, then wide after spaces", "\r  Wxy", 5, {""}},
    };
    for (const Row& r : rows) EXPECT_EQ(Lines(r.text, r.width), r.lines) << r.label;

    TStringList untouched;
    Text_SplitLines(nullptr, -1, &untouched);
    EXPECT_EQ(untouched.count, 0);
}

TEST_F(TextLayout, WidthsAndHeights)
{
    LoadedFonts loaded(dir_ + "layout.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    Text_SetFont(0);
    struct Row {
        const char* text;
        int32_t separation, width;
        int32_t measuredWidth, height;
    };
    const Row rows[] = {
        {"", -1, -1, 0, 0},           {"A", -1, -1, 10, 16},           {"A", 20, -1, 10, 16},
        {"A#B#C", 20, -1, 10, 56},    {"A#B#C", -1, -1, 10, 48},       {"aaa#bbbbb", -1, -1, 50, 32},
        {"aaa bbb", 7, 50, 30, 23},   {"abcdefghi", -1, 50, 50, 32},   {"   ", -1, 50, 0, 0},
    };
    for (const Row& r : rows) {
        std::string a = r.text, b = r.text;
        EXPECT_EQ(Text_Width(a.data(), r.separation, r.width), r.measuredWidth) << r.text;
        EXPECT_EQ(Text_Height(b.data(), r.separation, r.width), r.height) << r.text;
    }
    EXPECT_EQ(Text_Width(nullptr, -1, -1), 0);
    EXPECT_EQ(Text_Height(nullptr, -1, -1), 0);
}

TEST_F(TextLayout, TheStateFallsBackAndResets)
{
    LoadedFonts loaded(dir_ + "layout.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    struct Row {
        int32_t set, font;
    };
    for (const Row& r : {Row{0, 0}, Row{1, -1}, Row{-1, -1}, Row{0, 0}}) {
        Text_SetFont(r.set);
        EXPECT_EQ(Text_Font, r.font) << r.set;
    }
    for (int32_t a : {0, 1, 2, 3, -1}) {
        Text_SetHAlign(a);
        Text_SetVAlign(a);
        EXPECT_EQ(Text_HAlign, a >= 0 && a <= 2 ? a : 0);
        EXPECT_EQ(Text_VAlign, a >= 0 && a <= 2 ? a : 0);
    }
    Text_SetHAlign(2);
    Text_ResetState();
    EXPECT_EQ(Text_Font, -1);
    EXPECT_EQ(Text_HAlign, 0);
    EXPECT_EQ(GR_DrawColour, 0xFF000000u);
    EXPECT_EQ(GR_DrawAlpha, 255);
    const uint16_t units[] = {'a', 0x4E00, 'b', 0};
    EXPECT_EQ(Text_LengthW(units), 3);
    EXPECT_EQ(Text_LengthW(nullptr), 0);
}

TEST_F(TextLayout, AlignmentMovesTheLines)
{
    LoadedFonts loaded(dir_ + "chunk.win");  // fnt_sorted: A is 6 x 10 at offset 1 and advances 7
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    fonttest::RecordingDraw draw;
    Text_SetFont(0);
    GR_Draw_SetColour(0xFFFFFF);
    struct Row {
        int32_t halign, valign;
        const char* text;
        int32_t separation;
        float firstLeft, firstTop;  // of the first quad, drawn at (100, 100)
    };
    const Row rows[] = {
        {0, 0, "A", -1, 101, 100},
        {1, 0, "A", -1, 98, 100},   // -(7 / 2) = -3, then the offset
        {2, 0, "A", -1, 94, 100},
        {0, 1, "A#A#A", 15, 101, 78},  // (15 x 3) / 2 = 22
        {0, 2, "A#A#A", 15, 101, 55},
        {0, 1, "A#A", -1, 101, 87},    // the line height, 13
    };
    for (const Row& r : rows) {
        Text_SetHAlign(r.halign);
        Text_SetVAlign(r.valign);
        std::string text = r.text;
        Text_Draw(100, 100, text.data(), r.separation, -1);
        const std::vector<fonttest::V> v = draw.Drawn();
        ASSERT_FALSE(v.empty()) << r.text;
        EXPECT_EQ(v[0].x, r.firstLeft) << r.halign << " " << r.valign << " " << r.text;
        EXPECT_EQ(v[0].y, r.firstTop) << r.halign << " " << r.valign << " " << r.text;
    }
}

TEST_F(TextLayout, TransformedAtNinetyDegrees)
{
    LoadedFonts loaded(dir_ + "layout.win");  // 8 x 16 glyphs advancing 10
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    fonttest::RecordingDraw draw;
    Text_SetFont(0);
    GR_Draw_SetColour(0xFFFFFF);
    struct Row {
        int32_t halign;
        float x, y;  // the first glyph's top-left corner
    };
    // Turned a quarter counter-clockwise, a line runs up the screen and the next line lies to its right.
    for (const Row& r : {Row{0, 100, 100}, Row{2, 100, 120}}) {
        Text_SetHAlign(r.halign);
        std::string text = "AB#C";
        Text_DrawTransformed(100, 100, text.data(), -1, -1, 1, 1, 90);
        const std::vector<fonttest::V> v = draw.Drawn();
        ASSERT_EQ(v.size(), 18u);
        struct P {
            float x, y;
        };
        auto quad = [](float x, float y) {
            const P tl{x, y}, tr{x, y - 8}, br{x + 16, y - 8}, bl{x + 16, y};
            return std::vector<P>{tl, tr, br, br, bl, tl};
        };
        std::vector<P> want = quad(r.x, r.y);
        for (const P& p : quad(r.x, r.y - 10)) want.push_back(p);
        // The second line ("C", width 10) starts one line height (16) to the right.
        for (const P& p : quad(r.x + 16, r.halign == 2 ? 110 : 100)) want.push_back(p);
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_NEAR(v[i].x, want[i].x, 1e-3) << "align " << r.halign << " vertex " << i;
            EXPECT_NEAR(v[i].y, want[i].y, 1e-3) << "align " << r.halign << " vertex " << i;
        }
    }
}

}  // namespace text_layout_test
