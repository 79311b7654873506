// Frame images of a game-data sprite read back from its texture page on the real OpenGL device (offscreen):
// each frame becomes a cleared image of the entry's bounding size with the page region at the entry's target
// offset; a frame without an entry fails the extraction. Then the images give the frames' opaque boxes.
#include "core/memory_manager.h"
#include "draw/sprite.h"
#include "gfx/batch.h"
#include "gfx/bitmap.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/textures.h"
#include "gfx/texture_handle.h"
#include "gfx/texture_manager.h"
#include "platform/gl_device.h"
#include "tests/gfx/gl_test_util.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace gl_sprite_frames_test {

constexpr int32_t kPage = 16;

uint32_t PagePixel(int32_t x, int32_t y) { return 0xFF000000u | uint32_t(x) << 16 | uint32_t(y) << 8 | 0x5Au; }

class GlSpriteFrames : public testing::Test {
protected:
    void SetUp() override
    {
        gltest::VideoWindow& s = gltest::Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        d = GL_Device();
        RDPresentParams p = gltest::PresentParams(s.window, 64, 64);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
        } else {
            ASSERT_FALSE(RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, s.window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p)));
            made_ = true;
        }
        GR_Device = d;
        ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &GR_DeviceCaps), RD_OK);
        GR_PresentParams = p;
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        std::vector<uint32_t> pixels(kPage * kPage);
        for (int32_t y = 0; y < kPage; ++y)
            for (int32_t x = 0; x < kPage; ++x) pixels[size_t(y * kPage + x)] = PagePixel(x, y);
        page_ = GR_Texture_Create(kPage, kPage, pixels.data(), uint32_t(pixels.size() * 4));
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_Device = nullptr;
        GR_DeviceCaps = RDCaps{};
        GPUState::SetDefaults();
        if (made_) d->ReleaseDevice();
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
    bool deferred_ = false;
    int32_t page_ = -1;
};

TEST_F(GlSpriteFrames, FramesAreTheEntriesRegionsAtTheirTargetOffsets)
{
    ASSERT_GE(page_, 0);
    // {source x, y, w, h, target x, y, w, h, bounding w, h, page}: a whole 4 x 3 region, and a trimmed 2 x 2
    // region placed at (1, 2) of a 4 x 5 frame.
    TexturePageEntry entries[2] = {{3, 5, 4, 3, 0, 0, 4, 3, 4, 3, int16_t(page_)},
                                   {10, 7, 2, 2, 1, 2, 2, 2, 4, 5, int16_t(page_)}};
    CSprite* s = new CSprite();
    s->m_frameCount = 2;
    s->m_frameEntries = static_cast<TexturePageEntry**>(MemAlloc(2 * sizeof(TexturePageEntry*)));
    s->m_frameEntries[0] = &entries[0];
    s->m_frameEntries[1] = &entries[1];
    ASSERT_TRUE(s->ExtractFrameImages());
    ASSERT_EQ(s->m_frameImageCount, 2);
    for (int f = 0; f < 2; ++f) {
        SCOPED_TRACE(f);
        const TexturePageEntry& e = entries[f];
        const CBitmap32* image = s->m_frameImages[f];
        ASSERT_EQ(image->GetWidth(), e.boundingWidth);
        ASSERT_EQ(image->GetHeight(), e.boundingHeight);
        for (int32_t y = 0; y < e.boundingHeight; ++y) {
            for (int32_t x = 0; x < e.boundingWidth; ++x) {
                const int32_t u = x - e.targetX, v = y - e.targetY;
                const bool inside = u >= 0 && v >= 0 && u < e.sourceWidth && v < e.sourceHeight;
                const uint32_t want = inside ? PagePixel(e.sourceX + u, e.sourceY + v) : 0u;
                EXPECT_EQ(image->GetPixels().pixels[y * e.boundingWidth + x], want) << x << ", " << y;
            }
        }
    }
    // The images' opaque boxes: the trimmed frame's covers its target region only.
    s->m_frameEntries[0] = nullptr;  // the image answers once there is no entry to ask
    MemFree(s->m_frameEntries);
    s->m_frameEntries = nullptr;
    BoundingBox* b = s->GetFrameBoundingBox(1);
    EXPECT_EQ(b->left, 1);
    EXPECT_EQ(b->top, 2);
    EXPECT_EQ(b->right, 2);
    EXPECT_EQ(b->bottom, 3);
    MemFree(b);
    delete s;
}

TEST_F(GlSpriteFrames, AFrameWithoutAnEntryFailsTheExtraction)
{
    TexturePageEntry entry{0, 0, 2, 2, 0, 0, 2, 2, 2, 2, int16_t(page_)};
    CSprite* s = new CSprite();
    s->m_frameCount = 2;
    s->m_frameEntries = static_cast<TexturePageEntry**>(MemAlloc(2 * sizeof(TexturePageEntry*)));
    s->m_frameEntries[0] = &entry;
    s->m_frameEntries[1] = nullptr;
    EXPECT_FALSE(s->ExtractFrameImages());
    EXPECT_EQ(s->m_frameImageCount, 1);
    delete s;
}

}  // namespace gl_sprite_frames_test
