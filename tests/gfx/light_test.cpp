// Lights on the recording device: each definition fills the shader light arrays and sends the device its
// fixed-function light, the ambient colour goes to the material and the ambient state, a disabled light keeps its
// colour entry but uploads black, and bad indexes or a zero direction leave no trace or NaN.
#include "gfx/light.h"

#include "fake_render_device.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace light_test {

using kvtest::FakeRenderDevice;
using Vec4 = std::array<float, 4>;

Vec4 Row(const float (&v)[4]) { return {v[0], v[1], v[2], v[3]}; }

class GfxLight : public testing::Test {
protected:
    void SetUp() override
    {
        device_.hasDevice = true;
        GR_Device = &device_;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        Light_Reset();
        device_.ClearLog();
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        Light_Reset();
    }

    FakeRenderDevice device_;
    kvtest::ScopedRenderDevice scoped_{&device_};
};

TEST_F(GfxLight, DirectionalLightsAreNormalisedForTheDeviceAndNegatedForShaders)
{
    struct Case {
        const char* what;
        float dx, dy, dz;
        Vec4 array;                  // kv_Lights_Direction entry
        std::array<float, 3> device;  // the device light's direction
    };
    const float s = 1.0f / std::sqrt(2.0f);
    const Case cases[] = {
        {"(0, 0, 2)", 0, 0, 2, {0, 0, -1, 1}, {0, 0, 1}},
        {"(3, -3, 0)", 3, -3, 0, {-s, s, 0, 1}, {s, -s, 0}},
        {"huge components", 3e38f, 0, 0, {-1, 0, 0, 1}, {1, 0, 0}},
        // Zero length: no normalisation, the light adds nothing, and nothing is NaN.
        {"zero length", 0, 0, 0, {0, 0, 0, 1}, {0, 0, 0}},
        {"NaN", std::nanf(""), 1, 0, {0, 0, 0, 1}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device_.ClearLog();
        Light_DefineDirection(5, c.dx, c.dy, c.dz, 0x00336699);
        EXPECT_EQ(g_LightKind[5], LIGHT_KIND_DIRECTIONAL);
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(g_LightDirection[5][k], c.array[k], 1e-6f) << k;
        EXPECT_EQ(Row(g_LightPosRange[5]), (Vec4{0, 0, 0, 0}));
        ASSERT_EQ(device_.Count("SetLight"), 1u);
        const RDLight& l = device_.lights.at(5);
        EXPECT_EQ(l.type, RDLIGHT_DIRECTIONAL);
        EXPECT_NEAR(l.direction.x, c.device[0], 1e-6f);
        EXPECT_NEAR(l.direction.y, c.device[1], 1e-6f);
        EXPECT_NEAR(l.direction.z, c.device[2], 1e-6f);
        // Colour bytes red 0x99, green 0x66, blue 0x33; the device gets alpha 0, the array 1.
        EXPECT_FLOAT_EQ(l.diffuse.r, 0x99 / 255.0f);
        EXPECT_FLOAT_EQ(l.diffuse.g, 0x66 / 255.0f);
        EXPECT_FLOAT_EQ(l.diffuse.b, 0x33 / 255.0f);
        EXPECT_EQ(l.diffuse.a, 0.0f);
        EXPECT_EQ(Row(g_LightColour[5]), (Vec4{0x99 / 255.0f, 0x66 / 255.0f, 0x33 / 255.0f, 1.0f}));
        EXPECT_EQ(l.position.x + l.position.y + l.position.z + l.range + l.attenuation0, 0.0f);
    }
}

TEST_F(GfxLight, PointLightsGetTheirRangeAndAttenuation)
{
    struct Case {
        float range;
        float attenuation1;
    };
    for (const Case& c : {Case{50, 0.02f}, Case{0, 0}, Case{-4, 0}}) {
        SCOPED_TRACE(c.range);
        Light_DefineDirection(1, 0, 0, 1, 0xFFFFFF);  // replaced below: a kind change clears the direction
        Light_DefinePoint(1, 10, -20, 30.5f, c.range, 0x0000FF);
        EXPECT_EQ(g_LightKind[1], LIGHT_KIND_POINT);
        EXPECT_EQ(Row(g_LightPosRange[1]), (Vec4{10, -20, 30.5f, c.range}));
        EXPECT_EQ(Row(g_LightDirection[1]), (Vec4{0, 0, 0, 0}));
        EXPECT_EQ(Row(g_LightColour[1]), (Vec4{1, 0, 0, 1}));
        const RDLight& l = device_.lights.at(1);
        EXPECT_EQ(l.type, RDLIGHT_POINT);
        EXPECT_EQ(l.position.x, 10.0f);
        EXPECT_EQ(l.position.y, -20.0f);
        EXPECT_EQ(l.position.z, 30.5f);
        EXPECT_EQ(l.range, c.range);
        EXPECT_EQ(l.attenuation0, 1.0f);
        EXPECT_FLOAT_EQ(l.attenuation1, c.attenuation1);
        EXPECT_EQ(l.attenuation2, 0.0f);
        EXPECT_EQ(l.direction.x + l.direction.y + l.direction.z, 0.0f);
    }
}

TEST_F(GfxLight, ADisabledLightKeepsItsColourButUploadsBlack)
{
    for (int i = 0; i < LIGHT_COUNT; ++i) {
        Light_DefinePoint(i, 0, 0, 0, 10, 0x102030u * uint32_t(i + 1));
        Light_Enable(i, true);
    }
    Light_Enable(3, false);
    EXPECT_EQ(device_.Calls("LightEnable").back(), "LightEnable(3,0)");
    EXPECT_EQ(device_.lightEnabled.at(3), 0);
    EXPECT_EQ(device_.lightEnabled.at(4), 1);
    EXPECT_EQ(g_LightEnabled[3], 0.0f);
    const Vec4 kept = Row(g_LightColour[3]);
    EXPECT_EQ(kept, (Vec4{0xC0 / 255.0f, 0x80 / 255.0f, 0x40 / 255.0f, 1.0f}));

    float upload[LIGHT_COUNT * 4];
    Light_UploadColours(upload);
    for (int i = 0; i < LIGHT_COUNT; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(upload[i * 4 + k], i == 3 ? 0.0f : g_LightColour[i][k]) << i << " " << k;

    Light_Enable(3, true);  // back on: the kept colour is used again
    Light_UploadColours(upload);
    EXPECT_EQ((Vec4{upload[12], upload[13], upload[14], upload[15]}), kept);
}

TEST_F(GfxLight, AmbientSetsTheMaterialAndTheSwappedAmbientState)
{
    Light_DefineAmbient(0x80112233u);
    EXPECT_EQ(g_AmbientColour, 0x80112233u);
    EXPECT_EQ(device_.LogWithout({"HasDevice"}),
              (std::vector<std::string>{"SetMaterial((1,1,1,1),(1,1,1,1),(1,1,1,1),(0,0,0,0),1)",
                                        "SetRenderState(139," + std::to_string(0x80332211u) + ")"}));
    EXPECT_EQ(device_.renderStates.at(RDRS_AMBIENT), 0x80332211u);
}

TEST_F(GfxLight, IndexesOutsideTheEightChangeNothing)
{
    Light_DefinePoint(0, 1, 2, 3, 4, 0xFFFFFF);
    Light_Enable(0, true);
    float before[LIGHT_COUNT * 4 * 3];
    std::memcpy(before, g_LightDirection, sizeof g_LightDirection);
    std::memcpy(before + 32, g_LightPosRange, sizeof g_LightPosRange);
    std::memcpy(before + 64, g_LightColour, sizeof g_LightColour);
    device_.ClearLog();
    for (int32_t index : {8, -1, 1 << 20}) {
        Light_DefineDirection(index, 1, 0, 0, 0xFF);
        Light_DefinePoint(index, 1, 0, 0, 5, 0xFF);
        Light_Enable(index, false);
    }
    EXPECT_TRUE(device_.log.empty());
    EXPECT_EQ(std::memcmp(before, g_LightDirection, sizeof g_LightDirection), 0);
    EXPECT_EQ(std::memcmp(before + 32, g_LightPosRange, sizeof g_LightPosRange), 0);
    EXPECT_EQ(std::memcmp(before + 64, g_LightColour, sizeof g_LightColour), 0);
    EXPECT_EQ(g_LightEnabled[0], 1.0f);
}

TEST_F(GfxLight, WithoutADeviceOnlyTheArraysChange)
{
    GR_Device = nullptr;
    Light_DefineAmbient(0x123456);
    Light_DefineDirection(2, 0, 1, 0, 0xFF);
    Light_DefinePoint(3, 1, 2, 3, 4, 0xFF00);
    Light_Enable(2, true);
    EXPECT_TRUE(device_.log.empty());
    EXPECT_EQ(g_AmbientColour, 0x123456u);
    EXPECT_EQ(Row(g_LightDirection[2]), (Vec4{0, -1, 0, 1}));
    EXPECT_EQ(Row(g_LightPosRange[3]), (Vec4{1, 2, 3, 4}));
    EXPECT_EQ(g_LightEnabled[2], 1.0f);
}

TEST_F(GfxLight, TheLightingSwitchIsKeptAndSentToTheRenderState)
{
    Light_SetLighting(true);
    GPUState::Apply();
    EXPECT_TRUE(g_LightingEnabled);
    EXPECT_EQ(device_.renderStates.at(RDRS_LIGHTING), 1u);
    Light_SetLighting(false);
    GPUState::Apply();
    EXPECT_FALSE(g_LightingEnabled);
    EXPECT_EQ(device_.renderStates.at(RDRS_LIGHTING), 0u);
}

}  // namespace light_test
