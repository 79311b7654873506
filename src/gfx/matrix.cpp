// Matrix maths, the device matrices and their products, 3D mode, the projections, the view and world-cull
// rectangles and the transform stack.
#include "gfx/matrices.h"

#include "core/convert.h"
#include "gfx/batch.h"
#include "gfx/device.h"
#include "gfx/gpustate.h"
#include "world/loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kDegToRad = 0.017453292f;

struct SinCos {
    float s, c;
};
SinCos AngleSinCos(float degrees)
{
    const float radians = degrees * kDegToRad;
    return {float(std::sin(double(radians))), float(std::cos(double(radians)))};
}

Vector3 Cross(const Vector3& a, const Vector3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

bool ProjectionDegenerate(float a, float b, float zn, float zf) { return a == 0.0f || b == 0.0f || zf == zn; }

}  // namespace

Matrix44 Matrix_Identity()
{
    Matrix44 out{};
    out.m[0] = out.m[5] = out.m[10] = out.m[15] = 1.0f;
    return out;
}

void Matrix_Multiply(Matrix44* out, const Matrix44& a, const Matrix44& b)
{
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            long double sum = 0;
            for (int k = 0; k < 4; ++k) sum += (long double)a.m[row * 4 + k] * (long double)b.m[k * 4 + col];
            out->m[row * 4 + col] = float(sum);
        }
}

bool Matrix_Inverse(Matrix44* out, const Matrix44& in)
{
    double m[16], inv[16];
    for (int i = 0; i < 16; ++i) m[i] = in.m[i];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0.0) return false;
    const double scale = 1.0 / det;
    for (int i = 0; i < 16; ++i) out->m[i] = float(inv[i] * scale);
    return true;
}

void Vector3_GetNormalised(const Vector3& v, Vector3* out)
{
    const float inverse = 1.0f / std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    *out = {v.x * inverse, v.y * inverse, v.z * inverse};
}

Matrix44 Matrix_BuildRotationX(float degrees)
{
    const SinCos a = AngleSinCos(degrees);
    Matrix44 out = Matrix_Identity();
    out.m[5] = a.c, out.m[6] = -a.s, out.m[9] = a.s, out.m[10] = a.c;
    return out;
}

Matrix44 Matrix_BuildRotationY(float degrees)
{
    const SinCos a = AngleSinCos(degrees);
    Matrix44 out = Matrix_Identity();
    out.m[0] = a.c, out.m[2] = a.s, out.m[8] = -a.s, out.m[10] = a.c;
    return out;
}

Matrix44 Matrix_BuildRotationZ(float degrees)
{
    const SinCos a = AngleSinCos(degrees);
    Matrix44 out = Matrix_Identity();
    out.m[0] = a.c, out.m[1] = -a.s, out.m[4] = a.s, out.m[5] = a.c;
    return out;
}

Matrix44 Matrix_BuildRotationAxis(const Vector3& axis, float degrees)
{
    Vector3 n = axis;
    Vector3_Normalise(&n);
    const SinCos a = AngleSinCos(degrees);
    const float c = a.c, s = a.s, t = 1.0f - c, x = n.x, y = n.y, z = n.z;
    Matrix44 out{};
    out.m[0] = c + t * x * x;
    out.m[1] = t * x * y + s * z;
    out.m[2] = t * x * z - s * y;
    out.m[4] = t * x * y - s * z;
    out.m[5] = c + t * y * y;
    out.m[6] = t * y * z + s * x;
    out.m[8] = t * x * z + s * y;
    out.m[9] = t * y * z - s * x;
    out.m[10] = c + t * z * z;
    out.m[15] = 1.0f;
    return out;
}

Matrix44 Matrix_BuildLookAt(const Vector3& eye, const Vector3& target, const Vector3& up)
{
    Vector3 x, y, z;
    Vector3_GetNormalised({target.x - eye.x, target.y - eye.y, target.z - eye.z}, &z);
    Vector3_GetNormalised(Cross(up, z), &x);
    Vector3_GetNormalised(Cross(z, x), &y);
    return {{x.x, y.x, z.x, 0.0f, x.y, y.y, z.y, 0.0f, x.z, y.z, z.z, 0.0f, -Dot(x, eye), -Dot(y, eye), -Dot(z, eye),
             1.0f}};
}

