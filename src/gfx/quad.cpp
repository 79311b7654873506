// Textured quads written into the vertex batch: whole pages and texture-page entries, placed, scaled, rotated,
// clipped to the stored part of a trimmed image, and tiled over the view.
#include "gfx/quad.h"

#include "core/convert.h"
#include "draw/draw.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/matrices.h"
#include "gfx/prim2d.h"
#include "gfx/texture_handle.h"
#include "gfx/textures.h"
#include "world/loader.h"

#include <algorithm>
#include <cmath>

bool GR_CornerIdEnabled = false;

namespace {

struct QuadCorner {
    float x, y;
};

// QuadCorner order of the id bits: TL 0, TR 1, BR 2, BL 3 unless a writer numbers them otherwise.
uint32_t QuadWithId(uint32_t colour, uint32_t id)
{
    if (!GR_CornerIdEnabled) return colour;
    return (colour & ~0x00010001u) | (id & 1) | ((id >> 1) & 1) << 16;
}

uint32_t QuadWhite() { return 0x00FFFFFFu | uint32_t(GR_DrawAlpha & 0xFF) << 24; }

// Alpha x 255 clamped and rounded to nearest (the general entry draw and the tiled page draw).
uint32_t QuadRoundedAlphaColour(uint32_t colour, float alpha)
{
    double a = double(alpha) * 255.0;
    if (!(a > 0.0)) a = 0.0;
    if (a > 255.0) a = 255.0;
    return Colour_ToARGB(colour, uint32_t(Real_ToInt32Round(a)));
}

// The four corners TL, TR, BR, BL of offsets (left, top)-(right, bottom) around (x, y), turned by angle unless
// it is below the threshold.
void QuadCorners(float x, float y, float left, float top, float right, float bottom, float angle, float threshold,
             QuadCorner out[4])
{
    const float dx[4] = {left, right, right, left};
    const float dy[4] = {top, top, bottom, bottom};
    if (std::fabs(angle) < threshold) {
        for (int i = 0; i < 4; ++i) out[i] = {x + dx[i], y + dy[i]};
        return;
    }
    const float c = std::cos(angle), s = std::sin(angle);
    for (int i = 0; i < 4; ++i) out[i] = {x + c * dx[i] + s * dy[i], y - s * dx[i] + c * dy[i]};
}

void QuadPut(VertexPosColourUV* v, const QuadCorner& p, uint32_t colour, float u, float t)
{
    *v = {p.x, p.y, GR_Depth, colour, u, t};
}

// TL, TR, BR, BR, BL, TL.
void QuadWriteQuad(NativeTexture* texture, const QuadCorner c[4], float u0, float v0, float u1, float v1,
               const uint32_t colours[4])
{
    auto* v = static_cast<VertexPosColourUV*>(
        GR_Batch_Alloc(RDPT_TRIANGLELIST, texture, VERTEX_FORMAT_POS_COLOUR_UV, 6));
    QuadPut(&v[0], c[0], colours[0], u0, v0);
    QuadPut(&v[1], c[1], colours[1], u1, v0);
    QuadPut(&v[2], c[2], colours[2], u1, v1);
    QuadPut(&v[3], c[2], colours[2], u1, v1);
    QuadPut(&v[4], c[3], colours[3], u0, v1);
    QuadPut(&v[5], c[0], colours[0], u0, v0);
}

void QuadOneColour(uint32_t colour, bool ids, uint32_t out[4])
{
    for (uint32_t i = 0; i < 4; ++i) out[i] = ids ? QuadWithId(colour, i) : colour;
}

TexturePage* QuadEntryPage(const TexturePageEntry* entry) { return entry ? GR_Texture_Page(entry->page) : nullptr; }

void QuadFixZeroTarget(TexturePageEntry* entry)
{
    if (entry->targetWidth == 0) entry->targetWidth = 1;
    if (entry->targetHeight == 0) entry->targetHeight = 1;
}

void QuadEntryUV(const TexturePageEntry* e, const TexturePage* page, float uv[4])
{
    uv[0] = float(e->sourceX) * page->uScale;
    uv[1] = float(e->sourceY) * page->vScale;
    uv[2] = float(e->sourceX + e->sourceWidth) * page->uScale;
    uv[3] = float(e->sourceY + e->sourceHeight) * page->vScale;
}

// Steps 1 and 2 of an entry part draw: the part may begin inside the trimmed border; the anchor moves by the
// skipped border, turned with the angle. ox, oy: where the part begins inside the stored area.
void QuadSkipBorder(const TexturePageEntry* e, float* left, float* top, float* width, float* height, float* x, float* y,
                float xs, float ys, float angle, float* ox, float* oy)
{
    const double c = std::cos(double(angle)), s = std::sin(double(angle));
    if (float(e->targetX) > *left) {
        const float d = float(e->targetX) - *left;
        *ox = 0;
        *width -= d;
        *x += float(std::trunc(d * c * xs));
        *y -= float(std::trunc(d * s * ys));
    } else {
        *ox = *left - float(e->targetX);
    }
    if (float(e->targetY) > *top) {
        const float d = float(e->targetY) - *top;
        *oy = 0;
        *height -= d;
        *x += float(std::trunc(d * s * xs));
        *y += float(std::trunc(d * c * ys));
    } else {
        *oy = *top - float(e->targetY);
    }
}

}  // namespace

