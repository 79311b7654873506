// The render-state block on the recording device: what reaches the device and when, the translation of
// engine values, the stack, the setters of the drawing built-ins, and a randomised run against a plain model.
#include "gfx/gpustate.h"

#include "core/console.h"
#include "ds/buffer.h"
#include "fake_render_device.h"
#include "gfx/matrices.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace gpustate_test {

using Lines = std::vector<std::string>;

class GpuState : public testing::Test {
protected:
    void SetUp() override
    {
        oldConsole_ = DebugConsole;
        DebugConsole = &console_;
        Reset();
    }
    // Every state current = applied and on the device: SetDefaults alone leaves stages 1 to 7 as an earlier
    // test had them.
    void Reset()
    {
        device_.hasDevice = true;
        GPUState::SetDefaults();
        for (int32_t stage = 0; stage < GPU_STAGES; ++stage)
            for (int32_t which = 0; which < GPU_STAGE_STATES; ++which) GPUState::SetSamplerState(stage, which, 0);
        GPUState::Apply();
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_3DMode = false;
        GR_ProjectionIsOrtho = false;
        GPUState::SetDefaults();
        DebugConsole = oldConsole_;
    }

    // What reached the device as render and sampler states since the log was last cleared.
    Lines Sent() const { return device_.LogWithout({"HasDevice", "GetDeviceCaps"}); }

    kvtest::FakeRenderDevice device_;
    kvtest::ScopedRenderDevice installed_{&device_};
    kvtest::RecordingConsole console_;
    tagIConsole* oldConsole_ = nullptr;
};

std::string RenderLine(uint32_t state, uint32_t value)
{
    return "SetRenderState(" + std::to_string(state) + "," + std::to_string(value) + ")";
}

std::string SamplerLine(uint32_t stage, uint32_t state, uint32_t value)
{
    return "SetSamplerState(" + std::to_string(stage) + "," + std::to_string(state) + "," + std::to_string(value) + ")";
}