Matrix44 Matrix_BuildPerspectiveFov(float fovy, float aspect, float zn, float zf)
{
    if (ProjectionDegenerate(fovy, aspect, zn, zf)) return Matrix_Identity();
    const float ys = float(1.0 / std::tan(double(fovy / 2.0f)));
    Matrix44 out{};
    out.m[0] = ys / aspect;
    out.m[5] = ys;
    out.m[10] = zf / (zf - zn);
    out.m[11] = 1.0f;
    out.m[14] = -zn * zf / (zf - zn);
    return out;
}

Matrix44 Matrix_BuildPerspective(float w, float h, float zn, float zf)
{
    if (ProjectionDegenerate(w, h, zn, zf)) return Matrix_Identity();
    Matrix44 out{};
    out.m[0] = 2.0f * zn / w;
    out.m[5] = 2.0f * zn / h;
    out.m[10] = zf / (zf - zn);
    out.m[11] = 1.0f;
    out.m[14] = -zn * zf / (zf - zn);
    return out;
}

Matrix44 Matrix_BuildOrtho(float w, float h, float zn, float zf)
{
    if (ProjectionDegenerate(w, h, zn, zf)) return Matrix_Identity();
    Matrix44 out{};
    out.m[0] = 2.0f / w;
    out.m[5] = 2.0f / h;
    out.m[10] = 1.0f / (zf - zn);
    out.m[14] = zn / (zn - zf);
    out.m[15] = 1.0f;
    return out;
}

Matrix44 Matrix_BuildTranslation(float x, float y, float z)
{
    Matrix44 out = Matrix_Identity();
    out.m[12] = x, out.m[13] = y, out.m[14] = z;
    return out;
}

Matrix44 Matrix_BuildScaling(float x, float y, float z)
{
    Matrix44 out{};
    out.m[0] = x, out.m[5] = y, out.m[10] = z, out.m[15] = 1.0f;
    return out;
}

// ---- Device matrices ---------------------------------------------------------------------------------------

bool GR_3DMode = false;
bool GR_ProjectionIsOrtho = false;
float GR_ProjectionNear = 1.0f;
float GR_ProjectionFar = 32000.0f;
bool GR_CullingOff = false;
bool GR_HalfPixel = true;
bool GR_TransformChanged = false;
float GR_Depth = 0.0f;
float GR_PrimOffsetX = 1.0f, GR_PrimOffsetY = 1.0f;
GRViewArea GR_ViewArea{};
GRRect GR_ViewRect{};
GRRect GR_WorldCullRect{};
Matrix44 GR_Matrices[GRM_COUNT] = {Matrix_Identity(), Matrix_Identity(), Matrix_Identity(), Matrix_Identity(),
                                   Matrix_Identity()};

namespace {

Matrix44 g_TransformStack[GR_TRANSFORM_STACK_SIZE];
int32_t g_TransformStackTop = -1;

int SlotOfTransform(uint32_t which)
{
    switch (which) {
        case RDTS_VIEW: return GRM_VIEW;
        case RDTS_PROJECTION: return GRM_PROJECTION;
        case RDTS_WORLD: return GRM_WORLD;
        default: return -1;
    }
}

void SetWorld(const Matrix44& m)
{
    GR_D3D_SetMatrix(RDTS_WORLD, m);
    GR_MarkTransformChanged();
}

void AddWorld(const Matrix44& m)
{
    Matrix44 world;
    Matrix_Multiply(&world, GR_Matrices[GRM_WORLD], m);
    SetWorld(world);
}

// The view looking straight down the z axis at the centre of an area, turned by a (radians, float).
void SetCentredView(float x, float y, float w, float h, float a, float eyeZ)
{
    const Vector3 up{float(std::sin(double(a))), float(std::cos(double(a))), 0.0f};
    const float cx = x + w / 2.0f, cy = y + h / 2.0f;
    GR_D3D_SetMatrix(RDTS_VIEW, Matrix_BuildLookAt({cx, cy, eyeZ}, {cx, cy, 0.0f}, up));
}

void SetProjectionPlanes(bool ortho, float zn, float zf)
{
    GR_ProjectionIsOrtho = ortho;
    GR_ProjectionNear = zn;
    GR_ProjectionFar = zf;
}

}  // namespace

