// The OpenGL device drawing real pixels on the offscreen driver (a software renderer), read back through the
// device and compared exactly (±1 per channel only where blending or fog rounds). One device serves every test of
// the process; each test starts from a reset, which brings back the default state.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include "platform/display_platform.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"
#include "gl_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kSize = 64;  // the back buffer is kSize × kSize unless a test resets it otherwise

struct SharedDevice {
    bool ok = false;
    std::string error;
    SDL_Window* window = nullptr;
    RenderDevice* device = nullptr;
};

RDPresentParams Params(SDL_Window* window, uint32_t width, uint32_t height, uint32_t samples = 0)
{
    return gltest::PresentParams(window, width, height, samples);
}

// Made once: video on the offscreen driver, an adapter query before any window exists (the context starts on a
// hidden window), then the window the device presents to.
SharedDevice& Shared()
{
    static SharedDevice* shared = [] {
        auto* s = new SharedDevice;
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (!Platform_StartVideo()) {
            s->error = std::string("SDL video does not start: ") + SDL_GetError();
            return s;
        }
        s->device = GL_Device();
        if (s->device->GetAdapterCount() == 0) {
            s->error = "no adapter: no OpenGL 3.3 core context";
            return s;
        }
        s->window = SDL_CreateWindow("gl device test", 0, 0, int(kSize), int(kSize), SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!s->window) {
            s->error = std::string("no window: ") + SDL_GetError();
            return s;
        }
        RDPresentParams p = Params(s->window, kSize, kSize);
        const RDResult r = s->device->CreateDevice(0, RD_DEVTYPE_HAL, s->window,
                                                   RD_CREATE_HARDWARE_VERTEXPROCESSING | RD_CREATE_FPU_PRESERVE, &p);
        if (RD_Failed(r)) {
            char text[64];
            std::snprintf(text, sizeof text, "CreateDevice failed: %X", uint32_t(r));
            s->error = text;
            return s;
        }
        GLint major = 0, minor = 0, profile = 0;
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        glGetIntegerv(GL_MINOR_VERSION, &minor);
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
        std::printf("GL_RENDERER: %s\nGL_VERSION: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                    reinterpret_cast<const char*>(glGetString(GL_VERSION)));
        if (major * 10 + minor < 33 || !(profile & GL_CONTEXT_CORE_PROFILE_BIT)) {
            s->error = "the context is not OpenGL 3.3 core";
            return s;
        }
        s->ok = true;
        return s;
    }();
    return *shared;
}

// Ends the shared device at the end of the run, when a test made it.
struct SharedDeviceEnd final : testing::Environment {
    void TearDown() override
    {
        SharedDevice& s = Shared();
        if (s.device && s.device->HasDevice()) s.device->ReleaseDevice();
        if (s.window) SDL_DestroyWindow(s.window);
        s.window = nullptr;
    }
};

RDMatrix Identity()
{
    RDMatrix m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

// What the engine sends for 2D drawing over a w × h viewport: a view looking down +z from (cx, cy, −16000) and an
// orthographic projection with y flipped, moved half a pixel (element 12 − 1/w, element 13 + 1/h).
void Ortho2D(RenderDevice* d, float w, float h, float zn = 1.0f, float zf = 32000.0f, float eyeZ = -16000.0f)
{
    RDMatrix view = Identity();
    view.m[3][0] = -w / 2;
    view.m[3][1] = -h / 2;
    view.m[3][2] = -eyeZ;
    RDMatrix proj{};
    proj.m[0][0] = 2.0f / w;
    proj.m[1][1] = 2.0f / -h;
    proj.m[2][2] = 1.0f / (zf - zn);
    proj.m[3][2] = zn / (zn - zf);
    proj.m[3][3] = 1.0f;
    proj.m[3][0] -= 1.0f / w;
    proj.m[3][1] += 1.0f / h;
    d->SetTransform(RDTS_WORLD, Identity());
    d->SetTransform(RDTS_VIEW, view);
    d->SetTransform(RDTS_PROJECTION, proj);
}

// Depth goes straight through: z in the vertex is z after projection.
void OrthoDepth(RenderDevice* d, float w, float h, float zf = 1.0f) { Ortho2D(d, w, h, 0.0f, zf, 0.0f); }

struct V {  // xyz + diffuse (0x42)
    float x, y, z;
    uint32_t colour;
};
struct VT {  // xyz + diffuse + uv (0x142)
    float x, y, z;
    uint32_t colour;
    float u, v;
};
struct VNT {  // xyz + normal + diffuse + uv (0x152)
    float x, y, z, nx, ny, nz;
    uint32_t colour;
    float u, v;
};
constexpr uint32_t kFvfV = 0x42, kFvfVT = 0x142, kFvfVNT = 0x152;

void Quad(RenderDevice* d, float x0, float y0, float x1, float y1, uint32_t colour, float z = 0.0f)
{
    const V v[4] = {{x0, y0, z, colour}, {x1, y0, z, colour}, {x0, y1, z, colour}, {x1, y1, z, colour}};
    d->SetFVF(kFvfV);
    ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLESTRIP, 2, v, sizeof(V)), RD_OK);
}

void TexturedQuad(RenderDevice* d, float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1,
                  uint32_t colour = 0xFFFFFFFF)
{
    const VT v[4] = {{x0, y0, 0, colour, u0, v0}, {x1, y0, 0, colour, u1, v0}, {x0, y1, 0, colour, u0, v1},
                     {x1, y1, 0, colour, u1, v1}};
    d->SetFVF(kFvfVT);
    ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLESTRIP, 2, v, sizeof(VT)), RD_OK);
}

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;  // ARGB, top row first
    uint32_t At(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

Image ReadTarget(RenderDevice* d, RDSurface* target)
{
    Image image;
    RDSurface* copy = nullptr;
    EXPECT_EQ(d->CreateOffscreenPlainSurface(target->width, target->height, RDFMT_A8R8G8B8, RDPOOL_SYSTEMMEM, &copy), RD_OK);
    if (!copy) return image;
    EXPECT_EQ(d->GetRenderTargetData(target, copy), RD_OK);
    RDLockedRect locked{};
    EXPECT_EQ(d->LockSurface(copy, &locked, nullptr, RDLOCK_READONLY), RD_OK);
    image.width = target->width;
    image.height = target->height;
    image.pixels.resize(size_t(image.width) * image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        std::memcpy(&image.pixels[size_t(y) * image.width], static_cast<uint8_t*>(locked.bits) + size_t(y) * locked.pitch,
                    image.width * 4);
    d->UnlockSurface(copy);
    copy->Release();
    return image;
}

Image ReadBackBuffer(RenderDevice* d)
{
    RDSurface* bb = nullptr;
    EXPECT_EQ(d->GetBackBuffer(&bb), RD_OK);
    if (!bb) return {};
    Image image = ReadTarget(d, bb);
    bb->Release();
    return image;
}

std::string Hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
    return true;
}

// Every pixel inside the rectangle is `inside`, every other one `outside`; the first wrong one is named.
::testing::AssertionResult RectIs(const Image& image, RDRect r, uint32_t inside, uint32_t outside)
{
    if (image.pixels.empty()) return ::testing::AssertionFailure() << "nothing read back";
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const bool in = int32_t(x) >= r.left && int32_t(x) < r.right && int32_t(y) >= r.top && int32_t(y) < r.bottom;
            const uint32_t want = in ? inside : outside;
            if (image.At(x, y) != want)
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << Hex(image.At(x, y))
                                                     << ", expected " << Hex(want);
        }
    return ::testing::AssertionSuccess();
}

class GlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SharedDevice& s = Shared();
        ASSERT_TRUE(s.ok) << s.error;
        d = s.device;
        window = s.window;
        RDPresentParams p = Params(window, kSize, kSize);
        ASSERT_EQ(d->Reset(&p), RD_OK);
        // The engine's usual set-up: no culling, no depth test, stage 0 modulating texture and vertex colour.
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_ZENABLE, 0);
        d->SetRenderState(RDRS_LIGHTING, 0);
        d->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_MODULATE);
        d->SetTextureStageState(0, RDTSS_COLORARG1, RDTA_TEXTURE);
        d->SetTextureStageState(0, RDTSS_COLORARG2, RDTA_DIFFUSE);
        d->SetTextureStageState(0, RDTSS_ALPHAOP, RDTOP_MODULATE);
        d->SetTextureStageState(0, RDTSS_ALPHAARG1, RDTA_TEXTURE);
        d->SetTextureStageState(0, RDTSS_ALPHAARG2, RDTA_DIFFUSE);
        Ortho2D(d, float(kSize), float(kSize));
        ASSERT_EQ(d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER | RDCLEAR_STENCIL, 0xFF000000, 1.0f, 0), RD_OK);
    }

    RDTexture* MakeTarget(uint32_t w, uint32_t h)
    {
        RDTexture* t = nullptr;
        EXPECT_EQ(d->CreateTexture(w, h, 1, RDUSAGE_RENDERTARGET, RDFMT_A8R8G8B8, RDPOOL_DEFAULT, &t), RD_OK);
        return t;
    }

    // A managed texture filled with pixels (ARGB), row by row.
    RDTexture* MakeTexture(uint32_t w, uint32_t h, const std::vector<uint32_t>& pixels)
    {
        RDTexture* t = nullptr;
        EXPECT_EQ(d->CreateTexture(w, h, 1, 0, RDFMT_A8R8G8B8, RDPOOL_MANAGED, &t), RD_OK);
        if (!t) return nullptr;
        RDLockedRect locked{};
        EXPECT_EQ(d->LockRect(t, 0, &locked, nullptr, 0), RD_OK);
        for (uint32_t y = 0; y < h; ++y)
            std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(y) * locked.pitch, &pixels[size_t(y) * w], w * 4);
        EXPECT_EQ(d->UnlockRect(t, 0), RD_OK);
        return t;
    }

    RenderDevice* d = nullptr;
    SDL_Window* window = nullptr;
};

class GlDevice : public GlTest {};
class GlRenderState : public GlTest {};

const bool g_sharedDeviceEnd = (testing::AddGlobalTestEnvironment(new SharedDeviceEnd), true);

// ---- GlDevice ----------------------------------------------------------------------------------------------------

TEST_F(GlDevice, AdaptersDescribeTheContextAndDisplays)
{
    ASSERT_GE(d->GetAdapterCount(), 1u);
    RDAdapterIdentifier id{};
    ASSERT_EQ(d->GetAdapterIdentifier(0, &id), RD_OK);
    EXPECT_STREQ(id.description, reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    EXPECT_STREQ(id.vendor, reinterpret_cast<const char*>(glGetString(GL_VENDOR)));
    EXPECT_STREQ(id.version, reinterpret_cast<const char*>(glGetString(GL_VERSION)));
    EXPECT_STREQ(id.deviceName, SDL_GetDisplayName(0));
    EXPECT_EQ(d->GetAdapterIdentifier(d->GetAdapterCount(), &id), RDERR_INVALIDCALL);

    RDCaps caps{};
    ASSERT_EQ(d->GetDeviceCaps(0, RD_DEVTYPE_HAL, &caps), RD_OK);
    GLint maxTexture = 0, maxSamples = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
    EXPECT_EQ(caps.deviceType, RD_DEVTYPE_HAL);
    EXPECT_EQ(caps.numberOfAdaptersInGroup, 1u);
    EXPECT_EQ(caps.rasterCaps & (RDPRASTERCAPS_FOGTABLE | RDPRASTERCAPS_FOGVERTEX),
              RDPRASTERCAPS_FOGTABLE | RDPRASTERCAPS_FOGVERTEX);
    EXPECT_EQ(caps.maxTextureWidth, uint32_t(std::min(maxTexture, 8192)));
    EXPECT_EQ(caps.numSimultaneousRTs, 4u);
    EXPECT_EQ(caps.vertexShaderVersion, 0xFFFE0300u);
    EXPECT_EQ(caps.pixelShaderVersion, 0xFFFF0300u);
    EXPECT_EQ(caps.maxSamples, uint32_t(maxSamples));

    for (uint32_t samples : {0u, 1u, 2u, 3u, 4u, 8u, 16u, 32u}) {
        const bool supported = samples == 0 || ((samples == 2 || samples == 4 || samples == 8 || samples == 16) &&
                                                samples <= uint32_t(maxSamples));
        EXPECT_EQ(d->CheckDeviceMultiSampleType(0, RD_DEVTYPE_HAL, RDFMT_A8R8G8B8, 1, samples) == RD_OK, supported)
            << samples << " samples";
    }

    EXPECT_EQ(d->TestCooperativeLevel(), RD_OK);
}

TEST_F(GlDevice, ClearFillsTheTargetExactly)
{
    for (uint32_t colour : {0xFF0000FFu, 0x80402010u, 0x00FFFFFFu}) {
        ASSERT_EQ(d->Clear(RDCLEAR_TARGET, colour, 1.0f, 0), RD_OK);
        EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 0, 0}, 0, colour)) << Hex(colour);
    }
}

TEST_F(GlDevice, ClearStaysInsideTheViewport)
{
    const RDViewport viewports[] = {{0, 0, 10, 10, 0, 1}, {20, 12, 10, 10, 0, 1}, {54, 54, 10, 10, 0, 1}};
    for (const RDViewport& vp : viewports) {
        d->SetViewport({0, 0, kSize, kSize, 0, 1});
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        ASSERT_EQ(d->SetViewport(vp), RD_OK);
        ASSERT_EQ(d->Clear(RDCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), RD_OK);
        const RDRect r = {int32_t(vp.x), int32_t(vp.y), int32_t(vp.x + vp.width), int32_t(vp.y + vp.height)};
        EXPECT_TRUE(RectIs(ReadBackBuffer(d), r, 0xFF0000FF, 0xFF000000)) << "viewport at " << vp.x << ", " << vp.y;
    }
}

