// Read-back: device pixels into memory blocks and back. Render targets and the back buffer cannot be locked, so
// reads copy the rectangle into a temporary lockable target first; managed textures are locked directly.
#include "gfx/readback.h"

#include "core/console.h"
#include "core/memory_manager.h"
#include "gfx/batch.h"
#include "gfx/bitmap.h"
#include "gfx/device.h"
#include "gfx/image.h"
#include "gfx/matrices.h"
#include "gfx/surfaces.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "lib/file_areas.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

uint32_t* NewBlock(int32_t width, int32_t height, bool clear = true)
{
    return static_cast<uint32_t*>(
        MemoryManager::Alloc(size_t(width) * size_t(height) * 4, __FILE__, __LINE__, clear));
}

int32_t CutTo(int64_t wanted, int64_t limit)
{
    return int32_t(std::clamp<int64_t>(std::min(wanted, limit), -1, INT32_MAX));
}

// Blocks beyond the largest texture's pixel count are refused rather than allocated.
bool BlockTooLarge(int32_t width, int32_t height)
{
    return int64_t(width) * int64_t(height) > int64_t(TEXTURE_MAX_SIZE) * TEXTURE_MAX_SIZE;
}

bool DisplayModeReadable()
{
    RDDisplayMode mode{};
    return !RD_Failed(GR_Device->GetAdapterDisplayMode(0, &mode));
}

bool Is16Bit(const NativeTexture* t) { return t->formatCode == TEXTURE_FORMAT_A4R4G4B4; }

uint32_t Expand4444(uint16_t v)
{
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i) out |= ((uint32_t(v) >> (4 * i)) & 15u) * 17u << (8 * i);
    return out;
}

uint16_t Pack4444(uint32_t v)
{
    uint16_t out = 0;
    for (int i = 0; i < 4; ++i) out = uint16_t(out | ((v >> (8 * i + 4)) & 15u) << (4 * i));
    return out;
}

// Copies (x, y, w, h) of a device surface through a temporary lockable target of targetW x targetH into rows
// of the block (pitch blockWidth words). False when the device refuses any step.
bool ReadThroughTarget(RDSurface* source, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t targetW,
                       uint32_t targetH, uint32_t* block, int32_t blockWidth)
{
    RDSurface* temp = nullptr;
    if (RD_Failed(GR_Device->CreateRenderTarget(targetW, targetH, RDFMT_A8R8G8B8, 0, &temp)) || !temp) return false;
    const RDRect from{x, y, x + w, y + h}, to{0, 0, w, h};
    bool ok = !RD_Failed(GR_Device->StretchRect(source, &from, temp, &to, RDTEXF_LINEAR));
    RDLockedRect locked{};
    if (ok) ok = !RD_Failed(GR_Device->LockSurface(temp, &locked, &to, RDLOCK_READONLY));
    if (ok) {
        for (int32_t row = 0; row < h; ++row)
            std::memcpy(block + size_t(row) * size_t(blockWidth),
                        static_cast<const uint8_t*>(locked.bits) + size_t(row) * size_t(locked.pitch), size_t(w) * 4);
        GR_Device->UnlockSurface(temp);
    }
    temp->Release();
    return ok;
}

// The drawing target's surface and size: the back buffer, or the texture of the surface bound to slot 0. The
// surface comes with a reference the caller releases.
RDSurface* CurrentTarget(uint32_t* width, uint32_t* height)
{
    RDSurface* surface = nullptr;
    if (Surface_TargetIds[0] < 0) {
        if (RD_Failed(GR_Device->GetBackBuffer(&surface)) || !surface) return nullptr;
        *width = surface->width;
        *height = surface->height;
        return surface;
    }
    const Surface* s = Surface_Get(Surface_TargetIds[0]);
    NativeTexture* t = s ? GR_Texture_Get(s->texture) : nullptr;
    if (!t) return nullptr;
    Texture_EnsureCreated(t);
    if (!t->surface) return nullptr;
    t->surface->AddRef();
    *width = uint32_t(t->Width());
    *height = uint32_t(t->Height());
    return t->surface;
}

