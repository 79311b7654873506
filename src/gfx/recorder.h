// The graphics recorder behind 3D models: while one is current, every primitive the immediate 3D path
// finishes is kept here as a plain triangle, line or point list instead of being drawn. Drawing puts each list
// into a static device buffer (made on the first draw and kept) and draws it with one call, at an offset.
#pragma once
#include <cstdint>

#include "gfx/batch.h"

struct NativeTexture;

// The device format of recorded vertices: position, normal, colour, one texture coordinate pair.
constexpr uint32_t GR_RECORDER_FVF = 0x152;
constexpr uint32_t GR_RECORDER_STRIDE = 36;

struct GraphicsRecorderList {
    VertexPosNormalColourUV* vertices = nullptr;
    RDVertexBuffer* buffer = nullptr;  // null until drawn, and again after a recolour
    int32_t count = 0;
    int32_t capacity = 0;
};

struct GraphicsRecorder {
    // The draw colour the recording was made with (bit 0 clear); with bit 0 set nothing is ever recoloured.
    uint32_t colour = 0;
    NativeTexture* texture = nullptr;  // drawn with every list; null untextured
    GraphicsRecorderList triangles, lines, points;

    // type 1..6 (any other lands in the point list); strips and fans become lists. A primitive with fewer
    // vertices than one whole primitive records nothing, and a list keeps whole primitives only.
    void AddPrimitive(int32_t type, int32_t n, const VertexPosNormalColourUV* v);
    // Room for n more vertices, counted; -1 trims the array to its count. False when the list cannot grow.
    bool Grow(GraphicsRecorderList* list, int32_t n);
    void SetColour(uint32_t colour);
    void Draw(float x, float y, float z);
    // A static buffer holding the vertices; null when the device gives none.
    static RDVertexBuffer* CreateVertexBuffer(const VertexPosNormalColourUV* v, int32_t count);
    void ReleaseBuffers();
    // The buffers and the vertex arrays; the record itself belongs to its owner.
    void Free();
};

// The recorder being filled (null when none); the model code sets and clears it.
extern GraphicsRecorder* GR_CurrentRecorder;
// The sampler stage the batch binds its texture to: the current shader's base-texture register, 0 without one.
extern int32_t GR_BatchTextureStage;