bool GR_Texture_Draw(int32_t index, float x, float y)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return false;
    QuadCorner c[4];
    QuadCorners(x, y, 0, 0, float(page->width), float(page->height), 0, 1, c);
    uint32_t colours[4];
    QuadOneColour(QuadWhite(), true, colours);
    QuadWriteQuad(page->texture, c, 0, 0, float(page->width) * page->uScale, float(page->height) * page->vScale,
                  colours);
    return true;
}

bool GR_TPE_Draw(TexturePageEntry* e, float x, float y)
{
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    QuadFixZeroTarget(e);
    QuadCorner c[4];
    QuadCorners(x, y, float(e->targetX), float(e->targetY), float(e->targetX + e->targetWidth),
            float(e->targetY + e->targetHeight), 0, 1, c);
    float uv[4];
    QuadEntryUV(e, page, uv);
    uint32_t colours[4];
    QuadOneColour(QuadWhite(), true, colours);
    QuadWriteQuad(page->texture, c, uv[0], uv[1], uv[2], uv[3], colours);
    return true;
}

bool GR_TPE_DrawPos(TexturePageEntry* e, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                    float y4, uint32_t colour, float alpha)
{
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    const QuadCorner c[4] = {{x1, y1}, {x2, y2}, {x3, y3}, {x4, y4}};
    float uv[4];
    QuadEntryUV(e, page, uv);
    uint32_t colours[4];
    QuadOneColour(Colour_ToARGBAlpha(colour, alpha), true, colours);
    QuadWriteQuad(page->texture, c, uv[0], uv[1], uv[2], uv[3], colours);
    return true;
}

bool GR_Texture_DrawExt(int32_t index, float xo, float yo, float x, float y, float xs, float ys, float angle,
                        uint32_t colour, float alpha)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return false;
    if (page->width == 0 || page->height == 0) {
        page->width = page->height = 8;
        page->uScale = page->vScale = 0.125f;
    }
    const float w = float(page->width), h = float(page->height);
    QuadCorner c[4];
    QuadCorners(x, y, -xs * xo, -ys * yo, xs * (w - xo), ys * (h - yo), angle, 0.001f, c);
    uint32_t colours[4];
    QuadOneColour(Colour_ToARGBAlpha(colour, alpha), false, colours);
    QuadWriteQuad(page->texture, c, 0, 0, w * page->uScale, h * page->vScale, colours);
    return true;
}

