// The vertex batcher: requests with the same type, texture and format, while no render state changed, share one
// draw call. The vertices live in one shared dynamic buffer (method 0), a pool of buffers per format (method 1)
// or plain memory drawn from the client side (method 2).
#include "gfx/batch.h"

#include "core/console.h"
#include "core/error.h"
#include "core/memory_manager.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/recorder.h"
#include "gfx/shaders.h"
#include "gfx/texture_manager.h"
#include "gfx/vformat.h"
#include "net/net.h"
#include "world/options.h"

#include <algorithm>
#include <cstring>
#include <new>

GRBatchState GR_Batch;

namespace batch_internal {

// After a flush the batch's texture matches no real texture, null included.
const char kNoTexture = 0;
const void* const kNoMatch = &kNoTexture;

bool g_loggedUndrawable = false;

bool IsDrawableFVF(uint32_t fvf) { return fvf == 0x42 || fvf == 0x142 || fvf == 0x152; }

int32_t PrimitiveCount(int32_t type, int32_t vertices)
{
    switch (type) {
    case RDPT_POINTLIST: return vertices;
    case RDPT_LINELIST: return vertices / 2;
    case RDPT_LINESTRIP: return vertices - 1;
    case RDPT_TRIANGLELIST: return vertices / 3;
    case RDPT_TRIANGLESTRIP:
    case RDPT_TRIANGLEFAN: return vertices - 2;
    default: return 0;
    }
}

void ListAppend(GPUVertexBuffer* buffer)
{
    GRBatchState& b = GR_Batch;
    buffer->prev = b.last;
    buffer->next = nullptr;
    if (b.last) b.last->next = buffer;
    else b.first = buffer;
    b.last = buffer;
}

void ListRemove(GPUVertexBuffer* buffer)
{
    GRBatchState& b = GR_Batch;
    if (buffer->prev) buffer->prev->next = buffer->next;
    else if (b.first == buffer) b.first = buffer->next;
    if (buffer->next) buffer->next->prev = buffer->prev;
    else if (b.last == buffer) b.last = buffer->prev;
    buffer->prev = buffer->next = nullptr;
}

// Binds the batch's texture on its stage (a shader's base-texture register, else 0).
void BindTexture(const void* texture)
{
    if (!GR_Device) return;
    // Through the manager: a deferred texture is made and a render target resolved before it is bound.
    auto* native = static_cast<NativeTexture*>(const_cast<void*>(texture == kNoMatch ? nullptr : texture));
    Texture_SetStage(GR_BatchTextureStage, native);
}

// A declared format goes to the device as its declaration. Positions already on screen need a shader.
bool SetDeclaredFormat(int32_t format)
{
    static bool loggedPretransformed = false;
    const VertexFormat* f = VertexFormat_Get(format);
    if (!f || !f->declaration) {
        if (!g_loggedUndrawable) {
            g_loggedUndrawable = true;
            DebugConsole->Output("Vertex format 0x%x cannot be drawn\n", uint32_t(format));
        }
        return false;
    }
    if (VertexFormat_IsPretransformed(f) && !(Shader_Current() && Shader_Current()->compiled)) {
        if (!loggedPretransformed) {
            loggedPretransformed = true;
            DebugConsole->Output("Vertex format 0x%x has screen positions: it draws only with a shader\n",
                                 uint32_t(format));
        }
        return false;
    }
    GR_Device->SetFVF(0);
    GR_Device->SetVertexDeclaration(f->declaration);
    return true;
}

// Sets the device's vertex format; false when the format is one nothing here can draw.
bool SetFormat(int32_t format)
{
    if ((format & 0xFF000000) == VERTEX_FORMAT_ID_BIT) return SetDeclaredFormat(format);
    const uint32_t fvf = GR_VertexFormat_ToFVF(format);
    if (!IsDrawableFVF(fvf)) {
        if (!g_loggedUndrawable) {
            g_loggedUndrawable = true;
            DebugConsole->Output("Vertex format 0x%x cannot be drawn\n", uint32_t(format));
        }
        return false;
    }
    GR_Device->SetFVF(fvf);
    return true;
}

// Memory for vertices that will never be drawn: no device, or the device gave no buffer.
void* Scratch(int64_t bytes)
{
    GRBatchState& b = GR_Batch;
    if (bytes < 1) bytes = 1;
    if (bytes > b.scratchBytes) {
        MemFree(b.scratch);
        b.scratch = static_cast<uint8_t*>(MemAlloc(size_t(bytes)));
        b.scratchBytes = int32_t(bytes);
    }
    std::memset(b.scratch, 0, size_t(bytes));
    b.type = -1;
    b.closed = true;
    b.current = nullptr;
    return b.scratch;
}

GPUVertexBuffer* FindBuffer(int32_t n, int32_t format)
{
    GRBatchState& b = GR_Batch;
    // Buffers carry the flexible format, or the id of a declared one.
    const int32_t key = (format & 0xFF000000) == VERTEX_FORMAT_ID_BIT ? format : int32_t(GR_VertexFormat_ToFVF(format));
    for (GPUVertexBuffer* buffer = b.first; buffer; buffer = buffer->next) {
        if ((buffer->flags & GPUVB_BYTES) || buffer->format != key) continue;
        if (buffer->capacity - buffer->writePosition >= n && buffer->lastUsed + 4 < b.frame) return buffer;
    }
    GPUVertexBuffer* buffer = GPUVertexBuffer::Create(key, std::max(n, b.bufferMinimum), GPUVB_DYNAMIC);
    if (!buffer) return nullptr;
    ListAppend(buffer);
    buffer->lastUsed = b.frame - 7;
    return buffer;
}

bool Fits(int32_t n)
{
    const GRBatchState& b = GR_Batch;
    if (b.method == 2) return int64_t(b.userUsed + int64_t(n)) * b.stride <= b.userCapacity;
    const GPUVertexBuffer* c = b.current;
    if (!c || int64_t(c->writePosition) + n > c->capacity) return false;
    return !(c->flags & GPUVB_BYTES) || int64_t(c->writePosition) + int64_t(b.stride) * n <= c->capacity;
}

void* Take(int32_t n)
{
    GRBatchState& b = GR_Batch;
    if (b.method == 2) {
        void* at = b.user + size_t(b.userUsed) * size_t(b.stride);
        b.userUsed += n;
        return at;
    }
    GPUVertexBuffer* c = b.current;
    const bool bytes = (c->flags & GPUVB_BYTES) != 0;
    void* at = b.data + size_t(c->writePosition - c->lockStart) * (bytes ? 1 : size_t(b.stride));
    c->writePosition += bytes ? b.stride * n : n;
    return at;
}

void DrawBatch(int32_t vertices)
{
    GRBatchState& b = GR_Batch;
    const int32_t primitives = PrimitiveCount(b.type, vertices);
    if (b.method == 2) {
        if (primitives < 1 || !SetFormat(b.format)) return;
        GR_Device->DrawPrimitiveUP(uint32_t(b.type), uint32_t(primitives), b.user, uint32_t(b.stride));
        ++b.drawCalls;
        return;
    }
    GPUVertexBuffer* c = b.current;
    if (!c) return;
    // Unlocked even when nothing is drawn, so the next batch's lock starts after these vertices.
    c->Unlock();
    if (primitives < 1 || !SetFormat(b.format)) return;
    const bool bytes = (c->flags & GPUVB_BYTES) != 0;
    const uint32_t offset = bytes ? uint32_t(c->lockStart) : uint32_t(b.stride) * uint32_t(c->lockStart);
    GR_Device->SetStreamSource(0, c->buffer, offset, uint32_t(b.stride));
    GR_Device->DrawPrimitive(uint32_t(b.type), 0, uint32_t(primitives));
    ++b.drawCalls;
}

}  // namespace batch_internal

