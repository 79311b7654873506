// The texture manager: every device texture of the engine, kept as a NativeTexture record that outlives its device
// texture (deferred creation, flushing), the render-target slots and their stack, and the texture stages.
#include "gfx/texture_manager.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/image.h"
#include "world/command_line.h"
#include "world/options.h"

#include <algorithm>
#include <cstring>

NativeTexture* Texture_List = nullptr;
int32_t Texture_SwitchCount = 0;
int32_t g_TextureScale = 1;

namespace {

constexpr int32_t kStackLevels = 8;
constexpr int32_t kSlots = 4;
constexpr int32_t kStages = 9;  // 0..8: stage 8 is the last a script may name

struct TexTargetLevel {
    RDSurface* surfaces[kSlots];
    RDSurface* depth;
    NativeTexture* textures[kSlots];
};

TexTargetLevel g_targetStack[kStackLevels];
int32_t g_targetDepth = 0;
NativeTexture* g_currentTargets[kSlots] = {};
NativeTexture* g_stageTextures[kStages] = {};
const RDTexture* g_lastBound = nullptr;
bool g_loggedCompress = false;

uint32_t TexDeviceFormat(int32_t code)
{
    switch (code) {
    case 0:
    case TEXTURE_FORMAT_A8R8G8B8: return RDFMT_A8R8G8B8;
    case 1: case 2: case 3: case 4: case 5:
        return uint32_t('D') | uint32_t('X') << 8 | uint32_t('T') << 16 | uint32_t('0' + code) << 24;
    case TEXTURE_FORMAT_D32: return 71;
    case TEXTURE_FORMAT_D24S8: return RDFMT_D24S8;
    case TEXTURE_FORMAT_R16F: return 111;
    case TEXTURE_FORMAT_R32F: return 114;
    case TEXTURE_FORMAT_A4R4G4B4: return 26;
    default: return uint32_t(code);
    }
}

int32_t TexBytesPerPixel(int32_t code) { return code == TEXTURE_FORMAT_A4R4G4B4 ? 2 : 4; }

int32_t TexNextPowerOfTwo(int32_t v)
{
    int32_t p = 1;
    while (p < v && p < (1 << 30)) p <<= 1;
    return p;
}

bool TexValidSize(int32_t width, int32_t height)
{
    return width >= 1 && height >= 1 && width <= TEXTURE_MAX_SIZE && height <= TEXTURE_MAX_SIZE;
}

void TexAllocSystemCopy(NativeTexture* t)
{
    const size_t bytes = size_t(t->Width()) * size_t(t->Height()) * 4 + 16;
    t->systemCopyBlock = MemoryManager::Alloc(bytes, __FILE__, __LINE__, true);
    t->systemCopy =
        reinterpret_cast<uint32_t*>((reinterpret_cast<uintptr_t>(t->systemCopyBlock) + 15) & ~uintptr_t(15));
}

void TexReleaseDeviceObjects(NativeTexture* t)
{
    if (t->depthSurface) t->depthSurface->Release();
    if (t->surface) t->surface->Release();
    if (t->texture) t->texture->Release();
    t->depthSurface = t->surface = nullptr;
    t->texture = nullptr;
    t->separateTarget = false;
}

// Render targets: a colour texture, a multisampled colour surface when the device is multisampled, and a
// depth-stencil buffer. Every step is tested; on failure nothing made here is kept.
RDResult TexCreateDeviceObjects(NativeTexture* t, bool target)
{
    if (!GR_Device) return RDERR_INVALIDCALL;
    const uint32_t w = uint32_t(t->Width()), h = uint32_t(t->Height());
    const uint32_t format = TexDeviceFormat(t->formatCode);
    RDResult r;
    if (target) {
        r = GR_Device->CreateTexture(w, h, 1, RDUSAGE_RENDERTARGET, format, RDPOOL_DEFAULT, &t->texture);
        if (!RD_Failed(r) && GR_MultisampleType) {
            r = GR_Device->CreateRenderTarget(w, h, format, GR_MultisampleType, &t->surface);
            t->separateTarget = !RD_Failed(r);
        }
        if (!RD_Failed(r)) {
            const uint32_t depthFormat =
                GR_PresentParams.autoDepthStencilFormat ? GR_PresentParams.autoDepthStencilFormat : RDFMT_D24S8;
            r = GR_Device->CreateDepthStencilSurface(w, h, depthFormat, GR_MultisampleType, &t->depthSurface);
        }
    } else {
        r = GR_Device->CreateTexture(w, h, uint32_t(t->MipLevels()), 0, format, RDPOOL_MANAGED, &t->texture);
    }
    if (!RD_Failed(r) && !t->surface) r = GR_Device->GetSurfaceLevel(t->texture, 0, &t->surface);
    if (RD_Failed(r)) TexReleaseDeviceObjects(t);
    return r;
}

// Copies rows of width x bpp bytes (source pitch the same) into level 0 of the device texture.
bool TexUploadRows(NativeTexture* t, const uint8_t* pixels, int32_t width, int32_t height, int32_t pitch)
{
    if (!GR_Device || !t->texture) return false;
    const int32_t bpp = TexBytesPerPixel(t->formatCode);
    const int32_t rows = std::min(height, t->Height()), columns = std::min(width, t->Width());
    RDLockedRect locked{};
    if (RD_Failed(GR_Device->LockRect(t->texture, 0, &locked, nullptr, 0))) return false;
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(y) * size_t(locked.pitch),
                    pixels + size_t(y) * size_t(pitch), size_t(columns) * size_t(bpp));
    return !RD_Failed(GR_Device->UnlockRect(t->texture, 0));
}

