// The 2D shapes and the user primitive on the recording device: the vertex stream each one sends (positions
// with their offsets, colours with the draw alpha, request types and formats), the precision and nudge rules,
// what draws nothing, and the texture handles the user primitive takes.
#include "gfx/prim2d.h"

#include "core/console.h"
#include "core/error.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/texture_handle.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "test_support.h"
#include "world/room_change.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace prim2d_test {

struct V {
    float x, y;
    uint32_t colour;
};
struct Draw {
    uint32_t type, stride;
    std::vector<V> vertices;
};

constexpr uint32_t kDraw = 0x7FFF0000;  // draw colour 0x0000FF at alpha 0.5, as a vertex colour

class GfxPrim : public testing::Test {
protected:
    void SetUp() override
    {
        previousDebug_ = DebugConsole;
        previousRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        Error_ResetState();
        g_ShowErrorDialogs = false;
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        ASSERT_NE(GR_WhiteTexturePage, nullptr);
        GR_Depth = 0;
        GR_PrimOffsetX = GR_PrimOffsetY = 1.0f;
        GR_Draw_Init();
        GR_Draw_SetAlpha(0.5f);
        GR_Draw_SetColour(0x0000FF);
        device_.draws.clear();
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_Free(GR_WhiteTexture);
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0);
        GR_Device = nullptr;
        GPUState::SetDefaults();
        Error_ResetState();
        g_ShowErrorDialogs = true;
        RoomChangeCode = ROOM_CHANGE_NONE;
        DebugConsole = previousDebug_;
        ReleaseConsole = previousRelease_;
    }

    // Flushes and decodes every draw the device received.
    std::vector<Draw> Drawn()
    {
        GraphicsFlush();
        std::vector<Draw> out;
        for (const kvtest::FakeDraw& d : device_.draws) {
            Draw draw{d.type, d.stride, {}};
            for (size_t at = 0; d.stride >= 16 && at + d.stride <= d.vertices.size(); at += d.stride) {
                V v;
                std::memcpy(&v.x, &d.vertices[at], 4);
                std::memcpy(&v.y, &d.vertices[at + 4], 4);
                std::memcpy(&v.colour, &d.vertices[at + 12], 4);
                draw.vertices.push_back(v);
            }
            out.push_back(draw);
        }
        device_.draws.clear();
        return out;
    }

    static void ExpectDraw(const Draw& got, uint32_t type, uint32_t stride, const std::vector<V>& want)
    {
        EXPECT_EQ(got.type, type);
        EXPECT_EQ(got.stride, stride);
        ASSERT_EQ(got.vertices.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE("vertex " + std::to_string(i));
            EXPECT_NEAR(got.vertices[i].x, want[i].x, 1e-4);
            EXPECT_NEAR(got.vertices[i].y, want[i].y, 1e-4);
            EXPECT_EQ(got.vertices[i].colour, want[i].colour);
        }
    }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    kvtest::RecordingConsole debug_, release_;
    tagIConsole* previousDebug_ = nullptr;
    tagIConsole* previousRelease_ = nullptr;
};

TEST_F(GfxPrim, ColourAndAlphaKeepTheAlphaByteOnTop)
{
    GR_Draw_SetColour(0x123456);
    EXPECT_EQ(GR_DrawColour, 0x7F563412u);
    EXPECT_EQ(GR_Draw_GetColour(), 0x7F123456u);
    GR_Draw_SetAlpha(2.0f);
    EXPECT_EQ(GR_DrawAlpha, 255);
    EXPECT_EQ(GR_DrawColour, 0xFF563412u);
    GR_Draw_SetAlpha(NAN);
    EXPECT_EQ(GR_DrawAlpha, 0);
    EXPECT_FLOAT_EQ(GR_Draw_GetAlpha(), 0.0f);
    EXPECT_EQ(Colour_MakeRGB(0x1FF, 0x102, 3), 0x0302FFu);
}

