// Cameras: the matrices they build, the is-2D rule, the table's ids, cache and active camera, the follow step,
// what Apply gives the device and the view area, and the camera scripts' view of event_object.
#include "draw/camera.h"

#include "core/error.h"
#include "core/script.h"
#include "core/seam_trace.h"
#include "core/value.h"
#include "draw/draw.h"
#include "fake_render_device.h"
#include "game/game_link.h"
#include "gfx/device.h"
#include "gfx/matrices.h"
#include "world/command_line.h"
#include "world/instance.h"
#include "world/loader.h"
#include "world/room.h"
#include "world/world_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace camera_test {

Matrix44 Rows(std::initializer_list<float> values)
{
    Matrix44 m{};
    int k = 0;
    for (float v : values) m.m[k++] = v;
    return m;
}

void ExpectNear(const Matrix44& actual, const Matrix44& expected, float tolerance, const std::string& what)
{
    for (int k = 0; k < 16; ++k)
        EXPECT_NEAR(actual.m[k], expected.m[k], tolerance * std::max(1.0f, std::fabs(expected.m[k])))
            << what << " element " << k;
}

class Cameras : public testing::Test {
protected:
    void SetUp() override
    {
        CCameraManager::Reset();
        g_GameData.newMode = true;
    }
    void TearDown() override
    {
        CCameraManager::Reset();
        g_GameData.newMode = false;
        g_GameData.scriptObjectModel = false;
    }
    // A 2D camera showing (x, y, w, h) turned by angle degrees.
    static CCamera* Make(float x, float y, float w, float h, float angle = 0.0f)
    {
        CCamera* c = CCameraManager::CreateCamera();
        c->viewX = x;
        c->viewY = y;
        c->viewWidth = w;
        c->viewHeight = h;
        c->angle = angle;
        c->Build2DView(x + w * 0.5f, y + h * 0.5f);
        return c;
    }
};

TEST_F(Cameras, BuildsTheOrthographicAndPerspectiveViewsOfTheArea)
{
    CCamera* c = Make(50, 25, 200, 100);
    const float depth = 1.0f / 31999.0f;
    ExpectNear(c->view, Rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -150, -75, 16000, 1}), 1e-6f, "2D view");
    ExpectNear(c->projection, Rows({0.01f, 0, 0, 0, 0, 0.02f, 0, 0, 0, 0, depth, 0, 0, 0, -depth, 1}), 1e-6f,
               "2D projection");
    ExpectNear(c->viewProj, Rows({0.01f, 0, 0, 0, 0, 0.02f, 0, 0, 0, 0, depth, 0, -1.5f, -1.5f, 16000 * depth - depth, 1}),
               1e-5f, "2D view x projection");
    EXPECT_TRUE(c->Is2D());

    // Turned a quarter: the view's x axis is the room's y axis.
    c->angle = 90.0f;
    c->Build2DView(150, 75);
    ExpectNear(c->view, Rows({0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, -75, 150, 16000, 1}), 1e-6f, "turned view");
    EXPECT_TRUE(c->Is2D());

    c->angle = 0.0f;
    c->BuildPerspectiveView(150, 75);
    const float zf = 32000.0f / 31999.0f;
    ExpectNear(c->view, Rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -150, -75, 200, 1}), 1e-6f, "perspective view");
    ExpectNear(c->projection, Rows({2, 0, 0, 0, 0, -4, 0, 0, 0, 0, zf, 1, 0, 0, -zf, 0}), 1e-6f, "perspective");
    EXPECT_FALSE(c->Is2D());
    // At z = 0 the area's right and bottom edges land on the clip-space edges.
    const float x = 250, y = 125;
    const Matrix44& m = c->viewProj;
    const float cx = x * m.m[0] + y * m.m[4] + m.m[12], cy = x * m.m[1] + y * m.m[5] + m.m[13];
    const float cw = x * m.m[3] + y * m.m[7] + m.m[15];
    EXPECT_NEAR(cx / cw, 1.0f, 1e-6f);
    EXPECT_NEAR(cy / cw, -1.0f, 1e-6f);
}