bool GR_TPE_DrawExt(TexturePageEntry* e, float xo, float yo, float x, float y, float xs, float ys, float angle,
                    uint32_t colour, float alpha)
{
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    QuadFixZeroTarget(e);
    const float left = xs * (float(e->targetX) - xo), top = ys * (float(e->targetY) - yo);
    QuadCorner c[4];
    QuadCorners(x, y, left, top, left + xs * float(e->targetWidth), top + ys * float(e->targetHeight), angle, 0.001f,
                c);
    float uv[4];
    QuadEntryUV(e, page, uv);
    uint32_t colours[4];
    QuadOneColour(Colour_ToARGBAlpha(colour, alpha), true, colours);
    QuadWriteQuad(page->texture, c, uv[0], uv[1], uv[2], uv[3], colours);
    return true;
}

bool GR_Texture_DrawPart(int32_t index, float left, float top, float width, float height, float x, float y, float xs,
                         float ys, float angle, uint32_t colour, float alpha)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return false;
    QuadCorner c[4];
    QuadCorners(x, y, 0, 0, width * xs, height * ys, angle, 0.001f, c);
    uint32_t colours[4];
    QuadOneColour(Colour_ToARGBAlpha(colour, alpha), false, colours);
    QuadWriteQuad(page->texture, c, left * page->uScale, top * page->vScale, (left + width) * page->uScale,
              (top + height) * page->vScale, colours);
    return true;
}

bool GR_TPE_DrawPart(TexturePageEntry* e, float left, float top, float width, float height, float x, float y, float xs,
                     float ys, float angle, uint32_t colour, float alpha)
{
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    float ox, oy;
    QuadSkipBorder(e, &left, &top, &width, &height, &x, &y, xs, ys, angle, &ox, &oy);
    width = std::min(width, float(e->targetWidth) - ox);
    height = std::min(height, float(e->targetHeight) - oy);
    if (!(width > 0) || !(height > 0)) return true;
    QuadCorner c[4];
    QuadCorners(x, y, 0, 0, width * xs, height * ys, angle, 0.001f, c);
    const float rx = e->targetWidth ? float(e->sourceWidth) / float(e->targetWidth) : 1.0f;
    const float ry = e->targetHeight ? float(e->sourceHeight) / float(e->targetHeight) : 1.0f;
    const float u0 = (float(e->sourceX) + rx * ox) * page->uScale;
    const float v0 = (float(e->sourceY) + ry * oy) * page->vScale;
    const float u1 = (float(e->sourceX) + rx * ox + rx * width) * page->uScale;
    const float v1 = (float(e->sourceY) + ry * oy + ry * height) * page->vScale;
    const uint32_t argb = Colour_ToARGBAlpha(colour, alpha);
    // TL, TR, BL, TR, BR, BL.
    auto* v = static_cast<VertexPosColourUV*>(
        GR_Batch_Alloc(RDPT_TRIANGLELIST, page->texture, VERTEX_FORMAT_POS_COLOUR_UV, 6));
    QuadPut(&v[0], c[0], QuadWithId(argb, 0), u0, v0);
    QuadPut(&v[1], c[1], QuadWithId(argb, 1), u1, v0);
    QuadPut(&v[2], c[3], QuadWithId(argb, 3), u0, v1);
    QuadPut(&v[3], c[1], QuadWithId(argb, 1), u1, v0);
    QuadPut(&v[4], c[2], QuadWithId(argb, 2), u1, v1);
    QuadPut(&v[5], c[3], QuadWithId(argb, 3), u0, v1);
    return true;
}

bool GR_Texture_DrawGeneral(int32_t index, float left, float top, float width, float height, float x, float y,
                            float xs, float ys, float angle, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                            float alpha)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return false;
    QuadCorner c[4];
    QuadCorners(x, y, 0, 0, width * xs, height * ys, angle, 0.01f, c);
    const uint32_t colours[4] = {Colour_ToARGBAlpha(c1, alpha), Colour_ToARGBAlpha(c2, alpha),
                                 Colour_ToARGBAlpha(c3, alpha), Colour_ToARGBAlpha(c4, alpha)};
    QuadWriteQuad(page->texture, c, left * page->uScale, top * page->vScale, (left + width) * page->uScale,
              (top + height) * page->vScale, colours);
    return true;
}

