// Textures on the real OpenGL device (offscreen): uploads read back from the GPU, partial updates, a render
// target drawn into and sampled, and a 16-bit "RAW " block.
#include "gfx/texture_manager.h"

#include "core/memory_manager.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrix.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/quad.h"
#include "gfx/texture_handle.h"
#include "gfx/textures.h"
#include "gl_test_util.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "world/loader.h"
#include "world/options.h"
#include "fixture_cache.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace gl_texture_test {

constexpr uint32_t kSize = 64;

using Shared = gltest::VideoWindow;
using gltest::Video;


class GlTexture : public testing::Test {
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
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_MaxRenderTargets = 4;
        GR_MultisampleType = 0;
        GR_PresentParams = p;
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
        gltest::Ortho2D(kSize);
        GR_Depth = 0;
        GR_PrimOffsetX = GR_PrimOffsetY = 1.0f;
        GR_Draw_Init();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
    }
    void TearDown() override
    {
        RenderTarget_PopAll();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GR_MaxRenderTargets = 1;
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        if (made_) d->ReleaseDevice();
    }

    // What the GPU holds for a surface, as ARGB words, top row first.
    std::vector<uint32_t> Read(RDSurface* surface)
    {
        return gltest::ReadSurface(d, surface);
    }
    std::vector<uint32_t> ReadTexture(NativeTexture* t)
    {
        RDSurface* level = nullptr;
        EXPECT_EQ(d->GetSurfaceLevel(t->texture, 0, &level), RD_OK);
        if (!level) return {};
        std::vector<uint32_t> pixels = Read(level);
        level->Release();
        return pixels;
    }
    std::vector<uint32_t> ReadBackBuffer()
    {
        GraphicsFlush();
        RDSurface* bb = nullptr;
        EXPECT_EQ(d->GetBackBuffer(&bb), RD_OK);
        if (!bb) return {};
        std::vector<uint32_t> pixels = Read(bb);
        bb->Release();
        return pixels;
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
    bool deferred_ = false;
};

TEST_F(GlTexture, UploadedBitsReadBackUnchanged)
{
    std::vector<uint32_t> pixels(5 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0x01000000u * uint32_t(i * 17) | uint32_t(i * 0x030507);
    for (bool deferred : {false, true}) {
        SCOPED_TRACE(deferred ? "deferred" : "immediate");
        g_IniOptions.createTexturesOnDemand = deferred;
        NativeTexture* t = Texture_CreateFromBits(pixels.data(), 5, 3);
        ASSERT_NE(t, nullptr);
        Texture_EnsureCreated(t);
        ASSERT_NE(t->texture, nullptr);
        const int32_t w = t->Width(), h = t->Height();
        EXPECT_EQ(w, deferred ? 5 : 8);
        EXPECT_EQ(h, deferred ? 3 : 4);
        const std::vector<uint32_t> got = ReadTexture(t);
        ASSERT_EQ(got.size(), size_t(w) * h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                EXPECT_EQ(got[size_t(y) * w + x], x < 5 && y < 3 ? pixels[size_t(y) * 5 + x] : 0u)
                    << x << ", " << y;
        Texture_Free(t);
    }
}

TEST_F(GlTexture, ARegionUpdateChangesOnlyItsRectangle)
{
    const std::vector<uint32_t> zero(16 * 16, 0xFF000000);
    NativeTexture* t = Texture_CreateFromBits(zero.data(), 16, 16);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 16 * 16; ++i) t->systemCopy[i] = 0xFFFFFFFF;
    ASSERT_TRUE(Texture_UpdateRegion(t, 3, 5, 4, 2));
    const std::vector<uint32_t> got = ReadTexture(t);
    ASSERT_EQ(got.size(), 256u);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool inside = x >= 3 && x < 7 && y >= 5 && y < 7;
            EXPECT_EQ(got[size_t(y) * 16 + x], inside ? 0xFFFFFFFFu : 0xFF000000u) << x << ", " << y;
        }
    // Clipped at the edges.
    EXPECT_TRUE(Texture_UpdateRegion(t, 14, -3, 10, 5));
    EXPECT_EQ(ReadTexture(t)[15], 0xFFFFFFFFu);
    Texture_Free(t);
}

