#include "gfx/prim3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "gfx/colour.h"
#include "gfx/gpustate.h"
#include "gfx/prim2d.h"
#include "gfx/recorder.h"
#include "gfx/textures.h"

GR3DPrimitive GR_3DPrim;

namespace prim3d_internal {

int32_t CapacityOf(int32_t type) { return type == RDPT_TRIANGLELIST ? 999 : GR_3D_PRIM_MAX; }

// Vertices of whole primitives among n; strips and fans need three, line strips two.
int32_t WholeVertices(int32_t type, int32_t n)
{
    switch (type) {
    case RDPT_POINTLIST: return n;
    case RDPT_LINELIST: return n / 2 * 2;
    case RDPT_LINESTRIP: return n >= 2 ? n : 0;
    case RDPT_TRIANGLELIST: return n / 3 * 3;
    case RDPT_TRIANGLESTRIP:
    case RDPT_TRIANGLEFAN: return n >= 3 ? n : 0;
    default: return 0;
    }
}

uint32_t DrawColour() { return GR_DrawColour & ~1u; }

uint32_t OwnColour(uint32_t colour, float alpha)
{
    return Colour_ToARGB(colour | 1u, uint32_t(Colour_AlphaToByte(alpha)));
}

void MapUV(float* u, float* v)
{
    const GR3DPrimitive& p = GR_3DPrim;
    if (!p.mapped) return;
    *u = (p.targetWidth * *u + p.sourceX) / p.pageWidth;
    *v = (p.targetHeight * *v + p.sourceY) / p.pageHeight;
}

void Store(float x, float y, float z, float nx, float ny, float nz, uint32_t colour, float u, float v)
{
    GR3DPrimitive& p = GR_3DPrim;
    if (p.count >= p.capacity) GR_3D_AddVertex();
    if (p.count >= GR_3D_PRIM_MAX) return;  // the array's bound, whatever a caller left in the count
    p.vertices[p.count++] = {x, y, z, nx, ny, nz, colour, u, v};
}

void StoreMapped(float x, float y, float z, float nx, float ny, float nz, uint32_t colour, float u, float v)
{
    MapUV(&u, &v);
    Store(x, y, z, nx, ny, nz, colour, u, v);
}

// The solids' common frame: the pending batch goes first, and texture repeat is on while they draw.
struct RepeatOn {
    bool saved;
    RepeatOn() : saved(GR_Texture_GetRepeat())
    {
        GraphicsFlush();
        GR_Texture_SetRepeat(true);
    }
    ~RepeatOn()
    {
        GraphicsFlush();
        GR_Texture_SetRepeat(saved);
    }
    RepeatOn(const RepeatOn&) = delete;
    RepeatOn& operator=(const RepeatOn&) = delete;
};

// The rim of the round solids: steps + 1 points around the box's ellipse.
struct Rim {
    int32_t steps;
    float cx, cy, rx, ry;
    float cosines[129], sines[129];
};

void MakeRim(Rim* r, float x1, float y1, float x2, float y2, int32_t steps)
{
    r->steps = std::clamp(steps, 3, 128);
    for (int32_t i = 0; i <= r->steps; ++i) {
        const float a = float(i) * 2.0f * 3.1415927f / float(r->steps);
        r->cosines[i] = float(std::cos(double(a)));
        r->sines[i] = float(std::sin(double(a)));
    }
    r->cx = (x1 + x2) / 2;
    r->rx = (x2 - x1) / 2;
    r->cy = (y1 + y2) / 2;
    r->ry = (y2 - y1) / 2;
}

float RimX(const Rim& r, int32_t i) { return r.cosines[i] * r.rx + r.cx; }
float RimY(const Rim& r, int32_t i) { return r.sines[i] * r.ry + r.cy; }

// A closed solid's bottom: the centre, then the rim backwards so it faces down.
void BottomFan(const Rim& r, float z, int64_t texture)
{
    GR_3D_PrimitiveBegin(RDPT_TRIANGLEFAN, texture);
    GR_3D_VertexNormalTexture(r.cx, r.cy, z, 0, 0, -1, 0, 0);
    for (int32_t i = r.steps; i >= 0; --i) GR_3D_VertexNormalTexture(RimX(r, i), RimY(r, i), z, 0, 0, -1, 0, 0);
    GR_3D_PrimitiveEnd();
}

}  // namespace prim3d_internal

