// Script vertex buffers: the buffer table, the checked writers (every call validated, each value at its
// element's place) and the unchecked ones bound in release mode (values appended in call order), drawing
// through the batch or from a frozen device buffer, and buffers made from binary buffers.
#include "gfx/vbuffer.h"

#include "core/arguments.h"
#include "core/console.h"
#include "core/convert.h"
#include "core/error.h"
#include "core/functions.h"
#include "core/memory_manager.h"
#include "core/value.h"
#include "ds/buffer.h"
#include "ds/ds.h"
#include "gfx/batch.h"
#include "gfx/colour.h"
#include "gfx/device.h"
#include "gfx/matrices.h"
#include "gfx/shaders.h"
#include "gfx/texpage.h"
#include "gfx/texture_handle.h"
#include "gfx/vformat.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

VertexBuffer** g_VBbuffers = nullptr;  // memory manager; empty slots null
int32_t g_VBbufferSlots = 0;

constexpr int32_t kVBDefaultBufferSize = 32768;
constexpr int32_t kVBMinimumBufferSize = 256;

void VB_Report(const char* message) { Error_Show_Action(message, false); }

// A vertex buffer argument: the buffer, or null when the index names none.
VertexBuffer* VB_BufferArg(RValue* args, int32_t index) { return VertexBuffer_Get(QZGI32(args, index)); }

// A format that can hold vertices: one with at least one element.
VertexFormat* VB_UsableFormat(int32_t id)
{
    VertexFormat* f = VertexFormat_Get(id);
    return f && f->count > 0 && f->stride > 0 ? f : nullptr;
}

void VB_StoreFloats(uint8_t* at, RValue* args, int32_t first, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const float v = QZGF(args, first + i);
        std::memcpy(at + 4 * i, &v, 4);
    }
}

void VB_StoreU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }

void VB_StoreBytes(uint8_t* at, RValue* args, int32_t first)
{
    for (int32_t i = 0; i < 4; ++i) at[i] = uint8_t(QZGU32(args, first + i) & 0xFF);
}

// ---- Checked writers -----------------------------------------------------------------------------------------

template <int32_t Args, int32_t Usage, int32_t Type>
void VB_F_CheckedFloats(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VertexBuilder_GetBuffer(args, argc, Args);
    if (!b) return;
    uint8_t* at = Usage ? b->GetElementPtr(Usage, Type) : b->GetElementPtrByType(Type);
    if (at) VB_StoreFloats(at, args, 1, Args - 1);
}

void VB_F_CheckedColour(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VertexBuilder_GetBuffer(args, argc, 3);
    if (!b) return;
    if (uint8_t* at = b->GetElementPtr(VERTEX_USAGE_COLOUR, VERTEX_TYPE_COLOUR))
        VB_StoreU32(at, Colour_ToARGBAlpha(QZGU32(args, 1), QZGF(args, 2)));
}

void VB_F_CheckedArgb(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VertexBuilder_GetBuffer(args, argc, 2);
    if (!b) return;
    if (uint8_t* at = b->GetElementPtr(VERTEX_USAGE_COLOUR, VERTEX_TYPE_COLOUR)) VB_StoreU32(at, QZGU32(args, 1));
}

void VB_F_CheckedUbyte4(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VertexBuilder_GetBuffer(args, argc, 5);
    if (!b) return;
    if (uint8_t* at = b->GetElementPtrByType(VERTEX_TYPE_UBYTE4)) VB_StoreBytes(at, args, 1);
}

// ---- Unchecked writers -----------------------------------------------------------------------------------------

// The unchecked writers read plain reals in place (the getters for anything else, or a missing argument).
inline float VB_FastFloat(RValue* args, int32_t argc, int32_t index)
{
    if (index < argc && RValue_Kind(&args[index]) == VALUE_REAL && std::isfinite(args[index].real))
        return float(args[index].real);
    return QZGF(args, index);
}

inline uint32_t VB_FastU32(RValue* args, int32_t argc, int32_t index)
{
    if (index < argc && RValue_Kind(&args[index]) == VALUE_REAL) {
        const double r = args[index].real;
        if (r >= 0.0 && r < 4294967296.0) return uint32_t(r);  // in range: the plain conversion is exact
        if (std::isfinite(r)) return Real_ToUInt32Wrap(r);
    }
    return QZGU32(args, index);
}