bool GR_TPE_DrawGeneral(TexturePageEntry* e, float left, float top, float width, float height, float x, float y,
                        float xs, float ys, float angle, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                        float alpha)
{
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    float ox, oy;
    QuadSkipBorder(e, &left, &top, &width, &height, &x, &y, xs, ys, angle, &ox, &oy);
    width = std::min(width, float(e->targetWidth));
    height = std::min(height, float(e->targetHeight));
    QuadCorner c[4];
    QuadCorners(x, y, 0, 0, width * xs, height * ys, angle, 0.01f, c);
    const float u0 = (float(e->sourceX) + ox) * page->uScale, v0 = (float(e->sourceY) + oy) * page->vScale;
    const float u1 = (float(e->sourceX) + ox + width) * page->uScale;
    const float v1 = (float(e->sourceY) + oy + height) * page->vScale;
    GR_Texture_DrawQuad(page->texture, c[0].x, c[0].y, c[1].x, c[1].y, c[2].x, c[2].y, c[3].x, c[3].y, u0, v0, u1, v1,
                        QuadWithId(QuadRoundedAlphaColour(c1, alpha), 0),
                        QuadWithId(QuadRoundedAlphaColour(c2, alpha), 1),
                        QuadWithId(QuadRoundedAlphaColour(c3, alpha), 2),
                        QuadWithId(QuadRoundedAlphaColour(c4, alpha), 3));
    return true;
}

bool GR_Texture_DrawTiled(int32_t index, float xo, float yo, float x, float y, float xs, float ys, bool tileX,
                          bool tileY, float viewLeft, float viewTop, float viewWidth, float viewHeight,
                          uint32_t colour, float alpha)
{
    TexturePage* page = GR_Texture_Page(index);
    if (!page) return false;
    if (!std::isfinite(x) || !std::isfinite(y)) return true;
    const int64_t px = Real_ToInt64(double(page->width) * xs), py = Real_ToInt64(double(page->height) * ys);
    if (px <= 0 || py <= 0) return false;
    // The first tile: the position's remainder (sign of the dividend), moved up to the view's edge.
    auto first = [](float position, int64_t period, bool tile, float viewStart) {
        int64_t start = Real_ToInt64Round(position);
        if (!tile || start == INT64_MIN) return start;
        start %= period;
        if (start > 0) start -= period;
        if (double(viewStart) > double(start + period))
            start += int64_t((double(viewStart) - double(start)) / double(period) - 1) * period;
        while (double(viewStart) > double(start + period)) start += period;
        return start;
    };
    const int64_t c0 = first(x, px, tileX, viewLeft), r0 = first(y, py, tileY, viewTop);
    const uint32_t argb = QuadRoundedAlphaColour(colour, alpha);
    const float w = float(page->width) * xs, h = float(page->height) * ys;
    const float u1 = float(page->width) * page->uScale, v1 = float(page->height) * page->vScale;
    for (int64_t r = r0; tileY ? double(r) < double(viewTop) + viewHeight : r == r0; r += py) {
        for (int64_t c = c0; tileX ? double(c) < double(viewLeft) + viewWidth : c == c0; c += px) {
            const float left = float(c) - xs * xo, top = float(r) - ys * yo;
            auto* v = static_cast<VertexPosColourUV*>(
                GR_Batch_Alloc(RDPT_TRIANGLEFAN, page->texture, VERTEX_FORMAT_POS_COLOUR_UV, 4));
            v[0] = {left, top, GR_Depth, argb, 0, 0};
            v[1] = {left + w, top, GR_Depth, argb, u1, 0};
            v[2] = {left + w, top + h, GR_Depth, argb, u1, v1};
            v[3] = {left, top + h, GR_Depth, argb, 0, v1};
        }
    }
    return true;
}

