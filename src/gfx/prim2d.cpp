#include "gfx/prim2d.h"

#include <algorithm>
#include <cmath>

#include "core/error.h"
#include "gfx/colour.h"
#include "gfx/device.h"
#include "gfx/matrices.h"
#include "gfx/textures.h"

uint32_t GR_DrawColour = 0xFF000000;
int32_t GR_DrawAlpha = 255;
GRCircleTables GR_Circle;
GRUserPrimitive GR_UserPrim;

namespace {

NativeTexture* White() { return GR_WhiteTexturePage ? GR_WhiteTexturePage->texture : nullptr; }

uint32_t ARGB(uint32_t colour) { return Colour_ToARGB(colour, uint32_t(GR_DrawAlpha)); }

VertexPosColour* Alloc16(int32_t type, int32_t n)
{
    return static_cast<VertexPosColour*>(GR_Batch_Alloc(type, White(), VERTEX_FORMAT_POS_COLOUR, n));
}
VertexPosColourUV* Alloc24(int32_t type, int32_t n)
{
    return static_cast<VertexPosColourUV*>(GR_Batch_Alloc(type, White(), VERTEX_FORMAT_POS_COLOUR_UV, n));
}

// Texture coordinates mean nothing on the white page, so these leave them alone.
void Put(VertexPosColour* v, float x, float y, uint32_t colour) { *v = {x, y, GR_Depth, colour}; }
void Put(VertexPosColourUV* v, float x, float y, uint32_t colour)
{
    v->x = x;
    v->y = y;
    v->z = GR_Depth;
    v->colour = colour;
}

void Order(float* a, float* b)
{
    if (*a > *b) std::swap(*a, *b);
}

// Far edges on whole pixels are nudged out so the last row and column are filled.
float NudgeWhole(float v) { return std::floor(v) == v ? v + 0.01f : v; }

float Length(float dx, float dy) { return std::sqrt(float(double(dx) * dx + double(dy) * dy)); }

void WideLine(float x1, float y1, float x2, float y2, float w, uint32_t c1, uint32_t c2)
{
    const float length = Length(x2 - x1, y2 - y1);
    if (length == 0.0f) return;
    x1 += GR_PrimOffsetX;
    y1 += GR_PrimOffsetY;
    x2 += GR_PrimOffsetX;
    y2 += GR_PrimOffsetY;
    const float tx = (y2 - y1) * (w / 2) / length, ty = (x2 - x1) * (w / 2) / length;
    VertexPosColour* v = Alloc16(RDPT_TRIANGLEFAN, 4);
    Put(&v[0], x1 - tx, y1 + ty, c1);
    Put(&v[1], x2 - tx, y2 + ty, c2);
    Put(&v[2], x2 + tx, y2 - ty, c2);
    Put(&v[3], x1 + tx, y1 - ty, c1);
}

void StoreUserVertex(float x, float y, uint32_t colour, float u, float v)
{
    GRUserPrimitive& prim = GR_UserPrim;
    if (prim.count > 1000) return;
    if (prim.handle.entry) {
        const TexturePageEntry& e = *prim.handle.entry;
        u = (float(e.targetWidth) * u + float(e.sourceX)) / float(prim.handle.width);
        v = (float(e.targetHeight) * v + float(e.sourceY)) / float(prim.handle.height);
    }
    prim.vertices[prim.count++] = {x, y, GR_Depth, colour, u, v};
}

}  // namespace

uint32_t Colour_MakeRGB(int32_t r, int32_t g, int32_t b)
{
    return uint32_t(r & 255) | uint32_t(g & 255) << 8 | uint32_t(b & 255) << 16;
}

void GR_Draw_SetColour(uint32_t colour) { GR_DrawColour = ARGB(colour); }

void GR_Draw_SetAlpha(float alpha)
{
    GR_DrawAlpha = Colour_AlphaToByte(alpha);
    GR_DrawColour = Colour_WithAlpha(GR_DrawColour, uint32_t(GR_DrawAlpha));
}

