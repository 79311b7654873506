// The vertex batcher on the recording device: what joins one draw call, when state changes split batches,
// the three buffer methods' bookkeeping, given-back vertices, and the fatal buffer-creation failure.
#include "gfx/batch.h"

#include "core/console.h"
#include "core/error.h"
#include "fake_render_device.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "platform/hooks.h"
#include "test_support.h"
#include "world/command_line.h"
#include "world/options.h"
#include "world/room_change.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace batch_test {

std::vector<int> g_exits;
void RecordExit(int status) { g_exits.push_back(status); }

class GfxBatch : public testing::Test {
protected:
    void SetUp() override
    {
        g_exits.clear();
        previousExit_ = Platform_SetExitHook(RecordExit);
        previousDebug_ = DebugConsole;
        previousRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        Error_ResetState();
        g_ShowErrorDialogs = false;
        g_RunFlags.multiVB = g_RunFlags.noVB = false;
        g_IniOptions.vertexBufferMethod = 0;
        GR_SingleUseBatchBuffers = false;
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GR_SingleUseBatchBuffers = false;
        g_RunFlags.multiVB = g_RunFlags.noVB = false;
        g_IniOptions.vertexBufferMethod = 0;
        GPUState::SetDefaults();
        Error_ResetState();
        g_ShowErrorDialogs = true;
        RoomChangeCode = ROOM_CHANGE_NONE;
        Platform_SetExitHook(previousExit_);
        DebugConsole = previousDebug_;
        ReleaseConsole = previousRelease_;
    }

    // A request of n position-colour-UV vertices whose x runs from `first`; `written` of them are written.
    static void Request(int32_t type, int32_t n, float first = 0, int32_t written = -1)
    {
        auto* v = static_cast<VertexPosColourUV*>(GR_Batch_Alloc(type, nullptr, VERTEX_FORMAT_POS_COLOUR_UV, n));
        ASSERT_NE(v, nullptr);
        for (int32_t i = 0; i < (written < 0 ? n : written); ++i) v[i] = {first + float(i), 0, 0, 0xFFFFFFFF, 0, 0};
    }
    // The x of every vertex of a recorded draw.
    static std::vector<float> Xs(const kvtest::FakeDraw& draw)
    {
        std::vector<float> xs;
        for (size_t at = 0; at + 24 <= draw.vertices.size(); at += 24) {
            float x;
            std::memcpy(&x, &draw.vertices[at], sizeof x);
            xs.push_back(x);
        }
        return xs;
    }
    // The buffer the last DrawPrimitive read.
    std::string LastStream() const
    {
        const auto calls = device_.Calls("SetStreamSource");
        if (calls.empty()) return "";
        const std::string& line = calls.back();  // SetStreamSource(0,vbN,offset,stride)
        const size_t from = line.find(',') + 1;
        return line.substr(from, line.find(',', from) - from);
    }
    size_t DrawCalls() const { return device_.Count("DrawPrimitive") + device_.Count("DrawPrimitiveUP"); }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    kvtest::RecordingConsole debug_, release_;
    tagIConsole* previousDebug_ = nullptr;
    tagIConsole* previousRelease_ = nullptr;
    ExitHook previousExit_ = nullptr;
};

TEST_F(GfxBatch, EqualListRequestsShareOneDrawCallWhileStripsAndFansDoNot)
{
    struct Row {
        const char* name;
        int32_t type, n;
        size_t draws;
        uint32_t primitivesFirst;
    };
    const Row rows[] = {
        {"triangle lists", RDPT_TRIANGLELIST, 3, 1, 2},
        {"line lists", RDPT_LINELIST, 2, 1, 2},
        {"points", RDPT_POINTLIST, 1, 1, 2},
        {"triangle fans", RDPT_TRIANGLEFAN, 4, 2, 2},
        {"triangle strips", RDPT_TRIANGLESTRIP, 4, 2, 2},
        {"line strips", RDPT_LINESTRIP, 3, 2, 2},
    };
    for (int32_t method = 0; method <= 2; ++method) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + ", method " + std::to_string(method));
            g_IniOptions.vertexBufferMethod = method;
            device_.draws.clear();
            device_.ClearLog();
            GR_Batch.drawCalls = 0;
            Request(row.type, row.n, 0);
            Request(row.type, row.n, 100);
            GraphicsFlush();
            EXPECT_EQ(DrawCalls(), row.draws);
            EXPECT_EQ(size_t(GR_Batch.drawCalls), row.draws);
            ASSERT_EQ(device_.draws.size(), row.draws);
            EXPECT_EQ(device_.draws[0].primitives, row.primitivesFirst);
            EXPECT_EQ(device_.draws[0].stride, 24u);
            // Joined or not, every vertex reaches the device in request order.
            std::vector<float> seen, expected;
            for (const auto& draw : device_.draws)
                for (float x : Xs(draw)) seen.push_back(x);
            for (int32_t i = 0; i < row.n; ++i) expected.push_back(float(i));
            for (int32_t i = 0; i < row.n; ++i) expected.push_back(100.0f + float(i));
            EXPECT_EQ(seen, expected);
            GR_Batch_EndFrame();
        }
    }
}

