// The graphics recorder on the recording device: how each primitive type becomes a plain list, what too short
// a primitive records (nothing), how the arrays grow, recolouring, and drawing from static buffers at an offset
// with the world matrix and texture repeat put back afterwards.
#include "gfx/recorder.h"

#include "core/console.h"
#include "core/error.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/prim3d.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace recorder_test {

using V = VertexPosNormalColourUV;

// Vertex i of a primitive carries x = i.
std::vector<V> Numbered(int32_t n, uint32_t colour = 0xFF000000)
{
    std::vector<V> v(size_t(std::max(n, 0)));
    for (int32_t i = 0; i < n; ++i) v[size_t(i)] = {float(i), 0, 0, 0, 0, 1, colour, 0, 0};
    return v;
}

std::vector<int> Indices(const GraphicsRecorderList& list)
{
    std::vector<int> out;
    for (int32_t i = 0; i < list.count; ++i) out.push_back(int(list.vertices[i].x));
    return out;
}

class GfxRecorder : public testing::Test {
protected:
    void SetUp() override
    {
        previousDebug_ = DebugConsole;
        DebugConsole = &debug_;
        Error_ResetState();
        g_ShowErrorDialogs = false;
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_CurrentRecorder = nullptr;
        device_.draws.clear();
        device_.ClearLog();
    }
    void TearDown() override
    {
        recorder_.Free();
        GR_CurrentRecorder = nullptr;
        GR_D3D_SetMatrix(RDTS_WORLD, Matrix_Identity());
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GPUState::SetDefaults();
        Error_ResetState();
        g_ShowErrorDialogs = true;
        DebugConsole = previousDebug_;
    }

    void Add(int32_t type, int32_t n, uint32_t colour = 0xFF000000)
    {
        const std::vector<V> v = Numbered(n, colour);
        recorder_.AddPrimitive(type, n, v.empty() ? nullptr : v.data());
    }

    GraphicsRecorder recorder_;
    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    kvtest::RecordingConsole debug_;
    tagIConsole* previousDebug_ = nullptr;
};

