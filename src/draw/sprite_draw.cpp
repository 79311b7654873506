// Sprite drawing: pick the frame, cull by the bounding radius against the visible world rectangle, and hand the
// frame to the textured-quad writers, the vector renderer or the skeleton drawing.
#include <algorithm>
#include <cmath>

#include "core/console.h"
#include "core/convert.h"
#include "draw/camera.h"
#include "draw/draw.h"
#include "draw/sprite.h"
#include "gfx/matrices.h"
#include "gfx/quad.h"
#include "net/net.h"
#include "skeleton/skeleton.h"
#include "world/loader.h"

CInstance* Draw_CurrentInstance = nullptr;

namespace {

constexpr int32_t SPRITE_PROFILE_KIND = 6;
constexpr int32_t SPRITE_PROFILE_DRAW = 15;
constexpr int32_t SPRITE_PROFILE_DRAW_SIMPLE = 16;
// Copies of a tiled vector sprite along one axis; beyond this a script's scale or view size is nonsense.
constexpr int32_t SPRITE_VECTOR_TILE_LIMIT = 65536;

// frame mod count, lifted into 0..count-1; count > 0.
int32_t SpriteDraw_WrapFrame(int32_t frame, int32_t count)
{
    int32_t f = frame % count;
    return f < 0 ? f + count : f;
}

float SpriteDraw_Radians(float degrees) { return float(double(degrees) * 3.1415927410125732 / 180.0); }

// Whether a circle of radii (rx, ry) about (x, y) reaches the cull rectangle; NaN positions are outside.
bool SpriteDraw_Inside(double x, double y, double rx, double ry)
{
    const GRRect& c = GR_WorldCullRect;
    return ry >= c.top - y && ry >= y - c.bottom && rx >= c.left - x && rx >= x - c.right;
}

// A sprite outside the 2D rectangle is still visible through a perspective camera.
bool SpriteDraw_SeenInPerspective()
{
    if (!g_GameData.newMode) return false;
    const CCamera* camera = CCameraManager::GetActiveCamera();
    return camera && !camera->Is2D();
}

void SpriteDraw_Failed(const CSprite* sprite)
{
    DebugConsole->Output("Error attempting to draw sprite %s\n", sprite->m_name ? sprite->m_name : "");
}

// The frame's texture-page entry, else its run-time texture: whichever the sprite draws from. A sprite with
// neither reaches the writers with a null entry, which they refuse.
struct SpriteFrameSource {
    TexturePageEntry* entry;
    int32_t texture;
    bool useTexture;
};

SpriteFrameSource SpriteDraw_Source(const CSprite* sprite, int32_t frame)
{
    if (sprite->m_frameEntries) return {sprite->m_frameEntries[frame], -1, false};
    if (sprite->m_textures && frame < sprite->m_textureCount) return {nullptr, sprite->m_textures[frame], true};
    return {nullptr, -1, false};
}

void SpriteDraw_Ext(CSprite* sprite, int32_t frame, float xOrigin, float yOrigin, float x, float y, float xscale,
                    float yscale, float radians, uint32_t colour, float alpha)
{
    const SpriteFrameSource s = SpriteDraw_Source(sprite, frame);
    const bool ok = s.useTexture
                        ? GR_Texture_DrawExt(s.texture, xOrigin, yOrigin, x, y, xscale, yscale, radians, colour, alpha)
                        : GR_TPE_DrawExt(s.entry, xOrigin, yOrigin, x, y, xscale, yscale, radians, colour, alpha);
    if (!ok) SpriteDraw_Failed(sprite);
}

}  // namespace

void SpriteDraw(CSprite* sprite, int32_t frame, float x, float y, float xscale, float yscale, float angle,
                uint32_t colour, float alpha)
{
    if (!sprite || sprite->m_frameCount <= 0) return;
    ProfilerRegion region(SPRITE_PROFILE_KIND, SPRITE_PROFILE_DRAW);
    const int32_t f = SpriteDraw_WrapFrame(frame, sprite->m_frameCount);
    if (GR_TransformChanged) GR_UpdateWorldCullRect();
    const float radius = float(sprite->m_boundingRadius);
    const double r = std::max(std::fabs(float(radius * xscale)), std::fabs(float(radius * yscale)));
    if (!GR_3DMode && !GR_CullingOff && sprite->m_kind != SPRITE_KIND_SKELETON && !SpriteDraw_Inside(x, y, r, r) &&
        !SpriteDraw_SeenInPerspective())
        return;
    if (sprite->m_kind == SPRITE_KIND_VECTOR) {
        sprite->DrawVector(f, float(sprite->m_xOrigin), float(sprite->m_yOrigin), x, y, xscale, yscale, angle, colour,
                           alpha);
    } else if (sprite->m_kind == SPRITE_KIND_SKELETON) {
        if (sprite->m_skeleton) sprite->m_skeleton->DrawInstance(f, x, y, xscale, yscale, angle, colour, alpha);
    } else {
        SpriteDraw_Ext(sprite, f, float(sprite->m_xOrigin), float(sprite->m_yOrigin), x, y, xscale, yscale,
                       SpriteDraw_Radians(angle), colour, alpha);
    }
}