// (x, y, width, height) cut to a source of sourceW x sourceH and read through a target rounded up to multiples
// of 8; width and height receive the size read.
uint32_t* ReadSource(RDSurface* source, uint32_t sourceW, uint32_t sourceH, int32_t x, int32_t y, int32_t* width,
                     int32_t* height)
{
    const int32_t w = CutTo(*width, int64_t(sourceW) - x), h = CutTo(*height, int64_t(sourceH) - y);
    *width = std::max(w, 0);
    *height = std::max(h, 0);
    if (w <= 0 || h <= 0) return nullptr;
    // Every pixel of the block is read: it needs no clearing.
    uint32_t* block = NewBlock(w, h, false);
    if (!block) return nullptr;
    if (!ReadThroughTarget(source, x, y, w, h, (uint32_t(w) + 7) & ~7u, (uint32_t(h) + 7) & ~7u, block, w)) {
        MemFree(block);
        return nullptr;
    }
    return block;
}

// A rename, or a copy where the two lie on different file systems.
bool MoveFile(const char* from, const char* to)
{
    if (std::rename(from, to) == 0) return true;
    bool ok = false;
    if (FILE* in = std::fopen(from, "rb")) {
        if (FILE* out = std::fopen(to, "wb")) {
            char buffer[65536];
            size_t n;
            ok = true;
            while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) ok = ok && std::fwrite(buffer, 1, n, out) == n;
            ok = std::fclose(out) == 0 && ok;
        }
        std::fclose(in);
    }
    std::remove(from);
    return ok;
}

}  // namespace

uint32_t* GR_Screen_ReadPixels(int32_t areaWidth, int32_t areaHeight, int32_t x, int32_t y, int32_t* width,
                               int32_t* height)
{
    GraphicsFlush();
    if (!GR_Device || !width || !height) return nullptr;
    x = std::max(x, 0);
    y = std::max(y, 0);
    int32_t w = CutTo(*width, int64_t(areaWidth) - x), h = CutTo(*height, int64_t(areaHeight) - y);
    if (w <= 0 || h <= 0 || !DisplayModeReadable()) return nullptr;
    uint32_t sourceW = 0, sourceH = 0;
    RDSurface* source = CurrentTarget(&sourceW, &sourceH);
    if (!source) return nullptr;
    uint32_t* block = ReadSource(source, sourceW, sourceH, x, y, &w, &h);
    source->Release();
    *width = w;
    *height = h;
    return block;
}

uint32_t* GR_Texture_ReadPixels(NativeTexture* t, int32_t x, int32_t y, int32_t width, int32_t height)
{
    GraphicsFlush();
    x = std::max(x, 0);
    y = std::max(y, 0);
    if (!t || !GR_Device || width <= 0 || height <= 0 || BlockTooLarge(width, height) || !DisplayModeReadable())
        return nullptr;
    Texture_EnsureCreated(t);
    if (!t->texture || !t->surface) return nullptr;
    const int32_t w = CutTo(width, int64_t(t->Width()) - x), h = CutTo(height, int64_t(t->Height()) - y);
    if (w <= 0 || h <= 0) return nullptr;
    uint32_t* block = NewBlock(width, height);
    if (!block) return nullptr;
    if (t->texture->pool == RDPOOL_MANAGED) {
        const RDRect rect{x, y, x + w, y + h};
        RDLockedRect locked{};
        if (RD_Failed(GR_Device->LockRect(t->texture, 0, &locked, &rect, RDLOCK_READONLY))) {
            MemFree(block);
            return nullptr;
        }
        for (int32_t row = 0; row < h; ++row) {
            const auto* from = static_cast<const uint8_t*>(locked.bits) + size_t(row) * size_t(locked.pitch);
            uint32_t* to = block + size_t(row) * size_t(width);
            if (Is16Bit(t)) {
                for (int32_t i = 0; i < w; ++i) {
                    uint16_t v;
                    std::memcpy(&v, from + size_t(i) * 2, 2);
                    to[i] = Expand4444(v);
                }
            } else {
                std::memcpy(to, from, size_t(w) * 4);
            }
        }
        GR_Device->UnlockRect(t->texture, 0);
        return block;
    }
    // Only the part the texture covers is copied (through a target of that size): the rest of the block stays zero.
    if (!ReadThroughTarget(t->surface, x, y, w, h, uint32_t(w), uint32_t(h), block, width)) {
        MemFree(block);
        return nullptr;
    }
    return block;
}

