// Untextured 2D shapes, the draw colour and alpha, clears, and the user-built primitive. Shapes sample the
// white page so that they batch with each other.
#pragma once
#include <cstdint>

#include "gfx/batch.h"
#include "gfx/texture_handle.h"

extern uint32_t GR_DrawColour;  // ARGB, the draw alpha on top
extern int32_t GR_DrawAlpha;    // 0..255

// The circle tables: precision n and n + 1 cosines and sines.
struct GRCircleTables {
    int32_t precision = 24;
    float cosines[65] = {};
    float sines[65] = {};
};
extern GRCircleTables GR_Circle;

constexpr int32_t GR_USER_PRIM_MAX = 1001;
struct GRUserPrimitive {
    int32_t type = 0;
    int64_t texture = -1;
    TextureHandle handle;
    int32_t count = 0;
    VertexPosColourUV vertices[GR_USER_PRIM_MAX] = {};
};
extern GRUserPrimitive GR_UserPrim;

uint32_t Colour_MakeRGB(int32_t r, int32_t g, int32_t b);
void GR_Draw_SetColour(uint32_t colour);
void GR_Draw_SetAlpha(float alpha);
uint32_t GR_Draw_GetColour();
float GR_Draw_GetAlpha();
void GR_Draw_Clear(uint32_t colour);
void GR_Draw_ClearAlpha(uint32_t colour, float alpha);

// Colours given here are script colours (BGR); they take the draw alpha.
void GR_Draw_Point(float x, float y);
void GR_Draw_PointColour(float x, float y, uint32_t colour);
void GR_Draw_Line(float x1, float y1, float x2, float y2);
void GR_Draw_LineColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2);
void GR_Draw_LineWidth(float x1, float y1, float x2, float y2, float width);
void GR_Draw_LineWidthColour(float x1, float y1, float x2, float y2, float width, uint32_t c1, uint32_t c2);
void GR_Draw_Triangle(float x1, float y1, float x2, float y2, float x3, float y3, bool outline);
void GR_Draw_TriangleColour(float x1, float y1, float x2, float y2, float x3, float y3, uint32_t c1, uint32_t c2,
                            uint32_t c3, bool outline);
void GR_Draw_Rectangle(float x1, float y1, float x2, float y2, bool outline);
void GR_Draw_RectangleColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2, uint32_t c3,
                             uint32_t c4, bool outline);
void GR_Draw_SetCirclePrecision(int32_t n);
// Centre and rim are vertex colours (ARGB).
void GR_Draw_EllipseCore(float x1, float y1, float x2, float y2, uint32_t centre, uint32_t rim, bool outline);
void GR_Draw_Circle(float x, float y, float r, bool outline);
void GR_Draw_CircleColour(float x, float y, float r, uint32_t c1, uint32_t c2, bool outline);
void GR_Draw_Ellipse(float x1, float y1, float x2, float y2, bool outline);
void GR_Draw_EllipseColour(float x1, float y1, float x2, float y2, uint32_t c1, uint32_t c2, bool outline);
// Centre and rim are vertex colours (ARGB).
void GR_Draw_RoundRectCore(float x1, float y1, float x2, float y2, float w, float h, uint32_t centre, uint32_t rim,
                           bool outline);
void GR_Draw_RoundRect(float x1, float y1, float x2, float y2, float w, float h, bool outline);
void GR_Draw_RoundRectColour(float x1, float y1, float x2, float y2, float w, float h, uint32_t c1, uint32_t c2,
                             bool outline);
void GR_Draw_Arrow(float x1, float y1, float x2, float y2, float size);
void GR_Draw_Button(float x1, float y1, float x2, float y2, bool up);
// A NaN amount acts as 0.
void GR_Draw_HealthBar(float x1, float y1, float x2, float y2, float amount, uint32_t back, uint32_t min,
                       uint32_t mid, uint32_t max, int32_t direction, bool showBack, bool showBorder);

// The user primitive: at most 1001 vertices, drawn at the end.
void GR_Draw_PrimitiveBegin(int32_t type, int64_t texture);
void GR_Draw_Vertex(float x, float y);
void GR_Draw_VertexColour(float x, float y, uint32_t colour, float alpha);
void GR_Draw_VertexTexture(float x, float y, float u, float v);
void GR_Draw_VertexTextureColour(float x, float y, float u, float v, uint32_t colour, float alpha);
void GR_Draw_PrimitiveEnd();