// One shape per row: the requests it makes and the vertices of each, in draw order.
TEST_F(GfxPrim, EveryShapeSendsItsVertexStream)
{
    const float third = 4.0f / 3.0f;
    struct Row {
        const char* name;
        std::function<void()> draw;
        std::vector<Draw> want;
    };
    const std::vector<Row> rows = {
        {"point", [] { GR_Draw_Point(3, 4); }, {{RDPT_POINTLIST, 16, {{4, 5, kDraw}}}}},
        {"point colour", [] { GR_Draw_PointColour(3, 4, 0x00FF00); }, {{RDPT_POINTLIST, 16, {{4, 5, 0x7F00FF00}}}}},
        {"line", [] { GR_Draw_Line(1, 2, 3, 4); }, {{RDPT_LINELIST, 16, {{2, 3, kDraw}, {4, 5, kDraw}}}}},
        {"line colour",
         [] { GR_Draw_LineColour(1, 2, 3, 4, 0xFF0000, 0x00FF00); },
         {{RDPT_LINELIST, 16, {{2, 3, 0x7F0000FF}, {4, 5, 0x7F00FF00}}}}},
        {"wide line",
         [] { GR_Draw_LineWidth(0, 0, 10, 0, 4); },
         {{RDPT_TRIANGLEFAN, 16, {{1, 3, kDraw}, {11, 3, kDraw}, {11, -1, kDraw}, {1, -1, kDraw}}}}},
        {"wide line colour",
         [] { GR_Draw_LineWidthColour(0, 0, 0, 10, 2, 0xFF0000, 0x00FF00); },
         {{RDPT_TRIANGLEFAN, 16,
           {{0, 1, 0x7F0000FF}, {0, 11, 0x7F00FF00}, {2, 11, 0x7F00FF00}, {2, 1, 0x7F0000FF}}}}},
        {"filled triangle, no offset",
         [] { GR_Draw_Triangle(0, 0, 10, 0, 0, 10, false); },
         {{RDPT_TRIANGLELIST, 24, {{0, 0, kDraw}, {10, 0, kDraw}, {0, 10, kDraw}}}}},
        {"triangle outline closes",
         [] { GR_Draw_TriangleColour(0, 0, 10, 0, 0, 10, 0xFF0000, 0x00FF00, 0x000000, true); },
         {{RDPT_LINESTRIP, 24, {{0, 0, 0x7F0000FF}, {10, 0, 0x7F00FF00}, {0, 10, 0x7F000000}, {0, 0, 0x7F0000FF}}}}},
        {"filled rectangle: far edges + 1",
         [] { GR_Draw_Rectangle(9, 9, 0, 0, false); },
         {{RDPT_TRIANGLELIST, 24,
           {{0, 0, kDraw}, {10, 0, kDraw}, {10, 10, kDraw}, {10, 10, kDraw}, {0, 10, kDraw}, {0, 0, kDraw}}}}},
        {"rectangle outline and its corner points",
         [] { GR_Draw_Rectangle(0, 0, 9, 9, true); },
         {{RDPT_LINESTRIP, 24, {{1, 1, kDraw}, {10, 1, kDraw}, {10, 10, kDraw}, {1, 10, kDraw}, {1, 1, kDraw}}},
          {RDPT_POINTLIST, 24, {{1, 1, kDraw}, {10, 1, kDraw}, {10, 10, kDraw}, {1, 10, kDraw}}}}},
        {"corner colours: whole far edges move to 10.01",
         [] { GR_Draw_RectangleColour(0, 0, 9, 9, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, false); },
         {{RDPT_TRIANGLEFAN, 24,
           {{0, 0, 0x7FFF0000}, {10.01f, 0, 0x7F00FF00}, {10.01f, 10.01f, 0x7F0000FF}, {0, 10.01f, 0x7FFFFFFF},
            {0, 0, 0x7FFF0000}}}}},
        {"corner colours outline, fractional edge kept",
         [] { GR_Draw_RectangleColour(0, 0, 9.5f, 9, 0, 0, 0, 0, true); },
         {{RDPT_LINESTRIP, 24,
           {{0, 0, 0x7F000000}, {10.5f, 0, 0x7F000000}, {10.5f, 10.01f, 0x7F000000}, {0, 10.01f, 0x7F000000},
            {0, 0, 0x7F000000}}}}},
        {"arrow: shaft with offset, head without",
         [] { GR_Draw_Arrow(0, 0, 10, 0, 4); },
         {{RDPT_LINELIST, 16, {{1, 1, kDraw}, {11, 1, kDraw}}},
          {RDPT_TRIANGLELIST, 24, {{6, third, kDraw}, {10, 0, kDraw}, {6, -third, kDraw}}}}},
        {"arrow head no longer than the arrow",
         [] { GR_Draw_Arrow(0, 0, 0, 3, 30); },
         {{RDPT_LINELIST, 16, {{1, 1, kDraw}, {1, 4, kDraw}}},
          {RDPT_TRIANGLELIST, 24, {{-1, 0, kDraw}, {0, 3, kDraw}, {1, 0, kDraw}}}}},
        {"button up: light, dark, then the face (one batch)",
         [] { GR_Draw_Button(0, 0, 10, 10, true); },
         {{RDPT_TRIANGLELIST, 24,
           {{0, 0, 0x7FFFFFFF}, {10, 0, 0x7FFFFFFF}, {0, 10, 0x7FFFFFFF}, {0, 10, 0x7F808080}, {10, 0, 0x7F808080},
            {10, 10, 0x7F808080}, {2, 2, kDraw}, {9, 2, kDraw}, {9, 9, kDraw}, {9, 9, kDraw}, {2, 9, kDraw},
            {2, 2, kDraw}}}}},
        {"zero-length wide line", [] { GR_Draw_LineWidth(5, 5, 5, 5, 3); }, {}},
        {"zero-length wide line colour", [] { GR_Draw_LineWidthColour(5, 5, 5, 5, 3, 0, 0); }, {}},
        {"zero-length arrow", [] { GR_Draw_Arrow(5, 5, 5, 5, 3); }, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.draw();
        const std::vector<Draw> got = Drawn();
        ASSERT_EQ(got.size(), row.want.size());
        for (size_t i = 0; i < got.size(); ++i)
            ExpectDraw(got[i], row.want[i].type, row.want[i].stride, row.want[i].vertices);
    }
}

TEST_F(GfxPrim, UntexturedShapesBatchOnTheWhitePage)
{
    GR_Draw_Triangle(0, 0, 1, 0, 0, 1, false);
    EXPECT_EQ(GR_Batch.texture, GR_WhiteTexturePage->texture);
    GR_Draw_Rectangle(0, 0, 5, 5, false);
    GR_Draw_Arrow(0, 0, 10, 0, 2);  // its shaft is another type; its head joins a new list batch
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].vertices.size(), 9u);
}

