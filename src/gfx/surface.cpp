// Surfaces: records under ids in a bucket map, their render-target pages, the draw bodies of the surface
// drawing built-ins, and the target stack that surface_set_target and surface_reset_target push and pop.
#include "gfx/surfaces.h"

#include "core/convert.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "draw/draw.h"
#include "gfx/batch.h"
#include "gfx/bitmap.h"
#include "gfx/device.h"
#include "gfx/matrices.h"
#include "gfx/quad.h"
#include "gfx/readback.h"
#include "gfx/texture_manager.h"
#include "gfx/textures.h"
#include "world/loader.h"

#include <cstring>

SurfaceMap Surface_Map = {};
int32_t Surface_NextId = 0;
int32_t Surface_TargetIds[4] = {-1, -1, -1, -1};

namespace {

// 14 values a level; a push is refused once more than 496 are held, so 36 levels fit.
constexpr int32_t kLevelValues = 14;
constexpr int32_t kStackRefuseAbove = 496;
int32_t g_stack[kStackRefuseAbove + kLevelValues];
int32_t g_stackCount = 0;

constexpr float kDegToRad = 0.0174532924f;

SurfaceMapNode* MapFind(int32_t id)
{
    for (SurfaceMapNode* n = Surface_Map.heads[id & (SURFACE_MAP_BUCKETS - 1)]; n; n = n->next)
        if (n->key == id) return n;
    return nullptr;
}

void MapAppend(Surface* s)
{
    auto* n = static_cast<SurfaceMapNode*>(MemAlloc(sizeof(SurfaceMapNode)));
    const int32_t b = s->id & (SURFACE_MAP_BUCKETS - 1);
    *n = {Surface_Map.tails[b], nullptr, s->id, s};
    if (n->previous)
        n->previous->next = n;
    else
        Surface_Map.heads[b] = n;
    Surface_Map.tails[b] = n;
    ++Surface_Map.count;
}

void MapRemove(SurfaceMapNode* n)
{
    const int32_t b = n->key & (SURFACE_MAP_BUCKETS - 1);
    (n->previous ? n->previous->next : Surface_Map.heads[b]) = n->next;
    (n->next ? n->next->previous : Surface_Map.tails[b]) = n->previous;
    --Surface_Map.count;
    MemFree(n);
}

bool IsAppSurface(int32_t id) { return id == AppSurface_Id; }

void SetProjectionArea(float x, float y, float w, float h, float angle)
{
    if (g_GameData.newMode)
        SetViewArea(x, y, w, h, angle);
    else
        GR_SetViewProjection(x, y, w, h, angle);
}

int32_t SurfacePage(int32_t id)
{
    const Surface* s = Surface_Get(id);
    return s ? s->texture : -1;
}

}  // namespace

Surface* SurfaceMapIterator_Seek(SurfaceMapIterator* it)
{
    if (it->bucket < 0 || !it->map) return nullptr;
    if (it->node && it->node->next) {
        it->node = it->node->next;
        return it->node->value;
    }
    // From the current bucket on: past the current node's bucket once a node was handed out.
    for (int32_t b = it->node ? it->bucket + 1 : it->bucket; b < SURFACE_MAP_BUCKETS; ++b) {
        if (it->map->heads[b]) {
            it->bucket = b;
            it->node = it->map->heads[b];
            return it->node->value;
        }
    }
    it->bucket = -1;
    it->node = nullptr;
    return nullptr;
}

int32_t Surface_StackCount() { return g_stackCount; }

namespace {

int32_t SurfaceCreate(int32_t width, int32_t height, int32_t id, bool extraTarget, int32_t kind)
{
    Surface* s = nullptr;
    if (id == -1) {
        int32_t next = Surface_NextId;
        while (MapFind(next)) ++next;
        Surface_NextId = next + 1;
        s = static_cast<Surface*>(MemAlloc(sizeof(Surface)));
        *s = {next, -1, width, height};
        MapAppend(s);
    } else {
        s = Surface_Get(id);
        if (!s) return -1;
        if (s->texture >= 0) GR_Texture_Free(s->texture);
        s->width = width;
        s->height = height;
    }
    s->texture = GR_Texture_CreateBlank(width, height, true, extraTarget, kind);
    if (IsAppSurface(s->id)) {
        AppSurface_Width = width;
        AppSurface_Height = height;
    }
    return s->id;
}

}  // namespace