inline void VB_FastFloats(uint8_t* at, RValue* args, int32_t argc, int32_t first, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const float v = VB_FastFloat(args, argc, first + i);
        std::memcpy(at + 4 * i, &v, 4);
    }
}

inline VertexBuffer* VB_FastBuffer(RValue* args, int32_t argc)
{
    if (argc < 1 || RValue_Kind(&args[0]) != VALUE_REAL) return VertexBuffer_Get(QZGI32(args, 0));
    // As the getter reads it: a value that is not finite is 0.
    const double r = args[0].real;
    const int32_t index = r >= 0.0 && r < 2147483648.0 ? int32_t(r) : std::isfinite(r) ? Real_ToInt32(r) : 0;
    return VertexBuffer_Get(index);
}

// The next free bytes of a buffer that can take a value (a valid index of a buffer that is not frozen), or null.
uint8_t* VB_AppendAt(RValue* args, int32_t argc, int32_t bytes, VertexBuffer** out)
{
    VertexBuffer* b = VB_FastBuffer(args, argc);
    if (!b || b->frozen) return nullptr;
    if (int64_t(b->used) + bytes > b->capacity) b->ReserveBytes(bytes);
    *out = b;
    return b->data + b->used;
}

void VB_Appended(VertexBuffer* b, int32_t bytes)
{
    b->used += bytes;
    if (++b->elementCounter >= b->elementCount) {
        // A buffer never begun has no element count: its values pile up without completing vertices.
        if (b->elementCount > 0) ++b->vertexCount;
        b->elementCounter = 0;
    }
}

template <int32_t Floats>
void VB_F_UncheckedFloats(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = nullptr;
    uint8_t* at = VB_AppendAt(args, argc, Floats * 4, &b);
    if (!at) return;
    VB_FastFloats(at, args, argc, 1, Floats);
    VB_Appended(b, Floats * 4);
}

void VB_F_UncheckedColour(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = nullptr;
    uint8_t* at = VB_AppendAt(args, argc, 4, &b);
    if (!at) return;
    VB_StoreU32(at, Colour_ToARGBAlpha(VB_FastU32(args, argc, 1), VB_FastFloat(args, argc, 2)));
    VB_Appended(b, 4);
}

void VB_F_UncheckedArgb(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = nullptr;
    uint8_t* at = VB_AppendAt(args, argc, 4, &b);
    if (!at) return;
    VB_StoreU32(at, VB_FastU32(args, argc, 1));
    VB_Appended(b, 4);
}

void VB_F_UncheckedUbyte4(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = nullptr;
    uint8_t* at = VB_AppendAt(args, argc, 4, &b);
    if (!at) return;
    for (int32_t i = 0; i < 4; ++i) at[i] = uint8_t(VB_FastU32(args, argc, 1 + i) & 0xFF);
    VB_Appended(b, 4);
}

// ---- Drawing -------------------------------------------------------------------------------------------------

bool g_VBloggedLostDeviceBuffer = false;

// True when the frozen buffer's bounds lie wholly beyond one side of the view (with a margin for the half-pixel
// shift): drawing it could not touch a pixel. Only the fixed transform is known; a shader places vertices itself.
bool VB_OutsideView(const VertexBuffer* b)
{
    if (!b->hasBounds || (Shader_Current() && Shader_Current()->compiled)) return false;
    const float* m = GR_Matrices[GRM_WORLDVIEWPROJ].m;
    int32_t left = 0, right = 0, below = 0, above = 0;
    for (int32_t corner = 0; corner < 8; ++corner) {
        const float x = b->bounds[(corner & 1) ? 3 : 0], y = b->bounds[(corner & 2) ? 4 : 1],
                    z = b->bounds[(corner & 4) ? 5 : 2];
        const float cx = x * m[0] + y * m[4] + z * m[8] + m[12];
        const float cy = x * m[1] + y * m[5] + z * m[9] + m[13];
        const float cw = x * m[3] + y * m[7] + z * m[11] + m[15];
        const float reach = 1.1f * cw;
        left += cx < -reach;
        right += cx > reach;
        below += cy < -reach;
        above += cy > reach;
    }
    return left == 8 || right == 8 || below == 8 || above == 8;
}

