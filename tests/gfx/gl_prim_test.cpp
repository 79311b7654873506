// The 2D shapes drawn through the batch onto the OpenGL device on the offscreen driver, read back and compared
// with outlines computed here: pixels whose centre lies strictly inside are lit, strictly outside unlit.
#include <SDL.h>
#include <gtest/gtest.h>

#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"
#include "gl_test_util.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace gl_prim_test {

constexpr uint32_t kSize = 64;

RDPresentParams Params(SDL_Window* window) { return gltest::PresentParams(window, kSize, kSize); }

using Shared = gltest::VideoWindow;
using gltest::Video;

// 2D over the whole target: a view down +z and a y-flipped orthographic projection moved half a pixel.
void Ortho2D()
{
    const float w = float(kSize), h = float(kSize), zn = 1.0f, zf = 32000.0f;
    RDMatrix identity{}, view{}, proj{};
    for (int i = 0; i < 4; ++i) identity.m[i][i] = view.m[i][i] = 1.0f;
    view.m[3][0] = -w / 2;
    view.m[3][1] = -h / 2;
    view.m[3][2] = 16000.0f;
    proj.m[0][0] = 2.0f / w;
    proj.m[1][1] = 2.0f / -h;
    proj.m[2][2] = 1.0f / (zf - zn);
    proj.m[3][2] = zn / (zn - zf);
    proj.m[3][3] = 1.0f;
    proj.m[3][0] -= 1.0f / w;
    proj.m[3][1] += 1.0f / h;
    // Through the engine's matrices, so code that saves and restores them (the manual clear) sees these.
    auto set = [](uint32_t which, const RDMatrix& m) {
        Matrix44 engine;
        std::memcpy(engine.m, m.m, sizeof engine.m);
        GR_D3D_SetMatrixUnshifted(which, engine);
    };
    set(RDTS_WORLD, identity);
    set(RDTS_VIEW, view);
    set(RDTS_PROJECTION, proj);
}

struct Pt {
    double x, y;
};

// 1 strictly inside the convex outline, -1 strictly outside, 0 too near an edge to judge.
int Side(const std::vector<Pt>& poly, double px, double py)
{
    double area = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt& a = poly[i];
        const Pt& b = poly[(i + 1) % poly.size()];
        area += a.x * b.y - b.x * a.y;
    }
    const double sign = area < 0 ? -1 : 1;
    bool inside = true;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt& a = poly[i];
        const Pt& b = poly[(i + 1) % poly.size()];
        const double len = std::hypot(b.x - a.x, b.y - a.y);
        if (len == 0) continue;
        const double d = sign * ((b.x - a.x) * (py - a.y) - (b.y - a.y) * (px - a.x)) / len;
        if (d < -1e-3) return -1;
        if (d <= 1e-3) inside = false;
    }
    return inside ? 1 : 0;
}

class GlPrim : public testing::Test {
protected:
    void SetUp() override
    {
        Shared& s = Video();
        ASSERT_NE(s.window, nullptr) << s.error;
        d = GL_Device();
        RDPresentParams p = Params(s.window);
        if (d->HasDevice()) {
            ASSERT_EQ(d->Reset(&p), RD_OK);
        } else {
            ASSERT_FALSE(RD_Failed(d->CreateDevice(0, RD_DEVTYPE_HAL, s.window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p)));
            made_ = true;
        }
        GR_Device = d;
        GPUState::SetDefaults();
        GPUState::Apply();
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        const uint32_t white = 0xFFFFFFFF;
        GR_WhiteTexture = GR_Texture_Create(1, 1, &white, 4);
        GR_WhiteTexturePage = GR_Texture_Page(GR_WhiteTexture);
        ASSERT_NE(GR_WhiteTexturePage, nullptr);
        ASSERT_NE(GR_WhiteTexturePage->texture, nullptr);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        GR_D3D_SetTextureStageOps(true);
        // Untextured shapes keep their vertex alpha over the white texel.
        d->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_MODULATE);
        d->SetTextureStageState(0, RDTSS_ALPHAOP, RDTOP_MODULATE);
        Ortho2D();
        GR_Depth = 0;
        GR_PrimOffsetX = GR_PrimOffsetY = 1.0f;
        GR_Draw_Init();
        GR_Draw_SetAlpha(1.0f);
        GR_Draw_SetColour(0xFFFFFF);
    }
    void TearDown() override
    {
        GR_Batch_FreeAll();
        GR_Batch = GRBatchState{};
        if (GR_WhiteTexture != -1) GR_Texture_Free(GR_WhiteTexture);
        GR_WhiteTexture = -1;
        GR_WhiteTexturePage = nullptr;
        GR_Device = nullptr;
        GPUState::SetDefaults();
        GR_Draw_SetColour(0);
        if (made_) d->ReleaseDevice();
    }

    // Draws on black and reads the back buffer back (ARGB, top row first).
    std::vector<uint32_t> Render(const std::function<void()>& draw)
    {
        d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER | RDCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
        draw();
        GraphicsFlush();
        return gltest::ReadBackBuffer(d);
    }

    RenderDevice* d = nullptr;
    bool made_ = false;
};