void SpriteDrawSimple(CSprite* sprite, int32_t frame, float x, float y)
{
    ProfilerRegion region(SPRITE_PROFILE_KIND, SPRITE_PROFILE_DRAW_SIMPLE);
    if (!sprite || sprite->m_frameCount <= 0) return;
    const int32_t f = SpriteDraw_WrapFrame(frame, sprite->m_frameCount);
    if (GR_TransformChanged) GR_UpdateWorldCullRect();
    const double r = sprite->m_boundingRadius;
    if (!GR_CullingOff && sprite->m_kind != SPRITE_KIND_SKELETON && !SpriteDraw_Inside(x, y, r, r) &&
        !SpriteDraw_SeenInPerspective())
        return;
    if (sprite->m_kind == SPRITE_KIND_VECTOR) {
        sprite->DrawVector(f, float(sprite->m_xOrigin), float(sprite->m_yOrigin), x, y, 1.0f, 1.0f, 0.0f, 0xFFFFFFFFu,
                           1.0f);
    } else if (sprite->m_kind == SPRITE_KIND_SKELETON) {
        if (sprite->m_skeleton) sprite->m_skeleton->DrawInstance(f, x, y, 1.0f, 1.0f, 0.0f, 0xFFFFFFFFu, 1.0f);
    } else {
        const SpriteFrameSource s = SpriteDraw_Source(sprite, f);
        const float left = x - float(sprite->m_xOrigin), top = y - float(sprite->m_yOrigin);
        const bool ok = s.useTexture ? GR_Texture_Draw(s.texture, left, top) : GR_TPE_Draw(s.entry, left, top);
        if (!ok) SpriteDraw_Failed(sprite);
    }
}

void CSprite::DrawPart(int32_t frame, float left, float top, float width, float height, float x, float y,
                       float xscale, float yscale, uint32_t colour, float alpha)
{
    if (m_frameCount <= 0 || m_kind != SPRITE_KIND_BITMAP) return;
    const SpriteFrameSource s = SpriteDraw_Source(this, SpriteDraw_WrapFrame(frame, m_frameCount));
    const bool ok =
        s.useTexture
            ? GR_Texture_DrawPart(s.texture, left, top, width, height, x, y, xscale, yscale, 0.0f, colour, alpha)
            : GR_TPE_DrawPart(s.entry, left, top, width, height, x, y, xscale, yscale, 0.0f, colour, alpha);
    if (!ok) SpriteDraw_Failed(this);
}

void CSprite::DrawGeneral(int32_t frame, float left, float top, float width, float height, float x, float y,
                          float xscale, float yscale, float angle, uint32_t colour1, uint32_t colour2,
                          uint32_t colour3, uint32_t colour4, float alpha)
{
    if (m_frameCount <= 0 || m_kind != SPRITE_KIND_BITMAP) return;
    const int32_t f = SpriteDraw_WrapFrame(frame, m_frameCount);
    if (GR_TransformChanged) GR_UpdateWorldCullRect();
    const float radius = float(m_boundingRadius);
    const double rx = std::fabs(float(radius * xscale)), ry = std::fabs(float(radius * yscale));
    if (!GR_CullingOff && !SpriteDraw_Inside(x, y, rx, ry) && !SpriteDraw_SeenInPerspective()) return;
    const SpriteFrameSource s = SpriteDraw_Source(this, f);
    const float radians = SpriteDraw_Radians(angle);
    const bool ok = s.useTexture ? GR_Texture_DrawGeneral(s.texture, left, top, width, height, x, y, xscale, yscale,
                                                          radians, colour1, colour2, colour3, colour4, alpha)
                                 : GR_TPE_DrawGeneral(s.entry, left, top, width, height, x, y, xscale, yscale, radians,
                                                      colour1, colour2, colour3, colour4, alpha);
    if (!ok) SpriteDraw_Failed(this);
}