TEST_F(GlTexture, ATargetDrawnIntoIsSampledUpright)
{
    for (uint32_t samples : {0u, 4u}) {
        SCOPED_TRACE(samples);
        GR_MultisampleType = samples;
        const int32_t page = GR_Texture_CreateBlank(16, 16, true, false, 0);
        NativeTexture* target = GR_Texture_Get(page);
        ASSERT_NE(target, nullptr);
        ASSERT_TRUE(RenderTarget_Push());
        ASSERT_TRUE(RenderTarget_Set(0, target));
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        // The world's 64 units cover the target's 16 pixels: the top half red.
        GR_Draw_SetColour(0x0000FF);
        GR_Draw_Rectangle(0, 0, 63, 31, false);
        ASSERT_TRUE(RenderTarget_Pop());
        GR_Draw_SetColour(0xFFFFFF);
        d->Clear(RDCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
        ASSERT_TRUE(GR_Texture_Draw(page, 0, 0));
        const std::vector<uint32_t> image = ReadBackBuffer();
        ASSERT_EQ(image.size(), size_t(kSize) * kSize);
        EXPECT_EQ(image[2 * kSize + 8], 0xFFFF0000u);   // top half of the target
        EXPECT_EQ(image[12 * kSize + 8], 0xFF000000u);  // bottom half
        EXPECT_EQ(image[40 * kSize + 40], 0xFF00FF00u);  // outside it
        EXPECT_FALSE(target->flags & TEXTURE_NEEDS_RESOLVE);
        GR_Texture_Free(page);
    }
    GR_MultisampleType = 0;
}

TEST_F(GlTexture, A16BitRawBlockSamplesToNibblesTimes17)
{
    uint8_t block[18] = {'R', 'A', 'W', ' ', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x34, 0x12};
    TextureImageInfo info;
    NativeTexture* t = Texture_CreateFromData(block, sizeof block, &info, 6);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->formatCode, TEXTURE_FORMAT_A4R4G4B4);
    const std::vector<uint32_t> got = ReadTexture(t);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], 0x44332211u);  // 0x1234 stored, 0x4321 as A4R4G4B4
    Texture_Free(t);
}