TEST_F(Cameras, Is2DExactlyWhenNoElementTiltsOrProjectsDepth)
{
    struct Row {
        bool projection;  // which matrix gets the element
        int element;
        bool is2D;
    };
    const Row rows[] = {
        {true, 1, false}, {true, 2, false},  {true, 4, false},  {true, 6, false},  {true, 8, false},
        {true, 9, false}, {true, 11, false}, {true, 3, true},   {true, 7, true},   {true, 12, true},
        {true, 14, true}, {false, 2, false}, {false, 6, false}, {false, 1, true},  {false, 8, true},
        {false, 9, true}, {false, 11, true},
    };
    for (const Row& r : rows) {
        CCamera* c = CCameraManager::CreateCamera();
        Matrix44 m = Matrix_Identity();
        m.m[r.element] = 1e-30f;  // any value but an exact 0
        if (r.projection)
            c->SetProjMat(m);
        else
            c->SetViewMat(m);
        EXPECT_EQ(c->Is2D(), r.is2D) << (r.projection ? "projection " : "view ") << r.element;
        // Changing the other matrix keeps the rule over both.
        if (r.projection)
            c->SetViewMat(Matrix_Identity());
        else
            c->SetProjMat(Matrix_Identity());
        EXPECT_EQ(c->Is2D(), r.is2D) << "after the other matrix, " << r.element;
    }
}

TEST_F(Cameras, SingularMatricesStandAsTheirOwnInverse)
{
    CCamera* c = Make(0, 0, 100, 100);
    Matrix44 flat = Matrix_Identity();
    flat.m[10] = 0.0f;  // squashes z: no inverse
    c->SetProjMat(flat);
    EXPECT_EQ(std::memcmp(&c->invProjection, &flat, sizeof flat), 0);
    EXPECT_EQ(std::memcmp(&c->invViewProj, &c->viewProj, sizeof flat), 0);
    c->SetViewMat(Matrix44{});
    EXPECT_EQ(std::memcmp(&c->invView, &c->view, sizeof flat), 0);

    // A regular one is really inverted.
    c->SetProjMat(Matrix_BuildOrtho(100, 50, 1, 32000));
    Matrix44 product;
    Matrix_Multiply(&product, c->projection, c->invProjection);
    ExpectNear(product, Matrix_Identity(), 1e-5f, "projection x inverse");
}