bool TexUploadSystemCopy(NativeTexture* t)
{
    const int32_t pitch = t->Width() * TexBytesPerPixel(t->formatCode);
    return TexUploadRows(t, reinterpret_cast<const uint8_t*>(t->systemCopy), t->Width(), t->Height(), pitch);
}

// A record of the size given, linked, with the format and the managed pool's flag.
NativeTexture* TexNewRecord(int32_t width, int32_t height, int32_t code)
{
    auto* t = new NativeTexture(width, height, 1);
    t->formatCode = code;
    t->flags = TEXTURE_POOL_MANAGED;
    return t;
}

// Forgets a record wherever it is bound: the pending batch, the stages, the target slots and the stack.
void TexUnbind(NativeTexture* t)
{
    if (GR_Batch.texture == t) GraphicsFlush();
    for (int32_t s = 0; s < kStages; ++s)
        if (g_stageTextures[s] == t) {
            if (GR_Device) GR_Device->SetTexture(uint32_t(s), nullptr);
            g_stageTextures[s] = nullptr;
        }
    if (t->texture && g_lastBound == t->texture) g_lastBound = nullptr;
    for (auto& current : g_currentTargets)
        if (current == t) current = nullptr;
    for (int32_t level = 0; level < g_targetDepth; ++level)
        for (auto& saved : g_targetStack[level].textures)
            if (saved == t) saved = nullptr;
}

uint32_t TexReadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void TexNoteCompression()
{
    if (g_RunFlags.compressTextures && !g_loggedCompress) {
        g_loggedCompress = true;
        DebugConsole->Output("Texture compression is not available: textures stay uncompressed\n");
    }
}

// A "RAW " block: its size, and its pixels converted once in place. False when the header is refused.
bool TexConvertRaw(uint8_t* data, int64_t size, int32_t* width, int32_t* height, int32_t* code)
{
    if (!data || size < 16) return false;
    const uint32_t w = TexReadU32(data + 4), h = TexReadU32(data + 8), kind = TexReadU32(data + 12);
    if (kind > 1 || w < 1 || h < 1 || w > uint32_t(TEXTURE_MAX_SIZE) || h > uint32_t(TEXTURE_MAX_SIZE)) return false;
    const uint64_t bpp = kind == 0 ? 4 : 2;
    if (16 + uint64_t(w) * h * bpp > uint64_t(size)) return false;
    uint8_t* p = data + 16;
    const size_t count = size_t(w) * h;
    if (kind == 0) {
        for (size_t i = 0; i < count; ++i, p += 4) std::swap(p[0], p[2]);
    } else {
        for (size_t i = 0; i < count; ++i, p += 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            v = uint16_t((v >> 12) | ((v >> 4) & 0xF0) | ((v << 4) & 0xF00) | (v << 12));
            std::memcpy(p, &v, 2);
        }
    }
    *width = int32_t(w);
    *height = int32_t(h);
    *code = kind == 0 ? TEXTURE_FORMAT_A8R8G8B8 : TEXTURE_FORMAT_A4R4G4B4;
    return true;
}

}  // namespace

