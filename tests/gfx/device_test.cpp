// The device module on a recorded device and desktop: creation and its fallbacks, the reset ladder, frames,
// clears and the alternate sync's pacing.
#include "gfx/device.h"

#include "core/console.h"
#include "gfx/batch.h"
#include "gfx/display.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/matrix.h"
#include "gfx/shaders.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "gfx/window.h"
#include "fake_render_device.h"
#include "fake_window_platform.h"
#include "platform/hooks.h"
#include "test_support.h"
#include "world/mainloop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<int> g_exits;
std::vector<std::string> g_boxes;

void RecordExit(int status) { g_exits.push_back(status); }
int RecordBox(const MessageBoxRequest& request)
{
    g_boxes.push_back(request.text);
    return request.defaultAnswer;
}

class GfxDevice : public testing::Test {
protected:
    void SetUp() override
    {
        g_exits.clear();
        g_boxes.clear();
        previousExit_ = Platform_SetExitHook(RecordExit);
        previousBox_ = Platform_SetMessageBoxHook(RecordBox);
        previousDebug_ = DebugConsole;
        DebugConsole = &debug_;
        Window_ResetState();
        WindowPlatform_Set(&window_);
        PlatformDisplay_Set(&displays_);
        RenderDevice_Set(&device_);
        ResetDeviceState();
    }
    void TearDown() override
    {
        GR_D3D_Release();
        Display_FreeAdapters();
        ResetDeviceState();
        RenderDevice_Set(nullptr);
        PlatformDisplay_Set(nullptr);
        WindowPlatform_Set(nullptr);
        Window_ResetState();
        Platform_SetExitHook(previousExit_);
        Platform_SetMessageBoxHook(previousBox_);
        DebugConsole = previousDebug_;
    }
    static void ResetDeviceState()
    {
        GR_AlternateSync = false;
        GR_VSync = false;
        GR_MultisampleType = 0;
        GR_SwapEffect = RD_SWAPEFFECT_COPY;
        GR_SceneCount = 0;
        GR_FramePacing = FramePacing{};
        MainLoop_DeviceResetCountdown = 0;
    }
    // A device for a windowed 640 x 480 game.
    void Create(uint32_t flags = 0)
    {
        Window_ClientWidth = 640;
        Window_ClientHeight = 480;
        ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 640, 480, flags));
        device_.ClearLog();
    }

    kvtest::FakeRenderDevice device_;
    kvtest::FakeWindowPlatform window_;
    kvtest::FakeDisplaySource displays_;
    kvtest::RecordingConsole debug_;
    tagIConsole* previousDebug_ = nullptr;
    ExitHook previousExit_ = nullptr;
    MessageBoxHook previousBox_ = nullptr;
};

// ---- Creation --------------------------------------------------------------------------------------------