uint32_t GR_MatrixKindToTransform(int32_t kind)
{
    switch (kind) {
        case 0: return RDTS_VIEW;
        case 1: return RDTS_PROJECTION;
        case 2: return RDTS_WORLD;
        default: return 0;
    }
}

void GR_D3D_GetMatrix(uint32_t which, Matrix44* out)
{
    const int slot = SlotOfTransform(which);
    *out = slot < 0 ? Matrix_Identity() : GR_Matrices[slot];
}

void GR_D3D_SetMatrix(uint32_t which, const Matrix44& matrix)
{
    Matrix44 m = matrix;
    if (SlotOfTransform(which) == GRM_PROJECTION && GR_HalfPixel && GR_Device) {
        GR_PrimOffsetX = GR_PrimOffsetY = 1.0f;
        if (GR_Viewport.width > 0) m.m[12] -= 1.0f / float(GR_Viewport.width);
        if (GR_Viewport.height > 0) m.m[13] += 1.0f / float(GR_Viewport.height);
    }
    GR_D3D_SetMatrixUnshifted(which, m);
}

void GR_D3D_SetMatrixUnshifted(uint32_t which, const Matrix44& m)
{
    const int slot = SlotOfTransform(which);
    if (!GR_Device || slot < 0) return;
    GraphicsFlush();
    GR_Matrices[slot] = m;
    Matrix_Multiply(&GR_Matrices[GRM_WORLDVIEW], GR_Matrices[GRM_WORLD], GR_Matrices[GRM_VIEW]);
    Matrix_Multiply(&GR_Matrices[GRM_WORLDVIEWPROJ], GR_Matrices[GRM_WORLDVIEW], GR_Matrices[GRM_PROJECTION]);
    RDMatrix device;
    static_assert(sizeof device.m == sizeof m.m);
    std::memcpy(device.m, m.m, sizeof m.m);
    GR_Device->SetTransform(which, device);
    if (slot == GRM_PROJECTION) GR_3D_ApplyFogRange();
    if (slot == GRM_VIEW) Light_ViewMatrixChanged();
    ShaderM_SetUniformMatrices(-1, GRM_COUNT, GR_Matrices[0].m);
}

void GR_D3D_SetMatrix(uint32_t which, const RDMatrix& matrix)
{
    Matrix44 m;
    std::memcpy(m.m, matrix.m, sizeof m.m);
    GR_D3D_SetMatrix(which, m);
}

void GR_MarkTransformChanged() { GR_TransformChanged = true; }

void GR_UpdateWorldCullRect()
{
    if (!GR_TransformChanged) return;
    const Matrix44& world = GR_Matrices[GRM_WORLD];
    Matrix44 m;
    if (!Matrix_Inverse(&m, world)) m = world;
    const double corners[4][2] = {{double(GR_ViewRect.left), double(GR_ViewRect.top)},
                                  {double(GR_ViewRect.right), double(GR_ViewRect.top)},
                                  {double(GR_ViewRect.right), double(GR_ViewRect.bottom)},
                                  {double(GR_ViewRect.left), double(GR_ViewRect.bottom)}};
    for (int i = 0; i < 4; ++i) {
        const double x = corners[i][0], y = corners[i][1];
        const int32_t wx = Real_ToInt32(x * m.m[0] + y * m.m[4] + m.m[12]);
        const int32_t wy = Real_ToInt32(x * m.m[1] + y * m.m[5] + m.m[13]);
        if (i == 0) {
            GR_WorldCullRect = {wx, wy, wx, wy};
        } else {
            GR_WorldCullRect.left = std::min(GR_WorldCullRect.left, wx);
            GR_WorldCullRect.top = std::min(GR_WorldCullRect.top, wy);
            GR_WorldCullRect.right = std::max(GR_WorldCullRect.right, wx);
            GR_WorldCullRect.bottom = std::max(GR_WorldCullRect.bottom, wy);
        }
    }
    GR_TransformChanged = false;
}

