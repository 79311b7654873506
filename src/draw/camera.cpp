// Cameras and the camera manager.
#include "draw/camera.h"

#include <cmath>
#include <cstring>

#include "core/error.h"
#include "core/memory_manager.h"
#include "core/script.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "draw/draw.h"
#include "gfx/matrices.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/world_access.h"

namespace {

// The table: ascending ids, since ids only grow and removal closes the gap.
struct CameraTable {
    int32_t nextId = 0;
    CCamera* active = nullptr;
    CInstance* scriptInstance = nullptr;
    CCamera** cameras = nullptr;
    int32_t capacity = 0;
    int32_t count = 0;
    int32_t lastFound = 0;
    CCameraManager::FindStats lastFind = {false, 0};
};
CameraTable g_cameras;

// The table starts with room for one camera, as the process starts, so the block is there before any
// test or load measures what it leaves behind.
struct CameraTableStart {
    CameraTableStart()
    {
        g_cameras.cameras = static_cast<CCamera**>(MemoryManager::Alloc(sizeof(CCamera*), __FILE__, __LINE__, true));
        g_cameras.capacity = g_cameras.cameras ? 1 : 0;
    }
};
CameraTableStart g_cameraTableStart;

bool Camera_IsZero(const Matrix44& m, std::initializer_list<int> elements)
{
    for (int k : elements)
        if (m.m[k] != 0.0f) return false;
    return true;
}

// Inverted in place: a singular matrix stays as it is.
Matrix44 Camera_Inverse(const Matrix44& m)
{
    Matrix44 out = m;
    Matrix_Inverse(&out, out);
    return out;
}

int32_t Camera_ReadWord(const uint8_t* entry, int k)
{
    int32_t v;
    std::memcpy(&v, entry + 4 * k, sizeof v);
    return v;
}

void Camera_Append(CCamera* camera)
{
    CameraTable& t = g_cameras;
    camera->id = t.nextId++;
    if (t.count == t.capacity) {
        const int32_t capacity = t.capacity > 0 ? t.capacity * 2 : 1;
        t.cameras = static_cast<CCamera**>(
            MemoryManager::ReAlloc(t.cameras, size_t(capacity) * sizeof(CCamera*), __FILE__, __LINE__));
        t.capacity = capacity;
    }
    t.cameras[t.count++] = camera;
}

void Camera_FreeAll()
{
    CameraTable& t = g_cameras;
    for (int32_t i = 0; i < t.count; ++i) delete t.cameras[i];
    t.count = 0;
    t.active = nullptr;
    t.lastFound = 0;
}

// The instance a camera follows: an id names an instance, an object index its first live instance.
CInstance* Camera_FindTarget(int32_t target)
{
    if (target >= 100000) {
        CInstance* instance = Hash_FindInstance(target);
        return instance && Instance_IsLive(instance) ? instance : nullptr;
    }
    WorldCursor cursor;
    while (CInstance* instance = World_NextInstance(WORLD_LIST_OBJECT, target, &cursor))
        if (Instance_IsLive(instance)) return instance;
    return nullptr;
}

// One axis of the follow rule: the new position of a view of size s at v for a target at t with border b.
float Camera_FollowAxis(float v, float s, float t, float b, float roomSize, bool clamp, float speed)
{
    float n;
    if (2.0f * b >= s)
        n = t - s * 0.5f;
    else if (v > t - b)
        n = t - b;
    else if (b + t > v + s)
        n = b + t - s;
    else
        n = v;
    if (clamp) {
        if (n < 0.0f) n = 0.0f;
        if (n + s > roomSize) n = roomSize - s;
    }
    if (speed >= 0.0f) {
        if (v - n > speed) n = v - speed;
        if (n - v > speed) n = v + speed;
    }
    return n;
}

CameraAreaSource g_cameraAreaSource = nullptr;

}  // namespace

// ---- CCamera ----

void* CCamera::operator new(size_t size) { return MemoryManager::Alloc(size, __FILE__, __LINE__, true); }
void CCamera::operator delete(void* p) { MemFree(p); }

