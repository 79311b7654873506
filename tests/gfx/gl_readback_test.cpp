// Read-back on the real OpenGL device (offscreen): texture reads cut to the texture, screen reads cut to the area
// and the target, copies between surfaces, written blocks resolved at the next use, a surface drawn into and
// drawn scaled, single pixels, bitmaps of the screen, and PNG files (the write_png_file of a read-back and the
// KV_TEST_SNAPSHOT file) against ImageMagick's raw dump. What the device holds is checked through its own
// system-memory copy (gl_test_util.h), not through the code under test.
#include "gfx/readback.h"

#include "core/memory_manager.h"
#include "draw/draw.h"
#include "gfx/batch.h"
#include "gfx/bitmap.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/image.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/quad.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gl_test_util.h"
#include "lib/file_areas.h"
#include "test_support.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace gl_readback_test {

constexpr int32_t kSize = 64;

// A pattern no two pixels of a 256-wide image share: x and y in separate channels, opaque.
uint32_t Pattern(int32_t x, int32_t y)
{
    return 0xFF000000u | uint32_t(x & 255) << 16 | uint32_t(y * 3 & 255) << 8 | uint32_t((x ^ y) & 255);
}

std::vector<uint32_t> PatternBlock(int32_t w, int32_t h)
{
    std::vector<uint32_t> block(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) block[size_t(y) * size_t(w) + size_t(x)] = Pattern(x, y);
    return block;
}

std::vector<uint8_t> CommandBytes(const std::string& command)
{
    std::vector<uint8_t> bytes;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return bytes;
    uint8_t buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    pclose(pipe);
    return bytes;
}

// ImageMagick's 8-bit RGBA dump of an image file.
std::vector<uint8_t> MagickRgba(const std::string& path)
{
    return CommandBytes("convert '" + path + "' -depth 8 rgba:- 2>/dev/null");
}

// ARGB words as the bytes red, green, blue, alpha.
std::vector<uint8_t> RgbaBytes(const std::vector<uint32_t>& argb)
{
    std::vector<uint8_t> out;
    for (uint32_t v : argb) out.insert(out.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24)});
    return out;
}

class GlReadback : public testing::Test {
protected:
    void SetUp() override
    {
        gltest::VideoWindow& s = gltest::Video();
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
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_MaxRenderTargets = 4;
        GR_MultisampleType = 0;
        GR_PresentParams = p;
        GR_RenderWidth = GR_RenderHeight = kSize;
        GR_SceneCount = 1;  // clears act only inside a scene
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        Texture_ForgetBindings();
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        GR_Texture_SetInterpolation(false);
        GR_SetViewport(0, 0, kSize, kSize);
        GR_SetViewProjection(0, 0, float(kSize), float(kSize), 0);
        GR_Depth = 0;
        GR_Draw_Init();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
        Surface_NextId = 0;
    }
    void TearDown() override
    {
        for (int32_t i = 0; i < 40 && Surface_StackCount() > 0; ++i) {
            RenderTarget_Push();
            Surface_ResetTarget();
        }
        Surface_FreeAll();
        RenderTarget_PopAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_SceneCount = 0;
        GR_MultisampleType = 0;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GR_MaxRenderTargets = 1;
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        if (made_) d->ReleaseDevice();
    }