TEST_F(GfxDevice, CreationFallsBackInItsOrderAndEndsTheProcessAfterTheThirdFailure)
{
    struct Attempt {
        uint32_t swapEffect, count, interval, depthFormat;
    };
    struct Row {
        const char* name;
        bool alternateSync;
        uint32_t flags;     // 2: vsync
        int32_t failures;   // CreateDevice calls that fail before one succeeds
        std::vector<Attempt> attempts;
        bool created;
    };
    constexpr uint32_t kImmediate = RD_PRESENT_INTERVAL_IMMEDIATE;
    const Row rows[] = {
        {"plain", false, 0, 0, {{3, 1, kImmediate, RDFMT_D24S8}}, true},
        {"vsync", false, 2, 0, {{3, 1, 0, RDFMT_D24S8}}, true},
        {"alternate sync", true, 2, 0, {{5, 2, 1, RDFMT_D24S8}}, true},
        {"alternate sync falls back", true, 2, 1, {{5, 2, 1, RDFMT_D24S8}, {3, 1, 0, RDFMT_D24S8}}, true},
        {"then D16 and discard", true, 0, 2,
         {{5, 2, 1, RDFMT_D24S8}, {3, 1, kImmediate, RDFMT_D24S8}, {1, 1, kImmediate, RDFMT_D16}}, true},
        {"without alternate sync the second attempt is the last", false, 0, 1,
         {{3, 1, kImmediate, RDFMT_D24S8}, {1, 1, kImmediate, RDFMT_D16}}, true},
        {"all fail", true, 0, 3,
         {{5, 2, 1, RDFMT_D24S8}, {3, 1, kImmediate, RDFMT_D24S8}, {1, 1, kImmediate, RDFMT_D16}}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device_.createParams.clear();
        device_.ClearScript();
        g_exits.clear();
        g_boxes.clear();
        GR_AlternateSync = row.alternateSync;
        if (row.failures > 0) device_.FailNext("CreateDevice", RDERR_NOTAVAILABLE, row.failures);
        EXPECT_EQ(GR_D3D_CreateDevice(nullptr, 640, 480, row.flags), row.created);
        ASSERT_EQ(device_.createParams.size(), row.attempts.size());
        for (size_t i = 0; i < row.attempts.size(); ++i) {
            SCOPED_TRACE(i);
            const RDPresentParams& p = device_.createParams[i];
            EXPECT_EQ(p.swapEffect, row.attempts[i].swapEffect);
            EXPECT_EQ(p.backBufferCount, row.attempts[i].count);
            EXPECT_EQ(p.presentationInterval, row.attempts[i].interval);
            EXPECT_EQ(p.autoDepthStencilFormat, row.attempts[i].depthFormat);
            EXPECT_EQ(p.backBufferWidth, 640u);
            EXPECT_EQ(p.windowed, 1);
        }
        // The kept swap effect is the first attempt's, whatever the fallbacks tried.
        EXPECT_EQ(GR_SwapEffect, row.attempts[0].swapEffect);
        if (row.created) {
            EXPECT_TRUE(g_exits.empty());
            EXPECT_TRUE(g_boxes.empty());
        } else {
            EXPECT_EQ(g_exits, std::vector<int>{-1});
            ASSERT_EQ(g_boxes.size(), 1u);
            EXPECT_EQ(g_boxes[0],
                      "Failed to create Direct3D Device. Please check that your drivers are up-to-date. Alternatively "
                      "try switching your computer to a lower resolution to reduce graphics memory requirements.");
        }
        GR_D3D_Release();
    }
}

TEST_F(GfxDevice, TheLastAttemptUsesSoftwareVertexProcessing)
{
    device_.FailNext("CreateDevice", RDERR_NOTAVAILABLE, 1);
    ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 640, 480, 0));
    const std::vector<std::string> calls = device_.Calls("CreateDevice");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].find("0x42"), std::string::npos) << calls[0];
    EXPECT_NE(calls[1].find("0x22"), std::string::npos) << calls[1];
}

TEST_F(GfxDevice, WithoutAnAdapterTheInterfaceFailsWithItsBox)
{
    device_.adapters.clear();
    EXPECT_FALSE(GR_D3D_CreateDevice(nullptr, 640, 480, 0));
    EXPECT_EQ(g_boxes, std::vector<std::string>{"Failed to create Direct3D 9ex device"});
    EXPECT_EQ(GR_Device, nullptr);
    EXPECT_TRUE(g_exits.empty());
}

TEST_F(GfxDevice, ModeAndDesktopSizeFallBackWhenTheListsAreEmpty)
{
    // No mode at all: the first adapter, at the size asked for.
    device_.adapters[0].modes.clear();
    ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 700, 500, 0));
    EXPECT_NE(device_.Calls("CreateDevice")[0].rfind("CreateDevice(0,1,", 0), std::string::npos);
    EXPECT_EQ(device_.createParams.back().backBufferWidth, 700u);
    EXPECT_EQ(device_.createParams.back().backBufferHeight, 500u);
    GR_D3D_Release();

    // No adapter record (the only adapter is not a hardware one): full screen takes the screen's size.
    device_.adapters = {kvtest::FakeRenderDevice::DefaultAdapter()};
    device_.adapters[0].caps.deviceType = 2;
    window_.screenWidth = 1366;
    window_.screenHeight = 768;
    ASSERT_TRUE(GR_D3D_CreateDevice(nullptr, 700, 500, 1));
    EXPECT_EQ(GR_AdapterCount, 0);
    EXPECT_EQ(device_.createParams.back().backBufferWidth, 1366u);
    EXPECT_EQ(device_.createParams.back().backBufferHeight, 768u);
    EXPECT_EQ(device_.createParams.back().windowed, 0);
}

