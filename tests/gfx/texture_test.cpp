// The texture manager on the recording device: sizes in immediate and deferred mode, the size limits, failed
// creations, the target stack, resolves and stage switches, "RAW " blocks, deferred creation on first use and
// the texture scale with a deferred PNG.
#include "gfx/texture_manager.h"

#include "core/memory_manager.h"
#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/image.h"
#include "gfx/textures.h"
#include "image_fixture_util.h"
#include "test_support.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace texture_test {

class GfxTexture : public testing::Test {
protected:
    void SetUp() override
    {
        previousDebug_ = DebugConsole;
        DebugConsole = &debug_;
        device_.hasDevice = true;
        GR_Device = &device_;
        GR_DeviceCaps = RDCaps{};
        GR_DeviceCaps.maxTextureWidth = GR_DeviceCaps.maxTextureHeight = 8192;
        GR_MaxRenderTargets = 4;
        GR_MultisampleType = 0;
        GR_PresentParams.autoDepthStencilFormat = RDFMT_D24S8;
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        Texture_ForgetBindings();
        device_.ClearLog();
    }
    void TearDown() override
    {
        RenderTarget_PopAll();
        for (NativeTexture* t : made_) Texture_Free(t);
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        g_IniOptions.createTexturesOnDemand = deferred_;
        g_TextureScale = 1;
        GR_DeviceCaps = RDCaps{};
        GR_MaxRenderTargets = 1;
        GR_Device = nullptr;
        DebugConsole = previousDebug_;
    }
    NativeTexture* Keep(NativeTexture* t)
    {
        if (t) made_.push_back(t);
        return t;
    }
    std::vector<uint8_t> Level0(const NativeTexture* t)
    {
        auto* fake = dynamic_cast<kvtest::FakeTexture*>(t->texture);
        return fake ? fake->levels[0]->bytes : std::vector<uint8_t>{};
    }

    kvtest::FakeRenderDevice device_;
    kvtest::RecordingConsole debug_;
    tagIConsole* previousDebug_ = nullptr;
    bool deferred_ = false;
    std::vector<NativeTexture*> made_;
};

TEST_F(GfxTexture, SizesFollowTheModeAndTheKind)
{
    struct Row {
        bool deferred, target;
        int32_t width, height;
        std::vector<std::string> calls;  // CreateTexture and CreateDepthStencilSurface
    };
    const Row rows[] = {
        {false, false, 128, 64, {"CreateTexture(128,64,1,0,21,1)"}},
        {true, false, 100, 60, {}},
        {false, true, 100, 60, {"CreateTexture(100,60,1,1,21,0)", "CreateDepthStencilSurface(100,60,75,0)"}},
        {true, true, 100, 60, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.deferred ? "deferred" : "immediate") + (row.target ? " target" : " plain"));
        g_IniOptions.createTexturesOnDemand = row.deferred;
        device_.ClearLog();
        NativeTexture* t = Keep(Texture_Create(100, 60, row.target ? TEXTURE_RENDER_TARGET : 0, 6));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->Width(), row.width);
        EXPECT_EQ(t->Height(), row.height);
        EXPECT_EQ(t->flags, row.target ? TEXTURE_POOL_DEFAULT : TEXTURE_POOL_MANAGED);
        std::vector<std::string> calls = device_.Calls("CreateTexture");
        for (const std::string& c : device_.Calls("CreateDepthStencilSurface")) calls.push_back(c);
        EXPECT_EQ(calls, row.calls);
        EXPECT_EQ(t->texture != nullptr, !row.deferred);
        // A render target's copy comes only with its device objects.
        EXPECT_EQ(t->systemCopy != nullptr, !row.target || !row.deferred);
    }
}

TEST_F(GfxTexture, SizesStopAtTheDeviceLimitAndAt8192)
{
    GR_DeviceCaps.maxTextureWidth = 4096;
    GR_DeviceCaps.maxTextureHeight = 2048;
    EXPECT_EQ(Texture_GetMaxSize(), 2048);
    NativeTexture* t = Keep(Texture_Create(5000, 10, 0, 6));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->Width(), 2048);
    EXPECT_EQ(t->Height(), 16);

    GR_DeviceCaps = RDCaps{};
    EXPECT_EQ(Texture_GetMaxSize(), 8192);
    for (auto [w, h] : {std::pair{8193, 1}, std::pair{1, 8193}, std::pair{0, 5}, std::pair{5, -1}}) {
        EXPECT_EQ(Texture_Create(w, h, 0, 6), nullptr) << w << " x " << h;
        EXPECT_EQ(Texture_Create(w, h, TEXTURE_RENDER_TARGET, 6), nullptr) << w << " x " << h;
    }
    // 8192 is allowed in each direction (one at a time, to keep the fake device's pixel memory small).
    for (auto [w, h] : {std::pair{8192, 16}, std::pair{16, 8192}}) {
        NativeTexture* largest = Keep(Texture_Create(w, h, TEXTURE_RENDER_TARGET, 6));
        ASSERT_NE(largest, nullptr) << w << " x " << h;
        EXPECT_EQ(largest->Width(), w);
        EXPECT_EQ(largest->Height(), h);
    }
}

