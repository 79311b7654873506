// Surfaces on the recording device: ids, the map's walking order, the target stack's limits and what it saves
// and restores, frees that reset the target first, the application surface, device resets, and the draw bodies.
#include "gfx/surfaces.h"

#include "core/error.h"
#include "draw/draw.h"
#include "fake_render_device.h"
#include "fake_window_platform.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/display.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gfx/window.h"
#include "platform/hooks.h"
#include "test_support.h"
#include "world/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace surface_test {

void IgnoreExit(int) {}

class GfxSurface : public testing::Test {
protected:
    void SetUp() override
    {
        previousExit_ = Platform_SetExitHook(IgnoreExit);
        previousDebug_ = DebugConsole;
        previousRelease_ = ReleaseConsole;
        DebugConsole = &debug_;
        ReleaseConsole = &release_;
        Error_ResetState();
        g_ShowErrorDialogs = false;
        deferred_ = g_IniOptions.createTexturesOnDemand;
        g_IniOptions.createTexturesOnDemand = false;
        Window_ResetState();
        WindowPlatform_Set(&window_);
        PlatformDisplay_Set(&displays_);
        RenderDevice_Set(&device_);
        GR_MultisampleType = 0;
        GR_AlternateSync = false;
        Window_ClientWidth = 640;
        Window_ClientHeight = 480;
        ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 640, 480, 0));
        GR_MaxRenderTargets = 4;
        GR_PresentParams.autoDepthStencilFormat = RDFMT_D24S8;
        GPUState::SetDefaults();
        Surface_NextId = 0;
        AppSurface_Id = APPLICATION_SURFACE_NONE;
        AppSurface_Width = AppSurface_Height = -1;
        GR_SetViewport(0, 0, 640, 480);
        GR_SetViewProjection(0, 0, 640, 480, 0);
        device_.ClearLog();
    }
    void TearDown() override
    {
        Surface_FreeAll();
        // Levels a test left on the surface stack go with a device level pushed for each.
        for (int32_t i = 0; i < 40 && Surface_StackCount() > 0; ++i) {
            RenderTarget_Push();
            Surface_ResetTarget();
        }
        RenderTarget_PopAll();
        std::fill(std::begin(Surface_TargetIds), std::end(Surface_TargetIds), -1);
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Texture_FreeAll();
        GR_D3D_Release();
        Display_FreeAdapters();
        RenderDevice_Set(nullptr);
        PlatformDisplay_Set(nullptr);
        WindowPlatform_Set(nullptr);
        Window_ResetState();
        g_IniOptions.createTexturesOnDemand = deferred_;
        AppSurface_Id = APPLICATION_SURFACE_NONE;
        Error_ResetState();
        g_ShowErrorDialogs = true;
        DebugConsole = previousDebug_;
        ReleaseConsole = previousRelease_;
        Platform_SetExitHook(previousExit_);
    }

    std::string Reported() { return kvtest::ReportedMessages(release_.text); }

    kvtest::FakeRenderDevice device_;
    kvtest::FakeWindowPlatform window_;
    kvtest::FakeDisplaySource displays_;
    kvtest::RecordingConsole debug_, release_;
    tagIConsole* previousDebug_ = nullptr;
    tagIConsole* previousRelease_ = nullptr;
    ExitHook previousExit_ = nullptr;
    bool deferred_ = false;
};

TEST_F(GfxSurface, IdsCountUpAndAreNotReusedWhileTheCounterIsAhead)
{
    EXPECT_EQ(Surface_Create(8, 8, -1), 0);
    EXPECT_EQ(Surface_Create(8, 8, -1), 1);
    EXPECT_EQ(Surface_Create(8, 8, -1), 2);
    Surface_Free(1, false);
    EXPECT_FALSE(Surface_Exists(1));
    EXPECT_EQ(Surface_Create(8, 8, -1), 3);
    // A counter behind live ids skips them.
    Surface_NextId = 0;
    EXPECT_EQ(Surface_Create(8, 8, -1), 1);
    EXPECT_EQ(Surface_Create(8, 8, -1), 4);
    // A given id must exist.
    EXPECT_EQ(Surface_Create(8, 8, 99), -1);
    EXPECT_FALSE(Surface_Exists(99));
}

