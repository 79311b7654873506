// Vertex formats on the recording device: the builder built-ins and their messages, ids and slot reuse, the
// element limit, the declarations made (types, usages, usage indexes), the byte-order swap, and drawing a
// declared format through the batcher.
#include "gfx/vformat.h"

#include "../lib/builtin_call.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vformat_test {

using kvtest::OwnedValue;
using kvtest::R;

OwnedValue Do(const char* name, std::vector<OwnedValue> args = {}) { return kvtest::Call(name, std::move(args)); }
// A call with real arguments.
OwnedValue Do(const char* name, std::initializer_list<double> reals)
{
    std::vector<OwnedValue> args;
    for (double r : reals) args.push_back(R(r));
    return kvtest::Call(name, std::move(args));
}

class GfxVertexFormat : public kvtest::BuiltinTest {
protected:
    void SetUp() override
    {
        BuiltinTest::SetUp();
        static bool registered = false;
        if (!registered) InitVertexFormatFunctions();
        registered = true;
        savedDebug_ = DebugConsole;
        DebugConsole = &debug_;
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
        VertexFormat_FreeElementTable();
        VertexFormat_FreeAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GPUState::SetDefaults();
        DebugConsole = savedDebug_;
        BuiltinTest::TearDown();
    }

    // Begins a format, runs the named adders, ends it: the id.
    static int32_t Make(const std::vector<std::string>& adders)
    {
        Do("vertex_format_begin");
        for (const std::string& a : adders) Do(("vertex_format_add_" + a).c_str());
        return int32_t(Do("vertex_format_end").Real());
    }

    kvtest::FakeRenderDevice device_;
    kvtest::RecordingConsole debug_;
    tagIConsole* savedDebug_ = nullptr;
};

TEST_F(GfxVertexFormat, PositionColourTexcoordLaysOutTwentyFourBytes)
{
    const int32_t id = Make({"position_3d", "colour", "texcoord"});
    EXPECT_EQ(id, 16777216);
    const VertexFormat* f = VertexFormat_Get(id);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->count, 3);
    EXPECT_EQ(f->elements[0].offset, 0);
    EXPECT_EQ(f->elements[1].offset, 12);
    EXPECT_EQ(f->elements[2].offset, 16);
    EXPECT_EQ(f->stride, 24);
    EXPECT_EQ(f->mask, 7u);
    EXPECT_NE(f->declaration, nullptr);
    // offset/type/usage/index: float3 position, colour, float2 texcoord 0.
    EXPECT_EQ(device_.Calls("CreateVertexDeclaration"),
              std::vector<std::string>{"CreateVertexDeclaration(0/2/0/0,12/4/10/0,16/1/5/0)"});
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexFormat, UsageIndexesCountPerEngineUsage)
{
    // Two texcoords are 0 and 1; usages 5 and 6 both become blend weights, each counted on its own.
    Do("vertex_format_begin");
    Do("vertex_format_add_texcoord");
    Do("vertex_format_add_textcoord");
    Do("vertex_format_add_custom", {double(1), double(5)});
    Do("vertex_format_add_custom", {double(4), double(6)});
    Do("vertex_format_add_custom", {double(6), double(11)});
    Do("vertex_format_end");
    EXPECT_EQ(device_.Calls("CreateVertexDeclaration"),
              std::vector<std::string>{"CreateVertexDeclaration(0/1/5/0,8/1/5/1,16/0/1/0,20/3/1/0,36/5/9/0)"});
    EXPECT_EQ(VertexFormat_Get(16777216)->stride, 40);
}