using namespace batch_internal;

// ---- Formats -----------------------------------------------------------------------------------------------

uint32_t GR_VertexFormat_ToFVF(int32_t code)
{
    switch (code) {
    case VERTEX_FORMAT_POS_COLOUR: return 0x42;
    case VERTEX_FORMAT_POS_COLOUR_UV: return 0x142;
    case VERTEX_FORMAT_POS_NORMAL_COLOUR_UV: return 0x152;
    default: break;
    }
    if ((code & 0xFF000000) == VERTEX_FORMAT_ID_BIT) return 0;
    return uint32_t(code);
}

int32_t GR_VertexFormat_GetSize(int32_t code)
{
    if (code == VERTEX_FORMAT_POS_COLOUR || code == VERTEX_FORMAT_POS_COLOUR_UV ||
        code == VERTEX_FORMAT_POS_NORMAL_COLOUR_UV)
        return code;
    // A declared format's stride; a deleted one takes no room.
    if ((code & 0xFF000000) == VERTEX_FORMAT_ID_BIT) {
        const VertexFormat* f = VertexFormat_Get(code);
        return f ? f->stride : 0;
    }
    const uint32_t fvf = uint32_t(code);
    int32_t size = 0;
    if (fvf & 0x002) size += 12;
    if (fvf & 0x004) size += 16;
    if (fvf & 0x4000) size += 16;
    if (fvf & 0x010) size += 12;
    if (fvf & 0x040) size += 4;
    if (fvf & 0x100) size += 8;
    return size;
}