    std::vector<uint32_t> BackBuffer()
    {
        GraphicsFlush();
        return gltest::ReadBackBuffer(d);
    }
    std::vector<uint32_t> TextureSurface(NativeTexture* t)
    {
        GraphicsFlush();
        return gltest::ReadSurface(d, t->surface);
    }
    // The whole back buffer painted with the pattern from a page drawn at (0, 0).
    void PaintPatternScreen()
    {
        const std::vector<uint32_t> pixels = PatternBlock(kSize, kSize);
        const int32_t page = GR_Texture_Create(kSize, kSize, pixels.data(), uint32_t(pixels.size() * 4));
        ASSERT_TRUE(GR_Texture_Draw(page, 0, 0));
        ASSERT_EQ(BackBuffer(), pixels) << "the pattern does not land pixel for pixel";
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
    bool deferred_ = false;
};

// A 256-wide texture read at (250, 0, 100, 10): a 100 x 10 block with the texture's 6 columns, zero after them,
// alike for a managed texture (locked directly) and a render target (read through a temporary target).
TEST_F(GlReadback, TextureReadsAreCutToTheTextureAndZeroBeyond)
{
    const std::vector<uint32_t> pattern = PatternBlock(256, 16);
    struct Read {
        int32_t x, y, w, h;
        bool given;
    };
    const Read reads[] = {
        {250, 0, 100, 10, true}, {-3, -2, 4, 4, true}, {200, 14, 10, 5, true},
        {256, 0, 4, 4, false},   {0, 16, 4, 4, false}, {0, 0, 0, 4, false},
    };
    for (bool target : {false, true}) {
        SCOPED_TRACE(target ? "render target" : "managed");
        NativeTexture* t = target ? Texture_Create(256, 16, TEXTURE_RENDER_TARGET, TEXTURE_FORMAT_A8R8G8B8)
                                  : Texture_Create(256, 16, 0, TEXTURE_FORMAT_A8R8G8B8);
        ASSERT_NE(t, nullptr);
        if (target) {
            GR_Texture_WritePixels(pattern.data(), t, 0, 0, 256, 16);
        } else {
            ASSERT_TRUE(Texture_UpdateBits(t, 0, 256, 16, pattern.data()));
        }
        ASSERT_EQ(TextureSurface(t), pattern);
        for (const Read& r : reads) {
            SCOPED_TRACE(testing::Message() << r.x << ", " << r.y << ", " << r.w << ", " << r.h);
            uint32_t* block = GR_Texture_ReadPixels(t, r.x, r.y, r.w, r.h);
            ASSERT_EQ(block != nullptr, r.given);
            if (!block) continue;
            const int32_t x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
            for (int32_t y = 0; y < r.h; ++y)
                for (int32_t x = 0; x < r.w; ++x) {
                    const bool inside = x0 + x < 256 && y0 + y < 16;
                    ASSERT_EQ(block[size_t(y) * r.w + x], inside ? Pattern(x0 + x, y0 + y) : 0u) << x << ", " << y;
                }
            MemFree(block);
        }
        Texture_Free(t);
    }
}

TEST_F(GlReadback, ScreenReadsAreCutToTheAreaAndTheTarget)
{
    PaintPatternScreen();
    struct Row {
        int32_t areaW, areaH, x, y, w, h;
        int32_t x0, y0, gotW, gotH;  // gotW 0: null
    };
    const Row rows[] = {
        {64, 64, -10, -10, 20, 20, 0, 0, 20, 20},
        {64, 64, 50, 60, 30, 30, 50, 60, 14, 4},
        {64, 64, 3, 5, 13, 7, 3, 5, 13, 7},
        {64, 64, 0, 0, 64, 64, 0, 0, 64, 64},
        {32, 32, 30, 0, 10, 10, 30, 0, 2, 10},
        {200, 200, 60, 0, 10, 3, 60, 0, 4, 3},
        {64, 64, 64, 0, 1, 1, 0, 0, 0, 0},
        {64, 64, 0, 0, 0, 5, 0, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.areaW << " area, " << r.x << ", " << r.y << ", " << r.w << ", " << r.h);
        int32_t w = r.w, h = r.h;
        uint32_t* block = GR_Screen_ReadPixels(r.areaW, r.areaH, r.x, r.y, &w, &h);
        ASSERT_EQ(block != nullptr, r.gotW > 0);
        if (!block) continue;
        ASSERT_EQ(w, r.gotW);
        ASSERT_EQ(h, r.gotH);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                ASSERT_EQ(block[size_t(y) * w + x], Pattern(r.x0 + x, r.y0 + y)) << x << ", " << y;
        MemFree(block);
    }
}

// With a surface bound as target the read comes from it and is cut to its size.
TEST_F(GlReadback, AScreenReadWithASurfaceBoundReadsTheSurface)
{
    const int32_t id = Surface_Create(16, 12, -1);
    NativeTexture* t = GR_Texture_Get(Surface_GetTexture(id));
    ASSERT_NE(t, nullptr);
    const std::vector<uint32_t> pattern = PatternBlock(16, 12);
    GR_Texture_WritePixels(pattern.data(), t, 0, 0, 16, 12);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    int32_t w = kSize, h = kSize;
    uint32_t* block = GR_Screen_ReadPixels(kSize, kSize, 2, 1, &w, &h);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(w, 14);
    EXPECT_EQ(h, 11);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(block[size_t(y) * w + x], Pattern(x + 2, y + 1)) << x << ", " << y;
    MemFree(block);
    ASSERT_TRUE(Surface_ResetTarget());
}

// dst(X, Y) takes src(X - x + sx, Y - y + sy) wherever the requested rectangle and both textures allow.
TEST_F(GlReadback, CopiesKeepThePartInsideBothTexturesInPlace)
{
    struct Row {
        int32_t x, y, sx, sy, w, h;
    };
    const Row rows[] = {
        {10, 0, -5, 0, 20, 32}, {-4, -3, 0, 0, 10, 10}, {28, 28, 0, 0, 10, 10},
        {0, 0, 30, 2, 10, 10},  {5, 5, 2, 3, 0, 10},    {3, 4, -40, 0, 20, 20},
    };
    const std::vector<uint32_t> pattern = PatternBlock(32, 32), zero(32 * 32, 0);
    const int32_t source = Surface_Create(32, 32, -1), dest = Surface_Create(32, 32, -1);
    NativeTexture* src = GR_Texture_Get(Surface_GetTexture(source));
    NativeTexture* dst = GR_Texture_Get(Surface_GetTexture(dest));
    ASSERT_TRUE(src && dst);
    GR_Texture_WritePixels(pattern.data(), src, 0, 0, 32, 32);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.x << ", " << r.y << " from " << r.sx << ", " << r.sy << ", " << r.w
                                        << " x " << r.h);
        GR_Texture_WritePixels(zero.data(), dst, 0, 0, 32, 32);
        GR_Texture_CopyRect(dst, r.x, r.y, src, r.sx, r.sy, r.w, r.h);
        const std::vector<uint32_t> got = TextureSurface(dst);
        ASSERT_EQ(got.size(), 32u * 32u);
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 32; ++x) {
                const int32_t fx = x - r.x + r.sx, fy = y - r.y + r.sy;
                const bool copied = x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h && fx >= 0 && fx < 32 &&
                                    fy >= 0 && fy < 32;
                ASSERT_EQ(got[size_t(y) * 32 + x], copied ? Pattern(fx, fy) : 0u) << x << ", " << y;
            }
    }
}