TEST_F(GfxPrim, CirclePrecisionIsClampedToMultiplesOfFour)
{
    const int32_t rows[][2] = {{30, 28}, {2, 4}, {100, 64}, {24, 24}, {-5, 4}, {63, 60}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        GR_Draw_SetCirclePrecision(row[0]);
        EXPECT_EQ(GR_Circle.precision, row[1]);
        GR_Draw_Circle(0, 0, 10, true);
        GR_Draw_Circle(0, 0, 10, false);
        const std::vector<Draw> got = Drawn();
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].vertices.size(), size_t(row[1] + 1));
        EXPECT_EQ(got[1].vertices.size(), size_t(3 * row[1]));
        // The rim closes on itself.
        EXPECT_NEAR(got[0].vertices.front().x, got[0].vertices.back().x, 1e-4);
        EXPECT_NEAR(got[0].vertices.front().y, got[0].vertices.back().y, 1e-4);
    }
}

TEST_F(GfxPrim, EllipsesAndRoundRectanglesFollowTheTables)
{
    GR_Draw_SetCirclePrecision(4);
    GR_Draw_EllipseColour(10, 0, 0, 4, 0xFF0000, 0x00FF00, false);  // box + 1: (1, 1)..(11, 5)
    const uint32_t c = 0x7F0000FF, r = 0x7F00FF00;
    std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ExpectDraw(got[0], RDPT_TRIANGLELIST, 16,
               {{6, 3, c}, {11, 3, r}, {6, 5, r}, {6, 3, c}, {6, 5, r}, {1, 3, r},
                {6, 3, c}, {1, 3, r}, {6, 1, r}, {6, 3, c}, {6, 1, r}, {11, 3, r}});

    GR_Draw_CircleColour(10, 10, 5, 0xFF0000, 0x00FF00, true);
    got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ExpectDraw(got[0], RDPT_LINESTRIP, 16, {{16, 11, r}, {11, 16, r}, {6, 11, r}, {11, 6, r}, {16, 11, r}});

    // Corners ordered, whole far edges nudged, box + 1: (1, 1)..(10.01, 10.01); arcs of radius 2.
    const float f = 10.01f, g = 8.01f;
    const std::vector<V> rim = {{f, g, kDraw}, {g, f, kDraw}, {3, f, kDraw}, {1, g, kDraw},
                                {1, 3, kDraw}, {3, 1, kDraw}, {g, 1, kDraw}, {f, 3, kDraw}, {f, g, kDraw}};
    std::vector<V> fan = {{5.505f, 5.505f, kDraw}};
    fan.insert(fan.end(), rim.begin(), rim.end());
    GR_Draw_RoundRect(9, 9, 0, 0, 4, 4, false);
    got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ExpectDraw(got[0], RDPT_TRIANGLEFAN, 24, fan);
    std::vector<V> strip = {rim[0]};
    strip.insert(strip.end(), rim.begin(), rim.end());
    GR_Draw_RoundRect(0, 0, 9, 9, 4, 4, true);
    got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ExpectDraw(got[0], RDPT_LINESTRIP, 24, strip);

    // Corner sizes beyond the box are cut to it; colours are centre and rim.
    GR_Draw_RoundRectColour(0, 0, 3.5f, 3.5f, 100, 100, 0xFF0000, 0x00FF00, false);
    got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].vertices.size(), 10u);
    EXPECT_EQ(got[0].vertices[0].colour, c);
    EXPECT_NEAR(got[0].vertices[1].x, 4.5f, 1e-4);  // radius 1.75 around the centre 2.75
    EXPECT_EQ(got[0].vertices[1].colour, r);
}

