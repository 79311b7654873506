// The texture table: pages numbered from 0, each a native texture and the size of what was put on it.
#include "gfx/textures.h"

#include "core/memory_manager.h"
#include "gfx/bitmap.h"
#include "gfx/surfaces.h"
#include "gfx/texpage.h"
#include "gfx/texture_manager.h"

#include <cstring>

namespace {

TexturePage** g_texturePages = nullptr;
int32_t g_texturePageCount = 0;

void PageSetScales(TexturePage* page, int32_t width, int32_t height)
{
    page->uScale = width > 0 ? 1.0f / float(width) : 1.0f;
    page->vScale = height > 0 ? 1.0f / float(height) : 1.0f;
}

}  // namespace

TexturePage* GR_Texture_NewPage(int32_t* index)
{
    *index = GR_Texture_AllocEntry();
    TexturePage* page = g_texturePages[*index];
    *page = TexturePage{};
    page->inUse = 1;
    page->uScale = page->vScale = 1.0f;
    return page;
}

int32_t GR_Texture_Count() { return g_texturePageCount; }

int32_t GR_Texture_AllocEntry()
{
    for (int32_t i = 0; i < g_texturePageCount; ++i)
        if (!g_texturePages[i]->inUse) return i;
    g_texturePages = static_cast<TexturePage**>(
        MemoryManager::ReAlloc(g_texturePages, size_t(g_texturePageCount + 1) * sizeof(TexturePage*), __FILE__,
                               __LINE__));
    g_texturePages[g_texturePageCount] =
        static_cast<TexturePage*>(MemoryManager::Alloc(sizeof(TexturePage), __FILE__, __LINE__, true));
    return g_texturePageCount++;
}

int32_t GR_Texture_CreateBlank(int32_t width, int32_t height, bool renderTarget, bool extraTarget, int32_t kind)
{
    int32_t index;
    TexturePage* page = GR_Texture_NewPage(&index);
    const uint32_t flags = renderTarget ? (extraTarget ? 10u : 2u) : 0u;
    const int32_t code = kind == 1 ? 12 : kind == 2 ? 13 : TEXTURE_FORMAT_A8R8G8B8;
    page->texture = Texture_Create(width, height, flags, code);
    page->width = int16_t(width);
    page->height = int16_t(height);
    if (page->texture) PageSetScales(page, page->texture->Width(), page->texture->Height());
    return index;
}

int32_t GR_Texture_Wrap(NativeTexture* texture, int32_t width, int32_t height)
{
    int32_t index;
    TexturePage* page = GR_Texture_NewPage(&index);
    page->texture = texture;
    page->width = int16_t(width);
    page->height = int16_t(height);
    PageSetScales(page, width, height);
    return index;
}

int32_t GR_Texture_Create(int32_t width, int32_t height, const void* data, uint32_t size)
{
    if (width < 1 || height < 1 || width > TEXTURE_MAX_SIZE || height > TEXTURE_MAX_SIZE) return -1;
    int32_t index;
    TexturePage* page = GR_Texture_NewPage(&index);
    TextureImageInfo info;
    if (data && uint64_t(size) == uint64_t(width) * uint64_t(height) * 4) {
        page->texture = Texture_CreateFromBits(static_cast<const uint32_t*>(data), width, height, &info);
    } else if (data) {
        // The caller's bytes: a "RAW " block is converted where it lies, as the game data's are.
        page->texture = Texture_CreateFromData(static_cast<uint8_t*>(const_cast<void*>(data)), int32_t(size), &info,
                                               TEXTURE_FORMAT_A8R8G8B8);
    }
    page->width = int16_t(width);
    page->height = int16_t(height);
    if (page->texture) PageSetScales(page, info.width, info.height);
    return index;
}

int32_t GR_Texture_CreateFromBitmap(const CBitmap32* bitmap)
{
    if (!bitmap) return -1;
    const CBitmap32Pixels& p = bitmap->GetPixels();
    return GR_Texture_Create(bitmap->GetWidth(), bitmap->GetHeight(), p.pixels, uint32_t(p.length));
}

int32_t GR_Texture_CreateFromAlpha(int32_t width, int32_t height, const uint8_t* alpha)
{
    if (width < 1 || height < 1 || width > TEXTURE_MAX_SIZE || height > TEXTURE_MAX_SIZE || !alpha) return -1;
    int32_t index;
    TexturePage* page = GR_Texture_NewPage(&index);
    page->texture = Texture_Create(width, height, 0, TEXTURE_FORMAT_A8R8G8B8);
    page->width = int16_t(width);
    page->height = int16_t(height);
    const size_t count = size_t(width) * size_t(height);
    auto* pixels = static_cast<uint32_t*>(MemAlloc(count * 4));
    for (size_t i = 0; i < count; ++i) pixels[i] = 0x00FFFFFFu | uint32_t(alpha[i]) << 24;
    const bool uploaded = page->texture && Texture_UpdateBits(page->texture, 0, width, height, pixels);
    MemFree(pixels);
    if (!uploaded) {
        GR_Texture_Free(index);
        return -1;
    }
    PageSetScales(page, page->texture->Width(), page->texture->Height());
    return index;
}

TexturePage* GR_Texture_Page(int32_t index)
{
    if (index < 0 || index >= g_texturePageCount || !g_texturePages[index]->inUse) return nullptr;
    return g_texturePages[index];
}

void GR_Texture_Free(int32_t index)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return;
    Texture_Free(page->texture);
    page->texture = nullptr;
    page->inUse = 0;
}

bool GR_Texture_Exists(int32_t index) { return GR_Texture_Page(index) != nullptr; }

NativeTexture* GR_Texture_Get(int32_t index)
{
    TexturePage* page = GR_Texture_Page(index);
    return page ? page->texture : nullptr;
}

float GR_Texture_GetUScale(int32_t index)
{
    const TexturePage* page = GR_Texture_Page(index);
    return page ? page->uScale * float(page->width) : 1.0f;
}

float GR_Texture_GetVScale(int32_t index)
{
    const TexturePage* page = GR_Texture_Page(index);
    return page ? page->vScale * float(page->height) : 1.0f;
}

// The device keeps every texture it has: preloading means creating a deferred one now.
void GR_Texture_Preload(int32_t index)
{
    if (TexturePage* page = GR_Texture_Page(index)) Texture_EnsureCreated(page->texture);
}

void GR_Texture_SetPriority(int32_t, int32_t) {}

void GR_Texture_FreeTable()
{
    for (int32_t i = 0; i < g_texturePageCount; ++i) MemFree(g_texturePages[i]);
    MemFree(g_texturePages);
    g_texturePages = nullptr;
    g_texturePageCount = 0;
}

void GR_Texture_FreeAll()
{
    for (int32_t i = 0; i < g_texturePageCount; ++i)
        if (g_texturePages[i]->inUse) {
            Texture_Free(g_texturePages[i]->texture);
            g_texturePages[i]->texture = nullptr;
        }
    GR_Texture_FreeTable();
    TexturePageEntry_UnregisterAll();
    Surface_FreeAll();
}