void VB_Submit(VertexBuffer* b, int32_t primitive, double textureHandle)
{
    NativeTexture* texture = TextureHandle_ResolveReal(textureHandle).texture;
    if (b->frozen) {
        if (!b->device) {
            // Only a device release takes it (shutdown); its vertices went when it was frozen.
            if (!g_VBloggedLostDeviceBuffer) {
                g_VBloggedLostDeviceBuffer = true;
                DebugConsole->Output("vertex_submit: a frozen vertex buffer has no device buffer\n");
            }
            return;
        }
        // Points may be drawn larger than a pixel: only lines and triangles are left out by their bounds.
        if (primitive != 1 && VB_OutsideView(b)) return;
        GR_DrawFrozenVertexBuffer(primitive, b->vertexCount, 0, b->format, texture, b->device);
        return;
    }
    const VertexFormat* f = VertexFormat_Get(b->format);
    if (!f || f->stride <= 0 || !b->data) return;
    const int32_t stride = f->stride;
    // Whole vertices that were really written: never more bytes than used.
    const int32_t count = std::min(b->vertexCount, b->used / stride);
    if (count <= 0) return;
    const int32_t maxVertices = GR_Batch_MaxVertices(), maxBytes = GR_Batch_MaxBytes();
    if (count < maxVertices && int64_t(count) * stride < maxBytes) {
        void* to = GR_Batch_Alloc(primitive, texture, b->format, count);
        std::memcpy(to, b->data, size_t(count) * size_t(stride));
        return;
    }
    int32_t group = 0;
    switch (primitive) {
    case 1: group = 1; break;
    case 2: group = 2; break;
    case 4: group = 3; break;
    default: return;  // strips and fans cannot be cut
    }
    const int32_t chunk = group * (std::min(maxBytes / stride, maxVertices) / group);
    if (chunk <= 0) return;
    for (int32_t first = 0; first < count; first += chunk) {
        int32_t n = std::min(chunk, count - first);
        n -= n % group;
        if (n <= 0) break;
        void* to = GR_Batch_Alloc(primitive, texture, b->format, n);
        std::memcpy(to, b->data + size_t(first) * size_t(stride), size_t(n) * size_t(stride));
    }
}

void VB_F_CheckedSubmit(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 3) {
        VB_Report("vertex_submit: Illegal argument count");
        return;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b) {
        VB_Report("vertex_submit: Illegal vertex buffer specified.");
        return;
    }
    if (!b->format || b->builderFormat) {
        VB_Report("vertex_submit: Must finish with vertex_end() before submitting.");
        return;
    }
    const int32_t primitive = QZGI32(args, 1);
    if (primitive < 1 || primitive > (b->frozen ? 5 : 6)) {
        VB_Report("vertex_submit: Primitive type error.");
        return;
    }
    VB_Submit(b, primitive, QZGR(args, 2));
    RValue_SetReal(result, 0.0);
}

void VB_F_UncheckedSubmit(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VB_BufferArg(args, 0);
    const int32_t primitive = QZGI32(args, 1);
    // Nothing is reported, but nothing out of range is drawn either.
    if (!b || primitive < 1 || primitive > 6) return;
    VB_Submit(b, primitive, QZGR(args, 2));
    RValue_SetReal(result, 0.0);
}

void VB_F_CheckedFreeze(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 1) {
        VB_Report("vertex_freeze: Illegal argument count");
        return;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b || b->frozen) {
        VB_Report("vertex_freeze: Illegal vertex buffer specified.");
        return;
    }
    if (b->builderFormat) {
        VB_Report("vertex_freeze: must end the vertex builder first");
        return;
    }
    if (b->Freeze()) RValue_SetReal(result, 0.0);
}

void VB_F_UncheckedFreeze(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (b && !b->frozen && b->Freeze()) RValue_SetReal(result, 0.0);
}

// ---- Buffers -------------------------------------------------------------------------------------------------

void VB_F_VertexCreateBuffer(RValue* result, CInstance*, CInstance*, int32_t argc, RValue*)
{
    RValue_SetReal(result, -1.0);
    if (argc != 0) {
        VB_Report("vertex_create_buffer: Illegal argument count");
        return;
    }
    RValue_SetReal(result, VertexBuffer_Create(kVBDefaultBufferSize));
}

void VB_F_VertexCreateBufferExt(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, -1.0);
    uint32_t size = QZGU32(args, 0);
    if (size < uint32_t(kVBMinimumBufferSize)) size = kVBMinimumBufferSize;
    // Sizes are kept as 32-bit signed counts.
    if (size > uint32_t(INT32_MAX)) {
        VB_Report("vertex_create_buffer_ext: could not create vertex buffer");
        return;
    }
    RValue_SetReal(result, VertexBuffer_Create(int32_t(size)));
}