void CSprite::DrawStretched(int32_t frame, float x, float y, float width, float height, uint32_t colour, float alpha)
{
    if (m_frameCount < 1 || !(width > 0.0f) || !(height > 0.0f) || m_width <= 0 || m_height <= 0) return;
    // Wrapped like every other draw: a negative frame must not index before the entries.
    const int32_t f = SpriteDraw_WrapFrame(frame, m_frameCount);
    const float xscale = width / float(m_width), yscale = height / float(m_height);
    if (m_kind == SPRITE_KIND_VECTOR)
        DrawVector(f, 0.0f, 0.0f, x, y, xscale, yscale, 0.0f, colour, alpha);
    else if (m_kind == SPRITE_KIND_BITMAP)
        SpriteDraw_Ext(this, f, 0.0f, 0.0f, x, y, xscale, yscale, 0.0f, colour, alpha);
}

void CSprite::DrawTiled(int32_t frame, float x, float y, float xscale, float yscale, bool tileHorizontally,
                        bool tileVertically, float viewX, float viewY, float viewWidth, float viewHeight,
                        uint32_t colour, float alpha)
{
    if (m_frameCount <= 0) return;
    const int32_t f = SpriteDraw_WrapFrame(frame, m_frameCount);
    if (m_kind == SPRITE_KIND_VECTOR) {
        DrawVectorTiled(f, x, y, xscale, yscale, tileHorizontally, tileVertically, viewX, viewY, viewWidth,
                        viewHeight, colour, alpha);
        return;
    }
    if (m_kind != SPRITE_KIND_BITMAP) return;
    const SpriteFrameSource s = SpriteDraw_Source(this, f);
    const float xo = float(m_xOrigin), yo = float(m_yOrigin);
    const bool ok = s.useTexture ? GR_Texture_DrawTiled(s.texture, xo, yo, x, y, xscale, yscale, tileHorizontally,
                                                        tileVertically, viewX, viewY, viewWidth, viewHeight, colour,
                                                        alpha)
                                 : GR_TPE_DrawTiled(s.entry, xo, yo, x, y, xscale, yscale, tileHorizontally,
                                                    tileVertically, viewX, viewY, viewWidth, viewHeight, colour, alpha);
    if (!ok) SpriteDraw_Failed(this);
}

void CSprite::DrawVectorTiled(int32_t frame, float x, float y, float xscale, float yscale, bool tileHorizontally,
                              bool tileVertically, float viewX, float viewY, float viewWidth, float viewHeight,
                              uint32_t colour, float alpha)
{
    if (xscale == 0.0f || yscale == 0.0f) return;
    const float w = std::fabs(xscale) * float(m_width), h = std::fabs(yscale) * float(m_height);
    if (!(w > 0.0f) || !(h > 0.0f)) return;  // empty frames and NaN scales tile nothing
    // The origin's distance from a copy's left and top edges, mirrored copies included.
    float ox = float(m_xOrigin) * xscale, oy = float(m_yOrigin) * yscale;
    if (xscale < 0.0f) ox += w;
    if (yscale < 0.0f) oy += h;
    const float bx = tileHorizontally ? viewX : 0.0f, by = tileVertically ? viewY : 0.0f;
    auto wrap = [](double a, double b) { return b > 0.0 ? (a / b - std::floor(a / b)) * b : a; };
    float fx = float(wrap(double(x) - bx - ox, w)), fy = float(wrap(double(y) - by - oy, h));
    if (fx > 0.0f) fx -= w;
    if (fy > 0.0f) fy -= h;
    auto copies = [](bool tiled, float size, float step) {
        if (!tiled) return 1;
        return int32_t(std::clamp<int64_t>(Real_ToInt64(std::ceil(double(size) / step)) + 1, 0,
                                           SPRITE_VECTOR_TILE_LIMIT));
    };
    const int32_t across = copies(tileHorizontally, viewWidth, w), down = copies(tileVertically, viewHeight, h);
    const float startX = ox + bx + fx, startY = oy + by + fy;
    for (int32_t i = 0; i < down; ++i)
        for (int32_t j = 0; j < across; ++j)
            DrawVector(frame, float(m_xOrigin), float(m_yOrigin), startX + float(j) * w, startY + float(i) * h, xscale,
                       yscale, 0.0f, colour, alpha);
}

void CSprite::DrawPos(int32_t frame, float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                      uint32_t colour, float alpha)
{
    if (m_frameCount <= 0 || !m_frameEntries) return;
    TexturePageEntry* entry = m_frameEntries[SpriteDraw_WrapFrame(frame, m_frameCount)];
    if (!GR_TPE_DrawPos(entry, x1, y1, x2, y2, x3, y3, x4, y4, colour, alpha)) SpriteDraw_Failed(this);
}
