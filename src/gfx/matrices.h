// The device matrices, 3D mode and depth, the projections, the view and world-cull rectangles and the
// transform stack.
#pragma once
#include <cstdint>

#include "gfx/matrix.h"
#include "platform/render_device.h"

// 3D mode (d3d_start / d3d_end).
extern bool GR_3DMode;
// The current projection came from the orthographic builder; its near and far planes (the fog range reads them).
extern bool GR_ProjectionIsOrtho;
extern float GR_ProjectionNear, GR_ProjectionFar;
// Set by the orthographic d3d projection, cleared by the perspective ones; the surface stack saves it.
extern bool GR_CullingOff;
// Projections are moved by half a pixel so texel centres land on pixel centres.
extern bool GR_HalfPixel;
extern bool GR_TransformChanged;
// The depth 2D drawing writes.
extern float GR_Depth;
// The primitive drawer's offsets, written again whenever the half-pixel shift is applied.
extern float GR_PrimOffsetX, GR_PrimOffsetY;

struct GRViewArea {
    float x, y, w, h, angle;
};
extern GRViewArea GR_ViewArea;  // the last area given to GR_SetViewProjection
struct GRRect {
    int32_t left, top, right, bottom;
};
extern GRRect GR_ViewRect;       // the room area the current view shows
extern GRRect GR_WorldCullRect;  // GR_ViewRect in world-matrix space (min x, min y, max x, max y)

// Slots of the device matrices: view, projection, world, world x view, world x view x projection.
enum GRMatrixSlot { GRM_VIEW, GRM_PROJECTION, GRM_WORLD, GRM_WORLDVIEW, GRM_WORLDVIEWPROJ, GRM_COUNT };
extern Matrix44 GR_Matrices[GRM_COUNT];

// The device transform of a script matrix kind (0 view, 1 projection, 2 world); 0 for any other kind.
uint32_t GR_MatrixKindToTransform(int32_t kind);
// which is RDTS_VIEW, RDTS_PROJECTION or RDTS_WORLD; other values set nothing and read as the identity.
void GR_D3D_GetMatrix(uint32_t which, Matrix44* out);
// Nothing without a device. Flushes first, so vertices already written keep the transform they were made for.
void GR_D3D_SetMatrix(uint32_t which, const Matrix44& matrix);
void GR_D3D_SetMatrix(uint32_t which, const RDMatrix& matrix);
// As it stands, without the half-pixel shift: for identities, and for putting back what GR_D3D_GetMatrix read.
void GR_D3D_SetMatrixUnshifted(uint32_t which, const Matrix44& matrix);
void GR_MarkTransformChanged();
// Recomputed only after a transform changed.
void GR_UpdateWorldCullRect();
void GR_SetViewRect(float x, float y, float w, float h, float angle);
// The view and projection for a view of the room at (x, y), w x h, turned by angle degrees.
void GR_SetViewProjection(float x, float y, float w, float h, float angle);

bool GR_3D_SetMode(bool on);
void GR_3D_SetDepth(float depth);

void GR_3D_SetProjection(float xfrom, float yfrom, float zfrom, float xto, float yto, float zto, float xup,
                         float yup, float zup);
void GR_3D_SetProjectionExt(float xfrom, float yfrom, float zfrom, float xto, float yto, float zto, float xup,
                            float yup, float zup, float angle, float aspect, float znear, float zfar);
void GR_3D_SetProjectionOrtho(float x, float y, float w, float h, float angle);
void GR_3D_SetProjectionPerspective(float x, float y, float w, float h, float angle);

void GR_3D_TransformSetIdentity();
void GR_3D_TransformSetTranslation(float x, float y, float z);
void GR_3D_TransformSetScaling(float x, float y, float z);
void GR_3D_TransformSetRotationX(float degrees);
void GR_3D_TransformSetRotationY(float degrees);
void GR_3D_TransformSetRotationZ(float degrees);
void GR_3D_TransformSetRotationAxis(float x, float y, float z, float degrees);
void GR_3D_TransformAddTranslation(float x, float y, float z);
void GR_3D_TransformAddScaling(float x, float y, float z);
void GR_3D_TransformAddRotationX(float degrees);
void GR_3D_TransformAddRotationY(float degrees);
void GR_3D_TransformAddRotationZ(float degrees);
void GR_3D_TransformAddRotationAxis(float x, float y, float z, float degrees);
// (x, y, z, 1) x world.
void GR_3D_TransformVertex(float* x, float* y, float* z);

constexpr int32_t GR_TRANSFORM_STACK_SIZE = 51;
void GR_3D_TransformStackClear();
bool GR_3D_TransformStackEmpty();
bool GR_3D_TransformStackPush();
bool GR_3D_TransformStackPop();
bool GR_3D_TransformStackTop();
bool GR_3D_TransformStackDiscard();
int32_t GR_3D_TransformStackDepth();  // top + 1

// Provided by the shader and light work: the current shader's matrix uniform (constant -1 selects it; nothing
// without a shader) and the lights' view-matrix hook.
void ShaderM_SetUniformMatrices(int32_t constant, int32_t count, const float* matrices);
void Light_ViewMatrixChanged();