TEST_F(GlPrim, FilledRectangleLightsExactlyItsPixels)
{
    const std::vector<uint32_t> image = Render([] { GR_Draw_Rectangle(0, 0, 9, 9, false); });
    for (uint32_t y = 0; y < kSize; ++y)
        for (uint32_t x = 0; x < kSize; ++x) {
            const uint32_t want = x <= 9 && y <= 9 ? 0xFFFFFFFF : 0xFF000000;
            ASSERT_EQ(image[size_t(y) * kSize + x], want) << "pixel (" << x << ", " << y << ")";
        }
}

TEST_F(GlPrim, FilledShapesCoverThePixelsInsideTheirOutline)
{
    const double pi = 3.14159265358979;
    auto ring = [&](double cx, double cy, double rx, double ry, int n) {
        std::vector<Pt> poly;
        for (int i = 0; i < n; ++i)
            poly.push_back({cx + std::cos(2 * pi * i / n) * rx, cy + std::sin(2 * pi * i / n) * ry});
        return poly;
    };
    // Round rectangle (4, 4)-(40, 30), corners 12 x 8, precision 24: box + 1 and the far edges' 0.01.
    std::vector<Pt> round;
    {
        const double x1 = 5, y1 = 5, x2 = 41.01, y2 = 31.01, cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
        const double ax = (x2 - x1 - 12) / 2, ay = (y2 - y1 - 8) / 2;
        const double ox[4] = {cx + ax, cx - ax, cx - ax, cx + ax}, oy[4] = {cy + ay, cy + ay, cy - ay, cy - ay};
        for (int arc = 0; arc < 4; ++arc)
            for (int i = arc * 6; i <= arc * 6 + 6; ++i)
                round.push_back({ox[arc] + std::cos(2 * pi * i / 24) * 6, oy[arc] + std::sin(2 * pi * i / 24) * 4});
    }
    struct Row {
        const char* name;
        std::function<void()> draw;
        std::vector<Pt> outline;
    };
    const std::vector<Row> rows = {
        {"triangle", [] { GR_Draw_Triangle(3, 2, 50, 20, 12, 60, false); }, {{3, 2}, {50, 20}, {12, 60}}},
        {"circle", [] { GR_Draw_Circle(30, 30, 20, false); }, ring(31, 31, 20, 20, 24)},
        {"ellipse", [] { GR_Draw_Ellipse(50, 10, 4, 40, false); }, ring(28, 26, 23, 15, 24)},
        {"round rectangle", [] { GR_Draw_RoundRect(40, 30, 4, 4, 12, 8, false); }, round},
        {"wide line", [] { GR_Draw_LineWidth(5, 10, 50, 40, 7); },
         [] {
             const double l = std::hypot(45.0, 30.0), tx = 30 * 3.5 / l, ty = 45 * 3.5 / l;
             return std::vector<Pt>{{6 - tx, 11 + ty}, {51 - tx, 41 + ty}, {51 + tx, 41 - ty}, {6 + tx, 11 - ty}};
         }()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<uint32_t> image = Render(row.draw);
        int lit = 0;
        for (uint32_t y = 0; y < kSize; ++y)
            for (uint32_t x = 0; x < kSize; ++x) {
                const int side = Side(row.outline, x + 0.5, y + 0.5);
                if (side == 0) continue;
                const uint32_t got = image[size_t(y) * kSize + x];
                lit += side > 0;
                ASSERT_EQ(got, side > 0 ? 0xFFFFFFFFu : 0xFF000000u) << "pixel (" << x << ", " << y << ")";
            }
        EXPECT_GT(lit, 50);
    }
}

// Distance from (px, py) to the segment a-b.
double SegmentDistance(const Pt& a, const Pt& b, double px, double py)
{
    const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - a.x) * dx + (py - a.y) * dy) / len2 : 0;
    t = std::fmax(0, std::fmin(1, t));
    return std::hypot(px - (a.x + t * dx), py - (a.y + t * dy));
}