CCamera::CCamera()
{
    id = -1;
    projection = view = invProjection = invView = Matrix_Identity();
    std::memset(&viewProj, 0, sizeof viewProj);
    std::memset(&invViewProj, 0, sizeof invViewProj);
    viewX = viewY = viewWidth = viewHeight = 0.0f;
    speedX = speedY = borderX = borderY = angle = 0.0f;
    target = -1;
    beginScript = endScript = updateScript = -1;
    is2D = true;
    viewChanged = false;
}

void CCamera::Recompute()
{
    Matrix_Multiply(&viewProj, view, projection);
    invViewProj = Camera_Inverse(viewProj);
    is2D = Camera_IsZero(projection, {1, 2, 4, 6, 8, 9, 11}) && Camera_IsZero(view, {2, 6});
}

void CCamera::SetProjMat(const Matrix44& m)
{
    projection = m;
    invProjection = Camera_Inverse(m);
    Recompute();
}

void CCamera::SetViewMat(const Matrix44& m)
{
    view = m;
    invView = Camera_Inverse(m);
    Recompute();
}

void CCamera::Build2DView(float cx, float cy)
{
    const double a = -double(angle) * 0.01745329238474369;
    const Vector3 eye{cx, cy, -16000.0f}, at{cx, cy, 0.0f}, up{float(std::sin(a)), float(std::cos(a)), 0.0f};
    SetViewMat(Matrix_BuildLookAt(eye, at, up));
    SetProjMat(Matrix_BuildOrtho(viewWidth, viewHeight, 1.0f, 32000.0f));
}

void CCamera::BuildPerspectiveView(float cx, float cy)
{
    const double a = -double(angle) * 0.01745329238474369;
    const Vector3 eye{cx, cy, -viewWidth}, at{cx, cy, 0.0f}, up{float(std::sin(a)), float(std::cos(a)), 0.0f};
    SetViewMat(Matrix_BuildLookAt(eye, at, up));
    SetProjMat(Matrix_BuildPerspective(1.0f, -(viewHeight / viewWidth), 1.0f, 32000.0f));
}

void CCamera::Rebuild()
{
    const float cx = viewX + viewWidth * 0.5f, cy = viewY + viewHeight * 0.5f;
    if (projection.m[11] != 0.0f)
        BuildPerspectiveView(cx, cy);
    else
        Build2DView(cx, cy);
}

void CCamera::Apply()
{
    if (projection.m[11] == 0.0f) {
        // Clip-space points back into the room, without a perspective divide.
        const Matrix44& m = invViewProj;
        auto map = [&m](double x, double y, double out[3]) {
            out[0] = x * m.m[0] + y * m.m[4] + m.m[12];
            out[1] = x * m.m[1] + y * m.m[5] + m.m[13];
            out[2] = x * m.m[2] + y * m.m[6] + m.m[14];
        };
        double c[3], l[3], r[3], u[3], d[3];
        map(0, 0, c);
        map(-1, 0, l);
        map(1, 0, r);
        map(0, 1, u);
        map(0, -1, d);
        auto length = [](const double a[3], const double b[3]) {
            const double s = (b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) + (b[2] - a[2]) * (b[2] - a[2]);
            return s > 0.0 ? std::sqrt(s) : 0.0;
        };
        const double width = length(l, r), height = length(d, u);
        // The area is placed by its centre and turned the way Build2DView turns it, so that the view area
        // given to GR_SetViewProjection would build these same matrices, rotated or not.
        const double x = c[0] - width * 0.5, y = c[1] - height * 0.5;
        double turn = 0.0;
        if (height > 0.0) {
            turn = std::atan2(-(u[0] - d[0]) / height, (u[1] - d[1]) / height);
            if (turn < 0.0) turn += 6.2831854820251465;
        }
        const float degrees = float(turn / 6.2831854820251465 * 360.0);
        GR_ViewArea = {float(x), float(y), float(width), float(height), degrees};
        GR_SetViewRect(float(x), float(y), float(width), float(height), degrees);
        GR_MarkTransformChanged();
    }
    GR_D3D_SetMatrix(RDTS_VIEW, view);
    Matrix44 device = projection;
    for (int row = 0; row < 4; ++row) device.m[row * 4 + 1] = -device.m[row * 4 + 1];
    GR_D3D_SetMatrix(RDTS_PROJECTION, device);
}

