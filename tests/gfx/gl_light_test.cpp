// Fixed-function lighting on the OpenGL device on the offscreen driver: lit quads under directional and point
// lights, ambient colour, disabled lights, ranges and stretched world matrices, read back and compared with a
// Python evaluation of the lighting equation (tests/gfx/light_oracle.py) within 2 per channel.
#include <SDL.h>
#include <gtest/gtest.h>

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/light.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/prim3d.h"
#include "gfx/recorder.h"
#include "gfx/texture_manager.h"
#include "fixture_cache.h"
#include "gl_test_util.h"
#include "platform/gl_device.h"
#include "platform/render_device.h"
#include "tests/core/py_oracle.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace gl_light_test {

constexpr uint32_t kSize = 64;

struct Light {
    bool point = false;
    int32_t index = 0;
    float x = 0, y = 0, z = 0, range = 0;
    uint32_t colour = 0;
    bool enabled = false;
};

struct Scene {
    std::string name;
    uint32_t vertexColour = 0;
    float nx = 0, ny = 0, nz = 0;
    RDMatrix world{};
    uint32_t ambient = 0;
    std::vector<Light> lights;
    int32_t expect[3] = {};
};

std::vector<Scene> ReadScenes(const std::string& text)
{
    std::vector<Scene> scenes;
    std::istringstream in(text);
    std::string line;
    Scene s;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "case") {
            s = Scene();
            std::getline(words >> std::ws, s.name);
        } else if (key == "vertex") {
            std::string colour;
            words >> colour >> s.nx >> s.ny >> s.nz;
            s.vertexColour = uint32_t(std::stoul(colour, nullptr, 16));
        } else if (key == "world") {
            for (auto& row : s.world.m)
                for (float& v : row) words >> v;
        } else if (key == "ambient") {
            std::string colour;
            words >> colour;
            s.ambient = uint32_t(std::stoul(colour, nullptr, 16));
        } else if (key == "direction" || key == "point") {
            Light l;
            l.point = key == "point";
            std::string colour;
            int enabled = 0;
            words >> l.index >> l.x >> l.y >> l.z;
            if (l.point) words >> l.range;
            words >> colour >> enabled;
            l.colour = uint32_t(std::stoul(colour, nullptr, 16));
            l.enabled = enabled != 0;
            s.lights.push_back(l);
        } else if (key == "expect") {
            words >> s.expect[0] >> s.expect[1] >> s.expect[2];
        } else if (key == "end") {
            scenes.push_back(s);
        }
    }
    return scenes;
}

class GlLight : public testing::Test {
protected:
    void SetUp() override
    {
        gltest::VideoWindow& s = gltest::Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        d = GL_Device();
        RDPresentParams p = gltest::PresentParams(s.window, kSize, kSize);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
            for (uint32_t i = 0; i < 8; ++i) d->LightEnable(i, 0);  // lights outlive resets
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
        GR_3D_SetProjectionOrtho(0, 0, float(kSize), float(kSize), 0);
        GR_3D_TransformSetIdentity();
        GR_Draw_SetAlpha(1.0f);
        Light_Reset();
    }
    void TearDown() override
    {
        for (int32_t i = 0; i < LIGHT_COUNT; ++i) Light_Enable(i, false);
        Light_SetLighting(false);
        Light_Reset();
        GR_3D_TransformSetIdentity();
        GR_3D_SetMode(false);
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        GR_Device = nullptr;
        GPUState::SetDefaults();
        if (made_) d->ReleaseDevice();
    }

    // The scene's quad on black, lit as the scene says (with the lighting switch on), read back (ARGB, top row first).
    std::vector<uint32_t> Render(const Scene& s, bool lighting = true)
    {
        d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER | RDCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
        for (int32_t i = 0; i < LIGHT_COUNT; ++i) Light_Enable(i, false);
        Light_DefineAmbient(s.ambient);
        for (const Light& l : s.lights) {
            if (l.point)
                Light_DefinePoint(l.index, l.x, l.y, l.z, l.range, l.colour);
            else
                Light_DefineDirection(l.index, l.x, l.y, l.z, l.colour);
            Light_Enable(l.index, l.enabled);
        }
        Light_SetLighting(lighting);
        GR_D3D_SetMatrix(RDTS_WORLD, s.world);
        static const float corners[6][2] = {{-10, -10}, {10, -10}, {10, 10}, {-10, -10}, {10, 10}, {-10, 10}};
        GR_3D_PrimitiveBegin(RDPT_TRIANGLELIST, -1);
        for (const auto& c : corners) GR_3D_VertexNormalColour(c[0], c[1], 0, s.nx, s.ny, s.nz, s.vertexColour, 1.0f);
        GR_3D_PrimitiveEnd();
        GraphicsFlush();
        GR_3D_TransformSetIdentity();
        Light_SetLighting(false);
        return gltest::ReadBackBuffer(d);
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
};

TEST_F(GlLight, LitQuadsMatchTheEquation)
{
    const std::string dir = kvtest_py::Generate("tests/gfx/light_oracle.py", "");
    ASSERT_FALSE(dir.empty());
    const std::vector<Scene> scenes = ReadScenes(kvtest::ReadFile(dir + "scenes.txt"));
    ASSERT_GE(scenes.size(), 10u);
    for (const Scene& s : scenes) {
        SCOPED_TRACE(s.name);
        const std::vector<uint32_t> image = Render(s);
        // The middle of the quad and a few pixels around it: the quad is lit evenly.
        for (uint32_t y = 30; y <= 34; y += 2)
            for (uint32_t x = 30; x <= 34; x += 2) {
                const uint32_t p = image[size_t(y) * kSize + x];
                const int32_t got[3] = {int32_t((p >> 16) & 255), int32_t((p >> 8) & 255), int32_t(p & 255)};
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(got[k], s.expect[k], 2) << "channel " << k << " at (" << x << ", " << y << ")";
            }
        EXPECT_EQ(image[0], 0xFF000000u);  // outside the quad
    }
}

TEST_F(GlLight, TheSwitchOffDrawsTheVertexColour)
{
    Scene s;
    s.vertexColour = 0x2040C0;
    s.nx = 0, s.ny = 0, s.nz = 1;  // facing away from the light: lit, only the black ambient remains
    s.world = RDMatrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {32, 32, 100, 1}}};
    s.lights.push_back({false, 0, 0, 0, 1, 0, 0xFFFFFF, true});
    struct Case {
        bool lighting;
        int32_t expect[3];
    };
    for (const Case& c : {Case{true, {0, 0, 0}}, Case{false, {0xC0, 0x40, 0x20}}, Case{true, {0, 0, 0}}}) {
        SCOPED_TRACE(c.lighting);
        const uint32_t p = Render(s, c.lighting)[28 * kSize + 36];
        const int32_t got[3] = {int32_t((p >> 16) & 255), int32_t((p >> 8) & 255), int32_t(p & 255)};
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], c.expect[k], 2) << "channel " << k;
    }
}

}  // namespace gl_light_test