TEST_F(GfxTexture, EveryFailedStepReleasesWhatWasMade)
{
    for (const char* failing : {"CreateTexture", "CreateDepthStencilSurface", "GetSurfaceLevel"}) {
        SCOPED_TRACE(failing);
        debug_.text.clear();
        NativeTexture* const head = Texture_List;
        device_.FailNext(failing, RDERR_OUTOFVIDEOMEMORY);
        EXPECT_EQ(Texture_Create(32, 32, TEXTURE_RENDER_TARGET, 6), nullptr);
        EXPECT_EQ(Texture_List, head);  // no record left behind
        EXPECT_EQ(debug_.text, "CreateTexture failed - 8876017c\n");
    }
    // A multisampled target needs a colour surface this device cannot make.
    GR_MultisampleType = 4;
    EXPECT_EQ(Texture_Create(32, 32, TEXTURE_RENDER_TARGET, 6), nullptr);
    GR_MultisampleType = 0;
    // Surface kinds 1 and 2 ask for formats no device has.
    EXPECT_EQ(Texture_Create(32, 32, TEXTURE_RENDER_TARGET, 12), nullptr);
    EXPECT_EQ(Texture_Create(32, 32, 0, 13), nullptr);
}

TEST_F(GfxTexture, TheTargetStackHoldsEightLevels)
{
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(RenderTarget_Push()) << i;
    EXPECT_FALSE(RenderTarget_Push());
    EXPECT_EQ(RenderTarget_Depth(), 8);
    RenderTarget_PopAll();
    EXPECT_EQ(RenderTarget_Depth(), 0);
    EXPECT_FALSE(RenderTarget_Pop());

    // A pushed level comes back with its target texture, marked written.
    NativeTexture* target = Keep(Texture_Create(16, 16, TEXTURE_RENDER_TARGET, 6));
    ASSERT_TRUE(RenderTarget_Set(0, target));
    ASSERT_TRUE(RenderTarget_Push());
    NativeTexture* other = Keep(Texture_Create(16, 16, TEXTURE_RENDER_TARGET, 6));
    ASSERT_TRUE(RenderTarget_Set(0, other));
    EXPECT_EQ(RenderTarget_Current(0), other);
    target->flags &= ~TEXTURE_NEEDS_RESOLVE;
    ASSERT_TRUE(RenderTarget_Pop());
    EXPECT_EQ(RenderTarget_Current(0), target);
    EXPECT_TRUE(target->flags & TEXTURE_NEEDS_RESOLVE);
    EXPECT_FALSE(RenderTarget_Set(4, target));
}

TEST_F(GfxTexture, ABoundTargetIsResolvedBeforeItIsSampled)
{
    NativeTexture* target = Keep(Texture_Create(16, 16, TEXTURE_RENDER_TARGET, 6));
    ASSERT_TRUE(RenderTarget_Set(0, target));
    EXPECT_TRUE(target->flags & TEXTURE_NEEDS_RESOLVE);
    Texture_SetStage(0, target);
    EXPECT_FALSE(target->flags & TEXTURE_NEEDS_RESOLVE);
    // Without multisampling drawing went to level 0 itself: nothing to copy.
    EXPECT_EQ(device_.Count("StretchRect"), 0u);
}

TEST_F(GfxTexture, SettingTheSameTextureTwiceCountsOneSwitch)
{
    NativeTexture* a = Keep(Texture_Create(4, 4, 0, 6));
    NativeTexture* b = Keep(Texture_Create(4, 4, 0, 6));
    const int32_t before = Texture_SwitchCount;
    Texture_SetStage(0, a);
    Texture_SetStage(0, a);
    EXPECT_EQ(Texture_SwitchCount, before + 1);
    Texture_SetStage(1, b);
    Texture_SetStage(0, a);
    EXPECT_EQ(Texture_SwitchCount, before + 3);
    // Stage 8 is the last one; later stages are ignored.
    device_.ClearLog();
    Texture_SetStage(8, b);
    Texture_SetStage(9, b);
    const std::string name = dynamic_cast<kvtest::FakeTexture*>(b->texture)->name;
    EXPECT_EQ(device_.Calls("SetTexture"), std::vector<std::string>{"SetTexture(8," + name + ")"});
}