void GR_3D_PrimitiveBegin(int32_t type, int64_t texture)
{
    GR3DPrimitive& p = GR_3DPrim;
    p.count = 0;
    p.type = type;
    p.capacity = prim3d_internal::CapacityOf(type);
    const TextureHandle h = TextureHandle_Resolve(texture);
    p.page = -1;
    p.mapped = false;
    // Handles that name nothing draw untextured here (the 2D primitive reports them instead).
    if (h.kind == TextureHandleKind::Page || h.kind == TextureHandleKind::Entry) p.page = h.page;
    if (h.kind == TextureHandleKind::Entry && h.entry) {
        // Kept by value: the entry is not read again after this.
        p.mapped = true;
        p.sourceX = float(h.entry->sourceX);
        p.sourceY = float(h.entry->sourceY);
        p.targetWidth = float(h.entry->targetWidth);
        p.targetHeight = float(h.entry->targetHeight);
        p.pageWidth = float(h.width);
        p.pageHeight = float(h.height);
    }
}

void GR_3D_Vertex(float x, float y, float z)
{
    prim3d_internal::Store(x, y, z, 0, 0, 0, prim3d_internal::DrawColour(), 0, 0);
}

void GR_3D_VertexColour(float x, float y, float z, uint32_t colour, float alpha)
{
    prim3d_internal::Store(x, y, z, 0, 0, 0, prim3d_internal::OwnColour(colour, alpha), 0, 0);
}

void GR_3D_VertexTexture(float x, float y, float z, float u, float v)
{
    prim3d_internal::StoreMapped(x, y, z, 0, 0, 0, prim3d_internal::DrawColour(), u, v);
}

void GR_3D_VertexTextureColour(float x, float y, float z, float u, float v, uint32_t colour, float alpha)
{
    prim3d_internal::StoreMapped(x, y, z, 0, 0, 0, prim3d_internal::OwnColour(colour, alpha), u, v);
}

void GR_3D_VertexNormal(float x, float y, float z, float nx, float ny, float nz)
{
    prim3d_internal::Store(x, y, z, nx, ny, nz, prim3d_internal::DrawColour(), 0, 0);
}

void GR_3D_VertexNormalColour(float x, float y, float z, float nx, float ny, float nz, uint32_t colour, float alpha)
{
    prim3d_internal::Store(x, y, z, nx, ny, nz, prim3d_internal::OwnColour(colour, alpha), 0, 0);
}

void GR_3D_VertexNormalTexture(float x, float y, float z, float nx, float ny, float nz, float u, float v)
{
    prim3d_internal::StoreMapped(x, y, z, nx, ny, nz, prim3d_internal::DrawColour(), u, v);
}

void GR_3D_VertexNormalTextureColour(float x, float y, float z, float nx, float ny, float nz, float u, float v,
                                     uint32_t colour, float alpha)
{
    prim3d_internal::StoreMapped(x, y, z, nx, ny, nz, prim3d_internal::OwnColour(colour, alpha), u, v);
}

void GR_3D_PrimitiveEnd()
{
    const GR3DPrimitive& p = GR_3DPrim;
    if (p.type < int32_t(RDPT_POINTLIST) || p.type > int32_t(RDPT_TRIANGLEFAN)) return;
    if (GR_CurrentRecorder) {
        GR_CurrentRecorder->AddPrimitive(p.type, p.count, p.vertices);
        return;
    }
    // Whole primitives only: a partial one would shift every later request joined to the same batch.
    const int32_t n = prim3d_internal::WholeVertices(p.type, p.count);
    if (n == 0) return;
    // Looked up now: the page may have gone since the begin.
    NativeTexture* texture = p.page >= 0 && GR_Texture_Exists(p.page) ? GR_Texture_Get(p.page) : nullptr;
    void* at = GR_Batch_Alloc(p.type, texture, VERTEX_FORMAT_POS_NORMAL_COLOUR_UV, n);
    std::memcpy(at, p.vertices, size_t(n) * sizeof(VertexPosNormalColourUV));
}

