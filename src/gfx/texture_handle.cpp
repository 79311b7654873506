#include "gfx/texture_handle.h"

#include "gfx/texpage.h"
#include "gfx/textures.h"
#include "gfx/texture_manager.h"

namespace {
TexturePageEntryLookup g_EntryLookup = TexturePageEntry_Lookup;

void SetTexture(TextureHandle* out, int32_t page)
{
    out->page = page;
    out->texture = GR_Texture_Exists(page) ? GR_Texture_Get(page) : nullptr;
    if (out->texture) {
        out->width = out->texture->Width();
        out->height = out->texture->Height();
    }
}
}  // namespace

TexturePageEntryLookup TextureHandle_SetEntryLookup(TexturePageEntryLookup lookup)
{
    const TexturePageEntryLookup previous = g_EntryLookup;
    g_EntryLookup = lookup;
    return previous;
}

TextureHandle TextureHandle_Resolve(int64_t handle)
{
    TextureHandle out;
    if (handle == -1) return out;
    if (handle >= 0 && handle <= INT32_MAX && GR_Texture_Exists(int32_t(handle))) {
        out.kind = TextureHandleKind::Page;
        SetTexture(&out, int32_t(handle));
        return out;
    }
    const TexturePageEntry* entry = g_EntryLookup ? g_EntryLookup(handle) : nullptr;
    if (!entry) {
        out.kind = TextureHandleKind::Illegal;
        return out;
    }
    out.kind = TextureHandleKind::Entry;
    out.entry = entry;
    SetTexture(&out, entry->page);
    return out;
}