uint32_t GR_Draw_GetColour()
{
    const uint32_t c = GR_DrawColour;
    return (c & 0xFF00FF00) | (c >> 16 & 0xFF) | (c & 0xFF) << 16;
}

float GR_Draw_GetAlpha() { return float(GR_DrawAlpha) / 255.0f; }

void GR_Draw_Clear(uint32_t colour)
{
    GraphicsFlush();
    GR_D3D_Clear(Colour_WithAlpha(colour, uint32_t(GR_DrawAlpha)), 1.0f, 0, 7);
}

void GR_Draw_ClearAlpha(uint32_t colour, float alpha)
{
    GraphicsFlush();
    GR_D3D_Clear(Colour_WithAlpha(colour, uint32_t(Colour_AlphaToByte(alpha))), 1.0f, 0, 7);
}

namespace {
void Line(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2)
{
    VertexPosColour* v = Alloc16(RDPT_LINELIST, 2);
    Put(&v[0], x1 + GR_PrimOffsetX, y1 + GR_PrimOffsetY, c1);
    Put(&v[1], x2 + GR_PrimOffsetX, y2 + GR_PrimOffsetY, c2);
}
}  // namespace

void GR_Draw_Point(float x, float y)
{
    Put(Alloc16(RDPT_POINTLIST, 1), x + GR_PrimOffsetX, y + GR_PrimOffsetY, GR_DrawColour);
}

void GR_Draw_PointColour(float x, float y, uint32_t colour)
{
    Put(Alloc16(RDPT_POINTLIST, 1), x + GR_PrimOffsetX, y + GR_PrimOffsetY, ARGB(colour));
}

void GR_Draw_Line(float x1, float y1, float x2, float y2) { Line(x1, y1, x2, y2, GR_DrawColour, GR_DrawColour); }

void GR_Draw_LineColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2)
{
    Line(x1, y1, x2, y2, ARGB(c1), ARGB(c2));
}

void GR_Draw_LineWidth(float x1, float y1, float x2, float y2, float width)
{
    WideLine(x1, y1, x2, y2, width, GR_DrawColour, GR_DrawColour);
}

void GR_Draw_LineWidthColour(float x1, float y1, float x2, float y2, float width, uint32_t c1, uint32_t c2)
{
    WideLine(x1, y1, x2, y2, width, ARGB(c1), ARGB(c2));
}

namespace {
void Triangle(float x1, float y1, float x2, float y2, float x3, float y3, uint32_t c1, uint32_t c2, uint32_t c3,
              bool outline)
{
    VertexPosColourUV* v = Alloc24(outline ? RDPT_LINESTRIP : RDPT_TRIANGLELIST, outline ? 4 : 3);
    Put(&v[0], x1, y1, c1);
    Put(&v[1], x2, y2, c2);
    Put(&v[2], x3, y3, c3);
    if (outline) Put(&v[3], x1, y1, c1);
}

void RectangleCorners(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t c4,
                      bool outline)
{
    x2 += GR_PrimOffsetX;
    y2 += GR_PrimOffsetY;
    Order(&x1, &x2);
    Order(&y1, &y2);
    x2 = NudgeWhole(x2);
    y2 = NudgeWhole(y2);
    VertexPosColourUV* v = Alloc24(outline ? RDPT_LINESTRIP : RDPT_TRIANGLEFAN, 5);
    Put(&v[0], x1, y1, c1);
    Put(&v[1], x2, y1, c2);
    Put(&v[2], x2, y2, c3);
    Put(&v[3], x1, y2, c4);
    Put(&v[4], x1, y1, c1);
}
}  // namespace

void GR_Draw_Triangle(float x1, float y1, float x2, float y2, float x3, float y3, bool outline)
{
    Triangle(x1, y1, x2, y2, x3, y3, GR_DrawColour, GR_DrawColour, GR_DrawColour, outline);
}

void GR_Draw_TriangleColour(float x1, float y1, float x2, float y2, float x3, float y3, uint32_t c1, uint32_t c2,
                            uint32_t c3, bool outline)
{
    Triangle(x1, y1, x2, y2, x3, y3, ARGB(c1), ARGB(c2), ARGB(c3), outline);
}

