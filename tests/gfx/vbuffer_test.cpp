// Script vertex buffers on the recording device: checked and unchecked writers, growth, the messages of each
// built-in, drawing through the batch in whole-primitive chunks, frozen buffers, and buffers made from binary
// buffers (with the range checks a hostile offset or count meets).
#include "gfx/vbuffer.h"

#include "../lib/builtin_call.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/vformat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vbuffer_test {

using kvtest::OwnedValue;
using kvtest::R;

OwnedValue Do(const char* name, std::initializer_list<double> reals = {})
{
    std::vector<OwnedValue> args;
    for (double r : reals) args.push_back(R(r));
    return kvtest::Call(name, std::move(args));
}

class GfxVertexBuffer : public kvtest::BuiltinTest {
protected:
    void SetUp() override
    {
        BuiltinTest::SetUp();
        static bool registered = false;
        if (!registered) {
            InitVertexFormatFunctions();
            InitVertexBufferFunctions();
        }
        registered = true;
        VertexBuffer_SetCheckedWriters(true);
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
        VertexBuffer_FreeAll();
        VertexFormat_FreeAll();
        VertexBuffer_SetCheckedWriters(true);
        Buffer_SeamClear();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GPUState::SetDefaults();
        DebugConsole = savedDebug_;
        BuiltinTest::TearDown();
    }

    // position_3d + colour + texcoord: 24 bytes.
    static int32_t PositionColourTexcoord()
    {
        Do("vertex_format_begin");
        Do("vertex_format_add_position_3d");
        Do("vertex_format_add_colour");
        Do("vertex_format_add_texcoord");
        return int32_t(Do("vertex_format_end").Real());
    }
    // Writes vertex v's elements in the order given ('p', 'c', 't').
    static void Vertex(int32_t b, int32_t v, const char* order)
    {
        for (const char* e = order; *e; ++e) {
            if (*e == 'p') Do("vertex_position_3d", {double(b), v + 0.5, v + 0.25, -double(v)});
            if (*e == 'c') Do("vertex_argb", {double(b), double(0x11223300u + uint32_t(v))});
            if (*e == 't') Do("vertex_texcoord", {double(b), v / 8.0, 1.0 - v / 8.0});
        }
    }
    static std::vector<uint8_t> Bytes(int32_t b)
    {
        const VertexBuffer* vb = VertexBuffer_Get(b);
        if (!vb || !vb->data) return {};
        return std::vector<uint8_t>(vb->data, vb->data + vb->used);
    }
    // Triangles drawn, and whether every draw was whole triangles.
    int32_t Triangles(bool* whole) const
    {
        int32_t n = 0;
        *whole = true;
        for (const kvtest::FakeDraw& d : device_.draws) {
            n += int32_t(d.primitives);
            if (d.vertices.size() != size_t(d.primitives) * 3 * d.stride) *whole = false;
        }
        return n;
    }

    kvtest::FakeRenderDevice device_;
    kvtest::RecordingConsole debug_;
    tagIConsole* savedDebug_ = nullptr;
};