TEST_F(GfxSurface, TheMapIsWalkedBucketByBucketInInsertionOrder)
{
    // Buckets are id & 127: 130 shares bucket 2 with 2, after it.
    Surface_NextId = 130;
    Surface_Create(4, 4, -1);
    Surface_NextId = 5;
    Surface_Create(4, 4, -1);
    Surface_NextId = 2;
    Surface_Create(4, 4, -1);
    Surface_NextId = 258;
    Surface_Create(4, 4, -1);
    std::vector<int32_t> order;
    SurfaceMapIterator it{0, nullptr, &Surface_Map};
    while (Surface* s = SurfaceMapIterator_Seek(&it)) order.push_back(s->id);
    EXPECT_EQ(order, (std::vector<int32_t>{130, 2, 258, 5}));
    EXPECT_EQ(it.bucket, -1);
    EXPECT_EQ(Surface_Map.count, 4);
    // Removing the middle of a bucket keeps its ends linked.
    Surface_Free(2, false);
    order.clear();
    it = {0, nullptr, &Surface_Map};
    while (Surface* s = SurfaceMapIterator_Seek(&it)) order.push_back(s->id);
    EXPECT_EQ(order, (std::vector<int32_t>{130, 258, 5}));
}

// Eight nested redirections work, the ninth is refused with the report; unwinding restores each level's viewport,
// view area and bound id, and the state before the first set comes back with the view area as whole numbers.
TEST_F(GfxSurface, EightNestedTargetsThenTheStackIsFullAndResetsUnwindInOrder)
{
    GR_SetViewport(5, 6, 300, 200);
    GR_SetViewProjection(10.75f, 20.25f, 300.5f, 200.9f, 0);
    GR_CullingOff = true;
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < 9; ++i) ids.push_back(Surface_Create(16 + i, 8 + i, -1));
    for (int32_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(Surface_SetTarget(0, ids[i]));
        GR_CullingOff = i % 2 == 0;  // saved by the next level
        EXPECT_EQ(Surface_TargetIds[0], ids[i]);
        EXPECT_EQ(GR_Viewport.width, 16 + i);
        EXPECT_EQ(GR_Viewport.height, 8 + i);
        EXPECT_EQ(GR_ViewArea.w, float(16 + i));
        EXPECT_EQ(RenderTarget_Current(0), GR_Texture_Get(Surface_GetTexture(ids[i])));
    }
    EXPECT_EQ(Surface_StackCount(), 8 * 14);
    EXPECT_EQ(Reported(), "");
    EXPECT_FALSE(Surface_SetTarget(0, ids[8]));
    EXPECT_EQ(Reported(),
              "ERROR!!! :: surface stack is full - ensure surface_reset_target() is called for each "
              "surface_set_target().\n");
    EXPECT_EQ(Surface_StackCount(), 8 * 14);
    EXPECT_EQ(Surface_TargetIds[0], ids[7]);

    for (int32_t i = 7; i >= 1; --i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(Surface_ResetTarget());
        EXPECT_EQ(Surface_TargetIds[0], ids[i - 1]);
        EXPECT_EQ(GR_Viewport.width, 16 + i - 1);
        EXPECT_EQ(GR_ViewArea.h, float(8 + i - 1));
        EXPECT_EQ(GR_CullingOff, (i - 1) % 2 == 0);
    }
    ASSERT_TRUE(Surface_ResetTarget());
    EXPECT_EQ(Surface_TargetIds[0], -1);
    EXPECT_EQ(GR_Viewport.x, 5);
    EXPECT_EQ(GR_Viewport.y, 6);
    EXPECT_EQ(GR_Viewport.width, 300);
    EXPECT_EQ(GR_Viewport.height, 200);
    EXPECT_EQ(GR_ViewArea.x, 10.0f);
    EXPECT_EQ(GR_ViewArea.y, 20.0f);
    EXPECT_EQ(GR_ViewArea.w, 300.0f);
    EXPECT_EQ(GR_ViewArea.h, 200.0f);
    EXPECT_TRUE(GR_CullingOff);
    EXPECT_EQ(RenderTarget_Depth(), 0);
    EXPECT_EQ(RenderTarget_Current(0), nullptr);
    GR_CullingOff = false;
}

TEST_F(GfxSurface, AResetWithNothingSetFailsAndClearsSlotZero)
{
    Surface_TargetIds[0] = 7;
    EXPECT_FALSE(Surface_ResetTarget());
    EXPECT_EQ(Surface_TargetIds[0], -1);
    EXPECT_EQ(Surface_StackCount(), 0);
}

TEST_F(GfxSurface, ATargetAngleIsKeptBitForBit)
{
    const float angle = 33.3f;
    GR_SetViewProjection(0, 0, 640, 480, angle);
    const int32_t id = Surface_Create(8, 8, -1);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    EXPECT_EQ(GR_ViewArea.angle, 0.0f);
    ASSERT_TRUE(Surface_ResetTarget());
    EXPECT_EQ(std::memcmp(&GR_ViewArea.angle, &angle, 4), 0);
}