TEST_F(Cameras, IdsGrowUntilResetAndTheFirstAfterItIsZero)
{
    std::vector<int32_t> ids;
    for (int i = 0; i < 3; ++i) ids.push_back(CCameraManager::CreateCamera()->GetID());
    CCameraManager::DestroyCamera(2);
    CCameraManager::DestroyCamera(1);
    ids.push_back(CCameraManager::CreateCamera()->GetID());
    EXPECT_EQ(ids, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(CCameraManager::Count(), 2);
    EXPECT_EQ(CCameraManager::GetCamera(1), nullptr);
    CCameraManager::Reset();
    EXPECT_EQ(CCameraManager::Count(), 0);
    EXPECT_EQ(CCameraManager::GetCamera(0), nullptr);
    EXPECT_EQ(CCameraManager::CreateCamera()->GetID(), 0);
}

TEST_F(Cameras, FindIndexCachesHitsAndStopsAMissAtAGreaterId)
{
    for (int i = 0; i < 10; ++i) CCameraManager::CreateCamera();
    CCameraManager::DestroyCamera(4);  // ids 0-3, 5-9 at indexes 0-8

    struct Row {
        int32_t id;
        int32_t index;
        bool cacheHit;
        int32_t visited;
    };
    const Row rows[] = {
        {6, 5, false, 6},    // scanned
        {6, 5, true, 0},     // the same again: from the cache
        {4, -1, false, 5},   // a miss stops at id 5
        {6, 5, true, 0},     // a miss leaves the cache alone
        {-3, -1, false, 1},  // below every id: stops at the first
        {100, -1, false, 9}, // beyond every id: the whole table
        {0, 0, false, 1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(CCameraManager::FindIndex(r.id), r.index) << r.id;
        EXPECT_EQ(CCameraManager::LastFind().cacheHit, r.cacheHit) << r.id;
        EXPECT_EQ(CCameraManager::LastFind().visited, r.visited) << r.id;
    }
    // The cached index is checked against the id: removal moves the cameras under it.
    EXPECT_EQ(CCameraManager::FindIndex(9), 8);
    CCameraManager::DestroyCamera(0);
    EXPECT_EQ(CCameraManager::FindIndex(9), 7);
    EXPECT_EQ(CCameraManager::FindIndex(2), 1);
}

TEST_F(Cameras, ActiveCamera)
{
    CCamera* a = CCameraManager::CreateCamera();
    CCamera* b = CCameraManager::CreateCamera();
    struct Step {
        int32_t setActive;  // -2: destroy b instead
        CCamera* active;
    };
    const Step steps[] = {
        {a->GetID(), a}, {b->GetID(), b}, {57, b}, {-1, nullptr}, {a->GetID(), a}, {b->GetID(), b}, {-2, nullptr},
    };
    const int32_t bId = b->GetID();
    for (const Step& s : steps) {
        if (s.setActive == -2)
            CCameraManager::DestroyCamera(bId);
        else
            CCameraManager::SetActive(s.setActive);
        EXPECT_EQ(CCameraManager::GetActiveCamera(), s.active) << s.setActive;
    }
    // Destroying another camera keeps the active one.
    CCameraManager::SetActive(a->GetID());
    CCameraManager::DestroyCamera(CCameraManager::CreateCamera()->GetID());
    EXPECT_EQ(CCameraManager::GetActiveCamera(), a);
}

TEST_F(Cameras, ViewEntriesAndClones)
{
    const int32_t words[14] = {1, 40, 30, 320, 240, 0, 0, 640, 480, 64, 32, 4, -1, 7};
    uint8_t entry[sizeof words];
    std::memcpy(entry, words, sizeof words);
    EXPECT_EQ(CCameraManager::CreateFromView(nullptr), nullptr);
    CCamera* c = CCameraManager::CreateFromView(entry);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->viewX, 40.0f);
    EXPECT_EQ(c->viewY, 30.0f);
    EXPECT_EQ(c->viewWidth, 320.0f);
    EXPECT_EQ(c->viewHeight, 240.0f);
    EXPECT_EQ(c->borderX, 64.0f);
    EXPECT_EQ(c->borderY, 32.0f);
    EXPECT_EQ(c->speedX, 4.0f);
    EXPECT_EQ(c->speedY, -1.0f);
    EXPECT_EQ(c->target, 7);
    EXPECT_EQ(c->view.m[12], -200.0f);
    EXPECT_EQ(c->view.m[13], -150.0f);
    EXPECT_FLOAT_EQ(c->projection.m[0], 2.0f / 320.0f);

    c->angle = 12.0f;
    c->beginScript = 3;
    c->updateScript = 5;
    c->viewChanged = true;
    c->SetProjMat(Matrix_BuildPerspective(1, 2, 1, 100));
    CCamera* copy = CCameraManager::CloneCamera(c->GetID());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->GetID(), c->GetID());
    EXPECT_EQ(copy->angle, 12.0f);
    EXPECT_EQ(copy->beginScript, 3);
    EXPECT_EQ(copy->updateScript, 5);
    EXPECT_EQ(copy->endScript, -1);
    EXPECT_EQ(copy->target, 7);
    EXPECT_FALSE(copy->viewChanged);
    EXPECT_FALSE(copy->Is2D());
    EXPECT_EQ(std::memcmp(&copy->invViewProj, &c->invViewProj, sizeof(Matrix44)), 0);
    EXPECT_EQ(CCameraManager::CloneCamera(99), nullptr);
}

