// Recorded models: plain vertex lists kept in memory and drawn from static device buffers. The buffers are
// made on the first draw and kept across device resets (the device keeps their contents); a recolour
// releases them so the next draw uploads the new colours.
#include "gfx/recorder.h"

#include <cstring>
#include <initializer_list>

#include "core/memory_manager.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "gfx/matrices.h"
#include "gfx/texture_manager.h"

GraphicsRecorder* GR_CurrentRecorder = nullptr;

namespace recorder_internal {

using Vertex = VertexPosNormalColourUV;

// Counts are int32 and blocks are sized in bytes from them: beyond this a list refuses to grow.
constexpr int64_t kMaxVertices = int64_t(INT32_MAX) / int64_t(sizeof(Vertex));

void ReleaseList(GraphicsRecorderList* list)
{
    if (list->buffer) list->buffer->Release();
    list->buffer = nullptr;
}

void DrawList(GraphicsRecorder* r, GraphicsRecorderList* list, uint32_t type, uint32_t primitives)
{
    if (list->count <= 0 || primitives == 0) return;
    if (!list->buffer) {
        r->Grow(list, -1);
        list->buffer = GraphicsRecorder::CreateVertexBuffer(list->vertices, list->count);
        if (!list->buffer) return;
    }
    GR_Device->SetStreamSource(0, list->buffer, 0, GR_RECORDER_STRIDE);
    GR_Device->SetFVF(GR_RECORDER_FVF);
    GR_Device->DrawPrimitive(type, 0, primitives);
    ++GR_Batch.drawCalls;
}

}  // namespace recorder_internal

bool GraphicsRecorder::Grow(GraphicsRecorderList* list, int32_t n)
{
    using recorder_internal::Vertex;
    if (n == 0) return true;
    if (n == -1) {
        if (list->count == list->capacity) return true;
        Vertex* block = nullptr;
        if (list->count > 0) {
            block = static_cast<Vertex*>(MemAlloc(size_t(list->count) * sizeof(Vertex)));
            std::memcpy(block, list->vertices, size_t(list->count) * sizeof(Vertex));
        }
        MemFree(list->vertices);
        list->vertices = block;
        list->capacity = list->count;
        return true;
    }
    if (n < 0) return false;
    const int64_t need = int64_t(list->count) + n;
    if (need > recorder_internal::kMaxVertices) return false;
    if (list->capacity < need) {
        int64_t capacity = list->capacity > 0 ? list->capacity : n;
        while (capacity < need) capacity *= 2;
        if (capacity > recorder_internal::kMaxVertices) capacity = need;
        auto* block = static_cast<Vertex*>(MemAlloc(size_t(capacity) * sizeof(Vertex)));
        if (!block) return false;
        if (list->count > 0) std::memcpy(block, list->vertices, size_t(list->count) * sizeof(Vertex));
        MemFree(list->vertices);
        list->vertices = block;
        list->capacity = int32_t(capacity);
    }
    list->count = int32_t(need);
    return true;
}

void GraphicsRecorder::AddPrimitive(int32_t type, int32_t n, const VertexPosNormalColourUV* v)
{
    using recorder_internal::Vertex;
    if (n <= 0 || !v) return;
    // Fewer vertices than one whole primitive record nothing; lists keep whole primitives so the next
    // primitive appended starts on a boundary.
    GraphicsRecorderList* list = &points;
    int32_t add = n;
    switch (type) {
    case RDPT_LINELIST: list = &lines; add = n / 2 * 2; break;
    case RDPT_LINESTRIP: list = &lines; add = n >= 2 ? 2 * (n - 1) : 0; break;
    case RDPT_TRIANGLELIST: list = &triangles; add = n / 3 * 3; break;
    case RDPT_TRIANGLESTRIP:
    case RDPT_TRIANGLEFAN: list = &triangles; add = n >= 3 ? 3 * (n - 2) : 0; break;
    default: break;
    }
    if (add == 0 || !Grow(list, add)) return;
    Vertex* out = list->vertices + (list->count - add);
    switch (type) {
    case RDPT_LINESTRIP:
        for (int32_t k = 0; k + 1 < n; ++k) {
            *out++ = v[k];
            *out++ = v[k + 1];
        }
        break;
    case RDPT_TRIANGLESTRIP:
        // Every other triangle is listed backwards so all keep the strip's facing.
        for (int32_t k = 0; k + 2 < n; ++k) {
            const bool odd = (k & 1) != 0;
            *out++ = v[odd ? k + 2 : k];
            *out++ = v[k + 1];
            *out++ = v[odd ? k : k + 2];
        }
        break;
    case RDPT_TRIANGLEFAN:
        for (int32_t k = 1; k + 1 < n; ++k) {
            *out++ = v[0];
            *out++ = v[k];
            *out++ = v[k + 1];
        }
        break;
    default: std::memcpy(out, v, size_t(add) * sizeof(Vertex)); break;
    }
}

