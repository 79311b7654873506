// The texture manager: native textures, the render-target stack and the texture stages.
#pragma once
#include <cstdint>

#include "platform/render_device.h"

// Engine format codes.
constexpr int32_t TEXTURE_FORMAT_NONE = 0;
constexpr int32_t TEXTURE_FORMAT_A8R8G8B8 = 6;
constexpr int32_t TEXTURE_FORMAT_D32 = 7;
constexpr int32_t TEXTURE_FORMAT_D24S8 = 8;
constexpr int32_t TEXTURE_FORMAT_R16F = 9;
constexpr int32_t TEXTURE_FORMAT_R32F = 10;
constexpr int32_t TEXTURE_FORMAT_A4R4G4B4 = 11;
// Sizes are packed in 13 bits.
constexpr int32_t TEXTURE_MAX_SIZE = 8192;

// Texture_Create flags.
constexpr uint32_t TEXTURE_RENDER_TARGET = 2;
// NativeTexture flags.
constexpr uint32_t TEXTURE_NEEDS_RESOLVE = 1;
constexpr uint32_t TEXTURE_POOL_DEFAULT = 0x10000;
constexpr uint32_t TEXTURE_POOL_MANAGED = 0x20000;

// A device texture and what survives it: its size, format and a 32-bit copy of its pixels.
struct NativeTexture {
    NativeTexture(int32_t width, int32_t height, int32_t mipLevels);
    ~NativeTexture();
    NativeTexture(const NativeTexture&) = delete;
    NativeTexture& operator=(const NativeTexture&) = delete;

    int32_t Width() const { return int32_t(packedSize & 0x1FFF) + 1; }
    int32_t Height() const { return int32_t((packedSize >> 13) & 0x1FFF) + 1; }
    int32_t MipLevels() const { return int32_t(packedSize >> 26) + 1; }
    void SetSize(int32_t width, int32_t height, int32_t mipLevels);

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
    bool separateTarget = false;  // drawing goes to a multisampled surface, copied into the texture on resolve
    bool sourceFailed = false;    // the source data could not be decoded: not tried again on every use
};
// Every native texture, newest first.
extern NativeTexture* Texture_List;

// What a creation reports about the image it made the texture from.
struct TextureImageInfo {
    int32_t width = 0, height = 0;
    int32_t bitsPerPixel = 32;
    int32_t format = TEXTURE_FORMAT_A8R8G8B8;
};

// Textures are made on first use (options.ini's CreateTexturesOnDemand) rather than at creation.
bool Texture_Deferred();
// Texture switches on the stages since start (the debug overlay shows it).
extern int32_t Texture_SwitchCount;

int32_t Texture_GetMaxSize();
// flags & TEXTURE_RENDER_TARGET: a render target. Null when the device refuses any part (nothing is kept).
NativeTexture* Texture_Create(int32_t width, int32_t height, uint32_t flags, int32_t formatCode);
// An A8R8G8B8 texture holding the 32-bit pixels; null when the device has none to give.
NativeTexture* Texture_CreateFromBits(const uint32_t* pixels, int32_t width, int32_t height,
                                      TextureImageInfo* info = nullptr);
// From a "RAW " block or an encoded image (PNG, JPEG, GIF, BMP). A "RAW " block is converted in place.
NativeTexture* Texture_CreateFromData(uint8_t* data, int32_t size, TextureImageInfo* info, int32_t formatCode);
void Texture_SetPool(NativeTexture* texture, int32_t pool);
// Makes the device texture of a record that has none; false when the device refused.
bool SetupD3DTexture(NativeTexture* texture);
void Texture_EnsureCreated(NativeTexture* texture);
void Texture_Prefetch(NativeTexture* texture);
// Deferred mode only: the device objects go, the record stays.
void Texture_Flush(NativeTexture* texture);
void GR_Texture_FlushAll();
// Unbinds, releases the device objects, frees the copy and deletes the record (null ignored).
void Texture_Free(NativeTexture* texture);
void Texture_ReadPNGSize(NativeTexture* texture);
bool Texture_UpdateBits(NativeTexture* texture, int32_t level, int32_t width, int32_t height, const void* pixels);
bool Texture_UpdateRegion(NativeTexture* texture, int32_t x, int32_t y, int32_t width, int32_t height);
void Texture_Resolve(NativeTexture* texture);
// Stages above 8 are ignored; null unbinds.
void Texture_SetStage(int32_t stage, NativeTexture* texture);
// The device texture last bound is forgotten (the device's bindings are unknown after a reset).
void Texture_ForgetBindings();

// Stage 0 set up for textured drawing: the texture modulated by the vertex colour (blend) or as it is.
void GR_D3D_SetTextureStageOps(bool blend);

// The render-target stack (8 levels) and the current target of each slot.
bool RenderTarget_Push();
bool RenderTarget_Pop();
void RenderTarget_PopAll();
bool RenderTarget_Set(int32_t slot, NativeTexture* texture);
NativeTexture* RenderTarget_Current(int32_t slot);
int32_t RenderTarget_Depth();

// The decoders behind encoded texture data: "RAW " blocks are handled by the manager, these take PNG, JPEG,
// GIF and BMP. Decode gives a new memory-manager block of 0xAARRGGBB words (MemFree) or null; halve divides
// a PNG by the texture scale. GetSize reads the header only.
bool ImageLoader_IsRaw(const uint8_t* data, int64_t size);
bool ImageLoader_IsPNG(const uint8_t* data, int64_t size);
uint32_t* ImageLoader_Decode(const uint8_t* data, int64_t size, int32_t* width, int32_t* height, bool halve);
bool ImageLoader_GetSize(const uint8_t* data, int64_t size, int32_t* width, int32_t* height, bool halve);