void GR_Draw_Rectangle(float x1, float y1, float x2, float y2, bool outline)
{
    Order(&x1, &x2);
    Order(&y1, &y2);
    const uint32_t c = GR_DrawColour;
    const float ox = GR_PrimOffsetX, oy = GR_PrimOffsetY;
    if (outline) {
        VertexPosColourUV* v = Alloc24(RDPT_LINESTRIP, 5);
        Put(&v[0], x1 + ox, y1 + oy, c);
        Put(&v[1], x2 + ox, y1 + oy, c);
        Put(&v[2], x2 + ox, y2 + oy, c);
        Put(&v[3], x1 + ox, y2 + oy, c);
        Put(&v[4], x1 + ox, y1 + oy, c);
        // The strip may leave corner pixels unlit.
        VertexPosColourUV* p = Alloc24(RDPT_POINTLIST, 4);
        Put(&p[0], x1 + ox, y1 + oy, c);
        Put(&p[1], x2 + ox, y1 + oy, c);
        Put(&p[2], x2 + ox, y2 + oy, c);
        Put(&p[3], x1 + ox, y2 + oy, c);
        return;
    }
    const float fx = x2 + ox, fy = y2 + oy;
    VertexPosColourUV* v = Alloc24(RDPT_TRIANGLELIST, 6);
    Put(&v[0], x1, y1, c);
    Put(&v[1], fx, y1, c);
    Put(&v[2], fx, fy, c);
    Put(&v[3], fx, fy, c);
    Put(&v[4], x1, fy, c);
    Put(&v[5], x1, y1, c);
}

void GR_Draw_RectangleColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2, uint32_t c3,
                             uint32_t c4, bool outline)
{
    RectangleCorners(x1, y1, x2, y2, ARGB(c1), ARGB(c2), ARGB(c3), ARGB(c4), outline);
}

void GR_Draw_SetCirclePrecision(int32_t n)
{
    n = std::clamp(n, 4, 64) / 4 * 4;
    GR_Circle.precision = n;
    for (int32_t i = 0; i <= n; ++i) {
        const float angle = float(i) * 2.0f * 3.1415927f / float(n);
        GR_Circle.cosines[i] = std::cos(angle);
        GR_Circle.sines[i] = std::sin(angle);
    }
}

void GR_Draw_Init() { GR_Draw_SetCirclePrecision(24); }

void GR_Draw_EllipseCore(float x1, float y1, float x2, float y2, uint32_t centre, uint32_t rim, bool outline)
{
    x1 += GR_PrimOffsetX;
    x2 += GR_PrimOffsetX;
    y1 += GR_PrimOffsetY;
    y2 += GR_PrimOffsetY;
    const float cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    const float rx = std::fabs(x2 - x1) / 2, ry = std::fabs(y2 - y1) / 2;
    const int32_t n = GR_Circle.precision;
    const float* cs = GR_Circle.cosines;
    const float* sn = GR_Circle.sines;
    if (outline) {
        VertexPosColour* v = Alloc16(RDPT_LINESTRIP, n + 1);
        for (int32_t i = 0; i <= n; ++i) Put(&v[i], cx + cs[i] * rx, cy + sn[i] * ry, rim);
        return;
    }
    VertexPosColour* v = Alloc16(RDPT_TRIANGLELIST, 3 * n);
    for (int32_t i = 0; i < n; ++i) {
        Put(&v[3 * i], cx, cy, centre);
        Put(&v[3 * i + 1], cx + cs[i] * rx, cy + sn[i] * ry, rim);
        Put(&v[3 * i + 2], cx + cs[i + 1] * rx, cy + sn[i + 1] * ry, rim);
    }
}

void GR_Draw_Circle(float x, float y, float r, bool outline)
{
    GR_Draw_EllipseCore(x - r, y - r, x + r, y + r, GR_DrawColour, GR_DrawColour, outline);
}