void GR_3D_AddVertex()
{
    GR3DPrimitive& p = GR_3DPrim;
    VertexPosNormalColourUV carry[3];
    int32_t carried = 0;
    const int32_t n = p.count;
    if (n > 0) {
        switch (p.type) {
        case RDPT_LINESTRIP: carry[carried++] = p.vertices[n - 1]; break;
        case RDPT_TRIANGLESTRIP:
            if (n >= 2) {
                // An odd count repeats the first carried vertex: the next triangle keeps its winding.
                if (n % 2 == 1) carry[carried++] = p.vertices[n - 2];
                carry[carried++] = p.vertices[n - 2];
                carry[carried++] = p.vertices[n - 1];
            }
            break;
        case RDPT_TRIANGLEFAN:
            carry[carried++] = p.vertices[0];
            if (n >= 2) carry[carried++] = p.vertices[n - 1];
            break;
        default: break;
        }
    }
    GR_3D_PrimitiveEnd();
    std::copy(carry, carry + carried, p.vertices);
    p.count = carried;
}

// ---- Solids ------------------------------------------------------------------------------------------------

void GR_3D_DrawBlock(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                     float vrepeat)
{
    using namespace prim3d_internal;
    RepeatOn repeat;
    GR_3D_PrimitiveBegin(RDPT_TRIANGLELIST, texture);
    const float h = hrepeat, v = vrepeat;
    struct Corner {
        float x, y, z;
    };
    struct Face {
        float nx, ny, nz;
        Corner p[4];
    };
    const float side[4][2] = {{0, 0}, {0, v}, {h, v}, {h, 0}};
    const float top[4][2] = {{0, 0}, {h, 0}, {h, v}, {0, v}};
    const Face faces[6] = {
        {0, 0, -1, {{x1, y1, z1}, {x1, y2, z1}, {x2, y2, z1}, {x2, y1, z1}}},
        {0, 0, 1, {{x1, y1, z2}, {x2, y1, z2}, {x2, y2, z2}, {x1, y2, z2}}},
        {0, 1, 0, {{x1, y2, z1}, {x1, y2, z2}, {x2, y2, z2}, {x2, y2, z1}}},
        {1, 0, 0, {{x2, y2, z1}, {x2, y2, z2}, {x2, y1, z2}, {x2, y1, z1}}},
        {0, -1, 0, {{x2, y1, z1}, {x2, y1, z2}, {x1, y1, z2}, {x1, y1, z1}}},
        {-1, 0, 0, {{x1, y1, z1}, {x1, y1, z2}, {x1, y2, z2}, {x1, y2, z1}}},
    };
    const int order[6] = {0, 1, 2, 2, 3, 0};
    const uint32_t colour = DrawColour();
    GR3DPrimitive& p = GR_3DPrim;
    for (int32_t f = 0; f < 6; ++f) {
        const Face& face = faces[f];
        const float(*uv)[2] = f == 1 ? top : side;
        for (int k : order) {
            float u = uv[k][0], w = uv[k][1];
            MapUV(&u, &w);
            p.vertices[p.count++] = {face.p[k].x, face.p[k].y, face.p[k].z, face.nx, face.ny, face.nz,
                                     colour,      u,           w};
        }
    }
    GR_3D_PrimitiveEnd();
}

void GR_3D_DrawCylinder(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                        float vrepeat, bool closed, int32_t steps)
{
    using namespace prim3d_internal;
    RepeatOn repeat;
    Rim r;
    MakeRim(&r, x1, y1, x2, y2, steps);
    if (closed) {
        GR_3D_PrimitiveBegin(RDPT_TRIANGLEFAN, texture);
        GR_3D_VertexNormalTexture(r.cx, r.cy, z2, 0, 0, 1, 0, vrepeat);
        for (int32_t i = 0; i <= r.steps; ++i)
            GR_3D_VertexNormalTexture(RimX(r, i), RimY(r, i), z2, 0, 0, 1, 0, vrepeat);
        GR_3D_PrimitiveEnd();
    }
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, texture);
    for (int32_t i = 0; i <= r.steps; ++i) {
        const float u = float(i) * hrepeat / float(r.steps);
        const float px = RimX(r, i), py = RimY(r, i);
        GR_3D_VertexNormalTexture(px, py, z2, r.cosines[i], r.sines[i], 0, u, vrepeat);
        GR_3D_VertexNormalTexture(px, py, z1, r.cosines[i], r.sines[i], 0, u, 0);
    }
    GR_3D_PrimitiveEnd();
    if (closed) BottomFan(r, z1, texture);
}

