// The texture table: pages the engine draws from.
#pragma once
#include <cstdint>

// A page from a TXTR entry's encoded image data (null when the entry has none); size is the bytes
// available from data to the end of the game data. Returns the texture-table index.
int32_t GR_Texture_CreateFromPage(uint8_t* data, uint32_t size, bool flag);
// Linear filtering on every sampler stage (on) or the nearest texel (off).
void GR_Texture_SetInterpolation(bool on);
// Shutdown: every texture of the table.
void GR_Texture_FreeAll();
