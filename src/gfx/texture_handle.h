// Texture handles as scripts hold them: a live texture-table index, -1 for none, or a token naming a
// texture-page entry. Every drawing path that takes a handle asks here; handles are never dereferenced.
#pragma once
#include <cstdint>

struct NativeTexture;

// Where an image lies on a page (eleven int16 fields, read in place from the game data).
struct TexturePageEntry {
    int16_t sourceX, sourceY, sourceWidth, sourceHeight;
    int16_t targetX, targetY, targetWidth, targetHeight;
    int16_t boundingWidth, boundingHeight;
    int16_t page;  // texture-table index once loaded
};
static_assert(sizeof(TexturePageEntry) == 22);

enum class TextureHandleKind { None, Page, Entry, Illegal };

struct TextureHandle {
    TextureHandleKind kind = TextureHandleKind::None;
    int32_t page = -1;                        // the texture-table index drawn from (Page and Entry)
    const TexturePageEntry* entry = nullptr;  // Entry only
    NativeTexture* texture = nullptr;         // null when the page has no live texture
    int32_t width = 1, height = 1;            // the texture's size, for mapping entry coordinates
};

// Maps a token to its live entry, or null: the registry of texture-page entries unless a test installs another.
using TexturePageEntryLookup = const TexturePageEntry* (*)(int64_t token);
// Returns the lookup it replaces.
TexturePageEntryLookup TextureHandle_SetEntryLookup(TexturePageEntryLookup lookup);

TextureHandle TextureHandle_Resolve(int64_t handle);