TEST_F(GfxTexture, FlushingOnlyActsInDeferredMode)
{
    NativeTexture* t = Keep(Texture_Create(8, 8, 0, 6));
    Texture_Flush(t);
    EXPECT_NE(t->texture, nullptr);

    g_IniOptions.createTexturesOnDemand = true;
    const uint32_t pixels[4] = {0xFF112233, 0xFF445566, 0xFF778899, 0xFFAABBCC};
    NativeTexture* d = Keep(Texture_CreateFromBits(pixels, 2, 2));
    ASSERT_NE(d, nullptr);
    ASSERT_NE(d->texture, nullptr);  // the upload made it
    Texture_SetStage(0, d);
    Texture_Flush(d);
    EXPECT_EQ(d->texture, nullptr);
    EXPECT_NE(d->systemCopy, nullptr);
    device_.ClearLog();
    Texture_SetStage(0, d);
    ASSERT_NE(d->texture, nullptr);
    EXPECT_EQ(device_.Calls("CreateTexture"), std::vector<std::string>{"CreateTexture(2,2,1,0,21,1)"});
    const std::vector<uint8_t> level = Level0(d);
    ASSERT_EQ(level.size(), 16u);
    EXPECT_EQ(std::memcmp(level.data(), pixels, 16), 0);
}

TEST_F(GfxTexture, RawBlocksAreConvertedOnceAndChecked)
{
    auto block = [](uint32_t w, uint32_t h, uint32_t kind, std::vector<uint8_t> pixels) {
        std::vector<uint8_t> b(16);
        std::memcpy(b.data(), "RAW ", 4);
        std::memcpy(&b[4], &w, 4);
        std::memcpy(&b[8], &h, 4);
        std::memcpy(&b[12], &kind, 4);
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    };
    struct Row {
        const char* name;
        std::vector<uint8_t> data;
        bool made;
        std::vector<uint8_t> uploaded;  // level 0's first bytes
        uint32_t format;
    };
    const Row rows[] = {
        {"kind 0", block(1, 1, 0, {1, 2, 3, 4}), true, {3, 2, 1, 4}, RDFMT_A8R8G8B8},
        {"kind 1", block(1, 1, 1, {0x34, 0x12}), true, {0x21, 0x43}, RDFMT_A4R4G4B4},
        {"kind 2", block(1, 1, 2, {1, 2, 3, 4}), false, {}, 0},
        {"width 0", block(0, 1, 0, {}), false, {}, 0},
        {"width 8193", block(8193, 1, 0, std::vector<uint8_t>(8193 * 4)), false, {}, 0},
        {"one byte short", block(2, 1, 0, {1, 2, 3, 4, 5, 6, 7}), false, {}, 0},
        {"header only", std::vector<uint8_t>{'R', 'A', 'W', ' ', 1, 0, 0, 0}, false, {}, 0},
    };
    for (bool deferred : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (deferred ? " deferred" : " immediate"));
            g_IniOptions.createTexturesOnDemand = deferred;
            std::vector<uint8_t> data = row.data;
            TextureImageInfo info;
            NativeTexture* t = Keep(Texture_CreateFromData(data.data(), int32_t(data.size()), &info, 6));
            ASSERT_EQ(t != nullptr, row.made);
            if (!t) {
                // Refused before converting.
                if (data.size() < 64) {
                    EXPECT_EQ(data, row.data);
                }
                continue;
            }
            EXPECT_EQ(info.width, 1);
            EXPECT_EQ(t->Width(), 1);
            Texture_EnsureCreated(t);
            ASSERT_NE(t->texture, nullptr);
            EXPECT_EQ(t->texture->format, row.format);
            const std::vector<uint8_t> level = Level0(t);
            ASSERT_GE(level.size(), row.uploaded.size());
            EXPECT_TRUE(std::equal(row.uploaded.begin(), row.uploaded.end(), level.begin()));
        }
    }
}