int32_t Surface_Create(int32_t width, int32_t height, int32_t id)
{
    return SurfaceCreate(width, height, id, false, 0);
}

int32_t Surface_CreateSpecial(int32_t width, int32_t height, int32_t id, int32_t kind)
{
    return SurfaceCreate(width, height, id, true, kind);
}

Surface* Surface_Get(int32_t id)
{
    SurfaceMapNode* n = MapFind(id);
    return n ? n->value : nullptr;
}

bool Surface_Exists(int32_t id) { return MapFind(id) != nullptr; }

int32_t Surface_GetWidth(int32_t id)
{
    if (IsAppSurface(id)) return AppSurface_Width;
    const Surface* s = Surface_Get(id);
    return s ? s->width : -1;
}

int32_t Surface_GetHeight(int32_t id)
{
    if (IsAppSurface(id)) return AppSurface_Height;
    const Surface* s = Surface_Get(id);
    return s ? s->height : -1;
}

int32_t Surface_GetTexture(int32_t id) { return SurfacePage(id); }

Surface* Surface_Release(int32_t id)
{
    Surface* s = Surface_Get(id);
    if (!s) return nullptr;
    for (int32_t bound : Surface_TargetIds)
        if (bound == id) {
            Surface_ResetTarget();
            break;
        }
    GR_Texture_Free(s->texture);
    s->texture = -1;
    return s;
}

void Surface_Free(int32_t id, bool force)
{
    if (IsAppSurface(id) && !force) return;
    SurfaceMapNode* n = MapFind(id);
    if (!n) return;
    GraphicsFlush();
    Surface* s = Surface_Release(id);
    MapRemove(n);
    MemFree(s);
}

bool Surface_Resize(int32_t id, int32_t width, int32_t height)
{
    GraphicsFlush();
    Surface* s = Surface_Release(id);
    if (!s) return false;
    s->texture = -1;
    s->width = s->height = 0;
    if (IsAppSurface(id)) AppSurface_Width = AppSurface_Height = 1;
    return Surface_Create(width, height, id) >= 0;
}

bool Surface_SetTarget(int32_t slot, int32_t id)
{
    if (slot < 0 || slot > 3 || !GR_Device) return false;
    GraphicsFlush();
    const Surface* s = Surface_Get(id);
    NativeTexture* texture = s ? GR_Texture_Get(s->texture) : nullptr;
    if (!texture) return false;
    if (g_stackCount > kStackRefuseAbove) return false;
    if (slot != 0) {
        Surface_TargetIds[slot] = id;
        return RenderTarget_Set(slot, texture);
    }
    if (!RenderTarget_Push()) {
        Error_Show_Action(
            "surface stack is full - ensure surface_reset_target() is called for each surface_set_target().", false);
        return false;
    }
    int32_t* level = g_stack + g_stackCount;
    level[0] = GR_Viewport.x;
    level[1] = GR_Viewport.y;
    level[2] = GR_Viewport.width;
    level[3] = GR_Viewport.height;
    level[4] = Real_ToInt32(GR_ViewArea.x);
    level[5] = Real_ToInt32(GR_ViewArea.y);
    level[6] = Real_ToInt32(GR_ViewArea.w);
    level[7] = Real_ToInt32(GR_ViewArea.h);
    std::memcpy(&level[8], &GR_ViewArea.angle, 4);
    level[9] = GR_CullingOff ? 1 : 0;
    for (int32_t i = 0; i < 4; ++i) level[10 + i] = Surface_TargetIds[i];
    g_stackCount += kLevelValues;
    if (!RenderTarget_Set(0, texture)) return false;
    GR_SetViewport(0, 0, s->width, s->height);
    SetProjectionArea(0, 0, float(s->width), float(s->height), 0);
    Surface_TargetIds[0] = id;
    GR_MarkTransformChanged();
    return true;
}