TEST_F(GfxPrim, HealthBarMergesItsColoursAndGrowsByDirection)
{
    GR_Draw_SetAlpha(1.0f);
    struct Row {
        int32_t direction;
        float x1, y1, x2, y2;
    };
    const Row rows[] = {{0, 0, 0, 75, 10}, {1, 25, 0, 100, 10}, {2, 0, 0, 100, 7.5f}, {3, 0, 2.5f, 100, 10}};
    // 75 % between green and red through yellow: half way from yellow to red.
    const uint32_t bar = 0xFFFF8000;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.direction);
        GR_Draw_HealthBar(0, 0, 100, 10, 75, 0x404040, 0x00FF00, 0x00FFFF, 0x0000FF, row.direction, true, true);
        const std::vector<Draw> got = Drawn();
        // back, its border, the bar, its border
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[0].vertices[0].colour, 0xFF404040u);
        EXPECT_EQ(got[1].type, uint32_t(RDPT_LINESTRIP));
        EXPECT_EQ(got[1].vertices[0].colour, 0xFF000000u);
        ASSERT_EQ(got[2].vertices.size(), 5u);
        EXPECT_EQ(got[2].vertices[0].colour, bar);
        EXPECT_NEAR(got[2].vertices[0].x, row.x1, 1e-4);
        EXPECT_NEAR(got[2].vertices[0].y, row.y1, 1e-4);
        EXPECT_NEAR(got[2].vertices[2].x, row.x2 + 1 + (std::floor(row.x2) == row.x2 ? 0.01f : 0), 1e-4);
        EXPECT_NEAR(got[2].vertices[2].y, row.y2 + 1 + (std::floor(row.y2) == row.y2 ? 0.01f : 0), 1e-4);
    }
    // Amounts of 0, below 0 and NaN leave the back alone; without show back nothing at all.
    for (float amount : {0.0f, -5.0f, NAN}) {
        GR_Draw_HealthBar(0, 0, 100, 10, amount, 0x404040, 0, 0, 0, 0, true, false);
        EXPECT_EQ(Drawn().size(), 1u);
        GR_Draw_HealthBar(0, 0, 100, 10, amount, 0x404040, 0, 0, 0, 0, false, true);
        EXPECT_EQ(Drawn().size(), 0u);
    }
    // Above 100 is full, in the max colour.
    GR_Draw_HealthBar(0, 0, 100, 10, 250, 0, 0x00FF00, 0x00FFFF, 0x0000FF, 0, false, false);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].vertices[0].colour, 0xFFFF0000u);
    EXPECT_NEAR(got[0].vertices[2].x, 101.01f, 1e-4);
}