TEST_F(GfxRecorder, PrimitivesBecomePlainLists)
{
    struct Row {
        const char* name;
        int32_t type, n;
        std::vector<int> triangles, lines, points;
    };
    const std::vector<Row> rows = {
        {"triangle strip of 5", RDPT_TRIANGLESTRIP, 5, {0, 1, 2, 3, 2, 1, 2, 3, 4}, {}, {}},
        {"triangle fan of 5", RDPT_TRIANGLEFAN, 5, {0, 1, 2, 0, 2, 3, 0, 3, 4}, {}, {}},
        {"line strip of 4", RDPT_LINESTRIP, 4, {}, {0, 1, 1, 2, 2, 3}, {}},
        {"line list", RDPT_LINELIST, 4, {}, {0, 1, 2, 3}, {}},
        {"triangle list", RDPT_TRIANGLELIST, 6, {0, 1, 2, 3, 4, 5}, {}, {}},
        {"points", RDPT_POINTLIST, 10, {}, {}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"unknown type goes to the points", 9, 2, {}, {}, {0, 1}},
        // Too short for one whole primitive: nothing, and no count goes backwards.
        {"empty line strip", RDPT_LINESTRIP, 0, {}, {}, {}},
        {"line strip of 1", RDPT_LINESTRIP, 1, {}, {}, {}},
        {"triangle strip of 0", RDPT_TRIANGLESTRIP, 0, {}, {}, {}},
        {"triangle strip of 1", RDPT_TRIANGLESTRIP, 1, {}, {}, {}},
        {"triangle strip of 2", RDPT_TRIANGLESTRIP, 2, {}, {}, {}},
        {"triangle fan of 1", RDPT_TRIANGLEFAN, 1, {}, {}, {}},
        {"triangle fan of 2", RDPT_TRIANGLEFAN, 2, {}, {}, {}},
        {"negative count", RDPT_POINTLIST, -3, {}, {}, {}},
        // Lists keep whole primitives, so what comes next starts on a boundary.
        {"triangle list of 5", RDPT_TRIANGLELIST, 5, {0, 1, 2}, {}, {}},
        {"line list of 3", RDPT_LINELIST, 3, {}, {0, 1}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        recorder_.Free();
        Add(row.type, row.n);
        EXPECT_EQ(Indices(recorder_.triangles), row.triangles);
        EXPECT_EQ(Indices(recorder_.lines), row.lines);
        EXPECT_EQ(Indices(recorder_.points), row.points);
        EXPECT_LE(recorder_.triangles.count, recorder_.triangles.capacity);
        EXPECT_LE(recorder_.lines.count, recorder_.lines.capacity);
    }
    // Short primitives between others leave the earlier ones as they were.
    recorder_.Free();
    Add(RDPT_TRIANGLESTRIP, 3);
    Add(RDPT_TRIANGLEFAN, 1);
    Add(RDPT_TRIANGLESTRIP, 2);
    Add(RDPT_TRIANGLELIST, 3);
    EXPECT_EQ(Indices(recorder_.triangles), (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST_F(GfxRecorder, ArraysDoubleWhileRecordingAndAreTrimmedOnce)
{
    GraphicsRecorderList& list = recorder_.points;
    EXPECT_TRUE(recorder_.Grow(&list, 0));
    EXPECT_EQ(list.capacity, 0);
    EXPECT_EQ(list.vertices, nullptr);
    const int32_t steps[][3] = {{3, 3, 3}, {1, 4, 6}, {10, 14, 24}, {10, 24, 24}, {1, 25, 48}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step[0]);
        ASSERT_TRUE(recorder_.Grow(&list, step[0]));
        EXPECT_EQ(list.count, step[1]);
        EXPECT_EQ(list.capacity, step[2]);
    }
    list.vertices[24].x = 7;
    ASSERT_TRUE(recorder_.Grow(&list, -1));
    EXPECT_EQ(list.count, 25);
    EXPECT_EQ(list.capacity, 25);
    EXPECT_EQ(list.vertices[24].x, 7.0f);
    // Other negative sizes and sizes past what a count can hold change nothing.
    EXPECT_FALSE(recorder_.Grow(&list, -6));
    EXPECT_FALSE(recorder_.Grow(&list, INT32_MAX));
    EXPECT_EQ(list.count, 25);
    EXPECT_EQ(list.capacity, 25);
}

TEST_F(GfxRecorder, DrawUsesStaticBuffersAtAnOffset)
{
    Add(RDPT_TRIANGLESTRIP, 5);
    Add(RDPT_LINESTRIP, 4);
    Add(RDPT_POINTLIST, 10);
    const uint32_t pixel = 0xFFFFFFFF;
    const int32_t page = GR_Texture_Create(1, 1, &pixel, 4);
    recorder_.texture = GR_Texture_Get(page);
    ASSERT_NE(recorder_.texture, nullptr);
    const Matrix44 world = Matrix_BuildScaling(2, 2, 2);
    GR_D3D_SetMatrix(RDTS_WORLD, world);
    GR_Texture_SetRepeat(false);
    GraphicsFlush();
    device_.ClearLog();

    recorder_.Draw(10, 20, 30);
    ASSERT_EQ(device_.draws.size(), 3u);
    const uint32_t types[3] = {RDPT_TRIANGLELIST, RDPT_LINELIST, RDPT_POINTLIST};
    const uint32_t primitives[3] = {3, 3, 10};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(device_.draws[i].type, types[i]);
        EXPECT_EQ(device_.draws[i].primitives, primitives[i]);
        EXPECT_EQ(device_.draws[i].stride, 36u);
    }
    // The triangles as recorded, byte for byte.
    ASSERT_EQ(device_.draws[0].vertices.size(), 9 * sizeof(V));
    EXPECT_EQ(std::memcmp(device_.draws[0].vertices.data(), recorder_.triangles.vertices, 9 * sizeof(V)), 0);
    // Static write-only buffers of exactly the lists, in the recorder's format; the arrays were trimmed.
    EXPECT_EQ(device_.Calls("CreateVertexBuffer"),
              (std::vector<std::string>{"CreateVertexBuffer(324,8,0x152,0)", "CreateVertexBuffer(216,8,0x152,0)",
                                        "CreateVertexBuffer(360,8,0x152,0)"}));
    EXPECT_EQ(recorder_.triangles.capacity, 9);
    EXPECT_EQ(device_.Count("SetFVF"), 3u);
    for (const std::string& line : device_.Calls("SetStreamSource")) EXPECT_NE(line.find(",0,36)"), std::string::npos);
    EXPECT_EQ(device_.boundTextures[0], recorder_.texture->texture);
    // Shifted by the offset, then the world matrix: the device saw (10, 20, 30) x world during the draw.
    const std::vector<std::string> transforms = device_.Calls("SetTransform");
    ASSERT_EQ(transforms.size(), 2u);
    Matrix44 current;
    GR_D3D_GetMatrix(RDTS_WORLD, &current);
    EXPECT_EQ(std::memcmp(&current, &world, sizeof world), 0);
    // Repeat went on before the first draw and is back off afterwards.
    bool wrapped = false;
    for (const std::string& line : device_.log) {
        if (line == "SetSamplerState(0,1,1)") wrapped = true;
        if (line.rfind("DrawPrimitive(", 0) == 0) {
            EXPECT_TRUE(wrapped);
        }
    }
    EXPECT_FALSE(GR_Texture_GetRepeat());
    EXPECT_EQ(GR_Batch.type, -1);

    // Drawn again: the buffers are kept.
    device_.draws.clear();
    recorder_.Draw(0, 0, 0);
    EXPECT_EQ(device_.draws.size(), 3u);
    EXPECT_EQ(device_.Count("CreateVertexBuffer"), 3u);
    recorder_.texture = nullptr;
    GR_Texture_Free(page);
}

// The matrix a SetTransform line of the log carries.
Matrix44 LoggedMatrix(const std::string& line)
{
    Matrix44 m{};
    const char* at = std::strchr(line.c_str(), '[');
    for (int i = 0; at && i < 16; ++i) {
        char* end = nullptr;
        m.m[i] = std::strtof(at + 1, &end);
        at = end;
    }
    return m;
}

TEST_F(GfxRecorder, TheDrawOffsetComesBeforeTheWorldMatrix)
{
    Add(RDPT_POINTLIST, 1);
    const Matrix44 world = Matrix_BuildRotationZ(30);
    GR_D3D_SetMatrix(RDTS_WORLD, world);
    device_.ClearLog();
    recorder_.Draw(5, 0, 0);
    const std::vector<std::string> transforms = device_.Calls("SetTransform");
    ASSERT_EQ(transforms.size(), 2u);
    // The offset turns with the model: (5, 0, 0) x R(30).
    const Matrix44 during = LoggedMatrix(transforms[0]);
    EXPECT_NEAR(during.m[12], 5 * world.m[0], 1e-4);
    EXPECT_NEAR(during.m[13], 5 * world.m[1], 1e-4);
    EXPECT_NE(world.m[1], 0.0f);
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(during.m[i], world.m[i], 1e-6) << i;
    const Matrix44 after = LoggedMatrix(transforms[1]);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(after.m[i], world.m[i], 1e-6) << i;
    const size_t draw = device_.log.size();
    size_t firstTransform = draw, secondTransform = draw, drawAt = draw;
    for (size_t i = 0; i < device_.log.size(); ++i) {
        const std::string& line = device_.log[i];
        if (line.rfind("SetTransform(", 0) == 0) (firstTransform == draw ? firstTransform : secondTransform) = i;
        if (line.rfind("DrawPrimitive(", 0) == 0) drawAt = i;
    }
    EXPECT_LT(firstTransform, drawAt);
    EXPECT_LT(drawAt, secondTransform);
}

TEST_F(GfxRecorder, SetColourRecoloursTheDrawColourVerticesAndRebuildsBuffers)
{
    recorder_.colour = 0xFF102030;
    Add(RDPT_TRIANGLELIST, 3, 0xFF102030);
    Add(RDPT_POINTLIST, 2, 0xFF302011);  // a colour of its own
    recorder_.Draw(0, 0, 0);
    ASSERT_EQ(device_.Count("CreateVertexBuffer"), 2u);

    recorder_.SetColour(0xFF0000FF);
    EXPECT_EQ(recorder_.colour, 0xFF0000FEu);
    EXPECT_EQ(recorder_.triangles.vertices[2].colour, 0xFF0000FEu);
    EXPECT_EQ(recorder_.points.vertices[0].colour, 0xFF302011u);
    EXPECT_EQ(recorder_.triangles.buffer, nullptr);
    EXPECT_EQ(recorder_.points.buffer, nullptr);
    device_.draws.clear();
    recorder_.Draw(0, 0, 0);
    EXPECT_EQ(device_.Count("CreateVertexBuffer"), 4u);
    V first;
    std::memcpy(&first, device_.draws[0].vertices.data(), sizeof first);
    EXPECT_EQ(first.colour, 0xFF0000FEu);

    // With bit 0 set in the recording colour, nothing changes and the buffers stay.
    recorder_.colour = 0xFF0000FF;
    recorder_.SetColour(0xFF00FF00);
    EXPECT_EQ(recorder_.colour, 0xFF0000FFu);
    EXPECT_EQ(recorder_.triangles.vertices[0].colour, 0xFF0000FEu);
    EXPECT_NE(recorder_.triangles.buffer, nullptr);
}

TEST_F(GfxRecorder, EmptyListsAndMissingDevicesDrawNothing)
{
    recorder_.Draw(0, 0, 0);
    EXPECT_TRUE(device_.draws.empty());
    EXPECT_EQ(device_.Count("CreateVertexBuffer"), 0u);

    Add(RDPT_TRIANGLELIST, 3);
    device_.FailNext("CreateVertexBuffer");
    recorder_.Draw(0, 0, 0);
    EXPECT_TRUE(device_.draws.empty());
    recorder_.Draw(0, 0, 0);  // made on the next draw
    EXPECT_EQ(device_.draws.size(), 1u);

    recorder_.ReleaseBuffers();
    GR_Device = nullptr;
    recorder_.Draw(0, 0, 0);
    EXPECT_EQ(recorder_.triangles.buffer, nullptr);
    GR_Device = &device_;

    // NaN and infinite offsets reach the matrix and nothing else.
    for (float bad : {NAN, INFINITY, -INFINITY}) recorder_.Draw(bad, 0, bad);
    EXPECT_EQ(device_.draws.size(), 4u);
}

TEST_F(GfxRecorder, TheImmediatePathRecordsIntoTheCurrentRecorder)
{
    GR_Draw_SetAlpha(1.0f);
    GR_Draw_SetColour(0xFFFFFF);
    GR_CurrentRecorder = &recorder_;
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    for (int32_t i = 0; i < 2500; ++i) GR_3D_Vertex(float(i), 0, 0);
    GR_3D_PrimitiveEnd();
    GR_3D_DrawWall(0, 0, 0, 1, 1, 1, -1, 1, 1);
    GR_CurrentRecorder = nullptr;
    GraphicsFlush();
    EXPECT_TRUE(device_.draws.empty());
    // 2498 triangles of the strip, whatever the pieces, then the wall's two.
    ASSERT_EQ(recorder_.triangles.count, 3 * (2498 + 2));
    EXPECT_EQ(recorder_.triangles.vertices[0].colour, 0xFFFFFFFEu);
    for (int32_t t = 0; t < 2498; ++t) {
        const V* tri = &recorder_.triangles.vertices[3 * t];
        const int a = int(tri[0].x), b = int(tri[1].x), c = int(tri[2].x);
        const bool even = t % 2 == 0;
        ASSERT_EQ(a, even ? t : t + 2) << "triangle " << t;
        ASSERT_EQ(b, t + 1) << "triangle " << t;
        ASSERT_EQ(c, even ? t + 2 : t) << "triangle " << t;
    }
}

TEST_F(GfxRecorder, FreeReleasesEverythingAndStopsRecording)
{
    Add(RDPT_LINELIST, 2);
    recorder_.Draw(0, 0, 0);
    ASSERT_NE(recorder_.lines.buffer, nullptr);
    GR_CurrentRecorder = &recorder_;
    recorder_.Free();
    EXPECT_EQ(GR_CurrentRecorder, nullptr);
    EXPECT_EQ(recorder_.lines.buffer, nullptr);
    EXPECT_EQ(recorder_.lines.vertices, nullptr);
    EXPECT_EQ(recorder_.lines.count, 0);
    EXPECT_EQ(recorder_.lines.capacity, 0);
}

}  // namespace recorder_test
