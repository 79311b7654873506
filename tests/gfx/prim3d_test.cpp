// The immediate 3D path on the recording device: what each vertex operation stores, how long primitives are cut
// into pieces without losing a primitive or a triangle's facing, the solids' vertex streams, texture handles,
// texture repeat around the solids, and the hand-over to a current recorder.
#include "gfx/prim3d.h"

#include "core/console.h"
#include "core/convert.h"
#include "core/error.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/recorder.h"
#include "gfx/texture_handle.h"
#include "gfx/textures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace prim3d_test {

using V = VertexPosNormalColourUV;

struct Draw {
    uint32_t type;
    std::vector<V> vertices;
};

// A primitive as a list of vertex indices (x holds the index in the sequence tests), in drawing order.
using Prim = std::vector<int>;

// The primitives a draw of the type makes from its vertices, with triangle strips' odd triangles turned round
// so every triangle keeps its facing; triangles with a repeated vertex are dropped.
std::vector<Prim> Primitives(uint32_t type, const std::vector<int>& v)
{
    std::vector<Prim> out;
    const size_t n = v.size();
    auto triangle = [&](int a, int b, int c) {
        if (a != b && b != c && a != c) out.push_back({a, b, c});
    };
    switch (type) {
    case RDPT_POINTLIST:
        for (int i : v) out.push_back({i});
        break;
    case RDPT_LINELIST:
        for (size_t k = 0; k + 1 < n; k += 2) out.push_back({v[k], v[k + 1]});
        break;
    case RDPT_LINESTRIP:
        for (size_t k = 0; k + 1 < n; ++k) out.push_back({v[k], v[k + 1]});
        break;
    case RDPT_TRIANGLELIST:
        for (size_t k = 0; k + 2 < n; k += 3) triangle(v[k], v[k + 1], v[k + 2]);
        break;
    case RDPT_TRIANGLESTRIP:
        for (size_t k = 0; k + 2 < n; ++k) {
            if (k % 2 == 0) triangle(v[k], v[k + 1], v[k + 2]);
            else triangle(v[k + 2], v[k + 1], v[k]);
        }
        break;
    case RDPT_TRIANGLEFAN:
        for (size_t k = 1; k + 1 < n; ++k) triangle(v[0], v[k], v[k + 1]);
        break;
    default: break;
    }
    return out;
}

class Gfx3D : public testing::Test {
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
        GR_CurrentRecorder = nullptr;
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0x336699);
        const uint32_t pixels[4 * 2] = {};
        page_ = GR_Texture_Create(4, 2, pixels, sizeof pixels);
        ASSERT_TRUE(GR_Texture_Exists(page_));
        device_.draws.clear();
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_CurrentRecorder = nullptr;
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_Free(page_);
        GR_Draw_SetColour(0);
        GR_Device = nullptr;
        GPUState::SetDefaults();
        Error_ResetState();
        g_ShowErrorDialogs = true;
        DebugConsole = previousDebug_;
        ReleaseConsole = previousRelease_;
    }

    // Flushes and decodes every draw the device received.
    std::vector<Draw> Drawn()
    {
        GraphicsFlush();
        std::vector<Draw> out;
        for (const kvtest::FakeDraw& d : device_.draws) {
            EXPECT_EQ(d.stride, 36u);
            Draw draw{d.type, {}};
            for (size_t at = 0; at + sizeof(V) <= d.vertices.size(); at += sizeof(V)) {
                V v;
                std::memcpy(&v, &d.vertices[at], sizeof v);
                draw.vertices.push_back(v);
            }
            out.push_back(draw);
        }
        device_.draws.clear();
        return out;
    }

    // Sends vertex i at x = i through the 3D path as one primitive of the type.
    static void Sequence(int32_t type, int32_t n)
    {
        GR_3D_PrimitiveBegin(type, -1);
        for (int32_t i = 0; i < n; ++i) GR_3D_Vertex(float(i), 0, 0);
        GR_3D_PrimitiveEnd();
    }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    kvtest::RecordingConsole debug_, release_;
    tagIConsole* previousDebug_ = nullptr;
    tagIConsole* previousRelease_ = nullptr;
    int32_t page_ = -1;
};