// ---- Following a target ----

std::vector<CInstance*> g_objectInstances;  // the instances of object 3, in list order
CInstance* g_byId = nullptr;

CInstance* FollowNext(int32_t list, int32_t object, WorldCursor* cursor)
{
    if (list != WORLD_LIST_OBJECT || object != 3 || size_t(cursor->at) >= g_objectInstances.size()) return nullptr;
    return g_objectInstances[size_t(cursor->at++)];
}
CInstance* FollowFind(int32_t id) { return g_byId && g_byId->id == id ? g_byId : nullptr; }

class CameraFollow : public Cameras {
protected:
    void SetUp() override
    {
        Cameras::SetUp();
        world_ = *World_Access();
        world_.nextInstance = FollowNext;
        world_.findInstance = FollowFind;
        saved_ = World_SetAccess(&world_);
        room_ = new CRoom();
        room_->width = 1000;
        room_->height = 800;
        savedRoom_ = Run_Room;
        Run_Room = room_;
    }
    void TearDown() override
    {
        Run_Room = savedRoom_;
        delete room_;
        World_SetAccess(saved_);
        for (CInstance* i : g_objectInstances) delete i;
        g_objectInstances.clear();
        delete g_byId;
        g_byId = nullptr;
        Cameras::TearDown();
    }
    WorldAccess world_{};
    const WorldAccess* saved_ = nullptr;
    CRoom* room_ = nullptr;
    CRoom* savedRoom_ = nullptr;
};

TEST_F(CameraFollow, FollowTable)
{
    struct Row {
        const char* what;
        float x, y, w, h, border, speed;
        float tx, ty;
        float newX, newY;
    };
    const Row rows[] = {
        {"border twice the size centres", 0, 0, 150, 100, 100, -1, 300, 200, 225, 150},
        {"target inside the borders stays", 0, 0, 100, 100, 10, -1, 50, 50, 0, 0},
        {"past the far border", 0, 0, 100, 100, 10, -1, 500, 400, 410, 310},
        {"before the near border", 500, 500, 100, 100, 10, -1, 450.9f, 480.2f, 440, 470},
        {"speed 0 freezes", 0, 0, 100, 100, 10, 0, 500, 500, 0, 0},
        {"speed 5 creeps", 0, 0, 100, 100, 10, 5, 500, 500, 5, 5},
        {"speed 5 creeps back", 300, 300, 100, 100, 10, 5, 20, 20, 295, 295},
        {"clamped to the room's top left", 50, 50, 100, 100, 30, -1, 5, 5, 0, 0},
        {"clamped to the room's bottom right", 800, 600, 100, 100, 30, -1, 990, 790, 900, 700},
        {"positions are floored", 0, 0, 100, 100, 10, -1, 150.99f, -0.5f, 60, 0},
    };
    for (const Row& r : rows) {
        g_byId = new CInstance(r.tx, r.ty, 100001, -1, false);
        CCamera* c = Make(r.x, r.y, r.w, r.h);
        c->borderX = c->borderY = r.border;
        c->speedX = c->speedY = r.speed;
        c->target = 100001;
        c->Update();
        EXPECT_EQ(c->viewX, r.newX) << r.what;
        EXPECT_EQ(c->viewY, r.newY) << r.what;
        // Rebuilt around the new position.
        EXPECT_FLOAT_EQ(c->view.m[12], -(r.newX + r.w * 0.5f)) << r.what;
        EXPECT_FLOAT_EQ(c->view.m[13], -(r.newY + r.h * 0.5f)) << r.what;
        delete g_byId;
        g_byId = nullptr;
    }
}