// A block written over a surface marks it for a resolve; drawing the surface (its next use as a texture) shows
// the block, also when drawing goes to a multisampled surface of its own.
TEST_F(GlReadback, AWrittenBlockIsResolvedAtTheNextBind)
{
    for (uint32_t samples : {0u, 4u}) {
        SCOPED_TRACE(samples);
        GR_MultisampleType = samples;
        const int32_t id = Surface_Create(16, 16, -1);
        NativeTexture* t = GR_Texture_Get(Surface_GetTexture(id));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->separateTarget, samples != 0);
        const std::vector<uint32_t> pattern = PatternBlock(16, 16);
        t->flags &= ~TEXTURE_NEEDS_RESOLVE;
        GR_Texture_WritePixels(pattern.data(), t, 0, 0, 16, 16);
        EXPECT_TRUE(t->flags & TEXTURE_NEEDS_RESOLVE);
        d->Clear(RDCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        Surface_Draw(id, 8, 8);
        const std::vector<uint32_t> image = BackBuffer();
        EXPECT_FALSE(t->flags & TEXTURE_NEEDS_RESOLVE);
        ASSERT_EQ(image.size(), size_t(kSize) * kSize);
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x) {
                const bool inside = x >= 8 && x < 24 && y >= 8 && y < 24;
                ASSERT_EQ(image[size_t(y) * kSize + x], inside ? Pattern(x - 8, y - 8) : 0xFF0000FFu) << x << ", " << y;
            }
        Surface_Free(id, false);
    }
}

