// Fonts from formkit FONT chunks: the entry fields and the table, lookup of every code with the U+25AF
// fallback, measuring, quads of the plain and colour forms with their corner colours and corner ids, and the
// one damage line of every bad entry.
#include "draw/font.h"

#include "font_test_util.h"
#include "gfx/colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace fonts_chunk_test {

using fonttest::LoadedFonts;
using fonttest::U16;
using fonttest::W;

class FontsChunk : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fonttest::FixtureDir();
        ASSERT_FALSE(dir_.empty());
    }
    std::string dir_;
};

TEST_F(FontsChunk, EntryFieldsAndTheTable)
{
    LoadedFonts loaded(dir_ + "chunk.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    ASSERT_EQ(Font_Count(), 4);
    const CFontKV* f = Font_Data(0);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->GetName(), "Sans");
    EXPECT_EQ(f->GetSize(), 14);
    EXPECT_TRUE(f->GetBold());
    EXPECT_FALSE(f->GetItalic());
    EXPECT_EQ(f->GetFirst(), 32);
    EXPECT_EQ(f->GetLast(), 0x4E00);
    EXPECT_EQ(f->m_charset, 1u);
    EXPECT_EQ(f->m_antiAlias, 2);
    EXPECT_EQ(f->m_alphaWidth, 64);  // the entry's source size
    EXPECT_EQ(f->m_alphaHeight, 16);
    EXPECT_EQ(f->m_margin, 0.0f);

    struct Row {
        const char* name;
        int32_t find;
        bool exists;
        const char* tableName;
    };
    const Row rows[] = {
        {"fnt_sorted", 0, true, "fnt_sorted"}, {"fnt_bare", 1, true, "fnt_bare"},
        {"FNT_BARE", -1, false, nullptr},      {"fnt_scaled", 3, true, "fnt_scaled"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Font_Find(r.name), r.find) << r.name;
        if (r.find >= 0) {
            EXPECT_STREQ(Font_Name(r.find), r.tableName);
        }
    }
    EXPECT_FALSE(Font_Exists(2));  // the empty slot
    EXPECT_STREQ(Font_Name(2), "<undefined>");
    EXPECT_EQ(Font_Data(2), nullptr);
    EXPECT_FALSE(Font_Exists(4));
    EXPECT_EQ(Font_Data(-1), nullptr);

    ASSERT_NE(Font_CodeTable, nullptr);
    EXPECT_EQ(Font_CodeTable[65], 65);
    EXPECT_EQ(Font_CodeTable[127], 127);
    EXPECT_EQ(Font_CodeTable[128], 63);

    EXPECT_TRUE(Font_Delete(1));
    EXPECT_FALSE(Font_Delete(1));
    EXPECT_EQ(Font_Find("fnt_bare"), -1);
    EXPECT_EQ(Font_Find("fnt_scaled"), 3);
}