void GR_3D_DrawCone(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                    float vrepeat, bool closed, int32_t steps)
{
    using namespace prim3d_internal;
    RepeatOn repeat;
    Rim r;
    MakeRim(&r, x1, y1, x2, y2, steps);
    GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, texture);
    for (int32_t i = 0; i <= r.steps; ++i) {
        const float u = float(i) * hrepeat / float(r.steps);
        GR_3D_VertexNormalTexture(r.cx, r.cy, z2, 0, 0, 1, u, vrepeat);
        GR_3D_VertexNormalTexture(RimX(r, i), RimY(r, i), z1, r.cosines[i], r.sines[i], 0, u, 0);
    }
    GR_3D_PrimitiveEnd();
    if (closed) BottomFan(r, z1, texture);
}

void GR_3D_DrawEllipsoid(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                         float vrepeat, int32_t steps)
{
    using namespace prim3d_internal;
    RepeatOn repeat;
    Rim r;
    MakeRim(&r, x1, y1, x2, y2, steps);
    const float cz = (z1 + z2) / 2, rz = (z2 - z1) / 2;
    const int32_t bands = (r.steps + 1) / 2;
    for (int32_t k = 0; k < bands; ++k) {
        const float b0 = float(k) * 3.1415927f / float(bands), b1 = float(k + 1) * 3.1415927f / float(bands);
        const float s0 = float(std::sin(double(b0))), c0 = float(std::cos(double(b0)));
        const float s1 = float(std::sin(double(b1))), c1 = float(std::cos(double(b1)));
        const float v0 = float(k) * vrepeat / float(bands), v1 = float(k + 1) * vrepeat / float(bands);
        GR_3D_PrimitiveBegin(RDPT_TRIANGLESTRIP, texture);
        for (int32_t i = 0; i <= r.steps; ++i) {
            const float ca = r.cosines[i], sa = r.sines[i];
            const float u = float(i) * hrepeat / float(r.steps);
            GR_3D_VertexNormalTexture(ca * s0 * r.rx + r.cx, sa * s0 * r.ry + r.cy, c0 * rz + cz, ca * s0, sa * s0,
                                      c0, u, v0);
            GR_3D_VertexNormalTexture(ca * s1 * r.rx + r.cx, sa * s1 * r.ry + r.cy, c1 * rz + cz, ca * s1, sa * s1,
                                      c1, u, v1);
        }
        GR_3D_PrimitiveEnd();
    }
}

void GR_3D_DrawWall(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                    float vrepeat)
{
    const float dx = x2 - x1, dy = y2 - y1;
    const float length = std::sqrt(dx * dx + dy * dy);
    if (length == 0.0f) return;
    prim3d_internal::RepeatOn repeat;
    const float nx = dy / length, ny = -dx / length;
    GR_3D_PrimitiveBegin(RDPT_TRIANGLEFAN, texture);
    GR_3D_VertexNormalTexture(x1, y1, z1, nx, ny, 0, 0, 0);
    GR_3D_VertexNormalTexture(x2, y2, z1, nx, ny, 0, hrepeat, 0);
    GR_3D_VertexNormalTexture(x2, y2, z2, nx, ny, 0, hrepeat, vrepeat);
    GR_3D_VertexNormalTexture(x1, y1, z2, nx, ny, 0, 0, vrepeat);
    GR_3D_PrimitiveEnd();
}

void GR_3D_DrawFloor(float x1, float y1, float z1, float x2, float y2, float z2, int64_t texture, float hrepeat,
                     float vrepeat)
{
    const float dx = x2 - x1, dz = z2 - z1;
    const float length = std::sqrt(dx * dx + dz * dz);
    if (length == 0.0f) return;
    prim3d_internal::RepeatOn repeat;
    const float nx = -dz / length, nz = dx / length;
    GR_3D_PrimitiveBegin(RDPT_TRIANGLEFAN, texture);
    GR_3D_VertexNormalTexture(x1, y1, z1, nx, 0, nz, 0, 0);
    GR_3D_VertexNormalTexture(x1, y2, z1, nx, 0, nz, 0, vrepeat);
    GR_3D_VertexNormalTexture(x2, y2, z2, nx, 0, nz, hrepeat, vrepeat);
    GR_3D_VertexNormalTexture(x2, y1, z2, nx, 0, nz, hrepeat, 0);
    GR_3D_PrimitiveEnd();
}