bool Surface_ResetTarget()
{
    if (!GR_Device) return false;
    GraphicsFlush();
    const bool popped = RenderTarget_Pop();
    // Nothing set: the slot is cleared whether or not the device had a level to pop.
    if (g_stackCount < kLevelValues) {
        Surface_TargetIds[0] = -1;
        return false;
    }
    if (!popped) return false;
    g_stackCount -= kLevelValues;
    const int32_t* level = g_stack + g_stackCount;
    for (int32_t i = 0; i < 4; ++i) Surface_TargetIds[i] = level[10 + i];
    float angle;
    std::memcpy(&angle, &level[8], 4);
    GR_CullingOff = level[9] != 0;
    if (GUI_Drawing) {
        GUI_SetProjection();
    } else {
        GR_SetViewport(level[0], level[1], level[2], level[3]);
        SetProjectionArea(float(level[4]), float(level[5]), float(level[6]), float(level[7]), angle);
    }
    GR_MarkTransformChanged();
    return true;
}

void Surface_FreeAll()
{
    SurfaceMapIterator it{0, nullptr, &Surface_Map};
    while (Surface* s = SurfaceMapIterator_Seek(&it)) Surface_Release(s->id);
    for (int32_t b = 0; b < SURFACE_MAP_BUCKETS; ++b) {
        while (SurfaceMapNode* n = Surface_Map.heads[b]) {
            Surface* s = n->value;
            MapRemove(n);
            MemFree(s);
        }
    }
    AppSurface_Id = APPLICATION_SURFACE_NONE;
}

TBitmap* Surface_ToBitmap(int32_t id, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!GR_Device) return nullptr;
    NativeTexture* texture = GR_Texture_Get(SurfacePage(id));
    if (!texture) return nullptr;
    uint32_t* pixels = GR_Texture_ReadPixels(texture, x, y, width, height);
    if (!pixels) return nullptr;
    TBitmap* bitmap = ReadBack_ToBitmap(pixels, width, height);
    MemFree(pixels);
    return bitmap;
}

// ---- Draw bodies -------------------------------------------------------------------------------------------

void Surface_Draw(int32_t id, float x, float y)
{
    if (Surface_Get(id)) GR_Texture_Draw(SurfacePage(id), x, y);
}

void Surface_DrawExt(int32_t id, float x, float y, float xScale, float yScale, float angle, uint32_t colour,
                     float alpha)
{
    if (Surface_Get(id))
        GR_Texture_DrawExt(SurfacePage(id), 0, 0, x, y, xScale, yScale, angle * kDegToRad, colour, alpha);
}

void Surface_DrawStretched(int32_t id, float x, float y, float width, float height, uint32_t colour, float alpha)
{
    const Surface* s = Surface_Get(id);
    if (!s || !(width > 0) || !(height > 0) || s->width <= 0 || s->height <= 0) return;
    GR_Texture_DrawExt(s->texture, 0, 0, x, y, width / float(s->width), height / float(s->height), 0, colour, alpha);
}

bool Surface_DrawPart(int32_t id, float left, float top, float width, float height, float x, float y, float xScale,
                      float yScale, uint32_t colour, float alpha)
{
    if (!Surface_Get(id)) {
        Error_Show_Action("Trying to use non-existing surface.", false);
        return false;
    }
    return GR_Texture_DrawPart(SurfacePage(id), left, top, width, height, x, y, xScale, yScale, 0, colour, alpha);
}

void Surface_DrawGeneral(int32_t id, float left, float top, float width, float height, float x, float y,
                         float xScale, float yScale, float angle, uint32_t colourTL, uint32_t colourTR,
                         uint32_t colourBR, uint32_t colourBL, float alpha)
{
    if (Surface_Get(id))
        GR_Texture_DrawGeneral(SurfacePage(id), left, top, width, height, x, y, xScale, yScale, angle * kDegToRad,
                               colourTL, colourTR, colourBR, colourBL, alpha);
}

void Surface_DrawTiled(int32_t id, float x, float y, float xScale, float yScale, bool tileX, bool tileY,
                       float viewLeft, float viewTop, float viewWidth, float viewHeight, uint32_t colour,
                       float alpha)
{
    if (Surface_Get(id))
        GR_Texture_DrawTiled(SurfacePage(id), 0, 0, x, y, xScale, yScale, tileX, tileY, viewLeft, viewTop, viewWidth,
                             viewHeight, colour, alpha);
}
