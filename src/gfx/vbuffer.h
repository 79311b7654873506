// Script vertex buffers: vertices written element by element in a declared format, drawn through the batch
// or, once frozen, from a device buffer of their own.
#pragma once
#include <cstdint>

struct GPUVertexBuffer;
struct RValue;
struct VertexFormat;

struct VertexBuffer {
    uint8_t* data = nullptr;  // memory manager; null once frozen
    int32_t capacity = 0;     // bytes of data
    int32_t used = 0;         // bytes of completed vertices (unchecked writers: every value written)
    int32_t elementCounter = 0;
    int32_t elementCount = 0;
    uint32_t writtenMask = 0;
    int32_t vertexCount = 0;
    bool frozen = false;
    int32_t builderFormat = 0;  // format id between vertex_begin and vertex_end, else 0
    int32_t format = 0;         // format id of the finished contents, else 0
    GPUVertexBuffer* device = nullptr;
    // A frozen buffer's position bounds (min x, y, z, max x, y, z), when its positions are plain finite points.
    float bounds[6] = {};
    bool hasBounds = false;

    // Room for one whole vertex of the builder format.
    void Reserve();
    // Room for bytes more at the write position, grown as Reserve grows.
    void ReserveBytes(int32_t bytes);
    // Where the next value of that usage and type goes (null, reported, when the format has no such unwritten
    // element); completes the vertex when it was its last element.
    uint8_t* GetElementPtr(int32_t usage, int32_t type);
    uint8_t* GetElementPtrByType(int32_t type);
    bool Freeze();
    ~VertexBuffer();
};

// A buffer with a zero-filled block of size bytes in the first free slot; its index.
int32_t VertexBuffer_Create(int32_t size);
VertexBuffer* VertexBuffer_Get(int32_t index);
void VertexBuffer_Delete(int32_t index);
// Every buffer and the table (tests and shutdown).
void VertexBuffer_FreeAll();
int32_t VertexBuffer_TableSize();
// The checked writers' common checks: null (reported) when they fail.
VertexBuffer* VertexBuilder_GetBuffer(RValue* args, int32_t argc, int32_t expected);
// Shutdown: the device buffers of frozen buffers.
void VertexBuffer_ReleaseFrozen();
void VertexBuffer_SetCheckedWriters(bool checked);
void InitVertexBufferFunctions();
