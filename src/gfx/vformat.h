// Vertex formats scripts declare: an ordered list of typed elements, their offsets and stride, and the device
// declaration made from them. Ids carry bit 24 so they never meet the batcher's own format codes.
#pragma once
#include <cstdint>

class RDVertexDeclaration;

// Element types (the script's vertex_type values).
constexpr int32_t VERTEX_TYPE_FLOAT1 = 1;
constexpr int32_t VERTEX_TYPE_FLOAT2 = 2;
constexpr int32_t VERTEX_TYPE_FLOAT3 = 3;
constexpr int32_t VERTEX_TYPE_FLOAT4 = 4;
constexpr int32_t VERTEX_TYPE_COLOUR = 5;
constexpr int32_t VERTEX_TYPE_UBYTE4 = 6;
// Element usages (the script's vertex_usage values).
constexpr int32_t VERTEX_USAGE_POSITION = 1;
constexpr int32_t VERTEX_USAGE_COLOUR = 2;
constexpr int32_t VERTEX_USAGE_NORMAL = 3;
constexpr int32_t VERTEX_USAGE_TEXCOORD = 4;
constexpr int32_t VERTEX_USAGE_POSITIONT = 11;
constexpr int32_t VERTEX_USAGE_LAST = 14;

struct VertexFormatElement {
    int32_t offset;  // sum of the sizes of the elements before it
    int32_t type;
    int32_t usage;
    uint32_t bit;  // 1 for the first element, 2 for the second, ...
};

struct VertexFormat {
    int32_t id = 0;
    int32_t count = 0;
    VertexFormatElement* elements = nullptr;  // memory manager
    RDVertexDeclaration* declaration = nullptr;
    uint32_t mask = 0;
    int32_t stride = 0;

    void AddElement(int32_t type, int32_t usage, uint32_t bit);
    void CreateDeclaration();
    void ReleaseDeclaration();
    // Reverses the bytes of every 4-byte component of n vertices from byte start; only for data of the other
    // byte order. Gives the times the run wrapped (wrap) or 0.
    int32_t SwapEndian(uint8_t* data, int32_t n, int32_t start, int32_t size, bool wrap) const;
};

// Bytes of an element type; 0 outside 1-6.
int32_t VertexFormat_TypeSize(int32_t type);
// Null for batch codes, negative values, indexes past the table and deleted slots.
VertexFormat* VertexFormat_Get(int32_t id);
VertexFormat* VertexFormat_Register(VertexFormat* format);
void VertexFormat_Free(VertexFormat* format);
// Shutdown: flushes the batch, releases every declaration, frees every format and the table.
void VertexFormat_FreeAll();
// Shutdown, after the text state: a format left under construction and the builder's state.
void VertexFormat_FreeElementTable();
// True when a format places positions already on screen (usage 11).
bool VertexFormat_IsPretransformed(const VertexFormat* format);
int32_t VertexFormat_Count();
void InitVertexFormatFunctions();
