// The vertex batcher: draws are gathered and sent to the device in batches.
#pragma once
#include <cstdint>

#include "platform/render_device.h"

struct NativeTexture;

// Vertex format codes drawing code passes (their flexible formats are 0x42, 0x142 and 0x152).
constexpr int32_t VERTEX_FORMAT_POS_COLOUR = 16;
constexpr int32_t VERTEX_FORMAT_POS_COLOUR_UV = 24;
constexpr int32_t VERTEX_FORMAT_POS_NORMAL_COLOUR_UV = 36;
// A declared vertex format's id: this bit with the format's index.
constexpr int32_t VERTEX_FORMAT_ID_BIT = 0x1000000;

struct VertexPosColour {
    float x, y, z;
    uint32_t colour;  // ColourARGB
};
struct VertexPosColourUV {
    float x, y, z;
    uint32_t colour;
    float u, v;
};
struct VertexPosNormalColourUV {
    float x, y, z, nx, ny, nz;
    uint32_t colour;
    float u, v;
};
static_assert(sizeof(VertexPosColour) == 16 && sizeof(VertexPosColourUV) == 24 &&
              sizeof(VertexPosNormalColourUV) == 36);

// Buffer flags.
constexpr uint32_t GPUVB_LOCKED = 1;
constexpr uint32_t GPUVB_DYNAMIC = 2;
constexpr uint32_t GPUVB_LOCKED_THIS_FRAME = 4;
constexpr uint32_t GPUVB_BYTES = 8;  // capacity and positions count bytes, not vertices

// A device vertex buffer and its write bookkeeping. The batch's buffers form one list in creation order;
// frozen script vertex buffers use the same record outside it.
struct GPUVertexBuffer {
    GPUVertexBuffer* prev = nullptr;
    GPUVertexBuffer* next = nullptr;
    uint32_t flags = 0;
    RDVertexBuffer* buffer = nullptr;
    int32_t format = 0;  // flexible vertex format or declared-format id
    int32_t stride = 0;
    int32_t lockStart = 0;
    int32_t writePosition = 0;
    int32_t capacity = 0;
    uint8_t* data = nullptr;  // the locked memory, null when unlocked
    uint64_t lastUsed = 0;

    // Count vertices (or bytes with GPUVB_BYTES in flags) of the format; GPUVB_DYNAMIC asks for a dynamic
    // buffer. Null when the device has none to give: the fatal error has been reported by then.
    static GPUVertexBuffer* Create(int32_t format, int32_t count, uint32_t flags);
    // From the write position to the end; false when the device refused.
    bool Lock();
    void Unlock();
    // Replaces the contents from the start (cut to the capacity); failures are reported, not fatal.
    void Upload(const void* source, int32_t bytes);
    void Release();
    // Release and free the record (null ignored).
    static void Delete(GPUVertexBuffer* buffer);
};

// The batcher's state: tests and the debug overlay read it.
struct GRBatchState {
    int32_t type = -1;                // PrimitiveType of the pending batch; -1 none
    const void* texture = nullptr;    // NativeTexture of the pending batch, or the no-match value
    int32_t format = 0;               // code as requested
    int32_t stride = 0;
    bool closed = true;
    uint8_t* data = nullptr;          // the pending batch's vertex memory
    int32_t method = 0;               // 0 shared buffer, 1 pool, 2 user memory
    GPUVertexBuffer* current = nullptr;
    GPUVertexBuffer* shared = nullptr;
    int32_t sharedCapacity = 294912;  // bytes
    uint8_t* user = nullptr;
    int32_t userCapacity = 294912;    // bytes
    int32_t userUsed = 0;             // vertices
    int32_t bufferMinimum = 16384;    // vertices of a new pool buffer
    uint64_t frame = 10;
    GPUVertexBuffer* first = nullptr;  // the list
    GPUVertexBuffer* last = nullptr;
    int32_t bufferCount = 0;
    int64_t totalBytes = 0;
    int32_t drawCalls = 0;            // this frame's; the debug overlay resets it
    uint8_t* scratch = nullptr;       // takes the vertices of a request that cannot be drawn
    int32_t scratchBytes = 0;
};
extern GRBatchState GR_Batch;

// Room for count vertices of the format; the caller writes them all or gives the tail back with
// GR_Batch_ReturnVertices before the next request. Never null.
void* GR_Batch_Alloc(int32_t type, NativeTexture* texture, int32_t format, int32_t count);
// The last n vertices of the latest request are given back.
void GR_Batch_ReturnVertices(int32_t n);
// Draws the pending batch and sends the dirty render state to the device.
void GraphicsFlush();
// The frame's end: the batch's vertex buffers start over.
void GR_Batch_EndFrame();
// Shutdown and device resets: every buffer and the user memory.
void GR_Batch_FreeAll();
// The most one request may ask for.
inline int32_t GR_Batch_MaxVertices() { return 65536; }
inline int32_t GR_Batch_MaxBytes() { return 2359296; }
inline bool GR_Batch_CanFreeze(int32_t) { return true; }
inline bool GR_FrozenBufferValid() { return true; }
// Draws vertices of a frozen script vertex buffer at once (the pending batch goes first).
void GR_DrawFrozenVertexBuffer(int32_t type, int32_t count, int32_t start, int32_t format, NativeTexture* texture,
                               GPUVertexBuffer* buffer);

int32_t GR_VertexFormat_GetSize(int32_t code);
uint32_t GR_VertexFormat_ToFVF(int32_t code);