TEST_F(CameraFollow, TargetsAndWhatStopsTheStep)
{
    CInstance* marked = new CInstance(900, 700, 100005, -1, false);
    marked->markedForDeletion = true;
    CInstance* off = new CInstance(800, 600, 100006, -1, false);
    off->deactivated = true;
    CInstance* live = new CInstance(300, 200, 100007, -1, false);
    g_objectInstances = {marked, off, live};

    // An object target takes its first live instance.
    CCamera* c = Make(0, 0, 100, 100);
    c->speedX = c->speedY = -1;
    c->borderX = c->borderY = 50;  // centres
    c->target = 3;
    c->Update();
    EXPECT_EQ(c->viewX, 250.0f);
    EXPECT_EQ(c->viewY, 150.0f);

    // A marked instance by id is no target: nothing moves or is rebuilt, even with the view changed.
    g_byId = new CInstance(600, 600, 100002, -1, false);
    g_byId->markedForDeletion = true;
    CCamera* d = Make(0, 0, 100, 100);
    d->target = 100002;
    d->speedX = d->speedY = -1;
    d->viewChanged = true;
    d->angle = 45.0f;  // would show in the view matrix if it were rebuilt
    d->Update();
    EXPECT_EQ(d->viewX, 0.0f);
    EXPECT_EQ(d->view.m[1], 0.0f);

    // No target: only a changed view rebuilds, at its own position.
    CCamera* e = Make(10, 20, 100, 100);
    e->viewX = 30;
    e->Update();
    EXPECT_EQ(e->view.m[12], -60.0f);
    e->viewChanged = true;
    e->Update();
    EXPECT_EQ(e->view.m[12], -80.0f);

    // A perspective camera stays perspective when it follows.
    CCamera* p = Make(0, 0, 100, 100);
    p->BuildPerspectiveView(50, 50);
    p->target = 3;
    p->speedX = p->speedY = -1;
    p->borderX = p->borderY = 50;
    p->Update();
    EXPECT_FALSE(p->Is2D());
    EXPECT_EQ(p->view.m[12], -300.0f);
    EXPECT_EQ(p->view.m[14], 100.0f);
}

// ---- Scripts ----

struct ScriptSight {
    int32_t eventObject;
    CInstance* self;
    CInstance* other;
};
std::vector<ScriptSight> g_sights;

void RecordingScript(CInstance* self, CInstance* other, RValue* result, int32_t, RValue**)
{
    g_sights.push_back({event_object, self, other});
    RValue_SetReal(result, 1.0);
}

class CameraScripts : public Cameras {
protected:
    void SetUp() override
    {
        Cameras::SetUp();
        entry_ = {"camera_probe", reinterpret_cast<void (*)()>(&RecordingScript)};
        script_ = new CScript("camera_probe");
        script_->nativeEntry = &entry_;
        savedScripts_ = g_scripts;
        savedCount_ = g_scriptCount;
        table_[0] = nullptr;
        table_[1] = script_;
        g_scripts = table_;
        g_scriptCount = 2;
        savedExecution_ = g_RunFlags.codeExecution;
        g_RunFlags.codeExecution = true;
        savedEventObject_ = event_object;
        event_object = 77;
        g_sights.clear();
    }
    void TearDown() override
    {
        CCameraManager::DeleteScriptInstance();
        g_RunFlags.codeExecution = savedExecution_;
        g_scripts = savedScripts_;
        g_scriptCount = savedCount_;
        delete script_;
        event_object = savedEventObject_;
        Cameras::TearDown();
    }
    GameLinkCode entry_{};
    CScript* script_ = nullptr;
    CScript* table_[2] = {};
    CScript** savedScripts_ = nullptr;
    int32_t savedCount_ = 0;
    bool savedExecution_ = false;
    int32_t savedEventObject_ = 0;
};

