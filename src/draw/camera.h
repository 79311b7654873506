// Cameras: a view matrix, a projection and the 2D view parameters they are rebuilt from, and the one
// process-wide table of cameras in ascending id order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "gfx/matrix.h"

struct CInstance;

class CCamera {
public:
    CCamera();  // identity matrices, is-2D, no target and no scripts; id -1 until the manager adds it
    static void* operator new(size_t size);  // zero-filled, memory manager
    static void operator delete(void* p);

    int32_t GetID() const { return id; }
    bool Is2D() const { return is2D; }
    void GetViewMat(Matrix44* out) const { *out = view; }
    void GetProjMat(Matrix44* out) const { *out = projection; }
    void GetViewProjMat(Matrix44* out) const { *out = viewProj; }
    void GetInvViewProjMat(Matrix44* out) const { *out = invViewProj; }

    // Plain field accessors: the matrices are not rebuilt.
    void SetViewX(float v) { viewX = v; }
    void SetViewY(float v) { viewY = v; }
    void SetViewWidth(float v) { viewWidth = v; }
    void SetViewHeight(float v) { viewHeight = v; }
    void SetViewAngle(float v) { angle = v; }
    float GetViewX() const { return viewX; }
    float GetViewY() const { return viewY; }
    float GetViewWidth() const { return viewWidth; }
    float GetViewHeight() const { return viewHeight; }
    float GetViewAngle() const { return angle; }

    // Each keeps view x projection, the inverses (a singular matrix stands as its own inverse) and is-2D.
    void SetViewMat(const Matrix44& m);
    void SetProjMat(const Matrix44& m);
    // The view of the 2D parameters centred on (cx, cy): orthographic, or a perspective that shows exactly
    // view width x view height room units at z = 0.
    void Build2DView(float cx, float cy);
    void BuildPerspectiveView(float cx, float cy);
    // The camera's matrices become the device's (clip y negated, so room y grows downwards on screen); an
    // orthographic camera also sets the current view area and GR_ViewRect.
    void Apply();
    // The per-frame step: the update script when there is one, else follow the target.
    void Update();
    void RunScript(int32_t script);
    void RunBeginScript() { RunScript(beginScript); }
    void RunEndScript() { RunScript(endScript); }
    // The room area the camera sees, as an axis-aligned box.
    void GetViewArea(float* left, float* top, float* right, float* bottom) const;

    int32_t id;
    Matrix44 projection;
    Matrix44 view;
    Matrix44 viewProj;
    Matrix44 invProjection;
    Matrix44 invView;
    Matrix44 invViewProj;
    float viewX, viewY, viewWidth, viewHeight;
    float speedX, speedY;  // room units per step; negative: unlimited
    float borderX, borderY;
    float angle;      // degrees
    int32_t target;   // object index, or instance id from 100000; -1 none
    int32_t beginScript, endScript, updateScript;  // -1 none
    bool is2D;
    bool viewChanged;  // set by the built-ins that move, size or turn the view; never cleared

private:
    void Recompute();
    void Rebuild();
};

class CCameraManager {
public:
    static CCamera* CreateCamera();                             // takes the next id
    static CCamera* CreateFromView(const uint8_t* viewEntry);   // a room view entry of the game data; null for null
    static CCamera* CloneCamera(int32_t id);                    // null when id names no camera
    static CCamera* GetCamera(int32_t id);
    static int32_t FindIndex(int32_t id);  // -1 when none
    static void DestroyCamera(int32_t id);
    static void SetActive(int32_t id);     // -1 clears; an unknown id keeps the active camera
    static CCamera* GetActiveCamera();
    // The hidden instance that is self while camera scripts run; null outside a room.
    static void CreateScriptInstance();
    static void DeleteScriptInstance();
    static CInstance* GetScriptInstance();
    static void Reset();  // frees every camera; ids start at 0 again
    static void Free();   // and the array (program exit)
    static int32_t Count();

    // How the last FindIndex answered, for tests and benchmarks: from the cache, or after visiting that many
    // entries.
    struct FindStats {
        bool cacheHit;
        int32_t visited;
    };
    static FindStats LastFind();
};