TEST_F(FontsChunk, AChunkShorterThanTheCodeTableHasNone)
{
    LoadedFonts loaded(dir_ + "short.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    EXPECT_EQ(Font_Count(), 0);
    EXPECT_EQ(Font_CodeTable, nullptr);
}

TEST_F(FontsChunk, LookupFallbackAndMeasuring)
{
    LoadedFonts loaded(dir_ + "chunk.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    const CFontKV* sorted = Font_Data(0);
    const CFontKV* bare = Font_Data(1);
    ASSERT_TRUE(sorted && bare);

    struct Row {
        const CFontKV* font;
        uint32_t code;
        int32_t found;  // the code of the glyph found, -1 for none
        int32_t advance;
    };
    const Row rows[] = {
        {sorted, 32, 32, 5},          {sorted, 65, 65, 7},         {sorted, 66, 66, 6},
        {sorted, 67, 67, 4},          {sorted, 200, 200, 3},       {sorted, 0x25AF, 0x25AF, 9},
        {sorted, 0x4E00, 0x4E00, 12}, {sorted, 68, 0x25AF, 9},     {sorted, 0, 0x25AF, 9},
        {sorted, 0xFFFF, 0x25AF, 9},  {bare, 65, 65, 7},           {bare, 67, -1, 0},
        {bare, 0x25AF, -1, 0},        {bare, 48, 48, 0},
    };
    for (const Row& r : rows) {
        const FontGlyph* g = r.font->GetGlyph(r.code);
        EXPECT_EQ(g ? int32_t(g->code) : -1, r.found) << "code " << r.code;
        EXPECT_EQ(r.font->GetGlyphAdvance(r.code), r.advance) << "code " << r.code;
    }

    struct Measure {
        const CFontKV* font;
        const char* text;
        int32_t width;
    };
    const Measure measures[] = {
        {sorted, "ABC", 17}, {sorted, "A B", 18}, {sorted, "AZ", 16}, {sorted, "", 0},
        {bare, "AB", 13},    {bare, "AZB", 13},   {bare, "0000", 0},
    };
    for (const Measure& m : measures) EXPECT_EQ(m.font->TextWidth(W(U16(m.text))), m.width) << m.text;
    EXPECT_EQ(sorted->TextWidth(nullptr), 0);

    // The tallest glyph, whatever the text.
    EXPECT_EQ(sorted->TextHeight(), 13);
    EXPECT_EQ(sorted->TextHeight(W(U16(""))), 13);
    EXPECT_EQ(bare->TextHeight(), 10);
    EXPECT_EQ(Font_Data(3)->TextHeight(), 10);
}

TEST_F(FontsChunk, PlainQuadsScaleFromTheEntryAndSkipMissingGlyphs)
{
    LoadedFonts loaded(dir_ + "chunk.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    fonttest::RecordingDraw draw;
    // fnt_scaled: A at (2, 3) 6 x 10 in the entry at (10, 20), x scale 2, y scale 3, offset 1, advance 7.
    Font_Data(3)->DrawText(100, 50, W(U16("AZA")), 0x0000FF, 1.0f);
    const std::vector<fonttest::V> v = draw.Drawn();
    ASSERT_EQ(v.size(), 12u);  // Z has no glyph and no fallback: skipped without advance
    const float u0 = 12.0f / 256, u1 = 18.0f / 256, v0 = 23.0f / 128, v1 = 33.0f / 128;
    const uint32_t red = 0xFFFF0000u;
    const fonttest::V want[6] = {{102, 50, red, u0, v0},  {114, 50, red, u1, v0}, {114, 80, red, u1, v1},
                                 {114, 80, red, u1, v1},  {102, 80, red, u0, v1}, {102, 50, red, u0, v0}};
    for (int i = 0; i < 12; ++i) {
        const fonttest::V& w = want[i % 6];
        const float shift = i < 6 ? 0.0f : 14.0f;
        EXPECT_EQ(v[i].x, w.x + shift) << i;
        EXPECT_EQ(v[i].y, w.y) << i;
        EXPECT_EQ(v[i].colour, w.colour) << i;
        EXPECT_FLOAT_EQ(v[i].u, w.u) << i;
        EXPECT_FLOAT_EQ(v[i].v, w.v) << i;
    }
}

TEST_F(FontsChunk, CornerIdsMarkEachCornerOfEveryQuad)
{
    LoadedFonts loaded(dir_ + "chunk.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    fonttest::RecordingDraw draw;
    struct Row {
        bool on;
        uint32_t tl, tr, br, bl;
    };
    const Row rows[] = {
        {false, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
        {true, 0xFFFEFFFEu, 0xFFFEFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu},
    };
    for (const Row& r : rows) {
        GR_CornerIdEnabled = r.on;
        Font_Data(0)->DrawText(0, 0, W(U16("AB")), 0xFFFFFF, 1.0f);
        const std::vector<fonttest::V> v = draw.Drawn();
        ASSERT_EQ(v.size(), 12u);
        for (int q = 0; q < 2; ++q) {
            const uint32_t want[6] = {r.tl, r.tr, r.br, r.br, r.bl, r.tl};
            for (int i = 0; i < 6; ++i) EXPECT_EQ(v[q * 6 + i].colour, want[i]) << "ids " << r.on << " vertex " << i;
        }
    }
}

TEST_F(FontsChunk, ColourFormsRunTheGradientAlongTheLine)
{
    LoadedFonts loaded(dir_ + "chunk.win");
    ASSERT_TRUE(loaded.ok) << g_GameData.damage;
    fonttest::RecordingDraw draw;
    const uint32_t c1 = 0x0000FF, c2 = 0xFF0000, c3 = 0x00FF00, c4 = 0x808080;
    auto argb = [](uint32_t bgr) { return Colour_ToARGB(bgr, 255); };
    struct Row {
        int font;
        const char* text;
        std::vector<double> edges;  // t / W at each glyph's left and right edge, glyph by glyph
    };
    // ABC advance 7, 6, 4 (W 17); the bare font's 0 advances 0 (W 0: the first colours throughout).
    const Row rows[] = {
        {0, "ABC", {0.0, 7.0 / 17, 7.0 / 17, 13.0 / 17, 13.0 / 17, 1.0}},
        {1, "00", {0.0, 0.0, 0.0, 0.0}},
    };
    for (const Row& r : rows) {
        for (bool transformed : {false, true}) {
            SCOPED_TRACE(std::string(r.text) + (transformed ? " transformed" : ""));
            if (transformed)
                Font_Data(r.font)->DrawTextTransformedColour(10, 10, W(U16(r.text)), 1, 1, 0, c1, c2, c3, c4, 1.0f);
            else
                Font_Data(r.font)->DrawTextColour(10, 10, W(U16(r.text)), c1, c2, c3, c4, 1.0f);
            const std::vector<fonttest::V> v = draw.Drawn();
            ASSERT_EQ(v.size(), r.edges.size() * 3);
            for (size_t g = 0; g < r.edges.size() / 2; ++g) {
                const double from = r.edges[2 * g], to = r.edges[2 * g + 1];
                const uint32_t tl = argb(Colour_Merge(c1, c2, from)), tr = argb(Colour_Merge(c1, c2, to));
                const uint32_t br = argb(Colour_Merge(c4, c3, to)), bl = argb(Colour_Merge(c4, c3, from));
                const uint32_t want[6] = {tl, tr, br, br, bl, tl};
                for (int i = 0; i < 6; ++i) EXPECT_EQ(v[g * 6 + i].colour, want[i]) << "glyph " << g << " vertex " << i;
            }
        }
    }
}

TEST_F(FontsChunk, EveryBadEntryFailsThePassWithOneLineNamingIt)
{
    std::ifstream list(dir_ + "damaged.txt");
    int cases = 0;
    for (std::string line; std::getline(list, line);) {
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string name = line.substr(0, tab), message = line.substr(tab + 1);
        SCOPED_TRACE(name);
        LoadedFonts loaded(dir_ + "damaged_" + name + ".win");
        EXPECT_FALSE(loaded.ok);
        EXPECT_TRUE(g_GameData.damaged);
        EXPECT_EQ(std::string(g_GameData.damage), message);
        EXPECT_EQ(Font_Count(), 0);  // nothing of a failed chunk is kept
        ++cases;
    }
    EXPECT_EQ(cases, 8);
}

}  // namespace fonts_chunk_test
