// The texture table: pages the engine draws from.
#pragma once
#include <cstdint>

// A page from a TXTR entry's encoded image data (null when the entry has none); size is the bytes
// available from data to the end of the game data. Returns the texture-table index.
int32_t GR_Texture_CreateFromPage(uint8_t* data, uint32_t size, bool flag);
// Shutdown: every texture of the table.
void GR_Texture_FreeAll();

struct NativeTexture;

// One page of the texture table.
struct TexturePage {
    NativeTexture* texture;  // null when creation failed or the page was freed
    int16_t width, height;   // the content placed on the page
    float uScale, vScale;    // 1 / the created texture's size
    uint8_t inUse;
};

// The first free entry (the table grows by one when none is free).
int32_t GR_Texture_AllocEntry();
// A page of width x height: 32-bit pixels when size is width x height x 4 (encoded images come with the
// texture-page work). Returns the index; the page exists with a null texture when the device made none.
int32_t GR_Texture_Create(int32_t width, int32_t height, const void* data, uint32_t size);
void GR_Texture_Free(int32_t index);
bool GR_Texture_Exists(int32_t index);
NativeTexture* GR_Texture_Get(int32_t index);
TexturePage* GR_Texture_Page(int32_t index);  // null when out of range or not in use
// Every record and the array, without freeing textures (the device's first set-up).
void GR_Texture_FreeTable();