size_t Occurrences(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

// ---- masks and flushes ---------------------------------------------------------------------------------

TEST_F(GpuState, SettingAStateToItsCurrentValueLeavesEveryMaskUnchanged)
{
    GPUState::SetRenderState(GPURS_SRCBLEND, 2);
    GPUState::SetSamplerState(3, GPUSS_ADDRESSV, 1);
    const uint64_t render = g_GPUState.renderDirty, sampler = g_GPUState.samplerDirty;
    const uint64_t combined = g_GPUState.combinedDirty;
    ASSERT_NE(render, 0u);
    ASSERT_NE(sampler, 0u);
    const std::function<void()> sets[] = {
        [] { GPUState::SetRenderState(GPURS_SRCBLEND, 2); },   // changed, not yet applied
        [] { GPUState::SetRenderState(GPURS_ZFUNC, 4); },      // its default
        [] { GPUState::SetSamplerState(3, GPUSS_ADDRESSV, 1); },
        [] { GPUState::SetSamplerState(0, GPUSS_MAGFILTER, 0); },
    };
    for (const auto& set : sets) {
        set();
        EXPECT_EQ(g_GPUState.renderDirty, render);
        EXPECT_EQ(g_GPUState.samplerDirty, sampler);
        EXPECT_EQ(g_GPUState.combinedDirty, combined);
    }
}

TEST_F(GpuState, AChangeUndoneBeforeTheFlushSendsNothing)
{
    GPUState::SetRenderState(GPURS_SRCBLEND, 2);
    GPUState::SetSamplerState(1, GPUSS_ADDRESSU, 1);
    EXPECT_NE(g_GPUState.combinedDirty, 0u);
    GPUState::SetRenderState(GPURS_SRCBLEND, 5);
    GPUState::SetSamplerState(1, GPUSS_ADDRESSU, 0);
    EXPECT_EQ(g_GPUState.renderDirty, 0u);
    EXPECT_EQ(g_GPUState.samplerDirty, 0u);
    EXPECT_EQ(g_GPUState.combinedDirty, 0u);
    GPUState::Apply();
    EXPECT_EQ(Sent(), Lines{});
}

TEST_F(GpuState, AFlushSendsEachChangedStateOnceInIndexOrder)
{
    GPUState::SetRenderState(GPURS_CULLMODE, 1);
    GPUState::SetRenderState(GPURS_SRCBLEND, 3);
    GPUState::SetRenderState(GPURS_SRCBLEND, 2);
    GPUState::SetSamplerState(2, GPUSS_MAGFILTER, 1);
    EXPECT_EQ(Sent(), Lines{}) << "nothing before the flush";
    GPUState::Apply();
    EXPECT_EQ(Sent(), (Lines{RenderLine(RDRS_SRCBLEND, 2), RenderLine(RDRS_CULLMODE, 2),
                             SamplerLine(2, RDSAMP_MAGFILTER, RDTEXF_POINT)}));
    EXPECT_EQ(g_GPUState.combinedDirty, 0u);
    device_.ClearLog();
    GPUState::Apply();
    EXPECT_EQ(Sent(), Lines{});
}

// After a reset every render state goes out again, but of the samplers only stages 0 and 1 and stage 2's
// filters.
TEST_F(GpuState, ApplyAllSendsEveryRenderStateAndTheFirstTenSamplers)
{
    GPUState::ApplyAll();
    EXPECT_EQ(device_.Count("SetRenderState"), 29u);
    Lines samplers;
    for (uint32_t stage = 0; stage < 2; ++stage)
        for (uint32_t state : {RDSAMP_MAGFILTER, RDSAMP_MINFILTER, RDSAMP_ADDRESSU, RDSAMP_ADDRESSV})
            samplers.push_back(SamplerLine(stage, state, state >= RDSAMP_MAGFILTER ? RDTEXF_LINEAR : RDTADDRESS_WRAP));
    samplers.push_back(SamplerLine(2, RDSAMP_MAGFILTER, RDTEXF_LINEAR));
    samplers.push_back(SamplerLine(2, RDSAMP_MINFILTER, RDTEXF_LINEAR));
    EXPECT_EQ(device_.Calls("SetSamplerState"), samplers);
}

// The defaults leave the sampler dirty mask and the current samplers of stages 1 to 7 as they were.
TEST_F(GpuState, SetDefaultsKeepsTheSamplerMaskAndTheLaterStages)
{
    GPUState::SetSamplerState(0, GPUSS_MAGFILTER, 1);
    GPUState::SetSamplerState(5, GPUSS_ADDRESSU, 1);
    GPUState::SetRenderState(GPURS_ALPHATESTREF, 99);
    GPUState::Push();
    const uint64_t samplerMask = g_GPUState.samplerDirty;
    GPUState::SetDefaults();
    EXPECT_EQ(g_GPUState.samplerDirty, samplerMask);
    EXPECT_EQ(g_GPUState.renderDirty, ~uint64_t(0));
    EXPECT_EQ(g_GPUState.depth, 0);
    EXPECT_EQ(GPUState::GetSamplerState(0, GPUSS_MAGFILTER), 0);
    EXPECT_EQ(GPUState::GetSamplerState(5, GPUSS_ADDRESSU), 1);
    EXPECT_EQ(GPUState::GetRenderState(GPURS_ALPHATESTREF), 0);
    EXPECT_EQ(GPUState::GetRenderState(GPURS_FOGEND), std::bit_cast<int32_t>(1.0f));
    // The stale bits still go out, with the current values.
    GPUState::Apply();
    const Lines samplers = device_.Calls("SetSamplerState");
    EXPECT_EQ(samplers, (Lines{SamplerLine(0, RDSAMP_MAGFILTER, RDTEXF_LINEAR),
                               SamplerLine(5, RDSAMP_ADDRESSU, RDTADDRESS_CLAMP)}));
}

// ---- the stack -----------------------------------------------------------------------------------------

TEST_F(GpuState, PushOnAFullStackAndPopOnAnEmptyOneChangeNothingButTheirMessage)
{
    const char* const full = "GPU state stack has run out of space\n";
    const char* const empty = "Attempting to drop below bottom of GPU state stack\n";
    for (int32_t i = 0; i < GPU_STACK_SIZE; ++i) {
        GPUState::SetRenderState(GPURS_ALPHATESTREF, i);
        GPUState::Push();
    }
    EXPECT_EQ(console_.text, "");
    GPUState::SetRenderState(GPURS_ALPHATESTREF, 1000);
    GPUState::Push();
    EXPECT_EQ(console_.text, full);
    EXPECT_EQ(g_GPUState.depth, GPU_STACK_SIZE);
    EXPECT_EQ(g_GPUState.stack[GPU_STACK_SIZE - 1].render[GPURS_ALPHATESTREF], GPU_STACK_SIZE - 1);

    for (int32_t i = GPU_STACK_SIZE - 1; i >= 0; --i) {
        GPUState::Pop();
        EXPECT_EQ(GPUState::GetRenderState(GPURS_ALPHATESTREF), i);
    }
    EXPECT_EQ(console_.text, full);
    // Empty: the message, and entry 0 is made current again.
    GPUState::SetRenderState(GPURS_ALPHATESTREF, 500);
    GPUState::SetSamplerState(4, GPUSS_MINFILTER, 1);
    GPUState::Pop();
    EXPECT_EQ(console_.text, std::string(full) + empty);
    EXPECT_EQ(g_GPUState.depth, 0);
    EXPECT_EQ(GPUState::GetRenderState(GPURS_ALPHATESTREF), 0);
    EXPECT_EQ(GPUState::GetSamplerState(4, GPUSS_MINFILTER), 0);
}

// ---- translation ---------------------------------------------------------------------------------------

TEST_F(GpuState, EngineValuesReachTheDeviceTranslated)
{
    struct Row {
        int32_t index, value;
        const char* sent;  // "" when nothing is sent
    };
    const Row rows[] = {
        {GPURS_SRCBLEND, 0, "SetRenderState(19,1)"},      {GPURS_SRCBLEND, 18, "SetRenderState(19,1)"},
        {GPURS_SRCBLEND, 2, "SetRenderState(19,2)"},      {GPURS_DESTBLEND, 17, "SetRenderState(20,17)"},
        {GPURS_DESTBLEND, -3, "SetRenderState(20,1)"},    {GPURS_ZFUNC, 0, "SetRenderState(23,8)"},
        {GPURS_ZFUNC, 7, "SetRenderState(23,7)"},         {GPURS_ALPHATESTFUNC, 9, "SetRenderState(25,8)"},
        {GPURS_STENCILFUNC, 1, "SetRenderState(56,1)"},   {GPURS_CULLMODE, 1, "SetRenderState(22,2)"},
        {GPURS_CULLMODE, 2, "SetRenderState(22,3)"},      {GPURS_CULLMODE, 0, "SetRenderState(22,1)"},
        {GPURS_CULLMODE, 3, "SetRenderState(22,1)"},      {GPURS_FILLMODE, 1, "SetRenderState(8,1)"},
        {GPURS_FILLMODE, 2, "SetRenderState(8,2)"},       {GPURS_FILLMODE, 0, "SetRenderState(8,3)"},
        {GPURS_SHADEMODE, 1, "SetRenderState(9,1)"},      {GPURS_SHADEMODE, 0, "SetRenderState(9,2)"},
        {GPURS_STENCILFAIL, 1, "SetRenderState(53,1)"},   {GPURS_STENCILZFAIL, 8, "SetRenderState(54,8)"},
        {GPURS_STENCILPASS, 9, "SetRenderState(55,1)"},   {GPURS_FOGTABLEMODE, 2, "SetRenderState(35,2)"},
        {GPURS_FOGVERTEXMODE, 5, "SetRenderState(140,3)"}, {GPURS_FOGVERTEXMODE, -1, "SetRenderState(140,3)"},
        {GPURS_COLORWRITEENABLE, 0x1F, "SetRenderState(168,15)"},
        {GPURS_ALPHATESTREF, 300, "SetRenderState(24,300)"},
        {GPURS_STENCILMASK, -1, "SetRenderState(58,4294967295)"},
        {GPURS_FOGEND, std::bit_cast<int32_t>(0.5f), "SetRenderState(37,1056964608)"},
        {GPURS_LIGHTING, 1, "SetRenderState(137,1)"},
        // Kept only, or no state at all.
        {0, 1, ""}, {14, 1, ""}, {19, 1, ""}, {22, 1, ""}, {GPURS_SEPALPHAENABLE, 1, ""},
        {GPURS_SRCBLENDALPHA, 2, ""}, {GPURS_DESTBLENDALPHA, 2, ""}, {36, 1, ""}, {-1, 1, ""}, {1000, 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "index " << row.index << " value " << row.value);
        device_.ClearLog();
        GR_D3D_SetRenderState(row.index, row.value);
        EXPECT_EQ(device_.log, *row.sent ? Lines{row.sent} : Lines{});
    }

    struct SamplerRow {
        int32_t stage, which, value;
        const char* sent;
    };
    const SamplerRow samplerRows[] = {
        {0, GPUSS_MAGFILTER, 0, "SetSamplerState(0,5,2)"}, {0, GPUSS_MAGFILTER, 1, "SetSamplerState(0,5,1)"},
        {3, GPUSS_MINFILTER, 7, "SetSamplerState(3,6,1)"}, {7, GPUSS_ADDRESSU, 0, "SetSamplerState(7,1,1)"},
        {7, GPUSS_ADDRESSU, 2, "SetSamplerState(7,1,3)"},  {1, GPUSS_ADDRESSV, -1, "SetSamplerState(1,2,3)"},
        {8, GPUSS_MAGFILTER, 0, ""}, {99, GPUSS_ADDRESSU, 1, ""}, {-1, GPUSS_ADDRESSU, 1, ""},
        {0, 4, 1, ""}, {0, -1, 1, ""},
    };
    for (const SamplerRow& row : samplerRows) {
        SCOPED_TRACE(testing::Message() << "stage " << row.stage << " which " << row.which << " value " << row.value);
        device_.ClearLog();
        GR_D3D_SetSamplerState(row.stage, row.which, row.value);
        EXPECT_EQ(device_.log, *row.sent ? Lines{row.sent} : Lines{});
    }
}

// A script's gpu_set_state can name any stage ("addressu99") or index: the block stays as it was.
TEST_F(GpuState, StatesOutsideTheBlockChangeNothing)
{
    const std::function<void()> sets[] = {
        [] { GPUState::SetRenderState(GPU_RENDER_STATES, 1); },
        [] { GPUState::SetRenderState(-1, 1); },
        [] { GPUState::SetRenderState(99, 1); },
        [] { GPUState::SetSamplerState(GPU_STAGES, GPUSS_MAGFILTER, 1); },
        [] { GPUState::SetSamplerState(99, GPUSS_ADDRESSU, 1); },
        [] { GPUState::SetSamplerState(-1, GPUSS_ADDRESSU, 1); },
        [] { GPUState::SetSamplerState(0, GPU_STAGE_STATES, 1); },
        [] { GPUState::SetSamplerState(0, -1, 1); },
        [] { GR_Texture_SetRepeatExt(8, true); },
        [] { GR_Texture_SetRepeatExt(-1, true); },
        [] { GR_Texture_SetInterpolationExt(8, false); },
    };
    std::vector<uint8_t> block(sizeof(GPUState));
    std::memcpy(block.data(), &g_GPUState, sizeof(GPUState));
    uint8_t repeat[GPU_STAGES], interpolation[GPU_STAGES];
    std::memcpy(repeat, GR_TextureRepeat, sizeof repeat);
    std::memcpy(interpolation, GR_TextureInterpolation, sizeof interpolation);
    for (const auto& set : sets) set();
    EXPECT_EQ(std::memcmp(block.data(), &g_GPUState, sizeof(GPUState)), 0);
    EXPECT_EQ(std::memcmp(repeat, GR_TextureRepeat, sizeof repeat), 0);
    EXPECT_EQ(std::memcmp(interpolation, GR_TextureInterpolation, sizeof interpolation), 0);
    EXPECT_EQ(GPUState::GetRenderState(99), 0);
    EXPECT_EQ(GPUState::GetRenderState(-1), 0);
    EXPECT_EQ(GPUState::GetSamplerState(99, GPUSS_ADDRESSU), 0);
    EXPECT_EQ(GPUState::GetSamplerState(0, GPU_STAGE_STATES), 0);
    GPUState::Apply();
    EXPECT_EQ(Sent(), Lines{});
}

// ---- setters -------------------------------------------------------------------------------------------

TEST_F(GpuState, SettersOfTheDrawingBuiltInsSetTheirStates)
{
    struct Sampler {
        int32_t stage, which, value;
    };
    struct Row {
        const char* name;
        std::function<void()> run;
        std::vector<std::pair<int32_t, int32_t>> render;  // index, current value after
        std::vector<Sampler> samplers;
    };
    const std::vector<std::pair<int32_t, int32_t>> normal = {
        {GPURS_SRCBLEND, 5}, {GPURS_DESTBLEND, 6}, {GPURS_SRCBLENDALPHA, 5}, {GPURS_DESTBLENDALPHA, 6}};
    const Row rows[] = {
        {"blend ext", [] { GR_SetBlendModeExt(9, 10); },
         {{GPURS_SRCBLEND, 9}, {GPURS_DESTBLEND, 10}, {GPURS_SRCBLENDALPHA, 9}, {GPURS_DESTBLENDALPHA, 10}}, {}},
        {"add", [] { GR_SetBlendMode(1); },
         {{GPURS_SRCBLEND, 5}, {GPURS_DESTBLEND, 2}, {GPURS_SRCBLENDALPHA, 5}, {GPURS_DESTBLENDALPHA, 2}}, {}},
        {"max", [] { GR_SetBlendMode(2); }, {{GPURS_SRCBLEND, 5}, {GPURS_DESTBLEND, 4}}, {}},
        {"subtract", [] { GR_SetBlendMode(3); },
         {{GPURS_SRCBLEND, 1}, {GPURS_DESTBLEND, 4}, {GPURS_SRCBLENDALPHA, 1}, {GPURS_DESTBLENDALPHA, 4}}, {}},
        {"normal after add", [] { GR_SetBlendMode(1); GR_SetBlendMode(0); }, normal, {}},
        {"unknown mode is normal", [] { GR_SetBlendMode(1); GR_SetBlendMode(7); }, normal, {}},
        {"colour mask", [] { GR_SetColourWriteEnable(true, false, true, false); }, {{GPURS_COLORWRITEENABLE, 5}}, {}},
        {"alpha only", [] { GR_SetColourWriteEnable(false, false, false, true); }, {{GPURS_COLORWRITEENABLE, 8}}, {}},
        {"culling", [] { GR_3D_SetCulling(true); }, {{GPURS_CULLMODE, 2}}, {}},
        {"culling off", [] { GR_3D_SetCulling(true); GR_3D_SetCulling(false); }, {{GPURS_CULLMODE, 0}}, {}},
        {"lighting", [] { GR_3D_SetLighting(true); }, {{GPURS_LIGHTING, 1}}, {}},
        {"flat shading", [] { GR_3D_SetShading(false); }, {{GPURS_SHADEMODE, 1}}, {}},
        {"gouraud shading", [] { GR_3D_SetShading(false); GR_3D_SetShading(true); }, {{GPURS_SHADEMODE, 2}}, {}},
        {"z write off", [] { GR_3D_SetZWriteEnable(false); }, {{GPURS_ZWRITEENABLE, 0}}, {}},
        {"alpha ref", [] { GR_SetAlphaTestRef(128); }, {{GPURS_ALPHATESTREF, 128}}, {}},
        {"point filtering", [] { GR_Texture_SetInterpolation(false); }, {},
         {{0, GPUSS_MAGFILTER, 1}, {0, GPUSS_MINFILTER, 1}, {7, GPUSS_MAGFILTER, 1}, {7, GPUSS_MINFILTER, 1},
          {7, GPUSS_ADDRESSU, 0}}},
        {"point filtering on stage 3", [] { GR_Texture_SetInterpolationExt(3, false); }, {},
         {{3, GPUSS_MAGFILTER, 1}, {3, GPUSS_MINFILTER, 1}, {2, GPUSS_MAGFILTER, 0}, {4, GPUSS_MINFILTER, 0}}},
        {"clamp", [] { GR_Texture_SetRepeat(false); }, {},
         {{0, GPUSS_ADDRESSU, 1}, {0, GPUSS_ADDRESSV, 1}, {6, GPUSS_ADDRESSV, 1}, {6, GPUSS_MAGFILTER, 0}}},
        {"clamp on stage 7", [] { GR_Texture_SetRepeatExt(7, false); }, {},
         {{7, GPUSS_ADDRESSU, 1}, {7, GPUSS_ADDRESSV, 1}, {6, GPUSS_ADDRESSU, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        row.run();
        for (const auto& [index, value] : row.render) EXPECT_EQ(GPUState::GetRenderState(index), value) << index;
        for (const Sampler& s : row.samplers)
            EXPECT_EQ(GPUState::GetSamplerState(s.stage, s.which), s.value) << s.stage << "/" << s.which;
        EXPECT_EQ(Sent(), Lines{}) << "setters only store";
    }
}

TEST_F(GpuState, TextureFlagsFollowTheirSetters)
{
    GR_Texture_SetInterpolation(false);
    GR_Texture_SetRepeat(true);
    EXPECT_FALSE(GR_Texture_GetInterpolation());
    EXPECT_TRUE(GR_Texture_GetRepeat());
    EXPECT_EQ(GR_TextureRepeat[7], 1);
    // Stage 0's flags answer the getters; another stage's change leaves them.
    GR_Texture_SetInterpolationExt(5, true);
    GR_Texture_SetRepeatExt(5, false);
    EXPECT_FALSE(GR_Texture_GetInterpolation());
    EXPECT_TRUE(GR_Texture_GetRepeat());
    EXPECT_EQ(GR_TextureInterpolation[5], 1);
    EXPECT_EQ(GR_TextureRepeat[5], 0);
    GPUState::SetDefaults();
    EXPECT_TRUE(GR_Texture_GetInterpolation());
    EXPECT_FALSE(GR_Texture_GetRepeat());
}

TEST_F(GpuState, AlphaTestChangesOnlyWithADevice)
{
    device_.hasDevice = false;
    GR_SetAlphaTest(true);
    EXPECT_FALSE(GR_GetAlphaTest());
    device_.hasDevice = true;
    GR_SetAlphaTest(true);
    EXPECT_TRUE(GR_GetAlphaTest());
    EXPECT_EQ(GPUState::GetRenderState(GPURS_ALPHATESTENABLE), 1);
    device_.hasDevice = false;
    GR_SetAlphaTest(false);
    EXPECT_TRUE(GR_GetAlphaTest());
}

TEST_F(GpuState, TheDepthTestIsOnOnlyIn3DModeWithHiddenSurfaces)
{
    struct Row {
        bool mode3d, hidden;
        int32_t ztest;
    };
    for (const Row& row : {Row{false, false, 0}, Row{false, true, 0}, Row{true, false, 0}, Row{true, true, 1}}) {
        SCOPED_TRACE(testing::Message() << "3D " << row.mode3d << " hidden " << row.hidden);
        GR_3DMode = row.mode3d;
        GR_3D_SetHidden(!row.hidden);
        GR_3D_SetHidden(row.hidden);
        EXPECT_EQ(GR_HiddenSurface, row.hidden);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_ZTESTENABLE), row.ztest);
    }
}

// ---- fog -----------------------------------------------------------------------------------------------

TEST_F(GpuState, FogFollowsWhatTheDeviceCanDraw)
{
    const int32_t unchanged = -12345;  // a state the row does not set keeps the marker
    struct Row {
        const char* name;
        uint32_t rasterCaps;
        bool on, ortho;
        bool keptOn;
        int32_t enable, tableMode, vertexMode, rangeFog, colour;
        float start, end;
    };
    const uint32_t table = RDPRASTERCAPS_FOGTABLE, vertex = RDPRASTERCAPS_FOGVERTEX;
    const int32_t red = int32_t(0xFFFF0000u);  // ColourBGR 0x0000FF with alpha 255
    const Row rows[] = {
        {"table fog", table | vertex, true, false, true, 1, 3, unchanged, unchanged, red, 10.0f, 110.0f},
        {"vertex fog", vertex, true, false, true, 1, unchanged, 3, 1, red, 10.0f, 110.0f},
        {"orthographic range", table, true, true, true, 1, 3, unchanged, unchanged, red, 9.0f / 31999.0f,
         109.0f / 31999.0f},
        {"no fog support", 0, true, false, false, 0, unchanged, unchanged, unchanged, unchanged, -1.0f, -1.0f},
        {"off", table, false, false, false, 0, unchanged, unchanged, unchanged, unchanged, -1.0f, -1.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        for (int32_t index : {GPURS_FOGENABLE, GPURS_FOGTABLEMODE, GPURS_FOGVERTEXMODE, GPURS_RANGEFOGENABLE,
                              GPURS_FOGCOLOR})
            GPUState::SetRenderState(index, unchanged);
        const int32_t startMark = std::bit_cast<int32_t>(-1.0f);
        GPUState::SetRenderState(GPURS_FOGSTART, startMark);
        GPUState::SetRenderState(GPURS_FOGEND, startMark);
        device_.adapters[0].caps.rasterCaps = row.rasterCaps;
        GR_ProjectionIsOrtho = row.ortho;
        GR_ProjectionNear = 1.0f;
        GR_ProjectionFar = 32000.0f;

        GR_3D_SetFog(row.on, 0x0000FF, 10, 110);
        EXPECT_EQ(GR_FogOn, row.keptOn);
        EXPECT_EQ(GR_FogColour, 0xFFFF0000u);
        EXPECT_EQ(GR_FogStart, 10.0f);
        EXPECT_EQ(GR_FogEnd, 110.0f);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_FOGENABLE), row.enable);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_FOGTABLEMODE), row.tableMode);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_FOGVERTEXMODE), row.vertexMode);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_RANGEFOGENABLE), row.rangeFog);
        EXPECT_EQ(GPUState::GetRenderState(GPURS_FOGCOLOR), row.colour);
        EXPECT_EQ(std::bit_cast<float>(GPUState::GetRenderState(GPURS_FOGSTART)), row.start);
        EXPECT_EQ(std::bit_cast<float>(GPUState::GetRenderState(GPURS_FOGEND)), row.end);
        GR_ProjectionIsOrtho = false;
    }
}

