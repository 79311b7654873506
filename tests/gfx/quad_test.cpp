// The quad writers on the recording device: exact corners, texture coordinates and colours of the entry and page
// draws, trimmed-border parts, corner ids, rotation thresholds, tiling and its batch limits, colour rounding.
#include "gfx/quad.h"

#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_handle.h"
#include "gfx/textures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace quad_test {

struct V {
    float x, y;
    uint32_t colour;
    float u, v;
    bool operator==(const V& o) const
    {
        return x == o.x && y == o.y && colour == o.colour && u == o.u && v == o.v;
    }
};

std::ostream& operator<<(std::ostream& os, const V& v)
{
    return os << "(" << v.x << ", " << v.y << " #" << std::hex << v.colour << std::dec << " " << v.u << ", " << v.v
              << ")";
}

class GfxQuad : public testing::Test {
protected:
    void SetUp() override
    {
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        TexturePage* p = GR_Texture_NewPage(&page_);
        p->width = 256;
        p->height = 512;
        p->uScale = 1.0f / 256;
        p->vScale = 1.0f / 512;
        entry_ = {130, 134, 50, 61, 8, 1, 50, 61, 64, 64, int16_t(page_)};
        GR_Depth = 0;
        GR_DrawAlpha = 255;
        GR_CornerIdEnabled = false;
        GR_ViewRect = {0, 0, 200, 100};
        device_.draws.clear();
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_CornerIdEnabled = false;
        GR_ViewRect = {};
        GR_Device = nullptr;
        GPUState::SetDefaults();
    }
    // Every vertex drawn since the last call, with the primitive types seen.
    std::vector<V> Drawn(std::vector<uint32_t>* types = nullptr)
    {
        GraphicsFlush();
        std::vector<V> out;
        for (const kvtest::FakeDraw& d : device_.draws) {
            EXPECT_EQ(d.stride, 24u);
            if (types) types->push_back(d.type);
            for (size_t at = 0; at + 24 <= d.vertices.size(); at += 24) {
                V v;
                std::memcpy(&v.x, &d.vertices[at], 4);
                std::memcpy(&v.y, &d.vertices[at + 4], 4);
                std::memcpy(&v.colour, &d.vertices[at + 12], 4);
                std::memcpy(&v.u, &d.vertices[at + 16], 4);
                std::memcpy(&v.v, &d.vertices[at + 20], 4);
                out.push_back(v);
            }
        }
        device_.draws.clear();
        return out;
    }
    static float U(float px) { return px / 256; }
    static float Vv(float px) { return px / 512; }

    kvtest::FakeRenderDevice device_;
    int32_t page_ = -1;
    TexturePageEntry entry_{};
};

TEST_F(GfxQuad, AnEntryCoversItsTrimmedRectangle)
{
    ASSERT_TRUE(GR_TPE_Draw(&entry_, 100, 100));
    const uint32_t w = 0xFFFFFFFF;
    const V tl{108, 101, w, U(130), Vv(134)}, tr{158, 101, w, U(180), Vv(134)};
    const V br{158, 162, w, U(180), Vv(195)}, bl{108, 162, w, U(130), Vv(195)};
    EXPECT_EQ(Drawn(), (std::vector<V>{tl, tr, br, br, bl, tl}));

    // A zero target size draws as 1 (and the record keeps the 1).
    TexturePageEntry flat = entry_;
    flat.targetWidth = 0;
    ASSERT_TRUE(GR_TPE_Draw(&flat, 0, 0));
    EXPECT_EQ(flat.targetWidth, 1);
    EXPECT_EQ(Drawn()[1].x, 9.0f);

    // An entry whose page is not live draws nothing.
    TexturePageEntry dead = entry_;
    dead.page = 42;
    EXPECT_FALSE(GR_TPE_Draw(&dead, 0, 0));
    EXPECT_FALSE(GR_Texture_Draw(-1, 0, 0));
    EXPECT_TRUE(Drawn().empty());
}

TEST_F(GfxQuad, PartsOfAnEntrySkipTheTrimmedBorder)
{
    // The part lies wholly in the trimmed border.
    EXPECT_TRUE(GR_TPE_DrawPart(&entry_, 0, 0, 4, 64, 100, 100, 1, 1, 0, 0xFFFFFF, 1));
    EXPECT_TRUE(Drawn().empty());

    ASSERT_TRUE(GR_TPE_DrawPart(&entry_, 0, 0, 20, 64, 100, 100, 1, 1, 0, 0xFFFFFF, 1));
    const uint32_t w = 0xFFFFFFFF;
    const V tl{108, 101, w, U(130), Vv(134)}, tr{120, 101, w, U(142), Vv(134)};
    const V br{120, 162, w, U(142), Vv(195)}, bl{108, 162, w, U(130), Vv(195)};
    EXPECT_EQ(Drawn(), (std::vector<V>{tl, tr, bl, tr, br, bl}));
}