uint32_t* GR_Texture_ReadPixels(int32_t page, int32_t x, int32_t y, int32_t width, int32_t height)
{
    return GR_Texture_ReadPixels(GR_Texture_Get(page), x, y, width, height);
}

void GR_Texture_WritePixels(const uint32_t* pixels, NativeTexture* t, int32_t x, int32_t y, int32_t width,
                            int32_t height)
{
    GraphicsFlush();
    x = std::max(x, 0);
    y = std::max(y, 0);
    if (!pixels || !t || !GR_Device || width < 1 || height < 1 || !DisplayModeReadable()) return;
    Texture_EnsureCreated(t);
    if (!t->texture || !t->surface) return;
    const int32_t w = CutTo(width, int64_t(t->Width()) - x), h = CutTo(height, int64_t(t->Height()) - y);
    if (w <= 0 || h <= 0) return;
    if (t->texture->pool == RDPOOL_MANAGED) {
        const RDRect rect{x, y, x + w, y + h};
        RDLockedRect locked{};
        if (RD_Failed(GR_Device->LockRect(t->texture, 0, &locked, &rect, 0))) return;
        const size_t bpp = Is16Bit(t) ? 2 : 4;
        for (int32_t row = 0; row < h; ++row) {
            const uint32_t* from = pixels + size_t(row) * size_t(width);
            auto* to = static_cast<uint8_t*>(locked.bits) + size_t(row) * size_t(locked.pitch);
            // The kept copy is what the texture is made from again after a flush.
            uint8_t* kept = t->systemCopy ? reinterpret_cast<uint8_t*>(t->systemCopy) +
                                                (size_t(y + row) * size_t(t->Width()) + size_t(x)) * bpp
                                          : nullptr;
            if (bpp == 2) {
                for (int32_t i = 0; i < w; ++i) {
                    const uint16_t v = Pack4444(from[i]);
                    std::memcpy(to + size_t(i) * 2, &v, 2);
                }
            } else {
                std::memcpy(to, from, size_t(w) * 4);
            }
            if (kept) std::memcpy(kept, to, size_t(w) * bpp);
        }
        GR_Device->UnlockRect(t->texture, 0);
        return;
    }
    RDSurface* temp = nullptr;
    if (RD_Failed(GR_Device->CreateRenderTarget(uint32_t(width), uint32_t(height), RDFMT_A8R8G8B8, 0, &temp)) ||
        !temp)
        return;
    RDLockedRect locked{};
    if (!RD_Failed(GR_Device->LockSurface(temp, &locked, nullptr, 0))) {
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(row) * size_t(locked.pitch),
                        pixels + size_t(row) * size_t(width), size_t(width) * 4);
        GR_Device->UnlockSurface(temp);
        const RDRect from{0, 0, w, h}, to{x, y, x + w, y + h};
        if (!RD_Failed(GR_Device->StretchRect(temp, &from, t->surface, &to, RDTEXF_LINEAR)))
            t->flags |= TEXTURE_NEEDS_RESOLVE;
    }
    temp->Release();
}

void GR_Texture_CopyRect(NativeTexture* destination, int32_t x, int32_t y, NativeTexture* source, int32_t sx,
                         int32_t sy, int32_t width, int32_t height)
{
    if (!destination || !source || !GR_Device) return;
    Texture_EnsureCreated(destination);
    Texture_EnsureCreated(source);
    GraphicsFlush();
    if (!destination->surface || !source->surface) return;
    int64_t w = width, h = height, dx = x, dy = y, fx = sx, fy = sy;
    // A rectangle starting left of (or above) either texture loses what lies outside; the rest keeps its place.
    if (fx < 0) w += fx, dx -= fx, fx = 0;
    if (fy < 0) h += fy, dy -= fy, fy = 0;
    if (dx < 0) w += dx, fx -= dx, dx = 0;
    if (dy < 0) h += dy, fy -= dy, dy = 0;
    w = std::min({w, destination->Width() - dx, source->Width() - fx});
    h = std::min({h, destination->Height() - dy, source->Height() - fy});
    if (w <= 0 || h <= 0) return;
    const RDRect from{int32_t(fx), int32_t(fy), int32_t(fx + w), int32_t(fy + h)};
    const RDRect to{int32_t(dx), int32_t(dy), int32_t(dx + w), int32_t(dy + h)};
    GR_Device->StretchRect(source->surface, &from, destination->surface, &to, RDTEXF_LINEAR);
    destination->flags |= TEXTURE_NEEDS_RESOLVE;
}