// A surface cleared red with a green square drawn into it, then drawn at (10, 10) at scale 2, reads back as the
// square doubled inside the doubled red block on the blue screen.
TEST_F(GlReadback, ASurfaceDrawnIntoThenDrawnScaledReadsBackAsTheExpectedBlock)
{
    const int32_t id = Surface_Create(8, 8, -1);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    GR_D3D_Clear(0xFF0000FF, 1.0f, 0, RDCLEAR_TARGET);
    GR_Draw_SetColour(0x00FF00);
    GR_Draw_Rectangle(2, 2, 5, 5, false);
    GR_Draw_SetColour(0xFFFFFF);
    ASSERT_TRUE(Surface_ResetTarget());
    GR_D3D_Clear(0xFFFF0000, 1.0f, 0, RDCLEAR_TARGET);
    Surface_DrawExt(id, 10, 10, 2, 2, 0, 0xFFFFFF, 1);
    int32_t w = kSize, h = kSize;
    uint32_t* block = GR_Screen_ReadPixels(kSize, kSize, 0, 0, &w, &h);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(w, kSize);
    for (int32_t y = 0; y < kSize; ++y)
        for (int32_t x = 0; x < kSize; ++x) {
            const bool surface = x >= 10 && x < 26 && y >= 10 && y < 26;
            const bool square = x >= 14 && x < 22 && y >= 14 && y < 22;
            const uint32_t want = square ? 0xFF00FF00u : surface ? 0xFFFF0000u : 0xFF0000FFu;
            ASSERT_EQ(block[size_t(y) * kSize + x], want) << x << ", " << y;
        }
    EXPECT_EQ(BackBuffer(), std::vector<uint32_t>(block, block + size_t(kSize) * kSize));
    MemFree(block);
}

TEST_F(GlReadback, GetPixelGivesTheClearColourInScriptOrder)
{
    const uint32_t colours[] = {0xFF0000FF, 0x80123456, 0x00000000, 0xFFFFFFFF};
    for (uint32_t colour : colours) {
        SCOPED_TRACE(testing::Message() << std::hex << colour);
        GR_D3D_Clear(colour, 1.0f, 0, RDCLEAR_TARGET);
        EXPECT_EQ(GR_GetPixel(5, 7), colour);
        EXPECT_EQ(GR_GetPixel(kSize - 1, kSize - 1), colour);
    }
    GR_D3D_Clear(0xFF0000FF, 1.0f, 0, RDCLEAR_TARGET);
    EXPECT_EQ(GR_GetPixel(kSize, 0), 0u);   // outside the render area
    EXPECT_EQ(GR_GetPixel(-3, -3), 0xFF0000FFu);  // read from (0, 0)
}

TEST_F(GlReadback, ScreenBitmapsAreCutToTheView)
{
    PaintPatternScreen();
    struct Row {
        int32_t x, y, w, h;
        int32_t x0, y0, gotW, gotH;  // gotW 0: null
    };
    const Row rows[] = {
        {-5, -5, 10, 10, 0, 0, 10, 10}, {60, 58, 10, 10, 60, 58, 4, 6}, {2, 3, 5, 4, 2, 3, 5, 4},
        {64, 0, 5, 5, 0, 0, 0, 0},      {0, 0, 0, 5, 0, 0, 0, 0},       {10, 63, 3, 3, 10, 63, 3, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.x << ", " << r.y << ", " << r.w << ", " << r.h);
        TBitmap* bitmap = GR_ScreenToBitmap(r.x, r.y, r.w, r.h);
        ASSERT_EQ(bitmap != nullptr, r.gotW > 0);
        if (!bitmap) continue;
        EXPECT_EQ(bitmap->GetPixelFormat(), BITMAP_FORMAT_32);
        ASSERT_EQ(bitmap->GetWidth(), r.gotW);
        ASSERT_EQ(bitmap->GetHeight(), r.gotH);
        uint8_t* rows = nullptr;
        int32_t pitch = 0;
        bitmap->Lock(0, &rows, &pitch);
        for (int32_t y = 0; y < r.gotH; ++y)
            for (int32_t x = 0; x < r.gotW; ++x) {
                uint32_t v;
                std::memcpy(&v, rows + size_t(y) * pitch + size_t(x) * 4, 4);
                ASSERT_EQ(v, Pattern(r.x0 + x, r.y0 + y)) << x << ", " << y;
            }
        delete bitmap;
    }
    // A smaller view cuts the width.
    GR_SetViewProjection(0, 0, 32, 32, 0);
    TBitmap* cut = GR_ScreenToBitmap(30, 0, 10, 1);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->GetWidth(), 2);
    delete cut;
}