TEST_F(Gfx3D, EachVertexOperationStoresItsNormalColourAndCoordinates)
{
    const uint32_t draw = 0xFF996632;  // 0x336699 at full alpha, bit 0 cleared
    struct Row {
        const char* name;
        std::function<void()> add;
        V want;
    };
    const std::vector<Row> rows = {
        {"plain", [] { GR_3D_Vertex(1, 2, 3); }, {1, 2, 3, 0, 0, 0, draw, 0, 0}},
        // Own colours get bit 0 of the script colour: blue 0xFE stays, red 0x10 becomes 0x11.
        {"colour", [] { GR_3D_VertexColour(1, 2, 3, 0xFE0010, 0.5f); }, {1, 2, 3, 0, 0, 0, 0x7F1100FE, 0, 0}},
        {"texture", [] { GR_3D_VertexTexture(1, 2, 3, 0.25f, 0.75f); }, {1, 2, 3, 0, 0, 0, draw, 0.25f, 0.75f}},
        {"texture colour",
         [] { GR_3D_VertexTextureColour(1, 2, 3, 0.5f, 1, 0x00FF00, 2.0f); },
         {1, 2, 3, 0, 0, 0, 0xFF01FF00, 0.5f, 1}},
        {"normal", [] { GR_3D_VertexNormal(1, 2, 3, 0, 1, 0); }, {1, 2, 3, 0, 1, 0, draw, 0, 0}},
        {"normal colour",
         [] { GR_3D_VertexNormalColour(1, 2, 3, 1, 0, 0, 0x000001, NAN); },
         {1, 2, 3, 1, 0, 0, 0x00010000, 0, 0}},
        {"normal texture",
         [] { GR_3D_VertexNormalTexture(1, 2, 3, 0, 0, -1, 2, 3); },
         {1, 2, 3, 0, 0, -1, draw, 2, 3}},
        {"normal texture colour",
         [] { GR_3D_VertexNormalTextureColour(1, 2, 3, 0, 0, 1, 4, 5, 0xFFFFFF, 1); },
         {1, 2, 3, 0, 0, 1, 0xFFFFFFFF, 4, 5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GR_3D_PrimitiveBegin(RDPT_POINTLIST, -1);
        row.add();
        GR_3D_PrimitiveEnd();
        const std::vector<Draw> got = Drawn();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].type, uint32_t(RDPT_POINTLIST));
        ASSERT_EQ(got[0].vertices.size(), 1u);
        const V& v = got[0].vertices[0];
        EXPECT_EQ(std::memcmp(&v, &row.want, sizeof v), 0)
            << "colour " << std::hex << v.colour << " want " << row.want.colour << std::dec << ", u " << v.u
            << ", v " << v.v << ", normal " << v.nx << " " << v.ny << " " << v.nz;
    }
}

TEST_F(Gfx3D, WhiteDrawColourLosesItsLowestBit)
{
    GR_Draw_SetColour(0xFFFFFF);
    ASSERT_EQ(GR_DrawColour, 0xFFFFFFFFu);
    Sequence(RDPT_POINTLIST, 1);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].vertices[0].colour, 0xFFFFFFFEu);
}