uint32_t GR_GetPixel(int32_t x, int32_t y)
{
    int32_t w = 1, h = 1;
    uint32_t* block = GR_Screen_ReadPixels(GR_RenderWidth, GR_RenderHeight, x, y, &w, &h);
    if (!block) return 0;
    const uint32_t v = block[0];
    MemFree(block);
    return (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
}

TBitmap* ReadBack_ToBitmap(const uint32_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width < 1 || height < 1) return nullptr;
    TBitmap* bitmap = TBitmap_Create();
    bitmap->SetPixelFormat(BITMAP_FORMAT_32);
    bitmap->SetWidth(width);
    bitmap->SetHeight(height);
    uint8_t* rows = nullptr;
    int32_t pitch = 0;
    bitmap->Lock(0, &rows, &pitch);
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(rows + size_t(row) * size_t(pitch), pixels + size_t(row) * size_t(width), size_t(width) * 4);
    bitmap->Unlock(rows);
    return bitmap;
}

TBitmap* GR_ScreenToBitmap(int32_t x, int32_t y, int32_t width, int32_t height)
{
    x = std::max(x, 0);
    y = std::max(y, 0);
    const int64_t viewW = int64_t(GR_ViewRect.right) - GR_ViewRect.left;
    const int64_t viewH = int64_t(GR_ViewRect.bottom) - GR_ViewRect.top;
    int32_t w = CutTo(width, viewW - x), h = CutTo(height, viewH - y);
    if (w < 1 || h < 1) return nullptr;
    uint32_t* block = GR_Screen_ReadPixels(int32_t(std::min<int64_t>(viewW, INT32_MAX)),
                                           int32_t(std::min<int64_t>(viewH, INT32_MAX)), x, y, &w, &h);
    if (!block) return nullptr;
    TBitmap* bitmap = ReadBack_ToBitmap(block, w, h);
    MemFree(block);
    return bitmap;
}

// ---- The snapshot test switch -------------------------------------------------------------------------------

bool ReadBack_TestSnapshot(int32_t frame)
{
    const char* text = std::getenv("KV_TEST_SNAPSHOT");
    const char* colon = text ? std::strchr(text, ':') : nullptr;
    if (!colon || colon == text || colon - text > 9 || !colon[1] || !GR_Device) return false;
    int32_t named = 0;
    for (const char* c = text; c < colon; ++c) {
        if (*c < '0' || *c > '9') return false;
        named = named * 10 + (*c - '0');
    }
    if (named != frame) return false;
    std::string path = colon + 1;
    if (path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
    }
    GraphicsFlush();
    RDSurface* backBuffer = nullptr;
    uint32_t* block = nullptr;
    int32_t w = 0, h = 0;
    if (!RD_Failed(GR_Device->GetBackBuffer(&backBuffer)) && backBuffer) {
        w = int32_t(backBuffer->width);
        h = int32_t(backBuffer->height);
        block = ReadSource(backBuffer, backBuffer->width, backBuffer->height, 0, 0, &w, &h);
        backBuffer->Release();
    }
    bool written = false;
    if (block) {
        // The PNG writer takes red, green, blue, alpha bytes.
        const size_t count = size_t(w) * size_t(h);
        for (size_t i = 0; i < count; ++i) {
            const uint32_t v = block[i];
            block[i] = (v & 0xFF00FF00u) | (v & 0xFFu) << 16 | (v >> 16 & 0xFFu);
        }
        // Written into the save area, as every PNG is, then moved to where the tester named it (names inside the
        // game's folders would otherwise be redirected).
        const char* kStaged = "kv_test_snapshot.png";
        char staged[4096];
        written = write_png_file(kStaged, reinterpret_cast<const uint8_t*>(block), w, h) &&
                  SaveArea_ResolvePath(staged, sizeof staged, kStaged) && MoveFile(staged, path.c_str());
        MemFree(block);
    }
    DebugConsole->Output(written ? "Snapshot of frame %d written to %s\n" : "Snapshot of frame %d not written to %s\n",
                         frame, path.c_str());
    return written;
}