// ---- Buffers -----------------------------------------------------------------------------------------------

GPUVertexBuffer* GPUVertexBuffer::Create(int32_t format, int32_t count, uint32_t flags)
{
    GRBatchState& b = GR_Batch;
    const bool bytes = (flags & GPUVB_BYTES) != 0;
    const int32_t stride = bytes && format == 0 ? 1 : GR_VertexFormat_GetSize(format);
    const int64_t size = bytes ? int64_t(count) : int64_t(count) * stride;
    const uint32_t fvf = GR_VertexFormat_ToFVF(format);
    RDVertexBuffer* device = nullptr;
    bool dynamic = false;
    if (GR_Device && size > 0 && size <= INT32_MAX) {
        if (flags & GPUVB_DYNAMIC) {
            dynamic = !RD_Failed(GR_Device->CreateVertexBuffer(uint32_t(size), RDUSAGE_DYNAMIC, fvf,
                                                               RDPOOL_SYSTEMMEM, &device)) && device;
        } else {
            const uint32_t pool = GR_UsePlainD3D9 ? RDPOOL_MANAGED : RDPOOL_DEFAULT;
            if (RD_Failed(GR_Device->CreateVertexBuffer(uint32_t(size), RDUSAGE_WRITEONLY, fvf, pool, &device)))
                device = nullptr;
        }
        if (!device && RD_Failed(GR_Device->CreateVertexBuffer(uint32_t(size), RDUSAGE_WRITEONLY, fvf,
                                                               RDPOOL_DEFAULT, &device)))
            device = nullptr;
    }
    if (!device) {
        RuntimeError("Fatal Error: Can not create vertex buffer of size %d bytes\n%d vertex buffers allocated with "
                     "total size of %d KB\n",
                     int32_t(size), b.bufferCount, int32_t(b.totalBytes / 1024));
        return nullptr;
    }
    void* block = MemAlloc(sizeof(GPUVertexBuffer));
    auto* buffer = new (block) GPUVertexBuffer;
    buffer->format = format;
    buffer->stride = stride;
    buffer->capacity = count;
    buffer->buffer = device;
    buffer->flags = (bytes ? GPUVB_BYTES : 0) | (dynamic ? GPUVB_DYNAMIC : 0);
    ++b.bufferCount;
    b.totalBytes += size;
    return buffer;
}

bool GPUVertexBuffer::Lock()
{
    if (flags & GPUVB_LOCKED) return true;
    if (!buffer || !GR_Device) return false;
    const bool bytes = (flags & GPUVB_BYTES) != 0;
    const bool dynamic = (flags & GPUVB_DYNAMIC) != 0;
    const uint32_t unit = bytes ? 1 : uint32_t(stride);
    const uint32_t offset = uint32_t(writePosition) * unit;
    const uint32_t size = uint32_t(capacity - writePosition) * unit;
    uint32_t lockFlags = 0;
    if (!bytes && !(flags & GPUVB_LOCKED_THIS_FRAME)) {
        flags |= GPUVB_LOCKED_THIS_FRAME;
        lockFlags = dynamic ? RDLOCK_DISCARD : 0;
    } else if (dynamic) {
        lockFlags = offset > 0 ? RDLOCK_NOOVERWRITE : RDLOCK_DISCARD;
    }
    void* memory = nullptr;
    if (RD_Failed(GR_Device->LockVertexBuffer(buffer, offset, size, &memory, lockFlags)) || !memory) return false;
    lockStart = writePosition;
    data = static_cast<uint8_t*>(memory);
    flags |= GPUVB_LOCKED;
    return true;
}