// Every type sent with more vertices than the array holds: the pieces together make exactly the primitives
// of the whole sequence, triangles with their facing.
TEST_F(Gfx3D, LongPrimitivesAreCutWithoutLosingAPrimitive)
{
    struct Row {
        int32_t type;
        int32_t vertices;
        size_t draws;  // strips and fans never share a draw call
    };
    const Row rows[] = {
        {RDPT_TRIANGLESTRIP, 2500, 3}, {RDPT_TRIANGLESTRIP, 1001, 2}, {RDPT_TRIANGLEFAN, 2500, 3},
        {RDPT_LINESTRIP, 2500, 3},     {RDPT_TRIANGLELIST, 2500, 1},  {RDPT_LINELIST, 2500, 1},
        {RDPT_POINTLIST, 2500, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("type " + std::to_string(row.type) + ", " + std::to_string(row.vertices) + " vertices");
        Sequence(row.type, row.vertices);
        const std::vector<Draw> got = Drawn();
        EXPECT_EQ(got.size(), row.draws);
        std::vector<Prim> pieces;
        for (const Draw& d : got) {
            std::vector<int> indices;
            for (const V& v : d.vertices) indices.push_back(int(v.x));
            for (const Prim& p : Primitives(d.type, indices)) pieces.push_back(p);
        }
        std::vector<int> whole;
        for (int i = 0; i < row.vertices; ++i) whole.push_back(i);
        const std::vector<Prim> want = Primitives(uint32_t(row.type), whole);
        ASSERT_EQ(pieces.size(), want.size());
        EXPECT_TRUE(pieces == want);
    }
}

TEST_F(Gfx3D, TriangleStripPiecesWithAnOddCountRepeatTheirFirstCarriedVertex)
{
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    for (int32_t i = 0; i < 5; ++i) GR_3D_Vertex(float(i), 0, 0);
    GR_3D_AddVertex();
    ASSERT_EQ(GR_3DPrim.count, 3);
    EXPECT_EQ(GR_3DPrim.vertices[0].x, 3.0f);
    EXPECT_EQ(GR_3DPrim.vertices[1].x, 3.0f);
    EXPECT_EQ(GR_3DPrim.vertices[2].x, 4.0f);
    GR_3D_Vertex(5, 0, 0);
    GR_3D_PrimitiveEnd();
    std::vector<Prim> pieces;
    for (const Draw& d : Drawn()) {
        std::vector<int> indices;
        for (const V& v : d.vertices) indices.push_back(int(v.x));
        for (const Prim& p : Primitives(d.type, indices)) pieces.push_back(p);
    }
    EXPECT_TRUE(pieces == Primitives(RDPT_TRIANGLESTRIP, {0, 1, 2, 3, 4, 5}));
}

TEST_F(Gfx3D, TriangleListIsSentAfter999Vertices)
{
    GR_3D_PrimitiveBegin(RDPT_TRIANGLELIST, -1);
    for (int32_t i = 0; i < 999; ++i) GR_3D_Vertex(float(i), 0, 0);
    EXPECT_TRUE(Drawn().empty());
    GR_3D_Vertex(999, 0, 0);
    EXPECT_EQ(GR_3DPrim.count, 1);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].vertices.size(), 999u);
    EXPECT_EQ(got[0].vertices.back().x, 998.0f);
}

TEST_F(Gfx3D, OnlyWholePrimitivesReachTheBatch)
{
    struct Row {
        int32_t type, vertices;
        size_t sent;
    };
    const Row rows[] = {
        {RDPT_TRIANGLELIST, 2, 0}, {RDPT_TRIANGLELIST, 5, 3}, {RDPT_LINELIST, 3, 2}, {RDPT_LINESTRIP, 1, 0},
        {RDPT_TRIANGLESTRIP, 2, 0}, {RDPT_TRIANGLEFAN, 3, 3}, {RDPT_POINTLIST, 0, 0}, {0, 5, 0},
        {7, 5, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("type " + std::to_string(row.type) + ", " + std::to_string(row.vertices) + " vertices");
        Sequence(row.type, row.vertices);
        const std::vector<Draw> got = Drawn();
        if (row.sent == 0) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].vertices.size(), row.sent);
    }
    // The count stays after the end: ending again sends the same vertices again.
    Sequence(RDPT_POINTLIST, 2);
    GR_3D_PrimitiveEnd();
    EXPECT_EQ(GR_3DPrim.count, 2);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].vertices.size(), 4u);
}

const TexturePageEntry* g_entry = nullptr;
const TexturePageEntry* LookupOne(int64_t token) { return token == 0x50000 ? g_entry : nullptr; }