TEST_F(GpuState, FogSupportComesFromTheRasterCaps)
{
    struct Row {
        uint32_t rasterCaps;
        RDResult capsResult;
        int32_t support;
    };
    const Row rows[] = {
        {RDPRASTERCAPS_FOGTABLE | RDPRASTERCAPS_FOGVERTEX, RD_OK, 1},
        {RDPRASTERCAPS_FOGTABLE, RD_OK, 1},
        {RDPRASTERCAPS_FOGVERTEX, RD_OK, 2},
        {0, RD_OK, 0},
        {RDPRASTERCAPS_FOGTABLE, RDERR_NOTAVAILABLE, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "caps " << row.rasterCaps << " result " << row.capsResult);
        device_.adapters[0].caps.rasterCaps = row.rasterCaps;
        device_.SetResult("GetDeviceCaps", row.capsResult);
        EXPECT_EQ(GR_D3D_GetFogSupport(), row.support);
    }
}

// ---- the debugger's copy -------------------------------------------------------------------------------

TEST_F(GpuState, WriteRenderStatesWritesStatesOneToThirtyFive)
{
    GPUState::SetRenderState(GPURS_ZTESTENABLE, 1);
    GPUState::SetRenderState(GPURS_DESTBLENDALPHA, 9);
    IBuffer buffer(256, buffer_fixed, 1);
    buffer.Seek(buffer_seek_start, 4);
    EXPECT_EQ(GPUState::WriteRenderStates(&buffer), 35);
    EXPECT_EQ(buffer.GetPosition(), 4 + 35 * 4);
    int32_t written[35];
    std::memcpy(written, buffer.GetData() + 4, sizeof written);
    for (int32_t i = 1; i < GPU_RENDER_STATES; ++i) EXPECT_EQ(written[i - 1], GPUState::GetRenderState(i)) << i;
    EXPECT_EQ(written[0], 1);
    EXPECT_EQ(written[34], 9);
    EXPECT_EQ(written[GPURS_STENCILMASK - 1], -1);
}