TEST_F(GlPrim, OutlinesLinesAndPointsLieWithinAPixelOfTheirPath)
{
    const double pi = 3.14159265358979;
    std::vector<Pt> circle;
    for (int i = 0; i <= 24; ++i)
        circle.push_back({31 + std::cos(2 * pi * i / 24) * 20, 31 + std::sin(2 * pi * i / 24) * 20});
    struct Row {
        const char* name;
        std::function<void()> draw;
        std::vector<Pt> path;  // a polyline; one point for a point
        int minimumLit;
    };
    const std::vector<Row> rows = {
        {"point", [] { GR_Draw_Point(10, 20); }, {{11, 21}}, 1},
        {"line", [] { GR_Draw_Line(3, 5, 50, 30); }, {{4, 6}, {51, 31}}, 45},
        {"rectangle outline", [] { GR_Draw_Rectangle(0, 0, 9, 9, true); },
         {{1, 1}, {10, 1}, {10, 10}, {1, 10}, {1, 1}}, 36},
        {"triangle outline", [] { GR_Draw_Triangle(3, 2, 50, 20, 12, 60, true); },
         {{3, 2}, {50, 20}, {12, 60}, {3, 2}}, 100},
        {"circle outline", [] { GR_Draw_Circle(30, 30, 20, true); }, circle, 100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<uint32_t> image = Render(row.draw);
        int lit = 0;
        for (uint32_t y = 0; y < kSize; ++y)
            for (uint32_t x = 0; x < kSize; ++x) {
                if (image[size_t(y) * kSize + x] == 0xFF000000) continue;
                ++lit;
                double best = 1e9;
                for (size_t i = 0; i < row.path.size(); ++i) {
                    const Pt& a = row.path[i];
                    const Pt& b = row.path[std::min(i + 1, row.path.size() - 1)];
                    best = std::fmin(best, SegmentDistance(a, b, x + 0.5, y + 0.5));
                }
                EXPECT_LE(best, 1.5) << "pixel (" << x << ", " << y << ")";
            }
        EXPECT_GE(lit, row.minimumLit);
    }
}

TEST_F(GlPrim, HealthBarAtThreeQuartersIsHalfWayFromMidToMax)
{
    const std::vector<uint32_t> image = Render(
        [] { GR_Draw_HealthBar(0, 0, 40, 10, 75, 0, 0x00FF00, 0x00FFFF, 0x0000FF, 0, false, false); });
    EXPECT_EQ(image[size_t(5) * kSize + 10], 0xFFFF8000u);  // (255, 128, 0)
    EXPECT_EQ(image[size_t(5) * kSize + 35], 0xFF000000u);  // past 75 % of the box
}

TEST_F(GlPrim, CornerColourRectangleInterpolatesItsFourCorners)
{
    const uint32_t corners[4] = {0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};  // script colours: blue in the top byte
    const std::vector<uint32_t> image = Render(
        [&] { GR_Draw_RectangleColour(0, 0, 39, 39, corners[0], corners[1], corners[2], corners[3], false); });
    // The fan's two triangles over vertex space (0, 0)-(40, 40), interpolated at the pixel centre.
    auto channel = [&](int corner, int shift) { return double((corners[corner] >> shift) & 255); };
    auto expected = [&](double px, double py, int shift) {
        const double u = px / 40, v = py / 40;
        if (u >= v) return channel(0, shift) + u * (channel(1, shift) - channel(0, shift)) +
                           v * (channel(2, shift) - channel(1, shift));
        return channel(0, shift) + v * (channel(3, shift) - channel(0, shift)) +
               u * (channel(2, shift) - channel(3, shift));
    };
    for (uint32_t y = 0; y < kSize; ++y)
        for (uint32_t x = 0; x < kSize; ++x) {
            const uint32_t got = image[size_t(y) * kSize + x];
            if (x >= 40 || y >= 40) {
                ASSERT_EQ(got, 0xFF000000u) << "pixel (" << x << ", " << y << ")";
                continue;
            }
            // Script colours hold red in the low byte; read-back is ARGB.
            const double r = expected(x + 0.5, y + 0.5, 0), g = expected(x + 0.5, y + 0.5, 8),
                         b = expected(x + 0.5, y + 0.5, 16);
            ASSERT_NEAR(double((got >> 16) & 255), r, 1.0) << "red at (" << x << ", " << y << ")";
            ASSERT_NEAR(double((got >> 8) & 255), g, 1.0) << "green at (" << x << ", " << y << ")";
            ASSERT_NEAR(double(got & 255), b, 1.0) << "blue at (" << x << ", " << y << ")";
        }
}

// A clear drawn as a quad must leave the same colour and depth as the device's own clear: over the whole
// target, inside a viewport, and whatever colour and depth write masks the game left set.
TEST_F(GlPrim, ManualClearsMatchDirectClears)
{
    struct Row {
        const char* name;
        uint32_t flags;
        int32_t viewport[4];
        uint32_t colourMask;
        uint32_t depthWrite;
    };
    const Row rows[] = {
        {"colour and depth", 3, {0, 0, 64, 64}, 15, 1},
        {"colour only", 1, {0, 0, 64, 64}, 15, 1},
        {"depth only", 2, {0, 0, 64, 64}, 15, 1},
        {"inside a viewport", 3, {8, 12, 30, 20}, 15, 1},
        {"under write masks", 3, {0, 0, 64, 64}, 1, 0},
        {"masks in a viewport", 3, {20, 4, 40, 50}, 2, 0},
    };
    GR_SceneCount = 1;
    auto run = [&](const Row& row, bool manual) {
        GR_ManualClears = manual;
        return Render([&] {
            // A near pattern with depth, then the clear, then a far probe over the left half that passes
            // only where the depth was cleared.
            GPUState::SetRenderState(GPURS_ZTESTENABLE, 1);
            GPUState::SetRenderState(GPURS_ZWRITEENABLE, 1);
            GPUState::SetRenderState(GPURS_ZFUNC, 4);
            GR_Depth = -8000;
            GR_Draw_SetColour(0x3060C0);
            GR_Draw_Rectangle(4, 4, 59, 59, false);
            GraphicsFlush();
            GPUState::SetRenderState(GPURS_COLORWRITEENABLE, row.colourMask);
            GPUState::SetRenderState(GPURS_ZWRITEENABLE, row.depthWrite);
            GR_D3D_SetDeviceViewport(row.viewport[0], row.viewport[1], row.viewport[2], row.viewport[3]);
            GR_D3D_Clear(0x80402010, 1.0f, 0, row.flags);
            GR_D3D_SetDeviceViewport(0, 0, kSize, kSize);
            GPUState::SetRenderState(GPURS_COLORWRITEENABLE, 15);
            GPUState::SetRenderState(GPURS_ZWRITEENABLE, 1);
            GR_Depth = 0;
            GR_Draw_SetColour(0x00FF00);
            GR_Draw_Rectangle(0, 0, 31, 63, false);
            GraphicsFlush();
        });
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<uint32_t> direct = run(row, false);
        const std::vector<uint32_t> manual = run(row, true);
        // The clear did something: its colour or the probe's shows where the pattern was.
        const size_t inside = size_t(row.viewport[1] + 5) * kSize + size_t(row.viewport[0] + 5);
        EXPECT_NE(direct[inside], 0xFFC06030u);
        for (size_t i = 0; i < direct.size(); ++i)
            ASSERT_EQ(manual[i], direct[i]) << "pixel (" << i % kSize << ", " << i / kSize << ")";
    }
    GR_ManualClears = false;
    GR_SceneCount = 0;
}

}  // namespace gl_prim_test