// A lockable target's pixels live in its renderbuffer or in its memory copy (a copy into it reads the source
// straight into memory); locks, partial writes, copies and the device's own read of it agree whichever holds them.
TEST_F(GlReadback, LockableTargetsAgreeWhereverTheirPixelsAre)
{
    PaintPatternScreen();
    RDSurface* backBuffer = nullptr;
    ASSERT_EQ(d->GetBackBuffer(&backBuffer), RD_OK);
    RDSurface* t = nullptr;
    ASSERT_EQ(d->CreateRenderTarget(8, 8, RDFMT_A8R8G8B8, 0, &t), RD_OK);
    std::vector<uint32_t> want(64);
    auto check = [&](const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(gltest::ReadSurface(d, t), want);
        RDLockedRect locked{};
        ASSERT_EQ(d->LockSurface(t, &locked, nullptr, RDLOCK_READONLY), RD_OK);
        for (int32_t y = 0; y < 8; ++y)
            for (int32_t x = 0; x < 8; ++x) {
                uint32_t v;
                std::memcpy(&v, static_cast<uint8_t*>(locked.bits) + y * locked.pitch + x * 4, 4);
                ASSERT_EQ(v, want[size_t(y) * 8 + x]) << x << ", " << y;
            }
        ASSERT_EQ(d->UnlockSurface(t), RD_OK);
    };
    // The world's 64 units cover the target's 8 pixels: blue squares of 2 x 2 pixels drawn through a binding.
    auto drawBlue = [&](float x, float y) {
        ASSERT_EQ(d->SetRenderTarget(0, t), RD_OK);
        GR_Draw_SetColour(0xFF0000);
        GR_Draw_Rectangle(x * 8, y * 8, x * 8 + 15, y * 8 + 15, false);
        GR_Draw_SetColour(0xFFFFFF);
        GraphicsFlush();
        ASSERT_EQ(d->SetRenderTarget(0, backBuffer), RD_OK);
        for (int32_t py = int32_t(y); py < int32_t(y) + 2; ++py)
            for (int32_t px = int32_t(x); px < int32_t(x) + 2; ++px) want[size_t(py) * 8 + size_t(px)] = 0xFF0000FFu;
    };
    ASSERT_EQ(d->SetRenderTarget(0, t), RD_OK);
    ASSERT_EQ(d->Clear(RDCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), RD_OK);
    ASSERT_EQ(d->SetRenderTarget(0, backBuffer), RD_OK);
    std::fill(want.begin(), want.end(), 0xFFFF0000u);
    check("cleared through a binding");
    // Drawn on after a read, so memory is stale: a partial copy and a written rectangle go to the renderbuffer.
    drawBlue(0, 0);
    const RDRect from{0, 0, 4, 4}, to{4, 4, 8, 8};
    ASSERT_EQ(d->StretchRect(backBuffer, &from, t, &to, RDTEXF_LINEAR), RD_OK);
    for (int32_t y = 4; y < 8; ++y)
        for (int32_t x = 4; x < 8; ++x) want[size_t(y) * 8 + x] = Pattern(x - 4, y - 4);
    RDLockedRect locked{};
    const RDRect corner{2, 0, 4, 2};
    ASSERT_EQ(d->LockSurface(t, &locked, &corner, 0), RD_OK);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            const uint32_t green = 0xFF00FF00u;
            std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch + x * 4, &green, 4);
            want[size_t(y) * 8 + 2 + x] = green;
        }
    ASSERT_EQ(d->UnlockSurface(t), RD_OK);
    check("drawn, copied into and written");
    // A whole copy moves the pixels into memory; a partial one after it adds to them there.
    const RDRect whole{10, 10, 18, 18}, part{30, 0, 32, 2};
    ASSERT_EQ(d->StretchRect(backBuffer, &whole, t, nullptr, RDTEXF_LINEAR), RD_OK);
    ASSERT_EQ(d->StretchRect(backBuffer, &part, t, &corner, RDTEXF_LINEAR), RD_OK);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            want[size_t(y) * 8 + x] = x >= 2 && x < 4 && y < 2 ? Pattern(28 + x, y) : Pattern(10 + x, 10 + y);
    // Drawn on: what memory held reaches the renderbuffer before the drawing.
    drawBlue(6, 6);
    check("copies into memory, then drawn on");
    // A copy into the bound target, then drawing on it while still bound: both land.
    ASSERT_EQ(d->SetRenderTarget(0, t), RD_OK);
    ASSERT_EQ(d->StretchRect(backBuffer, &whole, t, nullptr, RDTEXF_LINEAR), RD_OK);
    GR_Draw_SetColour(0xFF0000);
    GR_Draw_Rectangle(0, 48, 15, 63, false);
    GR_Draw_SetColour(0xFFFFFF);
    GraphicsFlush();
    ASSERT_EQ(d->SetRenderTarget(0, backBuffer), RD_OK);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            want[size_t(y) * 8 + x] = x < 2 && y >= 6 ? 0xFF0000FFu : Pattern(10 + x, 10 + y);
    check("copied into while bound, then drawn on");
    // As a copy source it gives what memory held.
    NativeTexture* level = Texture_Create(8, 8, TEXTURE_RENDER_TARGET, TEXTURE_FORMAT_A8R8G8B8);
    ASSERT_NE(level, nullptr);
    ASSERT_EQ(d->StretchRect(backBuffer, &whole, t, nullptr, RDTEXF_LINEAR), RD_OK);
    ASSERT_EQ(d->StretchRect(t, nullptr, level->surface, nullptr, RDTEXF_LINEAR), RD_OK);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) want[size_t(y) * 8 + x] = Pattern(10 + x, 10 + y);
    EXPECT_EQ(gltest::ReadSurface(d, level->surface), want);
    Texture_Free(level);
    t->Release();
    backBuffer->Release();
}