void VB_F_VertexDeleteBuffer(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 1) {
        VB_Report("vertex_delete_buffer: Illegal argument count");
        return;
    }
    const int32_t index = QZGI32(args, 0);
    if (!VertexBuffer_Get(index)) {
        VB_Report("vertex_delete_buffer: Invalid vertex buffer specified");
        return;
    }
    VertexBuffer_Delete(index);
    RValue_SetReal(result, 0.0);
}

void VB_F_VertexBegin(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 2) {
        VB_Report("vertex_begin: Illegal argument count");
        return;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b || b->frozen) {
        VB_Report("vertex_begin: Illegal vertex buffer specified.");
        return;
    }
    const int32_t id = QZGI32(args, 1);
    const VertexFormat* f = VB_UsableFormat(id);
    if (!f) {
        VB_Report("vertex_begin: Illegal vertex format specified.");
        return;
    }
    b->used = 0;
    b->vertexCount = 0;
    b->elementCounter = 0;
    b->writtenMask = 0;
    b->elementCount = f->count;
    b->builderFormat = id;
    RValue_SetReal(result, 0.0);
}

void VB_F_VertexEnd(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 1) {
        VB_Report("vertex_end: Illegal argument count");
        return;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b || b->frozen) {
        VB_Report("vertex_end: Illegal vertex buffer specified.");
        return;
    }
    if (b->writtenMask != 0) {
        VB_Report("vertex_end: Must finish writing vertex before end.");
        return;
    }
    b->format = b->builderFormat;
    b->builderFormat = 0;
    RValue_SetReal(result, 0.0);
}

void VB_F_VertexGetNumber(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 1) {
        VB_Report("vertex_get_number: Illegal argument count");
        return;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b) {
        VB_Report("vertex_get_number: specified vertex buffer doesn't exists");
        return;
    }
    RValue_SetReal(result, b->vertexCount);
}

void VB_F_VertexGetBufferSize(RValue* result, CInstance*, CInstance*, int32_t, RValue* args)
{
    RValue_SetReal(result, -1.0);
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b) {
        RuntimeError("Vertex Buffer index is out of range");
        return;
    }
    RValue_SetReal(result, b->capacity);
}

// A new buffer holding size bytes of the binary buffer from offset (wrapping when it wraps); -1 when it cannot.
int32_t VB_CopyFromBinary(IBuffer* source, int32_t offset, int32_t size, int32_t capacity)
{
    const int32_t index = VertexBuffer_Create(capacity);
    VertexBuffer* b = VertexBuffer_Get(index);
    if (!b) return -1;
    const uint8_t* from = source->GetData();
    const int32_t total = source->GetSize();
    if (size > 0 && from && total > 0) {
        if (source->GetKind() == buffer_wrap) {
            int32_t at = offset % total;
            for (int32_t done = 0; done < size;) {
                const int32_t n = std::min(size - done, total - at);
                std::memcpy(b->data + done, from + at, size_t(n));
                done += n;
                at = 0;
            }
        } else {
            std::memcpy(b->data, from + offset, size_t(size));
        }
    }
    b->used = size;
    return index;
}

void VB_F_VertexCreateBufferFromBuffer(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 2) {
        VB_Report("vertex_create_buffer_from_buffer: Illegal argument count");
        return;
    }
    IBuffer* source = Buffer_Get(QZGI32(args, 0));
    if (!source) {
        VB_Report("vertex_create_buffer_from_buffer: specified buffer doesn't exists");
        return;
    }
    const int32_t id = QZGI32(args, 1);
    const VertexFormat* f = VB_UsableFormat(id);
    if (!f) {
        VB_Report("vertex_create_buffer_from_buffer: specified vertex format doesn't exist");
        return;
    }
    const int32_t size = std::max(source->GetSize(), 0);
    const int32_t index = VB_CopyFromBinary(source, 0, size, std::max(size, kVBMinimumBufferSize));
    VertexBuffer* b = VertexBuffer_Get(index);
    if (!b) {
        VB_Report("vertex_create_buffer_from_buffer: could not create vertex buffer");
        return;
    }
    b->format = id;
    b->elementCount = f->count;
    b->vertexCount = size / f->stride;
    RValue_SetReal(result, index);
}

