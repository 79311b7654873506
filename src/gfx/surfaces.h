// Surfaces: render-target pages scripts draw into, registered under surface ids, and the surface target stack
// that saves the viewport, the view projection and the bound ids around every redirection of drawing.
#pragma once
#include <cstdint>

class TBitmap;

struct Surface {
    int32_t id;
    int32_t texture;  // texture-table page; -1 while being re-created
    int32_t width, height;
};

// The id map: 128 buckets (id & 127), each a doubly linked list with new nodes at its tail.
constexpr int32_t SURFACE_MAP_BUCKETS = 128;
struct SurfaceMapNode {
    SurfaceMapNode* previous;
    SurfaceMapNode* next;
    int32_t key;
    Surface* value;
};
struct SurfaceMap {
    SurfaceMapNode* heads[SURFACE_MAP_BUCKETS];
    SurfaceMapNode* tails[SURFACE_MAP_BUCKETS];
    int32_t count;
};
extern SurfaceMap Surface_Map;
// Walks the map bucket by bucket; start with index 0 and node null.
struct SurfaceMapIterator {
    int32_t bucket;
    SurfaceMapNode* node;
    SurfaceMap* map;
};
// The next surface from the iterator's place, or null at the end (bucket -1, node null).
Surface* SurfaceMapIterator_Seek(SurfaceMapIterator* it);

extern int32_t Surface_NextId;
// The surface id bound to each target slot; -1 for none.
extern int32_t Surface_TargetIds[4];
// Values on the surface target stack (14 per slot-0 redirection).
int32_t Surface_StackCount();

// id -1: a new surface under a new id; otherwise the existing surface of that id gets a new page. -1 on failure.
int32_t Surface_Create(int32_t width, int32_t height, int32_t id);
// kind 1 and 2 ask for formats the device does not make: the surface exists without a texture.
int32_t Surface_CreateSpecial(int32_t width, int32_t height, int32_t id, int32_t kind);
Surface* Surface_Get(int32_t id);
bool Surface_Exists(int32_t id);
int32_t Surface_GetWidth(int32_t id);  // -1 for an unknown id
int32_t Surface_GetHeight(int32_t id);
int32_t Surface_GetTexture(int32_t id);
// Frees the page (resetting the target first when the surface is bound); the record stays in the map.
Surface* Surface_Release(int32_t id);
// The application surface is spared unless forced.
void Surface_Free(int32_t id, bool force);
bool Surface_Resize(int32_t id, int32_t width, int32_t height);
bool Surface_SetTarget(int32_t slot, int32_t id);
bool Surface_ResetTarget();
// Every surface (resets and shutdown); the application surface's id becomes APPLICATION_SURFACE_NONE.
void Surface_FreeAll();
// A 32-bit bitmap of a rectangle of the surface, or null.
TBitmap* Surface_ToBitmap(int32_t id, int32_t x, int32_t y, int32_t width, int32_t height);

// Draw bodies: angles in degrees; colours BGR.
void Surface_Draw(int32_t id, float x, float y);
void Surface_DrawExt(int32_t id, float x, float y, float xScale, float yScale, float angle, uint32_t colour,
                     float alpha);
void Surface_DrawStretched(int32_t id, float x, float y, float width, float height, uint32_t colour, float alpha);
// An unknown id reports "Trying to use non-existing surface." and gives false.
bool Surface_DrawPart(int32_t id, float left, float top, float width, float height, float x, float y, float xScale,
                      float yScale, uint32_t colour, float alpha);
void Surface_DrawGeneral(int32_t id, float left, float top, float width, float height, float x, float y,
                         float xScale, float yScale, float angle, uint32_t colourTL, uint32_t colourTR,
                         uint32_t colourBR, uint32_t colourBL, float alpha);
void Surface_DrawTiled(int32_t id, float x, float y, float xScale, float yScale, bool tileX, bool tileY,
                       float viewLeft, float viewTop, float viewWidth, float viewHeight, uint32_t colour,
                       float alpha);