TEST_F(Gfx3D, TextureHandlesGoThroughTheResolverAndUnknownOnesDrawUntextured)
{
    // An entry at (1, 1) on the 4 x 2 page, drawn 2 x 1.
    TexturePageEntry entry{1, 1, 2, 1, 0, 0, 2, 1, 2, 1, int16_t(page_)};
    g_entry = &entry;
    const TexturePageEntryLookup previous = TextureHandle_SetEntryLookup(LookupOne);
    NativeTexture* native = GR_Texture_Get(page_);
    struct Row {
        const char* name;
        int64_t handle;
        NativeTexture* texture;
        float u, v;  // of (0.5, 0.5)
    };
    const Row rows[] = {
        {"none", -1, nullptr, 0.5f, 0.5f},
        {"page", page_, native, 0.5f, 0.5f},
        {"entry: mapped onto the page", 0x50000, native, 0.5f, 0.75f},  // (2 x 0.5 + 1) / 4, (1 x 0.5 + 1) / 2
        {"dead index", page_ + 7, nullptr, 0.5f, 0.5f},
        {"unregistered token", 0x60000, nullptr, 0.5f, 0.5f},
        {"other negative", -5, nullptr, 0.5f, 0.5f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GR_3D_PrimitiveBegin(RDPT_POINTLIST, row.handle);
        GR_3D_VertexTexture(0, 0, 0, 0.5f, 0.5f);
        GR_3D_PrimitiveEnd();
        EXPECT_EQ(GR_Batch.texture, row.texture);
        const std::vector<Draw> got = Drawn();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_FLOAT_EQ(got[0].vertices[0].u, row.u);
        EXPECT_FLOAT_EQ(got[0].vertices[0].v, row.v);
    }
    EXPECT_FALSE(g_ErrorOccurred);
    TextureHandle_SetEntryLookup(previous);
    g_entry = nullptr;
}

TEST_F(Gfx3D, BlockFacesAndCoordinatesFollowTheTable)
{
    const float x1 = 1, y1 = 2, z1 = 3, x2 = 4, y2 = 6, z2 = 9, h = 2, v = 3;
    struct Face {
        float normal[3];
        float corner[4][3];
        float uv[4][2];
    };
    const Face faces[] = {
        {{0, 0, -1}, {{x1, y1, z1}, {x1, y2, z1}, {x2, y2, z1}, {x2, y1, z1}}, {{0, 0}, {0, v}, {h, v}, {h, 0}}},
        {{0, 0, 1}, {{x1, y1, z2}, {x2, y1, z2}, {x2, y2, z2}, {x1, y2, z2}}, {{0, 0}, {h, 0}, {h, v}, {0, v}}},
        {{0, 1, 0}, {{x1, y2, z1}, {x1, y2, z2}, {x2, y2, z2}, {x2, y2, z1}}, {{0, 0}, {0, v}, {h, v}, {h, 0}}},
        {{1, 0, 0}, {{x2, y2, z1}, {x2, y2, z2}, {x2, y1, z2}, {x2, y1, z1}}, {{0, 0}, {0, v}, {h, v}, {h, 0}}},
        {{0, -1, 0}, {{x2, y1, z1}, {x2, y1, z2}, {x1, y1, z2}, {x1, y1, z1}}, {{0, 0}, {0, v}, {h, v}, {h, 0}}},
        {{-1, 0, 0}, {{x1, y1, z1}, {x1, y1, z2}, {x1, y2, z2}, {x1, y2, z1}}, {{0, 0}, {0, v}, {h, v}, {h, 0}}},
    };
    GR_3D_DrawBlock(x1, y1, z1, x2, y2, z2, -1, h, v);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].type, uint32_t(RDPT_TRIANGLELIST));
    ASSERT_EQ(got[0].vertices.size(), 36u);
    const int order[6] = {0, 1, 2, 2, 3, 0};
    for (int f = 0; f < 6; ++f)
        for (int k = 0; k < 6; ++k) {
            SCOPED_TRACE("face " + std::to_string(f) + ", vertex " + std::to_string(k));
            const V& got1 = got[0].vertices[size_t(f * 6 + k)];
            const int c = order[k];
            EXPECT_EQ(got1.x, faces[f].corner[c][0]);
            EXPECT_EQ(got1.y, faces[f].corner[c][1]);
            EXPECT_EQ(got1.z, faces[f].corner[c][2]);
            EXPECT_EQ(got1.nx, faces[f].normal[0]);
            EXPECT_EQ(got1.ny, faces[f].normal[1]);
            EXPECT_EQ(got1.nz, faces[f].normal[2]);
            EXPECT_EQ(got1.u, faces[f].uv[c][0]);
            EXPECT_EQ(got1.v, faces[f].uv[c][1]);
            EXPECT_EQ(got1.colour, 0xFF996632u);
        }
    // Every face winds the same way about its outward normal, so culling keeps or drops all six alike.
    for (int f = 0; f < 6; ++f) {
        const V* t = &got[0].vertices[size_t(f * 6)];
        const float ax = t[1].x - t[0].x, ay = t[1].y - t[0].y, az = t[1].z - t[0].z;
        const float bx = t[2].x - t[0].x, by = t[2].y - t[0].y, bz = t[2].z - t[0].z;
        const float cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
        EXPECT_GT(cx * t[0].nx + cy * t[0].ny + cz * t[0].nz, 0) << "face " << f;
    }
}