TEST_F(GfxVertexBuffer, AnyElementOrderGivesTheSameThreeVertices)
{
    const int32_t f = PositionColourTexcoord();
    std::vector<uint8_t> reference;
    for (bool checked : {true, false})
        for (const char* order : {"pct", "ptc", "cpt", "ctp", "tpc", "tcp"}) {
            // The unchecked writers append in call order: only the format's order is right for them.
            if (!checked && std::strcmp(order, "pct") != 0) continue;
            SCOPED_TRACE(std::string(order) + (checked ? " checked" : " unchecked"));
            VertexBuffer_SetCheckedWriters(checked);
            const int32_t b = int32_t(Do("vertex_create_buffer").Real());
            Do("vertex_begin", {double(b), double(f)});
            for (int32_t v = 0; v < 3; ++v) Vertex(b, v, order);
            Do("vertex_end", {double(b)});
            EXPECT_EQ(Do("vertex_get_number", {double(b)}).Real(), 3.0);
            EXPECT_EQ(VertexBuffer_Get(b)->used, 72);
            if (reference.empty()) reference = Bytes(b);
            EXPECT_EQ(Bytes(b), reference);
            Do("vertex_delete_buffer", {double(b)});
        }
    ASSERT_EQ(reference.size(), 72u);
    float z;
    uint32_t colour;
    std::memcpy(&z, &reference[24 + 8], 4);
    std::memcpy(&colour, &reference[48 + 12], 4);
    EXPECT_EQ(z, -1.0f);
    EXPECT_EQ(colour, 0x11223302u);
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexBuffer, ChecksReportAndLeaveTheBufferAsItWas)
{
    const int32_t f = PositionColourTexcoord();
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::vector<double>>> calls;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"colour twice", {{"vertex_argb", {double(b), 1}}, {"vertex_argb", {double(b), 2}}},
         "VERTEX BUILDER: element already written, must write the whole vertex first"},
        {"end inside a vertex", {{"vertex_argb", {double(b), 1}}, {"vertex_end", {double(b)}}},
         "vertex_end: Must finish writing vertex before end."},
        {"no such element", {{"vertex_normal", {double(b), 0, 0, 1}}},
         "VERTEX BUILDER: Vertex format does not contain selected type."},
        {"no such type", {{"vertex_float4", {double(b), 0, 0, 1, 1}}},
         "VERTEX BUILDER: Vertex format does not contain selected type."},
        {"argument count", {{"vertex_texcoord", {double(b), 0}}}, "VERTEX BUILDER: Illegal argument count"},
        {"bad buffer", {{"vertex_texcoord", {99, 0, 0}}}, "VERTEX BUILDER: Illegal vertex buffer specified."},
        {"submit open", {{"vertex_submit", {double(b), 4, -1}}},
         "vertex_submit: Must finish with vertex_end() before submitting."},
        {"freeze open", {{"vertex_freeze", {double(b)}}}, "vertex_freeze: must end the vertex builder first"},
        {"begin bad format", {{"vertex_begin", {double(b), 24}}}, "vertex_begin: Illegal vertex format specified."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Do("vertex_begin", {double(b), double(f)});
        Vertex(b, 0, "pct");
        ClearReports();
        for (const auto& call : c.calls) {
            std::vector<OwnedValue> args;
            for (double a : call.second) args.push_back(R(a));
            kvtest::Call(call.first, std::move(args));
        }
        EXPECT_EQ(Reported(), c.message + "\n");
        EXPECT_EQ(VertexBuffer_Get(b)->vertexCount, 1);
        EXPECT_EQ(VertexBuffer_Get(b)->used, 24);
    }
    ClearReports();
    Do("vertex_end", {99});
    Do("vertex_get_number", {99});
    Do("vertex_delete_buffer", {99});
    Do("vertex_create_buffer", {1});
    Do("vertex_submit", {99, 4, -1});
    EXPECT_EQ(Reported(),
              "vertex_end: Illegal vertex buffer specified.\nvertex_get_number: specified vertex buffer doesn't exists\n"
              "vertex_delete_buffer: Invalid vertex buffer specified\nvertex_create_buffer: Illegal argument count\n"
              "vertex_submit: Illegal vertex buffer specified.\n");
}