void CCamera::Update()
{
    if (updateScript != -1) {
        RunScript(updateScript);
        return;
    }
    if (target != -1) {
        CInstance* instance = Camera_FindTarget(target);
        if (!instance) return;
        if (instance->bboxDirty) Compute_BoundingBox(instance, true);
        const float tx = std::floor(instance->x), ty = std::floor(instance->y);
        const CRoom* room = Run_Room;
        viewX = Camera_FollowAxis(viewX, viewWidth, tx, borderX, room ? float(room->width) : 0.0f, room, speedX);
        viewY = Camera_FollowAxis(viewY, viewHeight, ty, borderY, room ? float(room->height) : 0.0f, room, speedY);
        Rebuild();
    } else if (viewChanged) {
        Rebuild();
    }
}

void CCamera::RunScript(int32_t script)
{
    if (script == -1) return;
    CInstance* self = g_GameData.scriptObjectModel ? Script_GlobalSelf() : g_cameras.scriptInstance;
    if (!self) return;
    const int32_t savedObject = event_object;
    event_object = id;
    RValue result;
    RValue_SetUndefined(&result);
    Script_Perform(script, self, self, 0, &result, nullptr);
    RValue_Free(&result);
    event_object = savedObject;
}

void CCamera::GetViewArea(float* left, float* top, float* right, float* bottom) const
{
    const double w = viewWidth, h = viewHeight;
    double bw = w, bh = h;
    if (angle != 0.0f) {
        const double a = double(angle) * 0.017453292519943295;
        const double c = std::fabs(std::cos(a)), s = std::fabs(std::sin(a));
        bw = c * w + s * h;
        bh = s * w + c * h;
    }
    const double cx = double(viewX) + w * 0.5, cy = double(viewY) + h * 0.5;
    *left = float(cx - bw * 0.5);
    *top = float(cy - bh * 0.5);
    *right = float(cx + bw * 0.5);
    *bottom = float(cy + bh * 0.5);
}

// ---- CCameraManager ----

CCamera* CCameraManager::CreateCamera()
{
    auto* camera = new CCamera();
    Camera_Append(camera);
    return camera;
}

CCamera* CCameraManager::CreateFromView(const uint8_t* entry)
{
    SeamTrace_Record("CCameraManager::CreateFromView");
    if (!entry) return nullptr;
    CCamera* camera = CreateCamera();
    camera->viewX = float(Camera_ReadWord(entry, 1));
    camera->viewY = float(Camera_ReadWord(entry, 2));
    camera->viewWidth = float(Camera_ReadWord(entry, 3));
    camera->viewHeight = float(Camera_ReadWord(entry, 4));
    camera->borderX = float(Camera_ReadWord(entry, 9));
    camera->borderY = float(Camera_ReadWord(entry, 10));
    camera->speedX = float(Camera_ReadWord(entry, 11));
    camera->speedY = float(Camera_ReadWord(entry, 12));
    camera->target = Camera_ReadWord(entry, 13);
    camera->angle = 0.0f;
    camera->Build2DView(camera->viewX + camera->viewWidth * 0.5f, camera->viewY + camera->viewHeight * 0.5f);
    return camera;
}

CCamera* CCameraManager::CloneCamera(int32_t id)
{
    SeamTrace_Record("CCameraManager::CloneCamera");
    const CCamera* source = GetCamera(id);
    if (!source) return nullptr;
    CCamera* camera = CreateCamera();
    camera->viewX = source->viewX;
    camera->viewY = source->viewY;
    camera->viewWidth = source->viewWidth;
    camera->viewHeight = source->viewHeight;
    camera->speedX = source->speedX;
    camera->speedY = source->speedY;
    camera->borderX = source->borderX;
    camera->borderY = source->borderY;
    camera->angle = source->angle;
    camera->target = source->target;
    camera->beginScript = source->beginScript;
    camera->endScript = source->endScript;
    camera->updateScript = source->updateScript;
    camera->SetViewMat(source->view);
    camera->SetProjMat(source->projection);
    return camera;
}