void GraphicsRecorder::SetColour(uint32_t c)
{
    if (colour & 1u) return;
    c &= ~1u;
    for (GraphicsRecorderList* list : {&triangles, &lines, &points})
        for (int32_t i = 0; i < list->count; ++i)
            if (list->vertices[i].colour == colour) list->vertices[i].colour = c;
    ReleaseBuffers();
    colour = c;
}

void GraphicsRecorder::Draw(float x, float y, float z)
{
    using namespace recorder_internal;
    if (!GR_Device) return;
    GraphicsFlush();
    Matrix44 world;
    GR_D3D_GetMatrix(RDTS_WORLD, &world);
    Matrix44 shifted;
    Matrix_Multiply(&shifted, Matrix_BuildTranslation(x, y, z), world);
    GR_D3D_SetMatrix(RDTS_WORLD, shifted);
    GR_MarkTransformChanged();

    const bool repeat = GR_Texture_GetRepeat();
    GR_Texture_SetRepeat(true);
    // These draws bypass the batch, so the states its flush would send go now.
    GPUState::Apply();
    // Through the manager, which makes a deferred texture and resolves a render target first.
    Texture_SetStage(GR_BatchTextureStage, texture);

    DrawList(this, &triangles, RDPT_TRIANGLELIST, uint32_t(triangles.count / 3));
    DrawList(this, &lines, RDPT_LINELIST, uint32_t(lines.count / 2));
    DrawList(this, &points, RDPT_POINTLIST, uint32_t(points.count));

    // The batch sets its stream, format and texture again at every draw, so nothing of it needs resetting.
    GR_Texture_SetRepeat(repeat);
    GR_D3D_SetMatrix(RDTS_WORLD, world);
    GR_MarkTransformChanged();
}

RDVertexBuffer* GraphicsRecorder::CreateVertexBuffer(const VertexPosNormalColourUV* v, int32_t count)
{
    if (!GR_Device || !v || count <= 0) return nullptr;
    const uint32_t bytes = uint32_t(count) * GR_RECORDER_STRIDE;
    const uint32_t pool = GR_UsePlainD3D9 ? RDPOOL_MANAGED : RDPOOL_DEFAULT;
    RDVertexBuffer* buffer = nullptr;
    if (RD_Failed(GR_Device->CreateVertexBuffer(bytes, RDUSAGE_WRITEONLY, GR_RECORDER_FVF, pool, &buffer)) || !buffer)
        return nullptr;
    void* memory = nullptr;
    if (RD_Failed(GR_Device->LockVertexBuffer(buffer, 0, bytes, &memory, 0)) || !memory) {
        buffer->Release();
        return nullptr;
    }
    std::memcpy(memory, v, bytes);
    GR_Device->UnlockVertexBuffer(buffer);
    return buffer;
}

void GraphicsRecorder::ReleaseBuffers()
{
    recorder_internal::ReleaseList(&triangles);
    recorder_internal::ReleaseList(&lines);
    recorder_internal::ReleaseList(&points);
}

void GraphicsRecorder::Free()
{
    ReleaseBuffers();
    for (GraphicsRecorderList* list : {&triangles, &lines, &points}) {
        MemFree(list->vertices);
        *list = GraphicsRecorderList{};
    }
    if (GR_CurrentRecorder == this) GR_CurrentRecorder = nullptr;
}