// A surface's rectangle as a bitmap keeps the requested size, zero beyond the surface; unknown ids give none.
TEST_F(GlReadback, SurfaceBitmapsHaveTheRequestedSize)
{
    const int32_t id = Surface_Create(16, 12, -1);
    const std::vector<uint32_t> pattern = PatternBlock(16, 12);
    GR_Texture_WritePixels(pattern.data(), GR_Texture_Get(Surface_GetTexture(id)), 0, 0, 16, 12);
    struct Row {
        int32_t id, x, y, w, h;
        bool given;
    };
    const Row rows[] = {
        {id, 2, 3, 5, 4, true}, {id, 12, 10, 8, 4, true}, {id, 16, 0, 2, 2, false}, {id + 1, 0, 0, 2, 2, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.id << ": " << r.x << ", " << r.y << ", " << r.w << ", " << r.h);
        TBitmap* bitmap = Surface_ToBitmap(r.id, r.x, r.y, r.w, r.h);
        ASSERT_EQ(bitmap != nullptr, r.given);
        if (!bitmap) continue;
        ASSERT_EQ(bitmap->GetWidth(), r.w);
        ASSERT_EQ(bitmap->GetHeight(), r.h);
        uint8_t* rows = nullptr;
        int32_t pitch = 0;
        bitmap->Lock(0, &rows, &pitch);
        for (int32_t y = 0; y < r.h; ++y)
            for (int32_t x = 0; x < r.w; ++x) {
                uint32_t v;
                std::memcpy(&v, rows + size_t(y) * pitch + size_t(x) * 4, 4);
                const bool inside = r.x + x < 16 && r.y + y < 12;
                ASSERT_EQ(v, inside ? Pattern(r.x + x, r.y + y) : 0u) << x << ", " << y;
            }
        delete bitmap;
    }
}