// ---- Records -------------------------------------------------------------------------------------------------

NativeTexture::NativeTexture(int32_t width, int32_t height, int32_t mipLevels)
{
    SetSize(width, height, mipLevels);
    next = Texture_List;
    Texture_List = this;
}

NativeTexture::~NativeTexture()
{
    for (NativeTexture** link = &Texture_List; *link; link = &(*link)->next) {
        if (*link == this) {
            *link = next;
            break;
        }
    }
}

void NativeTexture::SetSize(int32_t width, int32_t height, int32_t mipLevels)
{
    packedSize = uint32_t(width - 1) & 0x1FFF;
    packedSize |= (uint32_t(height - 1) & 0x1FFF) << 13;
    packedSize |= (uint32_t(mipLevels - 1) & 0x3F) << 26;
}

bool Texture_Deferred() { return g_IniOptions.createTexturesOnDemand; }

int32_t Texture_GetMaxSize()
{
    const uint32_t w = GR_DeviceCaps.maxTextureWidth, h = GR_DeviceCaps.maxTextureHeight;
    if (w && h) return int32_t(std::min<uint32_t>({w, h, uint32_t(TEXTURE_MAX_SIZE)}));
    return TEXTURE_MAX_SIZE;
}

void Texture_SetPool(NativeTexture* t, int32_t pool)
{
    if (!t) return;
    t->flags &= ~(TEXTURE_POOL_DEFAULT | TEXTURE_POOL_MANAGED);
    if (pool == int32_t(RDPOOL_DEFAULT)) t->flags |= TEXTURE_POOL_DEFAULT;
    if (pool == int32_t(RDPOOL_MANAGED)) t->flags |= TEXTURE_POOL_MANAGED;
}

NativeTexture* Texture_Create(int32_t width, int32_t height, uint32_t flags, int32_t code)
{
    // Codes 12 and 13 (surface kinds 1 and 2) name no format any device makes.
    if (!TexValidSize(width, height) || code == 12 || code == 13) return nullptr;
    const bool target = flags & TEXTURE_RENDER_TARGET;
    const bool deferred = Texture_Deferred();
    if (!target && !deferred) {
        const int32_t limit = Texture_GetMaxSize();
        width = std::min(TexNextPowerOfTwo(width), limit);
        height = std::min(TexNextPowerOfTwo(height), limit);
    }
    NativeTexture* t = TexNewRecord(width, height, code);
    Texture_SetPool(t, target ? int32_t(RDPOOL_DEFAULT) : int32_t(RDPOOL_MANAGED));
    if (!target || !deferred) TexAllocSystemCopy(t);
    if (!deferred) {
        const RDResult r = TexCreateDeviceObjects(t, target);
        if (RD_Failed(r)) {
            DebugConsole->Output("CreateTexture failed - %08x\n", uint32_t(r));
            Texture_Free(t);
            return nullptr;
        }
    }
    return t;
}

NativeTexture* Texture_CreateFromBits(const uint32_t* pixels, int32_t width, int32_t height, TextureImageInfo* info)
{
    if (!pixels || !TexValidSize(width, height)) return nullptr;
    NativeTexture* t = Texture_Create(width, height, 0, TEXTURE_FORMAT_A8R8G8B8);
    if (!t) return nullptr;
    if (info) *info = {t->Width(), t->Height(), 32, TEXTURE_FORMAT_A8R8G8B8};
    if (!Texture_UpdateBits(t, 0, width, height, pixels) && !Texture_Deferred()) {
        Texture_Free(t);
        return nullptr;
    }
    return t;
}