TEST_F(GlDevice, ClearIgnoresWriteMasksWhichStillHoldForDrawing)
{
    d->SetRenderState(RDRS_COLORWRITEENABLE, 0);
    d->SetRenderState(RDRS_ZWRITEENABLE, 0);
    d->SetRenderState(RDRS_ZENABLE, 1);
    d->SetRenderState(RDRS_ZFUNC, 4);  // less or equal
    Quad(d, 0, 0, 64, 64, 0xFFFFFFFF);  // drawn under both masks, so GL holds them when the clear comes
    ASSERT_EQ(d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER, 0xFF00FF00, 0.25f, 0), RD_OK);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 0, 0}, 0, 0xFF00FF00));
    // The mask is back for drawing: nothing reaches the colour.
    d->SetRenderState(RDRS_ZENABLE, 0);
    Quad(d, 0, 0, 64, 64, 0xFFFFFFFF);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 0, 0}, 0, 0xFF00FF00));
    d->SetRenderState(RDRS_ZENABLE, 1);
    // The depth clear went through: with colour on again, a quad behind 0.25 fails, one in front passes.
    d->SetRenderState(RDRS_COLORWRITEENABLE, 15);
    OrthoDepth(d, float(kSize), float(kSize));
    Quad(d, 0, 0, 32, 64, 0xFFFF0000, 0.5f);
    Quad(d, 32, 0, 64, 64, 0xFFFF0000, 0.2f);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {32, 0, 64, 64}, 0xFFFF0000, 0xFF00FF00));
}

TEST_F(GlDevice, QuadUnderTheHalfPixelOrthoCoversExactlyItsPixels)
{
    struct Case {
        RDViewport viewport;
        float x0, y0, x1, y1;
        RDRect covered;
    };
    const Case cases[] = {
        {{0, 0, 64, 64, 0, 1}, 0, 0, 10, 10, {0, 0, 10, 10}},
        {{0, 0, 64, 64, 0, 1}, 5, 7, 6, 8, {5, 7, 6, 8}},
        {{20, 12, 30, 40, 0, 1}, 0, 0, 10, 10, {20, 12, 30, 22}},  // ortho over the viewport
        {{0, 0, 64, 64, 0, 1}, 60, 60, 70, 70, {60, 60, 64, 64}},
    };
    for (const Case& c : cases) {
        d->SetViewport({0, 0, kSize, kSize, 0, 1});
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        d->SetViewport(c.viewport);
        Ortho2D(d, float(c.viewport.width), float(c.viewport.height));
        Quad(d, c.x0, c.y0, c.x1, c.y1, 0xFFFFFFFF);
        EXPECT_TRUE(RectIs(ReadBackBuffer(d), c.covered, 0xFFFFFFFF, 0xFF000000))
            << "quad (" << c.x0 << ", " << c.y0 << ")-(" << c.x1 << ", " << c.y1 << ") in viewport at " << c.viewport.x;
    }
}

TEST_F(GlDevice, DepthRunsFromZeroToOne)
{
    struct Case {
        float z;
        bool drawn;
    };
    const Case cases[] = {{0.0f, true}, {0.5f, true}, {0.9999f, true}, {1.01f, false}, {-0.01f, false}};
    d->SetRenderState(RDRS_ZENABLE, 1);
    d->SetRenderState(RDRS_ZFUNC, 4);  // less or equal
    OrthoDepth(d, float(kSize), float(kSize), 1.0f);
    for (const Case& c : cases) {
        d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        Quad(d, 0, 0, 8, 8, 0xFFFFFFFF, c.z);
        EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 8, 8}, c.drawn ? 0xFFFFFFFF : 0xFF000000, 0xFF000000))
            << "z " << c.z;
    }
    // Nearer wins under less-or-equal, whatever the order of drawing.
    d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    Quad(d, 0, 0, 8, 8, 0xFFFF0000, 0.3f);
    Quad(d, 0, 0, 8, 8, 0xFF00FF00, 0.6f);
    Quad(d, 8, 0, 16, 8, 0xFF00FF00, 0.6f);
    Quad(d, 8, 0, 16, 8, 0xFFFF0000, 0.3f);
    const Image image = ReadBackBuffer(d);
    EXPECT_EQ(image.At(3, 3), 0xFFFF0000u);
    EXPECT_EQ(image.At(11, 3), 0xFFFF0000u);
}

TEST_F(GlDevice, RenderTargetIsUprightWhenReadAndWhenSampled)
{
    RDTexture* target = MakeTarget(64, 32);
    ASSERT_NE(target, nullptr);
    RDSurface* surface = nullptr;
    ASSERT_EQ(d->GetSurfaceLevel(target, 0, &surface), RD_OK);
    RDSurface* again = nullptr;
    ASSERT_EQ(d->GetSurfaceLevel(target, 0, &again), RD_OK);
    EXPECT_EQ(again, surface);  // one surface per level
    again->Release();

    RDSurface* depth = nullptr;
    ASSERT_EQ(d->CreateDepthStencilSurface(64, 32, RDFMT_D24S8, 0, &depth), RD_OK);
    ASSERT_EQ(d->SetRenderTarget(0, surface), RD_OK);
    ASSERT_EQ(d->SetDepthStencilSurface(depth), RD_OK);
    RDViewport vp{};
    d->GetViewport(&vp);
    EXPECT_EQ(vp.width, 64u);  // a new target brings its own viewport
    EXPECT_EQ(vp.height, 32u);
    Ortho2D(d, 64, 32);
    d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    // Quadrants: red top left, green top right, blue bottom left, white bottom right.
    Quad(d, 0, 0, 32, 16, 0xFFFF0000);
    Quad(d, 32, 0, 64, 16, 0xFF00FF00);
    Quad(d, 0, 16, 32, 32, 0xFF0000FF);
    Quad(d, 32, 16, 64, 32, 0xFFFFFFFF);
    auto quadrant = [](uint32_t x, uint32_t y) {
        return y < 16 ? (x < 32 ? 0xFFFF0000u : 0xFF00FF00u) : (x < 32 ? 0xFF0000FFu : 0xFFFFFFFFu);
    };
    const Image direct = ReadTarget(d, surface);
    ASSERT_EQ(direct.pixels.size(), 64u * 32u);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(direct.At(x, y), quadrant(x, y)) << "target (" << x << ", " << y << ")";

    RDSurface* bb = nullptr;
    ASSERT_EQ(d->GetRenderTarget(0, &bb), RD_OK);
    bb->Release();
    ASSERT_EQ(d->GetBackBuffer(&bb), RD_OK);
    ASSERT_EQ(d->SetRenderTarget(0, bb), RD_OK);
    RDSurface* autoDepth = nullptr;
    d->SetDepthStencilSurface(nullptr);
    EXPECT_EQ(d->GetDepthStencilSurface(&autoDepth), RDERR_NOTFOUND);
    bb->Release();
    Ortho2D(d, float(kSize), float(kSize));
    d->SetTexture(0, target);
    TexturedQuad(d, 0, 0, 64, 32, 0, 0, 1, 1);
    const Image shown = ReadBackBuffer(d);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(shown.At(x, y), quadrant(x, y)) << "back buffer (" << x << ", " << y << ")";
    EXPECT_EQ(shown.At(10, 40), 0xFF000000u);

    d->SetTexture(0, nullptr);
    depth->Release();
    surface->Release();
    target->Release();
}