void GPUVertexBuffer::Unlock()
{
    if (!(flags & GPUVB_LOCKED)) return;
    if (GR_Device && buffer) GR_Device->UnlockVertexBuffer(buffer);
    flags &= ~GPUVB_LOCKED;
    data = nullptr;
}

void GPUVertexBuffer::Upload(const void* source, int32_t bytes)
{
    if ((flags & GPUVB_LOCKED) || !source || bytes <= 0 || !buffer || !GR_Device) return;
    const int64_t room = (flags & GPUVB_BYTES) ? int64_t(capacity) : int64_t(capacity) * stride;
    if (bytes > room) bytes = int32_t(room);
    void* memory = nullptr;
    const uint32_t lockFlags = (flags & GPUVB_DYNAMIC) ? RDLOCK_DISCARD : 0;
    if (RD_Failed(GR_Device->LockVertexBuffer(buffer, 0, uint32_t(bytes), &memory, lockFlags)) || !memory) {
        Error_Show_Action("Error: Could not update vertex buffer", false);
        return;
    }
    std::memcpy(memory, source, size_t(bytes));
    if (RD_Failed(GR_Device->UnlockVertexBuffer(buffer)))
        Error_Show_Action("Error: Could not unlock vertex buffer", false);
}

void GPUVertexBuffer::Release()
{
    if (buffer) buffer->Release();
    buffer = nullptr;
    flags &= ~GPUVB_LOCKED;
    data = nullptr;
}

void GPUVertexBuffer::Delete(GPUVertexBuffer* buffer)
{
    if (!buffer) return;
    buffer->Unlock();
    buffer->Release();
    buffer->~GPUVertexBuffer();
    MemFree(buffer);
}

// ---- Requests ----------------------------------------------------------------------------------------------

void* GR_Batch_Alloc(int32_t type, NativeTexture* texture, int32_t format, int32_t n)
{
    GRBatchState& b = GR_Batch;
    if (n < 0) n = 0;
    int32_t method = Options_VertexBufferMethod();
    if (method < 0 || method > 2) method = 0;
    if (method != b.method) {
        GraphicsFlush();
        b.method = method;
    }
    if (texture == b.texture && type == b.type && format == b.format && g_GPUState.combinedDirty == 0 && !b.closed &&
        Fits(n))
        return Take(n);

    GraphicsFlush();
    const int32_t stride = GR_VertexFormat_GetSize(format);
    const int64_t bytes = int64_t(stride) * n;
    if (!GR_Device || stride <= 0) {
        if (stride <= 0) SetFormat(format);  // logs it once
        return Scratch(bytes);
    }
    b.type = type;
    b.texture = texture;
    b.format = format;
    b.stride = stride;

    if (method == 2) {
        if (bytes > b.userCapacity) {
            MemFree(b.user);
            b.user = nullptr;
            while (bytes > b.userCapacity) b.userCapacity *= 2;
        }
        if (!b.user) {
            b.user = static_cast<uint8_t*>(MemAlloc(size_t(b.userCapacity)));
            std::memset(b.user, 0, size_t(b.userCapacity));
        }
        b.userUsed = 0;
        b.data = b.user;
    } else {
        if (method == 0) {
            if (bytes > b.sharedCapacity) {
                if (b.shared) {
                    ListRemove(b.shared);
                    if (b.current == b.shared) b.current = nullptr;
                    GPUVertexBuffer::Delete(b.shared);
                    b.shared = nullptr;
                }
                while (bytes > b.sharedCapacity) b.sharedCapacity *= 2;
            }
            if (!b.shared) {
                b.shared = GPUVertexBuffer::Create(0, b.sharedCapacity, GPUVB_DYNAMIC | GPUVB_BYTES);
                if (!b.shared) return Scratch(bytes);
                ListAppend(b.shared);
                b.shared->lastUsed = b.frame - 7;
            }
            b.current = b.shared;
            if (b.shared->writePosition + bytes > b.shared->capacity) {
                b.shared->Unlock();
                b.shared->writePosition = 0;
            }
        } else {
            b.current = FindBuffer(n, format);
            if (!b.current) return Scratch(bytes);
        }
        if (!b.current->Lock()) return Scratch(bytes);
        b.data = b.current->data;
    }
    b.closed = type == RDPT_LINESTRIP || type == RDPT_TRIANGLESTRIP || type == RDPT_TRIANGLEFAN;
    return Take(n);
}