TEST_F(GfxBatch, DifferentTextureOrFormatStartsANewBatch)
{
    Request(RDPT_TRIANGLELIST, 3);
    GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, VERTEX_FORMAT_POS_COLOUR, 3);
    GraphicsFlush();
    EXPECT_EQ(device_.Calls("SetFVF"), (std::vector<std::string>{"SetFVF(0x142)", "SetFVF(0x42)"}));
    EXPECT_EQ(DrawCalls(), 2u);
}

TEST_F(GfxBatch, AStateChangeBetweenEqualRequestsReachesTheDeviceAfterTheFirstBatchIsDrawn)
{
    Request(RDPT_TRIANGLELIST, 3);
    GPUState::SetRenderState(GPURS_ALPHATESTREF, 77);
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    std::vector<std::string> order;
    for (const std::string& line : device_.log)
        if (line.rfind("DrawPrimitive(", 0) == 0 || line.rfind("SetRenderState(24,", 0) == 0) order.push_back(line);
    EXPECT_EQ(order, (std::vector<std::string>{"DrawPrimitive(4,0,1)", "SetRenderState(24,77)",
                                               "DrawPrimitive(4,0,1)"}));
}

TEST_F(GfxBatch, ARequestLargerThanTheSharedBufferDoublesItOnce)
{
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    Request(RDPT_TRIANGLELIST, 12500);  // 300000 bytes
    GraphicsFlush();
    Request(RDPT_TRIANGLELIST, 12500);
    GraphicsFlush();
    EXPECT_EQ(device_.Calls("CreateVertexBuffer"),
              (std::vector<std::string>{"CreateVertexBuffer(294912,512,0x0,2)",
                                        "CreateVertexBuffer(589824,512,0x0,2)"}));
    EXPECT_EQ(GR_Batch.sharedCapacity, 589824);
    EXPECT_EQ(GR_Batch.first, GR_Batch.shared);
    EXPECT_EQ(GR_Batch.first->next, nullptr);
    // The second big request did not fit behind the first: it wrapped to the start with DISCARD.
    const auto locks = device_.Calls("LockVertexBuffer");
    ASSERT_EQ(locks.size(), 3u);
    EXPECT_NE(locks[1].find(",0,589824,0x2000)"), std::string::npos) << locks[1];
    EXPECT_NE(locks[2].find(",0,589824,0x2000)"), std::string::npos) << locks[2];
}

TEST_F(GfxBatch, SharedBufferAppendsWithNoOverwriteAfterTheFirstLock)
{
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    const auto locks = device_.Calls("LockVertexBuffer");
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_NE(locks[0].find(",0,294912,0x2000)"), std::string::npos) << locks[0];
    EXPECT_NE(locks[1].find(",72,294840,0x1000)"), std::string::npos) << locks[1];
    const auto streams = device_.Calls("SetStreamSource");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_NE(streams[1].find(",72,24)"), std::string::npos) << streams[1];
}

TEST_F(GfxBatch, APoolBufferIsReusedFromFiveFramesAfterItsFrameOnNeverEarlier)
{
    g_IniOptions.vertexBufferMethod = 1;
    const uint64_t f = GR_Batch.frame;
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    const std::string first = LastStream();
    ASSERT_FALSE(first.empty());
    // Used again within its own frame: it is new, so it takes more vertices at once.
    Request(RDPT_TRIANGLESTRIP, 3);
    GraphicsFlush();
    EXPECT_EQ(LastStream(), first);
    GR_Batch_EndFrame();
    for (uint64_t frame = f + 1; frame <= f + 6; ++frame) {
        SCOPED_TRACE(frame - f);
        ASSERT_EQ(GR_Batch.frame, frame);
        Request(RDPT_TRIANGLELIST, 3);
        GraphicsFlush();
        if (frame < f + 5) {
            EXPECT_NE(LastStream(), first);
        } else if (frame == f + 5) {
            EXPECT_EQ(LastStream(), first);
        }
        GR_Batch_EndFrame();
    }
    // Frames f + 1 .. f + 4 each needed a new buffer; f + 5 and f + 6 found old ones.
    EXPECT_EQ(device_.Count("CreateVertexBuffer"), 5u);
    EXPECT_EQ(GR_Batch.bufferCount, 5);
}