// ---- against a plain model -----------------------------------------------------------------------------

// The device state and value of one engine state, written out from the state table independently of the block.
bool ModelDeviceState(int32_t index, int32_t value, uint32_t* state, uint32_t* sent)
{
    auto in = [value](int32_t lo, int32_t hi, uint32_t other) { return value >= lo && value <= hi ? uint32_t(value) : other; };
    switch (index) {
    case 1: *state = 7, *sent = uint32_t(value); return true;
    case 2: *state = 8, *sent = in(1, 2, 3); return true;
    case 3: *state = 9, *sent = value == 1 ? 1 : 2; return true;
    case 4: *state = 14, *sent = uint32_t(value); return true;
    case 5: *state = 15, *sent = uint32_t(value); return true;
    case 6: *state = 19, *sent = in(2, 17, 1); return true;
    case 7: *state = 20, *sent = in(2, 17, 1); return true;
    case 8: *state = 22, *sent = value == 1 ? 2 : value == 2 ? 3 : 1; return true;
    case 9: *state = 23, *sent = in(1, 7, 8); return true;
    case 10: *state = 24, *sent = uint32_t(value); return true;
    case 11: *state = 25, *sent = in(1, 7, 8); return true;
    case 12: *state = 27, *sent = uint32_t(value); return true;
    case 13: *state = 28, *sent = uint32_t(value); return true;
    case 15: *state = 34, *sent = uint32_t(value); return true;
    case 16: *state = 35, *sent = in(0, 2, 3); return true;
    case 17: *state = 36, *sent = uint32_t(value); return true;
    case 18: *state = 37, *sent = uint32_t(value); return true;
    case 20: *state = 48, *sent = uint32_t(value); return true;
    case 21: *state = 137, *sent = uint32_t(value); return true;
    case 23: *state = 140, *sent = in(0, 2, 3); return true;
    case 24: *state = 168, *sent = uint32_t(value) & 15; return true;
    case 25: *state = 52, *sent = uint32_t(value); return true;
    case 26: *state = 53, *sent = in(2, 8, 1); return true;
    case 27: *state = 54, *sent = in(2, 8, 1); return true;
    case 28: *state = 55, *sent = in(2, 8, 1); return true;
    case 29: *state = 56, *sent = in(1, 7, 8); return true;
    case 30: *state = 57, *sent = uint32_t(value); return true;
    case 31: *state = 58, *sent = uint32_t(value); return true;
    case 32: *state = 59, *sent = uint32_t(value); return true;
    default: return false;
    }
}

