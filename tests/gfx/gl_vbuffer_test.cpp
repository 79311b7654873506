// Script vertex buffers on the real OpenGL device (offscreen): a position + colour + texcoord triangle drawn
// through the batch, frozen, after a device reset, and rebuilt from a binary buffer, each read back; and a
// layout without colour drawn white by the emulation.
#include "gfx/vbuffer.h"

#include "../lib/builtin_call.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrix.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gfx/vformat.h"
#include "gfx/window.h"
#include "gl_test_util.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace gl_vbuffer_test {

using kvtest::OwnedValue;
using kvtest::R;

constexpr uint32_t kSize = 64;

OwnedValue Do(const char* name, std::initializer_list<double> reals = {})
{
    std::vector<OwnedValue> args;
    for (double r : reals) args.push_back(R(r));
    return kvtest::Call(name, std::move(args));
}


class GlVertexBuffer : public kvtest::BuiltinTest {
protected:
    void SetUp() override
    {
        BuiltinTest::SetUp();
        gltest::VideoWindow& s = gltest::Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        static bool registered = false;
        if (!registered) {
            InitVertexFormatFunctions();
            InitVertexBufferFunctions();
        }
        registered = true;
        VertexBuffer_SetCheckedWriters(true);
        d = GL_Device();
        RDPresentParams p = gltest::PresentParams(s.window, kSize, kSize);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
        } else {
            ASSERT_FALSE(RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, s.window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p)));
            made_ = true;
        }
        GR_Device = d;
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_MultisampleType = 0;
        GR_PresentParams = p;
        Window_RequestedWidth = Window_RequestedHeight = int32_t(kSize);
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        Texture_ForgetBindings();
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        Prepare();
    }
    void TearDown() override
    {
        VertexBuffer_FreeAll();
        VertexFormat_FreeAll();
        Buffer_SeamClear();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GPUState::SetDefaults();
        if (made_) d->ReleaseDevice();
        BuiltinTest::TearDown();
    }
    // The state the drawing expects (again after a reset).
    void Prepare()
    {
        GPUState::SetDefaults();
        GPUState::Apply();
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        gltest::Ortho2D(kSize);
    }
    std::vector<uint32_t> Frame(int32_t buffer, double texture)
    {
        GraphicsFlush();
        d->Clear(RDCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
        Do("vertex_submit", {double(buffer), 4, texture});
        GraphicsFlush();
        return gltest::ReadBackBuffer(d);
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
    bool deferred_ = false;
};

TEST_F(GlVertexBuffer, TexturedTriangleDrawsTheSameFrozenAfterResetAndFromABinaryBuffer)
{
    // Columns of red, red, blue, blue; yellow vertices keep the red and turn the blue black, which also
    // shows the colour bytes are read B, G, R, A.
    const uint32_t texels[4] = {0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0xFF0000FF};
    const int32_t texture = GR_Texture_Create(4, 1, texels, sizeof texels);
    ASSERT_GE(texture, 0);
    Do("vertex_format_begin");
    Do("vertex_format_add_position_3d");
    Do("vertex_format_add_colour");
    Do("vertex_format_add_texcoord");
    const int32_t format = int32_t(Do("vertex_format_end").Real());
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_begin", {double(b), double(format)});
    const double corners[3][4] = {{0, 0, 0, 0}, {64, 0, 1, 0}, {0, 64, 0, 1}};
    for (const auto& c : corners) {
        Do("vertex_texcoord", {double(b), c[2], c[3]});
        Do("vertex_position_3d", {double(b), c[0], c[1], 0});
        Do("vertex_colour", {double(b), double(0x00FFFF), 1});
    }
    Do("vertex_end", {double(b)});
    ASSERT_EQ(Reported(), "");
    const std::vector<uint8_t> bytes(VertexBuffer_Get(b)->data, VertexBuffer_Get(b)->data + 72);

    const std::vector<uint32_t> drawn = Frame(b, texture);
    ASSERT_EQ(drawn.size(), size_t(kSize) * kSize);
    struct Probe {
        int x, y;
        uint32_t argb;
    };
    const Probe probes[] = {{20, 4, 0xFFFF0000}, {4, 40, 0xFFFF0000}, {44, 4, 0xFF000000},
                            {50, 50, 0xFF00FF00}, {63, 63, 0xFF00FF00}};
    for (const Probe& p : probes) EXPECT_EQ(drawn[size_t(p.y) * kSize + size_t(p.x)], p.argb) << p.x << "," << p.y;

    ASSERT_EQ(Do("vertex_freeze", {double(b)}).Real(), 0.0);
    EXPECT_EQ(Frame(b, texture), drawn) << "frozen";

    ASSERT_TRUE(GR_D3D_ResetAll());
    Prepare();
    EXPECT_EQ(Frame(b, texture), drawn) << "frozen, after a reset";

    Buffer_Standard binary(int32_t(bytes.size()), buffer_fixed, 1);
    std::memcpy(binary.GetData(), bytes.data(), bytes.size());
    const int32_t rebuilt =
        int32_t(Do("vertex_create_buffer_from_buffer", {double(Buffer_SeamAdd(&binary)), double(format)}).Real());
    ASSERT_GE(rebuilt, 0);
    EXPECT_EQ(Frame(rebuilt, texture), drawn) << "from a binary buffer";
    ASSERT_EQ(Do("vertex_freeze", {double(rebuilt)}).Real(), 0.0);
    EXPECT_EQ(Frame(rebuilt, texture), drawn) << "from a binary buffer, frozen";
    EXPECT_EQ(Reported(), "");
}

TEST_F(GlVertexBuffer, LayoutWithoutColourDrawsWhite)
{
    // Position last and a float4 the emulation does not read: the arrays follow the declaration.
    Do("vertex_format_begin");
    Do("vertex_format_add_custom", {4, 12});
    Do("vertex_format_add_position");
    const int32_t format = int32_t(Do("vertex_format_end").Real());
    const int32_t b = int32_t(Do("vertex_create_buffer").Real());
    Do("vertex_begin", {double(b), double(format)});
    for (const auto& c : {std::pair{8.0, 8.0}, std::pair{40.0, 8.0}, std::pair{8.0, 40.0}}) {
        Do("vertex_float4", {double(b), 9, 9, 9, 9});
        Do("vertex_position", {double(b), c.first, c.second});
    }
    Do("vertex_end", {double(b)});
    const std::vector<uint32_t> drawn = Frame(b, -1);
    ASSERT_EQ(drawn.size(), size_t(kSize) * kSize);
    EXPECT_EQ(drawn[size_t(12) * kSize + 12], 0xFFFFFFFFu);
    EXPECT_EQ(drawn[size_t(4) * kSize + 4], 0xFF00FF00u);
    EXPECT_EQ(drawn[size_t(30) * kSize + 30], 0xFF00FF00u);
    EXPECT_EQ(Reported(), "");
}

}  // namespace gl_vbuffer_test