TEST_F(GfxDevice, MultisampleSupportAndAntialiasSettings)
{
    device_.adapters[0].multisamples = {2, 4};
    Create();
    EXPECT_EQ(GR_MultisampleSupport, 6u);
    EXPECT_EQ(GR_D3D_SupportedAA(), 6);
    const struct {
        int32_t samples;
        uint32_t type, swap;
    } rows[] = {{3, 0, RD_SWAPEFFECT_COPY}, {4, 4, RD_SWAPEFFECT_DISCARD}, {16, 16, RD_SWAPEFFECT_DISCARD},
                {0, 0, RD_SWAPEFFECT_COPY}, {-2, 0, RD_SWAPEFFECT_COPY}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.samples);
        Display_SetAntialias(row.samples);
        EXPECT_EQ(GR_MultisampleType, row.type);
        EXPECT_EQ(GR_SwapEffect, row.swap);
    }
}

TEST_F(GfxDevice, InitMakesTheWhitePageOnceAndShutdownFreesIt)
{
    Window_ClientWidth = 640;
    Window_ClientHeight = 480;
    ASSERT_TRUE(GR_D3D_Init(nullptr, 800, 600, 0));
    // The render size is clamped to the client area.
    EXPECT_EQ(GR_RenderWidth, 640);
    ASSERT_NE(GR_WhiteTexture, -1);
    ASSERT_TRUE(GR_Texture_Exists(GR_WhiteTexture));
    EXPECT_EQ(GR_WhiteTexturePage, GR_Texture_Page(GR_WhiteTexture));
    NativeTexture* white = GR_Texture_Get(GR_WhiteTexture);
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(white->Width(), 1);
    EXPECT_EQ(white->Height(), 1);
    auto* texture = static_cast<kvtest::FakeTexture*>(white->texture);
    ASSERT_EQ(texture->levels.size(), 1u);
    EXPECT_EQ(texture->levels[0]->bytes, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    // The first clear of the device happens before any scene, so it does nothing.
    EXPECT_EQ(device_.Count("Clear"), 0u);

    GR_D3D_Shutdown();
    EXPECT_EQ(GR_WhiteTexture, -1);
    EXPECT_FALSE(GR_Texture_Exists(0));
    EXPECT_EQ(GR_Device, nullptr);
    EXPECT_EQ(device_.Count("ReleaseDevice"), 1u);
    GR_Texture_FreeTable();
}

TEST_F(GfxDevice, TheColourDepthMustBeSixteenOrThirtyTwoBits)
{
    displays_.displays[0].current.bitsPerPixel = 8;
    EXPECT_FALSE(GR_D3D_Init(nullptr, 640, 480, 0));
    EXPECT_EQ(device_.Count("CreateDevice"), 0u);
}

// ---- Resets ----------------------------------------------------------------------------------------------

TEST_F(GfxDevice, TheResetLadderGivesUpAlternateSyncThenMultisampling)
{
    struct Row {
        const char* name;
        bool alternateSync;
        int32_t failures;
        size_t resets;
        bool result;
        uint32_t swapAfter, samplesAfter;
    };
    const Row rows[] = {
        {"first try", false, 0, 1, true, RD_SWAPEFFECT_DISCARD, 4},
        {"multisampling dropped", false, 1, 2, true, RD_SWAPEFFECT_DISCARD, 0},
        {"alternate sync dropped", true, 1, 2, true, RD_SWAPEFFECT_DISCARD, 4},
        {"both dropped", true, 2, 3, true, RD_SWAPEFFECT_DISCARD, 0},
        {"every try fails", true, 3, 3, false, RD_SWAPEFFECT_DISCARD, 0},
        {"without alternate sync two tries", false, 2, 2, false, RD_SWAPEFFECT_DISCARD, 0},
    };
    device_.adapters[0].multisamples = {4};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Create();
        GR_AlternateSync = row.alternateSync;
        Display_SetAntialias(4);
        device_.resetParams.clear();
        if (row.failures) device_.FailNext("Reset", RDERR_INVALIDCALL, row.failures);
        EXPECT_EQ(GR_D3D_ResetDevice(), row.result);
        ASSERT_EQ(device_.resetParams.size(), row.resets);
        // The first try asks for what was set; alternate sync asks for its flip chain.
        EXPECT_EQ(device_.resetParams[0].multiSampleType, 4u);
        EXPECT_EQ(device_.resetParams[0].swapEffect, row.alternateSync ? RD_SWAPEFFECT_FLIPEX : RD_SWAPEFFECT_DISCARD);
        EXPECT_EQ(device_.resetParams[0].backBufferCount, row.alternateSync ? 2u : 1u);
        if (row.alternateSync && row.resets >= 2) {
            EXPECT_EQ(device_.resetParams[1].backBufferCount, 1u);
            EXPECT_EQ(device_.resetParams[1].presentationInterval, RD_PRESENT_INTERVAL_IMMEDIATE);
            EXPECT_FALSE(GR_AlternateSync);
        }
        if (row.resets == 3 || (!row.alternateSync && row.resets == 2)) {
            EXPECT_EQ(device_.resetParams.back().multiSampleType, 0u);
            EXPECT_EQ(device_.resetParams.back().swapEffect, RD_SWAPEFFECT_DISCARD);
        }
        EXPECT_EQ(GR_SwapEffect, row.swapAfter);
        EXPECT_EQ(GR_MultisampleType, row.samplesAfter);
        GR_D3D_Release();
        ResetDeviceState();
    }
}

