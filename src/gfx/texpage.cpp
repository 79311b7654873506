// Game-data texture pages, the registry of texture-page entry tokens and the operations behind the texture
// handle built-ins.
#include "gfx/texpage.h"

#include "core/convert.h"
#include "core/memory_manager.h"
#include "gfx/textures.h"
#include "gfx/texture_manager.h"

#include <cmath>
#include <functional>
#include <map>
#include <unordered_map>

namespace {

using EntryTokenMap = std::unordered_map<int64_t, const TexturePageEntry*, std::hash<int64_t>, std::equal_to<int64_t>,
                                    MemAllocator<std::pair<const int64_t, const TexturePageEntry*>>>;
using EntryPointerMap = std::map<const TexturePageEntry*, int64_t, std::less<const TexturePageEntry*>,
                          MemAllocator<std::pair<const TexturePageEntry* const, int64_t>>>;

struct EntryRegistryRecord {
    EntryTokenMap byToken;
    EntryPointerMap byEntry;
    int64_t next = TEXTURE_ENTRY_TOKEN_BASE;
};

EntryRegistryRecord& EntryRegistry()
{
    // Outlives every static that may unregister at exit.
    static EntryRegistryRecord* registry = new EntryRegistryRecord;
    return *registry;
}

void EntryForget(EntryPointerMap::iterator it)
{
    EntryRegistryRecord& r = EntryRegistry();
    r.byToken.erase(it->second);
    r.byEntry.erase(it);
}

}  // namespace

int32_t GR_Texture_CreateFromPage(uint8_t* data, uint32_t size, bool)
{
    int32_t index;
    TexturePage* page = GR_Texture_NewPage(&index);
    TextureImageInfo info;
    if (data && size) {
        const int32_t length = size > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(size);
        page->texture = Texture_CreateFromData(data, length, &info, TEXTURE_FORMAT_A8R8G8B8);
    }
    if (page->texture) {
        page->width = int16_t(info.width);
        page->height = int16_t(info.height);
        page->uScale = 1.0f / float(info.width);
        page->vScale = 1.0f / float(info.height);
    }
    return index;
}

// ---- Tokens ------------------------------------------------------------------------------------------------

int64_t TexturePageEntry_Register(const TexturePageEntry* entry)
{
    if (!entry) return -1;
    EntryRegistryRecord& r = EntryRegistry();
    auto it = r.byEntry.find(entry);
    if (it != r.byEntry.end()) return it->second;
    const int64_t token = r.next++;
    r.byEntry.emplace(entry, token);
    r.byToken.emplace(token, entry);
    return token;
}

int64_t TexturePageEntry_Token(const TexturePageEntry* entry)
{
    EntryRegistryRecord& r = EntryRegistry();
    auto it = r.byEntry.find(entry);
    return it == r.byEntry.end() ? -1 : it->second;
}

void TexturePageEntry_Unregister(const TexturePageEntry* entry)
{
    EntryRegistryRecord& r = EntryRegistry();
    auto it = r.byEntry.find(entry);
    if (it != r.byEntry.end()) EntryForget(it);
}

void TexturePageEntry_UnregisterRange(const void* begin, const void* end)
{
    EntryRegistryRecord& r = EntryRegistry();
    auto it = r.byEntry.lower_bound(static_cast<const TexturePageEntry*>(begin));
    while (it != r.byEntry.end() && static_cast<const void*>(it->first) < end) {
        auto next = std::next(it);
        EntryForget(it);
        it = next;
    }
}

void TexturePageEntry_UnregisterAll()
{
    EntryRegistryRecord& r = EntryRegistry();
    r.byEntry.clear();
    r.byToken.clear();
}

const TexturePageEntry* TexturePageEntry_Lookup(int64_t token)
{
    if (token < TEXTURE_ENTRY_TOKEN_BASE) return nullptr;
    EntryRegistryRecord& r = EntryRegistry();
    auto it = r.byToken.find(token);
    return it == r.byToken.end() ? nullptr : it->second;
}

// ---- Handles -----------------------------------------------------------------------------------------------

TextureHandle TextureHandle_ResolveReal(double handle)
{
    if (!std::isfinite(handle) || std::trunc(handle) != handle || std::fabs(handle) >= 9007199254740992.0) {
        TextureHandle dead;
        dead.kind = TextureHandleKind::Illegal;
        return dead;
    }
    return TextureHandle_Resolve(Real_ToInt64(handle));
}

bool GR_Texture_HandleExists(double handle)
{
    return TextureHandle_ResolveReal(handle).kind == TextureHandleKind::Page;
}

double GR_Texture_GetTexelWidth(double handle)
{
    const TextureHandle h = TextureHandle_ResolveReal(handle);
    return h.texture ? 1.0 / double(h.texture->Width()) : 1.0;
}

double GR_Texture_GetTexelHeight(double handle)
{
    const TextureHandle h = TextureHandle_ResolveReal(handle);
    return h.texture ? 1.0 / double(h.texture->Height()) : 1.0;
}

void GR_Texture_SetStageHandle(int32_t stage, double handle)
{
    const TextureHandle h = TextureHandle_ResolveReal(handle);
    switch (h.kind) {
    case TextureHandleKind::Page: Texture_SetStage(stage, h.texture); break;
    case TextureHandleKind::Entry:
        if (GR_Texture_Exists(h.page)) Texture_SetStage(stage, h.texture);
        break;
    default: Texture_SetStage(stage, nullptr); break;
    }
}
