// The texture table and the handles scripts hold, on the recording device: entry reuse, content scales, every
// kind of handle through the one resolver (texel sizes, texture_exists, the stage binding), entry tokens, pages
// made from alpha images and from game-data pages that cannot be decoded.
#include "gfx/texpage.h"

#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "image_fixture_util.h"
#include "test_support.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace texpage_test {

class GfxTexPage : public testing::Test {
protected:
    void SetUp() override
    {
        previousDebug_ = DebugConsole;
        DebugConsole = &debug_;
        device_.hasDevice = true;
        GR_Device = &device_;
        GR_DeviceCaps = RDCaps{};
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        GR_Texture_FreeAll();
        Texture_ForgetBindings();
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        g_IniOptions.createTexturesOnDemand = deferred_;
        GR_Device = nullptr;
        DebugConsole = previousDebug_;
    }
    int32_t Blank(int32_t w, int32_t h) { return GR_Texture_CreateBlank(w, h, false, false, 0); }

    kvtest::FakeRenderDevice device_;
    kvtest::RecordingConsole debug_;
    tagIConsole* previousDebug_ = nullptr;
    bool deferred_ = false;
};

TEST_F(GfxTexPage, FreedEntriesAreReusedLowestFirst)
{
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Blank(4, 4), i);
    GR_Texture_Free(3);
    GR_Texture_Free(1);
    EXPECT_FALSE(GR_Texture_Exists(3));
    EXPECT_EQ(GR_Texture_Get(3), nullptr);
    EXPECT_EQ(Blank(4, 4), 1);
    EXPECT_EQ(Blank(4, 4), 3);
    EXPECT_EQ(Blank(4, 4), 5);
    EXPECT_EQ(GR_Texture_Count(), 6);
}

TEST_F(GfxTexPage, ScalesGiveTheFractionTheContentCovers)
{
    const int32_t page = Blank(100, 60);  // on a 128 x 64 texture
    EXPECT_FLOAT_EQ(GR_Texture_GetUScale(page), 0.78125f);
    EXPECT_FLOAT_EQ(GR_Texture_GetVScale(page), 60.0f / 64.0f);
    GR_Texture_Free(page);
    EXPECT_EQ(GR_Texture_GetUScale(page), 1.0f);
    EXPECT_EQ(GR_Texture_GetVScale(-7), 1.0f);
    // A wrapped texture takes its scales from the size given.
    const int32_t wrapped = GR_Texture_Wrap(nullptr, 50, 25);
    EXPECT_FLOAT_EQ(GR_Texture_GetUScale(wrapped), 1.0f);
    EXPECT_FLOAT_EQ(GR_Texture_Page(wrapped)->vScale, 1.0f / 25);
}

TEST_F(GfxTexPage, EveryHandleGoesThroughTheOneRule)
{
    const int32_t live = Blank(64, 32);
    const int32_t dead = Blank(8, 8);
    const int32_t sentinel = Blank(16, 16);
    GR_Texture_Free(dead);
    const double count = GR_Texture_Count();

    TexturePageEntry onLive{0, 0, 8, 8, 0, 0, 8, 8, 8, 8, int16_t(live)};
    TexturePageEntry onDead{0, 0, 8, 8, 0, 0, 8, 8, 8, 8, int16_t(dead)};
    TexturePageEntry gone{0, 0, 8, 8, 0, 0, 8, 8, 8, 8, int16_t(live)};
    const double token = double(TexturePageEntry_Register(&onLive));
    const double deadPageToken = double(TexturePageEntry_Register(&onDead));
    const double stale = double(TexturePageEntry_Register(&gone));
    TexturePageEntry_Unregister(&gone);

    enum class Stage { Live, Unbound, Unchanged };
    struct Row {
        const char* name;
        double handle;
        bool exists;
        double texelWidth, texelHeight;
        Stage stage;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"live index", double(live), true, 1.0 / 64, 1.0 / 32, Stage::Live},
        {"-1", -1, false, 1, 1, Stage::Unbound},
        {"dead index below the count", double(dead), false, 1, 1, Stage::Unbound},
        {"the count itself", count, false, 1, 1, Stage::Unbound},
        {"live entry token", token, false, 1.0 / 64, 1.0 / 32, Stage::Live},
        {"token of an entry on a dead page", deadPageToken, false, 1, 1, Stage::Unchanged},
        {"stale token", stale, false, 1, 1, Stage::Unbound},
        {"huge", 1e300, false, 1, 1, Stage::Unbound},
        {"negative", -123456789.0, false, 1, 1, Stage::Unbound},
        {"fractional", double(live) + 0.5, false, 1, 1, Stage::Unbound},
        {"fractional token", token + 0.5, false, 1, 1, Stage::Unbound},
        {"NaN", nan, false, 1, 1, Stage::Unbound},
        {"infinity", std::numeric_limits<double>::infinity(), false, 1, 1, Stage::Unbound},
    };
    RDTexture* const liveTexture = GR_Texture_Get(live)->texture;
    RDTexture* const sentinelTexture = GR_Texture_Get(sentinel)->texture;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(GR_Texture_HandleExists(row.handle), row.exists);
        EXPECT_DOUBLE_EQ(GR_Texture_GetTexelWidth(row.handle), row.texelWidth);
        EXPECT_DOUBLE_EQ(GR_Texture_GetTexelHeight(row.handle), row.texelHeight);
        Texture_SetStage(1, GR_Texture_Get(sentinel));
        GR_Texture_SetStageHandle(1, row.handle);
        RDTexture* const want = row.stage == Stage::Live      ? liveTexture
                                : row.stage == Stage::Unbound ? nullptr
                                                              : sentinelTexture;
        EXPECT_EQ(device_.boundTextures[1], want);
    }
}

