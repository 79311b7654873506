// 3D drawing on the OpenGL device on the offscreen driver, read back and compared image with image: the depth
// test decides what is in front whatever the drawing order, and a recorded model drawn at an offset lights the
// same pixels in the same colours as the immediate drawing under the same transform.
#include <SDL.h>
#include <gtest/gtest.h>

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/prim3d.h"
#include "gfx/recorder.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"
#include "gl_test_util.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace gl_prim3d_test {

constexpr uint32_t kSize = 64;

// Whichever GL suite runs first may have made the device; each test here makes its own otherwise.
using Shared = gltest::VideoWindow;
using gltest::Video;

class GlPrim3D : public testing::Test {
protected:
    void SetUp() override
    {
        Shared& s = Video();
        ASSERT_NE(s.window, nullptr) << s.error;
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
        GPUState::SetDefaults();
        GPUState::ApplyAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_CurrentRecorder = nullptr;
        GR_D3D_SetTextureStageOps(true);
        GR_HalfPixel = false;
        GR_Viewport = {0, 0, int32_t(kSize), int32_t(kSize)};
        GR_3D_SetMode(true);
        // Looking down +z at the room area (0, 0)-(64, 64) from z = -16000: nearer means smaller z.
        GR_3D_SetProjectionOrtho(0, 0, float(kSize), float(kSize), 0);
        GR_3D_TransformSetIdentity();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
    }
    void TearDown() override
    {
        GR_CurrentRecorder = nullptr;
        GR_3D_TransformSetIdentity();
        GR_3D_SetMode(false);
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        if (made_) d->ReleaseDevice();
    }

    // Draws on black and reads the back buffer back (ARGB, top row first).
    std::vector<uint32_t> Render(const std::function<void()>& draw)
    {
        d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER | RDCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
        draw();
        GraphicsFlush();
        return gltest::ReadBackBuffer(d);
    }

    static uint32_t At(const std::vector<uint32_t>& image, uint32_t x, uint32_t y)
    {
        return image[size_t(y) * kSize + x];
    }