TEST_F(GfxVertexFormat, IdsReuseTheLowestFreeSlot)
{
    const int32_t a = Make({"position"}), b = Make({"position"}), c = Make({"normal"});
    EXPECT_EQ(a, 0x1000000);
    EXPECT_EQ(b, 0x1000001);
    EXPECT_EQ(c, 0x1000002);
    Do("vertex_format_delete", {double(b)});
    EXPECT_EQ(VertexFormat_Get(b), nullptr);
    Do("vertex_format_delete", {double(a)});
    EXPECT_EQ(Make({"colour"}), a);
    EXPECT_EQ(Make({"colour"}), b);
    EXPECT_EQ(Make({"colour"}), 0x1000003);
    // Unknown ids, batch codes and negative values name nothing.
    Do("vertex_format_delete", {double(0x1000009)});
    Do("vertex_format_delete", {double(24)});
    for (int32_t id : {24, 16, 36, -1, 0, 0x1000004, int32_t(0x81000000)}) EXPECT_EQ(VertexFormat_Get(id), nullptr) << id;
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexFormat, ThirtyThirdElementIsRefused)
{
    Do("vertex_format_begin");
    for (int i = 0; i < 32; ++i) Do("vertex_format_add_custom", {double(1), double(12)});
    EXPECT_EQ(Reported(), "");
    Do("vertex_format_add_custom", {double(1), double(12)});
    Do("vertex_format_add_normal");
    EXPECT_EQ(Reported(), "vertex_format_add_custom(): Too many elements\nvertex_format_add_normal(): Too many elements\n");
    const VertexFormat* f = VertexFormat_Get(int32_t(Do("vertex_format_end").Real()));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->count, 32);
    EXPECT_EQ(f->mask, 0xFFFFFFFFu);
    EXPECT_EQ(f->stride, 128);
}

TEST_F(GfxVertexFormat, BuilderMistakesAreReportedAndChangeNothing)
{
    struct Case {
        const char* what;
        bool building;
        const char* name;
        std::vector<double> args;
        std::string message;
    };
    const Case cases[] = {
        {"end first", false, "vertex_format_end", {}, "vertex_format_end(): Can't end format, you haven't started one yet."},
        {"end with args", true, "vertex_format_end", {1}, "vertex_format_end(): Illegal argument count"},
        {"begin twice", true, "vertex_format_begin", {}, "vertex_format_begin(): Can't start a new format, still creating another one."},
        {"begin with args", false, "vertex_format_begin", {1}, "vertex_format_begin(): Illegal argument count"},
        {"add first", false, "vertex_format_add_position", {}, "vertex_format_add_position(): haven't started a new format."},
        {"add args", true, "vertex_format_add_position_3d", {1}, "vertex_format_add_position_3d(): Illegal argument count"},
        {"texcoord name", false, "vertex_format_add_texcoord", {}, "vertex_format_add_textcoord(): haven't started a new format."},
        {"colour", true, "vertex_format_add_colour", {2}, "vertex_format_add_colour(): Illegal argument count"},
        {"custom first", false, "vertex_format_add_custom", {1, 1}, "vertex_format_add_custom(): haven't started a new format."},
        {"type 0", true, "vertex_format_add_custom", {0, 1}, "vertex_format_add_custom(): illegal types"},
        {"type 7", true, "vertex_format_add_custom", {7, 1}, "vertex_format_add_custom(): illegal types"},
        {"usage 0", true, "vertex_format_add_custom", {1, 0}, "vertex_format_add_custom(): illegal usage"},
        {"usage 15", true, "vertex_format_add_custom", {1, 15}, "vertex_format_add_custom(): illegal usage"},
        {"delete no args", false, "vertex_format_delete", {}, "vertex_format_delete(): Illegal argument count"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearReports();
        if (c.building) {
            Do("vertex_format_begin");
            Do("vertex_format_add_normal");
        }
        std::vector<OwnedValue> args;
        for (double a : c.args) args.push_back(R(a));
        EXPECT_EQ(Do(c.name, std::move(args)).Real(), -1.0);
        EXPECT_EQ(Reported(), c.message + "\n");
        if (c.building) {
            // The format under construction kept its one element.
            const VertexFormat* f = VertexFormat_Get(int32_t(Do("vertex_format_end").Real()));
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->count, 1);
            EXPECT_EQ(f->stride, 12);
        }
        VertexFormat_FreeAll();
    }
    ClearReports();
    std::vector<OwnedValue> text;
    text.push_back(kvtest::S("x"));
    Do("vertex_format_delete", std::move(text));
    EXPECT_EQ(Reported(), "vertex_format_delete(): Illegal argument type\n");
}