TEST_F(GfxDevice, AResetTakesThePendingSizeAndCentresTheWindowUnlessTheUserPlacedIt)
{
    Create();
    window_.screenWidth = 1920;
    window_.screenHeight = 1080;
    Window_PendingWidth = 800;
    Window_PendingHeight = 600;
    window_.calls.clear();
    ASSERT_TRUE(GR_D3D_ResetDevice());
    EXPECT_EQ(device_.resetParams.back().backBufferWidth, 800u);
    EXPECT_EQ(device_.resetParams.back().backBufferHeight, 600u);
    EXPECT_EQ(GR_BackBufferWidth, 800);
    EXPECT_EQ(Window_RequestedWidth, 800);
    EXPECT_EQ(Window_ClientHeight, 600);
    EXPECT_EQ(Window_PendingWidth, -1);
    EXPECT_EQ(GR_RenderWidth, 800);
    EXPECT_EQ(window_.Calls("position"), std::vector<std::string>{"position 560 240"});

    Window_PendingWidth = 1024;
    Window_PendingHeight = 768;
    Window_UserSized = true;
    window_.calls.clear();
    ASSERT_TRUE(GR_D3D_ResetDevice());
    EXPECT_EQ(GR_BackBufferWidth, 1024);
    EXPECT_TRUE(window_.Calls("position").empty());
    EXPECT_FALSE(Window_UserSized);

    // Full screen takes the desktop's size; the windowed size comes back from what was saved.
    Window_SetFullScreen(true);
    ASSERT_TRUE(GR_D3D_ResetDevice());
    EXPECT_EQ(device_.resetParams.back().windowed, 0);
    EXPECT_EQ(device_.resetParams.back().backBufferWidth, 1024u);  // the fake desktop runs 1024 x 768
    Window_SetFullScreen(false);
    ASSERT_TRUE(GR_D3D_ResetDevice());
    EXPECT_EQ(device_.resetParams.back().windowed, 1);
    EXPECT_EQ(device_.resetParams.back().backBufferWidth, 1024u);
    EXPECT_EQ(Window_SavedWidth, -1);
}