TEST_F(GfxVertexBuffer, GrowsWhenThe1366thVertexStarts)
{
    const int32_t f = PositionColourTexcoord();
    for (bool checked : {true, false}) {
        SCOPED_TRACE(checked ? "checked" : "unchecked");
        VertexBuffer_SetCheckedWriters(checked);
        const int32_t b = int32_t(Do("vertex_create_buffer").Real());
        EXPECT_EQ(Do("vertex_get_buffer_size", {double(b)}).Real(), 32768.0);
        Do("vertex_begin", {double(b), double(f)});
        for (int32_t v = 0; v < 1365; ++v) Vertex(b, v, "pct");
        EXPECT_EQ(VertexBuffer_Get(b)->capacity, 32768);
        Vertex(b, 1365, "p");
        EXPECT_EQ(VertexBuffer_Get(b)->capacity, 32768 + 16384 + 24);
        Vertex(b, 1365, "ct");
        Do("vertex_end", {double(b)});
        EXPECT_EQ(Do("vertex_get_number", {double(b)}).Real(), 1366.0);
    }
    EXPECT_EQ(Do("vertex_get_buffer_size", {double(Do("vertex_create_buffer_ext", {10}).Real())}).Real(), 256.0);
    EXPECT_EQ(Do("vertex_get_buffer_size", {double(Do("vertex_create_buffer_ext", {1000}).Real())}).Real(), 1000.0);
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexBuffer, LargeListsDrawInWholeTrianglesAndStripsNotAtAll)
{
    const int32_t f = PositionColourTexcoord();
    Buffer_Standard source(70000 * 24, buffer_fixed, 1);
    const int32_t binary = Buffer_SeamAdd(&source);
    const int32_t b = int32_t(Do("vertex_create_buffer_from_buffer", {double(binary), double(f)}).Real());
    ASSERT_GE(b, 0);
    EXPECT_EQ(Do("vertex_get_number", {double(b)}).Real(), 70000.0);
    Do("vertex_submit", {double(b), 5, -1});
    GraphicsFlush();
    EXPECT_TRUE(device_.draws.empty());
    Do("vertex_submit", {double(b), 4, -1});
    GraphicsFlush();
    bool whole = false;
    EXPECT_EQ(Triangles(&whole), 23333);
    EXPECT_TRUE(whole);
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexBuffer, FrozenBuffersDrawFromTheirOwnDeviceBuffer)
{
    const int32_t f = PositionColourTexcoord();
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_begin", {double(b), double(f)});
    for (int32_t v = 0; v < 3; ++v) Vertex(b, v, "pct");
    Do("vertex_end", {double(b)});
    const std::vector<uint8_t> bytes = Bytes(b);
    device_.ClearLog();
    EXPECT_EQ(Do("vertex_freeze", {double(b)}).Real(), 0.0);
    EXPECT_EQ(device_.Calls("CreateVertexBuffer").size(), 1u);
    EXPECT_EQ(VertexBuffer_Get(b)->data, nullptr);
    Do("vertex_submit", {double(b), 6, -1});
    EXPECT_EQ(Reported(), "vertex_submit: Primitive type error.\n");
    ClearReports();
    Do("vertex_submit", {double(b), 4, -1});
    ASSERT_EQ(device_.draws.size(), 1u);
    EXPECT_EQ(device_.draws[0].vertices, bytes);
    Do("vertex_freeze", {double(b)});
    Do("vertex_begin", {double(b), double(f)});
    Do("vertex_position_3d", {double(b), 0, 0, 0});
    EXPECT_EQ(Reported(), "vertex_freeze: Illegal vertex buffer specified.\nvertex_begin: Illegal vertex buffer specified.\n"
                          "VERTEX BUILDER: Illegal vertex buffer specified.\n");
    // The unchecked writers leave a frozen buffer alone too.
    VertexBuffer_SetCheckedWriters(false);
    Do("vertex_position_3d", {double(b), 0, 0, 0});
    EXPECT_EQ(VertexBuffer_Get(b)->data, nullptr);
}