void GR_SetViewRect(float x, float y, float w, float h, float angle)
{
    if (std::fabs(angle) < 0.001f) {
        GR_ViewRect = {Real_ToInt32(double(x) - 0.999), Real_ToInt32(double(y) - 0.999),
                       Real_ToInt32(double(x) + double(w) + 0.999), Real_ToInt32(double(y) + double(h) + 0.999)};
        return;
    }
    // A NaN angle fails both tests above and below and gives the converters' INT32_MIN.
    const float a = float(double(angle) * 0.017453292);
    const float c = float(std::fabs(std::cos(double(a)))), s = float(std::fabs(std::sin(double(a))));
    const float bw = float(double(c) * w + double(s) * h), bh = float(double(s) * w + double(c) * h);
    GR_ViewRect = {Real_ToInt32((double(w) - bw) / 2.0 + x), Real_ToInt32((double(h) - bh) / 2.0 + y),
                   Real_ToInt32((double(bw) + w) / 2.0 + x), Real_ToInt32((double(bh) + h) / 2.0 + y)};
}

void GR_SetViewProjection(float x, float y, float w, float h, float angle)
{
    GR_ViewArea = {x, y, w, h, angle};
    GR_SetViewRect(x, y, w, h, angle);
    const float a = -angle * kDegToRad;
    if (GR_3DMode && GR_Perspective) {
        SetCentredView(x, y, w, h, a, -w);
        SetProjectionPlanes(false, 1.0f, 32000.0f);
        GR_D3D_SetMatrix(RDTS_PROJECTION, Matrix_BuildPerspective(1.0f, h / w, 1.0f, 32000.0f));
    } else {
        SetCentredView(x, y, w, h, a, -16000.0f);
        SetProjectionPlanes(true, 1.0f, 32000.0f);
        GR_D3D_SetMatrix(RDTS_PROJECTION, Matrix_BuildOrtho(w, GR_3DMode ? h : -h, 1.0f, 32000.0f));
    }
    GR_MarkTransformChanged();
}

bool GR_3D_SetMode(bool on)
{
    if (on != GR_3DMode) {
        GraphicsFlush();
        GR_3DMode = on;
        GR_3D_SetPerspective(on);
        GR_3D_SetHidden(on);
    }
    return true;
}

void GR_3D_SetDepth(float depth)
{
    if (!(GR_3DMode || g_GameData.newMode) || std::isnan(depth)) {
        GR_Depth = 0.0f;
        return;
    }
    GR_Depth = std::clamp(depth, -16000.0f, 16000.0f);
}

void GR_3D_SetProjection(float xfrom, float yfrom, float zfrom, float xto, float yto, float zto, float xup,
                         float yup, float zup)
{
    GR_D3D_SetMatrix(RDTS_VIEW, Matrix_BuildLookAt({xfrom, yfrom, zfrom}, {xto, yto, zto}, {xup, yup, zup}));
    GR_MarkTransformChanged();
}

void GR_3D_SetProjectionExt(float xfrom, float yfrom, float zfrom, float xto, float yto, float zto, float xup,
                            float yup, float zup, float angle, float aspect, float znear, float zfar)
{
    GR_D3D_SetMatrix(RDTS_VIEW, Matrix_BuildLookAt({xfrom, yfrom, zfrom}, {xto, yto, zto}, {xup, yup, zup}));
    GR_D3D_SetMatrix(RDTS_PROJECTION, Matrix_BuildPerspectiveFov(angle * 0.0174532924f, aspect, znear, zfar));
    SetProjectionPlanes(false, znear, zfar);
    GR_CullingOff = false;
    GR_MarkTransformChanged();
}