TEST_F(CameraScripts, RunOnTheScriptInstanceWithTheCameraAsEventObject)
{
    CCameraManager::CreateScriptInstance();
    CInstance* self = CCameraManager::GetScriptInstance();
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->id, 0);
    EXPECT_EQ(self->objectIndex, -1);
    CCameraManager::CreateScriptInstance();  // a second call keeps the one there is
    EXPECT_EQ(CCameraManager::GetScriptInstance(), self);

    CCameraManager::CreateCamera();
    CCamera* c = CCameraManager::CreateCamera();
    c->beginScript = 1;
    c->endScript = 1;
    c->updateScript = 1;
    c->target = 3;  // an update script means the camera never follows
    c->RunBeginScript();
    c->RunEndScript();
    c->Update();
    c->RunScript(-1);
    ASSERT_EQ(g_sights.size(), 3u);
    for (const ScriptSight& s : g_sights) {
        EXPECT_EQ(s.eventObject, c->GetID());
        EXPECT_EQ(s.self, self);
        EXPECT_EQ(s.other, self);
    }
    EXPECT_EQ(event_object, 77);
}

TEST_F(CameraScripts, NoScriptInstanceNoRun)
{
    CCamera* c = CCameraManager::CreateCamera();
    c->beginScript = 1;
    c->RunBeginScript();
    EXPECT_TRUE(g_sights.empty());
    EXPECT_EQ(event_object, 77);
    // The script object model runs them on the global object instead, which this test has none of.
    g_GameData.scriptObjectModel = true;
    CCameraManager::CreateScriptInstance();
    c->RunBeginScript();
    EXPECT_EQ(g_sights.size(), Script_GlobalSelf() ? 1u : 0u);
    EXPECT_EQ(event_object, 77);
}

// ---- Apply and the view area ----

class CameraApply : public Cameras {
protected:
    void SetUp() override
    {
        Cameras::SetUp();
        device_.hasDevice = true;
        GR_Device = &device_;
        GR_3DMode = false;
    }
    void TearDown() override
    {
        GR_Device = nullptr;
        GR_ViewRect = {};
        GR_ViewArea = {};
        Cameras::TearDown();
    }
    kvtest::FakeRenderDevice device_;
};

TEST_F(CameraApply, RecoversTheAreaOfOrthographicCamerasAndMatchesTheViewProjection)
{
    struct Row {
        float x, y, w, h, angle;
    };
    const Row rows[] = {
        {10, 20, 200, 100, 0}, {50, 40, 320, 240, 30}, {0, 0, 64, 48, 90}, {-100, 30, 300, 200, 200}, {5, 7, 100, 50, 315},
    };
    for (const Row& r : rows) {
        CCamera* c = Make(r.x, r.y, r.w, r.h, r.angle);
        c->Apply();
        const std::string what = "angle " + std::to_string(r.angle);
        EXPECT_NEAR(GR_ViewArea.x, r.x, 1e-2f) << what;
        EXPECT_NEAR(GR_ViewArea.y, r.y, 1e-2f) << what;
        EXPECT_NEAR(GR_ViewArea.w, r.w, 1e-2f) << what;
        EXPECT_NEAR(GR_ViewArea.h, r.h, 1e-2f) << what;
        EXPECT_NEAR(GR_ViewArea.angle, r.angle, 1e-3f) << what;
        const GRRect rect = GR_ViewRect;
        const Matrix44 view = GR_Matrices[GRM_VIEW], projection = GR_Matrices[GRM_PROJECTION];
        ASSERT_EQ(device_.transforms.count(RDTS_PROJECTION), 1u);

        // The drawing code's own 2D view projection of that area gives the same device state.
        GR_SetViewProjection(r.x, r.y, r.w, r.h, r.angle);
        EXPECT_EQ(rect.left, GR_ViewRect.left) << what;
        EXPECT_EQ(rect.top, GR_ViewRect.top) << what;
        EXPECT_EQ(rect.right, GR_ViewRect.right) << what;
        EXPECT_EQ(rect.bottom, GR_ViewRect.bottom) << what;
        ExpectNear(view, GR_Matrices[GRM_VIEW], 1e-4f, what + " view");
        ExpectNear(projection, GR_Matrices[GRM_PROJECTION], 1e-5f, what + " projection");
    }
}