TEST_F(GlDevice, ManagedTexturesUploadAndReadBackInPlace)
{
    const std::vector<uint32_t> pixels = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,  //
                                          0xFF102030, 0xFF405060, 0xFF708090, 0xFFA0B0C0,  //
                                          0xFF000000, 0xFF808080, 0xFFFFFF00, 0xFF00FFFF,  //
                                          0xFF123456, 0xFF654321, 0xFFFF00FF, 0xFF010203};
    RDTexture* texture = MakeTexture(4, 4, pixels);
    ASSERT_NE(texture, nullptr);
    d->SetTexture(0, texture);
    TexturedQuad(d, 0, 0, 64, 64, 0, 0, 1, 1);
    Image image = ReadBackBuffer(d);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(image.At(x, y), pixels[(y / 16) * 4 + x / 16]) << x << ", " << y;

    // A locked rectangle starts at its own corner with the texture's pitch; the rest keeps its pixels.
    RDLockedRect locked{};
    const RDRect rect = {1, 2, 3, 4};
    ASSERT_EQ(d->LockRect(texture, 0, &locked, &rect, 0), RD_OK);
    EXPECT_EQ(locked.pitch, 16);
    EXPECT_EQ(d->LockRect(texture, 0, &locked, nullptr, 0), RDERR_INVALIDCALL);  // already locked
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) + y * locked.pitch)[x] = 0xFF336699;
    ASSERT_EQ(d->UnlockRect(texture, 0), RD_OK);
    TexturedQuad(d, 0, 0, 64, 64, 0, 0, 1, 1);
    image = ReadBackBuffer(d);
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const bool changed = x >= 1 && x < 3 && y >= 2 && y < 4;
            EXPECT_EQ(image.At(x * 16 + 8, y * 16 + 8), changed ? 0xFF336699u : pixels[y * 4 + x]) << x << ", " << y;
        }
    ASSERT_EQ(d->LockRect(texture, 0, &locked, nullptr, RDLOCK_READONLY), RD_OK);
    EXPECT_EQ(static_cast<uint32_t*>(locked.bits)[2 * 4 + 1], 0xFF336699u);
    EXPECT_EQ(static_cast<uint32_t*>(locked.bits)[3], 0xFFFFFFFFu);
    d->UnlockRect(texture, 0);

    // Modulated with the vertex colour, and the texel alone with SELECTARG1.
    TexturedQuad(d, 0, 0, 64, 64, 0, 0, 1, 1, 0xFF808080);
    EXPECT_TRUE(Near(ReadBackBuffer(d).At(56, 8), 0xFF808080, 1));
    d->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_SELECTARG1);
    TexturedQuad(d, 0, 0, 64, 64, 0, 0, 1, 1, 0xFF808080);
    EXPECT_EQ(ReadBackBuffer(d).At(56, 8), 0xFFFFFFFFu);
    d->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(GlDevice, StretchRectCopiesAndScalesBetweenSurfaces)
{
    RDTexture* target = MakeTarget(8, 8);
    RDSurface* surface = nullptr;
    ASSERT_EQ(d->GetSurfaceLevel(target, 0, &surface), RD_OK);
    RDSurface* bb = nullptr;
    d->GetBackBuffer(&bb);
    // Left half red, right half green on the back buffer; copied down into the 8 × 8 target, then up again doubled.
    Quad(d, 0, 0, 32, 64, 0xFFFF0000);
    Quad(d, 32, 0, 64, 64, 0xFF00FF00);
    ASSERT_EQ(d->StretchRect(bb, nullptr, surface, nullptr, RDTEXF_POINT), RD_OK);
    EXPECT_TRUE(RectIs(ReadTarget(d, surface), {0, 0, 4, 8}, 0xFFFF0000, 0xFF00FF00));
    d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    const RDRect to = {8, 8, 24, 24};
    ASSERT_EQ(d->StretchRect(surface, nullptr, bb, &to, RDTEXF_POINT), RD_OK);
    const Image image = ReadBackBuffer(d);
    EXPECT_EQ(image.At(8, 8), 0xFFFF0000u);
    EXPECT_EQ(image.At(15, 23), 0xFFFF0000u);
    EXPECT_EQ(image.At(16, 8), 0xFF00FF00u);
    EXPECT_EQ(image.At(23, 23), 0xFF00FF00u);
    EXPECT_EQ(image.At(24, 8), 0xFF000000u);
    EXPECT_EQ(image.At(8, 24), 0xFF000000u);
    const RDRect outside = {60, 60, 70, 70};
    EXPECT_EQ(d->StretchRect(surface, nullptr, bb, &outside, RDTEXF_POINT), RDERR_INVALIDCALL);
    bb->Release();
    surface->Release();
    target->Release();
}

TEST_F(GlDevice, VertexBuffersTakeDiscardAndNoOverwriteLocks)
{
    struct Case {
        bool mapped;
    };
    for (const Case c : {Case{false}, Case{true}}) {
        GL_SetVertexBufferMapping(c.mapped);
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        RDVertexBuffer* vb = nullptr;
        ASSERT_EQ(d->CreateVertexBuffer(8 * sizeof(V), RDUSAGE_DYNAMIC | RDUSAGE_WRITEONLY, kFvfV, RDPOOL_DEFAULT, &vb),
                  RD_OK);
        void* p = nullptr;
        ASSERT_EQ(d->LockVertexBuffer(vb, 0, 4 * sizeof(V), &p, RDLOCK_DISCARD), RD_OK);
        const V first[4] = {{0, 0, 0, 0xFFFF0000}, {8, 0, 0, 0xFFFF0000}, {0, 8, 0, 0xFFFF0000}, {8, 8, 0, 0xFFFF0000}};
        std::memcpy(p, first, sizeof first);
        ASSERT_EQ(d->UnlockVertexBuffer(vb), RD_OK);
        d->SetStreamSource(0, vb, 0, sizeof(V));
        d->SetFVF(kFvfV);
        ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 0, 2), RD_OK);
        // Appended behind the vertices just drawn, which stay as they were.
        ASSERT_EQ(d->LockVertexBuffer(vb, 4 * sizeof(V), 4 * sizeof(V), &p, RDLOCK_NOOVERWRITE), RD_OK);
        const V second[4] = {{16, 0, 0, 0xFF00FF00}, {24, 0, 0, 0xFF00FF00}, {16, 8, 0, 0xFF00FF00}, {24, 8, 0, 0xFF00FF00}};
        std::memcpy(p, second, sizeof second);
        EXPECT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 4, 2), RDERR_INVALIDCALL);  // not while locked
        ASSERT_EQ(d->UnlockVertexBuffer(vb), RD_OK);
        ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 4, 2), RD_OK);
        ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 0, 2), RD_OK);
        EXPECT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 5, 2), RDERR_INVALIDCALL);  // past the end
        const Image image = ReadBackBuffer(d);
        EXPECT_EQ(image.At(4, 4), 0xFFFF0000u) << (c.mapped ? "mapped" : "copied");
        EXPECT_EQ(image.At(20, 4), 0xFF00FF00u) << (c.mapped ? "mapped" : "copied");
        EXPECT_EQ(image.At(12, 4), 0xFF000000u);
        d->SetStreamSource(0, nullptr, 0, 0);
        vb->Release();
    }
    GL_SetVertexBufferMapping(true);
}

