// What the suites on the real OpenGL device share.
#pragma once
#include <SDL.h>
#include <gtest/gtest.h>

#include "gfx/matrix.h"
#include "gfx/matrices.h"
#include "platform/gl_device.h"
#include "platform/platform.h"
#include "platform/render_device.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace gltest {

// 2D over a size x size target, y down, texel centres on pixel centres, through the engine's matrices.
inline void Ortho2D(uint32_t size)
{
    const float w = float(size), h = float(size), zn = 1.0f, zf = 32000.0f;
    Matrix44 identity = Matrix_Identity(), view = Matrix_Identity(), proj{};
    view.m[12] = -w / 2;
    view.m[13] = -h / 2;
    view.m[14] = 16000.0f;
    proj.m[0] = 2.0f / w;
    proj.m[5] = 2.0f / -h;
    proj.m[10] = 1.0f / (zf - zn);
    proj.m[14] = zn / (zn - zf);
    proj.m[15] = 1.0f;
    proj.m[12] -= 1.0f / w;
    proj.m[13] += 1.0f / h;
    GR_D3D_SetMatrixUnshifted(RDTS_WORLD, identity);
    GR_D3D_SetMatrixUnshifted(RDTS_VIEW, view);
    GR_D3D_SetMatrixUnshifted(RDTS_PROJECTION, proj);
}

// A windowed back buffer of width x height (multisampled when samples is 2 ... 16) with depth and stencil,
// presented at once.
inline RDPresentParams PresentParams(void* window, uint32_t width, uint32_t height, uint32_t samples = 0)
{
    RDPresentParams p{};
    p.backBufferWidth = width;
    p.backBufferHeight = height;
    p.backBufferFormat = RDFMT_A8R8G8B8;
    p.backBufferCount = 1;
    p.multiSampleType = samples;
    p.swapEffect = RD_SWAPEFFECT_COPY;
    p.deviceWindow = window;
    p.windowed = 1;
    p.enableAutoDepthStencil = 1;
    p.autoDepthStencilFormat = RDFMT_D24S8;
    p.presentationInterval = RD_PRESENT_INTERVAL_IMMEDIATE;
    return p;
}

// SDL video on the offscreen driver and one hidden 64 x 64 OpenGL window for the whole test process; error
// says why there is none.
struct VideoWindow {
    std::string error;
    SDL_Window* window = nullptr;
};
inline VideoWindow& Video()
{
    static VideoWindow* shared = [] {
        auto* s = new VideoWindow;
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        if (!Platform_StartVideo()) {
            s->error = std::string("SDL video does not start: ") + SDL_GetError();
            return s;
        }
        if (GL_Device()->GetAdapterCount() == 0) {
            s->error = "no OpenGL 3.3 core context";
            return s;
        }
        s->window = SDL_CreateWindow("gl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (!s->window) s->error = std::string("no window: ") + SDL_GetError();
        return s;
    }();
    return *shared;
}

// What the GPU holds for a surface, as ARGB words, top row first.
inline std::vector<uint32_t> ReadSurface(RenderDevice* d, RDSurface* surface)
{
    std::vector<uint32_t> pixels(size_t(surface->width) * surface->height);
    RDSurface* copy = nullptr;
    EXPECT_EQ(d->CreateOffscreenPlainSurface(surface->width, surface->height, RDFMT_A8R8G8B8, RDPOOL_SYSTEMMEM, &copy),
              RD_OK);
    if (!copy) return pixels;
    EXPECT_EQ(d->GetRenderTargetData(surface, copy), RD_OK);
    RDLockedRect locked{};
    EXPECT_EQ(d->LockSurface(copy, &locked, nullptr, RDLOCK_READONLY), RD_OK);
    for (uint32_t y = 0; y < surface->height; ++y)
        std::memcpy(&pixels[size_t(y) * surface->width],
                    static_cast<uint8_t*>(locked.bits) + size_t(y) * size_t(locked.pitch), surface->width * 4);
    d->UnlockSurface(copy);
    copy->Release();
    return pixels;
}

inline std::vector<uint32_t> ReadBackBuffer(RenderDevice* d)
{
    RDSurface* bb = nullptr;
    EXPECT_EQ(d->GetBackBuffer(&bb), RD_OK);
    if (!bb) return {};
    std::vector<uint32_t> pixels = ReadSurface(d, bb);
    bb->Release();
    return pixels;
}

}  // namespace gltest