NativeTexture* Texture_CreateFromData(uint8_t* data, int32_t size, TextureImageInfo* info, int32_t code)
{
    if (!data || size <= 0) return nullptr;
    TexNoteCompression();
    TextureImageInfo local;
    if (!info) info = &local;
    const bool deferred = Texture_Deferred();
    NativeTexture* t = nullptr;
    if (ImageLoader_IsRaw(data, size)) {
        int32_t w = 0, h = 0, rawCode = 0;
        if (!TexConvertRaw(data, size, &w, &h, &rawCode)) return nullptr;
        *info = {w, h, TexBytesPerPixel(rawCode) * 8, rawCode};
        t = TexNewRecord(w, h, rawCode);
        t->sourceData = data;
        t->sourceSize = size;
        if (!deferred && !SetupD3DTexture(t)) {
            Texture_Free(t);
            return nullptr;
        }
        return t;
    }
    if (deferred) {
        int32_t w = 0, h = 0;
        if (ImageLoader_IsPNG(data, size)) {
            t = TexNewRecord(1, 1, code);
            t->sourceData = data;
            t->sourceSize = size;
            Texture_ReadPNGSize(t);
            if (t->formatCode != TEXTURE_FORMAT_A8R8G8B8) {
                Texture_Free(t);
                return nullptr;
            }
            *info = {t->Width(), t->Height(), 32, t->formatCode};
            return t;
        }
        if (!ImageLoader_GetSize(data, size, &w, &h, false)) return nullptr;
        t = TexNewRecord(w, h, code);
        t->sourceData = data;
        t->sourceSize = size;
        *info = {w, h, 32, code};
        return t;
    }
    // Immediate: decoded now at the image's own size; the scale is not applied.
    int32_t w = 0, h = 0;
    uint32_t* pixels = ImageLoader_Decode(data, size, &w, &h, false);
    if (!pixels) return nullptr;
    t = TexNewRecord(w, h, code == 0 ? TEXTURE_FORMAT_A8R8G8B8 : code);
    TexAllocSystemCopy(t);
    std::memcpy(t->systemCopy, pixels, size_t(w) * size_t(h) * 4);
    MemFree(pixels);
    if (RD_Failed(TexCreateDeviceObjects(t, false)) || !TexUploadSystemCopy(t)) {
        Texture_Free(t);
        return nullptr;
    }
    *info = {w, h, 32, t->formatCode};
    return t;
}

void Texture_ReadPNGSize(NativeTexture* t)
{
    int32_t w = -1, h = -1;
    if (!t || !PNG_GetSize(t->sourceData, t->sourceSize, &w, &h, true) || !TexValidSize(w, h)) {
        DebugConsole->Output("an error occured\n");
        if (t) t->formatCode = TEXTURE_FORMAT_NONE;
        return;
    }
    t->SetSize(w, h, 1);
    t->formatCode = TEXTURE_FORMAT_A8R8G8B8;
}

bool SetupD3DTexture(NativeTexture* t)
{
    if (!t) return false;
    if (t->texture) return true;
    if (!GR_Device) return false;
    RDResult r = RD_OK;
    bool ok = true;
    if (t->sourceData && ImageLoader_IsRaw(t->sourceData, t->sourceSize)) {
        r = TexCreateDeviceObjects(t, false);
        const int32_t pitch = t->Width() * TexBytesPerPixel(t->formatCode);
        ok = !RD_Failed(r) && TexUploadRows(t, t->sourceData + 16, t->Width(), t->Height(), pitch);
    } else if (t->sourceData) {
        // The record's size already has the scale applied (PNG), so the decoder's halving gives that size.
        int32_t w = 0, h = 0;
        if (t->sourceFailed) return false;
        uint32_t* pixels = ImageLoader_Decode(t->sourceData, t->sourceSize, &w, &h, true);
        if (!pixels) {
            t->sourceFailed = true;
            return false;
        }
        r = TexCreateDeviceObjects(t, false);
        ok = !RD_Failed(r) && TexUploadRows(t, reinterpret_cast<const uint8_t*>(pixels), w, h, w * 4);
        MemFree(pixels);
    } else if (t->systemCopy) {
        r = TexCreateDeviceObjects(t, false);
        ok = !RD_Failed(r) && TexUploadSystemCopy(t);
    } else {
        r = TexCreateDeviceObjects(t, true);
        ok = !RD_Failed(r);
    }
    if (!ok) {
        if (RD_Failed(r)) DebugConsole->Output("SetupD3DTexture failed - %08x\n", uint32_t(r));
        TexReleaseDeviceObjects(t);
        return false;
    }
    return true;
}

void Texture_EnsureCreated(NativeTexture* t)
{
    if (t && !t->texture) SetupD3DTexture(t);
}

void Texture_Prefetch(NativeTexture* t)
{
    if (Texture_Deferred()) Texture_EnsureCreated(t);
}