void VB_F_VertexCreateBufferFromBufferExt(RValue* result, CInstance*, CInstance*, int32_t argc, RValue* args)
{
    RValue_SetReal(result, -1.0);
    if (argc != 4) {
        VB_Report("vertex_create_buffer_from_buffer_ext: Illegal argument count");
        return;
    }
    IBuffer* source = Buffer_Get(QZGI32(args, 0));
    if (!source) {
        VB_Report("vertex_create_buffer_from_buffer_ext: specified buffer doesn't exists");
        return;
    }
    const int32_t id = QZGI32(args, 1);
    const VertexFormat* f = VB_UsableFormat(id);
    if (!f) {
        VB_Report("vertex_create_buffer_from_buffer_ext: specified vertex format doesn't exist");
        return;
    }
    const int32_t offset = QZGI32(args, 2), count = QZGI32(args, 3);
    const int64_t size = int64_t(f->stride) * count;
    const int64_t total = source->GetSize();
    const bool wraps = source->GetKind() == buffer_wrap;
    // The range must lie inside the buffer, unless it wraps (then it only needs bytes to wrap over).
    const bool fits = offset >= 0 && count >= 0 && size <= INT32_MAX &&
                      (wraps ? size == 0 || total > 0 : int64_t(offset) + size <= total);
    const int32_t index = fits ? VB_CopyFromBinary(source, offset, int32_t(size), int32_t(size)) : -1;
    VertexBuffer* b = VertexBuffer_Get(index);
    if (!b) {
        VB_Report("vertex_create_buffer_from_buffer_ext: could not create vertex buffer");
        return;
    }
    b->format = id;
    b->elementCount = f->count;
    b->vertexCount = count;
    RValue_SetReal(result, index);
}

struct VB_WriterPair {
    const char* name;
    TRoutine checked, unchecked;
    int32_t args;
};

const VB_WriterPair kVBWriters[] = {
    {"vertex_position", VB_F_CheckedFloats<3, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT2>, VB_F_UncheckedFloats<2>, 3},
    {"vertex_position_3d", VB_F_CheckedFloats<4, VERTEX_USAGE_POSITION, VERTEX_TYPE_FLOAT3>, VB_F_UncheckedFloats<3>, 4},
    {"vertex_colour", VB_F_CheckedColour, VB_F_UncheckedColour, 3},
    {"vertex_argb", VB_F_CheckedArgb, VB_F_UncheckedArgb, 2},
    {"vertex_texcoord", VB_F_CheckedFloats<3, VERTEX_USAGE_TEXCOORD, VERTEX_TYPE_FLOAT2>, VB_F_UncheckedFloats<2>, 3},
    {"vertex_normal", VB_F_CheckedFloats<4, VERTEX_USAGE_NORMAL, VERTEX_TYPE_FLOAT3>, VB_F_UncheckedFloats<3>, 4},
    {"vertex_float1", VB_F_CheckedFloats<2, 0, VERTEX_TYPE_FLOAT1>, VB_F_UncheckedFloats<1>, 2},
    {"vertex_float2", VB_F_CheckedFloats<3, 0, VERTEX_TYPE_FLOAT2>, VB_F_UncheckedFloats<2>, 3},
    {"vertex_float3", VB_F_CheckedFloats<4, 0, VERTEX_TYPE_FLOAT3>, VB_F_UncheckedFloats<3>, 4},
    {"vertex_float4", VB_F_CheckedFloats<5, 0, VERTEX_TYPE_FLOAT4>, VB_F_UncheckedFloats<4>, 5},
    {"vertex_ubyte4", VB_F_CheckedUbyte4, VB_F_UncheckedUbyte4, 5},
    {"vertex_submit", VB_F_CheckedSubmit, VB_F_UncheckedSubmit, 3},
    {"vertex_freeze", VB_F_CheckedFreeze, VB_F_UncheckedFreeze, 1},
};

}  // namespace

// ---- The buffer record ---------------------------------------------------------------------------------------