TEST_F(GfxQuad, CornerIdsMarkBitZeroAndBitSixteen)
{
    GR_CornerIdEnabled = true;
    ASSERT_TRUE(GR_TPE_Draw(&entry_, 0, 0));
    std::vector<V> v = Drawn();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].colour, 0xFFFEFFFEu);  // TL 0
    EXPECT_EQ(v[1].colour, 0xFFFEFFFFu);  // TR 1
    EXPECT_EQ(v[2].colour, 0xFFFFFFFEu);  // BR 2
    EXPECT_EQ(v[4].colour, 0xFFFFFFFFu);  // BL 3
    // The page draws with their own colours carry none.
    ASSERT_TRUE(GR_Texture_DrawExt(page_, 0, 0, 0, 0, 1, 1, 0, 0xFFFFFF, 1));
    for (const V& x : Drawn()) EXPECT_EQ(x.colour, 0xFFFFFFFFu);
    // The tiled entry numbers BL 0, TL 1, TR 2, BR 3 and writes BL, TL, TR, TR, BR, BL.
    ASSERT_TRUE(GR_TPE_DrawTiled(&entry_, 0, 0, 0, 0, 1, 1, false, true, 0, 0, 0, 0, 0xFFFFFF, 1));
    v = Drawn();
    ASSERT_GE(v.size(), 6u);
    EXPECT_EQ(v[0].colour, 0xFFFEFFFEu);
    EXPECT_EQ(v[1].colour, 0xFFFEFFFFu);
    EXPECT_EQ(v[2].colour, 0xFFFFFFFEu);
    EXPECT_EQ(v[4].colour, 0xFFFFFFFFu);
    EXPECT_LT(v[1].y, v[0].y);  // TL above BL
}

TEST_F(GfxQuad, SmallAnglesDrawAxisAligned)
{
    struct Row {
        const char* name;
        bool (*draw)(TexturePageEntry*, int32_t, float);
        bool rotated;
    };
    const Row rows[] = {
        {"extended 0.0005",
         [](TexturePageEntry* e, int32_t, float a) { return GR_TPE_DrawExt(e, 0, 0, 100, 100, 1, 1, a, 0xFFFFFF, 1); },
         false},
        {"general 0.005",
         [](TexturePageEntry* e, int32_t, float a) {
             return GR_TPE_DrawGeneral(e, 0, 0, 64, 64, 100, 100, 1, 1, a, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 1);
         },
         false},
        {"page general 0.005",
         [](TexturePageEntry*, int32_t p, float a) {
             return GR_Texture_DrawGeneral(p, 0, 0, 64, 64, 100, 100, 1, 1, a, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                           0xFFFFFF, 1);
         },
         false},
        {"extended 0.005",
         [](TexturePageEntry* e, int32_t, float a) { return GR_TPE_DrawExt(e, 0, 0, 100, 100, 1, 1, a, 0xFFFFFF, 1); },
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const float angle = std::string(row.name).find("0.0005") != std::string::npos ? 0.0005f : 0.005f;
        ASSERT_TRUE(row.draw(&entry_, page_, angle));
        const std::vector<V> v = Drawn();
        ASSERT_EQ(v.size(), 6u);
        const bool aligned = v[0].y == v[1].y && v[0].x == v[4].x && v[0].x == std::floor(v[0].x);
        EXPECT_EQ(aligned, !row.rotated) << v[0] << v[1];
    }
}

TEST_F(GfxQuad, RotationTurnsCounterClockwiseOnScreen)
{
    // A quarter turn: the top edge points up the screen.
    ASSERT_TRUE(GR_TPE_DrawExt(&entry_, 0, 0, 100, 100, 2, 2, float(M_PI / 2), 0xFFFFFF, 1));
    const std::vector<V> v = Drawn();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_NEAR(v[0].x, 102, 1e-4);  // TL offset (16, 2) turns to (2, -16)
    EXPECT_NEAR(v[0].y, 84, 1e-4);
    EXPECT_NEAR(v[1].x, 102, 1e-4);  // TR offset (116, 2) turns to (2, -116)
    EXPECT_NEAR(v[1].y, -16, 1e-4);
}

TEST_F(GfxQuad, ATiledPageStartsAtTheViewsEdge)
{
    TexturePage* p = GR_Texture_Page(page_);
    p->width = 64;
    p->height = 64;
    std::vector<uint32_t> types;
    ASSERT_TRUE(GR_Texture_DrawTiled(page_, 0, 0, 10, 20, 1, 1, true, false, 0, 0, 200, 100, 0xFFFFFF, 1));
    const std::vector<V> v = Drawn(&types);
    ASSERT_EQ(v.size(), 16u);  // four fans of four
    for (uint32_t t : types) EXPECT_EQ(t, uint32_t(RDPT_TRIANGLEFAN));
    const float columns[4] = {-54, 10, 74, 138};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i * 4].x, columns[i]);
        EXPECT_EQ(v[i * 4].y, 20);
        EXPECT_EQ(v[i * 4 + 2].x, columns[i] + 64);
    }
    EXPECT_FALSE(GR_Texture_DrawTiled(page_, 0, 0, 10, 20, 0.001f, 1, true, false, 0, 0, 200, 100, 0, 1));
}