TEST_F(GfxDevice, AFailedDesktopModeQueryStopsTheResetBeforeTheDevice)
{
    Create();
    device_.FailNext("GetAdapterDisplayMode");
    EXPECT_FALSE(GR_D3D_ResetDevice());
    EXPECT_EQ(device_.Count("Reset"), 0u);
}

// ---- Frames and clears -----------------------------------------------------------------------------------

TEST_F(GfxDevice, ClearsHappenOnlyInsideAScene)
{
    EXPECT_FALSE(Start_Frame());  // no device yet
    Create();
    GR_D3D_Clear(0x00FF0000, 1.0f, 0, 7);  // outside a scene
    ASSERT_TRUE(Start_Frame());
    GR_D3D_Clear(0x00FF0000, 1.0f, 0, 0);  // no flags
    GR_D3D_Clear(0x80FF0010, 0.5f, 3, 0xF3);
    EXPECT_EQ(device_.Calls("Clear"), std::vector<std::string>{"Clear(3,0x801000ff,1,0)"}) << "colour swapped";
    ASSERT_TRUE(End_Frame(true));
    EXPECT_EQ(device_.Count("Present"), 1u);
    EXPECT_EQ(device_.scenes, 0);
    EXPECT_EQ(GR_SceneCount, 0);
}

// Adapters that clear unreliably get a quad per bound target instead; everything the quad needed goes back.
TEST_F(GfxDevice, ManualClearsDrawAQuadPerTargetAndPutTheStateBack)
{
    Create();
    ASSERT_TRUE(Start_Frame());
    GR_ManualClears = true;
    GR_MaxRenderTargets = 4;
    RDTexture* texture = nullptr;
    RDSurface* second = nullptr;
    ASSERT_EQ(device_.CreateTexture(64, 64, 1, RDUSAGE_RENDERTARGET, RDFMT_A8R8G8B8, RDPOOL_DEFAULT, &texture), RD_OK);
    ASSERT_EQ(device_.GetSurfaceLevel(texture, 0, &second), RD_OK);
    RDSurface* first = nullptr;
    ASSERT_EQ(device_.GetRenderTarget(0, &first), RD_OK);
    ASSERT_EQ(device_.SetRenderTarget(1, second), RD_OK);
    RDSurface* depth = device_.DepthStencil();

    const Matrix44 world = Matrix_BuildTranslation(5, 6, 7);
    GR_D3D_SetMatrix(RDTS_WORLD, world);
    Matrix44 projection;
    GR_D3D_GetMatrix(RDTS_PROJECTION, &projection);
    GPUState::SetRenderState(GPURS_ZFUNC, 4);
    GPUState::SetRenderState(GPURS_COLORWRITEENABLE, 1);
    Shader* shader = Shader_Add("sh_clear", 1, nullptr, 0, nullptr);  // a record without programs
    Shader_SetPending(shader);
    Shader_Apply();
    GraphicsFlush();
    device_.ClearLog();
    device_.draws.clear();

    GR_D3D_Clear(0x80FF0010, 0.25f, 0, 3);

    EXPECT_EQ(device_.Count("Clear"), 0u);
    ASSERT_EQ(device_.draws.size(), 2u) << "one quad for each bound target";
    for (const kvtest::FakeDraw& draw : device_.draws) {
        ASSERT_EQ(draw.vertices.size(), 4u * 16);
        for (int k = 0; k < 4; ++k) {
            float z;
            uint32_t colour;
            std::memcpy(&z, &draw.vertices[k * 16 + 8], 4);
            std::memcpy(&colour, &draw.vertices[k * 16 + 12], 4);
            EXPECT_EQ(z, 0.25f);
            EXPECT_EQ(colour, 0x801000FFu);
        }
    }
    std::vector<std::string> targets;
    for (const std::string& line : device_.log)
        if (line.rfind("SetRenderTarget(", 0) == 0 || line.rfind("SetDepthStencilSurface(", 0) == 0)
            targets.push_back(line);
    const std::string a = device_.NameOf(first), b = device_.NameOf(second), z = device_.NameOf(depth);
    EXPECT_EQ(targets, (std::vector<std::string>{
                           "SetRenderTarget(1,null)", "SetRenderTarget(0," + a + ")", "SetDepthStencilSurface(" + z + ")",
                           "SetRenderTarget(0," + b + ")", "SetDepthStencilSurface(null)",
                           "SetRenderTarget(0," + a + ")", "SetRenderTarget(1," + b + ")",
                           "SetDepthStencilSurface(" + z + ")"}));

    Matrix44 after;
    GR_D3D_GetMatrix(RDTS_WORLD, &after);
    EXPECT_EQ(std::memcmp(after.m, world.m, sizeof world.m), 0);
    GR_D3D_GetMatrix(RDTS_PROJECTION, &after);
    EXPECT_EQ(std::memcmp(after.m, projection.m, sizeof projection.m), 0) << "the half-pixel shift is not added twice";
    EXPECT_EQ(GPUState::GetRenderState(GPURS_ZFUNC), 4);
    EXPECT_EQ(GPUState::GetRenderState(GPURS_COLORWRITEENABLE), 1);
    EXPECT_EQ(Shader_Current(), shader);

    Shader_SetPending(nullptr);
    Shader_Apply();
    Shader_FreeAll();
    first->Release();
    second->Release();
    texture->Release();
    GR_ManualClears = false;
    ASSERT_TRUE(End_Frame(true));
}