TEST_F(GfxBatch, SingleUseBuffersTakeOneBatchEachAndShrinkAfterTheFirstFrame)
{
    g_IniOptions.vertexBufferMethod = 1;
    GR_SingleUseBatchBuffers = true;
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    const std::string first = LastStream();
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    EXPECT_NE(LastStream(), first);
    EXPECT_EQ(GR_Batch.bufferMinimum, 16384);
    GR_Batch_EndFrame();
    EXPECT_EQ(GR_Batch.bufferMinimum, 4096);
    Request(RDPT_TRIANGLELIST, 3);
    GraphicsFlush();
    EXPECT_EQ(device_.Calls("CreateVertexBuffer"),
              (std::vector<std::string>{"CreateVertexBuffer(393216,512,0x142,2)",
                                        "CreateVertexBuffer(393216,512,0x142,2)",
                                        "CreateVertexBuffer(98304,512,0x142,2)"}));
}

TEST_F(GfxBatch, GivenBackVerticesAreNotDrawnAndTheNextRequestFollowsTheWrittenOnes)
{
    for (int32_t method = 0; method <= 2; ++method) {
        SCOPED_TRACE(method);
        g_IniOptions.vertexBufferMethod = method;
        device_.draws.clear();
        Request(RDPT_POINTLIST, 6, 1, 4);
        GR_Batch_ReturnVertices(2);
        Request(RDPT_POINTLIST, 1, 9);
        GraphicsFlush();
        ASSERT_EQ(device_.draws.size(), 1u);
        EXPECT_EQ(device_.draws[0].primitives, 5u);
        EXPECT_EQ(Xs(device_.draws[0]), (std::vector<float>{1, 2, 3, 4, 9}));

        device_.draws.clear();
        Request(RDPT_POINTLIST, 6, 1, 4);
        GR_Batch_ReturnVertices(2);
        GraphicsFlush();
        ASSERT_EQ(device_.draws.size(), 1u);
        EXPECT_EQ(device_.draws[0].primitives, 4u);
        GR_Batch_EndFrame();
    }
}