TEST_F(GfxVertexBuffer, FrozenBuffersWhollyOutsideTheViewAreLeftOut)
{
    // Identity matrices: the view is -1 ... 1 on x and y.
    for (uint32_t which : {uint32_t(RDTS_WORLD), uint32_t(RDTS_VIEW), uint32_t(RDTS_PROJECTION)})
        GR_D3D_SetMatrixUnshifted(which, Matrix_Identity());
    const int32_t f = PositionColourTexcoord();
    struct Case {
        double x0, y0, size;
        int32_t primitive;
        bool drawn;
    };
    const Case cases[] = {
        {-0.5, -0.5, 1, 4, true},   {2, 0, 1, 4, false},    {-4, 0, 1, 2, false}, {0, 3, 1, 4, false},
        {0, -3, 1, 5, false},       {1.05, 0, 1, 4, true},  // inside the margin
        {-3, -3, 6, 4, true},       // larger than the view
        {5, 0, 1, 1, true},         // points may be larger than a pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x0) + "," + std::to_string(c.y0) + " type " + std::to_string(c.primitive));
        device_.draws.clear();
        const int32_t b = int32_t(Do("vertex_create_buffer").Real());
        Do("vertex_begin", {double(b), double(f)});
        for (int32_t v = 0; v < 3; ++v) {
            Do("vertex_position_3d", {double(b), c.x0 + (v == 1 ? c.size : 0), c.y0 + (v == 2 ? c.size : 0), 0});
            Do("vertex_argb", {double(b), -1});
            Do("vertex_texcoord", {double(b), 0, 0});
        }
        Do("vertex_end", {double(b)});
        Do("vertex_freeze", {double(b)});
        Do("vertex_submit", {double(b), double(c.primitive), -1});
        EXPECT_EQ(device_.draws.size(), c.drawn ? 1u : 0u);
        Do("vertex_delete_buffer", {double(b)});
    }
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexBuffer, UncheckedWritersIgnoreBadIndexes)
{
    const int32_t f = PositionColourTexcoord();
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    const int32_t gone = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_delete_buffer", {double(gone)});
    Do("vertex_begin", {double(b), double(f)});
    VertexBuffer_SetCheckedWriters(false);
    for (double index : {-1.0, double(gone), 32.0, 1e12, -2147483648.0}) {
        Do("vertex_position_3d", {index, 1, 2, 3});
        Do("vertex_argb", {index, 1});
        Do("vertex_ubyte4", {index, 1, 2, 3, 4});
        Do("vertex_submit", {index, 4, -1});
        Do("vertex_freeze", {index});
    }
    EXPECT_EQ(VertexBuffer_Get(b)->used, 0);
    EXPECT_TRUE(device_.draws.empty());
    EXPECT_EQ(Reported(), "");
}

TEST_F(GfxVertexBuffer, SubmitCopiesWholeVerticesOnly)
{
    // Extra values (unchecked) and a binary buffer that is not whole vertices make used larger than the
    // vertices: only vertex count x stride bytes are drawn.
    const int32_t f = PositionColourTexcoord();
    VertexBuffer_SetCheckedWriters(false);
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_begin", {double(b), double(f)});
    for (int32_t v = 0; v < 3; ++v) Vertex(b, v, "pct");
    Vertex(b, 3, "p");
    Do("vertex_end", {double(b)});
    EXPECT_EQ(VertexBuffer_Get(b)->used, 84);
    Do("vertex_submit", {double(b), 4, -1});
    GraphicsFlush();
    ASSERT_EQ(device_.draws.size(), 1u);
    EXPECT_EQ(device_.draws[0].vertices.size(), 72u);

    Buffer_Standard source(50, buffer_fixed, 1);
    const int32_t c = int32_t(Do("vertex_create_buffer_from_buffer", {double(Buffer_SeamAdd(&source)), double(f)}).Real());
    EXPECT_EQ(VertexBuffer_Get(c)->used, 50);
    EXPECT_EQ(VertexBuffer_Get(c)->capacity, 256);
    EXPECT_EQ(Do("vertex_get_number", {double(c)}).Real(), 2.0);
    Do("vertex_submit", {double(c), 2, -1});
    GraphicsFlush();
    ASSERT_EQ(device_.draws.size(), 2u);
    EXPECT_EQ(device_.draws[1].vertices.size(), 48u);
}