TEST_F(GlDevice, EveryVertexFormatAndPrimitiveType)
{
    // The 36-byte format with a normal: colour and coordinates are read from their places.
    RDTexture* texture = MakeTexture(2, 1, {0xFF0000FF, 0xFFFFFF00});
    d->SetTexture(0, texture);
    const VNT quad[4] = {{0, 0, 0, 0, 0, -1, 0xFFFFFFFF, 0, 0}, {64, 0, 0, 0, 0, -1, 0xFFFFFFFF, 1, 0},
                         {0, 8, 0, 0, 0, -1, 0xFFFFFFFF, 0, 1}, {64, 8, 0, 0, 0, -1, 0xFFFFFFFF, 1, 1}};
    d->SetFVF(kFvfVNT);
    ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLESTRIP, 2, quad, sizeof(VNT)), RD_OK);
    d->SetTexture(0, nullptr);
    texture->Release();
    Image image = ReadBackBuffer(d);
    EXPECT_EQ(image.At(10, 4), 0xFF0000FFu);
    EXPECT_EQ(image.At(50, 4), 0xFFFFFF00u);

    // Each primitive type: the pixel it must light and one it must leave (pixel centres at .5 under the ortho).
    struct Case {
        uint32_t type, primitives;
        std::vector<V> vertices;
        uint32_t litX, litY, darkX, darkY;
    };
    const uint32_t w = 0xFFFFFFFF;
    const Case cases[] = {
        {RDPT_POINTLIST, 2, {{5.5f, 20.5f, 0, w}, {9.5f, 20.5f, 0, w}}, 9, 20, 7, 20},
        {RDPT_LINELIST, 1, {{2.5f, 30.5f, 0, w}, {12.5f, 30.5f, 0, w}}, 7, 30, 7, 31},
        {RDPT_LINESTRIP, 2, {{2.5f, 40.5f, 0, w}, {12.5f, 40.5f, 0, w}, {12.5f, 50.5f, 0, w}}, 12, 45, 8, 45},
        {RDPT_TRIANGLELIST, 1, {{20, 20, 0, w}, {30, 20, 0, w}, {20, 30, 0, w}}, 21, 21, 29, 29},
        {RDPT_TRIANGLESTRIP, 2, {{40, 20, 0, w}, {50, 20, 0, w}, {40, 30, 0, w}, {50, 30, 0, w}}, 49, 29, 51, 25},
        {RDPT_TRIANGLEFAN, 2, {{20, 40, 0, w}, {30, 40, 0, w}, {30, 50, 0, w}, {20, 50, 0, w}}, 21, 48, 31, 45},
    };
    d->SetFVF(kFvfV);
    for (const Case& c : cases) {
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        ASSERT_EQ(d->DrawPrimitiveUP(c.type, c.primitives, c.vertices.data(), sizeof(V)), RD_OK);
        image = ReadBackBuffer(d);
        EXPECT_EQ(image.At(c.litX, c.litY), w) << "type " << c.type;
        EXPECT_EQ(image.At(c.darkX, c.darkY), 0xFF000000u) << "type " << c.type;
    }
    EXPECT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLELIST, 0, cases[0].vertices.data(), sizeof(V)), RDERR_INVALIDCALL);
    EXPECT_EQ(d->DrawPrimitiveUP(7, 1, cases[0].vertices.data(), sizeof(V)), RDERR_INVALIDCALL);
}

TEST_F(GlDevice, CountersSeeOnlyTheCallsThatChangeSomething)
{
    RDVertexBuffer* vb = nullptr;
    ASSERT_EQ(d->CreateVertexBuffer(4 * sizeof(V), 0, kFvfV, RDPOOL_MANAGED, &vb), RD_OK);
    void* p = nullptr;
    d->LockVertexBuffer(vb, 0, 0, &p, 0);
    const V quad[4] = {{0, 0, 0, 0x80FFFFFF}, {8, 0, 0, 0x80FFFFFF}, {0, 8, 0, 0x80FFFFFF}, {8, 8, 0, 0x80FFFFFF}};
    std::memcpy(p, quad, sizeof quad);
    d->UnlockVertexBuffer(vb);
    d->SetStreamSource(0, vb, 0, sizeof(V));
    d->SetFVF(kFvfV);
    d->SetRenderState(RDRS_ALPHABLENDENABLE, 1);
    d->SetRenderState(RDRS_SRCBLEND, 5);
    d->SetRenderState(RDRS_DESTBLEND, 6);
    ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 0, 2), RD_OK);

    RenderDevice::Counters before = d->FrameCounters();
    d->SetRenderState(RDRS_SRCBLEND, 5);
    d->SetRenderState(RDRS_ZENABLE, 0);
    d->SetRenderState(RDRS_DESTBLEND, 2);
    d->SetRenderState(RDRS_DESTBLEND, 6);  // back before any draw: nothing to send
    RenderDevice::Counters after = d->FrameCounters();
    EXPECT_EQ(after.calls, before.calls);
    ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 0, 2), RD_OK);
    after = d->FrameCounters();
    EXPECT_EQ(after.calls - before.calls, 1u);  // the draw alone
    EXPECT_EQ(after.draws - before.draws, 1u);

    before = after;
    d->SetRenderState(RDRS_DESTBLEND, 2);
    ASSERT_EQ(d->DrawPrimitive(RDPT_TRIANGLESTRIP, 0, 2), RD_OK);
    after = d->FrameCounters();
    EXPECT_EQ(after.calls - before.calls, 2u);  // the blend function and the draw

    ASSERT_EQ(d->Present(), RD_OK);
    EXPECT_EQ(d->LastFrameCounters().draws, after.draws);
    EXPECT_GT(d->LastFrameCounters().calls, after.calls);  // the present's own calls count in the frame presented
    EXPECT_EQ(d->FrameCounters().calls, 0u);
    EXPECT_EQ(d->FrameCounters().draws, 0u);
    d->SetStreamSource(0, nullptr, 0, 0);
    vb->Release();
}

TEST_F(GlDevice, ResetChangesSizeAndMultisampling)
{
    RDPresentParams p = Params(window, 32, 16);
    ASSERT_EQ(d->Reset(&p), RD_OK);
    RDSurface* bb = nullptr;
    d->GetBackBuffer(&bb);
    EXPECT_EQ(bb->width, 32u);
    EXPECT_EQ(bb->height, 16u);
    bb->Release();
    RDViewport vp{};
    d->GetViewport(&vp);
    EXPECT_EQ(vp.width, 32u);
    EXPECT_EQ(vp.height, 16u);
    EXPECT_EQ(d->Present(), RD_OK);  // scaled up to the window

    // A white triangle whose long edge runs diagonally: multisampling leaves partly covered pixels grey.
    struct Case {
        uint32_t samples;
        bool intermediate;
    };
    for (const Case c : {Case{4, true}, Case{0, false}}) {
        ASSERT_EQ(d->CheckDeviceMultiSampleType(0, RD_DEVTYPE_HAL, RDFMT_A8R8G8B8, 1, c.samples), RD_OK);
        p = Params(window, kSize, kSize, c.samples);
        ASSERT_EQ(d->Reset(&p), RD_OK);
        d->SetRenderState(RDRS_CULLMODE, 1);
        d->SetRenderState(RDRS_LIGHTING, 0);  // a reset turns the device's lighting back on
        Ortho2D(d, float(kSize), float(kSize));
        d->Clear(RDCLEAR_TARGET | RDCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        const V triangle[3] = {{0, 0, 0, 0xFFFFFFFF}, {64, 0, 0, 0xFFFFFFFF}, {0, 57, 0, 0xFFFFFFFF}};
        d->SetFVF(kFvfV);
        ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLELIST, 1, triangle, sizeof(V)), RD_OK);
        const Image image = ReadBackBuffer(d);
        int between = 0;
        for (uint32_t pixel : image.pixels) {
            const uint32_t red = (pixel >> 16) & 255;
            if (red != 0 && red != 255) ++between;
        }
        EXPECT_EQ(between > 0, c.intermediate) << c.samples << " samples, " << between << " grey pixels";
        EXPECT_EQ(image.At(2, 2), 0xFFFFFFFFu);
        EXPECT_EQ(image.At(60, 60), 0xFF000000u);
        EXPECT_EQ(d->Present(), RD_OK);
    }
    p = Params(window, kSize, kSize, 3);
    EXPECT_EQ(d->Reset(&p), RDERR_INVALIDCALL);
}

