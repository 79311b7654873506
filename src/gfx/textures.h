// The texture table: pages the engine draws from.
#pragma once
#include <cstdint>

// A page from a TXTR entry's encoded image data (null when the entry has none); size is the bytes
// available from data to the end of the game data. Returns the texture-table index; a page whose image could
// not be made stays in use without a texture.
int32_t GR_Texture_CreateFromPage(uint8_t* data, uint32_t size, bool flag);
// Shutdown: every texture of the table, the table, the entry tokens and the surfaces.
void GR_Texture_FreeAll();

struct NativeTexture;
class CBitmap32;

// One page of the texture table.
struct TexturePage {
    NativeTexture* texture;  // null when creation failed or the page was freed
    int16_t width, height;   // the content placed on the page
    float uScale, vScale;    // 1 / the created texture's size
    uint8_t inUse;
};

// The first free entry (the table grows by one when none is free).
int32_t GR_Texture_AllocEntry();
// The first free entry taken: in use, no texture, size 0, scales 1.
TexturePage* GR_Texture_NewPage(int32_t* index);
// Entries in the table, free ones included.
int32_t GR_Texture_Count();
// A page of width x height: 32-bit pixels when size is width x height x 4, else encoded image data ("RAW "
// blocks are converted in place). Returns the index; the page exists with a null texture when none was made.
int32_t GR_Texture_Create(int32_t width, int32_t height, const void* data, uint32_t size);
// An empty page: plain, a render target, or a render target with the extra flag; kind 1 and 2 ask for the
// formats 12 and 13 (which no device makes).
int32_t GR_Texture_CreateBlank(int32_t width, int32_t height, bool renderTarget, bool extraTarget, int32_t kind);
int32_t GR_Texture_Wrap(NativeTexture* texture, int32_t width, int32_t height);
int32_t GR_Texture_CreateFromBitmap(const CBitmap32* bitmap);  // -1 for none
// White pixels with the alpha bytes given; -1 (and no page) when the upload fails.
int32_t GR_Texture_CreateFromAlpha(int32_t width, int32_t height, const uint8_t* alpha);
void GR_Texture_Free(int32_t index);
bool GR_Texture_Exists(int32_t index);
NativeTexture* GR_Texture_Get(int32_t index);
TexturePage* GR_Texture_Page(int32_t index);  // null when out of range or not in use
// The fraction of the texture the content covers; 1 for a dead index.
float GR_Texture_GetUScale(int32_t index);
float GR_Texture_GetVScale(int32_t index);
// Creates a deferred page's texture now; priorities mean nothing to the device.
void GR_Texture_Preload(int32_t index);
void GR_Texture_SetPriority(int32_t index, int32_t priority);
// Every record and the array, without freeing textures (the device's first set-up).
void GR_Texture_FreeTable();