TEST_F(GfxQuad, ATiledEntryWithoutTilingIsOneQuad)
{
    ASSERT_TRUE(GR_TPE_DrawTiled(&entry_, 0, 0, 100, 100, 1, 1, false, false, 0, 0, 0, 0, 0xFFFFFF, 1));
    const std::vector<V> v = Drawn();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].x, 108);
    EXPECT_EQ(v[0].y, 101);
    EXPECT_FALSE(GR_TPE_DrawTiled(&entry_, 0, 0, 0, 0, 0.00001f, 1, true, true, 0, 0, 0, 0, 0, 1));
}

TEST_F(GfxQuad, TinyScalesStayWithinTheBatchLimits)
{
    // A row of over 15,000 columns: more than one request may hold.
    ASSERT_TRUE(GR_TPE_DrawTiled(&entry_, 0, 0, 0, 0, 0.0001f, 1, true, false, 0, 0, 0, 0, 0xFFFFFF, 1));
    const double a = 64 * double(0.0001f);
    const int64_t columns = int64_t((200 + a - 1) / a + 2);
    ASSERT_GT(columns * 6, GR_Batch_MaxVertices());
    GraphicsFlush();
    size_t vertices = 0;
    for (const kvtest::FakeDraw& d : device_.draws) {
        EXPECT_LE(d.vertices.size() / 24, size_t(GR_Batch_MaxVertices()));
        vertices += d.vertices.size() / 24;
    }
    EXPECT_EQ(vertices, size_t(columns) * 6);
}

TEST_F(GfxQuad, ThreeWaysOfRoundingAlpha)
{
    struct Row {
        const char* name;
        void (*draw)(TexturePageEntry*, int32_t);
        uint32_t alphaByte;
    };
    const Row rows[] = {
        {"page general truncates",
         [](TexturePageEntry*, int32_t p) { GR_Texture_DrawGeneral(p, 0, 0, 8, 8, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0.5f); },
         0x7F},
        {"entry general rounds",
         [](TexturePageEntry* e, int32_t) { GR_TPE_DrawGeneral(e, 0, 0, 64, 64, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0.5f); },
         0x80},
        {"tiled page rounds",
         [](TexturePageEntry*, int32_t p) {
             GR_Texture_DrawTiled(p, 0, 0, 0, 0, 1, 1, false, false, 0, 0, 1, 1, 0, 0.5f);
         },
         0x80},
        {"extended truncates",
         [](TexturePageEntry* e, int32_t) { GR_TPE_DrawExt(e, 0, 0, 0, 0, 1, 1, 0, 0, 0.5f); }, 0x7F},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.draw(&entry_, page_);
        const std::vector<V> v = Drawn();
        ASSERT_FALSE(v.empty());
        EXPECT_EQ(v[0].colour >> 24, row.alphaByte);
    }
    // Four-colour draws give each corner its own colour (blue-green-red in, ARGB out).
    ASSERT_TRUE(GR_Texture_DrawGeneral(page_, 0, 0, 8, 8, 0, 0, 1, 1, 0, 0x0000FF, 0x00FF00, 0xFF0000, 0x010203, 1));
    const std::vector<V> v = Drawn();
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(v[0].colour, 0xFFFF0000u);
    EXPECT_EQ(v[1].colour, 0xFF00FF00u);
    EXPECT_EQ(v[2].colour, 0xFF0000FFu);
    EXPECT_EQ(v[4].colour, 0xFF030201u);
}

}  // namespace quad_test