// Steps as scripts give them, through the converter reals go through: 3..128 whatever comes in.
TEST_F(Gfx3D, RoundSolidsClampTheirSteps)
{
    struct Row {
        int32_t steps, used;
    };
    const Row rows[] = {{2, 3},
                        {200, 128},
                        {24, 24},
                        {-4, 3},
                        {Real_ToInt32(NAN), 3},
                        {Real_ToInt32(INFINITY), 3},
                        {Real_ToInt32(-INFINITY), 3}};
    for (const Row& row : rows) {
        SCOPED_TRACE("steps " + std::to_string(row.steps));
        const size_t rim = size_t(row.used) + 1;
        GR_3D_DrawCylinder(0, 0, 0, 10, 10, 10, -1, 1, 1, true, row.steps);
        std::vector<Draw> got = Drawn();
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].type, uint32_t(RDPT_TRIANGLEFAN));
        EXPECT_EQ(got[0].vertices.size(), rim + 1);
        EXPECT_EQ(got[1].type, uint32_t(RDPT_TRIANGLESTRIP));
        EXPECT_EQ(got[1].vertices.size(), 2 * rim);
        EXPECT_EQ(got[2].vertices.size(), rim + 1);

        GR_3D_DrawCone(0, 0, 0, 10, 10, 10, -1, 1, 1, false, row.steps);
        got = Drawn();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].vertices.size(), 2 * rim);

        GR_3D_DrawEllipsoid(0, 0, 0, 10, 10, 10, -1, 1, 1, row.steps);
        got = Drawn();
        EXPECT_EQ(got.size(), size_t((row.used + 1) / 2));
        for (const Draw& d : got) EXPECT_EQ(d.vertices.size(), 2 * rim);
    }
}