void VertexBuffer::ReserveBytes(int32_t bytes)
{
    const VertexFormat* f = VertexFormat_Get(builderFormat ? builderFormat : format);
    const int32_t step = std::max(f ? f->stride : 0, bytes);
    if (int64_t(used) + bytes <= capacity) return;
    int64_t grown = capacity;
    while (grown < int64_t(used) + bytes) grown += grown / 2 + step;
    if (grown > INT32_MAX) grown = INT32_MAX;  // cannot happen before the count fields overflow
    data = static_cast<uint8_t*>(MemReAlloc(data, size_t(grown)));
    std::memset(data + capacity, 0, size_t(grown - capacity));
    capacity = int32_t(grown);
}

void VertexBuffer::Reserve()
{
    const VertexFormat* f = VertexFormat_Get(builderFormat);
    const int32_t stride = f ? f->stride : 0;
    if (int64_t(capacity) >= int64_t(used) + stride) return;
    const int64_t grown = int64_t(capacity) + capacity / 2 + stride;
    data = static_cast<uint8_t*>(MemReAlloc(data, size_t(grown)));
    std::memset(data + capacity, 0, size_t(grown - capacity));
    capacity = int32_t(grown);
}

uint8_t* VertexBuffer::GetElementPtr(int32_t usage, int32_t type)
{
    VertexFormat* f = VertexFormat_Get(builderFormat);
    bool written = false;
    for (int32_t i = 0; f && i < f->count; ++i) {
        const VertexFormatElement& e = f->elements[i];
        if (e.usage != usage || e.type != type) continue;
        if (writtenMask & e.bit) {
            written = true;
            continue;
        }
        uint8_t* at = data + used + e.offset;
        writtenMask |= e.bit;
        if (writtenMask == f->mask) {
            writtenMask = 0;
            ++vertexCount;
            used += f->stride;
        }
        return at;
    }
    VB_Report(written ? "VERTEX BUILDER: element already written, must write the whole vertex first\n\n"
                   : "VERTEX BUILDER: Vertex format does not contain selected type.\n\n");
    return nullptr;
}

uint8_t* VertexBuffer::GetElementPtrByType(int32_t type)
{
    VertexFormat* f = VertexFormat_Get(builderFormat);
    bool written = false;
    for (int32_t i = 0; f && i < f->count; ++i) {
        const VertexFormatElement& e = f->elements[i];
        if (e.type != type) continue;
        if (writtenMask & e.bit) {
            written = true;
            continue;
        }
        uint8_t* at = data + used + e.offset;
        writtenMask |= e.bit;
        if (writtenMask == f->mask) {
            writtenMask = 0;
            ++vertexCount;
            used += f->stride;
        }
        return at;
    }
    VB_Report(written ? "VERTEX BUILDER: element already written, must write the whole vertex first\n\n"
                   : "VERTEX BUILDER: Vertex format does not contain selected type.\n\n");
    return nullptr;
}

bool VertexBuffer::Freeze()
{
    const VertexFormat* f = VertexFormat_Get(format);
    if (!f || f->stride <= 0) return false;
    const int32_t count = std::min(vertexCount, used / f->stride);
    // An empty buffer has nothing to give the device; it stays as it is.
    if (count <= 0 || !GR_Batch_CanFreeze(0)) return false;
    GPUVertexBuffer* made = GPUVertexBuffer::Create(format, count, 0);
    if (!made) return false;
    made->Upload(data, count * f->stride);
    // The bounds of the positions, for leaving out a buffer wholly outside the view.
    hasBounds = false;
    for (int32_t i = 0; i < f->count; ++i) {
        const VertexFormatElement& e = f->elements[i];
        if (e.usage != VERTEX_USAGE_POSITION || e.type < VERTEX_TYPE_FLOAT2 || e.type > VERTEX_TYPE_FLOAT3) continue;
        hasBounds = true;
        for (int32_t k = 0; k < 3; ++k) {
            bounds[k] = std::numeric_limits<float>::max();
            bounds[k + 3] = -std::numeric_limits<float>::max();
        }
        for (int32_t v = 0; v < count && hasBounds; ++v) {
            float p[3] = {0, 0, 0};
            std::memcpy(p, data + size_t(v) * size_t(f->stride) + size_t(e.offset), size_t(e.type) * 4);
            for (int32_t k = 0; k < 3; ++k) {
                if (!std::isfinite(p[k])) hasBounds = false;
                bounds[k] = std::min(bounds[k], p[k]);
                bounds[k + 3] = std::max(bounds[k + 3], p[k]);
            }
        }
        break;
    }
    GPUVertexBuffer::Delete(device);
    device = made;
    vertexCount = count;
    frozen = true;
    MemFree(data);
    data = nullptr;
    return true;
}