void GR_Draw_CircleColour(float x, float y, float r, uint32_t c1, uint32_t c2, bool outline)
{
    GR_Draw_EllipseCore(x - r, y - r, x + r, y + r, ARGB(c1), ARGB(c2), outline);
}

void GR_Draw_Ellipse(float x1, float y1, float x2, float y2, bool outline)
{
    GR_Draw_EllipseCore(x1, y1, x2, y2, GR_DrawColour, GR_DrawColour, outline);
}

void GR_Draw_EllipseColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2, bool outline)
{
    GR_Draw_EllipseCore(x1, y1, x2, y2, ARGB(c1), ARGB(c2), outline);
}

void GR_Draw_RoundRectCore(float x1, float y1, float x2, float y2, float w, float h, uint32_t centre, uint32_t rim,
                           bool outline)
{
    x1 += GR_PrimOffsetX;
    x2 += GR_PrimOffsetX;
    y1 += GR_PrimOffsetY;
    y2 += GR_PrimOffsetY;
    const float cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    const float boxW = std::fabs(x2 - x1), boxH = std::fabs(y2 - y1);
    w = std::min(w, boxW);
    h = std::min(h, boxH);
    const float rw = w / 2, rh = h / 2;
    const float ax = (boxW - w) / 2, ay = (boxH - h) / 2;
    const int32_t n = GR_Circle.precision, q = n / 4;
    // Each quarter arc turns around its own corner centre.
    const float arcX[4] = {cx + ax, cx - ax, cx - ax, cx + ax};
    const float arcY[4] = {cy + ay, cy + ay, cy - ay, cy - ay};

    VertexPosColourUV* v = Alloc24(outline ? RDPT_LINESTRIP : RDPT_TRIANGLEFAN, n + 6);
    int32_t at = 1;
    for (int32_t arc = 0; arc < 4; ++arc) {
        for (int32_t i = arc * q; i <= (arc + 1) * q; ++i) {
            v[at++] = {arcX[arc] + GR_Circle.cosines[i] * rw, arcY[arc] + GR_Circle.sines[i] * rh, GR_Depth, rim,
                       0, 0};
        }
    }
    v[at] = v[1];
    v[0] = outline ? v[1] : VertexPosColourUV{cx, cy, GR_Depth, centre, 0, 0};
}

namespace {
void RoundRect(float x1, float y1, float x2, float y2, float w, float h, uint32_t centre, uint32_t rim, bool outline)
{
    Order(&x1, &x2);
    Order(&y1, &y2);
    GR_Draw_RoundRectCore(x1, y1, NudgeWhole(x2), NudgeWhole(y2), w, h, centre, rim, outline);
}
}  // namespace

void GR_Draw_RoundRect(float x1, float y1, float x2, float y2, float w, float h, bool outline)
{
    RoundRect(x1, y1, x2, y2, w, h, GR_DrawColour, GR_DrawColour, outline);
}

void GR_Draw_RoundRectColour(float x1, float y1, float x2, float y2, float w, float h, uint32_t c1, uint32_t c2,
                             bool outline)
{
    RoundRect(x1, y1, x2, y2, w, h, ARGB(c1), ARGB(c2), outline);
}

void GR_Draw_Arrow(float x1, float y1, float x2, float y2, float size)
{
    const float dx = x2 - x1, dy = y2 - y1;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (length == 0.0f) return;
    size = std::min(size, length);
    const uint32_t c = GR_DrawColour;
    Line(x1, y1, x2, y2, c, c);
    const float ex = size * dx / length, ey = size * dy / length;
    VertexPosColourUV* head = Alloc24(RDPT_TRIANGLELIST, 3);
    Put(&head[0], x2 - ex - ey / 3, y2 - ey + ex / 3, c);
    Put(&head[1], x2, y2, c);
    Put(&head[2], x2 - ex + ey / 3, y2 - ey - ex / 3, c);
}