std::string ModelSamplerLine(int32_t k, int32_t value)
{
    static const uint32_t kStates[] = {RDSAMP_MAGFILTER, RDSAMP_MINFILTER, RDSAMP_ADDRESSU, RDSAMP_ADDRESSV};
    const int32_t which = k % 4;
    const uint32_t sent = which < 2 ? (value ? RDTEXF_POINT : RDTEXF_LINEAR) : (value ? RDTADDRESS_CLAMP : RDTADDRESS_WRAP);
    return SamplerLine(uint32_t(k / 4), kStates[which], sent);
}

TEST_F(GpuState, ARandomRunSendsExactlyTheStatesThatDifferFromTheDevice)
{
    // Bring every sampler state onto the device once, so the model can start from "all in step".
    for (int32_t k = 0; k < GPU_SAMPLER_STATES; ++k) {
        GPUState::SetSamplerState(k / 4, k % 4, 1);
        GPUState::Apply();
        GPUState::SetSamplerState(k / 4, k % 4, 0);
        GPUState::Apply();
    }
    device_.ClearLog();

    struct Model {
        int32_t render[GPU_RENDER_STATES], sampler[GPU_SAMPLER_STATES];
        int32_t deviceRender[GPU_RENDER_STATES], deviceSampler[GPU_SAMPLER_STATES];  // engine values last sent
        std::vector<GPUStateStack> stack;
        int32_t depth = 0;
    } m;
    std::memcpy(m.render, g_GPUState.currentRender, sizeof m.render);
    std::memcpy(m.sampler, g_GPUState.currentSampler, sizeof m.sampler);
    std::memcpy(m.deviceRender, m.render, sizeof m.render);
    std::memcpy(m.deviceSampler, m.sampler, sizeof m.sampler);
    m.stack.assign(g_GPUState.stack, g_GPUState.stack + GPU_STACK_SIZE);  // entry 0 is what an empty pop restores
    size_t messages = 0;

    std::mt19937 random(20240611);
    auto pick = [&random](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
    const int32_t values[] = {-1, 0, 1, 2, 3, 5, 6, 8, 9, 15, 18};
    auto value = [&] { return values[pick(0, int32_t(std::size(values)) - 1)]; };

    for (int step = 0; step < 20000; ++step) {
        const int32_t op = pick(0, 99);
        if (op < 45) {
            const int32_t index = pick(-2, GPU_RENDER_STATES + 1), v = value();
            GPUState::SetRenderState(index, v);
            if (index >= 0 && index < GPU_RENDER_STATES) m.render[index] = v;
        } else if (op < 70) {
            const int32_t stage = pick(-1, GPU_STAGES), which = pick(-1, GPU_STAGE_STATES), v = pick(0, 2);
            GPUState::SetSamplerState(stage, which, v);
            if (stage >= 0 && stage < GPU_STAGES && which >= 0 && which < GPU_STAGE_STATES) m.sampler[stage * 4 + which] = v;
        } else if (op < 78) {
            GPUState::Push();
            if (m.depth == GPU_STACK_SIZE) {
                ++messages;
            } else {
                std::memcpy(m.stack[size_t(m.depth)].render, m.render, sizeof m.render);
                std::memcpy(m.stack[size_t(m.depth)].sampler, m.sampler, sizeof m.sampler);
                ++m.depth;
            }
        } else if (op < 88) {
            GPUState::Pop();
            if (m.depth == 0)
                ++messages;
            else
                --m.depth;
            std::memcpy(m.render, m.stack[size_t(m.depth)].render, sizeof m.render);
            std::memcpy(m.sampler, m.stack[size_t(m.depth)].sampler, sizeof m.sampler);
        } else {
            Lines expected;
            for (int32_t i = 0; i < GPU_RENDER_STATES; ++i) {
                uint32_t state, sent;
                if (m.render[i] != m.deviceRender[i] && ModelDeviceState(i, m.render[i], &state, &sent))
                    expected.push_back(RenderLine(state, sent));
            }
            for (int32_t k = 0; k < GPU_SAMPLER_STATES; ++k)
                if (m.sampler[k] != m.deviceSampler[k]) expected.push_back(ModelSamplerLine(k, m.sampler[k]));
            device_.ClearLog();
            GPUState::Apply();
            ASSERT_EQ(device_.log, expected) << "apply at step " << step;
            std::memcpy(m.deviceRender, m.render, sizeof m.render);
            std::memcpy(m.deviceSampler, m.sampler, sizeof m.sampler);
        }

        // The block agrees with the model after every operation, masks included.
        uint64_t renderMask = 0, samplerMask = 0;
        for (int32_t i = 0; i < GPU_RENDER_STATES; ++i) {
            ASSERT_EQ(GPUState::GetRenderState(i), m.render[i]) << "render " << i << " at step " << step;
            if (m.render[i] != m.deviceRender[i]) renderMask |= uint64_t(1) << i;
        }
        for (int32_t k = 0; k < GPU_SAMPLER_STATES; ++k) {
            ASSERT_EQ(GPUState::GetSamplerState(k / 4, k % 4), m.sampler[k]) << "sampler " << k << " at step " << step;
            if (m.sampler[k] != m.deviceSampler[k]) samplerMask |= uint64_t(1) << k;
        }
        ASSERT_EQ(g_GPUState.renderDirty, renderMask) << "at step " << step;
        ASSERT_EQ(g_GPUState.samplerDirty, samplerMask) << "at step " << step;
        ASSERT_EQ(g_GPUState.combinedDirty, renderMask | samplerMask) << "at step " << step;
        ASSERT_EQ(g_GPUState.depth, m.depth) << "at step " << step;
    }
    EXPECT_EQ(Occurrences(console_.text, "GPU state stack has run out of space\n") +
                  Occurrences(console_.text, "Attempting to drop below bottom of GPU state stack\n"),
              messages);
    EXPECT_GT(messages, 0u);
}

}  // namespace gpustate_test