void Texture_Flush(NativeTexture* t)
{
    if (!t || !Texture_Deferred()) return;
    TexUnbind(t);
    TexReleaseDeviceObjects(t);
}

void GR_Texture_FlushAll()
{
    for (NativeTexture* t = Texture_List; t; t = t->next) Texture_Flush(t);
}

void Texture_Free(NativeTexture* t)
{
    if (!t) return;
    TexUnbind(t);
    TexReleaseDeviceObjects(t);
    MemFree(t->systemCopyBlock);
    delete t;
}

bool Texture_UpdateBits(NativeTexture* t, int32_t level, int32_t width, int32_t height, const void* pixels)
{
    if (!t || !t->systemCopy || !pixels || level != 0 || width < 1 || height < 1) return false;
    const int32_t bpp = TexBytesPerPixel(t->formatCode);
    const int32_t rows = std::min(t->Height(), height), columns = std::min(t->Width(), width);
    auto* copy = reinterpret_cast<uint8_t*>(t->systemCopy);
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(copy + size_t(y) * size_t(t->Width()) * bpp,
                    static_cast<const uint8_t*>(pixels) + size_t(y) * size_t(width) * bpp, size_t(columns) * bpp);
    if (Texture_Deferred() && !t->texture) return SetupD3DTexture(t);
    return TexUploadSystemCopy(t);
}

bool Texture_UpdateRegion(NativeTexture* t, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!t || !t->systemCopy) return false;
    if (!t->texture) return true;
    const int32_t left = std::max(x, 0), top = std::max(y, 0);
    const int32_t right = int32_t(std::min<int64_t>(int64_t(x) + width, t->Width()));
    const int32_t bottom = int32_t(std::min<int64_t>(int64_t(y) + height, t->Height()));
    if (right <= left || bottom <= top) return true;
    if (!GR_Device) return false;
    const int32_t bpp = TexBytesPerPixel(t->formatCode);
    const RDRect rect{left, top, right, bottom};
    RDLockedRect locked{};
    if (RD_Failed(GR_Device->LockRect(t->texture, 0, &locked, &rect, 0))) return false;
    const auto* copy = reinterpret_cast<const uint8_t*>(t->systemCopy);
    for (int32_t row = top; row < bottom; ++row)
        std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(row - top) * size_t(locked.pitch),
                    copy + (size_t(row) * size_t(t->Width()) + size_t(left)) * bpp, size_t(right - left) * bpp);
    return !RD_Failed(GR_Device->UnlockRect(t->texture, 0));
}

void Texture_Resolve(NativeTexture* t)
{
    if (!t) return;
    if (Texture_Deferred() && !t->texture) return;
    t->flags &= ~TEXTURE_NEEDS_RESOLVE;
    // Without multisampling the target is level 0 itself: nothing to copy.
    if (!GR_Device || !t->texture || !t->surface || !t->separateTarget) return;
    RDSurface* level0 = nullptr;
    if (RD_Failed(GR_Device->GetSurfaceLevel(t->texture, 0, &level0))) return;
    GR_Device->StretchRect(t->surface, nullptr, level0, nullptr, RDTEXF_LINEAR);
    level0->Release();
}

void Texture_SetStage(int32_t stage, NativeTexture* t)
{
    if (stage < 0 || stage >= kStages || !GR_Device) return;
    if (!t) {
        GR_Device->SetTexture(uint32_t(stage), nullptr);
        g_stageTextures[stage] = nullptr;
        return;
    }
    Texture_EnsureCreated(t);
    if (t->flags & TEXTURE_NEEDS_RESOLVE) Texture_Resolve(t);
    GR_Device->SetTexture(uint32_t(stage), t->texture);
    g_stageTextures[stage] = t;
    if (t->texture != g_lastBound) {
        ++Texture_SwitchCount;
        g_lastBound = t->texture;
    }
}

void Texture_ForgetBindings()
{
    g_lastBound = nullptr;
    for (auto& s : g_stageTextures) s = nullptr;
}