void GR_Draw_Button(float x1, float y1, float x2, float y2, bool up)
{
    const uint32_t light = up ? 0xFFFFFF : 0x808080, dark = up ? 0x808080 : 0xFFFFFF;
    GR_Draw_TriangleColour(x1, y1, x2, y1, x1, y2, light, light, light, false);
    GR_Draw_TriangleColour(x1, y2, x2, y1, x2, y2, dark, dark, dark, false);
    GR_Draw_Rectangle(x1 + 2, y1 + 2, x2 - 2, y2 - 2, false);
}

void GR_Draw_HealthBar(float x1, float y1, float x2, float y2, float amount, uint32_t back, uint32_t min,
                       uint32_t mid, uint32_t max, int32_t direction, bool showBack, bool showBorder)
{
    if (showBack) {
        GR_Draw_RectangleColour(x1, y1, x2, y2, back, back, back, back, false);
        if (showBorder) GR_Draw_RectangleColour(x1, y1, x2, y2, 0, 0, 0, 0, true);
    }
    if (std::isnan(amount)) amount = 0;
    amount = std::clamp(amount, 0.0f, 100.0f);
    if (amount == 0) return;
    const float f = amount / 100;
    switch (direction) {
    case 1: x1 = x2 - (x2 - x1) * f; break;
    case 2: y2 = y1 + (y2 - y1) * f; break;
    case 3: y1 = y2 - (y2 - y1) * f; break;
    default: x2 = x1 + (x2 - x1) * f; break;
    }
    const uint32_t bar = amount <= 50 ? Colour_Merge(min, mid, amount / 50.0)
                                      : Colour_Merge(mid, max, (amount - 50) / 50.0);
    GR_Draw_RectangleColour(x1, y1, x2, y2, bar, bar, bar, bar, false);
    if (showBorder) GR_Draw_RectangleColour(x1, y1, x2, y2, 0, 0, 0, 0, true);
}

void GR_Draw_PrimitiveBegin(int32_t type, int64_t texture)
{
    GRUserPrimitive& prim = GR_UserPrim;
    prim.count = 0;
    prim.type = type;
    prim.texture = texture;
    prim.handle = TextureHandle_Resolve(texture);
    if (prim.handle.kind == TextureHandleKind::Illegal) {
        Error_Show_Action("Illegal texture supplied.", true);
        return;
    }
}

void GR_Draw_Vertex(float x, float y) { StoreUserVertex(x, y, GR_DrawColour, 0, 0); }

void GR_Draw_VertexColour(float x, float y, uint32_t colour, float alpha)
{
    StoreUserVertex(x, y, Colour_ToARGB(colour, uint32_t(Colour_AlphaToByte(alpha))), 0, 0);
}

void GR_Draw_VertexTexture(float x, float y, float u, float v) { StoreUserVertex(x, y, GR_DrawColour, u, v); }

void GR_Draw_VertexTextureColour(float x, float y, float u, float v, uint32_t colour, float alpha)
{
    StoreUserVertex(x, y, Colour_ToARGB(colour, uint32_t(Colour_AlphaToByte(alpha))), u, v);
}

void GR_Draw_PrimitiveEnd()
{
    const GRUserPrimitive& prim = GR_UserPrim;
    // An illegal texture has been reported; nothing is drawn from it.
    if (prim.handle.kind == TextureHandleKind::Illegal) return;
    const int32_t n = prim.count;
    // Lists send whole primitives only: a partial one would shift every later request joined to the batch.
    int32_t primitives = 0, send = n;
    switch (prim.type) {
    case RDPT_POINTLIST: primitives = n; break;
    case RDPT_LINELIST: primitives = n / 2; send = primitives * 2; break;
    case RDPT_LINESTRIP: primitives = n - 1; break;
    case RDPT_TRIANGLELIST: primitives = n / 3; send = primitives * 3; break;
    case RDPT_TRIANGLESTRIP:
    case RDPT_TRIANGLEFAN: primitives = n - 2; break;
    default: return;
    }
    if (primitives < 1) return;
    auto* v = static_cast<VertexPosColourUV*>(
        GR_Batch_Alloc(prim.type, prim.handle.texture, VERTEX_FORMAT_POS_COLOUR_UV, send));
    std::copy(prim.vertices, prim.vertices + send, v);
}