TEST_F(GfxTexPage, AStaleTokenNeverNamesAnotherEntry)
{
    TexturePageEntry a{}, b{};
    const int64_t first = TexturePageEntry_Register(&a);
    EXPECT_GE(first, TEXTURE_ENTRY_TOKEN_BASE);
    EXPECT_EQ(TexturePageEntry_Register(&a), first);  // one token while registered
    EXPECT_EQ(double(first), double(first) + 0.0);
    TexturePageEntry_Unregister(&a);
    const int64_t second = TexturePageEntry_Register(&b);
    const int64_t again = TexturePageEntry_Register(&a);
    EXPECT_NE(second, first);
    EXPECT_NE(again, first);
    EXPECT_EQ(TexturePageEntry_Lookup(first), nullptr);
    EXPECT_EQ(TexturePageEntry_Lookup(again), &a);
    EXPECT_EQ(TexturePageEntry_Lookup(second), &b);
    // A table index is never a token.
    EXPECT_EQ(TexturePageEntry_Lookup(0), nullptr);
    TexturePageEntry block[3]{};
    for (auto& e : block) TexturePageEntry_Register(&e);
    TexturePageEntry_UnregisterRange(&block[1], &block[3]);
    EXPECT_GE(TexturePageEntry_Token(&block[0]), TEXTURE_ENTRY_TOKEN_BASE);
    EXPECT_EQ(TexturePageEntry_Token(&block[1]), -1);
    EXPECT_EQ(TexturePageEntry_Token(&block[2]), -1);
}

TEST_F(GfxTexPage, AlphaPagesAreWhiteAndAFailedUploadFreesThePage)
{
    const uint8_t alpha[2] = {0x00, 0x80};
    const int32_t page = GR_Texture_CreateFromAlpha(2, 1, alpha);
    ASSERT_TRUE(GR_Texture_Exists(page));
    const uint32_t* copy = GR_Texture_Get(page)->systemCopy;
    EXPECT_EQ(copy[0], 0x00FFFFFFu);
    EXPECT_EQ(copy[1], 0x80FFFFFFu);
    device_.FailNext("LockRect");
    const int32_t count = GR_Texture_Count();
    EXPECT_EQ(GR_Texture_CreateFromAlpha(2, 1, alpha), -1);
    EXPECT_FALSE(GR_Texture_Exists(count));
    EXPECT_EQ(GR_Texture_CreateFromBitmap(nullptr), -1);
}

TEST_F(GfxTexPage, PagesThatCannotBeMadeStayInUseWithoutATexture)
{
    std::vector<uint8_t> png = imagetest::ReadBytes("png_rgba.png");
    ASSERT_GT(png.size(), 40u);
    struct Row {
        const char* name;
        std::vector<uint8_t> data;
    };
    std::vector<uint8_t> kind7 = {'R', 'A', 'W', ' ', 1, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0, 1, 2, 3, 4};
    const Row rows[] = {
        {"truncated PNG", std::vector<uint8_t>(png.begin(), png.begin() + 40)},
        {"RAW kind 7", kind7},
        {"DDS", {'D', 'D', 'S', ' ', 124, 0, 0, 0}},
        {"nothing", {}},
    };
    for (bool deferred : {false, true}) {
        g_IniOptions.createTexturesOnDemand = deferred;
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (deferred ? " deferred" : ""));
            std::vector<uint8_t> data = row.data;
            const int32_t page =
                GR_Texture_CreateFromPage(data.empty() ? nullptr : data.data(), uint32_t(data.size()), false);
            ASSERT_TRUE(GR_Texture_Exists(page));
            EXPECT_EQ(GR_Texture_Get(page), nullptr);
            EXPECT_EQ(GR_Texture_GetTexelWidth(page), 1.0);
            EXPECT_EQ(GR_Texture_Page(page)->uScale, 1.0f);
        }
    }
    // A whole PNG gives a page of its own size.
    const int32_t page = GR_Texture_CreateFromPage(png.data(), uint32_t(png.size()), false);
    ASSERT_NE(GR_Texture_Get(page), nullptr);
    const TexturePage* p = GR_Texture_Page(page);
    EXPECT_FLOAT_EQ(p->uScale, 1.0f / float(p->width));
    EXPECT_EQ(GR_Texture_GetUScale(page), 1.0f);
}

TEST_F(GfxTexPage, PreloadMakesADeferredTexture)
{
    g_IniOptions.createTexturesOnDemand = true;
    const int32_t page = Blank(10, 10);
    ASSERT_NE(GR_Texture_Get(page), nullptr);
    EXPECT_EQ(GR_Texture_Get(page)->texture, nullptr);
    GR_Texture_SetPriority(page, 5);
    EXPECT_EQ(GR_Texture_Get(page)->texture, nullptr);
    GR_Texture_Preload(page);
    EXPECT_NE(GR_Texture_Get(page)->texture, nullptr);
    GR_Texture_Preload(99);  // out of range: nothing
}

}  // namespace texpage_test