TEST_F(GfxSurface, SetTargetRefusals)
{
    const int32_t id = Surface_Create(8, 8, -1);
    const int32_t kind1 = Surface_CreateSpecial(8, 8, -1, 1);
    const int32_t kind2 = Surface_CreateSpecial(8, 8, -1, 2);
    const int32_t special = Surface_CreateSpecial(8, 8, -1, 0);
    struct Row {
        const char* name;
        int32_t slot, id;
        bool result;
    };
    const Row rows[] = {
        {"slot 4", 4, id, false},
        {"slot -1", -1, id, false},
        {"unknown id", 0, 77, false},
        {"kind 1 has no texture", 0, kind1, false},
        {"kind 2 has no texture", 0, kind2, false},
        {"special kind 0", 0, special, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Surface_SetTarget(row.slot, row.id), row.result);
        if (row.result) {
            ASSERT_TRUE(Surface_ResetTarget());
        }
        EXPECT_EQ(Surface_StackCount(), 0);
    }
    // The kinds the device cannot make still exist, with their size.
    EXPECT_TRUE(Surface_Exists(kind1));
    EXPECT_EQ(Surface_GetWidth(kind2), 8);
}

TEST_F(GfxSurface, OtherSlotsBindWithoutAStackLevel)
{
    const int32_t id = Surface_Create(8, 8, -1);
    ASSERT_TRUE(Surface_SetTarget(2, id));
    EXPECT_EQ(Surface_TargetIds[2], id);
    EXPECT_EQ(RenderTarget_Current(2), GR_Texture_Get(Surface_GetTexture(id)));
    EXPECT_EQ(Surface_StackCount(), 0);
    EXPECT_EQ(RenderTarget_Depth(), 0);
    EXPECT_EQ(GR_Viewport.width, 640);
}

TEST_F(GfxSurface, FreeingTheCurrentTargetResetsItFirst)
{
    const int32_t outer = Surface_Create(32, 32, -1), inner = Surface_Create(8, 8, -1);
    ASSERT_TRUE(Surface_SetTarget(0, outer));
    ASSERT_TRUE(Surface_SetTarget(0, inner));
    const int32_t page = Surface_GetTexture(inner);
    Surface_Free(inner, false);
    EXPECT_FALSE(Surface_Exists(inner));
    EXPECT_FALSE(GR_Texture_Exists(page));
    EXPECT_EQ(Surface_TargetIds[0], outer);
    EXPECT_EQ(GR_Viewport.width, 32);
    EXPECT_EQ(Surface_StackCount(), 14);
    EXPECT_EQ(RenderTarget_Current(0), GR_Texture_Get(Surface_GetTexture(outer)));
}

TEST_F(GfxSurface, TheApplicationSurfaceIsSparedUnlessForcedAndItsSizeFollows)
{
    AppSurface_Id = Surface_Create(64, 48, -1);
    AppSurface_Width = 64;
    AppSurface_Height = 48;
    Surface_Free(AppSurface_Id, false);
    EXPECT_TRUE(Surface_Exists(AppSurface_Id));
    // The globals answer for the application surface, not the record.
    AppSurface_Width = 100;
    EXPECT_EQ(Surface_GetWidth(AppSurface_Id), 100);
    ASSERT_TRUE(Surface_Resize(AppSurface_Id, 20, 10));
    EXPECT_EQ(AppSurface_Width, 20);
    EXPECT_EQ(AppSurface_Height, 10);
    EXPECT_EQ(Surface_Get(AppSurface_Id)->width, 20);
    Surface_Free(AppSurface_Id, true);
    EXPECT_FALSE(Surface_Exists(AppSurface_Id));
}

TEST_F(GfxSurface, ResizeKeepsTheIdWithANewPage)
{
    const int32_t id = Surface_Create(16, 16, -1);
    const NativeTexture* before = GR_Texture_Get(Surface_GetTexture(id));
    ASSERT_NE(before, nullptr);
    ASSERT_TRUE(Surface_SetTarget(0, id));
    ASSERT_TRUE(Surface_Resize(id, 40, 30));
    // The target was reset before its page went.
    EXPECT_EQ(Surface_TargetIds[0], -1);
    EXPECT_EQ(Surface_StackCount(), 0);
    const NativeTexture* after = GR_Texture_Get(Surface_GetTexture(id));
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->Width(), 40);
    EXPECT_EQ(Surface_GetWidth(id), 40);
    EXPECT_EQ(Surface_GetHeight(id), 30);
    EXPECT_FALSE(Surface_Resize(55, 8, 8));
    EXPECT_EQ(Surface_GetWidth(55), -1);
    EXPECT_EQ(Surface_GetTexture(55), -1);
}

