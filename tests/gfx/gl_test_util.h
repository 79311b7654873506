// What the suites on the real OpenGL device share.
#pragma once
#include "platform/render_device.h"

#include <cstdint>

namespace gltest {

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

}  // namespace gltest
