// The texture manager: native textures, the render-target stack and the texture stages.
#pragma once
#include <cstdint>

#include "platform/render_device.h"

// Engine format codes.
constexpr int32_t TEXTURE_FORMAT_A8R8G8B8 = 6;

// A device texture and what survives it: its size, format and a 32-bit copy of its pixels.
struct NativeTexture {
    NativeTexture(int32_t width, int32_t height, int32_t mipLevels);
    ~NativeTexture();
    NativeTexture(const NativeTexture&) = delete;
    NativeTexture& operator=(const NativeTexture&) = delete;

    int32_t Width() const { return int32_t(packedSize & 0x1FFF) + 1; }
    int32_t Height() const { return int32_t((packedSize >> 13) & 0x1FFF) + 1; }

    int32_t formatCode = 0;
    uint32_t packedSize = 0;  // bits 0-12 width - 1, 13-25 height - 1, 26-31 mip levels - 1
    uint32_t flags = 0;       // 1 render target written since its resolve; 0x10000 default pool; 0x20000 managed
    RDTexture* texture = nullptr;
    RDSurface* surface = nullptr;
    RDSurface* depthSurface = nullptr;
    void* systemCopyBlock = nullptr;
    uint32_t* systemCopy = nullptr;  // level 0, row pitch width x 4
    const uint8_t* sourceData = nullptr;
    int32_t sourceSize = 0;
    NativeTexture* next = nullptr;
};
// Every native texture, newest first.
extern NativeTexture* Texture_List;

// An A8R8G8B8 texture holding the 32-bit pixels; null when the device has none to give.
NativeTexture* Texture_CreateFromBits(const uint32_t* pixels, int32_t width, int32_t height);
// Unbinds, releases the device objects, frees the copy and deletes the record (null ignored).
void Texture_Free(NativeTexture* texture);
// The device texture last bound is forgotten (the device's bindings are unknown after a reset).
void Texture_ForgetBindings();

// Stage 0 set up for textured drawing: the texture modulated by the vertex colour (blend) or as it is.
void GR_D3D_SetTextureStageOps(bool blend);

// The render-target stack.
bool RenderTarget_Push();
bool RenderTarget_Pop();
void RenderTarget_PopAll();