    static size_t Differences(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
    {
        size_t n = 0;
        for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
        return n;
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
};

// A red block in front (z 10..20) and a green one behind (z 30..40), overlapping in x 24..40.
void NearBlock()
{
    GR_Draw_SetColour(0x0000FF);
    GR_3D_DrawBlock(8, 8, 10, 40, 40, 20, -1, 1, 1);
}
void FarBlock()
{
    GR_Draw_SetColour(0x00FF00);
    GR_3D_DrawBlock(24, 16, 30, 56, 56, 40, -1, 1, 1);
}

TEST_F(GlPrim3D, DepthDecidesWhatIsInFrontWhateverTheOrder)
{
    const std::vector<uint32_t> nearFirst = Render([] {
        NearBlock();
        FarBlock();
    });
    const std::vector<uint32_t> farFirst = Render([] {
        FarBlock();
        NearBlock();
    });
    EXPECT_EQ(Differences(nearFirst, farFirst), 0u);
    EXPECT_EQ(At(nearFirst, 30, 30), 0xFFFF0000u);  // the overlap shows the near block
    EXPECT_EQ(At(nearFirst, 50, 50), 0xFF00FF00u);  // the far block beside it
    EXPECT_EQ(At(nearFirst, 12, 12), 0xFFFF0000u);
    EXPECT_EQ(At(nearFirst, 2, 2), 0xFF000000u);

    // Without hidden-surface removal the later block wins the overlap.
    GR_3D_SetHidden(false);
    const std::vector<uint32_t> nearThenFar = Render([] {
        NearBlock();
        FarBlock();
    });
    const std::vector<uint32_t> farThenNear = Render([] {
        FarBlock();
        NearBlock();
    });
    EXPECT_EQ(At(nearThenFar, 30, 30), 0xFF00FF00u);
    EXPECT_EQ(At(farThenNear, 30, 30), 0xFFFF0000u);
    EXPECT_EQ(Differences(farThenNear, nearFirst), 0u);
    EXPECT_EQ(At(nearThenFar, 12, 12), 0xFFFF0000u);
}

// Triangles, lines and points in draw and own colours, including a strip long enough to be cut.
void Model()
{
    GR_Draw_SetColour(0x20C0F0);
    GR_3D_DrawCylinder(4, 4, 10, 24, 20, 30, -1, 1, 1, true, 12);
    GR_3D_DrawEllipsoid(26, 2, 0, 44, 16, 18, -1, 1, 1, 10);
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, -1);
    for (int32_t i = 0; i < 1200; ++i)
        GR_3D_VertexColour(2 + float(i % 40), 30 + float(i / 40) * 0.2f + float(i % 2) * 3, 5, 0x10FF40 + uint32_t(i),
                           1);
    GR_3D_PrimitiveEnd();
    GR_3D_PrimitiveBegin(RDPT_LINESTRIP, -1);
    GR_3D_Vertex(2, 50, 1);
    GR_3D_VertexColour(30, 44, 1, 0xFF00FF, 1);
    GR_3D_Vertex(44, 58, 1);
    GR_3D_PrimitiveEnd();
    GR_3D_PrimitiveBegin(RDPT_POINTLIST, -1);
    for (int32_t i = 0; i < 8; ++i) GR_3D_VertexColour(46 + float(i), 40 + float(i) * 2, 1, 0xFFFF00, 1);
    GR_3D_PrimitiveEnd();
    GR_3D_DrawWall(46, 20, 0, 58, 30, 20, -1, 1, 1);
}

TEST_F(GlPrim3D, RecordedModelAtAnOffsetMatchesTheImmediateDrawing)
{
    // Immediate: the world matrix is the offset followed by a turn, as the recorder makes it from the turn.
    const std::vector<uint32_t> immediate = Render([] {
        GR_3D_TransformSetTranslation(3, 2, 0);
        GR_3D_TransformAddRotationZ(4);
        Model();
        GR_3D_TransformSetIdentity();
    });

    GraphicsRecorder recorder;
    recorder.colour = 1;  // nothing is recoloured
    GR_CurrentRecorder = &recorder;
    Model();
    GR_CurrentRecorder = nullptr;
    ASSERT_GT(recorder.triangles.count, 0);
    ASSERT_GT(recorder.lines.count, 0);
    ASSERT_GT(recorder.points.count, 0);

    const std::vector<uint32_t> recorded = Render([&] {
        GR_3D_TransformSetRotationZ(4);
        recorder.Draw(3, 2, 0);
        GR_3D_TransformSetIdentity();
    });
    size_t lit = 0;
    for (uint32_t p : immediate) lit += p != 0xFF000000;
    EXPECT_GT(lit, 500u);
    EXPECT_EQ(Differences(immediate, recorded), 0u);
    for (uint32_t y = 0; y < kSize; ++y)
        for (uint32_t x = 0; x < kSize; ++x)
            ASSERT_EQ(At(recorded, x, y), At(immediate, x, y)) << "pixel (" << x << ", " << y << ")";

    // Drawn again from the kept buffers, and after a recolour that cannot apply, the same again.
    recorder.SetColour(0xFF00FF00);
    const std::vector<uint32_t> again = Render([&] {
        GR_3D_TransformSetRotationZ(4);
        recorder.Draw(3, 2, 0);
        GR_3D_TransformSetIdentity();
    });
    EXPECT_EQ(Differences(immediate, again), 0u);

    // A device reset leaves the buffers in place and drawable.
    RDVertexBuffer* const kept = recorder.triangles.buffer;
    ASSERT_NE(kept, nullptr);
    RDPresentParams p = gltest::PresentParams(Video().window, kSize, kSize);
    ASSERT_EQ(d->Reset(&p), RD_OK);
    // What the engine does after its resets; the frame sets its view and projection again.
    GR_D3D_RestoreStates();
    GR_3D_SetProjectionOrtho(0, 0, float(kSize), float(kSize), 0);
    const std::vector<uint32_t> afterReset = Render([&] {
        GR_3D_TransformSetRotationZ(4);
        recorder.Draw(3, 2, 0);
        GR_3D_TransformSetIdentity();
    });
    EXPECT_EQ(recorder.triangles.buffer, kept);
    EXPECT_EQ(Differences(immediate, afterReset), 0u);
    recorder.Free();
}

}  // namespace gl_prim3d_test