bool GR_TPE_DrawTiled(TexturePageEntry* e, float xo, float yo, float x, float y, float xs, float ys, bool tileX,
                      bool tileY, float, float, float, float, uint32_t colour, float alpha)
{
    if (!e || xs < 0.0001f || ys < 0.0001f || !(xs == xs) || !(ys == ys)) return false;
    TexturePage* page = QuadEntryPage(e);
    if (!page) return false;
    if (g_GameData.majorVersion >= 2) {
        const CCamera* camera = CCameraManager::GetActiveCamera();
        if (camera && !camera->Is2D()) tileX = tileY = false;
    }
    if (!tileX && !tileY) return GR_TPE_DrawExt(e, xo, yo, x, y, xs, ys, 0, colour, alpha);

    const double a = double(e->boundingWidth) * xs, b = double(e->boundingHeight) * ys;
    if (!(a > 0) || !(b > 0)) return false;
    const GRRect& view = GR_ViewRect;
    double x0 = x, y0 = y;
    int64_t columns = 1, rows = 1;
    if (tileX) {
        x0 = view.left + std::fmod(double(x) - view.left, a) - a;
        columns = Real_ToInt64((double(view.right) - view.left + a - 1) / a + 2);
    }
    if (tileY) {
        y0 = view.top + std::fmod(double(y) - view.top, b) - b;
        rows = Real_ToInt64((double(view.bottom) - view.top + b - 1) / b + 2);
    }
    if (columns <= 0 || rows <= 0) return true;
    float uv[4];
    QuadEntryUV(e, page, uv);
    const uint32_t argb = Colour_ToARGBAlpha(colour, alpha);
    const uint32_t bl = QuadWithId(argb, 0), tl = QuadWithId(argb, 1);
    const uint32_t tr = QuadWithId(argb, 2), br = QuadWithId(argb, 3);
    const double tw = double(e->targetWidth) * xs, th = double(e->targetHeight) * ys;
    const double ox = x0 + double(e->targetX) * xs, oy = y0 + double(e->targetY) * ys;

    // Requests stay within the batch's limit: whole rows in groups, or a row too long for one request in runs
    // of columns.
    const int64_t perRequest = GR_Batch_MaxVertices() / 6;
    const int64_t columnRun = std::min(columns, perRequest);
    const int64_t rowGroup = columns > perRequest ? 1 : std::max<int64_t>(1, perRequest / columns);
    for (int64_t i0 = 0; i0 < rows; i0 += rowGroup) {
        const int64_t i1 = std::min(rows, i0 + rowGroup);
        for (int64_t j0 = 0; j0 < columns; j0 += columnRun) {
            const int64_t j1 = std::min(columns, j0 + columnRun);
            auto* v = static_cast<VertexPosColourUV*>(GR_Batch_Alloc(
                RDPT_TRIANGLELIST, page->texture, VERTEX_FORMAT_POS_COLOUR_UV, int32_t((i1 - i0) * (j1 - j0) * 6)));
            for (int64_t i = i0; i < i1; ++i)
                for (int64_t j = j0; j < j1; ++j, v += 6) {
                    const float l = float(ox + double(j) * a), t = float(oy + double(i) * b);
                    const float r = float(ox + double(j) * a + tw), btm = float(oy + double(i) * b + th);
                    v[0] = {l, btm, GR_Depth, bl, uv[0], uv[3]};
                    v[1] = {l, t, GR_Depth, tl, uv[0], uv[1]};
                    v[2] = {r, t, GR_Depth, tr, uv[2], uv[1]};
                    v[3] = {r, t, GR_Depth, tr, uv[2], uv[1]};
                    v[4] = {r, btm, GR_Depth, br, uv[2], uv[3]};
                    v[5] = {l, btm, GR_Depth, bl, uv[0], uv[3]};
                }
        }
    }
    return true;
}

void GR_Texture_DrawQuad(NativeTexture* texture, float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, float uLeft, float vTop, float uRight, float vBottom, uint32_t colourTL,
                         uint32_t colourTR, uint32_t colourBR, uint32_t colourBL)
{
    const QuadCorner c[4] = {{x1, y1}, {x2, y2}, {x3, y3}, {x4, y4}};
    const uint32_t colours[4] = {colourTL, colourTR, colourBR, colourBL};
    QuadWriteQuad(texture, c, uLeft, vTop, uRight, vBottom, colours);
}