TEST_F(GfxTexture, DeferredTexturesAreMadeOnFirstUse)
{
    const std::vector<std::pair<const char*, std::function<void(NativeTexture*)>>> uses = {
        {"bound to a stage", [](NativeTexture* t) { Texture_SetStage(0, t); }},
        {"made the target", [](NativeTexture* t) { RenderTarget_Set(0, t); }},
        {"read back", [](NativeTexture* t) { Texture_EnsureCreated(t); }},
        {"uploaded", [](NativeTexture* t) {
             std::vector<uint32_t> pixels(size_t(t->Width()) * t->Height(), 0xFF00FF00);
             Texture_UpdateBits(t, 0, t->Width(), t->Height(), pixels.data());
         }},
    };
    g_IniOptions.createTexturesOnDemand = true;
    for (const auto& [name, use] : uses) {
        SCOPED_TRACE(name);
        NativeTexture* t = Keep(Texture_Create(10, 6, TEXTURE_RENDER_TARGET, 6));
        ASSERT_NE(t, nullptr);
        device_.ClearLog();
        Texture_Prefetch(nullptr);
        EXPECT_EQ(t->texture, nullptr);
        EXPECT_EQ(device_.Count("CreateTexture"), 0u);
        if (std::string(name) == "uploaded") {
            // Only plain textures take pixels.
            made_.pop_back();
            Texture_Free(t);
            t = Keep(Texture_Create(10, 6, 0, 6));
        }
        use(t);
        EXPECT_NE(t->texture, nullptr);
        EXPECT_EQ(device_.Count("CreateTexture"), 1u);
    }
}

TEST_F(GfxTexture, ADeferredPngIsDividedByTheScaleOnce)
{
    std::vector<uint8_t> png = imagetest::ReadBytes("png_big.png");  // 256 x 128
    ASSERT_FALSE(png.empty());
    g_TextureScale = 2;
    g_IniOptions.createTexturesOnDemand = true;
    TextureImageInfo info;
    NativeTexture* t = Keep(Texture_CreateFromData(png.data(), int32_t(png.size()), &info, 6));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(info.width, 128);
    EXPECT_EQ(info.height, 64);
    Texture_SetStage(0, t);
    ASSERT_NE(t->texture, nullptr);
    EXPECT_EQ(device_.Calls("CreateTexture"), std::vector<std::string>{"CreateTexture(128,64,1,0,21,1)"});
    // The pixels are the decoder's halving of the page, whole.
    int32_t w = 0, h = 0;
    PNG_Free();
    const uint8_t* halved = PNG_Load(png.data(), int32_t(png.size()), &w, &h, true);
    ASSERT_NE(halved, nullptr);
    ASSERT_EQ(w, 128);
    const std::vector<uint8_t> level = Level0(t);
    EXPECT_TRUE(std::equal(level.begin(), level.end(), halved));
    PNG_Free();

    // Immediate loading ignores the scale.
    g_IniOptions.createTexturesOnDemand = false;
    NativeTexture* whole = Keep(Texture_CreateFromData(png.data(), int32_t(png.size()), &info, 6));
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->Width(), 256);
    EXPECT_EQ(info.height, 128);
}

TEST_F(GfxTexture, ADeferredImageThatCannotBeDecodedIsTriedOnce)
{
    std::vector<uint8_t> png = imagetest::ReadBytes("png_rgba.png");
    ASSERT_GT(png.size(), 60u);
    png.resize(png.size() / 2);  // the header reads, the pixels do not
    g_IniOptions.createTexturesOnDemand = true;
    NativeTexture* t = Keep(Texture_CreateFromData(png.data(), int32_t(png.size()), nullptr, 6));
    ASSERT_NE(t, nullptr);
    debug_.text.clear();
    for (int frame = 0; frame < 3; ++frame) Texture_SetStage(0, t);
    EXPECT_EQ(t->texture, nullptr);
    EXPECT_EQ(device_.Count("CreateTexture"), 0u);
    size_t lines = 0;
    for (char c : debug_.text) lines += c == '\n';
    EXPECT_EQ(lines, 1u) << debug_.text;
}

TEST_F(GfxTexture, StageOpsModulateOrPassTheTexture)
{
    GR_D3D_SetTextureStageOps(true);
    EXPECT_EQ(device_.textureStageStates[std::make_pair(0u, uint32_t(RDTSS_COLOROP))], RDTOP_MODULATE);
    EXPECT_EQ(device_.textureStageStates[std::make_pair(0u, uint32_t(RDTSS_ALPHAARG2))], RDTA_DIFFUSE);
    device_.ClearLog();
    GR_D3D_SetTextureStageOps(false);
    EXPECT_EQ(device_.Calls("SetTextureStageState"),
              (std::vector<std::string>{"SetTextureStageState(0,1,2)", "SetTextureStageState(0,4,2)"}));
}

}  // namespace texture_test