TEST_F(GfxVertexFormat, FreeAllReleasesDeclarationsAndEmptiesTheTable)
{
    Make({"position"});
    Make({"position_3d", "colour"});
    VertexFormat_FreeAll();
    EXPECT_EQ(VertexFormat_Count(), 0);
    EXPECT_EQ(VertexFormat_Get(0x1000000), nullptr);
    EXPECT_EQ(Make({"normal"}), 0x1000000);
    // A format left open at shutdown goes with the element table.
    Do("vertex_format_begin");
    Do("vertex_format_add_normal");
    VertexFormat_FreeElementTable();
    Do("vertex_format_begin");
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexFormat, SwapEndianReversesEveryComponent)
{
    Make({"position", "colour"});  // 8 + 4 bytes
    const VertexFormat* f = VertexFormat_Get(0x1000000);
    struct Case {
        int32_t n, start, size;
        bool wrap;
        int32_t swapped;  // vertices changed
        int32_t wraps;
    };
    const Case cases[] = {
        {2, 0, 24, false, 2, 0},
        {3, 0, 24, false, 2, 0},   // cut to what fits
        {2, 12, 24, false, 1, 0},
        {2, 12, 24, true, 2, 1},   // the second vertex runs over the end
        {5, 0, 24, true, 2, 1},    // cut to size / stride
        {2, 0, -1, false, 2, 0},   // no size given: nothing is cut
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> data(24);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
        EXPECT_EQ(f->SwapEndian(data.data(), c.n, c.start, c.size, c.wrap), c.wraps);
        int32_t changed = 0;
        for (int32_t v = 0; v < 2; ++v) {
            const size_t at = (size_t(c.start) + size_t(v) * 12) % 24;
            if (data[at] == uint8_t(at + 3) && data[(at + 3) % 24] == uint8_t(at)) ++changed;
        }
        EXPECT_EQ(changed, c.swapped) << c.n << " " << c.start << " " << c.wrap;
    }
}

TEST_F(GfxVertexFormat, BatcherDrawsWithTheDeclaration)
{
    const int32_t id = Make({"position_3d", "colour"});
    EXPECT_EQ(GR_VertexFormat_GetSize(id), 16);
    EXPECT_EQ(GR_VertexFormat_ToFVF(id), 0u);
    device_.ClearLog();
    auto* v = static_cast<float*>(GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, id, 3));
    for (int i = 0; i < 12; ++i) v[i] = float(i);
    GraphicsFlush();
    const auto log = device_.LogWithout({"SetTexture", "SetRenderState", "SetSamplerState", "SetTextureStageState",
                                         "LockVertexBuffer", "UnlockVertexBuffer", "CreateVertexBuffer"});
    size_t draw = 0;
    while (draw < log.size() && log[draw] != "DrawPrimitive(4,0,1)") ++draw;
    ASSERT_LT(draw, log.size());
    ASSERT_GE(draw, 3u);
    EXPECT_EQ(log[draw - 3], "SetFVF(0x0)");
    EXPECT_EQ(log[draw - 2], "SetVertexDeclaration(" + device_.NameOf(VertexFormat_Get(id)->declaration) + ")");
    ASSERT_EQ(device_.draws.size(), 1u);
    EXPECT_EQ(device_.draws[0].stride, 16u);
}

TEST_F(GfxVertexFormat, ScreenPositionsWithoutShaderDrawNothingAndLogOnce)
{
    Do("vertex_format_begin");
    Do("vertex_format_add_custom", {double(4), double(11)});
    const int32_t id = int32_t(Do("vertex_format_end").Real());
    for (int i = 0; i < 2; ++i) {
        GR_Batch_Alloc(RDPT_POINTLIST, nullptr, id, 1);
        GraphicsFlush();
    }
    EXPECT_TRUE(device_.draws.empty());
    size_t lines = 0;
    for (size_t at = debug_.text.find("draws only with a shader"); at != std::string::npos;
         at = debug_.text.find("draws only with a shader", at + 1))
        ++lines;
    EXPECT_LE(lines, 1u);  // once a process: an earlier test may have logged it
}

TEST_F(GfxVertexFormat, DeletedFormatDrawsNothing)
{
    const int32_t id = Make({"position_3d"});
    Do("vertex_format_delete", {double(id)});
    void* room = GR_Batch_Alloc(RDPT_TRIANGLELIST, nullptr, id, 3);
    EXPECT_NE(room, nullptr);  // scratch memory: the caller may still write
    GraphicsFlush();
    EXPECT_TRUE(device_.draws.empty());
}

}  // namespace vformat_test