// An entry drawn at (20, 20) reads back as its crop of the page, in both modes; the extended draw at scale 2 and
// a quarter turn gives the crop scaled and turned counter-clockwise.
TEST_F(GlTexture, EntriesDrawAsTheirCropOfThePage)
{
    constexpr uint32_t kPage = 32;
    std::vector<uint8_t> block(16 + kPage * kPage * 4);
    const uint32_t header[4] = {0x20574152, kPage, kPage, 0};
    std::memcpy(block.data(), header, 16);
    // Red in the lowest byte, as "RAW " kind 0 stores it.
    for (uint32_t y = 0; y < kPage; ++y)
        for (uint32_t x = 0; x < kPage; ++x) {
            uint8_t* p = &block[16 + (y * kPage + x) * 4];
            p[0] = uint8_t(x * 8), p[1] = uint8_t(y * 8), p[2] = uint8_t((x ^ y) * 4), p[3] = 0xFF;
        }
    GR_Texture_SetInterpolation(false);
    for (bool deferred : {false, true}) {
        SCOPED_TRACE(deferred ? "deferred" : "immediate");
        g_IniOptions.createTexturesOnDemand = deferred;
        std::vector<uint8_t> data = block;
        const int32_t page = GR_Texture_CreateFromPage(data.data(), uint32_t(data.size()), false);
        ASSERT_NE(GR_Texture_Get(page), nullptr);
        // The block was converted in place to B, G, R, A.
        auto argb = [&](uint32_t x, uint32_t y) {
            const uint8_t* p = &data[16 + (y * kPage + x) * 4];
            return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        };
        TexturePageEntry entry{4, 6, 10, 8, 2, 3, 10, 8, 16, 16, int16_t(page)};
        d->Clear(RDCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        ASSERT_TRUE(GR_TPE_Draw(&entry, 20, 20));
        std::vector<uint32_t> image = ReadBackBuffer();
        ASSERT_EQ(image.size(), size_t(kSize) * kSize);
        for (uint32_t y = 18; y < 36; ++y)
            for (uint32_t x = 18; x < 36; ++x) {
                const bool inside = x >= 22 && x < 32 && y >= 23 && y < 31;
                const uint32_t want = inside ? argb(4 + x - 22, 6 + y - 23) : 0xFF0000FFu;
                ASSERT_EQ(image[y * kSize + x], want) << x << ", " << y;
            }

        // Scale 2, a quarter turn: the crop's column c, row r lands at (x + r', y - c') for its doubled pixels.
        d->Clear(RDCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        ASSERT_TRUE(GR_TPE_DrawExt(&entry, 0, 0, 10, 50, 2, 2, float(M_PI / 2), 0xFFFFFF, 1));
        image = ReadBackBuffer();
        for (uint32_t r = 0; r < 8; ++r)
            for (uint32_t c = 0; c < 10; ++c) {
                // Offsets (2 (2 + c) + 0.5, 2 (3 + r) + 0.5) turn to (dy, -dx).
                const uint32_t sx = 10 + 2 * (3 + r) + 1, sy = 50 - 2 * (2 + c) - 1;
                ASSERT_EQ(image[sy * kSize + sx], argb(4 + c, 6 + r)) << c << ", " << r;
            }
        GR_Texture_Free(page);
    }
}

// ImageMagick's rgba: dump as ARGB words.
std::vector<uint32_t> ReadRgba(const std::string& path)
{
    const std::string bytes = kvtest::ReadFile(path);
    std::vector<uint32_t> words(bytes.size() / 4);
    for (size_t i = 0; i < words.size(); ++i) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + i * 4);
        words[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return words;
}

// A game-data file with a 256 x 512 PNG page and ten entries, loaded by the chunk loader: every entry drawn at
// (100, 100) reads back as ImageMagick's crop of the page, and drawn at scale 2 turned a quarter as the crop
// after -scale 200% -rotate -90, in immediate and in deferred mode.
TEST_F(GlTexture, GameDataEntriesDrawAsImageMagickCropsOfTheirPage)
{
    std::string error;
    const std::string dir = kvtest::ScriptFixture("tests/gfx/atlas_fixture.py", "", &error);
    ASSERT_FALSE(dir.empty()) << error;
    struct Rect {
        int32_t x, y, w, h, tx, ty;
    };
    std::vector<Rect> rects;
    std::ifstream list(dir + "entries.txt");
    for (Rect r{}; list >> r.x >> r.y >> r.w >> r.h >> r.tx >> r.ty;) rects.push_back(r);
    ASSERT_EQ(rects.size(), 10u);
    const std::string file = kvtest::ReadFile(dir + "atlas.win");
    ASSERT_FALSE(file.empty());

    constexpr uint32_t kBig = 256;
    constexpr uint32_t kClear = 0xFF102030;
    RDPresentParams p = gltest::PresentParams(Video().window, kBig, kBig);
    ASSERT_EQ(d->Reset(&p), RD_OK);
    GR_PresentParams = p;
    // A reset puts the device's states back to their defaults.
    ASSERT_EQ(d->SetViewport(RDViewport{0, 0, kBig, kBig, 0.0f, 1.0f}), RD_OK);
    GPUState::Apply();
    d->SetRenderState(RDRS_CULLMODE, 1);
    d->SetRenderState(RDRS_ZENABLE, 0);
    d->SetRenderState(RDRS_LIGHTING, 0);
    GR_D3D_SetTextureStageOps(true);
    gltest::Ortho2D(kBig);
    GR_Texture_SetInterpolation(false);

    // Every pixel of the block at (left, top) equals expected; the ring around it keeps the clear colour.
    auto expectBlock = [&](const std::vector<uint32_t>& image, int32_t left, int32_t top, int32_t w, int32_t h,
                           const std::vector<uint32_t>& expected) {
        ASSERT_EQ(expected.size(), size_t(w) * size_t(h));
        for (int32_t y = top - 1; y <= top + h; ++y)
            for (int32_t x = left - 1; x <= left + w; ++x) {
                const bool inside = x >= left && x < left + w && y >= top && y < top + h;
                const uint32_t want = inside ? expected[size_t(y - top) * w + (x - left)] : kClear;
                ASSERT_EQ(image[size_t(y) * kBig + x], want) << "at " << x << ", " << y;
            }
    };

    for (bool deferred : {false, true}) {
        SCOPED_TRACE(deferred ? "deferred" : "immediate");
        g_IniOptions.createTexturesOnDemand = deferred;
        auto* data = static_cast<uint8_t*>(MemAlloc(file.size()));
        std::memcpy(data, file.data(), file.size());
        ASSERT_TRUE(Wad_ReadHeader(data, uint32_t(file.size())));
        ASSERT_TRUE(Wad_LoadChunks(data, uint32_t(file.size())));
        ASSERT_EQ(g_GameData.texturePageCount, 1u);
        ASSERT_NE(g_GameData.tpagBody, nullptr);
        uint32_t count = 0;
        std::memcpy(&count, g_GameData.tpagBody, 4);
        ASSERT_EQ(count, rects.size());
        for (uint32_t i = 0; i < count; ++i) {
            SCOPED_TRACE("entry " + std::to_string(i));
            uint32_t offset = 0;
            std::memcpy(&offset, g_GameData.tpagBody + 4 + 4 * i, 4);
            auto* entry = reinterpret_cast<TexturePageEntry*>(g_GameData.data + offset);
            const Rect& r = rects[i];

            d->Clear(RDCLEAR_TARGET, kClear, 1.0f, 0);
            ASSERT_TRUE(GR_TPE_Draw(entry, 100, 100));
            expectBlock(ReadBackBuffer(), 100 + r.tx, 100 + r.ty, r.w, r.h,
                        ReadRgba(dir + "crop" + std::to_string(i) + ".rgba"));

            // A quarter turn counter-clockwise about (x, y) puts the doubled crop's rows as columns above it.
            const int32_t x = 40, y = 220;
            d->Clear(RDCLEAR_TARGET, kClear, 1.0f, 0);
            ASSERT_TRUE(GR_TPE_DrawExt(entry, 0, 0, float(x), float(y), 2, 2, float(M_PI / 2), 0xFFFFFF, 1));
            expectBlock(ReadBackBuffer(), x + 2 * r.ty, y - 2 * (r.tx + r.w), 2 * r.h, 2 * r.w,
                        ReadRgba(dir + "turned" + std::to_string(i) + ".rgba"));
        }
        const int32_t page = g_GameData.texturePageIds[0];
        UnloadGameData();
        GR_Texture_Free(page);
    }
}

}  // namespace gl_texture_test
