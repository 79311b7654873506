// Immediate 3D drawing: primitives built vertex by vertex in 36-byte vertices, split into pieces that fit the
// collection array, and the ready-made solids. Each finished primitive goes to the batch, or to the current
// graphics recorder while a model is being recorded.
#pragma once
#include <cstdint>

#include "gfx/batch.h"
#include "gfx/texture_handle.h"

constexpr int32_t GR_3D_PRIM_MAX = 1000;

struct GR3DPrimitive {
    int32_t type = 0;
    int32_t count = 0;
    int32_t capacity = GR_3D_PRIM_MAX;  // of the type: 999 for triangle lists, so no triangle is cut
    int32_t page = -1;                  // texture-table index drawn from; -1 none
    // Set when the handle named a page entry: its texture coordinates are mapped onto the page.
    bool mapped = false;
    float sourceX = 0, sourceY = 0, targetWidth = 0, targetHeight = 0;
    float pageWidth = 1, pageHeight = 1;
    VertexPosNormalColourUV vertices[GR_3D_PRIM_MAX] = {};
};
extern GR3DPrimitive GR_3DPrim;

// texture: a script's handle; handles that name nothing draw untextured.
void GR_3D_PrimitiveBegin(int32_t type, int64_t texture);
// Colours given here are script colours (BGR) with a float alpha. Vertices in the draw colour carry it with
// bit 0 cleared; vertices with their own colour have bit 0 of the script colour set, so a recorder can tell
// them apart when a model is recoloured.
void GR_3D_Vertex(float x, float y, float z);
void GR_3D_VertexColour(float x, float y, float z, uint32_t colour, float alpha);
void GR_3D_VertexTexture(float x, float y, float z, float u, float v);
void GR_3D_VertexTextureColour(float x, float y, float z, float u, float v, uint32_t colour, float alpha);
void GR_3D_VertexNormal(float x, float y, float z, float nx, float ny, float nz);
void GR_3D_VertexNormalColour(float x, float y, float z, float nx, float ny, float nz, uint32_t colour, float alpha);
void GR_3D_VertexNormalTexture(float x, float y, float z, float nx, float ny, float nz, float u, float v);
void GR_3D_VertexNormalTextureColour(float x, float y, float z, float nx, float ny, float nz, float u, float v,
                                     uint32_t colour, float alpha);
// Sends the collected vertices (whole primitives only); the count stays as it is.
void GR_3D_PrimitiveEnd();
// Called when the array is full: ends the piece and starts the next with what strips and fans carry over.
void GR_3D_AddVertex();

// The solids, in the draw colour with texture repeat on. Steps are clamped to 3..128.
void GR_3D_DrawBlock(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                     float vrepeat);
void GR_3D_DrawCylinder(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                        float vrepeat, bool closed, int32_t steps);
void GR_3D_DrawCone(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                    float vrepeat, bool closed, int32_t steps);
void GR_3D_DrawEllipsoid(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                         float vrepeat, int32_t steps);
// A wall or floor of length 0 draws nothing and leaves texture repeat alone.
void GR_3D_DrawWall(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                    float vrepeat);
void GR_3D_DrawFloor(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                     float vrepeat);
