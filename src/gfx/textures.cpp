// The texture table's core and the native textures it holds.
#include "gfx/textures.h"

#include "core/memory_manager.h"
#include "gfx/texture_manager.h"

#include <cstring>

NativeTexture* Texture_List = nullptr;

namespace {

TexturePage** g_texturePages = nullptr;
int32_t g_texturePageCount = 0;

}  // namespace

// ---- Native textures ---------------------------------------------------------------------------------------

NativeTexture::NativeTexture(int32_t width, int32_t height, int32_t mipLevels)
{
    packedSize = uint32_t(width - 1) | uint32_t(height - 1) << 13 | uint32_t(mipLevels - 1) << 26;
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

NativeTexture* Texture_CreateFromBits(const uint32_t* pixels, int32_t width, int32_t height)
{
    if (width < 1 || height < 1 || width > 8192 || height > 8192) return nullptr;
    RenderDevice* device = RenderDevice_Get();
    RDTexture* texture = nullptr;
    if (!device->HasDevice() ||
        RD_Failed(device->CreateTexture(uint32_t(width), uint32_t(height), 1, 0, RDFMT_A8R8G8B8, RDPOOL_MANAGED,
                                        &texture)))
        return nullptr;
    auto* native = new NativeTexture(width, height, 1);
    native->formatCode = TEXTURE_FORMAT_A8R8G8B8;
    native->flags = 0x20000;
    native->texture = texture;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    native->systemCopyBlock = MemoryManager::Alloc(bytes + 16, __FILE__, __LINE__, true);
    native->systemCopy =
        reinterpret_cast<uint32_t*>((reinterpret_cast<uintptr_t>(native->systemCopyBlock) + 15) & ~uintptr_t(15));
    std::memcpy(native->systemCopy, pixels, bytes);
    RDLockedRect locked{};
    if (!RD_Failed(device->LockRect(texture, 0, &locked, nullptr, 0))) {
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(static_cast<uint8_t*>(locked.bits) + size_t(y) * size_t(locked.pitch),
                        native->systemCopy + size_t(y) * size_t(width), size_t(width) * 4);
        device->UnlockRect(texture, 0);
    }
    device->GetSurfaceLevel(texture, 0, &native->surface);
    return native;
}

void Texture_Free(NativeTexture* texture)
{
    if (!texture) return;
    if (texture->depthSurface) texture->depthSurface->Release();
    if (texture->surface) texture->surface->Release();
    if (texture->texture) texture->texture->Release();
    MemFree(texture->systemCopyBlock);
    delete texture;
}

// Nothing remembers a binding yet: the stage tracking comes with the texture manager's drawing.
void Texture_ForgetBindings() {}

// ---- The table ---------------------------------------------------------------------------------------------

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

int32_t GR_Texture_Create(int32_t width, int32_t height, const void* data, uint32_t size)
{
    if (width < 1 || height < 1 || uint64_t(size) != uint64_t(width) * uint64_t(height) * 4) return -1;
    const int32_t index = GR_Texture_AllocEntry();
    TexturePage* page = g_texturePages[index];
    page->inUse = 1;
    page->texture = Texture_CreateFromBits(static_cast<const uint32_t*>(data), width, height);
    page->width = int16_t(width);
    page->height = int16_t(height);
    page->uScale = page->texture ? 1.0f / float(page->texture->Width()) : 1.0f;
    page->vScale = page->texture ? 1.0f / float(page->texture->Height()) : 1.0f;
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

void GR_Texture_FreeTable()
{
    for (int32_t i = 0; i < g_texturePageCount; ++i) MemFree(g_texturePages[i]);
    MemFree(g_texturePages);
    g_texturePages = nullptr;
    g_texturePageCount = 0;
}