TEST_F(Gfx3D, CylinderConeAndEllipsoidStreams)
{
    // Steps 4 puts the rim on the axes: (12, 5), (7, 8), (2, 5), (7, 2) around the centre (7, 5).
    GR_3D_DrawCylinder(2, 2, 1, 12, 8, 9, -1, 2, 3, true, 4);
    std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 3u);
    const float rimX[5] = {12, 7, 2, 7, 12}, rimY[5] = {5, 8, 5, 2, 5};
    const float cosA[5] = {1, 0, -1, 0, 1}, sinA[5] = {0, 1, 0, -1, 0};
    // Top: centre then the rim at z2, all facing up with (0, v).
    EXPECT_NEAR(got[0].vertices[0].x, 7, 1e-5);
    EXPECT_NEAR(got[0].vertices[0].y, 5, 1e-5);
    for (size_t i = 0; i < 6; ++i) {
        const V& t = got[0].vertices[i];
        EXPECT_EQ(t.z, 9.0f);
        EXPECT_EQ(t.nz, 1.0f);
        EXPECT_EQ(t.u, 0.0f);
        EXPECT_EQ(t.v, 3.0f);
        if (i > 0) {
            EXPECT_NEAR(t.x, rimX[i - 1], 1e-5);
            EXPECT_NEAR(t.y, rimY[i - 1], 1e-5);
        }
    }
    // Side: pairs top, bottom with outward normals and u = i x 2 / 4.
    for (size_t i = 0; i < 5; ++i) {
        const V& top = got[1].vertices[2 * i];
        const V& bottom = got[1].vertices[2 * i + 1];
        EXPECT_NEAR(top.x, rimX[i], 1e-5);
        EXPECT_NEAR(bottom.y, rimY[i], 1e-5);
        EXPECT_EQ(top.z, 9.0f);
        EXPECT_EQ(bottom.z, 1.0f);
        EXPECT_NEAR(top.nx, cosA[i], 1e-6);
        EXPECT_NEAR(bottom.ny, sinA[i], 1e-6);
        EXPECT_FLOAT_EQ(top.u, float(i) * 0.5f);
        EXPECT_EQ(top.v, 3.0f);
        EXPECT_EQ(bottom.v, 0.0f);
    }
    // Bottom: centre, then the rim backwards, facing down with (0, 0).
    for (size_t i = 1; i < 6; ++i) {
        const V& b = got[2].vertices[i];
        EXPECT_NEAR(b.x, rimX[5 - i], 1e-5);
        EXPECT_EQ(b.z, 1.0f);
        EXPECT_EQ(b.nz, -1.0f);
        EXPECT_EQ(b.v, 0.0f);
    }

    // The cone pairs the apex at z2 with the rim at z1; open, it has no bottom.
    GR_3D_DrawCone(2, 2, 1, 12, 8, 9, -1, 2, 3, false, 4);
    got = Drawn();
    ASSERT_EQ(got.size(), 1u);
    for (size_t i = 0; i < 5; ++i) {
        const V& apex = got[0].vertices[2 * i];
        EXPECT_NEAR(apex.x, 7, 1e-5);
        EXPECT_EQ(apex.z, 9.0f);
        EXPECT_EQ(apex.nz, 1.0f);
        EXPECT_NEAR(got[0].vertices[2 * i + 1].x, rimX[i], 1e-5);
        EXPECT_EQ(got[0].vertices[2 * i + 1].z, 1.0f);
    }

    // Ellipsoid of steps 4: two bands from the top pole (z2) to the bottom one, v in halves.
    GR_3D_DrawEllipsoid(2, 2, 1, 12, 8, 9, -1, 2, 3, 4);
    got = Drawn();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NEAR(got[0].vertices[0].z, 9, 1e-5);
    EXPECT_NEAR(got[0].vertices[0].x, 7, 1e-5);
    EXPECT_NEAR(got[0].vertices[1].z, 5, 1e-5);  // the equator
    EXPECT_NEAR(got[0].vertices[1].x, 12, 1e-5);
    EXPECT_NEAR(got[0].vertices[1].nx, 1, 1e-6);
    EXPECT_FLOAT_EQ(got[0].vertices[1].v, 1.5f);
    EXPECT_NEAR(got[1].vertices[1].z, 1, 1e-5);
    EXPECT_FLOAT_EQ(got[1].vertices[1].v, 3.0f);
}

TEST_F(Gfx3D, WallsAndFloorsAreFansWithOneNormal)
{
    GR_3D_DrawWall(0, 0, 0, 3, 4, 10, -1, 2, 5);
    GR_3D_DrawFloor(0, 1, 0, 6, 7, 8, -1, 2, 5);
    const std::vector<Draw> got = Drawn();
    ASSERT_EQ(got.size(), 2u);
    struct Want {
        float x, y, z, u, v;
    };
    const Want wall[4] = {{0, 0, 0, 0, 0}, {3, 4, 0, 2, 0}, {3, 4, 10, 2, 5}, {0, 0, 10, 0, 5}};
    const Want floor[4] = {{0, 1, 0, 0, 0}, {0, 7, 0, 0, 5}, {6, 7, 8, 2, 5}, {6, 1, 8, 2, 0}};
    const float wallNormal[3] = {0.8f, -0.6f, 0}, floorNormal[3] = {-0.8f, 0, 0.6f};
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "wall" : "floor");
        EXPECT_EQ(got[size_t(which)].type, uint32_t(RDPT_TRIANGLEFAN));
        ASSERT_EQ(got[size_t(which)].vertices.size(), 4u);
        const Want* want = which == 0 ? wall : floor;
        const float* n = which == 0 ? wallNormal : floorNormal;
        for (size_t i = 0; i < 4; ++i) {
            const V& g = got[size_t(which)].vertices[i];
            EXPECT_EQ(g.x, want[i].x);
            EXPECT_EQ(g.y, want[i].y);
            EXPECT_EQ(g.z, want[i].z);
            EXPECT_EQ(g.u, want[i].u);
            EXPECT_EQ(g.v, want[i].v);
            EXPECT_FLOAT_EQ(g.nx, n[0]);
            EXPECT_FLOAT_EQ(g.ny, n[1]);
            EXPECT_FLOAT_EQ(g.nz, n[2]);
        }
    }
}