TEST_F(GfxBatch, CommandLineMethodsReachTheBatch)
{
    struct Row {
        const char* name;
        bool multiVB, noVB;
        int32_t ini;
        std::vector<std::string> creates;
        const char* draw;
    };
    const Row rows[] = {
        {"options.ini shared buffer", false, false, 0, {"CreateVertexBuffer(294912,512,0x0,2)"}, "DrawPrimitive"},
        {"-multivb", true, false, 0, {"CreateVertexBuffer(393216,512,0x142,2)"}, "DrawPrimitive"},
        {"-novb", false, true, 0, {}, "DrawPrimitiveUP"},
        {"-multivb over options.ini 2", true, false, 2, {"CreateVertexBuffer(393216,512,0x142,2)"}, "DrawPrimitive"},
        {"options.ini 2", false, false, 2, {}, "DrawPrimitiveUP"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        g_RunFlags.multiVB = row.multiVB;
        g_RunFlags.noVB = row.noVB;
        g_IniOptions.vertexBufferMethod = row.ini;
        device_.ClearLog();
        Request(RDPT_TRIANGLELIST, 3);
        GraphicsFlush();
        EXPECT_EQ(device_.Calls("CreateVertexBuffer"), row.creates);
        EXPECT_EQ(device_.Count(row.draw), 1u);
        EXPECT_EQ(DrawCalls(), 1u);
    }
}

TEST_F(GfxBatch, ChangingTheMethodFlushesThePendingBatchFirst)
{
    Request(RDPT_TRIANGLELIST, 3);
    g_RunFlags.noVB = true;
    Request(RDPT_TRIANGLELIST, 3);
    EXPECT_EQ(device_.Count("DrawPrimitive"), 1u);
    GraphicsFlush();
    EXPECT_EQ(device_.Count("DrawPrimitiveUP"), 1u);
}

TEST_F(GfxBatch, BufferCreationFailsOverToTheDefaultPoolThenEndsTheRun)
{
    g_IniOptions.vertexBufferMethod = 1;
    Request(RDPT_TRIANGLELIST, 3);  // one pool buffer of 384 KB
    GraphicsFlush();

    // The first failure falls back to a write-only buffer in the default pool.
    device_.FailNext("CreateVertexBuffer", RDERR_OUTOFVIDEOMEMORY, 1);
    device_.ClearLog();
    GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, VERTEX_FORMAT_POS_COLOUR, 3);
    GraphicsFlush();
    EXPECT_EQ(device_.Calls("CreateVertexBuffer"),
              (std::vector<std::string>{"CreateVertexBuffer(262144,512,0x42,2)",
                                        "CreateVertexBuffer(262144,8,0x42,0)"}));
    // Not dynamic: its first lock takes no flag.
    const auto locks = device_.Calls("LockVertexBuffer");
    ASSERT_EQ(locks.size(), 1u);
    EXPECT_NE(locks[0].find(",0x0)"), std::string::npos) << locks[0];
    EXPECT_TRUE(g_exits.empty());

    // Both failing is fatal.
    device_.FailNext("CreateVertexBuffer", RDERR_OUTOFVIDEOMEMORY, 2);
    void* room = GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, VERTEX_FORMAT_POS_NORMAL_COLOUR_UV, 3);
    ASSERT_NE(room, nullptr);
    std::memset(room, 0xAB, 3 * 36);  // the caller may still write what it asked for
    EXPECT_NE(std::string(Error_LastText())
                  .find("Fatal Error: Can not create vertex buffer of size 589824 bytes\n2 vertex buffers allocated "
                        "with total size of 640 KB\n"),
              std::string::npos)
        << Error_LastText();
    EXPECT_EQ(g_exits, (std::vector<int>{1}));
    device_.ClearLog();
    GraphicsFlush();
    EXPECT_EQ(DrawCalls(), 0u);
}

TEST_F(GfxBatch, VertexFormatSizesAndUndrawableFormats)
{
    struct Row {
        int32_t code;
        int32_t size;
        uint32_t fvf;
    };
    const Row rows[] = {
        {16, 16, 0x42}, {24, 24, 0x142}, {36, 36, 0x152}, {0x002, 12, 0x002},
        {0x004 | 0x040, 20, 0x044}, {0x002 | 0x010 | 0x040 | 0x100, 36, 0x152},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(GR_VertexFormat_GetSize(row.code), row.size);
        EXPECT_EQ(GR_VertexFormat_ToFVF(row.code), row.fvf);
    }
    // A pre-transformed batch takes its room but draws nothing, and says so once.
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, 0x044, 3), nullptr);
        GraphicsFlush();
    }
    EXPECT_EQ(DrawCalls(), 0u);
    const std::string& log = debug_.text;
    const size_t at = log.find("cannot be drawn");
    EXPECT_TRUE(at == std::string::npos || log.find("cannot be drawn", at + 1) == std::string::npos);
}

TEST_F(GfxBatch, FrozenBufferDrawsAfterThePendingBatchFromItsLockStart)
{
    GPUVertexBuffer* frozen = GPUVertexBuffer::Create(0x142, 8, 0);
    ASSERT_NE(frozen, nullptr);
    frozen->lockStart = 2;
    Request(RDPT_TRIANGLELIST, 3);
    device_.ClearLog();
    GR_DrawFrozenVertexBuffer(RDPT_TRIANGLESTRIP, 5, 0, 0x142, nullptr, frozen);
    GR_DrawFrozenVertexBuffer(RDPT_TRIANGLESTRIP, 0, 0, 0x142, nullptr, frozen);
    GR_DrawFrozenVertexBuffer(RDPT_TRIANGLESTRIP, 5, 0, 0x142, nullptr, nullptr);
    const auto draws = device_.Calls("DrawPrimitive");
    EXPECT_EQ(draws, (std::vector<std::string>{"DrawPrimitive(4,0,1)", "DrawPrimitive(5,0,3)"}));
    const auto streams = device_.Calls("SetStreamSource");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_NE(streams[1].find(",48,24)"), std::string::npos) << streams[1];
    GPUVertexBuffer::Delete(frozen);
}

}  // namespace batch_test