void GR_D3D_SetTextureStageOps(bool blend)
{
    if (!GR_Device) return;
    if (blend) {
        GR_Device->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_MODULATE);
        GR_Device->SetTextureStageState(0, RDTSS_COLORARG1, RDTA_TEXTURE);
        GR_Device->SetTextureStageState(0, RDTSS_COLORARG2, RDTA_DIFFUSE);
        GR_Device->SetTextureStageState(0, RDTSS_ALPHAOP, RDTOP_MODULATE);
        GR_Device->SetTextureStageState(0, RDTSS_ALPHAARG1, RDTA_TEXTURE);
        GR_Device->SetTextureStageState(0, RDTSS_ALPHAARG2, RDTA_DIFFUSE);
    } else {
        GR_Device->SetTextureStageState(0, RDTSS_COLOROP, RDTOP_SELECTARG1);
        GR_Device->SetTextureStageState(0, RDTSS_ALPHAOP, RDTOP_SELECTARG1);
    }
}

// ---- Render targets ------------------------------------------------------------------------------------------

namespace {

int32_t TexSlotCount() { return GR_Device ? std::clamp(GR_MaxRenderTargets, 1, kSlots) : 1; }

// An empty saved slot is emptied only when something is bound there now (slot 0 is never empty).
bool TexSlotNeedsRestore(int32_t slot, RDSurface* saved)
{
    if (saved) return true;
    if (slot == 0) return false;
    RDSurface* bound = nullptr;
    if (RD_Failed(GR_Device->GetRenderTarget(uint32_t(slot), &bound)) || !bound) return false;
    bound->Release();
    return true;
}

}  // namespace

bool RenderTarget_Push()
{
    if (g_targetDepth >= kStackLevels || !GR_Device) return false;
    TexTargetLevel& level = g_targetStack[g_targetDepth];
    level = TexTargetLevel{};
    for (int32_t s = 0; s < TexSlotCount(); ++s) {
        if (RD_Failed(GR_Device->GetRenderTarget(uint32_t(s), &level.surfaces[s]))) level.surfaces[s] = nullptr;
        level.textures[s] = g_currentTargets[s];
    }
    if (RD_Failed(GR_Device->GetDepthStencilSurface(&level.depth))) level.depth = nullptr;
    ++g_targetDepth;
    return true;
}

bool RenderTarget_Pop()
{
    if (!GR_Device || g_targetDepth == 0) return false;
    GraphicsFlush();
    TexTargetLevel& level = g_targetStack[--g_targetDepth];
    bool ok = true;
    for (int32_t s = 0; s < kSlots; ++s) {
        if (ok && s < TexSlotCount() && TexSlotNeedsRestore(s, level.surfaces[s]) &&
            RD_Failed(GR_Device->SetRenderTarget(uint32_t(s), level.surfaces[s])))
            ok = false;
        if (level.surfaces[s]) level.surfaces[s]->Release();
        level.surfaces[s] = nullptr;
        if (!ok) continue;
        g_currentTargets[s] = level.textures[s];
        if (NativeTexture* t = level.textures[s]) {
            Texture_EnsureCreated(t);
            t->flags |= TEXTURE_NEEDS_RESOLVE;
        }
    }
    if (ok && RD_Failed(GR_Device->SetDepthStencilSurface(level.depth))) ok = false;
    if (level.depth) level.depth->Release();
    level.depth = nullptr;
    return ok;
}

void RenderTarget_PopAll()
{
    while (g_targetDepth > 0) {
        if (GR_Device) {
            RenderTarget_Pop();
            continue;
        }
        // The device went away under the stack: what it held is only released.
        TexTargetLevel& level = g_targetStack[--g_targetDepth];
        for (auto& s : level.surfaces)
            if (s) s->Release(), s = nullptr;
        if (level.depth) level.depth->Release(), level.depth = nullptr;
    }
}

bool RenderTarget_Set(int32_t slot, NativeTexture* t)
{
    if (!GR_Device) return false;
    GraphicsFlush();
    Texture_EnsureCreated(t);
    if (slot < 0 || slot >= TexSlotCount()) return false;
    RDResult r = GR_Device->SetRenderTarget(uint32_t(slot), t ? t->surface : nullptr);
    if (slot == 0 && t) r = GR_Device->SetDepthStencilSurface(t->depthSurface);
    g_currentTargets[slot] = t;
    if (t) t->flags |= TEXTURE_NEEDS_RESOLVE;
    return !RD_Failed(r);
}

NativeTexture* RenderTarget_Current(int32_t slot)
{
    return slot >= 0 && slot < kSlots ? g_currentTargets[slot] : nullptr;
}

int32_t RenderTarget_Depth() { return g_targetDepth; }