TEST_F(GlDevice, ResetToAnImpossibleSizeFailsAndKeepsTheOldBackBuffer)
{
    d->SetRenderState(RDRS_ALPHABLENDENABLE, 1);
    Quad(d, 16, 16, 24, 24, 0xFF00FF00);
    for (uint32_t size : {100000u, 0x7FFFFFFFu}) {
        RDPresentParams p = Params(window, size, size);
        EXPECT_TRUE(RD_Failed(d->Reset(&p))) << size;
    }
    RDSurface* bb = nullptr;
    d->GetBackBuffer(&bb);
    EXPECT_EQ(bb->width, kSize);
    bb->Release();
    // Still the same buffer: what was drawn before is there.
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {16, 16, 24, 24}, 0xFF00FF00, 0xFF000000));
    // The old buffer and the state drawn with still work: blending stayed on.
    d->Clear(RDCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    d->SetRenderState(RDRS_SRCBLEND, 2);
    d->SetRenderState(RDRS_DESTBLEND, 2);
    Quad(d, 0, 0, 8, 8, 0xFFFF0000);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 8, 8}, 0xFFFF00FF, 0xFF0000FF));
    EXPECT_EQ(d->Present(), RD_OK);
}

TEST_F(GlDevice, PresentShowsTheBackBufferUprightInTheWindow)
{
    Quad(d, 0, 0, 64, 8, 0xFFFF0000);  // a red band along the top
    d->SetRenderState(RDRS_COLORWRITEENABLE, 0);
    Quad(d, 0, 56, 64, 64, 0xFF00FF00);  // draws nothing, and leaves GL's colour mask closed
    ASSERT_EQ(d->Present(), RD_OK);
    // The offscreen window keeps what the present drew: its bottom-up rows put the band at the highest row.
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    uint32_t top = 0, bottom = 0;
    glReadPixels(4, GLint(kSize) - 2, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &top);
    glReadPixels(4, 1, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, &bottom);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
    EXPECT_EQ(top & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(bottom & 0xFFFFFF, 0u);
}

// Two displays with known modes, in place of the desktop's.
struct TwoDisplays final : DisplaySource {
    int32_t Count() override { return 2; }
    bool Name(int32_t display, char* out, size_t size) override
    {
        std::snprintf(out, size, "%s", display == 0 ? "first" : "a display name longer than the record holds");
        return true;
    }
    bool Bounds(int32_t, int32_t*, int32_t*, int32_t*, int32_t*) override { return false; }
    bool CurrentMode(int32_t display, PlatformDisplayMode* out) override
    {
        *out = display == 0 ? PlatformDisplayMode{1920, 1080, 32, 60, false} : PlatformDisplayMode{800, 600, 16, 0, false};
        return true;
    }
    int32_t ModeCount(int32_t display) override { return display == 0 ? 5 : 0; }
    bool Mode(int32_t, int32_t index, PlatformDisplayMode* out) override
    {
        static const PlatformDisplayMode kModes[5] = {{1920, 1080, 32, 60, false}, {800, 600, 16, 75, false},
                                                      {640, 480, 8, 60, false},    {1280, 720, 32, 0, false},
                                                      {0, 0, 0, 0, false}};
        *out = kModes[index];
        return true;
    }
    bool GetCursor(int32_t*, int32_t*) override { return false; }
    void SetCursor(int32_t, int32_t) override {}
};

TEST_F(GlDevice, AdaptersAreTheDisplaysWithTheirModes)
{
    TwoDisplays displays;
    PlatformDisplay_Set(&displays);
    struct Restore {
        ~Restore() { PlatformDisplay_Set(nullptr); }
    } restore;
    EXPECT_EQ(d->GetAdapterCount(), 2u);
    RDAdapterIdentifier id{};
    ASSERT_EQ(d->GetAdapterIdentifier(1, &id), RD_OK);
    EXPECT_STREQ(id.deviceName, "a display name longer than the ");  // cut to the record's 32 bytes
    RDDisplayMode mode{};
    ASSERT_EQ(d->GetAdapterDisplayMode(1, &mode), RD_OK);
    EXPECT_EQ(mode.format, RDFMT_R5G6B5);
    EXPECT_EQ(mode.refreshRate, 0u);  // unknown stays unknown
    // Only 16- and 32-bit modes, in the order the display lists them; the 32-bit ones answer either 32-bit format.
    struct Case {
        uint32_t format;
        std::vector<uint32_t> widths;
    };
    const Case cases[] = {{RDFMT_X8R8G8B8, {1920, 1280}}, {RDFMT_A8R8G8B8, {1920, 1280}}, {RDFMT_R5G6B5, {800}},
                          {RDFMT_UNKNOWN, {1920, 800, 1280}}};
    for (const Case& c : cases) {
        ASSERT_EQ(d->GetAdapterModeCount(0, c.format), c.widths.size()) << "format " << c.format;
        for (uint32_t i = 0; i < c.widths.size(); ++i) {
            ASSERT_EQ(d->EnumAdapterModes(0, c.format, i, &mode), RD_OK);
            EXPECT_EQ(mode.width, c.widths[i]) << "format " << c.format << ", mode " << i;
        }
        EXPECT_EQ(d->EnumAdapterModes(0, c.format, uint32_t(c.widths.size()), &mode), RDERR_INVALIDCALL);
    }
    ASSERT_EQ(d->EnumAdapterModes(0, RDFMT_X8R8G8B8, 1, &mode), RD_OK);
    EXPECT_EQ(mode.height, 720u);
    EXPECT_EQ(mode.refreshRate, 0u);
    EXPECT_EQ(mode.format, RDFMT_X8R8G8B8);
    EXPECT_EQ(d->GetAdapterModeCount(2, RDFMT_X8R8G8B8), 0u);
    EXPECT_EQ(d->GetAdapterDisplayMode(2, &mode), RDERR_INVALIDCALL);
}

// ---- GlRenderState -----------------------------------------------------------------------------------------------

float Channel(uint32_t c, int shift) { return float((c >> shift) & 255) / 255.0f; }

TEST_F(GlRenderState, BlendModesOverAKnownBackground)
{
    const uint32_t background = 0xFF4080C0, source = 0x80C06020;  // source alpha 128/255
    using Blend = float (*)(float s, float d, float a);
    struct Case {
        const char* name;
        uint32_t src, dest, op;
        Blend blend;
    };
    const Case cases[] = {
        {"normal", 5, 6, 1, [](float s, float d, float a) { return s * a + d * (1 - a); }},
        {"add", 5, 2, 1, [](float s, float d, float a) { return s * a + d; }},
        {"max factors", 5, 4, 1, [](float s, float d, float a) { return s * a + d * (1 - s); }},
        {"max", 5, 4, 5, [](float s, float d, float) { return std::max(s, d); }},
        {"min", 5, 4, 4, [](float s, float d, float) { return std::min(s, d); }},
        {"subtract", 1, 4, 1, [](float s, float d, float) { return d * (1 - s); }},
        {"subtract op", 2, 2, 2, [](float s, float d, float) { return s - d; }},
        {"reverse subtract", 2, 2, 3, [](float s, float d, float) { return d - s; }},
        {"both source alpha", 12, 1, 1, [](float s, float d, float a) { return s * a + d * (1 - a); }},
        {"both inverse source alpha", 13, 1, 1, [](float s, float d, float a) { return s * (1 - a) + d * a; }},
        {"blend factor", 14, 15, 1, [](float s, float, float) { return s; }},
        {"second source colour", 16, 17, 1, [](float s, float d, float) { return s * s + d * (1 - s); }},
        {"destination colour", 9, 1, 1, [](float s, float d, float) { return s * d; }},
    };
    d->SetRenderState(RDRS_ALPHABLENDENABLE, 1);
    for (const Case& c : cases) {
        d->Clear(RDCLEAR_TARGET, background, 1.0f, 0);
        d->SetRenderState(RDRS_SRCBLEND, c.src);
        d->SetRenderState(RDRS_DESTBLEND, c.dest);
        d->SetRenderState(RDRS_BLENDOP, c.op);
        Quad(d, 0, 0, 8, 8, source);
        const uint32_t got = ReadBackBuffer(d).At(4, 4);
        const float a = Channel(source, 24);
        uint32_t want = 0;
        for (int shift : {0, 8, 16}) {
            const float v = std::clamp(c.blend(Channel(source, shift), Channel(background, shift), a), 0.0f, 1.0f);
            want |= uint32_t(std::lround(v * 255.0f)) << shift;
        }
        EXPECT_TRUE(Near(got & 0xFFFFFF, want, 1)) << c.name << ": " << Hex(got) << ", expected " << Hex(want);
    }
}

TEST_F(GlRenderState, AlphaTestComparesTheRoundedAlphaWithTheReference)
{
    struct Case {
        uint32_t enable, func, ref, alpha;
        bool kept;
    };
    const Case cases[] = {
        {1, 7, 128, 0x7F, false}, {1, 7, 128, 0x80, true},  {1, 3, 128, 0x80, true},   {1, 3, 128, 0x81, false},
        {1, 2, 128, 0x80, false}, {1, 5, 0, 0x00, false},   {1, 5, 0, 0x01, true},     {1, 1, 0, 0xFF, false},
        {1, 8, 255, 0x00, true},  {0, 1, 0, 0xFF, true},    {1, 6, 0xFF, 0xFF, false}, {1, 4, 0x40, 0x40, true},
    };
    for (const Case& c : cases) {
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        d->SetRenderState(RDRS_ALPHATESTENABLE, c.enable);
        d->SetRenderState(RDRS_ALPHAFUNC, c.func);
        d->SetRenderState(RDRS_ALPHAREF, c.ref);
        Quad(d, 0, 0, 8, 8, (c.alpha << 24) | 0xFFFFFF);
        const uint32_t got = ReadBackBuffer(d).At(4, 4);
        EXPECT_EQ(got != 0xFF000000u, c.kept) << "func " << c.func << " ref " << c.ref << " alpha " << c.alpha;
    }
}

TEST_F(GlRenderState, ColourWriteMaskKeepsTheOtherChannels)
{
    struct Case {
        uint32_t mask, want;
    };
    const Case cases[] = {{15, 0xFFFFFFFF}, {7, 0x40FFFFFF}, {1, 0x40FF2233}, {8, 0xFF112233}, {0, 0x40112233}};
    for (const Case& c : cases) {
        d->Clear(RDCLEAR_TARGET, 0x40112233, 1.0f, 0);
        d->SetRenderState(RDRS_COLORWRITEENABLE, c.mask);
        Quad(d, 0, 0, 8, 8, 0xFFFFFFFF);
        EXPECT_EQ(ReadBackBuffer(d).At(4, 4), c.want) << "mask " << c.mask;
    }
}

TEST_F(GlRenderState, StencilWrittenThenTestedForEquality)
{
    d->SetRenderState(RDRS_STENCILENABLE, 1);
    d->SetRenderState(RDRS_STENCILFUNC, 8);  // always
    d->SetRenderState(RDRS_STENCILPASS, 3);  // replace
    d->SetRenderState(RDRS_STENCILREF, 1);
    d->SetRenderState(RDRS_COLORWRITEENABLE, 0);
    Quad(d, 8, 8, 24, 24, 0xFFFFFFFF);
    d->SetRenderState(RDRS_COLORWRITEENABLE, 15);
    d->SetRenderState(RDRS_STENCILFUNC, 3);  // equal
    d->SetRenderState(RDRS_STENCILPASS, 1);  // keep
    Quad(d, 0, 0, 64, 64, 0xFFFF0000);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {8, 8, 24, 24}, 0xFFFF0000, 0xFF000000));
    // A stencil clear empties it again.
    d->Clear(RDCLEAR_TARGET | RDCLEAR_STENCIL, 0xFF000000, 1.0f, 0);
    Quad(d, 0, 0, 64, 64, 0xFFFF0000);
    EXPECT_TRUE(RectIs(ReadBackBuffer(d), {0, 0, 0, 0}, 0, 0xFF000000));
}