TEST_F(CameraApply, ProjectionGoesToTheDeviceWithClipYNegated)
{
    CCamera* c = CCameraManager::CreateCamera();
    Matrix44 m;
    for (int k = 0; k < 16; ++k) m.m[k] = float(k + 1);
    m.m[11] = 1.0f;  // perspective: the view rectangle is left alone
    c->SetProjMat(m);
    GR_ViewRect = {1, 2, 3, 4};
    GR_HalfPixel = false;
    c->Apply();
    GR_HalfPixel = true;
    EXPECT_EQ(GR_ViewRect.left, 1);
    EXPECT_EQ(GR_ViewRect.bottom, 4);
    for (int k = 0; k < 16; ++k) {
        const float expected = k % 4 == 1 ? -m.m[k] : m.m[k];
        EXPECT_EQ(device_.transforms[RDTS_PROJECTION].m[k / 4][k % 4], expected) << k;
        EXPECT_EQ(device_.transforms[RDTS_VIEW].m[k / 4][k % 4], c->view.m[k]) << k;
    }
}

bool FakeArea(int32_t id, float* l, float* t, float* r, float* b)
{
    *l = *t = float(id);
    *r = *b = float(id) + 1;
    return true;
}

TEST_F(Cameras, ViewAreaIsTheBoxAroundTheTurnedViewRectangle)
{
    struct Row {
        float x, y, w, h, angle;
        float left, top, right, bottom;
    };
    const Row rows[] = {
        {10, 20, 200, 100, 0, 10, 20, 210, 120},
        {0, 0, 200, 100, 90, 50, -50, 150, 150},
        {0, 0, 200, 100, 180, 0, 0, 200, 100},
    };
    for (const Row& r : rows) {
        CCamera* c = Make(r.x, r.y, r.w, r.h, r.angle);
        float l, t, rr, b;
        ASSERT_TRUE(Camera_GetViewArea(c->GetID(), &l, &t, &rr, &b));
        EXPECT_NEAR(l, r.left, 1e-3f);
        EXPECT_NEAR(t, r.top, 1e-3f);
        EXPECT_NEAR(rr, r.right, 1e-3f);
        EXPECT_NEAR(b, r.bottom, 1e-3f);
    }
    float l = 5, t = 5, rr = 5, b = 5;
    EXPECT_FALSE(Camera_GetViewArea(42, &l, &t, &rr, &b));
    EXPECT_EQ(l + t + rr + b, 0.0f);
    // A test's source answers in place of the cameras while installed.
    EXPECT_EQ(Camera_SetViewAreaSource(FakeArea), nullptr);
    EXPECT_TRUE(Camera_GetViewArea(42, &l, &t, &rr, &b));
    EXPECT_EQ(l, 42.0f);
    EXPECT_EQ(Camera_SetViewAreaSource(nullptr), FakeArea);
}

TEST_F(Cameras, TableOperationsTheWorldFollowsLeaveTheirNames)
{
    SeamTrace_Clear();
    SeamTrace_Enable(true);
    CCameraManager::Reset();
    const int32_t words[14] = {};
    CCamera* c = CCameraManager::CreateFromView(reinterpret_cast<const uint8_t*>(words));
    CCameraManager::CloneCamera(c->GetID());
    CCameraManager::DestroyCamera(c->GetID());
    CCameraManager::CreateScriptInstance();
    CCameraManager::DeleteScriptInstance();
    SeamTrace_Enable(false);
    std::vector<std::string> calls;
    for (const std::string& n : SeamTrace_Calls())
        if (n.rfind("CCameraManager::", 0) == 0) calls.push_back(n);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"CCameraManager::Reset", "CCameraManager::CreateFromView",
                                        "CCameraManager::CloneCamera", "CCameraManager::DestroyCamera",
                                        "CCameraManager::CreateScriptInstance", "CCameraManager::DeleteScriptInstance"}));
    SeamTrace_Clear();
    EXPECT_EQ(CCameraManager::GetScriptInstance(), nullptr);
}

}  // namespace camera_test