// The solids draw with texture repeat on and put the flag back; a zero-length wall or floor touches nothing.
TEST_F(Gfx3D, SolidsSwitchRepeatOnForTheirDrawOnly)
{
    struct Row {
        const char* name;
        std::function<void()> draw;
        bool draws;
    };
    const std::vector<Row> rows = {
        {"block", [] { GR_3D_DrawBlock(0, 0, 0, 1, 1, 1, -1, 1, 1); }, true},
        {"cylinder", [] { GR_3D_DrawCylinder(0, 0, 0, 1, 1, 1, -1, 1, 1, false, 8); }, true},
        {"wall", [] { GR_3D_DrawWall(0, 0, 0, 1, 0, 1, -1, 1, 1); }, true},
        {"zero-length wall", [] { GR_3D_DrawWall(5, 5, 0, 5, 5, 10, -1, 1, 1); }, false},
        {"zero-length floor", [] { GR_3D_DrawFloor(5, 0, 5, 5, 10, 5, -1, 1, 1); }, false},
    };
    for (const Row& row : rows)
        for (bool before : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (before ? ", repeat on" : ", repeat off"));
            GR_Texture_SetRepeat(before);
            GraphicsFlush();
            device_.ClearLog();
            row.draw();
            EXPECT_EQ(GR_Texture_GetRepeat(), before);
            const std::vector<std::string> log = device_.log;
            if (!row.draws) {
                EXPECT_TRUE(device_.draws.empty());
                EXPECT_EQ(g_GPUState.samplerDirty, 0u);
                continue;
            }
            // The device wraps stage 0 when the solid's vertices are drawn.
            std::string address;
            bool drew = false;
            for (const std::string& line : log) {
                if (line.rfind("SetSamplerState(0,1,", 0) == 0) address = line;
                if (line.rfind("DrawPrimitive(", 0) == 0) {
                    drew = true;
                    EXPECT_EQ(address.empty() ? "SetSamplerState(0,1,1)" : address, "SetSamplerState(0,1,1)");
                }
            }
            EXPECT_TRUE(drew);
            Drawn();
        }
    GR_Texture_SetRepeat(false);
}

TEST_F(Gfx3D, BadRealsNeverCrash)
{
    const float bad[] = {NAN, INFINITY, -INFINITY};
    for (float b : bad) {
        GR_3D_DrawBlock(b, 0, 0, 1, b, 1, -1, b, 1);
        GR_3D_DrawCylinder(0, b, 0, 1, 1, b, -1, 1, b, true, Real_ToInt32(b));
        GR_3D_DrawCone(b, b, b, b, b, b, -1, b, b, true, Real_ToInt32(b));
        GR_3D_DrawEllipsoid(0, 0, b, 1, 1, 1, -1, 1, 1, Real_ToInt32(b));
        GR_3D_DrawWall(b, 0, 0, 1, 0, 1, -1, 1, 1);
        GR_3D_DrawFloor(0, 0, b, 1, 0, 1, -1, 1, 1);
        GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
        GR_3D_VertexNormalTextureColour(b, b, b, b, b, b, b, b, 0xFFFFFF, b);
        GR_3D_PrimitiveEnd();
    }
    Drawn();
    EXPECT_FALSE(g_ErrorOccurred);
}

TEST_F(Gfx3D, WithARecorderCurrentTheBatchGetsNothing)
{
    GraphicsRecorder recorder;
    GR_CurrentRecorder = &recorder;
    Sequence(RDPT_TRIANGLEFAN, 5);
    GR_3D_DrawBlock(0, 0, 0, 1, 1, 1, -1, 1, 1);
    Sequence(RDPT_LINESTRIP, 3);
    GR_CurrentRecorder = nullptr;
    EXPECT_TRUE(Drawn().empty());
    EXPECT_EQ(device_.Count("DrawPrimitive"), 0u);
    EXPECT_EQ(recorder.triangles.count, 9 + 36);
    EXPECT_EQ(recorder.lines.count, 4);
    EXPECT_EQ(recorder.points.count, 0);
    recorder.Free();
}

}  // namespace prim3d_test