int32_t CCameraManager::FindIndex(int32_t id)
{
    CameraTable& t = g_cameras;
    if (t.lastFound < t.count && t.cameras[t.lastFound] && t.cameras[t.lastFound]->id == id) {
        t.lastFind = {true, 0};
        return t.lastFound;
    }
    int32_t visited = 0;
    for (int32_t i = 0; i < t.count; ++i) {
        const CCamera* camera = t.cameras[i];
        if (!camera) continue;
        ++visited;
        if (camera->id == id) {
            t.lastFound = i;
            t.lastFind = {false, visited};
            return i;
        }
        if (camera->id > id) break;
    }
    t.lastFind = {false, visited};
    return -1;
}

CCameraManager::FindStats CCameraManager::LastFind() { return g_cameras.lastFind; }

CCamera* CCameraManager::GetCamera(int32_t id)
{
    const int32_t index = FindIndex(id);
    return index < 0 ? nullptr : g_cameras.cameras[index];
}

void CCameraManager::DestroyCamera(int32_t id)
{
    SeamTrace_Record("CCameraManager::DestroyCamera");
    CameraTable& t = g_cameras;
    const int32_t index = FindIndex(id);
    if (index < 0) return;
    if (t.cameras[index] == t.active) t.active = nullptr;
    delete t.cameras[index];
    --t.count;
    std::memmove(t.cameras + index, t.cameras + index + 1, size_t(t.count - index) * sizeof(CCamera*));
}

void CCameraManager::SetActive(int32_t id)
{
    if (id == -1) {
        g_cameras.active = nullptr;
        return;
    }
    if (CCamera* camera = GetCamera(id)) g_cameras.active = camera;
}

CCamera* CCameraManager::GetActiveCamera() { return g_cameras.active; }

void CCameraManager::CreateScriptInstance()
{
    SeamTrace_Record("CCameraManager::CreateScriptInstance");
    if (g_cameras.scriptInstance) return;
    g_cameras.scriptInstance = new CInstance(0.0f, 0.0f, 0, -1, false);
    g_cameras.scriptInstance->objectIndex = -1;  // binding reads -1 as object 0; this one has no object
}

void CCameraManager::DeleteScriptInstance()
{
    SeamTrace_Record("CCameraManager::DeleteScriptInstance");
    delete g_cameras.scriptInstance;
    g_cameras.scriptInstance = nullptr;
}

CInstance* CCameraManager::GetScriptInstance() { return g_cameras.scriptInstance; }

void CCameraManager::Reset()
{
    SeamTrace_Record("CCameraManager::Reset");
    Camera_FreeAll();
    // A room cannot be running across a reload; an instance left over would only leak.
    delete g_cameras.scriptInstance;
    g_cameras.scriptInstance = nullptr;
    g_cameras.nextId = 0;
    g_cameras.lastFind = {false, 0};
}

void CCameraManager::Free()
{
    Reset();
    MemFree(g_cameras.cameras);
    g_cameras.cameras = nullptr;
    g_cameras.capacity = 0;
}

int32_t CCameraManager::Count() { return g_cameras.count; }

// ---- The view area the outside-view events read ----

CameraAreaSource Camera_SetViewAreaSource(CameraAreaSource source)
{
    CameraAreaSource old = g_cameraAreaSource;
    g_cameraAreaSource = source;
    return old;
}

bool Camera_GetViewArea(int32_t id, float* left, float* top, float* right, float* bottom)
{
    *left = *top = *right = *bottom = 0.0f;
    if (g_cameraAreaSource) return g_cameraAreaSource(id, left, top, right, bottom);
    const CCamera* camera = CCameraManager::GetCamera(id);
    if (!camera) return false;
    camera->GetViewArea(left, top, right, bottom);
    return true;
}