void GR_Batch_ReturnVertices(int32_t n)
{
    GRBatchState& b = GR_Batch;
    if (b.type == -1 || n <= 0) return;
    if (b.method == 2) {
        b.userUsed = std::max(0, b.userUsed - n);
        return;
    }
    GPUVertexBuffer* c = b.current;
    if (!c) return;
    const int32_t back = (c->flags & GPUVB_BYTES) ? b.stride * n : n;
    c->writePosition = std::max(c->lockStart, c->writePosition - back);
}

void GraphicsFlush()
{
    ProfilerRegion region(6, 14);
    GRBatchState& b = GR_Batch;
    if (b.type != -1 && GR_Device) {
        BindTexture(b.texture);
        int32_t vertices = 0;
        GPUVertexBuffer* c = b.current;
        if (b.method == 2) {
            vertices = b.userUsed;
        } else if (c) {
            vertices = c->writePosition - c->lockStart;
            if ((c->flags & GPUVB_BYTES) && b.stride > 0) vertices /= b.stride;
        }
        DrawBatch(vertices);
        if (b.method == 2) b.userUsed = 0;
        if (GR_SingleUseBatchBuffers && b.method != 2 && c && !(c->flags & GPUVB_BYTES))
            c->writePosition = c->capacity;
    }
    b.type = -1;
    b.closed = true;
    b.texture = kNoMatch;
    b.format = 0;
    GPUState::Apply();
}

void GR_Batch_EndFrame()
{
    GRBatchState& b = GR_Batch;
    for (GPUVertexBuffer* buffer = b.first; buffer; buffer = buffer->next) {
        if ((buffer->flags & GPUVB_LOCKED) && buffer->data) buffer->Unlock();
        if (buffer->flags & GPUVB_LOCKED_THIS_FRAME) {
            if (!(buffer->flags & GPUVB_BYTES)) buffer->writePosition = 0;
            buffer->lastUsed = b.frame;
            buffer->flags &= ~GPUVB_LOCKED_THIS_FRAME;
        }
    }
    ++b.frame;
    b.current = nullptr;
    b.type = -1;
    b.closed = true;
    if (GR_SingleUseBatchBuffers) b.bufferMinimum = 4096;
}

void GR_Batch_FreeAll()
{
    GRBatchState& b = GR_Batch;
    while (b.first) {
        GPUVertexBuffer* buffer = b.first;
        ListRemove(buffer);
        GPUVertexBuffer::Delete(buffer);
    }
    b.first = b.last = nullptr;
    b.shared = nullptr;
    b.current = nullptr;
    MemFree(b.user);
    b.user = nullptr;
    b.userUsed = 0;
    MemFree(b.scratch);
    b.scratch = nullptr;
    b.scratchBytes = 0;
    b.type = -1;
    b.closed = true;
    b.data = nullptr;
}

void GR_DrawFrozenVertexBuffer(int32_t type, int32_t count, int32_t start, int32_t format, NativeTexture* texture,
                               GPUVertexBuffer* buffer)
{
    if (!buffer || count <= 0) return;
    GraphicsFlush();
    if (!GR_Device || !buffer->buffer) return;
    BindTexture(texture);
    buffer->Unlock();
    const int32_t primitives = PrimitiveCount(type, count);
    if (primitives < 1 || !SetFormat(format)) return;
    GR_Device->SetStreamSource(0, buffer->buffer, uint32_t(buffer->stride) * uint32_t(buffer->lockStart),
                               uint32_t(buffer->stride));
    GR_Device->DrawPrimitive(uint32_t(type), uint32_t(std::max(start, 0)), uint32_t(primitives));
    ++GR_Batch.drawCalls;
}