// A fresh folder outside the game's folders, removed with everything in it.
struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        char pattern[] = "/tmp/kv_readback_XXXXXX";
        if (mkdtemp(pattern)) path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

// A target holding the pattern with alpha running 0..252 across it, read back, swapped to red-first bytes and
// written with write_png_file, gives the file ImageMagick dumps as the same bytes.
TEST_F(GlReadback, AReadBackWrittenAsPngEqualsImageMagicksDump)
{
    std::vector<uint32_t> pixels = PatternBlock(40, 24);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (pixels[i] & 0xFFFFFF) | uint32_t(i % 40 * 6) << 24;
    const int32_t id = Surface_Create(40, 24, -1);
    GR_Texture_WritePixels(pixels.data(), GR_Texture_Get(Surface_GetTexture(id)), 0, 0, 40, 24);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    int32_t w = 40, h = 24;
    uint32_t* block = GR_Screen_ReadPixels(kSize, kSize, 0, 0, &w, &h);
    ASSERT_TRUE(Surface_ResetTarget());
    ASSERT_NE(block, nullptr);
    const std::vector<uint32_t> argb(block, block + size_t(w) * size_t(h));
    MemFree(block);
    ASSERT_EQ(argb, pixels);
    std::vector<uint8_t> rgba = RgbaBytes(argb);
    ASSERT_TRUE(write_png_file("readback/shot.png", rgba.data(), w, h));
    char path[2048];
    ASSERT_TRUE(SaveArea_ResolvePath(path, sizeof path, "readback/shot.png"));
    EXPECT_EQ(MagickRgba(path), rgba);
    std::filesystem::remove(path);
}

TEST_F(GlReadback, TheSnapshotSwitchWritesTheNamedFrame)
{
    ScratchFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const std::string& dir = folder.path;
    PaintPatternScreen();
    const std::vector<uint8_t> expected = RgbaBytes(BackBuffer());
    struct Row {
        const char* value;  // %s: the folder
        int32_t frame;
        bool written;
    };
    const Row rows[] = {
        {"3:%s/shot.png", 2, false}, {"3:%s/shot.png", 3, true}, {"03:%s/shot.png", 3, true},
        {"x:%s/shot.png", 0, false}, {"3:", 3, false},           {":%s/shot.png", 0, false},
        {"3", 3, false},
    };
    for (const Row& row : rows) {
        std::string value = row.value;
        if (const size_t at = value.find("%s"); at != std::string::npos) value.replace(at, 2, dir);
        SCOPED_TRACE(value + " at frame " + std::to_string(row.frame));
        std::filesystem::remove(dir + "/shot.png");
        kvtest::ScopedEnv snapshot("KV_TEST_SNAPSHOT", value.c_str());
        EXPECT_EQ(ReadBack_TestSnapshot(row.frame), row.written);
        EXPECT_EQ(std::filesystem::exists(dir + "/shot.png"), row.written);
        if (row.written) {
            EXPECT_EQ(MagickRgba(dir + "/shot.png"), expected);
        }
    }
    // A relative name is the working folder's, whose files a game's own writes would find redirected.
    {
        const std::string here = std::filesystem::current_path().string() + "/readback_snapshot.png";
        kvtest::ScopedEnv snapshot("KV_TEST_SNAPSHOT", "7:readback_snapshot.png");
        EXPECT_TRUE(ReadBack_TestSnapshot(7));
        EXPECT_EQ(MagickRgba(here), expected);
        std::filesystem::remove(here);
    }
    // The back buffer is read even while a surface is the target.
    const int32_t id = Surface_Create(8, 8, -1);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    GR_D3D_Clear(0xFF00FF00, 1.0f, 0, RDCLEAR_TARGET);
    {
        kvtest::ScopedEnv snapshot("KV_TEST_SNAPSHOT", ("5:" + dir + "/target.png").c_str());
        EXPECT_TRUE(ReadBack_TestSnapshot(5));
    }
    EXPECT_EQ(MagickRgba(dir + "/target.png"), expected);
    ASSERT_TRUE(Surface_ResetTarget());
}

}  // namespace gl_readback_test