TEST_F(GfxVertexBuffer, FromBufferRangesAreChecked)
{
    const int32_t f = PositionColourTexcoord();
    struct Case {
        int32_t kind;
        double offset, count;
        bool made;
        int32_t firstByte;  // of the copy
    };
    const Case cases[] = {
        {buffer_fixed, 0, 4, true, 0},
        {buffer_fixed, 24, 3, true, 24},
        {buffer_fixed, 0, 0, true, -1},
        {buffer_fixed, 24, 4, false, 0},
        {buffer_grow, 1, 4, false, 0},
        {buffer_fixed, -1, 1, false, 0},
        {buffer_fixed, 0, -1, false, 0},
        {buffer_fixed, 0, 100000000, false, 0},
        {buffer_fixed, 2147483647, 1, false, 0},
        {buffer_wrap, 72, 2, true, 72},  // the second vertex comes from the start again
        {buffer_wrap, 200, 1, true, 8},
        {buffer_wrap, 0, 100000000, false, 0},  // more bytes than a size can hold
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + std::to_string(c.offset) + " " + std::to_string(c.count));
        ClearReports();
        Buffer_Standard source(96, c.kind, 1);
        for (int32_t i = 0; i < 96; ++i) source.GetData()[i] = uint8_t(i);
        const int32_t binary = Buffer_SeamAdd(&source);
        const double b = Do("vertex_create_buffer_from_buffer_ext", {double(binary), double(f), c.offset, c.count}).Real();
        if (!c.made) {
            EXPECT_EQ(b, -1.0);
            EXPECT_EQ(Reported(), "vertex_create_buffer_from_buffer_ext: could not create vertex buffer\n");
            Buffer_SeamClear();
            continue;
        }
        EXPECT_EQ(Reported(), "");
        const VertexBuffer* vb = VertexBuffer_Get(int32_t(b));
        ASSERT_NE(vb, nullptr);
        EXPECT_EQ(vb->vertexCount, int32_t(c.count));
        EXPECT_EQ(vb->used, int32_t(c.count) * 24);
        if (c.firstByte >= 0) {
            EXPECT_EQ(vb->data[0], c.firstByte);
            EXPECT_EQ(vb->data[vb->used - 1], uint8_t((c.firstByte + vb->used - 1) % 96));
        }
        Buffer_SeamClear();
    }
}

TEST_F(GfxVertexBuffer, FormatsWithoutElementsAreRefused)
{
    Do("vertex_format_begin");
    const int32_t empty = int32_t(Do("vertex_format_end").Real());
    ASSERT_NE(VertexFormat_Get(empty), nullptr);
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Buffer_Standard source(64, buffer_fixed, 1);
    const int32_t binary = Buffer_SeamAdd(&source);
    Do("vertex_begin", {double(b), double(empty)});
    Do("vertex_create_buffer_from_buffer", {double(binary), double(empty)});
    Do("vertex_create_buffer_from_buffer_ext", {double(binary), double(empty), 0, 1});
    Do("vertex_create_buffer_from_buffer", {double(binary + 1), double(empty)});
    Do("vertex_create_buffer_from_buffer_ext", {double(binary + 1), double(empty), 0, 1});
    EXPECT_EQ(Reported(), "vertex_begin: Illegal vertex format specified.\n"
                          "vertex_create_buffer_from_buffer: specified vertex format doesn't exist\n"
                          "vertex_create_buffer_from_buffer_ext: specified vertex format doesn't exist\n"
                          "vertex_create_buffer_from_buffer: specified buffer doesn't exists\n"
                          "vertex_create_buffer_from_buffer_ext: specified buffer doesn't exists\n");
}

TEST_F(GfxVertexBuffer, TypedWritersTakeTheFirstUnwrittenElementOfTheirType)
{
    Do("vertex_format_begin");
    Do("vertex_format_add_position");
    Do("vertex_format_add_texcoord");
    Do("vertex_format_add_custom", {6, 13});
    const int32_t f = int32_t(Do("vertex_format_end").Real());
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_begin", {double(b), double(f)});
    Do("vertex_float2", {double(b), 1, 2});
    Do("vertex_ubyte4", {double(b), 0x1FF, 256, -1, 7});
    Do("vertex_float2", {double(b), 3, 4});
    Do("vertex_end", {double(b)});
    EXPECT_EQ(Reported(), "");
    const std::vector<uint8_t> bytes = Bytes(b);
    ASSERT_EQ(bytes.size(), 20u);
    float v[4];
    std::memcpy(v, bytes.data(), 16);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[3], 4.0f);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.end()), (std::vector<uint8_t>{0xFF, 0, 0xFF, 7}));
}

}  // namespace vbuffer_test