TEST_F(GlRenderState, LinearFogAtHalf)
{
    auto bits = [](float f) {
        uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    struct Case {
        const char* name;
        uint32_t enable, tableMode, vertexMode;
        float start, end, z;
        uint32_t want;
    };
    const Case cases[] = {
        {"table, on depth", 1, 3, 0, 0.0f, 1.0f, 0.5f, 0xFF808080},
        {"table, a quarter", 1, 3, 0, 0.0f, 1.0f, 0.75f, 0xFF404040},
        {"vertex, on eye z", 1, 0, 3, 0.0f, 4.0f, 2.0f, 0xFF808080},
        {"off", 0, 3, 0, 0.0f, 1.0f, 0.5f, 0xFFFFFFFF},
        {"no mode", 1, 0, 0, 0.0f, 1.0f, 0.5f, 0xFFFFFFFF},
    };
    d->SetRenderState(RDRS_FOGCOLOR, 0xFF000000);
    OrthoDepth(d, float(kSize), float(kSize), 8.0f);
    for (const Case& c : cases) {
        d->SetRenderState(RDRS_FOGENABLE, c.enable);
        d->SetRenderState(RDRS_FOGTABLEMODE, c.tableMode);
        d->SetRenderState(RDRS_FOGVERTEXMODE, c.vertexMode);
        // Depth after projection is z / 8 here; table fog reads that depth, vertex fog the eye-space z.
        d->SetRenderState(RDRS_FOGSTART, bits(c.start));
        d->SetRenderState(RDRS_FOGEND, bits(c.end));
        d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        Quad(d, 0, 0, 8, 8, 0xFFFFFFFF, c.tableMode ? c.z * 8 : c.z);
        const uint32_t got = ReadBackBuffer(d).At(4, 4);
        EXPECT_TRUE(Near(got, c.want, 1)) << c.name << ": " << Hex(got);
    }
}

TEST_F(GlRenderState, FlatShadingTakesEachTrianglesFirstVertex)
{
    const V strip[4] = {{0, 0, 0, 0xFFFF0000}, {32, 0, 0, 0xFF00FF00}, {0, 32, 0, 0xFF0000FF}, {32, 32, 0, 0xFFFFFFFF}};
    d->SetFVF(kFvfV);
    d->SetRenderState(RDRS_SHADEMODE, 1);
    ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLESTRIP, 2, strip, sizeof(V)), RD_OK);
    Image image = ReadBackBuffer(d);
    EXPECT_EQ(image.At(4, 4), 0xFFFF0000u);    // first triangle: vertex 0
    EXPECT_EQ(image.At(12, 12), 0xFFFF0000u);
    EXPECT_EQ(image.At(28, 28), 0xFF00FF00u);  // second triangle: vertex 1
    d->SetRenderState(RDRS_SHADEMODE, 2);
    ASSERT_EQ(d->DrawPrimitiveUP(RDPT_TRIANGLESTRIP, 2, strip, sizeof(V)), RD_OK);
    image = ReadBackBuffer(d);
    const uint32_t mixed = image.At(12, 12);
    EXPECT_NE(mixed, 0xFFFF0000u);
    EXPECT_GT((mixed >> 8) & 255, 0u);
    EXPECT_GT(mixed & 255, 0u);
}

