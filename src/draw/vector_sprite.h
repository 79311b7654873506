// Vector sprites (kind 1): what the sprite table, the boxes and the drawing ask of vector content. Until
// vector sprites are built the content is taken and dropped: a vector sprite keeps its table slot and fixed
// fields but has no shapes, no timeline and no bounds, and its draws reach the hooks below and nothing else.
// The CSprite operations themselves (LoadVectorData, FreeVectorData, DrawVector) are declared in sprite.h.
#pragma once
#include <cstdint>

class CSprite;

// Bounds of the whole timeline, or of one frame (wrapped by the frame count), in pixels; false when the
// sprite has no vector timeline.
bool VectorSprite_GetBounds(const CSprite* sprite, float* minX, float* minY, float* maxX, float* maxY);
bool VectorSprite_GetFrameBounds(const CSprite* sprite, int32_t frame, float* minX, float* minY, float* maxX,
                                 float* maxY);
// A ".qzs" file from the save area, else the game area; false when neither has it.
bool VectorSprite_LoadFile(CSprite* sprite, const char* path, int32_t xOrigin, int32_t yOrigin);

// What the seam was handed, for tests (each may be null).
struct VectorSpriteSeamHooks {
    void (*load)(CSprite* sprite, const uint8_t* data, uint32_t size, int32_t xOrigin, int32_t yOrigin);
    void (*draw)(CSprite* sprite, int32_t frame, float xOrigin, float yOrigin, float x, float y, float xscale,
                 float yscale, float angle, uint32_t colour, float alpha);
};
const VectorSpriteSeamHooks* VectorSprite_SetSeamHooks(const VectorSpriteSeamHooks* hooks);  // the previous ones
