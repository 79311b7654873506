// Texture pages of the game data and the handles scripts hold: a live texture-table index, -1 for none, or a
// token naming a registered texture-page entry. Tokens start at 2^32, so no table index equals one, they stay
// exact as reals, and each is handed out once: a stale token never names another entry.
#pragma once
#include <cstdint>

#include "gfx/texture_handle.h"

constexpr int64_t TEXTURE_ENTRY_TOKEN_BASE = int64_t(1) << 32;

// The entry's token (the same one while it stays registered).
int64_t TexturePageEntry_Register(const TexturePageEntry* entry);
// The token of a registered entry, or -1.
int64_t TexturePageEntry_Token(const TexturePageEntry* entry);
void TexturePageEntry_Unregister(const TexturePageEntry* entry);
// Entries lying in [begin, end) (game data being unloaded).
void TexturePageEntry_UnregisterRange(const void* begin, const void* end);
void TexturePageEntry_UnregisterAll();
// The live entry of a token, or null.
const TexturePageEntry* TexturePageEntry_Lookup(int64_t token);

// A handle as a script holds it: a real that is not a whole number resolves as a dead handle.
TextureHandle TextureHandle_ResolveReal(double handle);
// texture_exists: only a live table index.
bool GR_Texture_HandleExists(double handle);
// 1 / the width (height) of the handle's texture as created; 1 when it names none.
double GR_Texture_GetTexelWidth(double handle);
double GR_Texture_GetTexelHeight(double handle);
// texture_set_stage: a page or a live entry binds; -1 and dead handles unbind; an entry whose page is dead
// leaves the stage as it is.
void GR_Texture_SetStageHandle(int32_t stage, double handle);