TEST_F(GfxSurface, ADeviceResetFreesEverySurfaceAndTheApplicationSurfaceId)
{
    std::vector<int32_t> ids, pages;
    for (int32_t i = 0; i < 3; ++i) {
        ids.push_back(Surface_Create(8, 8, -1));
        pages.push_back(Surface_GetTexture(ids.back()));
    }
    AppSurface_Id = ids[1];
    ASSERT_TRUE(Surface_SetTarget(0, ids[2]));
    ASSERT_TRUE(GR_D3D_ResetAll());
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_FALSE(Surface_Exists(ids[i])) << ids[i];
        EXPECT_FALSE(GR_Texture_Exists(pages[i])) << pages[i];
    }
    EXPECT_EQ(AppSurface_Id, int32_t(0xFEEEDEAD));
    EXPECT_EQ(Surface_Map.count, 0);
    EXPECT_EQ(Surface_TargetIds[0], -1);
    // Ids keep counting after the reset.
    EXPECT_EQ(Surface_Create(8, 8, -1), 3);
}

// The draw bodies put one quad in the batch: its corners' bounding box, or nothing.
TEST_F(GfxSurface, DrawBodiesPlaceTheirQuads)
{
    const int32_t id = Surface_Create(20, 10, -1);
    struct Box {
        float left, top, right, bottom;
    };
    struct Row {
        const char* name;
        std::function<void()> draw;
        bool drawn;
        Box box;
    };
    const Row rows[] = {
        {"plain", [&] { Surface_Draw(id, 5, 6); }, true, {5, 6, 25, 16}},
        {"scaled", [&] { Surface_DrawExt(id, 5, 6, 2, 3, 0, 0xFFFFFF, 1); }, true, {5, 6, 45, 36}},
        {"a quarter turn in degrees", [&] { Surface_DrawExt(id, 100, 100, 1, 1, 90, 0xFFFFFF, 1); }, true,
         {100, 80, 110, 100}},
        {"stretched", [&] { Surface_DrawStretched(id, 0, 0, 40, 30, 0xFFFFFF, 1); }, true, {0, 0, 40, 30}},
        {"stretched to zero width", [&] { Surface_DrawStretched(id, 0, 0, 0, 30, 0xFFFFFF, 1); }, false, {}},
        {"stretched to NaN height", [&] { Surface_DrawStretched(id, 0, 0, 5, NAN, 0xFFFFFF, 1); }, false, {}},
        {"part", [&] { Surface_DrawPart(id, 2, 2, 6, 4, 1, 1, 1, 1, 0xFFFFFF, 1); }, true, {1, 1, 7, 5}},
        {"unknown id", [&] { Surface_DrawExt(id + 1, 5, 6, 1, 1, 0, 0xFFFFFF, 1); }, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device_.draws.clear();
        row.draw();
        GraphicsFlush();
        if (!row.drawn) {
            EXPECT_TRUE(device_.draws.empty());
            continue;
        }
        ASSERT_EQ(device_.draws.size(), 1u);
        const kvtest::FakeDraw& d = device_.draws[0];
        Box box{1e9f, 1e9f, -1e9f, -1e9f};
        for (size_t v = 0; v + d.stride <= d.vertices.size(); v += d.stride) {
            float xy[2];
            std::memcpy(xy, &d.vertices[v], 8);
            box = {std::min(box.left, xy[0]), std::min(box.top, xy[1]), std::max(box.right, xy[0]),
                   std::max(box.bottom, xy[1])};
        }
        EXPECT_NEAR(box.left, row.box.left, 1e-3);
        EXPECT_NEAR(box.top, row.box.top, 1e-3);
        EXPECT_NEAR(box.right, row.box.right, 1e-3);
        EXPECT_NEAR(box.bottom, row.box.bottom, 1e-3);
    }
    EXPECT_EQ(Reported(), "");
    EXPECT_FALSE(Surface_DrawPart(id + 1, 0, 0, 1, 1, 0, 0, 1, 1, 0xFFFFFF, 1));
    EXPECT_EQ(Reported(), "ERROR!!! :: Trying to use non-existing surface.\n");
}

}  // namespace surface_test