TEST_F(GfxDevice, BeginSceneOpensOneSceneAndTakesTheClientSize)
{
    Create();
    window_.exists = true;
    window_.clientWidth = 333;
    ASSERT_TRUE(Start_Frame());
    EXPECT_EQ(Window_ClientWidth, 333);
    Start_Frame();  // a scene is open already
    EXPECT_EQ(device_.Count("BeginScene"), 1u);
    End_Frame(false);
    EXPECT_EQ(device_.Count("Present"), 0u);
}

// ---- Pacing ----------------------------------------------------------------------------------------------

TEST_F(GfxDevice, PacingIntervalAndCarriedErrorStayWithinOneRefresh)
{
    EXPECT_NEAR(FramePacing_Interval(60, true), 8333.333, 0.001);
    EXPECT_NEAR(FramePacing_Interval(60, false), 16666.666, 0.001);
    EXPECT_NEAR(FramePacing_Interval(0, false), 16666.666, 0.001);

    // Frames that run late and early at random never carry more than one refresh interval.
    const double r = FramePacing_Interval(60, false);
    const int64_t budget = 1000000 / 60;
    FramePacing pacing;
    std::mt19937 random(7);
    std::uniform_int_distribution<int64_t> jitter(-20000, 30000);
    int64_t now = 1000;
    for (int frame = 0; frame < 10000; ++frame) {
        const int64_t sleep = pacing.SleepBefore(now, r, budget);
        ASSERT_GE(sleep, 0);
        ASSERT_LE(sleep, 1000000);
        now += sleep + std::max<int64_t>(0, budget + jitter(random));
        pacing.After(now, r, budget);
        ASSERT_LE(std::llabs(pacing.error), int64_t(r)) << frame;
    }
}

TEST_F(GfxDevice, PresentsArePacedOnlyWithAlternateSyncAndVSyncAndNoSwitchPending)
{
    const struct {
        bool alternateSync, vsync;
        int32_t countdown;
        bool paced;
    } rows[] = {{true, true, 0, true}, {true, false, 0, false}, {false, true, 0, false}, {true, true, 1, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.alternateSync << row.vsync << row.countdown);
        Create(row.vsync ? 2 : 0);
        GR_AlternateSync = row.alternateSync;
        GR_FramePacing = FramePacing{};
        MainLoop_DeviceResetCountdown = row.countdown;
        EXPECT_TRUE(GR_D3D_Present());
        EXPECT_EQ(GR_FramePacing.last != -1, row.paced);
        MainLoop_DeviceResetCountdown = 0;
        GR_D3D_Release();
    }
}

}  // namespace