void GR_3D_SetProjectionOrtho(float x, float y, float w, float h, float angle)
{
    SetCentredView(x, y, w, h, -angle * 3.1415927f / 180.0f, -16000.0f);
    GR_D3D_SetMatrix(RDTS_PROJECTION, Matrix_BuildOrtho(w, -h, 1.0f, 32000.0f));
    SetProjectionPlanes(true, 1.0f, 32000.0f);
    GR_CullingOff = true;
    GR_MarkTransformChanged();
}

void GR_3D_SetProjectionPerspective(float x, float y, float w, float h, float angle)
{
    SetCentredView(x, y, w, h, -angle * kDegToRad, -w);
    GR_D3D_SetMatrix(RDTS_PROJECTION, Matrix_BuildPerspective(1.0f, h / w, 1.0f, 32000.0f));
    SetProjectionPlanes(false, 1.0f, 32000.0f);
    GR_CullingOff = false;
    GR_MarkTransformChanged();
}

void GR_3D_TransformSetIdentity() { SetWorld(Matrix_Identity()); }
void GR_3D_TransformSetTranslation(float x, float y, float z) { SetWorld(Matrix_BuildTranslation(x, y, z)); }
void GR_3D_TransformSetScaling(float x, float y, float z) { SetWorld(Matrix_BuildScaling(x, y, z)); }
void GR_3D_TransformSetRotationX(float degrees) { SetWorld(Matrix_BuildRotationX(degrees)); }
void GR_3D_TransformSetRotationY(float degrees) { SetWorld(Matrix_BuildRotationY(degrees)); }
void GR_3D_TransformSetRotationZ(float degrees) { SetWorld(Matrix_BuildRotationZ(degrees)); }
void GR_3D_TransformSetRotationAxis(float x, float y, float z, float degrees)
{
    SetWorld(Matrix_BuildRotationAxis({x, y, z}, -degrees));
}
void GR_3D_TransformAddTranslation(float x, float y, float z) { AddWorld(Matrix_BuildTranslation(x, y, z)); }
void GR_3D_TransformAddScaling(float x, float y, float z) { AddWorld(Matrix_BuildScaling(x, y, z)); }
void GR_3D_TransformAddRotationX(float degrees) { AddWorld(Matrix_BuildRotationX(degrees)); }
void GR_3D_TransformAddRotationY(float degrees) { AddWorld(Matrix_BuildRotationY(degrees)); }
void GR_3D_TransformAddRotationZ(float degrees) { AddWorld(Matrix_BuildRotationZ(degrees)); }
void GR_3D_TransformAddRotationAxis(float x, float y, float z, float degrees)
{
    AddWorld(Matrix_BuildRotationAxis({x, y, z}, -degrees));
}

void GR_3D_TransformVertex(float* x, float* y, float* z)
{
    const float* m = GR_Matrices[GRM_WORLD].m;
    const float ix = *x, iy = *y, iz = *z;
    *x = ix * m[0] + iy * m[4] + iz * m[8] + m[12];
    *y = ix * m[1] + iy * m[5] + iz * m[9] + m[13];
    *z = ix * m[2] + iy * m[6] + iz * m[10] + m[14];
}

void GR_3D_TransformStackClear() { g_TransformStackTop = -1; }
bool GR_3D_TransformStackEmpty() { return g_TransformStackTop < 0; }
int32_t GR_3D_TransformStackDepth() { return g_TransformStackTop + 1; }

bool GR_3D_TransformStackPush()
{
    if (g_TransformStackTop >= GR_TRANSFORM_STACK_SIZE - 1) return false;
    g_TransformStack[++g_TransformStackTop] = GR_Matrices[GRM_WORLD];
    return true;
}

bool GR_3D_TransformStackPop()
{
    if (g_TransformStackTop < 0) return false;
    SetWorld(g_TransformStack[g_TransformStackTop--]);
    return true;
}

bool GR_3D_TransformStackTop()
{
    if (g_TransformStackTop < 0) return false;
    SetWorld(g_TransformStack[g_TransformStackTop]);
    return true;
}

bool GR_3D_TransformStackDiscard()
{
    if (g_TransformStackTop < 0) return false;
    --g_TransformStackTop;
    return true;
}