VertexBuffer::~VertexBuffer()
{
    MemFree(data);
    GPUVertexBuffer::Delete(device);
}

// ---- The table -----------------------------------------------------------------------------------------------

int32_t VertexBuffer_Create(int32_t size)
{
    if (size < 0) return -1;
    int32_t slot = 0;
    while (slot < g_VBbufferSlots && g_VBbuffers[slot]) ++slot;
    if (slot == g_VBbufferSlots) {
        const int32_t grown = g_VBbufferSlots ? g_VBbufferSlots * 2 : 32;
        g_VBbuffers = static_cast<VertexBuffer**>(MemReAlloc(g_VBbuffers, sizeof(VertexBuffer*) * size_t(grown)));
        for (int32_t i = g_VBbufferSlots; i < grown; ++i) g_VBbuffers[i] = nullptr;
        g_VBbufferSlots = grown;
    }
    auto* b = new (MemAlloc(sizeof(VertexBuffer))) VertexBuffer();
    b->data = static_cast<uint8_t*>(MemAlloc(size_t(std::max(size, 1))));
    std::memset(b->data, 0, size_t(std::max(size, 1)));
    b->capacity = size;
    g_VBbuffers[slot] = b;
    return slot;
}

VertexBuffer* VertexBuffer_Get(int32_t index)
{
    return index >= 0 && index < g_VBbufferSlots ? g_VBbuffers[index] : nullptr;
}

void VertexBuffer_Delete(int32_t index)
{
    VertexBuffer* b = VertexBuffer_Get(index);
    if (!b) return;
    g_VBbuffers[index] = nullptr;
    b->~VertexBuffer();
    MemFree(b);
}

void VertexBuffer_FreeAll()
{
    for (int32_t i = 0; i < g_VBbufferSlots; ++i) VertexBuffer_Delete(i);
    MemFree(g_VBbuffers);
    g_VBbuffers = nullptr;
    g_VBbufferSlots = 0;
}

int32_t VertexBuffer_TableSize() { return g_VBbufferSlots; }

VertexBuffer* VertexBuilder_GetBuffer(RValue* args, int32_t argc, int32_t expected)
{
    if (argc != expected) {
        VB_Report("VERTEX BUILDER: Illegal argument count");
        return nullptr;
    }
    VertexBuffer* b = VB_BufferArg(args, 0);
    if (!b || b->frozen) {
        VB_Report("VERTEX BUILDER: Illegal vertex buffer specified.");
        return nullptr;
    }
    if (!b->builderFormat) {
        VB_Report("VERTEX BUILDER: Must use vertex_begin() before writing to buffer");
        return nullptr;
    }
    if (b->writtenMask == 0) b->Reserve();
    return b;
}

void VertexBuffer_ReleaseFrozen()
{
    for (int32_t i = 0; i < g_VBbufferSlots; ++i) {
        VertexBuffer* b = g_VBbuffers[i];
        if (!b || !b->device) continue;
        GPUVertexBuffer::Delete(b->device);
        b->device = nullptr;
    }
}

void VertexBuffer_SetCheckedWriters(bool checked)
{
    for (const VB_WriterPair& w : kVBWriters) Function_Replace(w.name, checked ? w.checked : w.unchecked);
}

void InitVertexBufferFunctions()
{
    Function_Add("vertex_create_buffer", VB_F_VertexCreateBuffer, 0, false);
    Function_Add("vertex_create_buffer_ext", VB_F_VertexCreateBufferExt, 1, false);
    Function_Add("vertex_delete_buffer", VB_F_VertexDeleteBuffer, 1, false);
    Function_Add("vertex_begin", VB_F_VertexBegin, 2, false);
    Function_Add("vertex_end", VB_F_VertexEnd, 1, false);
    for (const VB_WriterPair& w : kVBWriters) Function_Add(w.name, w.checked, w.args, false);
    Function_Add("vertex_get_number", VB_F_VertexGetNumber, 1, false);
    Function_Add("vertex_get_buffer_size", VB_F_VertexGetBufferSize, 1, false);
    Function_Add("vertex_create_buffer_from_buffer", VB_F_VertexCreateBufferFromBuffer, 2, false);
    Function_Add("vertex_create_buffer_from_buffer_ext", VB_F_VertexCreateBufferFromBufferExt, 4, false);
}