TEST_F(GlRenderState, CullingRemovesTrianglesByTheirWindingOnScreen)
{
    // Clockwise on screen (rows run down): top left, top right, bottom left.
    const V clockwise[3] = {{0, 0, 0, 0xFFFFFFFF}, {16, 0, 0, 0xFFFFFFFF}, {0, 16, 0, 0xFFFFFFFF}};
    const V counter[3] = {{32, 0, 0, 0xFFFFFFFF}, {32, 16, 0, 0xFFFFFFFF}, {48, 0, 0, 0xFFFFFFFF}};
    struct Case {
        uint32_t mode;
        bool clockwiseShown, counterShown;
    };
    const Case cases[] = {{1, true, true}, {2, false, true}, {3, true, false}};
    RDTexture* texture = MakeTarget(64, 32);
    RDSurface* surface = nullptr;
    d->GetSurfaceLevel(texture, 0, &surface);
    RDSurface* bb = nullptr;
    d->GetBackBuffer(&bb);
    for (RDSurface* target : {bb, surface}) {
        d->SetRenderTarget(0, target);
        Ortho2D(d, float(target->width), float(target->height));
        for (const Case& c : cases) {
            d->Clear(RDCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            d->SetRenderState(RDRS_CULLMODE, c.mode);
            d->SetFVF(kFvfV);
            d->DrawPrimitiveUP(RDPT_TRIANGLELIST, 1, clockwise, sizeof(V));
            d->DrawPrimitiveUP(RDPT_TRIANGLELIST, 1, counter, sizeof(V));
            const Image image = ReadTarget(d, target);
            const char* kind = target == bb ? "back buffer" : "texture target";
            EXPECT_EQ(image.At(3, 3) == 0xFFFFFFFFu, c.clockwiseShown) << kind << ", mode " << c.mode;
            EXPECT_EQ(image.At(35, 3) == 0xFFFFFFFFu, c.counterShown) << kind << ", mode " << c.mode;
        }
    }
    d->SetRenderTarget(0, bb);
    bb->Release();
    surface->Release();
    texture->Release();
}

TEST_F(GlRenderState, FillModesAndSamplerStates)
{
    d->SetRenderState(RDRS_FILLMODE, 2);  // wire frame: edges only
    Quad(d, 8.5f, 8.5f, 40.5f, 40.5f, 0xFFFFFFFF);
    Image image = ReadBackBuffer(d);
    EXPECT_EQ(image.At(8, 20), 0xFFFFFFFFu);
    EXPECT_EQ(image.At(16, 20), 0xFF000000u);
    d->SetRenderState(RDRS_FILLMODE, 3);

    // A black and a white texel stretched over 64 pixels: point sampling keeps two halves, linear grades them;
    // coordinates up to 2 repeat the texture when wrapping and hold the edge when clamped.
    RDTexture* texture = MakeTexture(2, 1, {0xFF000000, 0xFFFFFFFF});
    d->SetTexture(0, texture);
    struct Case {
        uint32_t filter, address;
        float u1;
        uint32_t x;
        uint32_t want;  // red channel at row 4, column x
        int tolerance;
    };
    const Case cases[] = {
        {RDTEXF_POINT, RDTADDRESS_CLAMP, 1, 31, 0, 0},     {RDTEXF_POINT, RDTADDRESS_CLAMP, 1, 32, 255, 0},
        {RDTEXF_LINEAR, RDTADDRESS_CLAMP, 1, 32, 128, 4},  {RDTEXF_LINEAR, RDTADDRESS_CLAMP, 1, 2, 0, 0},
        {RDTEXF_POINT, RDTADDRESS_WRAP, 2, 10, 0, 0},      {RDTEXF_POINT, RDTADDRESS_WRAP, 2, 20, 255, 0},
        {RDTEXF_POINT, RDTADDRESS_WRAP, 2, 40, 0, 0},      {RDTEXF_POINT, RDTADDRESS_WRAP, 2, 60, 255, 0},
        {RDTEXF_POINT, RDTADDRESS_CLAMP, 2, 40, 255, 0},   {RDTEXF_POINT, RDTADDRESS_CLAMP, 2, 60, 255, 0},
    };
    for (const Case& c : cases) {
        d->SetSamplerState(0, RDSAMP_MAGFILTER, c.filter);
        d->SetSamplerState(0, RDSAMP_MINFILTER, c.filter);
        d->SetSamplerState(0, RDSAMP_ADDRESSU, c.address);
        d->SetSamplerState(0, RDSAMP_ADDRESSV, c.address);
        TexturedQuad(d, 0, 0, 64, 8, 0, 0, c.u1, 1);
        const uint32_t red = (ReadBackBuffer(d).At(c.x, 4) >> 16) & 255;
        EXPECT_NEAR(int(red), int(c.want), c.tolerance)
            << "filter " << c.filter << ", address " << c.address << ", u to " << c.u1 << ", x " << c.x;
    }
    d->SetTexture(0, nullptr);
    texture->Release();
}

}  // namespace