TEST_F(GfxPrim, UserPrimitiveStoresVerticesWithoutOffset)
{
    GR_Draw_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    GR_Draw_Vertex(1, 2);
    GR_Draw_VertexColour(3, 4, 0x00FF00, 0.25f);
    GR_Draw_VertexTexture(5, 6, 0.5f, 0.75f);
    GR_Draw_VertexTextureColour(7, 8, 1, 1, 0xFF0000, 2.0f);
    GR_Draw_PrimitiveEnd();
    EXPECT_EQ(GR_Batch.texture, nullptr);  // no texture, not the white page
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    ExpectDraw(got[0], RDPT_TRIANGLESTRIP, 24, {{1, 2, kDraw}, {3, 4, 0x3F00FF00}, {5, 6, kDraw}, {7, 8, 0xFF0000FF}});
    EXPECT_EQ(GR_UserPrim.vertices[2].u, 0.5f);
    EXPECT_EQ(GR_UserPrim.vertices[2].v, 0.75f);
}

TEST_F(GfxPrim, UserPrimitiveLimitsAndWholePrimitives)
{
    struct Row {
        const char* name;
        int32_t type, vertices;
        size_t sent;  // 0: no draw
    };
    const Row rows[] = {
        {"the 1002nd vertex is dropped", RDPT_POINTLIST, 1002, 1001},
        {"2-vertex triangle list", RDPT_TRIANGLELIST, 2, 0},
        {"triangle list sends whole triangles", RDPT_TRIANGLELIST, 8, 6},
        {"line list sends whole lines", RDPT_LINELIST, 3, 2},
        {"1-vertex line strip", RDPT_LINESTRIP, 1, 0},
        {"3-vertex fan", RDPT_TRIANGLEFAN, 3, 3},
        {"unknown type", 7, 30, 0},
        {"empty", RDPT_POINTLIST, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GR_Draw_PrimitiveBegin(row.type, -1);
        for (int32_t i = 0; i < row.vertices; ++i) GR_Draw_Vertex(float(i), 0);
        GR_Draw_PrimitiveEnd();
        const std::vector<Draw> got = Drawn();
        if (row.sent == 0) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_EQ(got.size(), 1u);
        ASSERT_EQ(got[0].vertices.size(), row.sent);
        EXPECT_EQ(got[0].vertices.back().x, float(row.sent - 1));
    }
}

TEST_F(GfxPrim, IllegalTextureIsFatalAndDrawsNothing)
{
    ASSERT_FALSE(GR_Texture_Exists(5));
    GR_Draw_PrimitiveBegin(RDPT_TRIANGLELIST, 5);
    EXPECT_NE(std::string(Error_LastText()).find("Illegal texture supplied."), std::string::npos) << Error_LastText();
    EXPECT_NE(std::string(Error_LastText()).find("FATAL"), std::string::npos);
    EXPECT_TRUE(g_ErrorQuitting);
    for (int32_t i = 0; i < 3; ++i) GR_Draw_Vertex(float(i), 0);
    GR_Draw_PrimitiveEnd();
    EXPECT_TRUE(Drawn().empty());
}

const TexturePageEntry* g_entry = nullptr;
const TexturePageEntry* LookupOne(int64_t token) { return token == 0x70000 ? g_entry : nullptr; }

TEST_F(GfxPrim, TextureHandlesResolveThroughOneRule)
{
    TexturePageEntry entry{3, 1, 4, 4, 0, 0, 2, 8, 4, 8, int16_t(GR_WhiteTexture)};
    g_entry = &entry;
    struct Row {
        const char* name;
        int64_t handle;
        bool registry;
        TextureHandleKind kind;
    };
    const Row rows[] = {
        {"none", -1, true, TextureHandleKind::None},
        {"live index", GR_WhiteTexture, true, TextureHandleKind::Page},
        {"dead index", 5, true, TextureHandleKind::Illegal},
        {"other negative", -2, true, TextureHandleKind::Illegal},
        {"huge", INT64_MAX, true, TextureHandleKind::Illegal},
        {"registered token", 0x70000, true, TextureHandleKind::Entry},
        {"token with no registry", 0x70000, false, TextureHandleKind::Illegal},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TexturePageEntryLookup previous = TextureHandle_SetEntryLookup(row.registry ? LookupOne : nullptr);
        const TextureHandle h = TextureHandle_Resolve(row.handle);
        TextureHandle_SetEntryLookup(previous);
        EXPECT_EQ(h.kind, row.kind);
        const bool drawable = row.kind == TextureHandleKind::Page || row.kind == TextureHandleKind::Entry;
        EXPECT_EQ(h.texture, drawable ? GR_WhiteTexturePage->texture : nullptr);
        EXPECT_EQ(h.entry, row.kind == TextureHandleKind::Entry ? &entry : nullptr);
    }

    // An entry's coordinates are mapped onto its page (a 1 x 1 texture here).
    const TexturePageEntryLookup previous = TextureHandle_SetEntryLookup(LookupOne);
    GR_Draw_PrimitiveBegin(RDPT_POINTLIST, 0x70000);
    GR_Draw_VertexTexture(0, 0, 0.5f, 0.25f);
    GR_Draw_PrimitiveEnd();
    TextureHandle_SetEntryLookup(previous);
    EXPECT_EQ(GR_Batch.texture, GR_WhiteTexturePage->texture);
    EXPECT_FLOAT_EQ(GR_UserPrim.vertices[0].u, 4.0f);  // 2 x 0.5 + 3
    EXPECT_FLOAT_EQ(GR_UserPrim.vertices[0].v, 3.0f);  // 8 x 0.25 + 1
    EXPECT_FALSE(g_ErrorOccurred);
    g_entry = nullptr;
}

// Script reals reach every shape: NaN and infinities must neither crash nor trip the sanitizers, whatever
// vertices they make.
TEST_F(GfxPrim, NaNAndInfiniteArgumentsNeverCrash)
{
    const float bad[] = {NAN, INFINITY, -INFINITY, 1e30f};
    for (float v : bad) {
        SCOPED_TRACE(v);
        GR_Draw_Point(v, 1);
        GR_Draw_Line(v, 1, 2, v);
        GR_Draw_LineWidth(0, 0, v, 5, v);
        GR_Draw_Triangle(v, 0, 1, 1, 2, v, false);
        GR_Draw_Rectangle(v, 0, 5, v, false);
        GR_Draw_RectangleColour(0, v, v, 5, 1, 2, 3, 4, true);
        GR_Draw_Circle(v, 5, v, false);
        GR_Draw_Ellipse(0, v, 5, 5, true);
        GR_Draw_RoundRect(0, 0, v, 5, v, 2, false);
        GR_Draw_Arrow(0, 0, v, 5, v);
        GR_Draw_Button(v, 0, 5, 5, true);
        GR_Draw_HealthBar(0, 0, v, 10, v, 0x404040, 0, 0, 0, 0, true, true);
        GR_Draw_PrimitiveBegin(RDPT_TRIANGLELIST, -1);
        for (int i = 0; i < 3; ++i) GR_Draw_VertexTextureColour(v, v, v, v, 0xFFFFFF, v);
        GR_Draw_PrimitiveEnd();
        GraphicsFlush();
        Drawn();
    }
}

}  // namespace prim2d_test
